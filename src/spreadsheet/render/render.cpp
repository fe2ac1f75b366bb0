#include "spreadsheet/render/render.h"

#include "spreadsheet/numfmt.h"

#include <QFont>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <map>
#include <vector>

namespace ss {

namespace {

const QRgb kWhite = qRgb(255, 255, 255);
const QRgb kGridline = qRgb(0xD0, 0xD7, 0xE5);

// Text sits this far from the cell's left edge and its right gridline.
constexpr int kPadLeft = 2;
constexpr int kPadRight = 3;

QString familyFor(const std::string& name)
{
    // Metric-compatible stand-ins keep column widths and text extents as the workbook expects.
    static std::map<std::string, QString> cache;
    auto it = cache.find(name);
    if (it != cache.end())
        return it->second;
    QString family = QString::fromStdString(name);
    if (!QFontDatabase::hasFamily(family)) {
        const QString low = family.toLower();
        if (low == "arial" || low == "helvetica")
            family = QStringLiteral("Liberation Sans");
        else if (low == "times new roman" || low == "times")
            family = QStringLiteral("Liberation Serif");
        else if (low == "courier new" || low == "courier")
            family = QStringLiteral("Liberation Mono");
    }
    cache.emplace(name, family);
    return family;
}

struct FontEntry {
    QFont font;
    QFontMetricsF metrics{QFont()};
    QRgb color = 0;
    int digitWidth = 7;
};

struct Span {
    int first = 0, last = 0;   // inclusive columns (or rows)
};

class Renderer {
public:
    Renderer(const Workbook& wb, const Sheet& sheet, const RangeAddress& range, const RenderOptions& opt)
        : wb_(wb), sheet_(sheet), range_(range), opt_(opt)
    {
        digitWidth_ = fontEntry(0).digitWidth;
        xs_.push_back(0);
        for (int c = range.firstCol; c <= range.lastCol; ++c)
            xs_.push_back(xs_.back() + columnPixels(c));
        ys_.push_back(0);
        for (int r = range.firstRow; r <= range.lastRow; ++r)
            ys_.push_back(ys_.back() + rowPixels(r));
        for (const RangeAddress& m : sheet.merged) {
            if (m.lastRow >= range.firstRow && m.firstRow <= range.lastRow && m.lastCol >= range.firstCol
                && m.firstCol <= range.lastCol)
                merges_.push_back(m);
        }
    }

    QSize size() const { return {xs_.back(), ys_.back()}; }

    QImage render()
    {
        QImage img(size(), QImage::Format_RGB32);
        if (img.isNull())
            return img;
        img.fill(kWhite);
        QPainter p(&img);
        p.setRenderHint(QPainter::TextAntialiasing, true);
        p.setRenderHint(QPainter::Antialiasing, false);
        if (sheet_.showGridlines && opt_.gridlines)
            drawGridlines(p);
        drawFills(p);
        drawTexts(p);
        drawBorders(p);
        p.end();
        return img;
    }

private:
    // ------------------------------------------------------------ geometry

    int columnPixels(int col) const
    {
        for (const ColumnInfo& ci : sheet_.columns) {
            if (col < ci.firstCol || col > ci.lastCol)
                continue;
            if (ci.hidden || ci.width == 0)
                return 0;
            // Stored widths already hold the cell padding; Excel adds half a digit before truncating.
            const double chars = (ci.width + std::trunc(128.0 / digitWidth_)) / 256.0;
            return static_cast<int>(std::trunc(chars * digitWidth_));
        }
        // DEFCOLWIDTH characters plus padding and gridline, rounded up to 8 pixels.
        const int px = sheet_.defaultColWidth * digitWidth_ + 5;
        return (px + 7) / 8 * 8;
    }

    int rowPixels(int row) const
    {
        auto it = sheet_.rows.find(row);
        int twips = sheet_.defaultRowHeight;
        if (it != sheet_.rows.end()) {
            if (it->second.hidden)
                return 0;
            twips = it->second.height;
        }
        return static_cast<int>(std::lround(twips * opt_.dpi / 1440.0));
    }

