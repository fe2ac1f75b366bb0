#include "app/commandline.h"
#include "app/form1.h"
#include "app/generationhost.h"
#include "app/messageboxes.h"
#include "core/files.h"
#include "preview/form2.h"
#include "workbook/excellifecycle.h"

#include <QApplication>
#include <QByteArray>
#include <QSocketNotifier>

#include <cstdio>
#include <cstdlib>
#include <optional>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

constexpr int kNoDisplay = 1;

void plainLine(const QByteArray& text)
{
    std::fputs(("corvantis: " + text + '\n').constData(), stderr);
    std::fflush(stderr);
}

// Whether the arguments name a platform of their own (-platform offscreen and the like).
bool platformArgument(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
        if (QByteArray(argv[i]) == "-platform" || QByteArray(argv[i]).startsWith("-platform="))
            return true;
    return false;
}

// Why no window can be shown, or empty when a display is there to try. Checked before Qt
// starts, which would otherwise end the program with an abort and a page about plugins.
QByteArray missingDisplay(int argc, char** argv)
{
    if (platformArgument(argc, argv))
        return {};
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    const bool x11 = !qEnvironmentVariableIsEmpty("DISPLAY");
    const bool wayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN) && !defined(Q_OS_ANDROID)
    if (platform.isEmpty() ? !(x11 || wayland)
                           : (platform.startsWith("xcb") && !x11) || (platform.startsWith("wayland") && !wayland && !x11))
        return "no display to show the window on (DISPLAY is not set); "
               "use --generate FILE to write a projection without one";
#else
    Q_UNUSED(platform);
    Q_UNUSED(x11);
    Q_UNUSED(wayland);
#endif
    return {};
}

// While the application starts, Qt's notes are held back; a fatal one (a display that is named
// but cannot be reached) ends the program with one plain line instead of an abort.
QByteArray& heldNote()
{
    static QByteArray note;
    return note;
}

void startupMessages(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type != QtFatalMsg) {
        if (type != QtDebugMsg && type != QtInfoMsg && heldNote().isEmpty())
            heldNote() = message.section(QLatin1Char('\n'), 0, 0).toLocal8Bit();
        return;
    }
    const QByteArray why = heldNote().isEmpty() ? message.section(QLatin1Char('\n'), 0, 0).toLocal8Bit() : heldNote();
    plainLine("no window can be shown: " + why);
    std::_Exit(kNoDisplay);
}

#ifdef Q_OS_UNIX
// SIGTERM and SIGINT reach the event loop through a pipe, so the program ends the way closing
// its window ends it and the scratch files go with it.
int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

void watchEndSignals(QApplication& app, corvantis::MainGenerationHost& generation)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [&app, &generation, notifier] {
        notifier->setEnabled(false);
        char byte = 0;
        [[maybe_unused]] const ssize_t n = ::read(signalPipe[0], &byte, 1);
        if (corvantis::Form2* preview = generation.preview(); preview && preview->isVisible())
            preview->close();   // removes the scratch workbook and ends the program
        app.quit();
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}
#endif

} // namespace

int main(int argc, char** argv)
{
    // `corvantis --generate PATH` and the like run without windows and end here.
    if (const std::optional<int> status = corvantis::runCommandLine(argc, argv))
        return *status;
    if (const QByteArray why = missingDisplay(argc, argv); !why.isEmpty()) {
        plainLine(why);
        return kNoDisplay;
    }
    // The icon lives in a static library, so its resources are registered by hand.
    Q_INIT_RESOURCE(resources);
    const QtMessageHandler previousHandler = qInstallMessageHandler(startupMessages);
    QApplication app(argc, argv);
    qInstallMessageHandler(previousHandler);
    if (!heldNote().isEmpty())
        std::fprintf(stderr, "%s\n", heldNote().constData());
    QApplication::setOrganizationName(QStringLiteral("Kestrelon"));
    QApplication::setApplicationName(QStringLiteral("Corvantis"));
    QApplication::setApplicationVersion(corvantis::programVersion());
    // Only Form1's close ends the program; a hidden main window with the preview up is no end.
    app.setQuitOnLastWindowClosed(false);
    corvantis::MessageBoxes boxes;
    corvantis::Dialogs::setBackend(&boxes);

    corvantis::Form1::Services services;
    services.excelProbe = &corvantis::CheckExcelAvailable;
    corvantis::Form1 form(services);
    corvantis::MainGenerationHost generation(form);
#ifdef Q_OS_UNIX
    watchEndSignals(app, generation);
#endif
    form.Form_Load();
    form.show();
    const int status = app.exec();
    // Whatever ended the loop, the scratch workbook of the preview does not outlive the program.
    if (corvantis::Form2* preview = generation.preview())
        corvantis::DeleteScratchFile(preview->excelFile());
    return status;
}
