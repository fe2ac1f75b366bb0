// Saving a copy of the generated workbook, going back, and closing the preview.
#include "preview/form2.h"
#include "preview/preview_support.h"

#include "app/apptitle.h"
#include "app/dialogs.h"

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

QByteArray contents(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return "<missing>";
    return f.readAll();
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

QString overwriteQuestion(const QString& target)
{
    return QStringLiteral("Are you sure you wish to overwrite ") + target + QStringLiteral(" ?");
}

} // namespace

class TestSaving : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> scratch;
    std::unique_ptr<QTemporaryDir> target;
    QString workbook;

    QString targetPath(const QString& name) const { return target->filePath(name); }
    QStringList targetFolder() const
    {
        return QDir(target->path()).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    }
    void save(Form2& form) { QTest::mouseClick(form.PushButton6, Qt::LeftButton); }

private slots:
    void init()
    {
        Dialogs::setScripted(true);
        Dialogs::reset();
        scratch = std::make_unique<QTemporaryDir>();
        target = std::make_unique<QTemporaryDir>();
        workbook = scratch->filePath(QStringLiteral("tolvek73519246.xls"));
        writeFile(workbook, kWorkbook);
    }

    void saveToANewName()
    {
        ReportCollector reports;
        Form2 form;
        form.setExcelFile(workbook);
        const QString out = targetPath(QStringLiteral("results.xls"));
        Dialogs::queueFileName(out);
        save(form);

        QCOMPARE(Dialogs::saveRequests().size(), size_t(1));
        QCOMPARE(Dialogs::saveRequests()[0].title, QStringLiteral("Save File"));
        QCOMPARE(Dialogs::saveRequests()[0].filter, QStringLiteral("Excel Files (*.xls)"));
        QCOMPARE(Dialogs::saveRequests()[0].fileName, QString());
        QCOMPARE(contents(out), kWorkbook);
        QCOMPARE(contents(workbook), kWorkbook);   // the scratch workbook stays
        QCOMPARE(targetFolder(), QStringList{QStringLiteral("results.xls")});
        QCOMPARE(shownTexts(), QStringList{QStringLiteral("Done.")});
        const auto& done = Dialogs::shown()[0];
        QCOMPARE(done.caption, ApplicationTitle());
        QCOMPARE(done.icon, Dialogs::Icon::None);
        QCOMPARE(done.buttons, Dialogs::Buttons::Ok);
        QVERIFY(reports.reports.empty());

        // A second save to the same name asks first.
        Dialogs::reset();
        Dialogs::queueFileName(out);
        Dialogs::queueAnswer(Dialogs::Answer::No);
        save(form);
        QCOMPARE(shownTexts(), (QStringList{overwriteQuestion(out), QStringLiteral("Done.")}));
    }

    void existingFileAnsweredNoIsUntouched()
    {
        Form2 form;
        form.setExcelFile(workbook);
        const QString out = targetPath(QStringLiteral("old.xls"));
        writeFile(out, "OLD");
        Dialogs::queueFileName(out);
        Dialogs::queueAnswer(Dialogs::Answer::No);
        save(form);
        QCOMPARE(shownTexts(), (QStringList{overwriteQuestion(out), QStringLiteral("Done.")}));
        const auto& question = Dialogs::shown()[0];
        QCOMPARE(question.buttons, Dialogs::Buttons::YesNo);
        QCOMPARE(question.icon, Dialogs::Icon::None);
        QCOMPARE(question.caption, ApplicationTitle());
        QCOMPARE(contents(out), QByteArray("OLD"));
        QCOMPARE(targetFolder(), QStringList{QStringLiteral("old.xls")});
    }

    void existingFileAnsweredYesIsReplaced_data()
    {
        QTest::addColumn<bool>("readOnly");
        QTest::newRow("writable") << false;
        QTest::newRow("read-only") << true;
    }
    void existingFileAnsweredYesIsReplaced()
    {
        QFETCH(bool, readOnly);
        ReportCollector reports;
        Form2 form;
        form.setExcelFile(workbook);
        const QString out = targetPath(QStringLiteral("old.xls"));
        writeFile(out, "OLD");
        if (readOnly)
            QFile::setPermissions(out, QFile::ReadOwner | QFile::ReadUser);
        Dialogs::queueFileName(out);
        Dialogs::queueAnswer(Dialogs::Answer::Yes);
        save(form);
        QCOMPARE(contents(out), kWorkbook);
        QCOMPARE(targetFolder(), QStringList{QStringLiteral("old.xls")});   // no half-written copy left
        QCOMPARE(shownTexts(), (QStringList{overwriteQuestion(out), QStringLiteral("Done.")}));
        QVERIFY(reports.reports.empty());
    }

    void cancelWritesNothing()
    {
        Form2 form;
        form.setExcelFile(workbook);
        save(form);   // nothing queued: the dialog is cancelled
        QVERIFY(targetFolder().isEmpty());
        QCOMPARE(shownTexts(), QStringList{QStringLiteral("Done.")});
    }

    void typedNameGetsTheExtension()
    {
        Form2 form;
        form.setExcelFile(workbook);
        Dialogs::queueFileName(targetPath(QStringLiteral("report")));
        save(form);
        QCOMPARE(targetFolder(), QStringList{QStringLiteral("report.xls")});
        QCOMPARE(contents(targetPath(QStringLiteral("report.xls"))), kWorkbook);

        // The question names the file that would be overwritten.
        Dialogs::reset();
        Dialogs::queueFileName(targetPath(QStringLiteral("report")));
        Dialogs::queueAnswer(Dialogs::Answer::No);
        save(form);
        QCOMPARE(shownTexts().value(0), overwriteQuestion(targetPath(QStringLiteral("report.xls"))));

        // A name with an extension of its own is kept as typed.
        Dialogs::reset();
        Dialogs::queueFileName(targetPath(QStringLiteral("copy.bak")));
        save(form);
        QVERIFY(QFile::exists(targetPath(QStringLiteral("copy.bak"))));
    }

    void scratchWorkbookItselfIsRefused_data()
    {
        QTest::addColumn<bool>("otherSpelling");
        QTest::newRow("same path") << false;
        QTest::newRow("other spelling") << true;
    }
    void scratchWorkbookItselfIsRefused()
    {
        QFETCH(bool, otherSpelling);
        ReportCollector reports;
        Form2 form;
        form.setExcelFile(workbook);
        Dialogs::queueFileName(otherSpelling ? scratch->path() + QStringLiteral("/./tolvek73519246.xls") : workbook);
        Dialogs::queueAnswer(Dialogs::Answer::Yes);
        save(form);
        QCOMPARE(contents(workbook), kWorkbook);
        QCOMPARE(Dialogs::shown().size(), size_t(1));
        QVERIFY(shownTexts()[0].contains(QStringLiteral("another file name")));
        QVERIFY(!shownTexts().contains(QStringLiteral("Done.")));
        QVERIFY(reports.reports.empty());
    }

    void failingCopyIsReportedWithoutDone()
    {
        ReportCollector reports;
        Form2 form;
        form.setExcelFile(workbook);
        Dialogs::queueFileName(targetPath(QStringLiteral("missing-folder/results.xls")));
        save(form);
        QCOMPARE(reports.reports.size(), size_t(1));
        QCOMPARE(reports.reports[0].location, QStringLiteral("in Marrowfen2021/08/31.Form2.PushButton6_Click "));
        QCOMPARE(reports.reports[0].step, 130);
        QVERIFY(!reports.reports[0].description.isEmpty());
        QVERIFY(shownTexts().isEmpty());
        QCOMPARE(contents(workbook), kWorkbook);
    }

    void existingFileSurvivesAFailedCopy()
    {
        ReportCollector reports;
        Form2 form;
        form.setExcelFile(workbook);
        QVERIFY(QFile::remove(workbook));   // the scratch workbook has gone missing
        const QString out = targetPath(QStringLiteral("old.xls"));
        writeFile(out, "OLD");
        Dialogs::queueFileName(out);
        Dialogs::queueAnswer(Dialogs::Answer::Yes);
        save(form);
        QCOMPARE(reports.reports.size(), size_t(1));
        QCOMPARE(reports.reports[0].step, 130);
        QCOMPARE(contents(out), QByteArray("OLD"));
        QCOMPARE(targetFolder(), QStringList{QStringLiteral("old.xls")});
        QCOMPARE(shownTexts(), QStringList{overwriteQuestion(out)});
    }

    void backDeletesTheScratchWorkbookAndShowsTheMainWindow()
    {
        QWidget main;
        Form2 form;
        form.setMainWindow(&main);
        form.setExcelFile(workbook);
        form.setPicture(previewtest::snapshot(200, 100));
        form.show();
        QVERIFY(main.isHidden());
        QTest::mouseClick(form.PushButton8, Qt::LeftButton);
        QVERIFY(!QFile::exists(workbook));
        QVERIFY(main.isVisible());
        QVERIFY(form.isHidden());
        QCOMPARE(form.excelFile(), workbook);
        QVERIFY(Dialogs::shown().empty());
    }

    // Last: it runs the event loop to its end.
    void closingDeletesTheScratchWorkbookAndQuits()
    {
        QApplication::setQuitOnLastWindowClosed(false);   // the quit must come from the preview itself
        QWidget main;   // hidden, as after a generation
        Form2 form;
        form.setMainWindow(&main);
        form.setExcelFile(workbook);
        form.setPicture(previewtest::snapshot(200, 100));
        form.show();
        bool quitting = false;
        connect(qApp, &QCoreApplication::aboutToQuit, this, [&] { quitting = true; });
        QTimer::singleShot(0, &form, [&] { form.close(); });
        QTimer::singleShot(5000, qApp, [] { QCoreApplication::exit(7); });
        const int code = QCoreApplication::exec();
        QCOMPARE(code, 0);
        QVERIFY(quitting);
        QVERIFY(!QFile::exists(workbook));
        QVERIFY(Dialogs::shown().empty());
    }
};

QTEST_MAIN(TestSaving)
#include "test_saving.moc"
