// Lookup and reference functions: VLOOKUP, HLOOKUP, LOOKUP, MATCH, INDEX, CHOOSE, OFFSET,
// INDIRECT, ROW, COLUMN, ROWS, COLUMNS, AREAS.
#include "spreadsheet/formula_functions.h"
#include "spreadsheet/formula_internal.h"

#include <cctype>
#include <cmath>
#include <optional>

namespace ss::formula::detail {

namespace {

// Whether a value takes part in comparisons with `key`: numbers with numbers, texts with
// texts, Booleans with Booleans.
bool sameKind(const ss::Value& a, const ss::Value& key)
{
    return a.kind() == key.kind() || (key.isBlank() && a.isNumber());
}

bool equalForMatch(const ss::Value& v, const ss::Value& key, bool wildcards)
{
    if (key.isText() && v.isText() && wildcards)
        return wildcardMatch(key.text(), v.text());
    if (!sameKind(v, key))
        return false;
    return compareValues(v, key) == 0;
}

// Position (0-based) of `key` among `n` values read by `at`: exact (type 0, wildcards in text),
// the largest value not above the key in ascending data (type 1), or the smallest value not
// below it in descending data (type -1). -1 when there is none.
template <class At>
int findPosition(int n, At&& at, const ss::Value& key, int type)
{
    if (type == 0) {
        for (int i = 0; i < n; ++i)
            if (equalForMatch(at(i), key, true))
                return i;
        return -1;
    }
    // Binary search, as spreadsheets do: on sorted data this is the last fitting value; values
    // of another kind and blanks are stepped over.
    int lo = 0, hi = n - 1, found = -1;
    while (lo <= hi) {
        int mid = lo + (hi - lo) / 2;
        int probe = mid;
        while (probe <= hi && (!sameKind(at(probe), key) || at(probe).isBlank()))
            ++probe;
        if (probe > hi) {
            hi = mid - 1;
            continue;
        }
        const int cmp = compareValues(at(probe), key);
        if (type > 0 ? cmp <= 0 : cmp >= 0) {
            found = probe;
            lo = probe + 1;
        } else {
            hi = mid - 1;
        }
    }
    return found;
}

Item fnMatch(Call& c)
{
    const ss::Value key = c.value(0);
    if (key.isError())
        return Item::of(key);
    double type;
    if (!c.number(2, type, 1))
        return Item::of(c.error());
    const Grid g(c.ev, c.args[1]);
    if (!c.args[1].isReference() && c.args[1].kind != Item::Array)
        return Item::of(ErrorCode::NA);
    if (!g.valid() || (g.rows() > 1 && g.cols() > 1))
        return Item::of(ErrorCode::NA);
    const bool byRow = g.cols() == 1;
    const int n = byRow ? g.rows() : g.cols();
    const int t = type > 0 ? 1 : type < 0 ? -1 : 0;
    const int at = findPosition(n, [&](int i) { return byRow ? g.at(i, 0) : g.at(0, i); }, key, t);
    return at < 0 ? Item::of(ErrorCode::NA) : Item::of(static_cast<double>(at + 1));
}

// VLOOKUP / HLOOKUP(key, table, index, approximate = TRUE).
Item tableLookup(Call& c)
{
    const ss::Value key = c.value(0);
    if (key.isError())
        return Item::of(key);
    double index;
    bool approximate;
    if (!c.integer(2, index) || !c.boolean(3, approximate, true))
        return Item::of(c.error());
    if (!c.args[1].isReference() && c.args[1].kind != Item::Array)
        return Item::of(ErrorCode::Value);
    const Grid g(c.ev, c.args[1]);
    if (!g.valid())
        return Item::of(ErrorCode::Value);
    const bool vertical = c.id == Fn::Vlookup;
    if (index < 1)
        return Item::of(ErrorCode::Value);
    if (index > (vertical ? g.cols() : g.rows()))
        return Item::of(ErrorCode::Ref);
    const int n = vertical ? g.rows() : g.cols();
    const int at = findPosition(n, [&](int i) { return vertical ? g.at(i, 0) : g.at(0, i); }, key, approximate ? 1 : 0);
    if (at < 0)
        return Item::of(ErrorCode::NA);
    const int k = static_cast<int>(index) - 1;
    return Item::of(vertical ? g.at(at, k) : g.at(k, at));
}

// LOOKUP(key, vector, result) or LOOKUP(key, array): approximate match in the vector (for an
// array, its first row or column, whichever is longer across), result from the same position.
Item fnLookup(Call& c)
{
    const ss::Value key = c.value(0);
    if (key.isError())
        return Item::of(key);
    if (!c.args[1].isReference() && c.args[1].kind != Item::Array)
        return Item::of(ErrorCode::NA);
    const Grid g(c.ev, c.args[1]);
    if (!g.valid())
        return Item::of(ErrorCode::NA);
    const bool across = g.cols() > g.rows();
    const int n = across ? g.cols() : g.rows();
    const int at = findPosition(n, [&](int i) { return across ? g.at(0, i) : g.at(i, 0); }, key, 1);
    if (at < 0)
        return Item::of(ErrorCode::NA);
    if (!c.has(2))
        return Item::of(across ? g.at(g.rows() - 1, at) : g.at(at, g.cols() - 1));
    if (!c.args[2].isReference() && c.args[2].kind != Item::Array)
        return Item::of(ErrorCode::NA);
    const Grid r(c.ev, c.args[2]);
    if (!r.valid())
        return Item::of(ErrorCode::NA);
    // The result vector runs along its longer side; past its end there is nothing.
    if (r.cols() > r.rows())
        return at < r.cols() ? Item::of(r.at(0, at)) : Item::of(ErrorCode::NA);
    return at < r.rows() ? Item::of(r.at(at, 0)) : Item::of(ErrorCode::NA);
}

// INDEX(reference or array, row, column): a cell (or a whole row or column for 0).
Item fnIndex(Call& c)
{
    double row, col, area;
    if (!c.integer(1, row, 0) || !c.integer(2, col, 0) || !c.integer(3, area, 1))
        return Item::of(c.error());
    if (area != 1)
        return Item::of(ErrorCode::Ref);
    const Item& src = c.args[0];
    if (row < 0 || col < 0)
        return Item::of(ErrorCode::Value);
    int rows = 1, cols = 1;
    if (src.isReference()) {
        rows = src.range.lastRow - src.range.firstRow + 1;
        cols = src.range.lastCol - src.range.firstCol + 1;
    } else if (src.kind == Item::Array) {
        rows = src.array->rows;
        cols = src.array->cols;
    }
    // One row or column: a single index counts along it.
    if (!c.has(2) && rows == 1 && cols > 1) {
        col = row;
        row = 1;
    }
    if (row > rows || col > cols)
        return Item::of(ErrorCode::Ref);
    const int r0 = row == 0 ? 0 : static_cast<int>(row) - 1, r1 = row == 0 ? rows - 1 : r0;
    const int c0 = col == 0 ? 0 : static_cast<int>(col) - 1, c1 = col == 0 ? cols - 1 : c0;
    if (src.isReference()) {
        Item r = src;
        r.range = {src.range.firstRow + r0, src.range.firstCol + c0, src.range.firstRow + r1, src.range.firstCol + c1};
        r.kind = r0 == r1 && c0 == c1 ? Item::Ref : Item::Area;
        return r;
    }
    if (src.kind == Item::Array) {
        Matrix m(r1 - r0 + 1, c1 - c0 + 1);
        for (int y = r0; y <= r1; ++y)
            for (int x = c0; x <= c1; ++x)
                m.at(y - r0, x - c0) = src.array->at(y, x);
        if (m.rows == 1 && m.cols == 1)
            return Item::of(m.at(0, 0));
        return Item::of(std::move(m));
    }
    return Item::of(c.value(0));
}

Item fnChoose(Call& c)
{
    if (c.args[0].kind == Item::Unknown)
        return Item::unknown();
    double x;
    if (!c.number(0, x))
        return Item::of(c.error());
    const double i = std::trunc(x);
    if (i < 1 || i >= static_cast<double>(c.size()))
        return Item::of(ErrorCode::Value);
    const Item& pick = c.args[static_cast<std::size_t>(i)];
    return pick.kind != Item::Missing ? pick : Item::of(0.0);
}

// OFFSET(reference, rows, cols, height, width): the reference moved and resized.
Item fnOffset(Call& c)
{
    const Item& base = c.args[0];
    if (!base.isReference())
        return Item::of(ErrorCode::Value);
    double dr, dc, h, w;
    const double baseH = base.range.lastRow - base.range.firstRow + 1, baseW = base.range.lastCol - base.range.firstCol + 1;
    if (!c.integer(1, dr) || !c.integer(2, dc) || !c.integer(3, h, baseH) || !c.integer(4, w, baseW))
        return Item::of(c.error());
    if (h == 0 || w == 0)
        return Item::of(ErrorCode::Ref);
    // A negative height or width extends up or to the left.
    double r1 = base.range.firstRow + dr, c1 = base.range.firstCol + dc;
    double r2 = r1 + (h > 0 ? h - 1 : h + 1), c2 = c1 + (w > 0 ? w - 1 : w + 1);
    if (r2 < r1) std::swap(r1, r2);
    if (c2 < c1) std::swap(c1, c2);
    if (r1 < 0 || c1 < 0 || r2 >= kMaxRows || c2 >= kMaxCols)
        return Item::of(ErrorCode::Ref);
    Item r = base;
    r.range = {static_cast<int>(r1), static_cast<int>(c1), static_cast<int>(r2), static_cast<int>(c2)};
    r.kind = r1 == r2 && c1 == c2 ? Item::Ref : Item::Area;
    return r;
}

// ---------------------------------------------------------------- INDIRECT

class RefText {
public:
    RefText(std::string_view s, int row, int col) : s_(s), row_(row), col_(col) {}

