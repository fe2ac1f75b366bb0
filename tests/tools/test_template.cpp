// The projection template as built: layout, labels, formulas, formats and sheet settings,
// read back through the engine's own reader from the file the program embeds.
#include "spreadsheet/address.h"
#include "spreadsheet/calc.h"
#include "spreadsheet/cfb.h"
#include "spreadsheet/datetime.h"
#include "spreadsheet/formula.h"
#include "spreadsheet/model.h"
#include "spreadsheet/numfmt.h"
#include "spreadsheet/xls.h"

#include <QFile>
#include <QtTest>

#include <cmath>
#include <string>
#include <vector>

using namespace ss;

namespace {

// 0-based column of a column name ("AB" -> 27).
int col(const char* name)
{
    int row = 0, c = 0;
    ss::parseCellAddress(std::string(name) + "1", row, c);
    return c;
}

std::string colLetters(int c) { return ss::columnLetters(c); }

// Replaces every occurrence of `from` in `text`.
std::string replaced(std::string text, const std::string& from, const std::string& to)
{
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

const std::vector<int> kMonthAmountCols = {3, 5, 7, 9, 11, 13, 15, 17, 19, 21, 23, 25};   // D..Z
const std::vector<int> kInputRows = [] {
    std::vector<int> rows;
    for (int r = 6; r <= 46; ++r)
        if (!(r >= 13 && r <= 15) && !(r >= 23 && r <= 27))
            rows.push_back(r);
    return rows;
}();

std::vector<std::uint8_t> readBytes(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray b = f.readAll();
    return std::vector<std::uint8_t>(b.begin(), b.end());
}

} // namespace

class TestTemplate : public QObject {
    Q_OBJECT

private:
    Workbook wb_;
    const Sheet* sheet_ = nullptr;
    std::vector<std::uint8_t> bytes_;

    const Cell* cell(const char* colName, int row1) const { return sheet_->find(row1 - 1, col(colName)); }
    const Cell* cell(int c, int row1) const { return sheet_->find(row1 - 1, c); }

    std::string formulaText(int c, int row1) const
    {
        const Cell* x = cell(c, row1);
        if (!x || !x->isFormula())
            return "<no formula>";
        return formula::decompile(x->formula, row1 - 1, c);
    }

    std::string format(int c, int row1) const
    {
        const Cell* x = cell(c, row1);
        return x ? wb_.formatCode(wb_.xfs.at(x->xf).formatIndex) : std::string("<no cell>");
    }

    const Font& font(int c, int row1) const { return wb_.font(wb_.xfs.at(cell(c, row1)->xf).fontIndex); }

private slots:
    void initTestCase()
    {
        const QString path = qEnvironmentVariable("CORVANTIS_TEMPLATE");
        QVERIFY2(!path.isEmpty(), "CORVANTIS_TEMPLATE is not set");
        bytes_ = readBytes(path);
        QVERIFY2(!bytes_.empty(), qPrintable("cannot read " + path));
        wb_ = xls::readFile(bytes_);
        QCOMPARE(wb_.sheets.size(), std::size_t(1));
        sheet_ = &wb_.sheets[0];
    }

    void compoundFileHoldsTheWorkbookStreams()
    {
        const auto streams = cfb::read(bytes_);
        QVERIFY(cfb::find(streams, "Workbook"));
        QVERIFY(cfb::find(streams, "\x05SummaryInformation"));
        QVERIFY(cfb::find(streams, "\x05" "DocumentSummaryInformation"));
        QVERIFY(cfb::find(streams, "\x01""CompObj"));
    }

