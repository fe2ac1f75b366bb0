#include "spreadsheet/numfmt.h"

#include "spreadsheet/datetime.h"
#include "spreadsheet/model.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <span>
#include <unordered_map>
#include <vector>

namespace ss {

namespace {

enum class T {
    Lit, Digit, Point, Comma, Percent, Exp, At, General,
    Year, Month, Day, Hour, Minute, Second, AmPm, SubSec, ElapsedH, ElapsedM, ElapsedS,
};

struct Tok {
    Tok(T t, std::string s = {}, int count = 0, char c = 0) : type(t), text(std::move(s)), n(count), ch(c) {}
    T type;
    std::string text;   // literal text; AM/PM spelling; for Exp the letter
    int n = 0;          // run length of a date/time letter; sub-second digits
    char ch = 0;        // digit placeholder ('0' '#' '?'); exponent sign ('+' '-')
};

// What the commas of a number section do: between integer placeholders they group thousands;
// after the last placeholder each one divides by 1000; elsewhere they are text.
enum class CommaRole : std::uint8_t { Group, Scale, Text };

// Where a number section puts its digits, worked out once when the section is read.
struct NumberLayout {
    static constexpr std::size_t npos = std::string::npos;
    std::size_t expAt = npos;          // the exponent token, if any
    std::size_t intEnd = npos;         // tokens before this one are the integer part
    std::vector<std::size_t> intPh;    // the integer digit placeholders, left to right
    std::size_t fracCount = 0;         // digit placeholders after the decimal point
    int expDigits = 0;                 // digit placeholders of the exponent
    std::vector<CommaRole> commaRole;  // by token
    bool grouping = false;
    int scale = 0, percents = 0;
    bool engineering = false;          // an exponent that is a multiple of the integer placeholders
};

struct Section {
    std::vector<Tok> toks;
    NumberLayout layout;               // for number sections
    bool hasColor = false;
    std::uint32_t color = 0;
    bool hasCond = false;
    std::string condOp;
    double condVal = 0;
    bool isDate = false;
    bool hasAt = false;
};

struct Parsed {
    std::vector<Section> sections;
};

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool startsWithCi(const std::string& s, std::size_t i, const char* word)
{
    for (std::size_t k = 0; word[k]; ++k) {
        if (i + k >= s.size() || lower(s[i + k]) != lower(word[k]))
            return false;
    }
    return true;
}

// Length of the UTF-8 sequence starting with `c`, so escapes and literals keep whole characters.
std::size_t u8len(unsigned char c)
{
    if (c < 0x80) return 1;
    if ((c & 0xE0) == 0xC0) return 2;
    if ((c & 0xF0) == 0xE0) return 3;
    if ((c & 0xF8) == 0xF0) return 4;
    return 1;
}


void addLit(Section& sec, const std::string& text)
{
    if (!sec.toks.empty() && sec.toks.back().type == T::Lit)
        sec.toks.back().text += text;
    else
        sec.toks.push_back({T::Lit, text});
}

void parseBracket(Section& sec, const std::string& in)
{
    if (in.empty())
        return;
    std::string low;
    for (char c : in)
        low += lower(c);
    if (in[0] == '$') {
        // [$€-407]: the part before '-' is shown as is; the locale id is ignored.
        const auto dash = in.find('-');
        addLit(sec, in.substr(1, dash == std::string::npos ? std::string::npos : dash - 1));
        return;
    }
    if (in[0] == '<' || in[0] == '>' || in[0] == '=') {
        std::size_t k = 0;
        while (k < in.size() && (in[k] == '<' || in[k] == '>' || in[k] == '='))
            ++k;
        sec.hasCond = true;
        sec.condOp = in.substr(0, k);
        sec.condVal = std::strtod(in.c_str() + k, nullptr);
        return;
    }
    static const std::pair<const char*, std::uint32_t> colours[] = {
        {"black", 0x000000}, {"white", 0xFFFFFF}, {"red", 0xFF0000}, {"green", 0x00FF00},
        {"blue", 0x0000FF}, {"yellow", 0xFFFF00}, {"magenta", 0xFF00FF}, {"cyan", 0x00FFFF},
    };
    for (const auto& [name, rgb] : colours) {
        if (low == name) {
            sec.hasColor = true;
            sec.color = 0xFF000000u | rgb;
            return;
        }
    }
    if (low.rfind("color", 0) == 0) {
        const int n = std::atoi(low.c_str() + 5);
        if (n >= 1 && n <= 56) {
            sec.hasColor = true;
            sec.color = 0xFF000000u | defaultPaletteRgb(n + 7);
        }
        return;
    }
    if (low.find_first_not_of('h') == std::string::npos) {
        sec.toks.push_back({T::ElapsedH, {}, static_cast<int>(low.size())});
    } else if (low.find_first_not_of('m') == std::string::npos) {
        sec.toks.push_back({T::ElapsedM, {}, static_cast<int>(low.size())});
    } else if (low.find_first_not_of('s') == std::string::npos) {
        sec.toks.push_back({T::ElapsedS, {}, static_cast<int>(low.size())});
    }
    // Anything else ([DBNum1], [natural] ...) has no effect on the text.
}

bool isDateTok(T t)
{
    switch (t) {
    case T::Year: case T::Month: case T::Day: case T::Hour: case T::Minute: case T::Second:
    case T::AmPm: case T::SubSec: case T::ElapsedH: case T::ElapsedM: case T::ElapsedS:
        return true;
    default:
        return false;
    }
}

NumberLayout numberLayout(const std::vector<Tok>& tk)
{
    NumberLayout l;
    const std::size_t npos = NumberLayout::npos;
    std::size_t pointAt = npos;
    for (std::size_t k = 0; k < tk.size(); ++k) {
        if (tk[k].type == T::Point && pointAt == npos && l.expAt == npos)
            pointAt = k;
        if (tk[k].type == T::Exp && l.expAt == npos)
            l.expAt = k;
    }
    l.intEnd = std::min(pointAt, l.expAt);
    for (std::size_t k = 0; k < tk.size(); ++k) {
        if (tk[k].type != T::Digit)
            continue;
        if (k < l.intEnd) l.intPh.push_back(k);
        else if (k < l.expAt) ++l.fracCount;
        else ++l.expDigits;
    }
    l.commaRole.assign(tk.size(), CommaRole::Text);
    for (std::size_t k = 0; k < tk.size(); ++k) {
        if (tk[k].type == T::Percent)
            ++l.percents;
        if (tk[k].type != T::Comma)
            continue;
        bool before = false, afterInInt = false, afterAny = false;
        for (std::size_t p = 0; p < k; ++p)
            before = before || (tk[p].type == T::Digit && p < l.expAt);
        for (std::size_t q = k + 1; q < tk.size() && q < l.expAt; ++q) {
            if (tk[q].type == T::Digit) {
                afterAny = true;
                afterInInt = afterInInt || q < l.intEnd;
            }
        }
        if (before && afterInInt && k < l.intEnd) {
            l.commaRole[k] = CommaRole::Group;
            l.grouping = true;
        } else if (before && !afterAny) {
            l.commaRole[k] = CommaRole::Scale;
            ++l.scale;
        }
    }
    for (std::size_t k : l.intPh)
        l.engineering = l.engineering || tk[k].ch == '#';
    l.engineering = l.engineering && l.intPh.size() > 1;
    return l;
}

Section parseSection(const std::string& s)
{
    Section sec;
    std::size_t i = 0;
    auto run = [&](char c) {
        int n = 0;
        while (i < s.size() && lower(s[i]) == c) {
            ++n;
            ++i;
        }
        return n;
    };
    while (i < s.size()) {
        const char c = s[i];
        const char lc = lower(c);
        if (c == '"') {
            const auto end = s.find('"', i + 1);
            addLit(sec, s.substr(i + 1, end == std::string::npos ? std::string::npos : end - i - 1));
            i = end == std::string::npos ? s.size() : end + 1;
        } else if (c == '\\' || c == '!') {
            if (i + 1 < s.size()) {
                const std::size_t len = u8len(static_cast<unsigned char>(s[i + 1]));
                addLit(sec, s.substr(i + 1, len));
                i += 1 + len;
            } else {
                ++i;
            }
        } else if (c == '_') {
            // Space as wide as the next character: a blank is close enough.
            addLit(sec, " ");
            i += 1 + (i + 1 < s.size() ? u8len(static_cast<unsigned char>(s[i + 1])) : 0);
        } else if (c == '*') {
            // Repeat-to-fill: the cell is not filled, the character is dropped.
            i += 1 + (i + 1 < s.size() ? u8len(static_cast<unsigned char>(s[i + 1])) : 0);
        } else if (c == '[') {
            const auto end = s.find(']', i + 1);
            const std::string inner = s.substr(i + 1, end == std::string::npos ? std::string::npos : end - i - 1);
            parseBracket(sec, inner);
            i = end == std::string::npos ? s.size() : end + 1;
        } else if (lc == 'e' && i + 1 < s.size() && (s[i + 1] == '+' || s[i + 1] == '-')) {
            sec.toks.push_back({T::Exp, std::string(1, c), 0, s[i + 1]});
            i += 2;
        } else if (startsWithCi(s, i, "general")) {
            sec.toks.push_back({T::General});
            i += 7;
        } else if (startsWithCi(s, i, "am/pm")) {
            sec.toks.push_back({T::AmPm, s.substr(i, 5), 2});
            i += 5;
        } else if (startsWithCi(s, i, "a/p")) {
            sec.toks.push_back({T::AmPm, s.substr(i, 3), 1});
            i += 3;
        } else if (lc == 'y') {
            sec.toks.push_back({T::Year, {}, run('y')});
        } else if (lc == 'm') {
            sec.toks.push_back({T::Month, {}, run('m')});
        } else if (lc == 'd') {
            sec.toks.push_back({T::Day, {}, run('d')});
        } else if (lc == 'h') {
            sec.toks.push_back({T::Hour, {}, run('h')});
        } else if (lc == 's') {
            sec.toks.push_back({T::Second, {}, run('s')});
        } else if (c == '0' || c == '#' || c == '?') {
            sec.toks.push_back({T::Digit, {}, 0, c});
            ++i;
        } else if (c == '.') {
            sec.toks.push_back({T::Point});
            ++i;
        } else if (c == ',') {
            sec.toks.push_back({T::Comma});
            ++i;
        } else if (c == '%') {
            sec.toks.push_back({T::Percent});
            ++i;
        } else if (c == '@') {
            sec.toks.push_back({T::At});
            sec.hasAt = true;
            ++i;
        } else {
            const std::size_t len = u8len(static_cast<unsigned char>(c));
            addLit(sec, s.substr(i, len));
            i += len;
        }
    }

    for (const Tok& t : sec.toks)
        sec.isDate = sec.isDate || isDateTok(t.type);
    if (!sec.isDate) {
        sec.layout = numberLayout(sec.toks);
        return sec;
    }

    // In a date section 'm' means minutes right after hours or right before seconds;
    // ".0" after seconds is a fraction of a second; other number symbols are plain text.
    auto& tk = sec.toks;
    for (std::size_t k = 0; k < tk.size(); ++k) {
        if (tk[k].type != T::Month)
            continue;
        bool minute = false;
        for (std::size_t p = k; p-- > 0;) {
            if (isDateTok(tk[p].type)) {
                minute = tk[p].type == T::Hour || tk[p].type == T::ElapsedH;
                break;
            }
        }
        if (!minute) {
            for (std::size_t q = k + 1; q < tk.size(); ++q) {
                if (isDateTok(tk[q].type)) {
                    minute = tk[q].type == T::Second || tk[q].type == T::ElapsedS;
                    break;
                }
            }
        }
        if (minute)
            tk[k].type = T::Minute;
    }
    std::vector<Tok> out;
    for (std::size_t k = 0; k < tk.size(); ++k) {
        if (tk[k].type == T::Point && k + 1 < tk.size() && tk[k + 1].type == T::Digit && tk[k + 1].ch == '0') {
            int n = 0;
            while (k + 1 < tk.size() && tk[k + 1].type == T::Digit && tk[k + 1].ch == '0') {
                ++n;
                ++k;
            }
            out.push_back({T::SubSec, {}, std::min(n, 3)});
        } else if (tk[k].type == T::Point) {
            out.push_back({T::Lit, "."});
        } else if (tk[k].type == T::Digit) {
            out.push_back({T::Lit, std::string(1, tk[k].ch)});
        } else if (tk[k].type == T::Comma) {
            out.push_back({T::Lit, ","});
        } else if (tk[k].type == T::Percent) {
            out.push_back({T::Lit, "%"});
        } else {
            out.push_back(tk[k]);
        }
    }
    tk = std::move(out);
    return sec;
}

std::vector<std::string> splitSections(const std::string& code)
{
    std::vector<std::string> parts(1);
    for (std::size_t i = 0; i < code.size(); ++i) {
        const char c = code[i];
        if (c == '"') {
            const auto end = code.find('"', i + 1);
            const std::size_t stop = end == std::string::npos ? code.size() - 1 : end;
            parts.back() += code.substr(i, stop - i + 1);
            i = stop;
        } else if (c == '[') {
            const auto end = code.find(']', i + 1);
            const std::size_t stop = end == std::string::npos ? code.size() - 1 : end;
            parts.back() += code.substr(i, stop - i + 1);
            i = stop;
        } else if ((c == '\\' || c == '_' || c == '*') && i + 1 < code.size()) {
            parts.back() += code.substr(i, 2);
            ++i;
        } else if (c == ';') {
            parts.emplace_back();
        } else {
            parts.back() += c;
        }
    }
    return parts;
}

Parsed parse(const std::string& code)
{
    Parsed p;
    for (const std::string& part : splitSections(code))
        p.sections.push_back(parseSection(part));
    return p;
}

// Decimal digits of x >= 0 rounded to `frac` decimals, half away from zero. The double is first
// cut to 15 significant digits, as the spreadsheet does, so 2.345 rounds to 2.35.
struct Fixed {
    std::string intPart;   // no leading zeros; empty for 0
    std::string fracPart;  // exactly `frac` digits
};

} // namespace

// Most numbers a sheet shows (amounts, percentages, counts) lie between 1e-4 and 1e15. There the
// double, an integer mantissa over 2^shift, times 10^k (k = 14 - its decimal exponent) is an integer of at most 117 bits
// divided by a power of two, so the fifteen digits are that quotient rounded exactly as the
// general conversion rounds (to nearest, ties to even). Other numbers take the general way.
void fifteenDigits(double x, char (&buf)[64])
{
    static constexpr std::uint64_t kPow10[20] = {1ull, 10ull, 100ull, 1000ull, 10000ull, 100000ull, 1000000ull, 10000000ull,
                                                 100000000ull, 1000000000ull, 10000000000ull, 100000000000ull,
                                                 1000000000000ull, 10000000000000ull, 100000000000000ull,
                                                 1000000000000000ull, 10000000000000000ull, 100000000000000000ull,
                                                 1000000000000000000ull, 10000000000000000000ull};
    if (x >= 1e-4 && x < 1e15) {
        std::uint64_t bits = 0;
        std::memcpy(&bits, &x, sizeof bits);
        const int biased = static_cast<int>(bits >> 52);                 // x > 0 and normal here
        const std::uint64_t mantissa = (bits & ((std::uint64_t(1) << 52) - 1)) | (std::uint64_t(1) << 52);
        const int shift = 1075 - biased;                                 // x = mantissa / 2^shift; 3 <= shift <= 66
        // The decimal exponent from the binary one, perhaps one low; the digits' count puts it right.
        int e = static_cast<int>(std::floor((biased - 1023) * 0.30102999566398120));
        if (e + 1 >= 0 && e + 1 < 16 && x >= static_cast<double>(kPow10[e + 1]))
            ++e;
        for (int tries = 0; tries < 3; ++tries) {
            const int k = 14 - e;
            if (k < 0 || k > 19)
                break;
            const unsigned __int128 scaled = static_cast<unsigned __int128>(mantissa) * kPow10[k];
            auto digits = static_cast<std::uint64_t>(scaled >> shift);
            const unsigned __int128 rest = scaled & ((static_cast<unsigned __int128>(1) << shift) - 1);
            const unsigned __int128 half = static_cast<unsigned __int128>(1) << (shift - 1);
            if (rest > half || (rest == half && (digits & 1)))
                ++digits;
            if (digits >= kPow10[15]) {
                ++e;
                continue;
            }
            if (digits < kPow10[14]) {
                --e;
                continue;
            }
            char* at = buf + 16;   // "d." and fourteen digits, written from the last
            for (int i = 0; i < 14; ++i) {
                *--at = static_cast<char>('0' + digits % 10);
                digits /= 10;
            }
            buf[1] = '.';
            buf[0] = static_cast<char>('0' + digits);
            at = buf + 16;
            *at++ = 'e';
            *at++ = e < 0 ? '-' : '+';
            const int magnitude = e < 0 ? -e : e;
            *at++ = static_cast<char>('0' + magnitude / 10);
            *at++ = static_cast<char>('0' + magnitude % 10);
            *at = '\0';
            return;
        }
    }
    const auto done = std::to_chars(buf, buf + sizeof buf - 1, x, std::chars_format::scientific, 14);
    *done.ptr = '\0';
}

namespace {

// The exponent fifteenDigits wrote after the 'e'.
int exponentOf(const char* buf)
{
    const char* p = std::strchr(buf, 'e') + 1;
    const bool minus = *p == '-';
    if (*p == '-' || *p == '+')
        ++p;
    int e = 0;
    for (; *p >= '0' && *p <= '9'; ++p)
        e = e * 10 + (*p - '0');
    return minus ? -e : e;
}

Fixed toFixed(double x, int frac)
{
    Fixed f;
    if (!(x > 0) || !std::isfinite(x)) {
        f.fracPart.assign(static_cast<std::size_t>(frac), '0');
        return f;
    }
    char buf[64];
    fifteenDigits(x, buf);
    const int e = exponentOf(buf);
    // The fifteen digits stand `zeros` places after the decimal point when x < 1; `point` digits
    // stand before it, zeros after the fifteenth.
    const int zeros = e < 0 ? -e - 1 : 0;
    int point = e < 0 ? 0 : e + 1;
    const int known = zeros + std::max(15, point);
    auto digitAt = [&](int i) {
        const int d = i - zeros;
        return d < 0 || d >= 15 ? '0' : buf[d == 0 ? 0 : d + 1];
    };
    const int keep = point + frac;
    std::string all(static_cast<std::size_t>(keep), '0');
    for (int i = std::min(keep, zeros + 15); i-- > zeros;)
        all[static_cast<std::size_t>(i)] = digitAt(i);
    if (known > keep && digitAt(keep) >= '5') {
        int k = keep - 1;
        while (k >= 0 && all[static_cast<std::size_t>(k)] == '9')
            all[static_cast<std::size_t>(k--)] = '0';
        if (k < 0) {
            all.insert(all.begin(), '1');
            ++point;
        } else {
            ++all[static_cast<std::size_t>(k)];
        }
    }
    std::size_t lead = 0;
    while (lead < static_cast<std::size_t>(point) && all[lead] == '0')
        ++lead;
    return Fixed{std::string(all.data() + lead, static_cast<std::size_t>(point) - lead),
                 std::string(all.data() + point, all.size() - static_cast<std::size_t>(point))};
}

int decimalExponent(double x)
{
    if (!std::isfinite(x) || x == 0)
        return 0;
    char buf[64];
    fifteenDigits(x, buf);
    return exponentOf(buf);
}

std::string stripZeros(std::string s)
{
    if (s.find('.') == std::string::npos)
        return s;
    while (!s.empty() && s.back() == '0')
        s.pop_back();
    if (!s.empty() && s.back() == '.')
        s.pop_back();
    return s;
}

std::string generalAbs(double a, int maxChars)
{
    if (a == 0)
        return "0";
    if (!std::isfinite(a))
        return "#NUM!";
    const int e = decimalExponent(a);
    if (e >= -4 && e < maxChars) {
        int intDigits = e >= 0 ? e + 1 : 1;
        int decimals = std::max(0, maxChars - intDigits - 1);
        Fixed f = toFixed(a, decimals);
        if (static_cast<int>(f.intPart.size()) <= maxChars) {
            std::string s = f.intPart.empty() ? "0" : f.intPart;
            if (decimals > 0) {
                // Rounding up may add an integer digit: give one decimal back.
                if (static_cast<int>(s.size()) > intDigits && decimals > 0) {
                    f = toFixed(a, --decimals);
                    s = f.intPart.empty() ? "0" : f.intPart;
                }
                s += "." + f.fracPart;
            }
            s = stripZeros(s);
            if (s != "0")
                return s;
        }
    }
    // Scientific: d.ddddE+xx within maxChars.
    int exp = e;
    for (int attempt = 0; attempt < 2; ++attempt) {
        const std::string expText = std::to_string(std::abs(exp));
        const int expLen = 2 + static_cast<int>(std::max<std::size_t>(2, expText.size()));
        const int decimals = std::max(0, maxChars - expLen - 2);
        const Fixed f = toFixed(a / std::pow(10.0, exp), decimals);
        if (f.intPart.size() > 1) {   // 9.999995 rounded to 10.00000
            ++exp;
            continue;
        }
        std::string s = stripZeros((f.intPart.empty() ? "0" : f.intPart) + (decimals ? "." + f.fracPart : ""));
        s += exp < 0 ? "E-" : "E+";
        if (expText.size() < 2)
            s += '0';
        return s + expText;
    }
    return "#NUM!";
}

constexpr const char* kMonths[12] = {"January", "February", "March", "April", "May", "June", "July",
                                     "August", "September", "October", "November", "December"};
constexpr const char* kDays[7] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};

std::string pad(long long v, int width)
{
    std::string s = std::to_string(v);
    if (static_cast<int>(s.size()) < width)
        s.insert(0, static_cast<std::size_t>(width - static_cast<int>(s.size())), '0');
    return s;
}

std::string formatDate(const Section& sec, double v, bool date1904)
{
    // Dates before the epoch or after 9999 cannot be shown, nor a value that is no number.
    if (!(v >= 0 && v < (date1904 ? 2957004.0 : 2958466.0)))
        return "########";
    int sub = 0;
    bool ampm = false;
    for (const Tok& t : sec.toks) {
        if (t.type == T::SubSec)
            sub = std::max(sub, t.n);
        ampm = ampm || t.type == T::AmPm;
    }
    const long long unitsPerSec = sub == 0 ? 1 : sub == 1 ? 10 : sub == 2 ? 100 : 1000;
    const long long unitsPerDay = 86400LL * unitsPerSec;
    long long days = static_cast<long long>(std::floor(v));
    long long units = std::llround((v - static_cast<double>(days)) * static_cast<double>(unitsPerDay));
    if (units >= unitsPerDay) {
        ++days;
        units -= unitsPerDay;
    }
    const long long secs = units / unitsPerSec;
    const long long subUnits = units % unitsPerSec;
    const long long h = secs / 3600, mi = secs / 60 % 60, s = secs % 60;
    const Date d = serialToDate(static_cast<double>(days), date1904);
    const int weekday = static_cast<int>((days + (date1904 ? 5 : 6)) % 7);

    std::string out;
    for (const Tok& t : sec.toks) {
        switch (t.type) {
        case T::Lit: out += t.text; break;
        case T::Year: out += t.n <= 2 ? pad(d.year % 100, 2) : pad(d.year, 4); break;
        case T::Month:
            if (t.n <= 2) out += pad(d.month, t.n);
            else if (t.n == 3) out += std::string(kMonths[d.month - 1]).substr(0, 3);
            else if (t.n == 5) out += kMonths[d.month - 1][0];
            else out += kMonths[d.month - 1];
            break;
        case T::Day:
            if (t.n <= 2) out += pad(d.day, t.n);
            else if (t.n == 3) out += std::string(kDays[weekday]).substr(0, 3);
            else out += kDays[weekday];
            break;
        case T::Hour: {
            long long hh = h;
            if (ampm)
                hh = h % 12 == 0 ? 12 : h % 12;
            out += pad(hh, std::min(t.n, 2));
            break;
        }
        case T::Minute: out += pad(mi, std::min(t.n, 2)); break;
        case T::Second: out += pad(s, std::min(t.n, 2)); break;
        case T::ElapsedH: out += pad(days * 24 + h, t.n); break;
        case T::ElapsedM: out += pad((days * 24 + h) * 60 + mi, t.n); break;
        case T::ElapsedS: out += pad(((days * 24 + h) * 60 + mi) * 60 + s, t.n); break;
        case T::SubSec: {
            std::string digits = pad(subUnits, sub);
            out += "." + digits.substr(0, static_cast<std::size_t>(t.n));
            break;
        }
        case T::AmPm: {
            const bool pm = h >= 12;
            const bool upper = t.text[0] == 'A' || t.text[0] == 'a' ? t.text[0] == 'A' : true;
            if (t.n == 2)
                out += pm ? (upper ? "PM" : "pm") : (upper ? "AM" : "am");
            else
                out += pm ? (upper ? "P" : "p") : (upper ? "A" : "a");
            break;
        }
        default: break;
        }
    }
    return out;
}

std::string formatNumber(const Section& sec, double v)
{
    const auto& tk = sec.toks;
    const NumberLayout& l = sec.layout;
    const std::size_t npos = NumberLayout::npos;
    for (int p = 0; p < l.percents; ++p)
        v *= 100;
    for (int p = 0; p < l.scale; ++p)
        v /= 1000;

    const int fracCount = static_cast<int>(l.fracCount);
    int exponent = 0;
    Fixed fx;
    if (l.expAt != npos) {
        const int n = std::max<int>(1, static_cast<int>(l.intPh.size()));
        const int e = v > 0 ? decimalExponent(v) : 0;
        exponent = l.engineering ? static_cast<int>(std::floor(static_cast<double>(e) / n)) * n : e - (n - 1);
        fx = toFixed(v / std::pow(10.0, exponent), fracCount);
        if (v > 0 && static_cast<int>(fx.intPart.size()) > n) {
            exponent += l.engineering ? n : 1;
            fx = toFixed(v / std::pow(10.0, exponent), fracCount);
        }
    } else {
        fx = toFixed(v, fracCount);
    }

    // Integer placeholders take digits from the right; the leftmost takes all that remain. Their
    // texts are written right to left, backwards, one after the other: placeholder j's text is
    // reversed[ends[j + 1], ends[j]).
    const std::size_t places = l.intPh.size();
    std::string reversed;
    std::size_t fewEnds[16];
    std::vector<std::size_t> manyEnds;
    std::size_t* ends = fewEnds;
    if (places + 1 > std::size(fewEnds)) {
        manyEnds.resize(places + 1);
        ends = manyEnds.data();
    }
    {
        const std::string& digits = fx.intPart;
        int di = static_cast<int>(digits.size()) - 1;
        int pos = 0;   // digit position from the decimal point, for grouping
        auto put = [&](char ch) {
            if (l.grouping && ch != ' ' && pos > 0 && pos % 3 == 0)
                reversed += ',';
            reversed += ch;
            ++pos;
        };
        ends[places] = 0;
        for (std::size_t j = places; j-- > 0;) {
            const char ph = tk[l.intPh[j]].ch;
            if (di >= 0) {
                put(digits[static_cast<std::size_t>(di--)]);
            } else if (ph == '0') {
                put('0');
            } else if (ph == '?') {
                reversed += ' ';
                ++pos;
            }
            if (j == 0) {
                while (di >= 0)
                    put(digits[static_cast<std::size_t>(di--)]);
            }
            ends[j] = reversed.size();
        }
    }
    const auto lastNz = fx.fracPart.find_last_not_of('0');

    std::string out;
    out.reserve(reversed.size() + fx.fracPart.size() + 8);
    bool generalDone = false;
    std::size_t intIndex = 0, fracIndex = 0;
    for (std::size_t k = 0; k < tk.size(); ++k) {
        const Tok& t = tk[k];
        switch (t.type) {
        case T::Lit: out += t.text; break;
        case T::Digit:
            if (k < l.intEnd) {
                const std::size_t j = intIndex++;
                for (std::size_t i = ends[j]; i-- > ends[j + 1];)
                    out += reversed[i];
            } else if (k < l.expAt) {
                const std::size_t j = fracIndex++;
                if (lastNz != npos && j <= lastNz) out += fx.fracPart[j];
                else if (t.ch == '0') out += '0';
                else if (t.ch == '?') out += ' ';
            }
            break;
        case T::Point: out += '.'; break;
        case T::Comma: if (l.commaRole[k] == CommaRole::Text) out += ','; break;
        case T::Percent: out += '%'; break;
        case T::Exp: {
            if (k != l.expAt) break;
            out += t.text;
            if (exponent < 0) out += '-';
            else if (t.ch == '+') out += '+';
            out += pad(std::abs(exponent), l.expDigits);
            break;
        }
        case T::General:
            if (!generalDone) out += formatGeneral(v);
            generalDone = true;
            break;
        default: break;
        }
    }
    return out;
}

bool condHolds(const Section& sec, double v)
{
    const std::string& op = sec.condOp;
    const double c = sec.condVal;
    if (op == "<") return v < c;
    if (op == "<=" || op == "=<") return v <= c;
    if (op == ">") return v > c;
    if (op == ">=" || op == "=>") return v >= c;
    if (op == "<>") return v != c;
    return v == c;
}

FormattedText withSection(const Section& sec, std::string text)
{
    FormattedText f;
    f.text = std::move(text);
    f.hasColor = sec.hasColor;
    f.color = sec.hasColor ? sec.color : 0;
    return f;
}

FormattedText formatNumberWith(const Parsed& p, double v, bool date1904)
{
    // The number sections: up to three, a trailing '@' section being for text only.
    const Section* numbers[3] = {};
    std::size_t numberCount = 0;
    const std::size_t count = p.sections.size();
    for (std::size_t i = 0; i < count && i < 3; ++i) {
        if (p.sections[i].hasAt && i + 1 == count)
            break;
        numbers[numberCount++] = &p.sections[i];
    }
    const std::span<const Section* const> num(numbers, numberCount);
    if (num.empty())
        return {formatGeneral(v)};
    // NaN and the infinities pick no section by sign; they show as a date out of range would, or
    // as the error a computation gives for them.
    if (!std::isfinite(v))
        return withSection(*num[0], num[0]->isDate ? "########" : "#NUM!");

    const Section* sec = num[0];
    bool minus = false;
    double shown = v;
    bool conditional = false;
    for (const Section* s : num)
        conditional = conditional || s->hasCond;
    if (conditional) {
        sec = nullptr;
        for (const Section* s : num) {
            if (s->hasCond ? condHolds(*s, v) : true) {
                sec = s;
                break;
            }
        }
        if (!sec)
            return {"###"};
        // A section that only takes negatives shows them without a sign.
        const bool negativeSection = sec->hasCond && (sec->condOp == "<" || sec->condOp == "<=") && sec->condVal <= 0;
        minus = v < 0 && !negativeSection && sec == num[0];
        shown = std::fabs(v);
    } else if (num.size() == 1 || v > 0 || (v == 0 && num.size() == 2)) {
        minus = v < 0;
        shown = std::fabs(v);
    } else if (v < 0) {
        sec = num[1];
        shown = -v;
    } else {
        sec = num[2];
        shown = 0;
    }
    if (sec->isDate) {
        if (minus)
            return withSection(*sec, "########");
        return withSection(*sec, formatDate(*sec, shown, date1904));
    }
    std::string text = formatNumber(*sec, shown);
    if (minus)
        text.insert(0, "-");
    return withSection(*sec, std::move(text));
}

FormattedText formatTextWith(const Parsed& p, const std::string& text)
{
    const Section* sec = nullptr;
    if (p.sections.size() >= 4)
        sec = &p.sections[3];
    else if (p.sections.back().hasAt)
        sec = &p.sections.back();
    if (!sec)
        return {text};
    std::string out;
    for (const Tok& t : sec->toks) {
        if (t.type == T::Lit) out += t.text;
        else if (t.type == T::At) out += text;
    }
    return withSection(*sec, std::move(out));
}

bool isGeneralCode(const std::string& code)
{
    return code.empty() || (code.size() == 7 && startsWithCi(code, 0, "general"));
}

} // namespace

