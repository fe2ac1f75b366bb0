// Starting, probing and versioning the spreadsheet application.
#include "core/apptitle.h"
#include "core/dialogs.h"
#include "workbook/excellifecycle.h"

#include <QLocale>
#include <QTemporaryDir>
#include <QtTest>

using namespace corvantis;

namespace {
// Applications that report `version`; remembers the last one made.
struct VersionedFactory {
    QString version;
    std::shared_ptr<std::weak_ptr<Application>> last = std::make_shared<std::weak_ptr<Application>>();
    std::shared_ptr<int> made = std::make_shared<int>(0);
    std::shared_ptr<Application> operator()() const
    {
        auto app = std::make_shared<Application>(version);
        *last = app;
        ++*made;
        return app;
    }
};
} // namespace

class TestLifecycle : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        Dialogs::setScripted(true);
        Dialogs::reset();
    }
    void cleanup()
    {
        setApplicationFactory({});
        setProgramEndHook({});
        ReleaseExcel();
    }

    void fileFormatFollowsTheVersion_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("version");
        QTest::addColumn<int>("format");
        QTest::newRow("Excel 2003") << "en_US" << "11.0" << -4143;
        QTest::newRow("Excel 2007") << "en_US" << "12.0" << 56;
        QTest::newRow("comma mark") << "en_US" << "16,0" << 56;
        QTest::newRow("comma locale, dot") << "de_DE" << "16.0" << 56;
        QTest::newRow("comma locale, 11,0") << "de_DE" << "11,0" << -4143;
        QTest::newRow("11.4 rounds down") << "en_US" << "11.4" << -4143;
        QTest::newRow("11.5 rounds to even 12") << "en_US" << "11.5" << 56;
        QTest::newRow("10.5 rounds to even 10") << "en_US" << "10.5" << -4143;
        QTest::newRow("blanks around") << "en_US" << " 15.0 " << 56;
    }
    void fileFormatFollowsTheVersion()
    {
        QFETCH(QString, locale);
        QFETCH(QString, version);
        QFETCH(int, format);
        QLocale::setDefault(QLocale(locale));
        Application app(version);
        QCOMPARE(XlsFileFormat(std::shared_ptr<Application>(&app, [](Application*) {})), format);
    }

    void versionTextsThatAreNoSmallNumberFail()
    {
        QCOMPARE(versionNumber("12.5"), 12);
        QCOMPARE(versionNumber("13.5"), 14);
        QCOMPARE(versionNumber("-0.5"), 0);
        QVERIFY_THROWS_EXCEPTION(ExcelError, versionNumber(""));
        QVERIFY_THROWS_EXCEPTION(ExcelError, versionNumber("sixteen"));
        QVERIFY_THROWS_EXCEPTION(ExcelError, versionNumber("32767.5"));
        QVERIFY_THROWS_EXCEPTION(ExcelError, versionNumber("1e9"));
        QCOMPARE(versionNumber("32766.5"), 32766);
    }

    void withoutAnApplicationAShortLivedOneIsAsked()
    {
        VersionedFactory f{"11.0"};
        setApplicationFactory(f);
        QCOMPARE(XlsFileFormat(), -4143);
        QCOMPARE(*f.made, 1);
        QVERIFY(f.last->expired());
        // Given one, no other is started.
        Application app("12.0");
        QCOMPARE(XlsFileFormat(std::shared_ptr<Application>(&app, [](Application*) {})), 56);
        QCOMPARE(*f.made, 1);
    }

    void probeShowsTheMessageAndEndsWhenNothingCanBeCreated()
    {
        setApplicationFactory([]() -> std::shared_ptr<Application> { throw ExcelError("class not registered"); });
        int ended = 0;
        setProgramEndHook([&] { ++ended; });
        CheckExcelAvailable();
        QCOMPARE(ended, 1);
        QCOMPARE(Dialogs::shown().size(), size_t(1));
        const Dialogs::Shown& box = Dialogs::shown().front();
        QCOMPARE(box.text,
                 QStringLiteral(
                     "Error 842001. A normal instance of Excel could not be created.\r\n\r\n"
                     "1. Please make sure Excel is installed on this computer.\r\n\r\n"
                     "2. Please open Excel normally and make sure a blank spreadsheet opens immediately without any "
                     "interrupting window (such as an Excel file recovery window).\r\n\r\n"
                     "3. Please make sure that when you double-click on a XLS or XLSX file that Excel opens normally "
                     "without any interrupting messages.\r\n\r\n"
                     "4. All versions of Excel are supported by this software except for the rare Excel Starter and "
                     "Student editions."));
        QCOMPARE(box.caption, ApplicationTitle());
        QCOMPARE(box.icon, Dialogs::Icon::None);
        QCOMPARE(box.buttons, Dialogs::Buttons::Ok);

        // A factory that yields nothing counts the same.
        setApplicationFactory([] { return std::shared_ptr<Application>(); });
        CheckExcelAvailable();
        QCOMPARE(ended, 2);
        QCOMPARE(Dialogs::shown().size(), size_t(2));
    }

    void probeKeepsNothingWhenAnApplicationStarts()
    {
        VersionedFactory f{"16.0"};
        setApplicationFactory(f);
        int ended = 0;
        setProgramEndHook([&] { ++ended; });
        CheckExcelAvailable();
        QCOMPARE(ended, 0);
        QVERIFY(Dialogs::shown().empty());
        QCOMPARE(*f.made, 1);
        QVERIFY(f.last->expired());
        QVERIFY(!ExcelApp);
    }

    void startReleaseAndTheSecondApplication()
    {
        StartExcel();
        QVERIFY(ExcelApp);
        auto held = ExcelApp;
        ReleaseExcel();
        QVERIFY(!ExcelApp);
        QVERIFY(!held->hasQuit());

        setApplicationFactory([] { return std::shared_ptr<Application>(); });
        QVERIFY_THROWS_EXCEPTION(ExcelError, StartExcel());
        QVERIFY(!ExcelApp);
        setApplicationFactory({});

        QTemporaryDir dir;
        const QString path = dir.filePath("book.xls");
        held->Workbooks().Open(qEnvironmentVariable("CORVANTIS_TEMPLATE"), true).SaveAs(path, 56);
        auto second = OpenWorkbookInNewExcel(path);
        QVERIFY(second != held);
        QCOMPARE(second->Workbooks().count(), 1);
        QVERIFY(!second->Workbooks()(1).ReadOnly());
        QVERIFY(!second->Visible());
        QCOMPARE(held->Workbooks().count(), 1);
        QVERIFY_THROWS_EXCEPTION(ExcelError, OpenWorkbookInNewExcel(dir.filePath("missing.xls")));
    }
};

QTEST_MAIN(TestLifecycle)
#include "test_lifecycle.moc"
