#pragma once
// Built-in functions: their ids and the calling convention of the implementations, which live
// in one file per family (formula_fn_*.cpp) and are dispatched by id.
#include "spreadsheet/formula_values.h"

#include <span>
#include <string>

namespace ss::formula::detail {

// Function ids of the BIFF8 function table ([MS-XLS] 2.5.198.17), for the functions the engine
// implements or treats specially.
enum class Fn : std::uint16_t {
    Count = 0, If = 1, IsNa = 2, IsError = 3, Sum = 4, Average = 5, Min = 6, Max = 7, Row = 8, Column = 9,
    Na = 10, Npv = 11, Stdev = 12, Dollar = 13, Fixed = 14, Sin = 15, Cos = 16, Tan = 17, Atan = 18, Pi = 19,
    Sqrt = 20, Exp = 21, Ln = 22, Log10 = 23, Abs = 24, Int = 25, Sign = 26, Round = 27, Lookup = 28,
    Index = 29, Rept = 30, Mid = 31, Len = 32, Value = 33, TrueFn = 34, FalseFn = 35, And = 36, Or = 37,
    Not = 38, Mod = 39, Var = 46, Text = 48, Pv = 56, Fv = 57, Nper = 58, Pmt = 59, Rate = 60, Irr = 62,
    Rand = 63, Match = 64, Date = 65, Time = 66, Day = 67, Month = 68, Year = 69, Weekday = 70, Hour = 71,
    Minute = 72, Second = 73, Now = 74, Areas = 75, Rows = 76, Columns = 77, Offset = 78, Search = 82,
    Type = 86, Atan2 = 97, Asin = 98, Acos = 99, Choose = 100, Hlookup = 101, Vlookup = 102, IsRef = 105,
    Log = 109, Char = 111, Lower = 112, Upper = 113, Proper = 114, Left = 115, Right = 116, Exact = 117,
    Trim = 118, Replace = 119, Substitute = 120, Code = 121, Find = 124, Cell = 125, IsErr = 126,
    IsText = 127, IsNumber = 128, IsBlank = 129, T = 130, N = 131, DateValue = 140, TimeValue = 141,
    Indirect = 148, Clean = 162, Ipmt = 167, Ppmt = 168, CountA = 169, Product = 183, Fact = 184,
    ExternalCall = 255, IsNonText = 190, StdevP = 193, VarP = 194, Trunc = 197, IsLogical = 198,
    RoundUp = 212, RoundDown = 213, Rank = 216, Days360 = 220, Today = 221, Median = 227,
    SumProduct = 228, Even = 279, Floor = 285, Ceiling = 288, Odd = 298, SumSq = 321, Large = 325,
    Small = 326, Concatenate = 336, Power = 337, Radians = 342, Degrees = 343, SumIf = 345, CountIf = 346,
    CountBlank = 347, AverageA = 361, MaxA = 362, MinA = 363, Sln = 142, Syd = 143, Ddb = 144, Mirr = 61,
    Address = 219, Hyperlink = 359, Transpose = 83, Combin = 276, Subtotal = 344, Mode = 330,
    Percentile = 328, Quartile = 327, ErrorType = 261,
};

// Whether tokens call SUBTOTAL (whose results SUBTOTAL leaves out of its own ranges).
bool callsSubtotal(std::span<const std::uint8_t> tokens);

// Functions whose value changes without a change of their arguments; Excel marks their formulas
// with tAttrVolatile.
bool isVolatile(std::uint16_t index);
// Functions that may return a reference rather than a value.
bool returnsReference(std::uint16_t index);

// One call of a built-in: the evaluator, the arguments, and typed access to them. Accessors
// return false with `err` set when an argument is an error or cannot be converted.
class Call {
public:
    Call(const Evaluator& e, Fn f, std::span<Item> a, bool arrayCtx)
        : ev(e), id(f), args(a), arrayContext(arrayCtx || e.arrayMode) {}
    const Evaluator& ev;
    const Fn id;
    std::span<Item> args;
    const bool arrayContext;   // the call's token is of array class, or this is an array formula
    ErrorCode err = ErrorCode::Value;

