// `corvantis --generate`, --help and --version as a script sees them: the built program run
// without a display. A failure exits non-zero with exactly one line on standard error and
// leaves no file behind, not even a temporary one beside the target. Also the store-reading
// host that feeds generation without windows, and inputs files: written by LibreOffice,
// Gnumeric and by hand under German and American settings they give the workbook the same
// figures give from the window's store, and an exported file comes back unchanged.
#include "core/projectioninputs.h"
#include "spreadsheet/model.h"
#include "spreadsheet/xls.h"
#include "core/inputsfile.h"
#include "core/numbertext.h"
#include "core/settingsstore.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
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
    QByteArray outBytes;
};

// The figures of the comparisons, as a person types them under `locale` (amounts with digit
// groups, a negative one, more decimals than the currency's, empty cells) with names that need
// quoting in any CSV: company, fiscal start, then per line name, IND. % and 12 amounts.
struct Figures {
    QString company = QStringLiteral("Bäckerei \"Nord\"; Kestrel, Ltd");
    QDate start{2025, 4, 1};
    QString name(int line) const
    {
        return line == 3 ? QStringLiteral("Rent; rates, \"fees\"") : line >= 14 ? QString() : QStringLiteral("Goods %1").arg(line + 1);
    }
    QString ind(int line, const QLocale& l) const { return l.toString(line * 0.5 + 0.25, 'f', 2); }
    QString amount(int line, int m, const QLocale& l) const
    {
        if ((line + m) % 7 == 0)
            return QString();   // left empty: zero
        const double v = (line % 5 == 4 ? -1 : 1) * (line * 1013.0 + m * 7.125);
        return l.toString(v, 'f', 3);   // digit groups and three decimals
    }
};

