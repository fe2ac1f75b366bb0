#pragma once
// Number format codes ("General", "#,##0", "0.0", "mmm-yy", "[$-409]mmm\-yy;@" ...) applied to values.
#include "spreadsheet/value.h"

#include <cstdint>
#include <memory>
#include <string>

namespace ss {

struct FormattedText {
    std::string text;                 // UTF-8
    std::uint32_t color = 0;          // 0 = no colour from the format; else 0xFF000000 | 0xRRGGBB ([Red] ...)
    bool hasColor = false;
};

// The text a spreadsheet shows for `value` under `formatCode`, with English month and day names
// (locale tags such as [$-409] are honoured or skipped). Text values go through the '@' section.
// `date1904` selects the date system for date codes.
FormattedText formatValue(const Value& value, const std::string& formatCode, bool date1904 = false);

// General format of a number as it fits a cell: up to 11 significant characters, like Excel.
std::string formatGeneral(double number);
// The same within `maxChars` characters (sign not counted), fewer digits as a narrow cell shows them.
std::string formatGeneral(double number, int maxChars);

bool isDateFormat(const std::string& formatCode);

// x (finite, above zero) to 15 significant digits, correctly rounded, as "d.ddddddddddddddde+XX"
// (printf's "%.14e"): the digits every number format starts from. NUL-terminated in `buf`.
void fifteenDigits(double x, char (&buf)[64]);

struct ParsedFormat;

// A format code read once, for the many values of a picture or a column that share it: formats
// exactly as formatValue does with the same code.
class NumberFormat {
public:
    explicit NumberFormat(const std::string& code);
    FormattedText format(const Value& value, bool date1904 = false) const;
    bool isDate() const;
    bool isGeneral() const { return general_; }   // "General" or no code
    const std::string& code() const { return code_; }

private:
    std::string code_;
    bool general_ = false;
    std::shared_ptr<const ParsedFormat> parsed_;   // null for General
};

} // namespace ss
