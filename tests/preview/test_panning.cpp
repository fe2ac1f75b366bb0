// Panning the preview: dragging Picture1 with its limits, the release that settles on the
// scroll bars' whole percentage, and the scroll bars moving the picture.
#include "preview/form2.h"
#include "preview/picturebox.h"
#include "preview/preview_support.h"

#include "app/dialogs.h"

#include <QMouseEvent>
#include <QScrollBar>
#include <QtTest>

using namespace corvantis;
using previewtest::ReportCollector;
using previewtest::snapshot;

namespace {

// One press, one move and one release on Picture1, in its pixel coordinates at the time of each event.
void drag(Form2& form, QPoint from, QPoint to)
{
    QTest::mousePress(form.Picture1, Qt::LeftButton, {}, from);
    QTest::mouseMove(form.Picture1, to);
    const QPoint release = to - form.Picture1->pos();   // the pointer stays where it is; the picture moved
    QTest::mouseRelease(form.Picture1, Qt::LeftButton, {}, release);
}

void clickArrow(QScrollBar* bar, bool forward)
{
    const QRect r = bar->rect();
    const QPoint at = bar->orientation() == Qt::Horizontal
        ? QPoint(forward ? r.right() - 3 : 3, r.center().y())
        : QPoint(r.center().x(), forward ? r.bottom() - 3 : 3);
    QTest::mouseClick(bar, Qt::LeftButton, {}, at);
}

} // namespace

class TestPanning : public QObject {
    Q_OBJECT
private slots:
    void init() { Dialogs::setScripted(true); Dialogs::reset(); }

    // 955 x 700 pixels: 14325 x 10500 twips, 4995 and 3075 twips more than the viewport.
    void rangesOfTheTestPicture()
    {
        Form2 form;
        form.setPicture(snapshot(955, 700));
        form.show();
        QCOMPARE(form.HScroll1->maximum(), 500);   // nearest(499.5)
        QCOMPARE(form.VScroll1->maximum(), 308);   // nearest(307.5)
        QCOMPARE(form.hStep(), 10);
    }

    void dragTowardsTheCornerStopsAtZero()
    {
        ReportCollector reports;
        Form2 form;
        form.setPicture(snapshot(955, 700));
        form.show();
        drag(form, {100, 100}, {180, 160});
        QCOMPARE(form.Picture1->left(), 0);
        QCOMPARE(form.Picture1->top(), 0);
        QCOMPARE(form.HScroll1->value(), 0);

        // Only the overshooting direction is held back.
        drag(form, {300, 300}, {200, 360});
        QCOMPARE(form.Picture1->left(), -1500);
        QCOMPARE(form.Picture1->top(), 0);
        QVERIFY(reports.reports.empty());
    }

    void dragPastTheFarEdgeStopsThere()
    {
        Form2 form;
        form.setPicture(snapshot(955, 700));
        form.show();
        QTest::mousePress(form.Picture1, Qt::LeftButton, {}, {600, 400});
        QTest::mouseMove(form.Picture1, {-500, -500});
        // The right edge sits on the inner right edge of the viewport: 9300 - 14325.
        QCOMPARE(form.Picture1->left(), -5025);
        QCOMPARE(form.Picture1->top(), 7395 - 10500);
        QCOMPARE(form.Picture1->pos(), QPoint(-335, -207));
        // The bars are untouched while dragging.
        QCOMPARE(form.HScroll1->value(), 0);

        // 5025 / 4995 and 3105 / 3075 give 101 %: beyond the range, the bars keep their values.
        QTest::mouseRelease(form.Picture1, Qt::LeftButton, {}, {100, 100});
        QCOMPARE(form.HScroll1->value(), 0);
        QCOMPARE(form.VScroll1->value(), 0);
        QCOMPARE(form.Picture1->left(), -5025);
    }

    void releaseSettlesOnTheWholePercentage()
    {
        Form2 form;
        form.setPicture(snapshot(955, 700));
        form.show();
        // 167 pixels to the left: left = -2505, 50.15 % of 4995.
        drag(form, {300, 200}, {133, 200});
        QCOMPARE(form.HScroll1->value(), 250);
        QCOMPARE(form.Picture1->left(), -2500);
        QCOMPARE(form.Picture1->top(), 0);

        // 100 pixels up: top = -1500, 48.78 % of 3075, 49 % of 308 units = 150.92.
        drag(form, {300, 300}, {300, 200});
        QCOMPARE(form.VScroll1->value(), 151);
        QCOMPARE(form.Picture1->top(), -1510);
        QCOMPARE(form.Picture1->left(), -2500);
    }

