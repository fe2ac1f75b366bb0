// The main window: its frame, its layout and its start-up from the settings store.
#include "core/apptitle.h"
#include "core/dialogs.h"
#include "core/errorreport.h"
#include "app/form1.h"
#include "ui/controlkind.h"
#include "core/settingsstore.h"
#include "core/projectioninputs.h"
#include "sheet/inputsheet.h"
#include "sheet/sheetediting.h"

#include <QApplication>
#include <QClipboard>
#include <QDateEdit>
#include <QFile>
#include <QProcess>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

using namespace corvantis;

namespace {
const QDate kToday(2026, 3, 15);
}

class TestForm1 : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<SettingsStore> store;
    std::vector<ErrorReport> reports;
    QString iniPath() const { return dir->filePath(QStringLiteral("Corvantis.ini")); }

    std::unique_ptr<Form1> makeForm(std::function<void()> probe = {})
    {
        Form1::Services s;
        s.store = store.get();
        s.today = [] { return kToday; };
        s.excelProbe = std::move(probe);
        return std::make_unique<Form1>(s);
    }
    QString stored(int line, int column) const
    {
        QSettings raw(iniPath(), QSettings::IniFormat);
        return raw.value(QStringLiteral("Corvantis/") + InputKey::cell(line, column).name()).toString();
    }
    std::unique_ptr<Form1> shownForm()
    {
        auto f = makeForm();
        f->Form_Load();
        f->show();
        f->activateWindow();
        if (!QTest::qWaitForWindowActive(f.get()))
            return nullptr;
        Dialogs::reset();
        return f;
    }
    static void key(Qt::Key k, Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        QTest::keyClick(QApplication::focusWidget(), k, mods);
    }
    QStringList storedKeys() const
    {
        QSettings raw(iniPath(), QSettings::IniFormat);
        raw.beginGroup(QStringLiteral("Corvantis"));
        return raw.childKeys();
    }

