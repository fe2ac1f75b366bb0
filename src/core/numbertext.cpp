#include "core/numbertext.h"

#include "core/guard.h"

#include <QByteArray>
#include <QList>

#include <algorithm>
#include <cmath>
#include <vector>

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

// ------------------------------------------------------------------ decimal digits

QString zeros(qsizetype n) { return QString(std::max<qsizetype>(0, n), QLatin1Char('0')); }

QString withoutLeadingZeros(const QString& digits)
{
    qsizetype i = 0;
    while (i + 1 < digits.size() && digits.at(i) == QLatin1Char('0'))
        ++i;
    return digits.isEmpty() ? QStringLiteral("0") : digits.mid(i);
}

// The most digits a number may have before or after its mark once the exponent is applied:
// far beyond any double, small enough that "1e999999999" costs nothing.
constexpr int kMaxDigits = 1000;

// whole.fraction x 10^exponent as plain digits; nullopt when it would be too large.
std::optional<DecimalText> shifted(bool negative, const QString& whole, const QString& fraction, long long exponent)
{
    DecimalText d;
    d.negative = negative;
    if (exponent == 0) {
        d.whole = withoutLeadingZeros(whole);
        d.fraction = fraction;
    } else {
        const QString digits = whole + fraction;
        const long long point = static_cast<long long>(whole.size()) + exponent;
        if (point > kMaxDigits)
            return std::nullopt;
        if (point < -kMaxDigits) {
            d.whole = QStringLiteral("0");   // far below a cent: nothing
        } else if (point <= 0) {
            d.whole = QStringLiteral("0");
            d.fraction = zeros(-point) + digits;
        } else if (point >= digits.size()) {
            d.whole = withoutLeadingZeros(digits + zeros(point - digits.size()));
        } else {
            d.whole = withoutLeadingZeros(digits.left(point));
            d.fraction = digits.mid(point);
        }
    }
    if (d.isZero())
        d.negative = false;
    return d;
}

// ------------------------------------------------------------------ one spelling for every text

bool isMinusLike(char32_t c)
{
    return c == 0x2212 || c == 0x2012 || c == 0x2013 || c == 0xFE63 || c == 0xFF0D;
}

bool isApostropheLike(char32_t c) { return c == 0x2019 || c == 0x2018 || c == 0x02BC || c == 0xFF07; }

// Direction marks dropped, every digit Latin, every space a blank, minus signs and apostrophes in
// one form each: texts and conventions are compared in this spelling.
QString normalized(const QString& text)
{
    QString out;
    out.reserve(text.size());
    const QList<uint> codePoints = text.toUcs4();
    for (const uint u : codePoints) {
        const char32_t c = u;
        const QChar::Category category = QChar::category(c);
        if (category == QChar::Other_Format)
            continue;
        if (category == QChar::Number_DecimalDigit && QChar::digitValue(c) >= 0) {
            out += QChar(u'0' + QChar::digitValue(c));
        } else if (category == QChar::Separator_Space || c == u'\t') {
            out += QLatin1Char(' ');
        } else if (isMinusLike(c)) {
            out += QLatin1Char('-');
        } else if (isApostropheLike(c)) {
            out += QLatin1Char('\'');
        } else if (c == 0xFF0B) {
            out += QLatin1Char('+');
        } else if (c == 0xFF0E) {
            out += QLatin1Char('.');
        } else if (c == 0xFF0C) {
            out += QLatin1Char(',');
        } else {
            out += QString::fromUcs4(&c, 1);
        }
    }
    return out;
}

bool isDirectionMark(char32_t c) { return c == 0x200E || c == 0x200F || c == 0x061C; }

// The text without the marks that only steer its direction (a currency symbol may carry one).
QString withoutMarks(const QString& text)
{
    QString out;
    const QList<uint> codePoints = text.toUcs4();
    for (const uint u : codePoints) {
        const char32_t c = u;
        if (!isDirectionMark(c))
            out += QString::fromUcs4(&c, 1);
    }
    return out;
}

// ------------------------------------------------------------------ what a locale writes

