#include "app/release_comment.h"

#include <array>
#include <cstdio>
#include <vector>

namespace app {
namespace {

constexpr std::array<std::string_view, 4> kDescriptorFields = {"product", "release", "path", "previous"};
constexpr std::array<std::string_view, 6> kVersionFields = {"product", "release", "path",
                                                            "expires", "newest",  "newest_hash"};

bool NeedsEscape(unsigned char c) { return c <= ' ' || c > '~' || c == '%' || c == '='; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string Escape(std::string_view value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (const char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    if (NeedsEscape(byte)) {
      text.push_back('%');
      text.push_back(kDigits[byte >> 4]);
      text.push_back(kDigits[byte & 15]);
    } else {
      text.push_back(c);
    }
  }
  return text;
}

std::optional<std::string> Unescape(std::string_view text) {
  std::string value;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      if (NeedsEscape(static_cast<unsigned char>(text[i]))) return std::nullopt;
      value.push_back(text[i]);
      continue;
    }
    if (i + 2 >= text.size()) return std::nullopt;
    const int high = HexValue(text[i + 1]);
    const int low = HexValue(text[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    const auto byte = static_cast<unsigned char>(high * 16 + low);
    if (!NeedsEscape(byte)) return std::nullopt;  // one spelling only
    value.push_back(static_cast<char>(byte));
    i += 2;
  }
  return value;
}

std::optional<int64_t> Decimal(std::string_view text, int64_t max) {
  if (text.empty() || text.size() > 18 || (text.size() > 1 && text[0] == '0')) return std::nullopt;
  int64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value > max) return std::nullopt;
  return value;
}

bool IsLowerHexDigest(std::string_view text) {
  if (text.size() != 128) return false;
  for (const char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

// Days from 1970-01-01 to the date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

bool IsLeap(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

unsigned DaysIn(int64_t y, unsigned m) {
  static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

std::optional<unsigned> Digits(std::string_view text, size_t at, size_t count) {
  unsigned value = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned>(text[i] - '0');
  }
  return value;
}

}  // namespace

std::optional<int64_t> ParseUtcTime(std::string_view text) {
  // YYYY-MM-DDTHH:MM:SSZ
  if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
      text[16] != ':' || text[19] != 'Z') {
    return std::nullopt;
  }
  const auto year = Digits(text, 0, 4), month = Digits(text, 5, 2), day = Digits(text, 8, 2);
  const auto hour = Digits(text, 11, 2), minute = Digits(text, 14, 2), second = Digits(text, 17, 2);
  if (!year || !month || !day || !hour || !minute || !second) return std::nullopt;
  if (*year < 1970 || *month < 1 || *month > 12 || *day < 1 || *day > DaysIn(*year, *month) || *hour > 23 ||
      *minute > 59 || *second > 59) {
    return std::nullopt;
  }
  return DaysFromCivil(*year, *month, *day) * 86400 + *hour * 3600 + *minute * 60 + *second;
}

std::string FormatUtcTime(int64_t seconds) {
  if (seconds < 0) seconds = 0;
  int64_t days = seconds / 86400;
  const int64_t rest = seconds % 86400;
  // Civil date from days since 1970-01-01.
  days += 719468;
  const int64_t era = days / 146097;
  const auto doe = static_cast<unsigned>(days - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned day = doy - (153 * mp + 2) / 5 + 1;
  const unsigned month = mp < 10 ? mp + 3 : mp - 9;
  const int64_t year = static_cast<int64_t>(yoe) + era * 400 + (month <= 2);
  char text[64];
  std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02lld:%02lld:%02lldZ", static_cast<long long>(year), month, day,
                static_cast<long long>(rest / 3600), static_cast<long long>(rest / 60 % 60),
                static_cast<long long>(rest % 60));
  return text;
}

std::optional<ReleaseComment> ParseReleaseComment(std::string_view text) {
  std::vector<std::string_view> words;
  while (true) {
    const size_t blank = text.find(' ');
    words.push_back(text.substr(0, blank));
    if (blank == std::string_view::npos) break;
    text.remove_prefix(blank + 1);
  }
  if (words[0] != kReleaseCommentWord) return std::nullopt;
  ReleaseComment comment;
  const size_t fields = words.size() - 1;
  if (fields == kDescriptorFields.size()) {
    comment.kind = ReleaseComment::Kind::kDescriptor;
  } else if (fields == kVersionFields.size()) {
    comment.kind = ReleaseComment::Kind::kVersionFile;
  } else {
    return std::nullopt;
  }
  std::vector<std::string> values;
  for (size_t i = 0; i < fields; ++i) {
    const std::string_view expected =
        comment.kind == ReleaseComment::Kind::kDescriptor ? kDescriptorFields[i] : kVersionFields[i];
    const std::string_view word = words[i + 1];
    if (word.size() <= expected.size() || word.substr(0, expected.size()) != expected || word[expected.size()] != '=') {
      return std::nullopt;
    }
    std::optional<std::string> value = Unescape(word.substr(expected.size() + 1));
    if (!value || value->empty()) return std::nullopt;
    values.push_back(std::move(*value));
  }
  comment.product = values[0];
  const std::optional<int64_t> release = Decimal(values[1], 2147483647);
  if (!release || *release < 1) return std::nullopt;
  comment.release = static_cast<int32_t>(*release);
  comment.path = values[2];
  if (comment.kind == ReleaseComment::Kind::kDescriptor) {
    comment.previous = values[3];
  } else {
    const std::optional<int64_t> expires = ParseUtcTime(values[3]);
    if (!expires || !IsLowerHexDigest(values[5])) return std::nullopt;
    comment.expires = *expires;
    comment.newest = values[4];
    comment.newest_hash = values[5];
  }
  return comment;
}

std::string FormatReleaseComment(const ReleaseComment& comment) {
  std::string text(kReleaseCommentWord);
  const auto field = [&](std::string_view key, std::string_view value) {
    text += ' ';
    text += key;
    text += '=';
    text += Escape(value);
  };
  field("product", comment.product);
  field("release", std::to_string(comment.release));
  field("path", comment.path);
  if (comment.kind == ReleaseComment::Kind::kDescriptor) {
    field("previous", comment.previous);
  } else {
    field("expires", FormatUtcTime(comment.expires));
    field("newest", comment.newest);
    field("newest_hash", comment.newest_hash);
  }
  return text;
}

}  // namespace app
