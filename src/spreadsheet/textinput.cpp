#include "spreadsheet/textinput.h"

#include "spreadsheet/unicode.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <iterator>
#include <memory>

namespace ss {

namespace {

bool startsWith(std::string_view s, std::string_view p) { return !p.empty() && s.starts_with(p); }
bool endsWith(std::string_view s, std::string_view p) { return !p.empty() && s.ends_with(p); }

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// ------------------------------------------------------------------ one spelling for every text

// The next code point of UTF-8 text; a broken or overlong sequence, a surrogate or a value beyond
// Unicode is U+FFFD and costs its first byte (or the whole well-formed sequence).
char32_t nextCodePoint(std::string_view s, std::size_t& i)
{
    const auto c = std::uint8_t(s[i]);
    if (c < 0x80) {
        ++i;
        return c;
    }
    if (c < 0xC0 || c >= 0xF8) {
        ++i;
        return 0xFFFD;
    }
    const std::size_t len = c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    if (i + len > s.size()) {
        ++i;
        return 0xFFFD;
    }
    std::uint32_t v = c & (0x3F >> (len - 1));
    for (std::size_t k = 1; k < len; ++k) {
        const auto d = std::uint8_t(s[i + k]);
        if ((d & 0xC0) != 0x80) {
            ++i;
            return 0xFFFD;
        }
        v = (v << 6) | (d & 0x3F);
    }
    i += len;
    const std::uint32_t minimum = len == 2 ? 0x80 : len == 3 ? 0x800 : 0x10000;
    if (v < minimum || v > 0x10FFFF || (v >= 0xD800 && v < 0xE000))
        return 0xFFFD;
    return v;
}

// The zeros of every run of decimal digits Unicode knows (Arabic-Indic, Devanagari, Thai,
// full-width, ...): each is followed by the digits one to nine.
constexpr char32_t kDigitZeros[] = {
    0x30,    0x660,   0x6F0,   0x7C0,   0x966,   0x9E6,   0xA66,   0xAE6,   0xB66,   0xBE6,   0xC66,
    0xCE6,   0xD66,   0xDE6,   0xE50,   0xED0,   0xF20,   0x1040,  0x1090,  0x17E0,  0x1810,  0x1946,
    0x19D0,  0x1A80,  0x1A90,  0x1B50,  0x1BB0,  0x1C40,  0x1C50,  0xA620,  0xA8D0,  0xA900,  0xA9D0,
    0xA9F0,  0xAA50,  0xABF0,  0xFF10,  0x104A0, 0x10D30, 0x11066, 0x110F0, 0x11136, 0x111D0, 0x112F0,
    0x11450, 0x114D0, 0x11650, 0x116C0, 0x11730, 0x118E0, 0x11950, 0x11C50, 0x11D50, 0x11DA0, 0x16A60,
    0x16AC0, 0x16B50, 0x1D7CE, 0x1D7D8, 0x1D7E2, 0x1D7EC, 0x1D7F6, 0x1E140, 0x1E2F0, 0x1E950, 0x1FBF0,
};

// The value of a decimal digit of any script; -1 for anything else.
int digitValue(char32_t c)
{
    const auto* after = std::upper_bound(std::begin(kDigitZeros), std::end(kDigitZeros), c);
    if (after == std::begin(kDigitZeros))
        return -1;
    const char32_t zero = *(after - 1);
    return c - zero <= 9 ? int(c - zero) : -1;
}

// Characters that only steer the direction or the joining of text (format characters):
// a currency symbol or a sign may carry them, a pasted number may be wrapped in them.
bool isFormatCharacter(char32_t c)
{
    static constexpr char32_t ranges[][2] = {
        {0xAD, 0xAD},       {0x600, 0x605},     {0x61C, 0x61C},     {0x6DD, 0x6DD},   {0x70F, 0x70F},
        {0x890, 0x891},     {0x8E2, 0x8E2},     {0x180E, 0x180E},   {0x200B, 0x200F}, {0x202A, 0x202E},
        {0x2060, 0x2064},   {0x2066, 0x206F},   {0xFEFF, 0xFEFF},   {0xFFF9, 0xFFFB}, {0x110BD, 0x110BD},
        {0x110CD, 0x110CD}, {0x13430, 0x13438}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A}, {0xE0001, 0xE0001},
        {0xE0020, 0xE007F},
    };
    if (c < 0xAD)
        return false;
    for (const auto& r : ranges) {
        if (c >= r[0] && c <= r[1])
            return true;
    }
    return false;
}

// The spaces of every width (no-break, narrow no-break, thin, ideographic, ...) and the tab.
bool isSpaceLike(char32_t c)
{
    return c == U' ' || c == U'\t' || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x202F
        || c == 0x205F || c == 0x3000;
}

bool isMinusLike(char32_t c) { return c == 0x2212 || c == 0x2012 || c == 0x2013 || c == 0xFE63 || c == 0xFF0D; }
bool isApostropheLike(char32_t c) { return c == 0x2019 || c == 0x2018 || c == 0x02BC || c == 0xFF07; }

// The text in the one spelling texts and conventions are compared in.
std::string normalized(std::string_view text)
{
    if (std::none_of(text.begin(), text.end(), [](char c) { return (c & 0x80) || c == '\t'; }))
        return std::string(text);
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const char32_t c = nextCodePoint(text, i);
        if (isFormatCharacter(c))
            continue;
        if (const int d = digitValue(c); d >= 0)
            out += char('0' + d);
        else if (isSpaceLike(c))
            out += ' ';
        else if (isMinusLike(c))
            out += '-';
        else if (isApostropheLike(c))
            out += '\'';
        else if (c == 0xFF0B)
            out += '+';
        else if (c == 0xFF0E)
            out += '.';
        else if (c == 0xFF0C)
            out += ',';
        else
            appendUtf8(out, c);
    }
    return out;
}

