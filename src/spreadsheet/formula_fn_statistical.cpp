// Statistical functions: averages, extremes, counts, spread, order statistics, and the
// conditional aggregates SUMIF and COUNTIF.
#include "spreadsheet/formula_functions.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace ss::formula::detail {

namespace {

// AVERAGE, MIN, MAX over the numbers of the arguments (see eachNumber).
Item extremes(Call& c)
{
    double sum = 0, lo = HUGE_VAL, hi = -HUGE_VAL;
    std::size_t count = 0;
    if (!eachNumber(c.ev, c.args, c.err, [&](double x) {
            sum += x;
            lo = std::min(lo, x);
            hi = std::max(hi, x);
            ++count;
        }))
        return Item::of(c.error());
    switch (c.id) {
    case Fn::Average: return Item::of(count ? numberResult(sum / static_cast<double>(count)) : ss::Value(ErrorCode::Div0));
    case Fn::Min: return Item::of(count ? lo : 0.0);
    default: return Item::of(count ? hi : 0.0);
    }
}

// AVERAGEA, MINA, MAXA: text in ranges counts as 0 and Booleans as 0 or 1.
Item extremesA(Call& c)
{
    double sum = 0, lo = HUGE_VAL, hi = -HUGE_VAL;
    std::size_t count = 0;
    bool failed = false;
    eachValue(c.ev, c.args, [&](const ss::Value& v, bool inRange) {
        if (failed || (inRange && v.isBlank()))
            return;
        double x = 0;
        if (v.isError()) {
            c.err = v.error();
            failed = true;
            return;
        }
        if (v.isNumber())
            x = v.number();
        else if (v.isBoolean())
            x = v.boolean() ? 1 : 0;
        else if (!inRange && !toNumber(v, x, c.err)) {
            failed = true;
            return;
        }
        sum += x;
        lo = std::min(lo, x);
        hi = std::max(hi, x);
        ++count;
    });
    if (failed)
        return Item::of(c.error());
    switch (c.id) {
    case Fn::AverageA: return Item::of(count ? numberResult(sum / static_cast<double>(count)) : ss::Value(ErrorCode::Div0));
    case Fn::MinA: return Item::of(count ? lo : 0.0);
    default: return Item::of(count ? hi : 0.0);
    }
}

bool numbers(Call& c, std::vector<double>& xs)
{
    return eachNumber(c.ev, c.args, c.err, [&](double x) { xs.push_back(x); });
}

Item spread(Call& c)
{
    std::vector<double> xs;
    if (!numbers(c, xs))
        return Item::of(c.error());
    const bool sample = c.id == Fn::Stdev || c.id == Fn::Var;
    if (xs.size() < (sample ? 2u : 1u))
        return Item::of(ErrorCode::Div0);
    double mean = 0;
    for (double x : xs)
        mean += x;
    mean /= static_cast<double>(xs.size());
    double ss = 0;
    for (double x : xs)
        ss += (x - mean) * (x - mean);
    const double var = ss / static_cast<double>(xs.size() - (sample ? 1 : 0));
    return Item::of(c.id == Fn::Stdev || c.id == Fn::StdevP ? std::sqrt(var) : var);
}

Item fnMedian(Call& c)
{
    std::vector<double> xs;
    if (!numbers(c, xs))
        return Item::of(c.error());
    if (xs.empty())
        return Item::of(ErrorCode::Num);
    std::sort(xs.begin(), xs.end());
    const std::size_t m = xs.size() / 2;
    return Item::of(xs.size() % 2 ? xs[m] : (xs[m - 1] + xs[m]) / 2);
}

// LARGE / SMALL: the k-th largest (smallest) number of the first argument.
Item largeSmall(Call& c)
{
    std::vector<double> xs;
    if (!eachNumber(c.ev, c.args.subspan(0, 1), c.err, [&](double x) { xs.push_back(x); }))
        return Item::of(c.error());
    double k;
    if (!c.number(1, k))
        return Item::of(c.error());
    k = std::ceil(k);
    if (k < 1 || k > static_cast<double>(xs.size()))
        return Item::of(ErrorCode::Num);
    const auto i = static_cast<std::size_t>(k) - 1;
    if (c.id == Fn::Large)
        std::nth_element(xs.begin(), xs.begin() + static_cast<std::ptrdiff_t>(i), xs.end(), std::greater<>());
    else
        std::nth_element(xs.begin(), xs.begin() + static_cast<std::ptrdiff_t>(i), xs.end());
    return Item::of(xs[i]);
}

// RANK(number, ref, order): 1 + how many numbers of ref are greater (order 0) or smaller.
Item fnRank(Call& c)
{
    double x, order;
    if (!c.number(0, x) || !c.number(2, order, 0))
        return Item::of(c.error());
    if (!c.args[1].isReference() && c.args[1].kind != Item::Array)
        return Item::of(ErrorCode::Value);
    double rank = 1;
    bool found = false;
    if (!eachNumber(c.ev, c.args.subspan(1, 1), c.err, [&](double y) {
            if (y == x)
                found = true;
            else if (order == 0 ? y > x : y < x)
                ++rank;
        }))
        return Item::of(c.error());
    return Item::of(found ? ss::Value(rank) : ss::Value(ErrorCode::NA));
}

// COUNT: numbers in ranges and arrays; direct numbers, Booleans and numeric text, and empty
// arguments (which are zero); never an error.
Item fnCount(Call& c)
{
    double count = 0;
    for (const Item& a : c.args)
        count += a.kind == Item::Missing;
    eachValue(c.ev, c.args, [&](const ss::Value& v, bool inRange) {
        double x;
        ErrorCode e;
        if (v.isNumber() || (!inRange && (v.isBoolean() || (v.isText() && toNumber(v, x, e)))))
            ++count;
    });
    return Item::of(count);
}

Item fnCountA(Call& c)
{
    double count = 0;
    for (const Item& a : c.args) {
        if (a.kind == Item::Missing) {
            ++count;   // an empty argument is a value, as in COUNTA(1,)
            continue;
        }
        eachValue(c.ev, std::span<const Item>(&a, 1), [&](const ss::Value& v, bool) { count += v.isBlank() ? 0 : 1; });
    }
    return Item::of(count);
}

Item fnCountBlank(Call& c)
{
    if (!c.args[0].isReference())
        return Item::of(ErrorCode::Value);
    double count = 0;
    eachValue(c.ev, c.args.subspan(0, 1), [&](const ss::Value& v, bool) {
        count += v.isBlank() || (v.isText() && v.text().empty());
    });
    return Item::of(count);
}

// A SUMIF/COUNTIF criterion: "=5", ">=10", "<>x", "app*", 5, TRUE.
struct Criterion {
    enum Op { Eq, Ne, Lt, Le, Gt, Ge } op = Eq;
    enum Kind { Number, Text, Boolean, Error } kind = Text;
    double number = 0;
    bool boolean = false;
    ErrorCode error = ErrorCode::Value;
    std::string text;

