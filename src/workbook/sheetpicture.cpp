#include "workbook/sheetpicture.h"

#include "core/guard.h"
#include "core/safefile.h"
#include "workbook/bmpfile.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

#include <optional>

namespace corvantis {

namespace {
ClipboardPictureSource& source()
{
    static ClipboardPictureSource s;
    return s;
}

QImage systemClipboardPicture()
{
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return QImage();
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    if (!data || !data->hasImage())
        return QImage();
    return qvariant_cast<QImage>(data->imageData());
}

bool isPictureFormat(int format)
{
    switch (format) {
    case 0:    // whichever graphics format the clipboard holds
    case 2:    // bitmap
    case 3:    // metafile picture
    case 8:    // device-independent bitmap
    case 14:   // enhanced metafile
    case 17:   // device-independent bitmap, version 5
        return true;
    default:
        return false;
    }
}
} // namespace

ClipboardPictureSource setClipboardPictureSource(ClipboardPictureSource next)
{
    ClipboardPictureSource previous = std::move(source());
    source() = std::move(next);
    return previous;
}

QImage GetClipboardPicture(int format)
{
    if (!isPictureFormat(format))
        return QImage();
    // Another program holding the clipboard makes a request fail; asking again at once is
    // what gets past it.
    for (int attempt = 0; attempt < kClipboardAttempts; ++attempt) {
        QImage picture;
        try {
            picture = source() ? source()() : systemClipboardPicture();
        } catch (...) {
            picture = QImage();
        }
        if (!picture.isNull())
            return picture;
    }
    return QImage();
}

void saveCellsActivesheet(const Workbook& workbook, const QString& path)
{
    Guard g(Procedure::SheetPicture);
    std::optional<Worksheet> sheet;
    long lastRow = 0;
    long lastColumn = 0;

    // Without the sheet nothing below can run; one report is enough.
    if (!g.step(100, [&] { sheet = workbook.ActiveSheet(); }))
        return;
    g.step(102, [&] {
        const Range used = sheet->UsedRange();
        lastRow = used.Rows(used.Rows().count()).Row();
    });
    g.step(104, [&] {
        const Range used = sheet->UsedRange();
        lastColumn = used.Columns(used.Columns().count()).Column();
    });
    if (!(lastRow > 1 && lastColumn > 1))   // 106
        return;
    // When the copy fails the clipboard still holds whatever was there before; saving that
    // would put someone else's picture in the preview.
    if (!g.step(110, [&] { sheet->UsedRange().CopyPicture(); }))
        return;
    g.step(112, [&] {
        const QImage picture = GetClipboardPicture(0);
        if (picture.isNull())
            throw StepError(QStringLiteral("The clipboard holds no picture"));
        writeBmpFile(picture, path, Durability::Scratch);
    });
}

} // namespace corvantis
