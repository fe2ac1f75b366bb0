// Formula text <-> BIFF8 tokens: byte layouts, round trips of the projection workbook's
// formulas, rejection of bad text, and robustness against damaged token arrays.
#include "spreadsheet/address.h"
#include "spreadsheet/error.h"
#include "spreadsheet/formula.h"
#include "spreadsheet/formula_internal.h"

#include <QtTest/QtTest>

#include <random>

using namespace ss;
using Bytes = std::vector<std::uint8_t>;

namespace {

std::string col(int c) { return ss::columnLetters(c); }

QByteArray hex(const Bytes& b)
{
    return QByteArray(reinterpret_cast<const char*>(b.data()), static_cast<int>(b.size())).toHex(' ').toUpper();
}

// The formulas of the projection workbook for one month column pair (amount column m, 0-based).
std::vector<std::string> projectionFormulas(int m)
{
    const std::string M = col(m);
    std::vector<std::string> f;
    for (int r : {6, 9, 12, 28, 46}) {
        const std::string R = std::to_string(r);
        f.push_back("IF(" + M + "$13=0,\"-\",(" + M + R + "*100)/" + M + "$13)");
    }
    for (int r : {16, 22}) {
        const std::string R = std::to_string(r), U = std::to_string(r - 10);
        f.push_back("IF(" + M + U + "=0,\"-\",(" + M + R + "*100)/" + M + U + ")");
    }
    f.push_back("SUM(" + M + "6:" + M + "12)");
    f.push_back("SUM(" + M + "16:" + M + "22)");
    f.push_back("SUM(" + M + "28:" + M + "46)");
    f.push_back(M + "13-" + M + "23");
    f.push_back(M + "25-" + M + "47");
    for (int r : {23, 25, 49})
        f.push_back("IF(" + M + "13=0,\"-\",(" + M + std::to_string(r) + "*100)/" + M + "13)");
    f.push_back("IF(" + M + "$13=0,\"-\",(" + M + "47*100)/" + M + "$13)");
    return f;
}

} // namespace

class TestFormula : public QObject {
    Q_OBJECT
private slots:
    void tokenBytes_data();
    void tokenBytes();
    void templateFormulasRoundTrip();
    void roundTripShapes_data();
    void roundTripShapes();
    void operatorPrecedence_data();
    void operatorPrecedence();
    void operandClasses();
    void stringsAndNumbers();
    void badText_data();
    void badText();
    void functionTable();
    void sharedExpansion();
    void sharedExpansionOf3dReferences();
    void referencesListed();
    void foreignTokensDecompile();
    void garbageNeverCrashes();
    void quickTokenSizesAgree();
};

void TestFormula::tokenBytes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    // [MS-XLS] 2.5.198: ptgRefV (0x44) rw, col|flags (0xC000 = both relative), ptgInt, ptgAdd.
    QTest::newRow("A1+1") << "=A1+1" << QByteArray("44 00 00 00 C0 1E 01 00 03");
    QTest::newRow("absolute") << "$B$3" << QByteArray("44 02 00 01 00");
    QTest::newRow("mixed row abs") << "D$13" << QByteArray("44 0C 00 03 40");
    QTest::newRow("mixed col abs") << "$D13" << QByteArray("44 0C 00 03 80");
    // ptgArea (reference class 0x25) into ptgFuncVar(1 arg, SUM=4).
    QTest::newRow("SUM") << "SUM(D6:D12)" << QByteArray("25 05 00 0B 00 03 C0 03 C0 42 01 04 00");
    // Fixed-argument function: ptgFuncV 0x41 with the index only.
    QTest::newRow("YEAR") << "YEAR(R2)" << QByteArray("44 01 00 11 C0 41 45 00");
    QTest::newRow("text") << "\"-\"" << QByteArray("17 01 00 2D");
    QTest::newRow("bool") << "TRUE" << QByteArray("1D 01");
    QTest::newRow("error") << "#DIV/0!" << QByteArray("1C 07");
    QTest::newRow("num") << "1.5" << QByteArray("1F 00 00 00 00 00 00 F8 3F");
    QTest::newRow("unary minus") << "-1" << QByteArray("1E 01 00 13");
    QTest::newRow("percent") << "50%" << QByteArray("1E 32 00 14");
    QTest::newRow("paren") << "(1)" << QByteArray("1E 01 00 15");
    // IF as Excel writes it: tAttrIf skips the true branch and its goto (1 + 4 bytes); each
    // branch ends in a tAttrGoto whose offset is one less than the bytes up to past the IF token.
    QTest::newRow("missing arg") << "IF(A1,,2)"
                                 << QByteArray("44 00 00 00 C0 19 02 05 00 16 19 08 0A 00 1E 02 00 19 08 03 00 42 03 01 00");
    // CHOOSE: a jump table of byte offsets from its start to each choice and to the function token.
    QTest::newRow("CHOOSE") << "CHOOSE(A1,1,2)"
                            << QByteArray("44 00 00 00 C0 19 04 02 00 06 00 0D 00 14 00 1E 01 00 19 08 0A 00 1E 02 00 19 08 03 00 42 03 64 00");
    // Volatile functions lead with tAttrVolatile.
    QTest::newRow("volatile") << "NOW()+1" << QByteArray("19 01 00 00 41 4A 00 1E 01 00 03");
    QTest::newRow("reversed area") << "B2:A1" << QByteArray("45 00 00 01 00 00 C0 01 C0");
}

