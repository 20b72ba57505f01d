#include "settings/ini_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <memory>

#include "platform/date_time.h"
#include "platform/encoding.h"
#include "support/scratch_folder.h"

namespace settings {
namespace {

using test_support::Exists;
using test_support::ReadRaw;
using test_support::ScratchFolder;
using test_support::WriteRaw;

struct IntegerValueCase {
  const char* stored;  // nullptr: the key is missing
  int32_t expected;    // with Default -99
};

void PrintTo(const IntegerValueCase& c, std::ostream* os) {
  *os << (c.stored ? std::string("'") + c.stored + "'" : std::string("missing key"));
}

class ReadIntegerValueTable : public ::testing::TestWithParam<IntegerValueCase> {};

TEST_P(ReadIntegerValueTable, GivesTheNumberOrTheDefault) {
  ScratchFolder folder;
  const std::string file = folder / "values.ini";
  std::string content = "[s]\r\nother=1\r\n";
  if (GetParam().stored != nullptr) content += std::string("k=") + GetParam().stored + "\r\n";
  WriteRaw(file, content);
  TIniFile ini(file);
  EXPECT_EQ(ini.ReadIntegerValue("s", "k", -99), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ReadIntegerValueTable,
    ::testing::Values(IntegerValueCase{"0x1A", 26}, IntegerValueCase{"0X1a", 26},
                      IntegerValueCase{"$1A", 26}, IntegerValueCase{"x1A", 26},
                      IntegerValueCase{"-0x10", -16}, IntegerValueCase{"+7", 7},
                      IntegerValueCase{"007", 7}, IntegerValueCase{"0", 0},
                      IntegerValueCase{"2147483647", 2147483647},
                      IntegerValueCase{"-2147483648", INT32_MIN}, IntegerValueCase{"0xFFFFFFFF", -1},
                      IntegerValueCase{nullptr, -99}, IntegerValueCase{"", -99},
                      IntegerValueCase{"1A", -99}, IntegerValueCase{"12abc", -99},
                      IntegerValueCase{"0x", -99}, IntegerValueCase{"$", -99},
                      IntegerValueCase{"- 5", -99}, IntegerValueCase{"2147483648", -99},
                      IntegerValueCase{"-2147483649", -99}, IntegerValueCase{"0x100000000", -99},
                      // blanks around a value are not part of it
                      IntegerValueCase{"  12  ", 12}, IntegerValueCase{"\t12", 12}));

TEST(TIniFile, MissingFileReadsAsDefaultsAndIsNotCreated) {
  ScratchFolder folder;
  const std::string file = folder / "updateset.inf";
  TIniFile ini(file);
  EXPECT_EQ(ini.ReadTextValue("kvdatacont", "updateadd", "127.0.0.1"), "127.0.0.1");
  EXPECT_EQ(ini.ReadIntegerValue("kvdatacont", "client_version", 1), 1);
  std::vector<std::string> list = {"left over"};
  ini.ListSections(list);
  EXPECT_TRUE(list.empty());
  list = {"left over"};
  ini.ListKeys("kvdatacont", list);
  EXPECT_TRUE(list.empty());
  EXPECT_FALSE(Exists(file));
}

TEST(TIniFile, FirstWriteCreatesTheFileWithOneSectionAndKey) {
  ScratchFolder folder;
  const std::string file = folder / "updateset.inf";
  {
    TIniFile ini(file);
    ini.WriteTextValue("kvdatacont", "update", "127.0.0.1");
  }
  EXPECT_EQ(ReadRaw(file), "[kvdatacont]\r\nupdate=127.0.0.1\r\n");
}

TEST(TIniFile, TwoObjectsOnOneFileSeeEachOthersWritesAndBothSurvive) {
  ScratchFolder folder;
  const std::string file = folder / "updateset.inf";
  TIniFile a(file);
  EXPECT_EQ(a.ReadTextValue("kvdatacont", "K1", "none"), "none");
  {
    auto b = TIniFile::BindFile(file);
    b->WriteTextValue("kvdatacont", "K1", "from b");
  }
  EXPECT_EQ(a.ReadTextValue("kvdatacont", "K1", "none"), "from b");
  a.WriteTextValue("kvdatacont", "K2", "from a");
  TIniFile c(file);
  EXPECT_EQ(c.ReadTextValue("kvdatacont", "K1", ""), "from b");
  EXPECT_EQ(c.ReadTextValue("kvdatacont", "K2", ""), "from a");
  c.WriteIntegerValue("kvdatacont", "K1", -5);
  EXPECT_EQ(a.ReadIntegerValue("kvdatacont", "K1", 0), -5);
}

// A refused write names the file and, when the system gave one, its reason.
struct RefusedWriteCase {
  const char* name;
  const char* file;       // in the test's folder
  const char* make;       // "folder": a folder takes the file's name
  const char* value;
  const char* message_tail;  // after "Unable to write to <file>"
};

class RefusedWrite : public ::testing::TestWithParam<RefusedWriteCase> {};

TEST_P(RefusedWrite, NamesTheFileAndTheReason) {
  const RefusedWriteCase& c = GetParam();
  ScratchFolder folder;
  const std::string file = folder / c.file;
  if (std::string(c.make) == "folder") {
    ASSERT_EQ(mkdir(file.c_str(), 0755), 0);
  }
  auto ini = std::make_unique<TIniFile>(file);
  try {
    ini->WriteTextValue("kvdatacont", "update", c.value);
    FAIL() << "no exception";
  } catch (const EIniFileException& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + file + c.message_tail);
  }
  if (*c.message_tail != '\0') {
    EXPECT_THROW(ini->WriteIntegerValue("kvdatacont", "client_version", 3), EIniFileException);
  }
  // A refused remove of a key is ignored, and destruction never raises.
  EXPECT_NO_THROW(ini->RemoveKey("kvdatacont", "update"));
  EXPECT_NO_THROW(ini.reset());
}

INSTANTIATE_TEST_SUITE_P(
    Table, RefusedWrite,
    ::testing::Values(
        RefusedWriteCase{"MissingFolder", "no such folder/updateset.inf", "", "x", ": No such file or directory"},
        RefusedWriteCase{"FolderInTheWay", "updateset.inf", "folder", "x", ": Is a directory"},
        RefusedWriteCase{"TextThatWouldNotReadBack", "updateset.inf", "", "a\r\nb", ""}),
    [](const ::testing::TestParamInfo<RefusedWriteCase>& info) { return std::string(info.param.name); });

TEST(TIniFile, RemoveSectionRefusedRaisesAndRemoveKeyIgnoresIt) {
  ScratchFolder folder;
  const std::string file = folder / "a folder";
  ASSERT_EQ(mkdir(file.c_str(), 0755), 0);
  TIniFile ini(file);
  EXPECT_THROW(ini.RemoveSection("s"), EIniFileException);
  EXPECT_NO_THROW(ini.RemoveKey("s", "k"));
  EXPECT_EQ(ini.ReadTextValue("s", "k", "d"), "d");
}

TEST(TIniFile, ValuesUpTo2047BytesComeBackWholeLongerOnesCut) {
  ScratchFolder folder;
  const std::string file = folder / "long.ini";
  TIniFile ini(file);
  const std::string exact(2047, 'a');
  const std::string longer = std::string(3000, 'b');
  ini.WriteTextValue("s", "exact", exact);
  ini.WriteTextValue("s", "longer", longer);
  EXPECT_EQ(ini.ReadTextValue("s", "exact", ""), exact);
  EXPECT_EQ(ini.ReadTextValue("s", "longer", ""), longer.substr(0, 2047));
  // The whole value is on disk; only the read is limited.
  EXPECT_NE(ReadRaw(file).find(longer), std::string::npos);
  // A GBK character is never split by the cut.
  const std::string chinese = std::string(2046, 'c') + gbk("中");
  ini.WriteTextValue("s", "gbk", chinese);
  EXPECT_EQ(ini.ReadTextValue("s", "gbk", ""), std::string(2046, 'c'));
}

TEST(TIniFile, SectionListingStopsAtTheNamesThatFitInto16384Bytes) {
  ScratchFolder folder;
  const std::string file = folder / "many.ini";
  // 100 names of 199 bytes each: each takes 200 bytes with its NUL; 81 of
  // them and the final NUL fit into 16384 bytes, the 82nd does not.
  std::string content;
  std::vector<std::string> names;
  for (int i = 0; i < 100; ++i) {
    std::string name = std::to_string(1000 + i) + std::string(195, 'n');
    names.push_back(name);
    content += "[" + name + "]\r\nk=" + std::to_string(i) + "\r\n";
  }
  WriteRaw(file, content);
  TIniFile ini(file);
  std::vector<std::string> list;
  ini.ListSections(list);
  ASSERT_EQ(list.size(), 81u);
  EXPECT_EQ(list, std::vector<std::string>(names.begin(), names.begin() + 81));
  EXPECT_EQ(ini.ReadTextValue(names[99], "k", ""), "99") << "the sections themselves all read";

  std::string keys = "[s]\r\n";
  for (int i = 0; i < 100; ++i) keys += std::to_string(1000 + i) + std::string(195, 'k') + "=v\r\n";
  WriteRaw(file, keys);
  ini.ListKeys("s", list);
  EXPECT_EQ(list.size(), 81u);
}

TEST(TIniFile, ListingsGiveNamesAsWrittenInFileOrder) {
  ScratchFolder folder;
  const std::string file = folder / "order.ini";
  WriteRaw(file, "[Zeta]\na=1\n[alpha]\nB = 2\nc=3\n[ZETA]\na=9\n[Mid]\n");
  TIniFile ini(file);
  std::vector<std::string> list;
  ini.ListSections(list);
  EXPECT_EQ(list, (std::vector<std::string>{"Zeta", "alpha", "Mid"}));
  ini.ListKeys("ALPHA", list);
  EXPECT_EQ(list, (std::vector<std::string>{"B", "c"}));
  ini.ListKeyValues("alpha", list);
  EXPECT_EQ(list, (std::vector<std::string>{"B=2", "c=3"}));
  EXPECT_EQ(ini.ReadTextValue("zeta", "A", ""), "1") << "the first of duplicate sections";
}

TEST(TIniFile, GbkTextsPassByteForByte) {
  ScratchFolder folder;
  const std::string file = folder / "gbk.ini";
  const std::string section = gbk("主程序");
  const std::string key = gbk("名称");
  // Second bytes that are ASCII letters, "\", "]" and "[": none of them may be
  // taken as a separator or folded as a letter.
  const std::string value = std::string("\x81\x41\x81\x61\x95\x5C\xB1\x5D\x81\x5B ") + gbk("升级文件") + "\xFE\xFE";
  {
    TIniFile ini(file);
    ini.WriteTextValue(section, key, value);
    ini.WriteTextValue("\xB1\x5D", "\x81\x41", "first");
    ini.WriteTextValue("\xB1\x5D", "\x81\x61", "second");
  }
  TIniFile ini(file);
  EXPECT_EQ(ini.ReadTextValue(section, key, ""), value);
  EXPECT_EQ(ini.ReadTextValue("\xB1\x5D", "\x81\x41", ""), "first");
  EXPECT_EQ(ini.ReadTextValue("\xB1\x5D", "\x81\x61", ""), "second");
  std::vector<std::string> list;
  ini.ListSections(list);
  EXPECT_EQ(list, (std::vector<std::string>{section, "\xB1\x5D"}));
}

TEST(TIniFile, PathConventionsFindOneFileUnderEitherSpelling) {
  ScratchFolder folder;
  ASSERT_EQ(mkdir((folder / "Update").c_str(), 0755), 0);
  WriteRaw(folder / "version.ini", "[kvdatacont]\r\nclient_version=7\r\n");
  WriteRaw(folder / "Update/NowLog.ini", "[a]\r\nName=x\r\n");
  TIniFile version(folder.Path() + "/Version.ini");
  EXPECT_EQ(version.ReadIntegerValue("KVDATACONT", "Client_Version", 1), 7);
  TIniFile descriptor(folder.Path() + "\\update\\nowlog.INI");
  EXPECT_EQ(descriptor.ReadTextValue("A", "name", ""), "x");
  descriptor.WriteTextValue("a", "type", "BIN");
  EXPECT_EQ(ReadRaw(folder / "Update/NowLog.ini"), "[a]\r\nName=x\r\ntype=BIN\r\n");
}

TEST(TIniFile, BoolValues) {
  ScratchFolder folder;
  const std::string file = folder / "b.ini";
  WriteRaw(file, "[s]\ntwo=2\nzero=0\nbad=yes\n");
  TIniFile ini(file);
  EXPECT_TRUE(ini.ReadBoolValue("s", "two", false));
  EXPECT_FALSE(ini.ReadBoolValue("s", "zero", true));
  EXPECT_TRUE(ini.ReadBoolValue("s", "bad", true));
  EXPECT_FALSE(ini.ReadBoolValue("s", "bad", false));
  ini.WriteBoolValue("s", "t", true);
  ini.WriteBoolValue("s", "f", false);
  EXPECT_EQ(ini.ReadTextValue("s", "t", ""), "1");
  EXPECT_EQ(ini.ReadTextValue("s", "f", ""), "0");
}

TEST(TIniFile, HexValuesRoundTripThroughAStream) {
  ScratchFolder folder;
  const std::string file = folder / "h.ini";
  TIniFile ini(file);
  platform::MemoryStream source(std::string("\x00\x01\x7F\x80\xFF\xAB", 6));
  source.Seek(1);
  ini.WriteHexValue("s", "data", source);
  EXPECT_EQ(ini.ReadTextValue("s", "data", ""), "017F80FFAB");

  platform::MemoryStream target(std::string("xyz"));
  target.Seek(1);
  EXPECT_EQ(ini.ReadHexValue("s", "data", target), 5);
  EXPECT_EQ(target.Data(), std::string("x\x01\x7F\x80\xFF\xAB", 6));

  platform::MemoryStream untouched(std::string("abc"));
  EXPECT_EQ(ini.ReadHexValue("s", "missing", untouched), 0);
  EXPECT_EQ(untouched.Data(), "abc");
  EXPECT_EQ(untouched.Position(), 0);

  // Decoding stops at the first pair that is not two digits; lower case is fine.
  WriteRaw(file, "[s]\ndata=0aFfz1\nodd=123\n");
  platform::MemoryStream partial;
  EXPECT_EQ(ini.ReadHexValue("s", "data", partial), 2);
  EXPECT_EQ(partial.Data(), "\x0a\xff");
  platform::MemoryStream odd;
  EXPECT_EQ(ini.ReadHexValue("s", "odd", odd), 1);
}

double Date(int y, int m, int d) {
  double value = 0;
  EXPECT_TRUE(platform::TryEncodeDate(y, m, d, value));
  return value;
}

double Time(int h, int n, int s, int ms) {
  double value = 0;
  EXPECT_TRUE(platform::TryEncodeTime(h, n, s, ms, value));
  return value;
}

TEST(TIniFile, DateTimeAndFloatValuesUseFixedFormatsAndRoundTrip) {
  ScratchFolder folder;
  const std::string file = folder / "d.ini";
  TIniFile ini(file);
  const double when = Date(2024, 2, 29) + Time(13, 5, 9, 0);
  ini.WriteDateValue("s", "date", when);
  ini.WriteTimeValue("s", "time", when);
  ini.WriteDateTimeValue("s", "both", when);
  ini.WriteDateTimeValue("s", "ms", Date(2001, 1, 2) + Time(3, 4, 5, 678));
  ini.WriteFloatValue("s", "float", 0.1);
  ini.WriteFloatValue("s", "big", -1.5e300);
  ini.WriteDateTimeValue("s", "early", Date(1899, 12, 29) - Time(6, 0, 0, 0));
  EXPECT_EQ(ReadRaw(file),
            "[s]\r\ndate=2024-02-29\r\ntime=13:05:09\r\nboth=2024-02-29 13:05:09\r\n"
            "ms=2001-01-02 03:04:05.678\r\nfloat=0.1\r\nbig=-1.5e+300\r\nearly=1899-12-29 06:00:00\r\n");

  EXPECT_EQ(ini.ReadDateValue("s", "date", -1), Date(2024, 2, 29));
  EXPECT_NEAR(ini.ReadTimeValue("s", "time", -1), Time(13, 5, 9, 0), 1e-12);
  EXPECT_NEAR(ini.ReadDateTimeValue("s", "both", -1), when, 1e-9);
  EXPECT_NEAR(ini.ReadDateTimeValue("s", "ms", -1), Date(2001, 1, 2) + Time(3, 4, 5, 678), 1e-9);
  EXPECT_EQ(ini.ReadFloatValue("s", "float", -1), 0.1);
  EXPECT_EQ(ini.ReadFloatValue("s", "big", -1), -1.5e300);
  EXPECT_NEAR(ini.ReadDateTimeValue("s", "early", 0), -1.25, 1e-9);
  // A date alone or a time alone is a date-time too.
  EXPECT_EQ(ini.ReadDateTimeValue("s", "date", -1), Date(2024, 2, 29));
  EXPECT_NEAR(ini.ReadDateTimeValue("s", "time", -1), Time(13, 5, 9, 0), 1e-12);

  // Rounding to the millisecond carries into the next day.
  ini.WriteDateTimeValue("s", "carry", Date(2020, 12, 31) + 0.9999999999);
  EXPECT_EQ(ini.ReadTextValue("s", "carry", ""), "2021-01-01 00:00:00");
  EXPECT_THROW(ini.WriteDateTimeValue("s", "x", NAN), EConvertError);
  EXPECT_THROW(ini.WriteDateValue("s", "x", 1e12), EConvertError);
  EXPECT_THROW(ini.WriteFloatValue("s", "x", INFINITY), EConvertError);
}

class TypedValuesThatDoNotConvert : public ::testing::TestWithParam<const char*> {};

TEST_P(TypedValuesThatDoNotConvert, GiveTheDefault) {
  ScratchFolder folder;
  const std::string file = folder / "bad.ini";
  WriteRaw(file, std::string("[s]\nv=") + GetParam() + "\n");
  TIniFile ini(file);
  EXPECT_EQ(ini.ReadDateValue("s", "v", -7.5), -7.5);
  EXPECT_EQ(ini.ReadDateTimeValue("s", "v", -7.5), -7.5);
  EXPECT_EQ(ini.ReadTimeValue("s", "v", -7.5), -7.5);
  EXPECT_EQ(ini.ReadFloatValue("s", "v", -7.5), -7.5);
}

INSTANTIATE_TEST_SUITE_P(Table, TypedValuesThatDoNotConvert,
                         ::testing::Values("", "abc", "2023-02-29", "1900-02-29", "0000-01-01",
                                           "2024-13-01", "2024-00-10", "2024-01-32", "24:00:00",
                                           "12:60", "12:00:60", "12:5", "2024-01-01 25:00",
                                           "2024-01-01x", "1,5", "--1", "nan", "inf", "1e999",
                                           "0x10", "1.5.2", "12:00:00.5"));

TEST(TIniFile, TypedValuesThatConvert) {
  ScratchFolder folder;
  const std::string file = folder / "good.ini";
  WriteRaw(file, "[s]\nf1=+2.5\nf2=-.5\nf3=1E3\nd=0001-01-01\nt=7:30\ndt=9999-12-31 23:59:59.999\n");
  TIniFile ini(file);
  EXPECT_EQ(ini.ReadFloatValue("s", "f1", 0), 2.5);
  EXPECT_EQ(ini.ReadFloatValue("s", "f2", 0), -0.5);
  EXPECT_EQ(ini.ReadFloatValue("s", "f3", 0), 1000);
  EXPECT_EQ(ini.ReadDateValue("s", "d", 0), Date(1, 1, 1));
  EXPECT_NEAR(ini.ReadTimeValue("s", "t", 0), Time(7, 30, 0, 0), 1e-12);
  EXPECT_NEAR(ini.ReadDateTimeValue("s", "dt", 0), Date(9999, 12, 31) + Time(23, 59, 59, 999), 1e-6);
}

TEST(TIniFile, RemoveKeyAndSection) {
  ScratchFolder folder;
  const std::string file = folder / "r.ini";
  WriteRaw(file, "[a]\r\nk=1\r\nj=2\r\n\r\n[b]\r\nk=3\r\n");
  TIniFile ini(file);
  ini.RemoveKey("A", "K");
  EXPECT_EQ(ini.ReadTextValue("a", "k", "gone"), "gone");
  EXPECT_EQ(ini.ReadTextValue("b", "k", ""), "3");
  ini.RemoveSection("B");
  std::vector<std::string> list;
  ini.ListSections(list);
  EXPECT_EQ(list, std::vector<std::string>{"a"});
  EXPECT_EQ(ReadRaw(file), "[a]\r\nj=2\r\n\r\n");
  EXPECT_NO_THROW(ini.FlushFile());
}

}  // namespace
}  // namespace settings
