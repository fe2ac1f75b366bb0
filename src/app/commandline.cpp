#include "app/commandline.h"

#include "core/dialogs.h"
#include "core/errorreport.h"
#include "core/files.h"
#include "core/guard.h"
#include "core/inputsfile.h"
#include "core/numbertext.h"
#include "core/projectioninputs.h"
#include "core/safefile.h"
#include "core/settingsstore.h"
#include "sheet/datetyping.h"
#include "workbook/templatefilling.h"
#include "workbook/workbookexport.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QStringDecoder>
#include <QStringList>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <variant>
#include <vector>

#include <unistd.h>

namespace corvantis {

namespace {

constexpr const char* kProgram = "corvantis";

// How a run ended, for scripts: what they asked for wrongly, the stored inputs, the file written.
enum Status {
    kDone = 0,
    kFailed = 1,         // the projection itself could not be made (a fault of the program)
    kUsage = 2,          // the arguments
    kBadInputs = 3,      // the inputs file or the settings store cannot be read
    kNotWritten = 4,     // the workbook, the inputs file or the store cannot be written
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

// Where the store's figures come from, where the file's go: "-" is standard input or output.
const QString kStandardStream = QStringLiteral("-");

// The biggest inputs file read: a projection's file is a few kilobytes.
constexpr qint64 kMaxInputsFileSize = 16 << 20;

QString displayName(const QString& path, bool output)
{
    if (path == kStandardStream)
        return output ? QStringLiteral("standard output") : QStringLiteral("standard input");
    return path;
}

// Writes all the bytes to standard output; the reason when it cannot (a closed pipe, a full disk).
QString writeStandardOutput(const QByteArray& bytes)
{
    // A reader that went away is a failed write with its own status, not a killed program.
    std::signal(SIGPIPE, SIG_IGN);
    std::fflush(stdout);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(STDOUT_FILENO, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return QString::fromLocal8Bit(std::strerror(errno));
        }
        done += n;
    }
    if (::fsync(STDOUT_FILENO) != 0 && errno != EINVAL && errno != EROFS && errno != EBADF)
        return QString::fromLocal8Bit(std::strerror(errno));
    return {};
}

// The bytes of an inputs file, or why they cannot be had.
std::optional<QByteArray> readInputsBytes(const QString& path, QString& why)
{
    QFile file;
    if (path == kStandardStream) {
        if (!file.open(stdin, QIODevice::ReadOnly)) {
            why = file.errorString();
            return std::nullopt;
        }
    } else {
        const QFileInfo info(path);
        if (!info.exists()) {
            why = QStringLiteral("there is no such file");
            return std::nullopt;
        }
        if (info.isDir()) {
            why = QStringLiteral("it is a folder");
            return std::nullopt;
        }
        file.setFileName(path);
        if (!file.open(QIODevice::ReadOnly)) {
            why = file.errorString();
            return std::nullopt;
        }
    }
    const QByteArray bytes = file.read(kMaxInputsFileSize + 1);
    if (file.error() != QFileDevice::NoError) {
        why = file.errorString();
        return std::nullopt;
    }
    if (bytes.size() > kMaxInputsFileSize) {
        why = QStringLiteral("it is too large for an inputs file");
        return std::nullopt;
    }
    if (bytes.contains('\0') && !QStringConverter::encodingForData(bytes)) {
        why = QStringLiteral("it is no text file");
        return std::nullopt;
    }
    return bytes;
}

// Dates as the window's date picker reads them typed, whole: day, month and year.
std::optional<QDate> typedWholeDate(const QString& text, const QLocale& locale)
{
    const std::optional<sheet::TypedDate> typed =
        sheet::typedDate(text, locale, QDate::currentDate(), sheet::DateSection::Day);
    if (!typed || !typed->complete)
        return std::nullopt;
    return typed->date;
}

// The figures of an inputs file, or the status after each bad field has been named.
std::variant<ProjectionInputs, int> inputsFromFile(const QString& path, const std::optional<QLocale>& locale)
{
    const QString name = displayName(path, false);
    QString why;
    const std::optional<QByteArray> bytes = readInputsBytes(path, why);
    if (!bytes)
        return fail(QStringLiteral("the inputs file %1 cannot be read: %2").arg(name, why), kBadInputs);
    const InputsFileContent content = readInputsFile(*bytes, locale, typedWholeDate);
    if (content.problems.empty())
        return content.inputs;
    for (const InputsFileProblem& p : content.problems) {
        QString place = name;
        if (p.line > 0)
            place += QLatin1Char(':') + QString::number(p.line);
        if (p.column > 0)
            place += QLatin1Char(':') + QString::number(p.column);
        warn(place + QStringLiteral(": ") + p.text);
    }
    const qsizetype n = qsizetype(content.problems.size());
    return fail(QStringLiteral("%1: %2 %3 cannot be read; nothing was written")
                    .arg(name)
                    .arg(n)
                    .arg(n == 1 ? QStringLiteral("input") : QStringLiteral("inputs")),
                kBadInputs);
}

// The figures of a settings store as the main window would show them, or the failure status.
std::variant<ProjectionInputs, int> inputsFromStore(const QString& storeFile)
{
    const QString storePath = storeFile.isEmpty() ? SettingsStore::defaultFilePath() : storeFile;
    // A store that is no settings file would read as an empty one: said as what it is.
    if (const QString why = notASettingsFile(storePath); !why.isEmpty())
        return fail(QStringLiteral("the stored inputs in %1 cannot be read: %2").arg(storePath, why), kBadInputs);
    if (!storeFile.isEmpty() && !QFileInfo::exists(storeFile))
        return fail(QStringLiteral("the settings file %1 does not exist").arg(storeFile), kBadInputs);
    std::unique_ptr<SettingsStore> own;
    if (!storeFile.isEmpty())
        own = std::make_unique<SettingsStore>(storeFile);
    SettingsStore& store = own ? *own : SettingsStore::standard();
    StoredInputs stored(store);
    if (stored.isEmpty())
        return fail(QStringLiteral("no stored inputs in %1; enter the projection in the main window first").arg(store.fileName()),
                    kBadInputs);
    const QDate today = QDate::currentDate();
    stored.keepFiscalStart(today);   // the months stay where this run put them
    const ProjectionInputs inputs = stored.readAll(today);
    tellUnreadableTexts(stored, inputs, today);
    return inputs;
}

// Replaces every input of the store by the file's; the status.
int importInputs(const ProjectionInputs& inputs, const QString& storeFile)
{
    const QString storePath = storeFile.isEmpty() ? SettingsStore::defaultFilePath() : storeFile;
    if (const QString why = notASettingsFile(storePath); !why.isEmpty())
        return fail(QStringLiteral("the settings file %1 cannot be written: %2").arg(storePath, why), kNotWritten);
    Quiet quiet;
    Dialogs::Backend* previousBackend = Dialogs::setBackend(&quiet);
    std::unique_ptr<SettingsStore> own;
    if (!storeFile.isEmpty())
        own = std::make_unique<SettingsStore>(storeFile);
    SettingsStore& store = own ? *own : SettingsStore::standard();
    {
        // Written once, as the window's example data is.
        SettingsStore::Batch batch(store);
        StoredInputs stored(store);
        stored.saveCompanyName(inputs.companyName);
        stored.saveFiscalStart(inputs.fiscalStart);
        for (int line = 0; line < kLineCount; ++line)
            for (int column = 0; column < kColumnCount; ++column)
                stored.saveCell(line, column, inputs.cell(line, column));
        stored.markTextsInCurrentLocale();
    }
    Dialogs::setBackend(previousBackend);
    if (store.writeFailureTold()) {
        QString why = store.writeProblem();
        if (why.isEmpty())
            why = QStringLiteral("the file cannot be written");
        return fail(SafeFile::failureText(store.fileName(), why), kNotWritten);
    }
    return kDone;
}

// Writes the inputs file; the status.
int exportInputs(const ProjectionInputs& inputs, const QString& path, const QLocale& locale)
{
    const QByteArray text = inputsFileText(inputs, locale, inputsFileSeparator(path == kStandardStream ? QString() : path, locale));
    if (path == kStandardStream) {
        if (const QString why = writeStandardOutput(text); !why.isEmpty())
            return fail(SafeFile::failureText(displayName(path, true), why), kNotWritten);
        return kDone;
    }
    try {
        writeWholeFile(path, text);
    } catch (const std::exception& e) {
        return fail(QString::fromUtf8(e.what()), kNotWritten);
    }
    return kDone;
}

// Refuses a target the writer would refuse, before the projection is generated; the status or kDone.
int checkOutputTarget(const QString& path)
{
    if (path == kStandardStream)
        return kDone;
    try {
        SafeFile::checkTarget(path);
    } catch (const std::exception& e) {
        return fail(QString::fromUtf8(e.what()), kNotWritten);
    }
    // Nobody is asked here, so a file the user has marked read-only is not replaced.
    if (SafeFile::isReadOnly(path))
        return fail(SafeFile::failureText(path, QStringLiteral("the file is read-only")), kNotWritten);
    return kDone;
}

int generate(const ProjectionInputs& inputs, const QString& path, ExportFormat format)
{
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

    // Standard output gets the file the exporter wrote beside the scratch workbook.
    const bool toStandardOutput = path == kStandardStream;
    const QString target = toStandardOutput ? scratch + QStringLiteral(".out") : path;
    int status = kDone;
    try {
        ExportWorkbook(scratch, target, format);
    } catch (const WriteError& e) {
        status = fail(QString::fromUtf8(e.what()), kNotWritten);
    } catch (const std::exception& e) {
        status = fail(QString::fromUtf8(e.what()));
    }
    if (status == kDone && toStandardOutput) {
        QFile written(target);
        if (!written.open(QIODevice::ReadOnly)) {
            status = fail(QStringLiteral("the projection could not be generated: %1").arg(written.errorString()));
        } else if (const QString why = writeStandardOutput(written.readAll()); !why.isEmpty()) {
            status = fail(SafeFile::failureText(displayName(path, true), why), kNotWritten);
        }
    }
    if (toStandardOutput)
        DeleteScratchFile(target);
    DeleteScratchFile(scratch);
    return status;
}

std::optional<ExportFormat> formatNamed(const QString& name)
{
    return exportFormatFor(QStringLiteral("x.") + name);
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
    parser.setApplicationDescription(
        QStringLiteral(
            "Corvantis turns the figures of its main window into a twelve-month profit and loss projection.\n"
            "Without options it opens the main window; with --generate it writes a projection to a file\n"
            "without showing any window, from the figures stored by the window or from an inputs file.\n"
            "\n"
            "The window stores its figures in %1\n"
            "($XDG_CONFIG_HOME/Kestrelon/Corvantis.ini, else ~/.config/Kestrelon/Corvantis.ini).\n"
            "An inputs file is CSV (\",\" or \";\") or tab-separated text: optional rows \"Locale,de_DE\",\n"
            "\"Company Name,<name>\" and \"Fiscal Year Begins,<date>\", then the header row\n"
            "\"Name,IND. %,Month 1,...,Month 12\" and the 33 lines of the sheet in its order, each with\n"
            "the columns the window copies: name, IND. %, 12 amounts. Amounts are read in the locale of\n"
            "--locale, else of the file's Locale row, else the current one; dates also in ISO 8601.\n"
            "\n"
            "Exit status: 0 done, 1 the projection could not be made, 2 wrong arguments, 3 the inputs\n"
            "cannot be read (each bad field is named), 4 the output cannot be written. See corvantis(1).")
            .arg(SettingsStore::defaultFilePath()));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Shows this help and ends."));
    const QCommandLineOption version(QStringList{QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Shows the version and ends."));
    const QCommandLineOption generateOption(
        QStringLiteral("generate"),
        QStringLiteral("Writes the projection to <path>; the extension chooses the format: .xls (Excel 97-2003), "
                       ".xlsx (Excel workbook) or .pdf. \"-\" writes it to standard output."),
        QStringLiteral("path"));
    const QCommandLineOption formatOption(
        QStringLiteral("format"),
        QStringLiteral("The format of --generate: xls, xlsx or pdf (for standard output, where xls is the default)."),
        QStringLiteral("xls|xlsx|pdf"));
    const QCommandLineOption inputsOption(
        QStringLiteral("inputs"),
        QStringLiteral("Takes the figures from an inputs file (\"-\": standard input) instead of the store. "
                       "With --generate or --export-inputs no store is read or written; alone it replaces the "
                       "inputs of the store (the user's, or that of --store) by the file's."),
        QStringLiteral("file"));
    const QCommandLineOption exportOption(
        QStringLiteral("export-inputs"),
        QStringLiteral("Writes the figures as an inputs file (\"-\": standard output): tab-separated for .tsv, "
                       ".tab and .txt, else CSV with \";\" where the decimal mark is a comma, \",\" otherwise."),
        QStringLiteral("file"));
    const QCommandLineOption storeOption(
        QStringLiteral("store"),
        QStringLiteral("Uses this settings file (the window's format) instead of the user's store."),
        QStringLiteral("file"));
    const QCommandLineOption localeOption(
        QStringLiteral("locale"),
        QStringLiteral("The locale the inputs file's amounts and dates are written in (de_DE, en_US, ...), "
                       "for --inputs and --export-inputs."),
        QStringLiteral("name"));
    for (const QCommandLineOption* o :
         {&help, &version, &generateOption, &formatOption, &inputsOption, &exportOption, &storeOption, &localeOption})
        parser.addOption(*o);

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

    // Each option once, each with a value.
    for (const QCommandLineOption* o : {&generateOption, &formatOption, &inputsOption, &exportOption, &storeOption, &localeOption}) {
        const QStringList values = parser.values(*o);
        if (values.size() > 1)
            return fail(QStringLiteral("--%1 is given more than once").arg(o->names().first()), kUsage);
        if (values.size() == 1 && values.first().isEmpty())
            return fail(QStringLiteral("--%1 needs a file name").arg(o->names().first()), kUsage);
    }
    const bool generating = parser.isSet(generateOption);
    const bool exporting = parser.isSet(exportOption);
    const bool fromFile = parser.isSet(inputsOption);
    const QString target = parser.value(generateOption);
    const QString exportTarget = parser.value(exportOption);
    const QString inputsPath = parser.value(inputsOption);
    const QString storeFile = parser.value(storeOption);

    if (!generating && !exporting && !fromFile)
        return fail(QStringLiteral("nothing to do (see --help)"), kUsage);
    if (parser.isSet(formatOption) && !generating)
        return fail(QStringLiteral("--format goes with --generate"), kUsage);
    if (parser.isSet(localeOption) && !fromFile && !exporting)
        return fail(QStringLiteral("--locale goes with --inputs or --export-inputs"), kUsage);
    if (fromFile && parser.isSet(storeOption) && (generating || exporting))
        return fail(QStringLiteral("--store is not used when --inputs gives the figures for --generate or --export-inputs"),
                    kUsage);
    if (target == kStandardStream && exportTarget == kStandardStream)
        return fail(QStringLiteral("--generate and --export-inputs cannot both write to standard output"), kUsage);

    std::optional<QLocale> fileLocale;
    if (parser.isSet(localeOption)) {
        fileLocale = localeNamed(parser.value(localeOption));
        if (!fileLocale)
            return fail(QStringLiteral("--locale: \"%1\" names no locale").arg(parser.value(localeOption)), kUsage);
    }

    ExportFormat format = ExportFormat::Xls;
    if (generating) {
        const bool toStandardOutput = target == kStandardStream;
        const std::optional<ExportFormat> named = toStandardOutput ? std::nullopt : exportFormatFor(target);
        const bool byName = named.has_value();
        const ExportFormat nameFormat = named.value_or(ExportFormat::Xls);
        format = nameFormat;
        if (parser.isSet(formatOption)) {
            const std::optional<ExportFormat> asked = formatNamed(parser.value(formatOption));
            if (!asked)
                return fail(QStringLiteral("--format: \"%1\" is none of xls, xlsx and pdf").arg(parser.value(formatOption)), kUsage);
            if (byName && nameFormat != *asked)
                return fail(QStringLiteral("--format %1 does not match the extension of %2").arg(parser.value(formatOption), target),
                            kUsage);
            format = *asked;
        } else if (!toStandardOutput && !byName) {
            return fail(SafeFile::failureText(target, QStringLiteral("unknown file type; use .xls, .xlsx or .pdf")), kUsage);
        }
        // A workbook is no text for a terminal.
        if (toStandardOutput && ::isatty(STDOUT_FILENO))
            return fail(QStringLiteral("standard output is a terminal; send the workbook to a file or a pipe"), kUsage);
        if (const int status = checkOutputTarget(target); status != kDone)
            return status;
    }
    if (exporting) {
        if (const int status = checkOutputTarget(exportTarget); status != kDone)
            return status;
    }

    std::variant<ProjectionInputs, int> read = fromFile ? inputsFromFile(inputsPath, fileLocale) : inputsFromStore(storeFile);
    if (const int* status = std::get_if<int>(&read))
        return *status;
    const ProjectionInputs& inputs = std::get<ProjectionInputs>(read);

    if (fromFile && !generating && !exporting)
        return importInputs(inputs, storeFile);
    if (exporting) {
        if (const int status = exportInputs(inputs, exportTarget, fileLocale.value_or(QLocale())); status != kDone)
            return status;
    }
    if (generating)
        return generate(inputs, target, format);
    return kDone;
}

} // namespace corvantis
