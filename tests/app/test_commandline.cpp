// `corvantis --generate`, --help and --version as a script sees them: the built program run
// without a display. A failure exits non-zero with exactly one line on standard error and
// leaves no file behind, not even a temporary one beside the target. Also the store-reading
// host that feeds generation without windows.
#include "core/projectioninputs.h"
#include "core/numbertext.h"
#include "core/settingsstore.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <clocale>
#include <locale.h>
#include <unistd.h>

using namespace corvantis;

namespace {

struct Result {
    int exitCode = -1;
    QString out, err;
};

} // namespace

class TestCommandLine : public QObject {
    Q_OBJECT

    QTemporaryDir mDir;
    QString mProgram;

    QString iniPath() const { return mDir.filePath(QStringLiteral("config/Kestrelon/Corvantis.ini")); }

    Result run(const QStringList& args, const QStringList& setEnv = {})
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), mDir.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("TEMP"), mDir.filePath(QStringLiteral("temp")));
        for (const QString& pair : setEnv)
            env.insert(pair.section(u'=', 0, 0), pair.section(u'=', 1));
        p.setProcessEnvironment(env);
        p.start(mProgram, args);
        Result r;
        if (!p.waitForFinished(120000))
            return r;
        r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
        r.err = QString::fromLocal8Bit(p.readAllStandardError());
        return r;
    }

    void seed()
    {
        SettingsStore store(iniPath());
        store.save(QStringLiteral("txtCompanyName"), QStringLiteral("Seeded Co"));
        store.save(cellSettingKey(QStringLiteral("txtYear1"), 0), QStringLiteral("1500"));
    }

    // A failure: non-zero, one line naming the problem, nothing at the target or beside it.
    void expectFailure(const QStringList& args, const QString& target, const QString& reason)
    {
        const QStringList before = QDir(QFileInfo(target).absolutePath()).entryList(QDir::Files);
        const Result r = run(args);
        QVERIFY2(r.exitCode != 0 && r.exitCode != -1, qPrintable(r.err));
        QVERIFY2(r.err.endsWith(u'\n') && r.err.count(u'\n') == 1, qPrintable(r.err));
        QVERIFY2(r.err.startsWith(QStringLiteral("corvantis: ")), qPrintable(r.err));
        QVERIFY2(r.err.contains(reason, Qt::CaseInsensitive), qPrintable(r.err));
        QVERIFY(!QFileInfo(target).isFile() || before.contains(QFileInfo(target).fileName()));
        QCOMPARE(QDir(QFileInfo(target).absolutePath()).entryList(QDir::Files), before);
        QCOMPARE(QDir(mDir.filePath(QStringLiteral("temp"))).entryList(QDir::Files), QStringList());
    }

