#pragma once
// Amounts are text everywhere in the program. These routines turn such texts into the one
// display form of the sheet (the user's currency text) and cope with the locale's decimal mark.
// They follow the default QLocale at the moment of each call.
#include <QString>
#include <QVariant>

#include <optional>

namespace corvantis {

// The locale's decimal separator: the second character of 0.5 written in the locale.
QString DecimalSeparator();

// Replaces every "." and then every "," by the locale's decimal separator.
QString NormalizeDecimal(const QString& text);

// The locale-aware numeric test: blanks around, an optional sign, digits with the locale's
// grouping and at most one decimal separator, optionally the locale's currency symbol before
// or after (and the locale's own negative currency forms such as "($5.00)" or "-$5.00").
bool IsNumeric(const QString& text);
// The value of a text that passes IsNumeric; nullopt otherwise.
std::optional<double> NumericValue(const QString& text);

// A numeric value (number, or text passing IsNumeric) is returned unchanged; any other text keeps
// only its digits and the decimal separators that are not its first character; nothing left
// gives the integer 0.
QVariant ClearNonNumeric(const QVariant& value);

// The locale's currency text, with exactly `decimals` decimals, of ClearNonNumeric(value).
// Throws corvantis::StepError ("Type mismatch") when the cleaned value is still no number,
// for instance a text with two decimal separators.
QString FormatAmount(const QVariant& value, int decimals);

} // namespace corvantis
