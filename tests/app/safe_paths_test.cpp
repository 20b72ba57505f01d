// Which names from the server or a descriptor may be joined to a local folder.
#include <gtest/gtest.h>

#include <string>

#include "app/safe_paths.h"

namespace {

TEST(SafePaths, RelativeNamesThatStayInside) {
  const struct {
    std::string name;
    bool relative;  // IsSafeRelativeName
    bool entry;     // IsSafeEntryName
  } cases[] = {
      {"abc.dll", true, true},
      {"Report/a.txt", true, false},
      {"Report\\a.txt", true, false},
      {"./a.txt", true, false},
      {"a..b", true, true},
      {"...", true, true},
      {"\xD4\xC2\xB1\xA8.txt", true, true},         // 月报.txt
      {"\x81\x5C..", true, true},                    // 乗.. : the "\" is the character's second byte
      {"", false, false},
      {".", false, false},
      {"./", false, false},
      {"..", false, false},
      {"../evil.txt", false, false},
      {"..\\evil.txt", false, false},
      {"Report/../../evil.txt", false, false},
      {"Report\\..\\x", false, false},
      {"a/..", false, false},
      {"/etc/passwd", false, false},
      {"\\evil.txt", false, false},
      {"C:evil.txt", false, false},
      {"c:\\evil.txt", false, false},
      {"\x81\x5C\\..\\x", false, false},             // 乗 then a real separator and ".."
      {std::string("a\0b", 3), false, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(app::IsSafeRelativeName(c.name), c.relative) << c.name;
    EXPECT_EQ(app::IsSafeEntryName(c.name), c.entry) << c.name;
  }
}

}  // namespace
