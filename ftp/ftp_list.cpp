#include "ftp/ftp_list.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "ftp/dos_date.h"
#include "net/take_token.h"
#include "platform/clock.h"
#include "platform/date_time.h"
#include "settings/integer_conversion.h"

namespace ftp {
namespace {

bool IsControlOrSpace(char c) { return static_cast<unsigned char>(c) <= 32; }

inline std::string_view Trim(std::string_view text) {
  if (text.empty() || (!IsControlOrSpace(text.front()) && !IsControlOrSpace(text.back()))) return text;
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsControlOrSpace(text[begin])) ++begin;
  while (end > begin && IsControlOrSpace(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

std::string UpperCase(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) c = UpperAscii(c);
  return upper;
}

bool StartsWithUpper(std::string_view text, std::string_view upper_prefix) {
  if (text.size() < upper_prefix.size()) return false;
  for (size_t i = 0; i < upper_prefix.size(); ++i) {
    if (UpperAscii(text[i]) != upper_prefix[i]) return false;
  }
  return true;
}

// Characters from..from+count-1, 0-based, cut at the end of the text.
std::string_view Piece(std::string_view text, size_t from, size_t count) {
  if (from >= text.size()) return {};
  return text.substr(from, count);
}

// The token up to the first delimiter; text keeps what follows it, or becomes
// empty. Only for delimiters below 0x40: such a byte is never the second byte
// of a GBK character, so the plain search finds what net::FindToken finds.
std::string_view TakeByteToken(std::string_view& text, char delimiter) {
  const size_t at = text.find(delimiter);
  if (at == std::string_view::npos) {
    std::string_view all = text;
    text = {};
    return all;
  }
  std::string_view before = text.substr(0, at);
  text.remove_prefix(at + 1);
  return before;
}

std::string WithoutCommas(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c != ',') out.push_back(c);
  }
  return out;
}

// text without its commas: text itself when it has none (the usual case), or
// the text rebuilt in scratch.
std::string_view WithoutCommas(std::string_view text, std::string& scratch) {
  if (text.find(',') == std::string_view::npos) return text;
  scratch = WithoutCommas(text);
  return scratch;
}

// Whether text upper-cased (ASCII letters only) equals upper.
bool EqualsUpper(std::string_view text, std::string_view upper) {
  return text.size() == upper.size() && StartsWithUpper(text, upper);
}

bool IsBlankLine(const std::string& line) {
  for (char c : line) {
    if (c != ' ' && c != '\t') return false;
  }
  return true;
}

// Listing columns are mostly plain digits; those read here directly, with
// the same result as the integer rule, and everything else goes to the rule.
bool PlainDigits(std::string_view text, size_t max_digits, int64_t& value) {
  if (text.empty() || text.size() > max_digits) return false;
  int64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  value = v;
  return true;
}

bool TryReadInt32(std::string_view text, int32_t& value) {
  int64_t plain = 0;
  if (PlainDigits(text, 9, plain)) {
    value = static_cast<int32_t>(plain);
    return true;
  }
  return settings::TryStrToInt32(std::string(text), value);
}

int32_t ReadInt32(std::string_view text, int32_t fallback) {
  int32_t value = fallback;
  return TryReadInt32(text, value) ? value : fallback;
}

int64_t ReadInt64(std::string_view text, int64_t fallback) {
  int64_t value = 0;
  if (PlainDigits(text, 18, value)) return value;
  return settings::StrToInt64Def(std::string(text), fallback);
}

// "月" and "日" as a Chinese or Japanese locale writes them after the
// numbers of a date ("3月  2", "3月 2日"): in GBK, the product's own code
// page, or in UTF-8, which a Linux server in a Chinese locale sends.
constexpr std::string_view kMonthSigns[] = {"\xD4\xC2", "\xE6\x9C\x88"};
constexpr std::string_view kDaySigns[] = {"\xC8\xD5", "\xE6\x97\xA5"};

// text without one of the signs at its end, or text itself. A sign counts
// only right after an ASCII byte, where it starts a character in either code
// page.
std::string_view WithoutSign(std::string_view text, const std::string_view (&signs)[2]) {
  for (std::string_view sign : signs) {
    if (text.size() > sign.size() && text.substr(text.size() - sign.size()) == sign &&
        static_cast<unsigned char>(text[text.size() - sign.size() - 1]) < 0x80) {
      return text.substr(0, text.size() - sign.size());
    }
  }
  return text;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool AllDigits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), IsDigit);
}

