// libFuzzer entry for the compound file reader: any input must either parse or throw FormatError.
// Build: fuzz/CMakeLists.txt (fuzz/run.sh builds and runs every target).
#include "spreadsheet/cfb.h"
#include "spreadsheet/error.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    try {
        const auto streams = ss::cfb::read({data, size});
        // Whatever was read must write back and read again.
        const auto again = ss::cfb::read(ss::cfb::write(streams));
        if (again.size() != streams.size())
            __builtin_trap();
    } catch (const ss::FormatError&) {
    }
    return 0;
}
