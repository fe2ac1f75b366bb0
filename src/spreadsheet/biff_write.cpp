// Workbook -> BIFF8 Workbook stream, records in the order Excel 2003 writes them.
// One small function per record.
#include "spreadsheet/biff_stream.h"
#include "spreadsheet/error.h"
#include "spreadsheet/xls.h"

#include <algorithm>
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
    // Records Excel expects at a fixed place: a kept copy if the workbook was read with one,
    // else the default body. Returns whether a kept copy was written.
    bool placed(const std::vector<RawRecord>& extras, std::uint16_t type, const std::vector<std::uint8_t>* fallback);
    static bool isPlacedGlobal(std::uint16_t t);
    static bool isPlacedSheet(std::uint16_t t);
    void extras(const std::vector<RawRecord>& list, bool (*isPlaced)(std::uint16_t));

    void collectStrings();
    void bof(std::uint16_t type);
    void window1();
    void font(const Font& f);
    void format(std::uint16_t index, const std::string& code);
    void xf(const Xf& x);
    void palette();
    std::size_t boundSheet(const Sheet& s);
    void supBookAndExternSheet();
    void name(const DefinedName& n);
    void sst();

    void sheet(const Sheet& s, int index);
    void setup(const Sheet& s);
    void colInfo(const ColumnInfo& c);
    void dimensions(const Sheet& s);
    void cells(const Sheet& s);
    void row(const Sheet& s, int r, int firstCol, int lastCol);
    void cell(int r, int c, const Cell& cell);
    void formula(int r, int c, const Cell& cell);
    void longString(std::uint16_t type, const std::string& text);
    void window2(const Sheet& s, bool active);
    void pane(const Sheet& s);
    void selection(const Sheet& s);
    void mergedCells(const Sheet& s);

    const Workbook& wb_;
    std::vector<std::uint8_t> out_;
    std::vector<std::string> strings_;
    std::unordered_map<std::string, std::uint32_t> stringIndex_;
    std::uint32_t stringRefs_ = 0;
};

// ---------------------------------------------------------------- helpers

bool StreamWriter::isPlacedGlobal(std::uint16_t t)
{
    return t == rt::WindowProtect || t == rt::Protect || t == rt::Password;
}