// One way of writing numbers: marks in the normalized spelling.
struct Conventions {
    QString decimal;
    QString group;
    int secondaryGroupSize = 3;
    QStringList minusSigns;
    QStringList plusSigns;
    QStringList symbols;   // longest first
};

// A currency text taken apart around its digits.
struct CurrencySample {
    QString prefix, suffix;      // raw, around the digits
    QStringList separators;      // raw non-digit runs between the digits
    QList<int> digitRuns;        // lengths of the digit runs
};

CurrencySample sampleOf(const QString& text)
{
    CurrencySample s;
    const QList<uint> cps = text.toUcs4();
    qsizetype first = -1, last = -1;
    for (qsizetype i = 0; i < cps.size(); ++i) {
        if (QChar::category(char32_t(cps[i])) == QChar::Number_DecimalDigit) {
            if (first < 0)
                first = i;
            last = i;
        }
    }
    auto str = [&](qsizetype from, qsizetype to) {
        QString out;
        for (qsizetype i = from; i < to; ++i) {
            const char32_t c = cps[i];
            out += QString::fromUcs4(&c, 1);
        }
        return out;
    };
    if (first < 0) {
        s.prefix = text;
        return s;
    }
    s.prefix = str(0, first);
    s.suffix = str(last + 1, cps.size());
    qsizetype i = first;
    while (i <= last) {
        qsizetype j = i;
        while (j <= last && QChar::category(char32_t(cps[j])) == QChar::Number_DecimalDigit)
            ++j;
        s.digitRuns << int(j - i);
        i = j;
        while (j <= last && QChar::category(char32_t(cps[j])) != QChar::Number_DecimalDigit)
            ++j;
        if (j > i)
            s.separators << str(i, j);
        i = j;
    }
    return s;
}

// The observed marks of the locale's currency text: decimal (raw), group (raw, may be empty),
// the symbol as written and the size of the inner digit groups.
struct CurrencyMarks {
    QString decimal, group, symbol;
    int secondaryGroupSize = 3;
};

CurrencyMarks currencyMarks(const QLocale& locale)
{
    CurrencyMarks m;
    const CurrencySample s = sampleOf(locale.toCurrencyString(1234567.89, locale.currencySymbol(), 2));
    m.symbol = withoutMarks(s.prefix + QLatin1Char(' ') + s.suffix).trimmed();
    if (!s.separators.isEmpty() && !s.digitRuns.isEmpty() && s.digitRuns.last() == 2)
        m.decimal = withoutMarks(s.separators.last());
    if (s.separators.size() >= 2)
        m.group = withoutMarks(s.separators.first());
    for (qsizetype i = 1; i + 2 < s.digitRuns.size(); ++i) {
        if (s.digitRuns[i] == 2)
            m.secondaryGroupSize = 2;
    }
    return m;
}

void addUnique(QStringList& list, const QString& item)
{
    if (!item.isEmpty() && !list.contains(item))
        list << item;
}

