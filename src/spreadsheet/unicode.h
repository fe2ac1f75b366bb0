#pragma once
// UTF-8 <-> UTF-16, as every BIFF8 and compound-file text needs. Bad sequences, lone
// surrogates and code points beyond Unicode become U+FFFD; nothing throws.
#include <string>
#include <string_view>

namespace ss {

std::u16string utf8ToUtf16(std::string_view utf8);
std::string utf16ToUtf8(std::u16string_view utf16);
void appendUtf8(std::string& out, char32_t codePoint);

} // namespace ss
