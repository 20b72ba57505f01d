// The listing parser: a listing (the input after two header bytes, split at
// CR, LF or CR LF as the FTP client splits RawListing) parsed by the layout
// DetectFormat gives for its first line, or by a layout forced on it. Every
// entry is compared with a second reading of the layout rules written here,
// and so is the count of lines skipped as unreadable; the DOS date rule is
// checked on dates built from the input's bytes.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ftp/dos_date.h"
#include "ftp/ftp_list.h"
#include "fuzz_check.h"
#include "integer_reference.h"
#include "platform/encoding.h"

namespace {

using ftp::TIdFTPListFormat;
using ftp::TIdFTPListItem;

// Calendar arithmetic of our own: days since 1899-12-30 of a Gregorian date.
bool Leap(int y) { return y % 4 == 0 && (y % 100 != 0 || y % 400 == 0); }
int MonthDays(int y, int m) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return kDays[m - 1] + (m == 2 && Leap(y) ? 1 : 0);
}
bool DateExists(long y, long m, long d) {
  return y >= 1 && y <= 9999 && m >= 1 && m <= 12 && d >= 1 && d <= MonthDays(static_cast<int>(y), static_cast<int>(m));
}
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {  // days since 1970-01-01
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}
double DateValue(int y, int m, int d) { return static_cast<double>(DaysFromCivil(y, m, d) - DaysFromCivil(1899, 12, 30)); }
double TimeValue(int h, int mi, int s, int ms) { return (((h * 60.0 + mi) * 60.0 + s) * 1000.0 + ms) / 86400000.0; }
bool Near(double a, double b) { return std::fabs(a - b) < 5e-8; }
// A date plus a time of day, as the parser builds its values. Before
// 1899-12-30 this is not the convention of these values (the fraction should
// then count backwards from the day); the parser adds, and so do we, until
// that is settled.
double DateTimeValue(double date, double time) { return date + time; }

struct Day {
  int year, month, day;
};

bool IsControlOrSpace(char c) { return static_cast<unsigned char>(c) <= 32; }
std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && IsControlOrSpace(s[b])) ++b;
  while (e > b && IsControlOrSpace(s[e - 1])) --e;
  return s.substr(b, e - b);
}
std::string Upper(std::string s) {
  for (char& c : s) if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return s;
}
std::string Piece(const std::string& s, size_t from1, size_t count) {  // 1-based
  return from1 - 1 < s.size() ? s.substr(from1 - 1, count) : std::string();
}
std::string NoCommas(std::string s) {
  std::string out;
  for (char c : s) if (c != ',') out += c;
  return out;
}
bool IsBlankLine(const std::string& s) { return s.find_first_not_of(" \t") == std::string::npos; }

// "DSK:" searched in GBK characters: a match never starts on a second byte.
bool ContainsDsk(const std::string& upper) {
  for (size_t i = 0; i < upper.size(); ++i) {
    if (i + 1 < upper.size() && platform::IsGbkPair(static_cast<unsigned char>(upper[i]),
                                                    static_cast<unsigned char>(upper[i + 1]))) {
      ++i;
      continue;
    }
    if (upper.compare(i, 4, "DSK:") == 0) return true;
  }
  return false;
}

