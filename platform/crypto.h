// Cryptographic primitives, all from OpenSSL 3's libcrypto (and libb2 for the
// one BLAKE2b length OpenSSL 3.0 lacks): Ed25519 over raw 32-byte keys,
// BLAKE2b-512 fed block by block, BLAKE2b-256 in one call, scrypt, random
// bytes. Nothing here is our own cryptography; this file only owns the
// library's objects and turns its failures into ECryptoError.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

namespace platform {

// The library refused an operation (or ran out of memory); the message names
// the operation and the library's own reasons.
class ECryptoError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

using Ed25519PublicKey = std::array<uint8_t, 32>;
using Ed25519Seed = std::array<uint8_t, 32>;  // the private key as RFC 8032 gives it
using Ed25519Signature = std::array<uint8_t, 64>;
using Blake2b512Digest = std::array<uint8_t, 64>;
using Blake2b256Digest = std::array<uint8_t, 32>;

// True when the signature over the message is valid for the key; false for
// any mismatch (a damaged signature included). Raises only when the library
// itself fails.
bool Ed25519Verify(const Ed25519PublicKey& key, const Ed25519Signature& signature, std::string_view message);
Ed25519Signature Ed25519Sign(const Ed25519Seed& seed, std::string_view message);
Ed25519PublicKey Ed25519PublicKeyOf(const Ed25519Seed& seed);

// BLAKE2b with a 64-byte digest, fed in pieces as data arrives.
class Blake2b512 {
 public:
  Blake2b512();
  ~Blake2b512();
  Blake2b512(const Blake2b512&) = delete;
  Blake2b512& operator=(const Blake2b512&) = delete;

  void Update(const void* data, size_t count);
  // The digest of everything fed so far; the hasher starts afresh after it.
  Blake2b512Digest Final();

  static Blake2b512Digest Of(std::string_view data);

 private:
  struct Context;
  std::unique_ptr<Context> context_;
};

// BLAKE2b with a 32-byte digest (not a cut BLAKE2b-512: the length is part of
// the hash's parameters).
Blake2b256Digest Blake2b256(std::string_view data);

// scrypt (RFC 7914) of the password and salt with N = 2^n_log2, r and p.
std::string Scrypt(std::string_view password, std::string_view salt, unsigned n_log2, uint32_t r, uint32_t p,
                   size_t length);

// Bytes from the system's cryptographic random source.
void RandomBytes(void* buffer, size_t count);

// Lower-case hexadecimal, two digits a byte.
std::string HexText(const void* data, size_t count);
template <size_t N>
std::string HexText(const std::array<uint8_t, N>& bytes) {
  return HexText(bytes.data(), bytes.size());
}

}  // namespace platform