// 1 to 12 for "1月" to "12月", else 0.
int SignedMonthNumber(std::string_view column) {
  const std::string_view number = WithoutSign(column, kMonthSigns);
  if (number.size() == column.size() || number.size() > 2 || !AllDigits(number)) return 0;
  const int month = number.size() == 1 ? number[0] - '0' : (number[0] - '0') * 10 + (number[1] - '0');
  return month >= 1 && month <= 12 ? month : 0;
}

// 1 to 12 for the English month abbreviations in any letter case, and for
// "1月" to "12月"; else 0.
inline int MonthNumber(std::string_view column) {
  // "3月" in GBK has three bytes too; no English name ends in a byte above 0x7F.
  if (column.size() != 3 || static_cast<unsigned char>(column[2]) >= 0x80) return SignedMonthNumber(column);
  // The three letters upper-cased and packed into one number, compared with
  // the packed abbreviations.
  auto pack = [](char a, char b, char c) {
    return static_cast<uint32_t>(static_cast<unsigned char>(a)) << 16 |
           static_cast<uint32_t>(static_cast<unsigned char>(b)) << 8 | static_cast<unsigned char>(c);
  };
  static constexpr std::string_view kMonths[12] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                                   "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
  const uint32_t key = pack(UpperAscii(column[0]), UpperAscii(column[1]), UpperAscii(column[2]));
  for (int m = 0; m < 12; ++m) {
    if (key == pack(kMonths[m][0], kMonths[m][1], kMonths[m][2])) return m + 1;
  }
  return 0;
}

// The year of a date listed without one, as ls does for the last half year:
// this year, or last year when the month is still ahead.
int RecentYear(int month, int current_year, int current_month) {
  return current_month < month ? current_year - 1 : current_year;
}

// ---- the strict column forms a Unix line is read by when its columns are
// not in their usual places ----

int DigitsValue(std::string_view digits) {
  int value = 0;
  for (char c : digits) value = value * 10 + (c - '0');
  return value;
}

// "4", "04", "4日": 1 to 31.
bool ReadDayColumn(std::string_view column, int& day) {
  const std::string_view number = WithoutSign(column, kDaySigns);
  if (number.size() > 2 || !AllDigits(number)) return false;
  day = DigitsValue(number);
  return day >= 1 && day <= 31;
}

// "2021": a year of four digits.
bool ReadYearColumn(std::string_view column, int& year) {
  if (column.size() != 4 || !AllDigits(column)) return false;
  year = DigitsValue(column);
  return true;
}

// "9:05", "23:59", and with seconds_allowed also "23:59:07" and
// "23:59:07.000000000" (the seconds are not kept). Whether hour and minute
// are in range is the date encoder's to say.
bool ReadTimeColumn(std::string_view column, bool seconds_allowed, int& hour, int& minute) {
  const size_t colon = column.find(':');
  if (colon == std::string_view::npos || colon == 0 || colon > 2) return false;
  const std::string_view hours = column.substr(0, colon);
  std::string_view rest = column.substr(colon + 1);
  if (!AllDigits(hours) || rest.size() < 2 || !AllDigits(rest.substr(0, 2))) return false;
  const std::string_view minutes = rest.substr(0, 2);
  rest.remove_prefix(2);
  if (!rest.empty()) {
    if (!seconds_allowed || rest.size() < 3 || rest[0] != ':' || !AllDigits(rest.substr(1, 2))) return false;
    rest.remove_prefix(3);
    if (!rest.empty() && (rest[0] != '.' || !AllDigits(rest.substr(1)))) return false;
  }
  hour = DigitsValue(hours);
  minute = DigitsValue(minutes);
  return true;
}

