#include "spreadsheet/render/render.h"

#include "spreadsheet/error.h"
#include "spreadsheet/numfmt.h"
#include "spreadsheet/render/picturememory.h"
#include "spreadsheet/sidethreads.h"

#include <QFont>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QPainter>
#include <QRawFont>

#include <algorithm>
#include <atomic>
#include <exception>
#include <functional>
#include <future>
#include <cmath>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace ss {

namespace {

const QRgb kWhite = qRgb(255, 255, 255);
const QRgb kGridline = qRgb(0xD0, 0xD7, 0xE5);

// The most characters of one unwrapped line laid out: more than the widest picture can show.
constexpr qsizetype kMaxLineChars = 8192;

// Pictures of at least this many pixels are drawn in bands by one thread per processor (up to
// two), a few bands each, so that a thread held back by a busy machine leaves more to the others.
constexpr qint64 kBandedPixels = 1 << 20;
constexpr std::size_t kBandsPerThread = 2;
// What drawing a cell costs against filling one pixel, for cutting a picture into bands of equal
// work: a value's text, or only a blank cell's fill and borders.
constexpr double kCellWork = 5000;
constexpr double kBlankCellWork = 100;

// The most glyphs of consecutive cells handed to the painter at once.
constexpr qsizetype kMaxPendingGlyphs = 4096;

// Text sits this far from the cell's left edge and its right gridline.
constexpr int kPadLeft = 2;
constexpr int kPadRight = 3;

} // namespace

int columnPixels(const Sheet& sheet, int col, int digitWidth)
{
    for (const ColumnInfo& ci : sheet.columns) {
        if (col < ci.firstCol || col > ci.lastCol)
            continue;
        if (ci.hidden || ci.width == 0)
            return 0;
        // Stored widths already hold the cell padding; Excel adds half a digit before truncating.
        const double chars = (ci.width + std::trunc(128.0 / digitWidth)) / 256.0;
        return static_cast<int>(std::trunc(chars * digitWidth));
    }
    // DEFCOLWIDTH characters plus padding and gridline, rounded up to 8 pixels.
    const int px = sheet.defaultColWidth * digitWidth + 5;
    return (px + 7) / 8 * 8;
}

