#include "app/release_verifier.h"

#include "app/descriptor_name.h"
#include "app/safe_paths.h"
#include "settings/ini_file.h"

namespace app {
namespace {

using Kind = ReleaseComment::Kind;

[[noreturn]] void Refuse(ReleaseRefusal reason, const std::string& detail) { throw EReleaseRefused(reason, detail); }

std::string Fetched(ReleaseSource& source, const std::string& path, size_t limit, ReleaseRefusal when_missing) {
  std::optional<std::string> bytes = source.Fetch(path, limit);
  if (!bytes) Refuse(when_missing, path + ": not on the server");
  return std::move(*bytes);
}

// "log/<name>" with a plain entry name: the only place a descriptor can be.
std::optional<std::string> DescriptorEntry(const std::string& path) {
  if (path.rfind("log/", 0) != 0) return std::nullopt;
  std::string name = path.substr(4);
  if (!IsSafeEntryName(name)) return std::nullopt;
  return name;
}

bool IsCanonicalCount(const std::string& text) {
  if (text.empty() || text.size() > 18 || (text.size() > 1 && text[0] == '0')) return false;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

bool IsLowerHex(const std::string& text, size_t length) {
  if (text.size() != length) return false;
  for (const char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

}  // namespace

ReleaseComment VerifySignedFile(const minisign::PublicKey& key, const std::string& signature_file,
                                const std::string& file, Kind kind, const std::string& product,
                                const std::string& path) {
  const std::optional<minisign::Signature> signature = minisign::ParseSignature(signature_file);
  if (!signature) Refuse(ReleaseRefusal::kSignatureInvalid, path + ": the signature file is damaged");
  switch (minisign::Verify(key, *signature, platform::Blake2b512::Of(file))) {
    case minisign::Verdict::kValid:
      break;
    case minisign::Verdict::kLegacy:
      Refuse(ReleaseRefusal::kSignatureInvalid, path + ": a legacy (not prehashed) signature");
    case minisign::Verdict::kOtherKey:
      Refuse(ReleaseRefusal::kOtherKey, path + ": signed with key " + minisign::KeyIdText(signature->key_id) +
                                            ", not " + minisign::KeyIdText(key.key_id));
    case minisign::Verdict::kBadSignature:
      Refuse(ReleaseRefusal::kSignatureInvalid, path + ": the signature does not match the file");
    case minisign::Verdict::kBadGlobalSignature:
      Refuse(ReleaseRefusal::kSignatureInvalid, path + ": the trusted comment does not match its signature");
  }
  const std::optional<ReleaseComment> comment = ParseReleaseComment(signature->trusted_comment);
  if (!comment || comment->kind != kind) {
    Refuse(ReleaseRefusal::kSignatureInvalid, path + ": the trusted comment is not a release comment of this file's kind");
  }
  if (comment->product != product) {
    Refuse(ReleaseRefusal::kSignatureInvalid, path + ": signed for product " + comment->product + ", not " + product);
  }
  if (comment->path != path) Refuse(ReleaseRefusal::kSignatureInvalid, path + ": signed as " + comment->path);
  return *comment;
}

VerifiedRelease VerifyRelease(ReleaseSource& source, const minisign::PublicKey& key, const std::string& product,
                              int64_t now, int32_t installed_release, int32_t local_version) {
  const std::string version_path = kVersionFilePath;
  VerifiedRelease release;
  const std::string version_signature = Fetched(source, version_path + kSignatureSuffix,
                                                minisign::kMaxSignatureFileBytes, ReleaseRefusal::kSignatureMissing);
  release.version_file = Fetched(source, version_path, kMaxSignedMetadataBytes, ReleaseRefusal::kFileMissing);
  release.version =
      VerifySignedFile(key, version_signature, release.version_file, Kind::kVersionFile, product, version_path);
  const ReleaseComment& version = release.version;
  if (now >= version.expires) {
    Refuse(ReleaseRefusal::kExpired, version_path + ": expired at " + FormatUtcTime(version.expires));
  }
  if (version.release < installed_release) {
    Refuse(ReleaseRefusal::kOlderRelease, version_path + ": release " + std::to_string(version.release) +
                                              " is older than the installed release " +
                                              std::to_string(installed_release));
  }

  // Down the chain from the newest descriptor, while above the local version.
  std::string path = version.newest;
  std::optional<std::string> expected_hash = version.newest_hash;
  int64_t above = int64_t{version.release} + 1;
  while (path != "-") {
    const std::optional<std::string> name = DescriptorEntry(path);
    const int64_t number = name ? DescriptorVersion(*name) : 0;
    // The newest is release N itself; every link goes down.
    if (!name || number >= above || (expected_hash && number != version.release)) {
      Refuse(ReleaseRefusal::kSignatureInvalid, path + ": not a descriptor the release can name here");
    }
    if (number <= local_version) break;
    const std::string signature =
        Fetched(source, path + kSignatureSuffix, minisign::kMaxSignatureFileBytes, ReleaseRefusal::kSignatureMissing);
    VerifiedDescriptor descriptor{*name, Fetched(source, path, kMaxSignedMetadataBytes, ReleaseRefusal::kFileMissing), {}};
    descriptor.comment = VerifySignedFile(key, signature, descriptor.bytes, Kind::kDescriptor, product, path);
    if (descriptor.comment.release != number) {
      Refuse(ReleaseRefusal::kSignatureInvalid,
             path + ": signed as release " + std::to_string(descriptor.comment.release));
    }
    if (expected_hash && platform::HexText(platform::Blake2b512::Of(descriptor.bytes)) != *expected_hash) {
      Refuse(ReleaseRefusal::kSignatureInvalid, path + ": not the descriptor the version file names");
    }
    expected_hash.reset();
    above = number;
    path = descriptor.comment.previous;
    release.descriptors.push_back(std::move(descriptor));
  }
  return release;
}

std::vector<SignedRow> ReadSignedRows(const std::string& descriptor_path) {
  // Parsed once, every section, as the file list reads it.
  const settings::TIniFileSnapshot descriptor(descriptor_path);
  std::vector<std::string> sections;
  descriptor.ListAllSections(sections);
  std::vector<SignedRow> rows;
  for (const std::string& section : sections) {
    SignedRow row;
    row.name = descriptor.ReadTextValue(section, "Name", "");
    row.type = descriptor.ReadTextValue(section, "type", "");
    const std::string bytes = descriptor.ReadTextValue(section, "Bytes", "");
    row.hash = descriptor.ReadTextValue(section, "Hash", "");
    if (!IsCanonicalCount(bytes) || !IsLowerHex(row.hash, 128)) {
      Refuse(ReleaseRefusal::kSignatureInvalid, "section [" + section + "]: no valid Bytes= and Hash=");
    }
    row.bytes = std::stoll(bytes);
    rows.push_back(std::move(row));
  }
  return rows;
}

}  // namespace app
