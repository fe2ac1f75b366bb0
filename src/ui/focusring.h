#pragma once
// A plain, clearly visible mark around the control that has the keyboard focus in a window:
// the edit boxes of the sheet draw no focus of their own, and the style's dotted one on a push
// button is easily missed. The ring is a thin frame just outside the control, above its
// neighbours, that follows it as it moves; it takes no clicks. Its width is in logical pixels,
// so it scales with the screen.
#include <QObject>
#include <QPointer>
#include <QWidget>

namespace corvantis {

class FocusRing : public QObject {
    Q_OBJECT
public:
    // Marks the focus inside `window` for as long as the ring lives.
    explicit FocusRing(QWidget* window);
    ~FocusRing() override;

    // The control the ring is around now; null when none of the window's has the focus.
    QWidget* marked() const { return mTarget; }
    // The ring itself (for tests and screenshots); null when hidden.
    QWidget* ring() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void focusMoved(QWidget* now);
    void place();

    QPointer<QWidget> mWindow;
    QPointer<QWidget> mTarget;
    QPointer<QWidget> mRing;
};

} // namespace corvantis