    void pressAndReleaseWithoutMovementStillSettles()
    {
        Form2 form;
        form.setPicture(snapshot(955, 700));
        form.show();
        QTest::mousePress(form.Picture1, Qt::LeftButton, {}, {300, 200});
        QTest::mouseMove(form.Picture1, {299, 200});
        QTest::mouseRelease(form.Picture1, Qt::LeftButton, {}, {300, 200});
        // -15 twips is 0.3 %: the bar stays at 0, so no change moves the picture.
        QCOMPARE(form.HScroll1->value(), 0);
        QCOMPARE(form.Picture1->left(), -15);
        // A click alone settles a picture left between two units onto the rounded one.
        form.Picture1->setLeft(-2505);
        QTest::mouseClick(form.Picture1, Qt::LeftButton, {}, {300, 200});
        QCOMPARE(form.Picture1->left(), -2500);
    }

    void plainMovementDoesNothing()
    {
        Form2 form;
        form.setPicture(snapshot(955, 700));
        form.show();
        form.Picture1->setLeft(-1000);
        QMouseEvent move(QEvent::MouseMove, QPointF(10, 10), form.Picture1->mapToGlobal(QPointF(10, 10)),
                         Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(form.Picture1, &move);
        QCOMPARE(form.Picture1->left(), -1000);
    }

    void narrowPictureDragsToEitherSide()
    {
        Form2 form;
        form.setPicture(snapshot(300, 700));   // 4500 twips wide, the viewport's inside is 9300
        form.show();
        QVERIFY(!form.HScroll1->isEnabled());
        // A proposed left of 0 - 150 px is below the right-aligned limit: the picture is pushed right.
        drag(form, {200, 100}, {50, 100});
        QCOMPARE(form.Picture1->left(), 9300 - 4500);
        QCOMPARE(form.HScroll1->value(), 0);   // negative percentage: the bar is left alone
        drag(form, {50, 100}, {100, 100});
        QCOMPARE(form.Picture1->left(), 0);
    }

    void pictureAsLargeAsTheViewportReleasesQuietly()
    {
        ReportCollector reports;
        Form2 form;
        form.setPicture(snapshot(100, 100));
        form.show();
        form.Picture1->setGeometryTwips(0, 0, 9330, 7425);
        form.ResetScrollBars();
        QTest::mouseClick(form.Picture1, Qt::LeftButton, {}, {50, 50});
        QVERIFY(reports.reports.empty());
        QCOMPARE(form.Picture1->left(), 0);
        QCOMPARE(form.Picture1->top(), 0);
    }

    void arrowsMoveByTheBarsUnit()
    {
        Form2 form;
        form.setPicture(snapshot(955, 700));
        form.show();
        clickArrow(form.HScroll1, true);
        QCOMPARE(form.HScroll1->value(), 1);
        QCOMPARE(form.Picture1->left(), -10);
        clickArrow(form.VScroll1, true);
        clickArrow(form.VScroll1, true);
        QCOMPARE(form.Picture1->top(), -20);
        clickArrow(form.VScroll1, false);
        QCOMPARE(form.Picture1->top(), -10);

        // A small excess moves one twip per unit.
        form.Picture1->setGeometryTwips(0, 0, 9330 + 60, 7425);
        form.ResetScrollBars();
        QCOMPARE(form.hStep(), 1);
        clickArrow(form.HScroll1, true);
        QCOMPARE(form.Picture1->left(), -1);
    }

    void largeExcessDoesNotOverflow()
    {
        Form2 form;
        form.setPicture(snapshot(100, 100));
        form.show();
        form.Picture1->setGeometryTwips(0, 0, 9330 + 400000, 3000);
        form.ResetScrollBars();
        QCOMPARE(form.HScroll1->maximum(), 40000);
        form.HScroll1->setValue(40000);
        QCOMPARE(form.Picture1->left(), -400000);
        form.Picture1->setLeft(-200000);
        Form2::SetHScrollbarByPercent(form.HScroll1, 50);
        QCOMPARE(form.HScroll1->value(), 20000);
        QCOMPARE(form.Picture1->left(), -200000);
        QTest::mouseClick(form.Picture1, Qt::LeftButton, {}, {5, 5});
        QCOMPARE(form.HScroll1->value(), 20000);
    }

    void percentRoutineBounds()
    {
        QScrollBar bar;
        bar.setRange(0, 500);
        bar.setValue(7);
        Form2::SetHScrollbarByPercent(&bar, -1);
        QCOMPARE(bar.value(), 7);
        Form2::SetHScrollbarByPercent(&bar, 101);
        QCOMPARE(bar.value(), 7);
        Form2::SetVScrollbarByPercent(&bar, 100);
        QCOMPARE(bar.value(), 500);
        bar.setRange(0, 5);
        Form2::SetHScrollbarByPercent(&bar, 50);   // 2.5 goes to the even 2
        QCOMPARE(bar.value(), 2);
        Form2::SetHScrollbarByPercent(&bar, 70);   // 3.5 goes to 4
        QCOMPARE(bar.value(), 4);
    }
};

QTEST_MAIN(TestPanning)
#include "test_panning.moc"
