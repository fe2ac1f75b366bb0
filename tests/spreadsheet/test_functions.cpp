// Built-in functions against LibreOffice: every case of function_cases.inc is a formula on a
// small workbook (numbers, texts, a blank, an error, dates, lookup tables, a second sheet and a
// defined name), and the expected value is what LibreOffice computed for it from the workbook
// this engine wrote (tools/function_cases_lo.py regenerates the table). Cases written {=...}
// are single-cell array formulas.
//
// With CORVANTIS_FUNCTION_CASES_XLS set, the test also saves that workbook there for the script.
#include "spreadsheet/calc.h"
#include "spreadsheet/error.h"
#include "spreadsheet/formula.h"
#include "spreadsheet/xls.h"

#include <QtTest/QtTest>

#include <cmath>

using namespace ss;

namespace {

struct Case {
    const char* group;
    const char* formula;
    const char* expected;   // N:number T:text B:TRUE/FALSE E:#error
};

const Case kCases[] = {
#define FUNCTION_CASE(g, f, e) Case{g, f, e},
#include "spreadsheet/function_cases.inc"
#undef FUNCTION_CASE
};

// Where LibreOffice and Excel part ways, the engine computes what Excel does, because the
// results a workbook holds are Excel's: these cases expect Excel's value instead.
struct ExcelCase {
    const char* formula;
    const char* expected;
};
const ExcelCase kExcelDiffers[] = {
    // Excel's errors for arguments out of range; LibreOffice gives its own "invalid argument".
    {"IPMT(0.1,0,3,100)", "E:#NUM!"},
    {"VLOOKUP(20,G1:H4,3)", "E:#REF!"},
    {"INDEX(A1:C5,6,1)", "E:#REF!"},
    {"OFFSET(A1,-1,0)", "E:#REF!"},
    {"DATE(-1,1,1)", "E:#NUM!"},
    {"TIME(0,-1,0)", "E:#NUM!"},
    {"WEEKDAY(45000,4)", "E:#NUM!"},
    {"SQRT(-1)", "E:#NUM!"},
    {"CEILING(2.1,-1)", "E:#NUM!"},
    {"FLOOR(2.9,0)", "E:#DIV/0!"},
    {"MEDIAN(A8)", "E:#NUM!"},
    {"LARGE(A1:A5,6)", "E:#NUM!"},
    {"SMALL(A1:A9,0)", "E:#NUM!"},
    {"POWER(-8,1/3)", "E:#NUM!"},
    {"POWER(0,0)", "E:#NUM!"},
    {"DAY(-1)", "E:#NUM!"},
    // Excel's calendar has a 29 February 1900 (serial 60); LibreOffice's does not.
    {"DATE(1900,2,29)", "N:60"},
    {"DAY(60)", "N:29"},
    // INDIRECT with Excel's sheet separator '!' (LibreOffice reads its own '.').
    {"INDIRECT(\"Rates!A2\")", "N:12"},
    // COUNTIF: a number also matches text that reads as it.
    {"COUNTIF(A1:A9,7)", "N:1"},
    // am/pm in lower case stays lower case.
    {"TEXT(0.25,\"hh:mm:ss am/pm\")", "T:06:00:00 am"},
    // Negative currency in parentheses, as Excel's US format has it.
    {"DOLLAR(-1234.567,1)", "T:($1,234.6)"},
    // TRUE as text is "TRUE"; LibreOffice has no logical type and writes 1.
    {"CONCATENATE(\"a\",1,TRUE)", "T:a1TRUE"},
    // An empty text is found at the start.
    {"FIND(\"\",\"abc\")", "N:1"},
    // Text that reads as a number (or TRUE) is taken as one when given directly.
    {"PRODUCT(2,\"3\")", "N:6"},
    {"MAX(1,\"2\",TRUE)", "N:2"},
    {"AND(\"TRUE\",TRUE)", "B:TRUE"},
    // Logical values are their own kind: above every number, and not counted as numbers in arrays.
    {"TRUE>1", "B:TRUE"},
    {"COUNT({1,\"a\",TRUE})", "N:1"},
    {"SYD(10000,1000,5,6)", "E:#NUM!"},
    {"COMBIN(5,6)", "E:#NUM!"},
    {"QUARTILE(A1:A5,5)", "E:#NUM!"},
    {"ADDRESS(1,1,1,TRUE,\"Rates\")", "T:Rates!$A$1"},
    // MODE of numbers that are all different, RANK of a number that is not in the list.
    {"MODE(A1:A5)", "E:#N/A"},
    {"RANK(35,A1:A5)", "E:#N/A"},
};

const char* expectedFor(const Case& c)
{
    for (const ExcelCase& e : kExcelDiffers)
        if (std::string_view(e.formula) == c.formula)
            return e.expected;
    return c.expected;
}

constexpr int kCaseColumn = 10;   // K: the formulas; L: their text

CellAddress at(const char* a)
{
    int c = 0, i = 0;
    while (a[i] >= 'A' && a[i] <= 'Z')
        c = c * 26 + (a[i++] - 'A' + 1);
    return {std::atoi(a + i) - 1, c - 1};
}

void put(Sheet& s, const char* a, Value v) { s.at(at(a).row, at(a).col).value = std::move(v); }

QString describe(const Value& v)
{
    switch (v.kind()) {
    case Value::Kind::Blank: return "blank";
    case Value::Kind::Number: return "N:" + QString::number(v.number(), 'g', 15);
    case Value::Kind::Text: return "T:" + QString::fromStdString(v.text());
    case Value::Kind::Boolean: return v.boolean() ? "B:TRUE" : "B:FALSE";
    case Value::Kind::Error: return QString("E:") + errorText(v.error());
    }
    return "?";
}

bool matches(const Value& v, const QString& expected)
{
    // LibreOffice gives most logical results as 1 and 0.
    if (v.isBoolean() && (expected == "N:1" || expected == "N:0"))
        return v.boolean() == (expected == "N:1");
    if (expected.startsWith("N:") && v.isNumber()) {
        const double e = expected.mid(2).toDouble();
        return std::fabs(v.number() - e) <= 1e-9 * std::max(1.0, std::fabs(e));
    }
    return describe(v) == expected;
}

// The workbook every case reads: sheet Data (the cases' own sheet), sheet Rates, name TaxRate.
Workbook caseBook()
{
    Workbook wb = Workbook::makeDefault();
    wb.sheets.resize(2);
    wb.sheets[0].name = "Data";
    wb.sheets[1].name = "Rates";
    Sheet& d = wb.sheets[0];
    for (int i = 0; i < 5; ++i) {
        d.at(i, 0).value = 10.0 * (i + 1);                  // A1:A5 10..50
        d.at(i, 2).value = 1.5 + i;                         // C1:C5 1.5..5.5
    }
    put(d, "A6", "7");                                      // a number as text
    put(d, "A7", "seven");
    d.at(7, 0).xf = 15;                                     // A8 blank but formatted
    put(d, "A9", "apple");
    put(d, "A10", ErrorCode::Div0);
    const char* fruit[] = {"apple", "banana", "cherry", "date", "elderberry"};
    for (int i = 0; i < 5; ++i)
        d.at(i, 1).value = fruit[i];                        // B1:B5
    const double dates[] = {45000, 45031, 45100, 45292, 45366};
    for (int i = 0; i < 5; ++i)
        d.at(i, 3).value = dates[i];                        // D1:D5
    put(d, "E1", 0.75);
    put(d, "E2", "  padded   text  ");
    put(d, "E3", "Hello World");
    const double flows[] = {-1000, 300, 400, 500, 200};
    for (int i = 0; i < 5; ++i)
        d.at(i, 5).value = flows[i];                        // F1:F5, F6 blank
    const double keys[] = {1, 5, 10, 20};
    const char* labels[] = {"low", "mid", "high", "top"};
    for (int i = 0; i < 4; ++i) {
        d.at(i, 6).value = keys[i];                         // G1:G4
        d.at(i, 7).value = labels[i];                       // H1:H4
    }
    const char* letters[] = {"a", "b", "c", "d", "e"};
    for (int i = 0; i < 5; ++i) {
        d.at(11, i).value = static_cast<double>(i + 1);    // A12:E12
        d.at(12, i).value = letters[i];                     // A13:E13
    }
    d.at(0, 8).formula = formula::compile("SUBTOTAL(9,A1:A2)");   // I1, left out of other subtotals
    put(d, "I2", 5.0);
    put(d, "I13", 1.0);
    put(d, "I14", 100.0);
    d.rows[13].hidden = true;                                     // row 14 hidden
    Sheet& r = wb.sheets[1];
    put(r, "A1", 0.05);
    put(r, "A2", 12.0);
    put(r, "B1", 100.0);
    put(r, "B2", 200.0);
    put(r, "B3", 300.0);

    formula::CompileOptions options;
    options.sheetIndex = [&wb](std::string_view name) {
        for (std::size_t i = 0; i < wb.sheets.size(); ++i)
            if (wb.sheets[i].name == name)
                return static_cast<int>(wb.externSheetIndex(static_cast<int>(i)));
        return -1;
    };
    DefinedName tax;
    tax.name = "TaxRate";
    std::vector<std::uint8_t> unused;
    tax.formula = formula::compile("Rates!$A$1", unused, options);
    wb.names.push_back(tax);
    options.nameIndex = [&wb](std::string_view name) {
        for (std::size_t i = 0; i < wb.names.size(); ++i)
            if (wb.names[i].name == name)
                return static_cast<int>(i + 1);
        return 0;
    };

    int row = 0;
    for (const Case& c : kCases) {
        std::string text = c.formula;
        const bool array = text.size() > 3 && text.front() == '{' && text[1] == '=';
        if (array)
            text = text.substr(2, text.size() - 3);
        Cell& cell = d.at(row, kCaseColumn);
        cell.formula = formula::compile(text, cell.formulaData, options);
        if (array)
            d.arrayFormulas.push_back({{row, kCaseColumn, row, kCaseColumn}, cell.formula, cell.formulaData});
        d.at(row, kCaseColumn + 1).value = std::string(c.formula);
        ++row;
    }
    return wb;
}

} // namespace

