// BIFF8 records, one family per test: hand-made streams for reading, write-then-read for the rest.
#include "spreadsheet/biff_builder.h"
#include "spreadsheet/biff_stream.h"
#include "spreadsheet/calc.h"
#include "spreadsheet/error.h"
#include "spreadsheet/xls.h"

#include <QtTest>

#include <algorithm>
#include <cmath>

using namespace biff_builder;
using namespace ss;

namespace {

Workbook readSheet(const Bytes& sheetRecords, const Bytes& globals = {})
{
    return xls::readWorkbookStream(book(globals, sheetRecords));
}

Workbook roundTrip(const Workbook& wb)
{
    return xls::readWorkbookStream(xls::writeWorkbookStream(wb));
}

// Records of a stream with their bodies, in order.
std::vector<std::pair<std::uint16_t, Bytes>> records(const std::vector<std::uint8_t>& stream)
{
    std::vector<std::pair<std::uint16_t, Bytes>> out;
    biff::RecordReader rr(stream);
    while (!rr.atEnd()) {
        const biff::Record r = rr.next();
        out.emplace_back(r.type, Bytes(r.data.begin(), r.data.end()));
    }
    return out;
}

struct Tab {
    std::string name;
    std::uint8_t type;   // BOUNDSHEET sheet type
    Bytes substream;     // BOF ... EOF
};

// A workbook stream with several sheets of any kind after `globals`.
Bytes multiBook(const Bytes& globals, const std::vector<Tab>& tabs)
{
    Bytes g = cat({bof(0x0005), globals});
    std::vector<std::size_t> at;
    for (const Tab& t : tabs) {
        at.push_back(g.size() + 4);
        const Bytes bs = rec(0x0085, B().u32(0).u8(0).u8(t.type).u8(static_cast<unsigned>(t.name.size())).u8(0).str(t.name));
        g.insert(g.end(), bs.begin(), bs.end());
    }
    const Bytes e = eof();
    g.insert(g.end(), e.begin(), e.end());
    for (std::size_t i = 0; i < tabs.size(); ++i) {
        const auto offset = static_cast<std::uint32_t>(g.size());
        for (int k = 0; k < 4; ++k)
            g[at[i] + k] = static_cast<std::uint8_t>(offset >> (8 * k));
        g.insert(g.end(), tabs[i].substream.begin(), tabs[i].substream.end());
    }
    return g;
}

Workbook oneSheet()
{
    Workbook wb = Workbook::makeDefault();
    wb.sheets.emplace_back();
    wb.sheets[0].name = "Data";
    return wb;
}

// Record types of a stream, in order.
std::vector<std::uint16_t> recordTypes(const std::vector<std::uint8_t>& stream)
{
    std::vector<std::uint16_t> out;
    biff::RecordReader rr(stream);
    while (!rr.atEnd())
        out.push_back(rr.next().type);
    return out;
}

} // namespace

class TestXlsRecords : public QObject {
    Q_OBJECT
private slots:
    void rkAllFourForms();
    void rkEncodingIsExact();
    void numberLabelBlankBoolErr();
    void multipleCellRecords();
    void formulaCachedResults();
    void olderFormulaRecordsKeepTheirFormulas();
    void sharedAndArrayFormulas();
    void sstSplitAcrossContinue();
    void sstWriterSplitsLikeExcel();
    void fontFormatXfRoundTrip();
    void sheetLayoutRoundTrip();
    void setupOrientationBits();
    void unknownRecordsCarriedThrough();
    void printTitlesName();
    void formulaGroupsWrittenBack();
    void keptSheetsAndLinkTable();
    void refusalsAndShortRecords();
    void globalsSettings();
    void modelDefaults();
    void modelFormatsAndColours();
    void modelSheetGeometry();
};

void TestXlsRecords::rkAllFourForms()
{
    // int, int/100, float (top 30 bits of the double), float/100
    const Workbook wb = readSheet(cat({
        rec(0x027E, B().u16(0).u16(0).u16(15).u32(static_cast<std::uint32_t>(-7 << 2) | 2)),
        rec(0x027E, B().u16(0).u16(1).u16(15).u32(123u << 2 | 3)),
        rec(0x027E, B().u16(0).u16(2).u16(15).u32(0x3FF80000)),
        rec(0x027E, B().u16(0).u16(3).u16(15).u32(0x3FF80001)),
    }));
    const Sheet& s = wb.sheets.at(0);
    QCOMPARE(s.find(0, 0)->value.number(), -7.0);
    QCOMPARE(s.find(0, 1)->value.number(), 1.23);
    QCOMPARE(s.find(0, 2)->value.number(), 1.5);
    QCOMPARE(s.find(0, 3)->value.number(), 0.015);
}

void TestXlsRecords::rkEncodingIsExact()
{
    for (double v : {0.0, 1.0, -536870912.0, 536870911.0, 1.23, -45.67, 1.5, 0.015, 37987.0, 0.1, 1e300, 3.14159265358979, -0.0}) {
        const auto rk = biff::encodeRk(v);
        if (rk) {
            QCOMPARE(biff::decodeRk(*rk), v);
            QCOMPARE(std::signbit(biff::decodeRk(*rk)), std::signbit(v));
        }
    }
    QVERIFY(biff::encodeRk(42.0).has_value());
    QVERIFY(biff::encodeRk(12.34).has_value());
    QVERIFY(!biff::encodeRk(3.14159265358979).has_value());   // needs all 52 mantissa bits: NUMBER
    QVERIFY(!biff::encodeRk(1e300).has_value() || biff::decodeRk(*biff::encodeRk(1e300)) == 1e300);

    // Written workbooks keep every number exactly, whichever record carries it.
    Workbook wb = oneSheet();
    const double values[] = {3.14159265358979, 7.0, -0.25, 1234.56, 1e-10, 1e300};
    for (int i = 0; i < 6; ++i)
        wb.sheets[0].at(i, 0).value = values[i];
    const Workbook back = roundTrip(wb);
    for (int i = 0; i < 6; ++i)
        QCOMPARE(back.sheets[0].find(i, 0)->value.number(), values[i]);
}

