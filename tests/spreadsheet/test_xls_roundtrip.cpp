// Workbooks other programs wrote (tests/data/corpus: LibreOffice, Apache POI, Gnumeric), opened,
// recalculated and saved by the engine: nothing they hold is lost.
//  - In the engine: every cell's formula, the groups (shared, array, data table), names, the
//    link table, kept records and sheets and every other stream and storage read back the same.
//  - In LibreOffice (through tests/data/corpus_tools.py): the same sheets, formulas, names,
//    comments, charts, conditional formats, validated and linked cells before and after; and
//    in olefile every stream but Workbook byte for byte, every storage with its class id.
#include "spreadsheet/calc.h"
#include "spreadsheet/xls.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

using namespace ss;

namespace {

QString corpusDir()
{
    QString root = qEnvironmentVariable("CORVANTIS_SOURCE_DIR");
    if (root.isEmpty())
        root = QFileInfo(QStringLiteral(__FILE__)).absolutePath() + QStringLiteral("/../..");
    return root + QStringLiteral("/tests/data");
}

std::vector<std::uint8_t> readAll(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray b = f.readAll();
    return {b.begin(), b.end()};
}

bool sameRecords(const std::vector<RawRecord>& a, const std::vector<RawRecord>& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i].type != b[i].type || a[i].data != b[i].data)
            return false;
    return true;
}

// The records of embedded substreams (charts) in a sheet's kept records, in order.
std::vector<RawRecord> embedded(const Sheet& s)
{
    std::vector<RawRecord> out;
    for (const auto* list : {&s.leadingRecords, &s.extraRecords, &s.trailingRecords}) {
        int depth = 0;
        for (const RawRecord& r : *list) {
            if (r.type == 0x0809)
                ++depth;
            if (depth > 0)
                out.push_back(r);
            if (r.type == 0x000A && depth > 0)
                --depth;
        }
    }
    return out;
}

} // namespace

class TestXlsRoundTrip : public QObject {
    Q_OBJECT

    QStringList files_;
    QTemporaryDir saved_;

private slots:
    void initTestCase()
    {
        const QDir dir(corpusDir() + QStringLiteral("/corpus"));
        for (const QString& name : dir.entryList({QStringLiteral("*.xls")}, QDir::Files, QDir::Name))
            files_ << dir.filePath(name);
        QVERIFY2(files_.size() >= 3, qPrintable(dir.path()));
        QVERIFY(saved_.isValid());
        // Open, recalculate, save: what the road does with a template.
        for (const QString& path : files_) {
            Workbook wb = xls::readFile(readAll(path));
            recalculate(wb);
            const auto bytes = xls::writeFile(wb);
            QFile out(saved_.filePath(QFileInfo(path).fileName()));
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
        }
    }

    void engineReadsBackWhatItRead()
    {
        for (const QString& path : files_) {
            const QString name = QFileInfo(path).fileName();
            const Workbook before = xls::readFile(readAll(path));
            const Workbook after = xls::readFile(readAll(saved_.filePath(name)));
            QVERIFY2(before.tabs() == after.tabs(), qPrintable(name));
            QCOMPARE(after.sheets.size(), before.sheets.size());
            QVERIFY2(before.externSheets.size() == after.externSheets.size(), qPrintable(name));
            for (std::size_t i = 0; i < before.externSheets.size(); ++i) {
                QCOMPARE(after.externSheets[i].supBook, before.externSheets[i].supBook);
                QCOMPARE(after.externSheets[i].firstSheet, before.externSheets[i].firstSheet);
                QCOMPARE(after.externSheets[i].lastSheet, before.externSheets[i].lastSheet);
            }
            QCOMPARE(after.linkRecords.supBooks.size(), before.linkRecords.supBooks.size());
            for (std::size_t i = 1; i < before.linkRecords.supBooks.size(); ++i)
                QVERIFY2(sameRecords(before.linkRecords.supBooks[i], after.linkRecords.supBooks[i]), qPrintable(name));
            QCOMPARE(after.names.size(), before.names.size());
            for (std::size_t i = 0; i < before.names.size(); ++i)
                QVERIFY2(after.names[i].raw == before.names[i].raw, qPrintable(name + " name " + QString::number(i)));
            for (std::size_t s = 0; s < before.sheets.size(); ++s) {
                const Sheet& b = before.sheets[s];
                const Sheet& a = after.sheets[s];
                const QString where = name + QStringLiteral(" sheet ") + QString::fromStdString(b.name);
                QCOMPARE(a.name, b.name);
                QCOMPARE(a.visibility, b.visibility);
                QVERIFY2(sameRecords(a.trailingRecords, b.trailingRecords), qPrintable(where));
                QVERIFY2(sameRecords(embedded(a), embedded(b)), qPrintable(where + QStringLiteral(": embedded charts")));
                QCOMPARE(a.sharedFormulas.size(), b.sharedFormulas.size());
                QCOMPARE(a.arrayFormulas.size(), b.arrayFormulas.size());
                QCOMPARE(a.dataTables.size(), b.dataTables.size());
                for (const auto& [at, cell] : b.cells) {
                    const Cell* c = a.find(at.row, at.col);
                    QVERIFY2(c, qPrintable(where));
                    QVERIFY2(c->formula == cell.formula && c->formulaData == cell.formulaData,
                             qPrintable(where + QStringLiteral(" R%1C%2").arg(at.row + 1).arg(at.col + 1)));
                }
            }
            // Every stream comes back unchanged (a missing standard one may be added).
            for (const FileStream& fs : before.fileStreams) {
                const auto it = std::find_if(after.fileStreams.begin(), after.fileStreams.end(),
                                             [&](const FileStream& x) { return x.name == fs.name; });
                QVERIFY2(it != after.fileStreams.end() && it->data == fs.data, qPrintable(name + " " + QString::fromStdString(fs.name)));
            }
        }
    }