    void sheetWindowAndPrinting()
    {
        QCOMPARE(sheet_->name, std::string("PnL projection"));
        QVERIFY(!sheet_->showGridlines);
        QVERIFY(sheet_->pane.frozen);
        QCOMPARE(sheet_->pane.splitCols, 2);
        QCOMPARE(sheet_->pane.splitRows, 5);
        QCOMPARE(sheet_->pane.topRow, 5);   // first scrolling cell C6
        QCOMPARE(sheet_->pane.leftCol, 2);

        QCOMPARE(sheet_->page.paperSize, std::uint16_t(1));
        QVERIFY(sheet_->page.landscape);
        QCOMPARE(sheet_->page.scale, std::uint16_t(60));
        QCOMPARE(sheet_->page.fitWidth, std::uint16_t(1));
        QCOMPARE(sheet_->page.fitHeight, std::uint16_t(1));
        QVERIFY(sheet_->page.fitToPage);

        // Print_Titles: built-in name 7 on sheet 1 over 'PnL projection'!$4:$4.
        const DefinedName* titles = nullptr;
        for (const DefinedName& n : wb_.names)
            if (n.builtin && n.name == std::string(1, '\x07'))
                titles = &n;
        QVERIFY2(titles, "no Print_Titles name");
        QCOMPARE(titles->sheetIndex, 1);
        const std::vector<std::uint8_t>& f = titles->formula;
        QCOMPARE(f.size(), std::size_t(11));
        QCOMPARE(f[0] & 0x1F, 0x1B);   // ptgArea3d in any class
        const auto u16 = [&](int at) { return f[at] | f[at + 1] << 8; };
        QCOMPARE(u16(3), 3);                 // row 4 ...
        QCOMPARE(u16(5), 3);                 // ... to row 4
        QCOMPARE(u16(7), 0);                 // column A, absolute
        QCOMPARE(u16(9), 0xFF);              // column IV, absolute
        QCOMPARE(wb_.names.size(), std::size_t(1));
    }

    void cellsStayInsideB1toAC50()
    {
        const auto used = sheet_->usedRange();
        QVERIFY(used);
        QVERIFY(used->firstRow >= 0 && used->lastRow <= 49);
        QVERIFY(used->firstCol >= 1 && used->lastCol <= col("AC"));
    }

    void columnWidths()
    {
        // Stored widths in characters (1/256 units), to two decimals.
        const auto chars = [&](int c) { return std::round(sheet_->columnWidth(c) / 256.0 * 100) / 100; };
        QCOMPARE(chars(col("A")), 1.71);
        QCOMPARE(chars(col("B")), 20.14);
        QCOMPARE(chars(col("C")), 3.71);
        for (int c : kMonthAmountCols) {
            QCOMPARE(chars(c), 9.29);
            QCOMPARE(chars(c + 1), 5.14);
        }
        QCOMPARE(chars(col("AB")), 9.29);
        QCOMPARE(chars(col("AC")), 5.14);
        for (int c = col("AD"); c < kMaxCols; ++c)
            QCOMPARE(chars(c), 9.14);
        // Widths are whole pixels of the 7-pixel digit, so every reader lays them out alike.
        for (int c = 0; c <= col("AD"); ++c) {
            const double px = sheet_->columnWidth(c) * 7.0 / 256.0;
            QVERIFY2(std::fabs(px - std::round(px)) < 0.05, qPrintable(QString("column %1").arg(c)));
        }
    }

    void headerCells()
    {
        const auto text = [&](const char* c, int r) {
            const Cell* x = cell(c, r);
            return x && x->value.isText() ? x->value.text() : std::string("<not text>");
        };
        QCOMPARE(text("B", 2), std::string("Twelve-month profit and loss projection"));
        QCOMPARE(text("K", 2), std::string("Enter your Company Name here"));
        QCOMPARE(text("Q", 2), std::string("Fiscal Year Begins"));
        QCOMPARE(text("C", 4), std::string(" IND. %"));
        QCOMPARE(text("E", 4), std::string("% B/A"));
        for (int c = col("G"); c <= col("AA"); c += 2)
            QCOMPARE(text(colLetters(c).c_str(), 4), std::string("  %"));
        QCOMPARE(text("AB", 4), std::string("YEARLY"));
        QCOMPARE(text("AC", 4), std::string("   %"));

        const Cell* r2 = cell("R", 2);
        QVERIFY(r2 && r2->value.isNumber() && !r2->isFormula());
        QCOMPARE(r2->value.number(), 37987.0);
        QCOMPARE(wb_.xfs.at(r2->xf).formatIndex, std::uint16_t(17));
        QCOMPARE(formatValue(r2->value, format(col("R"), 2)).text, std::string("Jan-04"));

        QCOMPARE(formulaText(col("D"), 4), std::string("R2"));
        QCOMPARE(wb_.xfs.at(cell("D", 4)->xf).formatIndex, std::uint16_t(17));
        QCOMPARE(formulaText(col("F"), 4), std::string("DATE(YEAR(R2),MONTH(R2)+1,1)"));
        for (int c = col("H"); c <= col("Z"); c += 2) {
            const std::string prev = colLetters(c - 2) + "4";
            QCOMPARE(formulaText(c, 4), "DATE(YEAR(" + prev + "),MONTH(" + prev + ")+1,1)");
        }
        for (int c = col("F"); c <= col("Z"); c += 2)
            QCOMPARE(format(c, 4), std::string("[$-409]mmm\\-yy;@"));
    }

