// The fiscal start's date picker at a real desk: whole dates typed in the forms people write
// them, every key kept in the picker, Tab and Shift+Tab in the window's order, the wheel left to
// the sheet unless the picker has the focus.
#define QTEST_QPA_MOUSE_HANDLING
#include "app/form1.h"
#include "core/dialogs.h"
#include "core/settingsstore.h"
#include "sheet/datepicker.h"
#include "sheet/datetyping.h"
#include "sheet/form1_fixture.h"
#include "sheet/inputsheet.h"
#include "sheet/monthheaders.h"

#include <QApplication>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QSettings>
#include <QTest>
#include <QWheelEvent>

#include <optional>

using namespace corvantis;
using corvantis::sheet::DateSection;

Q_DECLARE_METATYPE(DateSection)

class TestDatePicker : public QObject {
    Q_OBJECT

    Form1Fixture fx;
    std::unique_ptr<Form1>& f = fx.f;

    QString stored(const QString& key) const
    {
        QSettings raw(fx.iniPath(), QSettings::IniFormat);
        return raw.value(QStringLiteral("Corvantis/") + key).toString();
    }
    void tabTo(QWidget* target)
    {
        for (int i = 0; i < 500 && QApplication::focusWidget() != target; ++i)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), target);
    }
    QDateEdit* picker() const { return f->DTPicker1(); }

