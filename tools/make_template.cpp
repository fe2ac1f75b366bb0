// Writes the projection template workbook (template.xlt) with the engine's own writer.
//
// Usage: make_template <output path>
//
// The sheet is a twelve-month profit-and-loss projection: labels in column B, the
// industry percentage in C, month amounts in D, F, ..., Z with their percentage to the
// right of each, the yearly total in AB and its percentage in AC. The program fills the
// empty input cells; every total and percentage is a formula of this file.
#include "spreadsheet/address.h"
#include "spreadsheet/calc.h"
#include "spreadsheet/error.h"
#include "spreadsheet/formula.h"
#include "spreadsheet/model.h"
#include "spreadsheet/xls.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

namespace {

using ss::Border;
using ss::HAlign;
using ss::VAlign;

// 0-based column numbers of the layout.
constexpr int kColA = 0, kColB = 1, kColC = 2, kColD = 3;
constexpr int kColYearly = 27;      // AB
constexpr int kColYearlyPct = 28;   // AC
constexpr int kLastCol = kColYearlyPct;

constexpr int monthAmountCol(int month) { return kColD + 2 * (month - 1); }   // month 1..12
constexpr bool isPercentCol(int col) { return col >= kColD + 1 && col <= kColYearlyPct && (col - kColD) % 2 == 1; }

// Default palette indexes used for the styling.
constexpr std::uint16_t kNavy = 56;        // 0x003366: header band
constexpr std::uint16_t kWhite = 9;
constexpr std::uint16_t kPaleBlue = 41;    // 0xCCFFFF: section headings
constexpr std::uint16_t kGreyRule = 23;    // 0x808080: rules under the header band

std::string colName(int col) { return ss::columnLetters(col); }

// A1 reference of a 0-based column and a 1-based row, as the formulas are written.
std::string ref(int col, int row1) { return colName(col) + std::to_string(row1); }

// Column widths are stored the way Excel stores them in COLINFO: in 1/256 of the default
// font's digit width, cell padding included, rounded down to a whole pixel. The default
// font is Arial 10, whose '0' is 7 px wide at 96 dpi, so a column of w characters is
// round(w * 7) px and stores trunc(px * 256 / 7). Readers that report COLINFO widths
// divided by 256 (xlrd, for one) then give back the layout widths to two decimals:
// 1.71, 20.14, 3.71, 9.29, 5.14 and 9.14.
std::uint16_t storedWidth(double chars)
{
    const int px = static_cast<int>(std::lround(chars * 7.0));
    return static_cast<std::uint16_t>(px * 256 / 7);
}

class TemplateBuilder {
public:
    TemplateBuilder() : wb_(ss::Workbook::makeDefault()) {}

    ss::Workbook build()
    {
        makeStyles();
        ss::Sheet sheet;
        sheet.name = "PnL projection";
        sheet_ = &sheet;
        layoutSheet();
        writeHeader();
        writeBody();
        sheet_ = nullptr;
        wb_.sheets.push_back(std::move(sheet));
        addPrintTitles();
        ss::recalculate(wb_);
        return std::move(wb_);
    }

private:
    // --- styles ------------------------------------------------------------------------

    struct Style {
        std::uint16_t font = 0;
        std::uint16_t format = 0;
        HAlign h = HAlign::General;
        std::uint16_t fill = 0;           // palette index; 0 = no fill
        std::uint8_t top = 0, bottom = 0; // border line styles
        std::uint16_t borderColor = 64;
        std::uint8_t indent = 0;
        bool unlocked = false;
    };

    std::uint16_t xf(const Style& s)
    {
        ss::Xf x;
        x.fontIndex = s.font;
        x.formatIndex = s.format;
        x.locked = !s.unlocked;
        x.parent = 0;
        x.hAlign = s.h;
        x.vAlign = VAlign::Center;
        x.indent = s.indent;
        x.usedAttributes = 0x3F;   // a cell XF that sets number format, font, alignment, borders, fill, protection
        x.top = Border{s.top, static_cast<std::uint8_t>(s.top ? s.borderColor : 64)};
        x.bottom = Border{s.bottom, static_cast<std::uint8_t>(s.bottom ? s.borderColor : 64)};
        if (s.fill) {
            x.fillPattern = 1;
            x.fillForeColor = static_cast<std::uint8_t>(s.fill);
            x.fillBackColor = 64;
        }
        return wb_.addXf(x);
    }

    std::uint16_t font(std::uint16_t heightTwips, bool bold, std::uint16_t color = 0x7FFF)
    {
        ss::Font f;
        f.name = "Arial";
        f.height = heightTwips;
        f.weight = bold ? 700 : 400;
        f.colorIndex = color;
        f.family = 2;   // swiss
        return wb_.addFont(f);
    }

