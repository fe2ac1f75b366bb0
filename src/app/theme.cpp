#include "app/theme.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QPointer>
#include <QSet>
#include <QWidget>
#include <QtEndian>

#include <stdexcept>

namespace corvantis {

QString programFolder()
{
    return QCoreApplication::applicationDirPath();
}

QString skinFilePath()
{
    return QDir(programFolder()).filePath(QStringLiteral("x/o.cjs"));
}

QString handCursorPath()
{
    return QDir(programFolder()).filePath(QStringLiteral("HAND-M.CUR"));
}

namespace {

const QColor kHeadingGrey(224, 224, 224);

QColor buttonFace()
{
    return QApplication::palette().color(QPalette::Button);
}

void setBackColour(QWidget* w, const QColor& c)
{
    QPalette p = w->palette();
    p.setColor(QPalette::Window, c);
    w->setPalette(p);
    w->setAutoFillBackground(true);
}

QString kindOf(const QWidget* w)
{
    return w->property("kind").toString();
}

bool isGreyHeading(const QWidget* w)
{
    return w->autoFillBackground() && w->palette().color(QPalette::Window) == kHeadingGrey;
}

} // namespace

void ApplyMainTheme(QWidget& form)
{
    const QString skin = skinFilePath();
    if (!QFileInfo(skin).isFile())
        return;   // without a skin the window keeps its white design

    setBackColour(&form, buttonFace());
    const auto children = form.findChildren<QWidget*>();
    for (QWidget* w : children) {
        const QString kind = kindOf(w);
        const bool colourable = kind == QLatin1String("OptionButton") || kind == QLatin1String("CheckBox")
            || kind == QLatin1String("Frame") || kind == QLatin1String("Label") || kind == QLatin1String("PictureBox");
        if (!colourable)
            continue;
        if (kind == QLatin1String("Label") && isGreyHeading(w))
            continue;   // the sheet's headings stay grey
        setBackColour(w, buttonFace());
    }

    QFile file(skin);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("The skin file could not be read: " + skin.toStdString());
    form.setStyleSheet(QString::fromUtf8(file.readAll()));
}

void ApplyFormColours(QWidget& form)
{
    setBackColour(&form, buttonFace());
    const auto children = form.findChildren<QWidget*>();
    for (QWidget* w : children) {
        const QString kind = kindOf(w);
        if (kind == QLatin1String("OptionButton") || kind == QLatin1String("CheckBox")
            || kind == QLatin1String("Frame") || kind == QLatin1String("Label"))
            setBackColour(w, buttonFace());
    }
}

// --- cursor files -----------------------------------------------------------------------------

namespace {

struct Reader {
    const QByteArray& bytes;
    bool has(qsizetype offset, qsizetype length) const
    {
        return offset >= 0 && length >= 0 && offset <= bytes.size() && length <= bytes.size() - offset;
    }
    quint16 u16(qsizetype o) const { return qFromLittleEndian<quint16>(bytes.constData() + o); }
    quint32 u32(qsizetype o) const { return qFromLittleEndian<quint32>(bytes.constData() + o); }
    qint32 i32(qsizetype o) const { return qFromLittleEndian<qint32>(bytes.constData() + o); }
};

// One cursor image stored as a DIB: a BITMAPINFOHEADER, an optional palette, the colour
// bitmap and the 1-bit AND mask, both bottom-up, with the height counting both.
QImage decodeDib(const Reader& r, qsizetype at, qsizetype size)
{
    if (!r.has(at, 40) || size < 40)
        return {};
    const quint32 headerSize = r.u32(at);
    const qint32 width = r.i32(at + 4);
    const qint32 doubledHeight = r.i32(at + 8);
    const quint16 bpp = r.u16(at + 14);
    const quint32 compression = r.u32(at + 16);
    quint32 paletteCount = r.u32(at + 32);
    if (headerSize < 40 || compression != 0 || width <= 0 || width > 256 || doubledHeight <= 0
        || doubledHeight > 512 || !(bpp == 1 || bpp == 4 || bpp == 8 || bpp == 24 || bpp == 32))
        return {};
    const int height = doubledHeight / 2;
    if (bpp <= 8 && paletteCount == 0)
        paletteCount = 1u << bpp;
    if (paletteCount > 256)
        return {};
    const qsizetype paletteAt = at + headerSize;
    const qsizetype paletteSize = bpp <= 8 ? qsizetype(paletteCount) * 4 : 0;
    const qsizetype xorStride = ((qsizetype(width) * bpp + 31) / 32) * 4;
    const qsizetype andStride = ((qsizetype(width) + 31) / 32) * 4;
    const qsizetype xorAt = paletteAt + paletteSize;
    const qsizetype andAt = xorAt + xorStride * height;
    if (!r.has(xorAt, xorStride * height + andStride * height) || andAt + andStride * height > at + size)
        return {};

    QImage img(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y) {
        const qsizetype row = xorAt + xorStride * (height - 1 - y);
        const qsizetype maskRow = andAt + andStride * (height - 1 - y);
        for (int x = 0; x < width; ++x) {
            QRgb colour = 0;
            if (bpp == 32) {
                const quint32 v = r.u32(row + x * 4);
                colour = qRgba((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF, (v >> 24) & 0xFF);
            } else if (bpp == 24) {
                const auto* p = reinterpret_cast<const uchar*>(r.bytes.constData() + row + x * 3);
                colour = qRgb(p[2], p[1], p[0]);
            } else {
                const int perByte = 8 / bpp;
                const uchar byte = uchar(r.bytes.at(row + x / perByte));
                const int shift = 8 - bpp * (x % perByte + 1);
                const quint32 index = (byte >> shift) & ((1u << bpp) - 1);
                if (index >= paletteCount)
                    return {};
                const quint32 v = r.u32(paletteAt + index * 4);
                colour = qRgb((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
            }
            const uchar maskByte = uchar(r.bytes.at(maskRow + x / 8));
            const bool transparent = (maskByte >> (7 - x % 8)) & 1;
            if (bpp != 32 || qAlpha(colour) == 0)
                colour = transparent ? qRgba(0, 0, 0, 0) : (colour | 0xFF000000u);
            img.setPixel(x, y, colour);
        }
    }
    return img;
}

} // namespace

std::optional<QCursor> loadCursorFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > 1024 * 1024)
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    const Reader r{bytes};
    // ICONDIR: reserved 0, type 2 for cursors, then one 16-byte entry per image.
    if (!r.has(0, 6) || r.u16(0) != 0 || r.u16(2) != 2 || r.u16(4) == 0 || !r.has(6, 16))
        return std::nullopt;
    const int hotX = r.u16(6 + 4);
    const int hotY = r.u16(6 + 6);
    const quint32 size = r.u32(6 + 8);
    const quint32 offset = r.u32(6 + 12);
    if (!r.has(offset, size))
        return std::nullopt;
    QImage img;
    if (size >= 8 && bytes.mid(offset, 8) == QByteArray("\x89PNG\r\n\x1a\n", 8))
        img.loadFromData(bytes.mid(offset, size), "PNG");
    else
        img = decodeDib(r, offset, size);
    if (img.isNull())
        return std::nullopt;
    return QCursor(QPixmap::fromImage(img), qMin(hotX, img.width() - 1), qMin(hotY, img.height() - 1));
}

// --- pointer rules ----------------------------------------------------------------------------

struct PointerRules::Impl : QObject {
    QPointer<QWidget> window;
    std::optional<QCursor> icon;
    Pointer pointer = Pointer::Default;
    QSet<QObject*> hand;
    QSet<QObject*> plain;
    bool overriding = false;

