// The picture of the workbook follows the user's regional settings the way a spreadsheet program
// shows a workbook: numbers drawn with the locale's decimal and group marks ("12.500" under
// German settings), while the workbook's own number formats stay "#,##0" and "0.0".
#include "spreadsheet/model.h"
#include "spreadsheet/render/render.h"
#include "spreadsheet/xls.h"
#include "workbook/excelapp.h"
#include "workbook/sheetpicture.h"

#include <QGuiApplication>
#include <QLocale>
#include <QTemporaryDir>
#include <QTest>

using namespace corvantis;

namespace {

// A1 12500 as "#,##0", A2 the text "12.500", A3 12.5 as "0.0", A4 the text "12,5", A5 a date as
// "mmm-yy", all right-aligned in the same font, so a number drawn the German way looks exactly
// like the text beside it.
void writeBook(const QString& path)
{
    ss::Workbook wb = ss::Workbook::makeDefault();
    auto xfWith = [&](const std::string& format) {
        ss::Xf x = wb.xfs[15];
        x.formatIndex = wb.addFormat(format);
        x.hAlign = ss::HAlign::Right;
        return wb.addXf(x);
    };
    const std::uint16_t thousands = xfWith("#,##0"), oneDecimal = xfWith("0.0"), month = xfWith("mmm-yy");
    ss::Sheet sh;
    sh.name = "Figures";
    auto put = [&](int row, const ss::Value& v, std::uint16_t xf) {
        ss::Cell& c = sh.at(row, 0);
        c.value = v;
        c.xf = xf;
    };
    put(0, ss::Value(12500.0), thousands);
    put(1, ss::Value(std::string("12.500")), thousands);
    put(2, ss::Value(12.5), oneDecimal);
    put(3, ss::Value(std::string("12,5")), oneDecimal);
    put(4, ss::Value(45900.0), month);   // Sep-25
    wb.sheets.push_back(sh);
    ss::xls::save(wb, path.toStdString());
}

} // namespace

class TestRegionalPicture : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QString path;

    QImage picture(const QString& locale, const QString& cell)
    {
        QLocale::setDefault(QLocale(locale));
        Application app;
        Workbook book = app.Workbooks().Open(path, true);
        book.Worksheets(1).Range(cell).CopyPicture();
        const QImage image = GetClipboardPicture(0);
        app.Quit();
        return image.convertToFormat(QImage::Format_RGB32);
    }

private slots:
    void initTestCase()
    {
        path = dir.filePath(QStringLiteral("figures.xls"));
        writeBook(path);
    }
    void cleanup() { QLocale::setDefault(QLocale(QStringLiteral("en_US"))); }

    void numbersAreDrawnWithTheLocalesMarks()
    {
        const QImage germanNumber = picture(QStringLiteral("de_DE"), QStringLiteral("A1"));
        QVERIFY(!germanNumber.isNull());
        QCOMPARE(germanNumber, picture(QStringLiteral("de_DE"), QStringLiteral("A2")));   // "12.500"
        QCOMPARE(picture(QStringLiteral("de_DE"), QStringLiteral("A3")), picture(QStringLiteral("de_DE"), QStringLiteral("A4")));   // "12,5"
        // under United States settings the number keeps "12,500"
        QVERIFY(picture(QStringLiteral("en_US"), QStringLiteral("A1")) != germanNumber);
        QVERIFY(picture(QStringLiteral("en_US"), QStringLiteral("A3")) != picture(QStringLiteral("en_US"), QStringLiteral("A4")));
        // dates are no numbers to regroup
        QCOMPARE(picture(QStringLiteral("de_DE"), QStringLiteral("A5")), picture(QStringLiteral("en_US"), QStringLiteral("A5")));
    }

    void theWorkbooksFormatsStayAsTheyAre()
    {
        QLocale::setDefault(QLocale(QStringLiteral("de_DE")));
        const ss::Workbook wb = ss::xls::load(path.toStdString());
        QCOMPARE(wb.formatCode(wb.xfs[wb.sheets[0].find(0, 0)->xf].formatIndex), std::string("#,##0"));
        QCOMPARE(wb.formatCode(wb.xfs[wb.sheets[0].find(2, 0)->xf].formatIndex), std::string("0.0"));
    }

    void theRendererTakesTheMarksItIsGiven()
    {
        const ss::Workbook wb = ss::xls::load(path.toStdString());
        ss::RenderOptions swiss;
        swiss.decimalSeparator = ".";
        swiss.groupSeparator = "\u2019";
        const QImage plain = ss::renderRange(wb, 0, ss::RangeAddress{0, 0, 0, 0});
        const QImage grouped = ss::renderRange(wb, 0, ss::RangeAddress{0, 0, 0, 0}, swiss);
        QVERIFY(plain != grouped);
        QCOMPARE(ss::renderRange(wb, 0, ss::RangeAddress{2, 0, 2, 0}, swiss), ss::renderRange(wb, 0, ss::RangeAddress{2, 0, 2, 0}));
    }
};

QTEST_MAIN(TestRegionalPicture)
#include "test_regionalpicture.moc"
