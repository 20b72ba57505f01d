#include "ftp/ftp_list.h"

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
  static constexpr std::string_view kMonths[12] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                                   "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
  if (column.size() != 3) return 0;
  for (int m = 0; m < 12; ++m) {
    if (StartsWithUpper(column, kMonths[m])) return m + 1;
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
  if (count_ == blocks_.size() * kBlockSize) blocks_.push_back(std::make_unique<TIdFTPListItem[]>(kBlockSize));
  TIdFTPListItem& entry = blocks_[count_ / kBlockSize][count_ % kBlockSize];
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
    entry.RawLine = line;
    if (DetectedFormat == flfNone) continue;
    try {
      ParseEntry(entry);
    } catch (...) {
      // A line that cannot be parsed drops what came before it.
      RemoveAll();
    }
  }
}

void TIdFTPListItems::ParseEntry(TIdFTPListItem& Entry) {
  switch (DetectedFormat) {
    case flfNone:
      return;
    case flfDos:
      ParseDosLine(Entry);
      return;
    case flfUnix:
    case flfVax:
      ParseUnixLine(Entry);
      return;
    case flfNoDetails:
      Entry.EntryName = std::string(Trim(Entry.RawLine));
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
void TIdFTPListItems::ParseDosLine(TIdFTPListItem& Entry) {
  const std::string_view line = Entry.RawLine;
  std::string date;
  date.reserve(24);
  date.append(Piece(line, 0, 2)).append("/").append(Piece(line, 3, 2)).append("/");
  date.append(Piece(line, 6, 2)).append(" ");

  std::string_view rest = Trim(Piece(line, 8, std::string_view::npos));
  date.append(TakeByteToken(rest, ' '));
  rest = Trim(rest);
  const std::string size_token = WithoutCommas(TakeByteToken(rest, ' '));
  const bool directory = UpperCase(size_token) == "<DIR>";

  Entry.EntryName = std::string(Trim(rest));
  Entry.EntryKind = directory ? litDirectory : litFile;
  Entry.EntrySize = directory ? 0 : settings::StrToInt64Def(size_token, 0);
  double modified = 0;
  Entry.ModifiedAt = TryParseDosDate(date, CurrentDate().year, modified) ? modified : 0;
}

// "-rw-r--r--   1 ftp      ftp        1024 Mar  5 14:30 read me.txt"
// "lrwxrwxrwx 1 root root 7 Jan 1 2005 bin -> usr/bin"
// "drwxr-xr-x 2 ftp 512 Jan 01 12:00 pub" (no owner column)
void TIdFTPListItems::ParseUnixLine(TIdFTPListItem& Entry) {
  // Columns: split at single spaces, runs of spaces count as one; each
  // column is trimmed and kept even when that leaves it empty (a tab).
  columns_.clear();
  const std::string_view line = Trim(Entry.RawLine);
  size_t at = 0;
  while (at < line.size()) {
    if (line[at] == ' ') {
      ++at;
      continue;
    }
    const size_t begin = at;
    while (at < line.size() && line[at] != ' ') ++at;
    columns_.push_back(Trim(line.substr(begin, at - begin)));
  }
  if (columns_.size() == 8 && !columns_[4].empty() && IsAsciiLetter(columns_[4][0])) {
    columns_.insert(columns_.begin() + 2, std::string_view());
  }
  if (columns_.size() < 8) throw EIdInvalidFTPListLine("Too few columns in listing line");

  const std::string_view mode = columns_[0];
  const char type = mode.empty() ? '\0' : UpperAscii(mode[0]);
  Entry.OwnerRights = std::string(Piece(mode, 1, 3));
  Entry.GroupRights = std::string(Piece(mode, 4, 3));
  Entry.OtherRights = std::string(Piece(mode, 7, 3));
  Entry.LinkCount = ReadInt32(columns_[1], 0);
  Entry.OwnerText = std::string(columns_[2]);
  Entry.GroupText = std::string(columns_[3]);
  const std::string_view size_text = columns_[4];
  const int month = MonthNumber(columns_[5]);

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
  if (!TryReadInt32(columns_[6], day)) {
    today();
    day = now.day;
  }
  int32_t year = 0;
  int32_t hour = 0;
  int32_t minute = 0;
  const std::string_view year_or_time = columns_[7];
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

  std::string name;
  if (columns_.size() > 8) {
    name.assign(columns_[8]);
    for (size_t i = 9; i < columns_.size(); ++i) name.append(" ").append(columns_[i]);
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

  if (Entry.EntryKind == litSymbolicLink) {
    const size_t arrow = net::FindToken(name, " -> ");
    if (arrow != std::string::npos) {
      Entry.LinkTarget = name.substr(arrow + 4);
      name.resize(arrow);
    } else {
      // A link listed without its target: keep the whole name.
      Entry.LinkTarget.clear();
    }
  }
  Entry.EntryName = std::move(name);
}

}  // namespace ftp
