// Workbook -> BIFF8 Workbook stream, records in the order Excel 2003 writes them.
// One small function per record.
#include "spreadsheet/biff_records.h"
#include "spreadsheet/biff_stream.h"
#include "spreadsheet/error.h"
#include "spreadsheet/formula.h"
#include "spreadsheet/formula_internal.h"
#include "spreadsheet/xls.h"

#include <algorithm>
#include <map>
#include <unordered_map>

namespace ss::xls {

using namespace ss::biff;

namespace {

class StreamWriter {
public:
    explicit StreamWriter(const Workbook& wb) : wb_(wb) {}
    std::vector<std::uint8_t> write();

private:
    void rec(std::uint16_t type, const ByteWriter& w) { appendRecord(out_, type, w.data()); }
    void rec16(std::uint16_t type, std::uint16_t v)
    {
        ByteWriter w;
        w.u16(v);
        rec(type, w);
    }
    void raw(const RawRecord& r) { appendRecord(out_, r.type, r.data); }
    // The body of a cell's record, built in one buffer that keeps its room from cell to cell.
    ByteWriter& cellBody()
    {
        cellBody_.data().clear();
        return cellBody_;
    }
    // Records Excel expects at a fixed place: a kept copy if the workbook was read with one,
    // else the default body. Returns whether a kept copy was written.
    bool placed(const std::vector<RawRecord>& extras, std::uint16_t type, const std::vector<std::uint8_t>* fallback);
    bool placedSheet(const Sheet& s, std::uint16_t type, const std::vector<std::uint8_t>* fallback);
    static const RawRecord* findKept(const Sheet& s, std::uint16_t type);
    static bool isPlacedGlobal(std::uint16_t t);
    static bool isPlacedSheet(std::uint16_t t);
    void extras(const std::vector<RawRecord>& list, bool (*isPlaced)(std::uint16_t));
    void keptSheet(const KeptSheet& k);

    void collectStrings();
    void bof(std::uint16_t type);
    void window1();
    void font(const Font& f);
    void format(std::uint16_t index, const std::string& code);
    void xf(const Xf& x);
    void palette();
    std::size_t boundSheet(const std::string& name, std::uint8_t visibility, std::uint8_t type);
    void supBookAndExternSheet();
    void linkTable();
    void externSheet(const std::vector<ExternSheet>& entries);
    void name(const DefinedName& n);
    int tabOf(int sheet) const;
    void sst();

    void sheet(const Sheet& s, int index);
    void setup(const Sheet& s);
    void colInfo(const ColumnInfo& c);
    void dimensions(const Sheet& s);
    void cells(const Sheet& s);
    void row(const Sheet& s, int r, int firstCol, int lastCol);
    void cell(const Sheet& s, int r, int c, const Cell& cell);
    void formula(int r, int c, const Cell& cell, std::span<const std::uint8_t> tokens, bool shared);
    void planFormulaGroups(const Sheet& s);
    void longString(std::uint16_t type, const std::string& text);
    void window2(const Sheet& s, bool active);
    void pane(const Sheet& s);
    void selection(const Sheet& s);
    void mergedCells(const Sheet& s);

    // How a cell goes back: as the member of an array formula, a shared formula or a data table.
    struct Group {
        enum Kind : std::uint8_t { Array, Shared, Table } kind;
        std::size_t index;
    };

