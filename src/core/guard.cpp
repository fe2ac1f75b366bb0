#include "core/guard.h"

#include "core/errorreport.h"

#include <new>

namespace corvantis {

QString locationText(const char* module, const char* procedure)
{
    return QStringLiteral("in Marrowfen2021/08/31.") + QString::fromLatin1(module) + QLatin1Char('.')
        + QString::fromLatin1(procedure) + QLatin1Char(' ');
}

QString locationText(Procedure procedure)
{
    struct Location {
        Procedure procedure;
        const char* module;
        const char* name;
    };
    static constexpr Location kLocations[] = {
        {Procedure::MainLoad, "Form1", "Form_Load"},
        {Procedure::MainHelp, "Form1", "PushButton6_Click"},
        {Procedure::MainSampleData, "Form1", "PushButton7_Click"},
        {Procedure::MainGenerate, "Form1", "PushButton22_Click"},
        {Procedure::LineNameFocus, "Form1", "txtRevenue_GotFocus"},
        {Procedure::PreviewLoad, "Form2", "Form_Load"},
        {Procedure::PreviewActivate, "Form2", "Form_Activate"},
        {Procedure::PreviewZoomIn, "Form2", "PushButton1_Click"},
        {Procedure::PreviewZoomOut, "Form2", "PushButton2_Click"},
        {Procedure::PreviewSave, "Form2", "PushButton6_Click"},
        {Procedure::PreviewBack, "Form2", "PushButton8_Click"},
        {Procedure::PreviewClose, "Form2", "Form_QueryUnload"},
        {Procedure::PreviewRedraw, "Form2", "RedrawImage"},
        {Procedure::PreviewDragMove, "Form2", "picture1_MouseMove"},
        {Procedure::PreviewDragEnd, "Form2", "Picture1_MouseUp"},
        {Procedure::PreviewCopyPicture, "Form2", "mnuCopyPicture_Click"},
        {Procedure::PreviewSaveXlsx, "Form2", "mnuSaveXlsx_Click"},
        {Procedure::PreviewExportPdf, "Form2", "mnuExportPdf_Click"},
        {Procedure::PreviewPrint, "Form2", "mnuPrint_Click"},
        {Procedure::SheetPicture, "Excel1", "saveCellsActivesheet"},
    };
    for (const Location& l : kLocations)
        if (l.procedure == procedure)
            return locationText(l.module, l.name);
    return locationText("Corvantis", "Unknown");
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