    void fonts()
    {
        const Font& title = font(col("B"), 2);
        QCOMPARE(title.name, std::string("Arial"));
        QCOMPARE(title.height, std::uint16_t(360));
        const Font& company = font(col("K"), 2);
        QCOMPARE(company.name, std::string("Arial"));
        QCOMPARE(company.height, std::uint16_t(180));
        QVERIFY(company.bold());
        QVERIFY(font(col("Q"), 2).bold());

        // Body Arial 9, headings and totals bold, the yearly percentage column in Arial 8.
        for (int r = 5; r <= 49; ++r) {
            const Cell* label = cell(1, r);
            if (!label)
                continue;
            const Font& f = font(1, r);
            QCOMPARE(f.name, std::string("Arial"));
            QCOMPARE(f.height, std::uint16_t(180));
            const bool heading = r == 5 || r == 15 || r == 27 || r == 13 || r == 23 || r == 25 || r == 47 || r == 49;
            QVERIFY2(f.bold() == heading, qPrintable(QString("B%1").arg(r)));
            for (int c = col("C"); c <= col("AB"); ++c) {
                QCOMPARE(font(c, r).height, std::uint16_t(180));
                QCOMPARE(font(c, r).name, std::string("Arial"));
            }
            QCOMPARE(font(col("AC"), r).height, std::uint16_t(160));
            QCOMPARE(font(col("AC"), r).name, std::string("Arial"));
        }
        QCOMPARE(font(col("AC"), 4).height, std::uint16_t(160));
    }

    void rowLabels()
    {
        const std::vector<std::pair<int, std::string>> labels = {
            {5, "Revenue (Sales)"}, {13, "Total Revenue (Sales)"}, {15, "Cost of Sales"},
            {23, "Total Cost of Sales"}, {25, "Gross Profit"}, {27, "Expenses"},
            {28, "Salary expenses "}, {29, "Payroll expenses "}, {30, "Outside services"},
            {31, "Supplies (office and operating)"}, {32, "Repairs and maintenance"}, {33, "Advertising"},
            {34, "Car, delivery and travel"}, {35, "Accounting and legal"}, {36, "Rent"}, {37, "Telephone"},
            {38, "Utilities"}, {39, "Insurance"}, {40, "Taxes (real estate, etc.)"}, {41, "Interest"},
            {42, "Depreciation"}, {43, "Other expenses (specify)"}, {44, "Other expenses (specify)"},
            {45, "Other expenses (specify)"}, {46, "Misc. (unspecified)"}, {47, "Total Expenses"},
            {49, "Net Profit"},
        };
        std::vector<std::pair<int, std::string>> all = labels;
        for (int i = 1; i <= 7; ++i) {
            all.push_back({5 + i, "Category " + std::to_string(i)});
            all.push_back({15 + i, "Category " + std::to_string(i)});
        }
        for (const auto& [r, text] : all) {
            const Cell* x = cell(1, r);
            QVERIFY2(x && x->value.isText(), qPrintable(QString("B%1").arg(r)));
            QCOMPARE(x->value.text(), text);
        }
        // Spacing rows hold nothing but formatting.
        for (int r : {1, 3, 14, 24, 26, 48, 50})
            for (int c = 0; c <= col("AC"); ++c) {
                const Cell* x = cell(c, r);
                QVERIFY2(!x || (x->value.isBlank() && !x->isFormula()),
                         qPrintable(QString("%1%2").arg(colLetters(c).c_str()).arg(r)));
            }
    }

