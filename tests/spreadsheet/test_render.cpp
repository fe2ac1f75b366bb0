#include "spreadsheet/error.h"
#include "spreadsheet/calc.h"
#include "spreadsheet/render/picturememory.h"
#include "spreadsheet/render/render.h"
#include "spreadsheet/xls.h"

#include <QtTest>

#include <cmath>

using namespace ss;

namespace {

bool isDark(QRgb c) { return qGray(c) < 140; }
bool isWhite(QRgb c) { return c == qRgb(255, 255, 255); }
// Light grey with a bluish tint or plain silver: what a spreadsheet uses for gridlines.
bool isGridGrey(QRgb c) { return !isWhite(c) && qGray(c) >= 180 && qGray(c) < 240; }

// Bounding box of the dark pixels inside `area` (empty when none).
QRect darkBox(const QImage& img, const QRect& area)
{
    QRect box;
    const QRect a = area.intersected(img.rect());
    for (int y = a.top(); y <= a.bottom(); ++y)
        for (int x = a.left(); x <= a.right(); ++x)
            if (isDark(img.pixel(x, y)))
                box |= QRect(x, y, 1, 1);
    return box;
}

// Column widths as stored: characters including the padding, in 1/256.
ColumnInfo column(int first, int last, int width256, bool hidden = false)
{
    ColumnInfo c;
    c.firstCol = first;
    c.lastCol = last;
    c.width = static_cast<std::uint16_t>(width256);
    c.hidden = hidden;
    return c;
}

struct Book {
    Workbook wb = Workbook::makeDefault();
    Sheet& sheet()
    {
        if (wb.sheets.empty()) {
            wb.sheets.emplace_back();
            wb.sheets[0].name = "Sheet1";
        }
        return wb.sheets[0];
    }
    std::uint16_t xf(const std::function<void(Xf&)>& edit)
    {
        Xf x = wb.xfs[15];
        edit(x);
        return wb.addXf(x);
    }
    void set(int r, int c, const Value& v, std::uint16_t xfIndex = 15)
    {
        Cell& cell = sheet().at(r, c);
        cell.value = v;
        cell.xf = xfIndex;
    }
    QImage render(const RangeAddress& range, RenderOptions opt = {}) { return renderRange(wb, 0, range, opt); }
};

} // namespace

class TestRender : public QObject {
    Q_OBJECT

private slots:
    void sizes()
    {
        Book b;
        Sheet& s = b.sheet();
        s.columns = {column(0, 0, 2340), column(1, 1, 2560), column(2, 2, 2560, true)};
        s.rows[1].height = 600;
        s.rows[1].customHeight = true;
        s.rows[2].hidden = true;
        const RangeAddress range{0, 0, 2, 3};
        // 64 and 70 px from the stored widths, the hidden column none, the default 8 characters 64 px;
        // rows of 255 and 600 twips, the hidden row none.
        QCOMPARE(renderedSize(b.wb, 0, range), QSize(64 + 70 + 0 + 64, 17 + 40 + 0));
        QCOMPARE(b.render(range).size(), QSize(198, 57));
        QCOMPARE(b.render(range).format(), QImage::Format_RGB32);

        // Widths Excel shows as 5.14 and 9.29 characters: 41 and 70 px.
        s.columns = {column(0, 0, 1499), column(1, 1, 2560)};
        QCOMPARE(renderedSize(b.wb, 0, {0, 0, 0, 1}).width(), 41 + 70);

        // Out-of-range requests give nothing rather than crash.
        QVERIFY(renderedSize(b.wb, 3, range).isEmpty());
        QVERIFY(b.render({5, 0, 2, 0}).isNull());
    }

