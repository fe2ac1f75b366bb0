#pragma once
// Starting, probing, versioning and ending the spreadsheet application.
//
// A generation runs two applications one after the other: StartExcel creates the one that fills
// the template (held in ExcelApp until ReleaseExcel), OpenWorkbookInNewExcel the one that takes
// the picture. The start-up probe keeps nothing.
#include "workbook/excelapp.h"

#include <QString>

#include <functional>
#include <memory>

namespace corvantis {

// The application of the running generation; empty between generations.
extern std::shared_ptr<Application> ExcelApp;
// The workbook opened from the template by the last generation. Only the next generation
// replaces it; after its application has quit every call on it fails.
extern Workbook TemplateBook;

// The text of the probe's message: five paragraphs, an empty line between each.
QString excelMissingMessage();

// Start-up probe: when no application can be created, shows excelMissingMessage() (OK only,
// no icon, the application title as caption) and ends the program at once. Otherwise the
// probe's application is dropped again and nothing is shown.
void CheckExcelAvailable();
// Test seam: what ending the program means (std::exit by default). Returns the previous hook;
// an empty function restores the default. When the hook returns, so does CheckExcelAvailable.
using ProgramEndHook = std::function<void()>;
ProgramEndHook setProgramEndHook(ProgramEndHook hook);

// ExcelApp = a new application; throws ExcelError when none can be created.
void StartExcel();
// ExcelApp = empty (without quitting it).
void ReleaseExcel();
// A further application with `path` opened in it (not read-only); it stays invisible.
std::shared_ptr<Application> OpenWorkbookInNewExcel(const QString& path);

// The SaveAs file-format code that suits the application's version: 56 for version 12 and later,
// -4143 before. Without an application, a short-lived one is created to read the version.
// Throws ExcelError when the version text is not a number that fits 16 bits.
int XlsFileFormat(const std::shared_ptr<Application>& app = nullptr);
// The version text as a whole number: decimal mark made the locale's, then rounded half to even.
int versionNumber(const QString& versionText);

} // namespace corvantis
