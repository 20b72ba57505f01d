#include "publisher/server_folder.h"

#include <filesystem>
#include <fstream>
#include <set>

#include "app/descriptor_name.h"
#include "app/safe_paths.h"
#include "app/texts.h"
#include "platform/encoding.h"
#include "publisher/release_files.h"
#include "settings/ini_file.h"

namespace publishing {
namespace {

namespace fs = std::filesystem;

bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The server path of a row, as a client fetches it (download.cpp).
std::string ServerPathOf(const app::SignedRow& row) {
  if (app::texts::UpperAscii(row.type) == "BIN") {
    return row.name.size() > 4 ? "Bin/" + row.name.substr(4) : "";
  }
  return row.name;
}

}  // namespace

std::string GbkPath(const std::string& path) {
  const std::string gbk = platform::Utf8ToGbk(path);
  if (platform::GbkToUtf8(gbk) != path) throw EReleaseInput(path + ": the path does not convert to GBK");
  return gbk;
}

std::optional<std::string> LocalReleaseSource::Fetch(const std::string& path, size_t limit) {
  const std::string file = folder_ + "/" + path;
  std::error_code error;
  if (!fs::is_regular_file(file, error)) return std::nullopt;
  const auto size = fs::file_size(file, error);
  if (error) return std::nullopt;
  if (size > limit) {
    throw app::EReleaseRefused(app::ReleaseRefusal::kSignatureInvalid,
                               path + ": larger than " + std::to_string(limit) + " bytes");
  }
  std::ifstream in(file, std::ios::binary);
  std::string bytes(static_cast<size_t>(size), '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!in) return std::nullopt;
  return bytes;
}

std::string DefaultProduct(const std::string& folder) {
  std::string name = fs::path(folder).lexically_normal().filename().string();
  if (name.empty()) name = fs::path(folder).lexically_normal().parent_path().filename().string();
  return "/" + platform::Utf8ToGbk(name) + "/";
}

ServerState ReadServerState(const std::string& folder) {
  std::error_code error;
  if (!fs::is_directory(folder, error)) throw EReleaseInput(folder + ": not a folder");
  ServerState state;
  const std::string version = folder + "/version.ini";
  if (fs::is_regular_file(version, error)) {
    settings::TIniFile file(GbkPath(version));
    state.client_version = file.ReadIntegerValue("kvdatacont", "client_version", 1);
    state.database_version = file.ReadIntegerValue("kvdatacont", "database_version", 1);
  }
  state.signed_release = fs::is_regular_file(version + app::kSignatureSuffix, error);
  for (auto it = fs::directory_iterator(folder + "/log", error); !error && it != fs::directory_iterator();
       it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (!it->is_regular_file() || EndsWith(name, app::kSignatureSuffix)) continue;
    const int64_t number = app::DescriptorVersion(name);
    if (number > state.highest_descriptor) {
      state.highest_descriptor = number;
      state.descriptor_extension = name.size() > 4 ? name.substr(name.size() - 4) : ".ini";
    }
  }
  return state;
}

std::vector<std::string> VerifyServerFolder(const std::string& folder, const app::minisign::PublicKey& key,
                                            const std::string& product, int64_t now) {
  std::vector<std::string> problems;
  LocalReleaseSource source(folder);
  app::VerifiedRelease release;
  try {
    release = app::VerifyRelease(source, key, product, now, 0, 0);
  } catch (const app::EReleaseRefused& refusal) {
    problems.push_back(refusal.what());
    return problems;
  }
  const ServerState state = ReadServerState(folder);
  if (state.client_version != release.version.release) {
    problems.push_back("version.ini: client_version " + std::to_string(state.client_version) +
                       " is not the signed release " + std::to_string(release.version.release));
  }
  if (state.highest_descriptor > release.version.release) {
    problems.push_back("log/: descriptor " + std::to_string(state.highest_descriptor) + " is above the signed release " +
                       std::to_string(release.version.release) + " (unsigned clients would fetch it)");
  }
  // Each file is checked against the newest descriptor that names it.
  std::set<std::string> seen;
  for (const app::VerifiedDescriptor& descriptor : release.descriptors) {
    const std::string path = "log/" + descriptor.name;
    std::vector<app::SignedRow> rows;
    try {
      rows = app::ReadSignedRows(GbkPath(folder) + "/" + path);
    } catch (const app::EReleaseRefused& refusal) {
      problems.push_back(path + ": " + refusal.what());
      continue;
    }
    for (const app::SignedRow& row : rows) {
      if (!seen.insert(row.name).second || app::texts::UpperAscii(row.type) == "SCRIPTS") continue;
      const std::string server_path = ServerPathOf(row);
      const std::string shown = platform::GbkToUtf8(row.name);
      if (server_path.empty() || !app::IsSafeRelativeName(server_path)) {
        problems.push_back(path + ": " + shown + ": a name a client cannot fetch");
        continue;
      }
      const std::string file = folder + "/" + server_path;
      std::error_code error;
      if (!fs::is_regular_file(file, error)) {
        problems.push_back(path + ": " + shown + ": not on the server");
        continue;
      }
      int64_t bytes = 0;
      const std::string hash = FileHash(file, &bytes);
      if (bytes != row.bytes || hash != row.hash) {
        problems.push_back(path + ": " + shown + ": not the file that was signed (" + std::to_string(bytes) +
                           " bytes, " + std::to_string(row.bytes) + " signed)");
      }
    }
  }
  return problems;
}

}  // namespace publishing
