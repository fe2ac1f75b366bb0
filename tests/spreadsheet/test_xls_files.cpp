// Whole Workbook streams and files: damaged input, saving, and files read and written by
// other programs (python3-xlrd, LibreOffice).
#include "spreadsheet/biff_builder.h"
#include "spreadsheet/cfb.h"
#include "spreadsheet/error.h"
#include "spreadsheet/unicode.h"
#include "spreadsheet/xls.h"

#include <QtTest>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <random>

using namespace biff_builder;
using namespace ss;

namespace {

// Reading must end in a workbook or in FormatError; anything else is a bug.
QString readError(const Bytes& stream)
{
    try {
        xls::readWorkbookStream(stream);
    } catch (const FormatError& e) {
        return QString::fromStdString(e.what());
    }
    return {};
}

// A small projection-like sheet: labels, numbers, a formula, a date, widths, fonts, frozen panes.
Workbook sample()
{
    Workbook wb = Workbook::makeDefault();
    wb.sheets.emplace_back();
    Sheet& s = wb.sheets[0];
    s.name = "PnL projection";
    Font big;
    big.name = "Arial";
    big.height = 360;
    Font bold;
    bold.name = "Arial";
    bold.height = 180;
    bold.weight = 700;
    Xf title;
    title.fontIndex = wb.addFont(big);
    Xf heading;
    heading.fontIndex = wb.addFont(bold);
    Xf amount;
    amount.formatIndex = wb.addFormat("#,##0");
    Xf month;
    month.formatIndex = wb.addFormat("mmm-yy");
    Xf pct;
    pct.formatIndex = wb.addFormat("0.0");
    s.at(1, 1) = Cell{Value("Twelve-month profit and loss projection"), wb.addXf(title), {}};
    s.at(1, 10) = Cell{Value("Enter your Company Name here"), wb.addXf(heading), {}};
    s.at(1, 17) = Cell{Value(37987.0), wb.addXf(month), {}};
    s.at(5, 1) = Cell{Value("Category 1"), 15, {}};
    s.at(5, 3) = Cell{Value(1250.0), wb.addXf(amount), {}};
    s.at(6, 3) = Cell{Value(750.5), wb.addXf(amount), {}};
    // D8 = D6+D7 (ptgRef D6, ptgRef D7, ptgAdd), cached
    s.at(7, 3) = Cell{Value(2000.5), wb.addXf(amount), {0x24, 5, 0, 3, 0xC0, 0x24, 6, 0, 3, 0xC0, 0x03}};
    s.at(7, 4) = Cell{Value("-"), wb.addXf(pct), {0x17, 1, 0, '-'}};
    s.at(8, 1) = Cell{Value("Telephone \xE2\x82\xAC"), 15, {}};
    s.columns.push_back({0, 0, 438, 15, false, 0});
    s.columns.push_back({1, 1, 5156, 15, false, 0});
    s.columns.push_back({3, 3, 2377, 15, false, 0});
    s.showGridlines = false;
    s.pane = Pane{true, 2, 5, 5, 2, 0};
    s.activeCell = {1, 1};
    s.page.landscape = true;
    s.page.scale = 60;
    s.page.fitToPage = true;
    return wb;
}

QString findProgram(const QString& name) { return QStandardPaths::findExecutable(name); }

// The first Python that has xlrd: a virtualenv's python3 on PATH may lack the system packages.
QString pythonWithXlrd()
{
    static const QString found = [] {
        for (const QString& candidate : {QString("python3"), QString("/usr/bin/python3")}) {
            QProcess p;
            p.start(candidate, {"-c", "import xlrd"});
            if (p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0)
                return candidate;
        }
        return QString();
    }();
    return found;
}

bool hasXlrd() { return !pythonWithXlrd().isEmpty(); }

// What xlrd sees in a file, as JSON.
QJsonObject xlrdDump(const QString& path)
{
    static const char* script = R"(
import json, sys, xlrd
book = xlrd.open_workbook(sys.argv[1], formatting_info=True)
sh = book.sheet_by_index(0)
cells = {}
for r in range(sh.nrows):
    for c in range(sh.ncols):
        cell = sh.cell(r, c)
        if cell.ctype in (xlrd.XL_CELL_EMPTY, xlrd.XL_CELL_BLANK):
            continue
        xf = book.xf_list[cell.xf_index]
        font = book.font_list[xf.font_index]
        cells["%d,%d" % (r, c)] = {"value": cell.value, "type": cell.ctype,
            "format": book.format_map[xf.format_key].format_str,
            "font": font.name, "height": font.height, "bold": bool(font.bold)}
print(json.dumps({"name": sh.name, "cells": cells,
    "widths": {str(c): i.width for c, i in sh.colinfo_map.items()},
    "frozen": bool(sh.panes_are_frozen), "splitCols": sh.vert_split_pos, "splitRows": sh.horz_split_pos,
    "grid": bool(sh.show_grid_lines), "nsheets": book.nsheets}))
)";
    QProcess p;
    p.start(pythonWithXlrd(), {"-c", script, path});
    if (!p.waitForFinished(60000) || p.exitCode() != 0) {
        qWarning() << p.readAllStandardError();
        return {};
    }
    return QJsonDocument::fromJson(p.readAllStandardOutput()).object();
}

