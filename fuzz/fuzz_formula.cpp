// libFuzzer entry for the formula code: the input as text must compile or throw FormatError, and
// whatever compiles must decompile to text that compiles to the same tokens and must evaluate.
// The input as tokens must decompile, expand and evaluate without crashing.
#include "spreadsheet/error.h"
#include "spreadsheet/formula.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace {

ss::formula::Context makeContext()
{
    ss::formula::Context ctx;
    // Every cell holds a number derived from its address, so ranges and look-ups see data.
    ctx.cell = [](int row, int col) { return ss::Value(static_cast<double>(row * 256 + col)); };
    ctx.now = [] { return 46000.5; };
    return ctx;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const ss::formula::Context ctx = makeContext();
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        const auto tokens = ss::formula::compile(text, 3, 3);
        if (ss::formula::compile(ss::formula::decompile(tokens, 3, 3), 3, 3) != tokens)
            __builtin_trap();
        (void)ss::formula::references(tokens);
        (void)ss::formula::evaluate(tokens, 3, 3, ctx);
    } catch (const ss::FormatError&) {
    }
    const std::span<const std::uint8_t> raw(data, size);
    (void)ss::formula::decompile(raw, 3, 3);
    (void)ss::formula::references(ss::formula::expandShared(raw, 3, 3));
    (void)ss::formula::evaluate(raw, 3, 3, ctx);
    return 0;
}
