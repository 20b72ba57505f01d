// A second, independent reading of the integer conversion rule, written from
// the rule's wording with 128-bit arithmetic, so that the fuzz targets can
// compare the production conversion (and the parsers built on it) against it.
//
//   blanks (spaces only), one optional sign, "$", "x", "X", "0x" or "0X" for
//   hexadecimal, then at least one digit of the base and nothing else up to
//   the end. Decimal: the signed range of the width. Hexadecimal: a
//   magnitude below 2 to the width (leading zeros free), read as two's
//   complement; a minus sign negates that value within the width.
#pragma once

#include <cstdint>
#include <string>

namespace fuzz {

struct ReferenceInteger {
  bool valid = false;
  __int128 value = 0;
};

inline ReferenceInteger ReferenceConvert(const std::string& text, int bits) {
  ReferenceInteger out;
  const size_t n = text.size();
  size_t i = 0;
  while (i < n && text[i] == ' ') ++i;
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int base = 10;
  if (i < n && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
    base = 16;
    i += 1;
  } else if (i + 1 < n && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i == n) return out;  // no digit at all
  // Saturates well above every limit, so an over-long text stays rejected.
  const __int128 cap = static_cast<__int128>(1) << 100;
  __int128 magnitude = 0;
  for (; i < n; ++i) {
    const char c = text[i];
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    if (digit < 0) return out;
    magnitude = magnitude * base + digit;
    if (magnitude > cap) magnitude = cap;
  }
  const __int128 modulus = static_cast<__int128>(1) << bits;
  const __int128 half = modulus / 2;
  if (base == 16) {
    if (magnitude >= modulus) return out;
    __int128 v = negative ? (modulus - magnitude) % modulus : magnitude;
    if (v >= half) v -= modulus;
    out.value = v;
    out.valid = true;
    return out;
  }
  const __int128 v = negative ? -magnitude : magnitude;
  if (v < -half || v > half - 1) return out;
  out.value = v;
  out.valid = true;
  return out;
}

inline int64_t ReferenceInt64Def(const std::string& text, int64_t fallback) {
  const ReferenceInteger r = ReferenceConvert(text, 64);
  return r.valid ? static_cast<int64_t>(r.value) : fallback;
}

inline int32_t ReferenceInt32Def(const std::string& text, int32_t fallback) {
  const ReferenceInteger r = ReferenceConvert(text, 32);
  return r.valid ? static_cast<int32_t>(r.value) : fallback;
}

}  // namespace fuzz
