#include "app/commandline.h"

#include "core/dialogs.h"
#include "core/errorreport.h"
#include "core/files.h"
#include "core/guard.h"
#include "core/projectioninputs.h"
#include "core/safefile.h"
#include "core/settingsstore.h"
#include "workbook/templatefilling.h"
#include "workbook/workbookexport.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QStringList>

#include <cstdio>
#include <exception>
#include <vector>

namespace corvantis {

namespace {

constexpr const char* kProgram = "corvantis";

void printLine(FILE* stream, const QString& text)
{
    std::fputs((text + QLatin1Char('\n')).toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

// One line on standard error and the failure status.
int fail(const QString& message)
{
    QString line = message.simplified();
    printLine(stderr, QString::fromLatin1(kProgram) + QStringLiteral(": ") + line);
    return 1;
}

// Without windows a box has nobody to answer it: its text becomes the failure's reason.
class Quiet : public Dialogs::Backend {
public:
    Dialogs::Answer message(const Dialogs::Shown& box, QWidget*) override
    {
        mShown.push_back(box.text);
        return box.buttons == Dialogs::Buttons::YesNo ? Dialogs::Answer::No : Dialogs::Answer::Ok;
    }
    QString saveFile(const Dialogs::SaveRequest&, QWidget*) override { return {}; }
    std::vector<QString> mShown;
};

// Qt's own notes (a missing runtime folder and the like) would crowd the one line a script
// reads on failure; only fatal messages get through.
void quietQtMessages(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtFatalMsg || type == QtCriticalMsg)
        printLine(stderr, message);
}

// Whether these arguments are for the command line rather than for the windows (which take
// Qt's own single-dash options such as -platform or -style).
bool wantsCommandLine(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg.startsWith(QLatin1String("--")) || arg == QLatin1String("-h") || arg == QLatin1String("-v")
            || arg == QLatin1String("-?"))
            return true;
    }
    return false;
}

int generate(const QString& path)
{
    const std::optional<ExportFormat> format = exportFormatFor(path);
    if (!format)
        return fail(SafeFile::failureText(path, QStringLiteral("unknown file type; use .xls, .xlsx or .pdf")));
    // A target the writer would refuse is refused before the projection is generated.
    try {
        SafeFile::checkTarget(path);
    } catch (const std::exception& e) {
        return fail(QString::fromUtf8(e.what()));
    }
    // Nobody is asked here, so a file the user has marked read-only is not replaced.
    if (const QFileInfo target(path); target.exists() && !target.isWritable())
        return fail(SafeFile::failureText(path, QStringLiteral("the file is read-only")));

    SettingsStore& store = SettingsStore::standard();
    StoredInputs stored(store);
    if (stored.isEmpty())
        return fail(QStringLiteral("no stored inputs in %1; enter the projection in the main window first").arg(store.fileName()));

    // Reports of failed steps are collected instead of shown.
    std::vector<ErrorReport> reports;
    const ErrorReportSink previousSink = setErrorReportSink([&](const ErrorReport& r) { reports.push_back(r); });
    Quiet quiet;
    Dialogs::Backend* previousBackend = Dialogs::setBackend(&quiet);

    // The steps of the generate button, without its windows and without the picture for the
    // preview: only filling and saving the workbook count here.
    bool handedOver = false;
    QString scratch;
    {
        Guard g(Procedure::MainGenerate);
        ProjectionRun run(g);
        handedOver = run.fillAndSave(stored.readAll(QDate::currentDate()));
        scratch = run.workbookPath();
        run.removeScratchFiles();
    }

    setErrorReportSink(previousSink);
    Dialogs::setBackend(previousBackend);

    for (const ErrorReport& r : reports) {
        if (r.location == locationText(Procedure::MainGenerate)) {
            DeleteScratchFile(scratch);
            return fail(QStringLiteral("the projection could not be generated (step %1): %2").arg(r.step).arg(r.description));
        }
    }
    if (!handedOver || scratch.isEmpty() || !FileExists(scratch)) {
        DeleteScratchFile(scratch);
        const QString why = !reports.empty() ? reports.front().description
                            : !quiet.mShown.empty()   ? quiet.mShown.front()
                                                      : QStringLiteral("no workbook was saved");
        return fail(QStringLiteral("the projection could not be generated: %1").arg(why));
    }

    try {
        ExportWorkbook(scratch, path, *format);
    } catch (const std::exception& e) {
        DeleteScratchFile(scratch);
        return fail(QString::fromUtf8(e.what()));
    }
    DeleteScratchFile(scratch);
    return 0;
}

} // namespace

std::optional<int> runCommandLine(int argc, char** argv)
{
    if (!wantsCommandLine(argc, argv))
        return std::nullopt;

    // No window is ever shown here, and no display may be there at all.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(quietQtMessages);
    QGuiApplication app(argc, argv);
    QGuiApplication::setOrganizationName(QStringLiteral("Kestrelon"));
    QGuiApplication::setApplicationName(QStringLiteral("Corvantis"));
    QGuiApplication::setApplicationVersion(QStringLiteral(CORVANTIS_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Corvantis turns the figures of its main window into a twelve-month profit and loss projection.\n"
        "Without options it opens the main window; with --generate it writes the projection of the\n"
        "stored inputs to a file without showing any window."));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Shows this help and ends."));
    const QCommandLineOption version(QStringList{QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Shows the version and ends."));
    const QCommandLineOption generateOption(
        QStringLiteral("generate"),
        QStringLiteral("Writes the projection of the stored inputs to <path>; the extension chooses the format: "
                       ".xls (Excel 97-2003), .xlsx (Excel workbook) or .pdf."),
        QStringLiteral("path"));
    parser.addOption(help);
    parser.addOption(version);
    parser.addOption(generateOption);

    if (!parser.parse(app.arguments()))
        return fail(parser.errorText() + QStringLiteral(" (see --help)"));
    if (parser.isSet(help)) {
        printLine(stdout, parser.helpText().trimmed());
        return 0;
    }
    if (parser.isSet(version)) {
        printLine(stdout, QStringLiteral("Corvantis ") + QStringLiteral(CORVANTIS_VERSION));
        return 0;
    }
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("unexpected argument \"%1\" (see --help)").arg(parser.positionalArguments().first()));
    if (!parser.isSet(generateOption))
        return fail(QStringLiteral("nothing to do (see --help)"));
    const QStringList paths = parser.values(generateOption);
    if (paths.size() != 1)
        return fail(QStringLiteral("--generate takes one path"));
    if (paths.first().isEmpty())
        return fail(QStringLiteral("--generate needs a file name"));
    return generate(paths.first());
}

} // namespace corvantis
