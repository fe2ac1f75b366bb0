#include "core/guard.h"

#include "core/errorreport.h"

#include <new>

namespace corvantis {

QString locationText(const char* module, const char* procedure)
{
    return QStringLiteral("in Marrowfen2021/08/31.") + QString::fromLatin1(module) + QLatin1Char('.')
        + QString::fromLatin1(procedure) + QLatin1Char(' ');
}

QString describeException(const std::exception_ptr& e)
{
    try {
        std::rethrow_exception(e);
    } catch (const std::bad_alloc&) {
        return QStringLiteral("Out of memory");
    } catch (const std::exception& ex) {
        return QString::fromUtf8(ex.what());
    } catch (...) {
        return QStringLiteral("Unexpected failure");
    }
}

void Guard::report(int number, const std::exception_ptr& e)
{
    ++mFailures;
    ShowErrorReport(mLocation, number, describeException(e));
}

} // namespace corvantis