// "2021-07-04", as ls --time-style=long-iso and full-iso write it.
bool ReadIsoDateColumn(std::string_view column, int& year, int& month, int& day) {
  if (column.size() != 10 || column[4] != '-' || column[7] != '-') return false;
  const std::string_view y = column.substr(0, 4), m = column.substr(5, 2), d = column.substr(8, 2);
  if (!AllDigits(y) || !AllDigits(m) || !AllDigits(d)) return false;
  year = DigitsValue(y);
  month = DigitsValue(m);
  day = DigitsValue(d);
  return true;
}

// "+0800", "-0500": the time zone of ls --time-style=full-iso.
bool IsZoneColumn(std::string_view column) {
  return column.size() == 5 && (column[0] == '+' || column[0] == '-') && AllDigits(column.substr(1));
}

// ls's type letters (file, folder, link, character and block device, pipe,
// socket) and rights, the set-user, set-group and sticky marks included;
// upper-cased text.
bool PassesPermissionsTest(std::string_view upper) {
  if (upper.size() < 10) return false;
  if (std::string_view("-DLCBPS").find(upper[0]) == std::string_view::npos) return false;
  for (size_t i = 1; i < 10; ++i) {
    const char c = upper[i];
    if (c == '-' || c == 'R' || c == 'W' || c == 'X') continue;
    if (c == 'S' && (i == 3 || i == 6)) continue;
    if (c == 'T' && i == 9) continue;
    return false;
  }
  return true;
}

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Reads a Unix line column by column: a column is a run of bytes up to the
// next space, trimmed (a tab-only run gives an empty column); runs of spaces
// count as one.
class ColumnReader {
 public:
  explicit ColumnReader(std::string_view line) : line_(line) {}

  // The next column; false when only spaces are left.
  bool Next(std::string_view& column) {
    const size_t begin = SkipSpaces();
    if (begin == line_.size()) return false;
    at_ = std::min(line_.find(' ', begin), line_.size());
    column = Trim(line_.substr(begin, at_ - begin));
    start_ = begin;
    return true;
  }

  // Where the column Next gave last begins in the line, before trimming.
  size_t Start() const { return start_; }

  // The text from the next column on, as it stands in the line.
  std::string_view Rest() { return line_.substr(SkipSpaces()); }

 private:
  size_t SkipSpaces() {
    size_t at = at_;
    while (at < line_.size() && line_[at] == ' ') ++at;
    at_ = at;
    return at;
  }

  std::string_view line_;
  size_t at_ = 0;
  size_t start_ = 0;
};

// The name columns of a Unix line (text starts at the first of them and
// ends with the line) joined by single spaces. Usually that is text itself:
// then the view into text comes back and nothing is copied. Otherwise
// (several spaces in a row, or blanks and control characters at the edge of
// a column) the name is joined in scratch.
std::string_view JoinNameColumns(std::string_view text, std::string& scratch) {
  bool as_is = !text.empty() && !IsControlOrSpace(text.front()) && !IsControlOrSpace(text.back());
  // With blank-free ends, no space is the first or the last byte.
  for (size_t space = text.find(' '); as_is && space != std::string_view::npos; space = text.find(' ', space + 1)) {
    as_is = !IsControlOrSpace(text[space - 1]) && !IsControlOrSpace(text[space + 1]);
  }
  if (as_is) return text;
  scratch.clear();
  ColumnReader reader(text);
  std::string_view column;
  for (bool first = true; reader.Next(column); first = false) {
    if (!first) scratch.push_back(' ');
    scratch.append(column);
  }
  return scratch;
}

