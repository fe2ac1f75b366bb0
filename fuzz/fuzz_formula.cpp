// libFuzzer entry for the formula code: the input as text must compile or throw FormatError, and
// whatever compiles must decompile to text that compiles to the same tokens. The input as tokens
// must decompile, expand and evaluate without crashing.
// Build: clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -Isrc src/spreadsheet/formula*.cpp \
//        src/spreadsheet/datetime.cpp src/spreadsheet/value.cpp src/spreadsheet/numfmt.cpp fuzz/fuzz_formula.cpp
#include "spreadsheet/error.h"
#include "spreadsheet/formula.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        const auto tokens = ss::formula::compile(text, 3, 3);
        if (ss::formula::compile(ss::formula::decompile(tokens, 3, 3), 3, 3) != tokens)
            __builtin_trap();
    } catch (const ss::FormatError&) {
    }
    const std::span<const std::uint8_t> raw(data, size);
    ss::formula::Context ctx;
    ctx.cell = [](int row, int col) { return ss::Value(static_cast<double>(row * 256 + col)); };
    (void)ss::formula::decompile(raw, 3, 3);
    (void)ss::formula::references(ss::formula::expandShared(raw, 3, 3));
    (void)ss::formula::evaluate(raw, 3, 3, ctx);
    return 0;
}