void TestXlsRecords::numberLabelBlankBoolErr()
{
    const Workbook wb = readSheet(cat({
        rec(0x0203, B().u16(1).u16(0).u16(16).f64(2.5)),
        rec(0x00FD, B().u16(1).u16(1).u16(15).u32(1)),
        rec(0x0204, B().u16(1).u16(2).u16(15).u16(3).u8(0).str("\xE9t\xE9")),          // LABEL, compressed
        rec(0x0204, B().u16(1).u16(3).u16(15).u16(2).u8(1).utf16(u"\u20AC\u00DF")),   // LABEL, UTF-16
        rec(0x00D6, B().u16(1).u16(4).u16(15).u16(4).u8(0).str("rich").u16(1).u16(0).u16(1)),
        rec(0x0201, B().u16(2).u16(0).u16(17)),
        rec(0x0205, B().u16(2).u16(1).u16(15).u8(1).u8(0)),
        rec(0x0205, B().u16(2).u16(2).u16(15).u8(0x07).u8(1)),
        rec(0x0205, B().u16(2).u16(3).u16(15).u8(0x99).u8(1)),   // unknown error code
    }), sst({"zero", "one"}));
    const Sheet& s = wb.sheets.at(0);
    QCOMPARE(s.find(1, 0)->value, Value(2.5));
    QCOMPARE(s.find(1, 0)->xf, std::uint16_t(16));
    QCOMPARE(s.find(1, 1)->value, Value("one"));
    QCOMPARE(s.find(1, 2)->value, Value("\xC3\xA9t\xC3\xA9"));
    QCOMPARE(s.find(1, 3)->value, Value("\xE2\x82\xAC\xC3\x9F"));
    QCOMPARE(s.find(1, 4)->value, Value("rich"));
    QVERIFY(s.find(2, 0)->value.isBlank());
    QCOMPARE(s.find(2, 0)->xf, std::uint16_t(17));
    QCOMPARE(s.find(2, 1)->value, Value(true));
    QCOMPARE(s.find(2, 2)->value, Value(ErrorCode::Div0));
    QCOMPARE(s.find(2, 3)->value, Value(ErrorCode::Value));

    // And the writer's records read back the same, non-ASCII text included.
    Workbook w = oneSheet();
    Sheet& ws = w.sheets[0];
    ws.at(0, 0).value = "caf\xC3\xA9 \xE2\x82\xAC";
    ws.at(0, 1).value = true;
    ws.at(0, 2).value = ErrorCode::NA;
    ws.at(0, 3).xf = 16;   // formatted blank
    ws.at(0, 4).value = "caf\xC3\xA9 \xE2\x82\xAC";
    ws.at(1, 0).value = 99.0;
    const Workbook back = roundTrip(w);
    const Sheet& bs = back.sheets[0];
    QCOMPARE(bs.find(0, 0)->value, ws.find(0, 0)->value);
    QCOMPARE(bs.find(0, 4)->value, ws.find(0, 0)->value);
    QCOMPARE(bs.find(0, 1)->value, Value(true));
    QCOMPARE(bs.find(0, 2)->value, Value(ErrorCode::NA));
    QVERIFY(bs.find(0, 3)->value.isBlank());
    QCOMPARE(bs.find(0, 3)->xf, std::uint16_t(16));
    QCOMPARE(bs.find(1, 0)->value, Value(99.0));
}

void TestXlsRecords::multipleCellRecords()
{
    const Workbook wb = readSheet(cat({
        rec(0x00BD, B().u16(3).u16(1).u16(15).u32(1u << 2 | 2).u16(16).u32(2u << 2 | 2).u16(17).u32(0x3FF80000).u16(3)),
        rec(0x00BE, B().u16(4).u16(2).u16(20).u16(19).u16(3)),
    }));
    const Sheet& s = wb.sheets.at(0);
    QCOMPARE(s.find(3, 1)->value.number(), 1.0);
    QCOMPARE(s.find(3, 2)->value.number(), 2.0);
    QCOMPARE(s.find(3, 3)->value.number(), 1.5);
    QCOMPARE(s.find(3, 3)->xf, std::uint16_t(17));
    QCOMPARE(s.find(4, 2)->xf, std::uint16_t(20));
    QCOMPARE(s.find(4, 3)->xf, std::uint16_t(19));
    QVERIFY(!s.find(4, 4));

    // A last-column field that disagrees with the cell count is damage, not a guess.
    QVERIFY_THROWS_EXCEPTION(FormatError,
        readSheet(rec(0x00BE, B().u16(4).u16(2).u16(20).u16(21).u16(9))));
}

void TestXlsRecords::olderFormulaRecordsKeepTheirFormulas()
{
    // BIFF4's FORMULA (and BIFF3's): references with the relative flags in the row word and an
    // 8-bit column, strings without a flags byte. Their tokens are taken over in BIFF8's form.
    auto old = [](std::uint16_t type, int col, double cached, const Bytes& rgce) {
        return rec(type, B().u16(0).u16(col).u16(15).f64(cached).u16(0).u16(static_cast<unsigned>(rgce.size())).add(rgce));
    };
    const Bytes plusOne = B().u8(0x24).u16(0xC000).u8(0).u8(0x1E).u16(1).u8(0x03);       // =A1+1
    const Bytes sum = B().u8(0x25).u16(0xC000).u16(0xC000).u8(0).u8(1).u8(0x19).u8(0x10).u16(0);   // =SUM(A1:B1)
    const Bytes joined = B().u8(0x17).u8(2).str("ab").u8(0x17).u8(1).str("c").u8(0x08);   // ="ab"&"c"
    const Bytes named = B().u8(0x23).u16(1).zeros(8);                                      // a name: not taken over
    Workbook wb = readSheet(cat({
        rec(0x0203, B().u16(0).u16(0).u16(15).f64(41)),
        old(0x0406, 1, 42, plusOne),
        old(0x0206, 2, 83, sum),
        old(0x0406, 3, 0, joined),
        old(0x0406, 4, 7, named),
    }));
    const Workbook back = roundTrip(wb);
    for (const Workbook* w : std::initializer_list<const Workbook*>{&wb, &back}) {
        const Sheet& s = w->sheets.at(0);
        QCOMPARE(s.find(0, 1)->formula, std::vector<std::uint8_t>(B().u8(0x24).u16(0).u16(0xC000).u8(0x1E).u16(1).u8(0x03)));
        QCOMPARE(s.find(0, 2)->formula,
                 std::vector<std::uint8_t>(B().u8(0x25).u16(0).u16(0).u16(0xC000).u16(0xC001).u8(0x19).u8(0x10).u16(0)));
        QCOMPARE(s.find(0, 3)->formula, std::vector<std::uint8_t>(B().u8(0x17).u8(2).u8(0).str("ab").u8(0x17).u8(1).u8(0).str("c").u8(0x08)));
        QVERIFY(s.find(0, 4)->formula.empty());
        QCOMPARE(s.find(0, 4)->value, Value(7.0));
    }
    // They compute as the formulas they are.
    wb.sheets.at(0).cells.at({0, 0}).value = Value(9.0);
    recalculate(wb);
    QCOMPARE(wb.sheets.at(0).find(0, 1)->value, Value(10.0));
    QCOMPARE(wb.sheets.at(0).find(0, 2)->value, Value(19.0));
    QCOMPARE(wb.sheets.at(0).find(0, 3)->value, Value("abc"));
}

