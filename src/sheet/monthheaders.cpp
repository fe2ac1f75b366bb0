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

} // namespace corvantis::sheet
