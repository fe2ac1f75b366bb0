#pragma once
// What a spreadsheet does with typed text: "1,234.50", "$12", "-5", "7%", "" or "Parts".
//
// This is the one reader of numbers written in a locale's conventions: the program's own amount
// routines read their texts through readTypedNumber as well, so a locale's quirks are handled here
// once. Texts are UTF-8. Whatever the locale, a text is compared in one spelling: marks that only
// steer the direction are dropped, the digits of every script read as 0-9, every kind of space is
// a blank, and the minus signs, apostrophes and full-width marks have one form each.
#include "spreadsheet/value.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ss {

// The user's number conventions. The engine core does not know the system locale;
// the program passes what it read from its locale, as the locale writes it.
struct NumberLocale {
    std::string decimal = ".";
    std::string group = ",";
    std::string currencySymbol = "$";
    std::string negativeSign = "-";
    // Digits in each group left of the last one: 2 where amounts are grouped as in India
    // ("12,34,567"); groups of three are read as well.
    int secondaryGroupSize = 3;
    std::string positiveSign = "+";
    // Further spellings read as the currency (the narrow symbol, the ISO code) and as a minus
    // sign (the one the locale's negative amounts carry). "-" and "+" are always signs.
    std::vector<std::string> otherCurrencySymbols = {};
    std::vector<std::string> otherNegativeSigns = {};
    // The decimal and group marks of the locale's currency texts where they are not those of its
    // plain numbers (monetary settings of their own); empty for the same marks. Texts are read
    // with the plain marks first, then with these.
    std::string currencyDecimal = {};
    std::string currencyGroup = {};
    int currencySecondaryGroupSize = 3;
    // Reads the ASCII point (and comma) people type on any keyboard where the locale leaves them
    // free: "1234.56" and "1,234.56" where the locale's own marks are not ASCII ones ("٫", "٬"),
    // "1234.56" where the decimal mark is a comma and the point means nothing ("1 234,56"), and
    // "1234,50" where the decimal mark is a point and the comma means nothing. With only one of
    // the two free, three digits after it could be a digit group: such a text is no number.
    bool readFreeAsciiMarks = false;

    bool operator==(const NumberLocale&) const = default;
};

// A number as it was typed, with nothing lost to binary floating point.
struct TypedNumber {
    bool negative = false;   // never for a zero
    std::string whole;       // Latin digits before the decimal mark, as typed ("" in ".5")
    std::string fraction;    // Latin digits after it, trailing zeros kept
    long long exponent = 0;  // as typed after "e", held within +-1,000,000
    bool percent = false;    // a trailing "%": value is already divided by 100
    bool currency = false;   // the currency symbol or code went with it
    double value = 0;        // the number: finite, never -0
};

// The number a text stands for: blanks around, a sign or parentheses, the currency symbol (or
// code) before or after, digit groups (the first may be long: "1234,567"), one decimal mark, an
// exponent, a trailing percent (not together with a currency). nullopt when it is no number, or
// one beyond the range of a double ("1e400", "1e-400").
std::optional<TypedNumber> readTypedNumber(std::string_view text, const NumberLocale& locale = {});

// A text that reads as a number becomes that number (7% -> 0.07); an empty text, or one of only
// blanks, becomes Blank; anything else stays text, as typed.
Value valueFromTypedText(std::string_view text, const NumberLocale& locale = {});

// The two readers above for many texts in the same conventions (the cells a sheet is filled
// with): what the locale's marks, signs and symbols are in the spelling texts are compared in
// is worked out once, not for every text.
class TypedTextReader {
public:
    explicit TypedTextReader(const NumberLocale& locale = {});
    TypedTextReader(TypedTextReader&&) noexcept;
    TypedTextReader& operator=(TypedTextReader&&) noexcept;
    ~TypedTextReader();

    const NumberLocale& locale() const { return mLocale; }
    std::optional<TypedNumber> number(std::string_view text) const;   // as readTypedNumber
    Value value(std::string_view text) const;                          // as valueFromTypedText

    struct Spellings;   // the conventions in that spelling; defined with the reading

private:
    NumberLocale mLocale;
    std::unique_ptr<const Spellings> mSpellings;
};

} // namespace ss
