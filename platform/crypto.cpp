#include "platform/crypto.h"

#include <blake2.h>
#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/params.h>
#include <openssl/rand.h>

namespace platform {
namespace {

// The library's error queue, drained into one exception.
[[noreturn]] void ThrowCryptoError(const char* operation) {
  std::string message = std::string(operation) + " failed";
  for (unsigned long code = ERR_get_error(); code != 0; code = ERR_get_error()) {
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    message += "; ";
    message += text;
  }
  throw ECryptoError(message);
}

void Check(int result, const char* operation) {
  if (result != 1) ThrowCryptoError(operation);
}

template <class T>
T* Made(T* object, const char* operation) {
  if (object == nullptr) ThrowCryptoError(operation);
  return object;
}

template <auto Free>
struct OpenSslFree {
  template <class T>
  void operator()(T* object) const {
    Free(object);
  }
};
using Pkey = std::unique_ptr<EVP_PKEY, OpenSslFree<EVP_PKEY_free>>;
using MdCtx = std::unique_ptr<EVP_MD_CTX, OpenSslFree<EVP_MD_CTX_free>>;
using Kdf = std::unique_ptr<EVP_KDF, OpenSslFree<EVP_KDF_free>>;
using KdfCtx = std::unique_ptr<EVP_KDF_CTX, OpenSslFree<EVP_KDF_CTX_free>>;

Pkey PrivateKey(const Ed25519Seed& seed) {
  return Pkey(Made(EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, seed.data(), seed.size()),
                   "Ed25519 private key"));
}

const auto* Bytes(std::string_view text) { return reinterpret_cast<const unsigned char*>(text.data()); }

}  // namespace

bool Ed25519Verify(const Ed25519PublicKey& key, const Ed25519Signature& signature, std::string_view message) {
  Pkey pkey(Made(EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, key.data(), key.size()),
                 "Ed25519 public key"));
  MdCtx context(Made(EVP_MD_CTX_new(), "digest context"));
  Check(EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, pkey.get()), "Ed25519 verify");
  const int result = EVP_DigestVerify(context.get(), signature.data(), signature.size(), Bytes(message), message.size());
  if (result == 1) return true;
  // 0 is a signature that does not match; the queue may hold the reason.
  ERR_clear_error();
  return false;
}

Ed25519Signature Ed25519Sign(const Ed25519Seed& seed, std::string_view message) {
  Pkey pkey = PrivateKey(seed);
  MdCtx context(Made(EVP_MD_CTX_new(), "digest context"));
  Check(EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, pkey.get()), "Ed25519 sign");
  Ed25519Signature signature{};
  size_t length = signature.size();
  Check(EVP_DigestSign(context.get(), signature.data(), &length, Bytes(message), message.size()), "Ed25519 sign");
  if (length != signature.size()) throw ECryptoError("Ed25519 sign gave a signature of the wrong size");
  return signature;
}

Ed25519PublicKey Ed25519PublicKeyOf(const Ed25519Seed& seed) {
  Pkey pkey = PrivateKey(seed);
  Ed25519PublicKey key{};
  size_t length = key.size();
  Check(EVP_PKEY_get_raw_public_key(pkey.get(), key.data(), &length), "Ed25519 public key");
  return key;
}

struct Blake2b512::Context {
  MdCtx md{Made(EVP_MD_CTX_new(), "digest context")};
};

Blake2b512::Blake2b512() : context_(std::make_unique<Context>()) {
  Check(EVP_DigestInit_ex(context_->md.get(), EVP_blake2b512(), nullptr), "BLAKE2b-512");
}

Blake2b512::~Blake2b512() = default;

void Blake2b512::Update(const void* data, size_t count) {
  Check(EVP_DigestUpdate(context_->md.get(), data, count), "BLAKE2b-512");
}

Blake2b512Digest Blake2b512::Final() {
  Blake2b512Digest digest{};
  unsigned int length = 0;
  Check(EVP_DigestFinal_ex(context_->md.get(), digest.data(), &length), "BLAKE2b-512");
  if (length != digest.size()) throw ECryptoError("BLAKE2b-512 gave a digest of the wrong size");
  Check(EVP_DigestInit_ex(context_->md.get(), EVP_blake2b512(), nullptr), "BLAKE2b-512");
  return digest;
}

Blake2b512Digest Blake2b512::Of(std::string_view data) {
  Blake2b512 hasher;
  hasher.Update(data.data(), data.size());
  return hasher.Final();
}

Blake2b256Digest Blake2b256(std::string_view data) {
  Blake2b256Digest digest{};
  if (blake2b(digest.data(), data.data(), nullptr, digest.size(), data.size(), 0) != 0) {
    throw ECryptoError("BLAKE2b-256 failed");
  }
  return digest;
}

std::string Scrypt(std::string_view password, std::string_view salt, unsigned n_log2, uint32_t r, uint32_t p,
                   size_t length) {
  if (n_log2 == 0 || n_log2 >= 63) throw ECryptoError("scrypt: N out of range");
  Kdf kdf(Made(EVP_KDF_fetch(nullptr, "SCRYPT", nullptr), "scrypt"));
  KdfCtx context(Made(EVP_KDF_CTX_new(kdf.get()), "scrypt"));
  uint64_t n = uint64_t{1} << n_log2;
  // The memory scrypt needs is 128 * r * (N + p) bytes and a little more;
  // OpenSSL refuses anything above 32 MiB unless told otherwise.
  uint64_t max_memory = 128 * uint64_t{r} * (n + p + 2) + (uint64_t{1} << 20);
  OSSL_PARAM params[] = {
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_PASSWORD, const_cast<char*>(password.data()), password.size()),
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT, const_cast<char*>(salt.data()), salt.size()),
      OSSL_PARAM_construct_uint64(OSSL_KDF_PARAM_SCRYPT_N, &n),
      OSSL_PARAM_construct_uint32(OSSL_KDF_PARAM_SCRYPT_R, &r),
      OSSL_PARAM_construct_uint32(OSSL_KDF_PARAM_SCRYPT_P, &p),
      OSSL_PARAM_construct_uint64(OSSL_KDF_PARAM_SCRYPT_MAXMEM, &max_memory),
      OSSL_PARAM_construct_end()};
  std::string out(length, '\0');
  Check(EVP_KDF_derive(context.get(), reinterpret_cast<unsigned char*>(out.data()), out.size(), params), "scrypt");
  return out;
}

void RandomBytes(void* buffer, size_t count) {
  Check(RAND_bytes(static_cast<unsigned char*>(buffer), static_cast<int>(count)), "random bytes");
}

std::string HexText(const void* data, size_t count) {
  static constexpr char kDigits[] = "0123456789abcdef";
  const auto* bytes = static_cast<const uint8_t*>(data);
  std::string text;
  text.reserve(count * 2);
  for (size_t i = 0; i < count; ++i) {
    text.push_back(kDigits[bytes[i] >> 4]);
    text.push_back(kDigits[bytes[i] & 15]);
  }
  return text;
}

}  // namespace platform