    void fillsAndBorders()
    {
        Book b;
        b.sheet().showGridlines = false;
        const auto red = b.xf([](Xf& x) { x.fillPattern = 1; x.fillForeColor = 10; });
        const auto underlined = b.xf([](Xf& x) { x.bottom.style = 1; });
        const auto thick = b.xf([](Xf& x) { x.bottom.style = 5; x.bottom.colorIndex = 12; });
        const auto filledAndBordered = b.xf([](Xf& x) { x.fillPattern = 1; x.fillForeColor = 13; x.right.style = 1; });
        b.set(1, 1, Value(), red);
        b.set(1, 3, Value(), underlined);
        b.set(3, 1, Value(), thick);
        b.set(3, 3, Value(), filledAndBordered);
        b.set(3, 4, Value(), red);   // painted after the border of its left neighbour
        const QImage img = b.render({0, 0, 4, 4});

        // B2 spans x 64..127, y 17..33.
        QCOMPARE(img.pixel(95, 25), qRgb(255, 0, 0));
        QCOMPARE(img.pixel(64, 17), qRgb(255, 0, 0));
        QVERIFY(isWhite(img.pixel(95, 10)));
        QVERIFY(isWhite(img.pixel(140, 25)));

        // D2's thin bottom border on its bottom pixel row, nothing just above it.
        QVERIFY(isDark(img.pixel(220, 33)));
        QVERIFY(isWhite(img.pixel(220, 31)));
        QVERIFY(isWhite(img.pixel(220, 36)));

        // B4 (y 51..67): its thick blue bottom border is three pixels around the edge.
        for (int y : {66, 67, 68})
            QCOMPARE(img.pixel(95, y), qRgb(0, 0, 255));
        QVERIFY(isWhite(img.pixel(95, 64)));

        // Fills never hide borders: D4's right border survives E4's fill.
        QVERIFY(isDark(img.pixel(255, 60)));
        QCOMPARE(img.pixel(250, 60), qRgb(255, 255, 0));
        QCOMPARE(img.pixel(260, 60), qRgb(255, 0, 0));
    }

    void gridlines()
    {
        Book b;
        b.set(0, 0, Value());
        const RangeAddress range{0, 0, 3, 3};
        auto greyCount = [](const QImage& img) {
            int n = 0;
            for (int y = 0; y < img.height(); ++y)
                for (int x = 0; x < img.width(); ++x)
                    n += isGridGrey(img.pixel(x, y)) ? 1 : 0;
            return n;
        };
        const QImage shown = b.render(range);
        QVERIFY(isGridGrey(shown.pixel(63, 40)));   // A's right edge
        QVERIFY(isGridGrey(shown.pixel(100, 16)));  // row 1's bottom edge
        QVERIFY(isWhite(shown.pixel(100, 40)));

        RenderOptions noGrid;
        noGrid.gridlines = false;
        QCOMPARE(greyCount(b.render(range, noGrid)), 0);

        b.sheet().showGridlines = false;
        const QImage hidden = b.render(range);
        QCOMPARE(greyCount(hidden), 0);
        QVERIFY(isWhite(hidden.pixel(63, 40)));
    }

    void alignment()
    {
        Book b;
        b.sheet().showGridlines = false;
        b.sheet().columns = {column(0, 2, 4096)};   // 16 characters: room on both sides
        const auto centred = b.xf([](Xf& x) { x.hAlign = HAlign::Center; });
        const auto top = b.xf([](Xf& x) { x.vAlign = VAlign::Top; });
        b.set(0, 0, 42.0);
        b.set(1, 0, Value("ab"));
        b.set(2, 0, Value(true));
        b.set(3, 0, Value("ab"), centred);
        b.set(4, 0, Value("ab"), top);
        b.sheet().rows[4].height = 900;
        const QImage img = b.render({0, 0, 4, 0});
        const int w = img.width();   // 114 px
        auto rowBox = [&](int top, int h) { return darkBox(img, QRect(0, top, w, h)); };

        const QRect number = rowBox(0, 17);
        QVERIFY(!number.isEmpty());
        QVERIFY2(number.left() > w * 3 / 4, "numbers sit at the right end");
        QVERIFY(number.right() >= w - 6);
        const QRect text = rowBox(17, 17);
        QVERIFY2(text.right() < w / 4, "text sits at the left end");
        QVERIFY(text.left() <= 4);
        const QRect boolean = rowBox(34, 17);
        QVERIFY(std::abs(boolean.center().x() - w / 2) <= 3);
        const QRect centre = rowBox(51, 17);
        QVERIFY(std::abs(centre.center().x() - w / 2) <= 3);

        // Bottom alignment is the default; top keeps text near the cell's top edge of a 60 px row.
        QVERIFY(text.bottom() > 17 + 10);
        const QRect high = rowBox(68, 60);
        QVERIFY(high.top() < 68 + 8);
    }

