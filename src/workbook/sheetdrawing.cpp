#include "workbook/sheetdrawing.h"

#include "workbook/excelapp.h"

#include <cstdlib>

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
    mUsed = std::make_unique<Range>(book.ActiveSheet().UsedRange());
    mApplication = std::move(application);
}

QImage SheetDrawing::draw(const QSize& size)
{
    if (size.isEmpty())
        throw ExcelError(QStringLiteral("A picture of %1 x %2 pixels cannot be drawn").arg(size.width()).arg(size.height()));
    open();
    const QSize unscaled = mUsed->PictureSize(1.0);
    if (unscaled.isEmpty())
        throw ExcelError(QStringLiteral("The sheet of %1 has nothing to draw").arg(mPath));

    // Column widths are whole digit widths of the font at each scale, so the laid-out width
    // moves in small jumps; one more try from the first result lands closest to the width asked.
    double scale = double(size.width()) / unscaled.width();
    QSize laidOut = mUsed->PictureSize(scale);
    if (laidOut.width() != size.width() && laidOut.width() > 0) {
        const double retry = scale * size.width() / laidOut.width();
        const QSize other = mUsed->PictureSize(retry);
        if (std::abs(other.width() - size.width()) < std::abs(laidOut.width() - size.width())) {
            scale = retry;
            laidOut = other;
        }
    }
    QImage picture = mUsed->Picture(scale);
    // What is left of the difference is a few pixels: too little to blur what was drawn sharp.
    if (picture.size() != size)
        picture = picture.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return picture;
}

} // namespace corvantis