bool Digit(char c) { return c >= '0' && c <= '9'; }
bool Digits(const std::string& s) { return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos; }
bool EndsWith(const std::string& s, const std::string& end) {
  return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

// The columns of a text: the pieces between spaces, runs of spaces counting
// as one, each trimmed and kept also when trimming empties it.
std::vector<std::string> Columns(const std::string& text) {
  std::vector<std::string> cols;
  size_t at = 0;
  while (at <= text.size()) {
    size_t sp = text.find(' ', at);
    if (sp == std::string::npos) sp = text.size();
    if (sp > at) cols.push_back(Trim(text.substr(at, sp - at)));
    at = sp + 1;
  }
  return cols;
}
std::string Joined(const std::vector<std::string>& cols, size_t from, size_t to) {
  std::string out;
  for (size_t i = from; i < to; ++i) out += (i > from ? " " : "") + cols[i];
  return out;
}

// "MM-DD-YY" or "MM-DD-YYYY" (with "-" or "/") at the start of a DOS line:
// its length, or 0. Four digits only when a blank or the end follows.
size_t DosDate(const std::string& s) {
  auto d = [&s](size_t i) { return i < s.size() && Digit(s[i]); };
  auto sep = [&s](size_t i) { return i < s.size() && (s[i] == '-' || s[i] == '/'); };
  if (!(d(0) && d(1) && sep(2) && d(3) && d(4) && sep(5) && d(6) && d(7))) return 0;
  return d(8) && d(9) && (s.size() == 10 || IsControlOrSpace(s[10])) ? 10 : 8;
}

// "H:MM" or "HH:MM".
bool ShortTime(const std::string& t) {
  const size_t colon = t.find(':');
  return (colon == 1 || colon == 2) && t.size() == colon + 3 && Digits(t.substr(0, colon)) && Digits(t.substr(colon + 1));
}

// A DOS line by its tokens: date, time with an optional AM or PM, "<DIR>" or
// a size of digits and commas that reads, and a name.
bool DosByTokens(const std::string& u) {
  const size_t date = DosDate(u);
  if (date == 0 || (date < u.size() && u[date] != ' ')) return false;
  const std::vector<std::string> t = Columns(u.substr(date));
  if (t.size() < 3) return false;
  std::string time = t[0];
  if (time.size() > 2 && (EndsWith(time, "AM") || EndsWith(time, "PM"))) time.resize(time.size() - 2);
  if (!ShortTime(time)) return false;
  if (t[1] == "<DIR>") return true;
  if (t[1].find_first_not_of("0123456789,") != std::string::npos) return false;
  const std::string digits = NoCommas(t[1]);
  return !digits.empty() && fuzz::ReferenceConvert(digits, 64).valid;
}

TIdFTPListFormat ReferenceDetect(const std::string& line) {
  const std::string u = Upper(line);
  // Type letters of ls; rights, with "S" where the set-user and set-group
  // marks stand and "T" where the sticky mark does.
  bool permissions = u.size() >= 10 && std::string("-DLCBPS").find(u[0]) != std::string::npos;
  for (size_t i = 1; i < 10 && permissions; ++i) {
    permissions = std::string("-RWX").find(u[i]) != std::string::npos || (u[i] == 'S' && (i == 3 || i == 6)) ||
                  (u[i] == 'T' && i == 9);
  }
  if (permissions || u.rfind("TOTAL", 0) == 0) return ftp::flfUnix;
  if (ContainsDsk(u)) return ftp::flfVax;
  auto separator = [&u](size_t pos1) { return pos1 <= u.size() && (u[pos1 - 1] == '-' || u[pos1 - 1] == '/'); };
  if (!separator(3) || !separator(6)) return ftp::flfUnknown;
  const std::string a = Trim(Piece(u, 25, 6));
  if (a == "<DIR>") return ftp::flfDos;
  if (a.empty()) {
    const fuzz::ReferenceInteger b = fuzz::ReferenceConvert(NoCommas(Trim(Piece(u, 31, 8))), 64);
    if (b.valid && b.value != -1) return ftp::flfDos;
  }
  return DosByTokens(u) ? ftp::flfDos : ftp::flfUnknown;
}

// "月" and "日" in GBK and in UTF-8.
const char* const kMonthSign[] = {"\xD4\xC2", "\xE6\x9C\x88"};
const char* const kDaySign[] = {"\xC8\xD5", "\xE6\x97\xA5"};
// The text before a sign at its end; the text itself without one.
std::string BeforeSign(const std::string& s, const char* const (&signs)[2]) {
  for (const char* sign : signs) {
    const std::string z(sign);
    if (s.size() > z.size() && EndsWith(s, z)) return s.substr(0, s.size() - z.size());
  }
  return s;
}

int Month(const std::string& col) {
  static const char* kMonths[12] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN", "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
  for (int m = 0; m < 12; ++m) if (Upper(col) == kMonths[m]) return m + 1;
  const std::string n = BeforeSign(col, kMonthSign);
  if (n.size() == col.size() || n.size() > 2 || !Digits(n)) return 0;
  const int v = std::stoi(n);
  return v >= 1 && v <= 12 ? v : 0;
}

int RecentYear(const Day& today, int month) { return today.month < month ? today.year - 1 : today.year; }

void Fill(TIdFTPListItem& e, const std::vector<std::string>& cols, const std::string& owner, const std::string& group,
          const std::string& size, double modified, std::string name) {
  const char type = cols[0].empty() ? '\0' : Upper(cols[0].substr(0, 1))[0];
  e.OwnerRights = Piece(cols[0], 2, 3);
  e.GroupRights = Piece(cols[0], 5, 3);
  e.OtherRights = Piece(cols[0], 8, 3);
  e.LinkCount = fuzz::ReferenceInt32Def(cols[1], 0);
  e.OwnerText = owner;
  e.GroupText = group;
  e.EntryKind = type == 'D' ? ftp::litDirectory : type == 'L' ? ftp::litSymbolicLink : ftp::litFile;
  e.EntrySize = fuzz::ReferenceInt64Def(size, 0);
  e.ModifiedAt = modified;
  const size_t arrow = name.find(" -> ");  // no GBK second byte is a space
  if (e.EntryKind == ftp::litSymbolicLink && arrow != std::string::npos && arrow > 0) {
    e.LinkTarget = name.substr(arrow + 4);
    name.resize(arrow);
  }
  e.EntryName = name;
}

// A Unix line read from its date: the first place from the left where a
// size of digits is followed by a strict date (month name or "N月", a day,
// a time or a four-digit year, then the name; or an ISO date and a time, an
// optional zone, then the name; or a month and a day and a last column that
// is the name). Devices are never read so.
bool ReferenceAroundDate(const std::vector<std::string>& cols, const Day& today, TIdFTPListItem& e) {
  const char type = cols.empty() || cols[0].empty() ? '\0' : Upper(cols[0].substr(0, 1))[0];
  if (type == 'B' || type == 'C') return false;
  const size_t n = cols.size();
  // Only the first 32 columns are searched: the date and the first column
  // of the name lie among them.
  for (size_t at = 3; at + 1 < n && at + 3 < 32; ++at) {
    if (!Digits(cols[at - 1])) continue;
    const std::string& c = cols[at];
    long year = 0, month = 0, day = 0, hour = 0, minute = 0;
    size_t name_at = 0;
    const bool iso = c.size() == 10 && c[4] == '-' && c[7] == '-' && Digits(c.substr(0, 4)) &&
                     Digits(c.substr(5, 2)) && Digits(c.substr(8, 2));
    if (iso) {
      // "HH:MM", "HH:MM:SS" or "HH:MM:SS.fraction".
      const std::string& t = cols[at + 1];
      const size_t colon = t.find(':');
      if (colon != 1 && colon != 2) continue;
      if (!Digits(t.substr(0, colon)) || t.size() < colon + 3 || !Digits(t.substr(colon + 1, 2))) continue;
      const std::string after = t.substr(colon + 3);
      if (!after.empty()) {
        if (after.size() < 3 || after[0] != ':' || !Digits(after.substr(1, 2))) continue;
        if (after.size() > 3 && (after[3] != '.' || !Digits(after.substr(4)))) continue;
      }
      year = std::stol(c.substr(0, 4)), month = std::stol(c.substr(5, 2)), day = std::stol(c.substr(8, 2));
      hour = std::stol(t.substr(0, colon)), minute = std::stol(t.substr(colon + 1, 2));
      name_at = at + 2;
      const std::string zone = name_at < n ? cols[name_at] : "";
      if (zone.size() == 5 && (zone[0] == '+' || zone[0] == '-') && Digits(zone.substr(1))) ++name_at;
    } else {
      month = Month(c);
      const std::string d = BeforeSign(cols[at + 1], kDaySign);
      if (month == 0 || d.size() > 2 || !Digits(d) || at + 2 >= n) continue;
      day = std::stol(d);
      if (day < 1 || day > 31) continue;
      const std::string& third = cols[at + 2];
      if (ShortTime(third)) {
        year = RecentYear(today, static_cast<int>(month));
        const size_t colon = third.find(':');
        hour = std::stol(third.substr(0, colon)), minute = std::stol(third.substr(colon + 1));
        name_at = at + 3;
      } else if (third.size() == 4 && Digits(third)) {
        year = std::stol(third);
        name_at = at + 3;
      } else if (at + 3 == n && third.find(':') == std::string::npos && !fuzz::ReferenceConvert(third, 32).valid) {
        year = RecentYear(today, static_cast<int>(month));
        name_at = at + 2;
      } else {
        continue;
      }
    }
    if (name_at >= n || !DateExists(year, month, day) || hour >= 24 || minute >= 60) continue;
    const size_t between = at - 3;  // columns between the link count and the size
    Fill(e, cols, between >= 2 ? cols[2] : "", Joined(cols, between >= 2 ? 3 : 2, at - 1), cols[at - 1],
         DateTimeValue(DateValue(static_cast<int>(year), static_cast<int>(month), static_cast<int>(day)),
                       TimeValue(static_cast<int>(hour), static_cast<int>(minute), 0, 999)),
         Joined(cols, name_at, n));
    return true;
  }
  return false;
}

// The entry a line gives, or false when the line is skipped.
bool ReferenceUnix(const std::string& raw, const Day& today, TIdFTPListItem& e) {
  std::vector<std::string> cols = Columns(Trim(raw));
  if (cols.size() < 8) return ReferenceAroundDate(cols, today, e);
  const std::vector<std::string> as_listed = cols;
  auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  bool without_year = false;
  if (cols.size() == 8 && !cols[4].empty() && letter(cols[4][0])) {
    cols.insert(cols.begin() + 2, std::string());
  } else if (cols.size() == 8 && cols[7].find(':') == std::string::npos && !fuzz::ReferenceConvert(cols[7], 32).valid) {
    without_year = true;  // the last column is the name
  }
  const bool nameless = cols.size() == 8 && !without_year;
  const int month = Month(cols[5]);
  fuzz::ReferenceInteger day_read = fuzz::ReferenceConvert(cols[6], 32);
  if (!day_read.valid && BeforeSign(cols[6], kDaySign).size() != cols[6].size()) {
    day_read = fuzz::ReferenceConvert(BeforeSign(cols[6], kDaySign), 32);
  }
  int64_t day = day_read.valid ? static_cast<int64_t>(day_read.value) : today.day;
  int64_t year = 0, hour = 0, minute = 0;
  const size_t colon = cols[7].find(':');
  if (without_year) {
    year = RecentYear(today, month);
  } else if (colon != std::string::npos) {
    year = RecentYear(today, month);
    hour = fuzz::ReferenceInt32Def(cols[7].substr(0, colon), 0);
    minute = fuzz::ReferenceInt32Def(cols[7].substr(colon + 1), 0);
  } else {
    const fuzz::ReferenceInteger y = fuzz::ReferenceConvert(cols[7], 32);
    year = y.valid ? static_cast<int64_t>(y.value) : today.year;
  }
  year &= 0xFFFF, day &= 0xFFFF, hour &= 0xFFFF, minute &= 0xFFFF;  // 16-bit fields
  if (nameless || !DateExists(year, month, day) || hour >= 24 || minute >= 60) {
    return ReferenceAroundDate(as_listed, today, e);
  }
  Fill(e, cols, cols[2], cols[3], cols[4],
       DateTimeValue(DateValue(static_cast<int>(year), month, static_cast<int>(day)),
                     TimeValue(static_cast<int>(hour), static_cast<int>(minute), 0, 999)),
       without_year ? cols[7] : Joined(cols, 8, cols.size()));
  return true;
}

void ReferenceDos(const std::string& raw, const Day& today, TIdFTPListItem& e) {
  const size_t year_digits = DosDate(raw) == 10 ? 4 : 2;
  std::string d = Piece(raw, 1, 2) + "/" + Piece(raw, 4, 2) + "/" + Piece(raw, 7, year_digits) + " ";
  std::string r = Trim(Piece(raw, 7 + year_digits, std::string::npos));
  auto token = [](std::string& text) {
    const size_t sp = text.find(' ');
    std::string t = text.substr(0, sp);
    text = sp == std::string::npos ? std::string() : text.substr(sp + 1);
    return t;
  };
  d += token(r);
  r = Trim(r);
  const std::string t = NoCommas(token(r));
  const bool dir = Upper(t) == "<DIR>";
  e.EntryName = Trim(r);
  e.EntryKind = dir ? ftp::litDirectory : ftp::litFile;
  e.EntrySize = dir ? 0 : fuzz::ReferenceInt64Def(t, 0);
  double at = 0;
  e.ModifiedAt = ftp::TryParseDosDate(d, today.year, at) ? at : 0;  // the date rule itself: below
}

void CheckSame(const TIdFTPListItem& got, const TIdFTPListItem& want, const std::string& context) {
  FUZZ_CHECK(got.RawLine == want.RawLine, context);
  FUZZ_CHECK(got.EntryName == want.EntryName, context);
  FUZZ_CHECK(got.EntryKind == want.EntryKind, context);
  FUZZ_CHECK(got.EntrySize == want.EntrySize, context);
  FUZZ_CHECK(got.LinkCount == want.LinkCount, context);
  FUZZ_CHECK(got.LinkTarget == want.LinkTarget, context);
  FUZZ_CHECK(got.OwnerRights == want.OwnerRights && got.GroupRights == want.GroupRights &&
                 got.OtherRights == want.OtherRights,
             context);
  FUZZ_CHECK(got.OwnerText == want.OwnerText && got.GroupText == want.GroupText, context);
  FUZZ_CHECK(Near(got.ModifiedAt, want.ModifiedAt),
             context + " ModifiedAt " + std::to_string(got.ModifiedAt) + " expected " + std::to_string(want.ModifiedAt));
}

std::vector<std::string> SplitListing(const std::string& text) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(pos, end - pos));
    if (end < text.size() && text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ++end;
    pos = end + 1;
  }
  return lines;
}

