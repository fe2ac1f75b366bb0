#include "preview/zoompan.h"

#include "core/rounding.h"
#include "core/twips.h"
#include "spreadsheet/render/render.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace corvantis {

namespace {

// About one sheet row (or a narrow column) at 100 %.
constexpr int kRowTwips = 300;
constexpr int kLeastArrowTwips = 150;
constexpr int kWheelNotch = 120;

// The engine's own limit of one picture; a 2.0 zoom of the projection on a screen of twice
// the usual density is about a third of it.
qint64 gPictureBudget = ss::kMaxPicturePixels;

float dragEdge(float edge, float down, float at, int picture, int viewport)
{
    if (picture <= viewport)
        return edge;
    edge = edge - down + at;
    if (edge > 0)
        edge = 0;
    else if (float(viewport - picture) > edge)
        edge = float(viewport - picture);
    return edge;
}

} // namespace

qint64 ZoomPan::pictureBudget()
{
    return gPictureBudget;
}

void ZoomPan::setPictureBudget(qint64 pixels)
{
    gPictureBudget = pixels;
}

bool ZoomPan::exceedsBudget(int widthPixels, int heightPixels, double deviceRatio)
{
    return double(widthPixels) * heightPixels * deviceRatio * deviceRatio > double(gPictureBudget);
}

void ZoomPan::setUp(int baseWidth, int baseHeight)
{
    mZoom = 1.0f;
    mPaintedZoom = 1.0f;
    mBaseWidth = baseWidth;
    mBaseHeight = baseHeight;
    mZoomWidth = baseWidth;
    mZoomHeight = baseHeight;
}

float ZoomPan::stepped(int direction) const
{
    return direction == 0 ? mZoom + kZoomStep : mZoom - kZoomStep;
}

void ZoomPan::sizeForZoom()
{
    mZoomWidth = int(std::floor(double(mBaseWidth) * double(mZoom)));
    mZoomHeight = int(std::floor(double(mBaseHeight) * double(mZoom)));
}

bool ZoomPan::zoomTo(float factor, double deviceRatio)
{
    mZoom = factor;
    sizeForZoom();
    // A picture no larger than the snapshot is always painted; a larger one only within the
    // budget, counted in the screen's own pixels.
    if (mZoom > 1.0f && exceedsBudget(twipsToPixels(mZoomWidth), twipsToPixels(mZoomHeight), deviceRatio)) {
        mZoom = mPaintedZoom;
        sizeForZoom();
        return false;
    }
    mPaintedZoom = mZoom;
    return true;
}

int ZoomPan::rowTwips() const
{
    return std::max(kLeastArrowTwips, int(std::lround(kRowTwips * double(mZoom))));
}

ZoomPan::ScrollRange ZoomPan::setScrollRange(Qt::Orientation axis, int picture, int viewport)
{
    ScrollRange range;
    if (picture > viewport) {
        const int excess = picture - viewport;
        if (excess <= 100)
            range = {1, excess};
        else
            range = {10, nearestInt(excess / 10.0)};
    }
    (axis == Qt::Horizontal ? mHStep : mVStep) = range.unit;
    return range;
}

int ZoomPan::arrowUnits(Qt::Orientation axis) const
{
    const int u = unit(axis);
    return u <= 0 ? 0 : std::max(1, rowTwips() / u);
}

int ZoomPan::pageUnits(Qt::Orientation axis, int viewport) const
{
    const int u = unit(axis);
    return u <= 0 ? 0 : std::max(1, viewport / u);
}

int ZoomPan::edgeFor(Qt::Orientation axis, int value) const
{
    // 64-bit, so no picture size can overflow it.
    const std::int64_t edge = -(std::int64_t(unit(axis)) * value);
    if (edge < std::numeric_limits<int>::min())
        return std::numeric_limits<int>::min();
    return int(edge);
}

int ZoomPan::percentOfRange(int edge, int picture, int viewport)
{
    const std::int64_t range = std::int64_t(picture) - viewport;
    if (range == 0)
        return 0;
    return nearestInt(std::fabs(double(edge)) / double(range) * 100.0);
}

std::optional<int> ZoomPan::valueForPercent(int percent, int maximum)
{
    if (percent < 0)
        return std::nullopt;
    const double v = percent / 100.0 * maximum;
    if (v > maximum)
        return std::nullopt;
    return nearestInt(v);
}

double ZoomPan::centreShare(int viewport, int picture, int edge)
{
    return picture <= viewport ? -1.0 : (viewport / 2.0 - edge) / picture;
}

std::optional<int> ZoomPan::centredValue(Qt::Orientation axis, double share, int viewport, int picture,
                                         int maximum) const
{
    const int u = unit(axis);
    if (u <= 0 || share < 0)
        return std::nullopt;
    const double edge = viewport / 2.0 - share * picture;
    return std::clamp(nearestInt(-edge / u), 0, maximum);
}

void ZoomPan::pressAt(float x, float y)
{
    mDownX = x;
    mDownY = y;
}

QPoint ZoomPan::dragTo(float x, float y, QPoint edges, QSize picture, QSize viewport) const
{
    const float left = dragEdge(float(edges.x()), mDownX, x, picture.width(), viewport.width());
    const float top = dragEdge(float(edges.y()), mDownY, y, picture.height(), viewport.height());
    return QPoint(nearestInt(left), nearestInt(top));
}

std::optional<int> ZoomPan::panBy(Qt::Orientation axis, double twips, int value, int maximum, bool movable)
{
    double& rest = axis == Qt::Horizontal ? mPanRest.rx() : mPanRest.ry();
    const int u = unit(axis);
    if (u <= 0 || !movable) {
        rest = 0;
        return std::nullopt;
    }
    rest += twips;
    const int units = int(rest / u);
    rest -= double(units) * u;
    const int reached = std::clamp(value + units, 0, maximum);
    if (reached == 0 || reached == maximum)
        rest = 0;
    return reached;
}

int ZoomPan::zoomNotches(int turn)
{
    if ((turn > 0) != (mZoomWheel > 0))
        mZoomWheel = 0;   // a turn the other way starts afresh
    mZoomWheel += turn;
    const int notches = mZoomWheel / kWheelNotch;   // towards zero, as the remainder is kept
    mZoomWheel -= notches * kWheelNotch;
    return notches;
}

} // namespace corvantis