    // [sheet!]cell[:cell]; false when the text is not a reference.
    bool parse(bool a1, std::string& sheet, RangeAddress& out)
    {
        const std::size_t bang = sheetPrefix(sheet);
        if (bang == std::string_view::npos)
            return false;
        pos_ = bang;
        int r1, c1, r2, c2;
        if (!(a1 ? cellA1(r1, c1) : cellR1C1(r1, c1)))
            return false;
        r2 = r1;
        c2 = c1;
        if (pos_ < s_.size() && s_[pos_] == ':') {
            ++pos_;
            if (!(a1 ? cellA1(r2, c2) : cellR1C1(r2, c2)))
                return false;
        }
        if (pos_ != s_.size())
            return false;
        out = {std::min(r1, r2), std::min(c1, c2), std::max(r1, r2), std::max(c1, c2)};
        return true;
    }

private:
    std::string_view s_;
    std::size_t pos_ = 0;
    int row_, col_;

    // Reads "Sheet!" or "'She''et'!" and returns where the cell part starts (0 without a sheet).
    std::size_t sheetPrefix(std::string& sheet)
    {
        if (!s_.empty() && s_[0] == '\'') {
            std::size_t i = 1;
            while (i < s_.size()) {
                if (s_[i] == '\'') {
                    if (i + 1 < s_.size() && s_[i + 1] == '\'') {
                        sheet.push_back('\'');
                        i += 2;
                        continue;
                    }
                    break;
                }
                sheet.push_back(s_[i++]);
            }
            if (i + 1 >= s_.size() || s_[i] != '\'' || s_[i + 1] != '!')
                return std::string_view::npos;
            return i + 2;
        }
        const std::size_t bang = s_.rfind('!');
        if (bang == std::string_view::npos)
            return 0;
        sheet = std::string(s_.substr(0, bang));
        return bang + 1;
    }

