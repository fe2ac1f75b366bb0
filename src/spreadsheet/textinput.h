#pragma once
// What a spreadsheet does with typed text: "1,234.50", "$12", "-5", "7%", "" or "Parts".
#include "spreadsheet/value.h"

#include <string>
#include <string_view>

namespace ss {

// The user's number conventions. The engine core does not know the system locale;
// the program passes what it read from its locale.
struct NumberLocale {
    std::string decimal = ".";
    std::string group = ",";
    std::string currencySymbol = "$";
    std::string negativeSign = "-";
    // Locales with digits of their own (Arabic, Devanagari, ...): this zero and its nine
    // successors read as 0-9, as well as the Latin digits.
    std::string zeroDigit = "0";
    // Digits in each group left of the last one: 2 where amounts are grouped as in India
    // ("12,34,567"); groups of three are read as well.
    int secondaryGroupSize = 3;
};

// A text that reads as a number (blanks around, sign or parentheses, grouping, decimal mark,
// currency symbol before or after, trailing percent) becomes that number (7% -> 0.07);
// an empty text becomes Blank; anything else stays text.
Value valueFromTypedText(std::string_view text, const NumberLocale& locale = {});

} // namespace ss
