#pragma once
// The arithmetic of filling a line's months, in whole cents so that nothing is lost to binary
// fractions: a yearly total spread over twelve months adds up to that total exactly.
#include <QString>

#include <optional>
#include <vector>

namespace corvantis::sheet {

// An amount text in the current locale (as typed or as shown) in cents, rounded half away from
// zero; nullopt for a text that is no amount or too large to count in cents.
std::optional<long long> amountCents(const QString& text);

// Cents as the current locale's plain number ("1234.56", "1234,56"): a text the sheet's amount
// cells read as typed.
QString centsAsTypedText(long long cents);

// Twelve monthly shares of a total: the same amount each month, the last month taking what the
// rounding to cents leaves over, so that the twelve add up to the total.
std::vector<long long> spreadOverMonths(long long totalCents);

// `count` amounts starting at `startCents`, each the one before grown by `percent` per cent and
// rounded to cents, half away from zero.
std::vector<long long> growByPercent(long long startCents, double percent, int count);

} // namespace corvantis::sheet
