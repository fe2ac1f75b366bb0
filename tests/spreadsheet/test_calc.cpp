// Evaluation and recalculation: spreadsheet coercions, error propagation, the date functions
// with Excel's 1900 quirks, rounding, dependency order, cycles, and a small projection sheet.
#include "spreadsheet/address.h"
#include "spreadsheet/calc.h"
#include "spreadsheet/formula.h"

#include <QtTest/QtTest>

#include <map>

using namespace ss;

namespace {

QString describe(const Value& v)
{
    switch (v.kind()) {
    case Value::Kind::Blank: return "blank";
    case Value::Kind::Number: return "N:" + QString::number(v.number(), 'g', QLocale::FloatingPointShortest);
    case Value::Kind::Text: return "T:" + QString::fromStdString(v.text());
    case Value::Kind::Boolean: return v.boolean() ? "B:TRUE" : "B:FALSE";
    case Value::Kind::Error: return QString("E:") + errorText(v.error());
    }
    return "?";
}

// A1-style address to (row, col) for the test sheets.
CellAddress at(const char* a)
{
    int row = 0, col = 0;
    ss::parseCellAddress(a, row, col);
    return {row, col};
}

struct TestSheet {
    std::map<CellAddress, Value> values;
    TestSheet& set(const char* a, Value v)
    {
        values[at(a)] = std::move(v);
        return *this;
    }
    Value eval(const std::string& text, const char* where = "Z100") const
    {
        formula::Context ctx;
        ctx.cell = [this](int r, int c) {
            const auto it = values.find({r, c});
            return it == values.end() ? Value() : it->second;
        };
        const CellAddress w = at(where);
        return formula::evaluate(formula::compile(text), w.row, w.col, ctx);
    }
};

void put(Sheet& s, const char* a, Value v) { s.cells[at(a)].value = std::move(v); }
void putFormula(Sheet& s, const char* a, const std::string& text)
{
    Cell& c = s.cells[at(a)];
    c.formula = formula::compile(text);
    c.value = Value();
}
const Value& valueAt(const Sheet& s, const char* a) { return s.cells.at(at(a)).value; }


// The projection layout: input lines in rows 6-12, 16-22, 28-46 (1-based), month amounts in
// columns D, F, ..., Z, percentages beside them, yearly total AB and its percentage AC.
std::string colName(int c) { return ss::columnLetters(c); }

void putAt(Sheet& s, int row1, int col, const std::string& text)
{
    Cell& c = s.cells[{row1 - 1, col}];
    c.formula = formula::compile(text);
}

std::string pct(const std::string& m, int row1, const std::string& divisor)
{
    return "IF(" + divisor + "=0,\"-\",(" + m + std::to_string(row1) + "*100)/" + divisor + ")";
}

Sheet projectionLayout()
{
    Sheet s;
    std::vector<int> cols;
    for (int k = 1; k <= 12; ++k)
        cols.push_back(2 * k + 1);
    cols.push_back(27);   // AB
    auto lines = [&](int first, int last, bool matchRevenue) {
        for (int r = first; r <= last; ++r) {
            std::string yearly;
            for (int k = 12; k >= 1; --k)
                yearly += (yearly.empty() ? "" : "+") + colName(2 * k + 1) + std::to_string(r);
            putAt(s, r, 27, yearly);
            for (int c : cols) {
                const std::string m = colName(c);
                putAt(s, r, c + 1, pct(m, r, matchRevenue ? m + std::to_string(r - 10) : m + "$13"));
            }
        }
    };
    lines(6, 12, false);
    lines(16, 22, true);
    lines(28, 46, false);
    for (int c : cols) {
        const std::string m = colName(c), p = colName(c + 1);
        putAt(s, 13, c, "SUM(" + m + "6:" + m + "12)");
        putAt(s, 13, c + 1, "SUM(" + p + "6:" + p + "12)");
        putAt(s, 23, c, "SUM(" + m + "16:" + m + "22)");
        putAt(s, 23, c + 1, pct(m, 23, m + "13"));
        putAt(s, 25, c, m + "13-" + m + "23");
        putAt(s, 25, c + 1, pct(m, 25, m + "13"));
        putAt(s, 47, c, "SUM(" + m + "28:" + m + "46)");
        putAt(s, 47, c + 1, pct(m, 47, m + "$13"));
        putAt(s, 49, c, m + "25-" + m + "47");
        putAt(s, 49, c + 1, pct(m, 49, m + "13"));
    }
    return s;
}

} // namespace

#define CHECK_VALUE(actual, expected) QCOMPARE(describe(actual), describe(expected))

