// BIFF8 Workbook stream -> Workbook. One small function per record; every field is read
// through a bounds-checked Cursor, so a damaged file ends in FormatError.
#include "spreadsheet/biff_records.h"
#include "spreadsheet/biff_stream.h"
#include "spreadsheet/error.h"
#include "spreadsheet/formula.h"
#include "spreadsheet/xls.h"

#include <algorithm>
#include <map>

namespace ss::xls {

using namespace ss::biff;

namespace {

constexpr std::uint16_t kBofGlobals = 0x0005, kBofWorksheet = 0x0010;

std::string biffName(std::uint16_t type, std::uint16_t version)
{
    switch (type) {
    case 0x0009: return "BIFF2";
    case 0x0209: return "BIFF3";
    case 0x0409: return "BIFF4";
    default: break;
    }
    if (version == 0x0500)
        return "BIFF5";
    if (version == 0x0400)
        return "BIFF4";
    return "unknown BIFF version " + std::to_string(version);
}

// Returns the substream type (globals, worksheet, chart ...).
std::uint16_t readBof(const Record& r)
{
    if (r.type != rt::Bof) {
        if (r.type == 0x0009 || r.type == 0x0209 || r.type == 0x0409)
            throw FormatError("not an Excel 97-2003 workbook (" + biffName(r.type, 0) + ")");
        throw FormatError("not an Excel workbook: the stream does not start with a BOF record");
    }
    Cursor c(r.data, "BOF");
    const std::uint16_t version = c.u16();
    const std::uint16_t dt = c.u16();
    if (version != 0x0600)
        throw FormatError("not an Excel 97-2003 workbook (" + biffName(r.type, version) + ")");
    return dt;
}

Value errorValue(std::uint8_t code)
{
    for (ErrorCode e : {ErrorCode::Null, ErrorCode::Div0, ErrorCode::Value, ErrorCode::Ref, ErrorCode::Name,
                        ErrorCode::Num, ErrorCode::NA})
        if (static_cast<std::uint8_t>(e) == code)
            return e;
    return ErrorCode::Value;
}

// A string record body (after `skip` bytes) and its CONTINUE records, read as a one-string table.
std::string continuedString(std::span<const std::uint8_t> first, std::size_t skip,
                            const std::vector<std::span<const std::uint8_t>>& continues, const char* what)
{
    if (first.size() < skip)
        Cursor(first, what).fail("too short");
    // Mostly a string without formatting runs or phonetic data, wholly inside its record.
    const std::span<const std::uint8_t> plain = first.subspan(skip);
    if (continues.empty() && plain.size() >= 3 && (plain[2] & 0x0C) == 0) {
        const std::size_t cch = plain[0] | std::size_t(plain[1]) << 8;
        const bool wide = plain[2] & 0x01;
        const std::span<const std::uint8_t> chars = plain.subspan(3);
        if (chars.size() >= cch * (wide ? 2 : 1)) {
            if (!wide && std::all_of(chars.begin(), chars.begin() + std::ptrdiff_t(cch), [](std::uint8_t b) { return b < 0x80; }))
                return std::string(chars.begin(), chars.begin() + std::ptrdiff_t(cch));
            std::u16string text(cch, u'\0');
            for (std::size_t i = 0; i < cch; ++i)
                text[i] = wide ? static_cast<char16_t>(chars[2 * i] | chars[2 * i + 1] << 8) : chars[i];
            return utf16ToUtf8(text);
        }
    }
    static const std::uint8_t kOne[8] = {1, 0, 0, 0, 1, 0, 0, 0};
    std::vector<std::span<const std::uint8_t>> segs{std::span<const std::uint8_t>(kOne), first.subspan(skip)};
    segs.insert(segs.end(), continues.begin(), continues.end());
    auto strings = parseSst(segs);
    if (strings.empty())
        Cursor(first, what).fail("string missing");
    return strings.front();
}

std::vector<std::span<const std::uint8_t>> takeContinues(RecordReader& rr)
{
    std::vector<std::span<const std::uint8_t>> out;
    while (rr.peekType() == rt::Continue)
        out.push_back(rr.next().data);
    return out;
}

// ---------------------------------------------------------------- globals

struct SheetEntry {
    std::string name;
    std::uint32_t offset = 0;
    std::uint8_t visibility = 0;
    std::uint8_t type = 0;       // 0 worksheet, 1 macro sheet, 2 chart, 6 VB module
    int modelIndex = -1;         // position in Workbook::sheets, -1 when kept as a substream
};

struct GlobalsState {
    Workbook wb;
    std::vector<std::string> sst;
    std::vector<SheetEntry> sheets;
    int activeTab = 0;
};

Font readFont(Cursor c)
{
    Font f;
    f.height = c.u16();
    const std::uint16_t grbit = c.u16();
    f.italic = grbit & 0x02;
    f.strikeout = grbit & 0x08;
    f.colorIndex = c.u16();
    f.weight = c.u16();
    f.escapement = c.u16();
    f.underline = c.u8();
    f.family = c.u8();
    f.charset = c.u8();
    c.u8();
    f.name = readUnicodeStringLenient(c, 1);
    return f;
}

// A FORMAT record cut short still names its format: the characters present are read.
void readFormat(Cursor c, Workbook& wb)
{
    const std::uint16_t index = c.u16();
    wb.formats[index] = readUnicodeStringLenient(c, 2);
}

Xf readXf(Cursor c)
{
    Xf x;
    // An XF a few bytes short still names its font and format; the missing border and fill
    // bits read as none, as LibreOffice reads them.
    if (c.remaining() < 4)
        c.fail("too short");
    auto present = c.bytes(std::min<std::size_t>(20, c.remaining()));
    x.raw.assign(present.begin(), present.end());
    x.raw.resize(20, 0);
    Cursor f(x.raw, "XF");
    x.fontIndex = f.u16();
    x.formatIndex = f.u16();
    const std::uint16_t prot = f.u16();
    x.locked = prot & 0x0001;
    x.hidden = prot & 0x0002;
    x.isStyle = prot & 0x0004;
    x.parent = prot >> 4;
    const std::uint8_t align = f.u8();
    x.hAlign = static_cast<HAlign>(std::min(align & 0x07, 6));
    x.wrap = align & 0x08;
    x.vAlign = static_cast<VAlign>(std::min((align >> 4) & 0x07, 3));
    x.rotation = f.u8();
    const std::uint8_t indent = f.u8();
    x.indent = indent & 0x0F;
    x.shrink = indent & 0x10;
    x.usedAttributes = f.u8() >> 2;
    const std::uint32_t b1 = f.u32();
    x.left.style = b1 & 0x0F;
    x.right.style = (b1 >> 4) & 0x0F;
    x.top.style = (b1 >> 8) & 0x0F;
    x.bottom.style = (b1 >> 12) & 0x0F;
    x.left.colorIndex = (b1 >> 16) & 0x7F;
    x.right.colorIndex = (b1 >> 23) & 0x7F;
    const std::uint32_t b2 = f.u32();
    x.top.colorIndex = b2 & 0x7F;
    x.bottom.colorIndex = (b2 >> 7) & 0x7F;
    x.fillPattern = (b2 >> 26) & 0x3F;
    const std::uint16_t fill = f.u16();
    x.fillForeColor = fill & 0x7F;
    x.fillBackColor = (fill >> 7) & 0x7F;
    return x;
}

void readPalette(Cursor c, Workbook& wb)
{
    const std::uint16_t count = c.u16();
    wb.palette.clear();
    for (std::uint16_t i = 0; i < count && i < 56; ++i) {
        auto b = c.bytes(4);
        wb.palette.push_back(std::uint32_t(b[0]) << 16 | std::uint32_t(b[1]) << 8 | b[2]);
    }
}

SheetEntry readBoundSheet(Cursor c)
{
    SheetEntry s;
    s.offset = c.u32();
    s.visibility = c.u8() & 0x03;
    s.type = c.u8();
    s.name = readUnicodeStringLenient(c, 1);
    return s;
}

DefinedName readName(Cursor c)
{
    DefinedName n;
    n.options = c.u16();
    n.builtin = n.options & 0x0020;
    c.u8();   // keyboard shortcut
    const std::uint8_t cch = c.u8();
    const std::uint16_t cce = c.u16();
    c.u16();
    n.sheetIndex = c.u16();
    c.skip(4);   // menu, description, help and status text lengths
    n.name = readUnicodeStringNoCch(c, cch);
    auto rgce = c.bytes(cce);
    n.formula.assign(rgce.begin(), rgce.end());
    return n;
}

} // namespace

DefinedName parseNameRecord(std::span<const std::uint8_t> body)
{
    return readName(Cursor(body, "NAME"));
}

namespace {

std::vector<std::uint8_t> withContinues(std::span<const std::uint8_t> first,
                                        const std::vector<std::span<const std::uint8_t>>& continues)
{
    std::vector<std::uint8_t> out(first.begin(), first.end());
    for (const auto& c : continues)
        out.insert(out.end(), c.begin(), c.end());
    return out;
}

SupBookKind supBookKind(std::span<const std::uint8_t> body)
{
    Cursor c(body, "SUPBOOK");
    c.u16();
    const std::uint16_t cch = c.u16();
    if (cch == 0x0401)
        return SupBookKind::Self;
    if (cch == 0x3A01)
        return SupBookKind::AddIn;
    return SupBookKind::External;
}

// EXTERNSHEET entries, as the file numbers sheets (BOUNDSHEET positions).
std::vector<ExternSheet> readExternSheet(std::span<const std::uint8_t> body)
{
    Cursor c(body, "EXTERNSHEET");
    const std::uint16_t count = c.u16();
    if (std::size_t(count) * 6 > c.remaining())
        c.fail("claims more references than it holds");
    std::vector<ExternSheet> out;
    for (std::uint16_t i = 0; i < count; ++i) {
        ExternSheet x;
        x.supBook = c.u16();
        x.firstSheet = c.u16();
        x.lastSheet = c.u16();
        out.push_back(x);
    }
    return out;
}

// Reads the globals substream; returns the stream offset after its EOF.
std::size_t readGlobals(std::span<const std::uint8_t> stream, GlobalsState& g)
{
    RecordReader rr(stream);
    if (rr.atEnd())
        throw FormatError("not an Excel workbook: the Workbook stream is empty");
    if (readBof(rr.next()) != kBofGlobals)
        throw FormatError("BIFF8: the workbook does not start with its globals");
    Workbook& wb = g.wb;
    // Where kept records go: before the sheet list, after it, after the string table.
    std::vector<RawRecord>* kept = &wb.extraGlobals;
    std::vector<RawRecord>* keptContinue = nullptr;
    for (;;) {
        if (rr.atEnd())
            throw FormatError("BIFF8: workbook globals end without an EOF record");
        const Record r = rr.next();
        bool keep = false;
        std::vector<RawRecord>* target = kept;
        switch (r.type) {
        case rt::Eof: return rr.position();
        case rt::FilePass: throw UnsupportedError("The workbook is password-protected.");
        case rt::CodePage: wb.codepage = Cursor(r.data, "CODEPAGE").u16(); break;
        case rt::DateMode: wb.date1904 = Cursor(r.data, "DATEMODE").u16() == 1; break;
        case rt::Window1: {
            Cursor c(r.data, "WINDOW1");
            c.skip(10);
            g.activeTab = c.u16();
            keep = wb.extraGlobals.end() == std::find_if(wb.extraGlobals.begin(), wb.extraGlobals.end(),
                                                         [](const RawRecord& k) { return k.type == rt::Window1; });
            target = &wb.extraGlobals;   // the first window's size and flags go back as they were
            break;
        }
        case rt::Font: wb.fonts.push_back(readFont(Cursor(r.data, "FONT"))); break;
        case rt::Format: readFormat(Cursor(r.data, "FORMAT"), wb); break;
        case rt::Xf: wb.xfs.push_back(readXf(Cursor(r.data, "XF"))); break;
        case rt::Style: wb.styles.push_back(RawRecord{r.type, {r.data.begin(), r.data.end()}}); break;
        case rt::Palette: readPalette(Cursor(r.data, "PALETTE"), wb); break;
        case rt::BoundSheet:
            g.sheets.push_back(readBoundSheet(Cursor(r.data, "BOUNDSHEET")));
            kept = &wb.globalsAfterSheets;
            break;
        case rt::Sst: {
            std::vector<std::span<const std::uint8_t>> segs{r.data};
            auto more = takeContinues(rr);
            segs.insert(segs.end(), more.begin(), more.end());
            std::vector<FormatRuns> runs;
            g.sst = parseSst(segs, &runs);
            for (std::size_t i = 0; i < runs.size() && i < g.sst.size(); ++i)
                if (!runs[i].empty())
                    wb.stringRuns.try_emplace(g.sst[i], std::move(runs[i]));
            kept = &wb.globalsAfterStrings;
            break;
        }
        case rt::Name: {
            std::vector<std::uint8_t> body = withContinues(r.data, takeContinues(rr));
            DefinedName n = readName(Cursor(body, "NAME"));
            n.raw = std::move(body);
            wb.names.push_back(std::move(n));
            break;
        }
        case rt::SupBook:
            wb.supBooks.push_back(supBookKind(r.data));
            wb.linkRecords.supBooks.emplace_back();
            keep = true;
            target = &wb.linkRecords.supBooks.back();
            break;
        case rt::ExternName: case rt::Xct: case rt::Crn:
            // They belong to the SUPBOOK before them.
            keep = true;
            if (!wb.linkRecords.supBooks.empty())
                target = &wb.linkRecords.supBooks.back();
            break;
        case rt::ExternSheet: {
            const std::vector<std::uint8_t> body = withContinues(r.data, takeContinues(rr));
            auto entries = readExternSheet(body);
            wb.linkRecords.externSheets.insert(wb.linkRecords.externSheets.end(), entries.begin(), entries.end());
            break;
        }
        case rt::Continue:
            keep = keptContinue != nullptr;
            target = keptContinue;
            break;
        // Written afresh on save.
        case rt::ExtSst: case rt::InterfaceHdr: case rt::Mms: case rt::InterfaceEnd: case rt::Dsf:
        case rt::TabId: case rt::UsesElfs: case rt::Country: case rt::Index:
            break;
        default: keep = true; break;
        }
        if (keep && target)
            target->push_back(RawRecord{r.type, {r.data.begin(), r.data.end()}});
        if (r.type != rt::Continue)
            keptContinue = keep ? target : nullptr;
    }
}

// ---------------------------------------------------------------- sheets

struct SharedEntry {
    RangeAddress range;
    std::vector<std::uint8_t> rgce, rgcb;
    bool shared = true;   // SHRFMLA; false for ARRAY
    std::size_t index = 0; // in Sheet::sharedFormulas or Sheet::arrayFormulas
};

struct ExpCell {
    int row, col, masterRow, masterCol;
};

class SheetReader {
public:
    SheetReader(const std::vector<std::string>& sst, Sheet& sheet) : sst_(sst), s_(sheet) {}
    void read(std::span<const std::uint8_t> stream, std::size_t offset);
    // WSBOOL's fDialog: the substream is a dialog sheet, which is kept rather than modelled.
    bool dialog() const { return dialog_; }

private:
    Cell& put(int row, int col, std::uint16_t xf)
    {
        if (row < 0 || row >= kMaxRows || col < 0 || col >= kMaxCols)
            throw FormatError("BIFF8: sheet '" + s_.name + "' has a cell outside the 65536 x 256 grid");
        // Cells come row by row, left to right: a new last cell goes in without a search.
        auto& cells = s_.cells;
        const CellAddress key{row, col};
        if (cells.empty() || cells.rbegin()->first < key) {
            Cell& c = cells.emplace_hint(cells.end(), key, Cell{})->second;
            c.xf = xf;
            return c;
        }
        Cell& c = cells[key];
        c = Cell{};
        c.xf = xf;
        return c;
    }
    void readRowRecord(Cursor c);
    void readColInfo(Cursor c);
    void readFormula(Cursor c);
    void readOldFormula(Cursor c);
    void readWindow2(Cursor c);
    void readPane(Cursor c);
    void readSelection(Cursor c);
    void readSetup(Cursor c);
    void readMergedCells(Cursor c);
    void readMulRk(Cursor c);
    void readMulBlank(Cursor c);
    void readShared(const Record& r, bool shared);
    void readTable(const Record& r);
    void resolveExpCells();
    void resolveTables();