    const Workbook& wb_;
    std::vector<int> tabs_;            // the tab order (Workbook::tabs)
    std::map<CellAddress, Group> groups_;   // for the sheet being written
    std::vector<std::uint8_t> out_;
    ByteWriter cellBody_;
    std::vector<std::string> strings_;
    std::unordered_map<std::string, std::uint32_t> stringIndex_;
    std::uint32_t stringRefs_ = 0;
};

// ---------------------------------------------------------------- helpers

bool StreamWriter::isPlacedGlobal(std::uint16_t t)
{
    return t == rt::WindowProtect || t == rt::Protect || t == rt::Password || t == rt::Backup || t == rt::HideObj
        || t == rt::Window1
        || t == rt::Precision || t == rt::RefreshAll || t == rt::BookBool;
}

bool StreamWriter::isPlacedSheet(std::uint16_t t)
{
    switch (t) {
    case rt::Header: case rt::Footer: case rt::HCenter: case rt::VCenter: case rt::LeftMargin:
    case rt::RightMargin: case rt::TopMargin: case rt::BottomMargin: case rt::Scl: case rt::CalcMode:
    case rt::CalcCount: case rt::RefMode: case rt::Iteration: case rt::Delta: case rt::SaveRecalc:
    case rt::PrintHeaders: case rt::PrintGridlines: case rt::GridSet: case rt::Guts: case rt::WsBool:
    case rt::Window2:
        return true;
    default:
        return false;
    }
}

const RawRecord* StreamWriter::findKept(const Sheet& s, std::uint16_t type)
{
    for (const auto* list : {&s.leadingRecords, &s.extraRecords, &s.trailingRecords}) {
        int nested = 0;   // not one of an embedded chart's
        for (const RawRecord& r : *list) {
            if (nested > 0 || r.type == rt::Bof) {
                nested += r.type == rt::Bof ? 1 : r.type == rt::Eof ? -1 : 0;
                continue;
            }
            if (r.type == type)
                return &r;
        }
    }
    return nullptr;
}

bool StreamWriter::placedSheet(const Sheet& s, std::uint16_t type, const std::vector<std::uint8_t>* fallback)
{
    if (const RawRecord* r = findKept(s, type)) {
        raw(*r);
        return true;
    }
    if (fallback)
        appendRecord(out_, type, *fallback);
    return false;
}

bool StreamWriter::placed(const std::vector<RawRecord>& list, std::uint16_t type,
                          const std::vector<std::uint8_t>* fallback)
{
    for (const RawRecord& r : list)
        if (r.type == type) {
            raw(r);
            return true;
        }
    if (fallback)
        appendRecord(out_, type, *fallback);
    return false;
}

void StreamWriter::extras(const std::vector<RawRecord>& list, bool (*isPlaced)(std::uint16_t))
{
    bool skipContinue = false;
    int nested = 0;   // an embedded chart's records are its own, placed ones included
    for (const RawRecord& r : list) {
        if (nested > 0 || r.type == rt::Bof) {
            nested += r.type == rt::Bof ? 1 : r.type == rt::Eof ? -1 : 0;
            raw(r);
            skipContinue = false;
            continue;
        }
        if (r.type == rt::Continue) {
            if (!skipContinue)
                raw(r);
            continue;
        }
        skipContinue = isPlaced(r.type);
        if (!skipContinue)
            raw(r);
    }
}

void StreamWriter::collectStrings()
{
    // Strings kept sheets may point at stay at their indexes.
    for (const std::string& text : wb_.sharedStrings) {
        stringIndex_.try_emplace(text, static_cast<std::uint32_t>(strings_.size()));
        strings_.push_back(text);
    }
    for (const Sheet& s : wb_.sheets)
        for (const auto& [a, c] : s.cells)
            if (!c.isFormula() && c.value.isText()) {
                ++stringRefs_;
                auto [it, added] = stringIndex_.try_emplace(c.value.text(), static_cast<std::uint32_t>(strings_.size()));
                if (added)
                    strings_.push_back(c.value.text());
            }
}

// ---------------------------------------------------------------- globals

void StreamWriter::bof(std::uint16_t type)
{
    ByteWriter w;
    w.u16(0x0600);
    w.u16(type);
    w.u16(0x0DBB);   // build and year of Excel 97's BIFF8
    w.u16(0x07CC);
    w.u32(0x000080C9);
    w.u32(0x00000206);
    rec(rt::Bof, w);
}

void StreamWriter::window1()
{
    const auto active = static_cast<std::uint16_t>(tabOf(std::clamp(wb_.activeSheet, 0, std::max(0, int(wb_.sheets.size()) - 1))));
    for (const RawRecord& r : wb_.extraGlobals)
        if (r.type == rt::Window1 && r.data.size() == 18) {
            // The window as read, showing the active sheet's tab.
            std::vector<std::uint8_t> body = r.data;
            body[10] = static_cast<std::uint8_t>(active);
            body[11] = static_cast<std::uint8_t>(active >> 8);
            const std::uint16_t first = static_cast<std::uint16_t>(body[12] | body[13] << 8);
            if (first > active) {
                body[12] = body[10];
                body[13] = body[11];
            }
            body[14] = 1;
            body[15] = 0;
            appendRecord(out_, rt::Window1, body);
            return;
        }
    ByteWriter w;
    w.u16(0x0168);
    w.u16(0x010E);
    w.u16(0x3A5C);
    w.u16(0x23BE);
    w.u16(0x0038);   // horizontal and vertical scroll bars, sheet tabs
    w.u16(static_cast<std::uint16_t>(tabOf(std::clamp(wb_.activeSheet, 0, std::max(0, int(wb_.sheets.size()) - 1)))));
    w.u16(0);
    w.u16(1);
    w.u16(0x0258);
    rec(rt::Window1, w);
}

void StreamWriter::font(const Font& f)
{
    ByteWriter w;
    w.u16(f.height);
    // Bit 0 repeats "bold" from BIFF4 days; older readers still look at it.
    w.u16(static_cast<std::uint16_t>((f.bold() ? 0x01 : 0) | (f.italic ? 0x02 : 0) | (f.strikeout ? 0x08 : 0)));
    w.u16(f.colorIndex);
    w.u16(f.weight);
    w.u16(f.escapement);
    w.u8(f.underline);
    w.u8(f.family);
    w.u8(f.charset);
    w.u8(0);
    writeUnicodeString(w, f.name, 1);
    rec(rt::Font, w);
}

void StreamWriter::format(std::uint16_t index, const std::string& code)
{
    ByteWriter w;
    w.u16(index);
    writeUnicodeString(w, code, 2);
    rec(rt::Format, w);
}

void StreamWriter::xf(const Xf& x)
{
    // Bits the model does not name come from the record as read.
    auto rawBits = [&x](std::size_t at, int size, std::uint32_t mask) -> std::uint32_t {
        if (x.raw.size() != 20)
            return 0;
        std::uint32_t v = 0;
        for (int i = size - 1; i >= 0; --i)
            v = v << 8 | x.raw[at + i];
        return v & mask;
    };
    ByteWriter w;
    w.u16(x.fontIndex);
    w.u16(x.formatIndex);
    w.u16(static_cast<std::uint16_t>((x.locked ? 0x01 : 0) | (x.hidden ? 0x02 : 0) | (x.isStyle ? 0x04 : 0)
                                     | (x.parent & 0x0FFF) << 4 | rawBits(4, 2, 0x0008)));
    w.u8(static_cast<std::uint8_t>((static_cast<int>(x.hAlign) & 0x07) | (x.wrap ? 0x08 : 0)
                                   | (static_cast<int>(x.vAlign) & 0x07) << 4 | rawBits(6, 1, 0x80)));
    w.u8(x.rotation);
    w.u8(static_cast<std::uint8_t>((x.indent & 0x0F) | (x.shrink ? 0x10 : 0) | rawBits(8, 1, 0xE0)));
    w.u8(static_cast<std::uint8_t>((x.usedAttributes & 0x3F) << 2 | rawBits(9, 1, 0x03)));
    w.u32((x.left.style & 0x0Fu) | (x.right.style & 0x0Fu) << 4 | (x.top.style & 0x0Fu) << 8
          | (x.bottom.style & 0x0Fu) << 12 | (x.left.colorIndex & 0x7Fu) << 16
          | (x.right.colorIndex & 0x7Fu) << 23 | rawBits(10, 4, 0xC0000000u));
    w.u32((x.top.colorIndex & 0x7Fu) | (x.bottom.colorIndex & 0x7Fu) << 7 | (x.fillPattern & 0x3Fu) << 26
          | rawBits(14, 4, 0x03FFC000u));
    w.u16(static_cast<std::uint16_t>((x.fillForeColor & 0x7F) | (x.fillBackColor & 0x7F) << 7 | rawBits(18, 2, 0xC000)));
    rec(rt::Xf, w);
}

void StreamWriter::palette()
{
    ByteWriter w;
    w.u16(56);
    for (std::uint16_t i = 8; i < 64; ++i) {
        const std::uint32_t rgb = wb_.colorRgb(i);
        w.u8(static_cast<std::uint8_t>(rgb >> 16));
        w.u8(static_cast<std::uint8_t>(rgb >> 8));
        w.u8(static_cast<std::uint8_t>(rgb));
        w.u8(0);
    }
    rec(rt::Palette, w);
}

int StreamWriter::tabOf(int sheet) const
{
    for (std::size_t t = 0; t < tabs_.size(); ++t)
        if (tabs_[t] == sheet)
            return static_cast<int>(t);
    return sheet;
}

std::size_t StreamWriter::boundSheet(const std::string& sheetName, std::uint8_t visibility, std::uint8_t type)
{
    ByteWriter w;
    w.u32(0);   // patched once the sheet's place is known
    w.u8(visibility & 0x03);
    w.u8(type);
    writeUnicodeString(w, sheetName, 1);
    const std::size_t at = out_.size() + 4;
    rec(rt::BoundSheet, w);
    return at;
}

// Whether tokens hold an EXTERNSHEET index (3-D references, names of other books or add-ins).
// Tokens this engine cannot walk count as holding one: a table too many does no harm.
bool usesExternSheet(std::span<const std::uint8_t> tokens)
{
    for (std::size_t pos = 0; pos < tokens.size();) {
        const std::size_t size = formula::detail::tokenSize(tokens, pos);
        if (size == 0)
            return true;
        const std::uint8_t base = tokens[pos] >= 0x20 ? static_cast<std::uint8_t>((tokens[pos] & 0x1F) | 0x20) : tokens[pos];
        if (base >= 0x39 && base <= 0x3D)
            return true;
        pos += size;
    }
    return false;
}

bool needsDefaultLinkTable(const Workbook& wb)
{
    for (const DefinedName& n : wb.names)
        if (usesExternSheet(n.formula))
            return true;
    for (const Sheet& s : wb.sheets) {
        for (const auto& [at, cell] : s.cells)
            if (usesExternSheet(cell.formula))
                return true;
        for (const ArrayFormula& a : s.arrayFormulas)
            if (usesExternSheet(a.formula))
                return true;
        for (const SharedFormula& f : s.sharedFormulas)
            if (usesExternSheet(f.formula))
                return true;
    }
    return false;
}

// One EXTERNSHEET entry per sheet, all in this workbook: entry i is sheet i.
void StreamWriter::supBookAndExternSheet()
{
    ByteWriter sb;
    sb.u16(static_cast<std::uint16_t>(tabs_.size()));
    sb.u16(0x0401);
    rec(rt::SupBook, sb);
    std::vector<ExternSheet> entries;
    for (std::size_t i = 0; i < wb_.sheets.size(); ++i) {
        const auto t = static_cast<std::uint16_t>(tabOf(static_cast<int>(i)));
        entries.push_back({0, t, t});
    }
    externSheet(entries);
}

void StreamWriter::externSheet(const std::vector<ExternSheet>& entries)
{
    ByteWriter es;
    es.u16(static_cast<std::uint16_t>(entries.size()));
    for (const ExternSheet& x : entries) {
        es.u16(x.supBook);
        es.u16(x.firstSheet);
        es.u16(x.lastSheet);
    }
    rec(rt::ExternSheet, es);
}

// The link table the workbook came with, its records as read wherever the model still agrees:
// sheet numbers of this workbook are worksheet indexes in the model and tab numbers in the file.
void StreamWriter::linkTable()
{
    if (wb_.supBooks.empty() && wb_.externSheets.empty()) {
        // A workbook without a link table keeps having none, unless one of its formulas points
        // into the table (a 3-D reference made by this engine, entry i being sheet i).
        if (needsDefaultLinkTable(wb_))
            supBookAndExternSheet();
        return;
    }
    const auto toTab = [&](std::uint16_t sheet) -> std::uint16_t {
        if (sheet >= 0xFFFE)
            return sheet;
        return sheet < wb_.sheets.size() ? static_cast<std::uint16_t>(tabOf(sheet)) : 0xFFFF;
    };
    const auto toModel = [&](ExternSheet x) {
        if (x.firstSheet >= 0xFFFE || x.lastSheet >= 0xFFFE)
            return x;
        int first = -1, last = -1;
        for (std::size_t t = x.firstSheet; t <= x.lastSheet && t < tabs_.size(); ++t)
            if (tabs_[t] >= 0) {
                if (first < 0)
                    first = tabs_[t];
                last = tabs_[t];
            }
        x.firstSheet = first < 0 ? 0xFFFF : static_cast<std::uint16_t>(first);
        x.lastSheet = last < 0 ? 0xFFFF : static_cast<std::uint16_t>(last);
        return x;
    };
    const bool generatedSelf = wb_.supBooks.empty();
    const auto isSelf = [&](std::uint16_t sb) {
        return generatedSelf || (sb < wb_.supBooks.size() && wb_.supBooks[sb] == SupBookKind::Self);
    };
    if (generatedSelf) {
        ByteWriter sb;
        sb.u16(static_cast<std::uint16_t>(tabs_.size()));
        sb.u16(0x0401);
        rec(rt::SupBook, sb);
    }
    for (std::size_t i = 0; i < wb_.supBooks.size(); ++i) {
        const bool haveRecords = i < wb_.linkRecords.supBooks.size() && !wb_.linkRecords.supBooks[i].empty();
        const SupBookKind kind = wb_.supBooks[i];
        if (kind == SupBookKind::Self || !haveRecords) {
            ByteWriter sb;
            sb.u16(static_cast<std::uint16_t>(kind == SupBookKind::Self ? tabs_.size() : 1));
            sb.u16(kind == SupBookKind::Self ? 0x0401 : 0x3A01);
            rec(rt::SupBook, sb);
        }
        if (!haveRecords)
            continue;
        const auto& list = wb_.linkRecords.supBooks[i];
        // The SUPBOOK of this workbook is written afresh (its sheet count); what follows it is kept.
        std::size_t k = 0;
        if (kind == SupBookKind::Self)
            for (k = 1; k < list.size() && list[k].type == rt::Continue; ++k) {
            }
        for (; k < list.size(); ++k)
            raw(list[k]);
    }
    std::vector<ExternSheet> entries;
    for (std::size_t i = 0; i < wb_.externSheets.size(); ++i) {
        const ExternSheet& x = wb_.externSheets[i];
        if (!isSelf(x.supBook)) {
            entries.push_back(x);
            continue;
        }
        if (i < wb_.linkRecords.externSheets.size()) {
            const ExternSheet& asRead = wb_.linkRecords.externSheets[i];
            const ExternSheet again = toModel(asRead);
            if (asRead.supBook == x.supBook && again.firstSheet == x.firstSheet && again.lastSheet == x.lastSheet) {
                entries.push_back(asRead);
                continue;
            }
        }
        entries.push_back({x.supBook, toTab(x.firstSheet), toTab(x.lastSheet)});
    }
    externSheet(entries);
}

void StreamWriter::name(const DefinedName& n)
{
    // The record as read while it still says the same: array constants, descriptions and
    // anything else after the formula go back with it.
    if (!n.raw.empty()) {
        try {
            DefinedName asRead = parseNameRecord(n.raw);
            if (asRead.sheetIndex > 0) {
                const std::size_t t = static_cast<std::size_t>(asRead.sheetIndex - 1);
                asRead.sheetIndex = t < tabs_.size() && tabs_[t] >= 0 ? tabs_[t] + 1 : 0;
            }
            if (asRead.name == n.name && asRead.builtin == n.builtin && asRead.options == n.options
                && asRead.sheetIndex == n.sheetIndex && asRead.formula == n.formula) {
                appendRecord(out_, rt::Name, n.raw);
                return;
            }
        } catch (const FormatError&) {
        }
    }
    std::u16string text = utf8ToUtf16(n.name);
    if (text.size() > 255)
        text.resize(255);
    ByteWriter w;
    w.u16(static_cast<std::uint16_t>(n.options | (n.builtin ? 0x0020 : 0)));
    w.u8(0);
    w.u8(static_cast<std::uint8_t>(text.size()));
    w.u16(static_cast<std::uint16_t>(n.formula.size()));
    w.u16(0);
    w.u16(static_cast<std::uint16_t>(n.sheetIndex > 0 && n.sheetIndex <= int(wb_.sheets.size()) ? tabOf(n.sheetIndex - 1) + 1 : 0));
    w.zeros(4);
    writeUnicodeStringNoCch(w, text);
    w.bytes(n.formula);
    rec(rt::Name, w);
}

void StreamWriter::sst()
{
    const SstRecords sst = buildSst(strings_, stringRefs_, &wb_.stringRuns);
    std::vector<std::size_t> recordStart;
    for (std::size_t i = 0; i < sst.bodies.size(); ++i) {
        recordStart.push_back(out_.size());
        appendRecord(out_, i == 0 ? rt::Sst : rt::Continue, sst.bodies[i]);
    }
    ByteWriter ext;
    ext.u16(sst.bucketSize);
    for (const auto& start : sst.bucketStarts) {
        ext.u32(static_cast<std::uint32_t>(recordStart[start.record] + 4 + start.offset));
        ext.u16(static_cast<std::uint16_t>(4 + start.offset));
        ext.u16(0);
    }
    rec(rt::ExtSst, ext);
}

// ---------------------------------------------------------------- sheets

void StreamWriter::setup(const Sheet& s)
{
    const PageSetup& p = s.page;
    ByteWriter w;
    w.u16(p.paperSize);
    w.u16(p.scale);
    w.u16(1);
    w.u16(p.fitWidth);
    w.u16(p.fitHeight);
    w.u16(p.landscape ? 0x0000 : 0x0002);   // fPortrait; orientation, paper and scale are set
    w.u16(600);
    w.u16(600);
    w.f64(p.headerMargin);
    w.f64(p.footerMargin);
    w.u16(1);
    rec(rt::Setup, w);
}

void StreamWriter::colInfo(const ColumnInfo& c)
{
    ByteWriter w;
    w.u16(static_cast<std::uint16_t>(c.firstCol));
    w.u16(static_cast<std::uint16_t>(c.lastCol));
    w.u16(c.width);
    w.u16(c.xf);
    w.u16(static_cast<std::uint16_t>((c.options & ~0x0001) | (c.hidden ? 0x0001 : 0)));
    w.u16(0);
    rec(rt::ColInfo, w);
}

void StreamWriter::dimensions(const Sheet& s)
{
    int r0 = 0, r1 = -1, c0 = 0, c1 = -1;
    for (const auto& [a, c] : s.cells) {
        if (r1 < 0) {
            r0 = r1 = a.row;
            c0 = c1 = a.col;
        }
        r0 = std::min(r0, a.row), r1 = std::max(r1, a.row);
        c0 = std::min(c0, a.col), c1 = std::max(c1, a.col);
    }
    ByteWriter w;
    w.u32(static_cast<std::uint32_t>(r0));
    w.u32(static_cast<std::uint32_t>(r1 + 1));   // one past the last, as stored
    w.u16(static_cast<std::uint16_t>(c0));
    w.u16(static_cast<std::uint16_t>(c1 + 1));
    w.u16(0);
    rec(rt::Dimensions, w);
}

void StreamWriter::row(const Sheet& s, int r, int firstCol, int lastCol)
{
    RowInfo info;
    info.height = s.defaultRowHeight;
    if (auto it = s.rows.find(r); it != s.rows.end())
        info = it->second;
    ByteWriter w;
    w.u16(static_cast<std::uint16_t>(r));
    w.u16(static_cast<std::uint16_t>(firstCol));
    w.u16(static_cast<std::uint16_t>(lastCol + 1));
    w.u16(info.height & 0x7FFF);
    w.u16(0);
    w.u16(0);
    w.u16(static_cast<std::uint16_t>(0x0100 | (info.options & 0x0017) | (info.hidden ? 0x20 : 0) | (info.customHeight ? 0x40 : 0)
                                     | (info.hasDefaultXf ? 0x80 : 0)));
    w.u16(static_cast<std::uint16_t>(((info.hasDefaultXf ? info.xf : 15) & 0x0FFF) | (info.options & 0x7000)));
    rec(rt::Row, w);
}

// Which cells go back as members of the sheet's array formulas, shared formulas and data
// tables: those whose formula still is the group's (a table's cells: still without one), when
// the group's first cell, which carries its record, still belongs to it.
void StreamWriter::planFormulaGroups(const Sheet& s)
{
    groups_.clear();
    // The cells present in a range, skipping from row to row.
    auto forCellsIn = [&s](const RangeAddress& range, auto&& f) {
        auto it = s.cells.lower_bound({range.firstRow, range.firstCol});
        while (it != s.cells.end() && it->first.row <= range.lastRow) {
            const CellAddress at = it->first;
            if (at.col < range.firstCol) {
                it = s.cells.lower_bound({at.row, range.firstCol});
            } else if (at.col > range.lastCol) {
                it = s.cells.lower_bound({at.row + 1, range.firstCol});
            } else {
                f(at, it->second);
                ++it;
            }
        }
    };
    for (std::size_t i = 0; i < s.arrayFormulas.size(); ++i) {
        const ArrayFormula& a = s.arrayFormulas[i];
        const Cell* first = s.find(a.range.firstRow, a.range.firstCol);
        if (!first || first->formula != a.formula || first->formulaData != a.formulaData)
            continue;
        forCellsIn(a.range, [&](const CellAddress& at, const Cell& c) {
            if (c.formula == a.formula && c.formulaData == a.formulaData)
                groups_.try_emplace(at, Group{Group::Array, i});
        });
    }
    for (std::size_t i = 0; i < s.sharedFormulas.size(); ++i) {
        const SharedFormula& f = s.sharedFormulas[i];
        if (!f.range.contains(f.master.row, f.master.col))
            continue;
        const Cell* master = s.find(f.master.row, f.master.col);
        if (!master || groups_.count(f.master)
            || master->formula != formula::expandShared(f.formula, f.master.row, f.master.col))
            continue;
        // The master goes first: the SHRFMLA record follows its FORMULA record.
        bool before = false;
        forCellsIn(f.range, [&](const CellAddress& at, const Cell& c) {
            if (at < f.master && c.isFormula() && c.formula == formula::expandShared(f.formula, at.row, at.col))
                before = true;
        });
        if (before)
            continue;
        forCellsIn(f.range, [&](const CellAddress& at, const Cell& c) {
            if (c.isFormula() && !groups_.count(at) && c.formula == formula::expandShared(f.formula, at.row, at.col))
                groups_.emplace(at, Group{Group::Shared, i});
        });
    }
    for (std::size_t i = 0; i < s.dataTables.size(); ++i) {
        const DataTable& t = s.dataTables[i];
        const Cell* first = s.find(t.range.firstRow, t.range.firstCol);
        if (!first || first->isFormula() || t.tokens.empty())
            continue;
        forCellsIn(t.range, [&](const CellAddress& at, const Cell& c) {
            if (!c.isFormula())
                groups_.try_emplace(at, Group{Group::Table, i});
        });
    }
}

void StreamWriter::cell(const Sheet& s, int r, int c, const Cell& cell)
{
    if (!groups_.empty()) {
        auto g = groups_.find({r, c});
        if (g != groups_.end()) {
            const Group& group = g->second;
            auto exp = [](const CellAddress& at) {
                return std::vector<std::uint8_t>{0x01, static_cast<std::uint8_t>(at.row), static_cast<std::uint8_t>(at.row >> 8),
                                                 static_cast<std::uint8_t>(at.col), static_cast<std::uint8_t>(at.col >> 8)};
            };
            switch (group.kind) {
            case Group::Array: {
                const ArrayFormula& a = s.arrayFormulas[group.index];
                formula(r, c, cell, exp({a.range.firstRow, a.range.firstCol}), false);
                if (r == a.range.firstRow && c == a.range.firstCol) {
                    ByteWriter w;
                    w.u16(static_cast<std::uint16_t>(a.range.firstRow));
                    w.u16(static_cast<std::uint16_t>(a.range.lastRow));
                    w.u8(static_cast<std::uint8_t>(a.range.firstCol));
                    w.u8(static_cast<std::uint8_t>(a.range.lastCol));
                    w.u16(a.options);
                    w.u32(0);
                    w.u16(static_cast<std::uint16_t>(a.formula.size()));
                    w.bytes(a.formula);
                    w.bytes(a.formulaData);
                    rec(rt::Array, w);
                }
                break;
            }
            case Group::Shared: {
                const SharedFormula& f = s.sharedFormulas[group.index];
                formula(r, c, cell, exp(f.master), true);
                if (r == f.master.row && c == f.master.col)
                    appendRecord(out_, rt::ShrFmla, f.record);
                break;
            }
            case Group::Table: {
                const DataTable& t = s.dataTables[group.index];
                formula(r, c, cell, t.tokens, false);
                if (r == t.range.firstRow && c == t.range.firstCol)
                    appendRecord(out_, rt::Table, t.record);
                break;
            }
            }
            // A text result's STRING record follows the ARRAY, SHRFMLA or TABLE record.
            if (cell.value.isText() && !cell.value.text().empty())
                longString(rt::String, cell.value.text());
            return;
        }
    }
    if (cell.isFormula()) {
        formula(r, c, cell, {}, false);
        if (cell.value.isText() && !cell.value.text().empty())
            longString(rt::String, cell.value.text());
        return;
    }
    ByteWriter& w = cellBody();
    w.u16(static_cast<std::uint16_t>(r));
    w.u16(static_cast<std::uint16_t>(c));
    w.u16(cell.xf);
    switch (cell.value.kind()) {
    case Value::Kind::Blank: rec(rt::Blank, w); break;
    case Value::Kind::Number:
        if (auto rk = encodeRk(cell.value.number())) {
            w.u32(*rk);
            rec(rt::Rk, w);
        } else {
            w.f64(cell.value.number());
            rec(rt::Number, w);
        }
        break;
    case Value::Kind::Text: w.u32(stringIndex_.at(cell.value.text())); rec(rt::LabelSst, w); break;
    case Value::Kind::Boolean: w.u8(cell.value.boolean() ? 1 : 0); w.u8(0); rec(rt::BoolErr, w); break;
    case Value::Kind::Error: w.u8(static_cast<std::uint8_t>(cell.value.error())); w.u8(1); rec(rt::BoolErr, w); break;
    }
}

// A FORMULA record with the cell's cached result; `tokens` replaces the cell's own tokens (a
// ptgExp or ptgTbl pointing at a group record) when not empty.
void StreamWriter::formula(int r, int c, const Cell& cell, std::span<const std::uint8_t> tokens, bool shared)
{
    ByteWriter& w = cellBody();
    w.u16(static_cast<std::uint16_t>(r));
    w.u16(static_cast<std::uint16_t>(c));
    w.u16(cell.xf);
    // Cached result: a number, or a typed marker in bytes 0 and 2 with 0xFFFF in bytes 6-7.
    const Value& v = cell.value;
    auto marker = [&w](std::uint8_t type, std::uint8_t value) {
        w.u8(type), w.u8(0), w.u8(value), w.u8(0), w.u8(0), w.u8(0), w.u8(0xFF), w.u8(0xFF);
    };
    const bool textResult = v.isText() && !v.text().empty();
    switch (v.kind()) {
    case Value::Kind::Number: w.f64(v.number()); break;
    case Value::Kind::Text: marker(textResult ? 0 : 3, 0); break;
    case Value::Kind::Boolean: marker(1, v.boolean() ? 1 : 0); break;
    case Value::Kind::Error: marker(2, static_cast<std::uint8_t>(v.error())); break;
    case Value::Kind::Blank: w.f64(0.0); break;   // never calculated
    }
    w.u16(static_cast<std::uint16_t>(0x0002 | (shared ? 0x0008 : 0)));   // fCalcOnLoad, fShrFmla
    w.u32(0);
    if (tokens.empty()) {
        w.u16(static_cast<std::uint16_t>(cell.formula.size()));
        w.bytes(cell.formula);
        w.bytes(cell.formulaData);
    } else {
        w.u16(static_cast<std::uint16_t>(tokens.size()));
        w.bytes(tokens);
    }
    rec(rt::Formula, w);
}

// An XLUnicodeString record whose characters go on in CONTINUE records, each restating the flags.
void StreamWriter::longString(std::uint16_t type, const std::string& utf8)
{
    std::u16string text = utf8ToUtf16(utf8);
    if (text.size() > 32767)
        text.resize(32767);
    const bool compressed = fitsCompressed(text);
    const std::size_t size = compressed ? 1 : 2;
    std::vector<std::uint8_t> body = {static_cast<std::uint8_t>(text.size()),
                                      static_cast<std::uint8_t>(text.size() >> 8), static_cast<std::uint8_t>(compressed ? 0 : 1)};
    std::uint16_t recType = type;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (body.size() + size > kMaxRecordData) {
            appendRecord(out_, recType, body);
            recType = rt::Continue;
            body = {static_cast<std::uint8_t>(compressed ? 0 : 1)};
        }
        body.push_back(static_cast<std::uint8_t>(text[i]));
        if (!compressed)
            body.push_back(static_cast<std::uint8_t>(text[i] >> 8));
    }
    appendRecord(out_, recType, body);
}

// Rows in blocks of 32: the block's ROW records, then its cells, as Excel lays them out.
void StreamWriter::cells(const Sheet& s)
{
    std::map<int, std::pair<int, int>> rowSpan;   // row -> first/last column
    for (const auto& [r, info] : s.rows)
        if (r >= 0 && r < kMaxRows)
            rowSpan[r] = {0, -1};
    for (const auto& [a, c] : s.cells) {
        auto [it, added] = rowSpan.try_emplace(a.row, a.col, a.col);
        if (!added) {
            if (it->second.second < 0)
                it->second = {a.col, a.col};
            it->second.first = std::min(it->second.first, a.col);
            it->second.second = std::max(it->second.second, a.col);
        }
    }
    auto rowIt = rowSpan.begin();
    auto cellIt = s.cells.begin();
    while (rowIt != rowSpan.end()) {
        const int blockEnd = (rowIt->first / 32 + 1) * 32;
        for (; rowIt != rowSpan.end() && rowIt->first < blockEnd; ++rowIt)
            row(s, rowIt->first, std::max(0, rowIt->second.first), rowIt->second.second);
        for (; cellIt != s.cells.end() && cellIt->first.row < blockEnd; ++cellIt)
            cell(s, cellIt->first.row, cellIt->first.col, cellIt->second);
    }
}

void StreamWriter::window2(const Sheet& s, bool active)
{
    // Flags the model does not name (zeros shown, formulas shown, page break preview ...) and
    // the zoom and header colour come from the record as read.
    std::uint16_t grbit = 0x0004 | 0x0010 | 0x0020 | 0x0080;   // headers, zeros, default header colour, outline symbols
    const RawRecord* kept = findKept(s, rt::Window2);
    if (kept && kept->data.size() >= 2)
        grbit = static_cast<std::uint16_t>((kept->data[0] | kept->data[1] << 8) & ~0x070A);
    if (s.showGridlines)
        grbit |= 0x0002;
    if (s.pane.frozen)
        grbit |= 0x0008 | 0x0100;
    if (active || s.selected)
        grbit |= 0x0200;
    if (active)
        grbit |= 0x0400;
    ByteWriter w;
    w.u16(grbit);
    w.u16(static_cast<std::uint16_t>(s.pane.frozen ? 0 : s.pane.topRow));
    w.u16(static_cast<std::uint16_t>(s.pane.frozen ? 0 : s.pane.leftCol));
    if (kept && kept->data.size() == 18) {
        w.bytes(std::span(kept->data).subspan(6));
    } else {
        w.u32(64);   // gridline colour: automatic
        w.u16(0);
        w.u16(0);
        w.u32(0);
    }
    rec(rt::Window2, w);
}

std::uint8_t activePaneOf(const Sheet& s)
{
    if (!s.pane.frozen)
        return 3;
    if (s.pane.splitRows > 0 && s.pane.splitCols > 0)
        return 0;
    return s.pane.splitRows > 0 ? 2 : 1;
}

void StreamWriter::pane(const Sheet& s)
{
    ByteWriter w;
    w.u16(static_cast<std::uint16_t>(s.pane.splitCols));
    w.u16(static_cast<std::uint16_t>(s.pane.splitRows));
    w.u16(static_cast<std::uint16_t>(std::max(s.pane.topRow, s.pane.splitRows)));
    w.u16(static_cast<std::uint16_t>(std::max(s.pane.leftCol, s.pane.splitCols)));
    w.u8(activePaneOf(s));
    w.u8(0);
    rec(rt::Pane, w);
}

// Whether the SELECTION records read with the sheet still say what the model says: the active
// pane's holds the active cell, and no record names a pane the sheet no longer has.
bool selectionsHold(const Sheet& s, std::uint8_t activePane)
{
    // Panes: 3 top left (the only one without a split), 2 bottom left, 1 top right, 0 bottom right.
    const bool rows = s.pane.frozen && s.pane.splitRows > 0, cols = s.pane.frozen && s.pane.splitCols > 0;
    const bool there[4] = {rows && cols, cols, rows, true};
    bool active = false;
    for (const RawRecord& r : s.selections) {
        if (r.type != rt::Selection || r.data.size() < 9)
            return false;
        const std::uint8_t pane = r.data[0];
        if (pane > 3 || !there[pane])
            return false;
        if (pane == activePane) {
            const int row = r.data[1] | r.data[2] << 8, col = r.data[3] | r.data[4] << 8;
            if (row != s.activeCell.row || col != s.activeCell.col)
                return false;
            active = true;
        }
    }
    return active;
}

void StreamWriter::selection(const Sheet& s)
{
    if (selectionsHold(s, activePaneOf(s))) {
        for (const RawRecord& r : s.selections)
            raw(r);
        return;
    }
    const int r = std::clamp(s.activeCell.row, 0, kMaxRows - 1), c = std::clamp(s.activeCell.col, 0, kMaxCols - 1);
    ByteWriter w;
    w.u8(activePaneOf(s));
    w.u16(static_cast<std::uint16_t>(r));
    w.u16(static_cast<std::uint16_t>(c));
    w.u16(0);
    w.u16(1);
    w.u16(static_cast<std::uint16_t>(r));
    w.u16(static_cast<std::uint16_t>(r));
    w.u8(static_cast<std::uint8_t>(c));
    w.u8(static_cast<std::uint8_t>(c));
    rec(rt::Selection, w);
}

void StreamWriter::mergedCells(const Sheet& s)
{
    // Excel puts at most 1026 ranges in one record.
    for (std::size_t i = 0; i < s.merged.size(); i += 1026) {
        const std::size_t n = std::min<std::size_t>(1026, s.merged.size() - i);
        ByteWriter w;
        w.u16(static_cast<std::uint16_t>(n));
        for (std::size_t k = i; k < i + n; ++k) {
            const RangeAddress& m = s.merged[k];
            w.u16(static_cast<std::uint16_t>(m.firstRow));
            w.u16(static_cast<std::uint16_t>(m.lastRow));
            w.u16(static_cast<std::uint16_t>(m.firstCol));
            w.u16(static_cast<std::uint16_t>(m.lastCol));
        }
        rec(rt::MergedCells, w);
    }
}

void StreamWriter::sheet(const Sheet& s, int index)
{
    static const std::vector<std::uint8_t> kZero16 = {0, 0}, kEmpty;
    auto placed16 = [&](std::uint16_t type, std::uint16_t v) {
        if (!findKept(s, type))
            rec16(type, v);
        else
            placedSheet(s, type, nullptr);
    };
    bof(0x0010);
    placed16(rt::CalcMode, 1);
    placed16(rt::CalcCount, 100);
    placed16(rt::RefMode, 1);
    placed16(rt::Iteration, 0);
    {
        ByteWriter w;
        w.f64(0.001);
        placedSheet(s, rt::Delta, &w.data());
    }
    placed16(rt::SaveRecalc, 1);
    placed16(rt::PrintHeaders, 0);
    placed16(rt::PrintGridlines, 0);
    placed16(rt::GridSet, 1);
    {
        ByteWriter w;
        w.zeros(8);
        placedSheet(s, rt::Guts, &w.data());
    }
    {
        ByteWriter w;
        w.u16(0);
        w.u16(s.defaultRowHeight);
        rec(rt::DefaultRowHeight, w);
    }
    {
        // The flags as read, with fit-to-page as the model says. The sheet is written as a
        // worksheet, so it never says it is a dialog sheet (a file with several WSBOOL records
        // may have said so in one the reader did not go by).
        std::uint16_t wsBool = 0x04C1;
        if (const RawRecord* kept = findKept(s, rt::WsBool); kept && kept->data.size() >= 2)
            wsBool = static_cast<std::uint16_t>(kept->data[0] | kept->data[1] << 8);
        wsBool &= static_cast<std::uint16_t>(~0x0010);
        rec16(rt::WsBool, static_cast<std::uint16_t>((wsBool & ~0x0100) | (s.page.fitToPage ? 0x0100 : 0)));
    }
    placedSheet(s, rt::Header, &kEmpty);
    placedSheet(s, rt::Footer, &kEmpty);
    placedSheet(s, rt::HCenter, &kZero16);
    placedSheet(s, rt::VCenter, &kZero16);
    for (std::uint16_t m : {rt::LeftMargin, rt::RightMargin, rt::TopMargin, rt::BottomMargin})
        placedSheet(s, m, nullptr);
    setup(s);
    extras(s.leadingRecords, isPlacedSheet);
    rec16(rt::DefColWidth, s.defaultColWidth);
    for (const ColumnInfo& c : s.columns)
        colInfo(c);
    dimensions(s);
    planFormulaGroups(s);
    cells(s);
    extras(s.extraRecords, isPlacedSheet);
    window2(s, index == wb_.activeSheet);
    placedSheet(s, rt::Scl, nullptr);
    if (s.pane.frozen)
        pane(s);
    selection(s);
    mergedCells(s);
    extras(s.trailingRecords, isPlacedSheet);
    rec(rt::Eof, ByteWriter{});
}

// A kept substream as it came, with the stream positions of its INDEX records moved to where it lands.
void StreamWriter::keptSheet(const KeptSheet& k)
{
    const std::size_t start = out_.size();
    out_.insert(out_.end(), k.substream.begin(), k.substream.end());
    RecordReader rr(std::span<const std::uint8_t>(out_).subspan(start));
    int depth = 0;
    while (!rr.atEnd()) {
        const std::size_t at = start + rr.position();
        const Record r = rr.next();
        if (r.type == rt::Bof)
            ++depth;
        else if (r.type == rt::Eof && --depth <= 0)
            break;
        else if (r.type == rt::Index && depth == 1)
            for (std::size_t p = at + 4 + 12; p + 4 <= at + 4 + r.data.size(); p += 4) {
                std::uint32_t v = out_[p] | std::uint32_t(out_[p + 1]) << 8 | std::uint32_t(out_[p + 2]) << 16
                    | std::uint32_t(out_[p + 3]) << 24;
                v += static_cast<std::uint32_t>(start);
                for (int b = 0; b < 4; ++b)
                    out_[p + b] = static_cast<std::uint8_t>(v >> (8 * b));
            }
    }
}

// ---------------------------------------------------------------- the stream

std::vector<std::uint8_t> StreamWriter::write()
{
    if (wb_.sheets.empty())
        throw FormatError("BIFF8: a workbook needs at least one sheet");
    tabs_ = wb_.tabs();
    collectStrings();
    static const std::vector<std::uint8_t> kZero16 = {0, 0};

    bof(0x0005);
    rec16(rt::InterfaceHdr, 1200);
    rec16(rt::Mms, 0);
    rec(rt::InterfaceEnd, ByteWriter{});
    rec16(rt::CodePage, 1200);   // BIFF8 strings are Unicode whatever the file said
    rec16(rt::Dsf, 0);
    {
        ByteWriter w;
        for (std::size_t i = 0; i < tabs_.size(); ++i)
            w.u16(static_cast<std::uint16_t>(i + 1));
        rec(rt::TabId, w);
    }
    placed(wb_.extraGlobals, rt::WindowProtect, &kZero16);
    placed(wb_.extraGlobals, rt::Protect, &kZero16);
    placed(wb_.extraGlobals, rt::Password, &kZero16);
    window1();
    placed(wb_.extraGlobals, rt::Backup, &kZero16);
    placed(wb_.extraGlobals, rt::HideObj, &kZero16);
    rec16(rt::DateMode, wb_.date1904 ? 1 : 0);
    {
        static const std::vector<std::uint8_t> kOne16 = {1, 0};
        placed(wb_.extraGlobals, rt::Precision, &kOne16);
    }
    placed(wb_.extraGlobals, rt::RefreshAll, &kZero16);
    placed(wb_.extraGlobals, rt::BookBool, &kZero16);

    const Workbook defaults = (wb_.fonts.empty() || wb_.xfs.empty()) ? Workbook::makeDefault() : Workbook{};
    for (const Font& f : wb_.fonts.empty() ? defaults.fonts : wb_.fonts)
        font(f);
    for (const auto& [index, code] : wb_.formats)
        format(index, code);
    for (const Xf& x : wb_.xfs.empty() ? defaults.xfs : wb_.xfs)
        xf(x);
    for (const RawRecord& s : wb_.xfs.empty() ? defaults.styles : wb_.styles)
        raw(s);
    if (!wb_.palette.empty())
        palette();
    extras(wb_.extraGlobals, isPlacedGlobal);
    rec16(rt::UsesElfs, 0);

    std::vector<std::size_t> sheetOffsetAt;
    for (const int t : tabs_) {
        if (t >= 0) {
            const Sheet& s = wb_.sheets[static_cast<std::size_t>(t)];
            sheetOffsetAt.push_back(boundSheet(s.name, s.visibility, 0));
        } else {
            const KeptSheet& k = wb_.keptSheets[static_cast<std::size_t>(-t - 1)];
            sheetOffsetAt.push_back(boundSheet(k.name, k.visibility, k.type));
        }
    }
    {
        ByteWriter w;
        w.u16(1);
        w.u16(1);
        rec(rt::Country, w);
    }
    linkTable();
    for (const DefinedName& n : wb_.names)
        name(n);
    extras(wb_.globalsAfterSheets, isPlacedGlobal);
    sst();
    extras(wb_.globalsAfterStrings, isPlacedGlobal);
    rec(rt::Eof, ByteWriter{});

    for (std::size_t i = 0; i < tabs_.size(); ++i) {
        const auto at = static_cast<std::uint32_t>(out_.size());
        for (int k = 0; k < 4; ++k)
            out_[sheetOffsetAt[i] + k] = static_cast<std::uint8_t>(at >> (8 * k));
        if (tabs_[i] >= 0)
            sheet(wb_.sheets[static_cast<std::size_t>(tabs_[i])], tabs_[i]);
        else
            keptSheet(wb_.keptSheets[static_cast<std::size_t>(-tabs_[i] - 1)]);
    }
    return std::move(out_);
}

} // namespace

std::vector<std::uint8_t> writeWorkbookStream(const Workbook& wb)
{
    return StreamWriter(wb).write();
}

} // namespace ss::xls
