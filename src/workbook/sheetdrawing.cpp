#include "workbook/sheetdrawing.h"

#include "workbook/excelapp.h"

#include <QPainter>

namespace corvantis {

SheetDrawing::SheetDrawing(const QString& workbookPath) : mPath(workbookPath) {}

SheetDrawing::~SheetDrawing()
{
    if (mApplication && !mApplication->hasQuit())
        mApplication->Quit();
}

void SheetDrawing::open()
{
    if (mUsed)
        return;
    // An application of its own: the one that made the picture has been quit long ago.
    auto application = std::make_unique<Application>();
    application->DisplayAlerts(false);
    const Workbook book = application->Workbooks().Open(mPath, true);
    auto used = std::make_unique<Range>(book.ActiveSheet().UsedRange());
    if (used->PictureSize().isEmpty())
        throw ExcelError(QStringLiteral("The sheet of %1 has nothing to draw").arg(mPath));
    mUsed = std::move(used);
    mApplication = std::move(application);
}

QSize SheetDrawing::size() const
{
    return mUsed ? mUsed->PictureSize() : QSize();
}

void SheetDrawing::paint(QPainter& painter) const noexcept
{
    if (!mUsed)
        return;
    try {
        mUsed->Paint(painter);
    } catch (...) {
        // A picture left blank for one repaint is all that can go wrong here.
    }
}

} // namespace corvantis
