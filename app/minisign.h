// minisign's public keys and signature files, and signing and verifying with
// them. The signature's own line is the algorithm ("ED": Ed25519 over the
// BLAKE2b-512 of the file; "Ed", the legacy mode over the file itself, is
// read but never accepted), the key id and the signature; the global
// signature covers that signature and the trusted comment, so the comment
// cannot be changed or moved to another signature.
//
//   untrusted comment: <anything>
//   <base64 of "ED", key id (8 bytes), Ed25519 signature (64 bytes)>
//   trusted comment: <signed text>
//   <base64 of the global signature (64 bytes)>
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/crypto.h"

namespace app::minisign {

using KeyId = std::array<uint8_t, 8>;

struct PublicKey {
  KeyId key_id{};
  platform::Ed25519PublicKey key{};
};

// The key's text ("RW..."), or a whole public key file: an untrusted comment
// line, then that text. Blanks around the text are not part of it.
std::optional<PublicKey> ParsePublicKey(std::string_view text);
std::string PublicKeyText(const PublicKey& key);
// The file minisign writes: the comment line naming the key id, the text.
std::string PublicKeyFile(const PublicKey& key);
// The key id as minisign prints it: 16 upper-case hexadecimal digits of the
// bytes read as a little-endian number.
std::string KeyIdText(const KeyId& key_id);

// Signature files are small; a larger one is refused unread.
inline constexpr size_t kMaxSignatureFileBytes = 4096;

struct Signature {
  std::string algorithm;  // "ED" or "Ed"
  KeyId key_id{};
  platform::Ed25519Signature signature{};
  std::string untrusted_comment;
  std::string trusted_comment;
  platform::Ed25519Signature global_signature{};
  bool operator==(const Signature&) const = default;
};

// The four lines, each ended by LF or CR LF (the last one may have no end),
// and nothing more; no NUL byte, no file above kMaxSignatureFileBytes.
std::optional<Signature> ParseSignature(std::string_view file);
std::string FormatSignature(const Signature& signature);

enum class Verdict {
  kValid,
  kLegacy,              // algorithm "Ed"
  kOtherKey,            // made with a key of another id
  kBadSignature,        // does not match the file
  kBadGlobalSignature,  // the trusted comment or the signature was changed
};

// minisign's order: algorithm, key id, the file's signature, the global
// signature; the first mismatch decides.
Verdict Verify(const PublicKey& key, const Signature& signature, const platform::Blake2b512Digest& file_digest);

struct SigningKey {
  KeyId key_id{};
  platform::Ed25519Seed seed{};
  PublicKey Public() const;
};

// An "ED" signature of the file with the given digest. Comments are one line
// each (no CR, LF or NUL).
Signature Sign(const SigningKey& key, const platform::Blake2b512Digest& file_digest, std::string trusted_comment,
               std::string untrusted_comment);

}  // namespace app::minisign
