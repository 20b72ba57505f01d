// The rules of a signed release, as a client checks them before it lists or
// fetches anything: the version file and its signature, then the chain of
// descriptors from the newest one down to the installed version, each with
// its signature, and the rows of each descriptor with their byte counts and
// hashes. Every failure is an EReleaseRefused that says which rule failed;
// nothing falls back to an unsigned reading.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/minisign.h"
#include "app/release_comment.h"

namespace app {

enum class ReleaseRefusal {
  kKeyInvalid,        // the configured public key is not a minisign key
  kSignatureMissing,  // a signature file is not on the server
  kSignatureInvalid,  // damaged, legacy, too large, not matching the file, or a rule of the comment broken
  kOtherKey,          // signed, but with another key
  kExpired,           // the version file's time is over
  kOlderRelease,      // below the release this client has installed
  kFileMissing,       // a file the signed release names is not on the server
};

class EReleaseRefused : public std::runtime_error {
 public:
  EReleaseRefused(ReleaseRefusal reason, const std::string& detail) : std::runtime_error(detail), reason(reason) {}
  ReleaseRefusal reason;
};

// Signed metadata (the version file, a descriptor) larger than this is refused.
inline constexpr size_t kMaxSignedMetadataBytes = 1024 * 1024;
inline constexpr const char* kVersionFilePath = "version.ini";
inline constexpr const char* kSignatureSuffix = ".minisig";

// Where the files of a release come from: the FTP server for the client, a
// local copy of the product folder for the publisher.
class ReleaseSource {
 public:
  virtual ~ReleaseSource() = default;
  // The bytes of the file at a path relative to the product folder; nullopt
  // when there is no such file. A file larger than limit is refused
  // (kSignatureInvalid) without reading more than limit + 1 bytes of it.
  virtual std::optional<std::string> Fetch(const std::string& path, size_t limit) = 0;
};

struct VerifiedDescriptor {
  std::string name;  // in log/, as "12.ini"
  std::string bytes;
  ReleaseComment comment;
};

struct VerifiedRelease {
  std::string version_file;  // the bytes of version.ini
  ReleaseComment version;
  std::vector<VerifiedDescriptor> descriptors;  // newest first, all above the local version
};

// The whole check of a release against the key, for product (the product
// folder as in productdir), at now (seconds since 1970, UTC), for a client
// that has installed signed release installed_release (0 for none) and has
// local version local_version.
VerifiedRelease VerifyRelease(ReleaseSource& source, const minisign::PublicKey& key, const std::string& product,
                              int64_t now, int32_t installed_release, int32_t local_version);

// The comment of a signed file: its signature checked against the file and
// the key, the comment read and of the kind, product and path expected.
ReleaseComment VerifySignedFile(const minisign::PublicKey& key, const std::string& signature_file,
                                const std::string& file, ReleaseComment::Kind kind, const std::string& product,
                                const std::string& path);

// One row of a signed descriptor.
struct SignedRow {
  std::string name;
  std::string type;
  int64_t bytes = 0;
  std::string hash;  // BLAKE2b-512, lower-case hexadecimal
};

// The rows of a descriptor file already verified; a row without a valid
// Bytes (decimal, no sign, no leading zero) or Hash (128 lower-case
// hexadecimal digits) is refused (kSignatureInvalid).
std::vector<SignedRow> ReadSignedRows(const std::string& descriptor_path);

// What a download checks each file against: by row name, the row of the
// newest descriptor that names it (the file the server holds now).
struct SignedFile {
  std::string type;
  int64_t bytes = 0;
  std::string hash;
};
using SignedFiles = std::map<std::string, SignedFile>;

}  // namespace app
