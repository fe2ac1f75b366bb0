// Exports of a workbook: pages laid out from the sheet's page setup (fit to width, scale, print
// titles on every later page), a PDF whose pages carry the titles as text, and files that are
// written whole or not at all.
#include "core/files.h"
#include "core/guard.h"
#include "core/numbertext.h"
#include "spreadsheet/model.h"
#include "spreadsheet/xls.h"
#include "workbook/templatefilling.h"
#include "workbook/workbookexport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

using namespace corvantis;

namespace {

// A sheet of `rows` rows and `cols` columns of numbers, with a title row 2 (1-based) named as
// Print_Titles.
ss::Workbook tallSheet(int rows, int cols, bool fit)
{
    ss::Workbook wb = ss::Workbook::makeDefault();
    wb.sheets.push_back({});
    ss::Sheet& s = wb.sheets.back();
    s.name = "Data";
    s.at(0, 0).value = ss::Value(std::string("Report"));
    for (int c = 0; c < cols; ++c)
        s.at(1, c).value = ss::Value("Head" + std::to_string(c));
    for (int r = 2; r < rows; ++r)
        for (int c = 0; c < cols; ++c)
            s.at(r, c).value = ss::Value(r * 100.0 + c);
    s.page.fitToPage = fit;
    s.page.fitWidth = 1;
    s.page.fitHeight = 0;
    s.page.scale = 100;
    ss::DefinedName titles;
    titles.name = std::string(1, '\x07');
    titles.builtin = true;
    titles.sheetIndex = 1;
    titles.formula = {0x3B, 0, 0, 1, 0, 1, 0, 0, 0, 0xFF, 0};
    wb.names.push_back(titles);
    wb.externSheetIndex(0);
    return wb;
}

QString pdfText(const QString& pdf)
{
    QProcess p;
    p.start(QStandardPaths::findExecutable(QStringLiteral("pdftotext")), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
    return p.waitForFinished(60000) ? QString::fromUtf8(p.readAllStandardOutput()) : QString();
}

} // namespace

class TestWorkbookExport : public QObject {
    Q_OBJECT

private slots:
    void formatsByExtension()
    {
        QCOMPARE(exportFormatFor(QStringLiteral("/a/b.XLS")), std::optional(ExportFormat::Xls));
        QCOMPARE(exportFormatFor(QStringLiteral("b.xlsx")), std::optional(ExportFormat::Xlsx));
        QCOMPARE(exportFormatFor(QStringLiteral("b.Pdf")), std::optional(ExportFormat::Pdf));
        QCOMPARE(exportFormatFor(QStringLiteral("b.xlsm")), std::nullopt);
        QCOMPARE(exportFormatFor(QStringLiteral("xlsx")), std::nullopt);
    }

    void pagesFromThePageSetup()
    {
        const QSizeF letter(9.0 * 96, 6.5 * 96);   // landscape Letter inside the margins
        // Fit to one page wide, any number tall: narrowed, cut into pages down the sheet, and
        // the title row is on top of every page after the first.
        ss::Workbook wb = tallSheet(300, 30, true);
        PagePlan plan = planPages(wb, 0, letter);
        QVERIFY(plan.scale < 1.0 && plan.scale > 0.1);
        QVERIFY(plan.pages.size() > 2);
        QVERIFY(plan.titleRows.has_value());
        QCOMPARE(plan.titleRows->first, 1);
        QCOMPARE(plan.titleRows->second, 1);
        int next = 0;
        for (const ss::RangeAddress& page : plan.pages) {
            QCOMPARE(page.firstCol, 0);
            QCOMPARE(page.lastCol, 29);
            QCOMPARE(page.firstRow, next);   // no row lost or printed twice
            next = page.lastRow + 1;
        }
        QCOMPARE(next, 300);

        // At 100 % without fitting, the columns run over several pages across too.
        wb = tallSheet(100, 30, false);
        plan = planPages(wb, 0, letter);
        QCOMPARE(plan.scale, 1.0);
        QVERIFY(plan.pages.size() >= 4);
        QCOMPARE(plan.pages[0].firstRow, plan.pages[1].firstRow);
        QVERIFY(plan.pages[1].firstCol == plan.pages[0].lastCol + 1);

        // Fit to one page both ways: a single page, never enlarged.
        wb = tallSheet(10, 3, true);
        wb.sheets[0].page.fitHeight = 1;
        plan = planPages(wb, 0, letter);
        QCOMPARE(plan.pages.size(), std::size_t(1));
        QCOMPARE(plan.scale, 1.0);
    }

    void pdfRepeatsTheTitlesOnEveryPage()
    {
        const QString pdftotext = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
        if (pdftotext.isEmpty())
            QSKIP("pdftotext (poppler-utils) is not installed");
        QTemporaryDir dir;
        const QString xls = dir.filePath(QStringLiteral("tall.xls"));
        ss::xls::save(tallSheet(250, 6, true), QFile::encodeName(xls).toStdString());
        const QString pdf = dir.filePath(QStringLiteral("tall.pdf"));
        ExportPdf(xls, pdf);
        QProcess p;
        p.start(pdftotext, {pdf, QStringLiteral("-")});
        QVERIFY(p.waitForFinished(60000));
        const QStringList pages = QString::fromUtf8(p.readAllStandardOutput()).split(u'\f', Qt::SkipEmptyParts);
        QVERIFY2(pages.size() >= 3, qPrintable(QString::number(pages.size())));
        for (const QString& page : pages)
            QVERIFY2(page.contains(QStringLiteral("Head5")), qPrintable(page.left(200)));
        QVERIFY(pages.first().contains(QStringLiteral("Report")));
        QVERIFY(!pages.last().contains(QStringLiteral("Report")));
        QVERIFY(pages.last().contains(QStringLiteral("24905")));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList({QStringLiteral("tall.pdf"), QStringLiteral("tall.xls")}));
    }

