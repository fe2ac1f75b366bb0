// Scrolling the sheet and following the focus with real focus changes.
#define QTEST_QPA_MOUSE_HANDLING
#include "core/dialogs.h"
#include "core/errorreport.h"
#include "app/form1.h"
#include "core/settingsstore.h"
#include "sheet/form1_fixture.h"
#include "core/twips.h"

#include <QApplication>
#include <QLineEdit>
#include <QLocale>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace corvantis;

class TestFocusFollow : public QObject {
    Q_OBJECT

    Form1Fixture fx;
    std::unique_ptr<Form1>& f = fx.f;

    // The cell lies wholly inside the viewport.
    bool fullyVisible(QWidget* cell) const
    {
        const QRect r(cell->mapTo(f->Picture1(), QPoint(0, 0)), cell->size());
        return r.top() >= 0 && r.bottom() < f->Picture1()->height();
    }
    void tabTo(QWidget* target)
    {
        for (int i = 0; i < 500 && QApplication::focusWidget() != target; ++i)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), target);
    }

private slots:
    void initTestCase() { Form1Fixture::initTestCase(); }
    void init() { QVERIFY(fx.start()); }
    void cleanup() { QVERIFY(fx.stop()); }

    void theSheetMovesWithTheBar()
    {
        QScrollBar* bar = f->VScroll1();
        QCOMPARE(f->Picture2()->y(), 0);
        bar->setValue(bar->maximum());
        // at the maximum the content's bottom lines up with the viewport's bottom
        QCOMPARE(f->Picture2()->geometry().bottom(), f->Picture1()->rect().bottom() + 0);
        QCOMPARE(f->Picture2()->y(), -twipsToPixels(5340));
        bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
        QCOMPARE(bar->value(), 5340 - 1834);
        QCOMPARE(f->Picture2()->y(), twipsToPixels(-(5340 - 1834)));
        bar->triggerAction(QAbstractSlider::SliderPageStepSub);
        QCOMPARE(bar->value(), 0);
        QCOMPARE(f->Picture2()->y(), 0);
        // dragging: the sheet follows the thumb while it moves, not only when released
        bar->setSliderDown(true);
        bar->setTracking(false);
        bar->setSliderPosition(3000);
        QCOMPARE(f->Picture2()->y(), twipsToPixels(-3000));
        bar->setSliderDown(false);
        bar->setTracking(true);
        // the bar never takes the focus away from the cell being edited
        QCOMPARE(bar->focusPolicy(), Qt::NoFocus);
    }

    void tabbingAlongTheLastLineShowsItWholeAndDoesNotCreep()
    {
        tabTo(f->txtRevenue(32));
        QVERIFY(fullyVisible(f->txtRevenue(32)));
        const int value = f->VScroll1()->value();
        QCOMPARE(value, 105 + 12075 + 330 - 7335);
        for (int m = 0; m <= 12; ++m) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QVERIFY(fullyVisible(QApplication::focusWidget()));
            QCOMPARE(f->VScroll1()->value(), value);
        }
        QCOMPARE(QApplication::focusWidget(), f->txtYear(12, 32));
    }

    void aCellAboveTheViewComesBackIntoView()
    {
        f->VScroll1()->setValue(f->VScroll1()->maximum());
        QVERIFY(!fullyVisible(f->txtInd(0)));
        f->txtInd(0)->setFocus(Qt::MouseFocusReason);
        QVERIFY(fullyVisible(f->txtInd(0)));
        QCOMPARE(f->VScroll1()->value(), 105 + 1305);
        // a cell of a line in view leaves the sheet where it is
        f->txtRevenue(5)->setFocus(Qt::MouseFocusReason);
        QCOMPARE(f->VScroll1()->value(), 105 + 1305);
        // and the name column's scroll up runs as well
        f->VScroll1()->setValue(f->VScroll1()->maximum());
        f->txtRevenue(1)->setFocus(Qt::MouseFocusReason);
        QCOMPARE(f->VScroll1()->value(), 105 + 1305 + 315);
        QVERIFY(fullyVisible(f->txtRevenue(1)));
    }

    void aRefusedLeaveDoesNotMoveTheSheet()
    {
        tabTo(f->txtYear(12, 32));
        const int value = f->VScroll1()->value();
        QLineEdit* cell = f->txtYear(12, 32);
        QTest::keyClicks(cell, QStringLiteral("no"));
        QTest::keyClick(cell, Qt::Key_Tab);   // would go to the date picker at the top
        QCOMPARE(QApplication::focusWidget(), cell);
        QCOMPARE(f->VScroll1()->value(), value);
        QTest::keyClicks(cell, QStringLiteral("no"));
        QTest::mouseClick(f->txtRevenue(20), Qt::LeftButton);
        QCOMPARE(QApplication::focusWidget(), cell);
        QCOMPARE(f->VScroll1()->value(), value);
        QCOMPARE(Dialogs::shown().size(), size_t(2));
    }

    void enteringSelectsAmountsAndPercentagesButNotNames()
    {
        QLineEdit* amount = f->txtYear(3, 2);
        amount->setText(QStringLiteral("$1,250.00"));
        QTest::mouseClick(amount, Qt::LeftButton, {}, QPoint(5, 5));   // a click would place the caret
        QTRY_COMPARE(amount->selectedText(), QStringLiteral("$1,250.00"));
        QCOMPARE(amount->selectionStart(), 0);
        QCOMPARE(amount->cursorPosition(), 9);
        QTest::keyClicks(amount, QStringLiteral("900"));
        QCOMPARE(amount->text(), QStringLiteral("900"));

        QLineEdit* ind = f->txtInd(2);
        QTest::mouseClick(ind, Qt::LeftButton);
        QTRY_COMPARE(ind->selectedText(), QStringLiteral("0"));
        QCOMPARE(amount->text(), QStringLiteral("$900.00"));

        QLineEdit* name = f->txtRevenue(3);
        QTest::mouseClick(name, Qt::LeftButton, {}, QPoint(4, 10));
        QTRY_COMPARE(QApplication::focusWidget(), name);
        QTest::qWait(20);
        QVERIFY(!name->hasSelectedText());
    }
};

QTEST_MAIN(TestFocusFollow)
#include "test_focusfollow.moc"
