#include "spreadsheet/render/picturememory.h"

#include <cstddef>
#include <cstdint>

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace ss {

namespace {

#ifdef __linux__
constexpr std::size_t kLargePage = std::size_t(2) << 20;
constexpr std::size_t kWorthIt = std::size_t(1) << 20;   // below this the allocator serves well

struct Mapping {
    void* base;
    std::size_t length;
};

void unmap(void* info)
{
    auto* mapping = static_cast<Mapping*>(info);
    ::munmap(mapping->base, mapping->length);
    delete mapping;
}
#endif

} // namespace

QImage newPicture(QSize size, QImage::Format format)
{
#ifdef __linux__
    const int depth = QImage::toPixelFormat(format).bitsPerPixel();
    if (size.width() > 0 && size.height() > 0 && depth > 0) {
        const auto bytesPerLine = static_cast<std::size_t>(((qint64(size.width()) * depth + 31) / 32) * 4);
        const std::size_t bytes = bytesPerLine * static_cast<std::size_t>(size.height());
        if (bytes >= kWorthIt && bytesPerLine <= std::size_t(INT32_MAX)) {
            // One large page more than needed, so the picture can start on a large page's edge.
            const std::size_t length = bytes + kLargePage;
            void* base = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            if (base != MAP_FAILED) {
                const auto aligned = (reinterpret_cast<std::uintptr_t>(base) + kLargePage - 1) & ~(kLargePage - 1);
                auto* data = reinterpret_cast<uchar*>(aligned);
                // Advice only: where it is not taken, the pages come as the picture is drawn.
                const std::size_t large = bytes & ~(kLargePage - 1);
#ifdef MADV_HUGEPAGE
                if (large > 0)
                    ::madvise(data, large, MADV_HUGEPAGE);
#endif
#ifdef MADV_POPULATE_WRITE
                // The rest, less than a large page, in one request rather than page by page.
                if (bytes > large)
                    ::madvise(data + large, bytes - large, MADV_POPULATE_WRITE);
#endif
                QImage picture(data, size.width(), size.height(), qsizetype(bytesPerLine), format, unmap,
                               new Mapping{base, length});
                if (!picture.isNull())
                    return picture;
                ::munmap(base, length);
            }
        }
    }
#endif
    return QImage(size, format);
}

} // namespace ss
