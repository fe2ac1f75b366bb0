#include "workbook/columnfit.h"

#include "spreadsheet/numfmt.h"
#include "spreadsheet/render/render.h"

#include <QFont>
#include <QFontMetricsF>

#include <algorithm>
#include <array>
#include <cmath>
#include <iterator>
#include <map>
#include <optional>
#include <string_view>

namespace corvantis {

namespace {

// As the sheet is drawn: text sits this far from its cell's left edge and right gridline.
constexpr double kPadLeft = 2;
constexpr double kPadRight = 3;
constexpr double kScreenDpi = 96.0;

bool isAsciiDigit(char c) { return c >= '0' && c <= '9'; }

// Measures texts in the fonts of one workbook, as the sheet renderer draws them.
class Measure {
public:
    struct Font {
        QFontMetricsF metrics;
        std::array<double, 0x5f> advances;   // printable ASCII, -1 until measured
    };

    explicit Measure(const ss::Workbook& wb) : mWb(wb) {}

    Font& font(std::uint16_t index)
    {
        auto it = mFonts.find(index);
        if (it != mFonts.end())
            return it->second;
        const ss::Font& f = mWb.font(index);
        QFont font;
        // The metric-compatible stand-ins the renderer takes where the named font is missing.
        font.setFamily(ss::fontFamilyFor(f.name));
        font.setPixelSize(std::max(1, static_cast<int>(std::lround(f.height / 20.0 * kScreenDpi / 72.0))));
        font.setBold(f.bold());
        font.setItalic(f.italic);
        font.setKerning(false);
        Font measure{QFontMetricsF(font), {}};
        measure.advances.fill(-1);
        return mFonts.emplace(index, std::move(measure)).first->second;
    }

    // The width of the default font's '0', the unit of column widths, in whole pixels as the
    // renderer takes it.
    int digitWidth() { return std::max(1, static_cast<int>(std::lround(font(0).metrics.horizontalAdvance(QLatin1Char('0'))))); }

    // Numbers in any of their forms are most of what is measured: with kerning off their width is
    // the sum of their characters' advances, each measured once. Other texts are laid out whole.
    static double width(Font& f, const QString& text)
    {
        double sum = 0;
        for (const QChar ch : text) {
            const char16_t u = ch.unicode();
            if (!addAdvance(f, u, sum))
                return f.metrics.horizontalAdvance(text);
        }
        return sum;
    }

    // The width of UTF-8 `text` as width() gives it, with `marks` put in for the point and comma
    // between digits when given (see withMarks). Texts of printable ASCII are summed from their
    // bytes; others go the way of width().
    static double width(Font& f, std::string_view text, const NumberMarks* marks)
    {
        double sum = 0;
        const std::size_t n = text.size();
        for (std::size_t i = 0; i < n; ++i) {
            const char c = text[i];
            bool simple = true;
            if (marks && (c == '.' || c == ',') && i + 1 < n && isAsciiDigit(text[i + 1])
                && (c == '.' || (i > 0 && isAsciiDigit(text[i - 1])))) {
                for (const QChar m : c == '.' ? marks->decimal : marks->group)
                    simple = simple && addAdvance(f, m.unicode(), sum);
            } else {
                simple = addAdvance(f, static_cast<unsigned char>(c), sum);
            }
            if (!simple) {
                const QString whole = QString::fromUtf8(text.data(), static_cast<qsizetype>(n));
                return width(f, marks ? withMarks(whole, *marks) : whole);
            }
        }
        return sum;
    }

private:
    // Adds the advance of a printable ASCII character other than a letter; false for others.
    static bool addAdvance(Font& f, char16_t u, double& sum)
    {
        if (u < 0x20 || u > 0x7e || QChar(u).isLetter())
            return false;
        double& advance = f.advances[u - 0x20];
        if (advance < 0)
            advance = f.metrics.horizontalAdvance(QChar(u));
        sum += advance;
        return true;
    }

    // The number's text in the reader's marks: only marks between digits change.
    static QString withMarks(const QString& text, const NumberMarks& marks)
    {
        QString out;
        for (qsizetype i = 0; i < text.size(); ++i) {
            const QChar c = text[i];
            const bool digitAfter = i + 1 < text.size() && text[i + 1].isDigit();
            const bool digitBefore = i > 0 && text[i - 1].isDigit();
            if (c == QLatin1Char('.') && digitAfter)
                out += marks.decimal;
            else if (c == QLatin1Char(',') && digitBefore && digitAfter)
                out += marks.group;
            else
                out += c;
        }
        return out;
    }

