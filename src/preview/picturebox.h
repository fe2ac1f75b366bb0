#pragma once
// A picture box whose position and size are kept in twips. The widget's pixel geometry follows
// from them, so the window's arithmetic works on exact twips while the screen shows pixels.
// It shows an assigned picture (at its own size) over what was drawn into it.
#include <QColor>
#include <QPixmap>
#include <QWidget>

#include <functional>

namespace corvantis {

class PictureBox : public QWidget {
    Q_OBJECT
public:
    // borderPixels: width of the border on every side; container: children go into an inner
    // client area that clips them to the box's inside.
    PictureBox(QWidget* parent, int borderPixels, bool container = false);

    // Geometry in twips, relative to the parent's client area.
    int left() const { return mLeft; }
    int top() const { return mTop; }
    int outerWidth() const { return mWidth; }
    int outerHeight() const { return mHeight; }
    int innerWidth() const;
    int innerHeight() const;
    void setGeometryTwips(int left, int top, int width, int height);
    void moveTo(int left, int top);
    void setLeft(int left) { moveTo(left, mTop); }
    void setTop(int top) { moveTo(mLeft, top); }
    void setOuterWidth(int width);
    void setOuterHeight(int height);

    // Where children of a container are placed.
    QWidget* clientArea();

    void setBackColour(const QColor& colour);
    QColor backColour() const { return mBack; }
    void setAutoSize(bool on);
    bool autoSize() const { return mAutoSize; }
    void setAutoRedraw(bool on) { mAutoRedraw = on; }
    bool autoRedraw() const { return mAutoRedraw; }

    // The assigned picture; with auto-size on the box takes its size plus the border.
    void setPicture(const QPixmap& picture);
    void clearPicture();
    const QPixmap& picture() const { return mPicture; }
    bool hasPicture() const { return !mPicture.isNull(); }

    // What the box shows under its picture: drawn at the box's inside top-left corner, at the
    // pixmap's own device-pixel ratio, clipped by the box. A null pixmap clears it.
    void setDrawnOutput(const QPixmap& drawn);
    const QPixmap& drawnOutput() const { return mCanvas; }

    // Instead of drawn output: something that paints itself, called for the exposed part of the
    // box on every repaint with the painter scaled by `scale`, so it is drawn at the screen's
    // own resolution whatever the size. An empty function ends it.
    using Painting = std::function<void(QPainter&)>;
    void setPainting(Painting painting, double scale);
    bool isPainting() const { return bool(mPainting); }

signals:
    // Button state and position in twips, measured from the box's inside top-left corner.
    void mouseDown(Qt::MouseButtons buttons, float x, float y);
    void mouseMove(Qt::MouseButtons buttons, float x, float y);
    void mouseUp(Qt::MouseButtons buttons, float x, float y);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void applyGeometry();
    void pointInTwips(const QMouseEvent* event, float& x, float& y) const;

    int mBorder;
    int mLeft = 0, mTop = 0, mWidth = 0, mHeight = 0;
    bool mAutoSize = false;
    bool mAutoRedraw = false;
    QColor mBack = Qt::white;
    QPixmap mPicture;
    QPixmap mCanvas;
    Painting mPainting;
    double mPaintingScale = 1.0;
    QWidget* mClient = nullptr;
};

} // namespace corvantis
