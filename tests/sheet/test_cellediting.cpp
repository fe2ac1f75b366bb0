// Editing the sheet with real focus changes: every change stored at once, leave checks that
// keep the focus in the cell, reformatting of amounts.
#define QTEST_QPA_MOUSE_HANDLING   // clicks travel through the window like real ones
#include "core/apptitle.h"
#include "core/dialogs.h"
#include "core/errorreport.h"
#include "app/form1.h"
#include "core/settingsstore.h"
#include "sheet/form1_fixture.h"

#include <QApplication>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace corvantis;

class TestCellEditing : public QObject {
    Q_OBJECT

    Form1Fixture fx;
    std::unique_ptr<Form1>& f = fx.f;

    QString stored(const QString& key) const
    {
        QSettings raw(fx.iniPath(), QSettings::IniFormat);
        return raw.value(QStringLiteral("Corvantis/") + key).toString();
    }
    // Moves the focus into a cell the way the user does: a click.
    void enter(QWidget* w)
    {
        QTest::mouseClick(w, Qt::LeftButton);
        QTRY_COMPARE(QApplication::focusWidget(), w);
    }
    QStringList messages() const
    {
        QStringList out;
        for (const auto& s : Dialogs::shown())
            out << s.text;
        return out;
    }

private slots:
    void initTestCase() { Form1Fixture::initTestCase(); }
    void init() { QVERIFY(fx.start([] { return QDate(2026, 3, 15); })); }
    void cleanup() { QVERIFY(fx.stop()); }

    void everyKeystrokeIsStoredAtOnce()
    {
        QLineEdit* cell = f->txtInd(3);
        enter(cell);
        cell->clear();
        QCOMPARE(stored(QStringLiteral("txtInd3")), QString());
        QTest::keyClick(cell, Qt::Key_1);
        QCOMPARE(stored(QStringLiteral("txtInd3")), QStringLiteral("1"));
        QTest::keyClick(cell, Qt::Key_2);
        QCOMPARE(stored(QStringLiteral("txtInd3")), QStringLiteral("12"));
        // a letter typed into a month cell is stored until the leave check replaces it
        QLineEdit* month = f->txtYear(2, 1);
        enter(month);
        QTest::keyClicks(month, QStringLiteral("x"));
        QCOMPARE(stored(QStringLiteral("txtYear21")), QStringLiteral("x"));
    }

    void aTypedAmountIsFormattedOnLeaving()
    {
        QLineEdit* cell = f->txtYear(1, 0);
        enter(cell);
        QTRY_COMPARE(cell->selectedText(), QStringLiteral("$0.00"));   // entering selects the whole text
        QTest::keyClicks(cell, QStringLiteral("1250"));
        QCOMPARE(cell->text(), QStringLiteral("1250"));
        QTest::keyClick(cell, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), f->txtYear(2, 0));
        QCOMPARE(cell->text(), QStringLiteral("$1,250.00"));
        QCOMPARE(stored(QStringLiteral("txtYear10")), QStringLiteral("$1,250.00"));
        QVERIFY(Dialogs::shown().empty());

