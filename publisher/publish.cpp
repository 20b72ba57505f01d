#include "publisher/publish.h"

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "app/release_comment.h"
#include "app/release_verifier.h"
#include "platform/encoding.h"
#include "publisher/release_files.h"
#include "publisher/server_folder.h"
#include "settings/profile.h"

namespace publishing {
namespace {

namespace fs = std::filesystem;
using app::ReleaseComment;

constexpr const char* kUntrustedComment = "signature from the korvane publisher";

// Files prepared in a folder beside the server folder (so a rename moves
// them), put in place only by Commit; otherwise removed with the folder.
class Staging {
 public:
  explicit Staging(const std::string& server) : server_(server) {
    const fs::path base = fs::absolute(fs::path(server).lexically_normal());
    std::string pattern = (base.parent_path() / ("." + base.filename().string() + ".publisher-XXXXXX")).string();
    if (mkdtemp(pattern.data()) == nullptr) throw EWriteFailed(pattern + ": cannot make the staging folder");
    folder_ = pattern;
  }
  ~Staging() {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }
  Staging(const Staging&) = delete;
  Staging& operator=(const Staging&) = delete;

  // A staged file for the server path; raises EWriteFailed.
  std::string Add(const std::string& server_path) {
    const std::string staged = folder_ + "/" + std::to_string(entries_.size());
    entries_.emplace_back(staged, server_path);
    return staged;
  }
  void Write(const std::string& server_path, const std::string& bytes) {
    const std::string staged = Add(server_path);
    std::ofstream out(staged, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) throw EWriteFailed(staged + ": cannot be written");
  }
  void Copy(const std::string& source, const std::string& server_path) {
    std::error_code error;
    fs::copy_file(source, Add(server_path), fs::copy_options::overwrite_existing, error);
    if (error) throw EWriteFailed(source + ": cannot be copied: " + error.message());
  }
  // Renames in the order added.
  void Commit() {
    for (const auto& [staged, server_path] : entries_) {
      const fs::path target = fs::path(server_) / server_path;
      std::error_code error;
      fs::create_directories(target.parent_path(), error);
      fs::permissions(staged, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                                  fs::perms::others_read, error);
      fs::rename(staged, target, error);
      if (error) {
        throw EWriteFailed(target.string() + ": cannot be put in place (" + error.message() +
                           "); the files before it in the release are in place already");
      }
    }
  }

