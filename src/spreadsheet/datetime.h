#pragma once
// Date serials of the 1900 date system (with Excel's 29 February 1900) and of the 1904 system.

namespace ss {

struct Date {
    int year = 1900, month = 1, day = 1;
    bool operator==(const Date&) const = default;
};

// Serial of a date (1 = 1 January 1900; 60 = the fictitious 29 February 1900; 61 = 1 March 1900).
// Month and day may run over or under their ranges, as DATE() allows (month 13 = January next year).
double dateToSerial(int year, int month, int day, bool date1904 = false);
// Date of the integer part of a serial; serial 0 gives 0 January 1900 as Excel shows it.
Date serialToDate(double serial, bool date1904 = false);

} // namespace ss
