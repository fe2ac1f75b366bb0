#pragma once
// The sheet's picture as a BMP file: written after the copy to the clipboard and read back by
// the preview. The common case, a 32-bit picture written as 24-bit rows and read back, goes
// straight between the pixels and the bytes; anything else goes through Qt's image handlers.
// Either way the bytes and the pixels are exactly those of Qt's BMP handler, so a picture
// written here opens the same in every program and a BMP from elsewhere still loads.
#include "core/safefile.h"

#include <QByteArray>
#include <QImage>
#include <QString>

namespace corvantis {

// The BMP file of `picture` (a Windows bitmap with a 40-byte header, bottom-up rows): 24 bits a
// pixel for a 32-bit picture. An empty array when the picture cannot be encoded.
QByteArray encodeBmp(const QImage& picture);

// Writes `picture` to `path` as encodeBmp encodes it, whole or not at all (see SafeFile); throws
// corvantis::StepError (WriteError when the file cannot be written).
void writeBmpFile(const QImage& picture, const QString& path, Durability durability);

// The picture in `bytes`, whatever its format (recognised from the content); a null image and
// the reason in `error` when it is none.
QImage decodePicture(const QByteArray& bytes, QString* error = nullptr);

// The picture in the file at `path`, as decodePicture reads it; the reason names the file.
QImage readPictureFile(const QString& path, QString* error = nullptr);

} // namespace corvantis