class TestCalc : public QObject {
    Q_OBJECT
private slots:
    void argumentsFarOutOfRange();
    void coercion_data();
    void coercion();
    void errors_data();
    void errors();
    void dates_data();
    void dates();
    void logicalAndRounding_data();
    void logicalAndRounding();
    void textAndLookupFunctions_data();
    void textAndLookupFunctions();
    void foreignTokens();
    void chainInReverseOrder();
    void cycleGivesErrors();
    void cycleThroughCellsNotRead();
    void cellComputedOnDemandKeepsArrayConstantsApart();
    void valuesCopyAndMoveAcrossKinds();
    void projectionSheet();
    void projectionMonthHeaders();
    void negativeZeroAndBlankResults();
    void fullProjectionEmpty();
    void fullProjectionFilled();
};

void TestCalc::coercion_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("numeric text in +") << "\"12\"+1" << "N:13";
    QTest::newRow("blank-padded numeric text") << "\" 1.5e1 \"*2" << "N:30";
    QTest::newRow("signed text") << "\"-3\"^2" << "N:9";
    QTest::newRow("non-numeric text") << "\"12a\"+1" << "E:#VALUE!";
    QTest::newRow("two dots") << "\"1.2.3\"+1" << "E:#VALUE!";
    QTest::newRow("text cell in +") << "B1+1" << "N:8";
    QTest::newRow("word cell in +") << "B2+1" << "E:#VALUE!";
    QTest::newRow("blank is 0") << "Z1+1" << "N:1";
    QTest::newRow("blank is empty in &") << "Z1&\"x\"" << "T:x";
    QTest::newRow("TRUE is 1") << "TRUE+TRUE" << "N:2";
    QTest::newRow("number in &") << "1/4&\"|\"&TRUE" << "T:0.25|TRUE";
    QTest::newRow("15 digits in &") << "1/3&\"\"" << "T:0.333333333333333";
    QTest::newRow("large in &") << "10^20&\"\"" << "T:1E+20";
    QTest::newRow("unary plus keeps text") << "+\"abc\"" << "T:abc";
    QTest::newRow("percent") << "50%*4" << "N:2";
    QTest::newRow("precedence") << "-2^2+2*3^2" << "N:22";
    QTest::newRow("SUM skips range text") << "SUM(A1:A5)" << "N:6";
    QTest::newRow("SUM counts direct text") << "SUM(\"3\",1)" << "N:4";
    QTest::newRow("SUM direct bad text") << "SUM(\"x\",1)" << "E:#VALUE!";
    QTest::newRow("SUM direct TRUE") << "SUM(TRUE,1)" << "N:2";
    QTest::newRow("COUNT range") << "COUNT(A1:A5)" << "N:2";
    QTest::newRow("COUNT direct") << "COUNT(1,\"2\",\"x\",TRUE)" << "N:3";
    QTest::newRow("COUNTA") << "COUNTA(A1:A6)" << "N:5";
    QTest::newRow("AVERAGE range") << "AVERAGE(A1:A5)" << "N:3";
    QTest::newRow("AVERAGE of nothing") << "AVERAGE(Z1:Z3)" << "E:#DIV/0!";
    QTest::newRow("MIN/MAX") << "MIN(A1:A5)*10+MAX(A1:A5)" << "N:15";
    QTest::newRow("MAX of nothing") << "MAX(Z1:Z3)" << "N:0";
    QTest::newRow("number < text") << "1<\"a\"" << "B:TRUE";
    QTest::newRow("text < Boolean") << "\"zzz\"<FALSE" << "B:TRUE";
    QTest::newRow("number text not number") << "\"1\"=1" << "B:FALSE";
    QTest::newRow("case-insensitive") << "\"ABC\"=\"abc\"" << "B:TRUE";
    QTest::newRow("text order") << "\"apple\"<\"Banana\"" << "B:TRUE";
    QTest::newRow("blank = 0") << "Z1=0" << "B:TRUE";
    QTest::newRow("blank = empty text") << "Z1=\"\"" << "B:TRUE";
    QTest::newRow("blank = FALSE") << "Z1=FALSE" << "B:TRUE";
    QTest::newRow("blank < 1") << "Z1<1" << "B:TRUE";
    QTest::newRow("blank > -1") << "Z1>-1" << "B:TRUE";
    QTest::newRow("intersection with a column") << "A1:A5*1" << "N:7";
    QTest::newRow("intersection with a row") << "C1:E1&\"\"" << "T:";
    QTest::newRow("no intersection") << "A1:B1*1" << "E:#VALUE!";
    QTest::newRow("no intersection block") << "A1:B5*1" << "E:#VALUE!";
    QTest::newRow("whole-range value") << "C1:C3" << "T:hello";
    QTest::newRow("formula of empty cell") << "Z1" << "N:0";
}

void TestCalc::coercion()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    TestSheet s;
    s.set("A1", 1.0).set("A2", "7").set("A3", true).set("A4", 5.0).set("A6", "x");
    s.set("B1", "7").set("B2", "seven");
    s.set("C2", "hello");
    // Evaluated in row 2: C1:C3 intersects at C2.
    QCOMPARE(describe(s.eval(text.toStdString(), "D2")), expected);
}

