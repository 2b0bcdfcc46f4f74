#pragma once

#include <cstdint>
#include <string>

namespace common {

// A local date-time as days since 1899-12-30 00:00, the time of day as the fraction.
using DateTime = double;

struct DateParts {
  int year = 1899, month = 12, day = 30, hour = 0, minute = 0, second = 0;
};

// Builds a date-time; fields out of their range carry over into the next unit (month 13 is
// January of the next year, day 0 the last day of the previous month, hour 24 the next day).
DateTime MakeDateTime(int year, int month, int day, int hour, int minute, int second);

// The calendar fields of a date-time, to the nearest second.
DateParts SplitDateTime(DateTime value);

DateTime AddSeconds(DateTime value, double seconds);

// Whole seconds from one date-time to another, each taken to the nearest second first.
int64_t WholeSecondsBetween(DateTime from, DateTime to);

// "3/5/2004 2:07:09 PM"; the date alone ("3/5/2004") when the time is exactly midnight.
std::string FormatGeneralDate(DateTime value);
// "03/05/2004 02:07:09 PM".
std::string FormatPaddedDate12(DateTime value);
// "03/05/2004 14:07:09".
std::string FormatPaddedDate24(DateTime value);

// The days from 1899-12-30 to a calendar date of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t year, int month, int day);

}  // namespace common
