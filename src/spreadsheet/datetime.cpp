#include "spreadsheet/datetime.h"

#include <algorithm>
#include <cmath>

namespace ss {

namespace {

// Days from 1 March of year 0 (proleptic Gregorian), after Howard Hinnant's algorithm.
long long daysFromCivil(long long y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

void civilFromDays(long long z, int& y, int& m, int& d)
{
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long yy = static_cast<long long>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yy + (m <= 2));
}

const long long kEpoch1900 = daysFromCivil(1899, 12, 31);   // serial 0
const long long kEpoch1904 = daysFromCivil(1904, 1, 1);     // serial 0 in the 1904 system

} // namespace

double dateToSerial(int year, int month, int day, bool date1904)
{
    // Normalise the month first, as DATE(2024,13,1) is 1 January 2025.
    long long y = year;
    long long m0 = static_cast<long long>(month) - 1;
    y += m0 >= 0 ? m0 / 12 : -((-m0 + 11) / 12);
    m0 = ((m0 % 12) + 12) % 12;
    const long long days = daysFromCivil(y, static_cast<unsigned>(m0 + 1), 1) + (static_cast<long long>(day) - 1);
    if (date1904)
        return static_cast<double>(days - kEpoch1904);
    long long serial = days - kEpoch1900;
    // Excel counts a 29 February 1900 that never was: every serial from 1 March 1900 on is one higher.
    if (serial >= 60)
        ++serial;
    return static_cast<double>(serial);
}

Date serialToDate(double serial, bool date1904)
{
    // Serials past 9999 or before the epoch give no real date; they are cut to a day count whose year
    // still fits an int (NaN counts as 0) so that callers that check the range afterwards stay defined.
    const double day = std::isnan(serial) ? 0.0 : std::clamp(std::floor(serial), -1e9, 1e9);
    long long s = static_cast<long long>(day);
    Date out;
    if (date1904) {
        civilFromDays(kEpoch1904 + s, out.year, out.month, out.day);
        return out;
    }
    if (s == 0)
        return Date{1900, 1, 0};
    if (s == 60)
        return Date{1900, 2, 29};
    if (s > 60)
        --s;
    civilFromDays(kEpoch1900 + s, out.year, out.month, out.day);
    return out;
}

} // namespace ss