void TestCalc::errors_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("div by zero") << "1/0" << "E:#DIV/0!";
    QTest::newRow("div by blank") << "1/Z1" << "E:#DIV/0!";
    QTest::newRow("error cell in +") << "A1+1" << "E:#N/A";
    QTest::newRow("left error first") << "A1+1/0" << "E:#N/A";
    QTest::newRow("error in &") << "\"x\"&A1" << "E:#N/A";
    QTest::newRow("error in compare") << "1/0=1" << "E:#DIV/0!";
    QTest::newRow("SUM propagates range error") << "SUM(A1:A2)" << "E:#N/A";
    QTest::newRow("COUNT ignores errors") << "COUNT(A1:A2)" << "N:1";
    QTest::newRow("error literal") << "#REF!+1" << "E:#REF!";
    QTest::newRow("NA()") << "NA()" << "E:#N/A";
    QTest::newRow("ISERROR") << "ISERROR(1/0)" << "B:TRUE";
    QTest::newRow("ISNA of div0") << "ISNA(1/0)" << "B:FALSE";
    QTest::newRow("ISERR of NA") << "ISERR(A1)" << "B:FALSE";
    QTest::newRow("IF cond error") << "IF(1/0,1,2)" << "E:#DIV/0!";
    QTest::newRow("IF untaken error") << "IF(TRUE,1,1/0)" << "N:1";
    QTest::newRow("SQRT negative") << "SQRT(-1)" << "E:#NUM!";
    QTest::newRow("0^0") << "0^0" << "E:#NUM!";
    QTest::newRow("overflow") << "10^400" << "E:#NUM!";
    QTest::newRow("MOD 0") << "MOD(5,0)" << "E:#DIV/0!";
    QTest::newRow("IF text condition") << "IF(\"maybe\",1,2)" << "E:#VALUE!";
    QTest::newRow("AND of text only") << "AND(B1)" << "E:#VALUE!";
}

void TestCalc::errors()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    TestSheet s;
    s.set("A1", ErrorCode::NA).set("A2", 4.0).set("B1", "x");
    QCOMPARE(describe(s.eval(text.toStdString())), expected);
}

void TestCalc::dates_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("1 Jan 2004") << "DATE(2004,1,1)" << "N:37987";
    QTest::newRow("fictitious 29 Feb 1900") << "DATE(1900,2,29)" << "N:60";
    QTest::newRow("1 Mar 1900") << "DATE(1900,3,1)" << "N:61";
    QTest::newRow("28 Feb 1900") << "DATE(1900,2,28)" << "N:59";
    QTest::newRow("30 Feb 1900") << "DATE(1900,2,30)" << "N:61";
    QTest::newRow("day 60 of 1900") << "DATE(1900,1,60)" << "N:60";
    QTest::newRow("day 0 of March 1900") << "DATE(1900,3,0)" << "N:60";
    QTest::newRow("month 13") << "DATE(2024,13,1)=DATE(2025,1,1)" << "B:TRUE";
    QTest::newRow("month 0") << "DATE(2024,0,1)=DATE(2023,12,1)" << "B:TRUE";
    QTest::newRow("day overflow") << "DATE(2024,1,32)=DATE(2024,2,1)" << "B:TRUE";
    QTest::newRow("two-digit year") << "DATE(104,1,1)" << "N:37987";
    QTest::newRow("fractional args truncate") << "DATE(2004.9,1.9,1.9)" << "N:37987";
    QTest::newRow("year 10000") << "DATE(10000,1,1)" << "E:#NUM!";
    QTest::newRow("YEAR of 60") << "YEAR(60)" << "N:1900";
    QTest::newRow("MONTH of 60") << "MONTH(60)" << "N:2";
    QTest::newRow("DAY of 60") << "DAY(60)" << "N:29";
    QTest::newRow("DAY of 61") << "DAY(61)" << "N:1";
    QTest::newRow("MONTH of 61") << "MONTH(61)" << "N:3";
    QTest::newRow("serial 0") << "DAY(0)*100+MONTH(0)" << "N:1";
    QTest::newRow("YEAR numeric text") << "YEAR(\"37987\")" << "N:2004";
    QTest::newRow("YEAR negative") << "YEAR(-1)" << "E:#NUM!";
    QTest::newRow("YEAR fraction") << "YEAR(37987.75)" << "N:2004";
    QTest::newRow("next month from 15 Nov") << "DATE(YEAR(R2),MONTH(R2)+1,1)" << "N:38322";
    QTest::newRow("leap day 2024") << "DAY(DATE(2024,2,29))" << "N:29";
    QTest::newRow("WEEKDAY of 1 Jan 2004 (Thursday)") << "WEEKDAY(37987)" << "N:5";
}

void TestCalc::dates()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    TestSheet s;
    s.set("R2", 38306.0);   // 15 November 2004
    QCOMPARE(describe(s.eval(text.toStdString())), expected);
}

