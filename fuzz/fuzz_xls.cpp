// libFuzzer entry for the Excel 97-2003 reader: any input must load or throw FormatError, and
// a workbook that loads must recalculate, save and load again (the writer copes with whatever the reader
// accepted, kept records included).
#include "spreadsheet/calc.h"
#include "spreadsheet/error.h"
#include "spreadsheet/xls.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    ss::Workbook wb;
    try {
        wb = ss::xls::readFile({data, size});
    } catch (const ss::FormatError&) {
        return 0;
    }
    // Whatever formulas the file holds, recalculation must end.
    ss::recalculate(wb);
    // A workbook of chart sheets only reads as one without worksheets; it has nothing to save.
    if (wb.sheets.empty())
        return 0;
    const auto bytes = ss::xls::writeFile(wb);
    try {
        const auto again = ss::xls::readFile(bytes);
        if (again.sheets.size() != wb.sheets.size())
            __builtin_trap();
    } catch (const ss::FormatError&) {
        // Our own output must always read back.
        __builtin_trap();
    }
    return 0;
}
