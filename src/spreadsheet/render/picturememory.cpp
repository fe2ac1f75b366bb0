#include "spreadsheet/render/picturememory.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

#ifdef __linux__
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>
#endif

namespace ss {

#ifdef __linux__
namespace {

constexpr std::size_t kLargePage = std::size_t(2) << 20;
constexpr std::size_t kWorthIt = std::size_t(1) << 20;   // below this the allocator serves well

// The rows of a picture of `size` in `format`: 32-bit aligned, as QImage lays them out.
struct Layout {
    std::size_t bytesPerLine = 0;
    std::size_t bytes = 0;
    std::size_t large = 0;    // whole large pages covering the pixels
    std::size_t length = 0;   // what is mapped: one large page more, so the pixels can start on an edge
};

bool layoutFor(QSize size, QImage::Format format, Layout& out)
{
    const int depth = QImage::toPixelFormat(format).bitsPerPixel();
    if (size.width() <= 0 || size.height() <= 0 || depth <= 0)
        return false;
    out.bytesPerLine = static_cast<std::size_t>(((qint64(size.width()) * depth + 31) / 32) * 4);
    out.bytes = out.bytesPerLine * static_cast<std::size_t>(size.height());
    if (out.bytes < kWorthIt || out.bytesPerLine > std::size_t(INT32_MAX))
        return false;
    out.large = (out.bytes + kLargePage - 1) & ~(kLargePage - 1);
    out.length = out.large + kLargePage;
    return true;
}

struct Mapping {
    void* base = nullptr;
    std::size_t length = 0;
    uchar* data = nullptr;   // on a large page's edge
};

// Whole large pages, the last one only partly used, and one more than needed so the picture
// can start on a large page's edge. A large page costs one fault where small ones cost one each.
Mapping mapPicture(const Layout& layout)
{
    void* base = ::mmap(nullptr, layout.length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED)
        return {};
    const auto aligned = (reinterpret_cast<std::uintptr_t>(base) + kLargePage - 1) & ~(kLargePage - 1);
    auto* data = reinterpret_cast<uchar*>(aligned);
#ifdef MADV_HUGEPAGE
    // Advice only: where it is not taken, small pages come instead.
    ::madvise(data, layout.large, MADV_HUGEPAGE);
#endif
    return {base, layout.length, data};
}

void unmap(void* info)
{
    auto* mapping = static_cast<Mapping*>(info);
    ::munmap(mapping->base, mapping->length);
    delete mapping;
}

// The picture owns the mapping from here on; null, with the mapping given back, when QImage
// refuses the memory (it does not call the cleanup then).
QImage pictureOn(const Mapping& mapping, QSize size, const Layout& layout, QImage::Format format)
{
    auto* owned = new Mapping(mapping);
    QImage picture(mapping.data, size.width(), size.height(), qsizetype(layout.bytesPerLine), format, unmap, owned);
    if (picture.isNull())
        unmap(owned);
    return picture;
}

// Has the system hand over the pages of [data, data + bytes): in one call per large page where
// the kernel offers it, else by writing a byte into each small page. Stops early when `stop` says so.
template <typename Stop>
void populate(uchar* data, std::size_t bytes, Stop&& stop)
{
    const long smallPage = ::sysconf(_SC_PAGESIZE) > 0 ? ::sysconf(_SC_PAGESIZE) : 4096;
    for (std::size_t at = 0; at < bytes && !stop(); at += kLargePage) {
        const std::size_t piece = std::min(kLargePage, bytes - at);
#ifdef MADV_POPULATE_WRITE
        if (::madvise(data + at, piece, MADV_POPULATE_WRITE) == 0)
            continue;
#endif
        for (std::size_t page = 0; page < piece; page += std::size_t(smallPage))
            *reinterpret_cast<volatile uchar*>(data + at + page) = 0;
    }
}

} // namespace

struct PictureMemoryAhead::Work {
    QSize size;
    QImage::Format format = QImage::Format_Invalid;
    Layout layout;

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Mapping> pieces;   // made by the thread, in order
    std::size_t count = 0;         // how many it makes
    std::size_t taken = 0;         // how many newPicture has taken
    bool finished = false;         // the thread has made all it will
    bool stopping = false;
    std::thread thread;