    // The 33 input lines have empty, formatted cells in C and the month amount columns.
    void inputCellsAreFormattedBlanks()
    {
        QCOMPARE(kInputRows.size(), std::size_t(33));
        for (int r : kInputRows) {
            std::vector<int> cols = kMonthAmountCols;
            cols.push_back(col("C"));
            for (int c : cols) {
                const Cell* x = cell(c, r);
                const QString where = QString("%1%2").arg(colLetters(c).c_str()).arg(r);
                QVERIFY2(x, qPrintable(where + " is missing"));
                QVERIFY2(x->value.isBlank() && !x->isFormula(), qPrintable(where + " is not empty"));
                QVERIFY2(x->xf != 15, qPrintable(where + " has no formatting"));
                if (c != col("C"))
                    QCOMPARE(format(c, r), std::string("#,##0"));
            }
        }
    }

    // Every other cell of D5:AC49 in a line, total or result row holds its formula, as written.
    void bodyFormulas()
    {
        const auto yearly = [](int r) {
            std::string s;
            for (const char* m : {"Z", "X", "V", "T", "R", "P", "N", "L", "J", "H", "F", "D"})
                s += std::string(s.empty() ? "" : "+") + m + std::to_string(r);
            return s;
        };
        QCOMPARE(yearly(6), std::string("Z6+X6+V6+T6+R6+P6+N6+L6+J6+H6+F6+D6"));

        // The patterns: {M} = the amount column (or AB), {P} = its percentage column, {r} = the row.
        struct RowRule {
            int first, last;
            const char* amount;    // nullptr = input
            const char* percent;
        };
        const std::vector<RowRule> rules = {
            {6, 12, nullptr, "IF({M}$13=0,\"-\",({M}{r}*100)/{M}$13)"},
            {13, 13, "SUM({M}6:{M}12)", "SUM({P}6:{P}12)"},
            {16, 22, nullptr, "IF({M}{q}=0,\"-\",({M}{r}*100)/{M}{q})"},
            {23, 23, "SUM({M}16:{M}22)", "IF({M}13=0,\"-\",({M}23*100)/{M}13)"},
            {25, 25, "{M}13-{M}23", "IF({M}13=0,\"-\",({M}25*100)/{M}13)"},
            {28, 46, nullptr, "IF({M}$13=0,\"-\",({M}{r}*100)/{M}$13)"},
            {47, 47, "SUM({M}28:{M}46)", "IF({M}$13=0,\"-\",({M}47*100)/{M}$13)"},
            {49, 49, "{M}25-{M}47", "IF({M}13=0,\"-\",({M}49*100)/{M}13)"},
        };
        // {q} is the same month ten rows up: the revenue line of a cost line's category.
        const auto expand = [](std::string pattern, const std::string& m, const std::string& p, int r) {
            pattern = replaced(pattern, "{r}", std::to_string(r));
            pattern = replaced(pattern, "{q}", std::to_string(r - 10));
            pattern = replaced(pattern, "{M}", m);
            return replaced(pattern, "{P}", p);
        };
        int checked = 0;
        for (const RowRule& rule : rules)
            for (int r = rule.first; r <= rule.last; ++r) {
                std::vector<int> amountCols = kMonthAmountCols;
                amountCols.push_back(col("AB"));
                for (int c : amountCols) {
                    const std::string m = colLetters(c), p = colLetters(c + 1);
                    const QString where = QString("%1%2").arg(m.c_str()).arg(r);
                    const auto same = [&](int cc, const std::string& want) {
                        const std::string got = formulaText(cc, r);
                        QVERIFY2(got == want, qPrintable(QString("%1%2: %3, expected %4")
                                                             .arg(colLetters(cc).c_str()).arg(r)
                                                             .arg(got.c_str(), want.c_str())));
                    };
                    if (c == col("AB"))
                        same(c, rule.amount ? expand(rule.amount, m, p, r) : yearly(r));
                    else if (rule.amount)
                        same(c, expand(rule.amount, m, p, r));
                    same(c + 1, expand(rule.percent, m, p, r));
                    if (QTest::currentTestFailed())
                        return;
                    QVERIFY2(format(c, r) == "#,##0", qPrintable(where));
                    QVERIFY2(format(c + 1, r) == "0.0", qPrintable(where + " percentage"));
                    checked += rule.amount || c == col("AB") ? 2 : 1;
                }
            }
        QCOMPARE(checked, 33 * 14 + 5 * 26);
        // Spot checks written out in full.
        QCOMPARE(formulaText(col("E"), 16), std::string("IF(D6=0,\"-\",(D16*100)/D6)"));
        QCOMPARE(formulaText(col("AC"), 22), std::string("IF(AB12=0,\"-\",(AB22*100)/AB12)"));
        QCOMPARE(formulaText(col("AA"), 13), std::string("SUM(AA6:AA12)"));
        QCOMPARE(formulaText(col("AC"), 28), std::string("IF(AB$13=0,\"-\",(AB28*100)/AB$13)"));
    }

