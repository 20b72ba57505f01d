#include "settings/ini_file.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

#include "platform/date_time.h"
#include "platform/files.h"
#include "settings/profile.h"
#include "settings/integer_conversion.h"

namespace settings {
namespace {

constexpr int64_t kMsPerDay = 86400000;
// 0001-01-01 and 9999-12-31 as day numbers.
constexpr int64_t kFirstDay = -693593;
constexpr int64_t kLastDay = 2958465;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Reads min_digits to max_digits decimal digits at pos.
bool TakeNumber(const std::string& text, size_t& pos, size_t min_digits, size_t max_digits, int& value) {
  size_t count = 0;
  value = 0;
  while (pos < text.size() && count < max_digits && text[pos] >= '0' && text[pos] <= '9') {
    value = value * 10 + (text[pos] - '0');
    ++pos;
    ++count;
  }
  return count >= min_digits;
}

bool TakeChar(const std::string& text, size_t& pos, char c) {
  if (pos >= text.size() || text[pos] != c) return false;
  ++pos;
  return true;
}

// yyyy-mm-dd
bool ParseDate(const std::string& text, double& result) {
  size_t pos = 0;
  int year = 0, month = 0, day = 0;
  if (!TakeNumber(text, pos, 1, 4, year) || !TakeChar(text, pos, '-') ||
      !TakeNumber(text, pos, 1, 2, month) || !TakeChar(text, pos, '-') ||
      !TakeNumber(text, pos, 1, 2, day) || pos != text.size()) {
    return false;
  }
  return platform::TryEncodeDate(year, month, day, result);
}

// h:nn, h:nn:ss or h:nn:ss.zzz
bool ParseTime(const std::string& text, double& result) {
  size_t pos = 0;
  int hour = 0, minute = 0, second = 0, ms = 0;
  if (!TakeNumber(text, pos, 1, 2, hour) || !TakeChar(text, pos, ':') ||
      !TakeNumber(text, pos, 2, 2, minute)) {
    return false;
  }
  if (TakeChar(text, pos, ':')) {
    if (!TakeNumber(text, pos, 2, 2, second)) return false;
    if (TakeChar(text, pos, '.') && !TakeNumber(text, pos, 3, 3, ms)) return false;
  }
  return pos == text.size() && platform::TryEncodeTime(hour, minute, second, ms, result);
}

// Before 1899-12-30 the fraction still counts forward from midnight, so the
// time is taken away from a negative day number.
double Compose(double date, double time) { return date < 0 ? date - time : date + time; }

bool ParseDateTime(const std::string& text, double& result) {
  const size_t space = text.find(' ');
  if (space == std::string::npos) return ParseDate(text, result) || ParseTime(text, result);
  size_t time_begin = space;
  while (time_begin < text.size() && text[time_begin] == ' ') ++time_begin;
  double date = 0, time = 0;
  if (!ParseDate(text.substr(0, space), date) || !ParseTime(text.substr(time_begin), time)) return false;
  result = Compose(date, time);
  return true;
}

bool ParseFloat(const std::string& text, double& result) {
  size_t begin = 0;
  if (!text.empty() && text[0] == '+') {  // from_chars takes "-" only
    begin = 1;
    if (begin < text.size() && (text[begin] == '+' || text[begin] == '-')) return false;
  }
  double value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data() + begin, end, value);
  if (ec != std::errc() || ptr != end || !std::isfinite(value)) return false;
  result = value;
  return true;
}

// A value split into its day and its time of day, rounded to milliseconds.
struct DayAndTime {
  int64_t day = 0;
  int64_t ms = 0;
};

DayAndTime Split(double value) {
  if (!std::isfinite(value) || value < kFirstDay - 1 || value > kLastDay + 1) {
    throw EConvertError("Invalid date-time value");
  }
  DayAndTime split;
  split.day = static_cast<int64_t>(std::trunc(value));
  split.ms = std::llround(std::fabs(value - std::trunc(value)) * kMsPerDay);
  if (split.ms >= kMsPerDay) {
    split.ms -= kMsPerDay;
    split.day += value < 0 ? -1 : 1;
  }
  return split;
}

std::string FormatDay(int64_t day) {
  if (day < kFirstDay || day > kLastDay) throw EConvertError("Invalid date-time value");
  int year = 0, month = 0, mday = 0;
  platform::DecodeDate(static_cast<double>(day), year, month, mday);
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", year, month, mday);
  return text;
}

std::string FormatMs(int64_t ms) {
  char text[24];
  const int hour = static_cast<int>(ms / 3600000);
  const int minute = static_cast<int>(ms / 60000 % 60);
  const int second = static_cast<int>(ms / 1000 % 60);
  const int milli = static_cast<int>(ms % 1000);
  if (milli != 0) {
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", hour, minute, second, milli);
  } else {
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", hour, minute, second);
  }
  return text;
}

// Splits a listing buffer (names each ended by NUL) into the list.
void AddNames(const std::string& buffer, std::vector<std::string>& strings) {
  size_t pos = 0;
  while (pos < buffer.size() && buffer[pos] != '\0') {
    size_t end = buffer.find('\0', pos);
    if (end == std::string::npos) end = buffer.size();
    strings.push_back(buffer.substr(pos, end - pos));
    pos = end + 1;
  }
}

// The refusal of a write: the file, and the system's reason when there is one.
EIniFileException WriteRefused(const std::string& file_name, int error) {
  std::string message = "Unable to write to " + file_name;
  if (error != 0) message += ": " + platform::SystemErrorText(error);
  return EIniFileException(message);
}

}  // namespace

