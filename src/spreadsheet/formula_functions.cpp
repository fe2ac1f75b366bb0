// Coercions, the evaluator's access to cells, sheets and names, and the dispatch of built-in
// functions by id to the implementations of each family (formula_fn_*.cpp). A function the
// engine does not implement gives an Unknown entry, so the cell keeps the result its file holds.
#include "spreadsheet/formula_functions.h"
#include "spreadsheet/formula_internal.h"
#include "spreadsheet/formula_values.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <vector>

namespace ss::formula::detail {

namespace {

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

} // namespace

int compareText(std::string_view a, std::string_view b)
{
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char x = static_cast<unsigned char>(lower(a[i]));
        const unsigned char y = static_cast<unsigned char>(lower(b[i]));
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

std::string upperText(std::string s)
{
    for (char& c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return s;
}

std::string lowerText(std::string s)
{
    for (char& c : s)
        c = lower(c);
    return s;
}

double snap15(double v)
{
    if (!std::isfinite(v) || v == 0)
        return v;
    char buf[40];
    const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, 14);
    double out = v;
    std::from_chars(buf, res.ptr, out);
    return out;
}

double roundDigits(double x, int digits, RoundMode mode)
{
    digits = std::clamp(digits, -308, 308);
    const double p = std::pow(10.0, std::abs(digits));
    double y = snap15(digits >= 0 ? x * p : x / p);
    const double a = std::fabs(y);
    double r = mode == RoundMode::Nearest ? std::floor(a + 0.5) : mode == RoundMode::Up ? std::ceil(a) : std::floor(a);
    r = y < 0 ? -r : r;
    return digits >= 0 ? r / p : r * p;
}

bool wildcardMatch(std::string_view pat, std::string_view s)
{
    // '*' any run, '?' one character, '~' escapes; case-insensitive.
    std::size_t p = 0, i = 0, starP = std::string_view::npos, starI = 0;
    while (i < s.size()) {
        if (p < pat.size() && pat[p] == '~' && p + 1 < pat.size() && lower(pat[p + 1]) == lower(s[i])) {
            p += 2;
            ++i;
        } else if (p < pat.size() && pat[p] == '*') {
            starP = p++;
            starI = i;
        } else if (p < pat.size() && pat[p] != '~' && (pat[p] == '?' || lower(pat[p]) == lower(s[i]))) {
            ++p;
            ++i;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            i = ++starI;
        } else {
            return false;
        }
    }
    while (p < pat.size() && pat[p] == '*')
        ++p;
    return p == pat.size();
}

bool parseNumber(std::string_view s, double& out)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    bool negative = false;
    if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    // from_chars accepts "inf", "nan" and hex forms; allow only plain decimal text.
    std::size_t i = 0, digits = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') { ++i; ++digits; }
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') { ++i; ++digits; }
    }
    if (digits == 0)
        return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-'))
            ++i;
        const std::size_t expStart = i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9')
            ++i;
        if (i == expStart)
            return false;
    }
    if (i != s.size())
        return false;
    double v = 0;
    const auto res = std::from_chars(s.data(), s.data() + s.size(), v);
    if (res.ec != std::errc() || !std::isfinite(v))
        return false;
    out = negative ? -v : v;
    return true;
}

std::string numberToText(double v)
{
    if (v == 0)
        return "0";
    char buf[40];
    const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 15);
    std::string s(buf, res.ptr);
    for (char& c : s)
        if (c == 'e')
            c = 'E';
    return s;
}

Value numberResult(double v)
{
    if (!std::isfinite(v))
        return ErrorCode::Num;
    return v;
}

bool toNumber(const Value& v, double& out, ErrorCode& err)
{
    switch (v.kind()) {
    case Value::Kind::Number: out = v.number(); return true;
    case Value::Kind::Blank: out = 0; return true;
    case Value::Kind::Boolean: out = v.boolean() ? 1 : 0; return true;
    case Value::Kind::Text:
        if (parseNumber(v.text(), out))
            return true;
        err = ErrorCode::Value;
        return false;
    case Value::Kind::Error: err = v.error(); return false;
    }
    err = ErrorCode::Value;
    return false;
}

bool toText(const Value& v, std::string& out, ErrorCode& err)
{
    switch (v.kind()) {
    case Value::Kind::Number: out = numberToText(v.number()); return true;
    case Value::Kind::Blank: out.clear(); return true;
    case Value::Kind::Boolean: out = v.boolean() ? "TRUE" : "FALSE"; return true;
    case Value::Kind::Text: out = v.text(); return true;
    case Value::Kind::Error: err = v.error(); return false;
    }
    err = ErrorCode::Value;
    return false;
}

