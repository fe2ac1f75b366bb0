#pragma once
// Values on the evaluator's stack and the coercions between them.
#include "spreadsheet/formula.h"

#include <cmath>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace ss::formula::detail {

// An array value: an array constant, a range read as an array, or the result of an operation
// over arrays. Row by row.
struct Matrix {
    int rows = 0, cols = 0;
    std::vector<Value> cells;
    Matrix() = default;
    Matrix(int r, int c) : rows(r), cols(c), cells(static_cast<std::size_t>(r) * static_cast<std::size_t>(c)) {}
    Value& at(int r, int c) { return cells[static_cast<std::size_t>(r) * static_cast<std::size_t>(cols) + static_cast<std::size_t>(c)]; }
    const Value& at(int r, int c) const { return cells[static_cast<std::size_t>(r) * static_cast<std::size_t>(cols) + static_cast<std::size_t>(c)]; }
    // The element an array of another size sees at (r, c): a single row or column repeats,
    // beyond the array's size there is #N/A.
    Value broadcast(int r, int c) const;
};

// Largest array the evaluator builds (cells); larger ranges read as arrays give #NUM!.
constexpr long long kMaxArrayCells = 1 << 20;

// A stack entry: a plain value, a reference (one cell or a range, read lazily), an array, a
// missing argument, or Unknown: something the engine cannot compute (a function it does not
// implement, an add-in, another workbook), which spreads to every result that depends on it.
// An Unknown that names a function (the first argument of a call by name) holds the name as
// its text value.
struct Item {
    enum Kind : std::uint8_t { Val, Ref, Area, Missing, Array, Unknown } kind = Val;
    bool arrayClass = false;   // a reference token of array class: read as an array by operators
    int sheet = -1;            // sheet of a reference; -1 = the formula's own sheet
    int sheetLast = -1;        // last sheet of a 3-D span (Sheet1:Sheet3!A1); -1 = only `sheet`
    Value value;
    RangeAddress range;
    std::shared_ptr<const Matrix> array;

    static Item of(Value v)
    {
        Item i;
        i.value = std::move(v);
        return i;
    }
    static Item of(Matrix m)
    {
        Item i;
        i.kind = Array;
        i.array = std::make_shared<const Matrix>(std::move(m));
        return i;
    }
    static Item unknown()
    {
        Item i;
        i.kind = Unknown;
        return i;
    }
    bool isReference() const { return kind == Ref || kind == Area; }
    long long cellCount() const
    {
        return static_cast<long long>(range.lastRow - range.firstRow + 1) * (range.lastCol - range.firstCol + 1);
    }
};

// Number for arithmetic: numbers, Booleans, blank (0), text that reads as a number; else the error.
bool toNumber(const Value& v, double& out, ErrorCode& err);
// Text for &: numbers in General form, TRUE/FALSE, blank as "".
bool toText(const Value& v, std::string& out, ErrorCode& err);
// Truth value: Booleans, numbers (non-zero), blank (FALSE), the texts TRUE and FALSE.
bool toBool(const Value& v, bool& out, ErrorCode& err);
// Locale-free number in text: blanks around, sign, digits, one '.', exponent.
bool parseNumber(std::string_view s, double& out);
// A number as a spreadsheet reads typed text: also dates, times, percentages and currency.
bool parseNumberText(std::string_view s, double& out, bool date1904);
// Number as Excel shows it in General when turned into text (up to 15 significant digits).
std::string numberToText(double v);
// -1 / 0 / 1 with Excel's ordering: numbers < texts < Booleans; texts without regard to case;
// a blank compares as 0, "" or FALSE to match the other side. Neither side may be an error.
int compareValues(const Value& a, const Value& b);
// Case-insensitive comparison of texts.
int compareText(std::string_view a, std::string_view b);
// '*' any run, '?' one character, '~' escapes; without regard to case.
bool wildcardMatch(std::string_view pattern, std::string_view s);
// A finite number, else #NUM!.
Value numberResult(double v);
// Rounds to 15 significant digits, as a spreadsheet shows a sum like 0.1+0.2.
double snap15(double v);

