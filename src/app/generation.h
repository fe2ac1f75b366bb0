#pragma once
// "Start Creating Template": the windows' side of one generation. The main window freezes and
// shows the hourglass, the projection workbook is made from the inputs, and its picture and
// path go to the preview window, which takes the main window's place.
#include "core/pointer.h"
#include "core/projectioninputs.h"

#include <QDate>
#include <QString>

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

// The whole generation, guarded as Form1.PushButton22_Click: a failing step is reported with its
// number and the next step runs. When a failure leaves nothing for the later steps to do (no
// spreadsheet application, no template file, template not opened, workbook not saved) it is
// reported once, what was started is undone and the user stays at the inputs.
// Returns false when it was abandoned that way, true when it ran to the hand-over.
bool GenerateWorkbook(GenerationHost& host);

} // namespace corvantis
