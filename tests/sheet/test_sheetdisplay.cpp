// The sheet as it shows at a real desk: every box from the start of its text when it is not being
// edited, names entered without being selected, captions whole in every locale, and the sheet
// scrolled by the wheel and the touchpad over any part of it.
#define QTEST_QPA_MOUSE_HANDLING
#include "app/form1.h"
#include "core/dialogs.h"
#include "core/numbertext.h"
#include "core/settingsstore.h"
#include "core/twips.h"
#include "sheet/captionlabel.h"
#include "sheet/form1_fixture.h"
#include "sheet/inputsheet.h"
#include "sheet/monthheaders.h"
#include "sheet/sheetlayout.h"

#include <QApplication>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QSettings>
#include <QTest>
#include <QWheelEvent>

using namespace corvantis;

namespace {

// Delivers a wheel event the way the window system does: to the widget under the point, then on
// to its parents for as long as none accepts it.
bool wheelAt(QWidget* window, QPoint pos, QPoint angle, QPoint pixels = QPoint())
{
    QWidget* w = window->childAt(pos);
    if (!w)
        w = window;
    QPoint local = w->mapFrom(window, pos);
    while (w) {
        QWheelEvent e(local, w->mapToGlobal(local), pixels, angle, Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(w, &e);
        if (e.isAccepted())
            return true;
        if (w->isWindow())
            return false;
        local = w->mapToParent(local);
        w = w->parentWidget();
    }
    return false;
}

QPoint centreIn(QWidget* window, QWidget* w) { return w->mapTo(window, w->rect().center()); }

} // namespace

class TestSheetDisplay : public QObject {
    Q_OBJECT

    Form1Fixture fx;
    std::unique_ptr<Form1>& f = fx.f;

    void seed(const QList<QPair<QString, QString>>& values)
    {
        QSettings raw(fx.iniPath(), QSettings::IniFormat);
        raw.beginGroup(QStringLiteral("Corvantis"));
        for (const auto& [key, value] : values)
            raw.setValue(key, value);
    }
    // Every box not being edited shows its text from the first character.
    void checkEveryBoxShowsItsStart()
    {
        QWidget* focused = QApplication::focusWidget();
        QList<QLineEdit*> boxes{f->txtCompanyName()};
        for (int line = 0; line < sheet::kLineCount; ++line) {
            for (int column = 0; column < sheet::kColumnCount; ++column)
                boxes << f->sheet().cell(line, column);
        }
        for (QLineEdit* box : std::as_const(boxes)) {
            if (box != focused)
                QVERIFY2(box->cursorPosition() == 0, qPrintable(box->objectName() + QStringLiteral(": ") + box->text()));
        }
    }

private slots:
    void initTestCase() { Form1Fixture::initTestCase(); }
    void init() { QVERIFY(fx.start([] { return QDate(2026, 3, 15); })); }
    void cleanup()
    {
        QVERIFY(fx.stop());
        QLocale::setDefault(QLocale(QStringLiteral("en_US")));
    }

    // ------------------------------------------------------------------ the start of every text

