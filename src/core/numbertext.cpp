#include "core/numbertext.h"

#include "core/guard.h"

#include <QLocale>

#include <cmath>

namespace corvantis {

QString DecimalSeparator()
{
    const QString half = QLocale().toString(0.5).trimmed();
    return half.size() >= 2 ? half.mid(1, 1) : QStringLiteral(".");
}

QString NormalizeDecimal(const QString& text)
{
    const QString sep = DecimalSeparator();
    QString out = text;
    out.replace(QLatin1Char('.'), sep);
    out.replace(QLatin1Char(','), sep);
    return out;
}

namespace {

bool startsWithSign(const QString& s, const QLocale& l)
{
    if (s.isEmpty())
        return false;
    const QChar c = s.front();
    return c == QLatin1Char('-') || c == QLatin1Char('+') || QString(c) == l.negativeSign()
        || QString(c) == l.positiveSign();
}

} // namespace

std::optional<double> NumericValue(const QString& text)
{
    const QLocale locale;
    const QString symbol = locale.currencySymbol();
    QString s = text.trimmed();
    if (s.isEmpty())
        return std::nullopt;

    // The accounting form the locale itself writes for negative amounts: "($5.00)".
    bool bracketed = false;
    if (s.startsWith(QLatin1Char('(')) && s.endsWith(QLatin1Char(')'))) {
        bracketed = true;
        s = s.mid(1, s.size() - 2).trimmed();
    }

    QString number;
    if (startsWithSign(s, locale)) {
        // "-$5.00" or "-5.00 €"
        const QString sign = s.left(1);
        QString rest = s.mid(1).trimmed();
        if (!symbol.isEmpty() && rest.startsWith(symbol))
            rest = rest.mid(symbol.size()).trimmed();
        else if (!symbol.isEmpty() && rest.endsWith(symbol))
            rest = rest.left(rest.size() - symbol.size()).trimmed();
        if (startsWithSign(rest, locale))
            return std::nullopt;
        number = sign + rest;
    } else if (!symbol.isEmpty() && s.startsWith(symbol)) {
        number = s.mid(symbol.size()).trimmed();   // "$5.00", "$-5.00", "€ 5,00"
    } else if (!symbol.isEmpty() && s.endsWith(symbol)) {
        number = s.left(s.size() - symbol.size()).trimmed();   // "5,00 €"
    } else {
        number = s;
    }
    if (number.isEmpty() || (bracketed && startsWithSign(number, locale)))
        return std::nullopt;
    bool hasDigit = false;
    for (const QChar c : number)
        hasDigit = hasDigit || c.isDigit();
    if (!hasDigit)
        return std::nullopt;

    bool ok = false;
    const double value = locale.toDouble(number, &ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return bracketed ? -value : value;
}

bool IsNumeric(const QString& text)
{
    return NumericValue(text).has_value();
}

namespace {

bool isNumber(const QVariant& v)
{
    switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float:
        return true;
    default:
        return false;
    }
}

} // namespace

QVariant ClearNonNumeric(const QVariant& value)
{
    if (isNumber(value) || IsNumeric(value.toString()))   // 100, 102
        return value;
    // 104 to 116: the digits, and the decimal separators that are not the first character.
    QString kept;
    const QString text = value.toString();
    const QString separator = DecimalSeparator();
    for (qsizetype p = 0; p < text.size(); ++p) {
        const QString c = text.mid(p, 1);
        if ((c == separator && p > 0) || (c.size() == 1 && c.at(0) >= u'0' && c.at(0) <= u'9'))
            kept += c;
    }
    if (kept.isEmpty())
        return QVariant(0);   // 124
    return QVariant(kept);
}

QString FormatAmount(const QVariant& value, int decimals)
{
    const QVariant cleaned = ClearNonNumeric(value);
    double amount = 0;
    if (isNumber(cleaned)) {
        amount = cleaned.toDouble();
    } else {
        const std::optional<double> v = NumericValue(cleaned.toString());
        if (!v)
            throw StepError(QStringLiteral("Type mismatch"));
        amount = *v;
    }
    const QLocale locale;
    return locale.toCurrencyString(amount, locale.currencySymbol(), decimals);
}

} // namespace corvantis