QString fontFamilyFor(const std::string& name)
{
    // Metric-compatible stand-ins keep column widths and text extents as the workbook expects.
    static std::mutex guard;   // bands of a picture are drawn at once
    const std::lock_guard<std::mutex> lock(guard);
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

namespace {

// The characters laid out from a font's own glyph table: printable ones below U+0250.
constexpr char16_t kTableFirst = 0x20;
constexpr char16_t kTableEnd = 0x0250;

struct FontEntry {
    QFont font;
    QFontMetricsF metrics{QFont()};
    QRawFont raw;
    QRgb color = 0;
    int digitWidth = 7;
    double lineHeight = 0;
    double ascent = 0;
    int pixelSize = 1;
    bool decorated = false;   // underlined or struck out: the lines go with each run of text
    // How far any glyph of the font reaches above and below its baseline, in pixels, from the
    // font's own bounding box; negative when the font does not say.
    double inkAbove = -1, inkBelow = -1;
    struct Glyph {
        quint32 index = 0;
        double advance = 0;
        bool known = false;
    };
    std::vector<Glyph> glyphs;   // by character from kTableFirst, filled as characters come
};

// Text laid out for drawing: glyphs from the font's table, or only a width when the text engine
// must shape it. A renderer keeps its runs from cell to cell, so their lists are not grown anew.
struct Run {
    std::vector<quint32> glyphs;
    std::vector<double> xs;   // of each glyph, from the run's start on its baseline
    double width = 0;
    bool simple = false;
};

struct Span {
    int first = 0, last = 0;   // inclusive columns (or rows)
};

// A number format as the cells of one picture use it: its code looked up and read once.
struct FormatEntry {
    explicit FormatEntry(const std::string& code) : number(code), general(code == "General" || code.empty()) {}

    NumberFormat number;
    bool general = false;   // "General" or no code: a number may show shorter to fit
    int date = -1;          // a date format: -1 until asked

    bool isDate()
    {
        if (date < 0)
            date = number.isDate() ? 1 : 0;
        return date == 1;
    }
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

    QImage render(int bands)
    {
        QImage img = newPicture(size(), QImage::Format_RGB32);
        if (img.isNull())
            return img;
        const std::vector<int> edges = bandEdges(bands);
        if (edges.size() <= 2) {
            img.fill(kWhite);
            QPainter p(&img);
            paint(p);
            p.end();
            return img;
        }
        // Each thread draws its bands with a renderer of its own (fonts are per thread), each band
        // into its own rows of the one picture, background first; a cell near an edge is drawn
        // for both bands, each keeping to its rows.
        uchar* const pixels = img.bits();
        const qsizetype bytesPerLine = img.bytesPerLine();
        auto drawBand = [&, pixels](Renderer& renderer, std::size_t k) {
            const int top = edges[k], bottom = edges[k + 1];
            QImage band(pixels + bytesPerLine * top, img.width(), bottom - top, bytesPerLine, img.format());
            band.fill(kWhite);
            QPainter p(&band);
            p.translate(0, -top);
            renderer.setBand(top, bottom);
            renderer.paint(p);
        };
        // The bands are taken one after another by whoever is free: the calling thread and the
        // band threads, so a thread that a busy machine holds back takes fewer of them. A band
        // thread whose job begins only after the last band was taken touches nothing more, so
        // the calling thread waits only for the jobs that began before.
        struct Shared {
            std::atomic<std::size_t> next{0};
            std::vector<std::atomic<bool>> begun;
            explicit Shared(std::size_t helpers) : begun(helpers) {}
        };
        const std::size_t count = edges.size() - 1;
        const std::size_t helpers = std::min(count, sharingThreads()) - 1;
        const auto shared = std::make_shared<Shared>(helpers);
        std::vector<std::future<void>> jobs(helpers);
        std::exception_ptr failure;
        try {
            for (std::size_t t = 0; t < helpers; ++t)
                jobs[t] = runBeside(t, [&, shared, count, t] {
                    shared->begun[t] = true;
                    std::optional<Renderer> own;
                    for (std::size_t k; (k = shared->next.fetch_add(1)) < count;) {
                        if (!own)
                            own.emplace(wb_, sheet_, range_, opt_);
                        drawBand(*own, k);
                    }
                });
        } catch (...) {
            failure = std::current_exception();   // the bands are drawn here, or not at all
        }
        for (std::size_t k; (k = shared->next.fetch_add(1)) < count;) {
            if (failure)
                continue;
            try {
                drawBand(*this, k);
            } catch (...) {
                failure = std::current_exception();
            }
        }
        for (std::size_t t = 0; t < helpers; ++t) {
            if (!jobs[t].valid() || !shared->begun[t])
                continue;
            try {
                jobs[t].get();   // waits for the job's last band; a failure in it comes out here
            } catch (...) {
                if (!failure)
                    failure = std::current_exception();
            }
        }
        if (failure)
            std::rethrow_exception(failure);
        return img;
    }

    // Only the rows of [top, bottom) are drawn from now on, with any cell whose drawing can reach
    // them: its rows (a merge's all of them) and a margin for text standing out of its cell.
    void setBand(int top, int bottom)
    {
        bandTop_ = top;
        bandBottom_ = bottom;
        reach_.assign(ys_.size(), 0);
        for (std::size_t i = 0; i + 1 < ys_.size(); ++i)
            reach_[i] = ys_[i + 1];
        for (const RangeAddress& m : merges_)
            if (m.firstRow >= range_.firstRow && m.firstRow <= range_.lastRow) {
                int& r = reach_[static_cast<std::size_t>(m.firstRow - range_.firstRow)];
                r = std::max(r, rowY(m.lastRow + 1));
            }
        int tallest = 0;
        for (const Font& f : wb_.fonts)
            tallest = std::max(tallest, static_cast<int>(std::lround(f.height / 20.0 * opt_.dpi / 72.0)));
        margin_ = 2 * tallest + 16;
    }

    // Every layer through the painter, so a picture and a printed page come from the same code.
    void paint(QPainter& p)
    {
        p.save();
        p.setRenderHint(QPainter::TextAntialiasing, true);
        p.setRenderHint(QPainter::Antialiasing, false);
        if (sheet_.showGridlines && opt_.gridlines)
            drawGridlines(p);
        drawFills(p);
        drawTexts(p);
        drawBorders(p);
        p.restore();
    }

private:
    // ------------------------------------------------------------ geometry

    int columnPixels(int col) const { return ss::columnPixels(sheet_, col, digitWidth_); }

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

    // The row's cells matter to the band being drawn (every row when the picture is drawn whole).
    bool inBand(int row) const
    {
        if (reach_.empty())
            return true;
        const auto i = static_cast<std::size_t>(row - range_.firstRow);
        return ys_[i] - margin_ < bandBottom_ && reach_[i] + margin_ > bandTop_;
    }


    // Horizontal band edges on row edges, about equal in work: `bands` of them, or by the
    // picture's size and the processors when 0. A row's work is its pixels, which every band
    // fills, and its cells, whose text costs far more than its area.
    std::vector<int> bandEdges(int bands) const
    {
        const int h = size().height();
        if (bands <= 0) {
            const bool large = static_cast<qint64>(size().width()) * h >= kBandedPixels;
            bands = large && sharingThreads() > 1 ? static_cast<int>(kBandsPerThread * sharingThreads()) : 1;
        }
        std::vector<int> edges{0};
        if (bands <= 1 || h <= 0) {
            edges.push_back(h);
            return edges;
        }
        // Work done before each row edge, in pixels' worth.
        const std::size_t rows = ys_.size() - 1;
        std::vector<double> before(ys_.size(), 0);
        const double width = size().width();
        for (std::size_t i = 0; i < rows; ++i) {
            const int r = range_.firstRow + static_cast<int>(i);
            double work = width * (ys_[i + 1] - ys_[i]);
            if (ys_[i + 1] > ys_[i]) {
                auto it = sheet_.cells.lower_bound({r, range_.firstCol});
                for (; it != sheet_.cells.end() && it->first.row == r && it->first.col <= range_.lastCol; ++it)
                    work += it->second.value.isBlank() ? kBlankCellWork : kCellWork;
            }
            before[i + 1] = before[i] + work;
        }
        const double total = before.back();
        for (int k = 1; k < bands; ++k) {
            const double want = total * k / bands;
            const auto at = std::lower_bound(before.begin(), before.end(), want);
            if (at == before.end())
                continue;
            const int edge = ys_[static_cast<std::size_t>(at - before.begin())];
            if (edge > edges.back() && edge < h)
                edges.push_back(edge);
        }
        edges.push_back(h);
        return edges;
    }

    template <typename F>
    void forEachCell(F&& f) const
    {
        for (int r = range_.firstRow; r <= range_.lastRow; ++r) {
            if (!inBand(r))
                continue;
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

    // Latin text is laid out from a per-font glyph table: shaping every cell's text anew costs
    // more than all the rest of the drawing. Other scripts go through the full text engine.
    static void layout(FontEntry& fe, const QString& text, Run& r)
    {
        r.glyphs.clear();
        r.xs.clear();
        r.simple = fe.raw.isValid();
        if (r.simple && fe.glyphs.empty())
            fe.glyphs.resize(kTableEnd - kTableFirst);
        r.glyphs.reserve(static_cast<std::size_t>(text.size()));
        r.xs.reserve(static_cast<std::size_t>(text.size()));
        double x = 0;
        for (QChar ch : text) {
            if (!r.simple)
                break;
            const char16_t u = ch.unicode();
            if (u < kTableFirst || u >= kTableEnd) {
                r.simple = false;
                break;
            }
            FontEntry::Glyph& g = fe.glyphs[u - kTableFirst];
            if (!g.known) {
                quint32 glyph = 0;
                int n = 1;
                QPointF advance;
                if (fe.raw.glyphIndexesForChars(&ch, 1, &glyph, &n) && glyph != 0)
                    fe.raw.advancesForGlyphIndexes(&glyph, &advance, 1);
                g = {glyph, advance.x(), true};
            }
            if (g.index == 0) {
                r.simple = false;
                break;
            }
            r.glyphs.push_back(g.index);
            r.xs.push_back(x);
            x += g.advance;
        }
        if (r.simple) {
            r.width = x;
        } else {
            r.glyphs.clear();
            r.xs.clear();
            r.width = fe.metrics.horizontalAdvance(text);
        }
    }

    static Run layout(FontEntry& fe, const QString& text)
    {
        Run r;
        layout(fe, text, r);
        return r;
    }

    // The decimal and group marks of a formatted number in the reader's own; only marks that sit
    // at digits change, so a format's literal text ("Rs.") keeps its points.
    QString localSeparators(const QString& text) const
    {
        if (opt_.decimalSeparator == "." && opt_.groupSeparator == ",")
            return text;
        const QString decimal = QString::fromStdString(opt_.decimalSeparator);
        const QString group = QString::fromStdString(opt_.groupSeparator);
        QString out;
        out.reserve(text.size());
        for (qsizetype i = 0; i < text.size(); ++i) {
            const QChar c = text[i];
            const bool digitBefore = i > 0 && text[i - 1].isDigit();
            const bool digitAfter = i + 1 < text.size() && text[i + 1].isDigit();
            if (c == QLatin1Char('.') && digitAfter && (digitBefore || i == 0 || !text[i - 1].isLetter()))
                out += decimal;
            else if (c == QLatin1Char(',') && digitBefore && digitAfter)
                out += group;
            else
                out += c;
        }
        return out;
    }

    // A run's glyphs join those waiting to be drawn: the glyphs of cells one after another that
    // share font, colour and clip go to the painter together. Runs of underlined or struck-out
    // text are drawn one by one, as their lines span each run. Text the table cannot lay out
    // goes through the text engine in the painter's font.
    void drawRun(QPainter& p, FontEntry& fe, const Run& r, const QString& text, QPointF at)
    {
        if (!r.simple) {
            flushGlyphs(p);
            if (painterFont_ != &fe) {
                p.setFont(fe.font);
                painterFont_ = &fe;
            }
            p.drawText(at, text);
            return;
        }
        if (fe.decorated) {
            flushGlyphs(p);
            QList<QPointF> positions;
            positions.reserve(static_cast<qsizetype>(r.xs.size()));
            for (double x : r.xs)
                positions.push_back(QPointF(x, 0));
            QGlyphRun g;
            g.setRawFont(fe.raw);
            g.setGlyphIndexes(QList<quint32>(r.glyphs.begin(), r.glyphs.end()));
            g.setPositions(positions);
            g.setUnderline(fe.font.underline());
            g.setStrikeOut(fe.font.strikeOut());
            if (bandTop_ == 0) {
                p.drawGlyphRun(at, g);
                return;
            }
            // The painter puts the line under or through a run where the run's glyphs fall on the
            // device, then moves it by its transform once more; a band's painter is shifted, so
            // the run goes to the device unshifted.
            const QTransform shifted = p.worldTransform();
            p.setWorldTransform(QTransform());
            p.drawGlyphRun(at - QPointF(0, bandTop_), g);
            p.setWorldTransform(shifted);
            return;
        }
        if (pendingFont_ != &fe || pendingGlyphs_.size() >= kMaxPendingGlyphs)
            flushGlyphs(p);
        pendingFont_ = &fe;
        const qsizetype from = pendingGlyphs_.size();
        const auto count = static_cast<qsizetype>(r.glyphs.size());
        pendingGlyphs_.resize(from + count);
        pendingPositions_.resize(from + count);
        quint32* const glyphs = pendingGlyphs_.data() + from;
        QPointF* const positions = pendingPositions_.data() + from;
        for (qsizetype k = 0; k < count; ++k) {
            glyphs[k] = r.glyphs[static_cast<std::size_t>(k)];
            positions[k] = at + QPointF(r.xs[static_cast<std::size_t>(k)], 0);
        }
    }

    void flushGlyphs(QPainter& p)
    {
        if (pendingGlyphs_.isEmpty())
            return;
        QGlyphRun g;
        g.setRawFont(pendingFont_->raw);
        g.setGlyphIndexes(pendingGlyphs_);
        g.setPositions(pendingPositions_);
        p.drawGlyphRun(QPointF(0, 0), g);
        pendingGlyphs_.clear();
        pendingPositions_.clear();
    }

    // The painter's colour and clip for the next cell's text; glyphs still waiting were meant for
    // the state before, so they are drawn first when it changes.
    void usePen(QPainter& p, QRgb color)
    {
        if (penKnown_ && pen_ == color)
            return;
        flushGlyphs(p);
        p.setPen(QColor::fromRgb(color));
        pen_ = color;
        penKnown_ = true;
    }

    void noClip(QPainter& p)
    {
        if (!clipped_)
            return;
        flushGlyphs(p);
        p.setClipping(false);
        clipped_ = false;
    }

    void clipTo(QPainter& p, const QRectF& clip)
    {
        flushGlyphs(p);
        p.setClipRect(clip);
        clipped_ = true;
    }

    FontEntry& fontEntry(std::uint16_t index)
    {
        auto it = fonts_.find(index);
        if (it != fonts_.end())
            return it->second;
        const Font& f = wb_.font(index);
        FontEntry e;
        e.font.setFamily(fontFamilyFor(f.name));
        e.pixelSize = std::max(1, static_cast<int>(std::lround(f.height / 20.0 * opt_.dpi / 72.0)));
        e.font.setPixelSize(e.pixelSize);
        e.font.setBold(f.bold());
        e.font.setItalic(f.italic);
        e.font.setUnderline(f.underline != 0);
        e.font.setStrikeOut(f.strikeout);
        e.font.setKerning(false);
        e.metrics = QFontMetricsF(e.font);
        e.lineHeight = e.metrics.height();
        e.ascent = e.metrics.ascent();
        e.decorated = e.font.underline() || e.font.strikeOut();
        e.color = color(f.colorIndex);
        e.digitWidth = std::max(1, static_cast<int>(std::lround(e.metrics.horizontalAdvance(QLatin1Char('0')))));
        e.raw = QRawFont::fromFont(e.font);
        inkExtent(e);
        return fonts_.emplace(index, std::move(e)).first->second;
    }

    // The font's bounding box over all its glyphs (its 'head' table), with room for hinting and
    // emboldening, which may take a glyph's pixels a little past its outline.
    static void inkExtent(FontEntry& e)
    {
        if (!e.raw.isValid() || e.raw.unitsPerEm() <= 0)
            return;
        const QByteArray head = e.raw.fontTable("head");
        if (head.size() < 54)
            return;
        auto int16At = [&](int at) {
            return static_cast<std::int16_t>((static_cast<quint8>(head[at]) << 8) | static_cast<quint8>(head[at + 1]));
        };
        const double scale = e.raw.pixelSize() / e.raw.unitsPerEm();
        const double slack = 2 + e.raw.pixelSize() / 8;
        e.inkAbove = std::max(0.0, int16At(42) * scale) + slack;
        e.inkBelow = std::max(0.0, -int16At(38) * scale) + slack;
    }

    // The cell's drawing can reach the band's rows: the rows of its area, with room for text
    // standing out of it; any rows when the picture is drawn whole.
    bool reachesBand(const QRect& rect, const FontEntry& fe) const
    {
        if (reach_.empty())
            return true;
        const int margin = 2 * fe.pixelSize + 16;
        return rect.top() - margin < bandBottom_ && rect.bottom() + 1 + margin > bandTop_;
    }

    FormatEntry& formatEntry(std::uint16_t index)
    {
        auto it = formats_.find(index);
        if (it != formats_.end())
            return it->second;
        return formats_.emplace(index, FormatEntry(wb_.formatCode(index))).first->second;
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

    // Breaks text into lines no wider than `width` (words first, then characters for a word wider
    // than the cell) and stops after `maxLines` lines, so a huge text in a small cell costs only
    // what can show. Widths add up word by word: kerning is off, so a line measures the sum of its parts.
    static QStringList wrapLines(const QString& text, const QFontMetricsF& fm, double width, qsizetype maxLines)
    {
        QStringList lines;
        const double space = fm.horizontalAdvance(QLatin1Char(' '));
        // A run of more characters than two per pixel of the cell is wider than the cell in any
        // font drawn; it is broken between characters without measuring the whole of it.
        const qsizetype measurable = static_cast<qsizetype>(std::min(width, 1e6)) * 2 + 64;
        const double tooWide = width + 1e9;
        auto measure = [&](const QString& t) { return t.size() > measurable ? tooWide : fm.horizontalAdvance(t); };
        const qsizetype n = text.size();
        qsizetype pos = 0;
        while (pos <= n && lines.size() < maxLines) {
            qsizetype end = text.indexOf(QLatin1Char('\n'), pos);
            if (end < 0)
                end = n;
            QString line;
            double lineW = 0;
            for (qsizetype w = pos; w <= end && lines.size() < maxLines;) {
                qsizetype wordEnd = text.indexOf(QLatin1Char(' '), w);
                if (wordEnd < 0 || wordEnd > end)
                    wordEnd = end;
                const QString word = text.mid(w, wordEnd - w);
                const double wordW = measure(word);
                w = wordEnd + 1;
                if (line.isEmpty()) {
                    line = word;
                    lineW = wordW;
                } else if (lineW + space + wordW <= width) {
                    line += QLatin1Char(' ');
                    line += word;
                    lineW += space + wordW;
                } else {
                    lines << line;
                    line = word;
                    lineW = wordW;
                }
                // A word wider than the cell breaks between characters (never inside a surrogate pair).
                while (lineW > width && line.size() > 1 && lines.size() < maxLines) {
                    qsizetype k = 0;
                    double taken = 0;
                    while (k < line.size()) {
                        const qsizetype step = line[k].isHighSurrogate() && k + 1 < line.size() ? 2 : 1;
                        const double a = fm.horizontalAdvance(line.mid(k, step));
                        if (k > 0 && taken + a > width)
                            break;
                        taken += a;
                        k += step;
                    }
                    if (k >= line.size())
                        break;
                    lines << line.left(k);
                    line.remove(0, k);
                    lineW = lineW >= tooWide ? measure(line) : std::max(0.0, lineW - taken);
                }
            }
            if (lines.size() < maxLines)
                lines << line;
            pos = end + 1;
        }
        return lines;
    }

    void drawTexts(QPainter& p)
    {
        clipped_ = p.hasClipping();
        penKnown_ = false;
        painterFont_ = nullptr;
        forEachCell([&](int r, int c, const Cell& cell) {
            if (!cell.value.isBlank())
                drawCellText(p, r, c, cell);
        });
        flushGlyphs(p);
        p.setClipping(false);
    }

    void drawCellText(QPainter& p, int row, int col, const Cell& cell)
    {
        QRect rect;
        RangeAddress area;
        if (!cellRect(row, col, rect, &area))
            return;
        const Xf& xf = xfOf(cell);
        FontEntry& fe = fontEntry(xf.fontIndex);
        if (!reachesBand(rect, fe))
            return;
        FormatEntry& format = formatEntry(xf.formatIndex);
        const FormattedText ft = format.number.format(cell.value, wb_.date1904);
        QString text = QString::fromStdString(ft.text);
        if (text.isEmpty())
            return;
        const QFontMetricsF& fm = fe.metrics;
        const bool number = cell.value.isNumber();
        if (number && !format.isDate())
            text = localSeparators(text);

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

        // A line of text shows at most the width of the picture; a text longer than any picture
        // holds is cut on the side that cannot show before it is laid out.
        if (!wrap && text.size() > kMaxLineChars) {
            const qsizetype cut = text.size() - kMaxLineChars;
            if (align == HAlign::Right)
                text.remove(0, cut);
            else if (align == HAlign::Center || align == HAlign::CenterAcross)
                text = text.mid(cut / 2, kMaxLineChars);
            else
                text.truncate(kMaxLineChars);
        }
        if (runs_.empty())
            runs_.resize(1);
        Run& run = runs_[0];
        if (wrap && align != HAlign::Fill) {
            run.glyphs.clear();
            run.xs.clear();
            run.width = 0;
            run.simple = false;
        } else {
            layout(fe, text, run);
        }
        // Numbers never spill over: a shorter General form if there is one, else a row of '#'.
        if (number) {
            const bool allHashes = text.count(QLatin1Char('#')) == text.size();
            if (run.width > avail && format.general) {
                for (int n = 10; n >= 1 && run.width > avail; --n) {
                    text = localSeparators(QString::fromStdString(formatGeneral(cell.value.number(), n)));
                    layout(fe, text, run);
                }
            }
            if (allHashes || run.width > avail) {
                const double hashWidth = layout(fe, QStringLiteral("#")).width;
                const int n = hashWidth > 0 ? static_cast<int>(std::min(avail / hashWidth, 4096.0)) : 0;
                if (n <= 0)
                    return;
                text = QString(n, QLatin1Char('#'));
                layout(fe, text, run);
            }
        }

        QRectF clip(rect.left(), rect.top(), rect.width() - 1, rect.height() - 1);
        if (align == HAlign::Fill) {
            // Repeat the text as many whole times as the cell holds.
            qsizetype times = run.width > 0 ? std::max<qsizetype>(1, static_cast<qsizetype>(avail / run.width)) : 1;
            times = std::min(times, std::max<qsizetype>(1, kMaxLineChars / std::max<qsizetype>(1, text.size())));
            text = text.repeated(times);
            layout(fe, text, run);
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

        // Unwrapped text is one line, already laid out in runs_[0].
        QStringList lines;
        std::size_t lineCount = 1;
        const double lineH = fe.lineHeight;
        bool overflows = false;
        if (wrap) {
            // Only the lines the cell can show are laid out. Text taller than the cell shows from
            // its first line whatever the vertical alignment.
            const auto shown = static_cast<qsizetype>(std::ceil(rect.height() / std::max(1.0, lineH)));
            lines = wrapLines(text, fm, avail, shown + 1);
            if (lines.size() > shown) {
                overflows = true;
                lines.resize(shown);
            }
            lineCount = static_cast<std::size_t>(lines.size());
            if (runs_.size() < lineCount)
                runs_.resize(lineCount);
            for (std::size_t i = 0; i < lineCount; ++i)
                layout(fe, lines[static_cast<qsizetype>(i)], runs_[i]);
        }
        const double blockH = lineH * static_cast<double>(lineCount);
        double top;
        switch (overflows ? VAlign::Top : xf.vAlign) {
        case VAlign::Top: top = rect.top() + 1; break;
        case VAlign::Center:
        case VAlign::Justify: top = rect.top() + (rect.height() - 1 - blockH) / 2.0; break;
        default: top = rect.bottom() - 1 - blockH; break;
        }

        lineXs_.clear();
        double inkLeft = 1e9, inkRight = -1e9;
        for (std::size_t i = 0; i < lineCount; ++i) {
            const Run& r = runs_[i];
            double x;
            if (align == HAlign::Right)
                x = std::round(innerRight - r.width);
            else if (align == HAlign::Center)
                x = std::round(spanLeft + (spanRight - spanLeft - r.width) / 2.0);
            else
                x = innerLeft;
            lineXs_.push_back(x);
            inkLeft = std::min(inkLeft, x);
            inkRight = std::max(inkRight, x + r.width);
        }

        if (!wrap && !number && xf.hAlign != HAlign::Fill && area.firstRow == area.lastRow) {
            // Text runs on into empty neighbours on the side it grows towards.
            int last = area.lastCol;
            while (inkRight > clip.right() && last + 1 <= range_.lastCol && isEmptyAt(row, last + 1)) {
                ++last;
                clip.setRight(colX(last + 1) - 1);
            }
            int first = area.firstCol;
            while (inkLeft < clip.left() && first - 1 >= range_.firstCol && isEmptyAt(row, first - 1)) {
                --first;
                clip.setLeft(colX(first));
            }
            // As in the spreadsheet, the run-on text hides the gridlines it crosses.
            if (sheet_.showGridlines && opt_.gridlines && (first < area.firstCol || last > area.lastCol)) {
                noClip(p);
                flushGlyphs(p);
                for (int k = first; k < last; ++k) {
                    const Cell* left = sheet_.find(row, k);
                    if (left && xfOf(*left).fillPattern != 0)
                        continue;
                    p.fillRect(colX(k + 1) - 1, rect.top(), 1, rect.height() - 1, QColor(kWhite));
                }
            }
        }

        // Clipping only when something sticks out keeps the common case cheap.
        const bool inside = inkLeft >= clip.left() && inkRight <= clip.right() && top >= clip.top() - 1
            && top + blockH <= clip.bottom() + 1;
        if (!reach_.empty() && fe.inkAbove >= 0 && !fe.decorated) {
            // Glyphs from the font's table stay within its bounding box around their baselines.
            bool simple = lineCount > 0;
            for (std::size_t i = 0; i < lineCount && simple; ++i)
                simple = runs_[i].simple;
            const double firstBaseline = std::round(top + fe.ascent);
            const double lastBaseline = std::round(top + static_cast<double>(lineCount - 1) * lineH + fe.ascent);
            if (simple && (lastBaseline + fe.inkBelow < bandTop_ || firstBaseline - fe.inkAbove >= bandBottom_))
                return;
        }
        if (inside)
            noClip(p);
        else
            clipTo(p, clip);
        usePen(p, ft.hasColor ? ft.color : fe.color);
        for (std::size_t i = 0; i < lineCount; ++i) {
            const double baseline = std::round(top + static_cast<double>(i) * lineH + fe.ascent);
            drawRun(p, fe, runs_[i], wrap ? lines[static_cast<qsizetype>(i)] : text, QPointF(lineXs_[i], baseline));
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

    // A line along the gridline at `g` (row or column of pixels) from `a` to `b` inclusive, one fill
    // per dash rather than one per dot.
    void line(QPainter& p, bool horizontal, int g, int a, int b, const Border& border) const
    {
        int thickness;
        std::vector<int> pattern;
        bool isDouble;
        styleOf(border.style, thickness, pattern, isDouble);
        const QRgb col = color(border.colorIndex);
        std::vector<int> offsets;
        if (isDouble)
            offsets = {-1, 1};
        else if (thickness == 1)
            offsets = {0};
        else if (thickness == 2)
            offsets = {-1, 0};
        else
            offsets = {-1, 0, 1};
        const QColor fill = QColor::fromRgb(col);
        const int across = horizontal ? ys_.back() : xs_.back();
        const int along = horizontal ? xs_.back() : ys_.back();
        a = std::max(a, 0);
        b = std::min(b, along - 1);
        auto dash = [&](int at, int from, int to) {
            if (from > to)
                return;
            if (horizontal)
                p.fillRect(from, at, to - from + 1, 1, fill);
            else
                p.fillRect(at, from, 1, to - from + 1, fill);
        };
        for (int off : offsets) {
            const int at = std::clamp(g + off, 0, across - 1);
            if (pattern.empty()) {
                dash(at, a, b);
                continue;
            }
            std::size_t k = 0;
            int left = pattern[0];
            int start = -1;
            for (int pos = a; pos <= b; ++pos) {
                if (left == 0) {
                    k = (k + 1) % pattern.size();
                    left = pattern[k];
                }
                --left;
                if (k % 2 == 1) {
                    dash(at, start, pos - 1);
                    start = -1;
                } else if (start < 0) {
                    start = pos;
                }
            }
            if (start >= 0)
                dash(at, start, b);
        }
    }

    void drawBorders(QPainter& p) const
    {
        if (xs_.back() <= 0 || ys_.back() <= 0)
            return;
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
    std::unordered_map<std::uint16_t, FormatEntry> formats_;
    // Text drawing: lines laid out for the cell at hand, glyphs waiting to be drawn, and what the
    // painter was last given.
    std::vector<Run> runs_;
    std::vector<double> lineXs_;
    QList<quint32> pendingGlyphs_;
    QList<QPointF> pendingPositions_;
    const FontEntry* pendingFont_ = nullptr;
    const FontEntry* painterFont_ = nullptr;
    QRgb pen_ = 0;
    bool penKnown_ = false;
    bool clipped_ = false;
    int bandTop_ = 0, bandBottom_ = 0, margin_ = 0;
    std::vector<int> reach_;   // per row of the range: the lowest pixel its cells cover; empty when drawing whole
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

void paintRange(QPainter& painter, const Workbook& wb, int sheetIndex, const RangeAddress& range, const RenderOptions& opt)
{
    if (!validRange(wb, sheetIndex, range))
        return;
    Renderer(wb, wb.sheets[static_cast<std::size_t>(sheetIndex)], range, opt).paint(painter);
}

QImage renderRange(const Workbook& wb, int sheetIndex, const RangeAddress& range, const RenderOptions& opt)
{
    if (!validRange(wb, sheetIndex, range))
        return {};
    Renderer renderer(wb, wb.sheets[static_cast<std::size_t>(sheetIndex)], range, opt);
    const QSize size = renderer.size();
    if (static_cast<qint64>(size.width()) * size.height() > kMaxPicturePixels)
        throw LimitError("The picture of the range would be " + std::to_string(size.width()) + " x "
                         + std::to_string(size.height()) + " pixels, more than the "
                         + std::to_string(kMaxPicturePixels / (1024 * 1024)) + " megapixels that can be drawn");
    return renderer.render(opt.bands);
}

} // namespace ss
