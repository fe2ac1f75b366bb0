#pragma once
// Runs a cell's leave check before a mouse click can move the focus away from it. The check has
// to come before Qt hands the focus to the clicked widget, so the gate watches the presses at
// the window, where they arrive first; a refused leave swallows the press and its release, so
// the clicked control neither takes the focus nor acts on the click. (Tab and Shift+Tab are
// handled by the cell itself.)
#include <QObject>
#include <QPointer>

class QWidget;

namespace corvantis::sheet {

class SheetCell;

class LeaveGate : public QObject {
    Q_OBJECT
public:
    // Watches the presses of `form`'s window for as long as the gate lives.
    explicit LeaveGate(QWidget* form);
    ~LeaveGate() override;

    // The widget that a left click at `hit` would give the focus to, following Qt's own rule
    // (focus policy with ClickFocus, focus proxies, enabled, stops at the focused widget).
    static QWidget* clickFocusTarget(QWidget* hit);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointer<QWidget> mForm;
    bool mSwallowRelease = false;
};

} // namespace corvantis::sheet