class TestFunctions : public QObject {
    Q_OBJECT
private slots:
    void agreesWithLibreOffice_data();
    void agreesWithLibreOffice();
    void cachedResultsStay();
    void functionsCalledByName();
    void arrayFormulas();
    void sheetsNamesAndRunTimeReferences();
    void boundedNesting();
    void formulaText();
};

void TestFunctions::agreesWithLibreOffice_data()
{
    QTest::addColumn<int>("row");
    int row = 0;
    for (const Case& c : kCases) {
        QTest::newRow((std::string(c.group) + ": " + c.formula).c_str()) << row;
        ++row;
    }
}

void TestFunctions::agreesWithLibreOffice()
{
    QFETCH(int, row);
    static Workbook wb = [] {
        Workbook book = caseBook();
        if (const QByteArray out = qgetenv("CORVANTIS_FUNCTION_CASES_XLS"); !out.isEmpty())
            xls::save(book, out.toStdString());
        recalculate(book);
        return book;
    }();
    const Case& c = kCases[row];
    const Cell* cell = wb.sheets[0].find(row, kCaseColumn);
    QVERIFY(cell);
    const QString expected = expectedFor(c);
    if (!matches(cell->value, expected))
        QCOMPARE(describe(cell->value), expected);
}

// What the engine cannot compute keeps the result the file holds, and what reads it computes
// from that result.
void TestFunctions::cachedResultsStay()
{
    Workbook wb = Workbook::makeDefault();
    wb.sheets.resize(1);
    Sheet& s = wb.sheets[0];
    s.name = "S";
    // A1: a function this engine does not implement (GAMMALN) with the result Excel stored.
    s.at(0, 0).formula = formula::compile("GAMMALN(5)+0");
    s.at(0, 0).value = 10.0;
    // A2: an add-in function call (ptgNameX, ptgFuncVar 255) into another workbook's table.
    wb.supBooks = {SupBookKind::Self, SupBookKind::External, SupBookKind::AddIn};
    wb.externSheets = {{0, 0, 0}, {1, 0, 0}, {2, 0xFFFE, 0xFFFE}};
    s.at(1, 0).formula = {0x39, 0x02, 0x00, 0x01, 0x00, 0x00, 0x00, 0x1E, 0x03, 0x00, 0x42, 0x02, 0xFF, 0x00};
    s.at(1, 0).value = 7.0;
    // A3: a reference into another workbook: EXTERNSHEET 1 names an external SUPBOOK.
    s.at(2, 0).formula = {0x3A, 0x01, 0x00, 0x00, 0x00, 0x00, 0xC0};
    s.at(2, 0).value = "from elsewhere";
    // A4: an unknown function in the branch IF does not take is no obstacle.
    s.at(3, 0).formula = formula::compile("IF(TRUE,5,GAMMALN(5))");
    s.at(3, 0).value = 0.0;
    // B1:B3 compute from the kept results.
    s.at(0, 1).formula = formula::compile("A1*2");
    s.at(1, 1).formula = formula::compile("A2+A1");
    s.at(2, 1).formula = formula::compile("LEN(A3)");
    recalculate(wb);
    QCOMPARE(describe(s.find(0, 0)->value), QString("N:10"));
    QCOMPARE(describe(s.find(1, 0)->value), QString("N:7"));
    QCOMPARE(describe(s.find(2, 0)->value), QString("T:from elsewhere"));
    QCOMPARE(describe(s.find(3, 0)->value), QString("N:5"));
    QCOMPARE(describe(s.find(0, 1)->value), QString("N:20"));
    QCOMPARE(describe(s.find(1, 1)->value), QString("N:17"));
    QCOMPARE(describe(s.find(2, 1)->value), QString("N:14"));
}

