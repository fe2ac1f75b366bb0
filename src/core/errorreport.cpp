#include "core/errorreport.h"

#include "core/dialogs.h"

namespace corvantis {

const char* const kSupportAddress = "support@kestrelon.example";

namespace {
ErrorReportSink& sink()
{
    static ErrorReportSink current;
    return current;
}
} // namespace

QString errorReportText(const QString& location, int step, const QString& description)
{
    return description + QStringLiteral("\r\n") + location + QStringLiteral("at line ") + QString::number(step)
        + QStringLiteral("\r\r") + QStringLiteral("Please email screenshot of this message to ")
        + QString::fromLatin1(kSupportAddress);
}

void ShowErrorReport(const QString& location, int step, const QString& description)
{
    if (sink()) {
        sink()(ErrorReport{location, step, description});
        return;
    }
    Dialogs::message(errorReportText(location, step, description), QStringLiteral("Application Error"),
                     Dialogs::Icon::Warning, Dialogs::Buttons::Ok);
}

ErrorReportSink setErrorReportSink(ErrorReportSink next)
{
    ErrorReportSink previous = std::move(sink());
    sink() = std::move(next);
    return previous;
}

} // namespace corvantis
