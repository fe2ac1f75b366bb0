#include "spreadsheet/textinput.h"

#include "spreadsheet/unicode.h"

#include <charconv>
#include <optional>

namespace ss {

namespace {

bool startsWith(std::string_view s, std::string_view p) { return !p.empty() && s.substr(0, p.size()) == p; }
bool endsWith(std::string_view s, std::string_view p)
{
    return !p.empty() && s.size() >= p.size() && s.substr(s.size() - p.size()) == p;
}

// Blanks, tabs and the no-break spaces some locales group digits with.
std::string_view trim(std::string_view s)
{
    for (;;) {
        if (startsWith(s, " ") || startsWith(s, "\t"))
            s.remove_prefix(1);
        else if (startsWith(s, "\xC2\xA0"))
            s.remove_prefix(2);
        else if (startsWith(s, "\xE2\x80\xAF"))
            s.remove_prefix(3);
        else if (endsWith(s, " ") || endsWith(s, "\t"))
            s.remove_suffix(1);
        else if (endsWith(s, "\xC2\xA0"))
            s.remove_suffix(2);
        else if (endsWith(s, "\xE2\x80\xAF"))
            s.remove_suffix(3);
        else if (startsWith(s, "\xE2\x80\x8E") || startsWith(s, "\xE2\x80\x8F"))   // left-to-right, right-to-left mark
            s.remove_prefix(3);
        else if (endsWith(s, "\xE2\x80\x8E") || endsWith(s, "\xE2\x80\x8F"))
            s.remove_suffix(3);
        else if (startsWith(s, "\xD8\x9C"))   // Arabic letter mark, before a sign
            s.remove_prefix(2);
        else if (endsWith(s, "\xD8\x9C"))
            s.remove_suffix(2);
        else
            return s;
    }
}

// The text with the locale's own digits written as Latin ones.
std::string latinDigits(std::string_view s, const std::string& zeroDigit)
{
    const std::u16string zero16 = utf8ToUtf16(zeroDigit);
    char32_t zero = zero16.empty() ? U'0' : zero16[0];
    if (zero16.size() == 2 && zero16[0] >= 0xD800 && zero16[0] < 0xDC00)
        zero = 0x10000 + ((char32_t(zero16[0]) - 0xD800) << 10) + (char32_t(zero16[1]) - 0xDC00);
    const std::u16string text = utf8ToUtf16(s);
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size()) {
            c = 0x10000 + ((c - 0xD800) << 10) + (char32_t(text[i + 1]) - 0xDC00);
            ++i;
        }
        if (c >= zero && c <= zero + 9)
            c = U'0' + (c - zero);
        appendUtf8(out, c);
    }
    return out;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Digits with group separators, one decimal mark and an exponent, as plain "123.45e6";
// nullopt when the text is not such a number. Groups after a separator hold three digits,
// as Excel requires; "1,2,3" stays text.
std::optional<std::string> plainNumber(std::string_view s, const NumberLocale& loc)
{
    std::string out;
    bool digitsBefore = false, digitsAfter = false, decimal = false, grouped = false;
    int groupDigits = 0;   // digits since the last group separator
    std::size_t i = 0;
    auto groupOk = [&] { return !grouped || groupDigits == 3; };
    while (i < s.size()) {
        const std::string_view rest = s.substr(i);
        if (isDigit(s[i])) {
            out += s[i];
            (decimal ? digitsAfter : digitsBefore) = true;
            if (!decimal)
                ++groupDigits;
            ++i;
        } else if (!decimal && startsWith(rest, loc.decimal)) {
            if (!groupOk())
                return std::nullopt;
            decimal = true;
            out += '.';
            i += loc.decimal.size();
        } else if (!decimal && digitsBefore && (startsWith(rest, loc.group)
                   || ((loc.group == "\xC2\xA0" || loc.group == "\xE2\x80\xAF") && rest[0] == ' '))) {
            if (!groupOk() && groupDigits != loc.secondaryGroupSize)   // "12,34,567" in India
                return std::nullopt;
            grouped = true;
            groupDigits = 0;
            i += startsWith(rest, loc.group) ? loc.group.size() : 1;
        } else {
            break;
        }
    }
    if (!digitsBefore && !digitsAfter)
        return std::nullopt;
    if (!decimal && !groupOk())
        return std::nullopt;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        std::string exp = "e";
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-'))
            exp += s[i++];
        if (i >= s.size() || !isDigit(s[i]))
            return std::nullopt;
        while (i < s.size() && isDigit(s[i]))
            exp += s[i++];
        out += exp;
    }
    if (i != s.size())
        return std::nullopt;
    return out;
}

} // namespace

Value valueFromTypedText(std::string_view text, const NumberLocale& loc)
{
    const std::string_view all = trim(text);
    if (all.empty())
        return Value();
    const Value asText{std::string(text)};

    std::string_view s = all;
    std::string latin;
    if (!loc.zeroDigit.empty() && loc.zeroDigit != "0") {
        latin = latinDigits(all, loc.zeroDigit);
        s = latin;
    }
    bool negative = false, signSeen = false, currency = false, percent = false;
    if (s.size() >= 2 && s.front() == '(' && s.back() == ')') {
        negative = signSeen = true;
        s = trim(s.substr(1, s.size() - 2));
    }
    auto takeSign = [&] {
        if (signSeen)
            return;
        if (startsWith(s, "-") || startsWith(s, loc.negativeSign)) {
            s.remove_prefix(startsWith(s, "-") ? 1 : loc.negativeSign.size());
            negative = signSeen = true;
        } else if (startsWith(s, "+")) {
            s.remove_prefix(1);
            signSeen = true;
        }
        s = trim(s);
    };
    takeSign();
    if (startsWith(s, loc.currencySymbol)) {
        s = trim(s.substr(loc.currencySymbol.size()));
        currency = true;
        takeSign();   // "$-5" as well as "-$5"
    }
    if (endsWith(s, "%")) {
        s = trim(s.substr(0, s.size() - 1));
        percent = true;
    }
    if (!currency && endsWith(s, loc.currencySymbol)) {
        s = trim(s.substr(0, s.size() - loc.currencySymbol.size()));
        currency = true;
    }
    if (currency && percent)
        return asText;

    const auto plain = plainNumber(s, loc);
    if (!plain)
        return asText;
    double v = 0;
    const auto [end, ec] = std::from_chars(plain->data(), plain->data() + plain->size(), v);
    if (ec != std::errc() || end != plain->data() + plain->size())
        return asText;   // out of the range of a double
    if (percent)
        v /= 100.0;
    if (negative)
        v = -v;
    return v == 0 ? Value(0.0) : Value(v);
}

} // namespace ss