std::vector<Conventions> buildConventions(const QLocale& locale)
{
    Conventions c;
    c.decimal = normalized(locale.decimalPoint());
    c.group = normalized(locale.groupSeparator());
    const CurrencySample grouped = sampleOf(locale.toString(qlonglong(1234567890)));
    for (qsizetype i = 1; i + 1 < grouped.digitRuns.size(); ++i) {
        if (grouped.digitRuns[i] == 2)
            c.secondaryGroupSize = 2;
    }
    c.minusSigns << QStringLiteral("-");
    addUnique(c.minusSigns, normalized(locale.negativeSign()).trimmed());
    c.plusSigns << QStringLiteral("+");
    addUnique(c.plusSigns, normalized(locale.positiveSign()).trimmed());

    const CurrencyMarks marks = currencyMarks(locale);
    addUnique(c.symbols, normalized(locale.currencySymbol(QLocale::CurrencySymbol)).trimmed());
    addUnique(c.symbols, normalized(marks.symbol).trimmed());
    addUnique(c.symbols, normalized(locale.currencySymbol(QLocale::CurrencyIsoCode)).trimmed());
    // Whatever the negative currency text carries besides the digits, the symbol, blanks and
    // brackets is its minus sign.
    const CurrencySample negative = sampleOf(locale.toCurrencyString(-1234567.89, locale.currencySymbol(), 2));
    QString sign = normalized(negative.prefix + QLatin1Char(' ') + negative.suffix);
    for (const QString& symbol : std::as_const(c.symbols))
        sign.remove(symbol);
    sign.remove(QLatin1Char('(')).remove(QLatin1Char(')')).remove(QLatin1Char(' '));
    addUnique(c.minusSigns, sign);
    std::sort(c.symbols.begin(), c.symbols.end(), [](const QString& a, const QString& b) { return a.size() > b.size(); });
    std::sort(c.minusSigns.begin(), c.minusSigns.end(), [](const QString& a, const QString& b) { return a.size() > b.size(); });

    std::vector<Conventions> all{c};
    // The currency text may be written with other marks than plain numbers (a system whose
    // monetary settings differ from its numeric ones): read those too.
    const QString currencyDecimal = normalized(marks.decimal);
    const QString currencyGroup = normalized(marks.group);
    if ((!currencyDecimal.isEmpty() && currencyDecimal != c.decimal)
        || (!currencyGroup.isEmpty() && currencyGroup != c.group)) {
        Conventions money = c;
        if (!currencyDecimal.isEmpty())
            money.decimal = currencyDecimal;
        if (!currencyGroup.isEmpty())
            money.group = currencyGroup;
        money.secondaryGroupSize = marks.secondaryGroupSize;
        all.push_back(money);
    }
    return all;
}

const std::vector<Conventions>& conventionsOf(const QLocale& locale)
{
    // Reading a text is frequent (every leave, every stored amount); a locale's conventions change
    // only with the locale.
    thread_local QLocale cachedLocale(QLocale::C);
    thread_local std::vector<Conventions> cached;
    thread_local bool filled = false;
    if (!filled || !(cachedLocale == locale)) {
        cached = buildConventions(locale);
        cachedLocale = locale;
        filled = true;
    }
    return cached;
}

// ------------------------------------------------------------------ reading

bool isAsciiDigit(QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); }

// The digits, digit groups, decimal mark and exponent that remain of a number text once its sign
// and symbol are gone.
std::optional<DecimalText> readDigits(const QString& s, bool negative, const Conventions& c)
{
    QString whole, fraction;
    bool decimal = false, grouped = false;
    int groupDigits = 0;
    long long exponent = 0;
    qsizetype i = 0;
    const bool spaceGroups = c.group == QLatin1String(" ");
    while (i < s.size()) {
        const QChar ch = s.at(i);
        if (isAsciiDigit(ch)) {
            if (decimal) {
                fraction += ch;
            } else {
                whole += ch;
                ++groupDigits;
            }
            ++i;
        } else if (!decimal && !c.decimal.isEmpty() && QStringView(s).mid(i).startsWith(c.decimal)) {
            if (grouped && groupDigits != 3)
                return std::nullopt;
            decimal = true;
            i += c.decimal.size();
        } else if (!decimal && !whole.isEmpty() && !c.group.isEmpty()
                   && (QStringView(s).mid(i).startsWith(c.group) || (spaceGroups && ch == QLatin1Char(' ')))) {
            // The first group may be short; the groups after it hold three digits, or two for
            // the inner groups of Indian grouping.
            if (grouped && groupDigits != 3 && groupDigits != c.secondaryGroupSize)
                return std::nullopt;
            i += spaceGroups ? 1 : c.group.size();
            if (i >= s.size() || !isAsciiDigit(s.at(i)))
                return std::nullopt;
            grouped = true;
            groupDigits = 0;
        } else if ((ch == QLatin1Char('e') || ch == QLatin1Char('E')) && !(whole.isEmpty() && fraction.isEmpty())) {
            ++i;
            bool minus = false;
            if (i < s.size() && (s.at(i) == QLatin1Char('-') || s.at(i) == QLatin1Char('+')))
                minus = s.at(i++) == QLatin1Char('-');
            if (i >= s.size())
                return std::nullopt;
            while (i < s.size()) {
                if (!isAsciiDigit(s.at(i)))
                    return std::nullopt;
                exponent = std::min<long long>(exponent * 10 + (s.at(i).unicode() - u'0'), 1000000);
                ++i;
            }
            if (minus)
                exponent = -exponent;
        } else {
            return std::nullopt;
        }
    }
    if (whole.isEmpty() && fraction.isEmpty())
        return std::nullopt;
    if (!decimal && grouped && groupDigits != 3)
        return std::nullopt;
    return shifted(negative, whole, fraction, exponent);
}

