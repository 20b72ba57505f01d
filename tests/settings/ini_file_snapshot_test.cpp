// The parsed-once reader against TIniFile: for every file of the table, every
// listing and every read (listed names, names in other letter case, missing
// ones) gives the same bytes, limits included.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "settings/ini_file.h"
#include "support/scratch_folder.h"

namespace settings {
namespace {

using test_support::ScratchFolder;
using test_support::WriteRaw;
using Names = std::vector<std::string>;

std::string Repeat(const std::string& piece, size_t times) {
  std::string text;
  for (size_t i = 0; i < times; ++i) text += piece;
  return text;
}

// Sections s0 ... s(count-1), each with the keys of a descriptor row.
std::string Rows(size_t count) {
  std::string text;
  for (size_t i = 0; i < count; ++i) {
    const std::string n = std::to_string(i);
    text += "[section-" + n + "]\r\nName=file" + n + ".txt\r\ntype=DOC\r\nSize=1KB\r\nDate=2024-01-01\r\n";
  }
  return text;
}

std::string ManyKeys(size_t count) {
  std::string text = "[one]\r\n";
  for (size_t i = 0; i < count; ++i) text += "key-number-" + std::to_string(i) + "=" + std::to_string(i) + "\r\n";
  return text;
}

struct SnapshotCase {
  const char* name;
  std::string content;  // "(missing)": no file; "(folder)": a folder of that name
};

class SnapshotMatchesTIniFile : public ::testing::TestWithParam<SnapshotCase> {};

// The names the file is asked for: the first and last three listed ones,
// each also in upper case and with blanks around, and the extra ones (not
// there, or there but beyond the listing's buffer).
Names Probes(const Names& listed, const Names& extra) {
  Names probes;
  for (size_t i = 0; i < listed.size(); ++i) {
    if (i < 3 || i + 3 >= listed.size()) probes.push_back(listed[i]);
  }
  const Names chosen = probes;
  for (const std::string& name : chosen) {
    std::string upper = name;
    for (char& c : upper) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    probes.push_back(upper);
    probes.push_back(" " + name + "\t");
  }
  probes.insert(probes.end(), extra.begin(), extra.end());
  return probes;
}

TEST_P(SnapshotMatchesTIniFile, InEveryListingAndRead) {
  ScratchFolder folder;
  const std::string file = folder / "descriptor.ini";
  if (GetParam().content == "(folder)") {
    ASSERT_EQ(mkdir(file.c_str(), 0755), 0);
  } else if (GetParam().content != "(missing)") {
    WriteRaw(file, GetParam().content);
  }
  TIniFile ini(file);
  const TIniFileSnapshot snapshot(file);
  EXPECT_EQ(snapshot.FileName(), file);

  Names sections;
  Names from_snapshot;
  ini.ListSections(sections);
  snapshot.ListSections(from_snapshot);
  ASSERT_EQ(from_snapshot, sections);

  const std::string long_default(3000, 'd');
  for (const std::string& section : Probes(sections, {"", "missing", "\xB5\x5D", "section-2499", "one"})) {
    Names keys;
    Names keys_from_snapshot;
    ini.ListKeys(section, keys);
    snapshot.ListKeys(section, keys_from_snapshot);
    ASSERT_EQ(keys_from_snapshot, keys) << section;
    for (const std::string& key : Probes(keys, {"Name", "type", "nokey", "", "key-number-1499"})) {
      ASSERT_EQ(snapshot.ReadTextValue(section, key, "fallback"), ini.ReadTextValue(section, key, "fallback"))
          << section << " / " << key;
    }
    ASSERT_EQ(snapshot.ReadTextValue(section, "nokey", long_default), ini.ReadTextValue(section, "nokey", long_default));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, SnapshotMatchesTIniFile,
    ::testing::Values(
        SnapshotCase{"Descriptor", Rows(3)},
        SnapshotCase{"SectionListingPastItsBuffer", Rows(2500)},
        SnapshotCase{"KeyListingPastItsBuffer", ManyKeys(1500)},
        SnapshotCase{"DuplicatesInAnyCase",
                     "[Row]\nName=first\nname=second\n[row]\nName=third\ntype=x\n[ROW ]\nSize=9\n[other]\nName=o\n"},
        SnapshotCase{"ValueCutInsideAGbkPair", "[s]\r\nlong=a" + Repeat("\xD6\xD0", 1500) + "\r\nshort=b\r\n"},
        SnapshotCase{"GbkNamesWithBracketAndLetterTrailBytes",
                     "[\xB5\x5D\xCE\x61]\r\n\xB5\x5D=1\r\nName=\xC3\x5B\r\n[\xB5\x5D]\r\nName=2\r\n"},
        SnapshotCase{"DamagedLines",
                     "\xEF\xBB\xBFstray=1\r[a]\rk=v\rno equals here\r;comment=x\r  [ b ]  \rName = spaced value \r"
                     "nul=be" + std::string(1, '\0') + "fore\r[unclosed\rk2=w\r"},
        SnapshotCase{"BlankNamesLeftOutOfListings", "[]\n=empty key\nk=1\n[s]\n =x\nName=n\n"},
        SnapshotCase{"Empty", ""},
        SnapshotCase{"Missing", "(missing)"},
        SnapshotCase{"AFolderInItsPlace", "(folder)"}),
    [](const ::testing::TestParamInfo<SnapshotCase>& info) { return std::string(info.param.name); });

TEST(TIniFileSnapshot, KeepsTheFileAsItWasWhenMade) {
  ScratchFolder folder;
  const std::string file = folder / "descriptor.ini";
  WriteRaw(file, "[a]\r\nName=old\r\n");
  const TIniFileSnapshot snapshot(file);
  TIniFile(file).WriteTextValue("a", "Name", "new");
  TIniFile(file).WriteTextValue("b", "Name", "added");
  EXPECT_EQ(snapshot.ReadTextValue("a", "Name", ""), "old");
  Names sections;
  snapshot.ListSections(sections);
  EXPECT_EQ(sections, Names{"a"});
}

}  // namespace
}  // namespace settings
