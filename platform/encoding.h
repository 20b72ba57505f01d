// Text conversion at the two boundaries of the system: the window toolkit and
// local file names. Every text inside the system is GBK bytes; only code in
// platform/ converts, and only through these functions.
#pragma once

#include <string>

namespace platform {

// GBK bytes to UTF-8. A byte sequence that is not valid GBK is carried over
// as U+FFFD for each offending byte, so nothing is lost silently.
std::string GbkToUtf8(const std::string& gbk);

// UTF-8 to GBK. Characters that GBK cannot hold become "?".
std::string Utf8ToGbk(const std::string& utf8);

// True when the byte can start a GBK double-byte character.
inline bool IsGbkLeadByte(unsigned char byte) { return byte >= 0x81 && byte <= 0xFE; }
inline bool IsGbkTrailByte(unsigned char byte) { return byte >= 0x40 && byte <= 0xFE && byte != 0x7F; }
// True when the two bytes form one GBK double-byte character.
inline bool IsGbkPair(unsigned char lead, unsigned char trail) {
  return IsGbkLeadByte(lead) && IsGbkTrailByte(trail);
}

}  // namespace platform

// The program's own Chinese texts are written as UTF-8 in the source and
// converted once, for example: static const std::string kDone = gbk("完成");
inline std::string gbk(const char* utf8) { return platform::Utf8ToGbk(utf8); }
