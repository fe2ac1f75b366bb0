// The preview at work on the real projection: each zoom step from 25 % to 200 % and back, and
// panning at 200 % by scroll bar, wheel, touchpad and drag, each timed until the window has
// repainted. One frame is 16 ms; every line prints the median and the slowest of its runs.
//
//   preview_zoom [runs]          (default 20)
//
// Run it with XDG_CONFIG_HOME and TEMP pointing at private folders, QT_QPA_PLATFORM=offscreen
// or on a display.
#include "app/form1.h"
#include "app/generationhost.h"
#include "preview/form2.h"
#include "preview/picturebox.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

namespace {

// Runs `action`, then lets the window repaint, `runs` times; `between` (untimed) after each.
void timed(const char* what, int runs, const std::function<void()>& action, const std::function<void()>& between = {})
{
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        action();
        QApplication::processEvents();
        ms.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
        if (between) {
            between();
            QApplication::processEvents();
        }
    }
    std::sort(ms.begin(), ms.end());
    std::printf("%-44s median %7.2f ms   slowest %7.2f ms\n", what, ms[ms.size() / 2], ms.back());
}

void wheel(QWidget* w, QPoint angle, QPoint pixels = {})
{
    const QPointF at(w->rect().center());
    QWheelEvent e(at, w->mapToGlobal(at), pixels, angle, Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(w, &e);
}

void mouse(QWidget* w, QEvent::Type type, QPoint at, Qt::MouseButtons held)
{
    QMouseEvent e(type, QPointF(at), w->mapToGlobal(QPointF(at)), Qt::LeftButton, held, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

} // namespace

// Brings the preview to `factor` through its zoom buttons.
void zoomTo(corvantis::Form2& preview, float factor)
{
    while (preview.view().zoom() < factor)
        preview.PushButton1_Click();
    while (preview.view().zoom() > factor)
        preview.PushButton2_Click();
}

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;

    corvantis::Form1 form;
    corvantis::MainGenerationHost generation(form);
    form.Form_Load();
    form.PushButton7_Click();   // the example figures: the projection as a user first sees it
    form.show();
    QApplication::processEvents();
    form.PushButton22()->click();
    QApplication::processEvents();
    corvantis::Form2* preview = generation.preview();
    if (!preview || !preview->isVisible()) {
        std::fprintf(stderr, "preview_zoom: the preview window did not come up\n");
        return 1;
    }
    std::printf("snapshot %d x %d pixels\n", preview->findChild<corvantis::PictureBox*>(QStringLiteral("Zoom_Ori"))->picture().width(), preview->findChild<corvantis::PictureBox*>(QStringLiteral("Zoom_Ori"))->picture().height());

    // The first step above 100 % also opens the workbook behind the picture.
    timed("first zoom in, 100 % to 125 % (opens)", 1, [&] { preview->PushButton1_Click(); });
    for (float from : {0.25f, 0.5f, 0.75f, 1.0f, 1.25f, 1.5f, 1.75f}) {
        zoomTo(*preview, from);
        QApplication::processEvents();
        char what[64];
        std::snprintf(what, sizeof what, "zoom in %3.0f %% to %3.0f %%", from * 100, from * 100 + 25);
        timed(what, runs, [&] { preview->PushButton1_Click(); }, [&] { zoomTo(*preview, from); });
    }
    zoomTo(*preview, 2.0f);
    QApplication::processEvents();
    timed("zoom out 200 % to 175 %", runs, [&] { preview->PushButton2_Click(); }, [&] { zoomTo(*preview, 2.0f); });
    std::printf("at 200 %%: a picture of %d x %d pixels, painted afresh: %s\n", preview->Picture1()->width(),
                preview->Picture1()->height(), preview->Picture1()->isPainting() ? "yes" : "no");

    // Panning at 200 %: the painted picture only moves.
    QScrollBar* v = preview->findChild<QScrollBar*>(QStringLiteral("VScroll1"));
    QScrollBar* h = preview->findChild<QScrollBar*>(QStringLiteral("HScroll1"));
    timed("pan at 200 %: vertical bar one row", runs, [&] {
        v->triggerAction(v->value() + v->singleStep() <= v->maximum() ? QAbstractSlider::SliderSingleStepAdd
                                                                       : QAbstractSlider::SliderToMinimum);
    });
    timed("pan at 200 %: horizontal bar one viewport", runs, [&] {
        h->triggerAction(h->value() + h->pageStep() <= h->maximum() ? QAbstractSlider::SliderPageStepAdd
                                                                     : QAbstractSlider::SliderToMinimum);
    });
    v->setValue(v->maximum() / 2);
    int turn = -120;
    timed("pan at 200 %: one wheel notch", runs, [&] {
        turn = -turn;
        wheel(preview->Picture1(), QPoint(0, turn));
    });
    timed("pan at 200 %: touchpad stroke of 6 pixels", runs, [&] {
        turn = -turn;
        wheel(preview->Picture1(), QPoint(0, turn), QPoint(0, turn / 20));
    });
    // Pressed and moved at the viewport's point (300, 300), in the picture's own coordinates.
    QWidget* picture = preview->Picture1();
    mouse(picture, QEvent::MouseButtonPress, QPoint(300, 300) - picture->pos(), Qt::LeftButton);
    int step = 0;
    timed("pan at 200 %: one drag movement", runs, [&] {
        const int dx = (step++ % 2 == 0) ? -12 : 12;
        mouse(picture, QEvent::MouseMove, QPoint(300 + dx, 300 + dx) - picture->pos(), Qt::LeftButton);
    });
    mouse(picture, QEvent::MouseButtonRelease, QPoint(300, 300) - picture->pos(), Qt::NoButton);
    preview->PushButton8_Click();
    QApplication::processEvents();
    return 0;
}
