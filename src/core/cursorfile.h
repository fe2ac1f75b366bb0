#pragma once
// The header of a Windows cursor file (.cur): the image reader decodes the pixels, but only the
// header says where the hot spot is.
#include <QByteArray>
#include <QPoint>

#include <optional>

namespace corvantis {

struct CursorHeader {
    QPoint hotSpot;          // of the first image
    quint32 imageOffset = 0; // where its image lies in the file
    quint32 imageSize = 0;
};

// The header of a cursor file's bytes; nullopt when they are no cursor file (an icon, too short,
// an image entry pointing past the end).
std::optional<CursorHeader> readCursorHeader(const QByteArray& bytes);

} // namespace corvantis
