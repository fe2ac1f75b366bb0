// Text functions. Positions and lengths count UTF-16 code units, as Excel's do.
#include "spreadsheet/formula_functions.h"
#include "spreadsheet/numfmt.h"
#include "spreadsheet/textinput.h"
#include "spreadsheet/unicode.h"

#include <algorithm>
#include <cmath>

namespace ss::formula::detail {

namespace {

constexpr std::size_t kMaxText = 32767;   // longest text a cell holds

std::u16string u16(const std::string& s) { return utf8ToUtf16(s); }
Item textResult(const std::u16string& u)
{
    if (u.size() > kMaxText)
        return Item::of(ErrorCode::Value);
    return Item::of(ss::Value(utf16ToUtf8(u)));
}

char16_t upper16(char16_t c)
{
    if (c >= u'a' && c <= u'z')
        return static_cast<char16_t>(c - 32);
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7)
        return static_cast<char16_t>(c - 32);
    return c;
}

char16_t lower16(char16_t c)
{
    if (c >= u'A' && c <= u'Z')
        return static_cast<char16_t>(c + 32);
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7)
        return static_cast<char16_t>(c + 32);
    return c;
}

bool isLetter16(char16_t c) { return upper16(c) != lower16(c) || c == 0xDF; }

Item fnLen(Call& c)
{
    std::string s;
    if (!c.text(0, s))
        return Item::of(c.error());
    return Item::of(static_cast<double>(u16(s).size()));
}

Item leftRight(Call& c)
{
    std::string s;
    double k;
    if (!c.text(0, s) || !c.integer(1, k, 1))
        return Item::of(c.error());
    if (k < 0)
        return Item::of(ErrorCode::Value);
    const std::u16string u = u16(s);
    const std::size_t take = static_cast<std::size_t>(std::min(k, static_cast<double>(u.size())));
    return textResult(c.id == Fn::Left ? u.substr(0, take) : u.substr(u.size() - take));
}

Item fnMid(Call& c)
{
    std::string s;
    double start, k;
    if (!c.text(0, s) || !c.integer(1, start) || !c.integer(2, k))
        return Item::of(c.error());
    if (start < 1 || k < 0)
        return Item::of(ErrorCode::Value);
    const std::u16string u = u16(s);
    if (start > static_cast<double>(u.size()))
        return Item::of(ss::Value(""));
    return textResult(u.substr(static_cast<std::size_t>(start) - 1, static_cast<std::size_t>(std::min(k, 1e6))));
}

Item upperLower(Call& c)
{
    std::string s;
    if (!c.text(0, s))
        return Item::of(c.error());
    std::u16string u = u16(s);
    if (c.id == Fn::Proper) {
        bool afterLetter = false;
        for (char16_t& ch : u) {
            ch = afterLetter ? lower16(ch) : upper16(ch);
            afterLetter = isLetter16(ch);
        }
    } else {
        for (char16_t& ch : u)
            ch = c.id == Fn::Upper ? upper16(ch) : lower16(ch);
    }
    return textResult(u);
}

// TRIM: no leading or trailing spaces, single spaces inside.
Item fnTrim(Call& c)
{
    std::string s, out;
    if (!c.text(0, s))
        return Item::of(c.error());
    for (char ch : s) {
        if (ch == ' ' && (out.empty() || out.back() == ' '))
            continue;
        out.push_back(ch);
    }
    if (!out.empty() && out.back() == ' ')
        out.pop_back();
    return Item::of(ss::Value(out));
}

// CLEAN: without the control characters 0-31.
Item fnClean(Call& c)
{
    std::string s, out;
    if (!c.text(0, s))
        return Item::of(c.error());
    for (char ch : s)
        if (static_cast<unsigned char>(ch) >= 32)
            out.push_back(ch);
    return Item::of(ss::Value(out));
}

Item fnConcatenate(Call& c)
{
    std::string out, s;
    for (std::size_t i = 0; i < c.size(); ++i) {
        if (!c.text(i, s))
            return Item::of(c.error());
        out += s;
        if (out.size() > 4 * kMaxText)
            return Item::of(ErrorCode::Value);
    }
    return textResult(u16(out));
}

