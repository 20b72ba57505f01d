// What every fuzz target uses to report a broken property: a message with the
// input's context on stderr, then abort, which libFuzzer records as a crash.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzz {

// Printable form of a byte string: other bytes as \xNN.
inline std::string Shown(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c >= 32 && c < 127 && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return out;
}

[[noreturn]] inline void Fail(const char* file, int line, const char* what, const std::string& context) {
  std::fprintf(stderr, "%s:%d: property broken: %s\n  context: %s\n", file, line, what, context.c_str());
  std::abort();
}

}  // namespace fuzz

// Checks a property; context is a std::string telling the case.
#define FUZZ_CHECK(condition, context)                                  \
  do {                                                                  \
    if (!(condition)) ::fuzz::Fail(__FILE__, __LINE__, #condition, (context)); \
  } while (0)
