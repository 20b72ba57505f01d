#include "publisher/secret_key_file.h"

#include <cstring>

#include "app/base64.h"

namespace publishing {
namespace {

using app::minisign::SigningKey;

constexpr size_t kFileBytes = 158;
constexpr size_t kSaltAt = 6, kOpsAt = 38, kMemAt = 46, kSecretAt = 54;
constexpr size_t kSecretBytes = 104;  // key id, key, checksum
constexpr size_t kKeyIdAt = kSecretAt, kSeedAt = kSecretAt + 8, kPublicAt = kSecretAt + 40, kCheckAt = kSecretAt + 72;
constexpr std::string_view kPrefix = "untrusted comment: ";

uint64_t LoadLe64(const std::string& bytes, size_t at) {
  uint64_t value = 0;
  for (size_t i = 8; i-- > 0;) value = value << 8 | static_cast<uint8_t>(bytes[at + i]);
  return value;
}

void StoreLe64(std::string& bytes, size_t at, uint64_t value) {
  for (size_t i = 0; i < 8; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i) & 0xFF);
}

// libsodium's mapping of scrypt's opslimit and memlimit to N, r and p, as
// crypto_pwhash_scryptsalsa208sha256 makes it.
struct ScryptCost {
  unsigned n_log2 = 1;
  uint32_t r = 8;
  uint32_t p = 1;
};

ScryptCost CostOf(uint64_t opslimit, uint64_t memlimit) {
  ScryptCost cost;
  if (opslimit < 32768) opslimit = 32768;
  uint64_t max_n = 0;
  if (opslimit < memlimit / 32) {
    max_n = opslimit / (cost.r * 4);
  } else {
    max_n = memlimit / (cost.r * 128);
  }
  for (cost.n_log2 = 1; cost.n_log2 < 63; ++cost.n_log2) {
    if ((uint64_t{1} << cost.n_log2) > max_n / 2) break;
  }
  if (!(opslimit < memlimit / 32)) {
    uint64_t max_rp = (opslimit / 4) / (uint64_t{1} << cost.n_log2);
    if (max_rp > 0x3fffffff) max_rp = 0x3fffffff;
    cost.p = static_cast<uint32_t>(max_rp) / cost.r;
  }
  return cost;
}

std::string Stream(const std::string& passphrase, const std::string& bytes) {
  const ScryptCost cost = CostOf(LoadLe64(bytes, kOpsAt), LoadLe64(bytes, kMemAt));
  // Refuse costs far beyond minisign's own (1 GiB), which a damaged file
  // could ask for.
  if (cost.p == 0 || cost.n_log2 > 24 || cost.p > 16) throw EKeyError("The key's scrypt parameters are out of range");
  return platform::Scrypt(passphrase, std::string_view(bytes).substr(kSaltAt, 32), cost.n_log2, cost.r, cost.p,
                          kSecretBytes);
}

void XorSecret(std::string& bytes, const std::string& stream) {
  for (size_t i = 0; i < kSecretBytes; ++i) bytes[kSecretAt + i] = static_cast<char>(bytes[kSecretAt + i] ^ stream[i]);
}

std::string Checksum(const std::string& bytes) {
  const platform::Blake2b256Digest digest =
      platform::Blake2b256(bytes.substr(0, 2) + bytes.substr(kKeyIdAt, 8) + bytes.substr(kSeedAt, 64));
  return std::string(reinterpret_cast<const char*>(digest.data()), digest.size());
}

std::string Decoded(const std::string& file) {
  std::string_view text = file;
  const size_t end = text.find('\n');
  if (text.substr(0, kPrefix.size()) != kPrefix || end == std::string_view::npos) {
    throw EKeyError("Not a minisign secret key file");
  }
  text.remove_prefix(end + 1);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.remove_suffix(1);
  const std::optional<std::string> bytes = app::Base64Decode(text);
  if (!bytes || bytes->size() != kFileBytes) throw EKeyError("Not a minisign secret key file");
  if (bytes->compare(0, 2, "Ed") != 0) throw EKeyError("Unsupported signature algorithm in the secret key");
  if (bytes->compare(4, 2, "B2") != 0) throw EKeyError("Unsupported checksum in the secret key");
  const std::string kdf = bytes->substr(2, 2);
  if (kdf != "Sc" && kdf != std::string(2, '\0')) throw EKeyError("Unsupported key derivation in the secret key");
  return *bytes;
}

}  // namespace

SigningKey GenerateSigningKey() {
  SigningKey key;
  platform::RandomBytes(key.key_id.data(), key.key_id.size());
  platform::RandomBytes(key.seed.data(), key.seed.size());
  return key;
}

bool SecretKeyNeedsPassphrase(const std::string& file) { return Decoded(file).compare(2, 2, "Sc") == 0; }

SigningKey OpenSecretKey(const std::string& file, const std::function<std::string()>& passphrase) {
  std::string bytes = Decoded(file);
  const bool encrypted = bytes.compare(2, 2, "Sc") == 0;
  if (encrypted) {
    XorSecret(bytes, Stream(passphrase(), bytes));
    if (Checksum(bytes) != bytes.substr(kCheckAt, 32)) throw EKeyError("Wrong passphrase for that key");
  }
  SigningKey key;
  std::memcpy(key.key_id.data(), bytes.data() + kKeyIdAt, 8);
  std::memcpy(key.seed.data(), bytes.data() + kSeedAt, 32);
  // The key's second half is its public key; a damaged file shows here.
  const platform::Ed25519PublicKey public_key = platform::Ed25519PublicKeyOf(key.seed);
  if (std::memcmp(public_key.data(), bytes.data() + kPublicAt, 32) != 0) {
    throw EKeyError(encrypted ? "Wrong passphrase for that key" : "The secret key file is damaged");
  }
  return key;
}

std::string SecretKeyFile(const SigningKey& key, const std::optional<std::string>& passphrase) {
  std::string bytes(kFileBytes, '\0');
  bytes.replace(0, 2, "Ed");
  bytes.replace(4, 2, "B2");
  std::memcpy(bytes.data() + kKeyIdAt, key.key_id.data(), 8);
  std::memcpy(bytes.data() + kSeedAt, key.seed.data(), 32);
  const platform::Ed25519PublicKey public_key = platform::Ed25519PublicKeyOf(key.seed);
  std::memcpy(bytes.data() + kPublicAt, public_key.data(), 32);
  bytes.replace(kCheckAt, 32, Checksum(bytes));
  if (passphrase) {
    bytes.replace(2, 2, "Sc");
    platform::RandomBytes(bytes.data() + kSaltAt, 32);
    StoreLe64(bytes, kOpsAt, kScryptOpsLimit);
    StoreLe64(bytes, kMemAt, kScryptMemLimit);
    XorSecret(bytes, Stream(*passphrase, bytes));
  }
  return std::string(kPrefix) + "minisign encrypted secret key\n" + app::Base64Encode(bytes) + "\n";
}

}  // namespace publishing
