#pragma once
// A guarded procedure: it names its location once and runs numbered steps. A step that
// throws is reported with its number and the procedure goes on with the next step.
//
//   Guard g(Procedure::MainLoad);
//   g.step(100, [&] { ApplyMainTheme(*this); });
#include <QString>

#include <exception>
#include <stdexcept>

namespace corvantis {

// Raised by the program's own steps when something cannot be done; its text is the description.
class StepError : public std::runtime_error {
public:
    explicit StepError(const QString& what) : std::runtime_error(what.toStdString()) {}
};

QString locationText(const char* module, const char* procedure);   // "in Marrowfen2021/08/31.Form1.Form_Load "

// The guarded procedures of the program. Their location texts are data: people quote them from
// the error report, so they keep the names they have always had, all in one table (guard.cpp).
enum class Procedure {
    MainLoad,            // Form1.Form_Load
    MainHelp,            // Form1.PushButton6_Click
    MainSampleData,      // Form1.PushButton7_Click
    MainGenerate,        // Form1.PushButton22_Click
    LineNameFocus,       // Form1.txtRevenue_GotFocus
    PreviewLoad,         // Form2.Form_Load
    PreviewActivate,     // Form2.Form_Activate
    PreviewZoomIn,       // Form2.PushButton1_Click
    PreviewZoomOut,      // Form2.PushButton2_Click
    PreviewSave,         // Form2.PushButton6_Click
    PreviewBack,         // Form2.PushButton8_Click
    PreviewClose,        // Form2.Form_QueryUnload
    PreviewRedraw,       // Form2.RedrawImage
    PreviewDragMove,     // Form2.picture1_MouseMove
    PreviewDragEnd,      // Form2.Picture1_MouseUp
    PreviewCopyPicture,  // Form2.mnuCopyPicture_Click
    PreviewSaveXlsx,     // Form2.mnuSaveXlsx_Click
    PreviewExportPdf,    // Form2.mnuExportPdf_Click
    PreviewPrint,        // Form2.mnuPrint_Click
    SheetPicture,        // Excel1.saveCellsActivesheet
};
QString locationText(Procedure procedure);
QString describeException(const std::exception_ptr& e);           // the description for the report

class Guard {
public:
    Guard(const char* module, const char* procedure) : mLocation(locationText(module, procedure)) {}
    explicit Guard(Procedure procedure) : mLocation(locationText(procedure)) {}

    // Runs one step; returns true when it completed, false when it failed and was reported.
    template <typename F>
    bool step(int number, F&& body)
    {
        try {
            body();
            return true;
        } catch (...) {
            report(number, std::current_exception());
            return false;
        }
    }

    const QString& location() const { return mLocation; }
    int failures() const { return mFailures; }
    void report(int number, const std::exception_ptr& e);

private:
    QString mLocation;
    int mFailures = 0;
};

} // namespace corvantis