// "07-04-21" or "07-04-2021" at the start of a DOS line (upper-cased or
// not): the length of the date, 0 when there is none. The year has four
// digits only when a blank or the end of the line follows them.
size_t DosDateLength(std::string_view line) {
  auto digit = [&line](size_t i) { return i < line.size() && IsDigit(line[i]); };
  auto separator = [&line](size_t i) { return i < line.size() && (line[i] == '-' || line[i] == '/'); };
  if (!digit(0) || !digit(1) || !separator(2) || !digit(3) || !digit(4) || !separator(5) || !digit(6) || !digit(7)) {
    return 0;
  }
  if (digit(8) && digit(9) && (line.size() == 10 || IsControlOrSpace(line[10]))) return 10;
  return 8;
}

// Whether an upper-cased line is a DOS line told by its tokens rather than by
// fixed columns: a date, a time ("11:59PM", "23:59"), "<DIR>" or a size
// (digits and commas), and a name. Servers that write four-digit years,
// 24-hour times or sizes of more than eight digits move the columns the
// fixed test looks at.
bool IsDosLineByTokens(std::string_view upper) {
  const size_t date_length = DosDateLength(upper);
  if (date_length == 0 || (date_length < upper.size() && upper[date_length] != ' ')) return false;
  ColumnReader reader(upper.substr(date_length));
  std::string_view time;
  std::string_view size;
  if (!reader.Next(time) || !reader.Next(size) || reader.Rest().empty()) return false;
  if (time.size() > 2 && (time.substr(time.size() - 2) == "AM" || time.substr(time.size() - 2) == "PM")) {
    time.remove_suffix(2);
  }
  int hour = 0;
  int minute = 0;
  if (!ReadTimeColumn(time, false, hour, minute)) return false;
  if (size == "<DIR>") return true;
  if (size.find_first_not_of("0123456789,") != std::string_view::npos) return false;
  const std::string digits = WithoutCommas(size);
  return !digits.empty() && settings::ScanInt64(digits).valid;
}

// A link's name split at its first " -> ": the target goes to LinkTarget and
// the name before the arrow comes back. A link listed without its target
// keeps the whole name, and so does one whose arrow stands at the very start
// (it would leave no name).
std::string_view SplitLinkTarget(TIdFTPListItem& Entry, std::string_view name) {
  // A space is never the second byte of a GBK character, so the first
  // " -> " a plain search finds is the one net::FindToken finds.
  const size_t arrow = name.find(" -> ");
  if (arrow == std::string_view::npos || arrow == 0) {
    Entry.LinkTarget.clear();
    return name;
  }
  Entry.LinkTarget.assign(name.substr(arrow + 4));
  return name.substr(0, arrow);
}

// A Unix entry's name, a link's without its target.
inline void AssignUnixName(TIdFTPListItem& Entry, std::string_view name) {
  Entry.EntryName.assign(Entry.EntryKind == litSymbolicLink ? SplitLinkTarget(Entry, name) : name);
}

// The date of a Unix line from its day column and its year-or-time column,
// the month known: false for a date or time that does not exist.
// current_date gives today (year, month, day); it is asked only when the
// line leaves the day or the year to it.
template <typename CurrentDate>
bool ReadUnixDate(std::string_view day_column, std::string_view year_or_time, int month, bool without_year,
                  const CurrentDate& current_date, double& date, double& time) {
  bool have_today = false;
  decltype(current_date()) now{};
  auto today = [&]() {
    if (!have_today) {
      now = current_date();
      have_today = true;
    }
  };

  // "2日": no number ends in a byte above 0x7F, so only such a column can
  // carry the day sign.
  if (!day_column.empty() && static_cast<unsigned char>(day_column.back()) >= 0x80) {
    day_column = WithoutSign(day_column, kDaySigns);
  }
  int32_t day = 0;
  if (!TryReadInt32(day_column, day)) {
    today();
    day = now.day;
  }
  int32_t year = 0;
  int32_t hour = 0;
  int32_t minute = 0;
  const size_t colon = year_or_time.find(':');  // ':' is below 0x40: no GBK trail byte
  if (without_year) {
    today();
    year = RecentYear(month, now.year, now.month);
  } else if (colon != std::string_view::npos) {
    today();
    year = RecentYear(month, now.year, now.month);
    hour = ReadInt32(year_or_time.substr(0, colon), 0);
    minute = ReadInt32(year_or_time.substr(colon + 1), 0);
  } else if (!TryReadInt32(year_or_time, year)) {
    today();
    year = now.year;
  }
  // Year, day, hour and minute are 16-bit unsigned fields: only the low 16
  // bits of what the line says count.
  return platform::TryEncodeDate(static_cast<uint16_t>(year), month, static_cast<uint16_t>(day), date) &&
         platform::TryEncodeTime(static_cast<uint16_t>(hour), static_cast<uint16_t>(minute), 0, 999, time);
}

