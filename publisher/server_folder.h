// A local copy of the server's product folder, as the publisher reads and
// checks it: the same rules a client applies (release_verifier.h), on files
// named as the server names them (GBK bytes).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/release_verifier.h"

namespace publishing {

// Files of the folder by their path relative to it.
class LocalReleaseSource : public app::ReleaseSource {
 public:
  explicit LocalReleaseSource(std::string folder) : folder_(std::move(folder)) {}
  std::optional<std::string> Fetch(const std::string& path, size_t limit) override;

 private:
  std::string folder_;
};

struct ServerState {
  int32_t client_version = 0;     // of version.ini; 0 without one
  int32_t database_version = 1;   // of version.ini; 1 without one
  bool signed_release = false;    // version.ini.minisig is there
  int64_t highest_descriptor = 0;  // the highest number in log/
  std::string descriptor_extension = ".ini";  // that of the highest descriptor
};

// What the folder holds now; EReleaseInput when it is not a folder.
ServerState ReadServerState(const std::string& folder);

// The product folder as clients name it (productdir) when none is given:
// "/" + the folder's own name + "/".
std::string DefaultProduct(const std::string& folder);

// Checks the folder as a client with the key would, at now, and lists what
// is wrong (empty when nothing is): the release's signatures and comments,
// every descriptor down the chain and its rows, every file the rows name
// against its byte count and hash, and descriptors above the release.
std::vector<std::string> VerifyServerFolder(const std::string& folder, const app::minisign::PublicKey& key,
                                            const std::string& product, int64_t now);

// The path as the settings layer names files (GBK); EReleaseInput when the
// folder's path does not convert.
std::string GbkPath(const std::string& path);

}  // namespace publishing