    void overflowAndClipping()
    {
        Book b;
        b.sheet().showGridlines = false;
        b.set(0, 0, Value("A rather long label that runs on"));
        b.set(1, 0, Value("A rather long label that runs on"));
        b.set(1, 1, 7.0);
        const QImage img = b.render({0, 0, 1, 2});
        // Row 1: B1 is empty, so the text carries on into it.
        QVERIFY(!darkBox(img, QRect(64, 0, 64, 17)).isEmpty());
        // Row 2: B2 holds a number; A2's text stops at B2's edge, and the number is right-aligned.
        const QRect b2 = darkBox(img, QRect(64, 17, 64, 17));
        QVERIFY(!b2.isEmpty());
        QVERIFY2(b2.left() > 64 + 40, "only B2's own number is drawn in B2");
        QVERIFY(darkBox(img, QRect(128, 17, 64, 17)).isEmpty());

        // With gridlines shown, the run-on text hides the line it crosses; other rows keep theirs.
        b.sheet().showGridlines = true;
        const QImage grid = b.render({0, 0, 2, 2});
        QVERIFY(isWhite(grid.pixel(63, 1)));
        QVERIFY(isGridGrey(grid.pixel(63, 40)));
        QVERIFY(isGridGrey(grid.pixel(127, 20)));   // B2 is not empty: A2 stops there

        // Right-aligned text runs on to the left into empty cells.
        Book r;
        r.sheet().showGridlines = false;
        const auto right = r.xf([](Xf& x) { x.hAlign = HAlign::Right; });
        r.set(0, 2, Value("A rather long label that runs on"), right);
        const QImage ri = r.render({0, 0, 0, 2});
        QVERIFY(!darkBox(ri, QRect(64, 0, 64, 17)).isEmpty());
    }

    void narrowNumbers()
    {
        Book b;
        b.sheet().showGridlines = false;
        b.sheet().columns = {column(0, 0, 1024)};   // about 3 characters: 28 px
        const auto thousands = b.xf([](Xf& x) { x.formatIndex = 3; });   // #,##0
        b.set(0, 0, 1234567.0, thousands);
        b.set(1, 0, 1234567.0);        // General
        b.set(2, 0, Value("1,234,567"));   // the same as text does overflow
        const QImage img = b.render({0, 0, 2, 1});
        const int colW = 28;
        QCOMPARE(img.width() - 64, colW);

        // The formatted number does not fit: hashes fill the cell, nothing spills over.
        const QRect hashes = darkBox(img, QRect(0, 0, img.width(), 17));
        QVERIFY(!hashes.isEmpty());
        QVERIFY(hashes.right() < colW);
        QVERIFY(hashes.width() >= colW / 2);
        // Hash marks are alike: the ink repeats with the glyph's advance, so left and right halves match in ink.
        const QRect general = darkBox(img, QRect(0, 17, img.width(), 17));
        QVERIFY(general.right() < colW);
        QVERIFY(!darkBox(img, QRect(colW, 34, 64, 17)).isEmpty());

        // The hash row differs from what "1,234,567" clipped to the cell would show.
        Book clipped;
        clipped.sheet().showGridlines = false;
        clipped.sheet().columns = {column(0, 0, 1024)};
        const auto rightText = clipped.xf([](Xf& x) { x.hAlign = HAlign::Right; });
        clipped.set(0, 0, Value("###"), rightText);
        clipped.set(0, 1, Value("x"));   // stops any run-on
        const QImage expected = clipped.render({0, 0, 0, 0});
        QImage actual = img.copy(0, 0, colW, 17);
        QCOMPARE(actual.width(), expected.width());
        const QRect a = darkBox(actual, actual.rect()), e = darkBox(expected, expected.rect());
        QCOMPARE(a.top(), e.top());
        QCOMPARE(a.bottom(), e.bottom());
    }

    void mergedCells()
    {
        Book b;
        const auto centred = b.xf([](Xf& x) { x.hAlign = HAlign::Center; });
        b.set(0, 0, Value("Title"), centred);
        b.sheet().merged.push_back({0, 0, 0, 2});
        const QImage img = b.render({0, 0, 1, 2});
        // One cell: no gridline between A1 and B1, but still between A2 and B2.
        QVERIFY(!isGridGrey(img.pixel(63, 8)));
        QVERIFY(isGridGrey(img.pixel(63, 25)));
        // Centred over the three columns, which puts it in B1.
        const QRect title = darkBox(img, QRect(0, 0, img.width(), 16));
        QVERIFY(std::abs(title.center().x() - 96) <= 3);
    }