// "month/day/year time" for the DOS date rule, put together on the stack
// when it is short (it nearly always is) and on the heap otherwise.
bool ReadDosDate(std::string_view month, std::string_view day, std::string_view year, std::string_view time,
                 int current_year, double& result) {
  const std::string_view parts[] = {month, "/", day, "/", year, " ", time};
  size_t length = 0;
  for (std::string_view part : parts) length += part.size();
  char on_stack[64];
  std::string on_heap;
  char* text = on_stack;
  if (length > sizeof on_stack) {
    on_heap.resize(length);
    text = on_heap.data();
  }
  char* out = text;
  for (std::string_view part : parts) out = std::copy(part.begin(), part.end(), out);
  return TryParseDosDate(std::string_view(text, length), current_year, result);
}

}  // namespace

void TIdFTPListItem::CopyValuesFrom(const TIdFTPListItem& source) {
  if (&source == this) return;
  EntrySize = source.EntrySize;
  LinkCount = source.LinkCount;
  RawLine = source.RawLine;
  EntryName = source.EntryName;
  GroupRights = source.GroupRights;
  GroupText = source.GroupText;
  OwnerRights = source.OwnerRights;
  OwnerText = source.OwnerText;
  OtherRights = source.OtherRights;
  ModifiedAt = source.ModifiedAt;
  LinkTarget = source.LinkTarget;
  EntryKind = source.EntryKind;
}

TIdFTPListItems::TIdFTPListItems() : clock_(&platform::Now) {}

TIdFTPListItems::~TIdFTPListItems() = default;

TIdFTPListItem& TIdFTPListItems::AddEntry() {
  if (count_ == blocks_.size() * kBlockSize) {
    // Reserved before it joins the list: a block without its full room must
    // never take entries, or it would move them as it grows.
    std::vector<TIdFTPListItem> block;
    block.reserve(kBlockSize);
    blocks_.push_back(std::move(block));
  }
  TIdFTPListItem& entry = blocks_.back().emplace_back();
  ++count_;
  return entry;
}

TIdFTPListItem& TIdFTPListItems::Items(int index) {
  if (index < 0 || static_cast<size_t>(index) >= count_) throw std::out_of_range("List index out of bounds");
  return blocks_[static_cast<size_t>(index) / kBlockSize][static_cast<size_t>(index) % kBlockSize];
}

const TIdFTPListItem& TIdFTPListItems::Items(int index) const {
  return const_cast<TIdFTPListItems*>(this)->Items(index);
}

void TIdFTPListItems::RemoveAll() {
  blocks_.clear();
  count_ = 0;
}

void TIdFTPListItems::RemoveLastEntry() {
  // An emptied block stays: AddEntry fills it again.
  blocks_[(count_ - 1) / kBlockSize].pop_back();
  --count_;
}

void TIdFTPListItems::SetClock(ClockFunction clock) {
  clock_ = clock ? std::move(clock) : ClockFunction(&platform::Now);
}

TIdFTPListItems::Today TIdFTPListItems::CurrentDate() const {
  if (listing_date_set_) return listing_date_;
  Today today;
  platform::DecodeDate(clock_(), today.year, today.month, today.day);
  return today;
}

