// "Save Results To Excel File" against targets that cannot take the copy: a missing folder, an
// immutable file, a folder in the file's place, a locked or read-only folder, a full disk. Each
// ends in the error report of the copy step, never in "Done.", with the user's existing file
// byte for byte as it was and no partial copy left beside it.
#include "core/dialogs.h"
#include "core/errorreport.h"
#include "app/form1.h"
#include "app/generationhost.h"
#include "app/previewmenu.h"
#include "core/settingsstore.h"
#include "preview/form2.h"
#include "core/files.h"

#include "faults/faultkit.h"
#include "faults/mainwindowrig.h"

#include <QFileInfo>
#include <QApplication>
#include <QLocale>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace corvantis;
using namespace faultkit;

class TestSaveFaults : public QObject {
    Q_OBJECT

    QTemporaryDir work;
    QString scratch;
    MainWindowRig rig;
    std::unique_ptr<Form1>& form1 = rig.form1;
    std::unique_ptr<MainGenerationHost>& host = rig.host;
    std::vector<ErrorReport>& reports = rig.reports;
    QByteArray workbook;   // the generated scratch workbook as saved

    Form2& preview() const { return *host->preview(); }
    QString reportList() const { return rig.reportList(); }
    QStringList boxes() const
    {
        QStringList s;
        for (const Dialogs::Shown& b : Dialogs::shown())
            s << b.text;
        return s;
    }

    // Saves to `target`, answering Yes to the overwrite question when `asked`, and expects the
    // copy to fail with a plain box naming the file (the user's to mend), no report and no "Done.".
    void saveFails(const QString& target, bool asked)
    {
        reports.clear();
        Dialogs::reset();
        Dialogs::queueFileName(target);
        if (asked)
            Dialogs::queueAnswer(Dialogs::Answer::Yes);
        preview().PushButton6_Click();

        qInfo("%s", qPrintable(boxes().join(QLatin1Char('|'))));   // what the user reads
        QVERIFY2(reports.empty(), qPrintable(reportList()));
        QVERIFY(!boxes().contains(QStringLiteral("Done.")));
        QCOMPARE(int(Dialogs::shown().size()), asked ? 2 : 1);   // the overwrite question, then the reason
        QVERIFY2(boxes().last().contains(QFileInfo(target).fileName()), qPrintable(boxes().last()));
        // The scratch workbook is the source; it stays as it was, still in the preview's hands.
        QCOMPARE(bytesOf(preview().excelFile()), workbook);
        QVERIFY(preview().isVisible());
    }

private slots:
    void initTestCase()
    {
        QVERIFY(work.isValid());
        scratch = work.filePath(QStringLiteral("scratch"));
        QVERIFY(QDir().mkpath(scratch));
        qputenv("TEMP", QFile::encodeName(scratch));
        rig.load(work);
        form1->show();
        QVERIFY(host->generate());
        QVERIFY2(reports.empty(), qPrintable(reportList()));
        workbook = bytesOf(preview().excelFile());
        QVERIFY2(workbook.size() > 30 * 1024, qPrintable(QString::number(workbook.size())));

        // The healthy save works, so every failure below is the fault's doing.
        const QString good = work.filePath(QStringLiteral("good.xls"));
        Dialogs::queueFileName(good);
        preview().PushButton6_Click();
        QVERIFY2(reports.empty(), qPrintable(reportList()));
        QCOMPARE(boxes(), QStringList{QStringLiteral("Done.")});
        QCOMPARE(bytesOf(good), workbook);
    }
    void cleanupTestCase()
    {
        host.reset();
        form1.reset();
        setErrorReportSink({});
        qunsetenv("TEMP");
    }

    void targetInAMissingFolder()
    {
        const QString folder = work.filePath(QStringLiteral("gone"));
        saveFails(QDir(folder).filePath(QStringLiteral("book.xls")), false);
        QVERIFY(!QFileInfo::exists(folder));
    }

    void immutableTarget()
    {
        const QString dir = work.filePath(QStringLiteral("immutable-file"));
        QVERIFY(QDir().mkpath(dir));
        const QString target = QDir(dir).filePath(QStringLiteral("book.xls"));
        QVERIFY(writeBytes(target, "the user's own workbook"));
        Immutable lock(target);
        if (!lock.on())
            QSKIP(qPrintable(QStringLiteral("chattr +i is not available here: ") + lock.why()));
        saveFails(target, true);
        QCOMPARE(bytesOf(target), QByteArray("the user's own workbook"));
        QCOMPARE(listing(dir), QStringList{QStringLiteral("book.xls")});
    }

    // A folder standing where the file should go, as a locked target does on other systems.
    void targetIsAFolder()
    {
        const QString dir = work.filePath(QStringLiteral("folder-target"));
        const QString target = QDir(dir).filePath(QStringLiteral("book.xls"));
        QVERIFY(QDir().mkpath(target));
        QVERIFY(writeBytes(QDir(target).filePath(QStringLiteral("inside.txt")), "kept"));
        saveFails(target, true);
        QVERIFY(QFileInfo(target).isDir());
        QCOMPARE(listing(target), QStringList{QStringLiteral("inside.txt")});
        QCOMPARE(bytesOf(QDir(target).filePath(QStringLiteral("inside.txt"))), QByteArray("kept"));
        QCOMPARE(listing(dir), QStringList{QStringLiteral("book.xls")});
    }