    void wrapping()
    {
        Book b;
        b.sheet().showGridlines = false;
        const auto wrap = b.xf([](Xf& x) { x.wrap = true; x.vAlign = VAlign::Top; });
        b.set(0, 0, Value("one two three four five six"), wrap);
        b.sheet().rows[0].height = 1200;   // 80 px
        const QImage img = b.render({0, 0, 0, 1});
        const QRect text = darkBox(img, img.rect());
        QVERIFY(text.right() < 64);        // stays within its cell
        QVERIFY(text.height() > 30);       // several lines
    }

    // A text far longer than its cell, wrapped (words, then one long word that breaks between
    // characters): it draws what fits from its first line, and bottom alignment does not push
    // the first line out of sight.
    void wrappingHugeTexts()
    {
        Book b;
        b.sheet().showGridlines = false;
        const auto wrap = b.xf([](Xf& x) { x.wrap = true; x.vAlign = VAlign::Bottom; });
        std::string words;
        while (words.size() < 32000)
            words += "lorem ipsum dolor ";
        b.set(0, 0, Value(words), wrap);
        b.set(0, 1, Value(std::string(32000, 'W')), wrap);
        b.sheet().rows[0].height = 600;   // 40 px, two lines
        const QImage img = b.render({0, 0, 0, 1});
        for (const QRect cell : {QRect(0, 0, 63, 39), QRect(64, 0, 63, 39)}) {
            const QRect text = darkBox(img, cell);
            QVERIFY(!text.isEmpty());
            QVERIFY(text.top() <= 6);   // the first line shows at the top
            QVERIFY(text.bottom() < 40);
        }
    }

    // A picture past the budget is refused, with its size in the message, before any memory is taken.
    void pictureBudget()
    {
        Book b;
        b.set(0, 0, Value("x"));
        const RangeAddress all{0, 0, kMaxRows - 1, kMaxCols - 1};
        const QSize size = renderedSize(b.wb, 0, all);
        QVERIFY(qint64(size.width()) * size.height() > kMaxPicturePixels);
        try {
            b.render(all);
            QFAIL("an oversized picture was drawn");
        } catch (const LimitError& e) {
            const QString message = QString::fromUtf8(e.what());
            QVERIFY2(message.contains(QStringLiteral("%1 x %2 pixels").arg(size.width()).arg(size.height())), qPrintable(message));
        }
        // Hidden rows take no pixels: the same range with them hidden fits.
        for (int r = 50; r < kMaxRows; ++r)
            b.sheet().rows[r].hidden = true;
        QVERIFY(!b.render({0, 0, kMaxRows - 1, 3}).isNull());
    }

    void colours()
    {
        Book b;
        b.sheet().showGridlines = false;
        Font redFont = b.wb.font(0);
        redFont.colorIndex = 10;
        redFont.weight = 700;
        const auto redText = b.xf([&](Xf& x) { x.fontIndex = b.wb.addFont(redFont); });
        const auto redNegative = b.xf([&](Xf& x) { x.formatIndex = b.wb.addFormat("0;[Red]-0"); });
        b.set(0, 0, Value("Red"), redText);
        b.set(1, 0, -5.0, redNegative);
        b.set(2, 0, 5.0, redNegative);
        const QImage img = b.render({0, 0, 2, 0});
        auto hasRed = [&](int top) {
            for (int y = top; y < top + 17; ++y)
                for (int x = 0; x < img.width(); ++x) {
                    const QRgb c = img.pixel(x, y);
                    if (qRed(c) > 200 && qGreen(c) < 80 && qBlue(c) < 80)
                        return true;
                }
            return false;
        };
        QVERIFY(hasRed(0));
        QVERIFY(hasRed(17));
        QVERIFY(!hasRed(34));
    }

    void dateCell()
    {
        // A date serial shows as its month, not as the serial digits.
        Book b;
        b.sheet().showGridlines = false;
        const auto month = b.xf([](Xf& x) { x.formatIndex = 17; });   // mmm-yy
        b.set(0, 0, 37987.0, month);
        b.set(0, 1, Value("Jan-04"), b.xf([](Xf& x) { x.hAlign = HAlign::Right; }));
        const QImage img = b.render({0, 0, 0, 1});
        QCOMPARE(img.copy(0, 0, 64, 17), img.copy(64, 0, 64, 17));
    }