void TestFormula::tokenBytes()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(hex(formula::compile(text.toStdString())), bytes);
}

void TestFormula::templateFormulasRoundTrip()
{
    // Every month column pair plus the yearly column AB.
    std::vector<int> cols;
    for (int m = 3; m <= 25; m += 2)
        cols.push_back(m);
    cols.push_back(27);
    for (int m : cols) {
        for (const std::string& f : projectionFormulas(m)) {
            const Bytes t = formula::compile("=" + f, 5, m + 1);
            QCOMPARE(QString::fromStdString(formula::decompile(t, 5, m + 1)), QString::fromStdString(f));
            QVERIFY(formula::compile(formula::decompile(t)) == t);
        }
    }
    for (int r : {6, 19, 46}) {
        std::string sum;
        for (int m = 25; m >= 3; m -= 2)
            sum += (sum.empty() ? "" : "+") + col(m) + std::to_string(r);
        QCOMPARE(QString::fromStdString(formula::decompile(formula::compile(sum))), QString::fromStdString(sum));
    }
    for (const char* f : {"R2", "DATE(YEAR(R2),MONTH(R2)+1,1)", "DATE(YEAR(X4),MONTH(X4)+1,1)"})
        QCOMPARE(QString::fromStdString(formula::decompile(formula::compile(f))), QString(f));
}

void TestFormula::roundTripShapes_data()
{
    QTest::addColumn<QString>("text");
    for (const char* f : {"-A1", "+A1", "A1%", "-(A1+B2)^2", "\"a\"&\"b\"&C3", "A1<>B1", "A1<=1", "A1>=1", "A1<1", "A1>1",
                          "\"say \"\"hi\"\"\"", "ROUND(2.5,0)", "AND(TRUE,FALSE)", "OR(A1,NOT(B1))", "MIN(A1:B2,C3)",
                          "COUNT(A1:A3)", "AVERAGE($A$1:$A$9)", "ABS(-3)", "IF(A1,1)", "IF(A1,,2)", "SUMIF(A1:A3,\">1\")",
                          "#N/A", "#REF!+1", "1.25E+20", "0.001", "IV65536", "CONCATENATE(\"x\",1)", "TODAY()",
                          "LEFT(\"abc\",2)", "ISERROR(1/0)", "NA()", "PI()*2"})
        QTest::newRow(f) << QString(f);
}

void TestFormula::roundTripShapes()
{
    QFETCH(QString, text);
    const Bytes t = formula::compile(text.toStdString());
    QCOMPARE(QString::fromStdString(formula::decompile(t)), text);
}

