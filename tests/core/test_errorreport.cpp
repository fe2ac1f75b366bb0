// The common error report, guarded procedures and the application title.
#include "core/apptitle.h"
#include "core/dialogs.h"
#include "core/errorreport.h"
#include "core/guard.h"

#include <QTest>

#include <vector>

using namespace corvantis;

class ErrorReportTest : public QObject {
    Q_OBJECT

    std::vector<ErrorReport> reports;
    ErrorReportSink previous;

private slots:
    void init()
    {
        reports.clear();
        previous = setErrorReportSink([this](const ErrorReport& r) { reports.push_back(r); });
    }
    void cleanup() { setErrorReportSink(previous); }

    void textHasOneLineFeedAndThreeCarriageReturns()
    {
        const QString text = errorReportText(locationText("Form1", "Form_Load"), 146, "Type mismatch");
        QCOMPARE(text, QString("Type mismatch\r\nin Marrowfen2021/08/31.Form1.Form_Load at line 146\r\r"
                               "Please email screenshot of this message to ")
                           + QString::fromLatin1(kSupportAddress));
        QCOMPARE(text.count('\n'), 1);
        QCOMPARE(text.count('\r'), 3);
    }

    void reportBoxIsWarningWithOk()
    {
        setErrorReportSink({});
        Dialogs::setScripted(true);
        Dialogs::reset();
        ShowErrorReport(locationText("Form2", "picture1_MouseDown"), 100, "Object required");
        QCOMPARE(Dialogs::shown().size(), size_t(1));
        const auto& box = Dialogs::shown().front();
        QCOMPARE(box.caption, QString("Application Error"));
        QCOMPARE(box.icon, Dialogs::Icon::Warning);
        QCOMPARE(box.buttons, Dialogs::Buttons::Ok);
        QVERIFY(box.text.contains("in Marrowfen2021/08/31.Form2.picture1_MouseDown at line 100"));
        Dialogs::setScripted(false);
    }

    void failedStepIsReportedAndTheProcedureGoesOn()
    {
        Guard g("Form1", "Form_Load");
        std::vector<int> ran;
        g.step(144, [&] { ran.push_back(144); });
        for (int line = 0; line < 3; ++line)
            g.step(146, [&] {
                if (line != 1)
                    throw StepError("Invalid use of Null");
                ran.push_back(146);
            });
        g.step(148, [&] { ran.push_back(148); });
        QCOMPARE(ran, (std::vector<int>{144, 146, 148}));
        QCOMPARE(reports.size(), size_t(2));   // one box per failing pass
        QCOMPARE(reports[0].step, 146);
        QCOMPARE(reports[0].location, QString("in Marrowfen2021/08/31.Form1.Form_Load "));
        QCOMPARE(reports[0].description, QString("Invalid use of Null"));
        QCOMPARE(g.failures(), 2);
    }

    void anyExceptionGetsADescription()
    {
        Guard g("Excel1", "saveCellsActivesheet");
        QVERIFY(!g.step(112, [] { throw 42; }));
        QVERIFY(!g.step(110, [] { throw std::bad_alloc(); }));
        QCOMPARE(reports.size(), size_t(2));
        QVERIFY(!reports[0].description.isEmpty());
        QCOMPARE(reports[1].description, QString("Out of memory"));
    }

    void applicationTitleDropsAtLeastTheLastWord_data()
    {
        QTest::addColumn<QString>("product");
        QTest::addColumn<QString>("expected");
        QTest::newRow("single word kept") << "Corvantis" << "Corvantis";
        QTest::newRow("two words") << "Corvantis Projection" << "Corvantis";
        const QString forty = "Kestrelon Corvantis Projection Workbook"; // 39 characters
        QTest::newRow("short title still cut") << forty << "Kestrelon Corvantis Projection";
        const QString exactly40 = "Kestrelon Corvantis Projection Workbooks";
        QCOMPARE(exactly40.size(), 40);
        QTest::newRow("exactly 40 loses its last word") << exactly40 << "Kestrelon Corvantis Projection";
        QTest::newRow("long title cut until short")
            << "Kestrelon Corvantis Twelve Month Profit And Loss Projection Builder"
            << "Kestrelon Corvantis Twelve Month Profit";
    }
    void applicationTitleDropsAtLeastTheLastWord()
    {
        QFETCH(QString, product);
        QFETCH(QString, expected);
        QCOMPARE(applicationTitleFrom(product), expected);
        QVERIFY(applicationTitleFrom(product).size() <= 40);
    }
};

QTEST_MAIN(ErrorReportTest)
#include "test_errorreport.moc"
