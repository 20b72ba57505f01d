// The integer conversion rule, 32 and 64-bit, against the reference reading
// of integer_reference.h: the same texts must convert, to the same values,
// and every entry point (scan, try, default, raising) must agree.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "integer_reference.h"
#include "settings/integer_conversion.h"

namespace {

std::string Case(const std::string& text, int bits) {
  return std::to_string(bits) + "-bit '" + fuzz::Shown(text) + "'";
}

void Check32(const std::string& text) {
  const fuzz::ReferenceInteger expected = fuzz::ReferenceConvert(text, 32);
  const settings::IntegerScan scan = settings::ScanInt32(text);
  FUZZ_CHECK(scan.valid == expected.valid, Case(text, 32));
  if (expected.valid) FUZZ_CHECK(scan.value == static_cast<int64_t>(expected.value), Case(text, 32));

  // A failed conversion leaves the caller's variable alone.
  int32_t value = 0x5A5A5A5A;
  const bool ok = settings::TryStrToInt32(text, value);
  FUZZ_CHECK(ok == expected.valid, Case(text, 32));
  FUZZ_CHECK(value == (ok ? static_cast<int32_t>(expected.value) : 0x5A5A5A5A), Case(text, 32));
  FUZZ_CHECK(settings::StrToInt32Def(text, -77) == (ok ? value : -77), Case(text, 32));

  bool raised = false;
  try {
    FUZZ_CHECK(settings::StrToInt32(text) == value, Case(text, 32));
  } catch (const settings::EConvertError& e) {
    raised = true;
    // (what() ends at a NUL byte of the text)
    const std::string message = "'" + text + "' is not a valid integer value";
    FUZZ_CHECK(std::string(e.what()) == message.c_str(), Case(text, 32));
  }
  FUZZ_CHECK(raised == !ok, Case(text, 32));
}

void Check64(const std::string& text) {
  const fuzz::ReferenceInteger expected = fuzz::ReferenceConvert(text, 64);
  const settings::IntegerScan scan = settings::ScanInt64(text);
  FUZZ_CHECK(scan.valid == expected.valid, Case(text, 64));
  if (expected.valid) FUZZ_CHECK(scan.value == static_cast<int64_t>(expected.value), Case(text, 64));

  int64_t value = 0x5A5A5A5A5A5A5A5A;
  const bool ok = settings::TryStrToInt64(text, value);
  FUZZ_CHECK(ok == expected.valid, Case(text, 64));
  FUZZ_CHECK(value == (ok ? static_cast<int64_t>(expected.value) : 0x5A5A5A5A5A5A5A5A), Case(text, 64));
  FUZZ_CHECK(settings::StrToInt64Def(text, -77) == (ok ? value : -77), Case(text, 64));

  // Whatever the 32-bit rule accepts in decimal, the 64-bit rule accepts with
  // the same value; hexadecimal differs on purpose (two's complement width).
  const fuzz::ReferenceInteger narrow = fuzz::ReferenceConvert(text, 32);
  if (narrow.valid && text.find_first_of("$xX") == std::string::npos) {
    FUZZ_CHECK(ok && value == static_cast<int64_t>(narrow.value), Case(text, 64));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 256) return 0;  // the rule is linear; long texts only repeat short ones
  const std::string text(reinterpret_cast<const char*>(data), size);
  Check32(text);
  Check64(text);
  return 0;
}
