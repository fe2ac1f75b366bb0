// Placeholder until the BIFF8 reader and writer land.
#include "spreadsheet/xls.h"
#include "spreadsheet/error.h"
namespace ss::xls {
Workbook readWorkbookStream(std::span<const std::uint8_t>) { throw FormatError("BIFF8: not implemented"); }
std::vector<std::uint8_t> writeWorkbookStream(const Workbook&) { throw FormatError("BIFF8: not implemented"); }
Workbook readFile(std::span<const std::uint8_t>) { throw FormatError("BIFF8: not implemented"); }
std::vector<std::uint8_t> writeFile(const Workbook&) { throw FormatError("BIFF8: not implemented"); }
Workbook load(const std::string&) { throw FormatError("BIFF8: not implemented"); }
void save(const Workbook&, const std::string&) { throw FormatError("BIFF8: not implemented"); }
}
