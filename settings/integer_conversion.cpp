#include "settings/integer_conversion.h"

namespace settings {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// bits is 32 or 64.
IntegerScan Scan(const std::string& text, int bits) {
  IntegerScan scan;
  const size_t n = text.size();
  size_t i = 0;
  while (i < n && text[i] == ' ') ++i;
  bool negative = false;
  if (i < n && (text[i] == '-' || text[i] == '+')) {
    negative = text[i] == '-';
    ++i;
  }
  bool hex = false;
  if (i < n && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
    hex = true;
    ++i;
  } else if (i + 1 < n && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }

  const uint64_t max_magnitude_before_digit =
      hex ? (bits == 32 ? 0x0FFFFFFFull : 0x0FFFFFFFFFFFFFFFull)
          : (bits == 32 ? 214748364ull : 922337203685477580ull);
  uint64_t magnitude = 0;
  bool rejected = false;
  for (; i < n; ++i) {
    const int digit = hex ? HexDigit(text[i]) : (text[i] >= '0' && text[i] <= '9' ? text[i] - '0' : -1);
    if (digit < 0 || magnitude > max_magnitude_before_digit) {
      rejected = true;
      break;
    }
    magnitude = magnitude * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
    scan.any_digit = true;
  }
  scan.magnitude = magnitude;
  if (rejected || !scan.any_digit) return scan;

  if (hex) {
    if (bits == 32) {
      uint32_t v = static_cast<uint32_t>(magnitude);
      if (negative) v = 0u - v;
      scan.value = static_cast<int32_t>(v);
    } else {
      uint64_t v = magnitude;
      if (negative) v = 0ull - v;
      scan.value = static_cast<int64_t>(v);
    }
    scan.valid = true;
    return scan;
  }
  const uint64_t limit = bits == 32 ? 2147483647ull : 9223372036854775807ull;
  if (negative) {
    if (magnitude > limit + 1) return scan;
    scan.value = static_cast<int64_t>(0ull - magnitude);
  } else {
    if (magnitude > limit) return scan;
    scan.value = static_cast<int64_t>(magnitude);
  }
  scan.valid = true;
  return scan;
}

}  // namespace

IntegerScan ScanInt32(const std::string& text) { return Scan(text, 32); }
IntegerScan ScanInt64(const std::string& text) { return Scan(text, 64); }

bool TryStrToInt32(const std::string& text, int32_t& value) {
  const IntegerScan scan = Scan(text, 32);
  if (scan.valid) value = static_cast<int32_t>(scan.value);
  return scan.valid;
}

bool TryStrToInt64(const std::string& text, int64_t& value) {
  const IntegerScan scan = Scan(text, 64);
  if (scan.valid) value = scan.value;
  return scan.valid;
}

int32_t StrToInt32Def(const std::string& text, int32_t fallback) {
  int32_t value = fallback;
  return TryStrToInt32(text, value) ? value : fallback;
}

int64_t StrToInt64Def(const std::string& text, int64_t fallback) {
  int64_t value = fallback;
  return TryStrToInt64(text, value) ? value : fallback;
}

int32_t StrToInt32(const std::string& text) {
  int32_t value = 0;
  if (!TryStrToInt32(text, value)) throw EConvertError("'" + text + "' is not a valid integer value");
  return value;
}

}  // namespace settings
