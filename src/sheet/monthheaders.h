#pragma once
// The fiscal months: captions of the twelve month headers and the stored form of the start date.
#include <QDate>
#include <QLocale>
#include <QString>

namespace corvantis::sheet {

// The latest date the date picker accepts.
inline const QDate kLastDate(9999, 12, 31);

// Caption of month column i + 1: the start plus i calendar months (day clamped to the month's
// end, year carried over December) as "MMM-yy" in the user's locale. A month past 31 Dec 9999
// has no caption (empty text).
QString monthCaption(const QDate& start, int i);

// The stored text of the fiscal start date: the locale's short date form with a four-digit year.
QString dateSettingText(const QDate& date, const QLocale& locale = QLocale());
// Reads a stored date written under `locale`: the short form with a four-digit year, the
// locale's own short form (two-digit years 30-99 in the 1900s, 00-29 in the 2000s) or ISO 8601.
// Invalid when none fits.
QDate dateFromSetting(const QString& text, const QLocale& locale = QLocale());

} // namespace corvantis::sheet
