// minisign's secret key file, read and written as minisign 0.11 does, so that
// keys move freely between `minisign -G` and `publisher keygen`:
//
//   untrusted comment: <anything>
//   <base64 of 158 bytes: "Ed", the key derivation "Sc" (scrypt) or two
//    zero bytes (no passphrase), the checksum "B2", the scrypt salt (32),
//    its opslimit and memlimit (8 each, little-endian), then the key id (8),
//    the Ed25519 key (64: the seed, then the public key) and the checksum
//    (32: BLAKE2b-256 of "Ed", key id and key), these last 104 bytes XORed
//    with scrypt's output when a passphrase protects them>
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>

#include "app/minisign.h"

namespace publishing {

// A key file that cannot be used: damaged, of another algorithm, or the
// passphrase does not open it.
class EKeyError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// minisign's scrypt cost (libsodium's "sensitive" limits): N = 2^20, r = 8,
// p = 1, so 1 GiB of memory and a few seconds for each use of the key.
inline constexpr uint64_t kScryptOpsLimit = 33554432;
inline constexpr uint64_t kScryptMemLimit = 1073741824;

// A fresh key: random key id and seed.
app::minisign::SigningKey GenerateSigningKey();

// Whether opening the file needs a passphrase; EKeyError for a file that is
// not a minisign secret key.
bool SecretKeyNeedsPassphrase(const std::string& file);

// The key in the file; passphrase is asked only when the file needs one.
// EKeyError "Wrong passphrase for that key" when the checksum does not match.
app::minisign::SigningKey OpenSecretKey(const std::string& file, const std::function<std::string()>& passphrase);

// The file of a key, protected by the passphrase when one is given.
std::string SecretKeyFile(const app::minisign::SigningKey& key, const std::optional<std::string>& passphrase);

}  // namespace publishing