    void everySelectionKept()
    {
        // One SELECTION per pane (a frozen corner has four); all come back while the cursor stays.
        int panes = 0;
        for (const QString& path : files_) {
            const QString name = QFileInfo(path).fileName();
            const Workbook before = xls::readFile(readAll(path));
            const Workbook after = xls::readFile(readAll(saved_.filePath(name)));
            for (std::size_t s = 0; s < before.sheets.size(); ++s) {
                QVERIFY2(sameRecords(after.sheets[s].selections, before.sheets[s].selections), qPrintable(name));
                panes = std::max(panes, int(before.sheets[s].selections.size()));
            }
        }
        QCOMPARE(panes, 4);
    }

    void richTextRunsKept()
    {
        // The formatting runs of shared strings come back with the same characters and fonts,
        // for this engine and for another reader.
        std::size_t rich = 0;
        for (const QString& path : files_) {
            const QString name = QFileInfo(path).fileName();
            const Workbook before = xls::readFile(readAll(path));
            const Workbook after = xls::readFile(readAll(saved_.filePath(name)));
            QVERIFY2(after.stringRuns == before.stringRuns, qPrintable(name));
            rich += before.stringRuns.size();
        }
        QVERIFY(rich > 0);
        auto runsSeenByXlrd = [](const QString& file) {
            QProcess p;
            p.start(QStringLiteral("/usr/bin/python3"),
                    {QStringLiteral("-c"),
                     QStringLiteral("import sys, xlrd\n"
                                    "b = xlrd.open_workbook(sys.argv[1], formatting_info=True)\n"
                                    "print(sorted(b.sheet_by_index(0).rich_text_runlist_map.items()))"),
                     file});
            p.waitForFinished(60000);
            return p.exitCode() == 0 ? p.readAllStandardOutput() : QByteArray();
        };
        const QByteArray original = runsSeenByXlrd(corpusDir() + QStringLiteral("/corpus/poi_rich.xls"));
        if (original.isEmpty())
            QSKIP("python3-xlrd is not installed");
        QVERIFY(original.contains("(0, 5)"));
        QCOMPARE(runsSeenByXlrd(saved_.filePath(QStringLiteral("poi_rich.xls"))), original);
    }

    void otherProgramsSeeTheSame()
    {
        const QString python = QStringLiteral("/usr/bin/python3");
        if (QStandardPaths::findExecutable(QStringLiteral("soffice")).isEmpty() || !QFile::exists(python))
            QSKIP("LibreOffice is not installed");
        QProcess probe;
        probe.start(python, {QStringLiteral("-c"), QStringLiteral("import uno, olefile")});
        if (!probe.waitForFinished(30000) || probe.exitCode() != 0)
            QSKIP("python3-uno or python3-olefile is not installed");

        const QString json = saved_.filePath(QStringLiteral("dump.json"));
        QStringList args{corpusDir() + QStringLiteral("/corpus_tools.py"), QStringLiteral("dump"), json};
        for (const QString& path : files_)
            args << path << saved_.filePath(QFileInfo(path).fileName());
        QProcess dump;
        dump.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        dump.start(python, args);
        QVERIFY(dump.waitForFinished(240000));
        QCOMPARE(dump.exitCode(), 0);
        QFile f(json);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QJsonObject all = QJsonDocument::fromJson(f.readAll()).object();

        for (const QString& path : files_) {
            const QString name = QFileInfo(path).fileName();
            const QJsonObject before = all.value(path).toObject();
            const QJsonObject after = all.value(saved_.filePath(name)).toObject();
            QVERIFY2(!before.isEmpty() && !after.isEmpty() && !after.contains(QStringLiteral("error")), qPrintable(name));
            for (const char* key : {"sheets", "names", "formulas", "objects", "storages", "rootClsid"})
                QVERIFY2(before.value(QLatin1String(key)) == after.value(QLatin1String(key)),
                         qPrintable(name + ": " + key + " differ:\n"
                                    + QJsonDocument(QJsonObject{{QStringLiteral("before"), before.value(QLatin1String(key))},
                                                                {QStringLiteral("after"), after.value(QLatin1String(key))}})
                                          .toJson()));
            const QJsonObject streamsBefore = before.value(QStringLiteral("streams")).toObject();
            const QJsonObject streamsAfter = after.value(QStringLiteral("streams")).toObject();
            for (auto it = streamsBefore.begin(); it != streamsBefore.end(); ++it)
                if (it.key() != QStringLiteral("Workbook"))
                    QVERIFY2(streamsAfter.value(it.key()) == it.value(), qPrintable(name + ": stream " + it.key()));
        }
    }
};

QTEST_GUILESS_MAIN(TestXlsRoundTrip)
#include "test_xls_roundtrip.moc"
