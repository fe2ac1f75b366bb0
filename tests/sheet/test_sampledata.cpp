// The example data and help buttons of the main window.
#define QTEST_QPA_MOUSE_HANDLING
#include "core/apptitle.h"
#include "core/dialogs.h"
#include "core/errorreport.h"
#include "app/form1.h"
#include "core/settingsstore.h"
#include "sheet/form1_fixture.h"

#include <QDateEdit>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace corvantis;

class TestSampleData : public QObject {
    Q_OBJECT

    Form1Fixture fx;
    std::unique_ptr<Form1>& f = fx.f;
    QDate today = QDate(2027, 1, 20);

private slots:
    void initTestCase() { Form1Fixture::initTestCase(); }
    void init() { QVERIFY(fx.start([this] { return today; })); }
    void cleanup() { QVERIFY(fx.stop()); }

    void theSampleFillsItsCellsAndStoresThem()
    {
        f->txtYear(4, 0)->setText(QStringLiteral("$9.00"));   // outside the table: kept
        f->txtRevenue(1)->setText(QStringLiteral("Mine"));
        QTest::mouseClick(f->PushButton7(), Qt::LeftButton);
        QCOMPARE(f->txtCompanyName()->text(), QStringLiteral("ACME Inc"));
        QCOMPARE(f->DTPicker1()->date(), QDate(2026, 10, 1));   // January goes back into last year
        QCOMPARE(f->lblYear(0)->text(), QStringLiteral("Oct-26"));
        QCOMPARE(f->lblYear(11)->text(), QStringLiteral("Sep-27"));
        struct Expect {
            int line;
            const char* name;
            const char* pct;
            const char* m1;
            const char* m2;
            const char* m3;
        };
        const Expect table[] = {
            {0, "Parts", "5", "$1,250.00", "$1,300.00", "$1,116.00"},
            {7, "Parts", "5", "$450.00", "$320.00", "$128.00"},
            {14, "Salary expenses ", "0", "$50.00", "$70.00", "$38.00"},
            {15, "Payroll expenses ", "0", "$250.00", "$170.00", "$280.00"},
            {18, "Repairs and maintenance", "0", "$10.00", "$0.00", "$22.00"},
        };
        for (const Expect& e : table) {
            QCOMPARE(f->txtRevenue(e.line)->text(), QString::fromLatin1(e.name));
            QCOMPARE(f->txtInd(e.line)->text(), QString::fromLatin1(e.pct));
            QCOMPARE(f->txtYear(1, e.line)->text(), QString::fromLatin1(e.m1));
            QCOMPARE(f->txtYear(2, e.line)->text(), QString::fromLatin1(e.m2));
            QCOMPARE(f->txtYear(3, e.line)->text(), QString::fromLatin1(e.m3));
        }
        QCOMPARE(f->txtRevenue(0)->toolTip(), QStringLiteral("Parts"));
        QCOMPARE(f->txtYear(4, 0)->text(), QStringLiteral("$9.00"));
        QCOMPARE(f->txtRevenue(1)->text(), QStringLiteral("Mine"));

        // on disk as soon as the click is handled
        SettingsStore reader(fx.iniPath());
        QCOMPARE(reader.get(QStringLiteral("txtCompanyName"), QString()), QStringLiteral("ACME Inc"));
        QCOMPARE(reader.get(QStringLiteral("txtRevenue0"), QString()), QStringLiteral("Parts"));
        QCOMPARE(reader.get(QStringLiteral("txtRevenue7"), QString()), QStringLiteral("Parts"));
        QCOMPARE(reader.get(QStringLiteral("txtInd7"), QString()), QStringLiteral("5"));
        QCOMPARE(reader.get(QStringLiteral("txtYear10"), QString()), QStringLiteral("$1,250.00"));
        QCOMPARE(reader.get(QStringLiteral("txtYear318"), QString()), QStringLiteral("$22.00"));
        QCOMPARE(reader.get(QStringLiteral("txtYear1_15"), QString()), QStringLiteral("$250.00"));
        QCOMPARE(reader.get(QStringLiteral("txtYear218"), QString()), QStringLiteral("$0.00"));
        QCOMPARE(reader.get(QStringLiteral("DTPicker1"), QString()), QStringLiteral("10/1/2026"));
    }

    void pressingTwiceEqualsPressingOnce()
    {
        f->PushButton7()->click();
        const QByteArray once = fx.iniBytes();
        QStringList texts;
        for (int line = 0; line < 33; ++line) {
            for (QLineEdit* c : {f->txtRevenue(line), f->txtInd(line), f->txtYear(1, line), f->txtYear(3, line)})
                texts << c->text();
        }
        f->PushButton7()->click();
        QCOMPARE(fx.iniBytes(), once);
        QStringList again;
        for (int line = 0; line < 33; ++line) {
            for (QLineEdit* c : {f->txtRevenue(line), f->txtInd(line), f->txtYear(1, line), f->txtYear(3, line)})
                again << c->text();
        }
        QCOMPARE(again, texts);
    }

    void sampleTextsPassTheLeaveChecksUnchanged()
    {
        f->PushButton7()->click();
        f->txtRevenue(0)->setFocus(Qt::TabFocusReason);
        const QString before = QString::fromLatin1(fx.iniBytes());
        for (int i = 0; i < 14 + 5; ++i)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QVERIFY(Dialogs::shown().empty());
        QCOMPARE(QString::fromLatin1(fx.iniBytes()), before);
    }

    void helpNamesTheContactAddress()
    {
        QTest::mouseClick(f->PushButton6(), Qt::LeftButton);
        QCOMPARE(Dialogs::shown().size(), size_t(1));
        QCOMPARE(Dialogs::shown()[0].text,
                 QStringLiteral("Questions? Please contact Team Kestrelon at https://kestrelon.example/contact"));
        QCOMPARE(Dialogs::shown()[0].caption, ApplicationTitle());
        QCOMPARE(Dialogs::shown()[0].icon, Dialogs::Icon::None);
        QCOMPARE(Dialogs::shown()[0].buttons, Dialogs::Buttons::Ok);
    }
};

QTEST_MAIN(TestSampleData)
#include "test_sampledata.moc"