    void everyBoxShowsTheStartOfItsText_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::newRow("en_US") << "en_US";
        QTest::newRow("de_DE") << "de_DE";
    }
    void everyBoxShowsTheStartOfItsText()
    {
        QFETCH(QString, locale);
        fx.stop();
        QLocale::setDefault(QLocale(locale));
        // A store with wide amounts and long names, read at start-up.
        fx.dir = std::make_unique<QTemporaryDir>();
        seed({{QStringLiteral("txtYear10"), FormatAmount(100000, 2)},
              {QStringLiteral("txtYear20"), FormatAmount(1250, 2)},
              {QStringLiteral("txtYear1232"), FormatAmount(-987654.32, 2)},
              {QStringLiteral("txtCompanyName"), QStringLiteral("Harbour Lights Bakery and Catering of the North Coast Ltd")}});
        QVERIFY(fx.open([] { return QDate(2026, 3, 15); }));
        checkEveryBoxShowsItsStart();
        QCOMPARE(f->txtRevenue(17)->text(), QStringLiteral("Supplies (office and operating)"));

        // typed and left: the reformatted amount shows from its start
        QLineEdit* cell = f->txtYear(4, 3);
        cell->setFocus(Qt::TabFocusReason);
        QTest::keyClicks(cell, QStringLiteral("123456789"));
        QTest::keyClick(cell, Qt::Key_Tab);
        QCOMPARE(cell->text(), FormatAmount(123456789, 2));
        QCOMPARE(cell->cursorPosition(), 0);
        // a name typed long and left by a click
        QLineEdit* name = f->txtRevenue(5);
        name->setFocus(Qt::MouseFocusReason);
        QTest::keyClicks(name, QStringLiteral(" and a very long tail of words"));
        QTest::mouseClick(f->txtInd(9), Qt::LeftButton);
        QTRY_COMPARE(QApplication::focusWidget(), f->txtInd(9));
        QCOMPARE(name->cursorPosition(), 0);
        // the example data sets texts from the program
        f->PushButton7_Click();
        checkEveryBoxShowsItsStart();
        QVERIFY(Dialogs::shown().empty());
    }

    void theBoxBeingEditedKeepsItsCaretWhileAMessageIsUp()
    {
        QLineEdit* cell = f->txtYear(2, 2);
        cell->setFocus(Qt::MouseFocusReason);
        QTest::keyClicks(cell, QStringLiteral("oops"));
        QTest::keyClick(cell, Qt::Key_Tab);   // refused: message, formatted zero, selected
        QCOMPARE(QApplication::focusWidget(), cell);
        QTRY_COMPARE(cell->selectedText(), QStringLiteral("$0.00"));
    }

    // ------------------------------------------------------------------ names are not selected

    void enteringANameSelectsNothing()
    {
        // by Tab and Shift+Tab
        f->txtYear(12, 0)->setFocus(Qt::MouseFocusReason);
        QTest::keyClick(f->txtYear(12, 0), Qt::Key_Tab);
        QLineEdit* name = f->txtRevenue(1);
        QCOMPARE(QApplication::focusWidget(), name);
        QTest::qWait(20);
        QVERIFY(!name->hasSelectedText());
        QCOMPARE(name->cursorPosition(), name->text().size());
        QTest::keyClicks(name, QStringLiteral(" A"));   // typing adds to the name
        QCOMPARE(name->text(), QStringLiteral("Category 2 A"));
        QTest::keyClick(f->txtRevenue(1), Qt::Key_Tab);
        QTest::keyClick(f->txtInd(1), Qt::Key_Backtab);
        QCOMPARE(QApplication::focusWidget(), name);
        QTest::qWait(20);
        QVERIFY(!name->hasSelectedText());
        // by a click
        QLineEdit* other = f->txtRevenue(4);
        QTest::mouseClick(other, Qt::LeftButton, {}, QPoint(6, 8));
        QTRY_COMPARE(QApplication::focusWidget(), other);
        QTest::qWait(20);
        QVERIFY(!other->hasSelectedText());
        // the company name likewise
        f->DTPicker1()->setFocus(Qt::TabFocusReason);
        f->txtCompanyName()->setText(QStringLiteral("ACME"));
        QTest::keyClick(f->DTPicker1(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), f->txtCompanyName());
        QVERIFY(!f->txtCompanyName()->hasSelectedText());
        QTest::keyClicks(f->txtCompanyName(), QStringLiteral(" Inc"));
        QCOMPARE(f->txtCompanyName()->text(), QStringLiteral("ACME Inc"));
        // amounts and percentages are still selected whole on arrival
        f->txtRevenue(4)->setFocus(Qt::MouseFocusReason);
        QTest::keyClick(f->txtRevenue(4), Qt::Key_Tab);
        QTRY_COMPARE(f->txtInd(4)->selectedText(), QStringLiteral("0"));
    }

    // ------------------------------------------------------------------ captions