        // re-entering and leaving without typing changes nothing
        QSignalSpy changes(cell, &QLineEdit::textChanged);
        enter(cell);
        QTest::keyClick(cell, Qt::Key_Tab);
        QCOMPARE(changes.count(), 0);
        QCOMPARE(cell->text(), QStringLiteral("$1,250.00"));
    }

    void amountsHaveNoRangeAndTwoDecimals()
    {
        QLineEdit* cell = f->txtYear(12, 5);
        enter(cell);
        QTest::keyClicks(cell, QStringLiteral("-5"));
        QTest::keyClick(cell, Qt::Key_Backtab);
        QCOMPARE(QApplication::focusWidget(), f->txtYear(11, 5));
        QCOMPARE(cell->text(), QLocale().toCurrencyString(-5.0, QLocale().currencySymbol(), 2));
        enter(cell);
        QTest::keyClicks(cell, QStringLiteral("2.345"));
        QTest::keyClick(cell, Qt::Key_Tab);
        QCOMPARE(cell->text(), QStringLiteral("$2.35"));
        QVERIFY(Dialogs::shown().empty());
    }

    void aClearedAmountIsRefusedWithTheFormattedZero()
    {
        QLineEdit* cell = f->txtYear(4, 2);
        enter(cell);
        QTest::keyClicks(cell, QStringLiteral("77"));
        QTest::keyClick(cell, Qt::Key_Tab);
        enter(cell);
        QTest::keyClick(cell, Qt::Key_Delete);   // the whole text is selected on entering
        QCOMPARE(cell->text(), QString());
        QTest::keyClick(cell, Qt::Key_Tab);
        QCOMPARE(messages(), QStringList{QStringLiteral("Please enter a valid amount.")});
        QCOMPARE(Dialogs::shown()[0].caption, ApplicationTitle());
        QCOMPARE(Dialogs::shown()[0].icon, Dialogs::Icon::None);
        QCOMPARE(QApplication::focusWidget(), cell);
        QCOMPARE(cell->text(), QStringLiteral("$0.00"));
        QCOMPARE(stored(QStringLiteral("txtYear42")), QStringLiteral("$0.00"));
        QTRY_COMPARE(cell->selectedText(), QStringLiteral("$0.00"));
        QCOMPARE(cell->selectionStart(), 0);
        QCOMPARE(cell->cursorPosition(), 5);
        QTest::keyClicks(cell, QStringLiteral("9"));   // typing replaces it
        QCOMPARE(cell->text(), QStringLiteral("9"));
    }

    void lettersInAPercentageAreRefusedWithZero()
    {
        QLineEdit* cell = f->txtInd(8);
        enter(cell);
        QTest::keyClicks(cell, QStringLiteral("abc"));
        QTest::keyClick(cell, Qt::Key_Tab);
        QCOMPARE(messages(), QStringList{QStringLiteral("Please enter a valid number.")});
        QCOMPARE(QApplication::focusWidget(), cell);
        QCOMPARE(cell->text(), QStringLiteral("0"));
        QCOMPARE(stored(QStringLiteral("txtInd8")), QStringLiteral("0"));
        QTRY_COMPARE(cell->selectedText(), QStringLiteral("0"));

        QTest::keyClicks(cell, QStringLiteral("7.5"));
        QTest::keyClick(cell, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), f->txtYear(1, 8));
        QCOMPARE(cell->text(), QStringLiteral("7.5"));   // kept as typed
        QCOMPARE(stored(QStringLiteral("txtInd8")), QStringLiteral("7.5"));
        for (const char* accepted : {"150", "-3"}) {
            enter(cell);
            QTest::keyClicks(cell, QString::fromLatin1(accepted));
            QTest::keyClick(cell, Qt::Key_Tab);
            QCOMPARE(cell->text(), QString::fromLatin1(accepted));
        }
        QCOMPARE(Dialogs::shown().size(), size_t(1));
    }

    void aBlankLineNameIsRefusedAndKeptAsTyped()
    {
        QLineEdit* cell = f->txtRevenue(14);
        enter(cell);
        cell->selectAll();
        QTest::keyClicks(cell, QStringLiteral("   "));
        QCOMPARE(cell->toolTip(), QStringLiteral("   "));
        QTest::keyClick(cell, Qt::Key_Tab);
        QCOMPARE(messages(), QStringList{QStringLiteral("Please enter Category.")});
        QCOMPARE(QApplication::focusWidget(), cell);
        QCOMPARE(cell->text(), QStringLiteral("   "));
        QCOMPARE(stored(QStringLiteral("txtRevenue14")), QStringLiteral("   "));
        QTest::qWait(20);
        QVERIFY(!cell->hasSelectedText());

        // a tab character is text; blanks around a name are kept
        cell->setText(QStringLiteral(" Fuel "));
        QTest::keyClick(cell, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), f->txtInd(14));
        QCOMPARE(stored(QStringLiteral("txtRevenue14")), QStringLiteral(" Fuel "));
        QCOMPARE(f->txtRevenue(14)->toolTip(), QStringLiteral(" Fuel "));
        f->txtRevenue(14)->setText(QStringLiteral("\t"));
        QTest::keyClick(f->txtInd(14), Qt::Key_Backtab);
        QTest::keyClick(f->txtRevenue(14), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), f->txtInd(14));
        f->txtRevenue(14)->clear();
        QCOMPARE(f->txtRevenue(14)->toolTip(), QString());
    }

    void aRefusedLeaveHoldsAgainstClicks()
    {
        QLineEdit* cell = f->txtYear(6, 1);
        enter(cell);
        QTest::keyClicks(cell, QStringLiteral("oops"));
        QSignalSpy sample(f->PushButton7(), &QPushButton::clicked);
        QTest::mouseClick(f->PushButton7(), Qt::LeftButton);   // the click does not reach the button
        QCOMPARE(sample.count(), 0);
        QCOMPARE(QApplication::focusWidget(), cell);
        QCOMPARE(cell->text(), QStringLiteral("$0.00"));
        QCOMPARE(messages(), QStringList{QStringLiteral("Please enter a valid amount.")});

        QTest::keyClicks(cell, QStringLiteral("x"));
        QTest::mouseClick(f->txtRevenue(2), Qt::LeftButton);
        QCOMPARE(QApplication::focusWidget(), cell);
        QTest::keyClicks(cell, QStringLiteral("x"));
        QTest::mouseClick(f->DTPicker1(), Qt::LeftButton);
        QCOMPARE(QApplication::focusWidget(), cell);
        QCOMPARE(Dialogs::shown().size(), size_t(3));   // one message per attempt that was refused

        // a valid text lets the click through: the focus moves and the button acts
        QTest::mouseClick(f->txtInd(2), Qt::LeftButton);
        QTRY_COMPARE(QApplication::focusWidget(), f->txtInd(2));
        // clicks inside the focused cell and on plain surfaces are no leave
        enter(cell);
        QTest::keyClicks(cell, QStringLiteral("zz"));
        QTest::mouseClick(cell, Qt::LeftButton);
        QTest::mouseClick(f->lblYear(3), Qt::LeftButton);
        QCOMPARE(QApplication::focusWidget(), cell);
        QCOMPARE(cell->text(), QStringLiteral("zz"));
        QCOMPARE(Dialogs::shown().size(), size_t(3));
    }

    void theCompanyNameMayBeLeftEmpty()
    {
        QLineEdit* cell = f->txtCompanyName();
        enter(cell);
        QTest::keyClicks(cell, QStringLiteral("ACME"));
        QCOMPARE(stored(QStringLiteral("txtCompanyName")), QStringLiteral("ACME"));
        cell->clear();
        QTest::keyClick(cell, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), f->PushButton22());
        QCOMPARE(stored(QStringLiteral("txtCompanyName")), QString());
        QVERIFY(Dialogs::shown().empty());
    }

    void aDateChangeIsStoredAndRelabelsTheMonths()
    {
        f->DTPicker1()->setDate(QDate(2025, 1, 31));
        QCOMPARE(stored(QStringLiteral("DTPicker1")), QStringLiteral("1/31/2025"));
        QCOMPARE(f->lblYear(0)->text(), QStringLiteral("Jan-25"));
        QCOMPARE(f->lblYear(1)->text(), QStringLiteral("Feb-25"));
        QCOMPARE(f->lblYear(11)->text(), QStringLiteral("Dec-25"));
        f->DTPicker1()->setDate(QDate(2025, 1, 5));   // same month: same captions, date stored again
        QCOMPARE(stored(QStringLiteral("DTPicker1")), QStringLiteral("1/5/2025"));
        QCOMPARE(f->lblYear(11)->text(), QStringLiteral("Dec-25"));
    }
};

QTEST_MAIN(TestCellEditing)
#include "test_cellediting.moc"