    void apply()
    {
        if (!window)
            return;
        if (overriding) {
            QGuiApplication::restoreOverrideCursor();
            overriding = false;
        }
        switch (pointer) {
        case Pointer::Default:
            window->unsetCursor();
            break;
        case Pointer::Custom:
            window->setCursor(icon ? *icon : QCursor(Qt::ArrowCursor));
            break;
        case Pointer::Hourglass:
            window->setCursor(Qt::WaitCursor);
            // Edit boxes carry their own pointer; the hourglass must show over them too.
            QGuiApplication::setOverrideCursor(Qt::WaitCursor);
            overriding = true;
            break;
        }
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Enter || event->type() == QEvent::MouseMove
            || event->type() == QEvent::HoverMove) {
            if (pointer != Pointer::Hourglass) {
                if (hand.contains(watched) && pointer != Pointer::Custom) {
                    pointer = Pointer::Custom;
                    apply();
                } else if (plain.contains(watched) && pointer != Pointer::Default) {
                    pointer = Pointer::Default;
                    apply();
                }
            }
        }
        return false;
    }
};

PointerRules::PointerRules(QWidget& window) : d(new Impl)
{
    d->window = &window;
}

PointerRules::~PointerRules()
{
    if (d->overriding)
        QGuiApplication::restoreOverrideCursor();
    delete d;
}

void PointerRules::setMouseIcon(const std::optional<QCursor>& icon)
{
    d->icon = icon;
    if (d->pointer == Pointer::Custom)
        d->apply();
}

void PointerRules::addHandWidget(QWidget* w)
{
    d->hand.insert(w);
    w->setMouseTracking(true);
    w->installEventFilter(d);
}

void PointerRules::addPlainWidget(QWidget* w)
{
    d->plain.insert(w);
    w->setMouseTracking(true);
    w->installEventFilter(d);
}

void PointerRules::setPointer(Pointer p)
{
    d->pointer = p;
    d->apply();
}

Pointer PointerRules::pointer() const
{
    return d->pointer;
}

} // namespace corvantis
