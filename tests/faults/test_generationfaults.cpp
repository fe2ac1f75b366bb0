// "Start Creating Template" against a scratch folder that is missing, unusable, full, or holds a
// broken template.xlt: one report, the user back at the inputs, nothing half-written left, and
// no crash, hang or huge allocation on the way.
#include "core/dialogs.h"
#include "core/errorreport.h"
#include "app/form1.h"
#include "app/generationhost.h"
#include "ui/pointerrules.h"
#include "core/settingsstore.h"
#include "app/theme.h"
#include "preview/form2.h"
#include "sheet/inputsheet.h"
#include "core/files.h"

#include "faults/faultkit.h"
#include "faults/mainwindowrig.h"

#include <QApplication>
#include <QDateEdit>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace corvantis;
using namespace faultkit;

namespace {
constexpr int kLines = 33;
constexpr qint64 kTwoGiB = qint64(2) * 1024 * 1024 * 1024;
}

class TestGenerationFaults : public QObject {
    Q_OBJECT

    QTemporaryDir work;
    MainWindowRig rig;
    std::unique_ptr<Form1>& form1 = rig.form1;
    std::unique_ptr<MainGenerationHost>& host = rig.host;
    std::vector<ErrorReport>& reports = rig.reports;

    QString reportList() const { return rig.reportList(); }

    QStringList inputs() const
    {
        QStringList all{form1->txtCompanyName()->text(), form1->DTPicker1()->date().toString(Qt::ISODate)};
        for (int line = 0; line < kLines; ++line)
            for (int col = 0; col < 14; ++col)
                all << form1->sheet().cell(line, col)->text();
        return all;
    }

    static QStringList workbooksIn(const QString& dir)
    {
        return QDir(dir).entryList({QStringLiteral("tolvek*"), QStringLiteral("*.part"), QStringLiteral("temp.bmp")},
                                   QDir::Files | QDir::Hidden);
    }

    // Clicks "Start Creating Template" with TEMP at `temp` and expects the generation to be
    // given up with exactly one report of `step`, the user left at unchanged inputs.
    void generationGivesUp(const QString& temp, int step)
    {
        qputenv("TEMP", QFile::encodeName(temp));
        QCOMPARE(ScratchFolder(), temp);
        reports.clear();
        Dialogs::reset();
        const QStringList before = inputs();

        QElapsedTimer clock;
        clock.start();
        QTest::mouseClick(form1->PushButton22(), Qt::LeftButton);
        QCoreApplication::processEvents();
        QVERIFY2(clock.elapsed() < 5000, qPrintable(QStringLiteral("took %1 ms").arg(clock.elapsed())));

        qInfo("%s", qPrintable(reportList()));   // what the user reads
        QVERIFY2(reports.size() == 1, qPrintable(QStringLiteral("%1 reports: %2").arg(reports.size()).arg(reportList())));
        QVERIFY2(reports.front().location.contains(QLatin1String("Form1.PushButton22_Click")), qPrintable(reportList()));
        QVERIFY2(reports.front().step == step, qPrintable(reportList()));
        QVERIFY(!reports.front().description.trimmed().isEmpty());
        QVERIFY(Dialogs::shown().empty());

        // Back at the inputs: shown, drawing, default pointer, nothing changed, no preview.
        QVERIFY(form1->isVisible());
        QVERIFY(form1->updatesEnabled());
        QCOMPARE(form1->pointerRules().pointer(), Pointer::Default);
        QVERIFY(!host->preview() || !host->preview()->isVisible());
        QCOMPARE(inputs(), before);
        QVERIFY2(workbooksIn(temp).isEmpty(), qPrintable(workbooksIn(temp).join(QLatin1Char(' '))));
        QVERIFY(!QFileInfo::exists(QDir(temp).filePath(QStringLiteral("template.xlt"))));
    }

    // A full generation works again in a healthy folder, and "< Back" clears it up.
    void generationWorksIn(const QString& temp)
    {
        qputenv("TEMP", QFile::encodeName(temp));
        reports.clear();
        Dialogs::reset();
        QVERIFY(host->generate());
        QVERIFY2(reports.empty(), qPrintable(reportList()));
        QVERIFY(host->preview() && host->preview()->isVisible());
        QVERIFY(QFileInfo(host->preview()->excelFile()).isFile());
        host->preview()->PushButton8_Click();
        QVERIFY(form1->isVisible());
        QCOMPARE(listing(temp), QStringList());
    }

private slots:
    void initTestCase()
    {
        QVERIFY(work.isValid());
        rig.load(work);
        form1->txtCompanyName()->setText(QStringLiteral("Fault Line Ltd"));
        form1->txtRevenue(0)->setText(QStringLiteral("Consulting"));
        form1->txtYear(1, 0)->setText(QStringLiteral("$1,200.00"));
        form1->show();
        QVERIFY(QTest::qWaitForWindowExposed(form1.get()));
        QVERIFY2(reports.empty(), qPrintable(reportList()));
    }
    void cleanupTestCase()
    {
        host.reset();
        form1.reset();
        setErrorReportSink({});
        qunsetenv("TEMP");
    }

    void scratchFolderMissing()
    {
        const QString temp = work.filePath(QStringLiteral("no-such-folder"));
        generationGivesUp(temp, 114);
        QVERIFY(!QFileInfo::exists(temp));
    }