    // Left edge of any column, also outside the range (for merges that stick out).
    int colX(int col) const
    {
        if (col >= range_.firstCol && col <= range_.lastCol + 1)
            return xs_[static_cast<std::size_t>(col - range_.firstCol)];
        int x = 0;
        if (col < range_.firstCol) {
            for (int c = col; c < range_.firstCol; ++c)
                x -= columnPixels(c);
            return x;
        }
        x = xs_.back();
        for (int c = range_.lastCol + 1; c < col; ++c)
            x += columnPixels(c);
        return x;
    }

    int rowY(int row) const
    {
        if (row >= range_.firstRow && row <= range_.lastRow + 1)
            return ys_[static_cast<std::size_t>(row - range_.firstRow)];
        int y = 0;
        if (row < range_.firstRow) {
            for (int r = row; r < range_.firstRow; ++r)
                y -= rowPixels(r);
            return y;
        }
        y = ys_.back();
        for (int r = range_.lastRow + 1; r < row; ++r)
            y += rowPixels(r);
        return y;
    }

    const RangeAddress* mergeAt(int row, int col) const
    {
        for (const RangeAddress& m : merges_)
            if (m.contains(row, col))
                return &m;
        return nullptr;
    }

    // The cell's rectangle; for a merge, the whole merged area. Empty when hidden by a merge.
    bool cellRect(int row, int col, QRect& out, RangeAddress* area = nullptr) const
    {
        RangeAddress a{row, col, row, col};
        if (const RangeAddress* m = mergeAt(row, col)) {
            if (m->firstRow != row || m->firstCol != col)
                return false;
            a = *m;
        }
        out = QRect(QPoint(colX(a.firstCol), rowY(a.firstRow)), QPoint(colX(a.lastCol + 1) - 1, rowY(a.lastRow + 1) - 1));
        if (area)
            *area = a;
        return out.width() > 0 && out.height() > 0;
    }

    template <typename F>
    void forEachCell(F&& f) const
    {
        for (int r = range_.firstRow; r <= range_.lastRow; ++r) {
            auto it = sheet_.cells.lower_bound({r, range_.firstCol});
            for (; it != sheet_.cells.end() && it->first.row == r && it->first.col <= range_.lastCol; ++it)
                f(r, it->first.col, it->second);
        }
    }

    const Xf& xfOf(const Cell& cell) const
    {
        static const Xf fallback;
        return cell.xf < wb_.xfs.size() ? wb_.xfs[cell.xf] : fallback;
    }

    QRgb color(std::uint16_t index) const { return 0xFF000000u | wb_.colorRgb(index); }

    const FontEntry& fontEntry(std::uint16_t index)
    {
        auto it = fonts_.find(index);
        if (it != fonts_.end())
            return it->second;
        const Font& f = wb_.font(index);
        FontEntry e;
        e.font.setFamily(familyFor(f.name));
        e.font.setPixelSize(std::max(1, static_cast<int>(std::lround(f.height / 20.0 * opt_.dpi / 72.0))));
        e.font.setBold(f.bold());
        e.font.setItalic(f.italic);
        e.font.setUnderline(f.underline != 0);
        e.font.setStrikeOut(f.strikeout);
        e.font.setKerning(false);
        e.metrics = QFontMetricsF(e.font);
        e.color = color(f.colorIndex);
        e.digitWidth = std::max(1, static_cast<int>(std::lround(e.metrics.horizontalAdvance(QLatin1Char('0')))));
        return fonts_.emplace(index, std::move(e)).first->second;
    }

    bool isEmptyAt(int row, int col) const
    {
        if (mergeAt(row, col))
            return false;
        const Cell* c = sheet_.find(row, col);
        return !c || c->value.isBlank();
    }

    // ------------------------------------------------------------ layers

    void drawGridlines(QPainter& p) const
    {
        const int w = xs_.back(), h = ys_.back();
        for (std::size_t i = 1; i < xs_.size(); ++i)
            if (xs_[i] > xs_[i - 1])
                p.fillRect(xs_[i] - 1, 0, 1, h, QColor(kGridline));
        for (std::size_t i = 1; i < ys_.size(); ++i)
            if (ys_[i] > ys_[i - 1])
                p.fillRect(0, ys_[i] - 1, w, 1, QColor(kGridline));
        // No gridlines inside a merged area.
        for (const RangeAddress& m : merges_) {
            const QRect r(QPoint(colX(m.firstCol), rowY(m.firstRow)), QPoint(colX(m.lastCol + 1) - 2, rowY(m.lastRow + 1) - 2));
            p.fillRect(r, QColor(kWhite));
        }
    }

