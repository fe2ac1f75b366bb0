// The spreadsheet application facade: opening, assigning, saving, the used range, the picture,
// the life of an application, and the whole road generation takes, checked by LibreOffice.
#include "spreadsheet/formula.h"
#include "spreadsheet/model.h"
#include "spreadsheet/render/render.h"
#include "spreadsheet/xls.h"
#include "workbook/excelapp.h"

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLocale>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

using namespace corvantis;

namespace {

// A one-sheet workbook: A1 = 1, B1 = 2, C1 = A1+B1, a label in B3.
void writeSampleBook(const QString& path)
{
    ss::Workbook wb = ss::Workbook::makeDefault();
    ss::Sheet sh;
    sh.name = "Data";
    sh.cells[{0, 0}].value = 1.0;
    sh.cells[{0, 1}].value = 2.0;
    sh.cells[{0, 2}].formula = ss::formula::compile("=A1+B1", 0, 2);
    sh.cells[{2, 1}].value = std::string("label");
    wb.sheets.push_back(sh);
    ss::xls::save(wb, path.toStdString());
}

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

template <typename F>
QString failureOf(F&& f)
{
    try {
        f();
    } catch (const ExcelError& e) {
        return QString::fromUtf8(e.what());
    }
    return QString();
}

} // namespace

class TestExcelApp : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir;
    QString sample;