    void makeStyles()
    {
        fBody_ = font(180, false);
        fBold_ = font(180, true);
        fTitle_ = font(360, false, kNavy);
        fBand_ = font(180, true, kWhite);
        fSmall_ = font(160, false);
        fSmallBold_ = font(160, true);
        fSmallBand_ = font(160, true, kWhite);

        numAmount_ = wb_.addFormat("#,##0");            // built-in 3
        numPercent_ = wb_.addFormat("0.0");
        numMonth1_ = 17;                                 // built-in "mmm-yy"
        numMonthN_ = wb_.addFormat("[$-409]mmm\\-yy;@");
    }

    // --- sheet-wide settings -------------------------------------------------------------

    void layoutSheet()
    {
        ss::Sheet& s = *sheet_;
        s.showGridlines = false;
        s.selected = true;
        s.defaultColWidth = 8;   // Excel's standard width: 8 digits + padding = 9.14 stored

        auto cols = [&](int first, int last, double chars) {
            ss::ColumnInfo ci;
            ci.firstCol = first;
            ci.lastCol = last;
            ci.width = storedWidth(chars);
            ci.xf = 15;
            s.columns.push_back(ci);
        };
        cols(kColA, kColA, 1.71);
        cols(kColB, kColB, 20.14);
        cols(kColC, kColC, 3.71);
        for (int col = kColD; col <= kColYearlyPct; ++col)
            cols(col, col, isPercentCol(col) ? 5.14 : 9.29);
        // Everything right of the table keeps the standard width, written out so readers that
        // only look at COLINFO see it too.
        cols(kColYearlyPct + 1, ss::kMaxCols - 1, 9.14);

        // Taller rows for the title and the header band.
        rowHeight(1, 480);   // row 2
        rowHeight(3, 330);   // row 4

        s.pane.frozen = true;
        s.pane.splitCols = 2;   // A:B stay in view
        s.pane.splitRows = 5;   // rows 1-5 stay in view
        s.pane.topRow = 5;
        s.pane.leftCol = 2;
        s.pane.activePane = 0;  // the lower right (scrolling) pane
        s.activeCell = {5, kColC};

        s.page.paperSize = 1;   // Letter
        s.page.landscape = true;
        s.page.scale = 60;
        s.page.fitWidth = 1;
        s.page.fitHeight = 1;
        s.page.fitToPage = true;
    }

    void rowHeight(int row, std::uint16_t twips)
    {
        ss::RowInfo ri;
        ri.height = twips;
        ri.customHeight = true;
        sheet_->rows[row] = ri;
    }

    // --- cells ---------------------------------------------------------------------------

    void put(int row1, int col, const ss::Value& v, std::uint16_t xfIndex)
    {
        ss::Cell& c = sheet_->at(row1 - 1, col);
        c.value = v;
        c.xf = xfIndex;
        c.formula.clear();
    }

    void blank(int row1, int col, std::uint16_t xfIndex) { put(row1, col, ss::Value(), xfIndex); }

    void formula(int row1, int col, const std::string& text, std::uint16_t xfIndex)
    {
        ss::Cell& c = sheet_->at(row1 - 1, col);
        c.formula = ss::formula::compile(text, row1 - 1, col);
        c.value = ss::Value();
        c.xf = xfIndex;
    }

    void writeHeader()
    {
        put(2, kColB, "Twelve-month profit and loss projection", xf({.font = fTitle_}));
        put(2, 10, "Enter your Company Name here", xf({.font = fBold_}));        // K2
        put(2, 16, "Fiscal Year Begins", xf({.font = fBold_, .h = HAlign::Right}));   // Q2
        put(2, 17, 37987.0, xf({.font = fBold_, .format = numMonth1_, .h = HAlign::Left, .unlocked = true}));   // R2

        // Row 4: the header band.
        const Style band{.font = fBand_, .h = HAlign::Center, .fill = kNavy, .bottom = 1, .borderColor = kGreyRule};
        const std::uint16_t bandText = xf(band);
        Style bandLeft = band;
        bandLeft.h = HAlign::Left;
        Style bandSmall = band;
        bandSmall.font = fSmallBand_;
        Style month1 = band;
        month1.format = numMonth1_;
        Style monthN = band;
        monthN.format = numMonthN_;

        // " IND. %" is wider than its column: right-aligned it runs into the empty B4.
        Style bandRight = band;
        bandRight.h = HAlign::Right;
        blank(4, kColB, xf(bandLeft));
        put(4, kColC, " IND. %", xf(bandRight));
        formula(4, kColD, "R2", xf(month1));
        put(4, kColD + 1, "% B/A", bandText);
        const std::uint16_t monthNXf = xf(monthN);
        for (int m = 2; m <= 12; ++m) {
            const int col = monthAmountCol(m);
            const std::string prev = m == 2 ? std::string("R2") : ref(col - 2, 4);
            formula(4, col, "DATE(YEAR(" + prev + "),MONTH(" + prev + ")+1,1)", monthNXf);
            put(4, col + 1, "  %", bandText);
        }
        put(4, kColYearly, "YEARLY", bandText);
        put(4, kColYearlyPct, "   %", xf(bandSmall));
    }

