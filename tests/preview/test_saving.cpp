// Saving a copy of the generated workbook, going back, and closing the preview.
#include "preview/form2.h"
#include "preview/preview_support.h"

#include "core/apptitle.h"
#include "core/dialogs.h"
#include "core/settingsstore.h"

#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>

using namespace corvantis;
using previewtest::ReportCollector;
using previewtest::PushButton6, previewtest::PushButton8;

namespace {

const QByteArray kWorkbook("\xD0\xCF\x11\xE0 generated workbook \0 bytes", 30);
const QString kDone = QStringLiteral("Done.");

QByteArray contents(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QStringList shownTexts()
{
    QStringList texts;
    for (const auto& s : Dialogs::shown())
        texts << s.text;
    return texts;
}

QString question(const QString& target)
{
    return QStringLiteral("Are you sure you wish to overwrite ") + target + QStringLiteral(" ?");
}

} // namespace

class TestSaving : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> scratch, target;
    std::unique_ptr<SettingsStore> store;
    std::unique_ptr<Form2> form;
    QString workbook;
    QTemporaryDir home;   // the user's configuration and Documents folder
    QString documents;

    QString out(const QString& name) const { return target->filePath(name); }
    QStringList targetFolder() const { return QDir(target->path()).entryList(QDir::Files | QDir::Hidden, QDir::Name); }
    void save(const QString& name, Dialogs::Answer answer = Dialogs::Answer::No)
    {
        Dialogs::reset();
        if (!name.isNull())
            Dialogs::queueFileName(name);
        Dialogs::queueAnswer(answer);
        QTest::mouseClick(PushButton6(*form), Qt::LeftButton);
    }

private slots:
    void initTestCase()
    {
        // The Documents folder as the desktop names it.
        documents = home.filePath(QStringLiteral("My Documents"));
        QVERIFY(QDir().mkpath(documents));
        QVERIFY(QDir().mkpath(home.filePath(QStringLiteral("config"))));
        writeFile(home.filePath(QStringLiteral("config/user-dirs.dirs")),
                  "XDG_DOCUMENTS_DIR=\"" + documents.toUtf8() + "\"\n");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(QStringLiteral("config"))));
    }

    void init()
    {
        Dialogs::setScripted(true);
        scratch = std::make_unique<QTemporaryDir>();
        target = std::make_unique<QTemporaryDir>();
        workbook = scratch->filePath(QStringLiteral("tolvek73519246.xls"));
        writeFile(workbook, kWorkbook);
        store = std::make_unique<SettingsStore>(scratch->filePath(QStringLiteral("settings.ini")));
        form = std::make_unique<Form2>();
        form->setSettingsStore(store.get());
        form->setExcelFile(workbook);
        form->setPicture(previewtest::snapshot(200, 100));
    }
    void cleanup() { form.reset(); }

    void saveAndOverwrite()
    {
        ReportCollector reports;
        save(out(QStringLiteral("results.xls")));
        const auto& request = Dialogs::saveRequests().at(0);
        QCOMPARE(request.title, QStringLiteral("Save File"));
        QCOMPARE(request.filter, QStringLiteral("Excel Files (*.xls)"));
        QCOMPARE(request.fileName, documents + QLatin1Char('/'));   // no name yet, in Documents
        QCOMPARE(contents(out(QStringLiteral("results.xls"))), kWorkbook);
        QCOMPARE(contents(workbook), kWorkbook);   // a copy: the scratch workbook stays
        QCOMPARE(shownTexts(), QStringList{kDone});
        QCOMPARE(Dialogs::shown()[0].caption, ApplicationTitle());
        QCOMPARE(Dialogs::shown()[0].icon, Dialogs::Icon::None);

        writeFile(out(QStringLiteral("results.xls")), "OLD");
        save(out(QStringLiteral("results.xls")), Dialogs::Answer::No);
        QCOMPARE(shownTexts(), (QStringList{question(out(QStringLiteral("results.xls"))), kDone}));
        QCOMPARE(Dialogs::shown()[0].buttons, Dialogs::Buttons::YesNo);
        QCOMPARE(contents(out(QStringLiteral("results.xls"))), QByteArray("OLD"));

        QFile::setPermissions(out(QStringLiteral("results.xls")), QFile::ReadOwner);
        save(out(QStringLiteral("results.xls")), Dialogs::Answer::Yes);
        QCOMPARE(contents(out(QStringLiteral("results.xls"))), kWorkbook);
        QCOMPARE(targetFolder(), QStringList{QStringLiteral("results.xls")});   // no copy left half-way
        QVERIFY(reports.reports.empty());
    }

    void cancelWritesNothing()
    {
        save(QString());
        QVERIFY(targetFolder().isEmpty());
        QCOMPARE(shownTexts(), QStringList{kDone});
    }

    void everyNameEndsInXls_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("saved");
        QTest::newRow("plain") << "report" << "report.xls";
        QTest::newRow("dots inside") << "Budget v1.2 final" << "Budget v1.2 final.xls";
        QTest::newRow("another extension") << "copy.bak" << "copy.bak.xls";
        QTest::newRow("upper case") << "BOOK.XLS" << "BOOK.XLS";
        QTest::newRow("trailing dot") << "draft." << "draft.xls";
    }
    void everyNameEndsInXls()
    {
        QFETCH(QString, typed);
        QFETCH(QString, saved);
        save(out(typed));
        QCOMPARE(targetFolder(), QStringList{saved});
        save(out(typed));
        QCOMPARE(shownTexts().value(0), question(out(saved)));
    }

    // The dialog opens where the last save went; a folder gone since means Documents again.
    void dialogOpensInTheLastFolder()
    {
        ReportCollector reports;
        save(out(QStringLiteral("first.xls")));
        QCOMPARE(store->get(QStringLiteral("LastSaveFolder"), QString()), QDir(target->path()).absolutePath());
        save(QString());
        QCOMPARE(Dialogs::saveRequests().at(0).fileName, QDir(target->path()).absolutePath() + QLatin1Char('/'));
        save(out(QStringLiteral("missing-folder/x.xls")));   // a failed save does not move it
        save(QString());
        QCOMPARE(Dialogs::saveRequests().at(0).fileName, QDir(target->path()).absolutePath() + QLatin1Char('/'));
        QVERIFY(target->remove());
        save(QString());
        QCOMPARE(Dialogs::saveRequests().at(0).fileName, documents + QLatin1Char('/'));
    }

    void scratchWorkbookItselfIsRefused()
    {
        ReportCollector reports;
        for (const QString& name : {workbook, scratch->path() + QStringLiteral("/./tolvek73519246.xls")}) {
            save(name, Dialogs::Answer::Yes);
            QCOMPARE(contents(workbook), kWorkbook);
            QCOMPARE(Dialogs::shown().size(), size_t(1));
            QVERIFY(shownTexts()[0].contains(QStringLiteral("another file name")));
        }
        QVERIFY(reports.reports.empty());
    }

    void failedCopyIsSaidPlainlyAndKeepsTheOldFile()
    {
        // A copy that cannot be written is the user's to mend: a plain box, not a fault report.
        ReportCollector reports;
        save(out(QStringLiteral("missing-folder/results.xls")));
        QVERIFY(reports.reports.empty());
        QCOMPARE(shownTexts().size(), 1);   // the reason, and no "Done." after it
        // The message names the user's file, never the copy in progress.
        QVERIFY2(shownTexts()[0].contains(out(QStringLiteral("missing-folder/results.xls")))
                     && !shownTexts()[0].contains(QStringLiteral(".part")),
                 qPrintable(shownTexts()[0]));

        QVERIFY(QFile::remove(workbook));   // the scratch workbook has gone missing
        writeFile(out(QStringLiteral("old.xls")), "OLD");
        Dialogs::reset();
        save(out(QStringLiteral("old.xls")), Dialogs::Answer::Yes);
        QVERIFY(reports.reports.empty());
        QCOMPARE(shownTexts().size(), 2);
        QCOMPARE(shownTexts()[0], question(out(QStringLiteral("old.xls"))));
        QVERIFY2(shownTexts()[1].contains(out(QStringLiteral("old.xls"))), qPrintable(shownTexts()[1]));
        QCOMPARE(contents(out(QStringLiteral("old.xls"))), QByteArray("OLD"));
        QCOMPARE(targetFolder(), QStringList{QStringLiteral("old.xls")});
    }

    void backDeletesTheScratchWorkbookAndShowsTheMainWindow()
    {
        QWidget main;
        form->setMainWindow(&main);
        form->show();
        QTest::mouseClick(PushButton8(*form), Qt::LeftButton);
        QVERIFY(!QFile::exists(workbook));
        QVERIFY(main.isVisible());
        QVERIFY(form->isHidden());
    }

    // Last: it runs the event loop to its end.
    void closingDeletesTheScratchWorkbookAndQuits()
    {
        QApplication::setQuitOnLastWindowClosed(false);   // the quit must come from the preview itself
        QWidget main;                                      // hidden, as after a generation
        form->setMainWindow(&main);
        form->show();
        bool quitting = false;
        connect(qApp, &QCoreApplication::aboutToQuit, this, [&] { quitting = true; });
        QTimer::singleShot(0, form.get(), [this] { form->close(); });
        QTimer::singleShot(5000, qApp, [] { QCoreApplication::exit(7); });
        QCOMPARE(QCoreApplication::exec(), 0);
        QVERIFY(quitting);
        QVERIFY(!QFile::exists(workbook));
    }
};

QTEST_MAIN(TestSaving)
#include "test_saving.moc"