    QRgb fillColor(const Xf& xf) const
    {
        const QRgb fore = xf.fillForeColor == 64 ? qRgb(0, 0, 0) : color(xf.fillForeColor);
        const QRgb back = xf.fillBackColor == 65 || xf.fillBackColor == 64 ? kWhite : color(xf.fillBackColor);
        // Patterns become the average of their two colours, weighted by the share of foreground dots.
        double share = 0.5;
        switch (xf.fillPattern) {
        case 1: return fore;
        case 3: share = 0.75; break;
        case 4: share = 0.25; break;
        case 17: share = 0.125; break;
        case 18: share = 0.0625; break;
        default: break;
        }
        auto mix = [&](int a, int b) { return static_cast<int>(std::lround(a * share + b * (1 - share))); };
        return qRgb(mix(qRed(fore), qRed(back)), mix(qGreen(fore), qGreen(back)), mix(qBlue(fore), qBlue(back)));
    }

    void drawFills(QPainter& p) const
    {
        forEachCell([&](int r, int c, const Cell& cell) {
            const Xf& xf = xfOf(cell);
            if (xf.fillPattern == 0)
                return;
            QRect rect;
            if (cellRect(r, c, rect))
                p.fillRect(rect, QColor(fillColor(xf)));
        });
    }

    static QStringList wrapLines(const QString& text, const QFontMetricsF& fm, double width)
    {
        QStringList lines;
        for (const QString& para : text.split(QLatin1Char('\n'))) {
            QString line;
            for (const QString& word : para.split(QLatin1Char(' '))) {
                const QString tryLine = line.isEmpty() ? word : line + QLatin1Char(' ') + word;
                if (fm.horizontalAdvance(tryLine) <= width || line.isEmpty()) {
                    line = tryLine;
                } else {
                    lines << line;
                    line = word;
                }
                // A word wider than the cell breaks between characters.
                while (fm.horizontalAdvance(line) > width && line.size() > 1) {
                    int n = line.size() - 1;
                    while (n > 1 && fm.horizontalAdvance(line.left(n)) > width)
                        --n;
                    lines << line.left(n);
                    line = line.mid(n);
                }
            }
            lines << line;
        }
        return lines;
    }

    void drawTexts(QPainter& p)
    {
        forEachCell([&](int r, int c, const Cell& cell) {
            if (!cell.value.isBlank())
                drawCellText(p, r, c, cell);
        });
        p.setClipping(false);
    }

