// The scratch-file routines: the scratch folder, existence, writing and deleting.
#include "workbook/files.h"

#include "app/errorreport.h"
#include "app/guard.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

using namespace corvantis;

namespace {

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// Restores an environment variable when the test ends.
class EnvGuard {
public:
    explicit EnvGuard(const char* name) : name_(name), had_(qEnvironmentVariableIsSet(name)), value_(qgetenv(name)) {}
    ~EnvGuard()
    {
        if (had_)
            qputenv(name_, value_);
        else
            qunsetenv(name_);
    }

private:
    const char* name_;
    bool had_;
    QByteArray value_;
};

constexpr QFile::Permissions kOwnerOnly = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
constexpr QFile::Permissions kOthers = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther
    | QFile::WriteOther | QFile::ExeOther;

} // namespace

class TestFiles : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { setScratchFolderOverride(QString()); }

    void fileExists()
    {
        QTemporaryDir dir;
        QVERIFY(!FileExists(QString()));
        QVERIFY(!FileExists(dir.filePath(QStringLiteral("none.xls"))));
        const QString path = dir.filePath(QStringLiteral("there.xls"));
        writeFile(path, "x");
        QVERIFY(FileExists(path));
    }

    void writeBytesWritesThemExactly()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("template.xlt"));
        const QByteArray bytes("\xD0\xCF\x11\xE0\0\0\x01\xFF tail", 14);
        WriteBytesToFile(bytes, path);
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), bytes);   // no header, no length prefix
        f.close();
        WriteBytesToFile("ab", path);
        QCOMPARE(QFileInfo(path).size(), 2);
    }

    void writeBytesToAMissingFolderThrows()
    {
        QTemporaryDir dir;
        QVERIFY_THROWS_EXCEPTION(StepError,
                                 WriteBytesToFile("x", dir.filePath(QStringLiteral("no/such/folder/t.xlt"))));
    }

    void deleteScratchFileIsQuiet()
    {
        std::vector<ErrorReport> reports;
        const auto previous = setErrorReportSink([&](const ErrorReport& r) { reports.push_back(r); });
        QTemporaryDir dir;
        DeleteScratchFile(dir.filePath(QStringLiteral("missing.xls")));
        DeleteScratchFile(QString());
        const QString path = dir.filePath(QStringLiteral("tolvek11111111.xls"));
        writeFile(path, "x");
        DeleteScratchFile(path);
        QVERIFY(!QFile::exists(path));
        setErrorReportSink(previous);
        QVERIFY(reports.empty());
    }

    void deleteScratchFileLetsPendingEventsRun()
    {
        bool ran = false;
        QTimer::singleShot(0, qApp, [&] { ran = true; });
        QTemporaryDir dir;
        DeleteScratchFile(dir.filePath(QStringLiteral("missing.xls")));
        QVERIFY(ran);
    }

    void readOnlyFilesAreDeletedToo()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("temp.bmp"));
        writeFile(path, "x");
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner));
        DeleteScratchFile(path);
        QVERIFY(!QFile::exists(path));

        // In a folder that is closed for writing as well.
        const QString folder = dir.filePath(QStringLiteral("closed"));
        QVERIFY(QDir().mkdir(folder));
        const QString inside = QDir(folder).filePath(QStringLiteral("temp.bmp"));
        writeFile(inside, "x");
        QVERIFY(QFile::setPermissions(inside, QFile::ReadOwner));
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
        ForceDeleteFile(inside);
        QVERIFY(!QFile::exists(inside));
        QCOMPARE(QFileInfo(folder).permissions() & kOwnerOnly, QFile::ReadOwner | QFile::ExeOwner);
    }

    void forceDeleteOfAMissingFileThrows()
    {
        QTemporaryDir dir;
        QVERIFY_THROWS_EXCEPTION(StepError, ForceDeleteFile(dir.filePath(QStringLiteral("missing"))));
    }

    void scratchFolderFollowsTemp()
    {
        EnvGuard temp("TEMP");
        qputenv("TEMP", "/some/where/tmp");
        QCOMPARE(ScratchFolder(), QStringLiteral("/some/where/tmp"));
        QCOMPARE(ScratchPath(QStringLiteral("temp.bmp")), QStringLiteral("/some/where/tmp/temp.bmp"));
        qputenv("TEMP", "/some/where/tmp/");
        QCOMPARE(ScratchPath(QStringLiteral("temp.bmp")), QStringLiteral("/some/where/tmp/temp.bmp"));

        setScratchFolderOverride(QStringLiteral("/injected"));
        QCOMPARE(ScratchFolder(), QStringLiteral("/injected"));
    }

    void withoutTempAPrivateFolderIsMade()
    {
        EnvGuard temp("TEMP");
        EnvGuard cache("XDG_CACHE_HOME");
        QTemporaryDir home;
        qunsetenv("TEMP");
        qputenv("XDG_CACHE_HOME", QFile::encodeName(home.filePath(QStringLiteral("cache"))));

        const QString folder = ScratchFolder();
        QVERIFY2(QDir::isAbsolutePath(folder), qPrintable(folder));
        QVERIFY(folder.startsWith(home.path()));
        QVERIFY(QFileInfo(folder).isDir());
        QCOMPARE(QFileInfo(folder).permissions() & kOthers, QFile::Permissions());
        QCOMPARE(QFileInfo(folder).permissions() & kOwnerOnly, kOwnerOnly);
        QCOMPARE(QFileInfo(ScratchPath(QStringLiteral("temp.bmp"))).absolutePath(), folder);

        // A folder left open to others is closed again.
        QVERIFY(QFile::setPermissions(folder, kOwnerOnly | QFile::ReadOther | QFile::ExeOther));
        QCOMPARE(ScratchFolder(), folder);
        QCOMPARE(QFileInfo(folder).permissions() & kOthers, QFile::Permissions());

        // An empty TEMP counts as unset.
        qputenv("TEMP", "");
        QCOMPARE(ScratchFolder(), folder);
    }

    void withoutTempOrCacheTheSystemTempFolderIsUsed()
    {
        EnvGuard temp("TEMP");
        EnvGuard cache("XDG_CACHE_HOME");
        EnvGuard home("HOME");
        EnvGuard tmpdir("TMPDIR");
        QTemporaryDir tmp;
        qunsetenv("TEMP");
        qunsetenv("XDG_CACHE_HOME");
        qunsetenv("HOME");
        qputenv("TMPDIR", QFile::encodeName(tmp.path()));

        const QString folder = ScratchFolder();
        QVERIFY2(folder.startsWith(tmp.path() + QStringLiteral("/corvantis-")), qPrintable(folder));
        QCOMPARE(QFileInfo(folder).permissions() & kOthers, QFile::Permissions());
        QVERIFY(QFileInfo(folder).isDir());
    }
};

QTEST_MAIN(TestFiles)
#include "test_files.moc"
