// Generation behind "Start Creating Template", with a fake main window.
#include "core/errorreport.h"
#include "spreadsheet/datetime.h"
#include "spreadsheet/model.h"
#include "spreadsheet/xls.h"
#include "workbook/excellifecycle.h"
#include "core/files.h"
#include "workbook/templatefilling.h"
#include "app/generation.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QLocale>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

using namespace corvantis;

namespace {

struct FakeHost : GenerationHost {
    QString company = QStringLiteral("Fake & Co");
    QDate start{2023, 7, 1};
    std::vector<Pointer> pointers;
    std::vector<bool> freezes;
    QString excelFile;
    QSize pictureSize;
    bool previewShown = false, mainHidden = false;
    std::function<QString(int, int)> text = [](int line, int column) {
        if (column == 0)
            return QStringLiteral("Line %1").arg(line);
        if (column == 1)
            return QString();
        return QStringLiteral("$%1.00").arg((line + 1) * 10 + column - 1);   // month m = column - 1
    };

    QString companyName() const override { return company; }
    QDate fiscalStart() const override { return start; }
    QString cellText(int line, int column) const override { return text(line, column); }
    void setPointer(Pointer p) override { pointers.push_back(p); }
    void freezeDrawing(bool on) override { freezes.push_back(on); }
    void loadPreviewPicture(const QString& path) override
    {
        QImage image;
        if (!image.load(path))
            throw std::runtime_error("Invalid picture");
        pictureSize = image.size();
    }
    void setPreviewExcelFile(const QString& path) override { excelFile = path; }
    void showPreview() override { previewShown = true; }
    void hideMain() override { mainHidden = true; }

    bool leftAtInputs() const
    {
        return !previewShown && !mainHidden && !pointers.empty() && pointers.back() == Pointer::Default
            && !freezes.empty() && freezes.back() == false;
    }
};

double number(const ss::Workbook& wb, int row1, int col1)
{
    const ss::Cell& c = wb.sheets.at(0).cells.at({row1 - 1, col1 - 1});
    return c.value.number();
}

} // namespace

class TestGeneration : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> dir;
    std::vector<ErrorReport> reports;

    std::vector<int> steps() const
    {
        std::vector<int> s;
        for (const ErrorReport& r : reports)
            s.push_back(r.step);
        return s;
    }
    QStringList scratchFiles() const { return QDir(dir->path()).entryList(QDir::Files); }

