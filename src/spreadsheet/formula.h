#pragma once
// Formulas: text <-> BIFF8 tokens (rgce), and evaluation of tokens.
#include "spreadsheet/model.h"
#include "spreadsheet/value.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ss::formula {

// "=SUM(D6:D12)" or "SUM(D6:D12)" -> tokens for a cell formula at (row, col).
// Throws ss::FormatError with the position and reason when the text does not parse.
std::vector<std::uint8_t> compile(std::string_view text, int row = 0, int col = 0);
// Tokens -> text without the leading '=' ("SUM(D6:D12)"). Unknown tokens give a placeholder, never a throw.
std::string decompile(std::span<const std::uint8_t> tokens, int row = 0, int col = 0);

// Turns shared-formula tokens (ptgRefN/ptgAreaN, relative to the cell) into the ordinary
// tokens of the cell at (row, col).
std::vector<std::uint8_t> expandShared(std::span<const std::uint8_t> tokens, int row, int col);

// Cells a formula reads, for dependency ordering. Areas are listed as ranges.
std::vector<RangeAddress> references(std::span<const std::uint8_t> tokens);

// What evaluation needs from its surroundings.
struct Context {
    // The current value of a cell of the sheet being evaluated (recomputes it first if needed).
    std::function<Value(int row, int col)> cell;
    bool date1904 = false;
    // Serial of the current local date and time for TODAY() and NOW(); empty = the system clock.
    std::function<double()> now;
};

// Evaluates tokens of the cell at (row, col). A range result in a single-cell formula is reduced
// as a spreadsheet does (implicit intersection, else #VALUE!). Never throws on bad tokens: #NAME? / #VALUE!.
Value evaluate(std::span<const std::uint8_t> tokens, int row, int col, const Context& ctx);

// Built-in function table ([MS-XLS] Ftab): number <-> name, argument counts.
struct FunctionInfo {
    std::uint16_t index;
    const char* name;
    int minArgs;
    int maxArgs;           // -1 = variable up to 30
    bool fixed;            // fixed argument count (ptgFunc) vs variable (ptgFuncVar)
};
const FunctionInfo* functionByName(std::string_view upperName);
const FunctionInfo* functionByIndex(std::uint16_t index);

} // namespace ss::formula
