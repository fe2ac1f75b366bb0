#pragma once
// Values on the evaluator's stack and the coercions between them.
#include "spreadsheet/formula.h"

#include <span>
#include <string>

namespace ss::formula::detail {

// A stack entry: a plain value, a reference (one cell or a range, read lazily) or a missing argument.
struct Item {
    enum Kind : std::uint8_t { Val, Ref, Area, Missing } kind = Val;
    Value value;
    RangeAddress range;
    static Item of(Value v)
    {
        Item i;
        i.value = std::move(v);
        return i;
    }
};

// Number for arithmetic: numbers, Booleans, blank (0), text that reads as a number; else the error.
bool toNumber(const Value& v, double& out, ErrorCode& err);
// Text for &: numbers in General form, TRUE/FALSE, blank as "".
bool toText(const Value& v, std::string& out, ErrorCode& err);
// Locale-free number in text: blanks around, sign, digits, one '.', exponent.
bool parseNumber(std::string_view s, double& out);
// Number as Excel shows it in General when turned into text (up to 15 significant digits).
std::string numberToText(double v);
// -1 / 0 / 1 with Excel's ordering: numbers < texts < Booleans; texts without regard to case;
// a blank compares as 0, "" or FALSE to match the other side. Neither side may be an error.
int compareValues(const Value& a, const Value& b);
// A finite number, else #NUM!.
Value numberResult(double v);

class Evaluator {
public:
    const Context& ctx;
    int row, col;

    Value cell(int r, int c) const;
    // The value of an entry where one value is needed: a range is reduced by implicit intersection.
    Value value(const Item& it) const;
    // Calls built-in function `index`; IF and CHOOSE pass a reference through unchanged.
    Item callItem(std::uint16_t index, std::span<Item> args) const;
    Value call(std::uint16_t index, std::span<Item> args) const;
};

} // namespace ss::formula::detail
