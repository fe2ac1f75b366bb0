#include "ui/pointerrules.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QSet>
#include <QWidget>

namespace corvantis {

struct PointerRules::Impl : QObject {
    QPointer<QWidget> window;
    std::optional<QCursor> icon;
    Pointer pointer = Pointer::Default;
    QSet<QObject*> hand;
    QSet<QObject*> plain;
    bool overriding = false;

    void apply()
    {
        if (!window)
            return;
        if (overriding) {
            QGuiApplication::restoreOverrideCursor();
            overriding = false;
        }
        switch (pointer) {
        case Pointer::Default:
            window->unsetCursor();
            break;
        case Pointer::Custom:
            window->setCursor(icon ? *icon : QCursor(Qt::ArrowCursor));
            break;
        case Pointer::Hourglass:
            window->setCursor(Qt::WaitCursor);
            // Edit boxes carry their own pointer; the hourglass must show over them too.
            QGuiApplication::setOverrideCursor(Qt::WaitCursor);
            overriding = true;
            break;
        }
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Enter || event->type() == QEvent::MouseMove
            || event->type() == QEvent::HoverMove) {
            if (pointer != Pointer::Hourglass) {
                if (hand.contains(watched) && pointer != Pointer::Custom) {
                    pointer = Pointer::Custom;
                    apply();
                } else if (plain.contains(watched) && pointer != Pointer::Default) {
                    pointer = Pointer::Default;
                    apply();
                }
            }
        }
        return false;
    }
};

PointerRules::PointerRules(QWidget& window) : d(std::make_unique<Impl>())
{
    d->window = &window;
}

PointerRules::~PointerRules()
{
    if (d->overriding)
        QGuiApplication::restoreOverrideCursor();
}

void PointerRules::setMouseIcon(const std::optional<QCursor>& icon)
{
    d->icon = icon;
    if (d->pointer == Pointer::Custom)
        d->apply();
}

void PointerRules::addHandWidget(QWidget* w)
{
    d->hand.insert(w);
    w->setMouseTracking(true);
    w->installEventFilter(d.get());
}

void PointerRules::addPlainWidget(QWidget* w)
{
    d->plain.insert(w);
    w->setMouseTracking(true);
    w->installEventFilter(d.get());
}

void PointerRules::setPointer(Pointer p)
{
    d->pointer = p;
    d->apply();
}

Pointer PointerRules::pointer() const
{
    return d->pointer;
}

} // namespace corvantis
