#include "core/numbertext.h"

#include "core/guard.h"

#include <QByteArray>
#include <QList>

#include <algorithm>
#include <cmath>
#include <unordered_map>
#include <utility>

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
// far beyond any double, small enough that "1e999999" costs nothing.
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
        // Leading zeros do not count towards the limit ("0.000123e1002" is no large number).
        qsizetype lead = 0;
        while (lead < digits.size() && digits.at(lead) == QLatin1Char('0'))
            ++lead;
        const bool zero = lead == digits.size();
        if (!zero && point - lead > kMaxDigits)
            return std::nullopt;
        if ((zero && point > kMaxDigits) || point < -kMaxDigits) {
            d.whole = QStringLiteral("0");   // a zero, or far below a cent: nothing
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

std::string utf8(const QString& text) { return text.toStdString(); }

ss::NumberLocale buildConventions(const QLocale& locale)
{
    ss::NumberLocale n;
    n.decimal = utf8(locale.decimalPoint());
    n.group = utf8(locale.groupSeparator());
    const CurrencySample grouped = sampleOf(locale.toString(qlonglong(1234567890)));
    for (qsizetype i = 1; i + 1 < grouped.digitRuns.size(); ++i) {
        if (grouped.digitRuns[i] == 2)
            n.secondaryGroupSize = 2;
    }
    n.negativeSign = utf8(withoutMarks(locale.negativeSign()));
    n.positiveSign = utf8(withoutMarks(locale.positiveSign()));

    // The currency as its texts write it, as the locale names its symbol, and as its ISO code.
    const CurrencyMarks marks = currencyMarks(locale);
    QStringList symbols{marks.symbol, locale.currencySymbol(QLocale::CurrencySymbol).trimmed(),
                        locale.currencySymbol(QLocale::CurrencyIsoCode).trimmed()};
    symbols.removeAll(QString());
    symbols.removeDuplicates();
    n.currencySymbol = symbols.isEmpty() ? std::string() : utf8(symbols.first());
    for (qsizetype i = 1; i < symbols.size(); ++i)
        n.otherCurrencySymbols.push_back(utf8(symbols.at(i)));
    // The spellings people type for a currency besides the one the locale writes: the ordinary
    // and the full-width yen sign and the Japanese word, "Rs." for the rupee, and so on.
    const QString iso = locale.currencySymbol(QLocale::CurrencyIsoCode);
    QStringList typed;
    if (iso == QLatin1String("JPY"))
        typed = {QStringLiteral("¥"), QStringLiteral("￥"), QStringLiteral("円")};
    else if (iso == QLatin1String("CNY"))
        typed = {QStringLiteral("¥"), QStringLiteral("￥"), QStringLiteral("元")};
    else if (iso == QLatin1String("INR"))
        typed = {QStringLiteral("₹"), QStringLiteral("Rs."), QStringLiteral("Rs")};
    else if (iso == QLatin1String("KRW"))
        typed = {QStringLiteral("₩"), QStringLiteral("￦"), QStringLiteral("원")};
    for (const QString& t : std::as_const(typed)) {
        if (!symbols.contains(t))
            n.otherCurrencySymbols.push_back(utf8(t));
    }
    n.readFreeAsciiMarks = true;

    // Whatever the negative currency text carries besides the digits, the symbol, blanks and
    // brackets is its minus sign.
    const CurrencySample negative = sampleOf(locale.toCurrencyString(-1234567.89, locale.currencySymbol(), 2));
    QString affixes = negative.prefix + QLatin1Char(' ') + negative.suffix;
    std::sort(symbols.begin(), symbols.end(), [](const QString& a, const QString& b) { return a.size() > b.size(); });
    for (const QString& symbol : std::as_const(symbols))
        affixes.remove(symbol);
    QString sign;
    for (const QChar c : std::as_const(affixes)) {
        if (!c.isSpace() && c.category() != QChar::Other_Format && c != QLatin1Char('(') && c != QLatin1Char(')'))
            sign += c;
    }
    if (!sign.isEmpty())
        n.otherNegativeSigns.push_back(utf8(sign));

    // The currency text may be written with other marks than plain numbers (a system whose
    // monetary settings differ from its numeric ones): those are read too.
    n.currencyDecimal = utf8(marks.decimal);
    n.currencyGroup = utf8(marks.group);
    n.currencySecondaryGroupSize = marks.secondaryGroupSize;
    return n;
}

struct LocaleHash {
    std::size_t operator()(const QLocale& l) const noexcept { return qHash(l); }
};

// A number as typed, as the program's decimal text.
std::optional<DecimalText> decimalTextOf(const ss::TypedNumber& n)
{
    return shifted(n.negative, QString::fromLatin1(n.whole), QString::fromLatin1(n.fraction), n.exponent);
}

} // namespace