std::string formatGeneral(double number)
{
    return formatGeneral(number, 11);
}

std::string formatGeneral(double number, int maxChars)
{
    const std::string body = generalAbs(std::fabs(number), std::max(1, maxChars));
    return number < 0 ? "-" + body : body;
}

struct ParsedFormat {
    Parsed parsed;
};

NumberFormat::NumberFormat(const std::string& code) : code_(code), general_(isGeneralCode(code))
{
    if (!general_)
        parsed_ = std::make_shared<const ParsedFormat>(ParsedFormat{parse(code)});
}

FormattedText NumberFormat::format(const Value& value, bool date1904) const
{
    switch (value.kind()) {
    case Value::Kind::Blank: return {};
    case Value::Kind::Boolean: return {value.boolean() ? "TRUE" : "FALSE"};
    case Value::Kind::Error: return {errorText(value.error())};
    case Value::Kind::Text:
        if (general_)
            return {value.text()};
        return formatTextWith(parsed_->parsed, value.text());
    case Value::Kind::Number:
        if (general_)
            return {formatGeneral(value.number())};
        return formatNumberWith(parsed_->parsed, value.number(), date1904);
    }
    return {};
}

bool NumberFormat::isDate() const
{
    if (general_)
        return false;
    for (const Section& sec : parsed_->parsed.sections) {
        if (sec.isDate)
            return true;
    }
    return false;
}

FormattedText formatValue(const Value& value, const std::string& formatCode, bool date1904)
{
    switch (value.kind()) {
    case Value::Kind::Text:
    case Value::Kind::Number: return NumberFormat(formatCode).format(value, date1904);
    default: return NumberFormat(std::string()).format(value, date1904);
    }
}

bool isDateFormat(const std::string& formatCode) { return NumberFormat(formatCode).isDate(); }

} // namespace ss
