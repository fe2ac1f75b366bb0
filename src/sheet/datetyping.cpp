#include "sheet/datetyping.h"

#include <QList>

#include <algorithm>
#include <array>

namespace corvantis::sheet {

namespace {

struct Token {
    bool number = false;
    QString text;   // Latin digits, or the letters in lower case
};

bool isLetterLike(char32_t c)
{
    switch (QChar::category(c)) {
    case QChar::Letter_Uppercase:
    case QChar::Letter_Lowercase:
    case QChar::Letter_Titlecase:
    case QChar::Letter_Modifier:
    case QChar::Letter_Other:
    case QChar::Mark_NonSpacing:
    case QChar::Mark_SpacingCombining:
    case QChar::Mark_Enclosing:
        return true;
    default:
        return false;
    }
}

// Runs of digits (any script's, written as Latin) and runs of letters; everything else separates.
QList<Token> tokensOf(const QString& text)
{
    QList<Token> tokens;
    Token current;
    auto flush = [&] {
        if (!current.text.isEmpty())
            tokens << current;
        current = Token{};
    };
    const QList<uint> codePoints = text.toUcs4();
    for (const uint u : codePoints) {
        const char32_t c = u;
        if (QChar::category(c) == QChar::Number_DecimalDigit && QChar::digitValue(c) >= 0) {
            if (!current.number)
                flush();
            current.number = true;
            current.text += QChar(u'0' + QChar::digitValue(c));
        } else if (isLetterLike(c)) {
            if (current.number)
                flush();
            current.text += QString::fromUcs4(&c, 1).toLower();
        } else {
            flush();
        }
    }
    flush();
    return tokens;
}

// A month name reduced to its letters ("Sept." gives "sept"); empty when it holds digits ("1月").
QString nameLetters(const QString& name)
{
    const QList<Token> tokens = tokensOf(name);
    QString out;
    for (const Token& t : tokens) {
        if (t.number)
            return QString();
        out += t.text;
    }
    return out;
}

std::optional<int> monthNamed(const QString& token, const QLocale& locale)
{
    QList<int> exact, prefixed;
    for (int m = 1; m <= 12; ++m) {
        const QString names[] = {locale.monthName(m, QLocale::LongFormat), locale.monthName(m, QLocale::ShortFormat),
                                 locale.standaloneMonthName(m, QLocale::LongFormat),
                                 locale.standaloneMonthName(m, QLocale::ShortFormat)};
        bool isExact = false, isPrefix = false;
        for (const QString& n : names) {
            const QString letters = nameLetters(n);
            if (letters.isEmpty())
                continue;
            isExact = isExact || letters == token;
            isPrefix = isPrefix || letters.startsWith(token);
        }
        if (isExact)
            exact << m;
        if (isPrefix)
            prefixed << m;
    }
    if (exact.size() == 1)
        return exact.front();
    if (exact.isEmpty() && prefixed.size() == 1)
        return prefixed.front();
    return std::nullopt;
}

// The month a word names in the locale, else in English (three letters at least, so that a
// short word such as "de" in "31 de enero" is not taken for December).
std::optional<int> monthOf(const QString& token, const QLocale& locale)
{
    if (std::optional<int> m = monthNamed(token, locale))
        return m;
    if (token.size() >= 3)
        return monthNamed(token, QLocale(QLocale::English, QLocale::UnitedStates));
    return std::nullopt;
}

// Two-digit years fall in 1930-2029, as the stored short dates are read; other lengths than
// two and four are typing errors.
std::optional<int> yearOf(const QString& digits)
{
    const int value = digits.toInt();
    if (digits.size() <= 2)
        return value < 30 ? 2000 + value : 1900 + value;
    if (digits.size() == 4)
        return value;
    return std::nullopt;
}

// The order of day (d), month (M) and year (y) in the locale's short date form.
QString shortOrder(const QLocale& locale)
{
    const QString format = locale.dateFormat(QLocale::ShortFormat);
    QString order;
    bool quoted = false;
    for (const QChar c : format) {
        if (c == QLatin1Char('\''))
            quoted = !quoted;
        else if (!quoted && (c == QLatin1Char('d') || c == QLatin1Char('M') || c == QLatin1Char('y'))
                 && !order.contains(c))
            order += c;
    }
    return order.size() == 3 ? order : QStringLiteral("dMy");
}

struct Fields {
    std::optional<int> day, month, year;
    bool wholeYear = false;
};

std::optional<QDate> compose(const Fields& f, const QDate& current)
{
    if (!f.year && !f.month && !f.day)
        return std::nullopt;
    const int year = f.year.value_or(current.year());
    const int month = f.month.value_or(current.month());
    if (month < 1 || month > 12 || year < 1)
        return std::nullopt;
    int day;
    if (f.day) {
        day = *f.day;
    } else {
        day = std::min(current.day(), QDate(year, month, 1).daysInMonth());
    }
    if (!QDate::isValid(year, month, day))
        return std::nullopt;
    return QDate(year, month, day);
}

// Three numbers in the given order ("dMy" and the like).
std::optional<TypedDate> inOrder(const std::array<QString, 3>& numbers, const QString& order, const QDate& current)
{
    Fields f;
    for (int i = 0; i < 3; ++i) {
        const QString& n = numbers[static_cast<std::size_t>(i)];
        switch (order.at(i).unicode()) {
        case u'd':
            if (n.size() > 2)
                return std::nullopt;
            f.day = n.toInt();
            break;
        case u'M':
            if (n.size() > 2)
                return std::nullopt;
            f.month = n.toInt();
            break;
        default:
            f.year = yearOf(n);
            if (!f.year)
                return std::nullopt;
            f.wholeYear = n.size() == 4;
        }
    }
    const std::optional<QDate> d = compose(f, current);
    if (!d)
        return std::nullopt;
    return TypedDate{*d, f.wholeYear};
}

std::optional<TypedDate> allNumbers(std::array<QString, 3> numbers, const QLocale& locale, const QDate& current)
{
    QStringList orders;
    if (numbers[0].size() >= 3) {
        orders << QStringLiteral("yMd");   // 2025-01-31
    } else {
        orders << shortOrder(locale) << QStringLiteral("dMy") << QStringLiteral("Mdy") << QStringLiteral("yMd");
        orders.removeDuplicates();
    }
    for (const QString& order : std::as_const(orders)) {
        if (std::optional<TypedDate> t = inOrder(numbers, order, current))
            return t;
    }
    return std::nullopt;
}

// A run of digits without separators ("31012025", "310125", "20250131"), cut the locale's way.
std::optional<std::array<QString, 3>> cutDigits(const QString& digits, const QLocale& locale)
{
    if (digits.size() != 6 && digits.size() != 8)
        return std::nullopt;
    const QString order = shortOrder(locale);
    const int yearLength = digits.size() == 8 ? 4 : 2;
    std::array<QString, 3> parts;
    int at = 0;
    for (int i = 0; i < 3; ++i) {
        const int length = order.at(i) == QLatin1Char('y') ? yearLength : 2;
        parts[static_cast<std::size_t>(i)] = digits.mid(at, length);
        at += length;
    }
    // The parts go back in the locale's order; allNumbers tries that order first.
    return parts;
}

} // namespace

std::optional<TypedDate> typedDate(const QString& typed, const QLocale& locale, const QDate& current,
                                   DateSection start)
{
    if (!current.isValid())
        return std::nullopt;
    QList<Token> numbers;
    QList<int> months;
    for (const Token& t : tokensOf(typed)) {
        if (t.number) {
            numbers << t;
        } else if (const std::optional<int> m = monthOf(t.text, locale)) {
            months << *m;
        }
        // Other words ("de", "г.") are read as separators.
    }
    if (months.size() > 1)
        return std::nullopt;

    if (months.size() == 1) {
        Fields f;
        f.month = months.front();
        if (numbers.size() > 2)
            return std::nullopt;
        if (numbers.size() == 2) {
            const QString& a = numbers[0].text;
            const QString& b = numbers[1].text;
            // The year is the long one or the one no day can be; else the day comes first.
            const bool aIsYear = a.size() > 2 || (b.size() <= 2 && a.toInt() > 31 && b.toInt() <= 31);
            const QString& day = aIsYear ? b : a;
            const QString& year = aIsYear ? a : b;
            if (day.size() > 2)
                return std::nullopt;
            f.day = day.toInt();
            f.year = yearOf(year);
            if (!f.year)
                return std::nullopt;
            f.wholeYear = year.size() == 4;
        } else if (numbers.size() == 1) {
            const QString& n = numbers[0].text;
            if (n.size() > 2 || n.toInt() > 31) {
                f.year = yearOf(n);
                if (!f.year)
                    return std::nullopt;
            } else {
                f.day = n.toInt();
            }
        }
        const std::optional<QDate> d = compose(f, current);
        if (!d)
            return std::nullopt;
        return TypedDate{*d, f.day && f.year && f.wholeYear};
    }

    if (numbers.size() == 3)
        return allNumbers({numbers[0].text, numbers[1].text, numbers[2].text}, locale, current);
    if (numbers.size() == 1) {
        if (const std::optional<std::array<QString, 3>> parts = cutDigits(numbers[0].text, locale))
            return allNumbers(*parts, locale, current);
    }
    if (numbers.isEmpty() || numbers.size() > 3)
        return std::nullopt;

    // Over one or two parts: from the part that was selected, in the picker's order; a number of
    // three or four digits can only be a year.
    Fields f;
    int section = static_cast<int>(start);
    for (const Token& t : std::as_const(numbers)) {
        if (t.text.size() > 2)
            section = static_cast<int>(DateSection::Year);
        if (section > static_cast<int>(DateSection::Year))
            return std::nullopt;
        switch (static_cast<DateSection>(section)) {
        case DateSection::Day:
            f.day = t.text.toInt();
            break;
        case DateSection::Month:
            f.month = t.text.toInt();
            break;
        case DateSection::Year:
            f.year = yearOf(t.text);
            if (!f.year)
                return std::nullopt;
            break;
        }
        ++section;
    }
    const std::optional<QDate> d = compose(f, current);
    if (!d)
        return std::nullopt;
    return TypedDate{*d, false};
}

} // namespace corvantis::sheet
