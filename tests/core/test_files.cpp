// The scratch-file routines: the scratch folder, existence, writing and deleting; and the
// whole-or-nothing writer every saved file goes through.
#include "core/files.h"
#include "spreadsheet/sidethreads.h"
#include "core/safefile.h"

#include "core/errorreport.h"
#include "core/guard.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace corvantis;

namespace {

constexpr QFile::Permissions kOthers = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther
    | QFile::WriteOther | QFile::ExeOther;

// Restores an environment variable when the test ends.
struct EnvGuard {
    explicit EnvGuard(const char* n) : name(n), had(qEnvironmentVariableIsSet(n)), value(qgetenv(n)) {}
    ~EnvGuard() { had ? void(qputenv(name, value)) : void(qunsetenv(name)); }
    const char* name;
    bool had;
    QByteArray value;
};

QByteArray bytesOf(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

QStringList everything(const QString& dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// The text of a StepError thrown by `write`, empty when nothing was thrown.
template <typename F>
QString failureOf(F write)
{
    try {
        write();
    } catch (const StepError& e) {
        return QString::fromUtf8(e.what());
    }
    return {};
}

} // namespace

class TestFiles : public QObject {
    Q_OBJECT
private slots:
    void writeAndExist()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("template.xlt"));
        QVERIFY(!FileExists(QString()));
        QVERIFY(!FileExists(path));
        const QByteArray bytes("\xD0\xCF\x11\xE0\0\0\x01\xFF tail", 14);
        WriteBytesToFile(bytes, path);
        QVERIFY(FileExists(path));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), bytes);   // no header, no length prefix
        QVERIFY_THROWS_EXCEPTION(StepError, WriteBytesToFile("x", dir.filePath(QStringLiteral("no/folder/t.xlt"))));
    }

    void deleteNeverFailsAndLetsEventsRun()
    {
        std::vector<ErrorReport> reports;
        const auto previous = setErrorReportSink([&](const ErrorReport& r) { reports.push_back(r); });
        bool ran = false;
        QTimer::singleShot(0, qApp, [&] { ran = true; });
        QTemporaryDir dir;
        DeleteScratchFile(dir.filePath(QStringLiteral("missing.xls")));
        DeleteScratchFile(QString());
        QVERIFY(ran);

        const QString readOnly = dir.filePath(QStringLiteral("temp.bmp"));
        QFile(readOnly).open(QIODevice::WriteOnly);
        QVERIFY(QFile::setPermissions(readOnly, QFile::ReadOwner));
        DeleteScratchFile(readOnly);
        QVERIFY(!QFile::exists(readOnly));

        // A picture of megabytes is gone from the folder at once, and its last descriptor, closed
        // beside, is not left open (side jobs run in order, so an empty one waits for the close).
        const auto openFiles = [] { return QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size(); };
        const qsizetype before = openFiles();
        for (const QFile::Permissions permissions : {QFile::ReadOwner | QFile::WriteOwner, QFile::Permissions(QFile::ReadOwner),
                                                     QFile::Permissions(QFile::WriteOwner)}) {
            const QString large = dir.filePath(QStringLiteral("large.bmp"));
            QFile file(large);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QCOMPARE(file.write(QByteArray(3 << 20, 'x')), qint64(3 << 20));
            file.close();
            QVERIFY(QFile::setPermissions(large, permissions));
            DeleteScratchFile(large);
            QVERIFY(!QFileInfo::exists(large));
        }
        ss::runBeside(0, [] {}).wait();
        QCOMPARE(openFiles(), before);
        setErrorReportSink(previous);
        QVERIFY(reports.empty());
        QVERIFY_THROWS_EXCEPTION(StepError, ForceDeleteFile(readOnly));   // gone: the forced delete says so
    }

    void forcedDeleteOpensAClosedFolderForAMoment()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("closed"));
        QVERIFY(QDir().mkdir(folder));
        const QString inside = QDir(folder).filePath(QStringLiteral("temp.bmp"));
        QFile(inside).open(QIODevice::WriteOnly);
        QVERIFY(QFile::setPermissions(inside, QFile::ReadOwner));
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
        ForceDeleteFile(inside);
        QVERIFY(!QFile::exists(inside));
        QVERIFY(!(QFileInfo(folder).permissions() & QFile::WriteOwner));
    }

    void scratchFolderRules()
    {
        EnvGuard temp("TEMP"), cache("XDG_CACHE_HOME"), home("HOME"), tmpdir("TMPDIR");
        qputenv("TEMP", "/some/where/tmp/");
        QCOMPARE(ScratchPath(QStringLiteral("temp.bmp")), QStringLiteral("/some/where/tmp/temp.bmp"));
        setScratchFolderOverride(QStringLiteral("/injected"));
        QCOMPARE(ScratchFolder(), QStringLiteral("/injected"));
        setScratchFolderOverride(QString());

        // Without TEMP (or with an empty one): a private folder in the user's cache folder.
        QTemporaryDir user;
        qputenv("TEMP", "");
        qputenv("XDG_CACHE_HOME", QFile::encodeName(user.filePath(QStringLiteral("cache"))));
        const QString folder = ScratchFolder();
        QVERIFY2(folder.startsWith(user.path() + QLatin1Char('/')), qPrintable(folder));
        QVERIFY(QFileInfo(folder).isDir());
        QCOMPARE(QFileInfo(folder).permissions() & kOthers, QFile::Permissions());
        QCOMPARE(QFileInfo(ScratchPath(QStringLiteral("temp.bmp"))).absolutePath(), folder);
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther));
        QCOMPARE(ScratchFolder(), folder);
        QCOMPARE(QFileInfo(folder).permissions() & kOthers, QFile::Permissions());   // closed again

        // Without a home folder either: one per user in the system's temporary folder.
        qunsetenv("TEMP");
        qunsetenv("XDG_CACHE_HOME");
        qunsetenv("HOME");
        qputenv("TMPDIR", QFile::encodeName(user.path()));
        const QString fallback = ScratchFolder();
        QVERIFY2(fallback.startsWith(user.path() + QStringLiteral("/corvantis-")), qPrintable(fallback));
        QCOMPARE(QFileInfo(fallback).permissions() & kOthers, QFile::Permissions());
    }

