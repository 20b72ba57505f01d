#include "platform/encoding.h"

#include <iconv.h>

#include <cerrno>
#include <stdexcept>

namespace platform {
namespace {

// One conversion through iconv. On an invalid or incomplete input sequence
// the offending byte is replaced and conversion goes on.
std::string Convert(const char* to, const char* from, const std::string& input,
                    const std::string& replacement) {
  const bool from_utf8 = std::string(from) == "UTF-8";
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv_open failed");
  std::string out;
  out.reserve(input.size() * 2 + 8);
  char* in = const_cast<char*>(input.data());
  size_t in_left = input.size();
  char buffer[4096];
  while (in_left > 0) {
    char* dst = buffer;
    size_t dst_left = sizeof buffer;
    size_t rc = iconv(cd, &in, &in_left, &dst, &dst_left);
    out.append(buffer, sizeof buffer - dst_left);
    if (rc == static_cast<size_t>(-1)) {
      if (errno == E2BIG) continue;
      // EILSEQ or EINVAL: skip one byte of the input, or from UTF-8 the
      // whole character, so each character gives one replacement.
      out += replacement;
      ++in;
      --in_left;
      if (from_utf8) {
        while (in_left > 0 && (static_cast<unsigned char>(*in) & 0xC0) == 0x80) {
          ++in;
          --in_left;
        }
      }
    }
  }
  iconv_close(cd);
  return out;
}

}  // namespace

std::string GbkToUtf8(const std::string& gbk) {
  for (unsigned char c : gbk) {
    if (c >= 0x80) return Convert("UTF-8", "GBK", gbk, "\xEF\xBF\xBD");
  }
  return gbk;  // plain ASCII is the same in both
}

std::string Utf8ToGbk(const std::string& utf8) {
  for (unsigned char c : utf8) {
    if (c >= 0x80) return Convert("GBK", "UTF-8", utf8, "?");
  }
  return utf8;
}

}  // namespace platform