std::optional<DecimalText> readWith(const QString& text, const Conventions& c)
{
    QString s = text.trimmed();
    bool negative = false, signSeen = false, symbolSeen = false, bracketed = false;
    for (bool changed = true; changed && !s.isEmpty();) {
        changed = false;
        if (!signSeen && s.size() >= 2 && s.startsWith(QLatin1Char('(')) && s.endsWith(QLatin1Char(')'))) {
            bracketed = negative = signSeen = changed = true;   // "($5.00)"
            s = s.mid(1, s.size() - 2).trimmed();
            continue;
        }
        if (!signSeen) {
            for (const QString& m : c.minusSigns) {
                if (s.startsWith(m)) {
                    negative = signSeen = changed = true;
                    s = s.mid(m.size()).trimmed();
                    break;
                }
            }
            for (const QString& p : c.plusSigns) {
                if (!changed && s.startsWith(p)) {
                    signSeen = changed = true;
                    s = s.mid(p.size()).trimmed();
                    break;
                }
            }
            if (changed)
                continue;
        }
        if (!symbolSeen) {
            for (const QString& symbol : c.symbols) {
                if (s.startsWith(symbol)) {
                    s = s.mid(symbol.size()).trimmed();   // "$5.00", "$-5.00", "€ 5,00"
                } else if (s.endsWith(symbol)) {
                    s = s.left(s.size() - symbol.size()).trimmed();   // "5,00 €", "-5,00 kr"
                } else {
                    continue;
                }
                symbolSeen = changed = true;
                break;
            }
        }
    }
    Q_UNUSED(bracketed);
    if (s.isEmpty())
        return std::nullopt;
    std::optional<DecimalText> d = readDigits(s, negative, c);
    if (d && !d->toDouble())
        return std::nullopt;   // a number, but beyond any amount ("1e400")
    return d;
}

} // namespace

// ------------------------------------------------------------------ DecimalText

bool DecimalText::isZero() const
{
    for (const QChar c : whole + fraction) {
        if (c != QLatin1Char('0'))
            return false;
    }
    return true;
}

DecimalText DecimalText::rounded(int decimals) const
{
    decimals = std::max(0, decimals);
    DecimalText r = *this;
    if (r.fraction.size() <= decimals) {
        r.fraction += zeros(decimals - r.fraction.size());
    } else {
        const bool up = r.fraction.at(decimals) >= QLatin1Char('5');
        r.fraction.truncate(decimals);
        if (up) {
            QString digits = r.whole + r.fraction;
            qsizetype i = digits.size() - 1;
            for (; i >= 0; --i) {
                if (digits.at(i) == QLatin1Char('9')) {
                    digits[i] = QLatin1Char('0');
                } else {
                    digits[i] = QChar(digits.at(i).unicode() + 1);
                    break;
                }
            }
            if (i < 0)
                digits.prepend(QLatin1Char('1'));
            r.whole = withoutLeadingZeros(digits.left(digits.size() - decimals));
            r.fraction = digits.right(decimals);
        }
    }
    if (r.isZero())
        r.negative = false;
    return r;
}

QString DecimalText::toPlain() const
{
    QString s = negative ? QStringLiteral("-") : QString();
    s += whole.isEmpty() ? QStringLiteral("0") : whole;
    if (!fraction.isEmpty())
        s += QLatin1Char('.') + fraction;
    return s;
}