    bool digits(long& v, std::size_t maxLen)
    {
        const std::size_t start = pos_;
        v = 0;
        while (pos_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[pos_])) && pos_ - start < maxLen)
            v = v * 10 + (s_[pos_++] - '0');
        return pos_ > start;
    }

    bool cellA1(int& r, int& c)
    {
        if (pos_ < s_.size() && s_[pos_] == '$')
            ++pos_;
        long col = 0;
        std::size_t letters = 0;
        while (pos_ < s_.size() && std::isalpha(static_cast<unsigned char>(s_[pos_])) && letters < 3) {
            col = col * 26 + (std::toupper(static_cast<unsigned char>(s_[pos_++])) - 'A' + 1);
            ++letters;
        }
        if (letters == 0)
            return false;
        if (pos_ < s_.size() && s_[pos_] == '$')
            ++pos_;
        long row;
        if (!digits(row, 7) || row < 1 || row > kMaxRows || col > kMaxCols)
            return false;
        r = static_cast<int>(row - 1);
        c = static_cast<int>(col - 1);
        return true;
    }

    // R1C1, R[-1]C[2], RC: absolute numbers or offsets from the formula's cell.
    bool part(char letter, int base, int limit, int& out)
    {
        if (pos_ >= s_.size() || std::toupper(static_cast<unsigned char>(s_[pos_])) != letter)
            return false;
        ++pos_;
        long v;
        if (pos_ < s_.size() && s_[pos_] == '[') {
            ++pos_;
            const bool negative = pos_ < s_.size() && s_[pos_] == '-';
            if (negative || (pos_ < s_.size() && s_[pos_] == '+'))
                ++pos_;
            if (!digits(v, 7) || pos_ >= s_.size() || s_[pos_] != ']')
                return false;
            ++pos_;
            const long at = base + (negative ? -v : v);
            if (at < 0 || at >= limit)
                return false;
            out = static_cast<int>(at);
            return true;
        }
        if (!digits(v, 7)) {
            out = base;
            return true;
        }
        if (v < 1 || v > limit)
            return false;
        out = static_cast<int>(v - 1);
        return true;
    }