    void targetInAnImmutableFolder()
    {
        const QString dir = work.filePath(QStringLiteral("immutable-folder"));
        QVERIFY(QDir().mkpath(dir));
        const QString target = QDir(dir).filePath(QStringLiteral("book.xls"));
        QVERIFY(writeBytes(target, "the user's own workbook"));
        Immutable lock(dir);
        if (!lock.on())
            QSKIP(qPrintable(QStringLiteral("chattr +i is not available here: ") + lock.why()));
        saveFails(target, true);
        QCOMPARE(bytesOf(target), QByteArray("the user's own workbook"));
        QCOMPARE(listing(dir), QStringList{QStringLiteral("book.xls")});
    }

    void targetOnAReadOnlyMount()
    {
        Tmpfs disk(work.path(), QStringLiteral("1m"));
        if (!disk.mounted())
            QSKIP(qPrintable(QStringLiteral("cannot mount a tmpfs here: ") + disk.why()));
        const QString target = disk.filePath(QStringLiteral("book.xls"));
        QVERIFY(writeBytes(target, "the user's own workbook"));
        if (!disk.makeReadOnly())
            QSKIP(qPrintable(QStringLiteral("cannot remount read-only: ") + disk.why()));
        saveFails(target, true);
        QCOMPARE(bytesOf(target), QByteArray("the user's own workbook"));
        QCOMPARE(listing(disk.path()), QStringList{QStringLiteral("book.xls")});
    }

    // The existing file fills the disk; the new copy cannot be written beside it.
    void fullDiskKeepsTheExistingFile()
    {
        Tmpfs disk(work.path(), QStringLiteral("64k"));
        if (!disk.mounted())
            QSKIP(qPrintable(QStringLiteral("cannot mount a small tmpfs here: ") + disk.why()));
        const QString target = disk.filePath(QStringLiteral("book.xls"));
        QByteArray existing(60 * 1024, '\0');
        for (int i = 0; i < existing.size(); ++i)
            existing[i] = char(i * 31 + 7);
        QVERIFY(writeBytes(target, existing));
        saveFails(target, true);
        QCOMPARE(bytesOf(target), existing);
        QCOMPARE(listing(disk.path()), QStringList{QStringLiteral("book.xls")});

        // With the room back the same save goes through.
        QVERIFY(QFile::remove(target));
        reports.clear();
        Dialogs::reset();
        Dialogs::queueFileName(target);
        preview().PushButton6_Click();
        QVERIFY2(reports.empty(), qPrintable(reportList()));
        QCOMPARE(bytesOf(target), workbook);
    }

    // The .xlsx and the PDF of the picture's menu on a full disk: the plain box carries the
    // system's reason; the old file stays whole and the dialogs open where the .xls one does.
    void fullDiskFromThePictureMenu()
    {
        Tmpfs disk(work.path(), QStringLiteral("64k"));
        if (!disk.mounted())
            QSKIP(qPrintable(QStringLiteral("cannot mount a small tmpfs here: ") + disk.why()));
        auto* menu = preview().findChild<PreviewMenu*>();
        QVERIFY(menu);
        QByteArray existing(60 * 1024, '\0');
        for (int i = 0; i < existing.size(); ++i)
            existing[i] = char(i * 131 + 5);
        for (const QString& name : {QStringLiteral("book.xlsx"), QStringLiteral("book.pdf")}) {
            const QString target = disk.filePath(name);
            QVERIFY(writeBytes(target, existing));
            reports.clear();
            Dialogs::reset();
            Dialogs::queueFileName(target);
            Dialogs::queueAnswer(Dialogs::Answer::Yes);
            if (name.endsWith(QLatin1String(".xlsx")))
                menu->SaveXlsx_Click();
            else
                menu->ExportPdf_Click();
            qInfo("%s", qPrintable(boxes().join(u'\n')));
            QVERIFY2(reports.empty(), qPrintable(reportList()));
            QCOMPARE(boxes().size(), 2);
            QVERIFY2(boxes().last().contains(target) && boxes().last().contains(QStringLiteral("No space left on device")),
                     qPrintable(boxes().last()));
            QCOMPARE(bytesOf(target), existing);
            QCOMPARE(listing(disk.path()), QStringList{name});
            QVERIFY(preview().isVisible());
            // The dialog opened in the folder of the last good save, not the working folder.
            QCOMPARE(Dialogs::saveRequests().size(), std::size_t(1));
            const QString lastFolder = rig.store->get(QStringLiteral("LastSaveFolder"), QString());
            QVERIFY(!lastFolder.isEmpty());
            QCOMPARE(QDir(Dialogs::saveRequests().front().fileName).absolutePath(), QDir(lastFolder).absolutePath());
            QVERIFY(QFile::remove(target));
        }
    }
};

QTEST_MAIN(TestSaveFaults)
#include "test_savefaults.moc"
