// The one integer conversion rule of the system: settings values, dotted
// address parts, listing columns and reply fields are all read with it.
//
//   blanks (spaces only) skipped, one optional sign, "$", "x", "X", "0x" or
//   "0X" for hexadecimal, digits to the very end of the text; decimal in the
//   signed range of the width; hexadecimal of at most 8 (16) significant
//   digits taken as two's complement, a minus sign negating that value.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace settings {

// The runtime's conversion error: "'%s' is not a valid integer value".
class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What the rule saw in a text, also when it rejected it.
struct IntegerScan {
  bool valid = false;      // the whole text converts
  int64_t value = 0;       // the converted value when valid
  bool any_digit = false;  // at least one digit was read after blanks, sign and mark
  uint64_t magnitude = 0;  // the magnitude read up to the first rejected character, unsigned
};

IntegerScan ScanInt32(const std::string& text);
IntegerScan ScanInt64(const std::string& text);

bool TryStrToInt32(const std::string& text, int32_t& value);
bool TryStrToInt64(const std::string& text, int64_t& value);

int32_t StrToInt32Def(const std::string& text, int32_t fallback);
int64_t StrToInt64Def(const std::string& text, int64_t fallback);

// Raises EConvertError "'%s' is not a valid integer value" for a text that
// does not convert.
int32_t StrToInt32(const std::string& text);

}  // namespace settings