// Functions newer than BIFF8 (_xlfn. names) and the Analysis ToolPak's (external names of the
// add-in SUPBOOK) are called through ptgFuncVar 255 with the name first, as Excel and
// LibreOffice write them; the values are LibreOffice's.
void TestFunctions::functionsCalledByName()
{
    Workbook wb = Workbook::makeDefault();
    wb.sheets.resize(1);
    Sheet& s = wb.sheets[0];
    for (int r = 0; r < 3; ++r)
        s.at(r, 0).value = r + 1.0;   // A1:A3 1, 2, 3
    for (const char* name : {"_xlfn.IFERROR", "_xlfn.COUNTIFS"}) {
        DefinedName n;
        n.name = name;
        n.options = 0x000B;            // hidden function name
        n.formula = {0x1C, 0x1D};
        wb.names.push_back(n);
    }
    wb.supBooks = {SupBookKind::AddIn};
    wb.externSheets = {{0, 0xFFFE, 0xFFFE}};
    auto externName = [](const std::string& name) {
        RawRecord r{0x0023, {0, 0, 0, 0, 0, 0, static_cast<std::uint8_t>(name.size()), 0}};
        r.data.insert(r.data.end(), name.begin(), name.end());
        r.data.insert(r.data.end(), {0x02, 0x00, 0x1C, 0x17});
        return r;
    };
    wb.linkRecords.supBooks = {{RawRecord{0x01AE, {0x01, 0x00, 0x01, 0x3A}}, externName("EOMONTH"), externName("NETWORKDAYS")}};
    wb.linkRecords.externSheets = wb.externSheets;
    using B = std::vector<std::uint8_t>;
    // IFERROR(1/0,"none"), IFERROR(A1*2,0)
    s.at(0, 1).formula = B{0x23, 1, 0, 0, 0, 0x1E, 1, 0, 0x1E, 0, 0, 0x06, 0x17, 4, 0, 'n', 'o', 'n', 'e', 0x42, 3, 0xFF, 0};
    s.at(1, 1).formula = B{0x23, 1, 0, 0, 0, 0x44, 0, 0, 0, 0xC0, 0x1E, 2, 0, 0x05, 0x1E, 0, 0, 0x42, 3, 0xFF, 0};
    // COUNTIFS(A1:A3,">1")
    s.at(2, 1).formula = B{0x23, 2, 0, 0, 0, 0x25, 0, 0, 2, 0, 0, 0xC0, 0, 0xC0, 0x17, 2, 0, '>', '1', 0x42, 3, 0xFF, 0};
    // EOMONTH(45306,1): 15 January 2024 to 29 February 2024.
    s.at(3, 1).formula = B{0x39, 0, 0, 1, 0, 0, 0, 0x1E, 0xFA, 0xB0, 0x1E, 1, 0, 0x42, 3, 0xFF, 0};
    // NETWORKDAYS(45292,45322): the weekdays of January 2024.
    s.at(4, 1).formula = B{0x39, 0, 0, 2, 0, 0, 0, 0x1E, 0xEC, 0xB0, 0x1E, 0x0A, 0xB1, 0x42, 3, 0xFF, 0};
    // A name the engine does not know keeps its result.
    wb.linkRecords.supBooks[0].push_back(externName("ODDFPRICE"));
    s.at(5, 1).formula = B{0x39, 0, 0, 3, 0, 0, 0, 0x1E, 1, 0, 0x42, 2, 0xFF, 0};
    s.at(5, 1).value = 99.0;
    recalculate(wb);
    auto v = [&](int r) { return describe(s.find(r, 1)->value); };
    QCOMPARE(v(0), QString("T:none"));
    QCOMPARE(v(1), QString("N:2"));
    QCOMPARE(v(2), QString("N:2"));
    QCOMPARE(v(3), QString("N:45351"));
    QCOMPARE(v(4), QString("N:23"));
    QCOMPARE(v(5), QString("N:99"));
}

