#pragma once
// The projection workbook: the inputs go into the projection template, the spreadsheet's own
// formulas compute the rest, the result is saved as an Excel 97-2003 workbook in the scratch
// folder and photographed.
#include "core/guard.h"
#include "core/projectioninputs.h"
#include "spreadsheet/render/picturememory.h"

#include <QDate>
#include <QString>

#include <array>

class QRandomGenerator;

namespace corvantis {

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
// The template's row of each input line, in order, skipping the rows of skipRows.
const std::array<int, kLineCount>& lineRows();
// A fresh scratch workbook name: "tolvek", eight digits 1 to 9, ".xls".
QString drawWorkbookName();
// Test seam: the generator the digits come from (QRandomGenerator::global() by default, which
// is seeded once from the system). Null restores the default; the caller keeps ownership.
void setNameGenerator(QRandomGenerator* generator);

// One generation of the projection workbook: the inputs go into the template, the workbook is
// saved under a fresh scratch name and photographed. Its steps run in the caller's guarded
// procedure (the generate button's), numbered as there, so a failing step is reported with its
// number and the next one runs. What the windows do around it is the caller's business.
class ProjectionRun {
public:
    explicit ProjectionRun(Guard& guard) : mGuard(guard) {}
    ProjectionRun(const ProjectionRun&) = delete;
    ProjectionRun& operator=(const ProjectionRun&) = delete;

    // Steps 110-184: starts the spreadsheet application, fills the template with `inputs` and
    // saves the workbook in the scratch folder. When a failure leaves nothing for the later steps
    // to do (no application, no template file, template not opened, workbook not saved) it is
    // reported once, what was started is undone, and the result is false (see failedStep()).
    bool fillAndSave(const ProjectionInputs& inputs);
    // Steps 186-198: opens the saved workbook in a second application and writes the picture
    // of its sheet to picturePath(). Failures are reported; the saved workbook stays.
    void takePicture();
    // Steps 210 and 212: removes the picture and the template's scratch copy.
    void removeScratchFiles();

    // The saved workbook; empty until fillAndSave succeeds.
    QString workbookPath() const { return mWorkbookPath; }
    // The step that ended fillAndSave early; 0 when it ran through.
    int failedStep() const { return mFailedStep; }
    static QString picturePath();

private:
    bool abandon(int step);
    void preparePictureMemory();
    Guard& mGuard;
    // The memory of the sheet's picture, made ready during the generation and given back with it.
    ss::PictureMemoryAhead mPictureMemory;
    QString mWorkbookPath;
    int mFailedStep = 0;
};

} // namespace corvantis