// Without the blanks and line breaks around it (in the normalized spelling).
std::string_view trimmed(std::string_view s)
{
    // Most texts neither begin nor end with a byte any of the blanks begins or ends with.
    auto mayBeBlank = [](char c) { return c == ' ' || c == '\n' || c == '\v' || c == '\f' || c == '\r' || (c & 0x80); };
    if (s.empty() || (!mayBeBlank(s.front()) && !mayBeBlank(s.back())))
        return s;
    static constexpr std::string_view blanks[] = {" ", "\n", "\v", "\f", "\r", "\xC2\x85", "\xE2\x80\xA8", "\xE2\x80\xA9"};
    for (bool changed = true; changed && !s.empty();) {
        changed = false;
        for (const std::string_view b : blanks) {
            if (startsWith(s, b)) {
                s.remove_prefix(b.size());
                changed = true;
            }
            if (endsWith(s, b)) {
                s.remove_suffix(b.size());
                changed = true;
            }
        }
    }
    return s;
}

// ------------------------------------------------------------------ the conventions, spelt alike

struct Marks {
    std::string decimal;
    std::string group;
    int secondaryGroupSize = 3;
    bool spaceGroups = false;   // any blank groups digits as well
    bool threeDecimalsAmbiguous = false;   // "1.234" could be a digit group
};

} // namespace

struct TypedTextReader::Spellings {
    Marks marks[3];
    int markSets = 1;
    std::vector<std::string> minusSigns;   // longest first
    std::vector<std::string> plusSigns;
    std::vector<std::string> symbols;      // longest first
};

