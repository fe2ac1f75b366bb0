#include "ui/focusring.h"

#include <QApplication>
#include <QEvent>
#include <QFocusEvent>
#include <QPainter>
#include <QWidget>

namespace corvantis {

namespace {

constexpr int kRingWidth = 2;           // logical pixels
const QColor kRingColour(0, 102, 204);  // dark enough on white and on button grey

class RingWidget : public QWidget {
public:
    explicit RingWidget(QWidget* parent) : QWidget(parent)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        setFocusPolicy(Qt::NoFocus);
        setObjectName(QStringLiteral("focusRing"));
        setAccessibleName(QStringLiteral("Focus mark"));
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        QPen pen(kRingColour, kRingWidth);
        pen.setJoinStyle(Qt::MiterJoin);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        const qreal half = kRingWidth / 2.0;
        p.drawRect(QRectF(rect()).adjusted(half, half, -half, -half));
    }
};

} // namespace

FocusRing::FocusRing(QWidget* window) : QObject(window), mWindow(window)
{
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) { focusMoved(now); });
    focusMoved(QApplication::focusWidget());
}

FocusRing::~FocusRing()
{
    if (mTarget)
        mTarget->removeEventFilter(this);
    delete mRing.data();
}

QWidget* FocusRing::ring() const
{
    return mRing && mRing->isVisible() ? mRing.data() : nullptr;
}

void FocusRing::focusMoved(QWidget* now)
{
    // Another window taking the focus for a while (a message box, a calendar) leaves the mark
    // where it was: the focus comes back there.
    if (!mWindow || (now && now->window() != mWindow))
        return;
    if (mTarget)
        mTarget->removeEventFilter(this);
    mTarget = now;
    if (!now || !now->parentWidget()) {
        if (mRing)
            mRing->hide();
        return;
    }
    now->installEventFilter(this);
    if (!mRing || mRing->parentWidget() != now->parentWidget()) {
        delete mRing.data();
        mRing = new RingWidget(now->parentWidget());
    }
    place();
}

void FocusRing::place()
{
    if (!mRing || !mTarget)
        return;
    if (!mTarget->isVisible() || !mTarget->hasFocus()) {
        mRing->hide();
        return;
    }
    mRing->setGeometry(mTarget->geometry().adjusted(-kRingWidth, -kRingWidth, kRingWidth, kRingWidth));
    mRing->show();
    mRing->raise();
}

bool FocusRing::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == mTarget) {
        switch (event->type()) {
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::Show:
        case QEvent::Hide:
        case QEvent::FocusIn:
        case QEvent::ZOrderChange:
            place();
            break;
        case QEvent::FocusOut:
            if (static_cast<QFocusEvent*>(event)->reason() != Qt::ActiveWindowFocusReason
                && static_cast<QFocusEvent*>(event)->reason() != Qt::PopupFocusReason && mRing)
                mRing->hide();
            break;
        default:
            break;
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace corvantis