    void run()
    {
        for (std::size_t k = 0; k < count; ++k) {
            {
                std::lock_guard lock(mutex);
                if (stopping)
                    break;
            }
            const Mapping mapping = mapPicture(layout);
            if (mapping.base)
                populate(mapping.data, layout.bytes, [&] {
                    std::lock_guard lock(mutex);
                    return stopping;
                });
            std::lock_guard lock(mutex);
            if (!mapping.base)
                break;
            pieces.push_back(mapping);
            changed.notify_all();
        }
        std::lock_guard lock(mutex);
        finished = true;
        changed.notify_all();
    }

    // The next prepared piece, once it is ready; empty when there is none to come.
    Mapping take()
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return pieces.size() > taken || finished; });
        if (pieces.size() <= taken)
            return {};
        return pieces[taken++];
    }

    void end()
    {
        {
            std::lock_guard lock(mutex);
            stopping = true;
        }
        if (thread.joinable())
            thread.join();
        for (std::size_t k = taken; k < pieces.size(); ++k)
            ::munmap(pieces[k].base, pieces[k].length);
        pieces.resize(taken);
    }
};

namespace {

// The preparations under way. Held while a piece is taken, so an owner cannot end one midway.
std::mutex& preparationsMutex()
{
    static std::mutex m;
    return m;
}

std::vector<PictureMemoryAhead::Work*>& preparations()
{
    static std::vector<PictureMemoryAhead::Work*> list;
    return list;
}

} // namespace

PictureMemoryAhead::PictureMemoryAhead() = default;

PictureMemoryAhead::~PictureMemoryAhead() { release(); }

void PictureMemoryAhead::prepare(QSize size, QImage::Format format, int count)
{
    release();
    Layout layout;
    if (count <= 0 || !layoutFor(size, format, layout))
        return;
    auto work = std::make_unique<Work>();
    work->size = size;
    work->format = format;
    work->layout = layout;
    work->count = static_cast<std::size_t>(count);
    try {
        work->thread = std::thread([w = work.get()] { w->run(); });
    } catch (const std::system_error&) {
        return;   // no thread to spare: pictures are made as usual
    }
    std::lock_guard lock(preparationsMutex());
    preparations().push_back(work.get());
    mWork = std::move(work);
}

void PictureMemoryAhead::release()
{
    if (!mWork)
        return;
    {
        std::lock_guard lock(preparationsMutex());
        auto& list = preparations();
        list.erase(std::remove(list.begin(), list.end(), mWork.get()), list.end());
    }
    mWork->end();
    mWork.reset();
}

QImage newPicture(QSize size, QImage::Format format)
{
    Layout layout;
    if (layoutFor(size, format, layout)) {
        {
            std::lock_guard lock(preparationsMutex());
            for (PictureMemoryAhead::Work* work : preparations()) {
                if (work->size != size || work->format != format)
                    continue;
                const Mapping mapping = work->take();
                if (mapping.base)
                    return pictureOn(mapping, size, layout, format);
            }
        }
        const Mapping mapping = mapPicture(layout);
        if (mapping.base) {
            // The pages come as the picture is first drawn, so the threads drawing its bands
            // take those of their own rows.
            if (QImage picture = pictureOn(mapping, size, layout, format); !picture.isNull())
                return picture;
        }
    }
    return QImage(size, format);
}

#else

struct PictureMemoryAhead::Work {};

PictureMemoryAhead::PictureMemoryAhead() = default;
PictureMemoryAhead::~PictureMemoryAhead() = default;
void PictureMemoryAhead::prepare(QSize, QImage::Format, int) {}
void PictureMemoryAhead::release() {}

QImage newPicture(QSize size, QImage::Format format) { return QImage(size, format); }

#endif

} // namespace ss
