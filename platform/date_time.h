// Date-time values: a double of days since 1899-12-30, the time of day as the
// fraction. Pure calendar arithmetic, no time zone: values are local time.
#pragma once

namespace platform {

bool IsLeapYear(int year);
int DaysInMonth(int year, int month);

// Fails for a date that does not exist in the Gregorian calendar, or a year
// outside 1 to 9999.
bool TryEncodeDate(int year, int month, int day, double& result);
// Fails for hours of 24 or more, minutes or seconds of 60 or more, or
// milliseconds of 1000 or more.
bool TryEncodeTime(int hour, int minute, int second, int millisecond, double& result);

// The whole part is the day, also for negative values. Gives 0 for year,
// month and day outside 0001-01-01 to 9999-12-31 and for a value that is not
// finite.
void DecodeDate(double value, int& year, int& month, int& day);
// Rounds the fraction to whole milliseconds.
void DecodeTime(double value, int& hour, int& minute, int& second, int& millisecond);

}  // namespace platform
