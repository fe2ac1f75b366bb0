// The preview's zoom and pan arithmetic on its own, without a window: the factors at both ends,
// the pixel budget, the centre kept across a zoom, the bars' ranges and the wheel's remainders.
#include "preview/zoompan.h"

#include <QtTest>

#include <cmath>

using namespace corvantis;

class TestZoomPan : public QObject {
    Q_OBJECT
private slots:
    void stepsStopAtBothEnds()
    {
        ZoomPan view;
        view.setUp(6000, 4500);
        for (int i = 0; i < 8; ++i)   // four steps reach 2.0, the next ones are no factors
            if (ZoomPan::isZoomFactor(view.stepped(0)))
                QVERIFY(view.zoomTo(view.stepped(0), 1.0));
        QCOMPARE(view.zoom(), 2.0f);
        QCOMPARE(view.zoomWidth(), 12000);
        QCOMPARE(view.stepped(0), 2.25f);
        QVERIFY(!ZoomPan::isZoomFactor(view.stepped(0)));
        for (int i = 0; i < 8; ++i)
            if (ZoomPan::isZoomFactor(view.stepped(1)))
                view.zoomTo(view.stepped(1), 1.0);
        QCOMPARE(view.zoom(), 0.25f);
        QCOMPARE(view.zoomHeight(), 1125);
        QVERIFY(!ZoomPan::isZoomFactor(view.stepped(1)));
        // An arrow's row shrinks with the picture, but never below half a row.
        QCOMPARE(view.rowTwips(), 150);
    }

    // 800 x 560 pixels: 1.25 gives 700 000 pixels, 1.5 gives 1 008 000.
    void factorBeyondTheBudgetIsRefused()
    {
        const qint64 budget = ZoomPan::pictureBudget();
        ZoomPan::setPictureBudget(1000 * 1000);
        ZoomPan view;
        view.setUp(12000, 8400);
        QVERIFY(view.zoomTo(1.25f, 1.0));
        QVERIFY(!view.zoomTo(1.5f, 1.0));
        QCOMPARE(view.zoom(), 1.25f);
        QCOMPARE(view.zoomWidth(), 15000);
        // On a screen of twice the density even 1.25 is too large, while shrinking always goes.
        QVERIFY(view.zoomTo(0.75f, 2.0));
        QVERIFY(!view.zoomTo(1.25f, 2.0));
        QCOMPARE(view.zoom(), 0.75f);
        QCOMPARE(view.zoomWidth(), 9000);
        // Exactly the budget is within it.
        QVERIFY(!ZoomPan::exceedsBudget(1000, 1000, 1.0));
        QVERIFY(ZoomPan::exceedsBudget(1001, 1000, 1.0));
        ZoomPan::setPictureBudget(budget);
    }

    void scrollRangeForSmallAndLargePictures()
    {
        ZoomPan view;
        // Narrower than the viewport, or as wide: no unit, the bar is disabled.
        QCOMPARE(view.setScrollRange(Qt::Horizontal, 4000, 9330).unit, 0);
        QCOMPARE(view.setScrollRange(Qt::Vertical, 7425, 7425).unit, 0);
        QCOMPARE(view.arrowUnits(Qt::Horizontal), 0);
        // Up to 100 twips over, units of one twip; beyond, units of ten.
        auto range = view.setScrollRange(Qt::Horizontal, 9430, 9330);
        QCOMPARE(range.unit, 1);
        QCOMPARE(range.maximum, 100);
        QCOMPARE(view.hStep(), 1);
        range = view.setScrollRange(Qt::Vertical, 7425 + 105, 7425);
        QCOMPARE(range.unit, 10);
        QCOMPARE(range.maximum, 10);   // 10.5 goes to the even neighbour
        QCOMPARE(view.vStep(), 10);
        QCOMPARE(view.arrowUnits(Qt::Vertical), 30);
        QCOMPARE(view.pageUnits(Qt::Vertical, 7395), 739);
        // A bar's value moves the edge by its unit, far beyond 16 bits too.
        view.setScrollRange(Qt::Horizontal, 9330 + 400000, 9330);
        QCOMPARE(view.edgeFor(Qt::Horizontal, 40000), -400000);
        // A picture as wide as the viewport stands at 0 % of no range.
        QCOMPARE(ZoomPan::percentOfRange(0, 9330, 9330), 0);
    }

    // The point at the centre of a 9300-twip viewport stays there when the picture doubles.
    void centreIsKeptAcrossAZoom()
    {
        ZoomPan view;
        const double share = ZoomPan::centreShare(9300, 21000, -3000);   // 7650 of 21000
        QCOMPARE(share, 7650.0 / 21000);
        view.setScrollRange(Qt::Horizontal, 42000, 9330);
        const std::optional<int> value = view.centredValue(Qt::Horizontal, share, 9300, 42000, 3267);
        QVERIFY(value);
        const int edge = view.edgeFor(Qt::Horizontal, *value);
        QVERIFY(std::abs(9300 / 2.0 - edge - 2 * 7650) <= 5);
        // Held to the bar's range; a picture that fits has no centre to keep.
        QCOMPARE(view.centredValue(Qt::Horizontal, 0.99, 9300, 42000, 3267), std::optional<int>(3267));
        QCOMPARE(ZoomPan::centreShare(9300, 9000, 0), -1.0);
        QCOMPARE(view.centredValue(Qt::Horizontal, -1.0, 9300, 42000, 3267), std::nullopt);
    }

    void wheelRemaindersAddUp()
    {
        ZoomPan view;
        view.setScrollRange(Qt::Vertical, 7425 + 22580, 7425);   // maximum 2258, 10 twips a unit
        auto pan = [&](double twips, int from, bool movable = true) {
            return view.panBy(Qt::Vertical, twips, from, 2258, movable);
        };
        QCOMPARE(pan(105, 100), std::optional<int>(110));   // 5 twips kept
        QCOMPARE(pan(15, 110), std::optional<int>(112));
        QCOMPARE(pan(9, 112), std::optional<int>(112));
        // A bar that cannot move forgets the rest, and so does an end.
        QCOMPARE(pan(5, 112, false), std::nullopt);
        QCOMPARE(pan(1, 112), std::optional<int>(112));
        QCOMPARE(pan(100005, 112), std::optional<int>(2258));
        QCOMPARE(pan(-14, 2258), std::optional<int>(2257));
        QCOMPARE(view.panBy(Qt::Horizontal, 500, 0, 100, true), std::nullopt);   // no unit across

        QCOMPARE(view.zoomNotches(60), 0);
        QCOMPARE(view.zoomNotches(60), 1);
        QCOMPARE(view.zoomNotches(300), 2);   // 60 left over
        QCOMPARE(view.zoomNotches(-100), 0);  // the other way starts afresh
        QCOMPARE(view.zoomNotches(-140), -2);
    }
};

QTEST_GUILESS_MAIN(TestZoomPan)
#include "test_zoompan.moc"