Item fnExact(Call& c)
{
    std::string a, b;
    if (!c.text(0, a) || !c.text(1, b))
        return Item::of(c.error());
    return Item::of(a == b);
}

Item fnRept(Call& c)
{
    std::string s;
    double k;
    if (!c.text(0, s) || !c.integer(1, k))
        return Item::of(c.error());
    const std::size_t len = u16(s).size();
    if (k < 0 || static_cast<double>(len) * k > kMaxText)
        return Item::of(ErrorCode::Value);
    std::string out;
    if (!s.empty())
        for (int i = 0; i < static_cast<int>(k); ++i)
            out += s;
    return Item::of(ss::Value(out));
}

// FIND (case-sensitive) and SEARCH (without regard to case, with wildcards): 1-based position
// of the first match at or after `start`.
Item findSearch(Call& c)
{
    std::string what, within;
    double start;
    if (!c.text(0, what) || !c.text(1, within) || !c.integer(2, start, 1))
        return Item::of(c.error());
    const std::u16string w = u16(what), in = u16(within);
    if (start < 1 || start > static_cast<double>(in.size()) + (w.empty() ? 1 : 0))
        return Item::of(ErrorCode::Value);
    const auto from = static_cast<std::size_t>(start) - 1;
    if (c.id == Fn::Find) {
        const std::size_t at = in.find(w, from);
        return at == std::u16string::npos ? Item::of(ErrorCode::Value) : Item::of(static_cast<double>(at + 1));
    }
    if (w.empty())
        return Item::of(static_cast<double>(from + 1));
    // Try each start; the pattern must match a prefix of the rest, so end it with '*'.
    const std::string pattern = what + "*";
    for (std::size_t i = from; i < in.size(); ++i)
        if (wildcardMatch(pattern, utf16ToUtf8(in.substr(i))))
            return Item::of(static_cast<double>(i + 1));
    return Item::of(ErrorCode::Value);
}

Item fnSubstitute(Call& c)
{
    std::string text, from, to;
    double nth;
    if (!c.text(0, text) || !c.text(1, from) || !c.text(2, to) || !c.integer(3, nth, 0))
        return Item::of(c.error());
    if (c.has(3) && nth < 1)
        return Item::of(ErrorCode::Value);
    const std::u16string u = u16(text), f = u16(from), t = u16(to);
    if (f.empty())
        return Item::of(ss::Value(text));
    std::u16string out;
    std::size_t pos = 0;
    int count = 0;
    for (;;) {
        const std::size_t at = u.find(f, pos);
        if (at == std::u16string::npos)
            break;
        ++count;
        out += u.substr(pos, at - pos);
        out += (!c.has(3) || count == static_cast<int>(nth)) ? t : f;
        pos = at + f.size();
        if (out.size() > kMaxText)
            return Item::of(ErrorCode::Value);
    }
    out += u.substr(pos);
    return textResult(out);
}

Item fnReplace(Call& c)
{
    std::string text, with;
    double start, n;
    if (!c.text(0, text) || !c.integer(1, start) || !c.integer(2, n) || !c.text(3, with))
        return Item::of(c.error());
    if (start < 1 || n < 0)
        return Item::of(ErrorCode::Value);
    std::u16string u = u16(text);
    const std::size_t at = static_cast<std::size_t>(std::min(start - 1, static_cast<double>(u.size())));
    const std::size_t len = static_cast<std::size_t>(std::min(n, static_cast<double>(u.size() - at)));
    u.replace(at, len, u16(with));
    return textResult(u);
}

Item fnChar(Call& c)
{
    double x;
    if (!c.integer(0, x))
        return Item::of(c.error());
    if (x < 1 || x > 255)
        return Item::of(ErrorCode::Value);
    // The Windows-1252 code page of Excel on Western systems.
    static const char16_t k80[32] = {0x20AC, 0x81, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
                                      0x2039, 0x0152, 0x8D, 0x017D, 0x8F, 0x90, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
                                      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D, 0x017E, 0x0178};
    const int k = static_cast<int>(x);
    const char16_t ch = k >= 0x80 && k < 0xA0 ? k80[k - 0x80] : static_cast<char16_t>(k);
    return textResult(std::u16string(1, ch));
}

