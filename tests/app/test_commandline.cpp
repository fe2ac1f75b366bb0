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

    Result run(const QStringList& args)
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), mDir.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("TEMP"), mDir.filePath(QStringLiteral("temp")));
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