void TestFormula::operatorPrecedence_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    // 1+2*3: the product is computed first (Int1 Int2 Int3 Mul Add).
    QTest::newRow("mul before add") << "1+2*3" << QByteArray("1E 01 00 1E 02 00 1E 03 00 05 03");
    // 2*3^2: power before product.
    QTest::newRow("power before mul") << "2*3^2" << QByteArray("1E 02 00 1E 03 00 1E 02 00 07 05");
    // -2^2: negation binds tighter than ^ in Excel.
    QTest::newRow("negation before power") << "-2^2" << QByteArray("1E 02 00 13 1E 02 00 07");
    // 2^3^2 is (2^3)^2.
    QTest::newRow("power left assoc") << "2^3^2" << QByteArray("1E 02 00 1E 03 00 07 1E 02 00 07");
    // 1&2+3: addition before concatenation.
    QTest::newRow("add before concat") << "1&2+3" << QByteArray("1E 01 00 1E 02 00 1E 03 00 03 08");
    // 1=2&3: concatenation before comparison.
    QTest::newRow("concat before compare") << "1=2&3" << QByteArray("1E 01 00 1E 02 00 1E 03 00 08 0B");
    // 1-2-3 is (1-2)-3.
    QTest::newRow("sub left assoc") << "1-2-3" << QByteArray("1E 01 00 1E 02 00 04 1E 03 00 04");
    // -50%: negation, then percent.
    QTest::newRow("percent after negation") << "-50%" << QByteArray("1E 32 00 13 14");
}

void TestFormula::operatorPrecedence()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(hex(formula::compile(text.toStdString())), bytes);
}

void TestFormula::operandClasses()
{
    // Reference class where the function takes references, value class in arithmetic and
    // comparisons, array class where the function takes arrays.
    QCOMPARE(formula::compile("SUM(A1)")[0], std::uint8_t{0x24});
    QCOMPARE(formula::compile("A1:A3")[0], std::uint8_t{0x45});
    QCOMPARE(formula::compile("ABS(A1)")[0], std::uint8_t{0x44});
    QCOMPARE(formula::compile("SUMPRODUCT(A1:A3)")[0], std::uint8_t{0x65});
    QCOMPARE(formula::compile("SUM(A1+B1)")[0], std::uint8_t{0x44});
    QCOMPARE(formula::compile("SUM((A1:A3))")[0], std::uint8_t{0x25});
    const Bytes ifTokens = formula::compile("IF(D$13=0,\"-\",(D6*100)/D$13)");
    QCOMPARE(ifTokens.front(), std::uint8_t{0x44});
    QCOMPARE(hex(Bytes(ifTokens.end() - 4, ifTokens.end())), QByteArray("42 03 01 00"));
}

void TestFormula::stringsAndNumbers()
{
    // Text with a character above U+00FF is stored as UTF-16.
    const Bytes wide = formula::compile("\"\xE2\x82\xAC" "1\"");
    QCOMPARE(hex(wide), QByteArray("17 02 01 AC 20 31 00"));
    QCOMPARE(formula::decompile(wide), std::string("\"\xE2\x82\xAC" "1\""));
    // A code point beyond Unicode becomes U+FFFD rather than a broken surrogate pair.
    QCOMPARE(hex(formula::compile("\"\xF7\xBF\xBF\xBF\"")), QByteArray("17 01 01 FD FF"));
    // Latin-1 text stays compressed.
    QCOMPARE(hex(formula::compile("\"\xC3\xA9\"")), QByteArray("17 01 00 E9"));
    // 65535 is the largest ptgInt; beyond it and fractions use ptgNum.
    QCOMPARE(formula::compile("65535")[0], std::uint8_t{0x1E});
    QCOMPARE(formula::compile("65536")[0], std::uint8_t{0x1F});
    QCOMPARE(formula::decompile(formula::compile("65536")), std::string("65536"));
    QCOMPARE(formula::decompile(formula::compile("0.1")), std::string("0.1"));
    QCOMPARE(formula::decompile(formula::compile("1e3")), std::string("1000"));
    // Case and the leading '=' do not matter; lower-case references come back upper-case.
    QCOMPARE(formula::decompile(formula::compile("=sum(d6:d12)")), std::string("SUM(D6:D12)"));
    QCOMPARE(formula::decompile(formula::compile("= 1 + 2")), std::string("1+2"));
    QCOMPARE(formula::decompile(formula::compile("true")), std::string("TRUE"));
    QVERIFY_THROWS_EXCEPTION(FormatError, formula::compile("\"" + std::string(256, 'x') + "\""));
    QCOMPARE(formula::compile("\"" + std::string(255, 'x') + "\"").size(), std::size_t{258});
}

