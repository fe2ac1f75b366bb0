#pragma once
// Rounding to the nearest whole number with halves going to the even neighbour, the way the
// program's numbers have always been rounded to whole pixels, twips and version numbers.
#include "core/guard.h"

#include <cmath>
#include <cstdint>
#include <limits>

namespace corvantis {

inline double roundHalfEven(double x)
{
    const double down = std::floor(x);
    const double diff = x - down;
    if (diff < 0.5)
        return down;
    if (diff > 0.5)
        return down + 1;
    return std::fmod(down, 2.0) == 0 ? down : down + 1;
}

// The nearest int (halves to even), held to int's range; a value that is no number gives 0.
inline int nearestInt(double x)
{
    if (!std::isfinite(x))
        return 0;
    const double r = roundHalfEven(x);
    if (r > std::numeric_limits<int>::max())
        return std::numeric_limits<int>::max();
    if (r < std::numeric_limits<int>::min())
        return std::numeric_limits<int>::min();
    return int(r);
}

// The nearest 16-bit integer (halves to even); throws StepError("Overflow") outside its range.
inline std::int16_t toInt16(double x)
{
    const double r = roundHalfEven(x);
    if (!(r >= std::numeric_limits<std::int16_t>::min() && r <= std::numeric_limits<std::int16_t>::max()))
        throw StepError(QStringLiteral("Overflow"));
    return static_cast<std::int16_t>(r);
}

} // namespace corvantis
