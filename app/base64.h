// Base64 in the standard alphabet with padding (RFC 4648, section 4), as
// minisign writes its keys and signatures. Decoding is strict: no blanks, no
// line breaks, no missing or extra padding, no stray bits in the last digit,
// so every byte string has exactly one text.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace app {

std::string Base64Encode(std::string_view bytes);
std::optional<std::string> Base64Decode(std::string_view text);

}  // namespace app
