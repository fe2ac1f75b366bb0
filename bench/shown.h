#pragma once
// What the start-up benchmarks time to: the window shown, exposed by the window system and
// painted once. Prints "startup_ms" since `sinceMain` was started and returns the exit status.
#include <QApplication>
#include <QElapsedTimer>
#include <QWidget>
#include <QWindow>

#include <cstdio>

// The application object named as the program names it, so both find the same settings.
inline void nameApplication(QApplication& app)
{
    QApplication::setOrganizationName(QStringLiteral("Kestrelon"));
    QApplication::setApplicationName(QStringLiteral("Corvantis"));
    app.setQuitOnLastWindowClosed(false);
}

inline int reportShown(QWidget& form, const QElapsedTimer& sinceMain, const char* program)
{
    form.show();
    QWindow* window = form.windowHandle();
    QElapsedTimer limit;
    limit.start();
    while (!(window && window->isExposed()) && limit.elapsed() < 10000) {
        QApplication::processEvents(QEventLoop::AllEvents, 5);
        window = form.windowHandle();
    }
    if (!window || !window->isExposed()) {
        std::fprintf(stderr, "%s: the window was never exposed\n", program);
        return 1;
    }
    // One paint of the exposed window, as the user sees it.
    QApplication::processEvents();
    std::printf("startup_ms %.2f\n", static_cast<double>(sinceMain.nsecsElapsed()) / 1e6);
    return 0;
}