private slots:
    void init()
    {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        dir = std::make_unique<QTemporaryDir>();
        qputenv("TEMP", dir->path().toLocal8Bit());
        reports.clear();
        setErrorReportSink([this](const ErrorReport& r) { reports.push_back(r); });
    }
    void cleanup()
    {
        setErrorReportSink({});
        setApplicationFactory({});
        setNameGenerator(nullptr);
        ReleaseExcel();
    }

    void skipRowsLeaveThirtyThreeLines()
    {
        int lines = 0;
        for (int row = kFirstLineRow; row <= kLastLineRow; ++row)
            lines += isSkippedRow(row) ? 0 : 1;
        QCOMPARE(lines, 33);
        for (int row : {13, 14, 15, 23, 24, 25, 26, 27})
            QVERIFY(isSkippedRow(row));
        QVERIFY(!isSkippedRow(12) && !isSkippedRow(16) && !isSkippedRow(28) && !isSkippedRow(46));
        QVERIFY(QRegularExpression("^tolvek[1-9]{8}\\.xls$").match(drawWorkbookName()).hasMatch());
    }

    void generationFillsSavesAndHandsOver()
    {
        FakeHost host;
        QVERIFY(GenerateWorkbook(host));
        QVERIFY2(reports.empty(), reports.empty() ? "" : qPrintable(reports[0].description));

        QVERIFY(QRegularExpression("^tolvek[1-9]{8}\\.xls$").match(QFileInfo(host.excelFile).fileName()).hasMatch());
        QCOMPARE(QFileInfo(host.excelFile).absolutePath(), QFileInfo(dir->path()).absoluteFilePath());
        QCOMPARE(scratchFiles(), QStringList{QFileInfo(host.excelFile).fileName()});
        QVERIFY(host.previewShown && host.mainHidden);
        QVERIFY(host.pictureSize.width() > 200 && host.pictureSize.height() > 200);
        QCOMPARE(host.pointers, (std::vector<Pointer>{Pointer::Hourglass, Pointer::Hourglass, Pointer::Default}));
        QCOMPARE(host.freezes, (std::vector<bool>{true, false}));
        QVERIFY(!ExcelApp);

        const ss::Workbook wb = ss::xls::load(host.excelFile.toStdString());
        const ss::Sheet& sh = wb.sheets.at(0);
        QCOMPARE(sh.cells.at({1, 10}).value.text(), std::string("Fake & Co"));
        QCOMPARE(number(wb, 2, 18), ss::dateToSerial(2023, 7, 1));
        QCOMPARE(sh.activeCell, (ss::CellAddress{1, 1}));
        QCOMPARE(sh.cells.at({5, 1}).value.text(), std::string("Line 0"));
        QCOMPARE(sh.cells.at({45, 1}).value.text(), std::string("Line 32"));
        QCOMPARE(sh.cells.at({27, 1}).value.text(), std::string("Line 14"));
        // Line i, month m holds (i + 1) * 10 + m.
        QCOMPARE(number(wb, 6, 4), 11.0);
        QCOMPARE(number(wb, 16, 26), 92.0);   // line 7, month 12
        double revenueMonth1 = 0, costMonth1 = 0, expensesMonth1 = 0, revenueYear = 0;
        for (int i = 0; i < 33; ++i) {
            const double m1 = (i + 1) * 10 + 1;
            (i < 7 ? revenueMonth1 : i < 14 ? costMonth1 : expensesMonth1) += m1;
            if (i < 7)
                for (int m = 1; m <= 12; ++m)
                    revenueYear += (i + 1) * 10 + m;
        }
        QCOMPARE(number(wb, 13, 4), revenueMonth1);
        QCOMPARE(number(wb, 23, 4), costMonth1);
        QCOMPARE(number(wb, 25, 4), revenueMonth1 - costMonth1);
        QCOMPARE(number(wb, 47, 4), expensesMonth1);
        QCOMPARE(number(wb, 49, 4), revenueMonth1 - costMonth1 - expensesMonth1);
        QCOMPARE(number(wb, 13, 28), revenueYear);
        QCOMPARE(sh.cells.at({12, 1}).value.text(), std::string("Total Revenue (Sales)"));
        QVERIFY(sh.cells.at({12, 3}).isFormula());
    }

    void anExistingTemplateIsUsedAsItIsAndATakenNameRedrawn()
    {
        // A template left behind, with a title of its own.
        ss::Workbook templ = ss::xls::load(qEnvironmentVariable("CORVANTIS_TEMPLATE").toStdString());
        templ.sheets[0].cells[{1, 1}].value = std::string("Left from last time");
        ss::xls::save(templ, ScratchPath("template.xlt").toStdString());

        QRandomGenerator seeded(2024), replay(2024);
        setNameGenerator(&replay);
        const QString taken = ScratchPath(drawWorkbookName());
        const QString expected = ScratchPath(drawWorkbookName());
        QFile busy(taken);
        QVERIFY(busy.open(QIODevice::WriteOnly));
        busy.write("someone else's");
        busy.close();

        setNameGenerator(&seeded);
        FakeHost host;
        QVERIFY(GenerateWorkbook(host));
        QVERIFY(reports.empty());
        QCOMPARE(host.excelFile, expected);
        QCOMPARE(QFile(taken).size(), qint64(14));
        const ss::Workbook wb = ss::xls::load(expected.toStdString());
        QCOMPARE(wb.sheets[0].cells.at({1, 1}).value.text(), std::string("Left from last time"));
        QVERIFY(!QFile::exists(ScratchPath("template.xlt")));
    }

    void noApplicationMeansOneReportAndBackToTheInputs()
    {
        setApplicationFactory([] { return std::shared_ptr<Application>(); });
        FakeHost host;
        QVERIFY(!GenerateWorkbook(host));
        QCOMPARE(steps(), std::vector<int>{110});
        QCOMPARE(reports[0].location, QStringLiteral("in Marrowfen2021/08/31.Form1.PushButton22_Click "));
        QVERIFY(host.leftAtInputs());
        QVERIFY(scratchFiles().isEmpty());
    }

    void anUnusableScratchFolderMeansOneReport_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::newRow("missing") << "missing/deeper";
        QTest::newRow("under a file") << "afile/sub";
    }
    void anUnusableScratchFolderMeansOneReport()
    {
        QFETCH(QString, folder);
        QFile plain(dir->filePath("afile"));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        qputenv("TEMP", dir->filePath(folder).toLocal8Bit());
        FakeHost host;
        QVERIFY(!GenerateWorkbook(host));
        QCOMPARE(steps(), std::vector<int>{114});
        QVERIFY(host.leftAtInputs());
        QVERIFY(!ExcelApp);
        QCOMPARE(scratchFiles(), QStringList{"afile"});
    }

    void aDamagedTemplateIsReportedOnceAndRemoved()
    {
        QFile bad(ScratchPath("template.xlt"));
        QVERIFY(bad.open(QIODevice::WriteOnly));
        bad.write(QByteArray(4096, '\0'));
        bad.close();
        std::weak_ptr<Application> started;
        setApplicationFactory([&] {
            auto app = std::make_shared<Application>();
            started = app;
            return app;
        });
        FakeHost host;
        QVERIFY(!GenerateWorkbook(host));
        QCOMPARE(steps(), std::vector<int>{116});
        QVERIFY(host.leftAtInputs());
        QVERIFY(started.expired());
        QVERIFY(scratchFiles().isEmpty());
    }

    void otherFailuresAreReportedOnceEachAndGenerationGoesOn()
    {
        FakeHost host;
        host.text = [](int line, int column) -> QString {
            if (line == 3 && column == 2)
                throw std::runtime_error("Type mismatch");
            return column >= 2 ? QStringLiteral("5") : QStringLiteral("x");
        };
        QVERIFY(GenerateWorkbook(host));
        QCOMPARE(steps(), std::vector<int>{130});
        QCOMPARE(reports[0].description, QStringLiteral("Type mismatch"));
        const ss::Workbook wb = ss::xls::load(host.excelFile.toStdString());
        QCOMPARE(number(wb, 13, 4), 30.0);    // line 3 month 1 left empty
        QCOMPARE(number(wb, 13, 6), 35.0);

        // No second application: the workbook is still handed over, without a picture.
        reports.clear();
        int made = 0;
        setApplicationFactory([&]() -> std::shared_ptr<Application> {
            if (++made == 2)
                throw ExcelError("no second application");
            return std::make_shared<Application>();
        });
        FakeHost second;
        QVERIFY(GenerateWorkbook(second));
        QCOMPARE(steps(), (std::vector<int>{186, 202}));
        QVERIFY(second.previewShown && second.mainHidden && QFile::exists(second.excelFile));
        QCOMPARE(second.freezes.back(), false);
        QCOMPARE(second.pointers.back(), Pointer::Default);
        QVERIFY(!QFile::exists(ScratchPath("template.xlt")));
    }
};

QTEST_MAIN(TestGeneration)
#include "test_generation.moc"
