#include "spreadsheet/xlsx_write.h"

#include "spreadsheet/address.h"
#include "spreadsheet/error.h"
#include "spreadsheet/formula.h"

#include <zip.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <regex>
#include <string_view>
#include <unordered_map>

// Part names, relationship types and element order follow ECMA-376 Part 1 (SpreadsheetML);
// each function below writes one part, or one element family of a part.

namespace ss::xlsx {

namespace {

constexpr const char* kXmlHead = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
constexpr const char* kMain = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
constexpr const char* kRelNs = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
constexpr const char* kPkgRelNs = "http://schemas.openxmlformats.org/package/2006/relationships";
constexpr const char* kRelBase = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";

std::string attr(const char* name, const std::string& value) { return std::string(" ") + name + "=\"" + escapeXml(value) + "\""; }
std::string attr(const char* name, long long value) { return std::string(" ") + name + "=\"" + std::to_string(value) + "\""; }

// Shortest text that reads back as the same double.
std::string numberText(double v)
{
    char buf[32];
    for (int precision = 15; precision <= 17; ++precision) {
        std::snprintf(buf, sizeof buf, "%.*g", precision, v);
        if (std::strtod(buf, nullptr) == v)
            break;
    }
    return buf;
}

std::string points(double twips) { return numberText(twips / 20.0); }

std::string argb(std::uint32_t rgb)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "FF%06X", static_cast<unsigned>(rgb & 0xFFFFFF));
    return buf;
}

// A palette colour as a colour element: system colours stay indexed, the rest become RGB.
std::string colorElement(const char* element, const Workbook& wb, std::uint16_t index)
{
    if (index >= 64)
        return std::string("<") + element + attr("indexed", index == 0x7FFF ? 64 : index) + "/>";
    return std::string("<") + element + attr("rgb", argb(wb.colorRgb(index))) + "/>";
}

// ------------------------------------------------------------------ styles

const char* patternName(std::uint8_t pattern)
{
    static const char* const kNames[] = {"none", "solid", "mediumGray", "darkGray", "lightGray", "darkHorizontal",
        "darkVertical", "darkDown", "darkUp", "darkGrid", "darkTrellis", "lightHorizontal", "lightVertical",
        "lightDown", "lightUp", "lightGrid", "lightTrellis", "gray125", "gray0625"};
    return pattern < std::size(kNames) ? kNames[pattern] : "solid";
}

const char* borderStyleName(std::uint8_t style)
{
    static const char* const kNames[] = {"none", "thin", "medium", "dashed", "dotted", "thick", "double", "hair",
        "mediumDashed", "dashDot", "mediumDashDot", "dashDotDot", "mediumDashDotDot", "slantDashDot"};
    return style < std::size(kNames) ? kNames[style] : "thin";
}

const char* hAlignName(HAlign a)
{
    switch (a) {
    case HAlign::Left: return "left";
    case HAlign::Center: return "center";
    case HAlign::Right: return "right";
    case HAlign::Fill: return "fill";
    case HAlign::Justify: return "justify";
    case HAlign::CenterAcross: return "centerContinuous";
    default: return nullptr;
    }
}

const char* vAlignName(VAlign a)
{
    switch (a) {
    case VAlign::Top: return "top";
    case VAlign::Center: return "center";
    case VAlign::Justify: return "justify";
    default: return nullptr;   // bottom is the default
    }
}

// Built-in number formats every reader knows by id without a locale; the others (currency and
// date forms that depend on the locale, and the workbook's own codes) are written out.
bool universalBuiltin(std::uint16_t id)
{
    return id <= 4 || (id >= 9 && id <= 22) || (id >= 37 && id <= 40) || (id >= 45 && id <= 49);
}

// Gathers the distinct fonts, fills and borders of the cell formats, each written once.
struct StyleTables {
    std::vector<std::string> fonts, fills, borders;
    std::vector<std::string> cellXfs;
    std::vector<int> xfMap;                        // model XF index -> cellXfs index
    std::map<std::uint16_t, std::string> numFmts;  // written number formats

