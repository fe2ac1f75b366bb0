// Panning the preview: drag limits, the release that settles on the bars' whole percentage,
// and the bars moving the picture.
#include "preview/form2.h"
#include "preview/picturebox.h"
#include "preview/preview_support.h"

#include "core/dialogs.h"

#include <QScrollBar>
#include <QtTest>

using namespace corvantis;
using previewtest::ReportCollector;
using previewtest::snapshot;

namespace {

// Press, one move and release on Picture1; positions in its pixels at the time of each event.
void drag(Form2& form, QPoint from, QPoint to)
{
    QTest::mousePress(form.Picture1(), Qt::LeftButton, {}, from);
    QTest::mouseMove(form.Picture1(), to);
    QTest::mouseRelease(form.Picture1(), Qt::LeftButton, {}, to - form.Picture1()->pos());
}

void clickForwardArrow(QScrollBar* bar)
{
    const QRect r = bar->rect();
    QTest::mouseClick(bar, Qt::LeftButton, {},
                      bar->orientation() == Qt::Horizontal ? QPoint(r.right() - 3, r.center().y())
                                                           : QPoint(r.center().x(), r.bottom() - 3));
}

} // namespace

class TestPanning : public QObject {
    Q_OBJECT
private slots:
    void init() { Dialogs::setScripted(true); Dialogs::reset(); }

    // 955 x 700 pixels are 14325 x 10500 twips: 4995 and 3075 more than the viewport,
    // bar maxima 500 and 308, 10 twips per unit.
    void dragStopsAtBothEdges()
    {
        ReportCollector reports;
        Form2 form;
        form.setPicture(snapshot(955, 700));
        form.show();
        drag(form, {100, 100}, {180, 160});
        QCOMPARE(form.Picture1()->pos(), QPoint(0, 0));

        QTest::mousePress(form.Picture1(), Qt::LeftButton, {}, {600, 400});
        QTest::mouseMove(form.Picture1(), {-500, -500});
        // The far edges sit on the viewport's inner edges: 9300 - 14325, 7395 - 10500.
        QCOMPARE(form.Picture1()->left(), -5025);
        QCOMPARE(form.Picture1()->top(), -3105);
        QCOMPARE(form.HScroll1()->value(), 0);
        // 101 % is beyond the range: the bars keep their values and the picture stays.
        QTest::mouseRelease(form.Picture1(), Qt::LeftButton, {}, {100, 100});
        QCOMPARE(form.HScroll1()->value(), 0);
        QCOMPARE(form.VScroll1()->value(), 0);
        QCOMPARE(form.Picture1()->left(), -5025);
        QVERIFY(reports.reports.empty());
    }

    void releaseSettlesOnTheWholePercentage()
    {
        Form2 form;
        form.setPicture(snapshot(955, 700));
        form.show();
        drag(form, {300, 200}, {133, 200});   // left -2505: 50 % of 500 units
        QCOMPARE(form.HScroll1()->value(), 250);
        QCOMPARE(form.Picture1()->left(), -2500);
        drag(form, {300, 300}, {300, 200});   // top -1500: 49 % of 308 units = 150.92
        QCOMPARE(form.VScroll1()->value(), 151);
        QCOMPARE(form.Picture1()->top(), -1510);

        // Unchanged bar value: the picture stays where the drag left it.
        form.HScroll1()->setValue(0);
        drag(form, {300, 200}, {299, 200});
        QCOMPARE(form.Picture1()->left(), -15);
        clickForwardArrow(form.HScroll1());
        QCOMPARE(form.Picture1()->left(), -10);
    }

    void narrowPictureDragsToEitherSide()
    {
        Form2 form;
        form.setPicture(snapshot(300, 700));   // 4500 twips wide in a 9300 inside
        form.show();
        drag(form, {200, 100}, {50, 100});
        QCOMPARE(form.Picture1()->left(), 9300 - 4500);   // right-aligned
        QCOMPARE(form.HScroll1()->value(), 0);           // negative percentage leaves the bar alone
        drag(form, {50, 100}, {100, 100});
        QCOMPARE(form.Picture1()->left(), 0);
    }

    void oddSizesPanWithoutFailing()
    {
        ReportCollector reports;
        Form2 form;
        form.setPicture(snapshot(100, 100));
        form.show();
        form.Picture1()->setGeometryTwips(0, 0, 9330, 7425);   // exactly the viewport: no range
        form.ResetScrollBars();
        QTest::mouseClick(form.Picture1(), Qt::LeftButton, {}, {50, 50});
        QCOMPARE(form.Picture1()->pos(), QPoint(0, 0));

        form.Picture1()->setGeometryTwips(0, 0, 9330 + 60, 7425);   // small excess: 1 twip per unit
        form.ResetScrollBars();
        clickForwardArrow(form.HScroll1());
        QCOMPARE(form.Picture1()->left(), -1);

        form.Picture1()->setGeometryTwips(0, 0, 9330 + 400000, 3000);   // far beyond 16 bits
        form.ResetScrollBars();
        form.HScroll1()->setValue(40000);
        QCOMPARE(form.Picture1()->left(), -400000);
        form.Picture1()->setLeft(-200000);
        QTest::mouseClick(form.Picture1(), Qt::LeftButton, {}, {5, 5});
        QCOMPARE(form.HScroll1()->value(), 20000);
        QCOMPARE(form.Picture1()->left(), -200000);
        QVERIFY(reports.reports.empty());
    }

    void percentRoutineRounding()
    {
        QScrollBar bar;
        bar.setRange(0, 5);
        bar.setValue(1);
        Form2::SetHScrollbarByPercent(&bar, 101);
        QCOMPARE(bar.value(), 1);
        Form2::SetHScrollbarByPercent(&bar, 50);   // 2.5 goes to the even 2
        QCOMPARE(bar.value(), 2);
        Form2::SetVScrollbarByPercent(&bar, 70);   // 3.5 goes to 4
        QCOMPARE(bar.value(), 4);
    }
};

QTEST_MAIN(TestPanning)
#include "test_panning.moc"