int compareValues(const Value& a, const Value& b)
{
    auto rank = [](const Value& v) { return v.isNumber() ? 0 : v.isText() ? 1 : 2; };
    if (a.isBlank() && b.isBlank())
        return 0;
    if (a.isBlank() || b.isBlank()) {
        // The blank side takes the type of the other: 0, "" or FALSE.
        const bool flip = b.isBlank();
        const Value& other = flip ? a : b;
        const Value stand = other.isNumber() ? Value(0.0) : other.isText() ? Value("") : Value(false);
        const int c = compareValues(stand, other);
        return flip ? -c : c;
    }
    const int ra = rank(a), rb = rank(b);
    if (ra != rb)
        return ra < rb ? -1 : 1;
    if (a.isNumber())
        return a.number() < b.number() ? -1 : a.number() > b.number() ? 1 : 0;
    if (a.isText())
        return compareText(a.text(), b.text());
    return a.boolean() == b.boolean() ? 0 : (a.boolean() ? 1 : -1);
}


bool toBool(const Value& v, bool& out, ErrorCode& err)
{
    switch (v.kind()) {
    case Value::Kind::Boolean: out = v.boolean(); return true;
    case Value::Kind::Number: out = v.number() != 0; return true;
    case Value::Kind::Blank: out = false; return true;
    case Value::Kind::Text: {
        const std::string u = upperText(v.text());
        if (u == "TRUE" || u == "FALSE") { out = u == "TRUE"; return true; }
        err = ErrorCode::Value;
        return false;
    }
    case Value::Kind::Error: err = v.error(); return false;
    }
    return false;
}

Value Matrix::broadcast(int r, int c) const
{
    if (rows == 0 || cols == 0)
        return ErrorCode::Value;
    const int rr = rows == 1 ? 0 : r, cc = cols == 1 ? 0 : c;
    if (rr >= rows || cc >= cols)
        return ErrorCode::NA;
    return at(rr, cc);
}

// ---------------------------------------------------------------- cells, sheets, names

Value Evaluator::cell(int sheet, int r, int c) const
{
    if (r < 0 || r >= kMaxRows || c < 0 || c >= kMaxCols)
        return ErrorCode::Ref;
    // A file may hold NaN or an infinity in a number cell; a formula sees #NUM! as it would for
    // such a result of its own, so no function is ever handed a value that is not a number.
    if (ctx.source) {
        Value scratch;
        return cellRef(sheet, r, c, scratch);
    }
    const auto checked = [](Value v) {
        if (v.isNumber() && !std::isfinite(v.number()))
            return Value(ErrorCode::Num);
        return v;
    };
    if (sheet < 0 || (sheet == ctx.sheet && ctx.cell))
        return ctx.cell ? checked(ctx.cell(r, c)) : Value();
    if (ctx.sheetCell)
        return checked(ctx.sheetCell(sheet, r, c));
    if (!ctx.workbook || static_cast<std::size_t>(sheet) >= ctx.workbook->sheets.size())
        return ErrorCode::Ref;
    const Cell* found = ctx.workbook->sheets[static_cast<std::size_t>(sheet)].find(r, c);
    return found ? checked(found->value) : Value();
}

Value Evaluator::value(const Item& it) const
{
    switch (it.kind) {
    case Item::Val: return it.value;
    case Item::Missing: return Value();
    case Item::Unknown: return ErrorCode::Value;
    case Item::Array: return it.array->rows > 0 && it.array->cols > 0 ? it.array->at(0, 0) : Value(ErrorCode::Value);
    case Item::Ref: return cell(it.sheet, it.range.firstRow, it.range.firstCol);
    case Item::Area: {
        if (it.sheetLast >= 0 && it.sheetLast != it.sheet)
            return ErrorCode::Value;
        const RangeAddress& r = it.range;
        if (r.firstRow == r.lastRow && r.firstCol == r.lastCol)
            return cell(it.sheet, r.firstRow, r.firstCol);
        if (r.firstCol == r.lastCol && row >= r.firstRow && row <= r.lastRow)
            return cell(it.sheet, row, r.firstCol);
        if (r.firstRow == r.lastRow && col >= r.firstCol && col <= r.lastCol)
            return cell(it.sheet, r.firstRow, col);
        return ErrorCode::Value;
    }
    }
    return ErrorCode::Value;
}