void TestXlsRecords::formulaCachedResults()
{
    const Bytes rgce = B().u8(0x1E).u16(1);   // =1
    auto formula = [&](int col, const Bytes& val) {
        return rec(0x0006, B().u16(0).u16(col).u16(15).add(val).u16(0).u32(0).u16(static_cast<unsigned>(rgce.size())).add(rgce));
    };
    const Workbook wb = readSheet(cat({
        formula(0, B().f64(42.5)),
        formula(1, B().u8(0).u8(0).u8(0).u8(0).u8(0).u8(0).u16(0xFFFF)),
        rec(0x0207, B().u16(5).u8(0).str("hello")),
        formula(2, B().u8(1).u8(0).u8(1).u8(0).u8(0).u8(0).u16(0xFFFF)),
        formula(3, B().u8(2).u8(0).u8(0x2A).u8(0).u8(0).u8(0).u16(0xFFFF)),
        formula(4, B().u8(3).u8(0).u8(0).u8(0).u8(0).u8(0).u16(0xFFFF)),
    }));
    const Sheet& s = wb.sheets.at(0);
    QCOMPARE(s.find(0, 0)->value, Value(42.5));
    QCOMPARE(s.find(0, 0)->formula, std::vector<std::uint8_t>(rgce));
    QCOMPARE(s.find(0, 1)->value, Value("hello"));
    QCOMPARE(s.find(0, 2)->value, Value(true));
    QCOMPARE(s.find(0, 3)->value, Value(ErrorCode::NA));
    QCOMPARE(s.find(0, 4)->value, Value(""));

    // The writer: cached results of every kind, a STRING record only after a text result.
    Workbook w = oneSheet();
    const Value results[] = {Value(3.5), Value("text"), Value(""), Value(false), Value(ErrorCode::Div0)};
    for (int i = 0; i < 5; ++i) {
        Cell& c = w.sheets[0].at(i, 0);
        c.formula = rgce;
        c.value = results[i];
    }
    const auto stream = xls::writeWorkbookStream(w);
    const auto types = recordTypes(stream);
    QCOMPARE(std::count(types.begin(), types.end(), 0x0207), 1);
    const auto f = std::find(types.begin(), types.end(), 0x0006);
    QCOMPARE(*(f + 1), std::uint16_t(0x0006));   // 3.5
    QCOMPARE(*(f + 2), std::uint16_t(0x0207));   // "text" and its STRING
    const Workbook back = xls::readWorkbookStream(stream);
    for (int i = 0; i < 5; ++i) {
        QCOMPARE(back.sheets[0].find(i, 0)->value, results[i]);
        QCOMPARE(back.sheets[0].find(i, 0)->formula, std::vector<std::uint8_t>(rgce));
    }
}

void TestXlsRecords::sharedAndArrayFormulas()
{
    const Bytes exp00 = B().u8(0x01).u16(0).u16(0);
    const Bytes exp50 = B().u8(0x01).u16(5).u16(0);
    const Bytes shared = B().u8(0x4C).u16(0).u16(0xC000);   // ptgRefN, relative one row up... any tokens do
    const Bytes array = B().u8(0x1E).u16(7);
    auto formula = [](int row, const Bytes& tokens, double cached) {
        return rec(0x0006, B().u16(row).u16(0).u16(15).f64(cached).u16(0x0008).u32(0)
                               .u16(static_cast<unsigned>(tokens.size())).add(tokens));
    };
    const Workbook wb = readSheet(cat({
        formula(0, exp00, 1),
        rec(0x04BC, B().u16(0).u16(2).u8(0).u8(0).u8(0).u8(3).u16(static_cast<unsigned>(shared.size())).add(shared)),
        formula(1, exp00, 2),
        formula(2, exp00, 3),
        formula(5, exp50, 7),
        rec(0x0221, B().u16(5).u16(5).u8(0).u8(0).u16(0).u32(0).u16(static_cast<unsigned>(array.size())).add(array)),
        formula(9, B().u8(0x01).u16(30).u16(0), 4),   // points at a formula nobody defined
    }));
    const Sheet& s = wb.sheets.at(0);
    for (int r = 0; r < 3; ++r) {
        QVERIFY(s.find(r, 0)->isFormula());
        QCOMPARE(s.find(r, 0)->value.number(), double(r + 1));
        QVERIFY(s.find(r, 0)->formula[0] != 0x01);
    }
    QCOMPARE(s.find(5, 0)->formula, std::vector<std::uint8_t>(array));
    QVERIFY(!s.find(9, 0)->isFormula());   // keeps its value as a constant
    QCOMPARE(s.find(9, 0)->value.number(), 4.0);
}

void TestXlsRecords::sstSplitAcrossContinue()
{
    // "abcdef" compressed, split after "abc"; the CONTINUE restates the flags byte.
    // Then a UTF-16 string split after one character, continued compressed: flags may change.
    const Bytes sstBody = B().u32(3).u32(3).u16(6).u8(0).str("abc");
    const Bytes cont1 = B().u8(0).str("def").u16(3).u8(1).utf16(u"\u03B1");
    const Bytes cont2 = B().u8(0).str("xy").u16(2).u8(1).utf16(u"\u4E2D\u6587");
    const Workbook wb = readSheet(cat({
        rec(0x00FD, B().u16(0).u16(0).u16(15).u32(0)),
        rec(0x00FD, B().u16(0).u16(1).u16(15).u32(1)),
        rec(0x00FD, B().u16(0).u16(2).u16(15).u32(2)),
    }), cat({rec(0x00FC, sstBody), rec(0x003C, cont1), rec(0x003C, cont2)}));
    const Sheet& s = wb.sheets.at(0);
    QCOMPARE(s.find(0, 0)->value, Value("abcdef"));
    QCOMPARE(s.find(0, 1)->value, Value("\xCE\xB1xy"));
    QCOMPARE(s.find(0, 2)->value, Value("\xE4\xB8\xAD\xE6\x96\x87"));

    // Rich text runs and phonetic blocks are skipped, also when they run into the next record.
    const Bytes rich = B().u32(2).u32(2).u16(2).u8(0x0C).u16(1).u32(4).str("ok").u16(0);
    const Bytes richCont = B().u16(1).u32(0xAABBCCDD).u16(1).u8(0).str("z");
    const std::vector<std::uint8_t> richBody = rich;
    const auto parsed = biff::parseSst({richBody, richCont});
    QCOMPARE(parsed.size(), std::size_t(2));
    QCOMPARE(parsed[0], std::string("ok"));
    QCOMPARE(parsed[1], std::string("z"));
}

