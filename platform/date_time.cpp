#include "platform/date_time.h"

#include <cmath>
#include <cstdint>

namespace platform {
namespace {

constexpr double kMsPerDay = 86400000.0;
// Days from 0001-01-01 to 1899-12-30 (0001-01-01 itself is day 0 of this
// count, so 1899-12-30 is value 0 and 2000-01-01 is value 36526).
constexpr int64_t kDateDelta = 693593;

int64_t DaysBeforeYear(int year) {
  const int64_t y = year - 1;
  return y * 365 + y / 4 - y / 100 + y / 400;
}

}  // namespace

bool IsLeapYear(int year) { return (year % 4 == 0) && (year % 100 != 0 || year % 400 == 0); }

int DaysInMonth(int year, int month) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return kDays[month - 1] + (month == 2 && IsLeapYear(year) ? 1 : 0);
}

bool TryEncodeDate(int year, int month, int day, double& result) {
  if (year < 1 || year > 9999 || month < 1 || month > 12) return false;
  if (day < 1 || day > DaysInMonth(year, month)) return false;
  int64_t days = DaysBeforeYear(year);
  for (int m = 1; m < month; ++m) days += DaysInMonth(year, m);
  days += day - 1;
  result = static_cast<double>(days - kDateDelta);
  return true;
}

bool TryEncodeTime(int hour, int minute, int second, int millisecond, double& result) {
  if (hour < 0 || hour >= 24 || minute < 0 || minute >= 60 || second < 0 || second >= 60 ||
      millisecond < 0 || millisecond >= 1000) {
    return false;
  }
  result = (((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + millisecond) / kMsPerDay;
  return true;
}

void DecodeDate(double value, int& year, int& month, int& day) {
  // The whole part is the day also for negative values (-1.25 is 1899-12-29
  // 06:00), matching DecodeTime, which takes the fraction's magnitude.
  if (!std::isfinite(value) || value <= -kDateDelta - 1 || value >= 2958466.0) {
    year = month = day = 0;
    return;
  }
  int64_t days = static_cast<int64_t>(std::trunc(value)) + kDateDelta;  // since 0001-01-01
  if (days < 0) {
    year = month = day = 0;
    return;
  }
  // 400-year cycles of 146097 days, then centuries, 4-year cycles, years.
  int64_t y = 1;
  y += (days / 146097) * 400;
  days %= 146097;
  int64_t c = days / 36524;
  if (c == 4) c = 3;
  y += c * 100;
  days -= c * 36524;
  y += (days / 1461) * 4;
  days %= 1461;
  int64_t r = days / 365;
  if (r == 4) r = 3;
  y += r;
  days -= r * 365;
  year = static_cast<int>(y);
  month = 1;
  while (days >= DaysInMonth(year, month)) {
    days -= DaysInMonth(year, month);
    ++month;
  }
  day = static_cast<int>(days) + 1;
}

void DecodeTime(double value, int& hour, int& minute, int& second, int& millisecond) {
  if (!std::isfinite(value)) {
    hour = minute = second = millisecond = 0;
    return;
  }
  const double fraction = std::fabs(value - std::trunc(value));
  int64_t ms = std::llround(fraction * kMsPerDay);
  ms %= 86400000;
  hour = static_cast<int>(ms / 3600000);
  minute = static_cast<int>(ms / 60000 % 60);
  second = static_cast<int>(ms / 1000 % 60);
  millisecond = static_cast<int>(ms % 1000);
}

}  // namespace platform
