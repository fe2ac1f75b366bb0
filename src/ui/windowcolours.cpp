#include "ui/windowcolours.h"

#include "ui/controlkind.h"

#include <QApplication>
#include <QPalette>
#include <QWidget>

namespace corvantis {

QColor buttonFace()
{
    return QApplication::palette().color(QPalette::Button);
}

void setBackColour(QWidget* w, const QColor& colour)
{
    QPalette p = w->palette();
    p.setColor(QPalette::Window, colour);
    w->setPalette(p);
    w->setAutoFillBackground(true);
}

bool isGreyHeading(const QWidget* w)
{
    return w->autoFillBackground() && w->palette().color(QPalette::Window) == kHeadingGrey;
}

void ApplyFormColours(QWidget& form)
{
    setBackColour(&form, buttonFace());
    const auto children = form.findChildren<QWidget*>();
    for (QWidget* w : children) {
        const ControlKind kind = controlKind(w);
        if (kind == ControlKind::OptionButton || kind == ControlKind::CheckBox || kind == ControlKind::Frame
            || kind == ControlKind::Label)
            setBackColour(w, buttonFace());
    }
}

} // namespace corvantis
