// Date and time functions, with Excel's 1900 date system (its 29 February 1900 included) and
// the 1904 system, and the reading of date and time text.
#include "spreadsheet/datetime.h"
#include "spreadsheet/formula_functions.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <ctime>
#include <optional>
#include <vector>

namespace ss::formula::detail {

namespace {

constexpr double kMaxSerial = 2958465;   // 31 December 9999

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

Item fnToday(Call& c) { return Item::of(std::floor(nowSerial(c.ev.ctx))); }
Item fnNow(Call& c) { return Item::of(nowSerial(c.ev.ctx)); }

Item fnDate(Call& c)
{
    double y, m, d;
    if (!c.integer(0, y) || !c.integer(1, m) || !c.integer(2, d))
        return Item::of(c.error());
    if (y >= 0 && y < 1900)
        y += 1900;   // DATE(104,1,1) is 2004
    if (y < 0 || y > 9999 || std::fabs(m) > 1e6 || std::fabs(d) > 1e8)
        return Item::of(ErrorCode::Num);
    // Days are counted from the first of the month in Excel's calendar, whose February 1900
    // has 29 days: DATE(1900,2,29) is serial 60.
    const double s = dateToSerial(static_cast<int>(y), static_cast<int>(m), 1, c.ev.ctx.date1904) + d - 1;
    if (s < 0 || s > kMaxSerial)
        return Item::of(ErrorCode::Num);
    return Item::of(s);
}

Item fnTime(Call& c)
{
    double h, m, s;
    if (!c.integer(0, h) || !c.integer(1, m) || !c.integer(2, s))
        return Item::of(c.error());
    const double total = h * 3600 + m * 60 + s;
    if (total < 0 || std::fabs(h) > 1e9 || std::fabs(m) > 1e9 || std::fabs(s) > 1e9)
        return Item::of(ErrorCode::Num);
    return Item::of(std::fmod(total, 86400) / 86400);
}

bool serialArg(Call& c, double& s)
{
    if (!c.number(0, s))
        return false;
    if (s < 0 || s > kMaxSerial) {
        c.err = ErrorCode::Num;
        return false;
    }
    return true;
}

Item datePart(Call& c)
{
    double s;
    if (!serialArg(c, s))
        return Item::of(c.error());
    const Date dt = serialToDate(s, c.ev.ctx.date1904);
    return Item::of(static_cast<double>(c.id == Fn::Year ? dt.year : c.id == Fn::Month ? dt.month : dt.day));
}

Item timePart(Call& c)
{
    double s;
    if (!serialArg(c, s))
        return Item::of(c.error());
    // Whole seconds of the time to the nearest millisecond, so 0.999999 is still 23:59:59.
    long long secs = std::llround((s - std::floor(s)) * 86400000) / 1000;
    secs %= 86400;
    switch (c.id) {
    case Fn::Hour: return Item::of(static_cast<double>(secs / 3600));
    case Fn::Minute: return Item::of(static_cast<double>(secs / 60 % 60));
    default: return Item::of(static_cast<double>(secs % 60));
    }
}

Item fnWeekday(Call& c)
{
    double s, type;
    if (!c.number(0, s) || !c.integer(1, type, 1))
        return Item::of(c.error());
    if (s < 0 || s > kMaxSerial || !(type >= 1 && type <= 3))
        return Item::of(ErrorCode::Num);
    // Serial 1 of the 1900 system is a Sunday in Excel's reckoning; 1904's serial 0 is a Friday.
    const long long day = static_cast<long long>(std::floor(s)) + (c.ev.ctx.date1904 ? 1462 : 0);
    switch (static_cast<int>(type)) {
    case 1: return Item::of(static_cast<double>((day + 6) % 7 + 1));
    case 2: return Item::of(static_cast<double>((day + 5) % 7 + 1));
    default: return Item::of(static_cast<double>((day + 5) % 7));
    }
}

bool leap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

// DAYS360: the US (NASD) method by default, the European one when the third argument is TRUE.
Item fnDays360(Call& c)
{
    double a, b;
    bool european;
    if (!c.number(0, a) || !c.number(1, b) || !c.boolean(2, european, false))
        return Item::of(c.error());
    if (a < 0 || b < 0 || a > kMaxSerial || b > kMaxSerial)
        return Item::of(ErrorCode::Num);
    const Date d1 = serialToDate(a, c.ev.ctx.date1904), d2 = serialToDate(b, c.ev.ctx.date1904);
    int day1 = d1.day, day2 = d2.day;
    if (european) {
        day1 = std::min(day1, 30);
        day2 = std::min(day2, 30);
    } else {
        const bool lastOfFeb1 = d1.month == 2 && day1 >= (leap(d1.year) || d1.year == 1900 ? 29 : 28);
        if (day1 == 31 || lastOfFeb1)
            day1 = 30;
        if (day2 == 31 && day1 >= 30)
            day2 = 30;
    }
    return Item::of(static_cast<double>((d2.year - d1.year) * 360 + (d2.month - d1.month) * 30 + (day2 - day1)));
}

// ---------------------------------------------------------------- date and time text

const char* const kMonths[] = {"january", "february", "march", "april", "may", "june", "july",
                               "august", "september", "october", "november", "december"};

struct Tok {
    enum Kind { Num, Word, Sep } kind;
    std::string text;
    int digits = 0;
};

std::vector<Tok> tokens(std::string_view s)
{
    std::vector<Tok> out;
    std::size_t i = 0;
    while (i < s.size()) {
        const unsigned char ch = static_cast<unsigned char>(s[i]);
        if (std::isdigit(ch)) {
            Tok t{Tok::Num, {}};
            while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])))
                t.text.push_back(s[i++]);
            t.digits = static_cast<int>(t.text.size());
            out.push_back(t);
        } else if (std::isalpha(ch)) {
            Tok t{Tok::Word, {}};
            while (i < s.size() && std::isalpha(static_cast<unsigned char>(s[i])))
                t.text.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(s[i++]))));
            out.push_back(t);
        } else if (ch == ' ' || ch == ',') {
            ++i;   // blanks and commas only separate words
            if (!out.empty() && out.back().kind != Tok::Sep)
                out.push_back(Tok{Tok::Sep, " "});
        } else {
            out.push_back(Tok{Tok::Sep, std::string(1, s[i++])});
        }
    }
    while (!out.empty() && out.back().kind == Tok::Sep && out.back().text == " ")
        out.pop_back();
    return out;
}

