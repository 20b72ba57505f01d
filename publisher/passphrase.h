// Where the publisher's passphrase comes from, in this order: the file named
// by --passphrase-file (its first line), the environment variable
// KORVANE_PASSPHRASE, or the terminal (asked without echo; twice for a new
// key). Scripts use the first two; nothing is read from standard input.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>

namespace publishing {

inline constexpr const char* kPassphraseVariable = "KORVANE_PASSPHRASE";

class EPassphrase : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

std::string ReadPassphrase(const std::optional<std::string>& file, bool new_key);

}  // namespace publishing