Matrix Evaluator::matrix(const Item& it) const
{
    if (it.kind == Item::Array)
        return *it.array;
    if (it.isReference()) {
        if (it.cellCount() > kMaxArrayCells || (it.sheetLast >= 0 && it.sheetLast != it.sheet)) {
            Matrix m(1, 1);
            m.at(0, 0) = it.cellCount() > kMaxArrayCells ? ErrorCode::Num : ErrorCode::Value;
            return m;
        }
        const RangeAddress& r = it.range;
        Matrix m(r.lastRow - r.firstRow + 1, r.lastCol - r.firstCol + 1);
        for (int y = 0; y < m.rows; ++y)
            for (int x = 0; x < m.cols; ++x)
                m.at(y, x) = cell(it.sheet, r.firstRow + y, r.firstCol + x);
        return m;
    }
    Matrix m(1, 1);
    m.at(0, 0) = value(it);
    return m;
}

bool Evaluator::externSheets(std::uint16_t ixti, int& first, int& last) const
{
    return ctx.workbook && externSheetRange(*ctx.workbook, ixti, first, last);
}

int Evaluator::sheetByName(std::string_view name) const
{
    if (!ctx.workbook)
        return -1;
    for (std::size_t i = 0; i < ctx.workbook->sheets.size(); ++i)
        if (compareText(ctx.workbook->sheets[i].name, name) == 0)
            return static_cast<int>(i);
    return -1;
}

const std::vector<std::uint8_t>* Evaluator::nameTokens(std::uint16_t nameIndex) const
{
    const Workbook* wb = ctx.workbook;
    if (!wb || nameIndex == 0 || nameIndex > wb->names.size())
        return nullptr;
    const DefinedName& n = wb->names[nameIndex - 1];
    // A function name (fFunc: a macro, or a function newer than the file format such as
    // _xlfn.IFERROR) has no value of its own.
    if (n.formula.empty() || (n.options & 0x0002))
        return nullptr;
    return &n.formula;
}

const std::vector<std::uint8_t>* Evaluator::nameTokens(std::string_view name) const
{
    const Workbook* wb = ctx.workbook;
    if (!wb)
        return nullptr;
    // A name local to this sheet wins over a global one of the same name.
    const DefinedName* global = nullptr;
    for (const DefinedName& n : wb->names) {
        if (n.builtin || n.formula.empty() || compareText(n.name, name) != 0)
            continue;
        if (n.sheetIndex == ctx.sheet + 1)
            return &n.formula;
        if (n.sheetIndex == 0)
            global = &n;
    }
    return global ? &global->formula : nullptr;
}

std::string Evaluator::nameText(std::uint16_t nameIndex) const
{
    const Workbook* wb = ctx.workbook;
    if (!wb || nameIndex == 0 || nameIndex > wb->names.size())
        return {};
    return wb->names[nameIndex - 1].name;
}

std::string Evaluator::externalNameText(std::uint16_t ixti, std::uint16_t nameIndex) const
{
    const Workbook* wb = ctx.workbook;
    if (!wb || ixti >= wb->externSheets.size() || nameIndex == 0)
        return {};
    const std::uint16_t sb = wb->externSheets[ixti].supBook;
    if (sb >= wb->linkRecords.supBooks.size())
        return {};
    // The EXTERNNAME records after the SUPBOOK, counted from 1: flags (2), reserved (4), then
    // the name as a short Unicode string (length, flags, characters).
    std::uint16_t n = 0;
    for (const RawRecord& r : wb->linkRecords.supBooks[sb]) {
        if (r.type != 0x0023 || ++n != nameIndex)
            continue;
        const auto& d = r.data;
        if (d.size() < 8)
            return {};
        const std::size_t cch = d[6];
        const bool wide = d[7] & 0x01;
        if (d.size() < 8 + cch * (wide ? 2 : 1))
            return {};
        std::u16string u;
        for (std::size_t i = 0; i < cch; ++i)
            u.push_back(wide ? static_cast<char16_t>(d[8 + 2 * i] | (d[9 + 2 * i] << 8)) : static_cast<char16_t>(d[8 + i]));
        return utf16ToUtf8(u);
    }
    return {};
}

Item Evaluator::evaluateNested(std::span<const std::uint8_t> tokens) const
{
    if (depth >= kMaxNestedEvaluation)
        return Item::unknown();
    Context inner = ctx;
    inner.arrayData = {};   // names keep no array constants with their tokens here
    Evaluator ev{inner, row, col, arrayMode, depth + 1};
    Item it = evaluateItem(tokens, ev);
    // A name's relative references point at its own sheet: ptgRef in a name names the sheet
    // the formula is on, which is what `sheet` -1 already means.
    return it;
}

