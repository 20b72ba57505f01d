// The publisher's commands on a local copy of the server's product folder:
// publish a release folder as the next signed release, renew the version
// file's signature, and make a key pair. Nothing is written before every
// check has passed: the new files are staged beside the server folder and
// renamed into place at the end (the version file last).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/minisign.h"

namespace publishing {

// Writing the result failed (the folder is as it was unless the message says
// otherwise).
class EWriteFailed : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Nothing in the release folder differs from what the server holds.
class ENothingToPublish : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct PublishOptions {
  std::string server;   // the server's product folder (local copy)
  std::string release;  // the new release's folder
  std::string product;  // productdir of the clients, "/qt482/"
  int64_t now = 0;      // seconds since 1970, UTC
  int64_t valid_seconds = 30 * 86400;
  std::optional<int32_t> database_version;
  // Keys whose signatures the folder's current release may carry (besides
  // the signing key's own): the old key while rotating.
  std::vector<app::minisign::PublicKey> trusted;
};

struct PublishResult {
  int32_t release = 0;
  std::string descriptor;  // "log/12.ini"
  std::vector<std::string> files;  // server paths written (GBK)
};

// The next release: the changed files copied into place, log/N.ini with
// their rows (every file of the release folder for the first signed
// release), version.ini raised to N, both signed.
PublishResult Publish(const PublishOptions& options, const app::minisign::SigningKey& key);

// A new signature of version.ini with a new expiry, after the folder's
// release verified (with the signing key or a trusted one). With
// all_descriptors every descriptor of the chain is signed anew as well (a
// key rotation). Gives the release number.
int32_t Resign(const PublishOptions& options, const app::minisign::SigningKey& key, bool all_descriptors);

}  // namespace publishing