void TestXlsRecords::sstWriterSplitsLikeExcel()
{
    // Long strings, compressed and UTF-16, force CONTINUE records at awkward places.
    std::vector<std::string> strings;
    for (int i = 0; i < 300; ++i)
        strings.push_back("row " + std::to_string(i));
    strings.push_back(std::string(20000, 'x'));
    std::string greek;
    for (int i = 0; i < 9000; ++i)
        greek += "\xCE\xB1";
    strings.push_back(greek);
    strings.push_back("tail");
    const biff::SstRecords sst = biff::buildSst(strings, 400);
    QVERIFY(sst.bodies.size() > 4);
    for (const auto& b : sst.bodies)
        QVERIFY(b.size() <= biff::kMaxRecordData);
    std::vector<std::span<const std::uint8_t>> segs(sst.bodies.begin(), sst.bodies.end());
    QCOMPARE(biff::parseSst(segs), strings);
    QVERIFY(sst.bucketSize * sst.bucketStarts.size() >= strings.size());
    QVERIFY(sst.bucketStarts.size() <= 128);

    // Through the whole writer and reader, with EXTSST pointing at each bucket's first string.
    Workbook wb = oneSheet();
    for (std::size_t i = 0; i < strings.size(); ++i)
        wb.sheets[0].at(static_cast<int>(i), 0).value = strings[i];
    const auto stream = xls::writeWorkbookStream(wb);
    const Workbook back = xls::readWorkbookStream(stream);
    for (std::size_t i = 0; i < strings.size(); ++i)
        QCOMPARE(back.sheets[0].find(static_cast<int>(i), 0)->value.text(), strings[i]);

    biff::RecordReader rr(stream);
    while (!rr.atEnd()) {
        const biff::Record r = rr.next();
        if (r.type != 0x00FF)
            continue;
        biff::Cursor c(r.data, "EXTSST");
        QCOMPARE(c.u16(), sst.bucketSize);
        for (std::size_t k = 0; c.remaining() >= 8; ++k) {
            const std::uint32_t at = c.u32();
            c.u16();
            c.u16();
            // The first string of bucket k starts with its length and flags.
            const std::u16string expect = biff::utf8ToUtf16(strings[k * sst.bucketSize]);
            QCOMPARE(std::size_t(stream[at] | stream[at + 1] << 8), expect.size());
        }
    }
}

void TestXlsRecords::fontFormatXfRoundTrip()
{
    Workbook wb = oneSheet();
    Font f;
    f.name = "Times New Roman";
    f.height = 360;
    f.weight = 700;
    f.italic = true;
    f.underline = 1;
    f.colorIndex = 10;
    const std::uint16_t fi = wb.addFont(f);
    QCOMPARE(fi, std::uint16_t(5));   // BIFF font index 4 does not exist
    QCOMPARE(wb.addFont(f), fi);
    const std::uint16_t custom = wb.addFormat("[$-409]mmm\\-yy;@");
    QCOMPARE(custom, std::uint16_t(164));
    Xf x;
    x.fontIndex = fi;
    x.formatIndex = custom;
    x.hAlign = HAlign::Center;
    x.vAlign = VAlign::Top;
    x.wrap = true;
    x.indent = 2;
    x.rotation = 45;
    x.locked = false;
    x.usedAttributes = 0x3F;
    x.left = {1, 8};
    x.right = {2, 10};
    x.top = {5, 12};
    x.bottom = {6, 63};
    x.fillPattern = 1;
    x.fillForeColor = 22;
    x.fillBackColor = 64;
    const std::uint16_t xi = wb.addXf(x);
    QCOMPARE(wb.addXf(x), xi);
    wb.sheets[0].at(0, 0).xf = xi;

    const Workbook back = roundTrip(wb);
    QCOMPARE(back.fonts.size(), wb.fonts.size());
    const Font& bf = back.font(fi);
    QCOMPARE(QString::fromStdString(bf.name), QString("Times New Roman"));
    QCOMPARE(bf.height, std::uint16_t(360));
    QVERIFY(bf.bold() && bf.italic);
    QCOMPARE(bf.underline, std::uint8_t(1));
    QCOMPARE(bf.colorIndex, std::uint16_t(10));
    QCOMPARE(back.formatCode(custom), std::string("[$-409]mmm\\-yy;@"));
    QCOMPARE(back.xfs.size(), wb.xfs.size());
    const Xf& bx = back.xfs[xi];
    QCOMPARE(bx.fontIndex, fi);
    QCOMPARE(bx.formatIndex, custom);
    QVERIFY(bx.hAlign == HAlign::Center && bx.vAlign == VAlign::Top && bx.wrap && !bx.locked);
    QCOMPARE(bx.indent, std::uint8_t(2));
    QCOMPARE(bx.rotation, std::uint8_t(45));
    QCOMPARE(bx.usedAttributes, std::uint8_t(0x3F));
    QVERIFY(bx.left == x.left && bx.right == x.right && bx.top == x.top && bx.bottom == x.bottom);
    QCOMPARE(bx.fillPattern, std::uint8_t(1));
    QCOMPARE(bx.fillForeColor, std::uint8_t(22));
    QCOMPARE(bx.fillBackColor, std::uint8_t(64));
    QCOMPARE(back.sheets[0].find(0, 0)->xf, xi);
    for (std::size_t i = 0; i < 21; ++i) {
        QCOMPARE(back.xfs[i].isStyle, wb.xfs[i].isStyle);
        QCOMPARE(back.xfs[i].formatIndex, wb.xfs[i].formatIndex);
    }
    QCOMPARE(back.styles.size(), std::size_t(6));

    // A record read from a file goes back byte for byte, diagonal borders included.
    const Bytes xfBody = B().u16(5).u16(164).u16(0x0001 | 0x0008).u8(0xA2).u8(90).u8(0x41)
                             .u8(0xFC).u32(0xC0A21021).u32(0x07FFC3C8).u16(0xC000 | 65 << 7 | 22);
    const Workbook fromFile = readSheet({}, rec(0x00E0, xfBody));
    const auto again = xls::writeWorkbookStream(fromFile);
    biff::RecordReader rr(again);
    bool found = false;
    while (!rr.atEnd()) {
        const biff::Record r = rr.next();
        if (r.type == 0x00E0) {
            QCOMPARE(std::vector<std::uint8_t>(r.data.begin(), r.data.end()), xfBody);
            found = true;
        }
    }
    QVERIFY(found);
}

