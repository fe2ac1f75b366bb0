// Mathematical functions: sums and products, rounding, MOD, powers and roots, trigonometry,
// SUMPRODUCT.
#include "spreadsheet/formula_functions.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>

namespace ss::formula::detail {

namespace {

Item sumLike(Call& c)
{
    double sum = 0, prod = 1, sq = 0;
    std::size_t count = 0;
    if (!eachNumber(c.ev, c.args, c.err, [&](double x) {
            sum += x;
            prod *= x;
            sq += x * x;
            ++count;
        }))
        return Item::of(c.error());
    switch (c.id) {
    case Fn::Sum: return Item::of(numberResult(sum));
    case Fn::Product: return Item::of(count ? numberResult(prod) : ss::Value(0.0));
    default: return Item::of(numberResult(sq));
    }
}

// One-argument numeric functions.
Item unaryMath(Call& c)
{
    double x;
    if (!c.number(0, x))
        return Item::of(c.error());
    auto num = [](double v) { return Item::of(numberResult(v)); };
    auto nonNegative = [&](double v, double r) { return v < 0 ? Item::of(ErrorCode::Num) : num(r); };
    switch (c.id) {
    case Fn::Sin: return num(std::sin(x));
    case Fn::Cos: return num(std::cos(x));
    case Fn::Tan: return num(std::tan(x));
    case Fn::Atan: return num(std::atan(x));
    case Fn::Asin: return std::fabs(x) > 1 ? Item::of(ErrorCode::Num) : num(std::asin(x));
    case Fn::Acos: return std::fabs(x) > 1 ? Item::of(ErrorCode::Num) : num(std::acos(x));
    case Fn::Sqrt: return nonNegative(x, std::sqrt(std::max(x, 0.0)));
    case Fn::Exp: return num(std::exp(x));
    case Fn::Ln: return x <= 0 ? Item::of(ErrorCode::Num) : num(std::log(x));
    case Fn::Log10: return x <= 0 ? Item::of(ErrorCode::Num) : num(std::log10(x));
    case Fn::Abs: return num(std::fabs(x));
    case Fn::Int: return num(std::floor(x));
    case Fn::Sign: return num(x > 0 ? 1.0 : x < 0 ? -1.0 : 0.0);
    case Fn::Radians: return num(x * std::numbers::pi / 180);
    case Fn::Degrees: return num(x * 180 / std::numbers::pi);
    case Fn::Fact: {
        if (x < 0)
            return Item::of(ErrorCode::Num);
        double f = 1;
        for (double k = 2; k <= std::floor(x) && std::isfinite(f); ++k)
            f *= k;
        return num(f);
    }
    case Fn::Even:
    case Fn::Odd: {
        // Away from zero to the next even (odd) integer.
        const double a = std::ceil(snap15(std::fabs(x)));
        double r;
        if (c.id == Fn::Even)
            r = std::fmod(a, 2) == 0 ? a : a + 1;
        else
            r = std::fmod(a, 2) == 1 ? a : a + 1;
        return num(x < 0 ? -r : r);
    }
    default:
        return Item::of(ErrorCode::Value);
    }
}

Item fnPi(Call&) { return Item::of(std::numbers::pi); }

Item fnRand(Call&)
{
    thread_local std::mt19937_64 gen{std::random_device{}()};
    return Item::of(std::uniform_real_distribution<double>(0.0, 1.0)(gen));
}

Item fnLog(Call& c)
{
    double x, base;
    if (!c.number(0, x) || !c.number(1, base, 10))
        return Item::of(c.error());
    if (x <= 0 || base <= 0)
        return Item::of(ErrorCode::Num);
    if (base == 1)
        return Item::of(ErrorCode::Div0);
    return Item::of(numberResult(std::log(x) / std::log(base)));
}

Item fnAtan2(Call& c)
{
    double x, y;
    if (!c.number(0, x) || !c.number(1, y))
        return Item::of(c.error());
    if (x == 0 && y == 0)
        return Item::of(ErrorCode::Div0);
    return Item::of(std::atan2(y, x));
}

Item rounding(Call& c)
{
    double x, d;
    if (!c.number(0, x) || !c.number(1, d, 0))
        return Item::of(c.error());
    const RoundMode mode = c.id == Fn::Round ? RoundMode::Nearest : c.id == Fn::RoundUp ? RoundMode::Up : RoundMode::Down;
    // Beyond about 308 digits either way every double rounds the same; the clamp keeps the cast defined.
    d = std::clamp(std::trunc(d), -400.0, 400.0);
    return Item::of(numberResult(roundDigits(x, static_cast<int>(d), mode)));
}

Item fnMod(Call& c)
{
    double a, b;
    if (!c.number(0, a) || !c.number(1, b))
        return Item::of(c.error());
    if (b == 0)
        return Item::of(ErrorCode::Div0);
    const double q = std::floor(snap15(a / b));
    double r = a - b * q;
    // Keep the sign of the divisor and no residue of the division's rounding.
    if (r != 0 && (r < 0) != (b < 0))
        r += b;
    if (std::fabs(r) >= std::fabs(b))
        r = 0;
    return Item::of(numberResult(r));
}

Item fnPower(Call& c)
{
    double a, b;
    if (!c.number(0, a) || !c.number(1, b))
        return Item::of(c.error());
    if (a == 0 && b == 0)
        return Item::of(ErrorCode::Num);
    if (a == 0 && b < 0)
        return Item::of(ErrorCode::Div0);
    if (a < 0 && b != std::floor(b))
        return Item::of(ErrorCode::Num);
    return Item::of(numberResult(std::pow(a, b)));
}

// CEILING and FLOOR: multiples of `significance`, up (CEILING) or down (FLOOR) on the number
// line for a positive significance, away from or toward zero for a negative one, which a
// positive number cannot have (#NUM!).
Item ceilingFloor(Call& c)
{
    double x, s;
    if (!c.number(0, x) || !c.number(1, s))
        return Item::of(c.error());
    if (x == 0)
        return Item::of(0.0);
    if (s == 0)
        return Item::of(c.id == Fn::Ceiling ? ss::Value(0.0) : ss::Value(ErrorCode::Div0));
    if (x > 0 && s < 0)
        return Item::of(ErrorCode::Num);
    const double q = snap15(x / s);
    return Item::of(numberResult((c.id == Fn::Ceiling ? std::ceil(q) : std::floor(q)) * s));
}

Item fnTrunc(Call& c)
{
    double x, d;
    if (!c.number(0, x) || !c.number(1, d, 0))
        return Item::of(c.error());
    d = std::clamp(std::trunc(d), -400.0, 400.0);
    return Item::of(numberResult(roundDigits(x, static_cast<int>(d), RoundMode::Down)));
}

// SUMPRODUCT: arrays of one size multiplied element by element; text, Booleans and blanks
// count as 0; an error element is the result.
Item fnSumProduct(Call& c)
{
    std::vector<Matrix> ms;
    for (std::size_t i = 0; i < c.size(); ++i) {
        if (!c.has(i))
            return Item::of(ErrorCode::Value);
        ms.push_back(c.ev.matrix(c.args[i]));
        if (ms.back().rows != ms.front().rows || ms.back().cols != ms.front().cols)
            return Item::of(ErrorCode::Value);
    }
    double total = 0;
    for (std::size_t k = 0; k < ms.front().cells.size(); ++k) {
        double p = 1;
        for (const Matrix& m : ms) {
            const ss::Value& v = m.cells[k];
            if (v.isError())
                return Item::of(v);
            p *= v.isNumber() ? v.number() : 0;
        }
        total += p;
    }
    return Item::of(numberResult(total));
}

// COMBIN(n, k): the number of ways to choose k of n.
Item fnCombin(Call& c)
{
    double n, k;
    if (!c.integer(0, n) || !c.integer(1, k))
        return Item::of(c.error());
    if (n < 0 || k < 0 || n < k)
        return Item::of(ErrorCode::Num);
    k = std::min(k, n - k);
    double r = 1;
    for (double i = 1; i <= k && std::isfinite(r); ++i)
        r = r * (n - k + i) / i;
    return Item::of(numberResult(std::round(r)));
}

const FunctionImpl kMath[] = {
    {Fn::Combin, fnCombin},
    {Fn::Sum, sumLike},
    {Fn::Product, sumLike},
    {Fn::SumSq, sumLike},
    {Fn::Sin, unaryMath},
    {Fn::Cos, unaryMath},
    {Fn::Tan, unaryMath},
    {Fn::Atan, unaryMath},
    {Fn::Asin, unaryMath},
    {Fn::Acos, unaryMath},
    {Fn::Sqrt, unaryMath},
    {Fn::Exp, unaryMath},
    {Fn::Ln, unaryMath},
    {Fn::Log10, unaryMath},
    {Fn::Abs, unaryMath},
    {Fn::Int, unaryMath},
    {Fn::Sign, unaryMath},
    {Fn::Radians, unaryMath},
    {Fn::Degrees, unaryMath},
    {Fn::Fact, unaryMath},
    {Fn::Even, unaryMath},
    {Fn::Odd, unaryMath},
    {Fn::Pi, fnPi},
    {Fn::Rand, fnRand},
    {Fn::Log, fnLog},
    {Fn::Atan2, fnAtan2},
    {Fn::Round, rounding},
    {Fn::RoundUp, rounding},
    {Fn::RoundDown, rounding},
    {Fn::Trunc, fnTrunc},
    {Fn::Mod, fnMod},
    {Fn::Power, fnPower},
    {Fn::Ceiling, ceilingFloor},
    {Fn::Floor, ceilingFloor},
    {Fn::SumProduct, fnSumProduct},
};

} // namespace

std::span<const FunctionImpl> mathFunctions() { return kMath; }

} // namespace ss::formula::detail
