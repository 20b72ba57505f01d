#include "net/take_token.h"

#include <gtest/gtest.h>

#include "platform/encoding.h"

namespace {

struct TokenCase {
  const char* name;
  std::string text;
  std::string delimiter;
  bool case_sensitive;
  std::string token;
  std::string rest;
};

class TakeTokenTable : public testing::TestWithParam<TokenCase> {};

TEST_P(TakeTokenTable, SplitsAtFirstMatch) {
  const TokenCase& c = GetParam();
  std::string text = c.text;
  EXPECT_EQ(net::TakeToken(text, c.delimiter, true, c.case_sensitive), c.token);
  EXPECT_EQ(text, c.rest);

  std::string kept = c.text;
  EXPECT_EQ(net::TakeToken(kept, c.delimiter, false, c.case_sensitive), c.token);
  EXPECT_EQ(kept, c.text);
}

// "\xB5\x2E" is not a GBK pair (0x2E is no trail byte), but "\xD6\xD0" (中) is,
// and its second byte must never start a match.
INSTANTIATE_TEST_SUITE_P(
    Cases, TakeTokenTable,
    testing::Values(TokenCase{"Simple", "USER anonymous", " ", true, "USER", "anonymous"},
                    TokenCase{"First of several", "a.b.c", ".", true, "a", "b.c"},
                    TokenCase{"Missing", "abc", ".", true, "abc", ""},
                    TokenCase{"At start", ".abc", ".", true, "", "abc"},
                    TokenCase{"At end", "abc.", ".", true, "abc", ""},
                    TokenCase{"Empty text", "", ".", true, "", ""},
                    TokenCase{"Multi-byte delimiter", "key==value==x", "==", true, "key", "value==x"},
                    TokenCase{"Case-insensitive", "abcXYdef", "xy", false, "abc", "def"},
                    TokenCase{"Case-sensitive misses", "abcXYdef", "xy", true, "abcXYdef", ""},
                    TokenCase{"Only ASCII letters fold", "a\xE4z", "\xC4", false, "a\xE4z", ""},
                    TokenCase{"Not inside a GBK pair", "\xD6\xD0" "D\xD0x", "\xD0", true, "\xD6\xD0" "D", "x"},
                    TokenCase{"Trail byte letter skipped", "\xB0\x41" "A", "A", true, "\xB0\x41", ""},
                    TokenCase{"Zero byte searched plainly", std::string("\xB0\0x", 3), std::string("\0", 1), true,
                              "\xB0", "x"},
                    // An empty delimiter occurs nowhere: the whole text is the
                    // token, so a loop of TakeToken always ends.
                    TokenCase{"Empty delimiter", "abc", "", true, "abc", ""}),
    [](const testing::TestParamInfo<TokenCase>& info) {
      std::string name = info.param.name;
      for (char& c : name) {
        if (!isalnum(static_cast<unsigned char>(c))) c = '_';
      }
      return name;
    });

TEST(TakeToken, ChineseTextSplitsAtBlanksOnly) {
  std::string text = gbk("下载 完成");
  EXPECT_EQ(net::TakeToken(text, " "), gbk("下载"));
  EXPECT_EQ(text, gbk("完成"));
}

}  // namespace