void TestFunctions::arrayFormulas()
{
    Workbook wb = Workbook::makeDefault();
    wb.sheets.resize(1);
    Sheet& s = wb.sheets[0];
    for (int r = 0; r < 3; ++r)
        s.at(r, 0).value = r + 1.0;   // A1:A3 1, 2, 3
    auto arrayFormula = [&](RangeAddress range, const std::string& text) {
        ArrayFormula af{range, {}, {}};
        af.formula = formula::compile(text, af.formulaData);
        for (int r = range.firstRow; r <= range.lastRow; ++r)
            for (int c = range.firstCol; c <= range.lastCol; ++c) {
                s.at(r, c).formula = af.formula;
                s.at(r, c).formulaData = af.formulaData;
                s.at(r, c).value = -1.0;
            }
        s.arrayFormulas.push_back(af);
    };
    // B1:B4 {=A1:A3*2}: one element per cell; past the result's end, #N/A.
    arrayFormula({0, 1, 3, 1}, "A1:A3*2");
    // C1:E1 {={10,20,30}+A1}: a constant row with a single value added to each element.
    arrayFormula({0, 2, 0, 4}, "{10,20,30}+A1");
    // C2:C3 {=ROW(A1:A2)*10}: ROW of a range gives every row in an array formula.
    arrayFormula({1, 2, 2, 2}, "ROW(A1:A2)*10");
    // C4 {=SUM(IF(A1:A3>1,A1:A3))}: IF element by element.
    arrayFormula({3, 2, 3, 2}, "SUM(IF(A1:A3>1,A1:A3))");
    // D5 reads the results of an array formula computed after it in storage order.
    s.at(4, 3).formula = formula::compile("SUM(B1:B3)+E1");
    // F1:F2 {=GAMMALN(A1:A2)}: not computable, so the cells keep what they held.
    arrayFormula({0, 5, 1, 5}, "GAMMALN(A1:A2)");
    recalculate(wb);
    auto v = [&](int r, int c) { return describe(s.find(r, c)->value); };
    QCOMPARE(v(0, 1), QString("N:2"));
    QCOMPARE(v(2, 1), QString("N:6"));
    QCOMPARE(v(3, 1), QString("E:#N/A"));
    QCOMPARE(v(0, 2), QString("N:11"));
    QCOMPARE(v(0, 4), QString("N:31"));
    QCOMPARE(v(1, 2), QString("N:10"));
    QCOMPARE(v(2, 2), QString("N:20"));
    QCOMPARE(v(3, 2), QString("N:5"));
    QCOMPARE(v(4, 3), QString("N:43"));
    QCOMPARE(v(0, 5), QString("N:-1"));
    QCOMPARE(v(1, 5), QString("N:-1"));
}