    explicit Criterion(const ss::Value& v)
    {
        if (v.isNumber()) { kind = Number; number = v.number(); return; }
        if (v.isBoolean()) { kind = Boolean; boolean = v.boolean(); return; }
        if (v.isBlank()) { kind = Number; number = 0; return; }   // an empty criterion cell reads as 0
        std::string_view s = v.text();
        static const std::pair<const char*, Op> kOps[] = {{"<=", Le}, {">=", Ge}, {"<>", Ne}, {"<", Lt}, {">", Gt}, {"=", Eq}};
        for (const auto& [t, o] : kOps) {
            if (s.substr(0, std::char_traits<char>::length(t)) == t) {
                op = o;
                s.remove_prefix(std::char_traits<char>::length(t));
                break;
            }
        }
        if (parseNumber(s, number)) { kind = Number; return; }
        const std::string u = upperText(std::string(s));
        if (u == "TRUE" || u == "FALSE") { kind = Boolean; boolean = u == "TRUE"; return; }
        if (errorFromText(u, error)) { kind = Error; return; }
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

    bool matches(const ss::Value& v) const
    {
        switch (kind) {
        case Number: {
            // A number also matches text that reads as that number ("5" for 5), for = and <>.
            double x;
            if (v.isNumber())
                x = v.number();
            else if (v.isText() && (op == Eq || op == Ne) && parseNumber(v.text(), x))
                ;
            else
                return op == Ne;
            return test(x < number ? -1 : x > number ? 1 : 0);
        }
        case Boolean:
            if (!v.isBoolean())
                return op == Ne;
            return test(v.boolean() == boolean ? 0 : (v.boolean() ? 1 : -1));
        case Error:
            if (!v.isError())
                return op == Ne;
            return test(v.error() == error ? 0 : 1);
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

Item conditional(Call& c)
{
    if (!c.args[0].isReference() && c.args[0].kind != Item::Array)
        return Item::of(ErrorCode::Value);
    const ss::Value cv = c.value(1);
    if (cv.isError())
        return Item::of(cv);
    const Criterion crit(cv);
    const Grid range(c.ev, c.args[0]);
    if (!range.valid())
        return Item::of(ErrorCode::Value);
    // SUMIF's sum range has the criteria range's shape, from its own top-left cell.
    const Item* sumItem = &c.args[0];
    if (c.id == Fn::SumIf && c.has(2)) {
        if (!c.args[2].isReference())
            return Item::of(ErrorCode::Value);
        sumItem = &c.args[2];
    }
    double total = 0;
    for (int r = 0; r < range.rows(); ++r) {
        for (int col = 0; col < range.cols(); ++col) {
            if (!crit.matches(range.at(r, col)))
                continue;
            if (c.id == Fn::CountIf) {
                total += 1;
                continue;
            }
            const ss::Value s = sumItem->kind == Item::Array
                                    ? sumItem->array->at(r, col)
                                    : c.ev.cell(sumItem->sheet, sumItem->range.firstRow + r, sumItem->range.firstCol + col);
            if (s.isError())
                return Item::of(s);
            if (s.isNumber())
                total += s.number();
        }
    }
    return Item::of(numberResult(total));
}

// MODE: the number that occurs most often (the first of equals); none repeated: #N/A.
Item fnMode(Call& c)
{
    std::vector<double> xs;
    if (!numbers(c, xs))
        return Item::of(c.error());
    std::size_t best = 0;
    double mode = 0;
    for (std::size_t i = 0; i < xs.size(); ++i) {
        const auto n = static_cast<std::size_t>(std::count(xs.begin(), xs.end(), xs[i]));
        if (n > best) {
            best = n;
            mode = xs[i];
        }
    }
    if (best < 2)
        return Item::of(ErrorCode::NA);
    return Item::of(mode);
}

// PERCENTILE(values, k) with linear interpolation between ranks; QUARTILE(values, q) = k q/4.
Item percentile(Call& c)
{
    std::vector<double> xs;
    if (!eachNumber(c.ev, c.args.subspan(0, 1), c.err, [&](double x) { xs.push_back(x); }))
        return Item::of(c.error());
    double k;
    if (!c.number(1, k))
        return Item::of(c.error());
    if (c.id == Fn::Quartile) {
        k = std::trunc(k);
        if (k < 0 || k > 4)
            return Item::of(ErrorCode::Num);
        k /= 4;
    }
    if (xs.empty() || k < 0 || k > 1)
        return Item::of(ErrorCode::Num);
    std::sort(xs.begin(), xs.end());
    const double pos = k * static_cast<double>(xs.size() - 1);
    const auto i = static_cast<std::size_t>(std::floor(pos));
    const double frac = pos - std::floor(pos);
    if (i + 1 >= xs.size())
        return Item::of(xs.back());
    return Item::of(xs[i] + frac * (xs[i + 1] - xs[i]));
}

// SUBTOTAL(function, ref...): the aggregate of the referenced cells leaving out other SUBTOTAL
// results, and for functions 101-111 the rows that are hidden.
Item fnSubtotal(Call& c)
{
    double f;
    if (!c.integer(0, f))
        return Item::of(c.error());
    static const Fn kAggregates[] = {Fn::Average, Fn::Count, Fn::CountA, Fn::Max, Fn::Min, Fn::Product,
                                     Fn::Stdev, Fn::StdevP, Fn::Sum, Fn::Var, Fn::VarP};
    const bool skipHidden = f > 100;
    const double k = skipHidden ? f - 100 : f;
    if (k < 1 || k > 11 || c.size() < 2)
        return Item::of(ErrorCode::Value);
    const Workbook* wb = c.ev.ctx.workbook;
    Matrix values;
    for (std::size_t i = 1; i < c.size(); ++i) {
        const Item& a = c.args[i];
        if (!a.isReference())
            return Item::of(ErrorCode::Value);
        for (int s = firstSheetOf(a); s <= lastSheetOf(a); ++s) {
            const int sheetIndex = s < 0 ? c.ev.ctx.sheet : s;
            const Sheet* sheet = wb && sheetIndex >= 0 && static_cast<std::size_t>(sheetIndex) < wb->sheets.size()
                                     ? &wb->sheets[static_cast<std::size_t>(sheetIndex)] : nullptr;
            for (int r = a.range.firstRow; r <= a.range.lastRow; ++r) {
                if (sheet && skipHidden) {
                    const auto row = sheet->rows.find(r);
                    if (row != sheet->rows.end() && row->second.hidden)
                        continue;
                }
                for (int col = a.range.firstCol; col <= a.range.lastCol; ++col) {
                    if (sheet) {
                        const Cell* cell = sheet->find(r, col);
                        if (cell && cell->isFormula() && callsSubtotal(cell->formula))
                            continue;
                    }
                    values.cells.push_back(c.ev.cell(s, r, col));
                }
            }
        }
    }
    values.rows = 1;
    values.cols = static_cast<int>(values.cells.size());
    Item all = Item::of(std::move(values));
    return c.ev.callItem(static_cast<std::uint16_t>(kAggregates[static_cast<int>(k) - 1]), std::span<Item>(&all, 1));
}

const FunctionImpl kStatistical[] = {
    {Fn::Mode, fnMode},
    {Fn::Percentile, percentile},
    {Fn::Quartile, percentile},
    {Fn::Subtotal, fnSubtotal},
    {Fn::Average, extremes},
    {Fn::Min, extremes},
    {Fn::Max, extremes},
    {Fn::AverageA, extremesA},
    {Fn::MinA, extremesA},
    {Fn::MaxA, extremesA},
    {Fn::Stdev, spread},
    {Fn::StdevP, spread},
    {Fn::Var, spread},
    {Fn::VarP, spread},
    {Fn::Median, fnMedian},
    {Fn::Large, largeSmall},
    {Fn::Small, largeSmall},
    {Fn::Rank, fnRank},
    {Fn::Count, fnCount},
    {Fn::CountA, fnCountA},
    {Fn::CountBlank, fnCountBlank},
    {Fn::SumIf, conditional},
    {Fn::CountIf, conditional},
};

// SUMIFS(sum range, range, criterion, ...), COUNTIFS(range, criterion, ...), AVERAGEIFS(average
// range, range, criterion, ...), AVERAGEIF(range, criterion, average range): cells where every
// criterion holds; the ranges have one shape.
Item conditionalSet(Call& c, bool sum, bool average, bool single)
{
    const std::size_t first = (sum || (average && !single)) ? 1 : 0;
    std::size_t pairs = (c.size() - first) / 2;
    if (single)
        pairs = 1;
    if (c.size() < first + 2 || (!single && (c.size() - first) % 2 != 0) || (single && c.size() > 3))
        return Item::of(ErrorCode::Value);
    std::vector<Grid> ranges;
    std::vector<Criterion> criteria;
    for (std::size_t p = 0; p < pairs; ++p) {
        const Item& r = c.args[first + 2 * p];
        if (!r.isReference() && r.kind != Item::Array)
            return Item::of(ErrorCode::Value);
        const ss::Value cv = c.value(first + 2 * p + 1);
        if (cv.isError())
            return Item::of(cv);
        ranges.emplace_back(c.ev, r);
        criteria.emplace_back(cv);
        if (!ranges.back().valid() || ranges.back().rows() != ranges.front().rows() ||
            ranges.back().cols() != ranges.front().cols())
            return Item::of(ErrorCode::Value);
    }
    const Item* values = nullptr;
    if (sum || (average && !single))
        values = &c.args[0];
    else if (average && c.has(2))
        values = &c.args[2];
    else if (average)
        values = &c.args[0];
    if (values && !values->isReference() && values->kind != Item::Array)
        return Item::of(ErrorCode::Value);
    double total = 0, count = 0;
    for (int r = 0; r < ranges.front().rows(); ++r) {
        for (int k = 0; k < ranges.front().cols(); ++k) {
            bool all = true;
            for (std::size_t p = 0; p < pairs && all; ++p)
                all = criteria[p].matches(ranges[p].at(r, k));
            if (!all)
                continue;
            if (!values) {
                ++count;
                continue;
            }
            const ss::Value v = values->kind == Item::Array
                                    ? (r < values->array->rows && k < values->array->cols ? values->array->at(r, k) : ss::Value())
                                    : c.ev.cell(values->sheet, values->range.firstRow + r, values->range.firstCol + k);
            if (v.isError())
                return Item::of(v);
            if (v.isNumber()) {
                total += v.number();
                ++count;
            }
        }
    }
    if (average)
        return count ? Item::of(numberResult(total / count)) : Item::of(ErrorCode::Div0);
    return Item::of(numberResult(sum ? total : count));
}
Item fnSumIfs(Call& c) { return conditionalSet(c, true, false, false); }
Item fnCountIfs(Call& c) { return conditionalSet(c, false, false, false); }
Item fnAverageIfs(Call& c) { return conditionalSet(c, false, true, false); }
Item fnAverageIf(Call& c) { return conditionalSet(c, false, true, true); }

const NamedImpl kNamedStatistical[] = {
    {"SUMIFS", fnSumIfs},
    {"COUNTIFS", fnCountIfs},
    {"AVERAGEIFS", fnAverageIfs},
    {"AVERAGEIF", fnAverageIf},
};

} // namespace

std::span<const FunctionImpl> statisticalFunctions() { return kStatistical; }
std::span<const NamedImpl> namedStatisticalFunctions() { return kNamedStatistical; }

} // namespace ss::formula::detail