private slots:
    void initTestCase()
    {
        QVERIFY(mDir.isValid());
        mProgram = qEnvironmentVariable("CORVANTIS_BIN_DIR") + QStringLiteral("/corvantis");
        QVERIFY(QFile::exists(mProgram));
        QDir(mDir.path()).mkpath(QStringLiteral("temp"));
        QDir(mDir.path()).mkpath(QStringLiteral("out"));
    }

    void helpAndVersion()
    {
        Result r = run({QStringLiteral("--version")});
        QCOMPARE(r.exitCode, 0);
        QVERIFY(r.out.startsWith(QStringLiteral("Corvantis 1.")));
        QCOMPARE(r.err, QString());
        r = run({QStringLiteral("--help")});
        QCOMPARE(r.exitCode, 0);
        QVERIFY(r.out.contains(QStringLiteral("--generate <path>")));
        QVERIFY(r.out.contains(QStringLiteral(".xlsx")));
        r = run({QStringLiteral("--frobnicate")});
        QVERIFY(r.exitCode != 0);
        QCOMPARE(r.err.count(u'\n'), 1);
    }

    void emptyStoreIsRefused()
    {
        const QString target = mDir.filePath(QStringLiteral("out/empty.xls"));
        expectFailure({QStringLiteral("--generate"), target}, target, QStringLiteral("no stored inputs"));
    }

    void badTargetsAreRefusedWithoutPartialFiles()
    {
        seed();
        const QString out = mDir.filePath(QStringLiteral("out"));
        expectFailure({QStringLiteral("--generate"), out + QStringLiteral("/p.txt")}, out + QStringLiteral("/p.txt"),
                      QStringLiteral("unknown file type"));
        expectFailure({QStringLiteral("--generate"), out + QStringLiteral("/p")}, out + QStringLiteral("/p"),
                      QStringLiteral("unknown file type"));
        expectFailure({QStringLiteral("--generate"), out + QStringLiteral("/missing/p.xls")}, out + QStringLiteral("/missing/p.xls"),
                      QStringLiteral("does not exist"));
        QDir(out).mkpath(QStringLiteral("folder.pdf"));
        expectFailure({QStringLiteral("--generate"), out + QStringLiteral("/folder.pdf")}, out + QStringLiteral("/folder.pdf"),
                      QStringLiteral("folder"));
        // A place no file can be created in even by root: generation runs, the write fails.
        expectFailure({QStringLiteral("--generate"), QStringLiteral("/proc/corvantis-test.xlsx")},
                      QStringLiteral("/proc/corvantis-test.xlsx"), QStringLiteral("cannot"));
        expectFailure({QStringLiteral("--generate"), QString()}, out + QStringLiteral("/x"), QStringLiteral("file name"));
    }

    void writesEachFormatAndReplacesAnExistingFile()
    {
        seed();
        for (const QString& name : {QStringLiteral("p.xls"), QStringLiteral("P.XLSX"), QStringLiteral("p.pdf")}) {
            const QString target = mDir.filePath(QStringLiteral("out/") + name);
            QFile old(target);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("old contents");
            old.close();
            const Result r = run({QStringLiteral("--generate"), target});
            QVERIFY2(r.exitCode == 0, qPrintable(r.err));
            QCOMPARE(r.err, QString());
            QFile f(target);
            QVERIFY(f.open(QIODevice::ReadOnly));
            const QByteArray head = f.read(8);
            if (name.endsWith(QLatin1String("xls")))
                QCOMPARE(head, QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8));
            else if (name.endsWith(QLatin1String("XLSX")))
                QVERIFY(head.startsWith("PK\x03\x04"));
            else
                QVERIFY(head.startsWith("%PDF-"));
        }
        // Nothing but the three targets (and the folder made above) in the folder, nothing in TEMP.
        QStringList written = QDir(mDir.filePath(QStringLiteral("out"))).entryList(QDir::Files);
        written.sort();
        QCOMPARE(written, QStringList({QStringLiteral("P.XLSX"), QStringLiteral("p.pdf"), QStringLiteral("p.xls")}));
        QCOMPARE(QDir(mDir.filePath(QStringLiteral("temp"))).entryList(QDir::Files), QStringList());
    }

    // A store that is no settings file is said to be one, with its own status; texts in a
    // good store that cannot be read are named by key and text, and the workbook is still made.
    void badStoresAndUnreadableTextsAreTold()
    {
        const QString target = mDir.filePath(QStringLiteral("out/bad-store.xls"));
        QDir().mkpath(QFileInfo(iniPath()).absolutePath());
        QFile::remove(iniPath());

        QFile random(iniPath());
        QVERIFY(random.open(QIODevice::WriteOnly));
        QByteArray noise;
        for (int i = 0; i < 4096; ++i)
            noise += char((i * 7919 + 13) % 256);
        random.write(noise);
        random.close();
        expectFailure({QStringLiteral("--generate"), target}, target, QStringLiteral("not a settings file"));
        QCOMPARE(run({QStringLiteral("--generate"), target}).exitCode, 3);
        QVERIFY(QFile::remove(iniPath()));

        QVERIFY(QDir().mkpath(iniPath()));
        expectFailure({QStringLiteral("--generate"), target}, target, QStringLiteral("folder"));
        QVERIFY(QDir().rmdir(iniPath()));

        if (::geteuid() != 0) {   // root reads any file
            seed();
            QFile::setPermissions(iniPath(), QFileDevice::Permissions());
            expectFailure({QStringLiteral("--generate"), target}, target, QStringLiteral("cannot be read"));
            QFile::setPermissions(iniPath(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        }

        seed();
        {
            SettingsStore store(iniPath());
            store.save(QStringLiteral("DTPicker1"), QStringLiteral("notadate"));
            store.save(cellSettingKey(QStringLiteral("txtYear3"), 5), QStringLiteral("abc"));
            store.save(cellSettingKey(QStringLiteral("txtInd"), 2), QStringLiteral("lots"));
        }
        const Result r = run({QStringLiteral("--generate"), target});
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QVERIFY(QFileInfo(target).isFile());
        const QStringList lines = r.err.split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 3);
        QVERIFY2(r.err.contains(QStringLiteral("DTPicker1 \"notadate\"")), qPrintable(r.err));
        QVERIFY2(r.err.contains(QStringLiteral("txtYear35 \"abc\"")), qPrintable(r.err));
        QVERIFY2(r.err.contains(QStringLiteral("txtInd2 \"lots\"")), qPrintable(r.err));
        QFile::remove(target);
        QFile::remove(iniPath());
    }

    // A name in the locale's own encoding reaches the file system byte for byte; without a
    // display the windows end with one plain line, never an abort.
    void namesAndDisplays()
    {
        seed();
        if (locale_t latin1 = ::newlocale(LC_ALL_MASK, "de_DE.ISO-8859-1", locale_t(0))) {
            ::freelocale(latin1);
            const QByteArray folder = QFile::encodeName(mDir.filePath(QStringLiteral("out")));
            QProcess p;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.remove(QStringLiteral("DISPLAY"));
            env.insert(QStringLiteral("XDG_CONFIG_HOME"), mDir.filePath(QStringLiteral("config")));
            env.insert(QStringLiteral("TEMP"), mDir.filePath(QStringLiteral("temp")));
            env.insert(QStringLiteral("LC_ALL"), QStringLiteral("de_DE.ISO-8859-1"));
            p.setProcessEnvironment(env);
            // The shell hands over the Latin-1 byte of "é" (\351) untouched.
            p.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("exec \"$0\" --generate \"$1/caf\"$(printf '\\351')\".xls\""),
                                                mProgram, QString::fromLocal8Bit(folder)});
            QVERIFY(p.waitForFinished(120000));
            QVERIFY2(p.exitCode() == 0, p.readAllStandardError().constData());
            const QByteArray latinName = folder + "/caf\xe9.xls";
            QVERIFY2(::access(latinName.constData(), F_OK) == 0, "the Latin-1 name is not on disk");
            QVERIFY(::unlink(latinName.constData()) == 0);
        } else {
            qInfo("de_DE.ISO-8859-1 is not installed: the Latin-1 name is not tried");
        }

        for (const QStringList& args : {QStringList(), QStringList{mDir.filePath(QStringLiteral("out/file.xls"))}}) {
            for (const QString& platform : {QString(), QStringLiteral("QT_QPA_PLATFORM=xcb")}) {
                const Result r = run(args, platform.isEmpty() ? QStringList() : QStringList{platform});
                QVERIFY2(r.exitCode > 0, qPrintable(QString::number(r.exitCode) + r.err));   // -1: it crashed
                QCOMPARE(r.err.count(u'\n'), 1);
                QVERIFY2(r.err.startsWith(QStringLiteral("corvantis: ")) && r.err.contains(QStringLiteral("display")),
                         qPrintable(r.err));
            }
        }
        // A display that is named but not there.
        const Result r = run({}, {QStringLiteral("DISPLAY=:4711")});
        QVERIFY2(r.exitCode > 0, qPrintable(QString::number(r.exitCode) + r.err));
        QCOMPARE(r.err.count(u'\n'), 1);
    }

    void hostReadsTheStoreAsTheMainWindowDoes()
    {
        QTemporaryDir dir;
        SettingsStore store(dir.filePath(QStringLiteral("s.ini")));
        QVERIFY(StoredInputs(store).isEmpty());
        store.save(cellSettingKey(QStringLiteral("txtInd"), 32), QStringLiteral("4"));
        QVERIFY(!StoredInputs(store).isEmpty());
        store.save(QStringLiteral("DTPicker1"), QStringLiteral("not a date"));
        store.save(cellSettingKey(QStringLiteral("txtRevenue"), 3), QStringLiteral("Consulting"));
        store.save(cellSettingKey(QStringLiteral("txtYear1"), 12), QStringLiteral("250.5"));   // txtYear1_12
        store.save(cellSettingKey(QStringLiteral("txtYear12"), 12), QStringLiteral("1.2.3"));  // unreadable
        const QDate today(2026, 3, 15);
        const ProjectionInputs host = StoredInputs(store).readAll(today);
        QCOMPARE(host.companyName, QString());
        QCOMPARE(host.fiscalStart, today);   // an unreadable date keeps the picker's own
        QCOMPARE(host.cell(3, 0), QStringLiteral("Consulting"));
        QCOMPARE(host.cell(0, 0), QStringLiteral("Category 1"));   // the design name
        QCOMPARE(host.cell(32, 1), QStringLiteral("4"));
        QCOMPARE(host.cell(5, 1), QStringLiteral("0"));
        QCOMPARE(host.cell(12, 2), FormatAmount(QStringLiteral("250.5"), 2));
        QCOMPARE(host.cell(12, 13), FormatAmount(QStringLiteral("0"), 2));
        QCOMPARE(host.cell(33, 0), QString());

        store.save(QStringLiteral("DTPicker1"), QStringLiteral("2025-11-15"));
        QCOMPARE(StoredInputs(store).readAll(today).fiscalStart, QDate(2025, 11, 15));
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "test_commandline.moc"