void TestFormula::badText_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << "";
    QTest::newRow("only =") << "=";
    QTest::newRow("unbalanced open") << "=(1+2";
    QTest::newRow("unbalanced close") << "=1+2)";
    QTest::newRow("unknown function") << "=FOO(1)";
    QTest::newRow("beyond IV") << "=XFD1";
    QTest::newRow("column IW") << "=IW1";
    QTest::newRow("row 0") << "=A0";
    QTest::newRow("row too big") << "=A65537";
    QTest::newRow("trailing operator") << "=1+";
    QTest::newRow("double operator") << "=1*/2";
    QTest::newRow("unterminated text") << "=\"abc";
    QTest::newRow("unknown name") << "=profit";
    QTest::newRow("bad error") << "=#BOGUS!";
    QTest::newRow("too few args") << "=ROUND(1)";
    QTest::newRow("too many args") << "=IF(1,2,3,4)";
    QTest::newRow("bad area") << "=A1:";
    QTest::newRow("missing comma") << "=SUM(A1 B1)";
    QTest::newRow("number glued to name") << "=12abc";
    QTest::newRow("lone dollar") << "=$";
}

void TestFormula::badText()
{
    QFETCH(QString, text);
    QVERIFY_THROWS_EXCEPTION(FormatError, formula::compile(text.toStdString()));
}

void TestFormula::functionTable()
{
    struct { const char* name; std::uint16_t index; bool fixed; } expected[] = {
        {"COUNT", 0, false}, {"IF", 1, false}, {"SUM", 4, false}, {"AVERAGE", 5, false}, {"MIN", 6, false},
        {"MAX", 7, false}, {"ABS", 24, true}, {"ROUND", 27, true}, {"AND", 36, false}, {"OR", 37, false},
        {"NOT", 38, true}, {"DATE", 65, true}, {"DAY", 67, true}, {"MONTH", 68, true}, {"YEAR", 69, true},
        {"SUMIF", 345, false}, {"ISERROR", 3, true}, {"ISBLANK", 129, true}, {"NA", 10, true}, {"INT", 25, true},
        {"MOD", 39, true}, {"TODAY", 221, true}, {"NOW", 74, true}, {"LEN", 32, true}, {"LEFT", 115, false},
        {"MID", 31, true}, {"CONCATENATE", 336, false}, {"TEXT", 48, true}, {"VALUE", 33, true},
    };
    for (const auto& e : expected) {
        const formula::FunctionInfo* f = formula::functionByName(e.name);
        QVERIFY2(f, e.name);
        QCOMPARE(f->index, e.index);
        QCOMPARE(f->fixed, e.fixed);
        QCOMPARE(formula::functionByIndex(e.index), f);
    }
    QVERIFY(!formula::functionByName("IFERROR"));   // not a BIFF8 built-in
    QVERIFY(!formula::functionByIndex(9999));
}