    bool cellR1C1(int& r, int& c) { return part('R', row_, kMaxRows, r) && part('C', col_, kMaxCols, c); }
};

Item fnIndirect(Call& c)
{
    std::string text;
    bool a1;
    if (!c.text(0, text) || !c.boolean(1, a1, true))
        return Item::of(c.error());
    std::string sheetName;
    RangeAddress range;
    if (RefText(text, c.ev.row, c.ev.col).parse(a1, sheetName, range)) {
        Item r;
        r.kind = range.firstRow == range.lastRow && range.firstCol == range.lastCol ? Item::Ref : Item::Area;
        r.range = range;
        if (!sheetName.empty()) {
            const int s = c.ev.sheetByName(sheetName);
            if (s < 0)
                return c.ev.ctx.workbook ? Item::of(ErrorCode::Ref) : Item::unknown();
            r.sheet = s == c.ev.ctx.sheet ? -1 : s;
        }
        return r;
    }
    // A defined name that holds a reference.
    if (const auto* tokens = c.ev.nameTokens(std::string_view(text))) {
        Item r = c.ev.evaluateNested(*tokens);
        if (r.isReference() || r.kind == Item::Unknown)
            return r;
    }
    return Item::of(ErrorCode::Ref);
}

// ROW / COLUMN: of the formula's cell, or of a reference; in an array context every row
// (column) of the reference.
Item rowColumn(Call& c)
{
    const bool isRow = c.id == Fn::Row;
    if (!c.has(0))
        return Item::of(static_cast<double>((isRow ? c.ev.row : c.ev.col) + 1));
    const Item& a = c.args[0];
    if (!a.isReference())
        return Item::of(ErrorCode::Value);
    const int first = isRow ? a.range.firstRow : a.range.firstCol, last = isRow ? a.range.lastRow : a.range.lastCol;
    if (!c.arrayContext || first == last)
        return Item::of(static_cast<double>(first + 1));
    Matrix m(isRow ? last - first + 1 : 1, isRow ? 1 : last - first + 1);
    for (int i = first; i <= last; ++i)
        m.cells[static_cast<std::size_t>(i - first)] = static_cast<double>(i + 1);
    return Item::of(std::move(m));
}

