// Panning the preview: drag limits, the release that settles on the bars' whole percentage,
// and the bars moving the picture.
#include "preview/form2.h"
#include "preview/picturebox.h"
#include "preview/preview_support.h"

#include "core/dialogs.h"
#include "core/settingsstore.h"

#include <QPushButton>
#include <QScrollBar>
#include <QtTest>

using namespace corvantis;
using previewtest::ReportCollector;
using previewtest::snapshot;
using previewtest::HScroll1, previewtest::VScroll1, previewtest::PushButton6;

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

// A wheel turn (angle, in eighths of a degree) or touchpad stroke (pixels) over a widget.
void turnWheel(QWidget* w, QPoint angle, Qt::KeyboardModifiers modifiers = {}, QPoint pixels = {})
{
    const QPointF at(w->rect().center());
    QWheelEvent e(at, w->mapToGlobal(at), pixels, angle, Qt::NoButton, modifiers, Qt::NoScrollPhase, false);
    QApplication::sendEvent(w, &e);
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
        QCOMPARE(HScroll1(form)->value(), 0);
        // 101 % is beyond the range: the thumbs go to the end, the picture stays where it was let go.
        QTest::mouseRelease(form.Picture1(), Qt::LeftButton, {}, {100, 100});
        QCOMPARE(HScroll1(form)->value(), 500);
        QCOMPARE(VScroll1(form)->value(), 308);
        QCOMPARE(form.Picture1()->left(), -5025);
        QCOMPARE(form.Picture1()->top(), -3105);
        QVERIFY(reports.reports.empty());
    }

    void releaseSettlesOnTheWholePercentage()
    {
        Form2 form;
        form.setPicture(snapshot(955, 700));
        form.show();
        drag(form, {300, 200}, {133, 200});   // left -2505: 50 % of 500 units
        QCOMPARE(HScroll1(form)->value(), 250);
        QCOMPARE(form.Picture1()->left(), -2500);
        drag(form, {300, 300}, {300, 200});   // top -1500: 49 % of 308 units = 150.92
        QCOMPARE(VScroll1(form)->value(), 151);
        QCOMPARE(form.Picture1()->top(), -1510);

        // Unchanged bar value: the picture stays where the drag left it.
        HScroll1(form)->setValue(0);
        drag(form, {300, 200}, {299, 200});
        QCOMPARE(form.Picture1()->left(), -15);
        // An arrow click moves about one row: 300 twips, 20 pixels.
        clickForwardArrow(HScroll1(form));
        QCOMPARE(form.Picture1()->left(), -300);
    }

    // A picture narrower than the viewport stays put across, and still pans down.
    void narrowPictureDoesNotMoveAcross()
    {
        Form2 form;
        form.setPicture(snapshot(300, 700));   // 4500 twips wide in a 9300 inside
        form.show();
        drag(form, {200, 300}, {50, 200});
        QCOMPARE(form.Picture1()->left(), 0);
        QCOMPARE(form.Picture1()->top(), -1510);   // 1500 is 49 % of the range: 151 units
        QCOMPARE(HScroll1(form)->value(), 0);
        QCOMPARE(VScroll1(form)->value(), 151);
    }

    // 955 x 2000 pixels: bar maxima 500 and 2258, 30 units a row, a viewport of 930 and 739 units.
    void wheelAndKeysPan()
    {
        QTemporaryDir config;
        SettingsStore store(config.filePath(QStringLiteral("settings.ini")));
        Form2 form;
        form.setSettingsStore(&store);
        form.setPicture(snapshot(955, 2000));
        form.show();
        form.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        QCOMPARE(VScroll1(form)->pageStep(), 739);   // the thumb's share of the bar
        const int lines = QApplication::wheelScrollLines();

        turnWheel(form.Picture1(), {0, -120});   // a notch down: as many rows as the system says
        QCOMPARE(VScroll1(form)->value(), 30 * lines);
        QCOMPARE(form.Picture1()->top(), -300 * lines);
        turnWheel(form.Picture1(), {0, -120}, Qt::ShiftModifier);
        QCOMPARE(HScroll1(form)->value(), 30 * lines);
        QCOMPARE(form.Picture1()->left(), -300 * lines);
        turnWheel(HScroll1(form), {0, 120});   // over the bar across, the wheel pans across
        QCOMPARE(HScroll1(form)->value(), 0);
        // A touchpad's strokes add up: 7 pixels are 105 twips, 10 units and 5 twips kept.
        const int before = VScroll1(form)->value();
        turnWheel(form.Picture1(), {}, {}, {0, -7});
        QCOMPARE(VScroll1(form)->value(), before + 10);
        turnWheel(form.Picture1(), {}, {}, {0, -1});
        QCOMPARE(VScroll1(form)->value(), before + 12);

        // The keys pan even while a button has the focus.
        PushButton6(form)->setFocus();
        VScroll1(form)->setValue(0);
        QTest::keyClick(&form, Qt::Key_Down);
        QCOMPARE(VScroll1(form)->value(), 30);
        QTest::keyClick(&form, Qt::Key_PageDown);
        QCOMPARE(VScroll1(form)->value(), 769);
        QCOMPARE(form.Picture1()->top(), -7690);
        QTest::keyClick(&form, Qt::Key_End);
        QCOMPARE(VScroll1(form)->value(), 2258);
        QTest::keyClick(&form, Qt::Key_Home);
        QCOMPARE(VScroll1(form)->value(), 0);
        QTest::keyClick(&form, Qt::Key_Right);
        QCOMPARE(HScroll1(form)->value(), 30);
        QTest::keyClick(&form, Qt::Key_End, Qt::ShiftModifier);
        QCOMPARE(HScroll1(form)->value(), 500);
        QCOMPARE(form.Picture1()->left(), -5000);

        // Ctrl with the wheel or with plus and minus zooms; Ctrl+S saves.
        turnWheel(form.Picture1(), {0, 120}, Qt::ControlModifier);
        QCOMPARE(form.view().zoom(), 1.25f);
        turnWheel(form.Picture1(), {0, 60}, Qt::ControlModifier);   // half a notch: not yet
        QCOMPARE(form.view().zoom(), 1.25f);
        turnWheel(form.Picture1(), {0, 60}, Qt::ControlModifier);
        QCOMPARE(form.view().zoom(), 1.5f);
        QTest::keyClick(&form, Qt::Key_Minus, Qt::ControlModifier);
        QCOMPARE(form.view().zoom(), 1.25f);
        QTest::keyClick(&form, Qt::Key_Plus, Qt::ControlModifier);
        QCOMPARE(form.view().zoom(), 1.5f);
        QTest::keyClick(&form, Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(Dialogs::saveRequests().size(), size_t(1));
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
        clickForwardArrow(HScroll1(form));   // one row is more than the whole range
        QCOMPARE(form.Picture1()->left(), -60);

        form.Picture1()->setGeometryTwips(0, 0, 9330 + 400000, 3000);   // far beyond 16 bits
        form.ResetScrollBars();
        HScroll1(form)->setValue(40000);
        QCOMPARE(form.Picture1()->left(), -400000);
        form.Picture1()->setLeft(-200000);
        QTest::mouseClick(form.Picture1(), Qt::LeftButton, {}, {5, 5});
        QCOMPARE(HScroll1(form)->value(), 20000);
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