void TestXlsRecords::sheetLayoutRoundTrip()
{
    Workbook wb = oneSheet();
    Sheet& s = wb.sheets[0];
    s.columns.push_back({0, 0, 438, 15, false, 0});
    s.columns.push_back({3, 25, 2377, 15, false, 0});
    s.columns.push_back({30, 30, 1000, 15, true, 0});
    s.rows[4] = RowInfo{600, 15, true, false, false};
    s.rows[7] = RowInfo{0, 16, false, true, true};
    s.defaultColWidth = 10;
    s.showGridlines = false;
    s.pane = Pane{true, 2, 5, 5, 2, 0};
    s.activeCell = {1, 1};
    s.page.landscape = true;
    s.page.scale = 60;
    s.page.paperSize = 1;
    s.page.fitToPage = true;
    s.page.fitWidth = 1;
    s.page.fitHeight = 1;
    s.merged.push_back({1, 1, 1, 8});
    s.at(5, 2).value = 1.0;

    const Workbook back = roundTrip(wb);
    const Sheet& b = back.sheets.at(0);
    QCOMPARE(QString::fromStdString(b.name), QString("Data"));
    QCOMPARE(b.columnWidth(0), std::uint16_t(438));
    QCOMPARE(b.columnWidth(3), std::uint16_t(2377));
    QCOMPARE(b.columnWidth(25), std::uint16_t(2377));
    QCOMPARE(b.columns.size(), std::size_t(3));
    QVERIFY(b.columns[2].hidden);
    QCOMPARE(b.rowHeight(4), std::uint16_t(600));
    QVERIFY(b.rows.at(4).customHeight);
    QVERIFY(b.rows.at(7).hidden);
    QCOMPARE(b.rows.at(7).xf, std::uint16_t(16));
    QCOMPARE(b.defaultColWidth, std::uint16_t(10));
    QVERIFY(!b.showGridlines);
    QVERIFY(b.pane.frozen);
    QCOMPARE(b.pane.splitCols, 2);
    QCOMPARE(b.pane.splitRows, 5);
    QCOMPARE(b.pane.topRow, 5);
    QCOMPARE(b.pane.leftCol, 2);
    QCOMPARE(b.activeCell, (CellAddress{1, 1}));
    QVERIFY(b.page.landscape);
    QCOMPARE(b.page.scale, std::uint16_t(60));
    QVERIFY(b.page.fitToPage);
    QCOMPARE(b.page.fitWidth, std::uint16_t(1));
    QCOMPARE(b.page.fitHeight, std::uint16_t(1));
    QCOMPARE(b.merged.size(), std::size_t(1));
    QVERIFY(b.merged[0] == (RangeAddress{1, 1, 1, 8}));
    QVERIFY(b.selected);

    // Unfrozen and gridlines shown: no PANE record, WINDOW2 says so.
    s.pane = Pane{};
    s.showGridlines = true;
    s.page.fitToPage = false;
    const Workbook plain = roundTrip(wb);
    QVERIFY(!plain.sheets[0].pane.frozen);
    QVERIFY(plain.sheets[0].showGridlines);
    QVERIFY(!plain.sheets[0].page.fitToPage);
    const auto types = recordTypes(xls::writeWorkbookStream(wb));
    QCOMPARE(std::count(types.begin(), types.end(), 0x0041), 0);
}

void TestXlsRecords::setupOrientationBits()
{
    auto setup = [](unsigned grbit) {
        return rec(0x00A1, B().u16(9).u16(75).u16(1).u16(2).u16(3).u16(grbit).u16(600).u16(600).f64(0.3).f64(0.4).u16(1));
    };
    Sheet s = readSheet(setup(0x0000)).sheets[0];
    QVERIFY(s.page.landscape);
    QCOMPARE(s.page.paperSize, std::uint16_t(9));
    QCOMPARE(s.page.scale, std::uint16_t(75));
    QCOMPARE(s.page.fitWidth, std::uint16_t(2));
    QCOMPARE(s.page.fitHeight, std::uint16_t(3));
    QCOMPARE(s.page.headerMargin, 0.3);
    QVERIFY(!readSheet(setup(0x0002)).sheets[0].page.landscape);   // fPortrait
    QVERIFY(!readSheet(setup(0x0040)).sheets[0].page.landscape);   // fNoOrient
    s = readSheet(setup(0x0004)).sheets[0];                        // fNoPls: nothing was set
    QVERIFY(!s.page.landscape);
    QCOMPARE(s.page.paperSize, std::uint16_t(1));
    QCOMPARE(s.page.scale, std::uint16_t(100));
}

void TestXlsRecords::unknownRecordsCarriedThrough()
{
    const Bytes odd = B().u32(0xDEADBEEF).u16(7);
    const Bytes oddCont = B().u8(1).u8(2).u8(3);
    const Bytes header = B().u16(5).u8(0).str("&Ctop");
    const Workbook wb = readSheet(cat({rec(0x0014, header), rec(0x1234, odd), rec(0x003C, oddCont),
                                       rec(0x0203, B().u16(0).u16(0).u16(15).f64(1))}),
                                  rec(0x0863, B().u32(42)));
    QCOMPARE(wb.extraGlobals.size(), std::size_t(1));
    QCOMPARE(wb.extraGlobals[0].type, std::uint16_t(0x0863));
    // Records before the cell table stay before it.
    const auto& extra = wb.sheets[0].leadingRecords;
    QCOMPARE(extra.size(), std::size_t(3));
    QCOMPARE(extra[1].type, std::uint16_t(0x1234));
    QCOMPARE(extra[2].type, std::uint16_t(0x003C));

    // Saved and read again: unchanged, in order, and the kept HEADER replaces the default one.
    const auto stream = xls::writeWorkbookStream(wb);
    const auto types = recordTypes(stream);
    QCOMPARE(std::count(types.begin(), types.end(), 0x0014), 1);
    const auto at = std::find(types.begin(), types.end(), 0x1234);
    QVERIFY(at != types.end());
    QCOMPARE(*(at + 1), std::uint16_t(0x003C));
    const Workbook back = xls::readWorkbookStream(stream);
    // The default FOOTER, HCENTER and VCENTER now come back as kept records too; ours keep their order.
    const auto& again = back.sheets[0].leadingRecords;
    std::size_t matched = 0;
    for (const RawRecord& r : again)
        if (matched < extra.size() && r.type == extra[matched].type && r.data == extra[matched].data)
            ++matched;
    QCOMPARE(matched, extra.size());
    const Workbook third = roundTrip(back);   // and nothing grows from save to save
    QCOMPARE(third.sheets[0].leadingRecords.size(), again.size());
    const auto g = std::find_if(back.extraGlobals.begin(), back.extraGlobals.end(),
                                [](const RawRecord& r) { return r.type == 0x0863; });
    QVERIFY(g != back.extraGlobals.end());
    QCOMPARE(g->data, wb.extraGlobals[0].data);
    QCOMPARE(third.extraGlobals.size(), back.extraGlobals.size());
    QCOMPARE(back.sheets[0].find(0, 0)->value, Value(1.0));
}

