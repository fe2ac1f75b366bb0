// Saving a copy of the generated workbook, going back, and closing the preview.
#include "preview/form2.h"
#include "preview/preview_support.h"

#include "core/apptitle.h"
#include "core/dialogs.h"

#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>

using namespace corvantis;
using previewtest::ReportCollector;

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
    std::unique_ptr<Form2> form;
    QString workbook;

    QString out(const QString& name) const { return target->filePath(name); }
    QStringList targetFolder() const { return QDir(target->path()).entryList(QDir::Files | QDir::Hidden, QDir::Name); }
    void save(const QString& name, Dialogs::Answer answer = Dialogs::Answer::No)
    {
        Dialogs::reset();
        if (!name.isNull())
            Dialogs::queueFileName(name);
        Dialogs::queueAnswer(answer);
        QTest::mouseClick(form->PushButton6(), Qt::LeftButton);
    }

private slots:
    void init()
    {
        Dialogs::setScripted(true);
        scratch = std::make_unique<QTemporaryDir>();
        target = std::make_unique<QTemporaryDir>();
        workbook = scratch->filePath(QStringLiteral("tolvek73519246.xls"));
        writeFile(workbook, kWorkbook);
        form = std::make_unique<Form2>();
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
        QCOMPARE(request.fileName, QString());
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

    void typedNameGetsTheExtension()
    {
        save(out(QStringLiteral("report")));
        QCOMPARE(targetFolder(), QStringList{QStringLiteral("report.xls")});
        save(out(QStringLiteral("report")));
        QCOMPARE(shownTexts().value(0), question(out(QStringLiteral("report.xls"))));
        save(out(QStringLiteral("copy.bak")));   // an extension of its own stays
        QVERIFY(QFile::exists(out(QStringLiteral("copy.bak"))));
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

    void failedCopyIsReportedAndKeepsTheOldFile()
    {
        ReportCollector reports;
        save(out(QStringLiteral("missing-folder/results.xls")));
        QCOMPARE(reports.reports.size(), size_t(1));
        QCOMPARE(reports.reports[0].location, QStringLiteral("in Marrowfen2021/08/31.Form2.PushButton6_Click "));
        QCOMPARE(reports.reports[0].step, 130);
        QVERIFY(shownTexts().isEmpty());   // no "Done." after a failure

        QVERIFY(QFile::remove(workbook));   // the scratch workbook has gone missing
        writeFile(out(QStringLiteral("old.xls")), "OLD");
        save(out(QStringLiteral("old.xls")), Dialogs::Answer::Yes);
        QCOMPARE(reports.reports.size(), size_t(2));
        QCOMPARE(reports.reports[1].step, 130);
        QCOMPARE(contents(out(QStringLiteral("old.xls"))), QByteArray("OLD"));
        QCOMPARE(targetFolder(), QStringList{QStringLiteral("old.xls")});
        QCOMPARE(shownTexts(), QStringList{question(out(QStringLiteral("old.xls")))});
    }

    void backDeletesTheScratchWorkbookAndShowsTheMainWindow()
    {
        QWidget main;
        form->setMainWindow(&main);
        form->show();
        QTest::mouseClick(form->PushButton8(), Qt::LeftButton);
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