    enum class RowKind { Heading, Input, Total, Result };

    // Styles of one kind of row: label, C, amount columns, percentage columns, AB, AC.
    struct RowStyles {
        std::uint16_t label, ind, amount, percent, yearly, yearlyPct;
    };

    RowStyles stylesFor(RowKind kind, bool doubleRule)
    {
        const std::uint8_t top = kind == RowKind::Total ? 1 : doubleRule ? 6 : 0;
        const bool bold = kind != RowKind::Input;
        const std::uint16_t fill = kind == RowKind::Heading ? kPaleBlue : 0;
        const std::uint16_t body = bold ? fBold_ : fBody_;
        const std::uint16_t small = bold ? fSmallBold_ : fSmall_;
        const bool input = kind == RowKind::Input;
        RowStyles r{};
        r.label = xf({.font = body, .fill = fill, .top = top, .indent = static_cast<std::uint8_t>(input ? 1 : 0),
                      .unlocked = input});
        r.ind = xf({.font = body, .h = HAlign::Right, .fill = fill, .top = top, .unlocked = input});
        r.amount = xf({.font = body, .format = numAmount_, .fill = fill, .top = top, .unlocked = input});
        r.percent = xf({.font = body, .format = numPercent_, .h = HAlign::Right, .fill = fill, .top = top});
        r.yearly = xf({.font = body, .format = numAmount_, .fill = fill, .top = top});
        r.yearlyPct = xf({.font = small, .format = numPercent_, .h = HAlign::Right, .fill = fill, .top = top});
        return r;
    }

    // The cell of `col` in row `row1` as a percentage of the divisor row of the same column:
    // "$13" for lines measured against total revenue, the matching revenue row for cost lines.
    // A zero divisor shows "-".
    static std::string pctFormula(const std::string& col, int row1, const std::string& divisorRow)
    {
        const std::string d = col + divisorRow;
        return "IF(" + d + "=0,\"-\",(" + col + std::to_string(row1) + "*100)/" + d + ")";
    }

    // "Zr+Xr+...+Dr": the twelve months added from the last to the first.
    static std::string yearlySum(int row1)
    {
        std::string s;
        for (int m = 12; m >= 1; --m) {
            if (!s.empty())
                s += '+';
            s += ref(monthAmountCol(m), row1);
        }
        return s;
    }

    void headingRow(int row1, const std::string& label)
    {
        const RowStyles st = stylesFor(RowKind::Heading, false);
        put(row1, kColB, label, st.label);
        blank(row1, kColC, st.ind);
        for (int col = kColD; col <= kLastCol; ++col)
            blank(row1, col, col == kColYearlyPct ? st.yearlyPct : isPercentCol(col) ? st.percent : st.yearly);
    }

    // An input line: empty C and month amounts, formulas in the percentage columns and AB:AC.
    void inputRow(int row1, const std::string& label, const RowStyles& st, bool costLine)
    {
        put(row1, kColB, label, st.label);
        blank(row1, kColC, st.ind);
        const std::string divisor = costLine ? std::to_string(row1 - 10) : std::string("$13");
        for (int m = 1; m <= 12; ++m) {
            const int col = monthAmountCol(m);
            blank(row1, col, st.amount);
            formula(row1, col + 1, pctFormula(colName(col), row1, divisor), st.percent);
        }
        formula(row1, kColYearly, yearlySum(row1), st.yearly);
        formula(row1, kColYearlyPct, pctFormula("AB", row1, divisor), st.yearlyPct);
    }