void checkXlrdSeesSample(const QJsonObject& o)
{
    QCOMPARE(o["name"].toString(), QString("PnL projection"));
    const QJsonObject cells = o["cells"].toObject();
    QCOMPARE(cells["1,1"].toObject()["value"].toString(), QString("Twelve-month profit and loss projection"));
    QCOMPARE(cells["1,1"].toObject()["height"].toInt(), 360);
    QVERIFY(cells["1,10"].toObject()["bold"].toBool());
    QCOMPARE(cells["1,17"].toObject()["value"].toDouble(), 37987.0);
    QCOMPARE(cells["1,17"].toObject()["format"].toString(), QString("mmm-yy"));
    QCOMPARE(cells["5,3"].toObject()["value"].toDouble(), 1250.0);
    QCOMPARE(cells["5,3"].toObject()["format"].toString(), QString("#,##0"));
    QCOMPARE(cells["6,3"].toObject()["value"].toDouble(), 750.5);
    QCOMPARE(cells["7,3"].toObject()["value"].toDouble(), 2000.5);   // cached formula result
    QCOMPARE(cells["7,4"].toObject()["value"].toString(), QString("-"));
    QCOMPARE(cells["7,4"].toObject()["format"].toString(), QString("0.0"));
    QCOMPARE(cells["8,1"].toObject()["value"].toString(), QString::fromUtf8("Telephone \xE2\x82\xAC"));
    QCOMPARE(cells["5,1"].toObject()["font"].toString(), QString("Arial"));
    const QJsonObject widths = o["widths"].toObject();
    QCOMPARE(widths["0"].toInt(), 438);
    QCOMPARE(widths["1"].toInt(), 5156);
    QCOMPARE(widths["3"].toInt(), 2377);
    QVERIFY(o["frozen"].toBool());
    QCOMPARE(o["splitCols"].toInt(), 2);
    QCOMPARE(o["splitRows"].toInt(), 5);
    QVERIFY(!o["grid"].toBool());
}

// LibreOffice converts `input` into an .xls in `outDir`; returns its path or empty.
QString libreOfficeToXls(const QString& input, const QString& outDir, const QString& profile)
{
    QProcess p;
    p.start("soffice", {"--headless", "--norestore", "-env:UserInstallation=file://" + profile,
                        "--convert-to", "xls:MS Excel 97", "--outdir", outDir, input});
    if (!p.waitForFinished(120000)) {
        p.kill();
        p.waitForFinished();
        return {};
    }
    const QString out = outDir + "/" + QFileInfo(input).completeBaseName() + ".xls";
    return QFileInfo::exists(out) ? out : QString();
}

} // namespace

