#include "app/commandline.h"

#include "core/dialogs.h"
#include "core/errorreport.h"
#include "core/files.h"
#include "core/guard.h"
#include "core/numbertext.h"
#include "core/projectioninputs.h"
#include "core/safefile.h"
#include "core/settingsstore.h"
#include "workbook/templatefilling.h"
#include "workbook/workbookexport.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QStringList>

#include <cstdio>
#include <exception>
#include <vector>

namespace corvantis {

namespace {

constexpr const char* kProgram = "corvantis";

// How a run ended, for scripts: what they asked for wrongly, the stored inputs, the file written.
enum Status {
    kDone = 0,
    kFailed = 1,         // the projection itself could not be made
    kUsage = 2,          // the arguments
    kBadInputs = 3,      // the settings store is missing, unreadable or no settings file
    kNotWritten = 4,     // the target file
};

// Texts reach the terminal in the locale's character set, as the file names came from it.
void printLine(FILE* stream, const QString& text)
{
    std::fputs(encodeFileName(text + QLatin1Char('\n')).constData(), stream);
    std::fflush(stream);
}

// One line on standard error and the failure status.
int fail(const QString& message, int status = kFailed)
{
    QString line = message.simplified();
    printLine(stderr, QString::fromLatin1(kProgram) + QStringLiteral(": ") + line);
    return status;
}

// A note on standard error that does not end the run.
void warn(const QString& message)
{
    printLine(stderr, QString::fromLatin1(kProgram) + QStringLiteral(": ") + message.simplified());
}

// Why the file at `path` is no settings store the program could have written; empty when it is
// one, or when there is no file at all.
QString notASettingsFile(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return {};
    if (info.isDir())
        return QStringLiteral("it is a folder, not a settings file");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("it cannot be read: %1").arg(file.errorString());
    const QByteArray bytes = file.read(4 << 20);
    if (file.error() != QFileDevice::NoError)
        return QStringLiteral("it cannot be read: %1").arg(file.errorString());
    // An INI file: text lines, each a comment, a [section] or a key=value.
    if (bytes.contains('\0'))
        return QStringLiteral("it is not a settings file");
    for (QByteArray line : bytes.split('\n')) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(';') || line.startsWith('#'))
            continue;
        if ((line.startsWith('[') && line.endsWith(']')) || line.indexOf('=') > 0)
            continue;
        return QStringLiteral("it is not a settings file");
    }
    return {};
}

// Tells which stored texts cannot be read, by key and text, and what the workbook gets instead.
// The main window reads them the same way, so the workbook is the one it would make.
void tellUnreadableTexts(const StoredInputs& stored, const ProjectionInputs& used, const QDate& today)
{
    const std::optional<QLocale> writtenIn = stored.store().textsLocale();
    // IND. % may carry its own "%"; an amount may not.
    auto readable = [&](const QString& text, bool percentage) {
        auto reads = [&](const QLocale& locale) {
            return percentage ? ReadPercentage(text, locale).has_value() : ReadNumber(text, locale).has_value();
        };
        return reads(writtenIn.value_or(QLocale())) || reads(QLocale());
    };
    auto storedText = [&](const InputKey& key) { return stored.store().get(key.name(), QString()); };

    const QString date = stored.fiscalStartText();
    if (!date.isNull()) {
        try {
            stored.fiscalStart(today);
        } catch (const std::exception& e) {
            warn(QStringLiteral("the stored %1 \"%2\" is no date the fiscal year can begin on (%3); %4 is used")
                     .arg(InputKey::fiscalStart().name(), date, QString::fromUtf8(e.what()),
                          QLocale().toString(used.fiscalStart, QLocale::ShortFormat)));
        }
    }
    for (int line = 0; line < kLineCount; ++line) {
        for (int column = kIndColumn; column < kColumnCount; ++column) {
            const InputKey key = InputKey::cell(line, column);
            const QString text = storedText(key);
            if (text.trimmed().isEmpty() || readable(text, column == kIndColumn))
                continue;
            if (column == kIndColumn)
                warn(QStringLiteral("the stored %1 \"%2\" is no IND. %; it is written as text").arg(key.name(), text));
            else
                warn(QStringLiteral("the stored %1 \"%2\" is no amount; %3 is used").arg(key.name(), text, used.cell(line, column)));
        }
    }
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
        return fail(SafeFile::failureText(path, QStringLiteral("unknown file type; use .xls, .xlsx or .pdf")), kUsage);
    // A target the writer would refuse is refused before the projection is generated.
    try {
        SafeFile::checkTarget(path);
    } catch (const std::exception& e) {
        return fail(QString::fromUtf8(e.what()), kNotWritten);
    }
    // Nobody is asked here, so a file the user has marked read-only is not replaced.
    if (SafeFile::isReadOnly(path))
        return fail(SafeFile::failureText(path, QStringLiteral("the file is read-only")), kNotWritten);

    // A store that is no settings file would read as an empty one: said as what it is.
    const QString storePath = SettingsStore::defaultFilePath();
    if (const QString why = notASettingsFile(storePath); !why.isEmpty())
        return fail(QStringLiteral("the stored inputs in %1 cannot be read: %2").arg(storePath, why), kBadInputs);
    SettingsStore& store = SettingsStore::standard();
    StoredInputs stored(store);
    if (stored.isEmpty())
        return fail(QStringLiteral("no stored inputs in %1; enter the projection in the main window first").arg(store.fileName()),
                    kBadInputs);
    const QDate today = QDate::currentDate();
    stored.keepFiscalStart(today);   // the months stay where this run put them
    const ProjectionInputs inputs = stored.readAll(today);
    tellUnreadableTexts(stored, inputs, today);

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
        handedOver = run.fillAndSave(inputs);
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
    } catch (const WriteError& e) {
        DeleteScratchFile(scratch);
        return fail(QString::fromUtf8(e.what()), kNotWritten);
    } catch (const std::exception& e) {
        DeleteScratchFile(scratch);
        return fail(QString::fromUtf8(e.what()));
    }
    DeleteScratchFile(scratch);
    return 0;
}

} // namespace

QString programVersion() { return QStringLiteral(CORVANTIS_VERSION); }

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

    // The arguments as the user's locale spells them: a Latin-1 "café.xls" stays café.xls.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << decodeFileName(QByteArray(argv[i]));
    if (!parser.parse(arguments))
        return fail(parser.errorText() + QStringLiteral(" (see --help)"), kUsage);
    if (parser.isSet(help)) {
        printLine(stdout, parser.helpText().trimmed());
        return 0;
    }
    if (parser.isSet(version)) {
        printLine(stdout, QStringLiteral("Corvantis ") + QStringLiteral(CORVANTIS_VERSION));
        return 0;
    }
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("unexpected argument \"%1\" (see --help)").arg(parser.positionalArguments().first()), kUsage);
    if (!parser.isSet(generateOption))
        return fail(QStringLiteral("nothing to do (see --help)"), kUsage);
    const QStringList paths = parser.values(generateOption);
    if (paths.size() != 1)
        return fail(QStringLiteral("--generate takes one path"), kUsage);
    if (paths.first().isEmpty())
        return fail(QStringLiteral("--generate needs a file name"), kUsage);
    return generate(paths.first());
}

} // namespace corvantis
