#include "spreadsheet/model.h"

#include "spreadsheet/biff_stream.h"

#include <algorithm>
#include <array>

namespace ss {

// ---------------------------------------------------------------- Sheet

Cell* Sheet::find(int row, int col)
{
    auto it = cells.find({row, col});
    return it == cells.end() ? nullptr : &it->second;
}

const Cell* Sheet::find(int row, int col) const
{
    auto it = cells.find({row, col});
    return it == cells.end() ? nullptr : &it->second;
}

Cell& Sheet::at(int row, int col)
{
    return cells[{row, col}];
}

void Sheet::erase(int row, int col)
{
    cells.erase({row, col});
}

std::uint16_t Sheet::columnWidth(int col) const
{
    for (const ColumnInfo& c : columns)
        if (col >= c.firstCol && col <= c.lastCol)
            return c.width;
    // Excel widens DEFCOLWIDTH characters by the cell padding and rounds up to 8 pixels,
    // with the 7-pixel digit of Arial 10: 8 characters give the familiar 2340.
    const int pixels = (defaultColWidth * 7 + 5 + 7) / 8 * 8;
    return static_cast<std::uint16_t>(std::min(65535, pixels * 256 / 7));
}

std::uint16_t Sheet::rowHeight(int row) const
{
    auto it = rows.find(row);
    return it == rows.end() ? defaultRowHeight : it->second.height;
}

std::optional<RangeAddress> Sheet::usedRange() const
{
    std::optional<RangeAddress> r;
    for (const auto& [a, cell] : cells) {
        // A blank that only at() created, with the default format, is not in use.
        if (cell.value.isBlank() && !cell.isFormula() && cell.xf == 15)
            continue;
        if (!r) {
            r = RangeAddress{a.row, a.col, a.row, a.col};
            continue;
        }
        r->firstRow = std::min(r->firstRow, a.row);
        r->lastRow = std::max(r->lastRow, a.row);
        r->firstCol = std::min(r->firstCol, a.col);
        r->lastCol = std::max(r->lastCol, a.col);
    }
    return r;
}

// ---------------------------------------------------------------- Workbook

namespace {

RawRecord builtinStyle(std::uint16_t xf, std::uint8_t style)
{
    return RawRecord{biff::rt::Style, {static_cast<std::uint8_t>(xf), static_cast<std::uint8_t>(0x80 | xf >> 8), style, 0xFF}};
}

bool sameXf(const Xf& a, const Xf& b)
{
    return a.fontIndex == b.fontIndex && a.formatIndex == b.formatIndex && a.locked == b.locked
        && a.hidden == b.hidden && a.isStyle == b.isStyle && a.parent == b.parent && a.hAlign == b.hAlign
        && a.wrap == b.wrap && a.vAlign == b.vAlign && a.rotation == b.rotation && a.indent == b.indent
        && a.shrink == b.shrink && a.usedAttributes == b.usedAttributes && a.left == b.left
        && a.right == b.right && a.top == b.top && a.bottom == b.bottom && a.fillPattern == b.fillPattern
        && a.fillForeColor == b.fillForeColor && a.fillBackColor == b.fillBackColor && a.raw == b.raw;
}

bool sameFont(const Font& a, const Font& b)
{
    return a.height == b.height && a.italic == b.italic && a.strikeout == b.strikeout
        && a.colorIndex == b.colorIndex && a.weight == b.weight && a.escapement == b.escapement
        && a.underline == b.underline && a.family == b.family && a.charset == b.charset && a.name == b.name;
}

} // namespace

Workbook Workbook::makeDefault()
{
    Workbook wb;
    Font arial;
    arial.height = 200;
    arial.name = "Arial";
    wb.fonts.assign(4, arial);

    // The style XFs of a new Excel workbook: Normal, then 14 outline-level styles.
    for (int i = 0; i < 15; ++i) {
        Xf x;
        x.isStyle = true;
        x.parent = 0xFFF;
        x.fontIndex = (i == 1 || i == 2) ? 1 : (i == 3 || i == 4) ? 2 : 0;
        x.usedAttributes = i == 0 ? 0x00 : 0x3D;   // for style XFs the flags mean "not in this style"
        wb.xfs.push_back(x);
    }
    Xf cell;   // XF 15, the format of every cell that has none of its own
    wb.xfs.push_back(cell);
    // Comma, Comma [0], Currency, Currency [0], Percent
    for (std::uint16_t fmt : {43, 41, 44, 42, 9}) {
        Xf x;
        x.isStyle = true;
        x.parent = 0xFFF;
        x.fontIndex = 1;
        x.formatIndex = fmt;
        x.usedAttributes = 0x3E;
        wb.xfs.push_back(x);
    }
    wb.styles = {builtinStyle(16, 3), builtinStyle(17, 6), builtinStyle(18, 4), builtinStyle(19, 7),
                 builtinStyle(0, 0), builtinStyle(20, 5)};
    wb.codepage = 1200;
    wb.date1904 = false;
    return wb;
}

const Font& Workbook::font(std::uint16_t biffIndex) const
{
    static const Font fallback = [] { Font f; f.height = 200; return f; }();
    std::size_t i = biffIndex >= 4 ? biffIndex - 1u : biffIndex;
    if (biffIndex == 4 || i >= fonts.size())
        return fonts.empty() ? fallback : fonts[0];
    return fonts[i];
}

std::uint16_t Workbook::addFont(const Font& f)
{
    const auto toBiff = [](std::size_t i) { return static_cast<std::uint16_t>(i >= 4 ? i + 1 : i); };
    for (std::size_t i = 0; i < fonts.size(); ++i)
        if (sameFont(fonts[i], f))
            return toBiff(i);
    fonts.push_back(f);
    return toBiff(fonts.size() - 1);
}

std::uint16_t Workbook::addFormat(const std::string& code)
{
    for (const auto& [index, text] : formats)
        if (text == code)
            return index;
    for (std::uint16_t i = 0; i < 50; ++i)
        if (!formats.count(i) && builtinFormatCode(i) == code)
            return i;
    std::uint16_t next = 164;
    if (!formats.empty())
        next = std::max<std::uint16_t>(next, static_cast<std::uint16_t>(formats.rbegin()->first + 1));
    formats[next] = code;
    return next;
}

std::uint16_t Workbook::addXf(const Xf& xf)
{
    // Cells share one XF per distinct look, as Excel does; the standard XFs below 15 stay apart.
    for (std::size_t i = 15; i < xfs.size(); ++i)
        if (sameXf(xfs[i], xf))
            return static_cast<std::uint16_t>(i);
    xfs.push_back(xf);
    return static_cast<std::uint16_t>(xfs.size() - 1);
}

std::string Workbook::formatCode(std::uint16_t index) const
{
    auto it = formats.find(index);
    if (it != formats.end())
        return it->second;
    std::string code = builtinFormatCode(index);
    return code.empty() ? "General" : code;
}

std::uint32_t defaultPaletteRgb(int index)
{
    // [MS-XLS] 2.5.161: the default palette of indexes 8-63.
    static constexpr std::array<std::uint32_t, 56> kDefault = {
        0x000000, 0xFFFFFF, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00, 0xFF00FF, 0x00FFFF,
        0x800000, 0x008000, 0x000080, 0x808000, 0x800080, 0x008080, 0xC0C0C0, 0x808080,
        0x9999FF, 0x993366, 0xFFFFCC, 0xCCFFFF, 0x660066, 0xFF8080, 0x0066CC, 0xCCCCFF,
        0x000080, 0xFF00FF, 0xFFFF00, 0x00FFFF, 0x800080, 0x800000, 0x008080, 0x0000FF,
        0x00CCFF, 0xCCFFFF, 0xCCFFCC, 0xFFFF99, 0x99CCFF, 0xFF99CC, 0xCC99FF, 0xFFCC99,
        0x3366FF, 0x33CCCC, 0x99CC00, 0xFFCC00, 0xFF9900, 0xFF6600, 0x666699, 0x969696,
        0x003366, 0x339966, 0x003300, 0x333300, 0x993300, 0x993366, 0x333399, 0x333333,
    };
    return index >= 8 && index < 64 ? kDefault[static_cast<std::size_t>(index - 8)] : 0x000000;
}

std::uint32_t Workbook::colorRgb(std::uint16_t index) const
{
    if (index < 8)
        return defaultPaletteRgb(index + 8);
    if (index < 64) {
        const std::size_t i = index - 8u;
        return i < palette.size() ? palette[i] & 0xFFFFFF : defaultPaletteRgb(index);
    }
    if (index == 65)   // window background
        return 0xFFFFFF;
    return 0x000000;   // 64 window text, 0x7FFF automatic, other system colours
}

Sheet* Workbook::sheet(const std::string& name)
{
    for (Sheet& s : sheets)
        if (s.name == name)
            return &s;
    return nullptr;
}

std::vector<int> Workbook::tabs() const
{
    const int count = static_cast<int>(sheets.size());
    const int kept = static_cast<int>(keptSheets.size());
    std::vector<char> seenSheet(sheets.size(), 0), seenKept(keptSheets.size(), 0);
    std::vector<int> out;
    for (const int t : tabOrder) {
        if (t >= 0 && t < count && !seenSheet[static_cast<std::size_t>(t)]) {
            seenSheet[static_cast<std::size_t>(t)] = 1;
            out.push_back(t);
        } else if (t < 0 && -t - 1 < kept && !seenKept[static_cast<std::size_t>(-t - 1)]) {
            seenKept[static_cast<std::size_t>(-t - 1)] = 1;
            out.push_back(t);
        }
    }
    for (int i = 0; i < count; ++i)
        if (!seenSheet[static_cast<std::size_t>(i)])
            out.push_back(i);
    for (int i = 0; i < kept; ++i)
        if (!seenKept[static_cast<std::size_t>(i)])
            out.push_back(-i - 1);
    return out;
}

int Workbook::sheetOfTab(int tab) const
{
    if (tabOrder.empty())
        return tab >= 0 && tab < static_cast<int>(sheets.size()) ? tab : -1;
    const std::vector<int> order = tabs();
    return tab >= 0 && tab < static_cast<int>(order.size()) && order[static_cast<std::size_t>(tab)] >= 0
        ? order[static_cast<std::size_t>(tab)]
        : -1;
}

std::uint16_t Workbook::externSheetIndex(int sheet)
{
    if (externSheets.empty() && supBooks.empty())
        return static_cast<std::uint16_t>(sheet);   // the table written by default: entry i is sheet i
    std::size_t self = supBooks.size();
    for (std::size_t i = 0; i < supBooks.size(); ++i)
        if (supBooks[i] == SupBookKind::Self) {
            self = i;
            break;
        }
    if (self == supBooks.size())
        supBooks.push_back(SupBookKind::Self);
    for (std::size_t i = 0; i < externSheets.size(); ++i) {
        const ExternSheet& x = externSheets[i];
        if (x.supBook == self && x.firstSheet == sheet && x.lastSheet == sheet)
            return static_cast<std::uint16_t>(i);
    }
    const auto s = static_cast<std::uint16_t>(sheet);
    externSheets.push_back(ExternSheet{static_cast<std::uint16_t>(self), s, s});
    return static_cast<std::uint16_t>(externSheets.size() - 1);
}

std::string builtinFormatCode(std::uint16_t index)
{
    // [MS-XLS] 2.4.126 with the United States currency and date forms.
    static const char* const kCodes[50] = {
        "General", "0", "0.00", "#,##0", "#,##0.00",
        "\"$\"#,##0_);(\"$\"#,##0)", "\"$\"#,##0_);[Red](\"$\"#,##0)",
        "\"$\"#,##0.00_);(\"$\"#,##0.00)", "\"$\"#,##0.00_);[Red](\"$\"#,##0.00)",
        "0%", "0.00%", "0.00E+00", "# ?/?", "# ?\?/?\?",
        "m/d/yy", "d-mmm-yy", "d-mmm", "mmm-yy", "h:mm AM/PM", "h:mm:ss AM/PM", "h:mm", "h:mm:ss",
        "m/d/yy h:mm",
        // 23-36 are reserved for East Asian versions; elsewhere Excel shows them as General.
        "General", "General", "General", "General", "General", "General", "General",
        "General", "General", "General", "General", "General", "General", "General",
        "#,##0_);(#,##0)", "#,##0_);[Red](#,##0)", "#,##0.00_);(#,##0.00)", "#,##0.00_);[Red](#,##0.00)",
        "_(* #,##0_);_(* (#,##0);_(* \"-\"_);_(@_)",
        "_(\"$\"* #,##0_);_(\"$\"* (#,##0);_(\"$\"* \"-\"_);_(@_)",
        "_(* #,##0.00_);_(* (#,##0.00);_(* \"-\"?\?_);_(@_)",
        "_(\"$\"* #,##0.00_);_(\"$\"* (#,##0.00);_(\"$\"* \"-\"?\?_);_(@_)",
        "mm:ss", "[h]:mm:ss", "mm:ss.0", "##0.0E+0", "@",
    };
    return index < 50 ? kCodes[index] : std::string();
}

} // namespace ss
