#include "workbook/bmpfile.h"

#include "core/guard.h"
#include "spreadsheet/render/picturememory.h"
#include "spreadsheet/sidethreads.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <future>
#include <limits>
#include <memory>
#include <optional>

#include <unistd.h>

// Rows are moved with SSSE3's byte shuffle where the compiler can target it and the processor has it.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define CORVANTIS_BMP_SHUFFLE 1
#include <immintrin.h>
#endif

namespace corvantis {

namespace {

constexpr int kFileHeaderSize = 14;
constexpr int kInfoHeaderSize = 40;   // BITMAPINFOHEADER
constexpr int kHeadersSize = kFileHeaderSize + kInfoHeaderSize;

void put16(uchar*& at, std::uint16_t v)
{
    at[0] = uchar(v);
    at[1] = uchar(v >> 8);
    at += 2;
}

void put32(uchar*& at, std::uint32_t v)
{
    at[0] = uchar(v);
    at[1] = uchar(v >> 8);
    at[2] = uchar(v >> 16);
    at[3] = uchar(v >> 24);
    at += 4;
}

std::uint32_t get32(const uchar* at)
{
    return std::uint32_t(at[0]) | std::uint32_t(at[1]) << 8 | std::uint32_t(at[2]) << 16 | std::uint32_t(at[3]) << 24;
}

std::uint16_t get16(const uchar* at) { return std::uint16_t(at[0] | at[1] << 8); }

// Bytes of one 24-bit row, padded to a multiple of four.
qint64 rowBytes24(qint64 width) { return ((width * 24 + 31) / 32) * 4; }

QByteArray encodeWithQt(const QImage& picture)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "BMP");
    if (!writer.write(picture))
        return {};
    return bytes;
}

// One row of 24-bit pixels (blue, green, red) from 32-bit ones, four pixels to three words.
void packRowPlain(const QRgb* from, uchar* to, qint64 x, qint64 width)
{
    to += 3 * x;
    for (; x + 4 <= width; x += 4, to += 12) {
        const std::uint32_t p0 = from[x], p1 = from[x + 1], p2 = from[x + 2], p3 = from[x + 3];
        const std::uint32_t words[3] = {(p0 & 0xffffffu) | p1 << 24, (p1 >> 8 & 0xffffu) | p2 << 16,
                                        (p2 >> 16 & 0xffu) | p3 << 8};
        std::memcpy(to, words, sizeof words);
    }
    for (; x < width; ++x, to += 3) {
        to[0] = uchar(qBlue(from[x]));
        to[1] = uchar(qGreen(from[x]));
        to[2] = uchar(qRed(from[x]));
    }
}

// The reverse: opaque 32-bit pixels from a row of 24-bit ones.
void unpackRowPlain(const uchar* from, QRgb* to, qint64 x, qint64 width)
{
    from += 3 * x;
    for (; x + 4 <= width; x += 4, from += 12) {
        std::uint32_t w[3];
        std::memcpy(w, from, sizeof w);
        to[x] = 0xff000000u | (w[0] & 0xffffffu);
        to[x + 1] = 0xff000000u | w[0] >> 24 | (w[1] & 0xffffu) << 8;
        to[x + 2] = 0xff000000u | w[1] >> 16 | (w[2] & 0xffu) << 16;
        to[x + 3] = 0xff000000u | w[2] >> 8;
    }
    for (; x < width; ++x, from += 3)
        to[x] = 0xff000000u | std::uint32_t(from[2]) << 16 | std::uint32_t(from[1]) << 8 | from[0];
}

#ifdef CORVANTIS_BMP_SHUFFLE
// Four pixels a step with one byte shuffle, on processors that have it (nearly all since 2006).
// Each step reads or writes 16 bytes of which 12 count, so the steps stop while two pixels are
// left and the plain loop ends the row.
__attribute__((target("ssse3"))) void packRowShuffled(const QRgb* from, uchar* to, qint64 width)
{
    const __m128i order = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    qint64 x = 0;
    for (; x + 6 <= width; x += 4)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 3 * x),
                         _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(from + x)), order));
    packRowPlain(from, to, x, width);
}