private slots:
    void initTestCase() { Form1Fixture::initTestCase(); }
    void init()
    {
        // The tests of the reading alone, and those that start the window themselves, need no window.
        static const QStringList windowless{QStringLiteral("typedTexts"),
                                            QStringLiteral("aMonthWithoutTheDayKeepsTheDayOrTakesTheMonthsLast"),
                                            QStringLiteral("wholeDatesTypedKeepEveryKey"),
                                            QStringLiteral("theDateShowsWholeInEveryLocale")};
        if (!windowless.contains(QString::fromLatin1(QTest::currentTestFunction())))
            QVERIFY(fx.start([] { return QDate(2026, 3, 15); }));
    }
    void cleanup()
    {
        QVERIFY(fx.stop());
        QLocale::setDefault(QLocale(QStringLiteral("en_US")));
    }

    // ------------------------------------------------------------------ what a typed text means

    void typedTexts_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<DateSection>("start");
        QTest::addColumn<QDate>("expected");   // invalid: no date
        QTest::addColumn<bool>("complete");
        const QDate none;
        const QDate jan31(2025, 1, 31);
        const auto day = DateSection::Day, month = DateSection::Month, year = DateSection::Year;
        QTest::newRow("picker's own form") << "en_US" << "31-Jan-2025" << day << jan31 << true;
        QTest::newRow("dots") << "en_US" << "31.01.2025" << day << jan31 << true;
        QTest::newRow("slashes, day first") << "en_US" << "31/01/2025" << day << jan31 << true;
        QTest::newRow("us order") << "en_US" << "1/31/2025" << day << jan31 << true;
        QTest::newRow("us order wins when both could be") << "en_US" << "01/02/2025" << day << QDate(2025, 1, 2) << true;
        QTest::newRow("british order") << "en_GB" << "01/02/2025" << day << QDate(2025, 2, 1) << true;
        QTest::newRow("german order") << "de_DE" << "01.02.2025" << day << QDate(2025, 2, 1) << true;
        QTest::newRow("german picker form") << "de_DE" << "30-Sept.-2025" << day << QDate(2025, 9, 30) << true;
        QTest::newRow("german month word") << "de_DE" << "31. Januar 2025" << day << jan31 << true;
        QTest::newRow("english word under german") << "de_DE" << "31-Jan-2025" << day << jan31 << true;
        QTest::newRow("french") << "fr_FR" << "31-janv.-2025" << day << jan31 << true;
        QTest::newRow("spanish long") << "es_ES" << "31 de enero de 2025" << day << jan31 << true;
        QTest::newRow("russian") << "ru_RU" << "31-янв.-2025" << day << jan31 << true;
        QTest::newRow("iso") << "en_US" << "2025-01-31" << day << jan31 << true;
        QTest::newRow("japanese order") << "ja_JP" << "2025/01/31" << day << jan31 << true;
        QTest::newRow("japanese, day first") << "ja_JP" << "31.01.2025" << day << jan31 << true;
        QTest::newRow("month first in words") << "en_US" << "Jan 31, 2025" << day << jan31 << true;
        QTest::newRow("arabic digits") << "ar_EG" << "\u0663\u0661/\u0661/\u0662\u0660\u0662\u0665" << day << jan31 << true;
        QTest::newRow("digits only") << "de_DE" << "31012025" << day << jan31 << true;
        QTest::newRow("two-digit year") << "de_DE" << "31.01.25" << day << jan31 << false;
        QTest::newRow("two-digit year, last century") << "de_DE" << "31.01.45" << day << QDate(1945, 1, 31) << false;
        QTest::newRow("the day alone") << "en_US" << "15" << day << QDate(2026, 3, 15) << false;
        QTest::newRow("day and month") << "de_DE" << "20.4" << day << QDate(2026, 4, 20) << false;
        QTest::newRow("a month word") << "en_US" << "Feb" << month << QDate(2026, 2, 15) << false;
        QTest::newRow("a month number") << "en_US" << "11" << month << QDate(2026, 11, 15) << false;
        QTest::newRow("a year") << "en_US" << "2027" << year << QDate(2027, 3, 15) << false;
        QTest::newRow("a year over the day") << "en_US" << "2027" << day << QDate(2027, 3, 15) << false;
        QTest::newRow("no 31st of February") << "en_US" << "31-Feb-2025" << day << none << false;
        QTest::newRow("no thirteenth month") << "de_DE" << "32.13.2025" << day << none << false;
        QTest::newRow("only one order gives a date") << "de_DE" << "01.13.2025" << day << QDate(2025, 1, 13) << true;
        QTest::newRow("letters") << "en_US" << "soon" << day << none << false;
        QTest::newRow("nothing") << "en_US" << "" << day << none << false;
        QTest::newRow("too many parts") << "en_US" << "1/2/3/4" << day << none << false;
        QTest::newRow("three-digit year") << "en_US" << "31-Jan-202" << day << none << false;
    }
    void typedTexts()
    {
        QFETCH(QString, locale);
        QFETCH(QString, typed);
        QFETCH(DateSection, start);
        QFETCH(QDate, expected);
        QFETCH(bool, complete);
        const std::optional<sheet::TypedDate> t = sheet::typedDate(typed, QLocale(locale), QDate(2026, 3, 15), start);
        if (!expected.isValid()) {
            QVERIFY2(!t, qPrintable(t ? t->date.toString(Qt::ISODate) : QString()));
            return;
        }
        QVERIFY(t);
        QCOMPARE(t->date, expected);
        QCOMPARE(t->complete, complete);
    }

    void aMonthWithoutTheDayKeepsTheDayOrTakesTheMonthsLast()
    {
        const QLocale us(QStringLiteral("en_US"));
        QCOMPARE(sheet::typedDate(QStringLiteral("Feb"), us, QDate(2025, 1, 31), DateSection::Month)->date, QDate(2025, 2, 28));
        QCOMPARE(sheet::typedDate(QStringLiteral("2024"), us, QDate(2025, 2, 28), DateSection::Year)->date, QDate(2024, 2, 28));
        QCOMPARE(sheet::typedDate(QStringLiteral("Mar"), us, QDate(2025, 1, 31), DateSection::Month)->date, QDate(2025, 3, 31));
    }

    // ------------------------------------------------------------------ typed into the window

    void wholeDatesTypedKeepEveryKey_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("typed");
        for (const char* locale : {"en_US", "de_DE", "en_GB", "fr_FR", "ja_JP", "pl_PL", "en_IN"}) {
            for (const char* typed : {"31-Jan-2025", "31.01.2025", "31/01/2025"})
                QTest::newRow(qPrintable(QStringLiteral("%1 %2").arg(QLatin1String(locale), QLatin1String(typed))))
                    << QString::fromLatin1(locale) << QString::fromLatin1(typed);
        }
    }
    void wholeDatesTypedKeepEveryKey()
    {
        QFETCH(QString, locale);
        QFETCH(QString, typed);
        QLocale::setDefault(QLocale(locale));
        QVERIFY(fx.start([] { return QDate(2026, 3, 15); }));
        f->txtCompanyName()->setText(QStringLiteral("Harbour Lights"));
        f->txtYear(12, 32)->setFocus(Qt::TabFocusReason);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), picker());
        QTest::keyClicks(picker(), typed);
        // every key stayed in the picker, and the whole date is taken at once
        QCOMPARE(QApplication::focusWidget(), picker());
        QCOMPARE(f->txtCompanyName()->text(), QStringLiteral("Harbour Lights"));
        QCOMPARE(stored(QStringLiteral("txtCompanyName")), QStringLiteral("Harbour Lights"));
        QCOMPARE(picker()->date(), QDate(2025, 1, 31));
        QCOMPARE(stored(QStringLiteral("DTPicker1")), sheet::dateSettingText(QDate(2025, 1, 31)));
        QCOMPARE(f->lblYear(0)->text(), sheet::monthCaption(QDate(2025, 1, 31), 0));
        QCOMPARE(f->lblYear(11)->text(), sheet::monthCaption(QDate(2025, 1, 31), 11));
        // leaving shows it in the picker's own form
        QTest::keyClick(picker(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), f->txtCompanyName());
        QCOMPARE(picker()->date(), QDate(2025, 1, 31));
        QCOMPARE(picker()->text(), QLocale().toString(QDate(2025, 1, 31), QStringLiteral("dd-MMM-yyyy")));
        QCOMPARE(f->txtCompanyName()->text(), QStringLiteral("Harbour Lights"));
        QVERIFY(Dialogs::shown().empty());
    }

    void separatorsStayInThePickerEvenAtItsEnd()
    {
        picker()->setFocus(Qt::TabFocusReason);
        QTest::keyClicks(picker(), QStringLiteral("-./ ,-"));
        QCOMPARE(QApplication::focusWidget(), picker());
        QTest::keyClick(picker(), Qt::Key_Return);
        QCOMPARE(QApplication::focusWidget(), picker());
        QCOMPARE(picker()->date(), QDate(2026, 3, 15));   // no date typed: the old one stays
        QTest::keyClicks(picker(), QStringLiteral("31-12-2026-"));
        QCOMPARE(QApplication::focusWidget(), picker());   // a separator after the year goes nowhere
        QCOMPARE(picker()->date(), QDate(2026, 12, 31));
        QCOMPARE(f->txtCompanyName()->text(), QString());
    }

    void tabAndShiftTabKeepTheirOrder()
    {
        tabTo(f->txtYear(12, 32));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), picker());
        QTest::keyClick(picker(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), f->txtCompanyName());
        QTest::keyClick(f->txtCompanyName(), Qt::Key_Backtab);
        QCOMPARE(QApplication::focusWidget(), picker());
        QTest::keyClick(picker(), Qt::Key_Backtab);
        QCOMPARE(QApplication::focusWidget(), f->txtYear(12, 32));
        // typing, then Tab: the date is taken, then the focus moves on
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QTest::keyClicks(picker(), QStringLiteral("4.7.2025"));
        QTest::keyClick(picker(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), f->txtCompanyName());
        QCOMPARE(picker()->date(), QDate(2025, 4, 7));   // read in the locale's order: M/d/y
    }

    void typingOverOnePartChangesThatPart()
    {
        picker()->setFocus(Qt::TabFocusReason);
        picker()->setCurrentSection(QDateTimeEdit::YearSection);
        QTest::keyClicks(picker(), QStringLiteral("2027"));
        QTest::keyClick(picker(), Qt::Key_Return);
        QCOMPARE(picker()->date(), QDate(2027, 3, 15));
        picker()->setCurrentSection(QDateTimeEdit::MonthSection);
        QTest::keyClicks(picker(), QStringLiteral("Nov"));
        QTest::keyClick(picker(), Qt::Key_Tab);
        QCOMPARE(picker()->date(), QDate(2027, 11, 15));
        QCOMPARE(stored(QStringLiteral("DTPicker1")), QStringLiteral("11/15/2027"));
        QCOMPARE(f->lblYear(0)->text(), QStringLiteral("Nov-27"));
    }

    void backspaceEscapeAndNonsense()
    {
        picker()->setFocus(Qt::TabFocusReason);
        QTest::keyClicks(picker(), QStringLiteral("12/25/203"));
        QCOMPARE(picker()->date(), QDate(2026, 3, 15));   // a three-digit year: no date
        QTest::keyClick(picker(), Qt::Key_Backspace);
        QTest::keyClicks(picker(), QStringLiteral("25"));
        QCOMPARE(picker()->date(), QDate(2025, 12, 25));   // "12/25/2025"
        QTest::keyClicks(picker(), QStringLiteral("zz"));
        QTest::keyClick(picker(), Qt::Key_Escape);          // typing given up: the date shown again
        QCOMPARE(picker()->date(), QDate(2025, 12, 25));
        QCOMPARE(picker()->text(), QStringLiteral("25-Dec-2025"));
        QTest::keyClicks(picker(), QStringLiteral("nonsense"));
        QTest::keyClick(picker(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), f->txtCompanyName());
        QCOMPARE(picker()->date(), QDate(2025, 12, 25));
        QCOMPARE(picker()->text(), QStringLiteral("25-Dec-2025"));
        QVERIFY(Dialogs::shown().empty());
    }

    void theArrowsStillStepThePartsOfTheDate()
    {
        picker()->setFocus(Qt::TabFocusReason);
        picker()->setCurrentSection(QDateTimeEdit::MonthSection);
        QTest::keyClick(picker(), Qt::Key_Up);
        QCOMPARE(picker()->date(), QDate(2026, 4, 15));
        QCOMPARE(stored(QStringLiteral("DTPicker1")), QStringLiteral("4/15/2026"));
    }

    // ------------------------------------------------------------------ the wheel

    void anUnfocusedPickerLeavesTheWheelToTheSheet()
    {
        QLineEdit* cell = f->txtYear(3, 4);
        cell->setFocus(Qt::MouseFocusReason);
        const QString before = stored(QStringLiteral("DTPicker1"));
        const QPoint at = picker()->rect().center();
        QWheelEvent notch(at, picker()->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(picker(), &notch);
        QVERIFY(!notch.isAccepted());   // so it travels on to the sheet
        QCOMPARE(picker()->date(), QDate(2026, 3, 15));
        QCOMPARE(stored(QStringLiteral("DTPicker1")), before);
        QCOMPARE(f->lblYear(0)->text(), QStringLiteral("Mar-26"));
        QCOMPARE(QApplication::focusWidget(), cell);

        // the focused picker does take it: a step of the part it is in
        picker()->setFocus(Qt::TabFocusReason);
        picker()->setCurrentSection(QDateTimeEdit::MonthSection);
        QWheelEvent up(at, picker()->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                       Qt::NoScrollPhase, false);
        QApplication::sendEvent(picker(), &up);
        QCOMPARE(picker()->date(), QDate(2026, 4, 15));
    }

    // ------------------------------------------------------------------ in view

    void reachingTheDateOrTheCompanyNameBringsThemIntoView()
    {
        tabTo(f->txtYear(12, 32));
        QVERIFY(f->VScroll1()->value() > 0);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), picker());
        QCOMPARE(f->VScroll1()->value(), 0);
        QCOMPARE(f->Picture2()->y(), 0);

        f->VScroll1()->setValue(f->VScroll1()->maximum());
        QTest::keyClick(picker(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), f->txtCompanyName());
        QCOMPARE(f->VScroll1()->value(), 0);

        f->VScroll1()->setValue(f->VScroll1()->maximum());
        QTest::keyClick(f->txtCompanyName(), Qt::Key_Backtab);
        QCOMPARE(QApplication::focusWidget(), picker());
        QCOMPARE(f->VScroll1()->value(), 0);
        QTest::keyClicks(picker(), QStringLiteral("x"));   // typed where the user can see it
        QVERIFY(picker()->isVisible());
        const QRect shown(picker()->mapTo(f->Picture1(), QPoint(0, 0)), picker()->size());
        QVERIFY(f->Picture1()->rect().contains(shown));
    }

    void theDateShowsWholeInEveryLocale()
    {
        // The longest date of each locale fits the picker's text field.
        const QuietFontWarnings quiet;
        const QList<QLocale> all = QLocale::matchingLocales(QLocale::AnyLanguage, QLocale::AnyScript, QLocale::AnyTerritory);
        QWidget host;
        QFont font(QStringLiteral("Arial"));
        font.setPointSize(9);
        font.setBold(true);
        host.setFont(font);
        host.resize(900, 100);
        host.show();
        for (const QLocale& l : all) {
            QLocale::setDefault(l);
            sheet::DatePicker p(&host);
            p.setGeometry(516, 26, 102, 24);
            p.setCalendarPopup(true);
            p.setDisplayFormat(QStringLiteral("dd-MMM-yyyy"));
            p.fitDates(360);
            p.show();
            QLineEdit* edit = p.findChild<QLineEdit*>();
            QVERIFY(edit);
            for (int m = 1; m <= 12; ++m) {
                p.setDate(QDate(2025, m, 28));
                const int needed = edit->fontMetrics().horizontalAdvance(p.text());
                QVERIFY2(needed + 4 <= edit->width(),
                         qPrintable(QStringLiteral("%1: %2 is %3 wide in %4").arg(l.name(), p.text()).arg(needed).arg(edit->width())));
            }
        }
    }
};

QTEST_MAIN(TestDatePicker)
#include "test_datepicker.moc"