void TestXlsRecords::printTitlesName()
{
    Workbook wb = oneSheet();
    wb.sheets.emplace_back();
    wb.sheets[1].name = "Second";
    DefinedName n;
    n.name = std::string(1, '\x07');
    n.builtin = true;
    n.sheetIndex = 2;
    // Row 4 of sheet 2: ptgArea3d, EXTERNSHEET entry 1, rows 3..3, columns 0..255
    n.formula = B().u8(0x3B).u16(1).u16(3).u16(3).u16(0).u16(255).b;
    wb.names.push_back(n);
    const auto stream = xls::writeWorkbookStream(wb);
    const auto types = recordTypes(stream);
    const auto sb = std::find(types.begin(), types.end(), 0x01AE);
    QVERIFY(sb != types.end());
    QCOMPARE(*(sb + 1), std::uint16_t(0x0017));
    QCOMPARE(*(sb + 2), std::uint16_t(0x0018));
    const Workbook back = xls::readWorkbookStream(stream);
    QCOMPARE(back.names.size(), std::size_t(1));
    QVERIFY(back.names[0].builtin);
    QCOMPARE(back.names[0].name, n.name);
    QCOMPARE(back.names[0].sheetIndex, 2);
    QCOMPARE(back.names[0].formula, n.formula);

    // A file whose EXTERNSHEET lists the sheets in another order keeps its entries; the
    // table says which sheet each names.
    const Bytes globals = cat({
        rec(0x01AE, B().u16(1).u16(0x0401)),
        rec(0x0017, B().u16(2).u16(0).u16(0).u16(0).u16(0).u16(0).u16(0)),
        rec(0x0018, B().u16(0x20).u8(0).u8(1).u16(11).u16(0).u16(1).u32(0).u8(0).u8(7)
                        .u8(0x3B).u16(1).u16(3).u16(3).u16(0).u16(255)),
    });
    const Workbook renumbered = readSheet({}, globals);
    QCOMPARE(renumbered.names.at(0).formula[1], std::uint8_t(1));
    QCOMPARE(renumbered.externSheets.size(), std::size_t(2));
    QCOMPARE(renumbered.externSheets[1].firstSheet, std::uint16_t(0));
    QVERIFY(renumbered.supBooks.at(0) == SupBookKind::Self);
}

void TestXlsRecords::formulaGroupsWrittenBack()
{
    // A shared formula whose tokens hold a 3-D reference, an array formula with an array
    // constant {1,2}, a data table: saved, each goes back as its own record with the cells
    // pointing at it, and the records' bytes unchanged.
    auto formula = [](int row, int col, const Bytes& tokens, double cached) {
        return rec(0x0006, B().u16(row).u16(col).u16(15).f64(cached).u16(0).u32(0)
                               .u16(static_cast<unsigned>(tokens.size())).add(tokens));
    };
    const Bytes sharedTokens = B().u8(0x3A).u16(0).u16(0).u16(0xC000).u8(0x4C).u16(0).u16(0xC000).u8(0x03);
    const Bytes shrfmla = B().u16(0).u16(2).u8(0).u8(0).u16(0x0300).u16(static_cast<unsigned>(sharedTokens.size()))
                              .add(sharedTokens);
    const Bytes arrayTokens = B().u8(0x60).zeros(7);   // ptgArray
    const Bytes arrayData = B().u8(1).u16(0).u8(0x01).f64(1).u8(0x01).f64(2);     // 2 columns, 1 row: 1, 2
    const Bytes arrayRec = B().u16(4).u16(4).u8(0).u8(1).u16(0x0001).u32(0)
                               .u16(static_cast<unsigned>(arrayTokens.size())).add(arrayTokens).add(arrayData);
    const Bytes tableRec = B().u16(6).u16(7).u8(1).u8(1).u16(0x0004).u16(0).u16(0).u16(0).u16(0);
    const Bytes tbl = B().u8(0x02).u16(6).u16(1);
    const Bytes stream = book({}, cat({
        formula(0, 0, B().u8(0x01).u16(0).u16(0), 1), rec(0x04BC, shrfmla),
        formula(1, 0, B().u8(0x01).u16(0).u16(0), 2),
        formula(2, 0, B().u8(0x01).u16(0).u16(0), 3),
        formula(4, 0, B().u8(0x01).u16(4).u16(0), 1), rec(0x0221, arrayRec),
        formula(4, 1, B().u8(0x01).u16(4).u16(0), 2),
        formula(6, 1, tbl, 10), rec(0x0236, tableRec),
        formula(7, 1, tbl, 20),
    }));
    const Workbook wb = xls::readWorkbookStream(stream);
    const Sheet& s = wb.sheets.at(0);
    QCOMPARE(s.find(4, 1)->formulaData, Bytes(arrayData));
    QVERIFY(!s.find(6, 1)->isFormula());   // table results are values to the model
    QCOMPARE(s.find(7, 1)->value.number(), 20.0);

    const auto out = records(xls::writeWorkbookStream(wb));
    auto count = [&](std::uint16_t type, const Bytes& body) {
        return std::count(out.begin(), out.end(), std::make_pair(type, body));
    };
    QCOMPARE(count(0x04BC, shrfmla), 1);
    QCOMPARE(count(0x0221, arrayRec), 1);
    QCOMPARE(count(0x0236, tableRec), 1);
    // Every member cell points at its group; each group record follows its first cell's FORMULA.
    int exp = 0, tables = 0;
    for (std::size_t i = 0; i < out.size(); ++i) {
        const auto& [type, body] = out[i];
        if (type != 0x0006)
            continue;
        const Bytes tokens(body.begin() + 22, body.end());
        if (tokens.size() == 5 && tokens[0] == 0x01)
            ++exp;
        if (tokens == tbl)
            ++tables;
        const int row = body[0] | body[1] << 8, col = body[2];
        if ((row == 0 && col == 0) || (row == 4 && col == 0) || (row == 6 && col == 1))
            QVERIFY(i + 1 < out.size() && (out[i + 1].first == 0x04BC || out[i + 1].first == 0x0221 || out[i + 1].first == 0x0236));
    }
    QCOMPARE(exp, 5);
    QCOMPARE(tables, 2);

    // A cell given a formula of its own leaves its group; the rest stays in it.
    Workbook edited = wb;
    edited.sheets[0].find(2, 0)->formula = B().u8(0x1E).u16(9);
    const Workbook back = roundTrip(edited);
    QCOMPARE(back.sheets[0].find(2, 0)->formula, Bytes(B().u8(0x1E).u16(9)));
    QCOMPARE(back.sheets[0].find(1, 0)->formula, wb.sheets[0].find(1, 0)->formula);
    QCOMPARE(back.sheets[0].sharedFormulas.size(), std::size_t(1));
}

