#pragma once
// Excel 97-2003 workbooks: BIFF8 records inside a compound file.
#include "spreadsheet/model.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace ss::xls {

// The Workbook (or Book) stream's records into a Workbook. Throws ss::FormatError on damage.
Workbook readWorkbookStream(std::span<const std::uint8_t> stream);
// A Workbook stream (BOF ... EOF for the globals and each sheet) from the model.
std::vector<std::uint8_t> writeWorkbookStream(const Workbook& wb);

// Whole files: compound file with the Workbook stream and the summary, document summary
// and CompObj streams. Throw ss::FormatError / ss::IoError.
Workbook readFile(std::span<const std::uint8_t> bytes);
std::vector<std::uint8_t> writeFile(const Workbook& wb);
Workbook load(const std::string& path);
void save(const Workbook& wb, const std::string& path);

} // namespace ss::xls
