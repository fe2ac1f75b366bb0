#pragma once
// The windows' colours: the button face on the window and its frames and labels.
#include <QColor>

class QWidget;

namespace corvantis {

// The grey of the sheet's headings, which no theme recolours.
inline const QColor kHeadingGrey(224, 224, 224);

QColor buttonFace();
void setBackColour(QWidget* w, const QColor& colour);
bool isGreyHeading(const QWidget* w);

// Plain colours for a window: the window, its frames and labels take the button-face colour.
void ApplyFormColours(QWidget& form);

} // namespace corvantis
