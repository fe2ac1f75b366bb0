#include "app/generation.h"

#include "core/guard.h"
#include "workbook/templatefilling.h"

namespace corvantis {

namespace {

// What the host shows now. A value that cannot be read is reported under the step that writes
// it into the workbook, and left empty.
ProjectionInputs readInputs(const GenerationHost& host, Guard& g)
{
    ProjectionInputs in;
    g.step(118, [&] { in.companyName = host.companyName(); });
    g.step(120, [&] { in.fiscalStart = host.fiscalStart(); });
    for (int line = 0; line < kLineCount; ++line)
        for (int column = 0; column < kColumnCount; ++column)
            g.step(126 + 2 * column, [&] { in.setCell(line, column, host.cellText(line, column)); });
    return in;
}

// Gives the inputs back to the user after a generation that gave up.
void backToInputs(GenerationHost& host)
{
    try {
        host.setPointer(Pointer::Default);
    } catch (...) {
    }
    try {
        host.freezeDrawing(false);
    } catch (...) {
    }
}

} // namespace

bool GenerateWorkbook(GenerationHost& host)
{
    Guard g(Procedure::MainGenerate);
    g.step(100, [&] { host.freezeDrawing(true); });
    g.step(108, [&] { host.setPointer(Pointer::Hourglass); });

    ProjectionRun run(g);
    if (!run.fillAndSave(readInputs(host, g))) {
        backToInputs(host);
        return false;
    }
    run.takePicture();
    g.step(188, [&] { host.setPointer(Pointer::Hourglass); });
    g.step(200, [&] { host.setPointer(Pointer::Default); });
    g.step(202, [&] { host.loadPreviewPicture(ProjectionRun::picturePath()); });
    g.step(204, [&] { host.setPreviewExcelFile(run.workbookPath()); });
    g.step(206, [&] { host.showPreview(); });
    g.step(208, [&] { host.hideMain(); });
    run.removeScratchFiles();
    g.step(214, [&] { host.freezeDrawing(false); });
    return true;
}

} // namespace corvantis