void TestCalc::logicalAndRounding_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("IF 3 args") << "IF(A1>1,\"big\",\"small\")" << "T:big";
    QTest::newRow("IF 2 args false") << "IF(A1<1,\"big\")" << "B:FALSE";
    QTest::newRow("IF missing then") << "IF(TRUE,,1)" << "N:0";
    QTest::newRow("IF number condition") << "IF(0.1,1,2)" << "N:1";
    QTest::newRow("IF text TRUE condition") << "IF(\"true\",1,2)" << "N:1";
    QTest::newRow("IF blank condition") << "IF(Z1,1,2)" << "N:2";
    QTest::newRow("IF returns reference") << "SUM(IF(TRUE,A1:A3,0))" << "N:6";
    QTest::newRow("AND") << "AND(TRUE,1,A1>0)" << "B:TRUE";
    QTest::newRow("AND false") << "AND(TRUE,0)" << "B:FALSE";
    QTest::newRow("AND range skips text") << "AND(A1:A4)" << "B:TRUE";
    QTest::newRow("OR") << "OR(FALSE,0,A1=2)" << "B:TRUE";
    QTest::newRow("OR all false") << "OR(FALSE,0)" << "B:FALSE";
    QTest::newRow("NOT") << "NOT(A1=2)" << "B:FALSE";
    QTest::newRow("NOT blank") << "NOT(Z1)" << "B:TRUE";
    QTest::newRow("ROUND 2.5") << "ROUND(2.5,0)" << "N:3";
    QTest::newRow("ROUND -2.5") << "ROUND(-2.5,0)" << "N:-3";
    QTest::newRow("ROUND 1.005") << "ROUND(1.005,2)" << "N:1.01";
    QTest::newRow("ROUND tens") << "ROUND(1250,-2)" << "N:1300";
    QTest::newRow("ROUND 0.285") << "ROUND(0.285,2)" << "N:0.29";
    QTest::newRow("ROUNDUP") << "ROUNDUP(-1.21,1)" << "N:-1.3";
    QTest::newRow("ROUNDDOWN") << "ROUNDDOWN(1.29,1)" << "N:1.2";
    QTest::newRow("ABS") << "ABS(-3.5)" << "N:3.5";
    QTest::newRow("INT negative") << "INT(-1.5)" << "N:-2";
    QTest::newRow("MOD negative") << "MOD(-3,2)" << "N:1";
    QTest::newRow("SIGN") << "SIGN(-0.1)" << "N:-1";
}

void TestCalc::logicalAndRounding()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    TestSheet s;
    s.set("A1", 2.0).set("A2", 3.0).set("A3", 1.0).set("A4", "words");
    QCOMPARE(describe(s.eval(text.toStdString())), expected);
}

void TestCalc::textAndLookupFunctions_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("LEN") << "LEN(\"h\xC3\xA9llo\")" << "N:5";
    QTest::newRow("LEN number") << "LEN(1/4)" << "N:4";
    QTest::newRow("LEFT") << "LEFT(\"h\xC3\xA9llo\",2)" << "T:h\xC3\xA9";
    QTest::newRow("LEFT default") << "LEFT(\"abc\")" << "T:a";
    QTest::newRow("RIGHT") << "RIGHT(\"abc\",5)" << "T:abc";
    QTest::newRow("MID") << "MID(\"abcdef\",2,3)" << "T:bcd";
    QTest::newRow("MID past end") << "MID(\"abc\",9,1)" << "T:";
    QTest::newRow("CONCATENATE") << "CONCATENATE(\"a\",1,TRUE)" << "T:a1TRUE";
    QTest::newRow("UPPER/LOWER") << "UPPER(\"ab\")&LOWER(\"CD\")" << "T:ABcd";
    QTest::newRow("TRIM") << "TRIM(\"  a   b  \")" << "T:a b";
    QTest::newRow("VALUE") << "VALUE(\" 12.5 \")" << "N:12.5";
    QTest::newRow("VALUE bad") << "VALUE(\"x\")" << "E:#VALUE!";
    QTest::newRow("EXACT") << "EXACT(\"a\",\"A\")" << "B:FALSE";
    QTest::newRow("ISBLANK") << "ISBLANK(Z1)" << "B:TRUE";
    QTest::newRow("ISBLANK value") << "ISBLANK(\"\")" << "B:FALSE";
    QTest::newRow("ISNUMBER") << "ISNUMBER(A1)" << "B:TRUE";
    QTest::newRow("ISTEXT") << "ISTEXT(A4)" << "B:TRUE";
    QTest::newRow("SUMIF") << "SUMIF(A1:A4,\">1\")" << "N:5";
    QTest::newRow("SUMIF sum range") << "SUMIF(B1:B3,\"y*\",A1:A3)" << "N:3";
    QTest::newRow("COUNTIF") << "COUNTIF(A1:A4,2)" << "N:1";
    QTest::newRow("COUNTIF <>") << "COUNTIF(B1:B3,\"<>yes\")" << "N:1";
    QTest::newRow("CHOOSE") << "CHOOSE(2,\"a\",\"b\",\"c\")" << "T:b";
    QTest::newRow("CHOOSE out of range") << "CHOOSE(4,\"a\")" << "E:#VALUE!";
    QTest::newRow("ROW/COLUMN") << "ROW()*100+COLUMN(C7)" << "N:10003";
    QTest::newRow("ROWS") << "ROWS(A1:B5)*COLUMNS(A1:B5)" << "N:10";
    QTest::newRow("unevaluated function") << "GAMMALN(4)" << "E:#NAME?";
}

