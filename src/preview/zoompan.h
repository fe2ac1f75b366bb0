#pragma once
// What the preview shows of its picture, without the widgets: the zoom factor and the sizes it
// gives, the pixel budget a factor must fit, the scroll bars' ranges and units, the point kept
// at the viewport's centre across a zoom, and the arithmetic of panning by drag, bar and wheel.
// The window asks it and moves its controls accordingly. Lengths are in twips.
#include <QPoint>
#include <QPointF>
#include <QSize>
#include <QtGlobal>

#include <optional>

namespace corvantis {

class ZoomPan {
public:
    // The factors run from a quarter to twice the size, a quarter at a time.
    static constexpr float kZoomStep = 0.25f;
    static constexpr float kLeastZoom = 0.25f;
    static constexpr float kMostZoom = 2.0f;

    // The most device pixels the painted picture may hold: twice the largest projection on a
    // screen of twice the usual density fits with room to spare. Settable for tests.
    static qint64 pictureBudget();
    static void setPictureBudget(qint64 pixels);
    static bool exceedsBudget(int widthPixels, int heightPixels, double deviceRatio);

    // ---- zoom

    // Until the window has set itself up for its current picture.
    bool setUpPending() const { return mSetUpPending; }
    void awaitSetUp() { mSetUpPending = true; }
    void setUpDone() { mSetUpPending = false; }
    // Factor 1 for an unscaled picture of the given size.
    void setUp(int baseWidth, int baseHeight);

    float zoom() const { return mZoom; }
    int baseWidth() const { return mBaseWidth; }
    int baseHeight() const { return mBaseHeight; }
    int zoomWidth() const { return mZoomWidth; }
    int zoomHeight() const { return mZoomHeight; }

    // One step from the current factor: direction 0 larger, anything else smaller. The result
    // may lie outside the factors; isZoomFactor tells.
    float stepped(int direction) const;
    static bool isZoomFactor(float factor) { return factor >= kLeastZoom && factor <= kMostZoom; }
    // Takes `factor` and sizes the picture for it. A factor above 1 whose picture would exceed
    // the budget at `deviceRatio` is refused: the factor and the sizes go back to those of the
    // picture on screen. Returns whether the factor stands.
    bool zoomTo(float factor, double deviceRatio);

    // About one sheet row at the current factor: what an arrow click or a wheel line moves.
    int rowTwips() const;

    // ---- scroll bars: a bar of unit u at value v puts the picture's edge at -(u x v)

    struct ScrollRange {
        int unit = 0;      // twips per bar unit; 0: the picture fits, the bar is disabled
        int maximum = 0;   // the bar's maximum, when there is a unit
    };
    // Range and unit of one bar for the picture's outer length against the viewport's: the
    // excess counted in twips up to 100 twips, in tens beyond. The unit is kept for `axis`.
    ScrollRange setScrollRange(Qt::Orientation axis, int picture, int viewport);
    int unit(Qt::Orientation axis) const { return axis == Qt::Horizontal ? mHStep : mVStep; }
    int hStep() const { return mHStep; }
    int vStep() const { return mVStep; }
    // Bar units of an arrow click (about a row) and of a click in the trough (one viewport);
    // 0 for a bar without a unit.
    int arrowUnits(Qt::Orientation axis) const;
    int pageUnits(Qt::Orientation axis, int viewport) const;
    // The picture's left or top edge for a bar value, held to int's range.
    int edgeFor(Qt::Orientation axis, int value) const;

    // Where the edge stands within the range of the excess, as a whole percentage; 0 where
    // there is no excess, negative for a picture smaller than the viewport.
    static int percentOfRange(int edge, int picture, int viewport);
    // The bar value at `percent` of `maximum`; none below 0 % or above 100 %.
    static std::optional<int> valueForPercent(int percent, int maximum);

    // ---- the view's centre across a zoom

    // The point of the picture at the viewport's centre, as a share of the picture's length;
    // -1 across a picture that fits the viewport, where no point need be at the centre.
    static double centreShare(int viewport, int picture, int edge);
    // The bar value (0 to maximum) that brings the point at `share` back to the centre; none
    // for a picture that fits or a bar without a unit.
    std::optional<int> centredValue(Qt::Orientation axis, double share, int viewport, int picture, int maximum) const;

    // ---- drag and wheel

    void pressAt(float x, float y);
    // The picture's top-left corner when the pressed point is dragged to (x, y), measured from
    // the picture: kept between the viewport's inner edges, and put back at the near edge
    // before the far one is looked at. A picture that fits across (or down) stays where it is.
    QPoint dragTo(float x, float y, QPoint edges, QSize picture, QSize viewport) const;

    // Adds wheel or touchpad movement along one axis to what was left over and returns the bar
    // value it reaches from `value` (0 to maximum); less than a unit waits for the next
    // movement, and reaching an end forgets the rest. None for a bar that cannot move.
    std::optional<int> panBy(Qt::Orientation axis, double twips, int value, int maximum, bool movable);
    // Adds a Ctrl+wheel turn (120 a notch) and returns the whole notches it completes, larger
    // positive; a turn the other way starts afresh.
    int zoomNotches(int turn);

private:
    void sizeForZoom();

    bool mSetUpPending = true;
    float mZoom = 1.0f;
    float mPaintedZoom = 1.0f;   // the factor of the picture on screen
    int mBaseWidth = 0;
    int mBaseHeight = 0;
    int mZoomWidth = 0;
    int mZoomHeight = 0;
    int mHStep = 0;
    int mVStep = 0;
    float mDownX = 0;
    float mDownY = 0;
    QPointF mPanRest;     // twips of wheel and touchpad movement not yet a whole unit
    int mZoomWheel = 0;   // Ctrl+wheel turn not yet a whole notch
};

} // namespace corvantis
