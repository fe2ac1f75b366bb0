// The floor for startup_time: an empty Qt Widgets window of the main window's size, shown,
// waited for until the window system has exposed it and painted once, exactly as startup_time
// waits for Form1. Prints "startup_ms" measured from the start of main() and exits.
//
//   empty_window
#include <QApplication>
#include <QElapsedTimer>

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

    return reportShown(form, sinceMain, "empty_window");
}
