// Panning the preview: dragging mPicture1 inside mPicture2, and the scroll bars.
#include "preview/form2.h"

#include "core/guard.h"
#include "core/rounding.h"
#include "preview/picturebox.h"

#include <QScrollBar>

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
    // 104 to 112: the new left edge, kept between the viewport's left and right edges.
    float l = float(mPicture1->left()) - mDownX + x;
    if (l > 0)
        l = 0;
    else if (float(mPicture2->innerWidth() - mPicture1->outerWidth()) > l)
        l = float(mPicture2->innerWidth() - mPicture1->outerWidth());
    // 114 to 122: the same for the top edge.
    float t = float(mPicture1->top()) - mDownY + y;
    if (t > 0)
        t = 0;
    else if (float(mPicture2->innerHeight() - mPicture1->outerHeight()) > t)
        t = float(mPicture2->innerHeight() - mPicture1->outerHeight());
    Guard g("Form2", "picture1_MouseMove");
    g.step(124, [&] { mPicture1->moveTo(nearestInt(l), nearestInt(t)); });
}

void Form2::Picture1_MouseUp(Qt::MouseButtons, float, float)
{
    // 100, 102: where the picture stands, as a share of each bar's range.
    const int h = percentOfRange(mPicture1->left(), mPicture1->outerWidth(), mPicture2->outerWidth());
    const int v = percentOfRange(mPicture1->top(), mPicture1->outerHeight(), mPicture2->outerHeight());
    Guard g("Form2", "Picture1_MouseUp");
    g.step(104, [&] { SetHScrollbarByPercent(mHScroll1, h); });
    g.step(106, [&] { SetVScrollbarByPercent(mVScroll1, v); });
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

} // namespace corvantis
