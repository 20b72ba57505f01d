#include "platform/date_time.h"

#include <gtest/gtest.h>

#include <cmath>
#include <ctime>

#include "platform/clock.h"

namespace platform {
namespace {

struct KnownDate {
  int year, month, day;
  double value;
};

class KnownDates : public ::testing::TestWithParam<KnownDate> {};

TEST_P(KnownDates, EncodeAndDecode) {
  const KnownDate& d = GetParam();
  double value = -12345;
  ASSERT_TRUE(TryEncodeDate(d.year, d.month, d.day, value));
  EXPECT_EQ(value, d.value);
  int y = 0, m = 0, day = 0;
  DecodeDate(d.value, y, m, day);
  EXPECT_EQ(y, d.year);
  EXPECT_EQ(m, d.month);
  EXPECT_EQ(day, d.day);
}

INSTANTIATE_TEST_SUITE_P(Table, KnownDates,
                         ::testing::Values(KnownDate{1899, 12, 30, 0}, KnownDate{1899, 12, 31, 1},
                                           KnownDate{1900, 1, 1, 2}, KnownDate{1900, 3, 1, 61},
                                           KnownDate{1899, 12, 29, -1}, KnownDate{2000, 1, 1, 36526},
                                           KnownDate{2000, 2, 29, 36585}, KnownDate{1, 1, 1, -693593},
                                           KnownDate{9999, 12, 31, 2958465}));

TEST(DateTime, EveryDayFromYear1To9999RoundTrips) {
  double previous = 0;
  bool first = true;
  for (int year = 1; year <= 9999; ++year) {
    for (int month = 1; month <= 12; ++month) {
      for (int day = 1; day <= DaysInMonth(year, month); ++day) {
        double value = 0;
        ASSERT_TRUE(TryEncodeDate(year, month, day, value));
        if (!first) {
          ASSERT_EQ(value, previous + 1) << year << "-" << month << "-" << day;
        }
        first = false;
        previous = value;
        int y = 0, m = 0, d = 0;
        // The time of day does not move the date; before 1899-12-30 it is
        // taken away from the day number.
        DecodeDate(value < 0 ? value - 0.75 : value + 0.75, y, m, d);
        ASSERT_TRUE(y == year && m == month && d == day) << year << "-" << month << "-" << day;
      }
    }
  }
}

struct BadDate {
  int year, month, day;
};

class InvalidDates : public ::testing::TestWithParam<BadDate> {};

TEST_P(InvalidDates, DoNotEncode) {
  double value = 42;
  EXPECT_FALSE(TryEncodeDate(GetParam().year, GetParam().month, GetParam().day, value));
  EXPECT_EQ(value, 42);
}

INSTANTIATE_TEST_SUITE_P(Table, InvalidDates,
                         ::testing::Values(BadDate{2023, 2, 29}, BadDate{1900, 2, 29}, BadDate{2100, 2, 29},
                                           BadDate{2024, 4, 31}, BadDate{2024, 1, 0}, BadDate{2024, 0, 1},
                                           BadDate{2024, 13, 1}, BadDate{0, 1, 1}, BadDate{10000, 1, 1},
                                           BadDate{-5, 1, 1}, BadDate{2024, 1, 32}));

TEST(DateTime, LeapYears) {
  EXPECT_TRUE(IsLeapYear(2000));
  EXPECT_TRUE(IsLeapYear(2024));
  EXPECT_FALSE(IsLeapYear(1900));
  EXPECT_FALSE(IsLeapYear(2023));
  EXPECT_EQ(DaysInMonth(2024, 2), 29);
  EXPECT_EQ(DaysInMonth(2023, 2), 28);
  EXPECT_EQ(DaysInMonth(2023, 13), 0);
}

TEST(DateTime, TimesRoundTripToTheMillisecond) {
  for (int ms = 0; ms < 86400000; ms += 997) {
    double value = 0;
    ASSERT_TRUE(TryEncodeTime(ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, ms % 1000, value));
    int h = 0, n = 0, s = 0, z = 0;
    DecodeTime(36526 + value, h, n, s, z);
    ASSERT_EQ(((h * 60 + n) * 60 + s) * 1000 + z, ms);
  }
}

TEST(DateTime, InvalidTimesDoNotEncode) {
  double value = 0;
  EXPECT_FALSE(TryEncodeTime(24, 0, 0, 0, value));
  EXPECT_FALSE(TryEncodeTime(0, 60, 0, 0, value));
  EXPECT_FALSE(TryEncodeTime(0, 0, 60, 0, value));
  EXPECT_FALSE(TryEncodeTime(0, 0, 0, 1000, value));
  EXPECT_FALSE(TryEncodeTime(-1, 0, 0, 0, value));
  EXPECT_TRUE(TryEncodeTime(23, 59, 59, 999, value));
}

TEST(DateTime, NegativeValuesKeepTheWholePartAsTheDay) {
  int y = 0, m = 0, d = 0, h = 0, n = 0, s = 0, z = 0;
  DecodeDate(-1.25, y, m, d);
  DecodeTime(-1.25, h, n, s, z);
  EXPECT_EQ(y * 10000 + m * 100 + d, 18991229);
  EXPECT_EQ(h, 6);
  DecodeDate(-0.5, y, m, d);
  EXPECT_EQ(y * 10000 + m * 100 + d, 18991230);
}

TEST(DateTime, ValuesOutsideTheCalendarDecodeAsZero) {
  for (double value : {double(NAN), double(INFINITY), -1e9, 3e6, 1e300}) {
    int y = 1, m = 1, d = 1, h = 1, n = 1, s = 1, z = 1;
    DecodeDate(value, y, m, d);
    DecodeTime(value, h, n, s, z);
    EXPECT_EQ(y + m + d, 0) << value;
    if (!std::isfinite(value)) {
      EXPECT_EQ(h + n + s + z, 0) << value;
    }
  }
}

TEST(Clock, NowIsTheLocalDateAndTime) {
  const std::time_t before = std::time(nullptr);
  const double now = Now();
  const std::time_t after = std::time(nullptr);
  auto as_value = [](std::time_t t) {
    std::tm local{};
    localtime_r(&t, &local);
    double date = 0, time = 0;
    TryEncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, date);
    TryEncodeTime(local.tm_hour, local.tm_min, local.tm_sec, 0, time);
    return date + time;
  };
  EXPECT_GE(now, as_value(before));
  EXPECT_LT(now, as_value(after) + 1.0 / 86400);
  EXPECT_TRUE(IsInterfaceThread());
}

}  // namespace
}  // namespace platform