const ss::NumberLocale& amountConventions(const QLocale& locale)
{
    // Reading a text is frequent (every leave, every stored amount, every cell a projection
    // writes); a locale's conventions change only with the locale.
    thread_local std::unordered_map<QLocale, ss::NumberLocale, LocaleHash> cache;
    thread_local const std::pair<const QLocale, ss::NumberLocale>* last = nullptr;
    if (last && last->first == locale)
        return last->second;
    auto it = cache.find(locale);
    if (it == cache.end())
        it = cache.emplace(locale, buildConventions(locale)).first;
    last = &*it;
    return it->second;
}

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
    static const ss::NumberLocale plain{".", "", "", "-"};
    const QString text = QString::number(value, 'g', QLocale::FloatingPointShortest);
    const std::optional<ss::TypedNumber> n = ss::readTypedNumber(text.toStdString(), plain);
    const std::optional<DecimalText> d = n ? decimalTextOf(*n) : std::nullopt;
    return d ? *d : DecimalText{};
}

// ------------------------------------------------------------------ the routines

namespace {

// The number a text stands for, when it is one of the kind asked for: an amount is never a
// percentage, a percentage never carries a currency.
enum class NumberKind { Amount, Percentage };
std::optional<DecimalText> readNumberOfKind(const QString& text, const QLocale& locale, NumberKind kind)
{
    const std::optional<ss::TypedNumber> n = ss::readTypedNumber(text.toStdString(), amountConventions(locale));
    if (!n || (kind == NumberKind::Amount ? n->percent : n->currency))
        return std::nullopt;
    std::optional<DecimalText> d = decimalTextOf(*n);
    if (d && !d->toDouble())
        return std::nullopt;   // a number, but beyond any amount
    return d;
}

} // namespace

std::optional<DecimalText> ReadNumber(const QString& text, const QLocale& locale)
{
    return readNumberOfKind(text, locale, NumberKind::Amount);
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

// The amount in the current locale's currency text, rounded on its decimal digits. Two decimals
// are the currency's own (see FormatAmount).
QString currencyText(const DecimalText& amount, int decimals)
{
    const QLocale locale;
    int fewest = std::max(0, decimals);
    if (decimals == 2) {
        const int own = CurrencyDecimals(locale);
        fewest = own;
        decimals = std::max(own, decimals);
    }
    DecimalText shown = amount.rounded(decimals);
    while (shown.fraction.size() > fewest && shown.fraction.endsWith(QLatin1Char('0')))
        shown.fraction.chop(1);
    const std::optional<double> value = shown.toDouble();
    if (!value)
        throw StepError(QStringLiteral("Type mismatch"));
    return locale.toCurrencyString(*value, locale.currencySymbol(), int(shown.fraction.size()));
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

std::optional<QString> FormatReadableAmount(const QString& stored, int decimals, const QLocale& writtenIn)
{
    std::optional<DecimalText> amount = ReadNumber(stored, writtenIn);
    if (!amount)
        amount = ReadNumber(stored, QLocale());
    if (!amount)
        return std::nullopt;
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
    return NumberText(*number);
}

QString NumberText(const DecimalText& number, const QLocale& locale)
{
    const ss::NumberLocale& conventions = amountConventions(locale);
    QString out = number.negative ? QString::fromStdString(conventions.negativeSign) : QString();
    out += number.whole;
    if (!number.fraction.isEmpty())
        out += QString::fromStdString(conventions.decimal) + number.fraction;
    return out;
}

std::optional<DecimalText> ReadPercentage(const QString& text, const QLocale& locale)
{
    return readNumberOfKind(text, locale, NumberKind::Percentage);
}

int CurrencyDecimals(const QLocale& locale)
{
    const QString iso = locale.currencySymbol(QLocale::CurrencyIsoCode);
    static const QStringList threeDecimals{QStringLiteral("TND"), QStringLiteral("KWD"), QStringLiteral("BHD"),
                                           QStringLiteral("JOD"), QStringLiteral("IQD"), QStringLiteral("LYD"),
                                           QStringLiteral("OMR")};
    if (threeDecimals.contains(iso))
        return 3;
    if (iso == QLatin1String("JPY") || iso == QLatin1String("KRW"))
        return 0;
    return 2;
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