TIdFTPListFormat TIdFTPListItems::DetectFormat(const std::string& Line, bool Details) {
  if (!Details) return flfNoDetails;
  const std::string upper = UpperCase(Line);
  if (PassesPermissionsTest(upper)) return flfUnix;
  if (StartsWithUpper(upper, "TOTAL")) return flfUnix;
  if (net::FindToken(upper, "DSK:") != std::string::npos) return flfVax;

  // DOS: "-" or "/" at characters 3 and 6, then "<DIR>" in characters 25-30
  // or, with those blank, a size in characters 31-38; failing that, the
  // tokens of a DOS line wherever they stand.
  auto is_separator = [&upper](size_t index) {
    return index < upper.size() && (upper[index] == '-' || upper[index] == '/');
  };
  if (!is_separator(2) || !is_separator(5)) return flfUnknown;
  const std::string_view dir_column = Trim(Piece(upper, 24, 6));
  if (dir_column == "<DIR>") return flfDos;
  if (dir_column.empty()) {
    const settings::IntegerScan size = settings::ScanInt64(WithoutCommas(Trim(Piece(upper, 30, 8))));
    if (size.valid && size.value != -1) return flfDos;
  }
  return IsDosLineByTokens(upper) ? flfDos : flfUnknown;
}

void TIdFTPListItems::ParseCustomLine(TIdFTPListItem& Entry) {
  if (!OnParseCustomListFormat) throw EIdInvalidFTPListingFormat();
  OnParseCustomListFormat(Entry);
}

void TIdFTPListItems::ParseListing(const std::vector<std::string>& Lines) {
  RemoveAll();
  skipped_lines_ = 0;
  size_t first = 0;
  if (DetectedFormat == flfUnix && !Lines.empty() && StartsWithUpper(Lines[0], "TOTAL")) first = 1;
  blocks_.reserve((Lines.size() - first) / kBlockSize + 1);
  listing_date_set_ = false;
  listing_date_ = CurrentDate();
  listing_date_set_ = true;
  struct DateReset {
    bool& flag;
    ~DateReset() { flag = false; }
  } reset{listing_date_set_};
  for (size_t i = first; i < Lines.size(); ++i) {
    const std::string& line = Lines[i];
    if (IsBlankLine(line)) continue;
    TIdFTPListItem& entry = AddEntry();
    entry.RawLine.assign(line);
    if (DetectedFormat == flfNone) continue;
    try {
      ParseLine(entry, line);
    } catch (...) {
      // One line the parser cannot read (a device, a layout of its own, a
      // damaged line) costs that line alone.
      RemoveLastEntry();
      ++skipped_lines_;
    }
  }
}

void TIdFTPListItems::ParseEntry(TIdFTPListItem& Entry) { ParseLine(Entry, Entry.RawLine); }

void TIdFTPListItems::ParseLine(TIdFTPListItem& Entry, std::string_view raw_line) {
  switch (DetectedFormat) {
    case flfNone:
      return;
    case flfDos:
      ParseDosLine(Entry, raw_line);
      return;
    case flfUnix:
    case flfVax:
      ParseUnixLine(Entry, raw_line);
      return;
    case flfNoDetails:
      Entry.EntryName.assign(Trim(raw_line));
      return;
    case flfCustom:
      ParseCustomLine(Entry);
      return;
    case flfUnknown:
      break;
  }
  throw EIdInvalidFTPListingFormat();
}

// "01-15-08  10:30AM       <DIR>          Update Files"
// "01-15-08  10:30AM              1,234,567 setup.exe"
// "07-04-2021  23:59       <DIR>          Reports" (four-digit year)
void TIdFTPListItems::ParseDosLine(TIdFTPListItem& Entry, std::string_view raw_line) {
  const std::string_view line = raw_line;
  // Most lines have a blank after a two-digit year: that is looked at first.
  const bool long_year = line.size() >= 10 && IsDigit(line[8]) && DosDateLength(line) == 10;
  const size_t year_length = long_year ? 4 : 2;
  std::string_view rest = Trim(Piece(line, 6 + year_length, std::string_view::npos));
  const std::string_view time = TakeByteToken(rest, ' ');
  rest = Trim(rest);
  std::string size_scratch;
  const std::string_view size_token = WithoutCommas(TakeByteToken(rest, ' '), size_scratch);
  const bool directory = EqualsUpper(size_token, "<DIR>");

  Entry.EntryName.assign(Trim(rest));
  Entry.EntryKind = directory ? litDirectory : litFile;
  Entry.EntrySize = directory ? 0 : ReadInt64(size_token, 0);
  double modified = 0;
  const bool dated = ReadDosDate(Piece(line, 0, 2), Piece(line, 3, 2), Piece(line, 6, year_length), time,
                                 CurrentDate().year, modified);
  Entry.ModifiedAt = dated ? modified : 0;
}

