// The figures of the main window as people type and read them: the months stay where the first
// start put them, text still being typed when the window closes is checked, a stored text is
// never read back as another number, every amount shows whole, and every cell has a name of its
// own for a screen reader.
#include "form1_fixture.h"

#include "core/numbertext.h"
#include "core/projectioninputs.h"
#include "sheet/inputsheet.h"

#include <QAccessible>
#include <QDateEdit>
#include <QLabel>
#include <QSet>
#include <QSettings>

using namespace corvantis;

class TestFigures : public QObject {
    Q_OBJECT
    Form1Fixture fx;

    // An assistive tool listening for as long as it lives, as Qt announces one.
    struct ScreenReader {
        ScreenReader() { QAccessible::setActive(true); }
        ~ScreenReader() { QAccessible::setActive(false); }
    };
    // What a screen reader is told of a control.
    static QString said(QWidget* w, QAccessible::Text what = QAccessible::Name)
    {
        QAccessibleInterface* i = QAccessible::queryAccessibleInterface(w);
        return i ? i->text(what) : QString();
    }

    QString stored(const QString& key) const { return fx.store->get(key, QString()); }

    // Types into a cell as a user does, leaving the focus in it.
    void typeInto(QLineEdit* cell, const QString& text)
    {
        cell->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(cell->hasFocus());
        cell->selectAll();
        QTest::keyClicks(cell, text);
    }

private slots:
    void initTestCase() { Form1Fixture::initTestCase(); }
    void cleanup()
    {
        fx.stop();
        QLocale::setDefault(QLocale(QStringLiteral("en_US")));
    }

    void theMonthsStayWhereTheFirstStartPutThem()
    {
        QDate day(2026, 12, 5);
        QVERIFY(fx.start([&] { return day; }));
        QVERIFY(stored(QStringLiteral("DTPicker1")).isNull());
        fx.f->txtYear(1, 22)->setText(QStringLiteral("$700.00"));
        QCOMPARE(stored(QStringLiteral("DTPicker1")), QStringLiteral("12/5/2026"));
        day = QDate(2027, 2, 10);
        QVERIFY(fx.restart([&] { return day; }));
        QCOMPARE(fx.f->DTPicker1()->date(), QDate(2026, 12, 5));
        QCOMPARE(fx.f->lblYear(0)->text(), QStringLiteral("Dec-26"));
        QCOMPARE(fx.f->txtYear(1, 22)->text(), QStringLiteral("$700.00"));
    }

