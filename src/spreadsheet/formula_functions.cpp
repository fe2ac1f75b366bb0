// Coercions and the built-in functions the evaluator knows. A function it does not know
// evaluates to #NAME?; its tokens stay as they are.
#include "spreadsheet/datetime.h"
#include "spreadsheet/formula_internal.h"
#include "spreadsheet/formula_values.h"
#include "spreadsheet/numfmt.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <ctime>
#include <numbers>

namespace ss::formula::detail {

namespace {

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

int compareText(std::string_view a, std::string_view b)
{
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char x = static_cast<unsigned char>(lower(a[i]));
        const unsigned char y = static_cast<unsigned char>(lower(b[i]));
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

std::string upperAscii(std::string s)
{
    for (char& c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return s;
}

// Rounds to 15 significant digits first, so 1.005*100 counts as the 100.5 the user sees.
double snap15(double v)
{
    if (!std::isfinite(v) || v == 0)
        return v;
    char buf[40];
    const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, 14);
    double out = v;
    std::from_chars(buf, res.ptr, out);
    return out;
}

enum class RoundMode { Nearest, Up, Down };

double roundDigits(double x, int digits, RoundMode mode)
{
    digits = std::clamp(digits, -308, 308);
    const double p = std::pow(10.0, std::abs(digits));
    double y = snap15(digits >= 0 ? x * p : x / p);
    const double a = std::fabs(y);
    double r = mode == RoundMode::Nearest ? std::floor(a + 0.5) : mode == RoundMode::Up ? std::ceil(a) : std::floor(a);
    r = y < 0 ? -r : r;
    return digits >= 0 ? r / p : r * p;
}

bool wildcardMatch(std::string_view pat, std::string_view s)
{
    // '*' any run, '?' one character, '~' escapes; case-insensitive.
    std::size_t p = 0, i = 0, starP = std::string_view::npos, starI = 0;
    while (i < s.size()) {
        if (p < pat.size() && pat[p] == '~' && p + 1 < pat.size() && lower(pat[p + 1]) == lower(s[i])) {
            p += 2;
            ++i;
        } else if (p < pat.size() && pat[p] == '*') {
            starP = p++;
            starI = i;
        } else if (p < pat.size() && pat[p] != '~' && (pat[p] == '?' || lower(pat[p]) == lower(s[i]))) {
            ++p;
            ++i;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            i = ++starI;
        } else {
            return false;
        }
    }
    while (p < pat.size() && pat[p] == '*')
        ++p;
    return p == pat.size();
}

// A SUMIF/COUNTIF criterion: "=5", ">=10", "<>x", "app*", 5, TRUE.
struct Criterion {
    enum Op { Eq, Ne, Lt, Le, Gt, Ge } op = Eq;
    enum Kind { Number, Text, Boolean } kind = Text;
    double number = 0;
    bool boolean = false;
    std::string text;

    explicit Criterion(const Value& v)
    {
        if (v.isNumber()) { kind = Number; number = v.number(); return; }
        if (v.isBoolean()) { kind = Boolean; boolean = v.boolean(); return; }
        std::string_view s = v.isText() ? std::string_view(v.text()) : std::string_view();
        static const std::pair<const char*, Op> kOps[] = {{"<=", Le}, {">=", Ge}, {"<>", Ne}, {"<", Lt}, {">", Gt}, {"=", Eq}};
        for (const auto& [t, o] : kOps) {
            if (s.substr(0, std::char_traits<char>::length(t)) == t) {
                op = o;
                s.remove_prefix(std::char_traits<char>::length(t));
                break;
            }
        }
        if (parseNumber(s, number)) { kind = Number; return; }
        const std::string u = upperAscii(std::string(s));
        if (u == "TRUE" || u == "FALSE") { kind = Boolean; boolean = u == "TRUE"; return; }
        text = std::string(s);
    }

    bool test(int c) const
    {
        switch (op) {
        case Eq: return c == 0;
        case Ne: return c != 0;
        case Lt: return c < 0;
        case Le: return c <= 0;
        case Gt: return c > 0;
        default: return c >= 0;
        }
    }

    bool matches(const Value& v) const
    {
        switch (kind) {
        case Number:
            if (!v.isNumber())
                return op == Ne;
            return test(v.number() < number ? -1 : v.number() > number ? 1 : 0);
        case Boolean:
            if (!v.isBoolean())
                return op == Ne;
            return test(v.boolean() == boolean ? 0 : (v.boolean() ? 1 : -1));
        case Text:
            break;
        }
        if (op == Eq || op == Ne) {
            bool eq;
            if (text.empty())
                eq = v.isBlank() || (v.isText() && v.text().empty());
            else
                eq = v.isText() && wildcardMatch(text, v.text());
            return op == Eq ? eq : !eq;
        }
        if (!v.isText())
            return false;
        return test(compareText(v.text(), text));
    }
};

double nowSerial(const Context& ctx)
{
    if (ctx.now)
        return ctx.now();
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
#ifdef _WIN32
    localtime_s(&tm, &t);
#else
    localtime_r(&t, &tm);
#endif
    return dateToSerial(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, ctx.date1904) +
           (tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec) / 86400.0;
}

} // namespace

bool parseNumber(std::string_view s, double& out)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    bool negative = false;
    if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    // from_chars accepts "inf", "nan" and hex forms; allow only plain decimal text.
    std::size_t i = 0, digits = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') { ++i; ++digits; }
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') { ++i; ++digits; }
    }
    if (digits == 0)
        return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-'))
            ++i;
        const std::size_t expStart = i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9')
            ++i;
        if (i == expStart)
            return false;
    }
    if (i != s.size())
        return false;
    double v = 0;
    const auto res = std::from_chars(s.data(), s.data() + s.size(), v);
    if (res.ec != std::errc() || !std::isfinite(v))
        return false;
    out = negative ? -v : v;
    return true;
}

