// Compound file reader and writer: round trips, other programs reading our files and we theirs,
// and damaged files that must fail cleanly.
#include "spreadsheet/cfb.h"
#include "spreadsheet/error.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <map>

using ss::cfb::Stream;

namespace {

std::vector<std::uint8_t> pattern(std::size_t size, unsigned seed)
{
    std::vector<std::uint8_t> v(size);
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& b : v) {
        x = x * 1103515245u + 12345u;
        b = std::uint8_t(x >> 16);
    }
    return v;
}

std::uint16_t get16(const std::vector<std::uint8_t>& f, std::size_t at) { return std::uint16_t(f[at] | f[at + 1] << 8); }
std::uint32_t get32(const std::vector<std::uint8_t>& f, std::size_t at)
{
    return std::uint32_t(f[at]) | std::uint32_t(f[at + 1]) << 8 | std::uint32_t(f[at + 2]) << 16
        | std::uint32_t(f[at + 3]) << 24;
}
void put32(std::vector<std::uint8_t>& f, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        f[at + i] = std::uint8_t(v >> (8 * i));
}
void put16(std::vector<std::uint8_t>& f, std::size_t at, std::uint16_t v)
{
    f[at] = std::uint8_t(v);
    f[at + 1] = std::uint8_t(v >> 8);
}

// Offsets inside a small version 3 file (one FAT sector, directory in one chain).
std::size_t sectorOffset(std::uint32_t s) { return 512 * (std::size_t(s) + 1); }
std::size_t fatEntry(const std::vector<std::uint8_t>& f, std::uint32_t s) { return sectorOffset(get32(f, 76)) + 4 * s; }
std::size_t dirEntry(const std::vector<std::uint8_t>& f, std::uint32_t id)
{
    std::uint32_t s = get32(f, 48);
    for (std::uint32_t skip = id / 4; skip > 0; --skip)
        s = get32(f, fatEntry(f, s));
    return sectorOffset(s) + 128 * (id % 4);
}

QString readError(const std::vector<std::uint8_t>& file)
{
    try {
        ss::cfb::read(file);
    } catch (const ss::FormatError& e) {
        return QString::fromUtf8(e.what());
    }
    return {};
}

std::map<std::string, std::vector<std::uint8_t>> byName(const std::vector<Stream>& streams)
{
    std::map<std::string, std::vector<std::uint8_t>> m;
    for (const auto& s : streams)
        m[s.name] = s.data;
    return m;
}