void writeText(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// Every cell of both workbooks' sheets: value, format and formula.
void compareWorkbooks(const QString& expected, const QString& actual)
{
    QVERIFY(QFile::exists(expected) && QFile::exists(actual));
    const ss::Workbook a = ss::xls::load(expected.toStdString());
    const ss::Workbook b = ss::xls::load(actual.toStdString());
    QCOMPARE(a.sheets.size(), b.sheets.size());
    for (size_t s = 0; s < a.sheets.size(); ++s) {
        QCOMPARE(a.sheets[s].cells.size(), b.sheets[s].cells.size());
        for (const auto& [at, cell] : a.sheets[s].cells) {
            const auto other = b.sheets[s].cells.find(at);
            QVERIFY(other != b.sheets[s].cells.end());
            const QString where = QStringLiteral("sheet %1 row %2 column %3").arg(s).arg(at.row + 1).arg(at.col + 1);
            QVERIFY2(cell.value == other->second.value && cell.xf == other->second.xf
                         && cell.formula == other->second.formula,
                     qPrintable(where));
        }
    }
}

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
        r.outBytes = p.readAllStandardOutput();
        r.out = QString::fromLocal8Bit(r.outBytes);
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

    // A store holding the figures as the window keeps them once typed under `l`.
    void storeFigures(const QString& path, const Figures& f, const QLocale& l)
    {
        QLocale::setDefault(l);
        SettingsStore store(path);
        SettingsStore::Batch batch(store);
        store.save(QLatin1String(kLocaleKey), LocaleName(l));
        store.save(QStringLiteral("txtCompanyName"), f.company);
        store.save(QStringLiteral("DTPicker1"), dateSettingText(f.start, l));
        for (int line = 0; line < kLineCount; ++line) {
            if (!f.name(line).isEmpty())
                store.save(InputKey::cell(line, kNameColumn).name(), f.name(line));
            store.save(InputKey::cell(line, kIndColumn).name(), f.ind(line, l));
            for (int m = 1; m <= kMonthCount; ++m) {
                if (!f.amount(line, m, l).isEmpty())
                    store.save(InputKey::cell(line, monthColumn(m)).name(), FormatAmount(f.amount(line, m, l), 2));
            }
        }
        QLocale::setDefault(QLocale::system());
    }

    bool convert(const QString& program, const QStringList& args, const QStringList& env)
    {
        QProcess p;
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        for (const QString& pair : env)
            e.insert(pair.section(u'=', 0, 0), pair.section(u'=', 1));
        p.setProcessEnvironment(e);
        p.start(program, args);
        return p.waitForFinished(180000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    }

    void spreadsheetFilesGiveTheWindowsWorkbook_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::newRow("German") << QStringLiteral("de_DE");
        QTest::newRow("American") << QStringLiteral("en_US");
    }

    void spreadsheetFilesGiveTheWindowsWorkbook()
    {
        QFETCH(QString, locale);
        const QLocale l(locale);
        const QStringList env{QStringLiteral("LC_ALL=%1.UTF-8").arg(locale), QStringLiteral("LANG=%1.UTF-8").arg(locale)};
        const Figures f;
        const QDir work(mDir.filePath(locale));
        QVERIFY(work.mkpath(QStringLiteral("lo")));
        storeFigures(work.filePath(QStringLiteral("window.ini")), f, l);
        const QString expected = work.filePath(QStringLiteral("window.xls"));
        Result r = run({QStringLiteral("--store"), work.filePath(QStringLiteral("window.ini")), QStringLiteral("--generate"), expected}, env);
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));

        // By hand, the way each country writes CSV: German with a byte-order mark, CR LF, ";"
        // and its locale declared; American plain, read in the current locale.
        const bool german = l.decimalPoint() == QLatin1String(",");
        const QChar sep = german ? u';' : u',';
        auto quoted = [&](const QString& s) {
            return s.contains(sep) || s.contains(u'"') ? u'"' + QString(s).replace(u'"', QLatin1String("\"\"")) + u'"' : s;
        };
        QStringList rows;
        if (german)
            rows << QStringLiteral("Locale;de_DE");
        rows << QStringLiteral("Company Name") + sep + quoted(f.company);
        rows << QStringLiteral("Fiscal Year Begins") + sep + (german ? QStringLiteral("01.04.2025") : QStringLiteral("4/1/2025"));
        QStringList header{QStringLiteral("Name"), QStringLiteral("IND. %")};
        for (int m = 1; m <= kMonthCount; ++m)
            header << QStringLiteral("Month %1").arg(m);
        rows << header.join(sep);
        for (int line = 0; line < kLineCount; ++line) {
            QStringList fields{quoted(f.name(line)), quoted(f.ind(line, l))};
            for (int m = 1; m <= kMonthCount; ++m)
                fields << quoted(f.amount(line, m, l));
            rows << fields.join(sep);
        }
        const QString hand = work.filePath(QStringLiteral("figures.csv"));
        writeText(hand, german ? "\xEF\xBB\xBF" + rows.join(QStringLiteral("\r\n")).toUtf8() + "\r\n" : rows.join(u'\n').toUtf8());
        QStringList files{hand};

        // LibreOffice makes a workbook of them and writes it back as CSV; Gnumeric does the same.
        const QString filter = QStringLiteral("%1,34,76,1,,%2").arg(int(sep.unicode())).arg(german ? 1031 : 1033);
        const QStringList lo{QStringLiteral("-env:UserInstallation=file://") + mDir.filePath(QStringLiteral("lo-profile")),
                             QStringLiteral("--headless")};
        if (!QStandardPaths::findExecutable(QStringLiteral("soffice")).isEmpty()) {
            QVERIFY(convert(QStringLiteral("soffice"), lo + QStringList{QStringLiteral("--infilter=CSV:") + filter,
                            QStringLiteral("--convert-to"), QStringLiteral("xlsx"), QStringLiteral("--outdir"), work.path(), hand}, env));
            QVERIFY(convert(QStringLiteral("soffice"), lo + QStringList{QStringLiteral("--convert-to"),
                            QStringLiteral("csv:Text - txt - csv (StarCalc):") + filter, QStringLiteral("--outdir"),
                            work.filePath(QStringLiteral("lo")), work.filePath(QStringLiteral("figures.xlsx"))}, env));
            files << work.filePath(QStringLiteral("lo/figures.csv"));
            if (!QStandardPaths::findExecutable(QStringLiteral("ssconvert")).isEmpty()) {
                QVERIFY(convert(QStringLiteral("ssconvert"), {work.filePath(QStringLiteral("figures.xlsx")),
                                                              work.filePath(QStringLiteral("gnumeric.csv"))}, env));
                files << work.filePath(QStringLiteral("gnumeric.csv"));
            }
        } else {
            qInfo("LibreOffice is not installed: only the file written by hand is read");
        }
        for (const QString& file : std::as_const(files)) {
            const QString actual = file + QStringLiteral(".xls");
            r = run({QStringLiteral("--inputs"), file, QStringLiteral("--generate"), actual}, env);
            QVERIFY2(r.exitCode == 0, qPrintable(file + QStringLiteral(": ") + r.err));
            compareWorkbooks(expected, actual);
        }
    }

    // Exported and read back, into a store or a workbook, the figures stay what they were, in
    // the current locale's forms and in another's.
    void exportedInputsComeBackUnchanged()
    {
        const QStringList env{QStringLiteral("LC_ALL=en_US.UTF-8")};
        const QString source = mDir.filePath(QStringLiteral("source.ini"));
        storeFigures(source, Figures(), QLocale(QStringLiteral("de_DE")));   // written under other settings
        auto path = [&](const char* name) { return mDir.filePath(QString::fromLatin1(name)); };
        auto ok = [&](const QStringList& args) {
            const Result r = run(args, env);
            QVERIFY2(r.exitCode == 0, qPrintable(args.join(u' ') + QStringLiteral(": ") + r.err));
        };
        ok({QStringLiteral("--store"), source, QStringLiteral("--export-inputs"), path("a.csv")});
        ok({QStringLiteral("--inputs"), path("a.csv"), QStringLiteral("--store"), path("imported.ini")});
        ok({QStringLiteral("--store"), path("imported.ini"), QStringLiteral("--export-inputs"), path("b.csv")});
        QFile a(path("a.csv")), b(path("b.csv"));
        QVERIFY(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
        const QByteArray exported = a.readAll();
        QCOMPARE(b.readAll(), exported);
        QVERIFY(exported.contains("\"Rent; rates, \"\"fees\"\"\""));

        ok({QStringLiteral("--store"), source, QStringLiteral("--generate"), path("store.xls")});
        ok({QStringLiteral("--inputs"), path("a.csv"), QStringLiteral("--generate"), path("a.xls")});
        compareWorkbooks(path("store.xls"), path("a.xls"));
        // Converted to German forms (";" and decimal commas) and read back by their declaration.
        const Result converted = run({QStringLiteral("--inputs"), path("a.csv"), QStringLiteral("--export-inputs"), path("german.csv")},
                                     {QStringLiteral("LC_ALL=de_DE.UTF-8")});
        QVERIFY2(converted.exitCode == 0, qPrintable(converted.err));
        ok({QStringLiteral("--inputs"), path("german.csv"), QStringLiteral("--generate"), path("german.xls")});
        compareWorkbooks(path("store.xls"), path("german.xls"));
    }

    void exitStatusesTellWhatFailed()
    {
        const QString store = mDir.filePath(QStringLiteral("status.ini"));
        storeFigures(store, Figures(), QLocale(QStringLiteral("en_US")));
        auto path = [&](const char* name) { return mDir.filePath(QString::fromLatin1(name)); };
        auto status = [&](const QStringList& args) { return run(args, {QStringLiteral("LC_ALL=en_US.UTF-8")}); };
        QCOMPARE(status({QStringLiteral("--store"), store, QStringLiteral("--export-inputs"), path("good.csv")}).exitCode, 0);

        // Bad fields: each named by file, line and column; nothing written anywhere.
        QFile good(path("good.csv"));
        QVERIFY(good.open(QIODevice::ReadOnly));
        QList<QByteArray> lines = good.readAll().split('\n');
        lines[5].replace(lines[5].indexOf(",", lines[5].indexOf(",") + 1), 1, ",12x");   // line 6, month 1
        lines[8].replace(lines[8].indexOf(","), 1, ",lots");                             // line 9, IND. %
        writeText(path("bad.csv"), lines.join('\n'));
        Result r = status({QStringLiteral("--inputs"), path("bad.csv"), QStringLiteral("--generate"), path("bad.xls")});
        QCOMPARE(r.exitCode, 3);
        QVERIFY2(r.err.contains(QStringLiteral("bad.csv:6:3: month 1 of line 2")), qPrintable(r.err));
        QVERIFY2(r.err.contains(QStringLiteral("bad.csv:9:2: IND. % of line 5")), qPrintable(r.err));
        QVERIFY(!QFile::exists(path("bad.xls")));
        QCOMPARE(status({QStringLiteral("--inputs"), path("bad.csv"), QStringLiteral("--store"), path("bad.ini")}).exitCode, 3);
        QVERIFY(!QFile::exists(path("bad.ini")));
        QCOMPARE(status({QStringLiteral("--inputs"), path("missing.csv"), QStringLiteral("--generate"), path("m.xls")}).exitCode, 3);
        QCOMPARE(status({QStringLiteral("--store"), path("missing.ini"), QStringLiteral("--generate"), path("m.xls")}).exitCode, 3);

        // Usage.
        for (const QStringList& args : {QStringList{QStringLiteral("--generate"), QStringLiteral("-"), QStringLiteral("--format"), QStringLiteral("doc")},
                                        QStringList{QStringLiteral("--generate"), path("x.xls"), QStringLiteral("--format"), QStringLiteral("pdf")},
                                        QStringList{QStringLiteral("--inputs"), path("good.csv"), QStringLiteral("--locale"), QStringLiteral("xx_YY")},
                                        QStringList{QStringLiteral("--inputs"), path("good.csv"), QStringLiteral("--store"), store,
                                                    QStringLiteral("--generate"), path("x.xls")},
                                        QStringList{QStringLiteral("--format"), QStringLiteral("pdf")}}) {
            r = status(args);
            QVERIFY2(r.exitCode == 2 && r.err.count(u'\n') == 1, qPrintable(args.join(u' ') + r.err));
        }

        // Output: a missing folder, a full standard output; and a good standard output.
        QCOMPARE(status({QStringLiteral("--store"), store, QStringLiteral("--export-inputs"), path("none/x.csv")}).exitCode, 4);
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TEMP"), mDir.filePath(QStringLiteral("temp")));
        p.setProcessEnvironment(env);
        p.setStandardOutputFile(QStringLiteral("/dev/full"));
        p.start(mProgram, {QStringLiteral("--inputs"), path("good.csv"), QStringLiteral("--generate"), QStringLiteral("-")});
        QVERIFY(p.waitForFinished(120000));
        QCOMPARE(p.exitCode(), 4);
        r = status({QStringLiteral("--inputs"), path("good.csv"), QStringLiteral("--generate"), QStringLiteral("-"),
                    QStringLiteral("--format"), QStringLiteral("xlsx")});
        QVERIFY2(r.exitCode == 0 && r.outBytes.startsWith("PK\x03\x04"), qPrintable(r.err));
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