std::string numberToText(double v)
{
    if (v == 0)
        return "0";
    char buf[40];
    const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 15);
    std::string s(buf, res.ptr);
    for (char& c : s)
        if (c == 'e')
            c = 'E';
    return s;
}

Value numberResult(double v)
{
    if (!std::isfinite(v))
        return ErrorCode::Num;
    return v;
}

bool toNumber(const Value& v, double& out, ErrorCode& err)
{
    switch (v.kind()) {
    case Value::Kind::Number: out = v.number(); return true;
    case Value::Kind::Blank: out = 0; return true;
    case Value::Kind::Boolean: out = v.boolean() ? 1 : 0; return true;
    case Value::Kind::Text:
        if (parseNumber(v.text(), out))
            return true;
        err = ErrorCode::Value;
        return false;
    case Value::Kind::Error: err = v.error(); return false;
    }
    err = ErrorCode::Value;
    return false;
}

bool toText(const Value& v, std::string& out, ErrorCode& err)
{
    switch (v.kind()) {
    case Value::Kind::Number: out = numberToText(v.number()); return true;
    case Value::Kind::Blank: out.clear(); return true;
    case Value::Kind::Boolean: out = v.boolean() ? "TRUE" : "FALSE"; return true;
    case Value::Kind::Text: out = v.text(); return true;
    case Value::Kind::Error: err = v.error(); return false;
    }
    err = ErrorCode::Value;
    return false;
}

int compareValues(const Value& a, const Value& b)
{
    auto rank = [](const Value& v) { return v.isNumber() ? 0 : v.isText() ? 1 : 2; };
    if (a.isBlank() && b.isBlank())
        return 0;
    if (a.isBlank() || b.isBlank()) {
        // The blank side takes the type of the other: 0, "" or FALSE.
        const bool flip = b.isBlank();
        const Value& other = flip ? a : b;
        const Value stand = other.isNumber() ? Value(0.0) : other.isText() ? Value("") : Value(false);
        const int c = compareValues(stand, other);
        return flip ? -c : c;
    }
    const int ra = rank(a), rb = rank(b);
    if (ra != rb)
        return ra < rb ? -1 : 1;
    if (a.isNumber())
        return a.number() < b.number() ? -1 : a.number() > b.number() ? 1 : 0;
    if (a.isText())
        return compareText(a.text(), b.text());
    return a.boolean() == b.boolean() ? 0 : (a.boolean() ? 1 : -1);
}