__attribute__((target("ssse3"))) void unpackRowShuffled(const uchar* from, QRgb* to, qint64 width)
{
    const __m128i order = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    const __m128i opaque = _mm_set1_epi32(int(0xff000000u));
    qint64 x = 0;
    for (; x + 6 <= width; x += 4)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + x),
                         _mm_or_si128(_mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 3 * x)), order),
                                      opaque));
    unpackRowPlain(from, to, x, width);
}

bool canShuffle()
{
    static const bool can = __builtin_cpu_supports("ssse3");
    return can;
}
#endif

void packRow(const QRgb* from, uchar* to, qint64 width)
{
#ifdef CORVANTIS_BMP_SHUFFLE
    if (canShuffle())
        return packRowShuffled(from, to, width);
#endif
    packRowPlain(from, to, 0, width);
}

void unpackRow(const uchar* from, QRgb* to, qint64 width)
{
#ifdef CORVANTIS_BMP_SHUFFLE
    if (canShuffle())
        return unpackRowShuffled(from, to, width);
#endif
    unpackRowPlain(from, to, 0, width);
}

// The layout of a 24-bit, uncompressed, bottom-up bitmap with the plain header: the one the
// sheet's picture is written as. Empty for any other kind, which Qt's handler reads instead.
struct Plain24 {
    int width = 0, height = 0;
    qint64 offBits = 0, stride = 0;
    std::int32_t xDpm = 0, yDpm = 0;
};

std::optional<Plain24> plain24(const uchar (&data)[kHeadersSize], qint64 fileSize)
{
    if (data[0] != 'B' || data[1] != 'M')
        return {};
    const uchar* info = data + kFileHeaderSize;
    if (get32(info) != kInfoHeaderSize || get16(info + 12) != 1 || get16(info + 14) != 24 || get32(info + 16) != 0)
        return {};
    Plain24 p;
    p.width = std::int32_t(get32(info + 4));
    p.height = std::int32_t(get32(info + 8));
    if (p.width <= 0 || p.height <= 0 || p.width > 32767 || p.height > 32767)
        return {};
    p.offBits = get32(data + 10);
    p.stride = rowBytes24(p.width);
    if (p.offBits < kHeadersSize || p.offBits + p.stride * p.height > fileSize)
        return {};
    p.xDpm = std::int32_t(get32(info + 24));
    p.yDpm = std::int32_t(get32(info + 28));
    return p;
}

QImage blankPicture(const Plain24& p)
{
    QImage picture = ss::newPicture(QSize(p.width, p.height), QImage::Format_RGB32);
    if (picture.isNull())
        return {};
    if (p.xDpm > 0)
        picture.setDotsPerMeterX(p.xDpm);
    if (p.yDpm > 0)
        picture.setDotsPerMeterY(p.yDpm);
    return picture;
}

// Unpacks `rows` of the file's rows, its rows [first, first + rows), from `from` into the picture
// at `pixels`: the file's first row is the picture's last.
void unpackFileRows(const Plain24& p, const uchar* from, int first, int rows, uchar* pixels, qsizetype bytesPerLine)
{
    for (int r = 0; r < rows; ++r) {
        const int y = p.height - 1 - (first + r);
        unpackRow(from + p.stride * r, reinterpret_cast<QRgb*>(pixels + bytesPerLine * y), p.width);
    }
}