    int intern(std::vector<std::string>& table, const std::string& xml)
    {
        for (std::size_t i = 0; i < table.size(); ++i)
            if (table[i] == xml)
                return static_cast<int>(i);
        table.push_back(xml);
        return static_cast<int>(table.size() - 1);
    }
};

std::string fontXml(const Workbook& wb, const Font& f)
{
    std::string s = "<font>";
    if (f.bold())
        s += "<b/>";
    if (f.italic)
        s += "<i/>";
    if (f.strikeout)
        s += "<strike/>";
    if (f.underline) {
        const char* u = f.underline == 2 ? "double" : f.underline == 0x21 ? "singleAccounting" : f.underline == 0x22 ? "doubleAccounting" : nullptr;
        s += u ? std::string("<u") + attr("val", u) + "/>" : "<u/>";
    }
    if (f.escapement == 1 || f.escapement == 2)
        s += std::string("<vertAlign") + attr("val", f.escapement == 1 ? "superscript" : "subscript") + "/>";
    s += "<sz" + attr("val", numberText(f.height / 20.0)) + "/>";
    if (f.colorIndex != 0x7FFF && f.colorIndex != 64)
        s += colorElement("color", wb, f.colorIndex);
    s += "<name" + attr("val", f.name) + "/>";
    if (f.family)
        s += "<family" + attr("val", f.family) + "/>";
    if (f.charset)
        s += "<charset" + attr("val", f.charset) + "/>";
    return s + "</font>";
}

std::string fillXml(const Workbook& wb, const Xf& xf)
{
    if (xf.fillPattern == 0)
        return "<fill><patternFill patternType=\"none\"/></fill>";
    std::string s = std::string("<fill><patternFill") + attr("patternType", patternName(xf.fillPattern)) + ">";
    s += colorElement("fgColor", wb, xf.fillForeColor);
    s += colorElement("bgColor", wb, xf.fillBackColor);
    return s + "</patternFill></fill>";
}

std::string borderSide(const Workbook& wb, const char* side, const Border& b)
{
    if (b.style == 0)
        return std::string("<") + side + "/>";
    return std::string("<") + side + attr("style", borderStyleName(b.style)) + ">" + colorElement("color", wb, b.colorIndex)
        + "</" + side + ">";
}

std::string borderXml(const Workbook& wb, const Xf& xf)
{
    return "<border>" + borderSide(wb, "left", xf.left) + borderSide(wb, "right", xf.right) + borderSide(wb, "top", xf.top)
        + borderSide(wb, "bottom", xf.bottom) + "<diagonal/></border>";
}

int fontSlot(const Workbook& wb, std::uint16_t biffIndex)
{
    // BIFF has no font 4: indexes above it are one further along the stored list.
    const int slot = biffIndex < 4 ? biffIndex : biffIndex - 1;
    return slot < static_cast<int>(wb.fonts.size()) ? slot : 0;
}