    void everyCaptionShowsWhole_data()
    {
        QTest::addColumn<QString>("locale");
        for (const char* l : {"en_US", "de_DE", "fi_FI", "fr_FR", "ru_RU", "el_GR", "vi_VN", "hu_HU", "pt_BR", "ja_JP", "ar_EG"})
            QTest::newRow(l) << QString::fromLatin1(l);
    }
    void everyCaptionShowsWhole()
    {
        QFETCH(QString, locale);
        fx.stop();
        QLocale::setDefault(QLocale(locale));
        for (int month = 1; month <= 12; ++month) {
            QVERIFY(fx.start([month] { return QDate(2025, month, 28); }));
            const QList<sheet::CaptionLabel*> captions = f->sheet().captions();
            QCOMPARE(captions.size(), 4 + 2 + 12 + 2);
            for (sheet::CaptionLabel* c : captions) {
                QVERIFY2(c->showsWhole(), qPrintable(c->objectName() + QStringLiteral(": ") + c->text()));
                QVERIFY(c->font().pointSizeF() >= 5.5);
            }
            // the company row's captions keep their place and stay clear of the boxes beside them
            QLabel* company = f->findChild<QLabel*>(QStringLiteral("Label7"));
            QLabel* fiscal = f->findChild<QLabel*>(QStringLiteral("Label8"));
            QCOMPARE(company->pos(), twipsRect(150, 465, 1335, 225).topLeft());
            QCOMPARE(fiscal->pos(), twipsRect(6000, 465, 1560, 225).topLeft());
            QVERIFY(company->geometry().right() < f->txtCompanyName()->geometry().left());
            QVERIFY(fiscal->geometry().right() < f->DTPicker1()->geometry().left());
            // the date likewise, at its place
            QCOMPARE(f->DTPicker1()->pos(), twipsRect(7740, 397, 1530, 360).topLeft());
            QLineEdit* edit = f->DTPicker1()->findChild<QLineEdit*>();
            QVERIFY2(edit->fontMetrics().horizontalAdvance(f->DTPicker1()->text()) + 4 <= edit->width(),
                     qPrintable(f->DTPicker1()->text()));
            fx.stop();
            if (locale != QLatin1String("de_DE") && locale != QLatin1String("en_US"))
                break;   // the month names of the others are checked below, all of them
        }
        QVERIFY(fx.start([] { return QDate(2025, 9, 30); }));
    }

    void theGermanSeptemberShowsWhole()
    {
        fx.stop();
        QLocale::setDefault(QLocale(QStringLiteral("de_DE")));
        QVERIFY(fx.start([] { return QDate(2025, 9, 30); }));
        QCOMPARE(f->DTPicker1()->text(), QStringLiteral("30-Sept.-2025"));
        QLineEdit* edit = f->DTPicker1()->findChild<QLineEdit*>();
        QVERIFY(edit->fontMetrics().horizontalAdvance(QStringLiteral("30-Sept.-2025")) + 4 <= edit->width());
        QCOMPARE(f->lblYear(0)->text(), QStringLiteral("Sept.-25"));
        QVERIFY(f->sheet().lblYear(0)->showsWhole());
        for (const char* label : {"Label7", "Label8"}) {
            auto* c = f->findChild<sheet::CaptionLabel*>(QString::fromLatin1(label));
            QVERIFY(c->showsWhole());
            QCOMPARE(c->font().pointSize(), 9);   // grown into its room, not shrunk
        }
    }

