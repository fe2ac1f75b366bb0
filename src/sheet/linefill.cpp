#include "sheet/linefill.h"

#include "core/numbertext.h"

#include <QLocale>

#include <algorithm>
#include <cmath>
#include <limits>

namespace corvantis::sheet {

namespace {
// Past this the sums of a line would not fit in cents.
constexpr long long kMaxCents = std::numeric_limits<long long>::max() / 16;
} // namespace

std::optional<long long> amountCents(const QString& text)
{
    const std::optional<DecimalText> d = ReadNumber(text, QLocale());
    if (!d)
        return std::nullopt;
    const DecimalText r = d->rounded(2);
    if (r.whole.size() > 16)
        return std::nullopt;
    bool ok = false;
    const long long whole = r.whole.toLongLong(&ok);
    if (!ok)
        return std::nullopt;
    const QString fraction = (r.fraction + QStringLiteral("00")).left(2);
    long long cents = whole * 100 + fraction.toLongLong();
    if (cents > kMaxCents)
        return std::nullopt;
    return r.negative ? -cents : cents;
}

QString centsAsTypedText(long long cents)
{
    const QLocale locale;
    const unsigned long long magnitude = cents < 0 ? 0ULL - static_cast<unsigned long long>(cents)
                                                   : static_cast<unsigned long long>(cents);
    QString text = QString::number(magnitude / 100) + locale.decimalPoint()
        + QStringLiteral("%1").arg(magnitude % 100, 2, 10, QLatin1Char('0'));
    if (cents < 0)
        text.prepend(locale.negativeSign());
    return text;
}

std::vector<long long> spreadOverMonths(long long totalCents)
{
    const long long share = totalCents / 12;   // towards zero, so the last month keeps the sign's rest
    std::vector<long long> months(12, share);
    months.back() = totalCents - share * 11;
    return months;
}

std::vector<long long> growByPercent(long long startCents, double percent, int count)
{
    std::vector<long long> out;
    if (count <= 0)
        return out;
    out.reserve(size_t(count));
    long double value = startCents;
    const long double factor = 1.0L + static_cast<long double>(percent) / 100.0L;
    for (int i = 0; i < count; ++i) {
        // Tidied first, so a product just off a half cent (1.1 has no exact binary form) still
        // rounds as the decimal figures say; then halves away from zero.
        const long double rounded = std::round(std::round(value * 1e6L) / 1e6L);
        const long double bounded = std::clamp<long double>(rounded, -kMaxCents, kMaxCents);
        out.push_back(static_cast<long long>(bounded));
        value = bounded * factor;
    }
    return out;
}

} // namespace corvantis::sheet