void TestFormula::sharedExpansion()
{
    // ptgRefN with row offset -1 (0xFFFF) and column offset +2, both relative, from C5 (row 4, col 2).
    const Bytes refN = {0x2C, 0xFF, 0xFF, 0x02, 0xC0, 0x1E, 0x01, 0x00, 0x03};
    const Bytes expanded = formula::expandShared(refN, 4, 2);
    QCOMPARE(hex(expanded), QByteArray("24 03 00 04 C0 1E 01 00 03"));
    QCOMPARE(formula::decompile(expanded), std::string("E4+1"));
    QCOMPARE(formula::decompile(refN, 4, 2), std::string("E4+1"));
    // Absolute parts are kept as they are; value class is kept.
    const Bytes absN = {0x4C, 0x0C, 0x00, 0x03, 0x40};   // D$13 with column offset 3 relative
    QCOMPARE(formula::decompile(formula::expandShared(absN, 20, 0)), std::string("D$13"));
    QCOMPARE(formula::expandShared(absN, 20, 0)[0], std::uint8_t{0x44});
    // Offsets wrap around the sheet edges.
    const Bytes wrap = {0x2C, 0xFE, 0xFF, 0xFF, 0xC0};   // row -2, column -1
    QCOMPARE(formula::decompile(formula::expandShared(wrap, 0, 0)), std::string("IV65535"));
    // ptgAreaN D(r-1):D(r+1) from row 10.
    const Bytes areaN = {0x2D, 0xFF, 0xFF, 0x01, 0x00, 0x00, 0xC0, 0x00, 0xC0};
    QCOMPARE(formula::decompile(formula::expandShared(areaN, 9, 3)), std::string("D9:D11"));
    // Truncated tokens are copied, not read past the end.
    const Bytes cut = {0x2C, 0x01};
    QVERIFY(formula::expandShared(cut, 3, 3) == cut);
}

void TestFormula::sharedExpansionOf3dReferences()
{
    // Shared formulas "=Sheet!A(r-1)+1" and "Sheet!(c)(r):(c+1)$2": the relative parts of their
    // 3-D references are offsets from each cell, as for ptgRefN, and the tokens stay 3-D.
    const Bytes ref3d = {0x5A, 0x01, 0x00, 0xFF, 0xFF, 0x00, 0xC0, 0x1E, 0x01, 0x00, 0x03};
    QCOMPARE(hex(formula::expandShared(ref3d, 9, 0)), QByteArray("5A 01 00 08 00 00 C0 1E 01 00 03"));
    QCOMPARE(hex(formula::expandShared(ref3d, 3, 2)), QByteArray("5A 01 00 02 00 02 C0 1E 01 00 03"));
    const Bytes area3d = {0x3B, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0xC0, 0x01, 0x40};
    QCOMPARE(hex(formula::expandShared(area3d, 4, 1)), QByteArray("3B 00 00 04 00 01 00 01 C0 02 40"));
    // Absolute parts stay.
    const Bytes abs3d = {0x3A, 0x00, 0x00, 0x07, 0x00, 0x03, 0x00};
    QVERIFY(formula::expandShared(abs3d, 9, 9) == abs3d);
}

void TestFormula::referencesListed()
{
    const auto refs = formula::references(formula::compile("IF(D$13=0,\"-\",(D6*100)/D$13)+SUM(B2:A1)"));
    QCOMPARE(refs.size(), std::size_t{4});
    QVERIFY(refs[0] == (RangeAddress{12, 3, 12, 3}));
    QVERIFY(refs[1] == (RangeAddress{5, 3, 5, 3}));
    QVERIFY(refs[3] == (RangeAddress{0, 0, 1, 1}));
    QVERIFY(formula::references(formula::compile("1+2")).empty());
}