int monthOfWord(const std::string& w)
{
    if (w.size() < 3)
        return 0;
    for (int m = 0; m < 12; ++m) {
        const std::string_view full = kMonths[m];
        if (w.size() <= full.size() && full.substr(0, w.size()) == w)
            return m + 1;
    }
    return 0;
}

std::optional<double> dateSerial(int y, int m, int d, bool date1904)
{
    if (m < 1 || m > 12 || d < 1 || y < 0 || y > 9999)
        return std::nullopt;
    static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (d > kDays[m - 1] || (m == 2 && d == 29 && !leap(y) && y != 1900))
        return std::nullopt;
    const double s = dateToSerial(y, m, d, date1904);
    if (s < (date1904 ? 0 : 1) || s > kMaxSerial)
        return std::nullopt;
    return s;
}

int yearOf(const Tok& t)
{
    int y = std::stoi(t.text);
    if (t.digits <= 2)
        y += y < 30 ? 2000 : 1900;   // two-digit years: 00-29 this century, 30-99 the last
    return y;
}

// Time at tokens [i, end): h:mm[:ss[.fff]] [am|pm], or h am|pm.
std::optional<double> timeOf(const std::vector<Tok>& t, std::size_t i, std::size_t end)
{
    if (i >= end || t[i].kind != Tok::Num || t[i].digits > 4)
        return std::nullopt;
    double h = std::stod(t[i].text), m = 0, s = 0;
    ++i;
    bool hasColon = false;
    if (i + 1 < end + 1 && i < end && t[i].kind == Tok::Sep && t[i].text == ":") {
        hasColon = true;
        if (i + 1 >= end || t[i + 1].kind != Tok::Num)
            return std::nullopt;
        m = std::stod(t[i + 1].text);
        i += 2;
        if (i < end && t[i].kind == Tok::Sep && t[i].text == ":") {
            if (i + 1 >= end || t[i + 1].kind != Tok::Num)
                return std::nullopt;
            s = std::stod(t[i + 1].text);
            i += 2;
            if (i + 1 < end && t[i].kind == Tok::Sep && t[i].text == "." && t[i + 1].kind == Tok::Num) {
                s += std::stod("0." + t[i + 1].text);
                i += 2;
            }
        }
    }
    if (i < end && t[i].kind == Tok::Sep && t[i].text == " ")
        ++i;
    if (i < end && t[i].kind == Tok::Word && (t[i].text == "am" || t[i].text == "pm" || t[i].text == "a" || t[i].text == "p")) {
        if (h < 1 || h > 12)
            return std::nullopt;
        const bool pm = t[i].text[0] == 'p';
        h = pm ? (h == 12 ? 12 : h + 12) : (h == 12 ? 0 : h);
        ++i;
    } else if (!hasColon) {
        return std::nullopt;
    }
    if (i != end || m >= 60 || s >= 60)
        return std::nullopt;
    return (h * 3600 + m * 60 + s) / 86400;
}

