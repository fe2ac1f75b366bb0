#include "workbook/columnfit.h"

#include "spreadsheet/numfmt.h"
#include "spreadsheet/render/render.h"

#include <QFont>
#include <QFontMetricsF>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>

namespace corvantis {

namespace {

// As the sheet is drawn: text sits this far from its cell's left edge and right gridline.
constexpr double kPadLeft = 2;
constexpr double kPadRight = 3;
constexpr double kScreenDpi = 96.0;

// Measures texts in the fonts of one workbook, as the sheet renderer draws them.
class Measure {
public:
    explicit Measure(const ss::Workbook& wb) : mWb(wb) {}

    // Numbers in any of their forms are most of what is measured: with kerning off their width is
    // the sum of their characters' advances, each measured once. Other texts are laid out whole.
    double width(std::uint16_t fontIndex, const QString& text)
    {
        FontMeasure& f = font(fontIndex);
        double sum = 0;
        for (const QChar ch : text) {
            const char16_t u = ch.unicode();
            if (u < 0x20 || u > 0x7e || ch.isLetter())
                return f.metrics.horizontalAdvance(text);
            double& advance = f.advances[u - 0x20];
            if (advance < 0)
                advance = f.metrics.horizontalAdvance(ch);
            sum += advance;
        }
        return sum;
    }
    double digitWidth() { return std::max(1.0, std::round(font(0).metrics.horizontalAdvance(QLatin1Char('0')))); }

private:
    struct FontMeasure {
        QFontMetricsF metrics;
        std::array<double, 0x5f> advances;   // printable ASCII, -1 until measured
    };

    FontMeasure& font(std::uint16_t index)
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
        FontMeasure measure{QFontMetricsF(font), {}};
        measure.advances.fill(-1);
        return mFonts.emplace(index, std::move(measure)).first->second;
    }

    const ss::Workbook& mWb;
    std::map<std::uint16_t, FontMeasure> mFonts;
};

const ss::Xf& xfOf(const ss::Workbook& wb, const ss::Cell& cell)
{
    static const ss::Xf fallback;
    return cell.xf < wb.xfs.size() ? wb.xfs[cell.xf] : fallback;
}

// The number's text in the reader's marks: only marks between digits change.
QString withMarks(const QString& text, const NumberMarks& marks)
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

bool inMerge(const ss::Sheet& sheet, int row, int col)
{
    return std::any_of(sheet.merged.begin(), sheet.merged.end(), [&](const ss::RangeAddress& m) {
        return row >= m.firstRow && row <= m.lastRow && col >= m.firstCol && col <= m.lastCol;
    });
}

int columnPixels(const ss::Workbook& wb, int sheetIndex, int col)
{
    return ss::renderedSize(wb, sheetIndex, {0, col, 0, col}).width();
}

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
bool widenTo(ss::Workbook& wb, int sheetIndex, int col, double pixels, double digit)
{
    if (columnPixels(wb, sheetIndex, col) >= pixels)
        return false;
    // The renderer's width: trunc((units + trunc(128 / digit)) / 256 * digit) pixels.
    const double extra = std::trunc(128.0 / digit);
    double units = std::ceil(pixels * 256.0 / digit) - extra;
    ss::Sheet& sheet = wb.sheets[static_cast<std::size_t>(sheetIndex)];
    for (int tries = 0; tries < 4; ++tries) {
        setColumnWidth(sheet, col, static_cast<std::uint16_t>(std::clamp(units, 0.0, 65535.0)));
        if (columnPixels(wb, sheetIndex, col) >= pixels || units >= 65535.0)
            break;
        units += 256.0 / digit;
    }
    return true;
}

} // namespace

