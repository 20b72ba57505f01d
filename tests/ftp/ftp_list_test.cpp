#include "ftp/ftp_list.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "ftp/dos_date.h"
#include "platform/date_time.h"
#include "platform/encoding.h"

namespace ftp {
namespace {

double At(int year, int month, int day, int hour = 0, int minute = 0, int second = 0, int ms = 0) {
  double date = 0;
  double time = 0;
  EXPECT_TRUE(platform::TryEncodeDate(year, month, day, date)) << year << "-" << month << "-" << day;
  EXPECT_TRUE(platform::TryEncodeTime(hour, minute, second, ms, time));
  return date + time;
}

// A listing whose "today" is fixed, so the tests do not depend on the date.
struct FixedListing : TIdFTPListItems {
  explicit FixedListing(TIdFTPListFormat format, double today = At(2024, 6, 15, 9, 0)) {
    DetectedFormat = format;
    SetClock([today] { return today; });
  }
};

// ---- Unix lines -----------------------------------------------------------

struct UnixCase {
  const char* line;
  TFTPListItemType kind;
  std::string name;
  int64_t size;
  int32_t link_count;
  const char* owner;
  const char* group;
  const char* rights;  // owner, group, other rights run together
  const char* target;
  double modified;
};

TEST(UnixListingLine, FillsEveryFieldFromRealLookingLines) {
  // Today is 15 June 2024.
  const std::vector<UnixCase> cases = {
      {"-rw-r--r--   1 ftp      ftp        1024 Mar  5 14:30 read   me.txt", litFile, "read me.txt", 1024, 1,
       "ftp", "ftp", "rw-r--r--", "", At(2024, 3, 5, 14, 30, 0, 999)},
      // A later month than the current one is last year's.
      {"-rw-r--r--   1 ftp      ftp        1024 Dec  5 14:30 notes", litFile, "notes", 1024, 1, "ftp", "ftp",
       "rw-r--r--", "", At(2023, 12, 5, 14, 30, 0, 999)},
      {"-rw-r--r--   1 ftp      ftp           7 Jun 30 23:59 same-month", litFile, "same-month", 7, 1, "ftp",
       "ftp", "rw-r--r--", "", At(2024, 6, 30, 23, 59, 0, 999)},
      {"lrwxrwxrwx 1 root root 7 Jan 1 2005 bin -> usr/bin", litSymbolicLink, "bin", 7, 1, "root", "root",
       "rwxrwxrwx", "usr/bin", At(2005, 1, 1, 0, 0, 0, 999)},
      // A link listed without " -> " keeps its whole name and no target.
      {"lrwxrwxrwx 1 root root 7 Jan 1 2005 lonely", litSymbolicLink, "lonely", 7, 1, "root", "root",
       "rwxrwxrwx", "", At(2005, 1, 1, 0, 0, 0, 999)},
      // Only a link's name is split at the arrow.
      {"-rw-r--r-- 1 a b 5 Jan 1 2005 x -> y", litFile, "x -> y", 5, 1, "a", "b", "rw-r--r--", "",
       At(2005, 1, 1, 0, 0, 0, 999)},
      {"lrwxrwxrwx 1 u g 3 Feb 2 2010 a b -> c -> d", litSymbolicLink, "a b", 3, 1, "u", "g", "rwxrwxrwx",
       "c -> d", At(2010, 2, 2, 0, 0, 0, 999)},
      // Eight columns with a month in column 4: the owner is missing.
      {"drwxr-xr-x 2 ftp 512 Jan 01 12:00 pub", litDirectory, "pub", 512, 2, "", "ftp", "rwxr-xr-x", "",
       At(2024, 1, 1, 12, 0, 0, 999)},
      // Eight columns with the size in column 4 and no year: the last column
      // is the name, the date one of the last twelve months.
      {"-rw-r--r-- 1 owner group 100 Aug 22  name.tar.gz", litFile, "name.tar.gz", 100, 1, "owner", "group",
       "rw-r--r--", "", At(2023, 8, 22, 0, 0, 0, 999)},
      {"DRWXRWXRWX 12 A B 4096 sep 9 1999 Upper", litDirectory, "Upper", 4096, 12, "A", "B", "RWXRWXRWX", "",
       At(1999, 9, 9, 0, 0, 0, 999)},
      // Seconds in the time column leave the minute unread (0).
      {"-rw-r--r-- 1 a b 5 Apr 2 14:30:15 seconds", litFile, "seconds", 5, 1, "a", "b", "rw-r--r--", "",
       At(2024, 4, 2, 14, 0, 0, 999)},
      // What does not read falls back: link count 0, size 0, today's day,
      // the current year.
      {"-rw-r--r-- x a b big May xx 20x5 fallbacks", litFile, "fallbacks", 0, 0, "a", "b", "rw-r--r--", "",
       At(2024, 5, 15, 0, 0, 0, 999)},
      {"-rw-r--r-- 1 a b 9223372036854775807 Jan 1 2001 huge", litFile, "huge", INT64_C(9223372036854775807), 1,
       "a", "b", "rw-r--r--", "", At(2001, 1, 1, 0, 0, 0, 999)},
      {"-rw-r--r-- 1 a b $10 Jan 1 2001 hex", litFile, "hex", 16, 1, "a", "b", "rw-r--r--", "",
       At(2001, 1, 1, 0, 0, 0, 999)},
      // Year, day, hour and minute keep their low 16 bits.
      {"-rw-r--r-- 1 a b 1 Jan 65537 67541 wrap", litFile, "wrap", 1, 1, "a", "b", "rw-r--r--", "",
       At(2005, 1, 1, 0, 0, 0, 999)},
      {"-rw-r--r-- 1 a b 1 Jan 2 65537:65541 clock", litFile, "clock", 1, 1, "a", "b", "rw-r--r--", "",
       At(2024, 1, 2, 1, 5, 0, 999)},
      // A short mode column gives short rights; other type letters are files.
      {"-rw 1 a b 1 Jan 2 2003 short", litFile, "short", 1, 1, "a", "b", "rw", "", At(2003, 1, 2, 0, 0, 0, 999)},
      {"crw-rw-rw- 1 root tty 0 Jan 2 2003 null", litFile, "null", 0, 1, "root", "tty", "rw-rw-rw-", "",
       At(2003, 1, 2, 0, 0, 0, 999)},
      // Trailing control characters and blanks go; a tab-only column stays empty.
      {"-rw-r--r-- 1 a b 1 Jan 2 2003 tab\r\n", litFile, "tab", 1, 1, "a", "b", "rw-r--r--", "",
       At(2003, 1, 2, 0, 0, 0, 999)},
      {"-rw-r--r-- 1 \t b 1 Jan 2 2003 nobody", litFile, "nobody", 1, 1, "", "b", "rw-r--r--", "",
       At(2003, 1, 2, 0, 0, 0, 999)},
      {"-rw-r--r-- 1 ftp ftp 11 Jan 2 2003 \xD6\xD0\xCE\xC4 \xCE\xC4\xBC\xFE.txt", litFile,
       gbk("中文 文件.txt"), 11, 1, "ftp", "ftp", "rw-r--r--", "", At(2003, 1, 2, 0, 0, 0, 999)},
  };
  for (const UnixCase& c : cases) {
    SCOPED_TRACE(c.line);
    FixedListing listing(flfUnix);
    listing.ParseListing({c.line});
    ASSERT_EQ(listing.Count(), 1);
    const TIdFTPListItem& item = listing.Items(0);
    EXPECT_EQ(item.RawLine, c.line);
    EXPECT_EQ(item.EntryKind, c.kind);
    EXPECT_EQ(item.EntryName, c.name);
    EXPECT_EQ(item.EntrySize, c.size);
    EXPECT_EQ(item.LinkCount, c.link_count);
    EXPECT_EQ(item.OwnerText, c.owner);
    EXPECT_EQ(item.GroupText, c.group);
    EXPECT_EQ(item.OwnerRights + item.GroupRights + item.OtherRights, c.rights);
    EXPECT_EQ(item.LinkTarget, c.target);
    EXPECT_DOUBLE_EQ(item.ModifiedAt, c.modified);
  }
}

TEST(UnixListingLine, NameColumnsAreJoinedBySingleSpaces) {
  struct Case {
    std::string line;
    TFTPListItemType kind;
    std::string name;
    std::string target;
  };
  const std::string head = "-rw-r--r-- 1 a b 5 Jan 1 2005 ";
  const std::string link = "lrwxrwxrwx 1 a b 5 Jan 1 2005 ";
  const std::vector<Case> cases = {
      {head + "plain.txt", litFile, "plain.txt", ""},
      {head + "two words", litFile, "two words", ""},
      {head + "  many    spaces  here", litFile, "many spaces here", ""},
      // A tab inside a column stays; at the edge of a column it goes.
      {head + "in\tside", litFile, "in\tside", ""},
      {head + "edge\t next", litFile, "edge next", ""},
      {head + "edge \tnext", litFile, "edge next", ""},
      // A tab-only column is an empty column: two spaces around it remain.
      {head + "left \t right", litFile, "left  right", ""},
      {head + "\x01\x02 lead", litFile, " lead", ""},
      // The arrow is found in the joined name.
      {link + "from   ->   to  there", litSymbolicLink, "from", "to there"},
      {link + "from\t -> to", litSymbolicLink, "from", "to"},
      {link + "from->to", litSymbolicLink, "from->to", ""},
      {link + "-> to", litSymbolicLink, "-> to", ""},
      {link + "from ->", litSymbolicLink, "from ->", ""},
      {link + "from -> ", litSymbolicLink, "from ->", ""},
      {link + "a -> ", litSymbolicLink, "a ->", ""},
      {link + "a \t -> b", litSymbolicLink, "a ", "b"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    FixedListing listing(flfUnix);
    listing.ParseListing({c.line});
    ASSERT_EQ(listing.Count(), 1);
    EXPECT_EQ(listing.Items(0).EntryKind, c.kind);
    EXPECT_EQ(listing.Items(0).EntryName, c.name);
    EXPECT_EQ(listing.Items(0).LinkTarget, c.target);
    EXPECT_EQ(listing.Items(0).EntrySize, 5);
  }
}

TEST(UnixListingLine, ParsingAnEntryAgainReplacesWhatTheLineGives) {
  FixedListing listing(flfUnix);
  TIdFTPListItem item;
  item.RawLine = "lrwxrwxrwx 3 someone agroup 12345 Jan 1 2005 a-long-link-name -> a/long/target/path";
  listing.ParseEntry(item);
  EXPECT_EQ(item.EntryName, "a-long-link-name");
  EXPECT_EQ(item.LinkTarget, "a/long/target/path");

  // A file line leaves the link target alone; every other field is the new
  // line's.
  item.RawLine = "-rw-r--r-- 1 me us 7 Feb 2 2006 f";
  listing.ParseEntry(item);
  EXPECT_EQ(item.EntryKind, litFile);
  EXPECT_EQ(item.EntryName, "f");
  EXPECT_EQ(item.LinkTarget, "a/long/target/path");
  EXPECT_EQ(item.OwnerText, "me");
  EXPECT_EQ(item.GroupText, "us");
  EXPECT_EQ(item.OwnerRights + item.GroupRights + item.OtherRights, "rw-r--r--");
  EXPECT_EQ(item.LinkCount, 1);
  EXPECT_EQ(item.EntrySize, 7);
  EXPECT_DOUBLE_EQ(item.ModifiedAt, At(2006, 2, 2, 0, 0, 0, 999));

  // A link without an arrow clears the target.
  item.RawLine = "lrwxrwxrwx 1 me us 7 Feb 2 2006 lonely";
  listing.ParseEntry(item);
  EXPECT_EQ(item.EntryName, "lonely");
  EXPECT_EQ(item.LinkTarget, "");

  // A bad date fails after the columns before it were taken, and leaves the
  // name alone.
  item.RawLine = "drwx------ 9 x y 8 Feb 30 2006 later";
  EXPECT_THROW(listing.ParseEntry(item), EIdInvalidFTPListLine);
  EXPECT_EQ(item.OwnerText, "x");
  EXPECT_EQ(item.OwnerRights + item.GroupRights + item.OtherRights, "rwx------");
  EXPECT_EQ(item.EntryKind, litDirectory);
  EXPECT_EQ(item.EntrySize, 8);
  EXPECT_EQ(item.EntryName, "lonely");
}

TEST(UnixListingLine, TimeOfDayBelongsToLastYearWhenItsMonthIsStillAhead) {
  struct Case {
    double today;
    double expected;
  };
  const std::string line = "-rw-r--r-- 1 ftp ftp 1024 Mar 5 14:30 f";
  const std::vector<Case> cases = {
      {At(2024, 1, 31), At(2023, 3, 5, 14, 30, 0, 999)},
      {At(2024, 2, 29), At(2023, 3, 5, 14, 30, 0, 999)},
      {At(2024, 3, 1), At(2024, 3, 5, 14, 30, 0, 999)},  // the day is not compared
      {At(2024, 12, 31), At(2024, 3, 5, 14, 30, 0, 999)},
  };
  for (const Case& c : cases) {
    FixedListing listing(flfUnix, c.today);
    listing.ParseListing({line});
    ASSERT_EQ(listing.Count(), 1);
    EXPECT_DOUBLE_EQ(listing.Items(0).ModifiedAt, c.expected);
  }
}

TEST(UnixListingLine, VaxListingsAreReadLikeUnix) {
  FixedListing listing(flfVax);
  listing.ParseListing({"-rw-r--r-- 1 a b 5 Jan 1 2005 x"});
  ASSERT_EQ(listing.Count(), 1);
  EXPECT_EQ(listing.Items(0).EntryName, "x");
}

TEST(UnixListingLine, ABadLineIsSkippedAndCountedAndTheOthersStay) {
  const std::string good1 = "-rw-r--r-- 1 a b 5 Jan 1 2005 one";
  const std::string good2 = "-rw-r--r-- 1 a b 5 Jan 1 2005 two";
  std::string far_date = "-rw-r--r-- 1 owner";
  for (int i = 0; i < 30; ++i) far_date += " group";
  far_date += " 5 Jan 1 2005 far";  // a date is looked for among the first 32 columns
  const std::vector<std::string> bad_lines = {
      far_date,
      "-rw-r--r-- 1 a b 5 Foo 1 2005 month",       // not a month name
      "-rw-r--r-- 1 a b 5 January 1 2005 month",   // exactly three letters
      "-rw-r--r-- 1 a b 5 13\xD4\xC2 1 2005 month",  // "13月"
      "-rw-r--r-- 1 a b 5 Jan 1",                  // seven columns
      "-rw-r--r-- 1 a b 5 Feb 30 2005 nodate",     // no such day
      "-rw-r--r-- 1 a b 5 Feb 0 2005 dayzero",
      "-rw-r--r-- 1 a b 5 Feb -1 2005 negday",     // 65535 in 16 bits
      "-rw-r--r-- 1 a b 5 Feb 1 0 yearzero",
      "-rw-r--r-- 1 a b 5 Feb 1 10000 far",
      "-rw-r--r-- 1 a b 5 Feb 1 24:00 hour",
      "-rw-r--r-- 1 a b 5 Feb 1 12:60 minute",
      "-rw-r--r-- 1 owner group 100 Jan 1 2020",   // a year and no name
      "-rw-r--r-- 1 owner group 100 Jan 1 12:00",  // a time and no name
      "crw-r----- 1 root kmem 1, 2 Jul 4 23:59 mem",  // a device
      "brw-rw---- 1 root disk 8,   0 Jul 4 23:59 sda",
      "-rw-r--r-- 1 a b 5 2021-02-30 10:00 noiso",  // no such day
      "-rw-r--r-- 1 a b 5 2021-07-04 10:00",       // no name
      "total 24",                                  // only the first line may be a total
      "garbage",
      std::string("-rw-r--r-- 1 a b 5 J\0n 1 2005 nul", 33),
  };
  for (const std::string& bad : bad_lines) {
    SCOPED_TRACE(bad);
    FixedListing listing(flfUnix);
    for (const std::vector<std::string>& lines : {std::vector<std::string>{good1, bad, good2},
                                                  std::vector<std::string>{good1, good2, bad},
                                                  std::vector<std::string>{bad, good1, good2}}) {
      listing.ParseListing(lines);
      ASSERT_EQ(listing.Count(), 2);
      EXPECT_EQ(listing.Items(0).EntryName, "one");
      EXPECT_EQ(listing.Items(1).EntryName, "two");
      // A first "total" line is the listing's own header: skipped, not counted.
      const bool header = lines[0] == "total 24";
      EXPECT_EQ(listing.SkippedLines(), header ? 0 : 1);
    }
    // A listing of nothing but unreadable lines is empty.
    listing.ParseListing({bad, bad, bad});
    EXPECT_EQ(listing.Count(), 0);
    EXPECT_EQ(listing.SkippedLines(), bad == "total 24" ? 2 : 3);
  }
}

TEST(UnixListingLine, SkippedLinesAcrossBlocksLeaveEveryOtherEntryInPlace) {
  // Entries live in blocks; a line that fails at a block's edge must not
  // shift or lose the entries around it.
  std::vector<std::string> lines;
  for (int i = 0; i < 1000; ++i) {
    lines.push_back(i % 3 == 0 ? "garbage " + std::to_string(i)
                               : "-rw-r--r-- 1 a b " + std::to_string(i) + " Jan 1 2005 f" + std::to_string(i));
  }
  FixedListing listing(flfUnix);
  listing.ParseListing(lines);
  EXPECT_EQ(listing.SkippedLines(), 334);
  ASSERT_EQ(listing.Count(), 666);
  int at = 0;
  for (int i = 0; i < 1000; ++i) {
    if (i % 3 == 0) continue;
    EXPECT_EQ(listing.Items(at).EntryName, "f" + std::to_string(i));
    EXPECT_EQ(listing.Items(at).RawLine, lines[static_cast<size_t>(i)]);
    ++at;
  }
}

TEST(UnixListingLine, TooFewColumnsLeaveTheEntryUntouched) {
  FixedListing listing(flfUnix);
  TIdFTPListItem item;
  item.RawLine = "-rw-r--r-- 1 a b 5 Jan 1";
  EXPECT_THROW(listing.ParseEntry(item), EIdInvalidFTPListLine);
  EXPECT_EQ(item.OwnerText, "????????");
  EXPECT_EQ(item.OwnerRights, "???");
  EXPECT_EQ(item.EntryKind, litFile);
}

TEST(UnixListingLine, TotalLineFirstIsSkipped) {
  FixedListing listing(flfUnix);
  listing.ParseListing({"TOTAL 24", "-rw-r--r-- 1 a b 5 Jan 1 2005 x"});
  ASSERT_EQ(listing.Count(), 1);
  EXPECT_EQ(listing.Items(0).EntryName, "x");

  listing.ParseListing({"total 0"});
  EXPECT_EQ(listing.Count(), 0);
}

TEST(UnixListingLine, HostileLinesEndInAnOrderlyResult) {
  std::string many_columns;
  for (int i = 0; i < 200000; ++i) many_columns += "a ";
  std::string long_name = "-rw-r--r-- 1 a b 5 Jan 1 2005 " + std::string(1 << 20, 'n');
  FixedListing listing(flfUnix);
  listing.ParseListing({many_columns});
  EXPECT_EQ(listing.Count(), 0);
  listing.ParseListing({long_name});
  ASSERT_EQ(listing.Count(), 1);
  EXPECT_EQ(listing.Items(0).EntryName.size(), size_t{1} << 20);
}

TEST(UnixListingLine, AMillionLinesAreAllKept) {
  std::vector<std::string> lines;
  lines.reserve(1000001);
  lines.push_back("total 1000000");
  for (int i = 0; i < 1000000; ++i) {
    lines.push_back("-rw-r--r-- 1 ftp ftp " + std::to_string(i) + " Mar 5 14:30 f" + std::to_string(i));
  }
  FixedListing listing(flfUnix);
  listing.ParseListing(lines);
  ASSERT_EQ(listing.Count(), 1000000);
  EXPECT_EQ(listing.Items(999999).EntryName, "f999999");
  EXPECT_EQ(listing.Items(999999).EntrySize, 999999);
}

// ---- DOS lines ------------------------------------------------------------

struct DosCase {
  const char* line;
  TFTPListItemType kind;
  const char* name;
  int64_t size;
  double modified;
};

TEST(DosListingLine, FillsNameSizeKindAndDate) {
  // Today is in 2008: "08" is 2008, "60" is 1960, "57" is 2057.
  const std::vector<DosCase> cases = {
      {"01-15-08  10:30AM       <DIR>          Update Files", litDirectory, "Update Files", 0,
       At(2008, 1, 15, 10, 30)},
      {"01-15-08  10:30PM                12345 file.txt", litFile, "file.txt", 12345, At(2008, 1, 15, 22, 30)},
      {"01-15-08  12:05AM            1,234,567 setup.exe", litFile, "setup.exe", 1234567, At(2008, 1, 15, 0, 5)},
      {"01-15-08  12:05PM                    1 noon", litFile, "noon", 1, At(2008, 1, 15, 12, 5)},
      {"12-31-60  23:59                      2 old", litFile, "old", 2, At(1960, 12, 31, 23, 59)},
      {"02-01-57  01:00AM                    3 future", litFile, "future", 3, At(2057, 2, 1, 1, 0)},
      {"02-01-58  01:00AM                    3 window", litFile, "window", 3, At(1958, 2, 1, 1, 0)},
      {"07/04/99  09:15AM       <dir>          lower dir", litDirectory, "lower dir", 0, At(1999, 7, 4, 9, 15)},
      {"01-15-08  10:30AM                  100 my   file.txt", litFile, "my   file.txt", 100,
       At(2008, 1, 15, 10, 30)},
      // A time that does not read gives no date; the rest is read as usual.
      {"01-15-08  25:99                    100 bad time", litFile, "bad time", 100, 0},
      {"01-15-08  13:00PM                  100 bad marker", litFile, "bad marker", 100, 0},
      {"13-45-08  10:00AM                  100 bad date", litFile, "bad date", 100, 0},
      {"01-15-08  10:00AM                 big1 odd size", litFile, "odd size", 0, At(2008, 1, 15, 10, 0)},
      {"01-15-08", litFile, "", 0, At(2008, 1, 15)},
      // Four-digit years.
      {"07-04-2021  11:59PM       <DIR>          Reports", litDirectory, "Reports", 0, At(2021, 7, 4, 23, 59)},
      {"07/04/1999  08:00             1,234 a b", litFile, "a b", 1234, At(1999, 7, 4, 8, 0)},
      {"07-04-2021", litFile, "", 0, At(2021, 7, 4)},
      {"01-15-08  10:30AM       <DIR>          \xD6\xD0\xCE\xC4", litDirectory, "\xD6\xD0\xCE\xC4", 0,
       At(2008, 1, 15, 10, 30)},
      // Commas go before the size is read, and before "<DIR>" is looked for.
      {"01-15-08  10:30AM  1,234,567,890,123,456 big", litFile, "big", INT64_C(1234567890123456),
       At(2008, 1, 15, 10, 30)},
      {"01-15-08  10:30AM       <D,IR>         commas", litDirectory, "commas", 0, At(2008, 1, 15, 10, 30)},
      {"01-15-08  10:30AM              ,,,,,,, commas only", litFile, "commas only", 0, At(2008, 1, 15, 10, 30)},
      // Whatever follows a time that reads is ignored, however long.
      {"01-15-08  10:30AM.................................................................... 9 long",
       litFile, "long", 9, At(2008, 1, 15, 10, 30)},
      {"01-15-08  10:30.................................................................XX 9 long", litFile,
       "long", 9, At(2008, 1, 15, 10, 30)},
      {"01-15-08  10:30..................................................................PM 9 long", litFile,
       "long", 9, At(2008, 1, 15, 10, 30)},
      {"01-15-08  xx:30................................................................... 9 long", litFile,
       "long", 9, 0},
  };
  for (const DosCase& c : cases) {
    SCOPED_TRACE(c.line);
    FixedListing listing(flfDos, At(2008, 6, 1));
    listing.ParseListing({c.line});
    ASSERT_EQ(listing.Count(), 1);
    const TIdFTPListItem& item = listing.Items(0);
    EXPECT_EQ(item.EntryKind, c.kind);
    EXPECT_EQ(item.EntryName, c.name);
    EXPECT_EQ(item.EntrySize, c.size);
    EXPECT_DOUBLE_EQ(item.ModifiedAt, c.modified);
    // Unix-only fields keep their initial values.
    EXPECT_EQ(item.OwnerText, "????????");
    EXPECT_EQ(item.LinkCount, 0);
  }
}

TEST(DosListingLine, NeverFails) {
  FixedListing listing(flfDos, At(2008, 6, 1));
  listing.ParseListing({"01-15-08  10:30AM       <DIR>          a", "x", "\x01\x02\xff", "01-15-08  10:30AM   7 b"});
  EXPECT_EQ(listing.Count(), 4);
}

// ---- the DOS date rule ----------------------------------------------------

TEST(DosDate, ReadsMonthDayYearAndTimeByOneFixedRule) {
  struct Case {
    const char* text;
    bool reads;
    double expected;
  };
  const std::vector<Case> cases = {
      {"01/15/08", true, At(2008, 1, 15)},
      {"01/15/08   ", true, At(2008, 1, 15)},
      {" 01 / 15 /08  10:30AM", true, At(2008, 1, 15, 10, 30)},
      {"1/2/3 4", true, At(2003, 1, 2, 4)},
      {"01/15/60 1:00", true, At(1960, 1, 15, 1)},
      {"01/15/58 1:00", true, At(1958, 1, 15, 1)},
      {"01/15/57 1:00", true, At(2057, 1, 15, 1)},
      {"01/15/0008", true, At(8, 1, 15)},  // four digits are never windowed
      {"01/15/2008 10:30:15.250", true, At(2008, 1, 15, 10, 30, 15, 250)},
      {"01/15/08 AM10:30", true, At(2008, 1, 15, 10, 30)},
      {"01/15/08 pm 10:30", true, At(2008, 1, 15, 22, 30)},
      {"01/15/08 10:30 am", true, At(2008, 1, 15, 10, 30)},
      {"01/15/08 12:00AM", true, At(2008, 1, 15, 0, 0)},
      {"01/15/08 12:00PM", true, At(2008, 1, 15, 12, 0)},
      {"01/15/08 11:59:59PM", true, At(2008, 1, 15, 23, 59, 59)},
      {"01/15/08 23:59", true, At(2008, 1, 15, 23, 59)},
      {"01/15/08 10:30 trailing words", true, At(2008, 1, 15, 10, 30)},
      {"01/15/08 10:", true, At(2008, 1, 15, 10)},
      {"02/29/2008", true, At(2008, 2, 29)},
      {"02/29/2007", false, 0},
      {"00/10/08", false, 0},
      {"01/00/08", false, 0},
      {"01/15/0000", false, 0},
      {"01/15/12345", false, 0},
      {"01/15", false, 0},
      {"01-15-08", false, 0},
      {"", false, 0},
      {"01/15/08 xyz", false, 0},
      {"01/15/08 AM", false, 0},
      {"01/15/08 0:30AM", false, 0},
      {"01/15/08 13:00PM", false, 0},
      {"01/15/08 24:00", false, 0},
      {"01/15/08 10:60", false, 0},
      {"01/15/08 10:30:60", false, 0},
      {"01/15/08 10:30:15.1000", false, 0},
      {"01/15/08 25:99", false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    double value = -1;
    EXPECT_EQ(TryParseDosDate(c.text, 2008, value), c.reads);
    if (c.reads) {
      EXPECT_DOUBLE_EQ(value, c.expected);
    } else {
      EXPECT_EQ(value, -1) << "a failed read leaves the result alone";
    }
  }
}

// ---- layout detection -----------------------------------------------------

TEST(DetectFormat, RecognisesTheLayoutFromTheFirstLine) {
  struct Case {
    std::string line;
    bool details;
    TIdFTPListFormat expected;
  };
  const std::vector<Case> cases = {
      {"-rw-r--r-- 1 ftp ftp 1024 Mar 5 14:30 f", false, flfNoDetails},
      {"-rw-r--r-- 1 ftp ftp 1024 Mar 5 14:30 f", true, flfUnix},
      {"drwxr-xr-x 2 ftp ftp 512 Jan 1 2005 d", true, flfUnix},
      {"lrwxrwxrwx 1 root root 7 Jan 1 2005 bin -> usr/bin", true, flfUnix},
      {"DRWXR-XR-X", true, flfUnix},
      {"total 24", true, flfUnix},
      {"TOTAL", true, flfUnix},
      {"Totally", true, flfUnix},
      // The set-user, set-group and sticky marks; devices, pipes, sockets.
      {"drwxrwxrwt 2 root root 512 Jan 1 2005 tmp", true, flfUnix},
      {"drwxrwxrwT 2 root root 512 Jan 1 2005 tmp", true, flfUnix},
      {"-rwsr-xr-x 1 root root 512 Jan 1 2005 su", true, flfUnix},
      {"-rwSr-Sr-- 1 root root 512 Jan 1 2005 odd", true, flfUnix},
      {"-rwxr-sr-x 1 root root 512 Jan 1 2005 sg", true, flfUnix},
      {"prw-r--r-- 1 root root 0 Jan 1 2005 fifo", true, flfUnix},
      {"crw-r----- 1 root kmem 1, 2 Jul 4 23:59 mem", true, flfUnix},
      {"brw-rw---- 1 root disk 8, 0 Jul 4 23:59 sda", true, flfUnix},
      {"srwxrwxrwx 1 root root 0 Jul 4 23:59 sock", true, flfUnix},
      // ... only where ls writes them.
      {"-rwtr-xr-x 1 root root 512 Jan 1 2005 t", true, flfUnknown},
      {"-rwxr-xr-s 1 root root 512 Jan 1 2005 s", true, flfUnknown},
      {"?rw-r--r-- 1 root root 512 Jan 1 2005 q", true, flfUnknown},
      {"-rw-r--r-", true, flfUnknown},
      {"Directory USER1:[FTP]  DSK:", true, flfVax},
      {"dsk:[users]", true, flfVax},
      // "D" as the second byte of a GBK character does not start "DSK:".
      {"\x81" "DSK:[users]", true, flfUnknown},
      {"\x81\x81" "DSK:[users]", true, flfVax},
      {"01-15-08  10:30AM       <DIR>          Update Files", true, flfDos},
      {"01/15/08  10:30AM       <dir>          lower", true, flfDos},
      {"01-15-08  10:30AM                12345 file.txt", true, flfDos},
      {"01-15-08  10:30AM                1,234 file.txt", true, flfDos},
      {"01-15-08  10:30AM                   -1 minus", true, flfUnknown},
      {"01-15-08  10:30AM                 abcd name", true, flfUnknown},
      // Where the fixed columns do not hold "<DIR>" or a size: four-digit
      // years, 24-hour times, sizes reaching characters 25-30.
      {"01-15-08  10:30AM      1234567890123 big", true, flfDos},
      {"07-04-21  11:59PM            123456789 setup.iso", true, flfDos},
      {"07-04-2021  11:59PM       <DIR>          Reports", true, flfDos},
      {"07/04/2021  11:59pm               143712 9.inf", true, flfDos},
      {"07-04-21  23:59       <DIR>          log", true, flfDos},
      {"07-04-21  9:05                     12 a", true, flfDos},
      // ... and still no DOS line without a time, a size and a name.
      {"07-04-2021  11:59PM       <DIR>", true, flfUnknown},
      {"07-04-2021  11:59PM       12,345", true, flfUnknown},
      {"07-04-2021  11:59PM       -5 minus", true, flfUnknown},
      {"07-04-2021  11:59PM       99999999999999999999 huge", true, flfUnknown},
      {"07-04-2021  11:59PM       <DIRECTORY> x", true, flfUnknown},
      {"07-04-2021  1159PM        <DIR> x", true, flfUnknown},
      {"07-04-2021  11:5PM        <DIR> x", true, flfUnknown},
      {"07-04-20211  11:59PM      <DIR> x", true, flfUnknown},
      {"07-04-21x  11:59PM        <DIR> x", true, flfUnknown},
      {"0a-04-21  11:59PM         <DIR> x", true, flfUnknown},
      {"01-15-08", true, flfUnknown},
      {"01.15.08  10:30AM       <DIR>          dots", true, flfUnknown},
      {"", true, flfUnknown},
      {"ab", true, flfUnknown},
      {"\t\t\t", true, flfUnknown},
  };
  TIdFTPListItems listing;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(listing.DetectFormat(c.line, c.details), c.expected);
  }
}

// ---- listings as servers send them ----------------------------------------

// One entry as a listing case expects it; group is checked only when given.
struct Expected {
  TFTPListItemType kind;
  std::string name;
  int64_t size;
  double modified;
  const char* group = nullptr;
  const char* target = "";
};

struct ListingCase {
  const char* what;
  std::vector<std::string> lines;
  TIdFTPListFormat format;  // what the first line is detected as
  std::vector<Expected> entries;
  int skipped = 0;
};

std::string G(const char* utf8) { return gbk(utf8); }

// Every listing below is parsed by the layout its first line gives, on 15
// June 2024: a "Jul 4 23:59" is of 2023, a "Mar 2 10:15" of 2024.
const std::vector<ListingCase>& ListingCases() {
  static const std::vector<ListingCase> cases = {
      // ---- Windows and IIS servers ----
      {"IIS, two-digit years",
       {"01-15-08  10:30AM       <DIR>          Update Files", "01-15-08  10:30PM              1,234,567 setup.exe"},
       flfDos,
       {{litDirectory, "Update Files", 0, At(2008, 1, 15, 10, 30)},
        {litFile, "setup.exe", 1234567, At(2008, 1, 15, 22, 30)}}},
      {"IIS, a four-digit year on a later line",
       {"07-04-21  11:59PM       <DIR>          Bin", "07-04-2021  11:59PM       <DIR>          Reports"},
       flfDos,
       {{litDirectory, "Bin", 0, At(2021, 7, 4, 23, 59)}, {litDirectory, "Reports", 0, At(2021, 7, 4, 23, 59)}}},
      {"IIS, four-digit years from the first line",
       {"07-04-2021  11:59PM       <DIR>          Reports", "07-04-2021  11:59PM               143712 9.inf",
        "12-31-1999  01:00AM                    0 empty file.txt"},
       flfDos,
       {{litDirectory, "Reports", 0, At(2021, 7, 4, 23, 59)},
        {litFile, "9.inf", 143712, At(2021, 7, 4, 23, 59)},
        {litFile, "empty file.txt", 0, At(1999, 12, 31, 1, 0)}}},
      {"IIS, 24-hour times",
       {"07-04-21  23:59       <DIR>          log", "07-04-21  08:05                 1024 5.ini",
        "07-04-2021  00:00       <DIR>          Bin"},
       flfDos,
       {{litDirectory, "log", 0, At(2021, 7, 4, 23, 59)},
        {litFile, "5.ini", 1024, At(2021, 7, 4, 8, 5)},
        {litDirectory, "Bin", 0, At(2021, 7, 4, 0, 0)}}},
      {"IIS, a size of nine digits and more first",
       {"07-04-21  11:59PM            123456789 setup.iso", "07-04-21  11:59PM        1,234,567,890 big.iso",
        "07-04-21  11:59PM       <DIR>          Bin"},
       flfDos,
       {{litFile, "setup.iso", 123456789, At(2021, 7, 4, 23, 59)},
        {litFile, "big.iso", 1234567890, At(2021, 7, 4, 23, 59)},
        {litDirectory, "Bin", 0, At(2021, 7, 4, 23, 59)}}},
      {"FileZilla Server and Serv-U in Unix layout",
       {"drwxr-xr-x 1 ftp ftp              0 Jul 04 23:59 Bin",
        "-rw-r--r-- 1 ftp ftp            52 Mar 02  2021 version.ini"},
       flfUnix,
       {{litDirectory, "Bin", 0, At(2023, 7, 4, 23, 59, 0, 999)},
        {litFile, "version.ini", 52, At(2021, 3, 2, 0, 0, 0, 999)}}},
      {"a group name with a space, as Windows servers give it",
       {"-rw-r--r--   1 ftp  Domain Users   1024 Jul  4 23:59 9.inf",
        "drwxr-xr-x   1 ftp  Domain   Admins  Group       0 Jul  4 23:59 log",
        "-rw-r--r--   1 Domain Users   7 Jul  4 23:59 no owner"},
       flfUnix,
       {{litFile, "9.inf", 1024, At(2023, 7, 4, 23, 59, 0, 999), "Domain Users"},
        {litDirectory, "log", 0, At(2023, 7, 4, 23, 59, 0, 999), "Domain Admins Group"},
        {litFile, "no owner", 7, At(2023, 7, 4, 23, 59, 0, 999), "Users"}}},

      // ---- Chinese and Japanese locales ----
      {"months and days in GBK",
       {G("-rw-r--r--   1 ftp  ftp   1024 3月  2 10:15 9.inf"), G("-rw-r--r--   1 ftp  ftp   1024 3月 2日 10:15 a.inf"),
        G("drwxr-xr-x   2 ftp  ftp   4096 12月 31日  2020 旧版本"), G("-rw-r--r--   1 ftp  ftp      5 7月  4 23:59 b")},
       flfUnix,
       {{litFile, "9.inf", 1024, At(2024, 3, 2, 10, 15, 0, 999)},
        {litFile, "a.inf", 1024, At(2024, 3, 2, 10, 15, 0, 999)},
        {litDirectory, G("旧版本"), 4096, At(2020, 12, 31, 0, 0, 0, 999)},
        {litFile, "b", 5, At(2023, 7, 4, 23, 59, 0, 999)}}},
      {"months and days in UTF-8, from a Linux server in a Chinese locale",
       {"total 12", "-rw-r--r--   1 ftp  ftp   1024 3月  2 10:15 9.inf",
        "-rw-r--r--   1 ftp  ftp   1024 03月 02日 10:15 a.inf", "drwxr-xr-x   2 ftp  ftp   4096 12月 31  2020 old"},
       flfUnix,
       {{litFile, "9.inf", 1024, At(2024, 3, 2, 10, 15, 0, 999)},
        {litFile, "a.inf", 1024, At(2024, 3, 2, 10, 15, 0, 999)},
        {litDirectory, "old", 4096, At(2020, 12, 31, 0, 0, 0, 999)}}},
      {"a Chinese month with the owner or the group missing",
       {G("drwxr-xr-x 2 ftp 512 1月 01 12:00 pub"), "-rw-r--r-- 1 512 3月 2日 10:15 both missing"},
       flfUnix,
       {{litDirectory, "pub", 512, At(2024, 1, 1, 12, 0, 0, 999), "ftp"},
        {litFile, "both missing", 512, At(2024, 3, 2, 10, 15, 0, 999), ""}}},

      // ---- other Unix forms ----
      {"ISO dates (ls --time-style=long-iso and full-iso)",
       {"-rw-r--r--   1 ftp  ftp   1024 2021-07-04 23:59 9.inf",
        "drwxr-xr-x   2 ftp  ftp   4096 2021-07-04 23:59:07.123456789 +0800 log",
        "lrwxrwxrwx   1 ftp  ftp      7 2021-07-04 23:59 current -> Bin/a.dll",
        "-rw-r--r--   1 ftp  1024 2021-07-04 23:59 no owner"},
       flfUnix,
       {{litFile, "9.inf", 1024, At(2021, 7, 4, 23, 59, 0, 999)},
        {litDirectory, "log", 4096, At(2021, 7, 4, 23, 59, 0, 999)},
        {litSymbolicLink, "current", 7, At(2021, 7, 4, 23, 59, 0, 999), nullptr, "Bin/a.dll"},
        {litFile, "no owner", 1024, At(2021, 7, 4, 23, 59, 0, 999), "ftp"}}},
      {"a sticky folder first",
       {"drwxrwxrwt  2 ftp ftp 4096 Jul  4 23:59 log", "-rw-r--r--  1 ftp ftp 10 Jul  4 23:59 a"},
       flfUnix,
       {{litDirectory, "log", 4096, At(2023, 7, 4, 23, 59, 0, 999)}, {litFile, "a", 10, At(2023, 7, 4, 23, 59, 0, 999)}}},
      {"set-user and set-group marks first",
       {"-rwSr-Sr--  1 ftp ftp 10 Jan  2  2020 tool", "drwxr-sr-x  2 ftp ftp 4096 Jan  2  2020 shared"},
       flfUnix,
       {{litFile, "tool", 10, At(2020, 1, 2, 0, 0, 0, 999)}, {litDirectory, "shared", 4096, At(2020, 1, 2, 0, 0, 0, 999)}}},
      {"device lines are skipped",
       {"-rw-r--r--   1 ftp  ftp   1024 Jul  4 23:59 a", "crw-r-----   1 root kmem 1, 2 Jul  4 23:59 mem",
        "brw-rw----   1 root disk 8,   0 Jul  4 23:59 sda", "-rw-r--r--   1 ftp  ftp   2048 Jul  4 23:59 b"},
       flfUnix,
       {{litFile, "a", 1024, At(2023, 7, 4, 23, 59, 0, 999)}, {litFile, "b", 2048, At(2023, 7, 4, 23, 59, 0, 999)}},
       2},
      {"a device line first",
       {"crw-r-----   1 root kmem 1, 2 Jul  4 23:59 mem", "-rw-r--r--   1 ftp  ftp   1024 Jul  4 23:59 a"},
       flfUnix,
       {{litFile, "a", 1024, At(2023, 7, 4, 23, 59, 0, 999)}},
       1},
      {"a missing year column",
       {"-rw-r--r--   1 owner group 80284 Aug 22  name.tar.gz", "-rw-r--r--   1 owner group 80284 Jan 22  older.tar.gz",
        "-rw-r--r--   1 owner group 80284 Aug 22 2021", "-rw-r--r--   1 owner group 80284 Aug 22 10:00"},
       flfUnix,
       {{litFile, "name.tar.gz", 80284, At(2023, 8, 22, 0, 0, 0, 999), "group"},
        {litFile, "older.tar.gz", 80284, At(2024, 1, 22, 0, 0, 0, 999), "group"}},
       2},
      {"lines that cannot be read cost only themselves",
       {"-rw-r--r-- 1 a b 5 Jan 1 2005 one", "-rw-r--r-- 1 a b 5 Foo 1 2005 bad month", "garbage",
        "-rw-r--r-- 1 a b 5 Feb 30 2005 bad day", "-rw-r--r-- 1 a b 5 Jan 1 2005 two"},
       flfUnix,
       {{litFile, "one", 5, At(2005, 1, 1, 0, 0, 0, 999)}, {litFile, "two", 5, At(2005, 1, 1, 0, 0, 0, 999)}},
       3},
      {"no line reads: an empty listing",
       {"-rw-r--r-- 1 a b 5 Foo 1 2005 x", "crw-r----- 1 root kmem 1, 2 Jul 4 23:59 mem", "total 3"},
       flfUnix,
       {},
       3},
      {"a layout the parser does not know", {"Volume Unit Referred Ext Used Recfm", "SYS001 3390 2021/07/04 1 1 FB"},
       flfUnknown, {}, 2},

      // ---- listings in the layouts of the servers the product meets ----
      {"vsftpd (numeric owners, days with a leading zero)",
       {"drwxr-xr-x    2 0        0            4096 Jul 04 23:59 Bin",
        "drwxr-xr-x    2 0        0            4096 Jan 12  2019 log",
        "-rw-r--r--    1 0        0              52 Mar 05 14:30 version.ini",
        "lrwxrwxrwx    1 0        0              11 Mar 05 14:30 latest -> Bin/a.dll"},
       flfUnix,
       {{litDirectory, "Bin", 4096, At(2023, 7, 4, 23, 59, 0, 999), "0"},
        {litDirectory, "log", 4096, At(2019, 1, 12, 0, 0, 0, 999), "0"},
        {litFile, "version.ini", 52, At(2024, 3, 5, 14, 30, 0, 999), "0"},
        {litSymbolicLink, "latest", 11, At(2024, 3, 5, 14, 30, 0, 999), "0", "Bin/a.dll"}}},
      {"proftpd",
       {"drwxr-xr-x   2 ftp      ftp          4096 Jul  4 23:59 Bin",
        "-rw-r--r--   1 ftp      ftp            52 Mar  5 14:30 version.ini",
        "-rw-r--r--   1 ftp      ftp      123456789012 Jan 12  2019 huge.bin"},
       flfUnix,
       {{litDirectory, "Bin", 4096, At(2023, 7, 4, 23, 59, 0, 999), "ftp"},
        {litFile, "version.ini", 52, At(2024, 3, 5, 14, 30, 0, 999), "ftp"},
        {litFile, "huge.bin", 123456789012, At(2019, 1, 12, 0, 0, 0, 999), "ftp"}}},
      {"pure-ftpd (with . and ..)",
       {"drwxr-xr-x    4 1000       1000             4096 Jul  4 23:59 .",
        "drwxr-xr-x    3 0          0                4096 Jan 12  2019 ..",
        "drwxr-xr-x    2 1000       1000             4096 Jul  4 23:59 Bin",
        "-rw-r--r--    1 1000       1000               52 Mar  5 14:30 version.ini"},
       flfUnix,
       {{litDirectory, ".", 4096, At(2023, 7, 4, 23, 59, 0, 999), "1000"},
        {litDirectory, "..", 4096, At(2019, 1, 12, 0, 0, 0, 999), "0"},
        {litDirectory, "Bin", 4096, At(2023, 7, 4, 23, 59, 0, 999), "1000"},
        {litFile, "version.ini", 52, At(2024, 3, 5, 14, 30, 0, 999), "1000"}}},
      {"pyftpdlib",
       {"drwxr-xr-x   2 root     root         4096 Dec 11 14:01 log",
        "-rw-r--r--   1 root     root            3 Jan 12  2019 version.ini",
        G("-rw-r--r--   1 root     root           24 Jun 15 08:59 更新说明.txt")},
       flfUnix,
       {{litDirectory, "log", 4096, At(2023, 12, 11, 14, 1, 0, 999), "root"},
        {litFile, "version.ini", 3, At(2019, 1, 12, 0, 0, 0, 999), "root"},
        {litFile, G("更新说明.txt"), 24, At(2024, 6, 15, 8, 59, 0, 999), "root"}}},
  };
  return cases;
}

// A helper, so that an ASSERT ends one case and not the whole table.
void CheckListingCase(const ListingCase& c) {
  FixedListing listing(flfNone, At(2024, 6, 15, 9, 0));
  listing.DetectedFormat = listing.DetectFormat(c.lines.front(), true);
  ASSERT_EQ(listing.DetectedFormat, c.format);
  listing.ParseListing(c.lines);
  EXPECT_EQ(listing.SkippedLines(), c.skipped);
  ASSERT_EQ(listing.Count(), static_cast<int>(c.entries.size()));
  for (size_t i = 0; i < c.entries.size(); ++i) {
    const Expected& want = c.entries[i];
    const TIdFTPListItem& got = listing.Items(static_cast<int>(i));
    SCOPED_TRACE(got.RawLine);
    EXPECT_EQ(got.EntryKind, want.kind);
    EXPECT_EQ(got.EntryName, want.name);
    EXPECT_EQ(got.EntrySize, want.size);
    EXPECT_DOUBLE_EQ(got.ModifiedAt, want.modified);
    EXPECT_EQ(got.LinkTarget, want.target);
    if (want.group != nullptr) {
      EXPECT_EQ(got.GroupText, want.group);
    }
  }
}

TEST(Listing, EachServersListingGivesItsEntries) {
  for (const ListingCase& c : ListingCases()) {
    SCOPED_TRACE(c.what);
    CheckListingCase(c);
  }
}

// ---- the listing as a whole -----------------------------------------------

TEST(ParseListing, BlankLinesMakeNoEntryInAnyLayout) {
  const std::vector<std::string> blanks = {"", "   ", "\t\t\t", " \t \t"};
  for (TIdFTPListFormat format : {flfNone, flfDos, flfUnix, flfVax, flfNoDetails, flfUnknown, flfCustom}) {
    FixedListing listing(format);
    listing.OnParseCustomListFormat = [](TIdFTPListItem&) {};
    listing.ParseListing(blanks);
    EXPECT_EQ(listing.Count(), 0) << int(format);
  }
}

TEST(ParseListing, EachLayoutFillsWhatItKnows) {
  FixedListing none(flfNone);
  none.ParseListing({"  anything at all  "});
  ASSERT_EQ(none.Count(), 1);
  EXPECT_EQ(none.Items(0).RawLine, "  anything at all  ");
  EXPECT_EQ(none.Items(0).EntryName, "");

  FixedListing names(flfNoDetails);
  names.ParseListing({"  read me.txt \r", "dir"});
  ASSERT_EQ(names.Count(), 2);
  EXPECT_EQ(names.Items(0).EntryName, "read me.txt");
  EXPECT_EQ(names.Items(0).EntryKind, litFile);

  FixedListing unknown(flfUnknown);
  unknown.ParseListing({"some", "lines"});
  EXPECT_EQ(unknown.Count(), 0);
  TIdFTPListItem item;
  try {
    unknown.ParseEntry(item);
    FAIL() << "no exception";
  } catch (const EIdInvalidFTPListingFormat& e) {
    EXPECT_STREQ(e.what(), "Unknown FTP listing format");
  }
}

TEST(ParseListing, CustomLayoutGoesThroughTheHandler) {
  FixedListing listing(flfCustom);
  listing.ParseListing({"a", "b"});
  EXPECT_EQ(listing.Count(), 0) << "no handler: every line fails";
  EXPECT_EQ(listing.SkippedLines(), 2);

  listing.OnParseCustomListFormat = [](TIdFTPListItem& item) {
    if (item.RawLine == "boom") throw std::runtime_error("handler failed");
    item.EntryName = "<" + item.RawLine + ">";
  };
  listing.ParseListing({"a", "boom", "b", "c"});
  ASSERT_EQ(listing.Count(), 3);
  EXPECT_EQ(listing.Items(0).EntryName, "<a>");
  EXPECT_EQ(listing.Items(1).EntryName, "<b>");
  EXPECT_EQ(listing.Items(2).EntryName, "<c>");
  EXPECT_EQ(listing.SkippedLines(), 1);
}

TEST(ParseListing, DescendantsMayOverrideDetectionAndCustomParsing) {
  struct Mine : TIdFTPListItems {
    TIdFTPListFormat DetectFormat(const std::string&, bool) override { return flfCustom; }
    void ParseCustomLine(TIdFTPListItem& entry) override { entry.EntryName = "mine:" + entry.RawLine; }
  };
  Mine listing;
  TIdFTPListItems& base = listing;
  base.DetectedFormat = base.DetectFormat("whatever", true);
  base.ParseListing({"x"});
  ASSERT_EQ(base.Count(), 1);
  EXPECT_EQ(base.Items(0).EntryName, "mine:x");
}

TEST(ParseListing, RebuildsFromScratchAndOwnsItsEntries) {
  FixedListing listing(flfNoDetails);
  listing.ParseListing({"a", "b", "c"});
  EXPECT_EQ(listing.Count(), 3);
  listing.ParseListing({"d"});
  ASSERT_EQ(listing.Count(), 1);
  EXPECT_EQ(listing.Items(0).EntryName, "d");
  EXPECT_THROW(listing.Items(1), std::out_of_range);
  EXPECT_THROW(listing.Items(-1), std::out_of_range);
  listing.ParseListing({});
  EXPECT_EQ(listing.Count(), 0);
}

TEST(ListItem, StartsWithTheInitialValuesAndCopiesEveryField) {
  TIdFTPListItems listing;
  EXPECT_EQ(listing.DetectedFormat, flfUnix);
  TIdFTPListItem& fresh = listing.AddEntry();
  EXPECT_EQ(fresh.EntrySize, 0);
  EXPECT_EQ(fresh.GroupRights, "???");
  EXPECT_EQ(fresh.GroupText, "????????");
  EXPECT_EQ(fresh.OwnerRights, "???");
  EXPECT_EQ(fresh.OwnerText, "????????");
  EXPECT_EQ(fresh.OtherRights, "???");
  EXPECT_EQ(fresh.ModifiedAt, 0);
  EXPECT_EQ(fresh.EntryKind, litFile);
  EXPECT_EQ(static_cast<int>(litDirectory), 0);
  EXPECT_EQ(static_cast<int>(litSymbolicLink), 2);

  TIdFTPListItem source;
  source.EntrySize = 5;
  source.LinkCount = 6;
  source.RawLine = "raw";
  source.EntryName = "name";
  source.GroupRights = "gr";
  source.GroupText = "gt";
  source.OwnerRights = "or";
  source.OwnerText = "ot";
  source.OtherRights = "xr";
  source.ModifiedAt = 7.5;
  source.LinkTarget = "target";
  source.EntryKind = litSymbolicLink;
  fresh.CopyValuesFrom(source);
  EXPECT_EQ(fresh.EntrySize, 5);
  EXPECT_EQ(fresh.LinkCount, 6);
  EXPECT_EQ(fresh.RawLine, "raw");
  EXPECT_EQ(fresh.EntryName, "name");
  EXPECT_EQ(fresh.GroupRights, "gr");
  EXPECT_EQ(fresh.GroupText, "gt");
  EXPECT_EQ(fresh.OwnerRights, "or");
  EXPECT_EQ(fresh.OwnerText, "ot");
  EXPECT_EQ(fresh.OtherRights, "xr");
  EXPECT_EQ(fresh.ModifiedAt, 7.5);
  EXPECT_EQ(fresh.LinkTarget, "target");
  EXPECT_EQ(fresh.EntryKind, litSymbolicLink);
}

}  // namespace
}  // namespace ftp