    // A total or result row. `amount` gives the formula of an amount column (also used for AB),
    // `percent` the formula of the percentage column after it (also used for AC).
    template <typename AmountF, typename PercentF>
    void formulaRow(int row1, const std::string& label, RowKind kind, bool doubleRule, AmountF amount, PercentF percent)
    {
        const RowStyles st = stylesFor(kind, doubleRule);
        put(row1, kColB, label, st.label);
        blank(row1, kColC, st.ind);
        for (int m = 1; m <= 12; ++m) {
            const int col = monthAmountCol(m);
            formula(row1, col, amount(colName(col)), st.amount);
            formula(row1, col + 1, percent(colName(col), colName(col + 1)), st.percent);
        }
        formula(row1, kColYearly, amount("AB"), st.yearly);
        formula(row1, kColYearlyPct, percent("AB", "AC"), st.yearlyPct);
    }

    void writeBody()
    {
        const RowStyles input = stylesFor(RowKind::Input, false);

        headingRow(5, "Revenue (Sales)");
        for (int i = 1; i <= 7; ++i)
            inputRow(5 + i, "Category " + std::to_string(i), input, false);
        formulaRow(13, "Total Revenue (Sales)", RowKind::Total, false,
                   [](const std::string& m) { return "SUM(" + m + "6:" + m + "12)"; },
                   [](const std::string&, const std::string& p) { return "SUM(" + p + "6:" + p + "12)"; });

        headingRow(15, "Cost of Sales");
        for (int i = 1; i <= 7; ++i)
            inputRow(15 + i, "Category " + std::to_string(i), input, true);
        formulaRow(23, "Total Cost of Sales", RowKind::Total, false,
                   [](const std::string& m) { return "SUM(" + m + "16:" + m + "22)"; },
                   [](const std::string& m, const std::string&) { return pctFormula(m, 23, "13"); });

        formulaRow(25, "Gross Profit", RowKind::Result, false,
                   [](const std::string& m) { return m + "13-" + m + "23"; },
                   [](const std::string& m, const std::string&) { return pctFormula(m, 25, "13"); });

        headingRow(27, "Expenses");
        static const char* const expenses[] = {
            "Salary expenses ",
            "Payroll expenses ",
            "Outside services",
            "Supplies (office and operating)",
            "Repairs and maintenance",
            "Advertising",
            "Car, delivery and travel",
            "Accounting and legal",
            "Rent",
            "Telephone",
            "Utilities",
            "Insurance",
            "Taxes (real estate, etc.)",
            "Interest",
            "Depreciation",
            "Other expenses (specify)",
            "Other expenses (specify)",
            "Other expenses (specify)",
            "Misc. (unspecified)",
        };
        int row1 = 28;
        for (const char* label : expenses)
            inputRow(row1++, label, input, false);
        formulaRow(47, "Total Expenses", RowKind::Total, false,
                   [](const std::string& m) { return "SUM(" + m + "28:" + m + "46)"; },
                   [](const std::string& m, const std::string&) { return pctFormula(m, 47, "$13"); });

        formulaRow(49, "Net Profit", RowKind::Result, true,
                   [](const std::string& m) { return m + "25-" + m + "47"; },
                   [](const std::string& m, const std::string&) { return pctFormula(m, 49, "13"); });
    }

    // --- names ---------------------------------------------------------------------------

    // Print_Titles = 'PnL projection'!$4:$4, as Excel stores it: a sheet-local built-in
    // name whose formula is one ptgArea3d over all columns of row 4.
    void addPrintTitles()
    {
        ss::DefinedName n;
        n.name = std::string(1, '\x07');
        n.builtin = true;
        n.sheetIndex = 1;
        n.options = 0x0020;   // fBuiltin
        const std::uint16_t row = 3;
        n.formula = {
            0x3B,                 // ptgArea3d, reference class
            0x00, 0x00,           // ixti: the first EXTERNSHEET entry, this sheet
            static_cast<std::uint8_t>(row & 0xFF), static_cast<std::uint8_t>(row >> 8),   // first row
            static_cast<std::uint8_t>(row & 0xFF), static_cast<std::uint8_t>(row >> 8),   // last row
            0x00, 0x00,           // first column A, absolute
            0xFF, 0x00,           // last column IV, absolute
        };
        wb_.names.push_back(std::move(n));
    }

    ss::Workbook wb_;
    ss::Sheet* sheet_ = nullptr;
    std::uint16_t fBody_ = 0, fBold_ = 0, fTitle_ = 0, fBand_ = 0, fSmall_ = 0, fSmallBold_ = 0, fSmallBand_ = 0;
    std::uint16_t numAmount_ = 3, numPercent_ = 0, numMonth1_ = 17, numMonthN_ = 0;
};

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_template <output.xlt>\n");
        return 2;
    }
    try {
        const ss::Workbook wb = TemplateBuilder().build();
        ss::xls::save(wb, argv[1]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_template: %s\n", e.what());
        std::remove(argv[1]);
        return 1;
    }
    return 0;
}
