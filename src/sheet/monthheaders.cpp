#include "sheet/monthheaders.h"

#include <QLocale>
#include <QRegularExpression>

namespace corvantis::sheet {

QString monthCaption(const QDate& start, int i)
{
    if (!start.isValid())
        return QString();
    const QDate d = start.addMonths(i);
    if (!d.isValid() || d > kLastDate)
        return QString();
    return QLocale().toString(d, QStringLiteral("MMM-yy"));
}

namespace {

// The short date format with any two-digit year widened to four digits.
QString fourDigitShortFormat(const QLocale& locale)
{
    QString format = locale.dateFormat(QLocale::ShortFormat);
    if (!format.contains(QLatin1String("yyyy")))
        format.replace(QRegularExpression(QStringLiteral("(?<!y)yy(?!y)")), QStringLiteral("yyyy"));
    return format;
}

// The text with every digit written as a Latin one (a locale may write its own).
QString latinDigits(const QString& text)
{
    QString out;
    const QList<uint> codePoints = text.toUcs4();
    for (const uint u : codePoints) {
        const char32_t c = u;
        if (QChar::category(c) == QChar::Number_DecimalDigit && QChar::digitValue(c) >= 0)
            out += QChar(u'0' + QChar::digitValue(c));
        else
            out += QString::fromUcs4(&c, 1);
    }
    return out;
}

} // namespace

QString dateSettingText(const QDate& date, const QLocale& locale)
{
    return locale.toString(date, fourDigitShortFormat(locale));
}

namespace {

QDate readDate(const QString& text, const QLocale& locale)
{
    // The form this program writes: it must carry the whole four-digit year.
    QDate d = locale.toDate(text, fourDigitShortFormat(locale));
    if (d.isValid() && latinDigits(text).contains(QStringLiteral("%1").arg(d.year(), 4, 10, QLatin1Char('0'))))
        return d;

    // The locale's own short form, with a two-digit year where the locale writes one.
    const QString shortFormat = locale.dateFormat(QLocale::ShortFormat);
    d = locale.toDate(text, shortFormat);
    if (d.isValid()) {
        if (!shortFormat.contains(QLatin1String("yyyy"))) {
            const int yy = d.year() % 100;
            d = QDate(yy < 30 ? 2000 + yy : 1900 + yy, d.month(), d.day());
        }
        if (d.isValid())
            return d;
    }

    return QDate::fromString(text, Qt::ISODate);
}

} // namespace

QDate dateFromSetting(const QString& stored, const QLocale& locale)
{
    const QString text = stored.trimmed();
    if (text.isEmpty())
        return QDate();
    QDate d = readDate(text, locale);
    // Qt reads no digits beyond the 16-bit range (Chakma, Adlam): those are read as Latin ones.
    if (!d.isValid()) {
        const QString latin = latinDigits(text);
        if (latin != text)
            d = readDate(latin, locale);
    }
    return d;
}

} // namespace corvantis::sheet