    // Cached results: what any reader shows without recalculating.
    void cachedResultsOfTheEmptyTemplate()
    {
        QCOMPARE(cell("D", 4)->value, Value(37987.0));
        for (int k = 1; k <= 12; ++k) {
            const Cell* x = cell(kMonthAmountCols[k - 1], 4);
            QCOMPARE(x->value, Value(dateToSerial(2004, k, 1)));
        }
        QCOMPARE(formatValue(cell("Z", 4)->value, format(col("Z"), 4)).text, std::string("Dec-04"));
        for (int r : {13, 23, 25, 47, 49})
            for (int c : kMonthAmountCols) {
                QCOMPARE(cell(c, r)->value, Value(0.0));
                QCOMPARE(cell(col("AB"), r)->value, Value(0.0));
            }
        for (int r = 6; r <= 49; ++r) {
            if (!cell(col("E"), r) || !cell(col("E"), r)->isFormula())
                continue;
            for (int c = col("E"); c <= col("AC"); c += 2) {
                const Value expect = r == 13 ? Value(0.0) : Value("-");   // row 13 sums the dashes: 0
                QVERIFY2(cell(c, r)->value == expect, qPrintable(QString("%1%2").arg(colLetters(c).c_str()).arg(r)));
            }
        }
    }

    // The template's formulas at work after a fill, as the program will use them.
    void monthHeadersFollowTheStartDate()
    {
        Workbook wb = wb_;
        Sheet& s = wb.sheets[0];
        s.at(1, col("R")).value = dateToSerial(2021, 11, 15);
        recalculate(wb);
        const char* expect[] = {"Nov-21", "Dec-21", "Jan-22", "Feb-22", "Mar-22", "Apr-22",
                                "May-22", "Jun-22", "Jul-22", "Aug-22", "Sep-22", "Oct-22"};
        for (int k = 0; k < 12; ++k) {
            const Cell* x = s.find(3, kMonthAmountCols[k]);
            QCOMPARE(formatValue(x->value, wb.formatCode(wb.xfs[x->xf].formatIndex)).text, std::string(expect[k]));
        }
        QCOMPARE(s.find(3, col("D"))->value, Value(dateToSerial(2021, 11, 15)));   // month 1 keeps the day
    }

    void costPercentageAgainstItsOwnRevenueCategory()
    {
        Workbook wb = wb_;
        Sheet& s = wb.sheets[0];
        s.at(5, col("D")).value = 200.0;    // revenue category 1, month 1
        s.at(6, col("D")).value = 0.0;      // revenue category 2 at zero
        s.at(15, col("D")).value = 50.0;    // cost category 1
        s.at(16, col("D")).value = 30.0;    // cost category 2
        s.at(27, col("D")).value = 40.0;    // salaries
        recalculate(wb);
        const auto v = [&](const char* c, int r) { return s.find(r - 1, col(c))->value; };
        QCOMPARE(v("E", 16), Value(25.0));
        QCOMPARE(v("E", 17), Value("-"));   // its revenue category is 0 though total revenue is not
        QCOMPARE(v("E", 23), Value(40.0));
        QCOMPARE(v("D", 25), Value(120.0));
        QCOMPARE(v("E", 25), Value(60.0));
        QCOMPARE(v("E", 28), Value(20.0));
        QCOMPARE(v("D", 49), Value(80.0));
        QCOMPARE(v("E", 49), Value(40.0));
        QCOMPARE(v("AB", 6), Value(200.0));
        QCOMPARE(v("AC", 6), Value(100.0));
        QCOMPARE(v("E", 13), Value(100.0));
        QCOMPARE(v("F", 13), Value(0.0));
        QCOMPARE(v("G", 6), Value("-"));
    }
};

QTEST_APPLESS_MAIN(TestTemplate)
#include "test_template.moc"
