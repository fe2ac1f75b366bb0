// Panning the preview: dragging mPicture1 inside mPicture2, the scroll bars, the wheel and
// the keys.
#include "preview/form2.h"

#include "core/guard.h"
#include "core/rounding.h"
#include "core/twips.h"
#include "preview/picturebox.h"

#include <QApplication>
#include <QKeySequence>
#include <QScrollBar>
#include <QShortcut>
#include <QSignalBlocker>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace corvantis {

namespace {

// Where the picture stands within its scroll range, as a whole percentage. A picture exactly
// as large as the viewport has no range: it stands at 0.
int percentOfRange(int position, int pictureSize, int viewportSize)
{
    const std::int64_t range = std::int64_t(pictureSize) - viewportSize;
    if (range == 0)
        return 0;
    return nearestInt(std::fabs(double(position)) / double(range) * 100.0);
}

void setByPercent(QScrollBar* bar, int percent)
{
    if (percent < 0)
        return;
    const int m = bar->maximum();
    const double v = percent / 100.0 * m;
    if (v <= m)
        bar->setValue(nearestInt(v));
}

// The picture's offset for a bar value; 64-bit so no picture size can overflow it.
int offsetFor(int step, int value)
{
    const std::int64_t offset = -(std::int64_t(step) * value);
    if (offset < std::numeric_limits<int>::min())
        return std::numeric_limits<int>::min();
    return int(offset);
}

} // namespace

void Form2::picture1_MouseDown(Qt::MouseButtons, float x, float y)
{
    mDownX = x;   // 100
    mDownY = y;   // 102
}

void Form2::picture1_MouseMove(Qt::MouseButtons buttons, float x, float y)
{
    if (buttons == Qt::NoButton)   // 100
        return;
    // 104 to 112: the new left edge, kept between the viewport's left and right edges. A
    // picture that fits the viewport across stays where it is across.
    float l = float(mPicture1->left());
    if (mPicture1->outerWidth() > mPicture2->innerWidth()) {
        l = l - mDownX + x;
        if (l > 0)
            l = 0;
        else if (float(mPicture2->innerWidth() - mPicture1->outerWidth()) > l)
            l = float(mPicture2->innerWidth() - mPicture1->outerWidth());
    }
    // 114 to 122: the same for the top edge.
    float t = float(mPicture1->top());
    if (mPicture1->outerHeight() > mPicture2->innerHeight()) {
        t = t - mDownY + y;
        if (t > 0)
            t = 0;
        else if (float(mPicture2->innerHeight() - mPicture1->outerHeight()) > t)
            t = float(mPicture2->innerHeight() - mPicture1->outerHeight());
    }
    Guard g("Form2", "picture1_MouseMove");
    g.step(124, [&] { mPicture1->moveTo(nearestInt(l), nearestInt(t)); });
}

void Form2::Picture1_MouseUp(Qt::MouseButtons, float, float)
{
    // 100, 102: where the picture stands, as a share of each bar's range.
    const int h = percentOfRange(mPicture1->left(), mPicture1->outerWidth(), mPicture2->outerWidth());
    const int v = percentOfRange(mPicture1->top(), mPicture1->outerHeight(), mPicture2->outerHeight());
    // A picture dragged to its far edge stands a little beyond the bar's range (the drag stops
    // at the viewport's inside, the range ends at its outside): its thumb goes to the end and
    // the picture stays where it was let go.
    auto thumbToEnd = [](QScrollBar* bar) {
        const QSignalBlocker quiet(bar);
        bar->setValue(bar->maximum());
        bar->update();
    };
    Guard g("Form2", "Picture1_MouseUp");
    g.step(104, [&] { h > 100 && mHScroll1->isEnabled() ? thumbToEnd(mHScroll1) : SetHScrollbarByPercent(mHScroll1, h); });
    g.step(106, [&] { v > 100 && mVScroll1->isEnabled() ? thumbToEnd(mVScroll1) : SetVScrollbarByPercent(mVScroll1, v); });
}

void Form2::SetHScrollbarByPercent(QScrollBar* bar, int percent)
{
    setByPercent(bar, percent);
}

void Form2::SetVScrollbarByPercent(QScrollBar* bar, int percent)
{
    setByPercent(bar, percent);
}

void Form2::HScroll1_Change()
{
    mPicture1->setLeft(offsetFor(mHStep, mHScroll1->value()));
}

void Form2::VScroll1_Change()
{
    mPicture1->setTop(offsetFor(mVStep, mVScroll1->value()));
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
        const int turn = angle.y() != 0 ? angle.y() : angle.x();
        if ((turn > 0) != (mZoomWheel > 0))
            mZoomWheel = 0;   // a turn the other way starts afresh
        mZoomWheel += turn;
        for (; mZoomWheel >= 120; mZoomWheel -= 120)
            PushButton1_Click();
        for (; mZoomWheel <= -120; mZoomWheel += 120)
            PushButton2_Click();
        return;
    }
    QPointF twips;
    if (!event->pixelDelta().isNull()) {
        twips = -QPointF(event->pixelDelta()) * kTwipsPerPixel;
    } else {
        // A notch moves as many rows as the system's wheel setting says.
        twips = -QPointF(angle) / 120.0 * double(rowTwips()) * QApplication::wheelScrollLines();
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
    auto along = [](QScrollBar* bar, int step, double& rest, double twips) {
        if (step <= 0 || !bar->isEnabled()) {
            rest = 0;
            return;
        }
        rest += twips;
        const int units = int(rest / step);
        rest -= double(units) * step;
        const int value = std::clamp(bar->value() + units, bar->minimum(), bar->maximum());
        if (value == bar->minimum() || value == bar->maximum())
            rest = 0;
        bar->setValue(value);
    };
    along(mHScroll1, mHStep, mPanRest.rx(), horizontalTwips);
    along(mVScroll1, mVStep, mPanRest.ry(), verticalTwips);
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
