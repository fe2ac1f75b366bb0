#pragma once
// Record bodies the reader and the writer both parse.
#include "spreadsheet/model.h"

#include <cstdint>
#include <span>

namespace ss::xls {

// A NAME record body (its CONTINUE bodies appended) as the reader takes it: sheetIndex is the
// record's 1-based tab number, raw is left empty. Throws FormatError when it is cut short.
DefinedName parseNameRecord(std::span<const std::uint8_t> body);

} // namespace ss::xls