void TestXlsRecords::keptSheetsAndLinkTable()
{
    // Tabs: Data, a chart sheet, Data2, a macro sheet whose cell uses string 0 of the table.
    const Bytes chart = cat({bof(0x0020), rec(0x1001, B().u16(1)), rec(0x1033, {}), rec(0x1034, {}), eof()});
    const Bytes macro = cat({bof(0x0040), rec(0x020B, B().u32(0).u32(0).u32(1).u32(0).u32(0)),
                             rec(0x00FD, B().u16(0).u16(0).u16(15).u32(0)), eof()});
    const Bytes cf = B().u16(1).u16(0).u16(0).u16(0).u8(0).u8(0).u16(1).u16(0).u16(0).u8(0).u8(0);
    const Bytes data = cat({bof(0x0010),
                            rec(0x0006, B().u16(0).u16(0).u16(15).f64(5).u16(0).u32(0).u16(7).u8(0x3A).u16(0).u16(0).u16(0xC000)),
                            rec(0x0006, B().u16(1).u16(0).u16(15).f64(6).u16(0).u32(0).u16(7).u8(0x3A).u16(1).u16(1).u16(0xC001)),
                            rec(0x023E, B().u16(0x06B6).u16(0).u16(0).u32(64).u16(0).u16(0).u32(0)),
                            rec(0x01B0, cf), eof()});
    const Bytes data2 = cat({bof(0x0010), rec(0x0203, B().u16(0).u16(0).u16(15).f64(5)), eof()});
    const Bytes externalBook = rec(0x01AE, B().u16(1).u16(10).u8(0).str("\x01other.xls").u16(6).u8(0).str("Sheet1"));
    const Bytes externName = rec(0x0023, B().u16(0).u32(0).u8(4).u8(0).str("Rate").u16(2).u8(0x1C).u8(0x17));
    const Bytes xti = B().u16(3).u16(0).u16(2).u16(2).u16(1).u16(0).u16(0).u16(0).u16(0).u16(3);
    const Bytes globals = cat({sst({"in the macro sheet"}), rec(0x01AE, B().u16(4).u16(0x0401)), externalBook, externName,
                               rec(0x0017, xti)});
    const Bytes stream = multiBook(globals, {{"Data", 0, data}, {"Chart1", 2, chart}, {"Data2", 0, data2}, {"Macro1", 1, macro}});
    const Workbook wb = xls::readWorkbookStream(stream);

    QCOMPARE(wb.sheets.size(), std::size_t(2));
    QCOMPARE(wb.sheets[1].name, std::string("Data2"));
    QCOMPARE(wb.tabOrder, (std::vector<int>{0, -1, 1, -2}));
    QCOMPARE(wb.sheetOfTab(2), 1);
    QCOMPARE(wb.sheetOfTab(1), -1);
    // 3-D sheet numbers are worksheet indexes in the model: tab 2 is Data2, tabs 0..3 span both.
    QCOMPARE(wb.externSheets.size(), std::size_t(3));
    QCOMPARE(wb.externSheets[0].firstSheet, std::uint16_t(1));
    QVERIFY(wb.supBooks == (std::vector<SupBookKind>{SupBookKind::Self, SupBookKind::External}));
    QCOMPARE(wb.externSheets[2].firstSheet, std::uint16_t(0));
    QCOMPARE(wb.externSheets[2].lastSheet, std::uint16_t(1));
    QCOMPARE(wb.sheets[0].trailingRecords.back().type, std::uint16_t(0x01B0));

    const auto saved = xls::writeWorkbookStream(wb);
    const auto out = records(saved);
    // The link table as it was, sheet list and substreams in their order, byte for byte.
    QCOMPARE(std::count(out.begin(), out.end(), std::make_pair(std::uint16_t(0x0017), Bytes(xti))), 1);
    const auto ext = std::find(out.begin(), out.end(), records(externalBook)[0]);
    QVERIFY(ext != out.end());
    QVERIFY(*(ext + 1) == records(externName)[0]);
    QVERIFY(std::search(saved.begin(), saved.end(), chart.begin(), chart.end()) != saved.end());
    std::vector<std::string> names;
    for (const auto& [type, body] : out)
        if (type == 0x0085)
            names.push_back(std::string(body.begin() + 8, body.end()) + char('0' + body[5]));
    QCOMPARE(names, (std::vector<std::string>{"Data0", "Chart12", "Data20", "Macro11"}));
    // The macro sheet's INDEX follows it to its new place; its string is still string 0.
    const Workbook back = xls::readWorkbookStream(saved);
    QCOMPARE(back.keptSheets.size(), std::size_t(2));
    QCOMPARE(back.keptSheets[1].substream, wb.keptSheets[1].substream);
    QCOMPARE(back.sharedStrings.at(0), std::string("in the macro sheet"));
    QCOMPARE(back.sheets[0].find(1, 0)->formula, wb.sheets[0].find(1, 0)->formula);
    // Conditional formats and the like stay after the window records.
    std::size_t window2 = 0, cond = 0;
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (out[i].first == 0x023E && !window2)
            window2 = i;
        if (out[i].first == 0x01B0)
            cond = i;
    }
    QVERIFY(window2 > 0 && cond > window2);
}