 private:
  std::string server_;
  std::string folder_;
  std::vector<std::pair<std::string, std::string>> entries_;
};

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw EReleaseInput(path + ": cannot be read");
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string SignatureText(const app::minisign::SigningKey& key, const std::string& bytes,
                          const ReleaseComment& comment) {
  return app::minisign::FormatSignature(app::minisign::Sign(key, platform::Blake2b512::Of(bytes),
                                                            app::FormatReleaseComment(comment), kUntrustedComment));
}

bool SameFile(const std::string& server_file, const ReleaseFile& file) {
  std::error_code error;
  if (!fs::is_regular_file(server_file, error) || static_cast<int64_t>(fs::file_size(server_file, error)) != file.bytes) {
    return false;
  }
  return FileHash(server_file) == file.hash;
}

std::string Row(size_t index, const ReleaseFile& file) {
  return "[file" + std::to_string(index) + "]\r\nName=" + file.name + "\r\ntype=" + file.type +
         "\r\nSize=" + file.size_text + "\r\nDate=" + file.date_text + "\r\nBytes=" + std::to_string(file.bytes) +
         "\r\nHash=" + file.hash + "\r\n";
}

// The folder's current release, verified with the signing key or a trusted
// one (all descriptors when whole, else the newest); nullopt for a folder
// without a signed release.
std::optional<app::VerifiedRelease> CurrentRelease(const PublishOptions& options,
                                                   const app::minisign::SigningKey& key, bool whole) {
  if (!ReadServerState(options.server).signed_release) return std::nullopt;
  std::vector<app::minisign::PublicKey> keys{key.Public()};
  keys.insert(keys.end(), options.trusted.begin(), options.trusted.end());
  LocalReleaseSource source(options.server);
  std::string refused;
  for (const app::minisign::PublicKey& candidate : keys) {
    try {
      // Not expired: a renewal may come after the expiry; the time of the
      // check is the signature's own.
      app::VerifiedRelease current = app::VerifyRelease(source, candidate, options.product, 0, 0, 0);
      if (!whole && current.descriptors.size() > 1) current.descriptors.resize(1);
      return current;
    } catch (const app::EReleaseRefused& refusal) {
      refused = refusal.what();
      if (refusal.reason != app::ReleaseRefusal::kOtherKey) break;
    }
  }
  throw EReleaseInput("the server folder's release does not verify: " + platform::GbkToUtf8(refused));
}

}  // namespace

PublishResult Publish(const PublishOptions& options, const app::minisign::SigningKey& key) {
  const ServerState state = ReadServerState(options.server);
  const std::optional<app::VerifiedRelease> current = CurrentRelease(options, key, false);
  const std::vector<ReleaseFile> files = ReadReleaseFolder(options.release);

  // The first signed release names every file: a client below it cannot
  // trust the unsigned releases before it, so it gets the whole product.
  std::vector<const ReleaseFile*> listed, changed;
  for (const ReleaseFile& file : files) {
    const bool same = SameFile(options.server + "/" + file.server_path, file);
    if (!same) changed.push_back(&file);
    if (!same || !current) listed.push_back(&file);
  }
  if (changed.empty()) throw ENothingToPublish("nothing in " + options.release + " differs from the server folder");

  const int64_t base = std::max<int64_t>(state.client_version, state.highest_descriptor);
  if (base >= 2147483647) throw EReleaseInput("the server folder's release number is at its end");
  PublishResult result;
  result.release = static_cast<int32_t>(base + 1);
  const std::string number = std::to_string(result.release);
  result.descriptor = "log/" + number + state.descriptor_extension;

  std::string descriptor;
  for (size_t i = 0; i < listed.size(); ++i) descriptor += Row(i + 1, *listed[i]);

  Staging staging(options.server);
  for (const ReleaseFile* file : changed) {
    staging.Copy(file->source, file->server_path);
    result.files.push_back(file->server_path);
  }
  ReleaseComment descriptor_comment;
  descriptor_comment.product = options.product;
  descriptor_comment.release = result.release;
  descriptor_comment.path = result.descriptor;
  descriptor_comment.previous = current ? "log/" + current->descriptors.front().name : "-";
  staging.Write(result.descriptor, descriptor);
  staging.Write(result.descriptor + app::kSignatureSuffix, SignatureText(key, descriptor, descriptor_comment));

  // version.ini keeps its layout; only the numbers change.
  const std::string version_path = options.server + "/" + app::kVersionFilePath;
  const std::string staged_version = staging.Add(app::kVersionFilePath);
  std::error_code missing, error;
  if (fs::is_regular_file(version_path, missing)) fs::copy_file(version_path, staged_version, error);
  if (error) throw EWriteFailed(version_path + ": cannot be copied: " + error.message());
  const std::string section = "kvdatacont", client_key = "client_version", database_key = "database_version";
  const std::string database = std::to_string(options.database_version.value_or(state.database_version));
  const std::string staged_gbk = GbkPath(staged_version);
  if (!settings::WriteProfileString(staged_gbk, &section, &client_key, &number) ||
      !settings::WriteProfileString(staged_gbk, &section, &database_key, &database)) {
    throw EWriteFailed(staged_version + ": cannot be written");
  }
  const std::string version_bytes = ReadBytes(staged_version);
  ReleaseComment version_comment;
  version_comment.kind = ReleaseComment::Kind::kVersionFile;
  version_comment.product = options.product;
  version_comment.release = result.release;
  version_comment.path = app::kVersionFilePath;
  version_comment.expires = options.now + options.valid_seconds;
  version_comment.newest = result.descriptor;
  version_comment.newest_hash = platform::HexText(platform::Blake2b512::Of(descriptor));
  staging.Write(std::string(app::kVersionFilePath) + app::kSignatureSuffix,
                SignatureText(key, version_bytes, version_comment));
  staging.Commit();
  return result;
}

int32_t Resign(const PublishOptions& options, const app::minisign::SigningKey& key, bool all_descriptors) {
  const std::optional<app::VerifiedRelease> current = CurrentRelease(options, key, all_descriptors);
  if (!current) throw EReleaseInput(options.server + ": no signed release to renew (publish one first)");
  Staging staging(options.server);
  if (all_descriptors) {
    for (const app::VerifiedDescriptor& descriptor : current->descriptors) {
      staging.Write("log/" + descriptor.name + app::kSignatureSuffix,
                    SignatureText(key, descriptor.bytes, descriptor.comment));
    }
  }
  ReleaseComment comment = current->version;
  comment.expires = options.now + options.valid_seconds;
  staging.Write(std::string(app::kVersionFilePath) + app::kSignatureSuffix,
                SignatureText(key, current->version_file, comment));
  staging.Commit();
  return comment.release;
}

}  // namespace publishing