class TestXlsFiles : public QObject {
    Q_OBJECT
private slots:
    void damagedRecords();
    void sharedStringCountLies();
    void sheetOffsets();
    void otherExcelVersions();
    void corruptedStreamsNeverCrash();
    void damagedOptionalStream();
    void loadAndSave();
    void xlrdReadsOurFile();
    void libreOfficeRoundTrip();
};

void TestXlsFiles::damagedRecords()
{
    const Bytes good = book({}, rec(0x0203, B().u16(0).u16(0).u16(15).f64(1)));
    QVERIFY(readError(good).isEmpty());

    QVERIFY(!readError({}).isEmpty());
    QVERIFY(readError(Bytes(good.begin(), good.end() - 2)).contains("truncated"));   // half a header
    QVERIFY(readError(Bytes(good.begin(), good.end() - 4)).contains("EOF"));         // no EOF at all

    // A NUMBER record claiming 100 bytes where 14 remain.
    Bytes past = book({}, {});
    const Bytes number = B().u16(0x0203).u16(100).u16(0).u16(0).u16(15).f64(1);
    past.insert(past.end() - 4, number.begin(), number.end());
    QVERIFY(readError(past).contains("past the end"));

    const Bytes oversized = book({}, rec(0x1234, Bytes(9000, 0)));
    QVERIFY(readError(oversized).contains("8224"));

    // Records shorter than their fields.
    QVERIFY(readError(book({}, rec(0x0203, B().u16(0).u16(0)))).contains("NUMBER"));
    QVERIFY(!readError(book(rec(0x0031, B().u16(200)), {})).isEmpty());
    QVERIFY(!readError(book({}, rec(0x0204, B().u16(0).u16(0).u16(15).u16(50).u8(0).str("short")))).isEmpty());
    // A cell beyond the BIFF8 grid.
    QVERIFY(!readError(book({}, rec(0x0201, B().u16(0).u16(300).u16(15)))).isEmpty());
    // A MULRK whose length leaves half an entry.
    QVERIFY(!readError(book({}, rec(0x00BD, B().u16(0).u16(0).u16(15).u32(2).u8(0).u16(0)))).isEmpty());
    // An EXTERNSHEET with a huge count must not allocate for it.
    QVERIFY(readError(book(rec(0x0017, B().u16(0xFFFF).u16(0)), {})).contains("EXTERNSHEET"));
}

void TestXlsFiles::sharedStringCountLies()
{
    // Claims 100000 strings, holds two: cut to what is there.
    const Workbook wb = xls::readWorkbookStream(
        book(sst({"a", "b"}, 100000), rec(0x00FD, B().u16(0).u16(0).u16(15).u32(1))));
    QCOMPARE(wb.sheets[0].find(0, 0)->value, Value("b"));
    // A cell pointing past the strings present is damage.
    QVERIFY(readError(book(sst({"a", "b"}, 100000), rec(0x00FD, B().u16(0).u16(0).u16(15).u32(7))))
                .contains("shared string"));
    // A string whose characters stop short.
    QVERIFY(readError(book(rec(0x00FC, B().u32(1).u32(1).u16(40000).u8(0).str("abc")), {}))
                .contains("shared string table"));
}

void TestXlsFiles::sheetOffsets()
{
    const Bytes cells = rec(0x0203, B().u16(2).u16(2).u16(15).f64(5));
    // A wrong offset, the sheet still right behind the globals: read in sequence.
    const Workbook wb = xls::readWorkbookStream(book({}, cells, 999999));
    QCOMPARE(wb.sheets.at(0).find(2, 2)->value, Value(5.0));
    QCOMPARE(wb.sheets[0].name, std::string("Sheet1"));

    // Offset past the end and no sheet to fall back on.
    Bytes globalsOnly = book({}, cells, 999999);
    globalsOnly.resize(book({}, {}).size() - bof(0x10).size() - eof().size());
    const QString e = readError(globalsOnly);
    QVERIFY2(e.contains("Sheet1") && e.contains("999999"), qPrintable(e));
}

