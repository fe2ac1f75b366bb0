// The scratch-file routines: the scratch folder, existence, writing and deleting.
#include "core/files.h"

#include "core/errorreport.h"
#include "core/guard.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

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
};

QTEST_MAIN(TestFiles)
#include "test_files.moc"