    void drawCellText(QPainter& p, int row, int col, const Cell& cell)
    {
        QRect rect;
        RangeAddress area;
        if (!cellRect(row, col, rect, &area))
            return;
        const Xf& xf = xfOf(cell);
        const std::string code = wb_.formatCode(xf.formatIndex);
        const FormattedText ft = formatValue(cell.value, code, wb_.date1904);
        QString text = QString::fromStdString(ft.text);
        if (text.isEmpty())
            return;
        const FontEntry& fe = fontEntry(xf.fontIndex);
        const QFontMetricsF& fm = fe.metrics;
        const bool number = cell.value.isNumber();

        HAlign align = xf.hAlign;
        if (align == HAlign::General)
            align = number ? HAlign::Right : cell.value.isText() ? HAlign::Left : HAlign::Center;
        const bool wrap = (xf.wrap || align == HAlign::Justify) && !number;
        if (align == HAlign::Justify)
            align = HAlign::Left;

        const int indent = (align == HAlign::Left || align == HAlign::Right) ? xf.indent * digitWidth_ * 10 / 7 : 0;
        const double innerLeft = rect.left() + kPadLeft + (align == HAlign::Left ? indent : 0);
        const double innerRight = rect.right() + 1 - kPadRight - (align == HAlign::Right ? indent : 0);
        const double avail = std::max(0.0, innerRight - innerLeft);

        // Numbers never spill over: a shorter General form if there is one, else a row of '#'.
        if (number) {
            const bool allHashes = text.count(QLatin1Char('#')) == text.size();
            if (fm.horizontalAdvance(text) > avail && (code == "General" || code.empty())) {
                for (int n = 10; n >= 1 && fm.horizontalAdvance(text) > avail; --n)
                    text = QString::fromStdString(formatGeneral(cell.value.number(), n));
            }
            if (allHashes || fm.horizontalAdvance(text) > avail) {
                const int n = static_cast<int>(avail / fm.horizontalAdvance(QLatin1Char('#')));
                text = QString(std::max(0, n), QLatin1Char('#'));
                if (text.isEmpty())
                    return;
            }
        }

        QRectF clip(rect.left(), rect.top(), rect.width() - 1, rect.height() - 1);
        if (align == HAlign::Fill) {
            // Repeat the text as many whole times as the cell holds.
            const double one = fm.horizontalAdvance(text);
            const int times = one > 0 ? std::max(1, static_cast<int>(avail / one)) : 1;
            text = text.repeated(times);
            align = HAlign::Left;
        }

        double spanLeft = rect.left(), spanRight = rect.right() + 1;
        if (align == HAlign::CenterAcross) {
            // Centred over the following empty cells that share the alignment.
            int last = area.lastCol;
            while (last + 1 <= range_.lastCol && isEmptyAt(row, last + 1)) {
                const Cell* next = sheet_.find(row, last + 1);
                if (!next || xfOf(*next).hAlign != HAlign::CenterAcross)
                    break;
                ++last;
            }
            spanRight = colX(last + 1);
            clip.setRight(spanRight - 1);
            align = HAlign::Center;
        }

        p.setFont(fe.font);
        p.setPen(QColor::fromRgb(ft.hasColor ? ft.color : fe.color));

        const double lineH = fm.height();
        QStringList lines;
        if (wrap)
            lines = wrapLines(text, fm, avail);
        else
            lines << text;
        const double blockH = lineH * lines.size();
        double top;
        switch (xf.vAlign) {
        case VAlign::Top: top = rect.top() + 1; break;
        case VAlign::Center:
        case VAlign::Justify: top = rect.top() + (rect.height() - 1 - blockH) / 2.0; break;
        default: top = rect.bottom() - 1 - blockH; break;
        }

        const double width0 = fm.horizontalAdvance(lines.front());
        if (!wrap && !number && !(xf.hAlign == HAlign::Fill)) {
            // Text runs on into empty neighbours on the side it grows towards.
            double left = 0, right = 0;
            if (align == HAlign::Left) {
                left = innerLeft;
                right = left + width0;
            } else if (align == HAlign::Right) {
                right = innerRight;
                left = right - width0;
            } else {
                left = spanLeft + (spanRight - spanLeft - width0) / 2.0;
                right = left + width0;
            }
            int c = area.lastCol;
            while (right > clip.right() && c + 1 <= range_.lastCol && isEmptyAt(row, c + 1)
                   && area.firstRow == area.lastRow) {
                ++c;
                clip.setRight(colX(c + 1) - 1);
            }
            c = area.firstCol;
            while (left < clip.left() && c - 1 >= range_.firstCol && isEmptyAt(row, c - 1)
                   && area.firstRow == area.lastRow) {
                --c;
                clip.setLeft(colX(c));
            }
        }

        p.setClipRect(clip);
        for (int i = 0; i < lines.size(); ++i) {
            const double w = fm.horizontalAdvance(lines[i]);
            double x;
            if (align == HAlign::Right)
                x = innerRight - w;
            else if (align == HAlign::Center)
                x = spanLeft + (spanRight - spanLeft - w) / 2.0;
            else
                x = innerLeft;
            const double baseline = top + i * lineH + fm.ascent();
            p.drawText(QPointF(std::round(x), std::round(baseline)), lines[i]);
        }
    }

    // ------------------------------------------------------------ borders

    // Pixel on/off runs of the dashed styles, and the line thickness of each style.
    static void styleOf(std::uint8_t style, int& thickness, std::vector<int>& pattern, bool& isDouble)
    {
        thickness = 1;
        isDouble = false;
        pattern.clear();
        switch (style) {
        case 2: thickness = 2; break;                                   // medium
        case 3: pattern = {3, 1}; break;                                 // dashed
        case 4: pattern = {1, 1}; break;                                 // dotted
        case 5: thickness = 3; break;                                    // thick
        case 6: isDouble = true; thickness = 3; break;                   // double
        case 7: pattern = {1, 1}; break;                                 // hair
        case 8: thickness = 2; pattern = {9, 3}; break;                  // medium dashed
        case 9: pattern = {9, 3, 3, 3}; break;                           // dash-dot
        case 10: thickness = 2; pattern = {9, 3, 3, 3}; break;           // medium dash-dot
        case 11: pattern = {9, 3, 3, 3, 3, 3}; break;                    // dash-dot-dot
        case 12: thickness = 2; pattern = {9, 3, 3, 3, 3, 3}; break;     // medium dash-dot-dot
        case 13: thickness = 2; pattern = {9, 1, 3, 1}; break;           // slanted dash-dot
        default: break;
        }
    }