    const std::vector<std::string>& sst_;
    Sheet& s_;
    std::vector<SharedEntry> shared_;
    std::vector<ExpCell> expCells_;
    std::vector<std::pair<CellAddress, std::vector<std::uint8_t>>> tableCells_;   // ptgTbl cells
    Cell* pendingString_ = nullptr;   // the formula cell whose text result a STRING record brings
    bool selectionSeen_ = false;
    bool dialog_ = false;
};

void SheetReader::readRowRecord(Cursor c)
{
    const int row = c.u16();
    c.skip(4);
    RowInfo info;
    info.height = c.u16() & 0x7FFF;
    c.skip(4);
    const std::uint16_t grbit = c.u16();
    const std::uint16_t xfWord = c.u16();
    const std::uint16_t xf = xfWord & 0x0FFF;
    info.options = static_cast<std::uint16_t>((grbit & 0x0017) | (xfWord & 0x7000));
    info.hidden = grbit & 0x0020;
    info.customHeight = grbit & 0x0040;
    info.hasDefaultXf = grbit & 0x0080;
    info.xf = info.hasDefaultXf ? xf : 15;
    s_.rows[row] = info;
}

void SheetReader::readColInfo(Cursor c)
{
    ColumnInfo ci;
    ci.firstCol = c.u16();
    ci.lastCol = std::min<int>(c.u16(), kMaxCols - 1);   // Excel writes 256 for "to the last column"
    ci.width = c.u16();
    ci.xf = c.u16();
    ci.options = c.u16();
    ci.hidden = ci.options & 0x0001;
    if (ci.firstCol <= ci.lastCol)
        s_.columns.push_back(ci);
}

Value cachedResult(std::span<const std::uint8_t> val, bool& pendingString)
{
    pendingString = false;
    if (val[6] == 0xFF && val[7] == 0xFF) {
        switch (val[0]) {
        case 0: pendingString = true; return std::string();
        case 1: return val[2] != 0;
        case 2: return errorValue(val[2]);
        default: return std::string();
        }
    }
    return Cursor(val, "FORMULA").f64();
}

void SheetReader::readFormula(Cursor c)
{
    const int row = c.u16(), col = c.u16();
    const std::uint16_t xf = c.u16();
    auto val = c.bytes(8);
    c.u16();   // flags
    c.u32();
    const std::uint16_t cce = c.u16();
    auto rgce = c.bytes(cce);
    auto rgcb = c.bytes(c.remaining());
    Cell& cell = put(row, col, xf);
    cell.formula.assign(rgce.begin(), rgce.end());
    if (cce > 0)   // without tokens the cell is its value alone
        cell.formulaData.assign(rgcb.begin(), rgcb.end());
    bool pending = false;
    cell.value = cachedResult(val, pending);
    pendingString_ = pending ? &cell : nullptr;
    if (cce == 5 && rgce[0] == 0x01) {   // ptgExp: the tokens live in a SHRFMLA or ARRAY record
        expCells_.push_back({row, col, rgce[1] | rgce[2] << 8, rgce[3] | rgce[4] << 8});
    } else if (cce > 0 && rgce[0] == 0x02) {   // ptgTbl: a data table result, kept as its value
        tableCells_.emplace_back(CellAddress{row, col}, std::vector<std::uint8_t>(rgce.begin(), rgce.end()));
        cell.formula.clear();
        cell.formulaData.clear();
    }
}

namespace {

// The tokens of a BIFF3/BIFF4 formula in BIFF8's form, for the tokens both generations share:
// operators, constants, functions, cell references and areas (whose column grew to 16 bits and
// took the relative flags from the row), strings (which gained a flags byte). Anything else,
// jumps whose byte offsets would move included, gives nullopt: the cell then keeps its value.
std::optional<std::vector<std::uint8_t>> biff8TokensOf(std::span<const std::uint8_t> in)
{
    std::vector<std::uint8_t> out;
    std::size_t i = 0;
    auto need = [&](std::size_t n) { return i + n <= in.size(); };
    auto copy = [&](std::size_t n) {
        out.insert(out.end(), in.begin() + static_cast<std::ptrdiff_t>(i), in.begin() + static_cast<std::ptrdiff_t>(i + n));
        i += n;
    };
    auto u16 = [&](std::size_t at) { return static_cast<std::uint16_t>(in[at] | in[at + 1] << 8); };
    auto put16 = [&](unsigned v) {
        out.push_back(static_cast<std::uint8_t>(v));
        out.push_back(static_cast<std::uint8_t>(v >> 8));
    };
    // A BIFF3/4 row word (relative flags in bits 15 and 14) and its 8-bit column, as BIFF8's
    // row and column words.
    auto cell = [&](std::uint16_t rowWord, std::uint8_t column) {
        put16(rowWord & 0x3FFF);
        put16(column | (rowWord & 0x4000) | (rowWord & 0x8000));
    };
    // The tokens both generations write alike, and their whole sizes.
    auto sameSize = [](std::uint8_t ptg, std::uint8_t base) -> std::size_t {
        if (ptg >= 0x03 && ptg <= 0x16)
            return 1;   // operators, parentheses, a missing argument
        switch (ptg) {
        case 0x1C: case 0x1D: return 2;   // error, boolean
        case 0x1E: return 3;              // integer
        case 0x1F: return 9;              // number
        default: break;
        }
        if (base == 0x21)
            return 3;   // ptgFunc: a 16-bit function number since BIFF3
        if (base == 0x22)
            return 4;   // ptgFuncVar
        return 0;
    };
    while (i < in.size()) {
        const std::uint8_t ptg = in[i];
        const std::uint8_t base = ptg < 0x20 ? ptg : static_cast<std::uint8_t>((ptg & 0x1F) | 0x20);
        if (const std::size_t n = sameSize(ptg, base)) {
            if (!need(n))
                return std::nullopt;
            copy(n);
        } else if (ptg == 0x17) {   // ptgStr: 8-bit characters
            if (!need(2) || !need(2 + in[i + 1]))
                return std::nullopt;
            const std::size_t n = in[i + 1];
            out.push_back(ptg);
            out.push_back(static_cast<std::uint8_t>(n));
            out.push_back(0);   // compressed characters
            i += 2;
            copy(n);
        } else if (ptg == 0x19) {   // ptgAttr: volatile, sum and space only
            if (!need(4))
                return std::nullopt;
            const std::uint8_t kind = in[i + 1];
            if (kind != 0x01 && kind != 0x10 && kind != 0x40 && kind != 0x41)
                return std::nullopt;
            copy(4);
        } else if (base == 0x24) {   // ptgRef
            if (!need(4))
                return std::nullopt;
            out.push_back(ptg);
            cell(u16(i + 1), in[i + 3]);
            i += 4;
        } else if (base == 0x25) {   // ptgArea
            if (!need(7))
                return std::nullopt;
            const std::uint16_t first = u16(i + 1), last = u16(i + 3);
            const std::uint8_t firstColumn = in[i + 5], lastColumn = in[i + 6];
            out.push_back(ptg);
            put16(first & 0x3FFF);
            put16(last & 0x3FFF);
            put16(firstColumn | (first & 0xC000));
            put16(lastColumn | (last & 0xC000));
            i += 7;
        } else if (base == 0x2A) {   // ptgRefErr
            if (!need(4))
                return std::nullopt;
            out.push_back(ptg);
            put16(0);
            put16(0);
            i += 4;
        } else if (base == 0x2B) {   // ptgAreaErr
            if (!need(7))
                return std::nullopt;
            out.push_back(ptg);
            for (int k = 0; k < 4; ++k)
                put16(0);
            i += 7;
        } else {
            return std::nullopt;
        }
    }
    return out;
}

} // namespace

// The FORMULA records of BIFF3 and BIFF4, which some writers still put in BIFF8 files: their
// tokens are of another generation. Those BIFF8 shares are taken over in its form, so the
// formula is kept and saved; any other keeps the result the record holds as the cell's value.
void SheetReader::readOldFormula(Cursor c)
{
    const int row = c.u16(), col = c.u16();
    const std::uint16_t xf = c.u16();
    auto val = c.bytes(8);
    bool pending = false;
    Value v = cachedResult(val, pending);
    Cell& cell = put(row, col, xf);
    cell.value = std::move(v);
    if (c.remaining() >= 4) {
        c.u16();   // flags
        const std::uint16_t cce = c.u16();
        if (cce > 0 && cce <= c.remaining()) {
            if (auto tokens = biff8TokensOf(c.bytes(cce))) {
                cell.formula = std::move(*tokens);
                cell.formulaData.clear();
            }
        }
    }
    pendingString_ = pending ? &cell : nullptr;
}

void SheetReader::readShared(const Record& r, bool shared)
{
    Cursor c(r.data, shared ? "SHRFMLA" : "ARRAY");
    SharedEntry f;
    f.shared = shared;
    f.range.firstRow = c.u16();
    f.range.lastRow = c.u16();
    f.range.firstCol = c.u8();
    f.range.lastCol = c.u8();
    const std::uint16_t options = c.u16();
    c.skip(shared ? 0 : 4);
    const std::uint16_t cce = c.u16();
    auto rgce = c.bytes(cce);
    auto rgcb = c.bytes(c.remaining());
    f.rgce.assign(rgce.begin(), rgce.end());
    f.rgcb.assign(rgcb.begin(), rgcb.end());
    if (shared) {
        f.index = s_.sharedFormulas.size();
        SharedFormula sf;
        sf.range = f.range;
        sf.master = {f.range.firstRow, f.range.firstCol};
        sf.formula = f.rgce;
        sf.record.assign(r.data.begin(), r.data.end());
        s_.sharedFormulas.push_back(std::move(sf));
    } else {
        f.index = s_.arrayFormulas.size();
        ArrayFormula af;
        af.range = f.range;
        af.formula = f.rgce;
        af.formulaData = f.rgcb;
        af.options = options;
        s_.arrayFormulas.push_back(std::move(af));
    }
    shared_.push_back(std::move(f));
}

void SheetReader::readTable(const Record& r)
{
    Cursor c(r.data, "TABLE");
    DataTable t;
    t.range.firstRow = c.u16();
    t.range.lastRow = c.u16();
    t.range.firstCol = c.u8();
    t.range.lastCol = c.u8();
    t.record.assign(r.data.begin(), r.data.end());
    s_.dataTables.push_back(std::move(t));
}

void SheetReader::resolveExpCells()
{
    std::vector<char> masterSet(s_.sharedFormulas.size(), 0);
    // Groups by their first cell, which is where ptgExp points in every file seen; any other
    // group holding both cells is looked for only when that fails.
    std::map<CellAddress, const SharedEntry*> byFirst;
    for (const SharedEntry& f : shared_)
        byFirst[{f.range.firstRow, f.range.firstCol}] = &f;
    for (const ExpCell& e : expCells_) {
        Cell* cell = s_.find(e.row, e.col);
        if (!cell)
            continue;
        const SharedEntry* found = nullptr;
        if (auto it = byFirst.find({e.masterRow, e.masterCol}); it != byFirst.end() && it->second->range.contains(e.row, e.col))
            found = it->second;
        for (std::size_t i = shared_.size(); !found && i-- > 0;) {
            const SharedEntry& f = shared_[i];
            if (f.range.contains(e.row, e.col) && f.range.contains(e.masterRow, e.masterCol))
                found = &f;
        }
        cell->formula.clear();   // without its tokens the cell keeps its cached value
        cell->formulaData.clear();
        if (!found)
            continue;
        cell->formulaData = found->rgcb;
        if (!found->shared) {
            cell->formula = found->rgce;
            if (cell->formula.empty())
                cell->formulaData.clear();   // no tokens: the value alone, as for a FORMULA record
            continue;
        }
        if (!masterSet[found->index]) {
            masterSet[found->index] = 1;
            s_.sharedFormulas[found->index].master = {e.masterRow, e.masterCol};
        }
        try {
            cell->formula = formula::expandShared(found->rgce, e.row, e.col);
        } catch (const std::exception&) {
            cell->formula.clear();
        }
        if (cell->formula.empty())
            cell->formulaData.clear();
    }
}

void SheetReader::resolveTables()
{
    for (DataTable& t : s_.dataTables)
        for (const auto& [at, tokens] : tableCells_)
            if (t.range.contains(at.row, at.col)) {
                t.tokens = tokens;
                break;
            }
    // A table whose cells were not found cannot be written back as one.
    std::erase_if(s_.dataTables, [](const DataTable& t) { return t.tokens.empty(); });
}

void SheetReader::readWindow2(Cursor c)
{
    const std::uint16_t grbit = c.u16();
    s_.showGridlines = grbit & 0x0002;
    s_.pane.frozen = grbit & 0x0008;
    s_.selected = grbit & 0x0200;
    s_.pane.topRow = c.u16();
    s_.pane.leftCol = c.u16();
}

void SheetReader::readPane(Cursor c)
{
    s_.pane.splitCols = c.u16();
    s_.pane.splitRows = c.u16();
    s_.pane.topRow = c.u16();
    s_.pane.leftCol = c.u16();
    s_.pane.activePane = c.u8();
}

void SheetReader::readSelection(Cursor c)
{
    const std::uint8_t pane = c.u8();
    const int row = c.u16(), col = c.u16();
    // One SELECTION per pane; the active pane's holds the cursor.
    if (!selectionSeen_ || pane == s_.pane.activePane) {
        s_.activeCell = {std::min(row, kMaxRows - 1), std::min(col, kMaxCols - 1)};
        selectionSeen_ = true;
    }
}

void SheetReader::readSetup(Cursor c)
{
    PageSetup& p = s_.page;
    const std::uint16_t paper = c.u16(), scale = c.u16();
    c.u16();
    const std::uint16_t fitW = c.u16(), fitH = c.u16();
    const std::uint16_t grbit = c.u16();
    p.fitWidth = fitW;
    p.fitHeight = fitH;
    // fNoPls: paper, scale and orientation were never set and hold nothing.
    if (!(grbit & 0x0004)) {
        p.paperSize = paper;
        p.scale = scale;
        p.landscape = !(grbit & 0x0040) && !(grbit & 0x0002);
    }
    if (c.remaining() >= 20) {
        c.skip(4);
        p.headerMargin = c.f64();
        p.footerMargin = c.f64();
    }
}

void SheetReader::readMergedCells(Cursor c)
{
    const std::uint16_t count = c.u16();
    for (std::uint16_t i = 0; i < count; ++i) {
        RangeAddress r;
        r.firstRow = c.u16();
        r.lastRow = c.u16();
        r.firstCol = c.u16();
        r.lastCol = c.u16();
        if (r.firstRow <= r.lastRow && r.firstCol <= r.lastCol && r.lastCol < kMaxCols)
            s_.merged.push_back(r);
    }
}

void SheetReader::readMulRk(Cursor c)
{
    const int row = c.u16(), first = c.u16();
    if (c.remaining() < 2 || (c.remaining() - 2) % 6 != 0)
        c.fail("bad length");
    const std::size_t n = (c.remaining() - 2) / 6;
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint16_t xf = c.u16();
        put(row, first + static_cast<int>(i), xf).value = decodeRk(c.u32());
    }
    if (c.u16() != first + n - 1)
        c.fail("last column does not match the cell count");
}

void SheetReader::readMulBlank(Cursor c)
{
    const int row = c.u16(), first = c.u16();
    if (c.remaining() < 2 || c.remaining() % 2 != 0)
        c.fail("bad length");
    const std::size_t n = (c.remaining() - 2) / 2;
    for (std::size_t i = 0; i < n; ++i)
        put(row, first + static_cast<int>(i), c.u16());
    if (c.u16() != first + n - 1)
        c.fail("last column does not match the cell count");
}

bool isCellTableRecord(std::uint16_t t)
{
    switch (t) {
    case rt::Dimensions: case rt::Row: case rt::Number: case rt::Rk: case rt::MulRk: case rt::LabelSst:
    case rt::Label: case rt::RString: case rt::Blank: case rt::MulBlank: case rt::BoolErr: case rt::Formula:
    case rt::Formula3: case rt::Formula4: case rt::DbCell:
        return true;
    default:
        return false;
    }
}

void SheetReader::read(std::span<const std::uint8_t> stream, std::size_t offset)
{
    RecordReader rr(stream, offset);
    readBof(rr.next());
    // Kept records go where they stood: before the cell table, between it and the window
    // records, or after those.
    std::vector<RawRecord>* kept = &s_.leadingRecords;
    std::vector<RawRecord>* keptContinue = nullptr;
    int nested = 0;   // embedded chart substreams are carried through whole
    for (;;) {
        if (rr.atEnd())
            throw FormatError("BIFF8: sheet '" + s_.name + "' ends without an EOF record");
        const Record r = rr.next();
        auto keepRaw = [&] { kept->push_back(RawRecord{r.type, {r.data.begin(), r.data.end()}}); };
        if (nested > 0 || r.type == rt::Bof) {
            if (kept == &s_.leadingRecords)
                kept = &s_.extraRecords;
            nested += r.type == rt::Bof ? 1 : r.type == rt::Eof ? -1 : 0;
            keepRaw();
            keptContinue = kept;
            continue;
        }
        if (kept == &s_.leadingRecords && isCellTableRecord(r.type))
            kept = &s_.extraRecords;
        bool keep = false;
        auto cellHeader = [&](Cursor& c) -> Cell& {
            const int row = c.u16(), col = c.u16();
            return put(row, col, c.u16());
        };
        switch (r.type) {
        case rt::Eof:
            resolveExpCells();
            resolveTables();
            if (!s_.pane.frozen)   // split positions of unfrozen panes are in twips, not cells
                s_.pane.splitCols = s_.pane.splitRows = 0;
            return;
        case rt::Number: { Cursor c(r.data, "NUMBER"); Cell& cell = cellHeader(c); cell.value = c.f64(); break; }
        case rt::Rk: { Cursor c(r.data, "RK"); Cell& cell = cellHeader(c); cell.value = decodeRk(c.u32()); break; }
        case rt::MulRk: readMulRk(Cursor(r.data, "MULRK")); break;
        case rt::LabelSst: {
            Cursor c(r.data, "LABELSST");
            Cell& cell = cellHeader(c);
            const std::uint32_t i = c.u32();
            if (i >= sst_.size())
                c.fail("string " + std::to_string(i) + " is not in the shared string table");
            cell.value = sst_[i];
            break;
        }
        case rt::Label: case rt::RString: {
            Cursor c(r.data, r.type == rt::Label ? "LABEL" : "RSTRING");
            Cell& cell = cellHeader(c);
            cell.value = continuedString(r.data, 6, takeContinues(rr), "LABEL");
            break;
        }
        case rt::Blank: { Cursor c(r.data, "BLANK"); cellHeader(c); break; }
        case rt::MulBlank: readMulBlank(Cursor(r.data, "MULBLANK")); break;
        case rt::BoolErr: {
            Cursor c(r.data, "BOOLERR");
            Cell& cell = cellHeader(c);
            const std::uint8_t v = c.u8();
            cell.value = c.u8() ? errorValue(v) : Value(v != 0);
            break;
        }
        case rt::Formula: readFormula(Cursor(r.data, "FORMULA")); break;
        case rt::Formula3: case rt::Formula4: readOldFormula(Cursor(r.data, "FORMULA")); break;
        case rt::String: {
            std::string text = continuedString(r.data, 0, takeContinues(rr), "STRING");
            if (pendingString_)
                pendingString_->value = std::move(text);
            pendingString_ = nullptr;
            break;
        }
        case rt::ShrFmla: readShared(r, true); break;
        case rt::Array: readShared(r, false); break;
        case rt::Table: readTable(r); break;
        case rt::Row: readRowRecord(Cursor(r.data, "ROW")); break;
        case rt::ColInfo: readColInfo(Cursor(r.data, "COLINFO")); break;
        case rt::DefColWidth: s_.defaultColWidth = Cursor(r.data, "DEFCOLWIDTH").u16(); break;
        case rt::DefaultRowHeight: {
            Cursor c(r.data, "DEFAULTROWHEIGHT");
            c.u16();
            s_.defaultRowHeight = c.u16() & 0x7FFF;
            break;
        }
        case rt::Window2:
            readWindow2(Cursor(r.data, "WINDOW2"));
            kept = &s_.trailingRecords;
            keep = true;   // its flags (zeros shown, formulas shown ...) and zoom go back as they were
            break;
        case rt::Pane: readPane(Cursor(r.data, "PANE")); break;
        case rt::Selection:
            readSelection(Cursor(r.data, "SELECTION"));
            s_.selections.push_back(RawRecord{r.type, std::vector<std::uint8_t>(r.data.begin(), r.data.end())});
            break;
        case rt::Setup: readSetup(Cursor(r.data, "SETUP")); break;
        case rt::WsBool: {
            const std::uint16_t v = Cursor(r.data, "WSBOOL").u16();
            s_.page.fitToPage = v & 0x0100;
            dialog_ = v & 0x0010;
            keep = true;   // the other flags go back as they were
            break;
        }
        case rt::MergedCells: readMergedCells(Cursor(r.data, "MERGEDCELLS")); break;
        case rt::Continue: keep = keptContinue != nullptr; break;
        // Written afresh on save.
        case rt::Index: case rt::DbCell: case rt::Dimensions:
            break;
        default: keep = true; break;
        }
        if (keep) {
            std::vector<RawRecord>* target = r.type == rt::Continue ? keptContinue : kept;
            target->push_back(RawRecord{r.type, {r.data.begin(), r.data.end()}});
        }
        if (r.type != rt::Continue)
            keptContinue = keep ? kept : nullptr;
    }
}

// The bytes of the substream starting at `offset` (BOF to its EOF, nested substreams included).
// Positions inside it that INDEX records hold are made relative to its start; the writer moves
// them to where the substream lands.
std::vector<std::uint8_t> substreamBytes(std::span<const std::uint8_t> stream, std::size_t offset, const std::string& name)
{
    RecordReader rr(stream, offset);
    int depth = 0;
    std::vector<std::size_t> indexAt;
    for (;;) {
        if (rr.atEnd())
            throw FormatError("BIFF8: sheet '" + name + "' ends without an EOF record");
        const std::size_t at = rr.position();
        const Record r = rr.next();
        if (r.type == rt::Bof)
            ++depth;
        else if (r.type == rt::Eof && --depth == 0)
            break;
        else if (r.type == rt::Index && depth == 1)
            indexAt.push_back(at - offset);
    }
    std::vector<std::uint8_t> out(stream.begin() + std::ptrdiff_t(offset), stream.begin() + std::ptrdiff_t(rr.position()));
    for (const std::size_t at : indexAt) {
        const std::size_t size = out[at + 2] | std::size_t(out[at + 3]) << 8;
        for (std::size_t p = at + 4 + 12; p + 4 <= at + 4 + size; p += 4) {
            std::uint32_t v = out[p] | std::uint32_t(out[p + 1]) << 8 | std::uint32_t(out[p + 2]) << 16 | std::uint32_t(out[p + 3]) << 24;
            v = v >= offset ? static_cast<std::uint32_t>(v - offset) : 0;
            for (int k = 0; k < 4; ++k)
                out[p + k] = static_cast<std::uint8_t>(v >> (8 * k));
        }
    }
    return out;
}

// Offsets of the substreams that follow the globals, for files whose BOUNDSHEET offsets are wrong.
std::vector<std::size_t> substreamOffsets(std::span<const std::uint8_t> stream, std::size_t pos)
{
    std::vector<std::size_t> out;
    RecordReader rr(stream, pos);
    int depth = 0;
    while (!rr.atEnd()) {
        const std::size_t at = rr.position();
        Record r = rr.next();
        if (r.type == rt::Bof) {
            if (depth == 0)
                out.push_back(at);
            ++depth;
        } else if (r.type == rt::Eof && depth > 0) {
            --depth;
        }
    }
    return out;
}

// An EXTERNSHEET entry of this workbook with its tab numbers turned into worksheet indexes:
// the first and last worksheet within the tabs it spans (0xFFFF when it spans none).
ExternSheet externSheetToModel(ExternSheet x, const std::vector<SheetEntry>& tabs)
{
    if (x.firstSheet >= 0xFFFE || x.lastSheet >= 0xFFFE)
        return x;
    int first = -1, last = -1;
    for (std::size_t t = x.firstSheet; t <= x.lastSheet && t < tabs.size(); ++t)
        if (tabs[t].modelIndex >= 0) {
            if (first < 0)
                first = tabs[t].modelIndex;
            last = tabs[t].modelIndex;
        }
    x.firstSheet = first < 0 ? 0xFFFF : static_cast<std::uint16_t>(first);
    x.lastSheet = last < 0 ? 0xFFFF : static_cast<std::uint16_t>(last);
    return x;
}

bool bofAt(std::span<const std::uint8_t> stream, std::size_t offset)
{
    return offset + 4 <= stream.size() && RecordReader(stream, offset).peekType() == rt::Bof;
}

} // namespace