// "-rw-r--r--   1 ftp      ftp        1024 Mar  5 14:30 read me.txt"
// "lrwxrwxrwx 1 root root 7 Jan 1 2005 bin -> usr/bin"
// "drwxr-xr-x 2 ftp 512 Jan 01 12:00 pub" (no owner column)
// "-rw-r--r-- 1 ftp ftp 1024 3月  2 10:15 9.inf" (a Chinese locale's months)
void TIdFTPListItems::ParseUnixLine(TIdFTPListItem& Entry, std::string_view raw_line) {
  // Columns: split at single spaces, runs of spaces count as one; each
  // column is trimmed and kept even when that leaves it empty (a tab). The
  // first eight are the fixed columns, whatever follows is the name.
  const std::string_view line = Trim(raw_line);
  ColumnReader reader(line);
  std::string_view columns[8];
  for (std::string_view& column : columns) {
    if (!reader.Next(column)) {
      if (ParseUnixLineAroundDate(Entry, line)) return;
      throw EIdInvalidFTPListLine("Too few columns in listing line");
    }
  }
  std::string_view name_columns = reader.Rest();
  bool without_year = false;
  if (name_columns.empty()) {
    int32_t number = 0;
    if (!columns[4].empty() && IsAsciiLetter(columns[4][0])) {
      // Eight columns with a month in the fifth: the owner column is
      // missing, and the last column is the name.
      name_columns = columns[7];
      for (size_t i = 7; i > 2; --i) columns[i] = columns[i - 1];
      columns[2] = std::string_view();
    } else if (columns[7].find(':') == std::string_view::npos && !TryReadInt32(columns[7], number)) {
      // "80284 Aug 22  name.tar.gz": no year, and the last column is the name.
      name_columns = columns[7];
      without_year = true;
    }
  }

  const std::string_view mode = columns[0];
  const char type = mode.empty() ? '\0' : UpperAscii(mode[0]);
  Entry.OwnerRights.assign(Piece(mode, 1, 3));
  Entry.GroupRights.assign(Piece(mode, 4, 3));
  Entry.OtherRights.assign(Piece(mode, 7, 3));
  Entry.LinkCount = ReadInt32(columns[1], 0);
  Entry.OwnerText.assign(columns[2]);
  Entry.GroupText.assign(columns[3]);
  Entry.EntryKind = type == 'D' ? litDirectory : type == 'L' ? litSymbolicLink : litFile;
  Entry.EntrySize = ReadInt64(columns[4], 0);
  const int month = MonthNumber(columns[5]);
  double date = 0;
  double time = 0;
  if (month == 0 || name_columns.empty() ||
      !ReadUnixDate(columns[6], columns[7], month, without_year, [this] { return CurrentDate(); }, date, time)) {
    // Not where these columns usually are: an ISO date, a group name with a
    // space, a missing column. Read so, the line gives every field anew;
    // otherwise the entry keeps the columns read so far, and the line fails.
    if (ParseUnixLineAroundDate(Entry, line)) return;
    throw EIdInvalidFTPListLine(name_columns.empty() ? "No name in listing line" : "Invalid date in listing line");
  }
  Entry.ModifiedAt = date + time;
  std::string name_scratch;
  AssignUnixName(Entry, JoinNameColumns(name_columns, name_scratch));
}