void TestFunctions::sheetsNamesAndRunTimeReferences()
{
    // A chain that runs back and forth between two sheets, stored against its order.
    Workbook wb = Workbook::makeDefault();
    wb.sheets.resize(2);
    wb.sheets[0].name = "One";
    wb.sheets[1].name = "Two";
    formula::CompileOptions options;
    options.sheetIndex = [&wb](std::string_view name) {
        return static_cast<int>(wb.externSheetIndex(name == "One" ? 0 : 1));
    };
    std::vector<std::uint8_t> data;
    const int n = 2000;
    for (int r = 0; r < n; ++r) {
        wb.sheets[0].at(r, 0).formula = formula::compile("Two!A" + std::to_string(r + 1) + "+1", data, options);
        if (r + 1 < n)
            wb.sheets[1].at(r, 0).formula = formula::compile("One!A" + std::to_string(r + 2) + "+1", data, options);
    }
    wb.sheets[1].at(n - 1, 0).value = 0.0;
    // A name that refers to itself cannot be computed; one that refers to a range can.
    DefinedName loop;
    loop.name = "Loop";
    options.nameIndex = [](std::string_view name) { return name == "Loop" ? 1 : name == "Block" ? 2 : 0; };
    loop.formula = formula::compile("Loop+1", data, options);
    DefinedName block;
    block.name = "Block";
    block.formula = formula::compile("Two!$A$1:$A$3", data, options);
    wb.names = {loop, block};
    Sheet& one = wb.sheets[0];
    one.at(0, 1).formula = formula::compile("Loop", data, options);
    one.at(0, 1).value = "kept";
    one.at(1, 1).formula = formula::compile("SUM(Block)", data, options);
    // INDIRECT and OFFSET reach cells the ordering could not know: C1 reads C2 reads ... C6.
    for (int r = 0; r < 5; ++r)
        one.at(r, 2).formula = formula::compile("INDIRECT(\"C" + std::to_string(r + 2) + "\")+1");
    one.at(5, 2).formula = formula::compile("OFFSET(A1,0,0)*0+100");
    // A run-time chain far deeper than the on-demand limit ends without exhausting the stack.
    for (int r = 0; r < 5000; ++r)
        one.at(r, 3).formula = formula::compile("INDIRECT(\"D" + std::to_string(r + 2) + "\")+1");
    recalculate(wb);
    QCOMPARE(describe(one.find(0, 0)->value), QString::number(2 * n - 1).prepend("N:"));
    QCOMPARE(describe(one.find(0, 1)->value), QString("T:kept"));
    const double block3 = (2 * n - 2) + (2 * n - 4) + (2 * n - 6);
    QCOMPARE(describe(one.find(1, 1)->value), "N:" + QString::number(block3, 'g', 15));
    QCOMPARE(describe(one.find(0, 2)->value), QString("N:105"));
    QVERIFY(one.find(0, 3)->value.isNumber());
}