QString findPythonWithOlefile()
{
    for (const QString& candidate : {QStringLiteral("/usr/bin/python3"), QStringLiteral("python3")}) {
        QProcess p;
        p.start(candidate, {"-c", "import olefile"});
        if (p.waitForFinished(20000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0)
            return candidate;
    }
    return {};
}

bool writeFile(const QString& path, const QByteArray& data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

QByteArray toQt(const std::vector<std::uint8_t>& v) { return QByteArray(reinterpret_cast<const char*>(v.data()), qsizetype(v.size())); }

} // namespace

class TestCfb : public QObject {
    Q_OBJECT

private slots:
    void roundTripKeepsEveryStream();
    void roundTripNeedingDifatSectors();
    void siblingsFormOrderedRedBlackTree();
    void namesAndLookup();
    void toleratesTruncatedLastSectorAndSizeGarbage();
    void readsVersion4File();
    void olefileReadsOurFiles();
    void libreOfficeFileReadAndRewritten();
    void malformedInputFails_data();
    void malformedInputFails();

private:
    std::vector<Stream> mixedStreams() const
    {
        std::vector<Stream> v;
        unsigned seed = 1;
        for (std::size_t size : {0, 1, 63, 64, 4095, 4096, 4097, 100000})
            v.push_back({"S" + std::to_string(size), pattern(size, seed++)});
        v.push_back({"\x05SummaryInformation", pattern(300, seed++)});
        v.push_back({"Workbook", pattern(9000, seed++)});
        v.push_back({"Sub/Inner", pattern(70, seed++)});
        v.push_back({"Sub/Big", pattern(5000, seed++)});
        v.push_back({"Sub/Deeper/Leaf", pattern(10, seed++)});
        return v;
    }
};

void TestCfb::roundTripKeepsEveryStream()
{
    const auto streams = mixedStreams();
    const auto file = ss::cfb::write(streams);
    QCOMPARE(file.size() % 512, std::size_t(0));
    QCOMPARE(int(get16(file, 26)), 3);
    const auto back = ss::cfb::read(file);
    QCOMPARE(back.size(), streams.size());
    const auto got = byName(back);
    for (const auto& s : streams) {
        const auto it = got.find(s.name);
        QVERIFY2(it != got.end(), s.name.c_str());
        QVERIFY2(it->second == s.data, s.name.c_str());
    }
    // Writing what was read gives the same file again.
    QVERIFY(ss::cfb::write(back) == ss::cfb::write(ss::cfb::read(ss::cfb::write(back))));

    // No streams at all is still a valid file.
    QVERIFY(ss::cfb::read(ss::cfb::write({})).empty());
}

void TestCfb::roundTripNeedingDifatSectors()
{
    std::vector<Stream> streams{{"Workbook", pattern(8 * 1024 * 1024, 7)}, {"Small", pattern(10, 8)}};
    const auto file = ss::cfb::write(streams);
    QVERIFY(get32(file, 44) > 109); // FAT sectors
    QVERIFY(get32(file, 72) >= 1);  // DIFAT sectors
    QCOMPARE(file.size() % 512, std::size_t(0));

    // The FAT must mark its own sectors and the DIFAT's as such, or other readers may reuse them.
    std::vector<std::uint32_t> fatSectors, difatSectors;
    for (int i = 0; i < 109; ++i)
        fatSectors.push_back(get32(file, 76 + 4 * i));
    for (std::uint32_t d = get32(file, 68); d != 0xFFFFFFFE; d = get32(file, sectorOffset(d) + 4 * 127)) {
        QVERIFY(difatSectors.size() < get32(file, 72));
        difatSectors.push_back(d);
        for (int i = 0; i < 127; ++i)
            fatSectors.push_back(get32(file, sectorOffset(d) + 4 * i));
    }
    QCOMPARE(difatSectors.size(), std::size_t(get32(file, 72)));
    fatSectors.resize(get32(file, 44));
    auto fatValue = [&](std::uint32_t s) { return get32(file, sectorOffset(fatSectors[s / 128]) + 4 * (s % 128)); };
    for (const std::uint32_t s : fatSectors)
        QCOMPARE(fatValue(s), 0xFFFFFFFDu);
    for (const std::uint32_t s : difatSectors)
        QCOMPARE(fatValue(s), 0xFFFFFFFCu);
    const auto got = byName(ss::cfb::read(file));
    QCOMPARE(got.size(), std::size_t(2));
    QVERIFY(got.at("Workbook") == streams[0].data);
    QVERIFY(got.at("Small") == streams[1].data);
}

void TestCfb::siblingsFormOrderedRedBlackTree()
{
    std::vector<Stream> streams;
    const char* names[] = {"b", "A", "Zeta", "alpha", "\x05SummaryInformation", "Workbook", "CompObj", "x",
                           "Ole", "\x05" "DocumentSummaryInformation", "beta", "Yy", "c1", "C2", "delta", "E"};
    for (const char* n : names)
        streams.push_back({n, pattern(5, 1)});
    const auto file = ss::cfb::write(streams);

    // CFB order: shorter names first, then by uppercase code units.
    auto less = [](const QString& a, const QString& b) {
        return a.size() != b.size() ? a.size() < b.size() : a.toUpper() < b.toUpper();
    };
    auto nameOf = [&](std::uint32_t id) {
        const std::size_t e = dirEntry(file, id);
        QString s;
        for (int i = 0; i + 1 < get16(file, e + 64) / 2; ++i)
            s.append(QChar(get16(file, e + 2 * i)));
        return s;
    };
    QStringList inOrder;
    int blackHeight = -1;
    bool redRed = false, unevenBlack = false;
    std::function<void(std::uint32_t, int, bool)> walk = [&](std::uint32_t id, int blacks, bool parentRed) {
        if (id == 0xFFFFFFFF) {
            if (blackHeight < 0)
                blackHeight = blacks;
            unevenBlack = unevenBlack || blacks != blackHeight;
            return;
        }
        const std::size_t e = dirEntry(file, id);
        const bool red = file[e + 67] == 0;
        redRed = redRed || (red && parentRed);
        const int b = blacks + (red ? 0 : 1);
        walk(get32(file, e + 68), b, red);
        inOrder.append(nameOf(id));
        walk(get32(file, e + 72), b, red);
    };
    const std::uint32_t top = get32(file, dirEntry(file, 0) + 76);
    QCOMPARE(int(file[dirEntry(file, top) + 67]), 1); // the tree's root is black
    walk(top, 0, false);
    QVERIFY(!redRed);
    QVERIFY(!unevenBlack);
    QCOMPARE(inOrder.size(), qsizetype(std::size(names)));
    for (qsizetype i = 1; i < inOrder.size(); ++i)
        QVERIFY2(less(inOrder[i - 1], inOrder[i]), qPrintable(inOrder[i - 1] + " / " + inOrder[i]));
}

void TestCfb::namesAndLookup()
{
    const std::string longest(31, 'n');
    std::vector<Stream> streams{{"Workbook", {1, 2}}, {"\x05SummaryInformation", {3}}, {longest, {4}},
                                {"Gr\xC3\xBC\xC3\x9F" "e", {5}}};
    const auto back = ss::cfb::read(ss::cfb::write(streams));
    QCOMPARE(back.size(), std::size_t(4));
    const Stream* wb = ss::cfb::find(back, "WORKBOOK");
    QVERIFY(wb && wb->data == std::vector<std::uint8_t>({1, 2}));
    QVERIFY(ss::cfb::find(back, "\x05summaryinformation"));
    QVERIFY(ss::cfb::find(back, longest));
    QVERIFY(ss::cfb::find(back, "GR\xC3\x9C\xC3\x9F" "E")); // non-ASCII letters compare without case too
    QVERIFY(!ss::cfb::find(back, "Book"));

    QVERIFY_THROWS_EXCEPTION(ss::FormatError, ss::cfb::write({{longest + "n", {}}}));
    QVERIFY_THROWS_EXCEPTION(ss::FormatError, ss::cfb::write({{"", {}}}));
    QVERIFY_THROWS_EXCEPTION(ss::FormatError, ss::cfb::write({{"Book", {}}, {"BOOK", {}}}));
    QVERIFY_THROWS_EXCEPTION(ss::FormatError, ss::cfb::write({{"a:b", {}}}));
    QVERIFY_THROWS_EXCEPTION(ss::FormatError, ss::cfb::write({{"S", {}}, {"S/x", {}}}));
}

void TestCfb::toleratesTruncatedLastSectorAndSizeGarbage()
{
    const auto data = pattern(5000, 3); // last sector holds 392 bytes, the rest is padding
    auto file = ss::cfb::write({{"Big", data}});
    file.resize(file.size() - 100);
    auto got = ss::cfb::read(file);
    QCOMPARE(got.size(), std::size_t(1));
    QVERIFY(got[0].data == data);

    file = ss::cfb::write({{"Big", data}, {"Small", pattern(100, 4)}});
    put32(file, dirEntry(file, 1) + 124, 0xDEADBEEF); // high half of a version 3 size
    put32(file, dirEntry(file, 2) + 124, 0xFFFFFFFF);
    got = ss::cfb::read(file);
    QCOMPARE(got.size(), std::size_t(2));
    QCOMPARE(got[0].data.size() + got[1].data.size(), std::size_t(5100));
}

void TestCfb::readsVersion4File()
{
    // Hand-made: 4096-byte header, FAT in sector 0, directory in 1, a 5000-byte stream in 2..3,
    // the file ending right after the stream's data.
    const std::size_t ss = 4096;
    const auto data = pattern(5000, 9);
    std::vector<std::uint8_t> f(ss * 3 + data.size(), 0);
    const std::uint8_t sig[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::copy(std::begin(sig), std::end(sig), f.begin());
    put16(f, 24, 0x3E);
    put16(f, 26, 4);
    put16(f, 28, 0xFFFE);
    put16(f, 30, 12);
    put16(f, 32, 6);
    put32(f, 40, 1);
    put32(f, 44, 1);
    put32(f, 48, 1);
    put32(f, 56, 4096);
    put32(f, 60, 0xFFFFFFFE);
    put32(f, 68, 0xFFFFFFFE);
    for (int i = 0; i < 109; ++i)
        put32(f, 76 + 4 * i, i == 0 ? 0 : 0xFFFFFFFF);
    for (std::size_t i = 0; i < ss / 4; ++i)
        put32(f, ss + 4 * i, 0xFFFFFFFF);
    put32(f, ss + 0, 0xFFFFFFFD);
    put32(f, ss + 4, 0xFFFFFFFE);
    put32(f, ss + 8, 3);
    put32(f, ss + 12, 0xFFFFFFFE);
    auto entry = [&](std::size_t id, const char* name, std::uint8_t type, std::uint32_t child, std::uint32_t start,
                     std::uint32_t size) {
        const std::size_t e = 2 * ss + 128 * id;
        std::size_t n = 0;
        for (; name[n]; ++n)
            put16(f, e + 2 * n, std::uint16_t(name[n]));
        put16(f, e + 64, std::uint16_t(2 * (n + 1)));
        f[e + 66] = type;
        f[e + 67] = 1;
        put32(f, e + 68, 0xFFFFFFFF);
        put32(f, e + 72, 0xFFFFFFFF);
        put32(f, e + 76, child);
        put32(f, e + 116, start);
        put32(f, e + 120, size);
    };
    entry(0, "Root Entry", 5, 1, 0xFFFFFFFE, 0);
    entry(1, "Data", 2, 0xFFFFFFFF, 2, std::uint32_t(data.size()));
    for (std::size_t id = 2; id < ss / 128; ++id) {
        put32(f, 2 * ss + 128 * id + 68, 0xFFFFFFFF);
        put32(f, 2 * ss + 128 * id + 72, 0xFFFFFFFF);
        put32(f, 2 * ss + 128 * id + 76, 0xFFFFFFFF);
    }
    std::copy(data.begin(), data.end(), f.begin() + std::ptrdiff_t(3 * ss));
    const auto got = ss::cfb::read(f);
    QCOMPARE(got.size(), std::size_t(1));
    QCOMPARE(got[0].name, std::string("Data"));
    QVERIFY(got[0].data == data);

    put16(f, 30, 9);
    QVERIFY(readError(f).contains("sector shift"));
}

void TestCfb::olefileReadsOurFiles()
{
    const QString python = findPythonWithOlefile();
    if (python.isEmpty())
        QSKIP("python3 with olefile is not available");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());

    const std::vector<std::vector<Stream>> sets{
        mixedStreams(), {{"Workbook", pattern(8 * 1024 * 1024, 11)}, {"\x05SummaryInformation", pattern(200, 12)}}};
    for (std::size_t n = 0; n < sets.size(); ++n) {
        const QString path = dir.filePath(QString("f%1.cfb").arg(n));
        QVERIFY(writeFile(path, toQt(ss::cfb::write(sets[n]))));
        // Strict mode: olefile raises on anything it finds incorrect rather than working around it.
        const char* script = "import olefile, sys, hashlib\n"
                             "o = olefile.OleFileIO(sys.argv[1], raise_defects=olefile.DEFECT_INCORRECT)\n"
                             "for e in o.listdir():\n"
                             "    d = o.openstream(e).read()\n"
                             "    print('/'.join(e).encode('utf-8').hex(), len(d), hashlib.md5(d).hexdigest())\n";
        QProcess p;
        p.start(python, {"-c", script, path});
        QVERIFY(p.waitForFinished(60000));
        QVERIFY2(p.exitCode() == 0, p.readAllStandardError().constData());
        QStringList got = QString::fromUtf8(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        QStringList expected;
        for (const auto& s : sets[n]) {
            const QByteArray data = toQt(s.data);
            expected << QString("%1 %2 %3")
                            .arg(QString::fromLatin1(QByteArray::fromStdString(s.name).toHex()))
                            .arg(data.size())
                            .arg(QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex()));
        }
        got.sort();
        expected.sort();
        QCOMPARE(got, expected);
    }
}

void TestCfb::libreOfficeFileReadAndRewritten()
{
    const QString soffice = QStandardPaths::findExecutable("soffice");
    if (soffice.isEmpty())
        QSKIP("soffice is not installed");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString profile = "-env:UserInstallation=" + QUrl::fromLocalFile(dir.filePath("lo")).toString();
    auto convert = [&](const QString& to, const QString& outDir, const QString& input) {
        QProcess p;
        p.start(soffice, {profile, "--headless", "--convert-to", to, "--outdir", outDir, input});
        return p.waitForFinished(120000) && p.exitCode() == 0;
    };
    const QByteArray csv = "Name,Value\nAlpha,1\nBeta,2.5\nGamma,-7\n";
    QVERIFY(writeFile(dir.filePath("data.csv"), csv));
    QVERIFY(convert("xls", dir.path(), dir.filePath("data.csv")));
    QFile xls(dir.filePath("data.xls"));
    QVERIFY(xls.open(QIODevice::ReadOnly));
    const QByteArray raw = xls.readAll();
    const std::vector<std::uint8_t> bytes(raw.begin(), raw.end());

    const auto streams = ss::cfb::read(bytes);
    const Stream* wb = ss::cfb::find(streams, "workbook");
    QVERIFY(wb);
    QVERIFY(wb->data.size() > 8);
    QCOMPARE(int(get16(wb->data, 0)), 0x0809); // BOF
    QCOMPARE(int(get16(wb->data, 4)), 0x0600); // BIFF8

    // LibreOffice must read our rewrite of its file just as it read its own.
    QVERIFY(QDir(dir.path()).mkdir("ours"));
    QVERIFY(writeFile(dir.filePath("ours/data.xls"), toQt(ss::cfb::write(streams))));
    QVERIFY(convert("csv", dir.filePath("ours"), dir.filePath("ours/data.xls")));
    QFile back(dir.filePath("ours/data.csv"));
    QVERIFY(back.open(QIODevice::ReadOnly));
    QCOMPARE(back.readAll().replace("\r\n", "\n").trimmed(), csv.trimmed());
}

void TestCfb::malformedInputFails_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("message");

    const auto big = ss::cfb::write({{"Big", pattern(5000, 1)}}); // ten sectors in the FAT
    const auto small = ss::cfb::write({{"Small", pattern(100, 2)}}); // two mini sectors
    const std::uint32_t start = get32(big, dirEntry(big, 1) + 116);
    auto row = [](const char* tag, const std::vector<std::uint8_t>& f, const char* message) {
        QTest::newRow(tag) << toQt(f) << QString(message);
    };

    row("empty", {}, "empty");
    row("truncated header", std::vector<std::uint8_t>(big.begin(), big.begin() + 300), "truncated");
    auto f = big;
    f[0] = 0;
    row("bad signature", f, "signature");
    f = big;
    put16(f, 30, 10);
    row("wrong sector shift", f, "sector shift");
    f = big;
    put16(f, 32, 7);
    row("wrong mini sector shift", f, "mini sector shift");
    f = big;
    put32(f, fatEntry(f, start + 3), start + 1);
    row("FAT chain loops", f, "loops");
    f = big;
    put32(f, fatEntry(f, start + 3), 100000);
    row("chain beyond file", f, "beyond the end");
    f = big;
    put32(f, fatEntry(f, start + 3), 0xFFFFFFFF);
    row("chain into free sector", f, "free or reserved");
    f = big;
    put32(f, fatEntry(f, start + 3), 0xFFFFFFFE);
    row("stream longer than chain", f, "chain holds only");
    f = big;
    put32(f, dirEntry(f, 1) + 68, 1);
    row("directory self cycle", f, "cycle");
    f = big;
    put32(f, dirEntry(f, 1) + 72, 0);
    row("directory links back to root", f, "cycle");
    f = big;
    put32(f, dirEntry(f, 1) + 72, 400);
    row("directory link out of range", f, "of only");
    f = big;
    put32(f, dirEntry(f, 1) + 120, 0x7FFFFFFF);
    row("stream size larger than file", f, "more than the whole file");
    f = big;
    put32(f, dirEntry(f, 1) + 120, 6000);
    row("stream size larger than chain", f, "chain holds only");
    f = big;
    f[dirEntry(f, 0) + 66] = 1;
    row("no root entry", f, "root");
    f = big;
    put32(f, 76, 5000);
    row("FAT sector beyond file", f, "beyond the end");
    f = big;
    put32(f, 44, 1000);
    row("too many FAT sectors", f, "FAT sectors");
    f = small;
    put32(f, sectorOffset(get32(f, 60)), 500);
    row("mini FAT out of range", f, "beyond the mini stream");
    f = small;
    put32(f, sectorOffset(get32(f, 60)), 0);
    row("mini chain loops", f, "loops");
    f = small;
    put32(f, dirEntry(f, 0) + 120, 64); // mini stream shorter than the stream in it
    row("mini stream too short", f, "mini stream");
    f = big;
    put32(f, dirEntry(f, 0) + 116, start);
    put32(f, dirEntry(f, 0) + 120, 512);
    put32(f, dirEntry(f, 1) + 120, 100); // now a mini stream whose sectors the big stream owns... or none
    row("mini stream without mini FAT", f, "mini");

    // DIFAT: a sector whose link points at itself while more FAT sectors are still owed.
    f = ss::cfb::write({{"Big", pattern(300000, 3)}});
    const std::uint32_t last = std::uint32_t(f.size() / 512 - 2);
    put32(f, 44, 400);
    put32(f, 68, last);
    put32(f, 72, 1);
    for (int i = 0; i < 127; ++i)
        put32(f, sectorOffset(last) + 4 * i, 0);
    put32(f, sectorOffset(last) + 4 * 127, last);
    row("DIFAT loop", f, "DIFAT chain loops");
    put32(f, sectorOffset(last) + 4 * 127, 99999);
    row("DIFAT beyond file", f, "beyond the end");

    // Cross-linked: two streams sharing their sectors.
    f = ss::cfb::write({{"One", pattern(5000, 4)}, {"Two", pattern(5000, 5)}});
    put32(f, dirEntry(f, 2) + 116, get32(f, dirEntry(f, 1) + 116));
    row("shared sectors", f, "shares sector");
}

void TestCfb::malformedInputFails()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, message);
    const std::vector<std::uint8_t> bytes(file.begin(), file.end());
    const QString error = readError(bytes);
    QVERIFY2(!error.isEmpty(), "damaged file was accepted");
    QVERIFY2(error.contains(message, Qt::CaseInsensitive), qPrintable(error));
}

QTEST_GUILESS_MAIN(TestCfb)
#include "test_cfb.moc"