// Date at tokens [i, ...): its serial and where it ends.
std::optional<double> dateOf(const std::vector<Tok>& t, std::size_t& i, bool date1904, int currentYear)
{
    auto num = [&](std::size_t k) { return k < t.size() && t[k].kind == Tok::Num; };
    auto sep = [&](std::size_t k, const char* s) { return k < t.size() && t[k].kind == Tok::Sep && t[k].text == s; };
    auto anySep = [&](std::size_t k) {
        return k < t.size() && t[k].kind == Tok::Sep && (t[k].text == "/" || t[k].text == "-" || t[k].text == " " || t[k].text == ".");
    };
    const std::size_t start = i;
    // 2024-03-15 or 2024/3/15
    if (num(i) && t[i].digits == 4 && anySep(i + 1) && num(i + 2) && sep(i + 3, t[i + 1].text.c_str()) && num(i + 4)) {
        i += 5;
        return dateSerial(std::stoi(t[start].text), std::stoi(t[start + 2].text), std::stoi(t[start + 4].text), date1904);
    }
    // 3/15/2024 (month first, as in the US), 3/15
    if (num(i) && (sep(i + 1, "/") || sep(i + 1, "-")) && num(i + 2)) {
        const int a = std::stoi(t[i].text), b = std::stoi(t[i + 2].text);
        if (sep(i + 3, t[i + 1].text.c_str()) && num(i + 4)) {
            i += 5;
            return dateSerial(yearOf(t[start + 4]), a, b, date1904);
        }
        i += 3;
        if (a > 12 && b <= 12 && t[start + 2].digits <= 2)
            return std::nullopt;
        // Month and day of this year, or month and year ("3/2024") when the second part cannot be a day.
        if (b > 31 || t[start + 2].digits == 4)
            return dateSerial(yearOf(t[start + 2]), a, 1, date1904);
        return dateSerial(currentYear, a, b, date1904);
    }
    // 15-Mar-2024, 15 March 2024, 15-Mar
    if (num(i) && anySep(i + 1) && i + 2 < t.size() && t[i + 2].kind == Tok::Word && monthOfWord(t[i + 2].text)) {
        const int d = std::stoi(t[i].text), m = monthOfWord(t[i + 2].text);
        if (anySep(i + 3) && num(i + 4)) {
            i += 5;
            return dateSerial(yearOf(t[start + 4]), m, d, date1904);
        }
        i += 3;
        return dateSerial(currentYear, m, d, date1904);
    }
    // March 15, 2024 / Mar-2024 / March 15
    if (i < t.size() && t[i].kind == Tok::Word && monthOfWord(t[i].text) && anySep(i + 1) && num(i + 2)) {
        const int m = monthOfWord(t[i].text);
        if (anySep(i + 3) && num(i + 4)) {
            i += 5;
            return dateSerial(yearOf(t[start + 4]), m, std::stoi(t[start + 2].text), date1904);
        }
        i += 3;
        if (t[start + 2].digits == 4 || std::stoi(t[start + 2].text) > 31)
            return dateSerial(yearOf(t[start + 2]), m, 1, date1904);
        return dateSerial(currentYear, m, std::stoi(t[start + 2].text), date1904);
    }
    return std::nullopt;
}

