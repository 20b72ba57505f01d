#include "settings/profile.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <random>

#include "support/scratch_folder.h"

namespace settings {
namespace {

using test_support::Exists;
using test_support::ReadRaw;
using test_support::ScratchFolder;
using test_support::WriteRaw;

// A literal with every byte, NUL bytes included.
template <size_t N>
std::string Bytes(const char (&literal)[N]) {
  return std::string(literal, N - 1);
}

std::string Value(const std::string& file, const std::string& section, const std::string& key,
                  size_t size = 2048) {
  return ReadProfileString(file, &section, &key, "DEF", size);
}

std::string Sections(const std::string& file, size_t size = 16384) {
  return ReadProfileString(file, nullptr, nullptr, "", size);
}

std::string Keys(const std::string& file, const std::string& section, size_t size = 16384) {
  return ReadProfileString(file, &section, nullptr, "", size);
}

bool Write(const std::string& file, const std::string& section, const std::string& key,
           const std::string& value) {
  return WriteProfileString(file, &section, &key, &value);
}

TEST(ProfileRead, ValuesAndDefaultsAreCutToTheBuffer) {
  ScratchFolder root;
  const std::string file = root / "a.ini";
  WriteRaw(file, "[s]\nk=abcdef\ngbk=ab\xD6\xD0\n");
  EXPECT_EQ(Value(file, "s", "k", 7), "abcdef");
  EXPECT_EQ(Value(file, "s", "k", 4), "abc");
  EXPECT_EQ(Value(file, "s", "k", 1), "");
  EXPECT_EQ(Value(file, "s", "k", 0), "");
  EXPECT_EQ(Value(file, "s", "gbk", 4), "ab") << "no half of a GBK character";
  EXPECT_EQ(Value(file, "s", "gbk", 5), "ab\xD6\xD0");
  EXPECT_EQ(Value(file, "s", "missing", 3), "DE");
}

TEST(ProfileRead, ListingsHoldTheWholeNamesThatFitWithTheFinalNul) {
  ScratchFolder root;
  const std::string file = root / "a.ini";
  WriteRaw(file, "[ab]\nx=1\ny=2\n[cd]\n");
  EXPECT_EQ(Sections(file), std::string("ab\0cd\0", 6));
  EXPECT_EQ(Sections(file, 7), std::string("ab\0cd\0", 6));
  EXPECT_EQ(Sections(file, 6), std::string("ab\0", 3));
  EXPECT_EQ(Sections(file, 3), "");
  EXPECT_EQ(Keys(file, "AB"), std::string("x\0y\0", 4));
  EXPECT_EQ(Keys(file, "cd"), "");
  EXPECT_EQ(Keys(file, "missing"), "");
  EXPECT_EQ(Sections(root / "missing.ini"), "");
}

TEST(ProfileRead, ReadingNeverCreatesOrChangesAFile) {
  ScratchFolder root;
  EXPECT_EQ(Value(root / "none.ini", "s", "k"), "DEF");
  EXPECT_FALSE(Exists(root / "none.ini"));
  const std::string content = "[s]\r\nk = v \r\n";
  WriteRaw(root / "some.ini", content);
  EXPECT_EQ(Value(root / "some.ini", "S", "K"), "v");
  EXPECT_EQ(ReadRaw(root / "some.ini"), content);
}

struct DamagedCase {
  const char* name;
  std::string content;
  std::string section, key;
  std::string value;     // "DEF" when the default comes back
  std::string sections;  // the section listing, names joined by "|"
};

void PrintTo(const DamagedCase& c, std::ostream* os) { *os << c.name; }

std::string Joined(const std::string& listing) {
  std::string out;
  for (char c : listing) out += c == '\0' ? '|' : c;
  if (!out.empty()) out.pop_back();
  return out;
}

class DamagedFiles : public ::testing::TestWithParam<DamagedCase> {};

TEST_P(DamagedFiles, ReadAsWhatTheyHoldOrAsDefaults) {
  const DamagedCase& c = GetParam();
  ScratchFolder root;
  const std::string file = root / "damaged.ini";
  WriteRaw(file, c.content);
  EXPECT_EQ(Value(file, c.section, c.key), c.value);
  EXPECT_EQ(Joined(Sections(file)), c.sections);
  // A write still works on it and leaves the rest as it was.
  ASSERT_TRUE(Write(file, "added", "k", "v"));
  EXPECT_EQ(Value(file, "added", "k"), "v");
  EXPECT_EQ(ReadRaw(file).substr(0, c.content.size()), c.content);
}

const std::string kMegabyte(1 << 20, 'm');

INSTANTIATE_TEST_SUITE_P(
    Table, DamagedFiles,
    ::testing::Values(
        DamagedCase{"empty", "", "a", "k", "DEF", ""},
        DamagedCase{"no_sections", "k=1\nj=2\n", "a", "k", "DEF", ""},
        DamagedCase{"lines_before_the_first_section", "k=0\n[a]\nk=1\n", "a", "k", "1", "a"},
        DamagedCase{"binary_bytes", Bytes("\x01\xFF\x80[\x02]\n[a]\n\x7F\x81=\x82\nk=\x01\xFE\n"),
                    "a", "k", "\x01\xFE", "a"},
        DamagedCase{"nul_ends_its_line", Bytes("[a]\nk=va\0lue\nj=1\n"), "a", "k", "va", "a"},
        DamagedCase{"nul_in_a_section_line", Bytes("[a\0]\nk=1\n[b]\n"), "a", "k", "DEF", "b"},
        DamagedCase{"megabyte_value", "[a]\nk=" + kMegabyte + "\n[b]\nj=2\n", "a", "k", kMegabyte.substr(0, 2047),
                    "a|b"},
        DamagedCase{"megabyte_section_name", "[" + kMegabyte + "]\nk=1\n[b]\nj=2\n", "b", "j", "2", ""},
        DamagedCase{"lines_without_equals", "[a]\nfoo\n  bar baz\nk=1\n", "a", "k", "1", "a"},
        DamagedCase{"duplicate_sections_first_wins", "[a]\nk=1\n[b]\n[A]\nk=2\nj=3\n", "a", "j", "DEF", "a|b"},
        DamagedCase{"duplicate_keys_first_wins", "[a]\nk=1\nK=2\n", "a", "k", "1", "a"},
        DamagedCase{"cr_only_line_ends", "[a]\rk=1\r[b]\rj=2", "b", "j", "2", "a|b"},
        DamagedCase{"mixed_line_ends", "[a]\r\n\rk=1\n\r\n[b]\rj=2\r\n", "a", "k", "1", "a|b"},
        DamagedCase{"unclosed_bracket", "[a\nk=1\n", "a", "k", "DEF", ""},
        DamagedCase{"text_after_the_bracket", "[a] ; note\nk=1\n", "a", "k", "1", "a"},
        DamagedCase{"blanks_around_names", "[ \tspaced name\t ]\n  key  =\t value \t\n", "spaced name", "key",
                    "value", "spaced name"},
        DamagedCase{"empty_section_name", "[]\nk=1\n[b]\n", "", "k", "1", "b"},
        DamagedCase{"empty_key", "[a]\n=v\n", "a", "", "v", "a"},
        DamagedCase{"comment_lines", "[a]\n;k=1\n  ; k=3\nk=2\n", "a", "k", "2", "a"},
        DamagedCase{"quotes_are_kept", "[a]\nk=\"q\"\n", "a", "k", "\"q\"", "a"},
        DamagedCase{"byte_order_mark", "\xEF\xBB\xBF[a]\r\nk=1\r\n", "a", "k", "1", "a"},
        DamagedCase{"stray_lead_byte_before_bracket", "[\x81]\nk=1\n", "\x81", "k", "1", "\x81"},
        DamagedCase{"value_holds_equals", "[a]\nurl=ftp://h/?a=b\n", "a", "url", "ftp://h/?a=b", "a"}));

TEST(ProfileRead, PathsThatAreNoRegularFileReadAsEmptyAndRefuseWrites) {
  ScratchFolder root;
  ASSERT_EQ(mkdir((root / "folder.ini").c_str(), 0755), 0);
  ASSERT_EQ(mkfifo((root / "fifo.ini").c_str(), 0644), 0);
  for (const char* name : {"folder.ini", "fifo.ini"}) {
    EXPECT_EQ(Value(root / name, "a", "k"), "DEF") << name;
    EXPECT_EQ(Sections(root / name), "") << name;
    EXPECT_FALSE(Write(root / name, "a", "k", "v")) << name;
  }
}

TEST(ProfileRead, AnOversizedFileReadsAsEmptyAndIsNotRewritten) {
  ScratchFolder root;
  const std::string file = root / "huge.ini";
  WriteRaw(file, "[a]\nk=1\n");
  ASSERT_EQ(truncate(file.c_str(), static_cast<off_t>(kMaxProfileFileSize + 1)), 0);  // sparse
  EXPECT_EQ(Value(file, "a", "k"), "DEF");
  EXPECT_FALSE(Write(file, "a", "k", "2"));
  struct stat st {};
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  EXPECT_EQ(static_cast<size_t>(st.st_size), kMaxProfileFileSize + 1);
}

enum class Op { kWrite, kRemoveKey, kRemoveSection };

struct WriterCase {
  const char* name;
  std::string original;
  Op op;
  std::string section, key, value;
  std::string expected;
};

void PrintTo(const WriterCase& c, std::ostream* os) { *os << c.name; }

class WriterGolden : public ::testing::TestWithParam<WriterCase> {};

bool Apply(const std::string& file, const WriterCase& c) {
  switch (c.op) {
    case Op::kWrite: return WriteProfileString(file, &c.section, &c.key, &c.value);
    case Op::kRemoveKey: return WriteProfileString(file, &c.section, &c.key, nullptr);
    case Op::kRemoveSection: return WriteProfileString(file, &c.section, nullptr, nullptr);
  }
  return false;
}

TEST_P(WriterGolden, ChangesOnlyWhatItMustAndRepeatsToTheSameFile) {
  const WriterCase& c = GetParam();
  ScratchFolder root;
  const std::string file = root / "golden.ini";
  WriteRaw(file, c.original);
  ASSERT_TRUE(Apply(file, c));
  EXPECT_EQ(ReadRaw(file), c.expected);
  for (int i = 0; i < 9; ++i) ASSERT_TRUE(Apply(file, c));
  EXPECT_EQ(ReadRaw(file), c.expected) << "after ten writes";
  switch (c.op) {
    case Op::kWrite: {
      // Blanks around a value are not part of it when it is read.
      const size_t begin = c.value.find_first_not_of(" \t");
      const std::string trimmed =
          begin == std::string::npos ? "" : c.value.substr(begin, c.value.find_last_not_of(" \t") + 1 - begin);
      EXPECT_EQ(Value(file, c.section, c.key), trimmed);
      break;
    }
    case Op::kRemoveKey: EXPECT_EQ(Value(file, c.section, c.key), "DEF"); break;
    case Op::kRemoveSection: EXPECT_EQ(Keys(file, c.section), ""); break;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, WriterGolden,
    ::testing::Values(
        WriterCase{"replace_keeps_comments_spacing_and_crlf",
                   "; settings\r\n[kvdatacont]\r\nupdateadd = old.example  \r\n\r\n; tail\r\n[mainapp]\r\n"
                   "Sys_name=Oxbar_tn.exe\r\n",
                   Op::kWrite, "kvdatacont", "updateadd", "127.0.0.1",
                   "; settings\r\n[kvdatacont]\r\nupdateadd = 127.0.0.1  \r\n\r\n; tail\r\n[mainapp]\r\n"
                   "Sys_name=Oxbar_tn.exe\r\n"},
        WriterCase{"spelling_of_names_kept", "[KvDataCont]\nClient_Version=3\n", Op::kWrite, "kvdatacont",
                   "client_version", "4", "[KvDataCont]\nClient_Version=4\n"},
        WriterCase{"tabs_kept", "[a]\n\tk\t=\tv\t\n", Op::kWrite, "a", "k", "w", "[a]\n\tk\t=\tw\t\n"},
        WriterCase{"empty_value_filled", "[a]\nk =   \n", Op::kWrite, "a", "k", "5", "[a]\nk =   5\n"},
        WriterCase{"value_emptied", "[a]\nk=5\n", Op::kWrite, "a", "k", "", "[a]\nk=\n"},
        WriterCase{"new_key_after_the_last_key_lf", "[a]\nk=1\n\n[b]\nx=2\n", Op::kWrite, "a", "new", "v",
                   "[a]\nk=1\nnew=v\n\n[b]\nx=2\n"},
        WriterCase{"new_key_in_a_section_with_only_its_header", "[a]\n[b]\n", Op::kWrite, "a", "k", "v",
                   "[a]\nk=v\n[b]\n"},
        WriterCase{"new_key_after_a_last_line_without_line_end", "[a]\nk=1", Op::kWrite, "a", "j", "2",
                   "[a]\nk=1\nj=2\n"},
        WriterCase{"new_section_after_a_last_line_without_line_end", "[a]\nk=1", Op::kWrite, "b", "k", "2",
                   "[a]\nk=1\n\n[b]\nk=2\n"},
        WriterCase{"new_section_after_a_blank_line_crlf", "[a]\r\nk=1\r\n\r\n", Op::kWrite, "b", "k", "2",
                   "[a]\r\nk=1\r\n\r\n[b]\r\nk=2\r\n"},
        WriterCase{"new_file_is_crlf", "", Op::kWrite, "kvdatacont", "update", "127.0.0.1",
                   "[kvdatacont]\r\nupdate=127.0.0.1\r\n"},
        WriterCase{"cr_only_kept", "[a]\rk=1\r", Op::kWrite, "a", "j", "3", "[a]\rk=1\rj=3\r"},
        WriterCase{"first_of_duplicate_keys", "[a]\nk=1\nk=2\n", Op::kWrite, "a", "k", "3", "[a]\nk=3\nk=2\n"},
        WriterCase{"first_of_duplicate_sections", "[a]\nk=1\n[A]\nk=2\n", Op::kWrite, "a", "j", "3",
                   "[a]\nk=1\nj=3\n[A]\nk=2\n"},
        WriterCase{"garbage_lines_survive", "junk line\nk=0\n[a]\nnot a pair\nk=1\n", Op::kWrite, "a", "k", "2",
                   "junk line\nk=0\n[a]\nnot a pair\nk=2\n"},
        WriterCase{"byte_order_mark_kept", "\xEF\xBB\xBF[a]\r\nk=1\r\n", Op::kWrite, "a", "k", "2",
                   "\xEF\xBB\xBF[a]\r\nk=2\r\n"},
        WriterCase{"value_with_equals_and_blanks", "[a]\nurl = x  \n", Op::kWrite, "a", "url", " x=y ",
                   "[a]\nurl = x=y \n"},
        WriterCase{"value_with_leading_blanks_only", "[a]\nurl =  x  \n", Op::kWrite, "a", "url", "\ty",
                   "[a]\nurl =\ty  \n"},
        WriterCase{"remove_key_removes_every_line_of_it", "[a]\r\nk=1\r\nj=2\r\nK = 3\r\n[b]\r\nk=4\r\n",
                   Op::kRemoveKey, "a", "k", "", "[a]\r\nj=2\r\n[b]\r\nk=4\r\n"},
        WriterCase{"remove_missing_key_changes_nothing", "[a]\nk=1\n", Op::kRemoveKey, "a", "zz", "",
                   "[a]\nk=1\n"},
        WriterCase{"remove_section_removes_every_section_of_that_name",
                   "; c\n[a]\nk=1\n\n[b]\nj=2\n[A]\nz=1\n", Op::kRemoveSection, "a", "", "", "; c\n[b]\nj=2\n"},
        WriterCase{"remove_missing_section_changes_nothing", "[a]\nk=1\n", Op::kRemoveSection, "zz", "", "",
                   "[a]\nk=1\n"}));

TEST(ProfileWrite, RemovingFromAMissingFileCreatesNothing) {
  ScratchFolder root;
  const std::string file = root / "none.ini";
  const std::string a = "a";
  const std::string k = "k";
  EXPECT_TRUE(WriteProfileString(file, &a, &k, nullptr));
  EXPECT_TRUE(WriteProfileString(file, &a, nullptr, nullptr));
  EXPECT_TRUE(WriteProfileString(file, nullptr, nullptr, nullptr));
  EXPECT_FALSE(Exists(file));
}

TEST(ProfileWrite, FailsIntoAMissingFolderAndKeepsTheFileMode) {
  ScratchFolder root;
  EXPECT_FALSE(Write(root / "missing/a.ini", "a", "k", "v"));
  const std::string file = root / "Mode.ini";
  WriteRaw(file, "[a]\nk=1\n");
  ASSERT_EQ(chmod(file.c_str(), 0640), 0);
  ASSERT_TRUE(Write(root / "mode.INI", "a", "k", "2"));
  struct stat st {};
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(ReadRaw(file), "[a]\nk=2\n");
}

TEST(ProfileWrite, ThroughASymbolicLinkTheLinkedFileChanges) {
  ScratchFolder root;
  WriteRaw(root / "real.ini", "[a]\nk=1\n");
  ASSERT_EQ(symlink("real.ini", (root / "link.ini").c_str()), 0);
  ASSERT_TRUE(Write(root / "link.ini", "a", "k", "2"));
  EXPECT_EQ(ReadRaw(root / "real.ini"), "[a]\nk=2\n");
  struct stat st {};
  ASSERT_EQ(lstat((root / "link.ini").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
}

struct RefusedCase {
  const char* name;
  std::string section, key, value;
};

void PrintTo(const RefusedCase& c, std::ostream* os) { *os << c.name; }

class RefusedTexts : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(RefusedTexts, AreNotWrittenBecauseTheyWouldNotReadBack) {
  ScratchFolder root;
  const std::string file = root / "r.ini";
  const std::string content = "[a]\nk=1\n";
  WriteRaw(file, content);
  EXPECT_FALSE(Write(file, GetParam().section, GetParam().key, GetParam().value));
  EXPECT_EQ(ReadRaw(file), content);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RefusedTexts,
    ::testing::Values(RefusedCase{"line_feed_in_value", "a", "k", "1\n[evil]\nx=1"},
                      RefusedCase{"carriage_return_in_value", "a", "k", "1\r2"},
                      RefusedCase{"nul_in_value", "a", "k", Bytes("1\0" "2")},
                      RefusedCase{"line_feed_in_key", "a", "k\nj", "1"},
                      RefusedCase{"equals_in_key", "a", "k=j", "1"},
                      RefusedCase{"key_read_as_comment", "a", " ;k", "1"},
                      RefusedCase{"key_read_as_section", "a", "[k]", "1"},
                      RefusedCase{"bracket_in_section", "a]b", "k", "1"},
                      RefusedCase{"line_feed_in_section", "a\nb", "k", "1"},
                      RefusedCase{"nul_in_section", Bytes("a\0b"), "k", "1"}));

TEST(ProfileWrite, TextsThatReadBackAreAccepted) {
  ScratchFolder root;
  const std::string file = root / "ok.ini";
  EXPECT_TRUE(Write(file, "\xB1\x5D", "k]", "[v];=x"));  // "]" as a GBK second byte
  EXPECT_EQ(Value(file, "\xB1\x5D", "k]"), "[v];=x");
}

// A writer killed at random moments: the file must always be one of the
// contents written, whole.
TEST(ProfileWrite, AKilledWriterLeavesTheOldOrTheNewFileWhole) {
  ScratchFolder root;
  const std::string file = root / "crash.ini";
  auto content_for = [](int i) {
    return "[s]\r\nk=" + std::string(1000 + (i % 7) * 20000, static_cast<char>('a' + i % 26)) + "\r\n";
  };
  WriteRaw(file, content_for(0));
  auto whole = [](const std::string& content) {
    const std::string head = "[s]\r\nk=";
    if (content.size() < head.size() + 2 || content.compare(0, head.size(), head) != 0) return false;
    if (content.compare(content.size() - 2, 2, "\r\n") != 0) return false;
    const std::string value = content.substr(head.size(), content.size() - head.size() - 2);
    if (value.empty() || value.find_first_not_of(value[0]) != std::string::npos) return false;
    return value.size() >= 1000 && (value.size() - 1000) % 20000 == 0 && value.size() <= 121000;
  };
  std::mt19937 random(12345);
  std::uniform_int_distribution<int> delay_us(0, 4000);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  for (int round = 0; round < 200 && std::chrono::steady_clock::now() < deadline; ++round) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (int i = 1;; ++i) {
        const std::string section = "s";
        const std::string key = "k";
        const std::string value = content_for(i + round).substr(7, content_for(i + round).size() - 9);
        WriteProfileString(file, &section, &key, &value);
      }
    }
    usleep(static_cast<useconds_t>(delay_us(random)));
    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    const std::string content = ReadRaw(file);
    ASSERT_TRUE(whole(content)) << "round " << round << ": " << content.size() << " bytes";
  }
  // Killed writers may leave their hidden temporary files; never a torn profile.
  for (const auto& entry : std::filesystem::directory_iterator(root.Path())) {
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(name == "crash.ini" || name[0] == '.') << name;
  }
}

}  // namespace
}  // namespace settings
