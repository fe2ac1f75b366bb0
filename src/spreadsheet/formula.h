#pragma once
// Formulas: text <-> BIFF8 tokens (rgce), and evaluation of tokens.
#include "spreadsheet/model.h"
#include "spreadsheet/value.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ss::formula {

// "=SUM(D6:D12)" or "SUM(D6:D12)" -> tokens for a cell formula at (row, col), written as Excel
// writes them (IF and CHOOSE with their jump tokens, volatile functions marked).
// Throws ss::FormatError with the position and reason when the text does not parse.
std::vector<std::uint8_t> compile(std::string_view text, int row = 0, int col = 0);
// The same for a formula that may hold array constants ({1,2;3,4}), references to other sheets
// ("Sheet2!A1", "'My sheet'!B2:C3") and defined names: the values of array constants go to
// `arrayData` (rgcb), which the record stores after the tokens.
struct CompileOptions {
    std::function<int(std::string_view sheet)> sheetIndex;   // EXTERNSHEET index of a sheet; -1 unknown
    std::function<int(std::string_view name)> nameIndex;     // 1-based index of a defined name; 0 unknown
};
std::vector<std::uint8_t> compile(std::string_view text, std::vector<std::uint8_t>& arrayData, const CompileOptions& options = {});
// Tokens -> text without the leading '=' ("SUM(D6:D12)"). Unknown tokens give a placeholder, never a throw.
// `arrayData` holds the constants of array tokens; `sheetName` names the sheets of 3-D references
// by EXTERNSHEET index (empty = none known).
std::string decompile(std::span<const std::uint8_t> tokens, int row = 0, int col = 0);
std::string decompile(std::span<const std::uint8_t> tokens, std::span<const std::uint8_t> arrayData, int row, int col,
                      const std::function<std::string(std::uint16_t ixti)>& sheetName = {});

// Turns shared-formula tokens (ptgRefN/ptgAreaN, relative to the cell) into the ordinary
// tokens of the cell at (row, col).
std::vector<std::uint8_t> expandShared(std::span<const std::uint8_t> tokens, int row, int col);

// Cells a formula reads, for dependency ordering. Areas are listed as ranges.
std::vector<RangeAddress> references(std::span<const std::uint8_t> tokens);

// Everything a formula reads, for ordering across sheets: cells of its own sheet (ixti -1),
// cells of the sheets of an EXTERNSHEET index (3-D references), defined names by index
// (1-based), and whether it computes references at run time (OFFSET, INDIRECT).
struct Dependencies {
    struct Cells {
        int ixti = -1;
        RangeAddress range;
    };
    std::vector<Cells> cells;
    std::vector<std::uint16_t> names;
    bool dynamic = false;
};
Dependencies dependencies(std::span<const std::uint8_t> tokens);

// The sheets [first, last] of `wb` that EXTERNSHEET index `ixti` names. False for another
// workbook, an add-in or a damaged index; first = last = -1 for a deleted sheet.
bool externSheetRange(const Workbook& wb, std::uint16_t ixti, int& first, int& last);

// The cells' current values straight from the caller's own store, for a recalculation that
// computes a formula cell first when a formula reads it before its turn.
class CellSource {
public:
    // The value of the cell at (row, col) of sheet `sheet` of the workbook; never null (a blank
    // cell's value is blank, a sheet the workbook lacks gives #REF!).
    virtual const Value& value(int sheet, int row, int col) = 0;
    // A range of sheet `sheet` that the formula names but whose cells it does not read (a branch
    // of IF not taken), told by tryEvaluatePlain.
    virtual void skipped(int /*sheet*/, const RangeAddress& /*range*/) {}

protected:
    ~CellSource() = default;
};

// What evaluation needs from its surroundings.
struct Context {
    // When set, every cell is read through it and `cell` and `sheetCell` are not used.
    CellSource* source = nullptr;
    // The current value of a cell of the sheet being evaluated (recomputes it first if needed).
    std::function<Value(int row, int col)> cell;
    bool date1904 = false;
    // Serial of the current local date and time for TODAY() and NOW(); empty = the system clock.
    std::function<double()> now;
    // The workbook around the formula, for other sheets (3-D references through its EXTERNSHEET
    // table), defined names and INDIRECT; null for a lone sheet.
    const Workbook* workbook = nullptr;
    int sheet = 0;   // index of the formula's own sheet in `workbook`
    // The current value of a cell of any sheet of `workbook` (recomputing it first if needed);
    // unset = the values the model holds.
    std::function<Value(int sheet, int row, int col)> sheetCell;
    // The constants of the formula's array tokens (rgcb).
    std::span<const std::uint8_t> arrayData;
};

// Evaluates tokens of the cell at (row, col). A range result in a single-cell formula is reduced
// as a spreadsheet does (implicit intersection, else #VALUE!). Never throws on bad tokens: #NAME? / #VALUE!.
// What the engine cannot compute (see tryEvaluate) gives #NAME?.
Value evaluate(std::span<const std::uint8_t> tokens, int row, int col, const Context& ctx);
// The same, but nullopt when the result depends on something the engine cannot compute: a
// function it does not implement, an add-in function, a reference into another workbook, a
// name it cannot resolve. The caller keeps the result the file holds.
std::optional<Value> tryEvaluate(std::span<const std::uint8_t> tokens, int row, int col, const Context& ctx);
// The same for a plain formula only: numbers, texts, Booleans, errors, cells and ranges of its own
// sheet, operators, IF and SUM; nullopt for any other formula, which tryEvaluate computes. Every
// cell the formula's references name is read through ctx.source, or told to it as skipped.
std::optional<Value> tryEvaluatePlain(std::span<const std::uint8_t> tokens, int row, int col, const Context& ctx);
// Evaluates an array formula for its whole range: the value of every cell, row by row.
std::optional<std::vector<Value>> tryEvaluateArray(std::span<const std::uint8_t> tokens, const RangeAddress& range,
                                                   const Context& ctx);

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