    std::size_t size() const { return args.size(); }
    // An argument that is there and not left empty (f(1,,3) leaves the second empty).
    bool has(std::size_t i) const { return i < args.size() && args[i].kind != Item::Missing; }
    // The value of argument i; an absent or empty one is blank.
    ss::Value value(std::size_t i) const { return has(i) ? ev.value(args[i]) : ss::Value(); }
    // Absent or empty arguments read as `fallback`.
    bool number(std::size_t i, double& out, double fallback = 0);
    bool integer(std::size_t i, double& out, double fallback = 0);   // truncated toward zero
    bool text(std::size_t i, std::string& out);
    bool boolean(std::size_t i, bool& out, bool fallback = false);
    ss::Value error() const { return err; }
};

using Handler = Item (*)(Call&);
struct FunctionImpl {
    Fn id;
    Handler handler;
};

// Functions that BIFF8 files call by name (ptgFuncVar 255 with the name first): the Analysis
// ToolPak add-in's (EOMONTH ...) and Excel 2007's (_xlfn.IFERROR ...).
struct NamedImpl {
    const char* name;
    Handler handler;
};
std::span<const NamedImpl> namedDateFunctions();
std::span<const NamedImpl> namedStatisticalFunctions();
std::span<const NamedImpl> namedLogicalFunctions();
// The implementation of a function called by name (without regard to case, "_xlfn." ignored).
Handler namedFunction(std::string_view name);

// The implementations of each family.
std::span<const FunctionImpl> financialFunctions();
std::span<const FunctionImpl> lookupFunctions();
std::span<const FunctionImpl> textFunctions();
std::span<const FunctionImpl> dateFunctions();
std::span<const FunctionImpl> mathFunctions();
std::span<const FunctionImpl> statisticalFunctions();
std::span<const FunctionImpl> logicalFunctions();

// Helpers shared by the families.

// Walks the numbers of aggregate arguments: numbers in ranges and arrays (text, Booleans and
// blanks there are skipped), direct numbers, Booleans and numeric text. An error stops the walk.
template <class F>
bool eachNumber(const Evaluator& ev, std::span<Item> args, ErrorCode& err, F&& f);
// Every value of the arguments: cells of ranges and elements of arrays (inRange true), direct
// values (inRange false; an empty argument is blank).
template <class F>
void eachValue(const Evaluator& ev, std::span<const Item> args, F&& f);
// Sheets of a reference entry, first to last.
inline int firstSheetOf(const Item& it) { return it.sheet; }
inline int lastSheetOf(const Item& it) { return it.sheetLast < 0 ? it.sheet : it.sheetLast; }

template <class F>
void eachValue(const Evaluator& ev, std::span<const Item> args, F&& f)
{
    ss::Value scratch;
    for (const Item& a : args) {
        if (a.isReference()) {
            for (int s = firstSheetOf(a); s <= lastSheetOf(a); ++s)
                for (int r = a.range.firstRow; r <= a.range.lastRow; ++r)
                    for (int c = a.range.firstCol; c <= a.range.lastCol; ++c)
                        f(ev.cellRef(s, r, c, scratch), true);
        } else if (a.kind == Item::Array) {
            for (const ss::Value& v : a.array->cells)
                f(v, true);
        } else {
            f(a.kind == Item::Missing ? ss::Value() : a.value, false);
        }
    }
}

template <class F>
bool eachNumber(const Evaluator& ev, std::span<Item> args, ErrorCode& err, F&& f)
{
    bool ok = true;
    for (const Item& a : args) {
        if (a.isReference() || a.kind == Item::Array) {
            eachValue(ev, std::span<const Item>(&a, 1), [&](const ss::Value& v, bool) {
                if (!ok)
                    return;
                if (v.isError()) {
                    err = v.error();
                    ok = false;
                } else if (v.isNumber()) {
                    f(v.number());
                }
            });
            if (!ok)
                return false;
        } else if (a.kind == Item::Val) {
            double x;
            if (!toNumber(a.value, x, err))
                return false;
            f(x);
        } else if (a.kind == Item::Missing) {
            f(0.0);
        }
    }
    return true;
}

// Rounding to a number of decimal digits after snapping to 15 significant digits.
enum class RoundMode { Nearest, Up, Down };
double roundDigits(double x, int digits, RoundMode mode);

std::string upperText(std::string s);
std::string lowerText(std::string s);

// Date and time text as a spreadsheet reads it: "2024-03-15", "3/15/2024", "15-Mar-2024",
// "March 15, 2024", "13:45", "1:45 PM", "3/15/2024 13:45". False when the text is none of these.
bool parseDateTimeText(std::string_view text, double& serial, bool date1904);

// A table argument of a lookup: a range or an array, read cell by cell.
class Grid {
public:
    Grid(const Evaluator& ev, const Item& it);
    int rows() const { return rows_; }
    int cols() const { return cols_; }
    ss::Value at(int r, int c) const;
    bool valid() const { return valid_; }

private:
    const Evaluator& ev_;
    const Item& item_;
    int rows_ = 1, cols_ = 1;
    bool valid_ = true;
};

} // namespace ss::formula::detail