    const ss::Workbook& mWb;
    std::map<std::uint16_t, Font> mFonts;
};

// What a cell's XF gives its text, looked up once per XF.
struct Style {
    const ss::Xf* xf = nullptr;
    std::optional<ss::NumberFormat> format;
    bool dateFormat = false;
    Measure::Font* font = nullptr;
};

// Column widths in pixels as the sheet renderer lays them out.
class Columns {
public:
    Columns(const ss::Sheet& sheet, int digit) : mSheet(sheet), mDigit(digit) {}

    int digit() const { return mDigit; }

    int pixels(int col) const { return col < 0 || col >= ss::kMaxCols ? 0 : ss::columnPixels(mSheet, col, mDigit); }

private:
    const ss::Sheet& mSheet;
    int mDigit;
};

// Gives column `col` the width `units` (1/256 of a digit), splitting a COLINFO that covers more.
void setColumnWidth(ss::Sheet& sheet, int col, std::uint16_t units)
{
    for (std::size_t i = 0; i < sheet.columns.size(); ++i) {
        ss::ColumnInfo ci = sheet.columns[i];
        if (col < ci.firstCol || col > ci.lastCol)
            continue;
        std::vector<ss::ColumnInfo> parts;
        if (ci.firstCol < col) {
            ss::ColumnInfo before = ci;
            before.lastCol = col - 1;
            parts.push_back(before);
        }
        ss::ColumnInfo self = ci;
        self.firstCol = self.lastCol = col;
        self.width = units;
        self.hidden = false;
        parts.push_back(self);
        if (ci.lastCol > col) {
            ss::ColumnInfo after = ci;
            after.firstCol = col + 1;
            parts.push_back(after);
        }
        sheet.columns.erase(sheet.columns.begin() + static_cast<std::ptrdiff_t>(i));
        sheet.columns.insert(sheet.columns.begin() + static_cast<std::ptrdiff_t>(i), parts.begin(), parts.end());
        return;
    }
    ss::ColumnInfo ci;
    ci.firstCol = ci.lastCol = col;
    ci.width = units;
    const auto at = std::find_if(sheet.columns.begin(), sheet.columns.end(), [&](const ss::ColumnInfo& c) { return c.firstCol > col; });
    sheet.columns.insert(at, ci);
}

// Makes column `col` at least `pixels` wide on screen.
bool widenTo(ss::Sheet& sheet, const Columns& columns, int col, double pixels)
{
    if (columns.pixels(col) >= pixels)
        return false;
    // The inverse of Columns::pixels: trunc((units + trunc(128 / digit)) / 256 * digit) pixels.
    const double digit = columns.digit();
    const double extra = std::trunc(128.0 / digit);
    double units = std::ceil(pixels * 256.0 / digit) - extra;
    for (int tries = 0; tries < 4; ++tries) {
        setColumnWidth(sheet, col, static_cast<std::uint16_t>(std::clamp(units, 0.0, 65535.0)));
        if (columns.pixels(col) >= pixels || units >= 65535.0)
            break;
        units += 256.0 / digit;
    }
    return true;
}

} // namespace

int autoFitColumns(ss::Workbook& wb, int sheetIndex, const ss::RangeAddress& range, const NumberMarks& marks)
{
    if (sheetIndex < 0 || sheetIndex >= static_cast<int>(wb.sheets.size()) || range.lastCol < range.firstCol
        || range.lastRow < range.firstRow)
        return 0;
    ss::Sheet& sheet = wb.sheets[static_cast<std::size_t>(sheetIndex)];
    Measure measure(wb);
    const Columns columns(sheet, measure.digitWidth());
    const double digit = columns.digit();
    // The workbook's own marks are "." and ","; the reader's are measured besides where they differ.
    const NumberMarks workbookMarks;
    const bool otherMarks = marks.decimal != workbookMarks.decimal || marks.group != workbookMarks.group;
    int widened = 0;

    // Each XF's format and font, found when a cell first needs them.
    std::vector<Style> styles(wb.xfs.size() + 1);
    auto styleOf = [&](const ss::Cell& cell) -> const Style& {
        static const ss::Xf fallback;
        Style& s = styles[std::min<std::size_t>(cell.xf, wb.xfs.size())];
        if (!s.xf) {
            s.xf = cell.xf < wb.xfs.size() ? &wb.xfs[cell.xf] : &fallback;
            s.format.emplace(wb.formatCode(s.xf->formatIndex));
            s.dateFormat = s.format->isDate();
            s.font = &measure.font(s.xf->fontIndex);
        }
        return s;
    };
    // The width a cell's text is drawn with; `empty` tells whether it shows nothing.
    auto shownWidth = [&](const ss::Cell& cell, bool& empty) {
        const Style& style = styleOf(cell);
        const std::string text = style.format->format(cell.value, wb.date1904).text;
        empty = text.empty();
        if (!cell.value.isNumber() || style.dateFormat)
            return Measure::width(*style.font, text, nullptr);
        const double ours = Measure::width(*style.font, text, &workbookMarks);
        return otherMarks ? std::max(ours, Measure::width(*style.font, text, &marks)) : ours;
    };
    auto indentOf = [&](const ss::Xf& xf) { return xf.indent * digit * 10.0 / 7.0; };

    // Only the merges that reach into the range can hold one of its cells.
    std::vector<ss::RangeAddress> merges;
    for (const ss::RangeAddress& m : sheet.merged) {
        if (m.lastRow >= range.firstRow && m.firstRow <= range.lastRow && m.lastCol >= range.firstCol && m.firstCol <= range.lastCol)
            merges.push_back(m);
    }
    auto inMerge = [&](const ss::CellAddress& at) {
        return std::any_of(merges.begin(), merges.end(), [&](const ss::RangeAddress& m) { return m.contains(at.row, at.col); });
    };
    // The range's cells, row by row as the sheet keeps them.
    const auto first = sheet.cells.lower_bound(ss::CellAddress{range.firstRow, range.firstCol});
    const auto end = sheet.cells.lower_bound(ss::CellAddress{range.lastRow + 1, 0});
    auto inRange = [&](const ss::CellAddress& at) { return at.col >= range.firstCol && at.col <= range.lastCol; };

    // Numbers: the widest one of each column shows whole, with room for a reader whose font
    // measures a little wider.
    std::vector<double> needed(static_cast<std::size_t>(range.lastCol - range.firstCol + 1), 0.0);
    for (auto it = first; it != end; ++it) {
        const ss::Cell& cell = it->second;
        if (!inRange(it->first) || !cell.value.isNumber() || inMerge(it->first))
            continue;
        bool empty = false;
        const double w = shownWidth(cell, empty);
        if (empty)
            continue;
        double& n = needed[static_cast<std::size_t>(it->first.col - range.firstCol)];
        n = std::max(n, w + kPadLeft + kPadRight + indentOf(*styleOf(cell).xf) + std::max(digit, w * 0.06) + 1);
    }
    for (int col = range.firstCol; col <= range.lastCol; ++col) {
        const double n = needed[static_cast<std::size_t>(col - range.firstCol)];
        if (n > 0 && widenTo(sheet, columns, col, n))
            ++widened;
    }

    // Texts that run on to the right stop short of the next text of their row.
    for (auto it = first; it != end; ++it) {
        const ss::Cell& cell = it->second;
        if (!inRange(it->first) || !cell.value.isText() || inMerge(it->first))
            continue;
        const int row = it->first.row, col = it->first.col;
        const ss::Xf& xf = *styleOf(cell).xf;
        if (xf.wrap || (xf.hAlign != ss::HAlign::General && xf.hAlign != ss::HAlign::Left))
            continue;
        bool empty = false;
        const double inkRight = kPadLeft + indentOf(xf) + shownWidth(cell, empty);   // from the cell's left edge
        // The next filled cell of the row and where its text begins, from the same edge.
        auto next = std::next(it);
        while (next != sheet.cells.end() && next->first.row == row && next->first.col < ss::kMaxCols && next->second.value.isBlank())
            ++next;
        if (next == sheet.cells.end() || next->first.row != row || next->first.col >= ss::kMaxCols)
            continue;
        const int nextCol = next->first.col;
        double edge = 0;
        for (int c = col; c < nextCol; ++c)
            edge += columns.pixels(c);
        const ss::Xf& nextXf = *styleOf(next->second).xf;
        const double nextWidth = shownWidth(next->second, empty);
        const double nextCell = columns.pixels(nextCol);
        ss::HAlign align = nextXf.hAlign;
        if (align == ss::HAlign::General)
            align = next->second.value.isNumber() ? ss::HAlign::Right : ss::HAlign::Left;
        double inkLeft = edge + kPadLeft;
        if (align == ss::HAlign::Right)
            inkLeft = edge + nextCell - kPadRight - nextWidth;
        else if (align == ss::HAlign::Center || align == ss::HAlign::CenterAcross)
            inkLeft = edge + (nextCell - nextWidth) / 2.0;
        // A text that runs on is cut where the next filled cell begins in any case.
        inkLeft = std::min(inkLeft, edge);
        // A space's width between the two keeps them apart to the eye.
        const double shortfall = inkRight + Measure::width(*styleOf(cell).font, std::string_view(" "), nullptr) - inkLeft;
        if (shortfall > 0 && widenTo(sheet, columns, col, columns.pixels(col) + shortfall))
            ++widened;
    }
    return widened;
}

} // namespace corvantis