private slots:
    void initTestCase()
    {
        QLocale::setDefault(QLocale(QStringLiteral("en_US")));
        Dialogs::setScripted(true);
    }
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        store = std::make_unique<SettingsStore>(iniPath());
        reports.clear();
        Dialogs::reset();
        setErrorReportSink([this](const ErrorReport& r) { reports.push_back(r); });
    }
    void cleanup() { setErrorReportSink({}); }

    void windowFrameIsFixedAndCannotBeMaximised()
    {
        auto f = makeForm();
        f->Form_Load();
        QCOMPARE(f->size(), QSize(944, 574));
        QCOMPARE(f->minimumSize(), f->maximumSize());
        const Qt::WindowFlags flags = f->windowFlags();
        QVERIFY(flags & Qt::WindowMinimizeButtonHint);
        QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
        QVERIFY(flags & Qt::WindowCloseButtonHint);
        QCOMPARE(f->windowTitle(), QStringLiteral("Corvantis"));
        QVERIFY(!f->windowIcon().isNull());
        QCOMPARE(ApplicationTitle(), QStringLiteral("Corvantis"));   // one word: kept whole
        QCOMPARE(f->font().family(), QStringLiteral("Arial"));
        QVERIFY(f->font().bold());
        QCOMPARE(f->font().pointSize(), 9);
        QCOMPARE(f->txtYear(3, 4)->font().pointSize(), 9);   // inherited by the sheet
        for (QPushButton* b : {f->PushButton22(), f->PushButton6(), f->PushButton7()}) {
            QCOMPARE(b->font().pointSizeF(), 11.25);
            QVERIFY(b->font().bold());
            QCOMPARE(controlKind(b), ControlKind::PushButton);
        }
        QCOMPARE(f->PushButton22()->text(), QStringLiteral("Start Creating Template"));
        QCOMPARE(f->PushButton6()->text(), QStringLiteral("Help"));
        QCOMPARE(f->PushButton7()->text(), QStringLiteral("Load Sample/Example Data"));
    }

    void controlsSitAtTheirDesignPositions()
    {
        auto f = makeForm();
        QCOMPARE(f->PushButton22()->geometry(), QRect(8, 8, 928, 26));
        QCOMPARE(f->PushButton7()->geometry(), QRect(480, 42, 456, 27));
        QCOMPARE(f->Picture1()->geometry(), QRect(8, 78, 928, 489));
        QCOMPARE(f->VScroll1()->parentWidget(), f->Picture1());
        QCOMPARE(f->VScroll1()->geometry(), QRect(906, 0, 16, 485));
        QCOMPARE(f->Picture2()->parentWidget(), f->Picture1());
        QCOMPARE(f->Picture2()->geometry(), QRect(10, 0, 919, 845));
        auto* frame = f->findChild<QGroupBox*>(QStringLiteral("Frame1"));
        QVERIFY(frame);
        QCOMPARE(frame->title(), QStringLiteral("Your Company Data"));
        QCOMPARE(frame->geometry(), QRect(0, 7, 889, 836));
        QCOMPARE(f->txtRevenue(0)->geometry(), QRect(8, 87, 120, 22));
        QCOMPARE(f->txtInd(6)->geometry(), QRect(127, 87 + 21 * 6, 43, 22));
        QCOMPARE(f->txtRevenue(7)->geometry().top(), 257);   // sections start lower, under their bar
        QCOMPARE(f->txtYear(12, 32)->geometry(), QRect(818, 805, 60, 22));
        QCOMPARE(f->lblYear(11)->geometry(), QRect(818, 64, 60, 24));
        QCOMPARE(f->txtCompanyName()->geometry(), QRect(114, 27, 226, 22));
        QCOMPARE(f->DTPicker1()->geometry(), QRect(516, 26, 102, 24));
        // neighbouring cells share their border line
        QCOMPARE(f->txtYear(1, 0)->geometry().right(), f->txtYear(2, 0)->geometry().left());
        QCOMPARE(f->txtRevenue(0)->geometry().bottom(), f->txtRevenue(1)->geometry().top());
    }

    void controlsCarryTheirDesignNamesAndKinds()
    {
        auto f = makeForm();
        QCOMPARE(f->findChildren<QLineEdit*>(QString(), Qt::FindChildrenRecursively).size() >= 463, true);
        int textBoxes = 0;
        for (QWidget* w : f->findChildren<QWidget*>())
            textBoxes += controlKind(w) == ControlKind::TextBox;
        QCOMPARE(textBoxes, 463);
        QCOMPARE(f->findChild<QLineEdit*>(QStringLiteral("txtYear12(32)")), f->txtYear(12, 32));
        QCOMPARE(f->findChild<QLineEdit*>(QStringLiteral("txtRevenue(3)")), f->txtRevenue(3));
        QCOMPARE(f->findChild<QLabel*>(QStringLiteral("lblYear(0)")), f->lblYear(0));
        QCOMPARE(f->DTPicker1()->objectName(), QStringLiteral("DTPicker1"));
        QCOMPARE(f->DTPicker1()->displayFormat(), QStringLiteral("dd-MMM-yyyy"));
        QVERIFY(f->DTPicker1()->calendarPopup());
        QCOMPARE(f->DTPicker1()->maximumDate(), QDate(9999, 12, 31));
        const QColor grey(224, 224, 224);
        for (const char* heading : {"Label1", "Label2", "Label3", "Label4", "Label5", "Label6", "lblYear(4)"}) {
            auto* l = f->findChild<QLabel*>(QString::fromLatin1(heading));
            QVERIFY2(l, heading);
            QCOMPARE(l->palette().color(QPalette::Window), grey);
            QVERIFY(l->autoFillBackground());
            QCOMPARE(l->alignment(), Qt::AlignCenter);
        }
        QCOMPARE(f->findChild<QLabel*>(QStringLiteral("Label1"))->text(), QStringLiteral("Revenue (Sales)"));
        QCOMPARE(f->findChild<QLabel*>(QStringLiteral("Label2"))->text(), QStringLiteral("Cost of Sales"));
        QCOMPARE(f->findChild<QLabel*>(QStringLiteral("Label3"))->text(), QStringLiteral("Expenses"));
        QCOMPARE(f->findChild<QLabel*>(QStringLiteral("Label4"))->text(), QStringLiteral("IND. %"));
        QCOMPARE(f->findChild<QLabel*>(QStringLiteral("Label7"))->text(), QStringLiteral("Company Name"));
        QCOMPARE(f->findChild<QLabel*>(QStringLiteral("Label8"))->text(), QStringLiteral("Fiscal Year Begins"));
        QCOMPARE(f->Picture1()->palette().color(QPalette::Window), QColor(Qt::white));
    }

    void firstStartShowsTheDesignDefaults()
    {
        auto f = makeForm();
        f->Form_Load();
        QVERIFY(reports.empty());
        QCOMPARE(f->txtCompanyName()->text(), QString());
        QCOMPARE(f->DTPicker1()->date(), kToday);
        QCOMPARE(f->lblYear(0)->text(), QStringLiteral("Mar-26"));
        QCOMPARE(f->lblYear(11)->text(), QStringLiteral("Feb-27"));
        for (int line = 0; line < 7; ++line) {
            QCOMPARE(f->txtRevenue(line)->text(), QStringLiteral("Category %1").arg(line + 1));
            QCOMPARE(f->txtRevenue(line + 7)->text(), QStringLiteral("Category %1").arg(line + 1));
        }
        QCOMPARE(f->txtRevenue(14)->text(), QStringLiteral("Salary expenses "));
        QCOMPARE(f->txtRevenue(15)->text(), QStringLiteral("Payroll expenses "));
        QCOMPARE(f->txtRevenue(26)->text(), QStringLiteral("Taxes (real estate, etc.)"));
        QCOMPARE(f->txtRevenue(31)->text(), QStringLiteral("Other expenses (specify)"));
        QCOMPARE(f->txtRevenue(32)->text(), QStringLiteral("Misc. (unspecified)"));
        QCOMPARE(f->txtRevenue(32)->toolTip(), QStringLiteral("Misc. (unspecified)"));
        for (int line = 0; line < 33; ++line) {
            QCOMPARE(f->txtInd(line)->text(), QStringLiteral("0"));
            for (int m = 1; m <= 12; ++m)
                QCOMPARE(f->txtYear(m, line)->text(), QStringLiteral("$0.00"));
        }
        // every month cell went from its placeholder to its currency text, and that was stored;
        // names, percentages, the company name and the date keep their design values: not rewritten
        const QStringList keys = storedKeys();
        QCOMPARE(keys.size(), 397);   // and "Locale", the locale the texts were written in
        QCOMPARE(store->get(QStringLiteral("txtYear1_15"), QString()), QStringLiteral("$0.00"));
        QCOMPARE(store->get(QStringLiteral("txtYear1232"), QString()), QStringLiteral("$0.00"));
    }

    void scrollLimitsComeFromTheHeights()
    {
        auto f = makeForm();
        f->Form_Load();
        QCOMPARE(f->VScroll1()->minimum(), 0);
        QCOMPARE(f->VScroll1()->maximum(), 5340);
        QCOMPARE(f->VScroll1()->pageStep(), 5501);     // 5501.25
        QCOMPARE(f->VScroll1()->singleStep(), 1834);   // 1833.75
        QCOMPARE(f->VScroll1()->value(), 0);
        QCOMPARE(f->Picture2()->y(), 0);
    }

    void storedAmountsAreShownInTheCurrentCurrencyForm()
    {
        store->save(QStringLiteral("txtYear37"), QStringLiteral("1234.5"));
        store->save(QStringLiteral("txtYear1_12"), QStringLiteral("-5"));
        store->save(QStringLiteral("txtInd2"), QStringLiteral("n/a"));
        store->save(QStringLiteral("txtCompanyName"), QStringLiteral("Kestrel"));
        auto f = makeForm();
        f->Form_Load();
        QCOMPARE(f->txtYear(3, 7)->text(), QStringLiteral("$1,234.50"));
        QCOMPARE(store->get(QStringLiteral("txtYear37"), QString()), QStringLiteral("$1,234.50"));
        QCOMPARE(f->txtYear(1, 12)->text(), QStringLiteral("($5.00)"));
        QCOMPARE(f->txtInd(2)->text(), QStringLiteral("n/a"));   // not checked until it is edited
        QCOMPARE(f->txtCompanyName()->text(), QStringLiteral("Kestrel"));
    }

    void anAmountStoredUnderAnotherLocaleIsReread()
    {
        store->save(QStringLiteral("txtYear10"), QStringLiteral("$1,234.00"));
        QLocale::setDefault(QLocale(QStringLiteral("de_DE")));
        auto f = makeForm();
        f->Form_Load();
        QLocale::setDefault(QLocale(QStringLiteral("en_US")));
        QCOMPARE(f->txtYear(1, 0)->text(), QStringLiteral("1,23\u00a0€"));
        QCOMPARE(f->txtYear(2, 0)->text(), QStringLiteral("0,00\u00a0€"));
    }

    void theSpreadsheetProbeRunsLastAndIsGuarded()
    {
        bool repaintReleased = false;
        Form1* seen = nullptr;
        std::unique_ptr<Form1> f;
        f = makeForm([&] {
            seen = f.get();
            repaintReleased = f->updatesEnabled();
            throw std::runtime_error("no spreadsheet");
        });
        f->Form_Load();
        QCOMPARE(seen, f.get());
        QVERIFY(repaintReleased);
        QCOMPARE(reports.size(), size_t(1));
        QCOMPARE(reports[0].step, 236);
        QCOMPARE(reports[0].description, QStringLiteral("no spreadsheet"));
    }

    void tabWalksTheSheetLineByLineThenTheTopControls()
    {
        auto f = makeForm();
        f->Form_Load();
        f->show();
        QVERIFY(QTest::qWaitForWindowActive(f.get()));
        QCOMPARE(QApplication::focusWidget(), f->txtRevenue(0));   // first in the tab order
        QList<QWidget*> expected;
        for (int line = 0; line < 33; ++line) {
            expected << f->txtRevenue(line) << f->txtInd(line);
            for (int m = 1; m <= 12; ++m)
                expected << f->txtYear(m, line);
        }
        expected << f->DTPicker1() << f->txtCompanyName() << f->PushButton22() << f->PushButton6()
                 << f->PushButton7() << f->txtRevenue(0);
        for (int i = 1; i < expected.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QWidget* now = QApplication::focusWidget();
            while (now && now->focusProxy())
                now = now->focusProxy();
            QWidget* want = expected[i];
            while (want->focusProxy())
                want = want->focusProxy();
            QVERIFY2(now == want, qPrintable(QStringLiteral("step %1: %2").arg(i).arg(now ? now->objectName() : "none")));
        }
        QVERIFY(Dialogs::shown().empty());
        QVERIFY(reports.empty());
    }

    void theGenerateButtonIsHandedOn()
    {
        auto f = makeForm();
        f->Form_Load();
        QSignalSpy spy(f.get(), &Form1::generateRequested);
        f->PushButton22()->click();
        QCOMPARE(spy.count(), 1);
    }

    void theProgramStartsWithoutAnyReportAndFillsTheStore()
    {
        // The built program itself, with its own store under a private configuration folder:
        // any report during start-up would hold it in a modal box before the store is written.
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir->path());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        program.setProcessEnvironment(env);
        program.start(qEnvironmentVariable("CORVANTIS_BIN_DIR") + QStringLiteral("/corvantis"), {});
        QVERIFY(program.waitForStarted());
        const QString ini = dir->filePath(QStringLiteral("Kestrelon/Corvantis.ini"));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(ini), 20000);
        QTest::qWait(100);
        QCOMPARE(program.state(), QProcess::Running);   // still up: shown and waiting for input
        program.kill();
        program.waitForFinished();
        QSettings raw(ini, QSettings::IniFormat);
        raw.beginGroup(QStringLiteral("Corvantis"));
        QCOMPARE(raw.childKeys().size(), 397);   // with "Locale"
    }

    void aRefusedAmountComesBackWithOneUndo()
    {
        auto f = shownForm();
        QVERIFY(f);
        key(Qt::Key_Tab);
        key(Qt::Key_Tab);   // month 1 of line 0
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("500"));
        key(Qt::Key_Tab);
        key(Qt::Key_Tab, Qt::ShiftModifier);
        QLineEdit* cell = f->txtYear(1, 0);
        QCOMPARE(QApplication::focusWidget(), cell);
        QCOMPARE(cell->text(), QStringLiteral("$500.00"));
        QTest::keyClicks(cell, QStringLiteral("5OO"));
        key(Qt::Key_Tab);
        QCOMPARE(Dialogs::shown().size(), size_t(1));   // the leave check as it always was
        QCOMPARE(cell->text(), QStringLiteral("$0.00"));
        QCOMPARE(QApplication::focusWidget(), cell);
        key(Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(cell->text(), QStringLiteral("$500.00"));
        QCOMPARE(stored(0, 2), QStringLiteral("$500.00"));
        key(Qt::Key_Y, Qt::ControlModifier);
        QCOMPARE(stored(0, 2), QStringLiteral("$0.00"));
        key(Qt::Key_Z, Qt::ControlModifier);
        key(Qt::Key_Z, Qt::ControlModifier);   // and the typed 500 before it
        QCOMPARE(cell->text(), QStringLiteral("$0.00"));
        QCOMPARE(stored(0, 2), QStringLiteral("$0.00"));
        key(Qt::Key_Z, Qt::ShiftModifier | Qt::ControlModifier);
        QCOMPARE(stored(0, 2), QStringLiteral("$500.00"));
        QVERIFY(reports.empty());
    }

    void aPastedBlockFillsLinesAndIsUndoneAsOneStep()
    {
        auto f = shownForm();
        QVERIFY(f);
        key(Qt::Key_Down);
        key(Qt::Key_Down);
        key(Qt::Key_Down);
        QCOMPARE(QApplication::focusWidget(), f->txtRevenue(3));
        QApplication::clipboard()->setText(QStringLiteral("Rent\t5\t100\t200\t300\t400\t500\t600\t700\t800\t900\t1000\t"
                                                          "1100\t1200\nBad\tx\t1\t\t5OO\t4\n"));
        key(Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(f->txtRevenue(3)->text(), QStringLiteral("Rent"));
        QCOMPARE(f->txtInd(3)->text(), QStringLiteral("5"));
        QCOMPARE(f->txtYear(12, 3)->text(), QStringLiteral("$1,200.00"));
        QCOMPARE(stored(3, monthColumn(12)), QStringLiteral("$1,200.00"));
        // Refused values leave their cells; an empty one is no value; one message counts them.
        QCOMPARE(f->txtInd(4)->text(), QStringLiteral("0"));
        QCOMPARE(f->txtYear(1, 4)->text(), QStringLiteral("$1.00"));
        QCOMPARE(f->txtYear(3, 4)->text(), QStringLiteral("$0.00"));
        QCOMPARE(f->txtYear(4, 4)->text(), QStringLiteral("$4.00"));
        QCOMPARE(Dialogs::shown().size(), size_t(1));
        QVERIFY(Dialogs::shown().front().text.contains(QStringLiteral("2 values were not valid")));
        key(Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(f->txtRevenue(3)->text(), designName(3));
        QCOMPARE(stored(3, monthColumn(12)), QStringLiteral("$0.00"));
        QCOMPARE(f->txtYear(1, 4)->text(), QStringLiteral("$0.00"));
        key(Qt::Key_Y, Qt::ControlModifier);
        QCOMPARE(stored(3, monthColumn(1)), QStringLiteral("$100.00"));

        // Copy of a line without a selection, pasted into another line's name: the same line.
        key(Qt::Key_C, Qt::ControlModifier);
        QVERIFY(QApplication::clipboard()->text().startsWith(QStringLiteral("Rent\t5\t100.00\t200.00\t")));
        key(Qt::Key_Down);
        key(Qt::Key_Down);
        key(Qt::Key_Insert, Qt::ShiftModifier);
        for (int column = 0; column < 14; ++column)
            QCOMPARE(stored(5, column), stored(3, column));
        QVERIFY(reports.empty());
    }

    void keysMoveLikeAGridAndTheFillsAreSteps()
    {
        auto f = shownForm();
        QVERIFY(f);
        key(Qt::Key_Tab);
        key(Qt::Key_Tab);   // month 1 of line 0
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("1000"));
        key(Qt::Key_Return);
        QCOMPARE(QApplication::focusWidget(), f->txtYear(1, 1));
        QCOMPARE(f->txtYear(1, 0)->text(), QStringLiteral("$1,000.00"));
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("77"));
        key(Qt::Key_Escape);
        QCOMPARE(f->txtYear(1, 1)->text(), QStringLiteral("$0.00"));
        key(Qt::Key_Return, Qt::ShiftModifier);
        QCOMPARE(QApplication::focusWidget(), f->txtYear(1, 0));
        key(Qt::Key_R, Qt::ControlModifier);   // same amount every month
        QCOMPARE(f->txtYear(12, 0)->text(), QStringLiteral("$1,000.00"));
        f->sheet().editing().setAsk([](const QString&, const QString&, const QString&) { return QStringLiteral("1000.01"); });
        key(Qt::Key_Y, Qt::ControlModifier | Qt::ShiftModifier);   // spread a yearly total
        QCOMPARE(f->txtYear(1, 0)->text(), QStringLiteral("$83.33"));
        QCOMPARE(stored(0, monthColumn(12)), QStringLiteral("$83.38"));
        key(Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(f->txtYear(12, 0)->text(), QStringLiteral("$1,000.00"));
        key(Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(f->txtYear(12, 0)->text(), QStringLiteral("$0.00"));
        QVERIFY(Dialogs::shown().empty());

        // The date picker: Alt+Down and F4 open the calendar and leave the date; Space keeps it.
        QDateEdit* picker = f->DTPicker1();
        picker->setFocus(Qt::TabFocusReason);
        const QDate date = picker->date();
        const QString shown = picker->text();
        key(Qt::Key_Space);
        QCOMPARE(picker->text(), shown);
        key(Qt::Key_Down, Qt::AltModifier);
        QCOMPARE(picker->date(), date);
        QTRY_VERIFY(QApplication::activePopupWidget() != nullptr);
        QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_Escape);
        QTRY_VERIFY(QApplication::activePopupWidget() == nullptr);
        QCOMPARE(picker->date(), date);

        // Enter presses a focused button.
        f->PushButton6()->setFocus(Qt::TabFocusReason);
        key(Qt::Key_Return);
        QTRY_COMPARE(Dialogs::shown().size(), size_t(1));
        QVERIFY(reports.empty());
    }

    void theExampleDataIsOneStepWithTheDate()
    {
        auto f = shownForm();
        QVERIFY(f);
        const QDate before = f->DTPicker1()->date();
        f->PushButton7()->setFocus(Qt::TabFocusReason);
        key(Qt::Key_Space);
        QCOMPARE(f->txtCompanyName()->text(), QStringLiteral("ACME Inc"));
        QVERIFY(f->DTPicker1()->date() != before);
        key(Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(f->txtCompanyName()->text(), QString());
        QCOMPARE(f->DTPicker1()->date(), before);
        QCOMPARE(f->txtRevenue(0)->text(), designName(0));
        QCOMPARE(stored(0, monthColumn(1)), QStringLiteral("$0.00"));
        QCOMPARE(f->lblYear(0)->text(), before.toString(QStringLiteral("MMM-yy")));
        QVERIFY(reports.empty());
    }

    void closingTheMainWindowEndsTheProgram()
    {
        auto f = makeForm();
        f->Form_Load();
        f->show();
        QWidget other;   // another window still open does not keep the program running
        other.show();
        QTimer::singleShot(0, f.get(), [&] { f->close(); });
        QTimer watchdog;
        watchdog.setSingleShot(true);
        bool timedOut = false;
        connect(&watchdog, &QTimer::timeout, [&] {
            timedOut = true;
            QCoreApplication::exit(1);
        });
        watchdog.start(5000);
        QCOMPARE(QCoreApplication::exec(), 0);
        QVERIFY(!timedOut);
        QVERIFY(other.isVisible());   // no close events sent around: the program simply ends
    }
};

QTEST_MAIN(TestForm1)
#include "test_form1.moc"