StyleTables buildStyles(const Workbook& wb)
{
    StyleTables t;
    for (const Font& f : wb.fonts)
        t.fonts.push_back(fontXml(wb, f));
    if (t.fonts.empty())
        t.fonts.push_back(fontXml(wb, Font{}));
    // The two fills every package starts with.
    t.fills = {"<fill><patternFill patternType=\"none\"/></fill>", "<fill><patternFill patternType=\"gray125\"/></fill>"};
    t.borders = {"<border><left/><right/><top/><bottom/><diagonal/></border>"};

    auto xfXml = [&](const Xf& xf) {
        const int font = wb.fonts.empty() ? 0 : fontSlot(wb, xf.fontIndex);
        const int fill = t.intern(t.fills, fillXml(wb, xf));
        const int border = t.intern(t.borders, borderXml(wb, xf));
        const std::uint16_t fmt = xf.formatIndex;
        if (fmt != 0 && !universalBuiltin(fmt))
            t.numFmts[fmt] = wb.formatCode(fmt);
        std::string s = "<xf" + attr("numFmtId", fmt) + attr("fontId", font) + attr("fillId", fill) + attr("borderId", border)
            + attr("xfId", 0);
        if (fmt)
            s += " applyNumberFormat=\"1\"";
        if (font)
            s += " applyFont=\"1\"";
        if (fill)
            s += " applyFill=\"1\"";
        if (border)
            s += " applyBorder=\"1\"";
        std::string align;
        if (const char* h = hAlignName(xf.hAlign))
            align += attr("horizontal", h);
        if (const char* v = vAlignName(xf.vAlign))
            align += attr("vertical", v);
        if (xf.rotation)
            align += attr("textRotation", xf.rotation);
        if (xf.wrap)
            align += " wrapText=\"1\"";
        if (xf.indent)
            align += attr("indent", xf.indent);
        if (xf.shrink)
            align += " shrinkToFit=\"1\"";
        const bool protection = !xf.locked || xf.hidden;
        if (!align.empty())
            s += " applyAlignment=\"1\"";
        if (protection)
            s += " applyProtection=\"1\"";
        if (align.empty() && !protection)
            return s + "/>";
        s += ">";
        if (!align.empty())
            s += "<alignment" + align + "/>";
        if (protection)
            s += std::string("<protection") + attr("locked", xf.locked ? 1 : 0) + attr("hidden", xf.hidden ? 1 : 0) + "/>";
        return s + "</xf>";
    };

    t.xfMap.assign(wb.xfs.size(), 0);
    for (std::size_t i = 0; i < wb.xfs.size(); ++i) {
        if (wb.xfs[i].isStyle)
            continue;
        t.xfMap[i] = t.intern(t.cellXfs, xfXml(wb.xfs[i]));
    }
    if (t.cellXfs.empty())
        t.cellXfs.push_back(xfXml(Xf{}));
    return t;
}

std::string stylesPart(const Workbook& wb, const StyleTables& t)
{
    std::string s = kXmlHead;
    s += std::string("<styleSheet xmlns=\"") + kMain + "\">";
    if (!t.numFmts.empty()) {
        s += "<numFmts" + attr("count", static_cast<long long>(t.numFmts.size())) + ">";
        for (const auto& [id, code] : t.numFmts)
            s += "<numFmt" + attr("numFmtId", id) + attr("formatCode", code) + "/>";
        s += "</numFmts>";
    }
    auto list = [&](const char* element, const std::vector<std::string>& items) {
        s += std::string("<") + element + attr("count", static_cast<long long>(items.size())) + ">";
        for (const std::string& item : items)
            s += item;
        s += std::string("</") + element + ">";
    };
    list("fonts", t.fonts);
    list("fills", t.fills);
    list("borders", t.borders);
    s += "<cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\"/></cellStyleXfs>";
    list("cellXfs", t.cellXfs);
    s += "<cellStyles count=\"1\"><cellStyle name=\"Normal\" xfId=\"0\" builtinId=\"0\"/></cellStyles>";
    (void)wb;
    return s + "</styleSheet>";
}

// ------------------------------------------------------------------ shared strings

struct SharedStrings {
    std::vector<const std::string*> order;
    std::unordered_map<std::string_view, int> index;
    long long uses = 0;

    int add(const std::string& text)
    {
        ++uses;
        auto it = index.find(text);
        if (it != index.end())
            return it->second;
        order.push_back(&text);
        index.emplace(text, static_cast<int>(order.size() - 1));
        return static_cast<int>(order.size() - 1);
    }
};

std::string textElement(const std::string& text)
{
    const bool keepBlanks = !text.empty() && (text.front() == ' ' || text.back() == ' ' || text.find('\n') != std::string::npos
                                              || text.find("  ") != std::string::npos);
    return std::string(keepBlanks ? "<t xml:space=\"preserve\">" : "<t>") + escapeXml(text) + "</t>";
}

std::string sharedStringsPart(const SharedStrings& ss)
{
    std::string s = kXmlHead;
    s += std::string("<sst xmlns=\"") + kMain + "\"" + attr("count", ss.uses) + attr("uniqueCount", static_cast<long long>(ss.order.size())) + ">";
    for (const std::string* text : ss.order)
        s += "<si>" + textElement(*text) + "</si>";
    return s + "</sst>";
}

