#pragma once
// What kind of control a widget stands for, so the colouring and pointer rules can tell a frame
// from a label or an edit box whatever Qt class draws it.
#include <QWidget>

namespace corvantis {

enum class ControlKind { None, Form, PushButton, TextBox, Label, Frame, PictureBox, ScrollBar, OptionButton, CheckBox, DatePicker };

inline constexpr const char* kControlKindProperty = "controlKind";

inline void setControlKind(QWidget* w, ControlKind kind)
{
    w->setProperty(kControlKindProperty, static_cast<int>(kind));
}

inline ControlKind controlKind(const QWidget* w)
{
    return static_cast<ControlKind>(w->property(kControlKindProperty).toInt());
}

} // namespace corvantis