    void textStillBeingTypedIsCheckedWhenTheWindowCloses_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("closes");
        QTest::addColumn<double>("value");
        QTest::newRow("french, point typed") << "fr_FR" << "1234.56" << true << 1234.56;
        QTest::newRow("swiss, comma typed") << "de_CH" << "1234,50" << true << 1234.5;
        QTest::newRow("brazil, point is a group") << "pt_BR" << "1234.56" << false << 0.0;
        QTest::newRow("a typo") << "en_US" << "5OO" << false << 0.0;
    }
    void textStillBeingTypedIsCheckedWhenTheWindowCloses()
    {
        QFETCH(QString, locale);
        QFETCH(QString, typed);
        QFETCH(bool, closes);
        QFETCH(double, value);
        QLocale::setDefault(QLocale(locale));
        QVERIFY(fx.start());
        QLineEdit* cell = fx.f->txtYear(3, 22);
        typeInto(cell, typed);
        QCOMPARE(stored(QStringLiteral("txtYear322")), typed);   // every keystroke is stored
        QCOMPARE(fx.f->close(), closes);
        if (closes) {
            QVERIFY(Dialogs::shown().empty());
        } else {
            // refused as leaving the cell refuses it: told, and the window stays with the cell
            QCOMPARE(Dialogs::shown().size(), size_t(1));
            QCOMPARE(Dialogs::shown().front().text, QStringLiteral("Please enter a valid amount."));
            QVERIFY(fx.f->isVisible());
            QVERIFY(cell->hasFocus());
        }
        QCOMPARE(NumericValue(stored(QStringLiteral("txtYear322"))).value_or(-1), value);
        QCOMPARE(stored(QStringLiteral("txtYear322")), cell->text());
    }

    void aStoredTextIsNeverReadAsAnotherNumber()
    {
        QLocale::setDefault(QLocale(QStringLiteral("fr_FR")));
        QVERIFY(fx.start());
        fx.stop();
        fx.store.reset();
        {
            QSettings raw(fx.iniPath(), QSettings::IniFormat);
            raw.beginGroup(QStringLiteral("Corvantis"));
            raw.setValue(QStringLiteral("txtYear10"), QStringLiteral("1234.56"));   // typed, window killed
            raw.setValue(QStringLiteral("txtYear20"), QStringLiteral("5OO"));
        }
        QVERIFY(fx.restart());
        QCOMPARE(NumericValue(fx.f->txtYear(1, 0)->text()).value_or(-1), 1234.56);
        sheet::SheetCell* typo = fx.f->sheet().txtYear(2, 0);
        QCOMPARE(typo->text(), QStringLiteral("5OO"));   // as typed, for the user to correct
        QVERIFY(typo->isUnreadable());
        QVERIFY(typo->toolTip().contains(QStringLiteral("5OO")));
        QCOMPARE(stored(QStringLiteral("txtYear20")), QStringLiteral("5OO"));
        QCOMPARE(fx.f->sheet().storedInputs().amountsKeptAsTyped().size(), 1);
        typo->setText(QStringLiteral("500"));
        QVERIFY(!typo->isUnreadable());
    }

    void aPercentSignInAnIndustryPercentageIsRead()
    {
        const sheet::LeaveDecision d = sheet::leaveDecision(sheet::CellKind::IndPercent, QStringLiteral("12.5%"));
        QVERIFY(d.allowed);
        QCOMPARE(d.replacement.value_or(QString()), QStringLiteral("12.5"));
    }

    void everyAmountShowsWhole_data()
    {
        QTest::addColumn<QString>("locale");
        for (const char* l : {"en_US", "de_DE", "ar_EG", "ja_JP"})
            QTest::newRow(l) << QString::fromLatin1(l);
    }
    void everyAmountShowsWhole()
    {
        QFETCH(QString, locale);
        const QuietFontWarnings quiet;
        QLocale::setDefault(QLocale(locale));
        QVERIFY(fx.start());
        for (const double amount : {9999999999.99, -9999999999.99, 123456.78, 0.0}) {
            sheet::SheetCell* cell = fx.f->sheet().txtYear(5, 9);
            cell->setText(FormatAmount(amount, 2));
            QVERIFY2(cell->showsWholeText(), qPrintable(cell->text()));
            QCOMPARE(cell->toolTip(), cell->text());
        }
        // a short amount keeps the window's size
        QCOMPARE(fx.f->sheet().txtYear(5, 9)->shownPointSize(), fx.f->font().pointSizeF());
    }

    void everyCellIsNamedByItsLineAndColumn()
    {
        QVERIFY(fx.start([] { return QDate(2026, 3, 1); }));
        const ScreenReader reader;
        QSet<QString> names;
        for (int line = 0; line < kLineCount; ++line)
            for (int column = 0; column < kColumnCount; ++column)
                names.insert(said(fx.f->sheet().cell(line, column)));
        QCOMPARE(names.size(), kLineCount * kColumnCount);
        QCOMPARE(said(fx.f->txtYear(1, 22)), QStringLiteral("Rent, Mar-26"));
        QCOMPARE(said(fx.f->txtInd(22)), QStringLiteral("Rent, industry percentage"));
        QCOMPARE(said(fx.f->txtYear(1, 22), QAccessible::Description),
                 QStringLiteral("The amount of expense line 9 in Mar-26, month 1 of the fiscal year"));
        // the same name on two lines: each says where it stands
        QVERIFY(said(fx.f->txtYear(1, 0)) != said(fx.f->txtYear(1, 7)));
        // they follow the line's name as typed and the fiscal start
        fx.f->txtRevenue(22)->setText(QStringLiteral("Office rent"));
        fx.f->DTPicker1()->setDate(QDate(2027, 7, 1));
        QCOMPARE(said(fx.f->txtYear(1, 22)), QStringLiteral("Office rent, Jul-27"));
        QCOMPARE(said(fx.f->txtCompanyName()), QStringLiteral("Company Name"));
        QCOMPARE(said(fx.f->DTPicker1()), QStringLiteral("Fiscal Year Begins"));
    }

    void aReaderThatArrivesLaterFindsTheWholeEditBoxes()
    {
        // Started with no one listening; a reader that comes later gets Qt's own edit box
        // interface for every cell, named, with its text, never the stand-in the start-up used.
        QVERIFY(fx.start([] { return QDate(2026, 3, 1); }));
        QLineEdit* cell = fx.f->txtYear(1, 22);
        cell->setText(QStringLiteral("$700.00"));
        const ScreenReader reader;
        QAccessibleInterface* box = QAccessible::queryAccessibleInterface(cell);
        QVERIFY(box && box->textInterface() && box->editableTextInterface());
        QCOMPARE(box->role(), QAccessible::EditableText);
        QCOMPARE(box->text(QAccessible::Name), QStringLiteral("Rent, Mar-26"));
        QCOMPARE(box->text(QAccessible::Value), QStringLiteral("$700.00"));
        QCOMPARE(box->textInterface()->characterCount(), 7);
    }
};

QTEST_MAIN(TestFigures)
#include "test_figures.moc"