int32_t TCustomIniFile::ReadIntegerValue(const std::string& section, const std::string& ident,
                                         int32_t default_value) {
  std::string text = ReadTextValue(section, ident, "");
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text = "$" + text.substr(2);
  int32_t value = 0;
  return TryStrToInt32(text, value) ? value : default_value;
}

void TCustomIniFile::WriteIntegerValue(const std::string& section, const std::string& ident, int32_t value) {
  WriteTextValue(section, ident, std::to_string(value));
}

bool TCustomIniFile::ReadBoolValue(const std::string& section, const std::string& ident, bool default_value) {
  return ReadIntegerValue(section, ident, default_value ? 1 : 0) != 0;
}

void TCustomIniFile::WriteBoolValue(const std::string& section, const std::string& ident, bool value) {
  WriteTextValue(section, ident, value ? "1" : "0");
}

int64_t TCustomIniFile::ReadHexValue(const std::string& section, const std::string& ident,
                                     platform::Stream& stream) {
  const std::string text = ReadTextValue(section, ident, "");
  if (text.empty()) return 0;
  std::string bytes;
  bytes.reserve(text.size() / 2);
  for (size_t i = 0; i + 1 < text.size(); i += 2) {
    const int high = HexDigit(text[i]);
    const int low = HexDigit(text[i + 1]);
    if (high < 0 || low < 0) break;
    bytes += static_cast<char>(high * 16 + low);
  }
  const int64_t start = stream.Position();
  stream.Write(bytes.data(), bytes.size());
  return stream.Size() - start;
}

double TCustomIniFile::ReadDateValue(const std::string& section, const std::string& ident,
                                     double default_value) {
  double value = 0;
  return ParseDate(ReadTextValue(section, ident, ""), value) ? value : default_value;
}

double TCustomIniFile::ReadDateTimeValue(const std::string& section, const std::string& ident,
                                         double default_value) {
  double value = 0;
  return ParseDateTime(ReadTextValue(section, ident, ""), value) ? value : default_value;
}

double TCustomIniFile::ReadFloatValue(const std::string& section, const std::string& ident,
                                      double default_value) {
  double value = 0;
  return ParseFloat(ReadTextValue(section, ident, ""), value) ? value : default_value;
}

double TCustomIniFile::ReadTimeValue(const std::string& section, const std::string& ident,
                                     double default_value) {
  double value = 0;
  return ParseTime(ReadTextValue(section, ident, ""), value) ? value : default_value;
}