// The rows of a plain 24-bit file, read at their offsets from `fd` in pieces by the calling
// thread, from the file's start, and a side thread, from its end, until they meet: each reads a
// piece and unpacks it while the other does the same with another, and each stays in its own
// part of the picture, whose memory the system then hands over to both at once. False when a
// read fails or comes up short. The state is shared with the side thread's job, which may begin
// after the last piece was taken and then touches neither the file nor the picture.
bool readRowsBeside(int fd, const Plain24& p, uchar* pixels, qsizetype bytesPerLine)
{
    struct State {
        State(int f, const Plain24& layout, uchar* at, qsizetype perLine, int rowsEach)
            : fd(f), p(layout), pixels(at), bytesPerLine(perLine), rowsPerPiece(rowsEach),
              pieces((layout.height + rowsEach - 1) / rowsEach)
        {
        }
        const int fd;
        const Plain24 p;
        uchar* const pixels;
        const qsizetype bytesPerLine;
        const int rowsPerPiece, pieces;
        // The first piece not taken from the start (high half) and one past the last not taken
        // from the end (low half).
        std::atomic<std::uint64_t> open{static_cast<std::uint64_t>(pieces)};
        std::atomic<bool> failed{false};
        std::atomic<bool> sideBegun{false};

        // The next piece from the start or from the end; -1 once they have met.
        int claim(bool fromStart)
        {
            std::uint64_t ends = open.load();
            for (;;) {
                const auto first = static_cast<std::uint32_t>(ends >> 32), end = static_cast<std::uint32_t>(ends);
                if (first >= end)
                    return -1;
                const std::uint64_t taken = fromStart ? ends + (std::uint64_t(1) << 32) : ends - 1;
                if (open.compare_exchange_weak(ends, taken))
                    return static_cast<int>(fromStart ? first : end - 1);
            }
        }

        // Reads and unpacks pieces until none is left, into a piece's room of its own taken
        // with the first one.
        void readClaimed(bool fromStart)
        {
            std::unique_ptr<uchar[]> chunk;
            for (int k; !failed.load() && (k = claim(fromStart)) >= 0;) {
                if (!chunk)
                    chunk = std::make_unique<uchar[]>(size_t(p.stride * rowsPerPiece));
                const int first = k * rowsPerPiece;
                const int rows = std::min(rowsPerPiece, p.height - first);
                if (!readFully(p.offBits + p.stride * first, chunk.get(), p.stride * rows)) {
                    failed.store(true);
                    return;
                }
                unpackFileRows(p, chunk.get(), first, rows, pixels, bytesPerLine);
            }
        }

        bool readFully(qint64 at, uchar* to, qint64 want) const
        {
            while (want > 0) {
                const ssize_t got = ::pread(fd, to, size_t(want), off_t(at));
                if (got < 0 && errno == EINTR)
                    continue;
                if (got <= 0)
                    return false;
                at += got;
                to += got;
                want -= got;
            }
            return true;
        }
    };
    constexpr qint64 kPieceBytes = 128 * 1024;
    const int rowsPerPiece = int(std::max<qint64>(1, kPieceBytes / p.stride));
    const auto state = std::make_shared<State>(fd, p, pixels, bytesPerLine, rowsPerPiece);
    std::future<void> beside;
    if (state->pieces > 1 && ss::sharingThreads() > 1) {
        try {
            beside = ss::runBeside(0, [state] {
                state->sideBegun.store(true);
                state->readClaimed(false);
            });
        } catch (...) {
            // no side thread: every piece is read here
        }
    }
    state->readClaimed(true);
    if (beside.valid() && state->sideBegun.load())
        beside.get();   // its last piece is in the picture once this returns
    return !state->failed.load();
}

// The sheet's picture read straight from its file (or any device), a few rows at a time: the file
// is never held whole beside the picture. Null when it is of another kind or cannot be read through.
QImage readPlain24(QIODevice& file)
{
    uchar head[kHeadersSize];
    const qint64 fileSize = file.size();
    if (file.read(reinterpret_cast<char*>(head), kHeadersSize) != kHeadersSize)
        return {};
    const std::optional<Plain24> p = plain24(head, fileSize);
    if (!p || !file.seek(p->offBits))
        return {};
    QImage picture = blankPicture(*p);
    if (picture.isNull())
        return {};
    // A file on disk is read at its rows' offsets, by two threads at once.
    if (auto* onDisk = qobject_cast<QFile*>(&file); onDisk && onDisk->handle() >= 0) {
        if (!readRowsBeside(onDisk->handle(), *p, picture.bits(), picture.bytesPerLine()))
            return {};
        return picture;
    }
    const int rowsAtOnce = int(std::max<qint64>(1, (256 * 1024) / p->stride));
    QByteArray chunk(qsizetype(p->stride * rowsAtOnce), Qt::Uninitialized);
    for (int done = 0; done < p->height;) {
        const int rows = std::min(rowsAtOnce, p->height - done);
        const qint64 want = p->stride * rows;
        if (file.read(chunk.data(), want) != want)
            return {};
        unpackFileRows(*p, reinterpret_cast<const uchar*>(chunk.constData()), done, rows, picture.bits(),
                       picture.bytesPerLine());
        done += rows;
    }
    return picture;
}

} // namespace

