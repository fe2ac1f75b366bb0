#pragma once
// What a date typed into the date picker stands for. People type dates the way they write them
// ("31-Jan-2025", "31.01.2025", "31/01/2025", "1/31/2025", "2025-01-31", "Jan 31, 2025"), or
// type over one part of the date shown ("15" in the day, "Mar" in the month, "2027" in the year).
#include <QDate>
#include <QLocale>
#include <QString>

#include <optional>

namespace corvantis::sheet {

// The picker's parts, in the order it shows them ("dd-MMM-yyyy").
enum class DateSection { Day, Month, Year };

struct TypedDate {
    QDate date;
    bool complete = false;   // day, month and a whole year were all typed
};

// The date `typed` gives, read with `locale`'s month names and its short date order (the
// picker's own order and the other common ones where that order gives no date), English month
// names as well; parts not typed come from `current`, starting at the part `start` that was
// selected when typing began. A month typed without a day keeps the day where the month has it
// and takes the month's last day otherwise. Two-digit years fall in 1930-2029. nullopt when
// the text gives no date.
std::optional<TypedDate> typedDate(const QString& typed, const QLocale& locale, const QDate& current,
                                   DateSection start);

} // namespace corvantis::sheet
