// The preview window: set-up on activation, zoom steps with their limits, scroll-bar ranges.
#include "preview/form2.h"
#include "preview/picturebox.h"
#include "preview/preview_support.h"

#include "core/dialogs.h"

#include <QPushButton>
#include <QScrollBar>
#include <QtTest>

#include <cmath>

using namespace corvantis;
using previewtest::ReportCollector;
using previewtest::snapshot;

namespace {
QColor drawnAt(const Form2& form, int x, int y) { return form.Picture1()->drawnOutput().toImage().pixelColor(x, y); }
void zoomIn(Form2& form) { QTest::mouseClick(form.PushButton1(), Qt::LeftButton); }
void zoomOut(Form2& form) { QTest::mouseClick(form.PushButton2(), Qt::LeftButton); }
} // namespace

class TestZoom : public QObject {
    Q_OBJECT
private slots:
    void init() { Dialogs::setScripted(true); Dialogs::reset(); }

    void setUpOnShowing()
    {
        Form2 form;
        QCOMPARE(form.windowTitle(), QStringLiteral("Corvantis"));
        QCOMPARE(form.size(), QSize(656, 624));
        QVERIFY(!(form.windowFlags() & Qt::WindowMaximizeButtonHint));
        form.setPicture(snapshot(700, 600));
        form.show();
        QVERIFY(!form.firstActivatePending());
        QCOMPARE(form.zoom(), 1.0f);
        QCOMPARE(form.baseWidth(), 10500);
        QCOMPARE(form.Picture1()->outerWidth(), 10500);
        QCOMPARE(form.Picture1()->outerHeight(), 9000);
        QVERIFY(form.Zoom_Ori()->isHidden() && form.Zoom_Ori()->hasPicture());
        // Excess 1170 twips: 117 units of 10; 1575 twips: nearest(157.5) = 158.
        QCOMPARE(form.HScroll1()->maximum(), 117);
        QCOMPARE(form.VScroll1()->maximum(), 158);
        QCOMPARE(form.hStep(), 10);
        // An arrow click moves a row (20 pixels), the thumb is the viewport's share.
        QCOMPARE(form.HScroll1()->singleStep(), 30);
        QCOMPARE(form.HScroll1()->pageStep(), 930);
    }

    void zoomStopsAtItsLimits()
    {
        Form2 form;
        form.setPicture(snapshot(400, 300, 200));
        form.show();
        for (float z : {1.25f, 1.5f, 1.75f, 2.0f, 2.0f, 2.0f, 2.0f, 2.0f}) {
            zoomIn(form);
            QCOMPARE(form.zoom(), z);
        }
        QCOMPARE(form.Picture1()->outerWidth(), 12000);
        // The bars describe the zoomed picture, not the unscaled one.
        QCOMPARE(form.HScroll1()->maximum(), 267);
        QVERIFY(form.HScroll1()->isEnabled());
        form.HScroll1()->setValue(50);
        QCOMPARE(form.Picture1()->left(), -500);

        for (float z : {1.75f, 1.5f, 1.25f, 1.0f, 0.75f, 0.5f, 0.25f, 0.25f}) {
            zoomOut(form);
            QCOMPARE(form.zoom(), z);
        }
        QCOMPARE(form.Picture1()->pos(), QPoint(0, 0));
        QCOMPARE(form.Picture1()->outerWidth(), 1500);
        QVERIFY(!form.HScroll1()->isEnabled() && !form.VScroll1()->isEnabled());
        QCOMPARE(form.hStep(), 0);
        zoomIn(form);   // 0.5: 200 pixels, red up to 100, blue beyond
        QCOMPARE(drawnAt(form, 50, 50), QColor(Qt::red));
        QCOMPARE(drawnAt(form, 150, 50), QColor(Qt::blue));
    }

    // A step whose picture would exceed the pixel budget changes nothing at all.
    void stepBeyondTheBudgetIsRefused()
    {
        ReportCollector reports;
        const qint64 budget = Form2::pictureBudget();
        Form2::setPictureBudget(1000 * 1000);
        Form2 form;
        form.setPicture(snapshot(800, 560));   // 448 000 pixels; 1.25 gives 700 000, 1.5 1 008 000
        form.show();
        zoomIn(form);
        form.HScroll1()->setValue(40);
        form.VScroll1()->setValue(20);
        const QImage painted = form.Picture1()->drawnOutput().toImage();
        zoomIn(form);
        QCOMPARE(form.zoom(), 1.25f);
        QCOMPARE(form.zoomWidth(), 15000);
        QCOMPARE(form.Picture1()->outerWidth(), 15000);
        QCOMPARE(form.Picture1()->drawnOutput().toImage(), painted);
        QCOMPARE(form.HScroll1()->value(), 40);
        QCOMPARE(form.VScroll1()->value(), 20);
        QCOMPARE(form.Picture1()->pos(), QPoint(-400 / 15, -200 / 15));
        zoomOut(form);
        QCOMPARE(form.Picture1()->outerWidth(), 12000);
        Form2::setPictureBudget(budget);
        QVERIFY(reports.reports.empty());
    }

