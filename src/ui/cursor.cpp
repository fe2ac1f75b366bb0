#include "ui/cursor.h"

#include "core/cursorfile.h"
#include "core/files.h"
#include "core/guard.h"
#include "core/programfolder.h"
#include "ui/pointerrules.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QPixmap>

namespace corvantis {

std::optional<QCursor> loadCursorFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > 1024 * 1024)
        return std::nullopt;
    QByteArray bytes = file.readAll();
    const std::optional<CursorHeader> header = readCursorHeader(bytes);
    if (!header)
        return std::nullopt;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "cur");
    const QImage image = reader.read();
    if (image.isNull())
        return std::nullopt;
    const QPoint hot(qMin(header->hotSpot.x(), image.width() - 1), qMin(header->hotSpot.y(), image.height() - 1));
    return QCursor(QPixmap::fromImage(image), hot.x(), hot.y());
}

void LoadHandCursor(Guard& g, int existsStep, int loadStep, PointerRules& rules)
{
    bool present = false;
    g.step(existsStep, [&] { present = FileExists(handCursorPath()); });
    if (!present)
        return;
    g.step(loadStep, [&] {
        const std::optional<QCursor> hand = loadCursorFile(handCursorPath());
        if (!hand)
            throw StepError(QStringLiteral("Invalid picture"));
        rules.setMouseIcon(hand);
    });
}

} // namespace corvantis
