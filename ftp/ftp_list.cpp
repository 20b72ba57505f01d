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

// 1 to 12 for the English month abbreviations in any letter case, else 0.
int MonthNumber(std::string_view column) {
  if (column.size() != 3) return 0;
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

bool PassesPermissionsTest(std::string_view upper) {
  if (upper.size() < 10) return false;
  if (upper[0] != '-' && upper[0] != 'D' && upper[0] != 'L') return false;
  for (size_t i = 1; i < 10; ++i) {
    const char c = upper[i];
    if (c != '-' && c != 'R' && c != 'W' && c != 'X') return false;
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
    return true;
  }

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
  // or, with those blank, a size in characters 31-38.
  auto is_separator = [&upper](size_t index) {
    return index < upper.size() && (upper[index] == '-' || upper[index] == '/');
  };
  if (!is_separator(2) || !is_separator(5)) return flfUnknown;
  const std::string_view dir_column = Trim(Piece(upper, 24, 6));
  if (dir_column == "<DIR>") return flfDos;
  if (!dir_column.empty()) return flfUnknown;
  const settings::IntegerScan size = settings::ScanInt64(WithoutCommas(Trim(Piece(upper, 30, 8))));
  return (size.valid && size.value != -1) ? flfDos : flfUnknown;
}

void TIdFTPListItems::ParseCustomLine(TIdFTPListItem& Entry) {
  if (!OnParseCustomListFormat) throw EIdInvalidFTPListingFormat();
  OnParseCustomListFormat(Entry);
}

void TIdFTPListItems::ParseListing(const std::vector<std::string>& Lines) {
  RemoveAll();
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
      // A line that cannot be parsed drops what came before it.
      RemoveAll();
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
void TIdFTPListItems::ParseDosLine(TIdFTPListItem& Entry, std::string_view raw_line) {
  const std::string_view line = raw_line;
  std::string_view rest = Trim(Piece(line, 8, std::string_view::npos));
  const std::string_view time = TakeByteToken(rest, ' ');
  rest = Trim(rest);
  std::string size_scratch;
  const std::string_view size_token = WithoutCommas(TakeByteToken(rest, ' '), size_scratch);
  const bool directory = EqualsUpper(size_token, "<DIR>");

  Entry.EntryName.assign(Trim(rest));
  Entry.EntryKind = directory ? litDirectory : litFile;
  Entry.EntrySize = directory ? 0 : ReadInt64(size_token, 0);
  double modified = 0;
  const bool dated =
      ReadDosDate(Piece(line, 0, 2), Piece(line, 3, 2), Piece(line, 6, 2), time, CurrentDate().year, modified);
  Entry.ModifiedAt = dated ? modified : 0;
}

// "-rw-r--r--   1 ftp      ftp        1024 Mar  5 14:30 read me.txt"
// "lrwxrwxrwx 1 root root 7 Jan 1 2005 bin -> usr/bin"
// "drwxr-xr-x 2 ftp 512 Jan 01 12:00 pub" (no owner column)
void TIdFTPListItems::ParseUnixLine(TIdFTPListItem& Entry, std::string_view raw_line) {
  // Columns: split at single spaces, runs of spaces count as one; each
  // column is trimmed and kept even when that leaves it empty (a tab). The
  // first eight are the fixed columns, whatever follows is the name.
  ColumnReader reader(Trim(raw_line));
  std::string_view columns[8];
  for (std::string_view& column : columns) {
    if (!reader.Next(column)) throw EIdInvalidFTPListLine("Too few columns in listing line");
  }
  std::string_view name_columns = reader.Rest();
  if (name_columns.empty() && !columns[4].empty() && IsAsciiLetter(columns[4][0])) {
    // Eight columns with a month in the fifth: the owner column is missing,
    // and the last column is the name.
    name_columns = columns[7];
    for (size_t i = 7; i > 2; --i) columns[i] = columns[i - 1];
    columns[2] = std::string_view();
  }

  const std::string_view mode = columns[0];
  const char type = mode.empty() ? '\0' : UpperAscii(mode[0]);
  Entry.OwnerRights.assign(Piece(mode, 1, 3));
  Entry.GroupRights.assign(Piece(mode, 4, 3));
  Entry.OtherRights.assign(Piece(mode, 7, 3));
  Entry.LinkCount = ReadInt32(columns[1], 0);
  Entry.OwnerText.assign(columns[2]);
  Entry.GroupText.assign(columns[3]);
  const std::string_view size_text = columns[4];
  const int month = MonthNumber(columns[5]);

  // Today is looked up only when the line leaves the day or the year to it.
  bool have_today = false;
  Today now;
  auto today = [&]() {
    if (!have_today) {
      now = CurrentDate();
      have_today = true;
    }
  };

  int32_t day = 0;
  if (!TryReadInt32(columns[6], day)) {
    today();
    day = now.day;
  }
  int32_t year = 0;
  int32_t hour = 0;
  int32_t minute = 0;
  const std::string_view year_or_time = columns[7];
  const size_t colon = year_or_time.find(':');  // ':' is below 0x40: no GBK trail byte
  if (colon != std::string_view::npos) {
    today();
    year = now.month < month ? now.year - 1 : now.year;
    hour = ReadInt32(year_or_time.substr(0, colon), 0);
    minute = ReadInt32(year_or_time.substr(colon + 1), 0);
  } else if (!TryReadInt32(year_or_time, year)) {
    today();
    year = now.year;
  }

  Entry.EntryKind = type == 'D' ? litDirectory : type == 'L' ? litSymbolicLink : litFile;
  Entry.EntrySize = ReadInt64(size_text, 0);

  // Year, day, hour and minute are 16-bit unsigned fields: only the low 16
  // bits of what the line says count.
  double date = 0;
  double time = 0;
  if (!platform::TryEncodeDate(static_cast<uint16_t>(year), month, static_cast<uint16_t>(day), date) ||
      !platform::TryEncodeTime(static_cast<uint16_t>(hour), static_cast<uint16_t>(minute), 0, 999, time)) {
    throw EIdInvalidFTPListLine("Invalid date in listing line");
  }
  Entry.ModifiedAt = date + time;

  std::string name_scratch;
  std::string_view name = JoinNameColumns(name_columns, name_scratch);
  if (Entry.EntryKind == litSymbolicLink) {
    // A space is never the second byte of a GBK character, so the first
    // " -> " a plain search finds is the one net::FindToken finds.
    const size_t arrow = name.find(" -> ");
    if (arrow != std::string_view::npos) {
      Entry.LinkTarget.assign(name.substr(arrow + 4));
      name = name.substr(0, arrow);
    } else {
      // A link listed without its target: keep the whole name.
      Entry.LinkTarget.clear();
    }
  }
  Entry.EntryName.assign(name);
}

}  // namespace ftp