    // The point at the viewport's centre stays there, zooming in and out again.
    void zoomKeepsTheCentre()
    {
        Form2 form;
        form.setPicture(snapshot(1400, 1000));
        form.show();
        form.HScroll1()->setValue(300);
        form.VScroll1()->setValue(200);
        auto centre = [&] {
            return QPointF((form.Picture2()->innerWidth() / 2.0 - form.Picture1()->left()) / form.zoom(),
                           (form.Picture2()->innerHeight() / 2.0 - form.Picture1()->top()) / form.zoom());
        };
        const QPointF before = centre();   // in twips of the unscaled picture
        for (auto step : {zoomIn, zoomIn, zoomOut, zoomOut, zoomOut}) {
            step(form);
            QVERIFY2(std::abs(centre().x() - before.x()) < 10 && std::abs(centre().y() - before.y()) < 10,
                     qPrintable(QStringLiteral("at %1: %2,%3 instead of %4,%5").arg(form.zoom()).arg(centre().x())
                                    .arg(centre().y()).arg(before.x()).arg(before.y())));
        }
        // The bars moved the picture there: their thumbs show where it is.
        QCOMPARE(form.Picture1()->left(), -form.hStep() * form.HScroll1()->value());
        QCOMPARE(form.Picture1()->top(), -form.vStep() * form.VScroll1()->value());
        QVERIFY(form.HScroll1()->hasTracking());

        // A picture that fits the viewport has no point at its centre: zooming in from there
        // keeps its top-left corner in place.
        zoomOut(form);
        zoomOut(form);
        QCOMPARE(form.zoom(), 0.25f);
        zoomIn(form);   // 700 x 500 pixels: wider than the viewport, not as high
        QCOMPARE(form.Picture1()->pos(), QPoint(0, 0));
    }

    void scrollRangeFollowsTheExcess_data()
    {
        QTest::addColumn<int>("excess");
        QTest::addColumn<int>("maximum");
        QTest::addColumn<int>("step");
        QTest::newRow("100") << 100 << 100 << 1;
        QTest::newRow("101") << 101 << 10 << 10;
        QTest::newRow("105, half to even") << 105 << 10 << 10;
        QTest::newRow("115, half to even") << 115 << 12 << 10;
        QTest::newRow("beyond 16 bits") << 400000 << 40000 << 10;
        QTest::newRow("equal") << 0 << 32767 << 0;
        QTest::newRow("narrower") << -500 << 32767 << 0;
    }
    void scrollRangeFollowsTheExcess()
    {
        QFETCH(int, excess);
        QFETCH(int, maximum);
        QFETCH(int, step);
        Form2 form;
        form.setPicture(snapshot(100, 100));
        form.show();
        form.HScroll1()->setMaximum(32767);   // the bar's design maximum stays when it is disabled
        form.Picture1()->setGeometryTwips(-300, -300, 9330 + excess, 3000);
        form.ResetScrollBars();
        QCOMPARE(form.Picture1()->pos(), QPoint(0, 0));
        QCOMPARE(form.HScroll1()->maximum(), maximum);
        QCOMPARE(form.hStep(), step);
        QCOMPARE(form.HScroll1()->isEnabled(), step != 0);
    }

    void newSnapshotIsSetUpAgain()
    {
        QWidget main;
        Form2 form;
        form.setMainWindow(&main);
        form.setPicture(snapshot(400, 300, 400));   // all red
        form.show();
        zoomIn(form);
        zoomIn(form);
        QTest::mouseClick(form.PushButton8(), Qt::LeftButton);
        form.setPicture(snapshot(500, 200, 0));   // all blue, another size
        form.show();
        QCOMPARE(form.zoom(), 1.0f);
        QCOMPARE(form.baseWidth(), 7500);
        zoomOut(form);
        QCOMPARE(form.Picture1()->outerWidth(), 5625);
        QCOMPARE(drawnAt(form, 100, 50), QColor(Qt::blue));
    }

    void missingSnapshotIsReported()
    {
        ReportCollector reports;
        Form2 form;
        form.show();
        QCOMPARE(reports.reports.size(), size_t(1));
        QCOMPARE(reports.reports[0].location, QStringLiteral("in Marrowfen2021/08/31.Form2.RedrawImage "));
        QCOMPARE(reports.reports[0].step, 112);
        zoomIn(form);
        QCOMPARE(form.zoom(), 1.25f);
    }
};

QTEST_MAIN(TestZoom)
#include "test_zoom.moc"
