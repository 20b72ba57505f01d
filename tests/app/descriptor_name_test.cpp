// The descriptor version rule and the order of the remote listing table.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/descriptor_name.h"

namespace {

TEST(DescriptorVersion, TakesTheNumberOfTheStem) {
  const struct {
    const char* name;
    int64_t version;
  } cases[] = {
      {"6.ini", 6},         {"10.ini", 10},        {"0010.ini", 10},  {" 12.ini", 12},
      {"12a.ini", 12},      {"-7a.ini", 7},        {"-7.ini", -7},    {"+8.ini", 8},
      {"$1F.ini", 31},      {"0x10.ini", 16},      {"0x1G.ini", 1},   {"abc.ini", 0},
      {"a12.ini", 0},       {".ini", 0},           {"ini", 0},        {"", 0},
      {"7.i", 0},           {"12.txt", 12},        {"3.5.ini", 3},    {"12 .ini", 12},
      {"99999999999.ini", 999999999},  // too long for 32 bits: the digits read before the rule stopped
  };
  for (const auto& c : cases) EXPECT_EQ(app::DescriptorVersion(c.name), c.version) << c.name;
}

TEST(RemoteNameOrder, DigitRunsByValueCaseSignificantThenBytes) {
  std::vector<std::string> names = {"10.ini", "9.ini", "b.ini", "B.ini", "a.ini", "07.ini", "7.ini",
                                    "100.ini", "log", "8.ini", "1.ini", "a10", "a9", "\xB0\xA1.ini"};
  std::sort(names.begin(), names.end(), app::RemoteNameLess);
  EXPECT_EQ(names, (std::vector<std::string>{"1.ini", "07.ini", "7.ini", "8.ini", "9.ini", "10.ini", "100.ini",
                                             "B.ini", "a.ini", "a9", "a10", "b.ini", "log", "\xB0\xA1.ini"}));
}

TEST(RemoteNameOrder, IsAStrictOrder) {
  const std::vector<std::string> names = {"", "0", "00", "1", "01", "a", "a0", "a00", "a1", "A", "1a", "01a"};
  for (const std::string& a : names) {
    EXPECT_FALSE(app::RemoteNameLess(a, a)) << a;
    for (const std::string& b : names) {
      if (a != b) {
        EXPECT_NE(app::RemoteNameLess(a, b), app::RemoteNameLess(b, a)) << a << " " << b;
      }
    }
  }
}

}  // namespace
