#pragma once
// The main window's theme: the optional skin file beside the program.
class QWidget;

namespace corvantis {

// Without the skin file nothing changes (the window stays white); with it the window, frames,
// labels (except the grey headings) and picture boxes take the button-face colour and the skin
// file is applied as the window's style sheet.
void ApplyMainTheme(QWidget& form);

} // namespace corvantis