Value Evaluator::cell(int r, int c) const
{
    if (r < 0 || r >= kMaxRows || c < 0 || c >= kMaxCols)
        return ErrorCode::Ref;
    if (!ctx.cell)
        return Value();
    return ctx.cell(r, c);
}

Value Evaluator::value(const Item& it) const
{
    switch (it.kind) {
    case Item::Val: return it.value;
    case Item::Missing: return Value();
    case Item::Ref: return cell(it.range.firstRow, it.range.firstCol);
    case Item::Area: {
        const RangeAddress& r = it.range;
        if (r.firstRow == r.lastRow && r.firstCol == r.lastCol)
            return cell(r.firstRow, r.firstCol);
        if (r.firstCol == r.lastCol && row >= r.firstRow && row <= r.lastRow)
            return cell(row, r.firstCol);
        if (r.firstRow == r.lastRow && col >= r.firstCol && col <= r.lastCol)
            return cell(r.firstRow, col);
        return ErrorCode::Value;
    }
    }
    return ErrorCode::Value;
}

namespace {

// Walks the numbers of aggregate arguments: numbers in ranges (text, Booleans and blanks there
// are skipped), direct numbers, Booleans and numeric text. Errors stop the walk.
template <class F>
bool eachNumber(const Evaluator& ev, std::span<Item> args, ErrorCode& err, F&& f)
{
    for (const Item& a : args) {
        if (a.kind == Item::Ref || a.kind == Item::Area) {
            for (int r = a.range.firstRow; r <= a.range.lastRow; ++r) {
                for (int c = a.range.firstCol; c <= a.range.lastCol; ++c) {
                    const Value v = ev.cell(r, c);
                    if (v.isError()) { err = v.error(); return false; }
                    if (v.isNumber())
                        f(v.number());
                }
            }
        } else if (a.kind == Item::Val) {
            double x;
            if (!toNumber(a.value, x, err))
                return false;
            f(x);
        }
    }
    return true;
}

// Every cell value of the range arguments, and the direct values, for COUNT-like functions.
template <class F>
void eachValue(const Evaluator& ev, std::span<Item> args, F&& f)
{
    for (const Item& a : args) {
        if (a.kind == Item::Ref || a.kind == Item::Area) {
            for (int r = a.range.firstRow; r <= a.range.lastRow; ++r)
                for (int c = a.range.firstCol; c <= a.range.lastCol; ++c)
                    f(ev.cell(r, c), true);
        } else {
            f(a.kind == Item::Missing ? Value() : a.value, false);
        }
    }
}

bool toBool(const Value& v, bool& out, ErrorCode& err)
{
    switch (v.kind()) {
    case Value::Kind::Boolean: out = v.boolean(); return true;
    case Value::Kind::Number: out = v.number() != 0; return true;
    case Value::Kind::Blank: out = false; return true;
    case Value::Kind::Text: {
        const std::string u = upperAscii(v.text());
        if (u == "TRUE" || u == "FALSE") { out = u == "TRUE"; return true; }
        err = ErrorCode::Value;
        return false;
    }
    case Value::Kind::Error: err = v.error(); return false;
    }
    return false;
}

std::u16string u16(const std::string& s) { return utf8ToUtf16(s); }

} // namespace

