#include "core/cursorfile.h"

#include <QtEndian>

namespace corvantis {

std::optional<CursorHeader> readCursorHeader(const QByteArray& bytes)
{
    // ICONDIR: reserved 0, type 2 for cursors, the image count; then one 16-byte entry per
    // image whose planes and bit-count fields hold the hot spot.
    constexpr qsizetype kDirSize = 6;
    constexpr qsizetype kEntrySize = 16;
    if (bytes.size() < kDirSize + kEntrySize)
        return std::nullopt;
    const auto* p = reinterpret_cast<const uchar*>(bytes.constData());
    if (qFromLittleEndian<quint16>(p) != 0 || qFromLittleEndian<quint16>(p + 2) != 2
        || qFromLittleEndian<quint16>(p + 4) == 0)
        return std::nullopt;
    const uchar* entry = p + kDirSize;
    CursorHeader h;
    h.hotSpot = QPoint(qFromLittleEndian<quint16>(entry + 4), qFromLittleEndian<quint16>(entry + 6));
    h.imageSize = qFromLittleEndian<quint32>(entry + 8);
    h.imageOffset = qFromLittleEndian<quint32>(entry + 12);
    if (h.imageOffset > quint64(bytes.size()) || h.imageSize > quint64(bytes.size()) - h.imageOffset)
        return std::nullopt;
    return h;
}

} // namespace corvantis
