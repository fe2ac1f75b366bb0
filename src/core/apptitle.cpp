#include "core/apptitle.h"

namespace corvantis {

namespace {
QString& current()
{
    static QString t = applicationTitleFrom(QString::fromLatin1(kProductTitle));
    return t;
}
} // namespace

QString applicationTitleFrom(const QString& productTitle)
{
    QString t = productTitle;
    do {
        const int blank = t.lastIndexOf(QLatin1Char(' '));
        if (blank < 0)
            break;   // nothing left to cut: keep the single word
        t = t.left(blank);
    } while (t.size() > 40);
    return t;
}

QString ApplicationTitle() { return current(); }
void setApplicationTitle(const QString& title) { current() = title; }

} // namespace corvantis