void TestCalc::textAndLookupFunctions()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    TestSheet s;
    s.set("A1", 2.0).set("A2", 3.0).set("A3", 1.0).set("A4", "words");
    s.set("B1", "yes").set("B2", "no").set("B3", "YES");
    QCOMPARE(describe(s.eval(text.toStdString(), "A100")), expected);
}

void TestCalc::foreignTokens()
{
    formula::Context ctx;
    ctx.cell = [](int r, int c) { return r == 0 && c == 0 ? Value(0.0) : Value(4.0); };
    // Excel's IF with tAttrIf/tAttrGoto: evaluates like the plain function.
    const std::vector<std::uint8_t> excelIf = {0x44, 0, 0, 0, 0xC0, 0x19, 0x02, 0x07, 0x00, 0x1E, 1, 0, 0x19, 0x08, 0x0A,
                                               0x00, 0x1E, 2, 0, 0x19, 0x08, 0x03, 0x00, 0x42, 0x03, 0x01, 0x00};
    CHECK_VALUE(formula::evaluate(excelIf, 5, 5, ctx), Value(2.0));
    // tAttrSum over B1:B3.
    const std::vector<std::uint8_t> attrSum = {0x25, 0, 0, 2, 0, 1, 0xC0, 1, 0xC0, 0x19, 0x10, 0, 0};
    CHECK_VALUE(formula::evaluate(attrSum, 5, 5, ctx), Value(12.0));
    // Shared-formula tokens are resolved against the evaluated cell: ptgRefN one row up.
    const std::vector<std::uint8_t> refN = {0x4C, 0xFF, 0xFF, 0x00, 0xC0};
    CHECK_VALUE(formula::evaluate(refN, 1, 0, ctx), Value(0.0));
    CHECK_VALUE(formula::evaluate(refN, 2, 0, ctx), Value(4.0));
    // Other sheets without a workbook, deleted references and names do not crash; what cannot
    // be resolved is not computable rather than an error of the formula.
    QVERIFY(!formula::tryEvaluate(std::vector<std::uint8_t>{0x3A, 0, 0, 4, 0, 2, 0xC0}, 0, 0, ctx));
    CHECK_VALUE(formula::evaluate(std::vector<std::uint8_t>{0x3A, 0, 0, 4, 0, 2, 0xC0}, 0, 0, ctx), Value(ErrorCode::Name));
    CHECK_VALUE(formula::evaluate(std::vector<std::uint8_t>{0x2A, 0, 0, 0, 0}, 0, 0, ctx), Value(ErrorCode::Ref));
    CHECK_VALUE(formula::evaluate(std::vector<std::uint8_t>{0x23, 1, 0, 0, 0}, 0, 0, ctx), Value(ErrorCode::Name));
    // A function index the table does not know, as ptgFuncVar.
    CHECK_VALUE(formula::evaluate(std::vector<std::uint8_t>{0x1E, 1, 0, 0x42, 0x01, 0x70, 0x01}, 0, 0, ctx),
                Value(ErrorCode::Name));
    // ptgFuncVar naming a built-in with fewer arguments than it takes (ISBLANK with none, IF with one).
    QVERIFY(formula::evaluate(std::vector<std::uint8_t>{0x42, 0x00, 0x81, 0x00}, 0, 0, ctx).isError());
    QVERIFY(formula::evaluate(std::vector<std::uint8_t>{0x1D, 1, 0x42, 0x01, 0x01, 0x00}, 0, 0, ctx).isError());
    // Malformed streams give an error value.
    QVERIFY(formula::evaluate(std::vector<std::uint8_t>{0x03}, 0, 0, ctx).isError());
    QVERIFY(formula::evaluate(std::vector<std::uint8_t>{}, 0, 0, ctx).isError());
    // TODAY and NOW take the injected clock.
    ctx.now = [] { return 45000.75; };
    CHECK_VALUE(formula::evaluate(formula::compile("TODAY()"), 0, 0, ctx), Value(45000.0));
    CHECK_VALUE(formula::evaluate(formula::compile("NOW()"), 0, 0, ctx), Value(45000.75));
}