Item rowsColumns(Call& c)
{
    const Item& a = c.args[0];
    if (a.kind == Item::Array)
        return Item::of(static_cast<double>(c.id == Fn::Rows ? a.array->rows : a.array->cols));
    if (!a.isReference())
        return Item::of(1.0);
    const RangeAddress& r = a.range;
    return Item::of(static_cast<double>(c.id == Fn::Rows ? r.lastRow - r.firstRow + 1 : r.lastCol - r.firstCol + 1));
}

Item fnAreas(Call& c)
{
    return c.args[0].isReference() ? Item::of(1.0) : Item::of(ErrorCode::Value);
}

// ADDRESS(row, column, kind = 1, a1 = TRUE, sheet): the text of a cell reference; kind 1 is
// $A$1, 2 A$1, 3 $A1, 4 A1.
Item fnAddress(Call& c)
{
    double row, col, kind;
    bool a1;
    std::string sheet;
    if (!c.integer(0, row) || !c.integer(1, col) || !c.integer(2, kind, 1) || !c.boolean(3, a1, true) ||
        (c.has(4) && !c.text(4, sheet)))
        return Item::of(c.error());
    if (row < 1 || row > kMaxRows || col < 1 || col > kMaxCols || kind < 1 || kind > 4)
        return Item::of(ErrorCode::Value);
    const bool absRow = kind == 1 || kind == 2, absCol = kind == 1 || kind == 3;
    const int r = static_cast<int>(row), k = static_cast<int>(col);
    std::string text;
    if (a1) {
        text = (absCol ? "$" : "") + columnName(k - 1) + (absRow ? "$" : "") + std::to_string(r);
    } else {
        text = "R" + (absRow ? std::to_string(r) : "[" + std::to_string(r) + "]") + "C" +
               (absCol ? std::to_string(k) : "[" + std::to_string(k) + "]");
    }
    if (c.has(4)) {
        bool plain = !sheet.empty();
        for (char ch : sheet)
            plain = plain && (std::isalnum(static_cast<unsigned char>(ch)) || ch == '_');
        std::string quoted = "'";
        for (char ch : sheet)
            quoted += ch == '\'' ? std::string("''") : std::string(1, ch);
        text = (plain ? sheet : quoted + "'") + "!" + text;
    }
    return Item::of(ss::Value(text));
}

// HYPERLINK(link, friendly name): the friendly name, else the link, as the cell shows it.
Item fnHyperlink(Call& c)
{
    return Item::of(c.has(1) ? c.value(1) : c.value(0));
}

Item fnTranspose(Call& c)
{
    const Matrix m = c.ev.matrix(c.args[0]);
    Matrix t(m.cols, m.rows);
    for (int r = 0; r < m.rows; ++r)
        for (int k = 0; k < m.cols; ++k)
            t.at(k, r) = m.at(r, k);
    return Item::of(std::move(t));
}

const FunctionImpl kLookup[] = {
    {Fn::Address, fnAddress},
    {Fn::Hyperlink, fnHyperlink},
    {Fn::Transpose, fnTranspose},
    {Fn::Match, fnMatch},
    {Fn::Vlookup, tableLookup},
    {Fn::Hlookup, tableLookup},
    {Fn::Lookup, fnLookup},
    {Fn::Index, fnIndex},
    {Fn::Choose, fnChoose},
    {Fn::Offset, fnOffset},
    {Fn::Indirect, fnIndirect},
    {Fn::Row, rowColumn},
    {Fn::Column, rowColumn},
    {Fn::Rows, rowsColumns},
    {Fn::Columns, rowsColumns},
    {Fn::Areas, fnAreas},
};

} // namespace

std::span<const FunctionImpl> lookupFunctions() { return kLookup; }

} // namespace ss::formula::detail
