#pragma once
// A workbook file's sheet picture painted afresh at any scale. The engine draws text and lines
// through the painter's transform, so an enlarged picture (or one on a screen of higher
// density) is as sharp as the one on screen, where stretching that picture would only blur it.
#include <QSize>
#include <QString>

#include <memory>

class QPainter;

namespace corvantis {

class Application;
class Range;

class SheetDrawing {
public:
    // Nothing is read until open(); the file is opened read-only and never written.
    explicit SheetDrawing(const QString& workbookPath);
    ~SheetDrawing();
    SheetDrawing(const SheetDrawing&) = delete;
    SheetDrawing& operator=(const SheetDrawing&) = delete;

    const QString& path() const { return mPath; }

    // Opens the workbook and finds the used range of its active sheet, what saveCellsActivesheet
    // pictures. Throws ExcelError when the workbook cannot be opened or has nothing to draw.
    void open();
    bool isOpen() const { return mUsed != nullptr; }
    QSize size() const;   // of the picture at its natural size, in pixels

    // Paints the picture with its top-left corner at the painter's origin, one unit per pixel of
    // the natural size; the painter's transform and clip decide scale and part. Paints nothing
    // before open(); never throws, so it can serve a paint event.
    void paint(QPainter& painter) const noexcept;

private:
    QString mPath;
    std::unique_ptr<Application> mApplication;
    std::unique_ptr<Range> mUsed;
};

} // namespace corvantis
