#pragma once
// The picture of a filled sheet: the used range of the workbook's active sheet, copied to the
// clipboard as the sheet shows it and written to a picture file for the preview window.
#include "workbook/excelapp.h"

#include <QImage>
#include <QString>

#include <functional>

namespace corvantis {

// Writes the picture of the active sheet's used range to `path` as a BMP file, replacing any
// file there. A sheet whose used range ends in row 1 or column A gives no file and no message.
// Failing steps are reported through the error report and the routine goes on where it can.
void saveCellsActivesheet(const Workbook& workbook, const QString& path);

// The clipboard's picture, asked for up to 1000 times in a row while the clipboard is busy;
// a null image when every request failed. Format 0 lets the clipboard choose; the other
// accepted codes are the picture formats (2 bitmap, 3 metafile, 8 DIB, 14 enhanced metafile,
// 17 DIB v5); any other code finds no picture.
QImage GetClipboardPicture(int format);
inline constexpr int kClipboardAttempts = 1000;

// Test seam: one request to the clipboard. It returns the picture, or a null image when the
// clipboard is busy or holds none. An empty function restores the system clipboard.
using ClipboardPictureSource = std::function<QImage()>;
ClipboardPictureSource setClipboardPictureSource(ClipboardPictureSource source);

} // namespace corvantis