    // A line along the gridline at `g` (row or column of pixels) from `a` to `b` inclusive.
    void line(QPainter& p, bool horizontal, int g, int a, int b, const Border& border) const
    {
        int thickness;
        std::vector<int> pattern;
        bool isDouble;
        styleOf(border.style, thickness, pattern, isDouble);
        const QColor col = QColor::fromRgb(color(border.colorIndex));
        std::vector<int> offsets;
        if (isDouble)
            offsets = {-1, 1};
        else if (thickness == 1)
            offsets = {0};
        else if (thickness == 2)
            offsets = {-1, 0};
        else
            offsets = {-1, 0, 1};
        const int limit = (horizontal ? ys_.back() : xs_.back()) - 1;
        for (int off : offsets) {
            const int at = std::clamp(g + off, 0, std::max(0, limit));
            auto segment = [&](int from, int to) {
                if (to < from)
                    return;
                if (horizontal)
                    p.fillRect(from, at, to - from + 1, 1, col);
                else
                    p.fillRect(at, from, 1, to - from + 1, col);
            };
            if (pattern.empty()) {
                segment(a, b);
                continue;
            }
            int pos = a;
            for (std::size_t k = 0; pos <= b; k = (k + 1) % pattern.size()) {
                const int len = pattern[k];
                if (k % 2 == 0)
                    segment(pos, std::min(b, pos + len - 1));
                pos += len;
            }
        }
    }

    void drawBorders(QPainter& p) const
    {
        forEachCell([&](int r, int c, const Cell& cell) {
            const Xf& xf = xfOf(cell);
            if (!xf.left.style && !xf.right.style && !xf.top.style && !xf.bottom.style)
                return;
            const int x0 = colX(c), x1 = colX(c + 1), y0 = rowY(r), y1 = rowY(r + 1);
            if (x1 <= x0 || y1 <= y0)
                return;
            const int xa = std::max(0, x0 - 1), ya = std::max(0, y0 - 1);
            if (xf.top.style)
                line(p, true, y0 - 1, xa, x1 - 1, xf.top);
            if (xf.bottom.style)
                line(p, true, y1 - 1, xa, x1 - 1, xf.bottom);
            if (xf.left.style)
                line(p, false, x0 - 1, ya, y1 - 1, xf.left);
            if (xf.right.style)
                line(p, false, x1 - 1, ya, y1 - 1, xf.right);
        });
    }

    const Workbook& wb_;
    const Sheet& sheet_;
    RangeAddress range_;
    RenderOptions opt_;
    int digitWidth_ = 7;
    std::vector<int> xs_, ys_;   // pixel edges of the range's columns and rows
    std::vector<RangeAddress> merges_;
    std::map<std::uint16_t, FontEntry> fonts_;
};

bool validRange(const Workbook& wb, int sheetIndex, const RangeAddress& range)
{
    return sheetIndex >= 0 && sheetIndex < static_cast<int>(wb.sheets.size()) && range.firstRow >= 0
        && range.firstCol >= 0 && range.lastRow >= range.firstRow && range.lastCol >= range.firstCol
        && range.lastRow < kMaxRows && range.lastCol < kMaxCols;
}

} // namespace

QSize renderedSize(const Workbook& wb, int sheetIndex, const RangeAddress& range, const RenderOptions& opt)
{
    if (!validRange(wb, sheetIndex, range))
        return {};
    return Renderer(wb, wb.sheets[static_cast<std::size_t>(sheetIndex)], range, opt).size();
}

QImage renderRange(const Workbook& wb, int sheetIndex, const RangeAddress& range, const RenderOptions& opt)
{
    if (!validRange(wb, sheetIndex, range))
        return {};
    return Renderer(wb, wb.sheets[static_cast<std::size_t>(sheetIndex)], range, opt).render();
}

} // namespace ss
