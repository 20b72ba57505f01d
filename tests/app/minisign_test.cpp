// minisign's formats both ways against the real minisign tool: its keys and
// signatures read and verified by ours, ours verified by it; damaged files,
// strict base64 and the release comment's one spelling.
#include "app/minisign.h"

#include <gtest/gtest.h>

#include <string>

#include "app/base64.h"
#include "app/release_comment.h"
#include "support/signing_tools.h"
#include "support/test_util.h"

namespace {

using app::minisign::Verdict;
using test_support::ReadFile;
using test_support::WriteFile;

platform::Blake2b512Digest DigestOf(const std::string& path) { return platform::Blake2b512::Of(ReadFile(path)); }

class MinisignFormat : public ::testing::Test {
 protected:
  void SetUp() override {
    keys = test_support::MinisignKeyPair(dir.Path());
    file = dir.File("version.ini");
    WriteFile(file, "[kvdatacont]\r\nclient_version=12\r\n");
  }
  app::minisign::PublicKey Key() const { return *app::minisign::ParsePublicKey(keys.public_key); }

  test_support::TempDir dir;
  test_support::MinisignKeys keys;
  std::string file;
};

TEST_F(MinisignFormat, ReadsAndVerifiesWhatMinisignSigns) {
  const auto from_file = app::minisign::ParsePublicKey(ReadFile(keys.public_key_file));
  ASSERT_TRUE(from_file);
  EXPECT_EQ(app::minisign::PublicKeyText(*from_file), keys.public_key);
  EXPECT_EQ(app::minisign::PublicKeyFile(*from_file), ReadFile(keys.public_key_file));

  test_support::MinisignSign(keys, file, "korvane-release any text");
  const auto signature = app::minisign::ParseSignature(ReadFile(file + ".minisig"));
  ASSERT_TRUE(signature);
  EXPECT_EQ(signature->algorithm, "ED");
  EXPECT_EQ(signature->trusted_comment, "korvane-release any text");
  EXPECT_EQ(app::minisign::FormatSignature(*signature), ReadFile(file + ".minisig"));
  EXPECT_EQ(app::minisign::Verify(Key(), *signature, DigestOf(file)), Verdict::kValid);
  WriteFile(file, "[kvdatacont]\r\nclient_version=13\r\n");
  EXPECT_EQ(app::minisign::Verify(Key(), *signature, DigestOf(file)), Verdict::kBadSignature);
}

TEST_F(MinisignFormat, RefusesLegacySignaturesOtherKeysAndChangedComments) {
  test_support::MinisignSign(keys, file, "legacy", true);
  const auto legacy = app::minisign::ParseSignature(ReadFile(file + ".minisig"));
  ASSERT_TRUE(legacy);
  EXPECT_EQ(legacy->algorithm, "Ed");
  EXPECT_EQ(app::minisign::Verify(Key(), *legacy, DigestOf(file)), Verdict::kLegacy);

  const test_support::MinisignKeys other = test_support::MinisignKeyPair(dir.Path(), "other");
  test_support::MinisignSign(other, file, "other key");
  const auto by_other = app::minisign::ParseSignature(ReadFile(file + ".minisig"));
  EXPECT_EQ(app::minisign::Verify(Key(), *by_other, DigestOf(file)), Verdict::kOtherKey);
  // The other key's id with our key's text: the key id matches, the
  // signature does not.
  auto forged_id = *by_other;
  forged_id.key_id = Key().key_id;
  EXPECT_EQ(app::minisign::Verify(Key(), forged_id, DigestOf(file)), Verdict::kBadSignature);

  test_support::MinisignSign(keys, file, "release=12");
  auto changed = *app::minisign::ParseSignature(ReadFile(file + ".minisig"));
  changed.trusted_comment = "release=13";
  EXPECT_EQ(app::minisign::Verify(Key(), changed, DigestOf(file)), Verdict::kBadGlobalSignature);
  changed.untrusted_comment = "anything";  // not signed, and not needed to be
  changed.trusted_comment = "release=12";
  EXPECT_EQ(app::minisign::Verify(Key(), changed, DigestOf(file)), Verdict::kValid);
}

TEST_F(MinisignFormat, MinisignVerifiesWhatWeSign) {
  app::minisign::SigningKey key;
  key.key_id = {1, 2, 3, 4, 5, 6, 7, 8};
  key.seed.fill(42);
  WriteFile(dir.File("ours.pub"), app::minisign::PublicKeyFile(key.Public()));
  const test_support::MinisignKeys ours{dir.File("ours.pub"), "", ""};
  WriteFile(file + ".minisig",
            app::minisign::FormatSignature(app::minisign::Sign(key, DigestOf(file), "korvane-release x", "ours")));
  EXPECT_TRUE(test_support::MinisignVerifies(ours, file));
  EXPECT_EQ(app::minisign::KeyIdText(key.key_id), "0807060504030201");
  // The public key file names the id as minisign writes it: no leading zeros.
  EXPECT_EQ(ReadFile(dir.File("ours.pub")).substr(0, 55), "untrusted comment: minisign public key 807060504030201\n");
  WriteFile(file, "changed");
  EXPECT_FALSE(test_support::MinisignVerifies(ours, file));
}

TEST_F(MinisignFormat, DamagedSignatureFilesAreNotRead) {
  test_support::MinisignSign(keys, file, "korvane-release x");
  const std::string good = ReadFile(file + ".minisig");
  const size_t second = good.find('\n') + 1;
  const size_t third = good.find('\n', second) + 1;
  const size_t fourth = good.find('\n', third) + 1;
  struct Case {
    const char* what;
    std::string text;
  };
  const Case cases[] = {
      {"empty", ""},
      {"truncated to three lines", good.substr(0, fourth)},
      {"truncated inside the last line", good.substr(0, good.size() - 10)},
      {"truncated inside the signature", good.substr(0, second + 50)},
      {"a fifth line", good + "more\n"},
      {"a blank line at the end", good + "\n"},
      {"no untrusted prefix", good.substr(good.find(':') + 1)},
      {"no trusted prefix", good.substr(0, third) + good.substr(third + 8)},
      {"a lone CR in a comment", good.substr(0, 5) + "\r" + good.substr(5)},
      {"a NUL byte", good.substr(0, 5) + std::string(1, '\0') + good.substr(5)},
      {"a blank in the base64", good.substr(0, second + 4) + " " + good.substr(second + 4)},
      {"an unknown algorithm", good.substr(0, second) + "RX" + good.substr(second + 2)},
      {"oversized", good.substr(0, third) + "trusted comment: " + std::string(4096, 'x') + good.substr(fourth - 1)},
  };
  for (const Case& c : cases) EXPECT_FALSE(app::minisign::ParseSignature(c.text)) << c.what;
  // CR LF line ends read as LF.
  std::string crlf;
  for (const char ch : good) crlf += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
  EXPECT_EQ(app::minisign::ParseSignature(crlf), app::minisign::ParseSignature(good));
}

TEST(Base64, DecodesOnlyTheOneCanonicalText) {
  for (const std::string bytes : {"", "f", "fo", "foo", "foob", "fooba", "foobar", "\xff\x00\x80"}) {
    EXPECT_EQ(app::Base64Decode(app::Base64Encode(bytes)), bytes);
  }
  EXPECT_EQ(app::Base64Encode("foobar"), "Zm9vYmFy");
  EXPECT_EQ(app::Base64Encode("fo"), "Zm8=");
  for (const char* bad : {"Zm8", "Zm9=", "Zm=8", "Z===", "Zm 8=", "Zm8=\n", "Zm-8", "====", "Zm8==="}) {
    EXPECT_FALSE(app::Base64Decode(bad)) << bad;
  }
}

TEST(ReleaseComment, ReadsBothKindsInTheirOneSpelling) {
  const std::string hash(128, 'a');
  const std::string descriptor = "korvane-release product=/qt482/ release=12 path=log/12.ini previous=log/11.ini";
  const std::string version = "korvane-release product=/%B2%FA%C6%B7/ release=7 path=version.ini "
                              "expires=2027-01-10T08:30:00Z newest=log/7.ini newest_hash=" + hash;
  const auto d = app::ParseReleaseComment(descriptor);
  ASSERT_TRUE(d);
  EXPECT_EQ(d->kind, app::ReleaseComment::Kind::kDescriptor);
  EXPECT_EQ(d->release, 12);
  EXPECT_EQ(d->previous, "log/11.ini");
  EXPECT_EQ(app::FormatReleaseComment(*d), descriptor);
  const auto v = app::ParseReleaseComment(version);
  ASSERT_TRUE(v);
  EXPECT_EQ(v->product, "/\xB2\xFA\xC6\xB7/");
  EXPECT_EQ(v->expires, 1799569800);
  EXPECT_EQ(app::FormatUtcTime(v->expires), "2027-01-10T08:30:00Z");
  EXPECT_EQ(app::FormatReleaseComment(*v), version);

  const std::string refused[] = {
      "",
      "korvane-release",
      "Korvane-release product=/a/ release=1 path=log/1.ini previous=-",
      "korvane-release product=/a/ release=1 path=log/1.ini previous=- extra=1",
      "korvane-release product=/a/ release=1 path=log/1.ini",
      "korvane-release release=1 product=/a/ path=log/1.ini previous=-",
      "korvane-release product=/a/ product=/a/ release=1 path=log/1.ini",
      "korvane-release product=/a/  release=1 path=log/1.ini previous=-",
      "korvane-release product=/a/ release=1 path=log/1.ini previous=- ",
      "korvane-release product=/a/ release=01 path=log/1.ini previous=-",
      "korvane-release product=/a/ release=0 path=log/1.ini previous=-",
      "korvane-release product=/a/ release=2147483648 path=log/1.ini previous=-",
      "korvane-release product=/a/ release=+1 path=log/1.ini previous=-",
      "korvane-release product= release=1 path=log/1.ini previous=-",
      "korvane-release product=/a%2F/ release=1 path=log/1.ini previous=-",
      "korvane-release product=/a%b2/ release=1 path=log/1.ini previous=-",
      "korvane-release product=/a%B/ release=1 path=log/1.ini previous=-",
      "korvane-release product=/a\xB2/ release=1 path=log/1.ini previous=-",
      "korvane-release product=/a/ release=1 path=version.ini expires=2027-02-30T00:00:00Z newest=log/1.ini "
      "newest_hash=" + hash,
      "korvane-release product=/a/ release=1 path=version.ini expires=2027-01-10 newest=log/1.ini newest_hash=" + hash,
      "korvane-release product=/a/ release=1 path=version.ini expires=2027-01-10T00:00:00Z newest=log/1.ini "
      "newest_hash=" + std::string(128, 'A'),
      "korvane-release product=/a/ release=1 path=version.ini expires=2027-01-10T00:00:00Z newest=log/1.ini "
      "newest_hash=" + hash.substr(1),
  };
  for (const std::string& text : refused) EXPECT_FALSE(app::ParseReleaseComment(text)) << text;
}

}  // namespace
