#include "app/descriptor_name.h"

#include <cstdint>
#include <limits>

#include "settings/integer_conversion.h"

namespace app {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Compares the digit runs a[i..) and b[j..) by value and advances past them.
// Gives <0, 0 or >0.
int CompareDigitRuns(const std::string& a, size_t& i, const std::string& b, size_t& j) {
  while (i < a.size() && a[i] == '0') ++i;
  while (j < b.size() && b[j] == '0') ++j;
  const size_t a_start = i;
  const size_t b_start = j;
  while (i < a.size() && IsDigit(a[i])) ++i;
  while (j < b.size() && IsDigit(b[j])) ++j;
  const size_t a_length = i - a_start;
  const size_t b_length = j - b_start;
  if (a_length != b_length) return a_length < b_length ? -1 : 1;
  return a.compare(a_start, a_length, b, b_start, b_length);
}

}  // namespace

int64_t DescriptorVersion(const std::string& name) {
  if (name.size() <= 4) return 0;
  const settings::IntegerScan scan = settings::ScanInt32(name.substr(0, name.size() - 4));
  if (scan.valid) return scan.value;
  if (!scan.any_digit) return 0;
  constexpr auto kMax = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
  return static_cast<int64_t>(scan.magnitude > kMax ? kMax : scan.magnitude);
}

bool RemoteNameLess(const std::string& a, const std::string& b) {
  size_t i = 0;
  size_t j = 0;
  while (i < a.size() && j < b.size()) {
    if (IsDigit(a[i]) && IsDigit(b[j])) {
      const int order = CompareDigitRuns(a, i, b, j);
      if (order != 0) return order < 0;
      continue;
    }
    const auto x = static_cast<unsigned char>(a[i]);
    const auto y = static_cast<unsigned char>(b[j]);
    if (x != y) return x < y;
    ++i;
    ++j;
  }
  if ((i < a.size()) != (j < b.size())) return j < b.size();
  // Equal by value ("07" and "7"): the bytes decide, so the order is total.
  return a < b;
}

}  // namespace app