int currentYear(const Context& ctx)
{
    return serialToDate(nowSerial(ctx), ctx.date1904).year;
}

Item fnDateValue(Call& c)
{
    const ss::Value v = c.value(0);
    if (v.isError())
        return Item::of(v);
    if (!v.isText())
        return Item::of(ErrorCode::Value);
    double s;
    if (!parseDateTimeText(v.text(), s, c.ev.ctx.date1904))
        return Item::of(ErrorCode::Value);
    if (c.id == Fn::TimeValue)
        return Item::of(s - std::floor(s));
    return Item::of(std::floor(s));
}

const FunctionImpl kDate[] = {
    {Fn::Today, fnToday},
    {Fn::Now, fnNow},
    {Fn::Date, fnDate},
    {Fn::Time, fnTime},
    {Fn::Year, datePart},
    {Fn::Month, datePart},
    {Fn::Day, datePart},
    {Fn::Hour, timePart},
    {Fn::Minute, timePart},
    {Fn::Second, timePart},
    {Fn::Weekday, fnWeekday},
    {Fn::Days360, fnDays360},
    {Fn::DateValue, fnDateValue},
    {Fn::TimeValue, fnDateValue},
};

// ---------------------------------------------------------------- the Analysis ToolPak's

bool dateArg(Call& c, std::size_t i, double& out)
{
    if (!c.integer(i, out))
        return false;
    if (out < 0 || out > kMaxSerial) {
        c.err = ErrorCode::Num;
        return false;
    }
    return true;
}

// EDATE(start, months): the same day `months` later, or the month's last day when it is
// shorter; EOMONTH(start, months): the last day of the month `months` later.
Item edateEomonth(Call& c, bool endOfMonth)
{
    double start, months;
    if (c.size() != 2 || !dateArg(c, 0, start) || !c.integer(1, months))
        return Item::of(c.size() != 2 ? ErrorCode::Value : c.error());
    if (std::fabs(months) > 120000)
        return Item::of(ErrorCode::Num);
    const bool d1904 = c.ev.ctx.date1904;
    const Date d = serialToDate(start, d1904);
    const int m = d.month + static_cast<int>(months);
    const double firstOfNext = dateToSerial(d.year, m + 1, 1, d1904);
    double s = firstOfNext - 1;
    if (!endOfMonth)
        s = std::min(s, dateToSerial(d.year, m, 1, d1904) + d.day - 1);
    if (s < 0 || s > kMaxSerial)
        return Item::of(ErrorCode::Num);
    return Item::of(s);
}
Item fnEdate(Call& c) { return edateEomonth(c, false); }
Item fnEomonth(Call& c) { return edateEomonth(c, true); }

bool weekend(double serial, bool date1904)
{
    const long long day = static_cast<long long>(serial) + (date1904 ? 1462 : 0);
    const long long dow = (day + 6) % 7;   // 0 Sunday ... 6 Saturday
    return dow == 0 || dow == 6;
}

bool holidays(Call& c, std::size_t i, std::vector<double>& out)
{
    if (!c.has(i))
        return true;
    return eachNumber(c.ev, c.args.subspan(i, 1), c.err, [&](double x) { out.push_back(std::floor(x)); });
}

// NETWORKDAYS(start, end, holidays): the weekdays from start to end, both counted, less the
// holidays among them; negative when end comes first.
Item fnNetworkdays(Call& c)
{
    double a, b;
    std::vector<double> off;
    if (c.size() < 2 || c.size() > 3)
        return Item::of(ErrorCode::Value);
    if (!dateArg(c, 0, a) || !dateArg(c, 1, b) || !holidays(c, 2, off))
        return Item::of(c.error());
    const double sign = b < a ? -1 : 1;
    if (b < a)
        std::swap(a, b);
    double count = 0;
    for (double d = a; d <= b; ++d)
        if (!weekend(d, c.ev.ctx.date1904) && std::find(off.begin(), off.end(), d) == off.end())
            ++count;
    return Item::of(sign * count);
}

