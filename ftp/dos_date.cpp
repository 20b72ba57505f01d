#include "ftp/dos_date.h"

#include <cstddef>

#include "platform/date_time.h"

namespace ftp {
namespace {

class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  bool AtEnd() const { return pos_ >= text_.size(); }
  char Peek() const { return AtEnd() ? '\0' : text_[pos_]; }
  bool PeekDigit() const { return Peek() >= '0' && Peek() <= '9'; }

  void SkipBlanks() {
    while (!AtEnd() && (text_[pos_] == ' ' || text_[pos_] == '\t')) ++pos_;
  }

  bool Take(char c) {
    if (Peek() != c) return false;
    ++pos_;
    return true;
  }

  // One to four digits; fails on none or on a fifth digit. digits tells how
  // many were read (two-digit years are told apart by it).
  bool Number(int& value, int& digits) {
    value = 0;
    digits = 0;
    while (PeekDigit()) {
      if (digits == 4) return false;
      value = value * 10 + (text_[pos_] - '0');
      ++digits;
      ++pos_;
    }
    return digits > 0;
  }

  bool Number(int& value) {
    int digits = 0;
    return Number(value, digits);
  }

  // An AM or PM marker in any letter case: 0 for none, 1 for AM, 2 for PM.
  int Marker() {
    if (pos_ + 2 > text_.size()) return 0;
    const char first = static_cast<char>(text_[pos_] & ~0x20);
    const char second = static_cast<char>(text_[pos_ + 1] & ~0x20);
    if (second != 'M' || (first != 'A' && first != 'P')) return 0;
    pos_ += 2;
    return first == 'A' ? 1 : 2;
  }

 private:
  std::string_view text_;
  size_t pos_ = 0;
};

int WindowTwoDigitYear(int year, int current_year) {
  const int base = current_year - 50;
  year += (base / 100) * 100;
  if (year < base) year += 100;
  return year;
}

bool ReadTime(Reader& in, double& time) {
  int marker = in.Marker();
  if (marker != 0) in.SkipBlanks();
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
  if (!in.Number(hour)) return false;
  // A separator not followed by a number ends the time; what follows is ignored.
  auto take_part = [&in](char separator, int& value) {
    Reader saved = in;
    if (in.Take(separator) && in.Number(value)) return true;
    in = saved;
    return false;
  };
  if (take_part(':', minute) && take_part(':', second)) take_part('.', millisecond);
  if (marker == 0) {
    in.SkipBlanks();
    marker = in.Marker();
  }
  if (marker != 0) {
    if (hour < 1 || hour > 12) return false;
    if (hour == 12) hour = 0;
    if (marker == 2) hour += 12;
  }
  return platform::TryEncodeTime(hour, minute, second, millisecond, time);
}

}  // namespace

bool TryParseDosDate(std::string_view text, int current_year, double& result) {
  Reader in(text);
  int month = 0;
  int day = 0;
  int year = 0;
  int year_digits = 0;
  in.SkipBlanks();
  if (!in.Number(month)) return false;
  in.SkipBlanks();
  if (!in.Take('/')) return false;
  in.SkipBlanks();
  if (!in.Number(day)) return false;
  in.SkipBlanks();
  if (!in.Take('/')) return false;
  in.SkipBlanks();
  if (!in.Number(year, year_digits)) return false;
  if (year_digits <= 2) year = WindowTwoDigitYear(year, current_year);

  double date = 0;
  if (!platform::TryEncodeDate(year, month, day, date)) return false;

  in.SkipBlanks();
  double time = 0;
  if (!in.AtEnd() && !ReadTime(in, time)) return false;
  result = date + time;
  return true;
}

}  // namespace ftp