// ------------------------------------------------------------------ worksheets

std::string sheetNameOf(const Workbook& wb, std::uint16_t ixti)
{
    int first = -1, last = -1;
    if (!formula::externSheetRange(wb, ixti, first, last) || first < 0 || first >= static_cast<int>(wb.sheets.size()))
        return "#REF";
    std::string name = wb.sheets[static_cast<std::size_t>(first)].name;
    if (last != first && last >= 0 && last < static_cast<int>(wb.sheets.size()))
        name += ":" + wb.sheets[static_cast<std::size_t>(last)].name;
    return name;
}

std::string formulaText(const Workbook& wb, const std::vector<std::uint8_t>& tokens, const std::vector<std::uint8_t>& data,
                        int row, int col)
{
    std::string text = formula::decompile(tokens, data, row, col, [&](std::uint16_t ixti) { return sheetNameOf(wb, ixti); });
    // A formula the engine cannot put into words is left to its cached value.
    if (text.find("#FORMULA?") != std::string::npos)
        return {};
    return text;
}

std::string sheetPr(const Sheet& sheet)
{
    if (!sheet.page.fitToPage)
        return {};
    return "<sheetPr><pageSetUpPr fitToPage=\"1\"/></sheetPr>";
}

std::string sheetViews(const Sheet& sheet, bool active)
{
    std::string s = "<sheetViews><sheetView";
    if (!sheet.showGridlines)
        s += " showGridLines=\"0\"";
    if (sheet.selected || active)
        s += " tabSelected=\"1\"";
    s += " workbookViewId=\"0\">";
    const Pane& p = sheet.pane;
    std::string paneName;
    if (p.frozen && (p.splitCols > 0 || p.splitRows > 0)) {
        paneName = p.splitCols > 0 && p.splitRows > 0 ? "bottomRight" : p.splitRows > 0 ? "bottomLeft" : "topRight";
        const int top = std::max(p.topRow, p.splitRows), left = std::max(p.leftCol, p.splitCols);
        s += "<pane";
        if (p.splitCols > 0)
            s += attr("xSplit", p.splitCols);
        if (p.splitRows > 0)
            s += attr("ySplit", p.splitRows);
        s += attr("topLeftCell", cellAddress(top, left)) + attr("activePane", paneName) + " state=\"frozen\"/>";
    }
    const std::string at = cellAddress(sheet.activeCell.row, sheet.activeCell.col);
    s += "<selection";
    if (!paneName.empty())
        s += attr("pane", paneName);
    s += attr("activeCell", at) + attr("sqref", at) + "/>";
    return s + "</sheetView></sheetViews>";
}

std::string columnsXml(const Sheet& sheet, const StyleTables& st)
{
    if (sheet.columns.empty())
        return {};
    std::string s = "<cols>";
    for (const ColumnInfo& ci : sheet.columns) {
        const int style = ci.xf < st.xfMap.size() ? st.xfMap[ci.xf] : 0;
        s += "<col" + attr("min", ci.firstCol + 1) + attr("max", std::min(ci.lastCol, kMaxCols - 1) + 1)
            + attr("width", numberText(ci.width / 256.0));
        if (style)
            s += attr("style", style);
        if (ci.hidden)
            s += " hidden=\"1\"";
        s += " customWidth=\"1\"";
        const int level = (ci.options >> 8) & 7;
        if (level)
            s += attr("outlineLevel", level);
        s += "/>";
    }
    return s + "</cols>";
}