void CheckListing(FuzzedDataProvider& in) {
  static const Day kDays[] = {{2008, 1, 15}, {2024, 6, 30}, {1999, 12, 31}, {9999, 12, 31}, {1, 1, 1}, {2000, 2, 29}};
  // The two header bytes come from the front, where the seeds put them
  // (ConsumeIntegral would take them from the end of the listing).
  const std::vector<uint8_t> header = in.ConsumeBytes<uint8_t>(2);
  const uint8_t mode = header.empty() ? 0 : header[0];
  const Day today = kDays[(header.size() < 2 ? 0 : header[1]) % (sizeof kDays / sizeof kDays[0])];
  const std::vector<std::string> lines = SplitListing(in.ConsumeRemainingBytesAsString());

  ftp::TIdFTPListItems listing;
  listing.SetClock([today] {
    // 18:00 of that day; before 1899-12-30 the whole part still counts the
    // days and the fraction is the time of day.
    const double date = DateValue(today.year, today.month, today.day);
    return date < 0 ? date - 0.75 : date + 0.75;
  });
  const int choice = mode % 9;
  if (choice == 0) {
    if (lines.empty()) return;
    FUZZ_CHECK(listing.DetectFormat(lines[0], false) == ftp::flfNoDetails, fuzz::Shown(lines[0]));
    listing.DetectedFormat = listing.DetectFormat(lines[0], true);
    FUZZ_CHECK(listing.DetectedFormat == ReferenceDetect(lines[0]), "detect " + fuzz::Shown(lines[0]));
  } else {
    static const TIdFTPListFormat kForced[] = {ftp::flfDos, ftp::flfUnix, ftp::flfVax, ftp::flfNoDetails,
                                               ftp::flfNone, ftp::flfUnknown, ftp::flfCustom, ftp::flfCustom};
    listing.DetectedFormat = kForced[choice - 1];
  }
  const TIdFTPListFormat format = listing.DetectedFormat;
  // A custom handler that refuses lines holding "!".
  if (choice == 7) {
    listing.OnParseCustomListFormat = [](TIdFTPListItem& item) {
      if (item.RawLine.find('!') != std::string::npos) throw std::runtime_error("refused");
      item.EntryName = item.RawLine + "#";
    };
  }
  listing.ParseListing(lines);

  std::vector<TIdFTPListItem> expected;
  int skipped = 0;
  size_t first = (format == ftp::flfUnix && !lines.empty() && Upper(lines[0]).rfind("TOTAL", 0) == 0) ? 1 : 0;
  for (size_t i = first; i < lines.size(); ++i) {
    if (IsBlankLine(lines[i])) continue;
    TIdFTPListItem e;
    e.RawLine = lines[i];
    bool ok = true;
    switch (format) {
      case ftp::flfNone: break;
      case ftp::flfDos: ReferenceDos(lines[i], today, e); break;
      case ftp::flfUnix:
      case ftp::flfVax: ok = ReferenceUnix(lines[i], today, e); break;
      case ftp::flfNoDetails: e.EntryName = Trim(lines[i]); break;
      case ftp::flfUnknown: ok = false; break;
      case ftp::flfCustom:
        ok = choice == 7 && lines[i].find('!') == std::string::npos;
        e.EntryName = lines[i] + "#";
        break;
    }
    if (ok) {
      expected.push_back(e);
    } else {
      ++skipped;  // a line that cannot be read costs itself alone
    }
  }
  std::string all;
  for (const std::string& l : lines) all += "[" + fuzz::Shown(l) + "]";
  const std::string context = "format " + std::to_string(format) + " listing " + all;
  FUZZ_CHECK(listing.SkippedLines() == skipped, context + " skipped " + std::to_string(listing.SkippedLines()));
  FUZZ_CHECK(listing.Count() == static_cast<int>(expected.size()), context);
  for (int i = 0; i < listing.Count(); ++i) {
    CheckSame(listing.Items(i), expected[static_cast<size_t>(i)], "entry " + std::to_string(i) + " of " + context);
  }
}