void TestXlsFiles::otherExcelVersions()
{
    // Excel 5/95 writes BIFF5: same BOF record, version 0x0500.
    Bytes biff5 = cat({bof(0x0005, 0x0500), eof()});
    QCOMPARE(readError(biff5), QString("not an Excel 97-2003 workbook (BIFF5)"));
    // Excel 4 saved a bare stream; as a file it gets the same kind of message.
    const Bytes biff4 = cat({rec(0x0409, B().u16(0).u16(0x0010).u16(0)), eof()});
    try {
        xls::readFile(biff4);
        QFAIL("BIFF4 accepted");
    } catch (const FormatError& e) {
        QCOMPARE(QString(e.what()), QString("not an Excel 97-2003 workbook (BIFF4)"));
    }
    QVERIFY(!readError(rec(0x1234, Bytes(4, 0))).isEmpty());
    QVERIFY_THROWS_EXCEPTION(FormatError, xls::readFile(Bytes(1024, 0x41)));
}

void TestXlsFiles::corruptedStreamsNeverCrash()
{
    const Bytes base = xls::writeWorkbookStream(sample());
    std::mt19937 rng(12345);
    for (int round = 0; round < 3000; ++round) {
        Bytes b = base;
        const int edits = 1 + static_cast<int>(rng() % 4);
        for (int k = 0; k < edits; ++k)
            b[rng() % b.size()] = static_cast<std::uint8_t>(rng());
        if (round % 5 == 0)
            b.resize(rng() % b.size());
        try {
            xls::readWorkbookStream(b);
        } catch (const FormatError&) {
        }
    }
}

// A summary stream that claims more than the file holds: the workbook still opens
// (and saves with a fresh summary); the same damage to the Workbook stream is reported.
void TestXlsFiles::damagedOptionalStream()
{
    auto fileWith = [](const std::string& damagedName) {
        const Bytes book = xls::writeWorkbookStream(sample());
        Bytes file = cfb::write({{"Workbook", book}, {"\x05SummaryInformation", Bytes(300, 0x11)}});
        const std::u16string name = utf8ToUtf16(damagedName);
        for (std::size_t e = 512; e + 128 <= file.size(); e += 128) {
            bool match = (file[e + 64] | file[e + 65] << 8) == (name.size() + 1) * 2;
            for (std::size_t i = 0; match && i < name.size(); ++i)
                match = (file[e + 2 * i] | file[e + 2 * i + 1] << 8) == name[i];
            if (!match || file[e + 66] != 2)
                continue;
            file[e + 123] = 0x7F;   // claims more bytes than the whole file
            return file;
        }
        return Bytes();
    };
    const Bytes summaryDamaged = fileWith("\x05SummaryInformation");
    QVERIFY(!summaryDamaged.empty());
    const Workbook wb = xls::readFile(summaryDamaged);
    QCOMPARE(wb.sheets.at(0).name, sample().sheets.at(0).name);
    QVERIFY(std::none_of(wb.fileStreams.begin(), wb.fileStreams.end(),
                         [](const FileStream& f) { return f.name == "\x05SummaryInformation"; }));
    QVERIFY(!xls::writeFile(wb).empty());

    const Bytes bookDamaged = fileWith("Workbook");
    QVERIFY(!bookDamaged.empty());
    try {
        xls::readFile(bookDamaged);
        QFAIL("a damaged Workbook stream was read");
    } catch (const FormatError& e) {
        QVERIFY2(QString::fromUtf8(e.what()).contains(QStringLiteral("Workbook")), e.what());
    }
}

