#pragma once
// The fiscal months: captions of the twelve month headers and the stored form of the start date.
#include "core/projectioninputs.h"

#include <QDate>
#include <QLocale>
#include <QString>

namespace corvantis::sheet {

using corvantis::kLastDate;   // the latest date the date picker accepts

// Caption of month column i + 1: the start plus i calendar months (day clamped to the month's
// end, year carried over December) as "MMM-yy" in the user's locale. A month past 31 Dec 9999
// has no caption (empty text).
QString monthCaption(const QDate& start, int i);

// The stored form of the start date belongs to the inputs model.
using corvantis::dateFromSetting;
using corvantis::dateSettingText;

} // namespace corvantis::sheet
