// The floor for startup_time: an empty Qt Widgets window of the main window's size, shown,
// waited for until the window system has exposed it and painted once, exactly as startup_time
// waits for Form1. Prints "startup_ms" measured from the start of main() and exits.
//
// The window resolves its font once, as any window with a word on it must: that loads the font
// database through fontconfig, which every Qt program that shows text pays before its first
// paint. A window with no text at all never loads it on the offscreen platform, and would measure
// Qt without the part of its start-up that no program showing text can skip.
//
//   empty_window
#include <QApplication>
#include <QElapsedTimer>
#include <QFontMetrics>

#include "shown.h"
#include <QWidget>

#include <cstdio>

int main(int argc, char** argv)
{
    QElapsedTimer sinceMain;
    sinceMain.start();

    QApplication app(argc, argv);
    nameApplication(app);

    // The main window's size: 14160 by 8610 twips at 15 twips a pixel.
    QWidget form;
    form.setFixedSize(14160 / 15, 8610 / 15);
    (void)QFontMetrics(form.font()).height();

    return reportShown(form, sinceMain, "empty_window");
}
