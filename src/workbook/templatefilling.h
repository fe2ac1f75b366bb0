#pragma once
// "Start Creating Template": the inputs go into the projection template, the spreadsheet's own
// formulas compute the rest, the result is saved as an Excel 97-2003 workbook in the scratch
// folder, photographed, and handed to the preview window.
#include "core/pointer.h"

#include <QDate>
#include <QString>

class QRandomGenerator;

namespace corvantis {

// What generation needs from the main window and the preview window. The main window
// implements it; tests use a plain fake.
struct GenerationHost {
    virtual ~GenerationHost() = default;
    virtual QString companyName() const = 0;
    virtual QDate fiscalStart() const = 0;
    // The text of one cell of the input sheet: line 0..32; column 0 the line name,
    // 1 the IND. % cell, 2..13 the months 1..12.
    virtual QString cellText(int line, int column) const = 0;
    virtual void setPointer(Pointer pointer) = 0;          // the main window's mouse pointer
    virtual void freezeDrawing(bool frozen) = 0;           // the main window's drawing
    // Loads the picture file into the preview window (creating that window the first time);
    // throws when the file cannot be loaded.
    virtual void loadPreviewPicture(const QString& path) = 0;
    virtual void setPreviewExcelFile(const QString& path) = 0;   // the preview's mExcelFile
    virtual void showPreview() = 0;
    virtual void hideMain() = 0;
};

// The rows of the template that take no input: totals, headings and blank rows.
inline constexpr const char* skipRows = "-13,-14,-15,-23,-24,-25,-26,-27";
inline constexpr int kFirstLineRow = 6;
inline constexpr int kLastLineRow = 46;
// Where the embedded template lives and the scratch names of a generation.
inline constexpr const char* kTemplateResource = ":/template/template.xlt";
inline constexpr const char* kTemplateFileName = "template.xlt";
inline constexpr const char* kPictureFileName = "temp.bmp";

// True when sheet row `row` is one of skipRows.
bool isSkippedRow(int row);
// A fresh scratch workbook name: "tolvek", eight digits 1 to 9, ".xls".
QString drawWorkbookName();
// Test seam: the generator the digits come from (QRandomGenerator::global() by default, which
// is seeded once from the system). Null restores the default; the caller keeps ownership.
void setNameGenerator(QRandomGenerator* generator);

// The whole generation, guarded as Form1.PushButton22_Click: a failing step is reported with its
// number and the next step runs. When a failure leaves nothing for the later steps to do (no
// spreadsheet application, no template file, template not opened, workbook not saved) it is
// reported once, what was started is undone and the user stays at the inputs.
// Returns false when it was abandoned that way, true when it ran to the hand-over.
bool GenerateWorkbook(GenerationHost& host);

} // namespace corvantis
