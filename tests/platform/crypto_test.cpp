// The crypto primitives against published test vectors (RFC 8032, RFC 7914,
// BLAKE2's own), and the streaming hasher fed in every split.
#include "platform/crypto.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using platform::HexText;

std::string Unhex(const std::string& hex) {
  std::string bytes;
  for (size_t i = 0; i < hex.size(); i += 2) bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return bytes;
}

template <size_t N>
std::array<uint8_t, N> ArrayOf(const std::string& hex) {
  const std::string bytes = Unhex(hex);
  std::array<uint8_t, N> out{};
  std::copy(bytes.begin(), bytes.end(), out.begin());
  return out;
}

// RFC 8032, section 7.1, tests 1 and 2.
struct Ed25519Vector {
  const char* seed;
  const char* public_key;
  const char* message;
  const char* signature;
};
const Ed25519Vector kEd25519Vectors[] = {
    {"9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60",
     "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a", "",
     "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e065224901555fb8821590a33bacc61e39701cf9b46bd25bf5f0595bbe24655141438e7a100b"},
    {"4ccd089b28ff96da9db6c346ec114e0f5b8a319f35aba624da8cf6ed4fb8a6fb",
     "3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c", "72",
     "92a009a9f0d4cab8720e820b5f642540a2b27b5416503f8fb3762223ebdb69da085ac1e43e15996e458f3613d0f11d8c387b2eaeb4302aeeb00d291612bb0c00"},
};

TEST(Crypto, Ed25519MatchesTheRfcVectorsAndRefusesAnyChange) {
  for (const Ed25519Vector& v : kEd25519Vectors) {
    const auto seed = ArrayOf<32>(v.seed);
    const auto key = ArrayOf<32>(v.public_key);
    const std::string message = Unhex(v.message);
    EXPECT_EQ(HexText(platform::Ed25519PublicKeyOf(seed)), v.public_key);
    const platform::Ed25519Signature signature = platform::Ed25519Sign(seed, message);
    EXPECT_EQ(HexText(signature), v.signature);
    EXPECT_TRUE(platform::Ed25519Verify(key, signature, message));
    EXPECT_FALSE(platform::Ed25519Verify(key, signature, message + "x"));
    for (size_t bit : {0, 255, 511}) {
      platform::Ed25519Signature changed = signature;
      changed[bit / 8] ^= static_cast<uint8_t>(1 << (bit % 8));
      EXPECT_FALSE(platform::Ed25519Verify(key, changed, message)) << bit;
    }
    platform::Ed25519PublicKey other = key;
    other[0] ^= 1;
    EXPECT_FALSE(platform::Ed25519Verify(other, signature, message));
  }
}

TEST(Crypto, Blake2bDigestsMatchTheReferenceAndEverySplitOfTheInput) {
  EXPECT_EQ(HexText(platform::Blake2b512::Of("abc")),
            "ba80a53f981c4d0d6a2797b69f12f6e94c212f14685ac4b74b12bb6fdbffa2d1"
            "7d87c5392aab792dc252d5de4533cc9518d38aa8dbf1925ab92386edd4009923");
  EXPECT_EQ(HexText(platform::Blake2b256("abc")), "bddd813c634239723171ef3fee98579b94964e3bb1cb3e427262c8c068d52319");
  EXPECT_EQ(HexText(platform::Blake2b256("")), "0e5751c026e543b2e8ab2eb06099daa1d1e5df47778f7787faab45cdf12fe3a8");

  std::string data;
  for (int i = 0; i < 300; ++i) data.push_back(static_cast<char>(i * 7));
  const platform::Blake2b512Digest whole = platform::Blake2b512::Of(data);
  platform::Blake2b512 hasher;
  for (size_t split = 0; split <= data.size(); split += 17) {
    hasher.Update(data.data(), split);
    hasher.Update(data.data() + split, data.size() - split);
    EXPECT_EQ(hasher.Final(), whole) << split;  // Final starts afresh
  }
}

TEST(Crypto, ScryptMatchesTheRfcVectors) {
  EXPECT_EQ(platform::HexText(platform::Scrypt("", "", 4, 1, 1, 64).data(), 64),
            "77d6576238657b203b19ca42c18a0497f16b4844e3074ae8dfdffa3fede21442"
            "fcd0069ded0948f8326a753a0fc81f17e8d3e0fb2e0d3628cf35e20c38d18906");
  const std::string derived = platform::Scrypt("password", "NaCl", 10, 8, 16, 64);
  EXPECT_EQ(HexText(derived.data(), derived.size()),
            "fdbabe1c9d3472007856e7190d01e9fe7c6ad7cbc8237830e77376634b373162"
            "2eaf30d92e22a3886ff109279d9830dac727afb94a83ee6d8360cbdfa2cc0640");
  EXPECT_THROW(platform::Scrypt("x", "y", 0, 8, 1, 32), platform::ECryptoError);
}

TEST(Crypto, RandomBytesDiffer) {
  std::array<uint8_t, 32> a{}, b{};
  platform::RandomBytes(a.data(), a.size());
  platform::RandomBytes(b.data(), b.size());
  EXPECT_NE(a, b);
}

}  // namespace