Item Evaluator::callItem(std::uint16_t index, std::span<Item> args) const
{
    if (index == 1) {   // IF
        bool cond;
        ErrorCode e;
        if (!toBool(value(args[0]), cond, e))
            return Item::of(e);
        if (cond)
            return args.size() > 1 && args[1].kind != Item::Missing ? args[1] : Item::of(0.0);
        if (args.size() < 3)
            return Item::of(false);
        return args[2].kind != Item::Missing ? args[2] : Item::of(0.0);
    }
    if (index == 100) {   // CHOOSE
        double x;
        ErrorCode e;
        if (args.empty() || !toNumber(value(args[0]), x, e))
            return Item::of(args.empty() ? ErrorCode::Value : e);
        const double i = std::trunc(x);
        if (i < 1 || i >= static_cast<double>(args.size()))
            return Item::of(ErrorCode::Value);
        const Item& pick = args[static_cast<std::size_t>(i)];
        return pick.kind != Item::Missing ? pick : Item::of(0.0);
    }
    return Item::of(call(index, args));
}

Value Evaluator::call(std::uint16_t index, std::span<Item> args) const
{
    const std::size_t n = args.size();
    ErrorCode err = ErrorCode::Value;
    auto val = [&](std::size_t i) { return i < n ? value(args[i]) : Value(); };
    auto num = [&](std::size_t i, double& out) { return toNumber(val(i), out, err); };
    auto text = [&](std::size_t i, std::string& out) { return toText(val(i), out, err); };

    switch (index) {
    case 4: case 5: case 6: case 7: case 183: case 321: {   // SUM AVERAGE MIN MAX PRODUCT SUMSQ
        double sum = 0, prod = 1, lo = HUGE_VAL, hi = -HUGE_VAL, sq = 0;
        std::size_t count = 0;
        if (!eachNumber(*this, args, err, [&](double x) {
                sum += x; prod *= x; sq += x * x; lo = std::min(lo, x); hi = std::max(hi, x); ++count; }))
            return err;
        switch (index) {
        case 4: return numberResult(sum);
        case 5: return count ? numberResult(sum / static_cast<double>(count)) : Value(ErrorCode::Div0);
        case 6: return count ? lo : 0.0;
        case 7: return count ? hi : 0.0;
        case 183: return count ? numberResult(prod) : 0.0;
        default: return numberResult(sq);
        }
    }
    case 12: case 46: case 193: case 194: case 227: {   // STDEV VAR STDEVP VARP MEDIAN
        std::vector<double> xs;
        if (!eachNumber(*this, args, err, [&](double x) { xs.push_back(x); }))
            return err;
        if (index == 227) {
            if (xs.empty())
                return ErrorCode::Num;
            std::sort(xs.begin(), xs.end());
            const std::size_t m = xs.size() / 2;
            return xs.size() % 2 ? xs[m] : (xs[m - 1] + xs[m]) / 2;
        }
        const bool sample = index == 12 || index == 46;
        if (xs.size() < (sample ? 2u : 1u))
            return ErrorCode::Div0;
        double mean = 0;
        for (double x : xs)
            mean += x;
        mean /= static_cast<double>(xs.size());
        double ss = 0;
        for (double x : xs)
            ss += (x - mean) * (x - mean);
        const double var = ss / static_cast<double>(xs.size() - (sample ? 1 : 0));
        return index == 12 || index == 193 ? std::sqrt(var) : var;
    }
    case 0: {   // COUNT: numbers in ranges; direct numbers, Booleans, numeric text; never an error
        double count = 0;
        eachValue(*this, args, [&](const Value& v, bool inRange) {
            double x;
            ErrorCode e;
            if (v.isNumber() || (!inRange && (v.isBoolean() || (v.isText() && toNumber(v, x, e)))))
                ++count;
        });
        return count;
    }
    case 169: {   // COUNTA
        double count = 0;
        eachValue(*this, args, [&](const Value& v, bool) { count += v.isBlank() ? 0 : 1; });
        return count;
    }
    case 347: {   // COUNTBLANK
        double count = 0;
        eachValue(*this, args, [&](const Value& v, bool) { count += v.isBlank() || (v.isText() && v.text().empty()); });
        return count;
    }
    case 36: case 37: {   // AND OR
        bool any = false, all = true, seen = false;
        for (const Item& a : args) {
            if (a.kind == Item::Ref || a.kind == Item::Area) {
                for (int r = a.range.firstRow; r <= a.range.lastRow; ++r) {
                    for (int c = a.range.firstCol; c <= a.range.lastCol; ++c) {
                        const Value v = cell(r, c);
                        if (v.isError())
                            return v;
                        if (v.isNumber() || v.isBoolean()) {
                            const bool b = v.isNumber() ? v.number() != 0 : v.boolean();
                            any = any || b;
                            all = all && b;
                            seen = true;
                        }
                    }
                }
            } else if (a.kind == Item::Val) {
                bool b;
                if (a.value.isText())
                    return ErrorCode::Value;
                if (!toBool(a.value, b, err))
                    return err;
                any = any || b;
                all = all && b;
                seen = true;
            }
        }
        if (!seen)
            return ErrorCode::Value;
        return index == 36 ? all : any;
    }
    case 38: {   // NOT
        bool b;
        if (!toBool(val(0), b, err))
            return err;
        return !b;
    }
    case 34: return true;
    case 35: return false;
    case 10: return ErrorCode::NA;
    case 19: return std::numbers::pi;
    case 2: case 3: case 126: {   // ISNA ISERROR ISERR
        const Value v = val(0);
        if (!v.isError())
            return false;
        return index == 3 || (index == 2) == (v.error() == ErrorCode::NA);
    }
    case 129: {   // ISBLANK: only an empty referenced cell is blank
        return (args[0].kind == Item::Ref || args[0].kind == Item::Area) && val(0).isBlank();
    }
    case 128: return val(0).isNumber();
    case 127: return val(0).isText();
    case 190: return !val(0).isText();
    case 198: return val(0).isBoolean();
    case 131: {   // N
        const Value v = val(0);
        if (v.isError())
            return v;
        return v.isNumber() ? v.number() : v.isBoolean() ? (v.boolean() ? 1.0 : 0.0) : 0.0;
    }
    case 130: {   // T
        const Value v = val(0);
        if (v.isError())
            return v;
        return v.isText() ? v : Value("");
    }
    case 8: case 9: {   // ROW COLUMN
        if (n == 0 || args[0].kind == Item::Missing)
            return static_cast<double>((index == 8 ? row : col) + 1);
        if (args[0].kind != Item::Ref && args[0].kind != Item::Area)
            return ErrorCode::Value;
        return static_cast<double>((index == 8 ? args[0].range.firstRow : args[0].range.firstCol) + 1);
    }
    case 76: case 77: {   // ROWS COLUMNS
        if (args[0].kind != Item::Ref && args[0].kind != Item::Area)
            return 1.0;
        const RangeAddress& r = args[0].range;
        return static_cast<double>(index == 76 ? r.lastRow - r.firstRow + 1 : r.lastCol - r.firstCol + 1);
    }
    case 15: case 16: case 17: case 18: case 20: case 21: case 22: case 23: case 24: case 25: case 26: {
        double x;
        if (!num(0, x))
            return err;
        switch (index) {
        case 15: return numberResult(std::sin(x));
        case 16: return numberResult(std::cos(x));
        case 17: return numberResult(std::tan(x));
        case 18: return numberResult(std::atan(x));
        case 20: return x < 0 ? Value(ErrorCode::Num) : Value(std::sqrt(x));
        case 21: return numberResult(std::exp(x));
        case 22: return x <= 0 ? Value(ErrorCode::Num) : Value(std::log(x));
        case 23: return x <= 0 ? Value(ErrorCode::Num) : Value(std::log10(x));
        case 24: return std::fabs(x);
        case 25: return std::floor(x);
        default: return x > 0 ? 1.0 : x < 0 ? -1.0 : 0.0;
        }
    }
    case 109: {   // LOG
        double x, base = 10;
        if (!num(0, x) || (n > 1 && args[1].kind != Item::Missing && !num(1, base)))
            return err;
        if (x <= 0 || base <= 0)
            return ErrorCode::Num;
        if (base == 1)
            return ErrorCode::Div0;
        return numberResult(std::log(x) / std::log(base));
    }
    case 27: case 212: case 213: case 197: {   // ROUND ROUNDUP ROUNDDOWN TRUNC
        double x, d = 0;
        if (!num(0, x) || (n > 1 && !num(1, d)))
            return err;
        const RoundMode mode = index == 27 ? RoundMode::Nearest : index == 212 ? RoundMode::Up : RoundMode::Down;
        // Beyond about 308 digits either way every double rounds the same; the clamp keeps the cast defined.
        d = std::clamp(std::trunc(d), -400.0, 400.0);
        return numberResult(roundDigits(x, static_cast<int>(d), mode));
    }
    case 39: {   // MOD
        double a, b;
        if (!num(0, a) || !num(1, b))
            return err;
        if (b == 0)
            return ErrorCode::Div0;
        return numberResult(a - b * std::floor(a / b));
    }
    case 337: {   // POWER
        double a, b;
        if (!num(0, a) || !num(1, b))
            return err;
        if (a == 0 && b == 0)
            return ErrorCode::Num;
        if (a == 0 && b < 0)
            return ErrorCode::Div0;
        return numberResult(std::pow(a, b));
    }
    case 65: {   // DATE
        double y, m, d;
        if (!num(0, y) || !num(1, m) || !num(2, d))
            return err;
        y = std::trunc(y);
        if (y >= 0 && y < 1900)
            y += 1900;   // Excel reads DATE(104,1,1) as 2004
        if (y < 0 || y > 9999 || std::fabs(m) > 1e6 || std::fabs(d) > 1e8)
            return ErrorCode::Num;
        // Days are counted from the first of the month in Excel's calendar, whose February 1900
        // has 29 days: DATE(1900,2,29) is serial 60.
        const double s = dateToSerial(static_cast<int>(y), static_cast<int>(std::trunc(m)), 1, ctx.date1904) +
                         std::trunc(d) - 1;
        if (s < 0)
            return ErrorCode::Num;
        return s;
    }
    case 67: case 68: case 69: {   // DAY MONTH YEAR
        double s;
        if (!num(0, s))
            return err;
        if (s < 0 || s > 2958465)
            return ErrorCode::Num;
        const Date dt = serialToDate(s, ctx.date1904);
        return static_cast<double>(index == 69 ? dt.year : index == 68 ? dt.month : dt.day);
    }
    case 70: {   // WEEKDAY
        double s, type = 1;
        if (!num(0, s) || (n > 1 && !num(1, type)))
            return err;
        if (s < 0 || s > 2958465 || !(type >= 1 && type < 4))
            return ErrorCode::Num;
        // Serial 1 of the 1900 system is a Sunday in Excel's reckoning; 1904's serial 0 is a Friday.
        const long long day = static_cast<long long>(std::floor(s)) + (ctx.date1904 ? 1462 : 0);
        switch (static_cast<int>(type)) {
        case 1: return static_cast<double>((day + 6) % 7 + 1);
        case 2: return static_cast<double>((day + 5) % 7 + 1);
        case 3: return static_cast<double>((day + 5) % 7);
        default: return ErrorCode::Num;
        }
    }
    case 221: return std::floor(nowSerial(ctx));
    case 74: return nowSerial(ctx);
    case 32: {   // LEN
        std::string s;
        if (!text(0, s))
            return err;
        return static_cast<double>(u16(s).size());
    }
    case 115: case 116: {   // LEFT RIGHT
        std::string s;
        double k = 1;
        if (!text(0, s) || (n > 1 && !num(1, k)))
            return err;
        if (k < 0)
            return ErrorCode::Value;
        const std::u16string u = u16(s);
        const std::size_t take = static_cast<std::size_t>(std::min<double>(std::trunc(k), static_cast<double>(u.size())));
        return utf16ToUtf8(index == 115 ? u.substr(0, take) : u.substr(u.size() - take));
    }
    case 31: {   // MID
        std::string s;
        double start, k;
        if (!text(0, s) || !num(1, start) || !num(2, k))
            return err;
        start = std::trunc(start);
        k = std::trunc(k);
        if (start < 1 || k < 0)
            return ErrorCode::Value;
        const std::u16string u = u16(s);
        if (start > static_cast<double>(u.size()))
            return Value("");
        return utf16ToUtf8(u.substr(static_cast<std::size_t>(start) - 1, static_cast<std::size_t>(std::min(k, 1e6))));
    }
    case 112: case 113: {   // LOWER UPPER (ASCII letters)
        std::string s;
        if (!text(0, s))
            return err;
        for (char& c : s)
            c = index == 112 ? lower(c) : (c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c);
        return s;
    }
    case 118: {   // TRIM: no leading/trailing blanks, single blanks inside
        std::string s, out;
        if (!text(0, s))
            return err;
        for (char c : s) {
            if (c == ' ' && (out.empty() || out.back() == ' '))
                continue;
            out.push_back(c);
        }
        if (!out.empty() && out.back() == ' ')
            out.pop_back();
        return out;
    }
    case 336: {   // CONCATENATE
        std::string out, s;
        for (std::size_t i = 0; i < n; ++i) {
            if (!text(i, s))
                return err;
            out += s;
        }
        return out;
    }
    case 117: {   // EXACT
        std::string a, b;
        if (!text(0, a) || !text(1, b))
            return err;
        return a == b;
    }
    case 30: {   // REPT
        std::string s;
        double k;
        if (!text(0, s) || !num(1, k))
            return err;
        if (k < 0 || static_cast<double>(s.size()) * std::trunc(k) > 32767)
            return ErrorCode::Value;
        if (s.empty())
            return std::string();
        std::string out;
        for (int i = 0; i < static_cast<int>(k); ++i)
            out += s;
        return out;
    }
    case 33: {   // VALUE
        const Value v = val(0);
        if (v.isError())
            return v;
        double x;
        if (v.isNumber())
            return v;
        if (v.isBlank())
            return 0.0;
        if (v.isText() && parseNumber(v.text(), x))
            return x;
        return ErrorCode::Value;
    }
    case 48: {   // TEXT
        Value v = val(0);
        std::string fmt;
        if (v.isError())
            return v;
        if (!text(1, fmt))
            return err;
        double x;
        if (v.isText() && parseNumber(v.text(), x))
            v = x;
        else if (v.isBlank())
            v = 0.0;
        return formatValue(v, fmt, ctx.date1904).text;
    }
    case 345: case 346: {   // SUMIF COUNTIF
        if (args[0].kind != Item::Ref && args[0].kind != Item::Area)
            return ErrorCode::Value;
        const Value cv = val(1);
        if (cv.isError())
            return cv;
        const Criterion crit(cv);
        const RangeAddress& r = args[0].range;
        RangeAddress sumAt = r;
        if (index == 345 && n > 2 && args[2].kind != Item::Missing) {
            if (args[2].kind != Item::Ref && args[2].kind != Item::Area)
                return ErrorCode::Value;
            sumAt = args[2].range;
        }
        double total = 0;
        for (int rr = r.firstRow; rr <= r.lastRow; ++rr) {
            for (int cc = r.firstCol; cc <= r.lastCol; ++cc) {
                if (!crit.matches(cell(rr, cc)))
                    continue;
                if (index == 346) {
                    total += 1;
                    continue;
                }
                const Value s = cell(sumAt.firstRow + (rr - r.firstRow), sumAt.firstCol + (cc - r.firstCol));
                if (s.isError())
                    return s;
                if (s.isNumber())
                    total += s.number();
            }
        }
        return numberResult(total);
    }
    default:
        return ErrorCode::Name;
    }
}

} // namespace ss::formula::detail
