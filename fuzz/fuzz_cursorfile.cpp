// libFuzzer entry for the cursor-file header the program reads from a file beside itself: any
// bytes give a header whose image lies inside them, or none; nothing may crash.
#include "core/cursorfile.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    if (const auto header = corvantis::readCursorHeader(bytes)) {
        if (quint64(header->imageOffset) + header->imageSize > quint64(size))
            __builtin_trap();
    }
    return 0;
}
