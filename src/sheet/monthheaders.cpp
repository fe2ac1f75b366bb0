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
QString fourDigitShortFormat()
{
    QString format = QLocale().dateFormat(QLocale::ShortFormat);
    if (!format.contains(QLatin1String("yyyy")))
        format.replace(QRegularExpression(QStringLiteral("(?<!y)yy(?!y)")), QStringLiteral("yyyy"));
    return format;
}

} // namespace

QString dateSettingText(const QDate& date)
{
    return QLocale().toString(date, fourDigitShortFormat());
}

QDate dateFromSetting(const QString& stored)
{
    const QString text = stored.trimmed();
    if (text.isEmpty())
        return QDate();
    const QLocale locale;

    // The form this program writes: it must carry the whole four-digit year.
    QDate d = locale.toDate(text, fourDigitShortFormat());
    if (d.isValid() && text.contains(QStringLiteral("%1").arg(d.year(), 4, 10, QLatin1Char('0'))))
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

    d = QDate::fromString(text, Qt::ISODate);
    return d;
}

} // namespace corvantis::sheet