// ---------------------------------------------------------------- calls

Grid::Grid(const Evaluator& ev, const Item& it) : ev_(ev), item_(it)
{
    if (it.isReference()) {
        rows_ = it.range.lastRow - it.range.firstRow + 1;
        cols_ = it.range.lastCol - it.range.firstCol + 1;
        valid_ = it.sheetLast < 0 || it.sheetLast == it.sheet;
    } else if (it.kind == Item::Array) {
        rows_ = it.array->rows;
        cols_ = it.array->cols;
    }
}

Value Grid::at(int r, int c) const
{
    if (item_.isReference())
        return ev_.cell(item_.sheet, item_.range.firstRow + r, item_.range.firstCol + c);
    if (item_.kind == Item::Array)
        return item_.array->at(r, c);
    return ev_.value(item_);
}

bool Call::number(std::size_t i, double& out, double fallback)
{
    if (!has(i)) {
        out = fallback;
        return true;
    }
    ss::Value scratch;
    return toNumber(ev.valueRef(args[i], scratch), out, err);
}

bool Call::integer(std::size_t i, double& out, double fallback)
{
    if (!number(i, out, fallback))
        return false;
    out = std::trunc(out);
    return true;
}

bool Call::text(std::size_t i, std::string& out)
{
    return toText(value(i), out, err);
}

bool Call::boolean(std::size_t i, bool& out, bool fallback)
{
    if (!has(i)) {
        out = fallback;
        return true;
    }
    ss::Value scratch;
    return toBool(ev.valueRef(args[i], scratch), out, err);
}

Handler namedFunction(std::string_view name)
{
    if (name.size() > 6 && compareText(name.substr(0, 6), "_xlfn.") == 0)
        name.remove_prefix(6);
    for (auto family : {namedDateFunctions, namedStatisticalFunctions, namedLogicalFunctions})
        for (const NamedImpl& f : family())
            if (compareText(name, f.name) == 0)
                return f.handler;
    return nullptr;
}

bool callsSubtotal(std::span<const std::uint8_t> t)
{
    std::size_t pos = 0;
    while (pos < t.size()) {
        const std::size_t size = tokenSize(t, pos);
        if (size == 0)
            return false;
        const std::uint8_t base = baseId(t[pos]);
        if (base == kFunc || base == kFuncVar) {
            const auto call = readFunctionCall(t, pos, base == kFunc);
            if (call && call->index == static_cast<std::uint16_t>(Fn::Subtotal))
                return true;
        }
        pos += size;
    }
    return false;
}

bool isVolatile(std::uint16_t index)
{
    switch (static_cast<Fn>(index)) {
    case Fn::Rand: case Fn::Now: case Fn::Today: case Fn::Offset: case Fn::Indirect: case Fn::Cell:
        return true;
    default:
        return false;
    }
}

bool returnsReference(std::uint16_t index)
{
    switch (static_cast<Fn>(index)) {
    case Fn::If: case Fn::Choose: case Fn::Index: case Fn::Offset: case Fn::Indirect:
        return true;
    default:
        return false;
    }
}

namespace {

// The implementations and the table entries by function number, so a call looks up neither.
class Registry {
public:
    Registry()
    {
        for (auto family : {financialFunctions, lookupFunctions, textFunctions, dateFunctions, mathFunctions,
                            statisticalFunctions, logicalFunctions})
            for (const FunctionImpl& f : family())
                handlers_[static_cast<std::size_t>(f.id)] = f.handler;
        for (std::size_t i = 0; i < entries_.size(); ++i)
            entries_[i] = functionEntryByIndex(static_cast<std::uint16_t>(i));
    }
    Handler find(std::uint16_t index) const { return index < handlers_.size() ? handlers_[index] : nullptr; }
    const FunctionEntry* entry(std::uint16_t index) const
    {
        return index < entries_.size() ? entries_[index] : functionEntryByIndex(index);
    }

private:
    std::array<Handler, 512> handlers_{};
    std::array<const FunctionEntry*, 512> entries_{};
};

const Registry& registry()
{
    static const Registry r;
    return r;
}

} // namespace

const FunctionInfo* functionInfo(std::uint16_t index)
{
    const FunctionEntry* e = registry().entry(index);
    return e ? &e->info : nullptr;
}

