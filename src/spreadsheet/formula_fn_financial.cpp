// Financial functions: annuities (PV, FV, PMT, IPMT, PPMT, NPER, RATE), NPV and IRR.
// Signs follow the cash-flow convention: money paid out is negative.
#include "spreadsheet/formula_functions.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace ss::formula::detail {

namespace {

// Future value of `pv` now and `pmt` each period, paid at the end (type 0) or start (type 1).
double futureValue(double rate, double nper, double pmt, double pv, bool start)
{
    if (rate == 0)
        return -(pv + pmt * nper);
    const double g = std::pow(1 + rate, nper);
    return -(pv * g + pmt * (1 + rate * (start ? 1 : 0)) * (g - 1) / rate);
}

double payment(double rate, double nper, double pv, double fv, bool start)
{
    if (rate == 0)
        return -(pv + fv) / nper;
    const double g = std::pow(1 + rate, nper);
    return -(pv * g + fv) * rate / ((1 + rate * (start ? 1 : 0)) * (g - 1));
}

double interestPayment(double rate, double per, double nper, double pv, double fv, bool start)
{
    const double pmt = payment(rate, nper, pv, fv, start);
    double ipmt;
    if (per == 1)
        ipmt = start ? 0 : -pv;
    else if (start)
        ipmt = futureValue(rate, per - 2, pmt, pv, true) - pmt;
    else
        ipmt = futureValue(rate, per - 1, pmt, pv, false);
    return ipmt * rate;
}

// The arguments after the leading ones: fv (or pv) = 0 and type = 0 when left out; any
// non-zero type means payment at the start of the period.
bool tail(Call& c, std::size_t at, double& value, bool& start)
{
    double type;
    if (!c.number(at, value, 0) || !c.number(at + 1, type, 0))
        return false;
    start = type != 0;
    return true;
}

Item fnFv(Call& c)
{
    double rate, nper, pmt, pv;
    bool start;
    if (!c.number(0, rate) || !c.number(1, nper) || !c.number(2, pmt) || !tail(c, 3, pv, start))
        return Item::of(c.error());
    return Item::of(numberResult(futureValue(rate, nper, pmt, pv, start)));
}

Item fnPv(Call& c)
{
    double rate, nper, pmt, fv;
    bool start;
    if (!c.number(0, rate) || !c.number(1, nper) || !c.number(2, pmt) || !tail(c, 3, fv, start))
        return Item::of(c.error());
    if (rate == 0)
        return Item::of(numberResult(-(fv + pmt * nper)));
    if (rate == -1)
        return Item::of(ErrorCode::Div0);
    const double g = std::pow(1 + rate, nper);
    return Item::of(numberResult(-(fv + pmt * (1 + rate * (start ? 1 : 0)) * (g - 1) / rate) / g));
}

Item fnPmt(Call& c)
{
    double rate, nper, pv, fv;
    bool start;
    if (!c.number(0, rate) || !c.number(1, nper) || !c.number(2, pv) || !tail(c, 3, fv, start))
        return Item::of(c.error());
    if (nper == 0)
        return Item::of(ErrorCode::Num);
    return Item::of(numberResult(payment(rate, nper, pv, fv, start)));
}

Item ipmtPpmt(Call& c)
{
    double rate, per, nper, pv, fv;
    bool start;
    if (!c.number(0, rate) || !c.number(1, per) || !c.number(2, nper) || !c.number(3, pv) || !tail(c, 4, fv, start))
        return Item::of(c.error());
    if (per < 1 || per > nper || nper == 0)
        return Item::of(ErrorCode::Num);
    const double ipmt = interestPayment(rate, per, nper, pv, fv, start);
    if (c.id == Fn::Ipmt)
        return Item::of(numberResult(ipmt));
    return Item::of(numberResult(payment(rate, nper, pv, fv, start) - ipmt));
}

Item fnNper(Call& c)
{
    double rate, pmt, pv, fv;
    bool start;
    if (!c.number(0, rate) || !c.number(1, pmt) || !c.number(2, pv) || !tail(c, 3, fv, start))
        return Item::of(c.error());
    if (rate == 0) {
        if (pmt == 0)
            return Item::of(ErrorCode::Num);
        return Item::of(numberResult(-(pv + fv) / pmt));
    }
    const double k = pmt * (1 + rate * (start ? 1 : 0));
    const double num = (k - fv * rate), den = (k + pv * rate);
    if (den == 0 || num / den <= 0 || rate <= -1)
        return Item::of(ErrorCode::Num);
    return Item::of(numberResult(std::log(num / den) / std::log(1 + rate)));
}

// Newton's method for a rate: `valueAndSlope(r)` gives the function and its slope at r. #NUM!
// when a step leaves (-1, inf), the slope vanishes, or 100 steps do not settle.
template <typename F>
Item solveRate(double r, F valueAndSlope)
{
    for (int i = 0; i < 100; ++i) {
        const auto [y, dy] = valueAndSlope(r);
        if (!std::isfinite(y) || !std::isfinite(dy) || dy == 0)
            return Item::of(ErrorCode::Num);
        const double next = r - y / dy;
        if (next <= -1)
            return Item::of(ErrorCode::Num);
        if (std::fabs(next - r) < 1e-12 * std::max(1.0, std::fabs(r)))
            return Item::of(numberResult(next));
        r = next;
    }
    return Item::of(ErrorCode::Num);
}

// RATE: Newton's method on the annuity equation from the guess (default 10 %).
Item fnRate(Call& c)
{
    double nper, pmt, pv, fv, guess;
    bool start;
    if (!c.number(0, nper) || !c.number(1, pmt) || !c.number(2, pv) || !tail(c, 3, fv, start) || !c.number(5, guess, 0.1))
        return Item::of(c.error());
    if (nper <= 0)
        return Item::of(ErrorCode::Num);
    const double t = start ? 1 : 0;
    auto f = [&](double r) {
        if (std::fabs(r) < 1e-12)
            return pv + pmt * nper + fv;
        const double g = std::pow(1 + r, nper);
        return pv * g + pmt * (1 + r * t) * (g - 1) / r + fv;
    };
    return solveRate(guess, [&](double r) {
        const double h = std::max(1e-7, std::fabs(r) * 1e-7);
        return std::pair{f(r), (f(r + h) - f(r - h)) / (2 * h)};
    });
}

Item fnNpv(Call& c)
{
    double rate;
    if (!c.number(0, rate))
        return Item::of(c.error());
    if (rate == -1)
        return Item::of(ErrorCode::Div0);
    double npv = 0, k = 1;
    if (!eachNumber(c.ev, c.args.subspan(1), c.err, [&](double x) { npv += x / std::pow(1 + rate, k++); }))
        return Item::of(c.error());
    return Item::of(numberResult(npv));
}

// IRR: the rate at which the NPV of the flows (the first one now) is 0, by Newton's method.
Item fnIrr(Call& c)
{
    std::vector<double> flows;
    if (!eachNumber(c.ev, c.args.subspan(0, 1), c.err, [&](double x) { flows.push_back(x); }))
        return Item::of(c.error());
    double guess;
    if (!c.number(1, guess, 0.1))
        return Item::of(c.error());
    bool positive = false, negative = false;
    for (double x : flows) {
        positive = positive || x > 0;
        negative = negative || x < 0;
    }
    if (!positive || !negative)
        return Item::of(ErrorCode::Num);
    return solveRate(guess, [&](double r) {
        double npv = 0, d = 0;
        for (std::size_t k = 0; k < flows.size(); ++k) {
            const double p = std::pow(1 + r, static_cast<double>(k));
            npv += flows[k] / p;
            d -= static_cast<double>(k) * flows[k] / (p * (1 + r));
        }
        return std::pair{npv, d};
    });
}

// Straight-line and sum-of-years' digits depreciation.
Item slnSyd(Call& c)
{
    double cost, salvage, life, per = 0;
    if (!c.number(0, cost) || !c.number(1, salvage) || !c.number(2, life) || (c.id == Fn::Syd && !c.number(3, per)))
        return Item::of(c.error());
    if (c.id == Fn::Sln)
        return life == 0 ? Item::of(ErrorCode::Div0) : Item::of(numberResult((cost - salvage) / life));
    if (life <= 0 || per <= 0 || per > life)
        return Item::of(ErrorCode::Num);
    return Item::of(numberResult((cost - salvage) * (life - per + 1) * 2 / (life * (life + 1))));
}

// DDB: declining balance at `factor` (2) times the straight rate, never below the salvage value.
Item fnDdb(Call& c)
{
    double cost, salvage, life, period, factor;
    if (!c.number(0, cost) || !c.number(1, salvage) || !c.number(2, life) || !c.number(3, period) ||
        !c.number(4, factor, 2))
        return Item::of(c.error());
    if (cost < 0 || salvage < 0 || life <= 0 || period <= 0 || period > life || factor <= 0 || life > 1e6)
        return Item::of(ErrorCode::Num);
    const double rate = std::min(1.0, factor / life);
    double book = cost, dep = 0;
    for (double p = 1; p <= std::ceil(period); ++p) {
        dep = std::max(0.0, std::min(book * rate, book - salvage));
        book -= dep;
    }
    return Item::of(numberResult(dep));
}

// MIRR(values, finance rate, reinvestment rate).
Item fnMirr(Call& c)
{
    std::vector<double> flows;
    if (!eachNumber(c.ev, c.args.subspan(0, 1), c.err, [&](double x) { flows.push_back(x); }))
        return Item::of(c.error());
    double finance, reinvest;
    if (!c.number(1, finance) || !c.number(2, reinvest))
        return Item::of(c.error());
    if (finance == -1 || reinvest == -1 || flows.size() < 2)
        return Item::of(ErrorCode::Div0);
    const double n = static_cast<double>(flows.size());
    double fvPositive = 0, pvNegative = 0;
    for (std::size_t i = 0; i < flows.size(); ++i) {
        const double k = static_cast<double>(i);
        if (flows[i] > 0)
            fvPositive += flows[i] * std::pow(1 + reinvest, n - 1 - k);
        else
            pvNegative += flows[i] / std::pow(1 + finance, k);
    }
    if (fvPositive == 0 || pvNegative == 0)
        return Item::of(ErrorCode::Div0);
    return Item::of(numberResult(std::pow(fvPositive / -pvNegative, 1 / (n - 1)) - 1));
}

const FunctionImpl kFinancial[] = {
    {Fn::Sln, slnSyd},
    {Fn::Syd, slnSyd},
    {Fn::Ddb, fnDdb},
    {Fn::Mirr, fnMirr},
    {Fn::Fv, fnFv},
    {Fn::Pv, fnPv},
    {Fn::Pmt, fnPmt},
    {Fn::Ipmt, ipmtPpmt},
    {Fn::Ppmt, ipmtPpmt},
    {Fn::Nper, fnNper},
    {Fn::Rate, fnRate},
    {Fn::Npv, fnNpv},
    {Fn::Irr, fnIrr},
};

} // namespace

std::span<const FunctionImpl> financialFunctions() { return kFinancial; }

} // namespace ss::formula::detail
