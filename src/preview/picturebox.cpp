#include "preview/picturebox.h"

#include "core/twips.h"
#include "ui/controlkind.h"

#include <QAccessibleWidget>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace corvantis {

namespace {

// A box that shows a picture is a graphic to a screen reader (a box holding other controls stays
// a plain area): its name is the picture's text alternative.
QAccessibleInterface* accessiblePicture(const QString& className, QObject* object)
{
    if (className != QLatin1String(PictureBox::staticMetaObject.className()) || !object || !object->isWidgetType())
        return nullptr;
    auto* box = static_cast<QWidget*>(object);
    const bool container = box->findChild<QWidget*>(QStringLiteral("client"), Qt::FindDirectChildrenOnly) != nullptr;
    return new QAccessibleWidget(box, container ? QAccessible::Client : QAccessible::Graphic);
}

} // namespace

PictureBox::PictureBox(QWidget* parent, int borderPixels, bool container)
    : QWidget(parent), mBorder(borderPixels)
{
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(accessiblePicture);
        return true;
    }();
    Q_UNUSED(factoryInstalled);
    setControlKind(this, ControlKind::PictureBox);
    setBackColour(Qt::white);
    if (container) {
        mClient = new QWidget(this);
        mClient->setObjectName(QStringLiteral("client"));
        mClient->setAutoFillBackground(false);
        mClient->move(mBorder, mBorder);
    }
}

int PictureBox::innerWidth() const
{
    return std::max(0, mWidth - pixelsToTwips(2 * mBorder));
}

int PictureBox::innerHeight() const
{
    return std::max(0, mHeight - pixelsToTwips(2 * mBorder));
}

void PictureBox::setGeometryTwips(int left, int top, int width, int height)
{
    mLeft = left;
    mTop = top;
    mWidth = std::max(0, width);
    mHeight = std::max(0, height);
    applyGeometry();
}

void PictureBox::moveTo(int left, int top)
{
    mLeft = left;
    mTop = top;
    move(twipsToPixels(mLeft), twipsToPixels(mTop));
}

void PictureBox::setOuterWidth(int width)
{
    setGeometryTwips(mLeft, mTop, width, mHeight);
}

void PictureBox::setOuterHeight(int height)
{
    setGeometryTwips(mLeft, mTop, mWidth, height);
}

void PictureBox::applyGeometry()
{
    setGeometry(twipsToPixels(mLeft), twipsToPixels(mTop), twipsToPixels(mWidth), twipsToPixels(mHeight));
    if (mClient)
        mClient->resize(std::max(0, width() - 2 * mBorder), std::max(0, height() - 2 * mBorder));
    update();
}

QWidget* PictureBox::clientArea()
{
    return mClient ? mClient : this;
}

void PictureBox::setBackColour(const QColor& colour)
{
    mBack = colour;
    QPalette p = palette();
    p.setColor(QPalette::Window, colour);
    setPalette(p);
    setAutoFillBackground(true);
    update();
}

void PictureBox::setAutoSize(bool on)
{
    mAutoSize = on;
    if (mAutoSize && hasPicture())
        setPicture(mPicture);
}

void PictureBox::setPicture(const QPixmap& picture)
{
    mPicture = picture;
    if (mAutoSize && !mPicture.isNull())
        setGeometryTwips(mLeft, mTop, pixelsToTwips(mPicture.width() + 2 * mBorder),
                         pixelsToTwips(mPicture.height() + 2 * mBorder));
    update();
}

void PictureBox::clearPicture()
{
    mPicture = QPixmap();
    update();
}

void PictureBox::setDrawnOutput(const QPixmap& drawn)
{
    mPainting = nullptr;
    mCanvas = drawn;
    update();
}

void PictureBox::setPainting(Painting painting, double scale)
{
    mCanvas = QPixmap();
    mPainting = std::move(painting);
    mPaintingScale = scale;
    update();
}

void PictureBox::paintEvent(QPaintEvent* event)
{
    QPainter p(this);
    const QPoint inside(mBorder, mBorder);
    if (mPainting) {
        // Only the exposed part costs anything: the painter's clip drops the rest.
        p.save();
        p.setClipRegion(event->region());
        p.translate(inside);
        p.scale(mPaintingScale, mPaintingScale);
        mPainting(p);
        p.restore();
    } else if (!mCanvas.isNull()) {
        p.drawPixmap(inside, mCanvas);
    }
    if (hasPicture())
        p.drawPixmap(inside, mPicture);
    if (mBorder > 0) {
        p.setPen(QPen(Qt::black, 0));
        p.setBrush(Qt::NoBrush);
        for (int i = 0; i < mBorder; ++i)
            p.drawRect(rect().adjusted(i, i, -1 - i, -1 - i));
    }
}

void PictureBox::pointInTwips(const QMouseEvent* event, float& x, float& y) const
{
    const QPointF at = event->position() - QPointF(mBorder, mBorder);
    x = float(at.x() * kTwipsPerPixel);
    y = float(at.y() * kTwipsPerPixel);
}

void PictureBox::mousePressEvent(QMouseEvent* event)
{
    float x, y;
    pointInTwips(event, x, y);
    emit mouseDown(event->buttons() | event->button(), x, y);
    event->accept();
}

void PictureBox::mouseMoveEvent(QMouseEvent* event)
{
    float x, y;
    pointInTwips(event, x, y);
    emit mouseMove(event->buttons(), x, y);
    event->accept();
}

void PictureBox::mouseReleaseEvent(QMouseEvent* event)
{
    float x, y;
    pointInTwips(event, x, y);
    emit mouseUp(event->button(), x, y);
    event->accept();
}

} // namespace corvantis