Item fnCode(Call& c)
{
    std::string s;
    if (!c.text(0, s))
        return Item::of(c.error());
    const std::u16string u = u16(s);
    if (u.empty())
        return Item::of(ErrorCode::Value);
    return Item::of(static_cast<double>(u[0] < 0x100 ? u[0] : '?'));
}

// VALUE: a number, or text as a person types it: "1,234.5", "$12", "(5)", "7%", dates, times.
Item fnValue(Call& c)
{
    const ss::Value v = c.value(0);
    if (v.isError() || v.isNumber())
        return Item::of(v);
    if (v.isBlank())
        return Item::of(0.0);
    if (v.isBoolean())
        return Item::of(ErrorCode::Value);
    double x;
    if (parseNumber(v.text(), x))
        return Item::of(x);
    const ss::Value typed = valueFromTypedText(v.text());
    if (typed.isNumber())
        return Item::of(typed);
    if (parseDateTimeText(v.text(), x, c.ev.ctx.date1904))
        return Item::of(x);
    return Item::of(ErrorCode::Value);
}

// TEXT: a value under a number format code. Text that reads as a number is formatted as one.
Item fnText(Call& c)
{
    ss::Value v = c.value(0);
    std::string fmt;
    if (v.isError())
        return Item::of(v);
    if (!c.text(1, fmt))
        return Item::of(c.error());
    double x;
    if (v.isText() && (parseNumber(v.text(), x) || parseDateTimeText(v.text(), x, c.ev.ctx.date1904)))
        v = x;
    else if (v.isBlank())
        v = 0.0;
    return Item::of(ss::Value(formatValue(v, fmt, c.ev.ctx.date1904).text));
}

// FIXED(number, decimals = 2, no_commas = FALSE) and DOLLAR(number, decimals = 2): the number
// rounded to the decimals as text, with thousands separators (and the currency sign).
Item fixedDollar(Call& c)
{
    double x, d;
    bool noCommas = false;
    if (!c.number(0, x) || !c.integer(1, d, 2) || (c.id == Fn::Fixed && !c.boolean(2, noCommas, false)))
        return Item::of(c.error());
    if (d > 127)
        return Item::of(ErrorCode::Value);
    d = std::max(d, -127.0);
    const double r = roundDigits(x, static_cast<int>(d), RoundMode::Nearest);
    if (!std::isfinite(r))
        return Item::of(ErrorCode::Num);
    std::string code = noCommas ? "0" : "#,##0";
    if (d > 0)
        code += "." + std::string(static_cast<std::size_t>(d), '0');
    if (c.id == Fn::Dollar)
        code = "$" + code + ";($" + code + ")";
    return Item::of(ss::Value(formatValue(r, code).text));
}

const FunctionImpl kText[] = {
    {Fn::Len, fnLen},
    {Fn::Left, leftRight},
    {Fn::Right, leftRight},
    {Fn::Mid, fnMid},
    {Fn::Upper, upperLower},
    {Fn::Lower, upperLower},
    {Fn::Proper, upperLower},
    {Fn::Trim, fnTrim},
    {Fn::Clean, fnClean},
    {Fn::Concatenate, fnConcatenate},
    {Fn::Exact, fnExact},
    {Fn::Rept, fnRept},
    {Fn::Find, findSearch},
    {Fn::Search, findSearch},
    {Fn::Substitute, fnSubstitute},
    {Fn::Replace, fnReplace},
    {Fn::Char, fnChar},
    {Fn::Code, fnCode},
    {Fn::Value, fnValue},
    {Fn::Text, fnText},
    {Fn::Fixed, fixedDollar},
    {Fn::Dollar, fixedDollar},
};

} // namespace

std::span<const FunctionImpl> textFunctions() { return kText; }

} // namespace ss::formula::detail