void TestCalc::chainInReverseOrder()
{
    // Each cell reads the one below it; the map stores them top-down, so a single pass in
    // storage order would read stale values.
    Workbook wb;
    wb.sheets.resize(1);
    Sheet& s = wb.sheets[0];
    const int n = 3000;
    for (int r = 0; r < n - 1; ++r) {
        Cell& c = s.cells[{r, 0}];
        c.formula = formula::compile("A" + std::to_string(r + 2) + "+1");
    }
    s.cells[{n - 1, 0}].value = 1.0;
    putFormula(s, "B1", "SUM(A1:A3)");
    recalculate(wb);
    CHECK_VALUE(s.cells.at({0, 0}).value, Value(static_cast<double>(n)));
    CHECK_VALUE(valueAt(s, "B1"), Value(3.0 * n - 3));
    // Recalculating again after an input change picks it up.
    s.cells[{n - 1, 0}].value = 11.0;
    recalculate(wb);
    CHECK_VALUE(s.cells.at({0, 0}).value, Value(static_cast<double>(n + 10)));
}

void TestCalc::cycleGivesErrors()
{
    Workbook wb;
    wb.sheets.resize(2);
    Sheet& s = wb.sheets[0];
    putFormula(s, "A1", "B1+1");
    putFormula(s, "B1", "A1+1");
    putFormula(s, "C1", "C1");          // reads itself
    putFormula(s, "D1", "A1*2");        // depends on the cycle
    putFormula(s, "E1", "SUM(E2:E3)");  // a range holding its own reader
    putFormula(s, "E2", "E1");
    putFormula(s, "F1", "ISERROR(A1)");
    put(s, "G1", 5.0);
    putFormula(s, "G2", "G1*2");        // unaffected by the cycles
    putFormula(wb.sheets[1], "A1", "1+1");
    // A cycle read from a file keeps the results the file holds, and its readers use them.
    putFormula(wb.sheets[1], "B1", "B2+1");
    putFormula(wb.sheets[1], "B2", "B1-1");
    putFormula(wb.sheets[1], "B3", "B1*10");
    wb.sheets[1].cells[at("B1")].value = 7.0;
    wb.sheets[1].cells[at("B2")].value = 6.0;
    recalculate(wb);
    for (const char* a : {"A1", "B1", "C1", "D1", "E1", "E2"})
        CHECK_VALUE(valueAt(s, a), Value(ErrorCode::Value));
    CHECK_VALUE(valueAt(s, "F1"), Value(true));
    CHECK_VALUE(valueAt(s, "G2"), Value(10.0));
    CHECK_VALUE(valueAt(wb.sheets[1], "A1"), Value(2.0));
    CHECK_VALUE(valueAt(wb.sheets[1], "B1"), Value(7.0));
    CHECK_VALUE(valueAt(wb.sheets[1], "B3"), Value(70.0));
}

void TestCalc::cycleThroughCellsNotRead()
{
    // A formula depends on every cell it names, also those an evaluation does not read: an IF's
    // branch not taken, the arguments of SUM after an error. Cycles through them keep the results
    // the file holds.
    Workbook wb;
    wb.sheets.resize(1);
    Sheet& s = wb.sheets[0];
    putFormula(s, "A1", "IF(1=1,5,A1)");
    putFormula(s, "B1", "SUM(\"x\",B2)");
    putFormula(s, "B2", "B1");
    putFormula(s, "C1", "IF(1/0,C2,D1:D2)");
    putFormula(s, "D2", "C1+1");
    putFormula(s, "E1", "IF(1=1,5,E2)");   // no cycle
    s.cells[at("A1")].value = 3.0;
    s.cells[at("B1")].value = 7.0;
    s.cells[at("B2")].value = 6.0;
    s.cells[at("C1")].value = 1.0;
    recalculate(wb);
    CHECK_VALUE(valueAt(s, "A1"), Value(3.0));
    CHECK_VALUE(valueAt(s, "B1"), Value(7.0));
    CHECK_VALUE(valueAt(s, "B2"), Value(6.0));
    CHECK_VALUE(valueAt(s, "C1"), Value(1.0));
    CHECK_VALUE(valueAt(s, "D2"), Value(ErrorCode::Value));
    CHECK_VALUE(valueAt(s, "E1"), Value(5.0));
}

void TestCalc::cellComputedOnDemandKeepsArrayConstantsApart()
{
    // A1 reaches B1 through INDIRECT before B1's turn; each formula reads its own constants.
    Workbook wb;
    wb.sheets.resize(1);
    Sheet& s = wb.sheets[0];
    for (const auto& [a, text] : {std::pair{"A1", "INDIRECT(\"B1\")*1+SUM({1,2,3})"}, std::pair{"B1", "SUM({10,20})"}}) {
        Cell& c = s.cells[at(a)];
        c.formula = formula::compile(text, c.formulaData);
    }
    recalculate(wb);
    CHECK_VALUE(valueAt(s, "A1"), Value(36.0));
    CHECK_VALUE(valueAt(s, "B1"), Value(30.0));
}

