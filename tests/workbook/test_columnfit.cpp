// Column fitting: numbers show whole with the reader's marks as well as the workbook's, a text
// that runs on stops before the next text of its row, and columns wide enough keep their width.
#include "spreadsheet/model.h"
#include "spreadsheet/render/render.h"
#include "workbook/columnfit.h"

#include <QFont>
#include <QFontMetricsF>
#include <QTest>

#include <cmath>

using namespace corvantis;

namespace {

// One sheet: A1 12345678.9 as "#,##0.00" in a column three digits wide, B1:C1 long texts,
// D1 a short number in a wide column.
ss::Workbook sampleBook()
{
    ss::Workbook wb = ss::Workbook::makeDefault();
    ss::Xf money = wb.xfs[15];
    money.formatIndex = wb.addFormat("#,##0.00");
    const std::uint16_t moneyXf = wb.addXf(money);
    ss::Sheet sh;
    sh.name = "Sheet1";
    sh.at(0, 0).value = ss::Value(12345678.9);
    sh.at(0, 0).xf = moneyXf;
    sh.at(2, 1).value = ss::Value(std::string("A company name of some length"));
    sh.at(2, 2).value = ss::Value(std::string("Begins"));
    sh.at(0, 3).value = ss::Value(7.0);
    ss::ColumnInfo narrow;
    narrow.firstCol = 0;
    narrow.lastCol = 2;
    narrow.width = 3 * 256;
    ss::ColumnInfo wide;
    wide.firstCol = wide.lastCol = 3;
    wide.width = 30 * 256;
    sh.columns = {narrow, wide};
    wb.sheets.push_back(sh);
    return wb;
}

int columnPixels(const ss::Workbook& wb, int col) { return ss::renderedSize(wb, 0, {0, col, 0, col}).width(); }

} // namespace

class TestColumnFit : public QObject {
    Q_OBJECT

private slots:
    void numbersShowWholeWithEitherMarks()
    {
        const ss::RangeAddress all{0, 0, 2, 3};
        ss::Workbook plain = sampleBook();
        QCOMPARE(autoFitColumns(plain, 0, all, NumberMarks{}), 2);   // A for the number, B for the text
        // Marks drawn wider than the workbook's (an em space between the digit groups, which
        // is measured with the text laid out whole) need a wider column; other marks never
        // leave it narrower than the workbook's need.
        ss::Workbook spaced = sampleBook();
        autoFitColumns(spaced, 0, all, NumberMarks{QStringLiteral(","), QStringLiteral("\u2003")});
        QVERIFY2(columnPixels(spaced, 0) > columnPixels(plain, 0),
                 qPrintable(QStringLiteral("%1 <= %2").arg(columnPixels(spaced, 0)).arg(columnPixels(plain, 0))));
        ss::Workbook swapped = sampleBook();
        autoFitColumns(swapped, 0, all, NumberMarks{QStringLiteral(","), QStringLiteral(".")});
        QVERIFY(columnPixels(swapped, 0) >= columnPixels(plain, 0));
        // The wide column keeps its width; a second fitting finds nothing to widen.
        QCOMPARE(plain.sheets[0].columnWidth(3), std::uint16_t(30 * 256));
        QCOMPARE(autoFitColumns(plain, 0, all, NumberMarks{}), 0);
    }

    void textStopsBeforeTheNextText()
    {
        ss::Workbook wb = sampleBook();
        autoFitColumns(wb, 0, ss::RangeAddress{2, 1, 2, 2}, NumberMarks{});
        // B3's text, drawn from two pixels in, ends before C3's begins, a space apart.
        QFont font(ss::fontFamilyFor(wb.font(0).name));
        font.setPixelSize(static_cast<int>(std::lround(wb.font(0).height / 20.0 * 96.0 / 72.0)));
        font.setKerning(false);
        const QFontMetricsF metrics(font);
        const double ink = 2 + metrics.horizontalAdvance(QStringLiteral("A company name of some length"));
        QVERIFY2(columnPixels(wb, 1) >= ink + metrics.horizontalAdvance(QLatin1Char(' ')),
                 qPrintable(QStringLiteral("%1 < %2").arg(columnPixels(wb, 1)).arg(ink)));
        QCOMPARE(wb.sheets[0].columnWidth(2), std::uint16_t(3 * 256));   // C3's column is left alone
    }
};

QTEST_MAIN(TestColumnFit)
#include "test_columnfit.moc"