void TestXlsRecords::refusalsAndShortRecords()
{
    // An encrypted workbook says so.
    try {
        readSheet({}, rec(0x002F, B().u16(1).u16(1).u16(1).zeros(48)));
        QFAIL("a FILEPASS workbook was read");
    } catch (const UnsupportedError& e) {
        QCOMPARE(QString::fromUtf8(e.what()), QStringLiteral("The workbook is password-protected."));
    }
    // A FORMAT record a byte short, a FONT whose name is cut, an XF two bytes short: read as far as they go.
    const Workbook wb = readSheet(
        cat({rec(0x0406, B().u16(0).u16(0).u16(15).f64(12.5).u16(0).u16(3).u8(0x1E).u16(1)),
             rec(0x0206, B().u16(1).u16(0).u16(15).u8(0).u8(0).u8(0).u8(0).u8(0).u8(0).u16(0xFFFF).u16(0).u16(3).u8(0x1E).u16(1)),
             rec(0x0207, B().u16(2).u8(0).str("ok"))}),
        cat({rec(0x041E, B().u16(164).u16(5).u8(0).str("0.00")),
             rec(0x0031, B().u16(200).u16(0).u16(0x7FFF).u16(400).u16(0).u8(0).u8(0).u8(0).u8(0).u8(5).u8(0).str("Ari")),
             rec(0x00E0, B().u16(0).u16(164).u16(0x0001).u8(0x08).zeros(11))}));
    QCOMPARE(wb.formats.at(164), std::string("0.00"));
    QCOMPARE(wb.fonts.at(0).name, std::string("Ari"));
    QCOMPARE(wb.xfs.at(0).formatIndex, std::uint16_t(164));   // an XF two bytes short
    QVERIFY(wb.xfs.at(0).wrap);
    // The FORMULA records of BIFF3 and BIFF4 give their results, and keep their formulas.
    QVERIFY(wb.sheets[0].find(0, 0)->isFormula());
    QCOMPARE(wb.sheets[0].find(0, 0)->value.number(), 12.5);
    QCOMPARE(wb.sheets[0].find(1, 0)->value, Value("ok"));
}

void TestXlsRecords::globalsSettings()
{
    Workbook wb = oneSheet();
    wb.sheets.push_back(wb.sheets[0]);
    wb.sheets[1].name = "Zweite \xC3\x9C";
    wb.activeSheet = 1;
    wb.date1904 = true;
    wb.palette.assign(56, 0x123456);
    const Workbook back = roundTrip(wb);
    QCOMPARE(back.sheets.size(), std::size_t(2));
    QCOMPARE(back.sheets[1].name, wb.sheets[1].name);
    QCOMPARE(back.activeSheet, 1);
    QVERIFY(back.date1904);
    QCOMPARE(back.codepage, std::uint16_t(1200));
    QCOMPARE(back.colorRgb(8), std::uint32_t(0x123456));
    QVERIFY(!back.sheets[0].selected);
    QVERIFY(back.sheets[1].selected);
}

void TestXlsRecords::modelDefaults()
{
    const Workbook wb = Workbook::makeDefault();
    QVERIFY(wb.fonts.size() >= 4);
    QCOMPARE(wb.fonts[0].height, std::uint16_t(200));
    QCOMPARE(QString::fromStdString(wb.fonts[0].name), QString("Arial"));
    QCOMPARE(wb.xfs.size(), std::size_t(21));
    for (int i = 0; i < 21; ++i)
        QCOMPARE(wb.xfs[i].isStyle, i != 15);
    QCOMPARE(wb.xfs[15].parent, std::uint16_t(0));
    QCOMPARE(wb.xfs[0].parent, std::uint16_t(0xFFF));
    QCOMPARE(wb.styles.size(), std::size_t(6));
    QCOMPARE(wb.codepage, std::uint16_t(1200));
    QVERIFY(!wb.date1904);
    QCOMPARE(&wb.font(4), &wb.font(0));   // index 4 is skipped in BIFF
    QCOMPARE(&wb.font(999), &wb.font(0));
}

void TestXlsRecords::modelFormatsAndColours()
{
    QCOMPARE(builtinFormatCode(0), std::string("General"));
    QCOMPARE(builtinFormatCode(3), std::string("#,##0"));
    QCOMPARE(builtinFormatCode(14), std::string("m/d/yy"));
    QCOMPARE(builtinFormatCode(15), std::string("d-mmm-yy"));
    QCOMPARE(builtinFormatCode(16), std::string("d-mmm"));
    QCOMPARE(builtinFormatCode(17), std::string("mmm-yy"));
    QCOMPARE(builtinFormatCode(49), std::string("@"));
    QVERIFY(builtinFormatCode(164).empty());

    Workbook wb = Workbook::makeDefault();
    QCOMPARE(wb.addFormat("0.0"), std::uint16_t(164));
    QCOMPARE(wb.addFormat("#,##0"), std::uint16_t(3));
    QCOMPARE(wb.addFormat("mmm-yy"), std::uint16_t(17));
    QCOMPARE(wb.addFormat("0.0"), std::uint16_t(164));
    QCOMPARE(wb.addFormat("0.000"), std::uint16_t(165));
    QCOMPARE(wb.formatCode(165), std::string("0.000"));
    QCOMPARE(wb.formatCode(2), std::string("0.00"));

    QCOMPARE(wb.colorRgb(8), std::uint32_t(0x000000));
    QCOMPARE(wb.colorRgb(10), std::uint32_t(0xFF0000));
    QCOMPARE(wb.colorRgb(22), std::uint32_t(0xC0C0C0));
    QCOMPARE(wb.colorRgb(63), std::uint32_t(0x333333));
    QCOMPARE(wb.colorRgb(64), std::uint32_t(0x000000));
    QCOMPARE(wb.colorRgb(65), std::uint32_t(0xFFFFFF));
    QCOMPARE(wb.colorRgb(0x7FFF), std::uint32_t(0x000000));
    wb.palette = {0xABCDEF};
    QCOMPARE(wb.colorRgb(8), std::uint32_t(0xABCDEF));
    QCOMPARE(wb.colorRgb(9), std::uint32_t(0xFFFFFF));   // beyond a short palette: default
}

void TestXlsRecords::modelSheetGeometry()
{
    Sheet s;
    QVERIFY(!s.usedRange());
    QCOMPARE(s.columnWidth(5), std::uint16_t(2340));   // DEFCOLWIDTH 8 as Excel shows it: 8.43
    QCOMPARE(s.rowHeight(3), std::uint16_t(255));
    s.at(9, 9);   // a blank that only at() made
    QVERIFY(!s.usedRange());
    s.at(2, 3).value = 1.0;
    s.at(7, 1).xf = 20;
    s.at(4, 6).formula = {0x1E, 0, 0};
    const auto r = s.usedRange();
    QVERIFY(r.has_value());
    QVERIFY(*r == (RangeAddress{2, 1, 7, 6}));
    s.erase(2, 3);
    QVERIFY(!s.find(2, 3));
    QCOMPARE(s.usedRange()->firstRow, 4);
}

QTEST_APPLESS_MAIN(TestXlsRecords)
#include "test_xls_records.moc"
