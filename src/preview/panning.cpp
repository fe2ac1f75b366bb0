// Panning the preview: dragging mPicture1 inside mPicture2, the scroll bars, the wheel and
// the keys.
#include "preview/form2.h"

#include "core/guard.h"
#include "core/twips.h"
#include "preview/picturebox.h"

#include <QApplication>
#include <QKeySequence>
#include <QScrollBar>
#include <QShortcut>
#include <QSignalBlocker>
#include <QWheelEvent>

#include <optional>

namespace corvantis {

void Form2::picture1_MouseDown(Qt::MouseButtons, float x, float y)
{
    mView.pressAt(x, y);   // 100, 102
}

void Form2::picture1_MouseMove(Qt::MouseButtons buttons, float x, float y)
{
    if (buttons == Qt::NoButton)   // 100
        return;
    // 104 to 122: the new edges, kept between the viewport's inner edges.
    const QPoint to = mView.dragTo(x, y, QPoint(mPicture1->left(), mPicture1->top()),
                                   QSize(mPicture1->outerWidth(), mPicture1->outerHeight()),
                                   QSize(mPicture2->innerWidth(), mPicture2->innerHeight()));
    Guard g(Procedure::PreviewDragMove);
    g.step(124, [&] { mPicture1->moveTo(to.x(), to.y()); });
}

void Form2::Picture1_MouseUp(Qt::MouseButtons, float, float)
{
    // 100, 102: where the picture stands, as a share of each bar's range.
    const int h = ZoomPan::percentOfRange(mPicture1->left(), mPicture1->outerWidth(), mPicture2->outerWidth());
    const int v = ZoomPan::percentOfRange(mPicture1->top(), mPicture1->outerHeight(), mPicture2->outerHeight());
    // A picture dragged to its far edge stands a little beyond the bar's range (the drag stops
    // at the viewport's inside, the range ends at its outside): its thumb goes to the end and
    // the picture stays where it was let go.
    auto thumbToEnd = [](QScrollBar* bar) {
        const QSignalBlocker quiet(bar);
        bar->setValue(bar->maximum());
        bar->update();
    };
    Guard g(Procedure::PreviewDragEnd);
    g.step(104, [&] { h > 100 && mHScroll1->isEnabled() ? thumbToEnd(mHScroll1) : SetHScrollbarByPercent(mHScroll1, h); });
    g.step(106, [&] { v > 100 && mVScroll1->isEnabled() ? thumbToEnd(mVScroll1) : SetVScrollbarByPercent(mVScroll1, v); });
}

void Form2::SetHScrollbarByPercent(QScrollBar* bar, int percent)
{
    if (const std::optional<int> value = ZoomPan::valueForPercent(percent, bar->maximum()))
        bar->setValue(*value);
}

void Form2::SetVScrollbarByPercent(QScrollBar* bar, int percent)
{
    if (const std::optional<int> value = ZoomPan::valueForPercent(percent, bar->maximum()))
        bar->setValue(*value);
}

void Form2::HScroll1_Change()
{
    mPicture1->setLeft(mView.edgeFor(Qt::Horizontal, mHScroll1->value()));
}

void Form2::VScroll1_Change()
{
    mPicture1->setTop(mView.edgeFor(Qt::Vertical, mVScroll1->value()));
}

// ---------------------------------------------------------------- wheel and keys

void Form2::wheelEvent(QWheelEvent* event)
{
    wheel(event, Qt::Vertical);
}

bool Form2::eventFilter(QObject* watched, QEvent* event)
{
    // Over the picture the wheel pans down, over a bar along that bar.
    if (event->type() == QEvent::Wheel
        && (watched == mPicture1 || watched == mPicture2 || watched == mHScroll1 || watched == mVScroll1)) {
        wheel(static_cast<QWheelEvent*>(event), watched == mHScroll1 ? Qt::Horizontal : Qt::Vertical);
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

// The wheel pans (Shift: across), Ctrl+wheel zooms one step a notch; a touchpad's pixel
// movement pans the picture by as many pixels.
void Form2::wheel(QWheelEvent* event, Qt::Orientation plainAxis)
{
    event->accept();
    const QPoint angle = event->angleDelta();
    if (event->modifiers() & Qt::ControlModifier) {
        const int notches = mView.zoomNotches(angle.y() != 0 ? angle.y() : angle.x());
        for (int i = 0; i < notches; ++i)
            PushButton1_Click();
        for (int i = 0; i > notches; --i)
            PushButton2_Click();
        return;
    }
    QPointF twips;
    if (!event->pixelDelta().isNull()) {
        twips = -QPointF(event->pixelDelta()) * kTwipsPerPixel;
    } else {
        // A notch moves as many rows as the system's wheel setting says.
        twips = -QPointF(angle) / 120.0 * double(mView.rowTwips()) * QApplication::wheelScrollLines();
    }
    const bool across = (event->modifiers() & Qt::ShiftModifier) || plainAxis == Qt::Horizontal;
    if (across && twips.x() == 0)
        twips = QPointF(twips.y(), 0);
    panBy(twips.x(), twips.y());
}

// Moves the view by whole scroll units and keeps the remainder for the next movement, so slow
// touchpad strokes add up instead of getting lost.
void Form2::panBy(double horizontalTwips, double verticalTwips)
{
    auto along = [this](QScrollBar* bar, Qt::Orientation axis, double twips) {
        if (const std::optional<int> value = mView.panBy(axis, twips, bar->value(), bar->maximum(), bar->isEnabled()))
            bar->setValue(*value);
    };
    along(mHScroll1, Qt::Horizontal, horizontalTwips);
    along(mVScroll1, Qt::Vertical, verticalTwips);
}

void Form2::createShortcuts()
{
    auto on = [this](const QKeySequence& keys, auto&& action) {
        auto* shortcut = new QShortcut(keys, this);
        connect(shortcut, &QShortcut::activated, this, action);
    };
    auto move = [](QScrollBar* bar, QAbstractSlider::SliderAction action) {
        return [bar, action] {
            if (bar->isEnabled())
                bar->triggerAction(action);
        };
    };
    on(QKeySequence(Qt::Key_Left), move(mHScroll1, QAbstractSlider::SliderSingleStepSub));
    on(QKeySequence(Qt::Key_Right), move(mHScroll1, QAbstractSlider::SliderSingleStepAdd));
    on(QKeySequence(Qt::Key_Up), move(mVScroll1, QAbstractSlider::SliderSingleStepSub));
    on(QKeySequence(Qt::Key_Down), move(mVScroll1, QAbstractSlider::SliderSingleStepAdd));
    on(QKeySequence(Qt::Key_PageUp), move(mVScroll1, QAbstractSlider::SliderPageStepSub));
    on(QKeySequence(Qt::Key_PageDown), move(mVScroll1, QAbstractSlider::SliderPageStepAdd));
    on(QKeySequence(Qt::SHIFT | Qt::Key_PageUp), move(mHScroll1, QAbstractSlider::SliderPageStepSub));
    on(QKeySequence(Qt::SHIFT | Qt::Key_PageDown), move(mHScroll1, QAbstractSlider::SliderPageStepAdd));
    on(QKeySequence(Qt::Key_Home), move(mVScroll1, QAbstractSlider::SliderToMinimum));
    on(QKeySequence(Qt::Key_End), move(mVScroll1, QAbstractSlider::SliderToMaximum));
    on(QKeySequence(Qt::SHIFT | Qt::Key_Home), move(mHScroll1, QAbstractSlider::SliderToMinimum));
    on(QKeySequence(Qt::SHIFT | Qt::Key_End), move(mHScroll1, QAbstractSlider::SliderToMaximum));
    on(QKeySequence(Qt::CTRL | Qt::Key_Home), [this] {
        mHScroll1->triggerAction(QAbstractSlider::SliderToMinimum);
        mVScroll1->triggerAction(QAbstractSlider::SliderToMinimum);
    });
    on(QKeySequence(Qt::CTRL | Qt::Key_End), [this] {
        if (mHScroll1->isEnabled())
            mHScroll1->triggerAction(QAbstractSlider::SliderToMaximum);
        if (mVScroll1->isEnabled())
            mVScroll1->triggerAction(QAbstractSlider::SliderToMaximum);
    });
    // Ctrl+= too: the key that carries "+" without Shift on many keyboards.
    on(QKeySequence(Qt::CTRL | Qt::Key_Plus), [this] { PushButton1_Click(); });
    on(QKeySequence(Qt::CTRL | Qt::Key_Equal), [this] { PushButton1_Click(); });
    on(QKeySequence(Qt::CTRL | Qt::Key_Minus), [this] { PushButton2_Click(); });
    on(QKeySequence(Qt::CTRL | Qt::Key_S), [this] { PushButton6_Click(); });
}

} // namespace corvantis