    // The widest amounts the sheet takes, generated through the template: every number shows
    // whole (no "###") in the PDF, drawn in the reader's marks, and in another spreadsheet
    // program reading the saved workbook; a long company name ends before the caption next to it.
    void wideAmountsShowWholeInTheUsersMarks()
    {
        const QString pdftotext = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
        if (pdftotext.isEmpty())
            QSKIP("pdftotext (poppler-utils) is not installed");
        QTemporaryDir dir;
        setScratchFolderOverride(dir.path());
        const QLocale before;
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        ProjectionInputs in;
        in.companyName = QStringLiteral("Northwind Consolidated Holdings and Allied Trading Companies of the Pacific Rim International Ltd");
        in.fiscalStart = QDate(2026, 1, 1);
        for (int line = 0; line < kLineCount; ++line) {
            in.setCell(line, kNameColumn, designName(line));
            in.setCell(line, kIndColumn, QStringLiteral("12.5"));
            for (int m = 1; m <= kMonthCount; ++m)
                in.setCell(line, monthColumn(m), FormatAmount(QStringLiteral("9999999999.99"), 2));
        }
        QString xls;
        {
            Guard g(Procedure::MainGenerate);
            ProjectionRun run(g);
            QVERIFY(run.fillAndSave(in));
            QCOMPARE(g.failures(), 0);
            xls = run.workbookPath();
            run.removeScratchFiles();
        }
        setScratchFolderOverride(QString());

        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        const QString pdf = dir.filePath(QStringLiteral("wide.pdf"));
        ExportPdf(xls, pdf);
        QLocale::setDefault(before);
        const QString text = pdfText(pdf);
        QVERIFY2(text.contains(QStringLiteral("9.999.999.999,99")) || text.contains(QStringLiteral("10.000.000.000")),
                 qPrintable(text.left(3000)));
        QVERIFY2(!text.contains(QLatin1Char('#')), qPrintable(text.left(3000)));
        QVERIFY2(!text.contains(QStringLiteral("9,999,999,999")), qPrintable(text.left(3000)));
        // The name and the caption stand apart on their line.
        QVERIFY2(text.contains(QRegularExpression(QStringLiteral("International Ltd\\s+Fiscal Year Begins"))),
                 qPrintable(text.left(600)));

        const QString soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
        if (soffice.isEmpty())
            QSKIP("LibreOffice is not installed");
        QProcess lo;
        lo.setWorkingDirectory(dir.path());
        lo.start(soffice, {QStringLiteral("-env:UserInstallation=file://") + dir.filePath(QStringLiteral("lo")),
                           QStringLiteral("--headless"), QStringLiteral("--convert-to"), QStringLiteral("pdf"),
                           QStringLiteral("--outdir"), dir.filePath(QStringLiteral("lo-out")), xls});
        QVERIFY(lo.waitForFinished(180000));
        const QString loText = pdfText(dir.filePath(QStringLiteral("lo-out/")) + QFileInfo(xls).completeBaseName() + QStringLiteral(".pdf"));
        QVERIFY2(loText.contains(QStringLiteral("9,999,999,999")) || loText.contains(QStringLiteral("10,000,000,000")),
                 qPrintable(loText.left(3000)));
        QVERIFY2(!loText.contains(QStringLiteral("###")), qPrintable(loText.left(3000)));
    }

    void failuresLeaveNoFile()
    {
        QTemporaryDir dir;
        const QString missing = dir.filePath(QStringLiteral("missing.xls"));
        const QString target = dir.filePath(QStringLiteral("out.xlsx"));
        QVERIFY_THROWS_EXCEPTION(StepError, SaveAsXlsx(missing, target));
        QVERIFY_THROWS_EXCEPTION(StepError, ExportPdf(missing, dir.filePath(QStringLiteral("out.pdf"))));
        QFile damaged(dir.filePath(QStringLiteral("damaged.xls")));
        QVERIFY(damaged.open(QIODevice::WriteOnly));
        damaged.write("not a workbook");
        damaged.close();
        QVERIFY_THROWS_EXCEPTION(StepError, SaveAsXlsx(damaged.fileName(), target));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList({QStringLiteral("damaged.xls")}));
        // A target in a folder that does not exist.
        const QString xls = dir.filePath(QStringLiteral("ok.xls"));
        ss::xls::save(tallSheet(5, 2, true), QFile::encodeName(xls).toStdString());
        QVERIFY_THROWS_EXCEPTION(StepError, ExportWorkbook(xls, dir.filePath(QStringLiteral("no/such.pdf")), ExportFormat::Pdf));
    }
};

QTEST_MAIN(TestWorkbookExport)
#include "test_workbookexport.moc"