#ifdef Q_OS_UNIX
    // ------------------------------------------------------------------ the whole-or-nothing writer

    void replacedFileKeepsModeAndOwner()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("report.xls"));
        writeWholeFile(path, "OLD");
        QVERIFY(::chmod(QFile::encodeName(path).constData(), 0640) == 0);
        const bool root = ::geteuid() == 0;
        if (root)
            QVERIFY(::chown(QFile::encodeName(path).constData(), 65534, 65534) == 0);
        writeWholeFile(path, "NEW");
        QCOMPARE(bytesOf(path), QByteArray("NEW"));
        struct stat st {};
        QVERIFY(::stat(QFile::encodeName(path).constData(), &st) == 0);
        QCOMPARE(st.st_mode & 07777, mode_t(0640));
        if (root)
            QCOMPARE(st.st_uid, uid_t(65534));
        QCOMPARE(everything(dir.path()), QStringList{QStringLiteral("report.xls")});
    }

    void linksFoldersAndNewcomersAreNotReplaced()
    {
        QTemporaryDir dir;
        const QString pointee = dir.filePath(QStringLiteral("elsewhere.txt"));
        writeWholeFile(pointee, "precious");
        const QString link = dir.filePath(QStringLiteral("planted.xls"));
        QVERIFY(QFile::link(pointee, link));
        const QString why = failureOf([&] { writeWholeFile(link, "attack"); });
        QVERIFY2(why.startsWith(QLatin1Char('"') + link + QStringLiteral("\" cannot be written: ")) && why.contains(QStringLiteral("link")),
                 qPrintable(why));
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(bytesOf(pointee), QByteArray("precious"));
        QVERIFY(failureOf([&] { writeWholeFile(dir.path(), "x"); }).contains(QStringLiteral("folder")));

        // Without leave to replace, a file that appears while the copy is written is kept.
        const QString late = dir.filePath(QStringLiteral("late.xls"));
        {
            SafeFile file(late, SafeFile::Existing::Keep);
            file.write("mine");
            writeWholeFile(late, "theirs");
            QVERIFY(failureOf([&] { file.commit(); }).contains(QStringLiteral("already exists")));
        }
        QCOMPARE(bytesOf(late), QByteArray("theirs"));
        QCOMPARE(everything(dir.path()), (QStringList{QStringLiteral("elsewhere.txt"), QStringLiteral("late.xls"),
                                                      QStringLiteral("planted.xls")}));
    }

    // A write the system refuses half-way (here: past the largest file this process may write).
    void failedWriteKeepsTheOldFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("report.xls"));
        const QByteArray old(8 * 1024, 'o');
        writeWholeFile(path, old);
        rlimit saved {};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &saved) == 0);
        const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = saved;
        small.rlim_cur = 16 * 1024;
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &small) == 0);
        const QString why = failureOf([&] { writeWholeFile(path, QByteArray(256 * 1024, 'n')); });
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previousHandler);
        QCOMPARE(why, QLatin1Char('"') + path + QStringLiteral("\" cannot be written: ") + qt_error_string(EFBIG));
        QCOMPARE(bytesOf(path), old);
        QCOMPARE(everything(dir.path()), QStringList{QStringLiteral("report.xls")});
    }
#endif
};

QTEST_MAIN(TestFiles)
#include "test_files.moc"