    void monthCaptionsShowWholeInEveryLocale()
    {
        // Each locale's twelve month captions in a month header of the design's size and font.
        fx.stop();
        const QuietFontWarnings quiet;
        QWidget host;
        QFont font(QStringLiteral("Arial"));
        font.setPointSize(9);
        font.setBold(true);
        host.setFont(font);
        host.resize(200, 50);
        const QList<QLocale> all = QLocale::matchingLocales(QLocale::AnyLanguage, QLocale::AnyScript, QLocale::AnyTerritory);
        for (const QLocale& l : all) {
            QLocale::setDefault(l);
            sheet::CaptionLabel label(&host);
            label.setGeometry(twipsRect(0, 0, sheet::kMonthWidth, sheet::kHeaderHeight));
            label.setFrameStyle(QFrame::Box | QFrame::Plain);
            label.setAlignment(Qt::AlignCenter);
            for (int m = 0; m < 12; ++m) {
                label.setCaption(sheet::monthCaption(QDate(2025, 1, 1), m));
                QVERIFY2(label.showsWhole(), qPrintable(l.name() + QStringLiteral(": ") + label.text()));
                QCOMPARE(label.width(), twipsToPixels(sheet::kMonthWidth));   // never wider than its column
            }
        }
        QVERIFY(fx.start());
    }

    // ------------------------------------------------------------------ the wheel

    void theWheelScrollsTheSheetOverEveryPartOfIt()
    {
        QScrollBar* bar = f->VScroll1();
        QCOMPARE(bar->value(), 0);
        const int notch = 3 * sheet::kLinePitch;   // three lines of the sheet
        QVERIFY(wheelAt(f.get(), centreIn(f.get(), f->txtYear(5, 3)), QPoint(0, -120)));
        QCOMPARE(bar->value(), notch);
        QCOMPARE(f->Picture2()->y(), -twipsToPixels(notch));
        QVERIFY(wheelAt(f.get(), centreIn(f.get(), f->lblYear(4)), QPoint(0, -120)));
        QCOMPARE(bar->value(), 2 * notch);
        QVERIFY(wheelAt(f.get(), centreIn(f.get(), bar), QPoint(0, -120)));   // over its scroll bar
        QCOMPARE(bar->value(), 3 * notch);
        QVERIFY(wheelAt(f.get(), centreIn(f.get(), f->txtRevenue(20)), QPoint(0, 120)));
        QCOMPARE(bar->value(), 2 * notch);
        // a smooth wheel in eighths of a notch adds up to the same
        for (int i = 0; i < 8; ++i)
            wheelAt(f.get(), centreIn(f.get(), f->txtInd(20)), QPoint(0, -15));
        QCOMPARE(bar->value(), 3 * notch);
        // a touchpad's pixels move the sheet by as many pixels
        QVERIFY(wheelAt(f.get(), centreIn(f.get(), f->txtYear(1, 20)), QPoint(0, -40), QPoint(0, -20)));
        QCOMPARE(bar->value(), 3 * notch + pixelsToTwips(20));
        // the ends hold
        for (int i = 0; i < 20; ++i)
            wheelAt(f.get(), centreIn(f.get(), f->txtYear(1, 20)), QPoint(0, -120));
        QCOMPARE(bar->value(), bar->maximum());
        for (int i = 0; i < 20; ++i)
            wheelAt(f.get(), centreIn(f.get(), bar), QPoint(0, 120));
        QCOMPARE(bar->value(), 0);
    }

    void theWheelLeavesTheFocusAndTheDateAlone()
    {
        QLineEdit* cell = f->txtYear(7, 2);
        cell->setFocus(Qt::MouseFocusReason);
        const QDate date = f->DTPicker1()->date();
        QVERIFY(wheelAt(f.get(), centreIn(f.get(), f->DTPicker1()), QPoint(0, -120)));
        QCOMPARE(f->DTPicker1()->date(), date);
        QCOMPARE(f->VScroll1()->value(), 3 * sheet::kLinePitch);   // the sheet took it
        QCOMPARE(QApplication::focusWidget(), cell);
        QVERIFY(wheelAt(f.get(), centreIn(f.get(), f->txtYear(7, 9)), QPoint(0, -120)));
        QCOMPARE(QApplication::focusWidget(), cell);
        // the focus follow is as it was: entering a cell in view leaves the sheet where it is
        const int value = f->VScroll1()->value();
        f->txtYear(7, 12)->setFocus(Qt::MouseFocusReason);
        QCOMPARE(f->VScroll1()->value(), value);
    }
};

QTEST_MAIN(TestSheetDisplay)
#include "test_sheetdisplay.moc"