std::string cellXml(const Workbook& wb, const Sheet& sheet, int row, int col, const Cell& cell, const StyleTables& st,
                    SharedStrings& strings, const std::map<CellAddress, const ArrayFormula*>& arrays)
{
    const int style = cell.xf < st.xfMap.size() ? st.xfMap[cell.xf] : 0;
    std::string s = "<c" + attr("r", cellAddress(row, col));
    if (style)
        s += attr("s", style);

    std::string f;
    if (auto a = arrays.find({row, col}); a != arrays.end()) {
        const std::string text = formulaText(wb, a->second->formula, a->second->formulaData, row, col);
        if (!text.empty()) {
            const RangeAddress& r = a->second->range;
            f = "<f t=\"array\"" + attr("ref", cellAddress(r.firstRow, r.firstCol) + ":" + cellAddress(r.lastRow, r.lastCol)) + ">"
                + escapeXml(text) + "</f>";
        }
    } else if (cell.isFormula()) {
        bool inArray = false;
        for (const ArrayFormula& a : sheet.arrayFormulas)
            inArray = inArray || a.range.contains(row, col);
        const std::string text = inArray ? std::string() : formulaText(wb, cell.formula, cell.formulaData, row, col);
        if (!text.empty())
            f = "<f>" + escapeXml(text) + "</f>";
    }

    const Value& v = cell.value;
    switch (v.kind()) {
    case Value::Kind::Blank:
        return s + (f.empty() ? "/>" : ">" + f + "</c>");
    case Value::Kind::Number:
        return s + ">" + f + "<v>" + numberText(v.number()) + "</v></c>";
    case Value::Kind::Boolean:
        return s + " t=\"b\">" + f + "<v>" + (v.boolean() ? "1" : "0") + "</v></c>";
    case Value::Kind::Error:
        return s + " t=\"e\">" + f + "<v>" + errorText(v.error()) + "</v></c>";
    case Value::Kind::Text:
        if (!f.empty())
            return s + " t=\"str\">" + f + "<v>" + escapeXml(v.text()) + "</v></c>";
        return s + " t=\"s\"><v>" + std::to_string(strings.add(v.text())) + "</v></c>";
    }
    return s + "/>";
}

std::string sheetDataXml(const Workbook& wb, const Sheet& sheet, const StyleTables& st, SharedStrings& strings)
{
    std::map<CellAddress, const ArrayFormula*> arrays;
    for (const ArrayFormula& a : sheet.arrayFormulas)
        arrays[{a.range.firstRow, a.range.firstCol}] = &a;

    std::string s = "<sheetData>";
    auto cellIt = sheet.cells.begin();
    auto rowIt = sheet.rows.begin();
    while (cellIt != sheet.cells.end() || rowIt != sheet.rows.end()) {
        const int row = std::min(cellIt != sheet.cells.end() ? cellIt->first.row : kMaxRows,
                                 rowIt != sheet.rows.end() ? rowIt->first : kMaxRows);
        s += "<row" + attr("r", row + 1);
        if (rowIt != sheet.rows.end() && rowIt->first == row) {
            const RowInfo& ri = rowIt->second;
            if (ri.customHeight || ri.height != sheet.defaultRowHeight)
                s += attr("ht", points(ri.height)) + " customHeight=\"1\"";
            if (ri.hidden)
                s += " hidden=\"1\"";
            if (ri.hasDefaultXf && ri.xf < st.xfMap.size())
                s += attr("s", st.xfMap[ri.xf]) + " customFormat=\"1\"";
            const int level = ri.options & 7;
            if (level)
                s += attr("outlineLevel", level);
            ++rowIt;
        }
        s += ">";
        for (; cellIt != sheet.cells.end() && cellIt->first.row == row; ++cellIt)
            s += cellXml(wb, sheet, row, cellIt->first.col, cellIt->second, st, strings, arrays);
        s += "</row>";
    }
    return s + "</sheetData>";
}

std::string pageXml(const Sheet& sheet)
{
    const PageSetup& p = sheet.page;
    std::string s = "<pageMargins left=\"0.75\" right=\"0.75\" top=\"1\" bottom=\"1\"" + attr("header", numberText(p.headerMargin))
        + attr("footer", numberText(p.footerMargin)) + "/>";
    s += "<pageSetup" + attr("paperSize", p.paperSize) + attr("scale", p.scale) + attr("fitToWidth", p.fitWidth)
        + attr("fitToHeight", p.fitHeight) + attr("orientation", p.landscape ? "landscape" : "portrait") + "/>";
    return s;
}