std::optional<double> DecimalText::toDouble() const
{
    bool ok = false;
    const double v = toPlain().toLatin1().toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return std::nullopt;
    return v;
}

DecimalText DecimalText::fromDouble(double value)
{
    static const Conventions plain{QStringLiteral("."), QString(), 3, {QStringLiteral("-")}, {QStringLiteral("+")}, {}};
    const QString text = QString::number(value, 'g', QLocale::FloatingPointShortest);
    const bool negative = text.startsWith(QLatin1Char('-'));
    const std::optional<DecimalText> d = readDigits(negative ? text.mid(1) : text, negative, plain);
    return d ? *d : DecimalText{};
}

// ------------------------------------------------------------------ the routines

std::optional<DecimalText> ReadNumber(const QString& text, const QLocale& locale)
{
    const QString s = normalized(text);
    for (const Conventions& c : conventionsOf(locale)) {
        if (std::optional<DecimalText> d = readWith(s, c))
            return d;
    }
    return std::nullopt;
}

std::optional<double> NumericValue(const QString& text, const QLocale& locale)
{
    const std::optional<DecimalText> d = ReadNumber(text, locale);
    return d ? d->toDouble() : std::nullopt;
}

std::optional<double> NumericValue(const QString& text) { return NumericValue(text, QLocale()); }

bool IsNumeric(const QString& text, const QLocale& locale) { return ReadNumber(text, locale).has_value(); }

bool IsNumeric(const QString& text) { return IsNumeric(text, QLocale()); }

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

// The amount in the current locale's currency text, rounded on its decimal digits.
QString currencyText(const DecimalText& amount, int decimals)
{
    const std::optional<double> value = amount.rounded(decimals).toDouble();
    if (!value)
        throw StepError(QStringLiteral("Type mismatch"));
    const QLocale locale;
    return locale.toCurrencyString(*value, locale.currencySymbol(), std::max(0, decimals));
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
    std::optional<DecimalText> amount;
    if (isNumber(cleaned)) {
        const double v = cleaned.toDouble();
        if (std::isfinite(v))
            amount = DecimalText::fromDouble(v);
    } else {
        amount = ReadNumber(cleaned.toString(), QLocale());
    }
    if (!amount)
        throw StepError(QStringLiteral("Type mismatch"));
    return currencyText(*amount, decimals);
}

QString FormatStoredAmount(const QString& stored, int decimals, const QLocale& writtenIn)
{
    if (const std::optional<DecimalText> amount = ReadNumber(stored, writtenIn))
        return currencyText(*amount, decimals);
    return FormatAmount(stored, decimals);
}

QString ConvertNumberText(const QString& stored, const QLocale& writtenIn)
{
    const std::optional<DecimalText> number = ReadNumber(stored, writtenIn);
    if (!number)
        return stored;
    const QLocale locale;
    QString out = number->negative ? withoutMarks(locale.negativeSign()) : QString();
    out += number->whole;
    if (!number->fraction.isEmpty())
        out += locale.decimalPoint() + number->fraction;
    return out;
}

AmountConventions amountConventions(const QLocale& locale)
{
    const CurrencyMarks marks = currencyMarks(locale);
    AmountConventions a;
    a.decimal = marks.decimal.isEmpty() ? locale.decimalPoint() : marks.decimal;
    a.group = marks.group.isEmpty() ? locale.groupSeparator() : marks.group;
    a.secondaryGroupSize = marks.secondaryGroupSize;
    a.currencySymbol = marks.symbol;
    a.negativeSign = withoutMarks(locale.negativeSign());
    a.zeroDigit = locale.zeroDigit();
    return a;
}

QString LocaleName(const QLocale& locale)
{
    if (locale.language() == QLocale::C)
        return QStringLiteral("C");
    QStringList parts{QLocale::languageToCode(locale.language())};
    if (locale.script() != QLocale::AnyScript)
        parts << QLocale::scriptToCode(locale.script());
    if (locale.territory() != QLocale::AnyTerritory)
        parts << QLocale::territoryToCode(locale.territory());
    return parts.join(QLatin1Char('_'));
}

} // namespace corvantis