// The DOS date rule on a date and time written from the input's bytes, in
// the spellings a server may use.
void CheckDosDate(FuzzedDataProvider& in) {
  const int current_year = in.ConsumeIntegralInRange(100, 9999);
  const int month = in.ConsumeIntegralInRange(1, 12);
  const int day = in.ConsumeIntegralInRange(1, 31);
  const int year_digits = in.ConsumeIntegralInRange(1, 4);
  const int year_written = in.ConsumeIntegralInRange(0, year_digits == 4 ? 9999 : year_digits == 3 ? 999 : year_digits == 2 ? 99 : 9);
  const int parts = in.ConsumeIntegralInRange(0, 4);  // 0: no time; 1: hours; 2: +minutes; 3: +seconds; 4: +ms
  const int marker = in.ConsumeIntegralInRange(0, 4);  // none, AM/PM after, AM/PM before
  const bool pm = in.ConsumeBool();
  const bool lower = in.ConsumeBool();
  const int hour = in.ConsumeIntegralInRange(0, 30);
  const int minute = in.ConsumeIntegralInRange(0, 70);
  const int second = in.ConsumeIntegralInRange(0, 70);
  const int ms = in.ConsumeIntegralInRange(0, 1100);
  const uint8_t blanks = in.ConsumeIntegral<uint8_t>();
  auto blank = [blanks](int bit) { return (blanks >> bit) & 1 ? std::string(" ") : std::string(); };
  auto digits = [](int v, int width) {
    std::string s = std::to_string(v);
    return std::string(static_cast<size_t>(width > static_cast<int>(s.size()) ? width - static_cast<int>(s.size()) : 0), '0') + s;
  };
  std::string text = blank(0) + std::to_string(month) + blank(1) + "/" + blank(2) + digits(day, 2) + "/" +
                     blank(3) + digits(year_written, year_digits);
  std::string mark = pm ? (lower ? "pm" : "PM") : (lower ? "am" : "AM");
  if (parts > 0) {
    text += " ";
    if (marker >= 3) text += mark + blank(4);
    text += std::to_string(hour);
    if (parts >= 2) text += ":" + digits(minute, 2);
    if (parts >= 3) text += ":" + digits(second, 2);
    if (parts >= 4) text += "." + digits(ms, 3);
    if (marker == 1 || marker == 2) text += blank(5) + mark;
  }
  text += blank(6);

  int year = year_written;
  if (year_digits <= 2) {
    const int base = current_year - 50;
    year += base / 100 * 100;
    if (year < base) year += 100;
  }
  int h = hour;
  bool ok = DateExists(year, month, day);
  if (parts > 0 && marker != 0) {
    ok = ok && hour >= 1 && hour <= 12;
    h = (hour == 12 ? 0 : hour) + (pm ? 12 : 0);
  }
  const int mi = parts >= 2 ? minute : 0, s = parts >= 3 ? second : 0, z = parts >= 4 ? ms : 0;
  if (parts > 0) ok = ok && h < 24 && mi < 60 && s < 60 && z < 1000;
  double got = -12345;
  const bool read = ftp::TryParseDosDate(text, current_year, got);
  const std::string context = "'" + text + "' in " + std::to_string(current_year);
  FUZZ_CHECK(read == ok, context);
  if (ok) FUZZ_CHECK(Near(got, DateTimeValue(DateValue(year, month, day), parts > 0 ? TimeValue(h, mi, s, z) : 0)), context);
  else FUZZ_CHECK(got == -12345, context);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  {
    FuzzedDataProvider in(data, size);
    CheckListing(in);
  }
  {
    FuzzedDataProvider in(data, size);
    CheckDosDate(in);
  }
  // Whatever the text, the rule gives false or a date that exists.
  const std::string text(reinterpret_cast<const char*>(data), size < 64 ? size : 64);
  double value = 0;
  if (ftp::TryParseDosDate(text, 2008, value)) FUZZ_CHECK(std::isfinite(value) && value >= -693593 && value < 2958466, text);
  return 0;
}