void TestCalc::valuesCopyAndMoveAcrossKinds()
{
    const std::vector<Value> kinds{Value(), Value(2.5), Value(std::string(40, 'x')), Value("short"), Value(true),
                                   Value(ErrorCode::NA)};
    for (std::size_t i = 0; i < kinds.size(); ++i) {
        for (std::size_t j = 0; j < kinds.size(); ++j) {
            const Value& a = kinds[i];
            const Value& b = kinds[j];
            QCOMPARE(a == b, i == j);
            Value x = a;
            x = b;
            CHECK_VALUE(x, b);
            Value y = std::move(x);
            CHECK_VALUE(y, b);
            Value z = a;
            z = std::move(y);
            CHECK_VALUE(z, b);
            Value& same = z;
            z = same;
            CHECK_VALUE(z, b);
        }
    }
    QVERIFY(!(Value(std::nan("")) == Value(std::nan(""))));
    QVERIFY(Value(0.0) == Value(-0.0));
    QVERIFY_THROWS_EXCEPTION(std::bad_variant_access, (void)Value(1.0).text());
}

void TestCalc::projectionSheet()
{
    // Rows 6-7 revenue, 8 total; rows 10-11 costs; 13 gross profit; month columns D and F,
    // percentages E and G, yearly total H with percentage I.
    Workbook wb;
    wb.sheets.resize(1);
    Sheet& s = wb.sheets[0];
    put(s, "D6", 1000.0); put(s, "F6", 0.0);
    put(s, "D7", "500");  put(s, "F7", 0.0);   // an amount left as text still counts in + and *
    put(s, "D10", 400.0); put(s, "F10", 50.0);
    put(s, "D11", 100.0);
    for (const char* m : {"D", "F", "H"}) {
        const std::string M = m;
        const std::string P = M == "D" ? "E" : M == "F" ? "G" : "I";
        putFormula(s, (M + "8").c_str(), "SUM(" + M + "6:" + M + "7)");
        putFormula(s, (M + "12").c_str(), "SUM(" + M + "10:" + M + "11)");
        putFormula(s, (M + "13").c_str(), M + "8-" + M + "12");
        for (int r : {6, 7})
            putFormula(s, (P + std::to_string(r)).c_str(),
                       "IF(" + M + "$8=0,\"-\",(" + M + std::to_string(r) + "*100)/" + M + "$8)");
        for (int r : {10, 11})
            putFormula(s, (P + std::to_string(r)).c_str(),
                       "IF(" + M + std::to_string(r - 4) + "=0,\"-\",(" + M + std::to_string(r) + "*100)/" + M +
                           std::to_string(r - 4) + ")");
        putFormula(s, (P + "13").c_str(), "IF(" + M + "8=0,\"-\",(" + M + "13*100)/" + M + "8)");
    }
    for (int r : {6, 7, 10, 11})
        putFormula(s, ("H" + std::to_string(r)).c_str(), "F" + std::to_string(r) + "+D" + std::to_string(r));
    recalculate(wb);

    // SUM skips the text amount in the range; the yearly line sum adds it.
    CHECK_VALUE(valueAt(s, "D8"), Value(1000.0));
    CHECK_VALUE(valueAt(s, "H7"), Value(500.0));
    CHECK_VALUE(valueAt(s, "H8"), Value(1500.0));
    CHECK_VALUE(valueAt(s, "E6"), Value(100.0));
    CHECK_VALUE(valueAt(s, "E7"), Value(50.0));
    CHECK_VALUE(valueAt(s, "D12"), Value(500.0));
    CHECK_VALUE(valueAt(s, "D13"), Value(500.0));
    CHECK_VALUE(valueAt(s, "E13"), Value(50.0));
    CHECK_VALUE(valueAt(s, "E10"), Value(40.0));
    CHECK_VALUE(valueAt(s, "E11"), Value(20.0));        // cost as a share of its own revenue line
    CHECK_VALUE(valueAt(s, "G6"), Value("-"));          // zero revenue month
    CHECK_VALUE(valueAt(s, "G10"), Value("-"));
    CHECK_VALUE(valueAt(s, "G11"), Value("-"));         // blank cost, zero revenue
    CHECK_VALUE(valueAt(s, "F13"), Value(-50.0));
    CHECK_VALUE(valueAt(s, "H13"), Value(950.0));
    CHECK_VALUE(valueAt(s, "I13"), Value(950.0 * 100 / 1500));
}

void TestCalc::projectionMonthHeaders()
{
    // D4 = R2, F4 = next month from R2, then each header from the one two columns left.
    Workbook wb;
    wb.sheets.resize(1);
    Sheet& s = wb.sheets[0];
    put(s, "R2", 38306.0);   // 15 November 2004
    putFormula(s, "D4", "R2");
    putFormula(s, "F4", "DATE(YEAR(R2),MONTH(R2)+1,1)");
    const char* cols[] = {"F", "H", "J", "L", "N", "P", "R", "T", "V", "X", "Z"};
    for (int i = 1; i < 11; ++i)
        putFormula(s, (std::string(cols[i]) + "4").c_str(),
                   "DATE(YEAR(" + std::string(cols[i - 1]) + "4),MONTH(" + cols[i - 1] + "4)+1,1)");
    recalculate(wb);
    CHECK_VALUE(valueAt(s, "D4"), Value(38306.0));
    CHECK_VALUE(valueAt(s, "F4"), Value(38322.0));   // 1 December 2004
    CHECK_VALUE(valueAt(s, "H4"), Value(38353.0));   // 1 January 2005
    CHECK_VALUE(valueAt(s, "Z4"), Value(38626.0));   // 1 October 2005
}