void TestFunctions::boundedNesting()
{
    auto compiles = [](const std::string& text) {
        try {
            formula::compile(text);
            return true;
        } catch (const FormatError&) {
            return false;
        }
    };
    // 64 nested functions, as Excel allows, and a long flat sum compile; far deeper nesting
    // is refused with a message instead of exhausting the stack.
    std::string nested = "1";
    for (int i = 0; i < 64; ++i)
        nested = "ABS(" + nested + ")";
    QVERIFY(compiles(nested));
    std::string sum = "A1";
    for (int i = 2; i <= 250; ++i)
        sum += "+A" + std::to_string(i);
    QVERIFY(compiles(sum));
    QVERIFY(!compiles(std::string(100000, '(') + "1" + std::string(100000, ')')));
    QVERIFY(!compiles(std::string(100000, '-') + "1"));
    formula::Context ctx;
    ctx.cell = [](int r, int) { return Value(r + 1.0); };
    QCOMPARE(describe(formula::evaluate(formula::compile(sum), 0, 0, ctx)), QString("N:31375"));
}

void TestFunctions::formulaText()
{
    // Array constants and other sheets read back as typed; IF and CHOOSE with their jump
    // tokens and volatile functions with their marker read back without them.
    std::vector<std::uint8_t> data;
    formula::CompileOptions options;
    options.sheetIndex = [](std::string_view name) { return name == "Rates" ? 0 : name == "My sheet" ? 1 : -1; };
    const auto names = [](std::uint16_t ixti) { return std::string(ixti == 0 ? "Rates" : "My sheet"); };
    for (const char* text : {"SUM({1,2;3,\"a\"})*2", "INDEX({TRUE,#N/A},1,2)", "SUM(Rates!B1:B3)+'My sheet'!$A$1",
                             "IF(A1>1,CHOOSE(A2,1,\"x\",B3),NOW())", "IF(A1,,OFFSET(A1,1,1))"}) {
        const std::vector<std::uint8_t> tokens = formula::compile(text, data, options);
        QCOMPARE(QString::fromStdString(formula::decompile(tokens, data, 0, 0, names)), QString(text));
    }
}

QTEST_GUILESS_MAIN(TestFunctions)
#include "test_functions.moc"
