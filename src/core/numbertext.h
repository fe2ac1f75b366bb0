#pragma once
// Amounts are text everywhere in the program. These routines turn such texts into the one
// display form of the sheet (the user's currency text) and cope with the locale's decimal mark.
// They follow the default QLocale at the moment of each call, unless a locale is given.
// Reading is the spreadsheet engine's: the texts go through its typed-text reader with the
// locale's conventions (amountConventions), so the program and the workbook read alike.
//
// Every locale reads back what it writes: the numeric test accepts whatever FormatAmount makes
// (digit groups of the locale, Indian ones included, no-break and narrow spaces, apostrophes,
// the currency symbol or code before or after, each of the locale's negative forms, the locale's
// own digits), and amounts are rounded on their decimal text, halves away from zero, as people
// count (2.675 gives 2.68), not on the nearest binary double.
#include "spreadsheet/textinput.h"

#include <QLocale>
#include <QString>
#include <QVariant>

#include <optional>

namespace corvantis {

// The locale's decimal separator: the second character of 0.5 written in the locale.
QString DecimalSeparator();

// Replaces every "." and then every "," by the locale's decimal separator.
QString NormalizeDecimal(const QString& text);

// A number as it was written: its sign and its digits before and after the decimal mark, in
// Latin digits, nothing lost to binary floating point.
struct DecimalText {
    bool negative = false;
    QString whole = QStringLiteral("0");   // no leading zeros; "0" for none
    QString fraction;                     // as written, trailing zeros kept

    // Rounded to `decimals` places, halves away from zero; a zero is never negative.
    DecimalText rounded(int decimals) const;
    // "-1234.5": the C form, which QByteArray::toDouble and the like read.
    QString toPlain() const;
    // The nearest double; nullopt when it is too large for one.
    std::optional<double> toDouble() const;
    bool isZero() const;
    // The exact decimal form of a double as its shortest round-trip text (2.675 is "2.675").
    static DecimalText fromDouble(double value);
};

// The number a text stands for under `locale`'s conventions: blanks around, a sign or the
// locale's parentheses, the currency symbol (or code) before or after, digit groups, one decimal
// mark, an exponent; the locale's own digits as well as Latin ones. nullopt when it is no number,
// and for a percentage: an amount is never one.
std::optional<DecimalText> ReadNumber(const QString& text, const QLocale& locale);

// A number with a trailing "%" allowed, as an IND. % cell holds it: "12.5%" gives 12.5 (the digits
// as typed, not divided by 100); nullopt when it is no number.
std::optional<DecimalText> ReadPercentage(const QString& text, const QLocale& locale);
// The number in `locale`'s sign and decimal mark, its digits as they are, without groups.
QString NumberText(const DecimalText& number, const QLocale& locale = QLocale());

// The decimals of the locale's currency: three for the dinars of Tunisia, Kuwait, Bahrain,
// Jordan, Iraq, Libya and the Omani rial, none for the yen and the won, two for the others.
int CurrencyDecimals(const QLocale& locale = QLocale());

// The locale-aware numeric test under the default locale (or the one given).
bool IsNumeric(const QString& text);
bool IsNumeric(const QString& text, const QLocale& locale);
// The value of a text that passes IsNumeric; nullopt otherwise.
std::optional<double> NumericValue(const QString& text);
std::optional<double> NumericValue(const QString& text, const QLocale& locale);

// A numeric value (number, or text passing IsNumeric) is returned unchanged; any other text keeps
// only its digits and the decimal separators that are not its first character; nothing left
// gives the integer 0.
QVariant ClearNonNumeric(const QVariant& value);

// The locale's currency text of ClearNonNumeric(value), rounded half away from zero on its
// decimal value. Two decimals stand for the currency's own: a dinar amount keeps three, a yen
// amount none unless it has a fraction (then up to two, so nothing typed is lost); any other
// count is taken as it is.
// Throws corvantis::StepError ("Type mismatch") when the cleaned value is still no number,
// for instance a text with two decimal separators.
QString FormatAmount(const QVariant& value, int decimals);

// A stored amount written under `writtenIn`, in today's currency text: read with the locale it
// was written in, shown in the current one. A text that locale cannot read goes the way of
// FormatAmount (read by the current locale, or reduced to its digits when neither reads it).
QString FormatStoredAmount(const QString& stored, int decimals, const QLocale& writtenIn);
// The same, but only for a text that the locale it was written in (or today's) reads as an
// amount: nullopt for any other, which is never turned into a number of another size.
std::optional<QString> FormatReadableAmount(const QString& stored, int decimals, const QLocale& writtenIn);
// A stored plain number (an IND. %) written under `writtenIn`, with the current locale's sign
// and decimal mark and the same digits; a text `writtenIn` does not read is returned unchanged.
QString ConvertNumberText(const QString& stored, const QLocale& writtenIn);

// How the locale writes amounts, for the engine's typed-text reader: its plain and currency
// marks (Indian groups included), its signs, and its currency as a symbol, as written in its
// currency texts and as an ISO code. Worked out once per locale; the reference stays valid.
const ss::NumberLocale& amountConventions(const QLocale& locale = QLocale());

// A name that gives the same locale back through QLocale(QString): "de_Latn_DE", "C".
QString LocaleName(const QLocale& locale);

} // namespace corvantis