Workbook readWorkbookStream(std::span<const std::uint8_t> stream)
{
    GlobalsState g;
    const std::size_t globalsEnd = readGlobals(stream, g);
    Workbook& wb = g.wb;

    std::optional<std::vector<std::size_t>> sequence;
    for (std::size_t i = 0; i < g.sheets.size(); ++i) {
        SheetEntry& e = g.sheets[i];
        std::size_t offset = e.offset;
        if (!bofAt(stream, offset)) {
            if (!sequence)
                sequence = substreamOffsets(stream, globalsEnd);
            if (i >= sequence->size())
                throw FormatError("BIFF8: sheet '" + e.name + "' starts at offset " + std::to_string(e.offset)
                                  + ", outside the workbook stream");
            offset = (*sequence)[i];
        }
        RecordReader probe(stream, offset);
        bool modelled = false;
        if (e.type == 0 && readBof(probe.next()) == kBofWorksheet) {
            Sheet sheet;
            sheet.name = e.name;
            sheet.visibility = e.visibility;
            SheetReader reader(g.sst, sheet);
            reader.read(stream, offset);
            if (!reader.dialog()) {
                e.modelIndex = static_cast<int>(wb.sheets.size());
                wb.tabOrder.push_back(e.modelIndex);
                wb.sheets.push_back(std::move(sheet));
                modelled = true;
            }
        }
        if (!modelled) {
            // Chart, macro and dialog sheets and VB modules go back as they came.
            KeptSheet k;
            k.name = e.name;
            k.type = e.type;
            k.visibility = e.visibility;
            k.substream = substreamBytes(stream, offset, e.name);
            wb.keptSheets.push_back(std::move(k));
            wb.tabOrder.push_back(-static_cast<int>(wb.keptSheets.size()));
        }
    }
    // Kept sheets (macro sheets) refer to the string table by index: it stays as it was.
    if (!wb.keptSheets.empty())
        wb.sharedStrings = g.sst;

    // The link table counts sheets by tab; the model counts worksheets.
    for (const ExternSheet& x : wb.linkRecords.externSheets)
        wb.externSheets.push_back(x.supBook < wb.supBooks.size() && wb.supBooks[x.supBook] == SupBookKind::Self
                                      ? externSheetToModel(x, g.sheets)
                                      : x);
    for (DefinedName& n : wb.names)
        if (n.sheetIndex > 0)
            n.sheetIndex = std::size_t(n.sheetIndex) <= g.sheets.size() ? g.sheets[n.sheetIndex - 1].modelIndex + 1 : 0;
    if (g.activeTab >= 0 && std::size_t(g.activeTab) < g.sheets.size())
        wb.activeSheet = std::max(0, g.sheets[g.activeTab].modelIndex);
    if (wb.activeSheet >= static_cast<int>(wb.sheets.size()))
        wb.activeSheet = 0;

    // A file without formats still needs the default XF its cells point at.
    if (wb.xfs.empty()) {
        Workbook d = Workbook::makeDefault();
        if (wb.fonts.empty())
            wb.fonts = d.fonts;
        wb.xfs = d.xfs;
        wb.styles = d.styles;
    }
    if (wb.fonts.empty())
        wb.fonts = Workbook::makeDefault().fonts;
    const auto fallbackXf = static_cast<std::uint16_t>(std::min<std::size_t>(15, wb.xfs.size() - 1));
    for (Sheet& s : wb.sheets)
        for (auto& [a, cell] : s.cells)
            if (cell.xf >= wb.xfs.size())
                cell.xf = fallbackXf;
    return std::move(wb);   // a reference into the reader's state: moved out, not copied
}

} // namespace ss::xls