namespace {

// IF and CHOOSE pass on whichever argument they pick, Unknown included; they read every
// argument element by element when an array formula gives them arrays.
bool picksArgument(std::uint16_t index) { return index == static_cast<std::uint16_t>(Fn::If) || index == static_cast<std::uint16_t>(Fn::Choose); }

} // namespace

Item Evaluator::callItem(std::uint16_t index, std::span<Item> args, bool arrayClass) const
{
    if (index == static_cast<std::uint16_t>(Fn::ExternalCall)) {
        // A call by name: the first argument names the function.
        if (args.empty() || args[0].kind != Item::Unknown || !args[0].value.isText())
            return Item::unknown();
        const Handler named = namedFunction(args[0].value.text());
        if (!named)
            return Item::unknown();
        std::span<Item> rest = args.subspan(1);
        if (named != namedFunction("IFERROR"))
            for (const Item& a : rest)
                if (a.kind == Item::Unknown)
                    return Item::unknown();
        Call call(*this, Fn::ExternalCall, rest, arrayClass);
        return named(call);
    }
    const Handler handler = registry().find(index);
    if (!handler)
        return Item::unknown();
    const bool picks = picksArgument(index);
    if (!picks)
        for (const Item& a : args)
            if (a.kind == Item::Unknown)
                return Item::unknown();

    // A value parameter given an array (or a range in an array formula) is computed element by
    // element, giving an array of results.
    bool anyArray = false;
    for (const Item& a : args)
        anyArray = anyArray || isArrayOperand(a);
    const FunctionEntry* entry = anyArray ? registry().entry(index) : nullptr;
    int rows = 0, cols = 0;
    std::vector<std::size_t> lifted;
    if (!anyArray) {
        // The common case: plain values and references.
    } else if (picks) {
        // IF/CHOOSE go element by element only when their selector is an array; then every
        // array among the choices is read element by element too.
        if (!args.empty() && isArrayOperand(args[0]))
            for (std::size_t i = 0; i < args.size(); ++i)
                if (isArrayOperand(args[i]))
                    lifted.push_back(i);
    } else if (entry) {
        for (std::size_t i = 0; i < args.size(); ++i)
            if (paramClass(*entry, static_cast<int>(i)) == 'V' && isArrayOperand(args[i]))
                lifted.push_back(i);
    }
    if (!lifted.empty()) {
        std::vector<Matrix> ms;
        for (std::size_t i : lifted) {
            ms.push_back(matrix(args[i]));
            rows = std::max(rows, ms.back().rows);
            cols = std::max(cols, ms.back().cols);
        }
        if (static_cast<long long>(rows) * cols > kMaxArrayCells)
            return Item::of(ErrorCode::Num);
        Matrix out(rows, cols);
        std::vector<Item> one(args.begin(), args.end());
        for (int r = 0; r < rows; ++r) {
            for (int c = 0; c < cols; ++c) {
                for (std::size_t k = 0; k < lifted.size(); ++k)
                    one[lifted[k]] = Item::of(ms[k].broadcast(r, c));
                Call call(*this, static_cast<Fn>(index), one, arrayClass);
                const Item res = handler(call);
                if (res.kind == Item::Unknown)
                    return res;
                out.at(r, c) = res.kind == Item::Array ? matrix(res).broadcast(r, c) : value(res);
            }
        }
        return Item::of(std::move(out));
    }
    Call call(*this, static_cast<Fn>(index), args, arrayClass);
    return handler(call);
}

Value Evaluator::call(std::uint16_t index, std::span<Item> args) const
{
    return value(callItem(index, args));
}

} // namespace ss::formula::detail

namespace ss::formula {

bool externSheetRange(const Workbook& wb, std::uint16_t ixti, int& first, int& last)
{
    const int sheets = static_cast<int>(wb.sheets.size());
    if (wb.externSheets.empty()) {
        // The table this engine writes: entry i is sheet i.
        if (ixti >= sheets)
            return false;
        first = last = ixti;
        return true;
    }
    if (ixti >= wb.externSheets.size())
        return false;
    const ExternSheet& x = wb.externSheets[ixti];
    if (x.supBook >= wb.supBooks.size() || wb.supBooks[x.supBook] != SupBookKind::Self)
        return false;
    if (x.firstSheet == 0xFFFF || x.lastSheet == 0xFFFF) {
        first = last = -1;   // the sheet was deleted
        return true;
    }
    if (x.firstSheet >= sheets || x.lastSheet >= sheets || x.firstSheet > x.lastSheet)
        return false;
    first = x.firstSheet;
    last = x.lastSheet;
    return true;
}

} // namespace ss::formula
