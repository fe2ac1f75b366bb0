#pragma once
// The common report of unexpected failures: a warning box that names the failure,
// the procedure and the step, and asks for a screenshot.
#include <QString>

#include <functional>

namespace corvantis {

// The address the screenshot request points to.
extern const char* const kSupportAddress;

// "description\r\n" + location + "at line " + step + "\r\r" + "Please email screenshot ..."
QString errorReportText(const QString& location, int step, const QString& description);

// Shows the "Application Error" box (warning icon, OK) and returns after OK.
void ShowErrorReport(const QString& location, int step, const QString& description);

// Where reports go. Tests swap it and read the reports; the default shows the modal box.
struct ErrorReport {
    QString location;
    int step = 0;
    QString description;
};
using ErrorReportSink = std::function<void(const ErrorReport&)>;
// Installs a sink and returns the previous one; an empty function restores the box.
ErrorReportSink setErrorReportSink(ErrorReportSink sink);

} // namespace corvantis