std::string worksheetPart(const Workbook& wb, int index, const StyleTables& st, SharedStrings& strings)
{
    const Sheet& sheet = wb.sheets[static_cast<std::size_t>(index)];
    std::string s = kXmlHead;
    s += std::string("<worksheet xmlns=\"") + kMain + "\" xmlns:r=\"" + kRelNs + "\">";
    s += sheetPr(sheet);
    if (auto used = sheet.usedRange())
        s += "<dimension" + attr("ref", cellAddress(used->firstRow, used->firstCol) + ":" + cellAddress(used->lastRow, used->lastCol)) + "/>";
    s += sheetViews(sheet, index == wb.activeSheet);
    s += "<sheetFormatPr" + attr("baseColWidth", sheet.defaultColWidth) + attr("defaultRowHeight", points(sheet.defaultRowHeight)) + "/>";
    s += columnsXml(sheet, st);
    s += sheetDataXml(wb, sheet, st, strings);
    if (!sheet.merged.empty()) {
        s += "<mergeCells" + attr("count", static_cast<long long>(sheet.merged.size())) + ">";
        for (const RangeAddress& m : sheet.merged)
            s += "<mergeCell" + attr("ref", cellAddress(m.firstRow, m.firstCol) + ":" + cellAddress(m.lastRow, m.lastCol)) + "/>";
        s += "</mergeCells>";
    }
    s += pageXml(sheet);
    return s + "</worksheet>";
}

// ------------------------------------------------------------------ workbook

std::string builtinName(char code)
{
    static const char* const kNames[] = {"Consolidate_Area", "Auto_Open", "Auto_Close", "Extract", "Database", "Criteria",
        "Print_Area", "Print_Titles", "Recorder", "Data_Form", "Auto_Activate", "Auto_Deactivate", "Sheet_Title", "_FilterDatabase"};
    const auto i = static_cast<unsigned char>(code);
    return i < std::size(kNames) ? std::string("_xlnm.") + kNames[i] : std::string();
}

std::string definedNamesXml(const Workbook& wb)
{
    std::string items;
    for (const DefinedName& n : wb.names) {
        std::string name = n.builtin && n.name.size() == 1 ? builtinName(n.name[0]) : n.name;
        if (name.empty() || n.formula.empty())
            continue;
        std::string text = formulaText(wb, n.formula, {}, 0, 0);
        if (text.empty() || text.find("#NAME?") != std::string::npos)
            continue;
        text = widenWholeLines(text);
        items += "<definedName" + attr("name", name);
        if (n.sheetIndex > 0 && n.sheetIndex <= static_cast<int>(wb.sheets.size()))
            items += attr("localSheetId", n.sheetIndex - 1);
        if (n.options & 0x0001)
            items += " hidden=\"1\"";
        items += ">" + escapeXml(text) + "</definedName>";
    }
    return items.empty() ? std::string() : "<definedNames>" + items + "</definedNames>";
}

std::string workbookPart(const Workbook& wb)
{
    std::string s = kXmlHead;
    s += std::string("<workbook xmlns=\"") + kMain + "\" xmlns:r=\"" + kRelNs + "\">";
    s += wb.date1904 ? "<workbookPr date1904=\"1\"/>" : "<workbookPr/>";
    s += "<bookViews><workbookView" + attr("activeTab", wb.activeSheet) + "/></bookViews>";
    s += "<sheets>";
    for (std::size_t i = 0; i < wb.sheets.size(); ++i) {
        const Sheet& sh = wb.sheets[i];
        s += "<sheet" + attr("name", sh.name) + attr("sheetId", static_cast<long long>(i + 1));
        if (sh.visibility == 1)
            s += " state=\"hidden\"";
        else if (sh.visibility == 2)
            s += " state=\"veryHidden\"";
        s += attr("r:id", "rId" + std::to_string(i + 1)) + "/>";
    }
    s += "</sheets>";
    s += definedNamesXml(wb);
    s += "<calcPr calcId=\"0\" fullCalcOnLoad=\"1\"/>";
    return s + "</workbook>";
}

std::string relationship(const std::string& id, const std::string& type, const std::string& target)
{
    return "<Relationship" + attr("Id", id) + attr("Type", type) + attr("Target", target) + "/>";
}

} // namespace