namespace {

// Whether the picture is written here rather than by Qt's handler: plain 32-bit pixels and a
// resolution to put in the header.
bool writtenHere(const QImage& picture)
{
    return picture.format() == QImage::Format_RGB32 && !picture.isNull() && picture.dotsPerMeterX() > 0
        && picture.dotsPerMeterY() > 0
        && kHeadersSize + rowBytes24(picture.width()) * picture.height() <= std::numeric_limits<std::int32_t>::max();
}

// The file header and the 40-byte information header of the 24-bit file.
QByteArray headers24(const QImage& picture)
{
    const qint64 stride = rowBytes24(picture.width());
    const qint64 total = kHeadersSize + stride * picture.height();
    QByteArray bytes(kHeadersSize, Qt::Uninitialized);
    auto* at = reinterpret_cast<uchar*>(bytes.data());
    *at++ = 'B';
    *at++ = 'M';
    put32(at, std::uint32_t(total));
    put16(at, 0);
    put16(at, 0);
    put32(at, kHeadersSize);
    put32(at, kInfoHeaderSize);
    put32(at, std::uint32_t(picture.width()));
    put32(at, std::uint32_t(picture.height()));
    put16(at, 1);    // planes
    put16(at, 24);   // bits a pixel
    put32(at, 0);    // uncompressed
    put32(at, std::uint32_t(stride * picture.height()));
    put32(at, std::uint32_t(picture.dotsPerMeterX()));
    put32(at, std::uint32_t(picture.dotsPerMeterY()));
    put32(at, 0);    // colours used
    put32(at, 0);    // important colours
    return bytes;
}

// Packs the file's rows [first, last) of `picture` into `to`: 24-bit, padded, the file's first
// row being the picture's last.
void packFileRows(const QImage& picture, int first, int last, uchar* to)
{
    const qint64 width = picture.width();
    const qint64 stride = rowBytes24(width);
    for (int r = first; r < last; ++r, to += stride) {
        packRow(reinterpret_cast<const QRgb*>(picture.constScanLine(picture.height() - 1 - r)), to, width);
        std::memset(to + width * 3, 0, size_t(stride - width * 3));
    }
}

// The file's rows in pieces of about `kPieceBytes`, packed on a side thread while this one writes
// the pieces packed before: writing to the file is the slower half, so the packing costs no
// time of its own. Pieces go round two buffers; whichever thread is free packs the next piece,
// so a side thread held up elsewhere only leaves more of the packing here. The state is shared
// with the side thread's job, which may begin after the last piece was written and then finds
// nothing to do.
class PackedPieces {
public:
    static constexpr qint64 kPieceBytes = 256 * 1024;
    static constexpr int kBuffers = 2;

    explicit PackedPieces(const QImage& picture) : mState(std::make_shared<State>(picture)) {}

    ~PackedPieces()
    {
        // A failed write leaves pieces unclaimed: a side thread stops claiming them, and one
        // waiting for a buffer is let go.
        mState->next.store(mState->pieces);
        mState->written.store(std::numeric_limits<int>::max() / 2);
        mState->written.notify_all();
    }

    // Writes every piece through `write(const char*, qint64)` in the file's order.
    template <typename Write>
    void writeAll(const QByteArray& headers, Write&& write)
    {
        State& st = *mState;
        std::memcpy(st.buffers[0].get(), headers.constData(), size_t(kHeadersSize));
        if (st.pieces > 1) {
            try {
                ss::runBeside(0, [state = mState] { state->packClaimed(); });
            } catch (...) {
                // no side thread: every piece is packed here
            }
        }
        for (int k = 0; k < st.pieces; ++k) {
            State::Buffer& buffer = st.bufferOf(k);
            int expected = k;
            if (buffer.ready.load() != k && st.next.compare_exchange_strong(expected, k + 1))
                st.pack(k);   // not yet taken by the side thread
            for (int seen; (seen = buffer.ready.load()) != k;)
                buffer.ready.wait(seen);
            const qint64 rows = st.rowsOf(k);
            if (k == 0)
                write(reinterpret_cast<const char*>(st.buffers[0].get()), kHeadersSize + rows * st.stride);
            else
                write(reinterpret_cast<const char*>(buffer.bytes), rows * st.stride);
            st.written.store(k + 1);
            st.written.notify_one();
        }
    }

private:
    struct State {
        struct Buffer {
            uchar* bytes = nullptr;          // where its rows begin
            std::atomic<int> ready{-1};      // the piece whose rows are all in it
        };

