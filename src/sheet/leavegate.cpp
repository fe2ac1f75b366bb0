#include "sheet/leavegate.h"

#include "sheet/sheetcell.h"

#include <QApplication>
#include <QMouseEvent>
#include <QWidget>
#include <QWindow>

namespace corvantis::sheet {

LeaveGate::LeaveGate(QWidget* form) : QObject(form), mForm(form)
{
    qApp->installEventFilter(this);
}

LeaveGate::~LeaveGate()
{
    qApp->removeEventFilter(this);
}

namespace {

QWidget* resolvedProxy(QWidget* w)
{
    while (w->focusProxy())
        w = w->focusProxy();
    return w;
}

bool takesClickFocus(QWidget* w)
{
    QWidget* f = resolvedProxy(w);
    if ((w->focusPolicy() & Qt::ClickFocus) != Qt::ClickFocus)
        return false;
    return w == f || (f->focusPolicy() & Qt::ClickFocus) == Qt::ClickFocus;
}

} // namespace

QWidget* LeaveGate::clickFocusTarget(QWidget* hit)
{
    for (QWidget* w = hit; w; w = w->parentWidget()) {
        if (w->isEnabled() && takesClickFocus(w))
            return resolvedProxy(w);
        if (w->isWindow())
            break;
        if (resolvedProxy(w)->hasFocus())
            break;   // a click inside the focused widget leaves the focus where it is
    }
    return nullptr;
}

bool LeaveGate::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonDblClick && type != QEvent::MouseButtonRelease)
        return false;
    if (!mForm || !watched->isWindowType() || watched != mForm->windowHandle())
        return false;

    if (type == QEvent::MouseButtonRelease) {
        if (!mSwallowRelease)
            return false;
        mSwallowRelease = false;
        return true;
    }

    // A release lost to a message box must not eat the next click's release.
    mSwallowRelease = false;
    auto* cell = qobject_cast<SheetCell*>(QApplication::focusWidget());
    if (!cell || cell->window() != mForm || !cell->focusHandler())
        return false;
    const auto* mouse = static_cast<QMouseEvent*>(event);
    const QPoint pos = mouse->position().toPoint();
    QWidget* hit = mForm->childAt(pos);
    QWidget* target = clickFocusTarget(hit ? hit : mForm.data());
    if (!target || target == cell)
        return false;
    if (cell->focusHandler()->allowLeave(cell))
        return false;
    mSwallowRelease = true;
    return true;
}

} // namespace corvantis::sheet