bool StreamWriter::isPlacedSheet(std::uint16_t t)
{
    return t == rt::Header || t == rt::Footer || t == rt::HCenter || t == rt::VCenter || t == rt::LeftMargin
        || t == rt::RightMargin || t == rt::TopMargin || t == rt::BottomMargin || t == rt::Scl;
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
    for (const RawRecord& r : list) {
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
    ByteWriter w;
    w.u16(0x0168);
    w.u16(0x010E);
    w.u16(0x3A5C);
    w.u16(0x23BE);
    w.u16(0x0038);   // horizontal and vertical scroll bars, sheet tabs
    w.u16(static_cast<std::uint16_t>(std::clamp(wb_.activeSheet, 0, std::max(0, int(wb_.sheets.size()) - 1))));
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

std::size_t StreamWriter::boundSheet(const Sheet& s)
{
    ByteWriter w;
    w.u32(0);   // patched once the sheet's place is known
    w.u8(0);
    w.u8(0);
    writeUnicodeString(w, s.name, 1);
    const std::size_t at = out_.size() + 4;
    rec(rt::BoundSheet, w);
    return at;
}

// One EXTERNSHEET entry per sheet, all in this workbook: entry i is sheet i.
void StreamWriter::supBookAndExternSheet()
{
    ByteWriter sb;
    sb.u16(static_cast<std::uint16_t>(wb_.sheets.size()));
    sb.u16(0x0401);
    rec(rt::SupBook, sb);
    ByteWriter es;
    es.u16(static_cast<std::uint16_t>(wb_.sheets.size()));
    for (std::size_t i = 0; i < wb_.sheets.size(); ++i) {
        es.u16(0);
        es.u16(static_cast<std::uint16_t>(i));
        es.u16(static_cast<std::uint16_t>(i));
    }
    rec(rt::ExternSheet, es);
}

void StreamWriter::name(const DefinedName& n)
{
    std::u16string text = utf8ToUtf16(n.name);
    if (text.size() > 255)
        text.resize(255);
    ByteWriter w;
    w.u16(static_cast<std::uint16_t>(n.options | (n.builtin ? 0x0020 : 0)));
    w.u8(0);
    w.u8(static_cast<std::uint8_t>(text.size()));
    w.u16(static_cast<std::uint16_t>(n.formula.size()));
    w.u16(0);
    w.u16(static_cast<std::uint16_t>(n.sheetIndex));
    w.zeros(4);
    writeUnicodeStringNoCch(w, text);
    w.bytes(n.formula);
    rec(rt::Name, w);
}

void StreamWriter::sst()
{
    const SstRecords sst = buildSst(strings_, stringRefs_);
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
    w.u16(static_cast<std::uint16_t>(0x0100 | (info.hidden ? 0x20 : 0) | (info.customHeight ? 0x40 : 0)
                                     | (info.hasDefaultXf ? 0x80 : 0)));
    w.u16(static_cast<std::uint16_t>((info.hasDefaultXf ? info.xf : 15) & 0x0FFF));
    rec(rt::Row, w);
}

void StreamWriter::cell(int r, int c, const Cell& cell)
{
    if (cell.isFormula()) {
        formula(r, c, cell);
        return;
    }
    ByteWriter w;
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

void StreamWriter::formula(int r, int c, const Cell& cell)
{
    ByteWriter w;
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
    w.u16(0x0002);   // fCalcOnLoad: readers that recalculate do so on opening
    w.u32(0);
    w.u16(static_cast<std::uint16_t>(cell.formula.size()));
    w.bytes(cell.formula);
    rec(rt::Formula, w);
    if (textResult)
        longString(rt::String, v.text());
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
            cell(cellIt->first.row, cellIt->first.col, cellIt->second);
    }
}

void StreamWriter::window2(const Sheet& s, bool active)
{
    std::uint16_t grbit = 0x0004 | 0x0010 | 0x0020 | 0x0080;   // headers, zeros, default header colour, outline symbols
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
    w.u32(64);   // gridline colour: automatic
    w.u16(0);
    w.u16(0);
    w.u32(0);
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

void StreamWriter::selection(const Sheet& s)
{
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
    bof(0x0010);
    rec16(rt::CalcMode, 1);
    rec16(rt::CalcCount, 100);
    rec16(rt::RefMode, 1);
    rec16(rt::Iteration, 0);
    {
        ByteWriter w;
        w.f64(0.001);
        rec(rt::Delta, w);
    }
    rec16(rt::SaveRecalc, 1);
    rec16(rt::PrintHeaders, 0);
    rec16(rt::PrintGridlines, 0);
    rec16(rt::GridSet, 1);
    {
        ByteWriter w;
        w.zeros(8);
        rec(rt::Guts, w);
    }
    {
        ByteWriter w;
        w.u16(0);
        w.u16(s.defaultRowHeight);
        rec(rt::DefaultRowHeight, w);
    }
    rec16(rt::WsBool, static_cast<std::uint16_t>(0x04C1 | (s.page.fitToPage ? 0x0100 : 0)));
    placed(s.extraRecords, rt::Header, &kEmpty);
    placed(s.extraRecords, rt::Footer, &kEmpty);
    placed(s.extraRecords, rt::HCenter, &kZero16);
    placed(s.extraRecords, rt::VCenter, &kZero16);
    for (std::uint16_t m : {rt::LeftMargin, rt::RightMargin, rt::TopMargin, rt::BottomMargin})
        placed(s.extraRecords, m, nullptr);
    setup(s);
    rec16(rt::DefColWidth, s.defaultColWidth);
    for (const ColumnInfo& c : s.columns)
        colInfo(c);
    dimensions(s);
    cells(s);
    extras(s.extraRecords, isPlacedSheet);
    window2(s, index == wb_.activeSheet);
    placed(s.extraRecords, rt::Scl, nullptr);
    if (s.pane.frozen)
        pane(s);
    selection(s);
    mergedCells(s);
    rec(rt::Eof, ByteWriter{});
}

// ---------------------------------------------------------------- the stream

std::vector<std::uint8_t> StreamWriter::write()
{
    if (wb_.sheets.empty())
        throw FormatError("BIFF8: a workbook needs at least one sheet");
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
        for (std::size_t i = 0; i < wb_.sheets.size(); ++i)
            w.u16(static_cast<std::uint16_t>(i + 1));
        rec(rt::TabId, w);
    }
    placed(wb_.extraGlobals, rt::WindowProtect, &kZero16);
    placed(wb_.extraGlobals, rt::Protect, &kZero16);
    placed(wb_.extraGlobals, rt::Password, &kZero16);
    window1();
    rec16(rt::Backup, 0);
    rec16(rt::HideObj, 0);
    rec16(rt::DateMode, wb_.date1904 ? 1 : 0);
    rec16(rt::Precision, 1);
    rec16(rt::RefreshAll, 0);
    rec16(rt::BookBool, 0);

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
    for (const Sheet& s : wb_.sheets)
        sheetOffsetAt.push_back(boundSheet(s));
    {
        ByteWriter w;
        w.u16(1);
        w.u16(1);
        rec(rt::Country, w);
    }
    if (!wb_.names.empty()) {
        supBookAndExternSheet();
        for (const DefinedName& n : wb_.names)
            name(n);
    }
    sst();
    rec(rt::Eof, ByteWriter{});

    for (std::size_t i = 0; i < wb_.sheets.size(); ++i) {
        const auto at = static_cast<std::uint32_t>(out_.size());
        for (int k = 0; k < 4; ++k)
            out_[sheetOffsetAt[i] + k] = static_cast<std::uint8_t>(at >> (8 * k));
        sheet(wb_.sheets[i], static_cast<int>(i));
    }
    return std::move(out_);
}

} // namespace

std::vector<std::uint8_t> writeWorkbookStream(const Workbook& wb)
{
    return StreamWriter(wb).write();
}

} // namespace ss::xls