        explicit State(const QImage& p)
            : picture(p), stride(rowBytes24(p.width())),
              rowsPerPiece(int(std::max<qint64>(1, kPieceBytes / stride))),
              pieces((p.height() + rowsPerPiece - 1) / rowsPerPiece)
        {
            // The first buffer leaves room for the headers in front of its rows, so the first
            // piece goes out in one write with them.
            for (int b = 0; b < kBuffers; ++b) {
                buffers[b] = std::make_unique<uchar[]>(size_t(kHeadersSize + stride * rowsPerPiece));
                places[b].bytes = buffers[b].get() + kHeadersSize;
            }
        }

        Buffer& bufferOf(int piece) { return places[piece % kBuffers]; }
        qint64 rowsOf(int piece) const { return std::min(rowsPerPiece, picture.height() - piece * rowsPerPiece); }

        // Packs piece `k` once its buffer has been written out.
        void pack(int k)
        {
            for (int w; k - (w = written.load()) >= kBuffers;)
                written.wait(w);
            if (written.load() > pieces)
                return;   // the writing has stopped
            Buffer& buffer = bufferOf(k);
            const int first = k * rowsPerPiece;
            packFileRows(picture, first, first + int(rowsOf(k)), buffer.bytes);
            buffer.ready.store(k);
            buffer.ready.notify_one();
        }

        // The side thread's part: the next unclaimed piece, and the next, until none is left or
        // the writing has stopped.
        void packClaimed()
        {
            for (int k; (k = next.fetch_add(1)) < pieces;)
                pack(k);
        }

        const QImage picture;
        const qint64 stride;
        const int rowsPerPiece;
        const int pieces;
        std::unique_ptr<uchar[]> buffers[kBuffers];
        Buffer places[kBuffers];
        std::atomic<int> next{0};      // the next piece no thread has claimed
        std::atomic<int> written{0};   // pieces written to the file
    };

    std::shared_ptr<State> mState;
};

} // namespace

QByteArray encodeBmp(const QImage& picture)
{
    // Pictures other than plain 32-bit ones (indexed, 16-bit, with alpha) are Qt's handler's.
    if (!writtenHere(picture))
        return encodeWithQt(picture);
    QByteArray bytes = headers24(picture);
    bytes.resize(qsizetype(kHeadersSize + rowBytes24(picture.width()) * picture.height()));
    packFileRows(picture, 0, picture.height(), reinterpret_cast<uchar*>(bytes.data()) + kHeadersSize);
    return bytes;
}

void writeBmpFile(const QImage& picture, const QString& path, Durability durability)
{
    if (!writtenHere(picture)) {
        const QByteArray bytes = encodeWithQt(picture);
        if (bytes.isEmpty())
            throw StepError(QStringLiteral("The picture of the sheet could not be encoded"));
        writeWholeFile(path, bytes, durability);
        return;
    }
    // Written in pieces: the whole file never stands in memory beside the picture.
    SafeFile file(path, SafeFile::Existing::Replace, durability);
    file.reserve(kHeadersSize + rowBytes24(picture.width()) * picture.height());
    PackedPieces(picture).writeAll(headers24(picture), [&](const char* bytes, qint64 size) {
        file.write(QByteArray::fromRawData(bytes, qsizetype(size)));
    });
    file.commit();
}

namespace {

// The picture on `device`: the sheet's own kind read here, any other by Qt's handlers.
QImage readPicture(QIODevice& device, QString* error)
{
    if (QImage picture = readPlain24(device); !picture.isNull())
        return picture;
    if (!device.seek(0)) {
        if (error)
            *error = device.errorString();
        return {};
    }
    QImageReader reader(&device);
    reader.setDecideFormatFromContent(true);
    QImage picture = reader.read();
    if (picture.isNull() && error)
        *error = reader.errorString();
    return picture;
}

} // namespace

QImage decodePicture(const QByteArray& bytes, QString* error)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    return readPicture(buffer, error);
}

QImage readPictureFile(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return {};
    }
    return readPicture(file, error);
}

} // namespace corvantis