std::string escapeXml(const std::string& utf8)
{
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const char ch = utf8[i];
        switch (ch) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '_':
            // A literal "_xHHHH_" would read back as an escape: its underscore is escaped itself.
            if (i + 6 < utf8.size() + 0 && utf8[i + 1] == 'x' && utf8[i + 6] == '_'
                && std::all_of(utf8.begin() + static_cast<long>(i) + 2, utf8.begin() + static_cast<long>(i) + 6,
                               [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }))
                out += "_x005F_";
            else
                out += ch;
            break;
        default:
            if (static_cast<unsigned char>(ch) < 0x20 && ch != '\t' && ch != '\n' && ch != '\r') {
                char buf[8];
                std::snprintf(buf, sizeof buf, "_x%04X_", static_cast<unsigned>(ch));
                out += buf;
            } else {
                out += ch;
            }
        }
    }
    return out;
}

std::string widenWholeLines(const std::string& formulaText)
{
    // $A$4:$IV$4 spans every BIFF8 column: a whole row. $A$1:$B$65536 spans every row.
    static const std::regex wholeRows(R"(\$A\$(\d+):\$IV\$(\d+))");
    static const std::regex wholeCols(R"(\$([A-Z]{1,2})\$1:\$([A-Z]{1,2})\$65536)");
    std::string text = std::regex_replace(formulaText, wholeRows, "$$$1:$$$2");
    return std::regex_replace(text, wholeCols, "$$$1:$$$2");
}

std::string appPropertiesPart(const Producer& producer)
{
    std::string app = kXmlHead;
    app += "<Properties xmlns=\"http://schemas.openxmlformats.org/officeDocument/2006/extended-properties\">";
    if (!producer.application.empty())
        app += "<Application>" + escapeXml(producer.application) + "</Application>";
    // The package format wants the version as XX.YYYY: the major and minor numbers only.
    unsigned major = 0, minor = 0;
    if (std::sscanf(producer.version.c_str(), "%u.%u", &major, &minor) >= 1 && major < 100 && minor < 10000) {
        char version[16];
        std::snprintf(version, sizeof version, "%02u.%04u", major, minor);
        app += std::string("<AppVersion>") + version + "</AppVersion>";
    }
    return app + "</Properties>";
}

std::map<std::string, std::string> packageParts(const Workbook& wb, const Producer& producer)
{
    if (wb.sheets.empty())
        throw IoError("A workbook without a worksheet cannot be written as an Office Open XML spreadsheet");
    std::map<std::string, std::string> parts;
    const StyleTables styles = buildStyles(wb);
    SharedStrings strings;

    std::string contentTypes = kXmlHead;
    contentTypes += "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
                    "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
                    "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
                    "<Override PartName=\"/xl/workbook.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>"
                    "<Override PartName=\"/xl/styles.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml\"/>"
                    "<Override PartName=\"/xl/sharedStrings.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml\"/>"
                    "<Override PartName=\"/docProps/app.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.extended-properties+xml\"/>";
    std::string workbookRels = kXmlHead;
    workbookRels += std::string("<Relationships xmlns=\"") + kPkgRelNs + "\">";
    for (std::size_t i = 0; i < wb.sheets.size(); ++i) {
        const std::string name = "sheet" + std::to_string(i + 1) + ".xml";
        parts["xl/worksheets/" + name] = worksheetPart(wb, static_cast<int>(i), styles, strings);
        contentTypes += "<Override PartName=\"/xl/worksheets/" + name
            + "\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>";
        workbookRels += relationship("rId" + std::to_string(i + 1), std::string(kRelBase) + "worksheet", "worksheets/" + name);
    }
    const std::size_t n = wb.sheets.size();
    workbookRels += relationship("rId" + std::to_string(n + 1), std::string(kRelBase) + "styles", "styles.xml");
    workbookRels += relationship("rId" + std::to_string(n + 2), std::string(kRelBase) + "sharedStrings", "sharedStrings.xml");
    workbookRels += "</Relationships>";
    contentTypes += "</Types>";

    std::string rootRels = kXmlHead;
    rootRels += std::string("<Relationships xmlns=\"") + kPkgRelNs + "\">"
        + relationship("rId1", std::string(kRelBase) + "officeDocument", "xl/workbook.xml")
        + relationship("rId2", std::string(kRelBase) + "extended-properties", "docProps/app.xml") + "</Relationships>";
    const std::string app = appPropertiesPart(producer);

    parts["[Content_Types].xml"] = contentTypes;
    parts["_rels/.rels"] = rootRels;
    parts["docProps/app.xml"] = app;
    parts["xl/workbook.xml"] = workbookPart(wb);
    parts["xl/_rels/workbook.xml.rels"] = workbookRels;
    parts["xl/styles.xml"] = stylesPart(wb, styles);
    parts["xl/sharedStrings.xml"] = sharedStringsPart(strings);
    return parts;
}