void TestFormula::foreignTokensDecompile()
{
    // Excel's own layout of =IF(A1,1,2): tAttrIf and tAttrGoto skip tokens around the branches.
    const Bytes excelIf = {0x44, 0, 0, 0, 0xC0, 0x19, 0x02, 0x07, 0x00, 0x1E, 1, 0, 0x19, 0x08, 0x0A, 0x00,
                           0x1E, 2, 0, 0x19, 0x08, 0x03, 0x00, 0x42, 0x03, 0x01, 0x00};
    QCOMPARE(formula::decompile(excelIf), std::string("IF(A1,1,2)"));
    // tAttrSum stands for SUM with one argument.
    const Bytes attrSum = {0x25, 5, 0, 11, 0, 3, 0xC0, 3, 0xC0, 0x19, 0x10, 0, 0};
    QCOMPARE(formula::decompile(attrSum), std::string("SUM(D6:D12)"));
    // tAttrSpace: two blanks before the next operand.
    const Bytes spaced = {0x1E, 1, 0, 0x19, 0x40, 0x00, 0x02, 0x1E, 2, 0, 0x03};
    QCOMPARE(formula::decompile(spaced), std::string("1+  2"));
    // tAttrChoose carries a jump table.
    const Bytes choose = {0x1E, 1, 0, 0x19, 0x04, 0x01, 0x00, 0x04, 0x00, 0x08, 0x00, 0x1E, 5, 0, 0x1E, 6, 0,
                          0x42, 0x03, 0x64, 0x00};
    QCOMPARE(formula::decompile(choose), std::string("CHOOSE(1,5,6)"));
    // References this decompiler cannot name still give text.
    QCOMPARE(formula::decompile(Bytes{0x2A, 0, 0, 0, 0}), std::string("#REF!"));
    QCOMPARE(formula::decompile(Bytes{0x2B, 0, 0, 0, 0, 0, 0, 0, 0}), std::string("#REF!"));
    QCOMPARE(formula::decompile(Bytes{0x23, 1, 0, 0, 0}), std::string("#NAME?"));
    QVERIFY(!formula::decompile(Bytes{0x3A, 0, 0, 4, 0, 2, 0xC0}).empty());
    QVERIFY(!formula::decompile(Bytes{0x3B, 0, 0, 0, 0, 9, 0, 0, 0xC0, 1, 0xC0}).empty());
    // Add-in call: ptgFuncVar 255 with the name as first argument.
    const Bytes addin = {0x23, 1, 0, 0, 0, 0x1E, 7, 0, 0x42, 0x02, 0xFF, 0x00};
    QCOMPARE(formula::decompile(addin), std::string("#NAME?(7)"));
}

void TestFormula::garbageNeverCrashes()
{
    const std::string bad = formula::decompile(Bytes{0x03});
    QVERIFY(!bad.empty());
    QCOMPARE(formula::decompile(Bytes{0x1F, 1, 2}), bad);       // truncated number
    QCOMPARE(formula::decompile(Bytes{0x17, 5, 0, 'a'}), bad);  // truncated text
    QCOMPARE(formula::decompile(Bytes{0x1E, 1, 0, 0x1E, 2, 0}), bad);   // two values, no operator
    QCOMPARE(formula::decompile(Bytes{0x42, 0x05, 0x04, 0x00}), bad);   // SUM of 5 missing arguments
    QCOMPARE(formula::decompile(Bytes{0x18, 0x01, 0, 0}), bad);        // ptgExtend is not supported
    QCOMPARE(formula::decompile(Bytes{}), bad);
    std::mt19937 rng(12345);
    formula::Context ctx;
    ctx.cell = [](int, int) { return Value(1.0); };
    for (int i = 0; i < 20000; ++i) {
        Bytes b(rng() % 24);
        for (auto& x : b)
            x = static_cast<std::uint8_t>(rng());
        (void)formula::decompile(b, 3, 3);
        (void)formula::expandShared(b, 3, 3);
        (void)formula::references(b);
        (void)formula::evaluate(b, 3, 3, ctx);
    }
    // Mutations of valid token arrays reach deeper into the decoders.
    const Bytes valid = formula::compile("IF(D$13=0,\"-\",(D6*100)/D$13)&SUM(A1:B2)&DATE(YEAR(R2),MONTH(R2)+1,1)");
    for (int i = 0; i < 20000; ++i) {
        Bytes b = valid;
        b[rng() % b.size()] = static_cast<std::uint8_t>(rng());
        if (rng() % 2)
            b.resize(rng() % b.size());
        (void)formula::decompile(b);
        (void)formula::evaluate(b, 0, 0, ctx);
    }
}

void TestFormula::quickTokenSizesAgree()
{
    // The evaluator's look-up of sizes by id says what the full reader says, for every id,
    // whatever follows it and however little of it there is.
    for (int id = 0; id < 256; ++id) {
        for (const std::uint8_t fill : {0x00, 0x04, 0x05, 0xFF}) {
            for (std::size_t length = 1; length <= 16; ++length) {
                Bytes t(length, fill);
                t[0] = static_cast<std::uint8_t>(id);
                QCOMPARE(formula::detail::nextTokenSize(t, 0), formula::detail::tokenSize(t, 0));
            }
        }
    }
}

QTEST_APPLESS_MAIN(TestFormula)
#include "test_formula.moc"
