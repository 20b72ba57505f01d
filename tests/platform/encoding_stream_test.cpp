#include <gtest/gtest.h>

#include "platform/encoding.h"
#include "platform/stream.h"

namespace platform {
namespace {

TEST(Encoding, GbkAndUtf8RoundTrip) {
  const std::string utf8 = "升级文件 Update 完成";
  const std::string bytes = gbk(utf8.c_str());
  EXPECT_EQ(bytes, "\xC9\xFD\xBC\xB6\xCE\xC4\xBC\xFE Update \xCD\xEA\xB3\xC9");
  EXPECT_EQ(GbkToUtf8(bytes), utf8);
  EXPECT_EQ(GbkToUtf8("plain ascii"), "plain ascii");
}

TEST(Encoding, InvalidInputIsReplacedNotDropped) {
  // A lone lead byte at the end is not GBK: one replacement character.
  EXPECT_EQ(GbkToUtf8("a\x81"), "a\xEF\xBF\xBD");
  // A character GBK cannot hold becomes "?".
  EXPECT_EQ(Utf8ToGbk("x\xF0\x9F\x98\x80y"), "x?y");
}

TEST(Encoding, GbkPairs) {
  EXPECT_TRUE(IsGbkPair(0x81, 0x5C));  // the second byte may be "\"
  EXPECT_TRUE(IsGbkPair(0xB1, 0x5D));  // or "]"
  EXPECT_FALSE(IsGbkPair(0x81, 0x7F));
  EXPECT_FALSE(IsGbkPair(0x80, 0x40));
  EXPECT_FALSE(IsGbkPair('a', 'b'));
}

TEST(MemoryStream, ReadWriteSeekAndSize) {
  MemoryStream stream;
  stream.Write("hello", 5);
  EXPECT_EQ(stream.Size(), 5);
  EXPECT_EQ(stream.Position(), 5);
  stream.Seek(1);
  char buffer[8] = {};
  EXPECT_EQ(stream.Read(buffer, sizeof buffer), 4u);
  EXPECT_EQ(std::string(buffer, 4), "ello");
  EXPECT_EQ(stream.Read(buffer, sizeof buffer), 0u);
  stream.Seek(7);
  stream.Write("!", 1);
  EXPECT_EQ(stream.Data(), std::string("hello\0\0!", 8));
  stream.SetSize(3);
  EXPECT_EQ(stream.Position(), 3);
  EXPECT_EQ(stream.Data(), "hel");
  stream.Seek(-4);
  EXPECT_EQ(stream.Position(), 0);
}

}  // namespace
}  // namespace platform
