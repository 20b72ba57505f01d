#include "net/take_token.h"

#include <cstring>

#include "platform/encoding.h"

namespace net {
namespace {

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool MatchesAt(const std::string& text, size_t at, const std::string& delimiter, bool case_sensitive) {
  if (at + delimiter.size() > text.size()) return false;
  if (case_sensitive) return std::memcmp(text.data() + at, delimiter.data(), delimiter.size()) == 0;
  for (size_t k = 0; k < delimiter.size(); ++k) {
    if (UpperAscii(text[at + k]) != UpperAscii(delimiter[k])) return false;
  }
  return true;
}

}  // namespace

size_t FindToken(const std::string& text, const std::string& delimiter, bool case_sensitive) {
  // An empty delimiter occurs nowhere; finding it at 0 would let a loop of
  // TakeToken with remove never end.
  if (delimiter.empty()) return std::string::npos;
  const bool byte_by_byte = delimiter.size() == 1 && delimiter[0] == '\0';
  if (byte_by_byte) return text.find('\0');
  if (case_sensitive && delimiter.size() == 1 && static_cast<unsigned char>(delimiter[0]) < 0x40) {
    // A byte below 0x40 is never the second byte of a GBK character, so a
    // plain search finds the same match, only faster.
    return text.find(delimiter[0]);
  }
  size_t i = 0;
  while (i + delimiter.size() <= text.size()) {
    if (MatchesAt(text, i, delimiter, case_sensitive)) return i;
    i += (i + 1 < text.size() && platform::IsGbkPair(static_cast<unsigned char>(text[i]),
                                                     static_cast<unsigned char>(text[i + 1])))
             ? 2
             : 1;
  }
  return std::string::npos;
}

std::string TakeToken(std::string& text, const std::string& delimiter, bool remove, bool case_sensitive) {
  const size_t at = FindToken(text, delimiter, case_sensitive);
  if (at == std::string::npos) {
    std::string all;
    if (remove) {
      all.swap(text);
    } else {
      all = text;
    }
    return all;
  }
  std::string before = text.substr(0, at);
  if (remove) text.erase(0, at + delimiter.size());
  return before;
}

}  // namespace net
