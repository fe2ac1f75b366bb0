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
using previewtest::HScroll1, previewtest::VScroll1, previewtest::Picture2, previewtest::Zoom_Ori;
using previewtest::PushButton1, previewtest::PushButton2, previewtest::PushButton8;

namespace {
QColor drawnAt(const Form2& form, int x, int y) { return form.Picture1()->drawnOutput().toImage().pixelColor(x, y); }
void zoomIn(Form2& form) { QTest::mouseClick(PushButton1(form), Qt::LeftButton); }
void zoomOut(Form2& form) { QTest::mouseClick(PushButton2(form), Qt::LeftButton); }
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
        // It opens at its design size and may be resized and maximised from there.
        QVERIFY(form.windowFlags() & Qt::WindowMaximizeButtonHint);
        QCOMPARE(form.minimumSize(), QSize(656, 624));
        form.setPicture(snapshot(700, 600));
        form.show();
        QVERIFY(!form.view().setUpPending());
        QCOMPARE(form.view().zoom(), 1.0f);
        QCOMPARE(form.view().baseWidth(), 10500);
        QCOMPARE(form.Picture1()->outerWidth(), 10500);
        QCOMPARE(form.Picture1()->outerHeight(), 9000);
        QVERIFY(Zoom_Ori(form)->isHidden() && Zoom_Ori(form)->hasPicture());
        // Excess 1170 twips: 117 units of 10; 1575 twips: nearest(157.5) = 158.
        QCOMPARE(HScroll1(form)->maximum(), 117);
        QCOMPARE(VScroll1(form)->maximum(), 158);
        QCOMPARE(form.view().hStep(), 10);
        // An arrow click moves a row (20 pixels), the thumb is the viewport's share.
        QCOMPARE(HScroll1(form)->singleStep(), 30);
        QCOMPARE(HScroll1(form)->pageStep(), 930);
    }

    void zoomStopsAtItsLimits()
    {
        Form2 form;
        form.setPicture(snapshot(400, 300, 200));
        form.show();
        for (float z : {1.25f, 1.5f, 1.75f, 2.0f, 2.0f, 2.0f, 2.0f, 2.0f}) {
            zoomIn(form);
            QCOMPARE(form.view().zoom(), z);
        }
        QCOMPARE(form.Picture1()->outerWidth(), 12000);
        // The bars describe the zoomed picture, not the unscaled one.
        QCOMPARE(HScroll1(form)->maximum(), 267);
        QVERIFY(HScroll1(form)->isEnabled());
        HScroll1(form)->setValue(50);
        QCOMPARE(form.Picture1()->left(), -500);

        for (float z : {1.75f, 1.5f, 1.25f, 1.0f, 0.75f, 0.5f, 0.25f, 0.25f}) {
            zoomOut(form);
            QCOMPARE(form.view().zoom(), z);
        }
        QCOMPARE(form.Picture1()->pos(), QPoint(0, 0));
        QCOMPARE(form.Picture1()->outerWidth(), 1500);
        QVERIFY(!HScroll1(form)->isEnabled() && !VScroll1(form)->isEnabled());
        QCOMPARE(form.view().hStep(), 0);
        zoomIn(form);   // 0.5: 200 pixels, red up to 100, blue beyond
        QCOMPARE(drawnAt(form, 50, 50), QColor(Qt::red));
        QCOMPARE(drawnAt(form, 150, 50), QColor(Qt::blue));
    }

    // A step whose picture would exceed the pixel budget changes nothing at all.
    void stepBeyondTheBudgetIsRefused()
    {
        ReportCollector reports;
        const qint64 budget = ZoomPan::pictureBudget();
        ZoomPan::setPictureBudget(1000 * 1000);
        Form2 form;
        form.setPicture(snapshot(800, 560));   // 448 000 pixels; 1.25 gives 700 000, 1.5 1 008 000
        form.show();
        zoomIn(form);
        HScroll1(form)->setValue(40);
        VScroll1(form)->setValue(20);
        const QImage painted = form.Picture1()->drawnOutput().toImage();
        zoomIn(form);
        QCOMPARE(form.view().zoom(), 1.25f);
        QCOMPARE(form.view().zoomWidth(), 15000);
        QCOMPARE(form.Picture1()->outerWidth(), 15000);
        QCOMPARE(form.Picture1()->drawnOutput().toImage(), painted);
        QCOMPARE(HScroll1(form)->value(), 40);
        QCOMPARE(VScroll1(form)->value(), 20);
        QCOMPARE(form.Picture1()->pos(), QPoint(-400 / 15, -200 / 15));
        zoomOut(form);
        QCOMPARE(form.Picture1()->outerWidth(), 12000);
        ZoomPan::setPictureBudget(budget);
        QVERIFY(reports.reports.empty());
    }

    // The point at the viewport's centre stays there, zooming in and out again.
    void zoomKeepsTheCentre()
    {
        Form2 form;
        form.setPicture(snapshot(1400, 1000));
        form.show();
        HScroll1(form)->setValue(300);
        VScroll1(form)->setValue(200);
        auto centre = [&] {
            return QPointF((Picture2(form)->innerWidth() / 2.0 - form.Picture1()->left()) / form.view().zoom(),
                           (Picture2(form)->innerHeight() / 2.0 - form.Picture1()->top()) / form.view().zoom());
        };
        const QPointF before = centre();   // in twips of the unscaled picture
        for (auto step : {zoomIn, zoomIn, zoomOut, zoomOut, zoomOut}) {
            step(form);
            QVERIFY2(std::abs(centre().x() - before.x()) < 10 && std::abs(centre().y() - before.y()) < 10,
                     qPrintable(QStringLiteral("at %1: %2,%3 instead of %4,%5").arg(form.view().zoom()).arg(centre().x())
                                    .arg(centre().y()).arg(before.x()).arg(before.y())));
        }
        // The bars moved the picture there: their thumbs show where it is.
        QCOMPARE(form.Picture1()->left(), -form.view().hStep() * HScroll1(form)->value());
        QCOMPARE(form.Picture1()->top(), -form.view().vStep() * VScroll1(form)->value());
        QVERIFY(HScroll1(form)->hasTracking());

        // A picture that fits the viewport has no point at its centre: zooming in from there
        // keeps its top-left corner in place.
        zoomOut(form);
        zoomOut(form);
        QCOMPARE(form.view().zoom(), 0.25f);
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
        HScroll1(form)->setMaximum(32767);   // the bar's design maximum stays when it is disabled
        form.Picture1()->setGeometryTwips(-300, -300, 9330 + excess, 3000);
        form.ResetScrollBars();
        QCOMPARE(form.Picture1()->pos(), QPoint(0, 0));
        QCOMPARE(HScroll1(form)->maximum(), maximum);
        QCOMPARE(form.view().hStep(), step);
        QCOMPARE(HScroll1(form)->isEnabled(), step != 0);
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
        QTest::mouseClick(PushButton8(form), Qt::LeftButton);
        form.setPicture(snapshot(500, 200, 0));   // all blue, another size
        form.show();
        QCOMPARE(form.view().zoom(), 1.0f);
        QCOMPARE(form.view().baseWidth(), 7500);
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
        QCOMPARE(form.view().zoom(), 1.25f);
    }
};

QTEST_MAIN(TestZoom)
#include "test_zoom.moc"