void TestCalc::negativeZeroAndBlankResults()
{
    Workbook wb;
    wb.sheets.resize(1);
    Sheet& s = wb.sheets[0];
    putFormula(s, "A1", "-0");
    putFormula(s, "A2", "0*-1");
    putFormula(s, "A3", "Z9");
    recalculate(wb);
    for (const char* a : {"A1", "A2", "A3"}) {
        const Value& v = valueAt(s, a);
        QVERIFY(v.isNumber());
        QVERIFY(!std::signbit(v.number()));
        QCOMPARE(v.number(), 0.0);
    }
}

void TestCalc::fullProjectionEmpty()
{
    Workbook wb;
    wb.sheets.push_back(projectionLayout());
    Sheet& s = wb.sheets[0];
    QVERIFY(s.cells.size() > 500);
    recalculate(wb);
    // No amounts: every total and result is 0 and every percentage "-".
    for (const auto& [addr, cell] : s.cells) {
        const bool percentColumn = addr.col % 2 == 0;
        const bool sumOfPercentages = addr.row == 12;   // row 13 adds the revenue percentages
        if (percentColumn && !sumOfPercentages)
            CHECK_VALUE(cell.value, Value("-"));
        else if (!percentColumn || addr.row == 12)
            CHECK_VALUE(cell.value, Value(0.0));
    }
}

void TestCalc::fullProjectionFilled()
{
    Workbook wb;
    wb.sheets.push_back(projectionLayout());
    Sheet& s = wb.sheets[0];
    // Revenue category 1 sells 100 a month; category 2 sells nothing; cost line 2 still costs 10.
    for (int k = 1; k <= 12; ++k) {
        const int c = 2 * k + 1;
        s.cells[{5, c}].value = 100.0;    // row 6
        s.cells[{15, c}].value = 40.0;    // row 16, cost of category 1
        s.cells[{16, c}].value = 10.0;    // row 17, cost of category 2
        s.cells[{27, c}].value = 5.0;     // row 28, salaries
    }
    recalculate(wb);
    auto v = [&](const char* a) { return valueAt(s, a); };
    CHECK_VALUE(v("D13"), Value(100.0));
    CHECK_VALUE(v("E6"), Value(100.0));
    CHECK_VALUE(v("E7"), Value(0.0));
    CHECK_VALUE(v("E13"), Value(100.0));
    CHECK_VALUE(v("E16"), Value(40.0));
    CHECK_VALUE(v("E17"), Value("-"));   // matching revenue category is 0, total revenue is not
    CHECK_VALUE(v("D23"), Value(50.0));
    CHECK_VALUE(v("E23"), Value(50.0));
    CHECK_VALUE(v("D25"), Value(50.0));
    CHECK_VALUE(v("D47"), Value(5.0));
    CHECK_VALUE(v("E47"), Value(5.0));
    CHECK_VALUE(v("D49"), Value(45.0));
    CHECK_VALUE(v("E49"), Value(45.0));
    CHECK_VALUE(v("AB6"), Value(1200.0));
    CHECK_VALUE(v("AB13"), Value(1200.0));
    CHECK_VALUE(v("AC6"), Value(100.0));
    CHECK_VALUE(v("AB49"), Value(540.0));
    CHECK_VALUE(v("AC49"), Value(45.0));
    CHECK_VALUE(v("AC17"), Value("-"));
}

// Huge arguments must give an error value or a plain result, never an undefined conversion.
void TestCalc::argumentsFarOutOfRange()
{
    TestSheet t;
    QCOMPARE(t.eval("WEEKDAY(6E+199)"), Value(ErrorCode::Num));
    QCOMPARE(t.eval("WEEKDAY(45000,1E+300)"), Value(ErrorCode::Num));
    QCOMPARE(t.eval("WEEKDAY(45000,2)"), Value(3.0));   // 15 March 2023, a Wednesday
    QCOMPARE(t.eval("ROUND(1.5,1E+10)"), Value(1.5));
    QCOMPARE(t.eval("ROUND(123,-1E+10)"), Value(0.0));
    QCOMPARE(t.eval("REPT(\"\",1E+10)"), Value(std::string()));
    QCOMPARE(t.eval("REPT(\"ab\",1E+10)"), Value(ErrorCode::Value));
}

QTEST_APPLESS_MAIN(TestCalc)
#include "test_calc.moc"
