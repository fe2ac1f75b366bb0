// Panning the preview: dragging Picture1 inside Picture2, and the scroll bars.
#include "preview/form2.h"

#include "app/guard.h"
#include "preview/picturebox.h"

#include <QScrollBar>

#include <cmath>
#include <cstdint>
#include <limits>

namespace corvantis {

namespace {

int nearestClamped(double x)
{
    if (!std::isfinite(x))
        return 0;
    const double r = std::nearbyint(x);   // halves go to the even neighbour
    if (r > std::numeric_limits<int>::max())
        return std::numeric_limits<int>::max();
    if (r < std::numeric_limits<int>::min())
        return std::numeric_limits<int>::min();
    return int(r);
}

// Where the picture stands within its scroll range, as a whole percentage. A picture exactly
// as large as the viewport has no range: it stands at 0.
int percentOfRange(int position, int pictureSize, int viewportSize)
{
    const std::int64_t range = std::int64_t(pictureSize) - viewportSize;
    if (range == 0)
        return 0;
    return nearestClamped(std::fabs(double(position)) / double(range) * 100.0);
}

void setByPercent(QScrollBar* bar, int percent)
{
    if (percent < 0)
        return;
    const int m = bar->maximum();
    const double v = percent / 100.0 * m;
    if (v <= m)
        bar->setValue(nearestClamped(v));
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
    Guard g("Form2", "picture1_MouseDown");
    g.step(100, [&] { mDownX = x; });
    g.step(102, [&] { mDownY = y; });
}

void Form2::picture1_MouseMove(Qt::MouseButtons buttons, float x, float y)
{
    Guard g("Form2", "picture1_MouseMove");
    bool held = false;
    g.step(100, [&] { held = buttons != Qt::NoButton; });
    if (!held)
        return;
    float l = 0, t = 0;
    g.step(104, [&] { l = float(Picture1->left()) - mDownX + x; });
    bool beyondStart = false;
    g.step(106, [&] { beyondStart = l > 0; });
    if (beyondStart) {
        g.step(108, [&] { l = 0; });
    } else {
        bool beyondEnd = false;
        g.step(110, [&] { beyondEnd = float(Picture2->innerWidth() - Picture1->outerWidth()) > l; });
        if (beyondEnd)
            g.step(112, [&] { l = float(Picture2->innerWidth() - Picture1->outerWidth()); });
    }
    g.step(114, [&] { t = float(Picture1->top()) - mDownY + y; });
    g.step(116, [&] { beyondStart = t > 0; });
    if (beyondStart) {
        g.step(118, [&] { t = 0; });
    } else {
        bool beyondEnd = false;
        g.step(120, [&] { beyondEnd = float(Picture2->innerHeight() - Picture1->outerHeight()) > t; });
        if (beyondEnd)
            g.step(122, [&] { t = float(Picture2->innerHeight() - Picture1->outerHeight()); });
    }
    g.step(124, [&] { Picture1->moveTo(nearestClamped(l), nearestClamped(t)); });
}

void Form2::Picture1_MouseUp(Qt::MouseButtons, float, float)
{
    Guard g("Form2", "Picture1_MouseUp");
    int h = 0, v = 0;
    g.step(100, [&] { h = percentOfRange(Picture1->left(), Picture1->outerWidth(), Picture2->outerWidth()); });
    g.step(102, [&] { v = percentOfRange(Picture1->top(), Picture1->outerHeight(), Picture2->outerHeight()); });
    g.step(104, [&] { SetHScrollbarByPercent(HScroll1, h); });
    g.step(106, [&] { SetVScrollbarByPercent(VScroll1, v); });
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
    Picture1->setLeft(offsetFor(mHStep, HScroll1->value()));
}

void Form2::VScroll1_Change()
{
    Picture1->setTop(offsetFor(mVStep, VScroll1->value()));
}

} // namespace corvantis
