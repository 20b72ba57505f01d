#include "app/minisign.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "app/base64.h"

namespace app::minisign {
namespace {

constexpr std::string_view kUntrustedPrefix = "untrusted comment: ";
constexpr std::string_view kTrustedPrefix = "trusted comment: ";
constexpr std::string_view kKeyAlgorithm = "Ed";
constexpr std::string_view kPrehashed = "ED";
constexpr std::string_view kLegacy = "Ed";

template <size_t N>
void CopyInto(std::array<uint8_t, N>& target, std::string_view bytes) {
  std::memcpy(target.data(), bytes.data(), N);
}

template <size_t N>
std::string_view View(const std::array<uint8_t, N>& bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), N};
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\r' || text.front() == '\n')) {
    text.remove_prefix(1);
  }
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' || text.back() == '\n')) {
    text.remove_suffix(1);
  }
  return text;
}

// The lines of a file, each without its LF or CR LF; a last line without an
// end counts. Empty when a line holds a lone CR.
std::optional<std::vector<std::string_view>> Lines(std::string_view file) {
  std::vector<std::string_view> lines;
  while (!file.empty()) {
    const size_t end = file.find('\n');
    std::string_view line = file.substr(0, end);
    file.remove_prefix(end == std::string_view::npos ? file.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.find('\r') != std::string_view::npos) return std::nullopt;
    lines.push_back(line);
  }
  return lines;
}

std::string GlobalMessage(const platform::Ed25519Signature& signature, const std::string& trusted_comment) {
  return std::string(View(signature)) + trusted_comment;
}

}  // namespace

std::optional<PublicKey> ParsePublicKey(std::string_view text) {
  text = TrimBlanks(text);
  if (text.substr(0, kUntrustedPrefix.size()) == kUntrustedPrefix) {
    const size_t end = text.find('\n');
    if (end == std::string_view::npos) return std::nullopt;
    text = TrimBlanks(text.substr(end + 1));
  }
  const std::optional<std::string> bytes = Base64Decode(text);
  if (!bytes || bytes->size() != 42 || bytes->substr(0, 2) != kKeyAlgorithm) return std::nullopt;
  PublicKey key;
  CopyInto(key.key_id, std::string_view(*bytes).substr(2, 8));
  CopyInto(key.key, std::string_view(*bytes).substr(10, 32));
  return key;
}

std::string PublicKeyText(const PublicKey& key) {
  return Base64Encode(std::string(kKeyAlgorithm) + std::string(View(key.key_id)) + std::string(View(key.key)));
}

std::string PublicKeyFile(const PublicKey& key) {
  // The comment names the id as minisign writes it there: without leading zeros.
  std::string id = KeyIdText(key.key_id);
  id.erase(0, std::min(id.find_first_not_of('0'), id.size() - 1));
  return std::string(kUntrustedPrefix) + "minisign public key " + id + "\n" + PublicKeyText(key) + "\n";
}

std::string KeyIdText(const KeyId& key_id) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (size_t i = key_id.size(); i-- > 0;) {
    text.push_back(kDigits[key_id[i] >> 4]);
    text.push_back(kDigits[key_id[i] & 15]);
  }
  return text;
}

std::optional<Signature> ParseSignature(std::string_view file) {
  if (file.size() > kMaxSignatureFileBytes || file.find('\0') != std::string_view::npos) return std::nullopt;
  const std::optional<std::vector<std::string_view>> lines = Lines(file);
  if (!lines || lines->size() != 4) return std::nullopt;
  const std::string_view untrusted = (*lines)[0];
  const std::string_view trusted = (*lines)[2];
  if (untrusted.substr(0, kUntrustedPrefix.size()) != kUntrustedPrefix) return std::nullopt;
  if (trusted.substr(0, kTrustedPrefix.size()) != kTrustedPrefix) return std::nullopt;
  const std::optional<std::string> body = Base64Decode((*lines)[1]);
  const std::optional<std::string> global = Base64Decode((*lines)[3]);
  if (!body || body->size() != 74 || !global || global->size() != 64) return std::nullopt;
  Signature signature;
  signature.algorithm = body->substr(0, 2);
  if (signature.algorithm != kPrehashed && signature.algorithm != kLegacy) return std::nullopt;
  CopyInto(signature.key_id, std::string_view(*body).substr(2, 8));
  CopyInto(signature.signature, std::string_view(*body).substr(10, 64));
  signature.untrusted_comment = untrusted.substr(kUntrustedPrefix.size());
  signature.trusted_comment = trusted.substr(kTrustedPrefix.size());
  CopyInto(signature.global_signature, *global);
  return signature;
}

std::string FormatSignature(const Signature& signature) {
  const std::string body = signature.algorithm + std::string(View(signature.key_id)) + std::string(View(signature.signature));
  return std::string(kUntrustedPrefix) + signature.untrusted_comment + "\n" + Base64Encode(body) + "\n" +
         std::string(kTrustedPrefix) + signature.trusted_comment + "\n" +
         Base64Encode(View(signature.global_signature)) + "\n";
}

Verdict Verify(const PublicKey& key, const Signature& signature, const platform::Blake2b512Digest& file_digest) {
  if (signature.algorithm != kPrehashed) return Verdict::kLegacy;
  if (signature.key_id != key.key_id) return Verdict::kOtherKey;
  if (!platform::Ed25519Verify(key.key, signature.signature, View(file_digest))) return Verdict::kBadSignature;
  if (!platform::Ed25519Verify(key.key, signature.global_signature,
                               GlobalMessage(signature.signature, signature.trusted_comment))) {
    return Verdict::kBadGlobalSignature;
  }
  return Verdict::kValid;
}

PublicKey SigningKey::Public() const { return PublicKey{key_id, platform::Ed25519PublicKeyOf(seed)}; }

Signature Sign(const SigningKey& key, const platform::Blake2b512Digest& file_digest, std::string trusted_comment,
               std::string untrusted_comment) {
  Signature signature;
  signature.algorithm = kPrehashed;
  signature.key_id = key.key_id;
  signature.signature = platform::Ed25519Sign(key.seed, View(file_digest));
  signature.untrusted_comment = std::move(untrusted_comment);
  signature.trusted_comment = std::move(trusted_comment);
  signature.global_signature = platform::Ed25519Sign(key.seed, GlobalMessage(signature.signature, signature.trusted_comment));
  return signature;
}

}  // namespace app::minisign