namespace {

struct ZipSourceDeleter {
    void operator()(zip_source_t* s) const { zip_source_free(s); }
};

std::string zipMessage(zip_error_t* error)
{
    const std::string text = zip_error_strerror(error);
    zip_error_fini(error);
    return text;
}

} // namespace

std::vector<std::uint8_t> writeFile(const Workbook& wb, const Producer& producer)
{
    const std::map<std::string, std::string> parts = packageParts(wb, producer);

    // The archive is built in memory: libzip writes into a buffer source, read back at the end.
    zip_error_t error;
    zip_error_init(&error);
    std::unique_ptr<zip_source_t, ZipSourceDeleter> buffer(zip_source_buffer_create(nullptr, 0, 0, &error));
    if (!buffer)
        throw IoError("Cannot start the spreadsheet package: " + zipMessage(&error));
    zip_source_keep(buffer.get());   // stays ours after zip_close
    zip_t* archive = zip_open_from_source(buffer.get(), ZIP_TRUNCATE, &error);
    if (!archive)
        throw IoError("Cannot start the spreadsheet package: " + zipMessage(&error));
    zip_error_fini(&error);

    auto fail = [&](const std::string& what) {
        const std::string text = what + ": " + zip_strerror(archive);
        zip_discard(archive);
        throw IoError(text);
    };
    // [Content_Types].xml first: some readers look for it at the start of the archive.
    std::vector<std::string> order{"[Content_Types].xml"};
    for (const auto& [name, xml] : parts)
        if (name != order.front())
            order.push_back(name);
    for (const std::string& name : order) {
        const std::string& xml = parts.at(name);
        zip_source_t* source = zip_source_buffer(archive, xml.data(), xml.size(), 0);
        if (!source)
            fail("Cannot add " + name + " to the spreadsheet package");
        const zip_int64_t at = zip_file_add(archive, name.c_str(), source, ZIP_FL_ENC_UTF_8);
        if (at < 0) {
            zip_source_free(source);
            fail("Cannot add " + name + " to the spreadsheet package");
        }
        zip_set_file_compression(archive, static_cast<zip_uint64_t>(at), ZIP_CM_DEFLATE, 6);
    }
    if (zip_close(archive) < 0)
        fail("Cannot write the spreadsheet package");

    std::vector<std::uint8_t> bytes;
    zip_source_t* src = buffer.get();
    if (zip_source_open(src) < 0)
        throw IoError("Cannot read the spreadsheet package back");
    zip_source_seek(src, 0, SEEK_END);
    const zip_int64_t size = zip_source_tell(src);
    zip_source_seek(src, 0, SEEK_SET);
    if (size > 0) {
        bytes.resize(static_cast<std::size_t>(size));
        if (zip_source_read(src, bytes.data(), static_cast<zip_uint64_t>(size)) != size) {
            zip_source_close(src);
            throw IoError("Cannot read the spreadsheet package back");
        }
    }
    zip_source_close(src);
    return bytes;
}

void save(const Workbook& wb, const std::string& path)
{
    const std::vector<std::uint8_t> bytes = writeFile(wb);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        throw IoError("Cannot open " + path + " for writing");
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out)
        throw IoError("Cannot write " + path);
}

} // namespace ss::xlsx