class Evaluator {
public:
    const Context& ctx;
    int row, col;
    bool arrayMode = false;   // an array formula: ranges in value positions are read as arrays
    int depth = 0;            // nesting of names and INDIRECT texts being evaluated

    // Cell values; `sheet` -1 is the formula's own sheet. Outside the grid: #REF!.
    Value cell(int r, int c) const { return cell(-1, r, c); }
    Value cell(int sheet, int r, int c) const;
    Value cellOf(const Item& ref, int r, int c) const { return cell(ref.sheet, r, c); }
    // The same without a copy where there is none to make: a cell read through the context's
    // source or a plain entry is referred to where it is; `scratch` holds anything computed.
    // Valid until the next evaluation writes that cell.
    const Value& cellRef(int sheet, int r, int c, Value& scratch) const
    {
        if (ctx.source && r >= 0 && r < kMaxRows && c >= 0 && c < kMaxCols) {
            const Value& v = ctx.source->value(sheet < 0 ? ctx.sheet : sheet, r, c);
            if (v.isNumber() && !std::isfinite(v.number()))
                return scratch = ErrorCode::Num;
            return v;
        }
        return scratch = cell(sheet, r, c);
    }
    // The value of an entry where one value is needed: a range is reduced by implicit
    // intersection, an array gives its first element.
    Value value(const Item& it) const;
    // The same without a copy where there is none to make (see cellRef).
    const Value& valueRef(const Item& it, Value& scratch) const
    {
        if (it.kind == Item::Val)
            return it.value;
        if (it.kind == Item::Ref)
            return cellRef(it.sheet, it.range.firstRow, it.range.firstCol, scratch);
        return scratch = value(it);
    }
    // The entry as an array: ranges are read cell by cell, single values are 1x1.
    // A range too large for an array gives a 1x1 #NUM!.
    Matrix matrix(const Item& it) const;
    // Whether an operator or a value parameter reads this entry element by element.
    bool isArrayOperand(const Item& it) const
    {
        return it.kind == Item::Array || (it.kind == Item::Area && (it.arrayClass || arrayMode));
    }
    // Calls built-in function `index`; functions that return references (IF, CHOOSE, INDEX,
    // OFFSET, INDIRECT) may return one.
    // `arrayClass`: the function token is of array class (inside an array argument).
    Item callItem(std::uint16_t index, std::span<Item> args, bool arrayClass = false) const;
    Value call(std::uint16_t index, std::span<Item> args) const;

    // The sheets [first, last] of a 3-D reference's EXTERNSHEET index; false for another
    // workbook, an add-in or a damaged index.
    bool externSheets(std::uint16_t ixti, int& first, int& last) const;
    // Index of the sheet named `name` (without regard to case), -1 when there is none.
    int sheetByName(std::string_view name) const;
    // The tokens of a defined name, as seen from the sheet being evaluated; null when unknown.
    const std::vector<std::uint8_t>* nameTokens(std::uint16_t nameIndex) const;
    const std::vector<std::uint8_t>* nameTokens(std::string_view name) const;
    // The text of a defined name, and of an external name (EXTERNNAME) through EXTERNSHEET
    // index `ixti`; empty when there is none.
    std::string nameText(std::uint16_t nameIndex) const;
    std::string externalNameText(std::uint16_t ixti, std::uint16_t nameIndex) const;
    // Evaluates name or INDIRECT tokens at this cell; Unknown past the nesting limit.
    Item evaluateNested(std::span<const std::uint8_t> tokens) const;
};

// Reads the next array constant (PtgExtraArray) from the data after the tokens at `pos`, as a
// ptgArray token finds it; false when the data is damaged or missing.
bool readArrayConstant(std::span<const std::uint8_t> data, std::size_t& pos, Matrix& out);
// Steps over the PtgExtraMem of a ptgMemArea token.
bool skipMemData(std::span<const std::uint8_t> data, std::size_t& pos);

// Evaluation of tokens to a stack entry (a reference stays a reference). Shared by cell
// formulas, names and INDIRECT.
Item evaluateItem(std::span<const std::uint8_t> tokens, const Evaluator& ev);

// Deepest nesting of names and INDIRECT texts inside each other.
constexpr int kMaxNestedEvaluation = 32;

} // namespace ss::formula::detail