void TestXlsFiles::loadAndSave()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY_THROWS_EXCEPTION(IoError, xls::load((dir.path() + "/missing.xls").toStdString()));
    QVERIFY_THROWS_EXCEPTION(IoError, xls::save(sample(), (dir.path() + "/no/such/dir/x.xls").toStdString()));

    const std::string path = (dir.path() + "/book.xls").toStdString();
    xls::save(sample(), path);
    const Workbook back = xls::load(path);
    QCOMPARE(back.sheets.at(0).find(7, 3)->value, Value(2000.5));
    QCOMPARE(back.sheets[0].find(8, 1)->value, Value("Telephone \xE2\x82\xAC"));

    // A save that fails leaves the old file whole, and no stray temporary file.
    QFile f(QString::fromStdString(path));
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray before = f.readAll();
    f.close();
    QVERIFY_THROWS_EXCEPTION(FormatError, xls::save(Workbook::makeDefault(), path));   // no sheets
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), before);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 1);

    // The file is a compound document with the four streams Excel writes.
    QCOMPARE(QByteArray(before.left(8)).toHex(), QByteArray("d0cf11e0a1b11ae1"));
    QVERIFY(before.contains(QByteArray("Excel.Sheet.8")));
}

void TestXlsFiles::xlrdReadsOurFile()
{
    if (!hasXlrd())
        QSKIP("python3-xlrd is not installed");
    QTemporaryDir dir;
    const QString path = dir.path() + "/ours.xls";
    xls::save(sample(), path.toStdString());
    const QJsonObject o = xlrdDump(path);
    QVERIFY(!o.isEmpty());
    checkXlrdSeesSample(o);
}

void TestXlsFiles::libreOfficeRoundTrip()
{
    if (findProgram("soffice").isEmpty())
        QSKIP("LibreOffice (soffice) is not installed");
    QTemporaryDir dir;
    const QString ours = dir.path() + "/ours.xls";
    xls::save(sample(), ours.toStdString());
    QDir().mkpath(dir.path() + "/lo");
    const QString theirs = libreOfficeToXls(ours, dir.path() + "/lo", dir.path() + "/profile");
    if (theirs.isEmpty())
        QSKIP("LibreOffice did not convert the file in time");

    // LibreOffice's own BIFF8, read by us.
    const Workbook wb = xls::load(theirs.toStdString());
    QCOMPARE(wb.sheets.size(), std::size_t(1));
    const Sheet& s = wb.sheets[0];
    QCOMPARE(s.name, std::string("PnL projection"));
    QCOMPARE(s.find(1, 1)->value, Value("Twelve-month profit and loss projection"));
    QCOMPARE(s.find(5, 3)->value, Value(1250.0));
    QVERIFY(s.find(7, 3)->isFormula());
    QCOMPARE(s.find(7, 3)->value, Value(2000.5));
    QVERIFY(s.find(7, 4)->isFormula());   // LibreOffice stores 0 as the cached result of text formulas
    QCOMPARE(s.find(8, 1)->value, Value("Telephone \xE2\x82\xAC"));
    QCOMPARE(wb.formatCode(wb.xfs.at(s.find(5, 3)->xf).formatIndex), std::string("#,##0"));
    QVERIFY(std::abs(int(s.columnWidth(1)) - 5156) < 100);
    QVERIFY(s.pane.frozen);
    QCOMPARE(s.pane.splitCols, 2);
    QCOMPARE(s.pane.splitRows, 5);
    QVERIFY(!s.showGridlines);
    QVERIFY(s.page.landscape);

    // Saved again by us, LibreOffice's extra records and all, it still opens elsewhere.
    if (hasXlrd()) {
        const QString again = dir.path() + "/again.xls";
        xls::save(wb, again.toStdString());
        const QJsonObject o = xlrdDump(again);
        QVERIFY(!o.isEmpty());
        QCOMPARE(o["cells"].toObject()["7,3"].toObject()["value"].toDouble(), 2000.5);
    }
}

QTEST_APPLESS_MAIN(TestXlsFiles)
#include "test_xls_files.moc"
