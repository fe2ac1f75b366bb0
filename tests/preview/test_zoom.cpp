// The preview window: layout, the set-up on activation, zoom steps and their limits,
// and the scroll-bar ranges.
#include "preview/form2.h"
#include "preview/picturebox.h"
#include "preview/preview_support.h"

#include "app/dialogs.h"

#include <QGroupBox>
#include <QPushButton>
#include <QScrollBar>
#include <QtTest>

using namespace corvantis;
using previewtest::ReportCollector;
using previewtest::snapshot;

namespace {

QColor drawnAt(const Form2& form, int x, int y)
{
    return form.Picture1->drawnOutput().toImage().pixelColor(x, y);
}

void zoomIn(Form2& form)
{
    QTest::mouseClick(form.PushButton1, Qt::LeftButton);
}

void zoomOut(Form2& form)
{
    QTest::mouseClick(form.PushButton2, Qt::LeftButton);
}

} // namespace

class TestZoom : public QObject {
    Q_OBJECT
private slots:
    void init() { Dialogs::setScripted(true); Dialogs::reset(); }

    void windowLayout()
    {
        Form2 form;
        QCOMPARE(form.windowTitle(), QStringLiteral("Corvantis"));
        QCOMPARE(form.size(), QSize(656, 624));
        QCOMPARE(form.minimumSize(), form.maximumSize());
        QVERIFY(!(form.windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(form.windowFlags() & Qt::WindowMinimizeButtonHint);
        QVERIFY(form.font().bold());
        QCOMPARE(form.font().family(), QStringLiteral("Arial"));

        QCOMPARE(form.Picture2->outerWidth(), 9330);
        QCOMPARE(form.Picture2->innerWidth(), 9300);
        QCOMPARE(form.Picture2->innerHeight(), 7395);
        QCOMPARE(form.Picture2->geometry(), QRect(8, 8, 622, 495));
        QCOMPARE(form.HScroll1->geometry(), QRect(8, 503, 622, 17));
        QCOMPARE(form.VScroll1->geometry(), QRect(630, 8, 17, 495));
        QVERIFY(form.Picture1->parentWidget()->parentWidget() == form.Picture2);
        QVERIFY(form.Zoom_Ori->isHidden());

        QCOMPARE(form.Frame1->title(), QStringLiteral("Zoom:"));
        QCOMPARE(form.PushButton1->text(), QStringLiteral("Zoom In"));
        QCOMPARE(form.PushButton2->text(), QStringLiteral("Zoom Out"));
        QCOMPARE(form.PushButton6->text(), QStringLiteral("Save Results To Excel File"));
        QCOMPARE(form.PushButton8->text(), QStringLiteral("< Back"));
        QCOMPARE(form.PushButton6->font().pointSizeF(), 11.25);
        QCOMPARE(form.PushButton1->parentWidget(), form.Frame1);
        for (const char* name : {"Picture1", "Picture2", "Zoom_Ori", "HScroll1", "VScroll1", "Frame1", "PushButton1",
                                 "PushButton2", "PushButton6", "PushButton8"})
            QVERIFY2(form.findChild<QWidget*>(QString::fromLatin1(name)), name);
        QCOMPARE(form.Picture1->property("kind").toString(), QStringLiteral("PictureBox"));
        QCOMPARE(form.HScroll1->property("kind").toString(), QStringLiteral("ScrollBar"));
        QCOMPARE(form.PushButton8->property("kind").toString(), QStringLiteral("PushButton"));
        // The picture boxes stay white under the window's colours.
        QCOMPARE(form.Picture2->palette().color(QPalette::Window), QColor(Qt::white));
    }

    void setUpOnActivation()
    {
        Form2 form;
        form.setPicture(snapshot(700, 600));
        QVERIFY(form.firstActivatePending());
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QVERIFY(!form.firstActivatePending());

        QCOMPARE(form.zoom(), 1.0f);
        QCOMPARE(form.baseWidth(), 10500);
        QCOMPARE(form.baseHeight(), 9000);
        QCOMPARE(form.Picture1->outerWidth(), 10500);
        QCOMPARE(form.Picture1->outerHeight(), 9000);
        QCOMPARE(form.Picture1->pos(), QPoint(0, 0));
        QVERIFY(!form.Picture1->hasPicture());   // the box shows its drawn output from now on
        QVERIFY(form.Zoom_Ori->hasPicture());

        // 10500 - 9330 = 1170 twips: 117 units of 10; 9000 - 7425 = 1575: nearest(157.5) = 158.
        QCOMPARE(form.hStep(), 10);
        QCOMPARE(form.HScroll1->maximum(), 117);
        QCOMPARE(form.vStep(), 10);
        QCOMPARE(form.VScroll1->maximum(), 158);
        QVERIFY(form.HScroll1->isEnabled());
        QVERIFY(form.VScroll1->isEnabled());
        QCOMPARE(form.HScroll1->minimum(), 0);
    }

    void zoomInStopsAtTwo()
    {
        Form2 form;
        form.setPicture(snapshot(400, 300));
        form.show();
        const float expected[] = {1.25f, 1.5f, 1.75f, 2.0f, 2.0f, 2.0f, 2.0f, 2.0f};
        for (float z : expected) {
            zoomIn(form);
            QCOMPARE(form.zoom(), z);
        }
        QCOMPARE(form.zoomWidth(), 12000);
        QCOMPARE(form.zoomHeight(), 9000);
        QCOMPARE(form.Picture1->outerWidth(), 12000);
        QCOMPARE(form.Picture1->outerHeight(), 9000);
        // The bars describe the zoomed picture: 12000 - 9330 = 2670 twips, 9000 - 7425 = 1575.
        QCOMPARE(form.HScroll1->maximum(), 267);
        QCOMPARE(form.VScroll1->maximum(), 158);
        QCOMPARE(form.hStep(), 10);
        QVERIFY(form.HScroll1->isEnabled());
    }

    void zoomOutStopsAtAQuarter()
    {
        Form2 form;
        form.setPicture(snapshot(400, 300));
        form.show();
        const float expected[] = {0.75f, 0.5f, 0.25f, 0.25f, 0.25f};
        for (float z : expected) {
            zoomOut(form);
            QCOMPARE(form.zoom(), z);
        }
        QCOMPARE(form.Picture1->outerWidth(), 1500);
        QCOMPARE(form.Picture1->outerHeight(), 1125);
        QVERIFY(!form.HScroll1->isEnabled());
        QVERIFY(!form.VScroll1->isEnabled());
        QCOMPARE(form.hStep(), 0);
        QCOMPARE(form.vStep(), 0);

        // Zooming in again until the picture outgrows the viewport enables the bars.
        for (int i = 0; i < 7; ++i)
            zoomIn(form);
        QCOMPARE(form.zoom(), 2.0f);
        QVERIFY(form.HScroll1->isEnabled());
        QVERIFY(form.VScroll1->isEnabled());
    }

    void zoomPaintsTheScaledPicture()
    {
        Form2 form;
        form.setPicture(snapshot(400, 300, 200));
        form.show();
        zoomOut(form);
        zoomOut(form);
        QCOMPARE(form.zoom(), 0.5f);
        // 200 pixels wide: red left of 100, blue from 100.
        QCOMPARE(drawnAt(form, 50, 50), QColor(Qt::red));
        QCOMPARE(drawnAt(form, 150, 50), QColor(Qt::blue));
        zoomIn(form);
        zoomIn(form);
        zoomIn(form);
        QCOMPARE(form.zoom(), 1.25f);
        QCOMPARE(drawnAt(form, 240, 50), QColor(Qt::red));
        QCOMPARE(drawnAt(form, 260, 50), QColor(Qt::blue));
    }

    void zoomResetsThePanning()
    {
        Form2 form;
        form.setPicture(snapshot(800, 600));
        form.show();
        form.HScroll1->setValue(50);
        form.VScroll1->setValue(20);
        QCOMPARE(form.Picture1->left(), -500);
        QCOMPARE(form.Picture1->top(), -200);
        zoomIn(form);
        QCOMPARE(form.HScroll1->value(), 0);
        QCOMPARE(form.VScroll1->value(), 0);
        QCOMPARE(form.Picture1->pos(), QPoint(0, 0));
    }

    void tooWideResetsWithoutRepaint()
    {
        ReportCollector reports;
        Form2 form;
        form.setPicture(snapshot(1360, 300));   // 20400 twips wide
        form.show();
        zoomIn(form);
        QCOMPARE(form.zoom(), 1.25f);
        QCOMPARE(form.Picture1->outerWidth(), 25500);
        const QImage painted = form.Picture1->drawnOutput().toImage();

        zoomIn(form);   // 1.5 would be 30600 wide
        QCOMPARE(form.zoom(), 1.0f);
        QCOMPARE(form.zoomWidth(), 20400);
        QCOMPARE(form.Picture1->outerWidth(), 25500);   // the 1.25 picture stays
        QCOMPARE(form.Picture1->drawnOutput().toImage(), painted);

        zoomIn(form);
        QCOMPARE(form.zoom(), 1.25f);
        QCOMPARE(form.Picture1->outerWidth(), 25500);
        zoomIn(form);
        zoomOut(form);
        QCOMPARE(form.zoom(), 0.75f);
        QCOMPARE(form.Picture1->outerWidth(), 15300);
        QVERIFY(reports.reports.empty());
    }

    void heightLimitIsStrict()
    {
        Form2 form;
        form.setPicture(snapshot(300, 800));   // 12000 twips tall
        form.show();
        zoomIn(form);
        QCOMPARE(form.zoom(), 1.25f);
        QCOMPARE(form.Picture1->outerHeight(), 15000);
        zoomIn(form);   // exactly 18000 is already too tall
        QCOMPARE(form.zoom(), 1.0f);
        QCOMPARE(form.Picture1->outerHeight(), 15000);
    }

    void scrollRangeFollowsTheExcess_data()
    {
        QTest::addColumn<int>("excess");
        QTest::addColumn<int>("maximum");
        QTest::addColumn<int>("step");
        QTest::newRow("1 twip") << 1 << 1 << 1;
        QTest::newRow("100 twips") << 100 << 100 << 1;
        QTest::newRow("101 twips") << 101 << 10 << 10;
        QTest::newRow("105 twips, half to even") << 105 << 10 << 10;
        QTest::newRow("115 twips, half to even") << 115 << 12 << 10;
        QTest::newRow("beyond 16 bits") << 400000 << 40000 << 10;
    }
    void scrollRangeFollowsTheExcess()
    {
        QFETCH(int, excess);
        QFETCH(int, maximum);
        QFETCH(int, step);
        Form2 form;
        form.setPicture(snapshot(100, 100));
        form.show();
        form.Picture1->setGeometryTwips(-300, -300, 9330 + excess, 7425 + excess);
        form.ResetScrollBars();
        QCOMPARE(form.Picture1->left(), 0);
        QCOMPARE(form.Picture1->top(), 0);
        QCOMPARE(form.HScroll1->maximum(), maximum);
        QCOMPARE(form.hStep(), step);
        QCOMPARE(form.VScroll1->maximum(), maximum);
        QCOMPARE(form.vStep(), step);
        QVERIFY(form.HScroll1->isEnabled());
        QCOMPARE(form.HScroll1->value(), 0);
    }

    void narrowPictureDisablesTheBar()
    {
        Form2 form;
        form.setPicture(snapshot(300, 800));
        form.show();
        QVERIFY(!form.HScroll1->isEnabled());
        QCOMPARE(form.hStep(), 0);
        QVERIFY(form.VScroll1->isEnabled());
        // The same size as the viewport has nothing to scroll either.
        form.Picture1->setGeometryTwips(0, 0, 9330, 7425);
        form.ResetScrollBars();
        QVERIFY(!form.HScroll1->isEnabled());
        QVERIFY(!form.VScroll1->isEnabled());
        QCOMPARE(form.vStep(), 0);
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
        QCOMPARE(form.zoom(), 1.5f);
        form.HScroll1->setValue(5);
        QTest::mouseClick(form.PushButton8, Qt::LeftButton);
        QVERIFY(form.isHidden());

        form.setPicture(snapshot(500, 200, 0));   // all blue, another size
        form.show();
        main.hide();
        QCOMPARE(form.zoom(), 1.0f);
        QCOMPARE(form.baseWidth(), 7500);
        QCOMPARE(form.baseHeight(), 3000);
        QCOMPARE(form.Picture1->pos(), QPoint(0, 0));
        zoomOut(form);
        QCOMPARE(form.Picture1->outerWidth(), 5625);
        QCOMPARE(drawnAt(form, 100, 50), QColor(Qt::blue));
    }

    void missingSnapshotIsReportedAndTheWindowStaysUsable()
    {
        ReportCollector reports;
        Form2 form;
        form.show();
        QCOMPARE(reports.reports.size(), size_t(1));
        QCOMPARE(reports.reports[0].location, QStringLiteral("in Marrowfen2021/08/31.Form2.RedrawImage "));
        QCOMPARE(reports.reports[0].step, 112);
        QVERIFY(!form.firstActivatePending());
        zoomIn(form);
        QCOMPARE(form.zoom(), 1.25f);
    }

    void laterActivationsKeepTheZoom()
    {
        Form2 form;
        form.setPicture(snapshot(400, 300));
        form.show();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        zoomIn(form);
        form.Form_Activate();
        QCOMPARE(form.zoom(), 1.25f);
        QCOMPARE(form.Picture1->outerWidth(), 7500);
    }
};

QTEST_MAIN(TestZoom)
#include "test_zoom.moc"
