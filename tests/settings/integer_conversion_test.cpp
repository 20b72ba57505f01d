#include "settings/integer_conversion.h"

#include <gtest/gtest.h>

#include <optional>

namespace settings {
namespace {

struct IntCase {
  const char* text;
  std::optional<int64_t> value;  // nullopt: the conversion fails
};

void PrintTo(const IntCase& c, std::ostream* os) { *os << "'" << c.text << "'"; }

class Int32Rule : public ::testing::TestWithParam<IntCase> {};

TEST_P(Int32Rule, ConvertsOrFails) {
  const IntCase& c = GetParam();
  int32_t value = 12345;
  const bool ok = TryStrToInt32(c.text, value);
  ASSERT_EQ(ok, c.value.has_value());
  if (ok) {
    EXPECT_EQ(value, *c.value);
  } else {
    EXPECT_EQ(value, 12345) << "a failed conversion leaves the target alone";
  }
  EXPECT_EQ(StrToInt32Def(c.text, -77), ok ? *c.value : -77);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Int32Rule,
    ::testing::Values(
        // decimal, signs, blanks, leading zeros
        IntCase{"0", 0}, IntCase{"7", 7}, IntCase{"+7", 7}, IntCase{"-7", -7}, IntCase{"007", 7},
        IntCase{"   42", 42}, IntCase{"-0", 0}, IntCase{"0000000000000000000012", 12},
        IntCase{"", std::nullopt}, IntCase{" ", std::nullopt}, IntCase{"\t5", std::nullopt},
        IntCase{"5 ", std::nullopt}, IntCase{"- 5", std::nullopt}, IntCase{"+-5", std::nullopt},
        IntCase{"--5", std::nullopt}, IntCase{"+", std::nullopt}, IntCase{"-", std::nullopt},
        IntCase{"12abc", std::nullopt}, IntCase{"1A", std::nullopt}, IntCase{"1.0", std::nullopt},
        IntCase{"1e3", std::nullopt},
        // decimal limits
        IntCase{"2147483647", 2147483647}, IntCase{"-2147483648", -2147483648LL},
        IntCase{"2147483648", std::nullopt}, IntCase{"-2147483649", std::nullopt},
        IntCase{"+2147483647", 2147483647}, IntCase{"21474836470", std::nullopt},
        IntCase{"99999999999999999999999", std::nullopt},
        // hexadecimal: every mark, case, two's complement, a negated value
        IntCase{"$1A", 26}, IntCase{"x1A", 26}, IntCase{"X1a", 26}, IntCase{"0x1A", 26},
        IntCase{"0X1a", 26}, IntCase{"-0x10", -16}, IntCase{"-$10", -16}, IntCase{"+$10", 16},
        IntCase{"$FFFFFFFF", -1}, IntCase{"$7FFFFFFF", 2147483647}, IntCase{"$80000000", -2147483648LL},
        IntCase{"-$FFFFFFFF", 1}, IntCase{"$00000000FFFFFFFF", -1}, IntCase{"$100000000", std::nullopt},
        IntCase{"0x100000000", std::nullopt}, IntCase{"$", std::nullopt}, IntCase{"0x", std::nullopt},
        IntCase{"x", std::nullopt}, IntCase{"$G", std::nullopt}, IntCase{"$1 ", std::nullopt},
        IntCase{"$-1", std::nullopt}, IntCase{" $10", 16}, IntCase{"0x0x1", std::nullopt},
        // text that is not ASCII
        IntCase{"\xD6\xD0", std::nullopt}, IntCase{"1\xD6\xD0", std::nullopt}));

class Int64Rule : public ::testing::TestWithParam<IntCase> {};

TEST_P(Int64Rule, ConvertsOrFails) {
  const IntCase& c = GetParam();
  int64_t value = 12345;
  const bool ok = TryStrToInt64(c.text, value);
  ASSERT_EQ(ok, c.value.has_value());
  if (ok) {
    EXPECT_EQ(value, *c.value);
  }
  EXPECT_EQ(StrToInt64Def(c.text, -77), ok ? *c.value : -77);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Int64Rule,
    ::testing::Values(
        IntCase{"2147483648", 2147483648LL}, IntCase{"-2147483649", -2147483649LL},
        IntCase{"9223372036854775807", INT64_MAX}, IntCase{"-9223372036854775808", INT64_MIN},
        IntCase{"9223372036854775808", std::nullopt}, IntCase{"-9223372036854775809", std::nullopt},
        IntCase{"18446744073709551615", std::nullopt}, IntCase{"99999999999999999999", std::nullopt},
        IntCase{"$FFFFFFFFFFFFFFFF", -1}, IntCase{"$7FFFFFFFFFFFFFFF", INT64_MAX},
        IntCase{"$FFFFFFFF", 4294967295LL}, IntCase{"-$FFFFFFFFFFFFFFFF", 1},
        IntCase{"$10000000000000000", std::nullopt}, IntCase{"0x00000000000000000001", 1},
        IntCase{"5 ", std::nullopt}, IntCase{"", std::nullopt}, IntCase{"  -0", 0}));

TEST(IntegerScan, ReportsTheMagnitudeReadBeforeARejectedCharacter) {
  const IntegerScan scan = ScanInt32("123abc");
  EXPECT_FALSE(scan.valid);
  EXPECT_TRUE(scan.any_digit);
  EXPECT_EQ(scan.magnitude, 123u);

  const IntegerScan no_digit = ScanInt32("abc");
  EXPECT_FALSE(no_digit.any_digit);
  EXPECT_EQ(no_digit.magnitude, 0u);

  // The digit that would pass the limit is the rejected character.
  const IntegerScan too_long = ScanInt32("21474836470");
  EXPECT_FALSE(too_long.valid);
  EXPECT_EQ(too_long.magnitude, 2147483647u);

  const IntegerScan wide = ScanInt64("4294967296 x");
  EXPECT_FALSE(wide.valid);
  EXPECT_EQ(wide.magnitude, 4294967296u);
  EXPECT_EQ(ScanInt64("4294967296").value, 4294967296LL);
}

TEST(StrToInt32, RaisesTheConversionErrorWithTheText) {
  EXPECT_EQ(StrToInt32("-12"), -12);
  try {
    StrToInt32("12x");
    FAIL() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'12x' is not a valid integer value");
  }
}

}  // namespace
}  // namespace settings