// "-rw-r--r--   1 ftp  Domain Users   1024 Jul  4 23:59 9.inf"
// "-rw-r--r--   1 ftp  ftp   1024 2021-07-04 23:59 9.inf"
// "-rw-r--r--   1 ftp  ftp   1024 2021-07-04 23:59:07.000000000 +0800 9.inf"
// The first date from the left that stands after the mode, the link count
// and a size decides: the column before it is the size, the columns between
// the link count and the size are the owner and the group, the columns after
// it are the name. The date's columns are read strictly here, as any column
// that happens to hold a month name might be taken for one.
bool TIdFTPListItems::ParseUnixLineAroundDate(TIdFTPListItem& Entry, std::string_view line) {
  // A device lists "major, minor" where the size stands, and there is no
  // file to fetch.
  const char type = line.empty() ? '\0' : UpperAscii(line[0]);
  if (type == 'B' || type == 'C') return false;

  // The date is looked for among the first columns only; the others are
  // counted (a name of one column is told by being the last).
  struct Column {
    size_t start;  // in the line, before trimming
    std::string_view text;
  };
  constexpr size_t kKept = 32;
  Column columns[kKept];
  size_t count = 0;
  ColumnReader reader(line);
  for (std::string_view text; reader.Next(text); ++count) {
    if (count < kKept) columns[count] = Column{reader.Start(), text};
  }

  for (size_t at = 3; at + 3 < kKept && at + 1 < count; ++at) {
    if (!AllDigits(columns[at - 1].text)) continue;
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    size_t name_at = 0;
    if (ReadIsoDateColumn(columns[at].text, year, month, day)) {
      if (!ReadTimeColumn(columns[at + 1].text, true, hour, minute)) continue;
      name_at = at + 2;
      if (name_at < count && IsZoneColumn(columns[name_at].text)) ++name_at;
    } else {
      month = MonthNumber(columns[at].text);
      if (month == 0 || !ReadDayColumn(columns[at + 1].text, day) || at + 2 >= count) continue;
      const std::string_view third = columns[at + 2].text;
      const Today now = CurrentDate();
      int32_t number = 0;
      if (ReadTimeColumn(third, false, hour, minute)) {
        year = RecentYear(month, now.year, now.month);
        name_at = at + 3;
      } else if (ReadYearColumn(third, year)) {
        name_at = at + 3;
      } else if (at + 3 == count && third.find(':') == std::string_view::npos && !TryReadInt32(third, number)) {
        // No year, and the last column is the name.
        year = RecentYear(month, now.year, now.month);
        name_at = at + 2;
      } else {
        continue;
      }
    }
    double date = 0;
    double time = 0;
    if (name_at >= count || !platform::TryEncodeDate(year, month, day, date) ||
        !platform::TryEncodeTime(hour, minute, 0, 999, time)) {
      continue;
    }

    const std::string_view mode = columns[0].text;
    Entry.OwnerRights.assign(Piece(mode, 1, 3));
    Entry.GroupRights.assign(Piece(mode, 4, 3));
    Entry.OtherRights.assign(Piece(mode, 7, 3));
    Entry.LinkCount = ReadInt32(columns[1].text, 0);
    // One column there is the group, as with the eight-column lines; of
    // several, the first is the owner and the others the group's name.
    const size_t first_group = at - 3 >= 2 ? 3 : 2;
    Entry.OwnerText.assign(at - 3 >= 2 ? columns[2].text : std::string_view());
    Entry.GroupText.clear();
    for (size_t i = first_group; i + 1 < at; ++i) {
      if (i > first_group) Entry.GroupText.push_back(' ');
      Entry.GroupText.append(columns[i].text);
    }
    Entry.EntryKind = type == 'D' ? litDirectory : type == 'L' ? litSymbolicLink : litFile;
    Entry.EntrySize = ReadInt64(columns[at - 1].text, 0);
    Entry.ModifiedAt = date + time;
    std::string name_scratch;
    AssignUnixName(Entry, JoinNameColumns(line.substr(columns[name_at].start), name_scratch));
    return true;
  }
  return false;
}

}  // namespace ftp
