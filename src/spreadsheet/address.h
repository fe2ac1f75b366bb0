#pragma once
// A1-style cell addresses: column letters and "B2"-style names of 0-based rows and columns.
#include <string>
#include <string_view>

namespace ss {

// "A", "Z", "AA", ... of a 0-based column.
std::string columnLetters(int col);
// "B2" of 0-based row 1, column 1.
std::string cellAddress(int row, int col);
// "B2", "$AC$50", "iv65536" (blanks around allowed) to a 0-based row and column inside the
// sheet; false for anything else.
bool parseCellAddress(std::string_view text, int& row, int& col);

} // namespace ss
