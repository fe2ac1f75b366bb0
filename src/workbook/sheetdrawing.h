#pragma once
// A workbook file's sheet picture drawn again at another size. The engine lays the sheet out
// afresh at the scale asked for, so text and lines of an enlarged picture are as sharp as those
// of the picture on screen, where stretching that picture would only blur it.
#include <QImage>
#include <QSize>
#include <QString>

#include <memory>
#include <optional>

namespace corvantis {

class Application;
class Range;

class SheetDrawing {
public:
    // Nothing is read until the first drawing; the file is opened read-only and never written.
    explicit SheetDrawing(const QString& workbookPath);
    ~SheetDrawing();
    SheetDrawing(const SheetDrawing&) = delete;
    SheetDrawing& operator=(const SheetDrawing&) = delete;

    const QString& path() const { return mPath; }

    // The used range of the workbook's active sheet, as saveCellsActivesheet pictures it, drawn
    // to exactly `size` pixels. Throws ExcelError when the workbook cannot be opened or drawn.
    QImage draw(const QSize& size);

private:
    void open();

    QString mPath;
    std::unique_ptr<Application> mApplication;
    std::unique_ptr<Range> mUsed;
};

} // namespace corvantis