    void scratchFolderBelowARegularFile()
    {
        const QString file = work.filePath(QStringLiteral("plain-file"));
        QVERIFY(writeBytes(file, "not a folder"));
        generationGivesUp(QDir(file).filePath(QStringLiteral("scratch")), 114);
        QCOMPARE(bytesOf(file), QByteArray("not a folder"));
    }

    void brokenTemplateInTheScratchFolder_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("garbage") << QStringLiteral("garbage");
        QTest::newRow("empty") << QStringLiteral("empty");
        QTest::newRow("2 GiB sparse") << QStringLiteral("sparse");
    }
    // A template.xlt left in the folder is used as it is; a broken one must not take the program down.
    void brokenTemplateInTheScratchFolder()
    {
        QFETCH(QString, kind);
        const QString temp = work.filePath(QStringLiteral("scratch-") + kind);
        QVERIFY(QDir().mkpath(temp));
        const QString tpl = QDir(temp).filePath(QStringLiteral("template.xlt"));
        if (kind == QLatin1String("garbage")) {
            QByteArray junk(64 * 1024, '\0');
            QRandomGenerator rng(7);
            for (char& c : junk)
                c = char(rng.bounded(256));
            QVERIFY(writeBytes(tpl, junk));
        } else if (kind == QLatin1String("empty")) {
            QVERIFY(writeBytes(tpl, QByteArray()));
        } else {
            QFile f(tpl);
            QVERIFY(f.open(QIODevice::WriteOnly));
            QVERIFY(f.resize(kTwoGiB));
            f.close();
            QCOMPARE(QFileInfo(tpl).size(), kTwoGiB);
            QVERIFY2(diskUsage(tpl) < 1024 * 1024, "the sparse file takes real disk space");
        }
        const qint64 peakBefore = peakResident();
        generationGivesUp(temp, 116);
        const qint64 grown = peakResident() - peakBefore;
        QVERIFY2(grown < 256 * 1024 * 1024, qPrintable(QStringLiteral("peak memory grew by %1 MiB").arg(grown >> 20)));
        // The broken file went with the run; the next one writes a fresh template and succeeds.
        generationWorksIn(temp);
    }

    void fullScratchFolder_data()
    {
        QTest::addColumn<int>("filler");
        QTest::addColumn<int>("step");
        // No room even for the template.
        QTest::newRow("template does not fit") << 60 * 1024 << 114;
        // The template fits; the workbook saved beside it does not.
        QTest::newRow("workbook does not fit") << 0 << 176;
    }
    void fullScratchFolder()
    {
        QFETCH(int, filler);
        QFETCH(int, step);
        Tmpfs disk(work.path(), QStringLiteral("64k"));
        if (!disk.mounted())
            QSKIP(qPrintable(QStringLiteral("cannot mount a small tmpfs here: ") + disk.why()));
        const QString fillerPath = disk.filePath(QStringLiteral("filler.bin"));
        const QByteArray fill(filler, 'F');
        if (filler)
            QVERIFY(writeBytes(fillerPath, fill));
        generationGivesUp(disk.path(), step);
        QCOMPARE(listing(disk.path()), filler ? QStringList{QStringLiteral("filler.bin")} : QStringList());
        if (filler)
            QCOMPARE(bytesOf(fillerPath), fill);
    }

    // The workbook fits but its picture does not: the picture's routine says so at its line 112,
    // with the cause, and leaves no part of temp.bmp behind.
    void pictureDoesNotFit()
    {
        Tmpfs disk(work.path(), QStringLiteral("512k"));
        if (!disk.mounted())
            QSKIP(qPrintable(QStringLiteral("cannot mount a small tmpfs here: ") + disk.why()));
        qputenv("TEMP", QFile::encodeName(disk.path()));
        reports.clear();
        Dialogs::reset();
        host->generate();
        QVERIFY(!reports.empty());
        QVERIFY2(reports.front().location.contains(QLatin1String("Excel1.saveCellsActivesheet")) && reports.front().step == 112
                     && reports.front().description.contains(QLatin1String("No space left")),
                 qPrintable(reportList()));
        QVERIFY(!QDir(disk.path()).entryList({QStringLiteral("temp.bmp*"), QStringLiteral("*.part")}, QDir::Files | QDir::Hidden).size());
        if (host->preview() && host->preview()->isVisible())
            host->preview()->PushButton8_Click();
        form1->show();
    }

    // Two generations in a row into the same folder keep apart: each its own workbook name.
    void generationsBackToBackGetDistinctWorkbooks()
    {
        const QString temp = work.filePath(QStringLiteral("shared"));
        QVERIFY(QDir().mkpath(temp));
        qputenv("TEMP", QFile::encodeName(temp));
        reports.clear();
        QVERIFY(host->generate());
        const QString first = host->preview()->excelFile();
        form1->show();   // as if a second copy of the program clicked while the preview is up
        QVERIFY(host->generate());
        const QString second = host->preview()->excelFile();
        QVERIFY2(reports.empty(), qPrintable(reportList()));
        QVERIFY(first != second);
        QVERIFY(QFileInfo(first).isFile() && QFileInfo(second).isFile());
        QCOMPARE(bytesOf(first).size(), bytesOf(second).size());
        host->preview()->PushButton8_Click();
        QVERIFY(QFileInfo(first).isFile());
        QVERIFY(!QFileInfo::exists(second));
    }
};

QTEST_MAIN(TestGenerationFaults)
#include "test_generationfaults.moc"
