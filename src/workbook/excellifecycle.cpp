#include "workbook/excellifecycle.h"

#include "core/apptitle.h"
#include "core/dialogs.h"
#include "core/numbertext.h"
#include "core/rounding.h"

#include <QLocale>
#include <QStringList>

#include <cmath>
#include <cstdlib>

namespace corvantis {

std::shared_ptr<Application> ExcelApp;
Workbook TemplateBook;

namespace {
ProgramEndHook& endHook()
{
    static ProgramEndHook hook;
    return hook;
}

void endProgram()
{
    if (endHook()) {
        endHook()();
        return;
    }
    // Nothing to save: every input went to the settings store when it changed.
    std::exit(EXIT_FAILURE);
}
} // namespace

QString excelMissingMessage()
{
    const QStringList paragraphs{
        QStringLiteral("Error 842001. A normal instance of Excel could not be created."),
        QStringLiteral("1. Please make sure Excel is installed on this computer."),
        QStringLiteral("2. Please open Excel normally and make sure a blank spreadsheet opens immediately without any "
                       "interrupting window (such as an Excel file recovery window)."),
        QStringLiteral("3. Please make sure that when you double-click on a XLS or XLSX file that Excel opens normally "
                       "without any interrupting messages."),
        QStringLiteral("4. All versions of Excel are supported by this software except for the rare Excel Starter and "
                       "Student editions."),
    };
    return paragraphs.join(QStringLiteral("\r\n\r\n"));
}

void CheckExcelAvailable()
{
    bool created = false;
    try {
        std::shared_ptr<Application> probe = CreateApplication();
        created = probe != nullptr;
        // The probe's application is only dropped, never quit or otherwise used.
    } catch (...) {
        created = false;
    }
    if (created)
        return;
    try {
        Dialogs::message(excelMissingMessage(), ApplicationTitle(), Dialogs::Icon::None, Dialogs::Buttons::Ok);
    } catch (...) {
        // the program ends either way
    }
    endProgram();
}

ProgramEndHook setProgramEndHook(ProgramEndHook hook)
{
    ProgramEndHook previous = std::move(endHook());
    endHook() = std::move(hook);
    return previous;
}

void StartExcel() { ExcelApp = CreateApplication(); }

void ReleaseExcel() { ExcelApp.reset(); }

std::shared_ptr<Application> OpenWorkbookInNewExcel(const QString& path)
{
    std::shared_ptr<Application> app = CreateApplication();
    app->Workbooks().Open(path);   // dropping `app` on failure ends it again
    return app;
}

int versionNumber(const QString& versionText)
{
    const QString text = NormalizeDecimal(versionText).trimmed();
    bool ok = false;
    const double value = QLocale().toDouble(text, &ok);
    if (!ok || !std::isfinite(value))
        throw ExcelError(QStringLiteral("Type mismatch: the version \"%1\" is not a number").arg(versionText));
    const double whole = roundHalfEven(value);
    if (whole < -32768.0 || whole > 32767.0)
        throw ExcelError(QStringLiteral("Overflow: the version \"%1\" does not fit a 16-bit number").arg(versionText));
    return static_cast<int>(whole);
}

int XlsFileFormat(const std::shared_ptr<Application>& app)
{
    QString version;
    if (!app) {
        std::shared_ptr<Application> shortLived = CreateApplication();
        version = shortLived->Version();
        shortLived->Quit();
    } else {
        version = app->Version();
    }
    return versionNumber(version) > 11 ? xlExcel8 : xlNormal;
}

} // namespace corvantis