private slots:
    void initTestCase()
    {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        QVERIFY(dir.isValid());
        sample = dir.filePath("sample.xls");
        writeSampleBook(sample);
    }

    void openRefusesMissingDamagedAndEmpty()
    {
        Application app;
        QString why = failureOf([&] { app.Workbooks().Open(dir.filePath("nothere.xls")); });
        QVERIFY2(why.contains("nothere.xls") && why.contains("could not be found"), qPrintable(why));

        const QString junk = dir.filePath("junk.xls");
        QFile f(junk);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(3000, '\x5a'));
        f.close();
        why = failureOf([&] { app.Workbooks().Open(junk); });
        QVERIFY2(why.contains("junk.xls") && why.contains("damaged"), qPrintable(why));

        // A real workbook cut short is damaged too, and nothing crashes on it.
        const QString cut = dir.filePath("cut.xls");
        QFile c(cut);
        QVERIFY(c.open(QIODevice::WriteOnly));
        c.write(fileBytes(sample).left(1200));
        c.close();
        QVERIFY(!failureOf([&] { app.Workbooks().Open(cut); }).isEmpty());

        QVERIFY(!failureOf([&] { app.Workbooks().Open(QString()); }).isEmpty());
        QVERIFY(!failureOf([&] { app.Workbooks().Open(dir.path()); }).isEmpty());
        QCOMPARE(app.Workbooks().count(), 0);
        QVERIFY(!failureOf([&] { app.Worksheets(1); }).isEmpty());
    }

    void assignedTextIsTypedTextAndFormulasFollow()
    {
        Application app;
        app.Workbooks().Open(sample, true);
        Worksheet sh = app.Worksheets(1);
        QCOMPARE(sh.Cells(1, 3).Value().toDouble(), 3.0);
        sh.Cells(1, 1) = QStringLiteral("$1,234.50");
        QCOMPARE(sh.Cells(1, 1).Value().toDouble(), 1234.5);
        QCOMPARE(sh.Cells(1, 3).Value().toDouble(), 1236.5);
        // Text is read in the conventions the user has when it is assigned, also when they
        // change between two cells of the same workbook.
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        sh.Cells(1, 1) = QStringLiteral("1.234,75 €");
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        QCOMPARE(sh.Cells(1, 1).Value().toDouble(), 1234.75);
        sh.Cells(1, 1) = QStringLiteral("1.234,75");
        QCOMPARE(sh.Cells(1, 1).Value().toString(), QStringLiteral("1.234,75"));
        sh.Cells(1, 1) = QStringLiteral("$1,234.50");
        sh.Cells(1, 2) = QStringLiteral("Parts");
        QCOMPARE(sh.Cells(1, 2).Value().toString(), QStringLiteral("Parts"));
        QCOMPARE(sh.Cells(1, 3).Text(), QStringLiteral("#VALUE!"));
        sh.Cells(1, 2) = QString();
        QVERIFY(!sh.Cells(1, 2).Value().isValid());
        QCOMPARE(sh.Cells(1, 3).Value().toDouble(), 1234.5);
        sh.Cells(5, 5) = QDate(2004, 1, 1);
        QCOMPARE(sh.Cells(5, 5).Value().toDouble(), 37987.0);
        QCOMPARE(sh.Range("$E$5").Value().toDouble(), 37987.0);
        QVERIFY(!failureOf([&] { sh.Cells(0, 1); }).isEmpty());
        QVERIFY(!failureOf([&] { sh.Range("B"); }).isEmpty());
        QVERIFY(!failureOf([&] { sh.Cells(1, 1) = QDate(); }).isEmpty());
    }

    void savingKeepsReadOnlySourceAndRefusesOtherFormats()
    {
        const QByteArray before = fileBytes(sample);
        Application app;
        Workbook book = app.Workbooks().Open(sample, true);
        app.Worksheets(1).Cells(1, 1) = QStringLiteral("10");
        QVERIFY(!failureOf([&] { book.SaveAs(sample, 56); }).isEmpty());
        QVERIFY(!failureOf([&] { book.SaveAs(dir.filePath("x.xlsx"), 51); }).isEmpty());
        QVERIFY(!QFile::exists(dir.filePath("x.xlsx")));
        QCOMPARE(fileBytes(sample), before);

        const QString out = dir.filePath("saved.xls");
        book.SaveAs(out, xlNormal);
        QCOMPARE(book.FullName(), QFileInfo(out).absoluteFilePath());
        QVERIFY(!book.ReadOnly());
        book.Close();
        QCOMPARE(fileBytes(sample), before);

        // What was saved carries the new value and the recomputed formula.
        const ss::Workbook back = ss::xls::load(out.toStdString());
        QCOMPARE(back.sheets[0].cells.at({0, 0}).value.number(), 10.0);
        QCOMPARE(back.sheets[0].cells.at({0, 2}).value.number(), 12.0);

        QVERIFY(!failureOf([&] { book.SaveAs(dir.filePath("again.xls"), 56); }).isEmpty());
        const QString unwritable = dir.filePath("afile");
        QFile(unwritable).open(QIODevice::WriteOnly);
        Workbook other = app.Workbooks().Open(sample, true);
        QVERIFY(!failureOf([&] { other.SaveAs(unwritable + "/sub/book.xls", 56); }).isEmpty());
    }

    void workbooksAndApplicationsAreIndependent()
    {
        Application first, second;
        first.Workbooks().Open(sample, true);
        Workbook last = first.Workbooks().Open(sample);
        QCOMPARE(first.Workbooks().count(), 2);
        QCOMPARE(second.Workbooks().count(), 0);
        QCOMPARE(first.Workbooks()(2).FullName(), last.FullName());
        QVERIFY(!failureOf([&] { first.Workbooks()(3); }).isEmpty());
        QVERIFY(!failureOf([&] { first.Workbooks()(0); }).isEmpty());
        first.Workbooks()(1).Worksheets(1).Cells(1, 1) = QStringLiteral("7");
        QCOMPARE(last.Worksheets(1).Cells(1, 1).Value().toDouble(), 1.0);
        QCOMPARE(first.Version(), QStringLiteral("16.0"));
        QCOMPARE(first.Visible(), false);
        QCOMPARE(first.DisplayAlerts(), true);
    }

    void closedAndQuitObjectsFailEveryCall()
    {
        auto app = std::make_shared<Application>();
        Workbook book = app->Workbooks().Open(sample, true);
        Workbook kept = app->Workbooks().Open(sample, true);
        Range cell = book.Worksheets(1).Cells(1, 1);
        book.Close();
        QCOMPARE(app->Workbooks().count(), 1);
        QVERIFY(failureOf([&] { cell.Row(); }).contains("closed"));
        QVERIFY(!failureOf([&] { book.ActiveSheet(); }).isEmpty());
        QVERIFY(!failureOf([&] { book.Close(); }).isEmpty());

        Worksheet sheet = kept.ActiveSheet();
        app->Quit();
        QVERIFY(app->hasQuit());
        for (const QString& why : {failureOf([&] { app->Workbooks(); }), failureOf([&] { app->Version(); }),
                                   failureOf([&] { app->Visible(false); }), failureOf([&] { app->Quit(); }),
                                   failureOf([&] { sheet.UsedRange(); }), failureOf([&] { kept.SaveAs(dir.filePath("q.xls")); }),
                                   failureOf([&] { app->Range("B2").Select(); })})
            QVERIFY2(why.contains("quit"), qPrintable(why));
        QVERIFY(!QFile::exists(dir.filePath("q.xls")));
        QVERIFY(!failureOf([&] { Workbook().Close(); }).isEmpty());
    }

    void usedRangeGivesTheLastRowAndColumn()
    {
        Application app;
        app.Workbooks().Open(sample, true);
        Worksheet sh = app.ActiveSheet();
        sh.Cells(7, 6) = QStringLiteral("x");
        const Range used = sh.UsedRange();
        QCOMPARE(used.Address(), QStringLiteral("A1:F7"));
        QCOMPARE(used.Rows().count(), 7L);
        QCOMPARE(used.Rows(used.Rows().count()).Row(), 7L);
        QCOMPARE(used.Columns().count(), 6L);
        QCOMPARE(used.Columns(used.Columns().count()).Column(), 6L);
        QCOMPARE(used.count(), 42L);
        sh.Cells(1, 1) = QString();
        sh.Cells(1, 2) = QString();
        sh.Cells(1, 3) = QString();
        QCOMPARE(sh.UsedRange().Address(), QStringLiteral("B3:F7"));
        QCOMPARE(sh.UsedRange().Rows(1).Row(), 3L);
    }

    void factoryDecidesWhetherApplicationsCanBeCreated()
    {
        QVERIFY(CreateApplication() != nullptr);
        setApplicationFactory([] { return std::shared_ptr<Application>(); });
        QVERIFY(!failureOf([] { CreateApplication(); }).isEmpty());
        setApplicationFactory([]() -> std::shared_ptr<Application> { throw ExcelError("no engine"); });
        QCOMPARE(failureOf([] { CreateApplication(); }), QStringLiteral("no engine"));
        setApplicationFactory({});
        QCOMPARE(CreateApplication()->Version(), QStringLiteral("16.0"));
    }

    // The road generation takes: template in read-only, 2 + 462 cells, B2, save, quit, a second
    // application for the picture. LibreOffice then reads the saved workbook.
    void wholeAutomationRoad()
    {
        const QString templ = qEnvironmentVariable("CORVANTIS_TEMPLATE");
        QVERIFY2(QFile::exists(templ), "CORVANTIS_TEMPLATE must name the built template");
        const QString copy = dir.filePath("template.xlt");
        QFile::remove(copy);
        QVERIFY(QFile::copy(templ, copy));
        const QByteArray before = fileBytes(copy);

        auto app = CreateApplication();
        Workbook book = app->Workbooks().Open(copy, true);
        app->Worksheets(1).Cells(2, 11) = QStringLiteral("Road Test Ltd");
        app->Worksheets(1).Cells(2, 18) = QDate(2024, 11, 15);
        int line = 0;
        for (int row = 6; row <= 46; ++row) {
            if (QStringLiteral("-13,-14,-15,-23,-24,-25,-26,-27").contains("-" + QString::number(row)))
                continue;
            app->Worksheets(1).Cells(row, 2) = QStringLiteral("Line %1").arg(line);
            app->Worksheets(1).Cells(row, 3) = QStringLiteral("5");
            for (int m = 1; m <= 12; ++m)
                app->Worksheets(1).Cells(row, 2 + 2 * m) = QStringLiteral("$%1.00").arg(100 * (line + 1));
            ++line;
        }
        QCOMPARE(line, 33);
        app->Range("B2").Select();
        app->Visible(false);
        const QString out = dir.filePath("tolvek12345678.xls");
        book.SaveAs(out, 56);
        app->DisplayAlerts(false);
        book.Close();
        app->Quit();
        app.reset();
        QCOMPARE(fileBytes(copy), before);

        auto second = CreateApplication();
        second->Workbooks().Open(out);
        Workbook last = second->Workbooks()(second->Workbooks().count());
        const Range used = last.ActiveSheet().UsedRange();
        QVERIFY(used.Rows(used.Rows().count()).Row() >= 49);
        QVERIFY(used.Columns(used.Columns().count()).Column() >= 29);
        const int r1 = used.Row() - 1, c1 = used.Column() - 1;
        const ss::RangeAddress area{r1, c1, r1 + int(used.Rows().count()) - 1, c1 + int(used.Columns().count()) - 1};
        used.CopyPicture();
        const QString bmp = dir.filePath("temp.bmp");
        QVERIFY(QGuiApplication::clipboard()->image().save(bmp, "BMP"));
        second->DisplayAlerts(false);
        last.Close();
        second->Quit();
        const ss::Workbook saved = ss::xls::load(out.toStdString());
        QCOMPARE(QImage(bmp).size(), ss::renderedSize(saved, 0, area));

        // Revenue lines 0..6 carry 100..700 a month: D13 = 2800, AB13 = 33600.
        QCOMPARE(saved.sheets[0].cells.at({12, 3}).value.number(), 2800.0);
        QCOMPARE(saved.sheets[0].cells.at({12, 27}).value.number(), 33600.0);

        const QString soffice = QStandardPaths::findExecutable("soffice");
        if (soffice.isEmpty())
            QSKIP("LibreOffice is not installed");
        QProcess lo;
        lo.setWorkingDirectory(dir.path());
        lo.start(soffice, {"--headless", "-env:UserInstallation=file://" + dir.filePath("lo"), "--convert-to",
                           // the last option: cell contents as shown
                           "csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,true",
                           "--outdir", dir.path(), out});
        QVERIFY(lo.waitForFinished(120000));
        const QString csv = QString::fromUtf8(fileBytes(dir.filePath("tolvek12345678.csv")));
        QVERIFY2(!csv.isEmpty(), lo.readAllStandardError().constData());
        const QStringList rows = csv.split('\n');
        QVERIFY(rows.size() >= 49);
        QVERIFY2(rows[1].contains("Road Test Ltd"), qPrintable(rows[1]));
        QVERIFY2(rows[1].contains(",Nov-24,"), qPrintable(rows[1]));
        QVERIFY2(rows[3].contains(",Nov-24,% B/A,Dec-24,") && rows[3].contains(",Oct-25,"), qPrintable(rows[3]));
        QVERIFY2(rows[5].startsWith(",Line 0,5,100,"), qPrintable(rows[5]));
        QVERIFY2(rows[12].contains("\"2,800\""), qPrintable(rows[12]));
        QVERIFY2(rows[45].contains("Line 32"), qPrintable(rows[45]));
    }
};

QTEST_MAIN(TestExcelApp)
#include "test_excelapp.moc"