namespace {

using Spellings = TypedTextReader::Spellings;

void addSpelling(std::vector<std::string>& list, std::string_view raw)
{
    const std::string s(trimmed(normalized(raw)));
    if (!s.empty() && std::find(list.begin(), list.end(), s) == list.end())
        list.push_back(s);
}

void longestFirst(std::vector<std::string>& list)
{
    // A handful of spellings: each moves ahead of the shorter ones only, so equal lengths keep
    // their order.
    for (std::size_t i = 1; i < list.size(); ++i) {
        for (std::size_t k = i; k > 0 && list[k - 1].size() < list[k].size(); --k)
            std::swap(list[k - 1], list[k]);
    }
}

Spellings spellingsOf(const NumberLocale& loc)
{
    Spellings sp;
    Marks& plain = sp.marks[0];
    plain.decimal = normalized(loc.decimal);
    plain.group = normalized(loc.group);
    plain.secondaryGroupSize = loc.secondaryGroupSize;
    plain.spaceGroups = plain.group == " ";
    if (!loc.currencyDecimal.empty() || !loc.currencyGroup.empty()) {
        Marks money;
        money.decimal = loc.currencyDecimal.empty() ? plain.decimal : normalized(loc.currencyDecimal);
        money.group = loc.currencyGroup.empty() ? plain.group : normalized(loc.currencyGroup);
        money.secondaryGroupSize = loc.currencySecondaryGroupSize;
        money.spaceGroups = money.group == " ";
        if (money.decimal != plain.decimal || money.group != plain.group) {
            sp.marks[1] = std::move(money);
            sp.markSets = 2;
        }
    }
    if (loc.readFreeAsciiMarks) {
        bool point = false, comma = false;
        for (int k = 0; k < sp.markSets; ++k) {
            for (const std::string* mark : {&sp.marks[k].decimal, &sp.marks[k].group}) {
                point = point || mark->find('.') != std::string::npos;
                comma = comma || mark->find(',') != std::string::npos;
            }
        }
        Marks typed = plain;
        if (!point && !comma) {
            typed.decimal = ".";
            typed.group = ",";
            typed.spaceGroups = false;
        } else if (!point && plain.decimal == ",") {
            typed.decimal = ".";
            typed.threeDecimalsAmbiguous = true;
        } else if (!comma && plain.decimal == ".") {
            typed.decimal = ",";
            typed.threeDecimalsAmbiguous = true;
        }
        if (typed.decimal != plain.decimal)
            sp.marks[sp.markSets++] = std::move(typed);
    }
    sp.minusSigns.push_back("-");
    addSpelling(sp.minusSigns, loc.negativeSign);
    for (const std::string& s : loc.otherNegativeSigns)
        addSpelling(sp.minusSigns, s);
    longestFirst(sp.minusSigns);
    sp.plusSigns.push_back("+");
    addSpelling(sp.plusSigns, loc.positiveSign);
    addSpelling(sp.symbols, loc.currencySymbol);
    for (const std::string& s : loc.otherCurrencySymbols)
        addSpelling(sp.symbols, s);
    longestFirst(sp.symbols);
    return sp;
}

// ------------------------------------------------------------------ reading

// The digits, digit groups, decimal mark and exponent that remain of a number text once its
// sign, symbol and percent are gone. The first group may be long ("1234,567"); the groups after
// it hold three digits, or the locale's secondary size for the inner ones of Indian grouping.
bool readDigits(std::string_view s, const Marks& m, TypedNumber& n)
{
    n.whole.clear();
    n.fraction.clear();
    n.exponent = 0;
    bool decimal = false, grouped = false;
    int groupDigits = 0;
    std::size_t i = 0;
    while (i < s.size()) {
        const char ch = s[i];
        const std::string_view rest = s.substr(i);
        if (isDigit(ch)) {
            if (decimal) {
                n.fraction += ch;
            } else {
                n.whole += ch;
                ++groupDigits;
            }
            ++i;
        } else if (!decimal && startsWith(rest, m.decimal)) {
            if (grouped && groupDigits != 3)
                return false;
            decimal = true;
            i += m.decimal.size();
        } else if (!decimal && !n.whole.empty() && (startsWith(rest, m.group) || (m.spaceGroups && ch == ' '))) {
            if (grouped && groupDigits != 3 && groupDigits != m.secondaryGroupSize)
                return false;
            i += startsWith(rest, m.group) ? m.group.size() : 1;
            if (i >= s.size() || !isDigit(s[i]))
                return false;
            grouped = true;
            groupDigits = 0;
        } else if ((ch == 'e' || ch == 'E') && !(n.whole.empty() && n.fraction.empty())) {
            ++i;
            bool minus = false;
            if (i < s.size() && (s[i] == '-' || s[i] == '+'))
                minus = s[i++] == '-';
            if (i >= s.size())
                return false;
            for (; i < s.size(); ++i) {
                if (!isDigit(s[i]))
                    return false;
                n.exponent = std::min<long long>(n.exponent * 10 + (s[i] - '0'), 1000000);
            }
            if (minus)
                n.exponent = -n.exponent;
        } else {
            return false;
        }
    }
    if (n.whole.empty() && n.fraction.empty())
        return false;
    return decimal || !grouped || groupDigits == 3;
}

// The double nearest to the digits; false when it is beyond the range of a double either way.
bool computeValue(TypedNumber& n)
{
    std::string plain = n.whole.empty() ? std::string("0") : n.whole;
    if (!n.fraction.empty()) {
        plain += '.';
        plain += n.fraction;
    }
    if (n.exponent != 0)
        plain += 'e' + std::to_string(n.exponent);
    double v = 0;
    const auto [end, ec] = std::from_chars(plain.data(), plain.data() + plain.size(), v);
    if (ec != std::errc() || end != plain.data() + plain.size())
        return false;
    const bool zero = std::all_of(n.whole.begin(), n.whole.end(), [](char c) { return c == '0'; })
        && std::all_of(n.fraction.begin(), n.fraction.end(), [](char c) { return c == '0'; });
    if (zero)
        n.negative = false;
    if (n.percent)
        v /= 100.0;
    if (n.negative)
        v = -v;
    n.value = v == 0 ? 0.0 : v;
    return true;
}

// A normalized, trimmed, non-empty text.
std::optional<TypedNumber> readNormalized(std::string_view s, const Spellings& sp)
{
    TypedNumber n;
    bool signSeen = false;
    for (bool changed = true; changed && !s.empty();) {
        changed = false;
        if (!signSeen && s.size() >= 2 && s.front() == '(' && s.back() == ')') {
            n.negative = signSeen = changed = true;   // "($5.00)"
            s = trimmed(s.substr(1, s.size() - 2));
            continue;
        }
        if (!signSeen) {
            for (const std::string& m : sp.minusSigns) {
                if (startsWith(s, m)) {
                    n.negative = signSeen = changed = true;
                    s = trimmed(s.substr(m.size()));
                    break;
                }
            }
            for (const std::string& p : sp.plusSigns) {
                if (!changed && startsWith(s, p)) {
                    signSeen = changed = true;
                    s = trimmed(s.substr(p.size()));
                    break;
                }
            }
            if (changed)
                continue;   // "$-5.00" as well as "-$5.00"
        }
        if (!n.currency) {
            for (const std::string& symbol : sp.symbols) {
                if (startsWith(s, symbol))
                    s = trimmed(s.substr(symbol.size()));   // "$5.00", "€ 5,00"
                else if (endsWith(s, symbol))
                    s = trimmed(s.substr(0, s.size() - symbol.size()));   // "5,00 €", "-5,00 kr"
                else
                    continue;
                n.currency = changed = true;
                break;
            }
        }
        if (!n.percent && endsWith(s, "%")) {
            n.percent = changed = true;
            s = trimmed(s.substr(0, s.size() - 1));
        }
    }
    if (s.empty() || (n.currency && n.percent))
        return std::nullopt;
    for (int k = 0; k < sp.markSets; ++k) {
        const Marks& marks = sp.marks[k];
        if (!readDigits(s, marks, n))
            continue;
        if (marks.threeDecimalsAmbiguous && n.fraction.size() == 3)
            continue;
        if (computeValue(n))
            return n;
    }
    return std::nullopt;
}

std::optional<TypedNumber> numberOf(std::string_view text, const Spellings& sp)
{
    const std::string s = normalized(text);
    const std::string_view t = trimmed(s);
    if (t.empty())
        return std::nullopt;
    return readNormalized(t, sp);
}

Value valueOf(std::string_view text, const Spellings& sp)
{
    const std::string s = normalized(text);
    const std::string_view t = trimmed(s);
    if (t.empty())
        return Value();
    if (const std::optional<TypedNumber> n = readNormalized(t, sp))
        return Value(n->value);
    return Value(std::string(text));
}

} // namespace

std::optional<TypedNumber> readTypedNumber(std::string_view text, const NumberLocale& locale)
{
    return numberOf(text, spellingsOf(locale));
}

Value valueFromTypedText(std::string_view text, const NumberLocale& locale)
{
    return valueOf(text, spellingsOf(locale));
}

TypedTextReader::TypedTextReader(const NumberLocale& locale)
    : mLocale(locale), mSpellings(std::make_unique<const Spellings>(spellingsOf(locale)))
{
}

TypedTextReader::TypedTextReader(TypedTextReader&&) noexcept = default;
TypedTextReader& TypedTextReader::operator=(TypedTextReader&&) noexcept = default;
TypedTextReader::~TypedTextReader() = default;

std::optional<TypedNumber> TypedTextReader::number(std::string_view text) const { return numberOf(text, *mSpellings); }

Value TypedTextReader::value(std::string_view text) const { return valueOf(text, *mSpellings); }

} // namespace ss