    void valuesThatAreNoNumbers()
    {
        // NaN and the infinities a file may hold draw as the '#' a date out of range gets, in a
        // date format and in a column too narrow for anything, and the same as a date past 9999.
        Book b;
        b.sheet().showGridlines = false;
        const auto date = b.xf([](Xf& x) { x.formatIndex = 14; });
        b.set(0, 0, std::nan(""), date);
        b.set(0, 1, 3e6, date);
        b.set(1, 0, HUGE_VAL, date);
        b.set(1, 1, -HUGE_VAL);
        b.sheet().columns = {column(0, 1, 2340), column(2, 2, 300)};
        b.set(0, 2, std::nan(""));
        const QImage img = b.render({0, 0, 1, 2});
        QCOMPARE(img.copy(0, 0, 64, 17), img.copy(64, 0, 64, 17));
        QCOMPARE(img.copy(0, 17, 64, 17), img.copy(64, 0, 64, 17));
    }

    void deterministic()
    {
        Book b;
        b.sheet().columns = {column(0, 0, 1536), column(1, 3, 2560)};
        const auto bold = b.xf([&](Xf& x) {
            Font f = b.wb.font(0);
            f.weight = 700;
            x.fontIndex = b.wb.addFont(f);
            x.top.style = 2;
            x.fillPattern = 1;
            x.fillForeColor = 22;
        });
        for (int r = 0; r < 10; ++r) {
            b.set(r, 0, Value("Row " + std::to_string(r)), bold);
            b.set(r, 1, r * 1234.5);
            b.set(r, 2, r / 7.0);
        }
        const QImage first = b.render({0, 0, 9, 3});
        const QImage second = b.render({0, 0, 9, 3});
        QCOMPARE(first, second);
    }

    // A picture drawn in bands at once is the picture drawn whole, pixel for pixel: texts, fills,
    // borders and merges that stand across a band's edge, in every workbook of the corpus and in
    // the projection template.
    void bandsDrawTheSamePicture()
    {
        QStringList files = QDir(qEnvironmentVariable("CORVANTIS_SOURCE_DIR") + QStringLiteral("/tests/data/corpus"))
                                .entryList({QStringLiteral("*.xls")}, QDir::Files);
        for (QString& f : files)
            f.prepend(qEnvironmentVariable("CORVANTIS_SOURCE_DIR") + QStringLiteral("/tests/data/corpus/"));
        files << qEnvironmentVariable("CORVANTIS_TEMPLATE");
        QVERIFY(files.size() > 2);
        int compared = 0;
        for (const QString& file : files) {
            Workbook wb = xls::load(file.toStdString());
            recalculate(wb);
            for (int s = 0; s < static_cast<int>(wb.sheets.size()); ++s) {
                const Sheet& sheet = wb.sheets[static_cast<std::size_t>(s)];
                if (sheet.cells.empty())
                    continue;
                const RangeAddress used{0, 0, sheet.cells.rbegin()->first.row + 2, 30};
                RenderOptions whole, banded;
                whole.bands = 1;
                const QImage expected = renderRange(wb, s, used, whole);
                for (int bands : {2, 3, 7}) {
                    banded.bands = bands;
                    QVERIFY2(renderRange(wb, s, used, banded) == expected,
                             qPrintable(QStringLiteral("%1 sheet %2 in %3 bands").arg(file).arg(s).arg(bands)));
                }
                ++compared;
            }
        }
        QVERIFY(compared > 5);
    }

    // Memory made ready ahead serves pictures of its size only, one piece each; a picture keeps
    // its piece after the preparation ends, and ending one midway gives back what it made.
    void memoryMadeReadyAhead()
    {
        const QSize size(900, 700);   // megabytes, so it is worth preparing
        const QImage::Format format = QImage::Format_RGB32;
        QImage first, second, other;
        {
            PictureMemoryAhead ahead;
            ahead.prepare(size, format, 2);
            other = newPicture(QSize(901, 700), format);
            first = newPicture(size, format);
            second = newPicture(size, format);
            const QImage third = newPicture(size, format);   // none left: made as usual
            QVERIFY(!other.isNull() && !first.isNull() && !second.isNull() && !third.isNull());
            QVERIFY(first.constBits() != second.constBits());
        }
        for (QImage* picture : {&first, &second, &other}) {
            picture->fill(0xff336699u);
            QCOMPARE(picture->pixel(899, 699), 0xff336699u);
        }
        for (int k = 0; k < 20; ++k) {
            PictureMemoryAhead ahead;
            ahead.prepare(QSize(2000, 2000), format, 3);
            if (k % 2)
                ahead.prepare(size, format, 1);
        }
    }
};

QTEST_MAIN(TestRender)
#include "test_render.moc"
