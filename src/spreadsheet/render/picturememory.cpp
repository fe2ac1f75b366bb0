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
            // Whole large pages, the last one only partly used, and one more than needed so the
            // picture can start on a large page's edge. A large page costs one fault where small
            // ones cost one each; the pages come as the picture is first drawn, so the threads
            // drawing its bands take those of their own rows.
            const std::size_t large = (bytes + kLargePage - 1) & ~(kLargePage - 1);
            const std::size_t length = large + kLargePage;
            void* base = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            if (base != MAP_FAILED) {
                const auto aligned = (reinterpret_cast<std::uintptr_t>(base) + kLargePage - 1) & ~(kLargePage - 1);
                auto* data = reinterpret_cast<uchar*>(aligned);
#ifdef MADV_HUGEPAGE
                // Advice only: where it is not taken, small pages come instead.
                ::madvise(data, large, MADV_HUGEPAGE);
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