// WORKDAY(start, days, holidays): the weekday `days` working days after (before) start.
Item fnWorkday(Call& c)
{
    double start, days;
    std::vector<double> off;
    if (c.size() < 2 || c.size() > 3)
        return Item::of(ErrorCode::Value);
    if (!dateArg(c, 0, start) || !c.integer(1, days) || !holidays(c, 2, off))
        return Item::of(c.error());
    if (std::fabs(days) > 1e6)
        return Item::of(ErrorCode::Num);
    const double step = days < 0 ? -1 : 1;
    double d = start;
    for (double left = std::fabs(days); left > 0;) {
        d += step;
        if (d < 0 || d > kMaxSerial)
            return Item::of(ErrorCode::Num);
        if (!weekend(d, c.ev.ctx.date1904) && std::find(off.begin(), off.end(), d) == off.end())
            --left;
    }
    return Item::of(d);
}

// YEARFRAC(start, end, basis): the part of a year between two dates under a day count basis
// (0 US 30/360, 2 actual/360, 3 actual/365, 4 European 30/360). Actual/actual (1) is left
// to the result the file holds.
Item fnYearfrac(Call& c)
{
    double a, b, basis;
    if (c.size() < 2 || c.size() > 3)
        return Item::of(ErrorCode::Value);
    if (!dateArg(c, 0, a) || !dateArg(c, 1, b) || !c.integer(2, basis, 0))
        return Item::of(c.error());
    if (basis < 0 || basis > 4)
        return Item::of(ErrorCode::Num);
    if (b < a)
        std::swap(a, b);
    if (basis == 1)
        return Item::unknown();
    if (basis == 2 || basis == 3)
        return Item::of((b - a) / (basis == 2 ? 360 : 365));
    const bool d1904 = c.ev.ctx.date1904;
    const Date d1 = serialToDate(a, d1904), d2 = serialToDate(b, d1904);
    int day1 = d1.day, day2 = d2.day;
    if (basis == 4) {
        day1 = std::min(day1, 30);
        day2 = std::min(day2, 30);
    } else {
        const auto lastOfFeb = [](const Date& d) { return d.month == 2 && d.day >= (leap(d.year) ? 29 : 28); };
        if (day1 == 31 || lastOfFeb(d1)) {
            if (lastOfFeb(d1) && lastOfFeb(d2))
                day2 = 30;
            day1 = 30;
        }
        if (day2 == 31 && day1 >= 30)
            day2 = 30;
    }
    return Item::of(((d2.year - d1.year) * 360.0 + (d2.month - d1.month) * 30.0 + (day2 - day1)) / 360);
}

const NamedImpl kNamedDate[] = {
    {"EDATE", fnEdate},
    {"EOMONTH", fnEomonth},
    {"NETWORKDAYS", fnNetworkdays},
    {"WORKDAY", fnWorkday},
    {"YEARFRAC", fnYearfrac},
};

} // namespace

std::span<const NamedImpl> namedDateFunctions() { return kNamedDate; }

bool parseDateTimeText(std::string_view text, double& serial, bool date1904)
{
    if (text.size() > 64)
        return false;
    const std::vector<Tok> t = tokens(text);
    if (t.empty())
        return false;
    for (const Tok& k : t)
        if (k.kind == Tok::Num && k.digits > 9)
            return false;   // no part of a date or time is that long
    // A time alone.
    if (auto tm = timeOf(t, 0, t.size())) {
        serial = *tm;
        return true;
    }
    Context ctx;
    ctx.date1904 = date1904;
    std::size_t i = 0;
    const auto d = dateOf(t, i, date1904, currentYear(ctx));
    if (!d)
        return false;
    if (i < t.size() && t[i].kind == Tok::Sep && t[i].text == " ")
        ++i;
    if (i == t.size()) {
        serial = *d;
        return true;
    }
    const auto tm = timeOf(t, i, t.size());
    if (!tm)
        return false;
    serial = *d + *tm;
    return true;
}

std::span<const FunctionImpl> dateFunctions() { return kDate; }

} // namespace ss::formula::detail