int autoFitColumns(ss::Workbook& wb, int sheetIndex, const ss::RangeAddress& range, const NumberMarks& marks)
{
    if (sheetIndex < 0 || sheetIndex >= static_cast<int>(wb.sheets.size()))
        return 0;
    Measure measure(wb);
    const double digit = measure.digitWidth();
    const NumberMarks workbookMarks;
    int widened = 0;

    // The text a cell shows and how wide it is drawn.
    auto shown = [&](const ss::Cell& cell, QString& text) {
        const ss::Xf& xf = xfOf(wb, cell);
        const std::string code = wb.formatCode(xf.formatIndex);
        text = QString::fromStdString(ss::formatValue(cell.value, code, wb.date1904).text);
        if (!cell.value.isNumber() || ss::isDateFormat(code))
            return measure.width(xf.fontIndex, text);
        return std::max(measure.width(xf.fontIndex, withMarks(text, workbookMarks)), measure.width(xf.fontIndex, withMarks(text, marks)));
    };
    auto indentOf = [&](const ss::Xf& xf) { return xf.indent * digit * 10.0 / 7.0; };

    for (int col = range.firstCol; col <= range.lastCol; ++col) {
        const ss::Sheet& sheet = wb.sheets[static_cast<std::size_t>(sheetIndex)];
        // Numbers: the widest one of the column shows whole, with room for a reader whose font
        // measures a little wider.
        double needed = 0;
        for (int row = range.firstRow; row <= range.lastRow; ++row) {
            const ss::Cell* cell = sheet.find(row, col);
            if (!cell || !cell->value.isNumber() || inMerge(sheet, row, col))
                continue;
            QString text;
            const double w = shown(*cell, text);
            if (text.isEmpty())
                continue;
            needed = std::max(needed, w + kPadLeft + kPadRight + indentOf(xfOf(wb, *cell)) + std::max(digit, w * 0.06) + 1);
        }
        if (needed > 0 && widenTo(wb, sheetIndex, col, needed, digit))
            ++widened;
    }

    // Texts that run on to the right stop short of the next text of their row.
    for (int row = range.firstRow; row <= range.lastRow; ++row) {
        for (int col = range.firstCol; col <= range.lastCol; ++col) {
            const ss::Sheet& sheet = wb.sheets[static_cast<std::size_t>(sheetIndex)];
            const ss::Cell* cell = sheet.find(row, col);
            if (!cell || !cell->value.isText() || inMerge(sheet, row, col))
                continue;
            const ss::Xf& xf = xfOf(wb, *cell);
            if (xf.wrap || (xf.hAlign != ss::HAlign::General && xf.hAlign != ss::HAlign::Left))
                continue;
            QString text;
            const double inkRight = kPadLeft + indentOf(xf) + shown(*cell, text);   // from the cell's left edge
            // The next filled cell of the row and where its text begins, from the same edge.
            double edge = columnPixels(wb, sheetIndex, col);
            const ss::Cell* next = nullptr;
            int nextCol = col + 1;
            for (; nextCol < ss::kMaxCols; ++nextCol) {
                next = sheet.find(row, nextCol);
                if (next && !next->value.isBlank())
                    break;
                next = nullptr;
                edge += columnPixels(wb, sheetIndex, nextCol);
            }
            if (!next)
                continue;
            const ss::Xf& nextXf = xfOf(wb, *next);
            QString nextText;
            const double nextWidth = shown(*next, nextText);
            const double nextCell = columnPixels(wb, sheetIndex, nextCol);
            ss::HAlign align = nextXf.hAlign;
            if (align == ss::HAlign::General)
                align = next->value.isNumber() ? ss::HAlign::Right : ss::HAlign::Left;
            double inkLeft = edge + kPadLeft;
            if (align == ss::HAlign::Right)
                inkLeft = edge + nextCell - kPadRight - nextWidth;
            else if (align == ss::HAlign::Center || align == ss::HAlign::CenterAcross)
                inkLeft = edge + (nextCell - nextWidth) / 2.0;
            // A text that runs on is cut where the next filled cell begins in any case.
            inkLeft = std::min(inkLeft, edge);
            // A space's width between the two keeps them apart to the eye.
            const double shortfall = inkRight + measure.width(xf.fontIndex, QStringLiteral(" ")) - inkLeft;
            if (shortfall > 0 && widenTo(wb, sheetIndex, col, columnPixels(wb, sheetIndex, col) + shortfall, digit))
                ++widened;
        }
    }
    return widened;
}

} // namespace corvantis
