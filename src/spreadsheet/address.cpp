#include "spreadsheet/address.h"

#include "spreadsheet/model.h"

namespace ss {

std::string columnLetters(int col)
{
    std::string s;
    for (int n = col + 1; n > 0; n = (n - 1) / 26)
        s.insert(s.begin(), static_cast<char>('A' + (n - 1) % 26));
    return s;
}

std::string cellAddress(int row, int col)
{
    return columnLetters(col) + std::to_string(row + 1);
}

bool parseCellAddress(std::string_view text, int& row, int& col)
{
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    std::size_t i = 0;
    if (i < text.size() && text[i] == '$')
        ++i;
    long c = 0;
    std::size_t letters = 0;
    for (; i < text.size() && letters < 4; ++i, ++letters) {
        const char ch = text[i];
        const char upper = (ch >= 'a' && ch <= 'z') ? static_cast<char>(ch - 'a' + 'A') : ch;
        if (upper < 'A' || upper > 'Z')
            break;
        c = c * 26 + (upper - 'A' + 1);
    }
    if (letters == 0 || letters > 3)
        return false;
    if (i < text.size() && text[i] == '$')
        ++i;
    long r = 0;
    std::size_t digits = 0;
    for (; i < text.size(); ++i, ++digits) {
        if (text[i] < '0' || text[i] > '9' || digits >= 7)
            return false;
        r = r * 10 + (text[i] - '0');
    }
    if (digits == 0 || c < 1 || c > kMaxCols || r < 1 || r > kMaxRows)
        return false;
    row = static_cast<int>(r - 1);
    col = static_cast<int>(c - 1);
    return true;
}

} // namespace ss