void TCustomIniFile::WriteHexValue(const std::string& section, const std::string& ident,
                                   platform::Stream& stream) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  char block[4096];
  while (const size_t n = stream.Read(block, sizeof block)) {
    for (size_t i = 0; i < n; ++i) {
      const unsigned char byte = static_cast<unsigned char>(block[i]);
      text += kDigits[byte >> 4];
      text += kDigits[byte & 0x0F];
    }
  }
  WriteTextValue(section, ident, text);
}

void TCustomIniFile::WriteDateValue(const std::string& section, const std::string& ident, double value) {
  if (!std::isfinite(value)) throw EConvertError("Invalid date-time value");
  WriteTextValue(section, ident, FormatDay(static_cast<int64_t>(std::trunc(value))));
}

void TCustomIniFile::WriteDateTimeValue(const std::string& section, const std::string& ident,
                                        double value) {
  const DayAndTime split = Split(value);
  WriteTextValue(section, ident, FormatDay(split.day) + " " + FormatMs(split.ms));
}

void TCustomIniFile::WriteFloatValue(const std::string& section, const std::string& ident, double value) {
  if (!std::isfinite(value)) throw EConvertError("Invalid floating point value");
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, value);
  WriteTextValue(section, ident, std::string(text, result.ptr));
}

void TCustomIniFile::WriteTimeValue(const std::string& section, const std::string& ident, double value) {
  const DayAndTime split = Split(value);
  WriteTextValue(section, ident, FormatMs(split.ms));
}

TIniFile::~TIniFile() {
  try {
    FlushFile();
  } catch (...) {
    // destruction always completes
  }
}

std::string TIniFile::ReadTextValue(const std::string& section, const std::string& ident,
                                    const std::string& default_value) {
  return ReadProfileString(FileName(), &section, &ident, default_value, kValueBufferSize);
}

void TIniFile::WriteTextValue(const std::string& section, const std::string& ident, const std::string& value) {
  int error = 0;
  if (!WriteProfileString(FileName(), &section, &ident, &value, &error)) throw WriteRefused(FileName(), error);
}

void TIniFile::ListKeys(const std::string& section, std::vector<std::string>& strings) {
  strings.clear();
  AddNames(ReadProfileString(FileName(), &section, nullptr, "", kListBufferSize), strings);
}

void TIniFile::ListSections(std::vector<std::string>& strings) {
  strings.clear();
  AddNames(ReadProfileString(FileName(), nullptr, nullptr, "", kListBufferSize), strings);
}

void TIniFile::ListKeyValues(const std::string& section, std::vector<std::string>& strings) {
  std::vector<std::string> keys;
  ListKeys(section, keys);
  strings.clear();
  for (const std::string& key : keys) strings.push_back(key + "=" + ReadTextValue(section, key, ""));
}

void TIniFile::RemoveSection(const std::string& section) {
  int error = 0;
  if (!WriteProfileString(FileName(), &section, nullptr, nullptr, &error)) throw WriteRefused(FileName(), error);
}

void TIniFile::RemoveKey(const std::string& section, const std::string& ident) {
  WriteProfileString(FileName(), &section, &ident, nullptr);
}

void TIniFile::FlushFile() { WriteProfileString(FileName(), nullptr, nullptr, nullptr); }

TIniFileSnapshot::TIniFileSnapshot(std::string file_name) : file_name_(std::move(file_name)), snapshot_(file_name_) {}

std::string TIniFileSnapshot::ReadTextValue(const std::string& section, const std::string& ident,
                                            const std::string& default_value) const {
  return snapshot_.Read(&section, &ident, default_value, TIniFile::kValueBufferSize);
}

void TIniFileSnapshot::ListSections(std::vector<std::string>& strings) const {
  strings.clear();
  AddNames(snapshot_.Read(nullptr, nullptr, "", TIniFile::kListBufferSize), strings);
}

void TIniFileSnapshot::ListAllSections(std::vector<std::string>& strings) const {
  strings.clear();
  AddNames(snapshot_.Read(nullptr, nullptr, "", std::numeric_limits<size_t>::max()), strings);
}

void TIniFileSnapshot::ListKeys(const std::string& section, std::vector<std::string>& strings) const {
  strings.clear();
  AddNames(snapshot_.Read(&section, nullptr, "", TIniFile::kListBufferSize), strings);
}

}  // namespace settings
