#include "publisher/release_files.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>

#include "app/safe_paths.h"
#include "app/texts.h"
#include "platform/crypto.h"
#include "platform/encoding.h"

namespace publishing {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Split(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (true) {
    const size_t slash = path.find('/', start);
    parts.push_back(path.substr(start, slash - start));
    if (slash == std::string::npos) return parts;
    start = slash + 1;
  }
}

std::string TypeOf(const std::string& file_name) {
  const size_t dot = file_name.rfind('.');
  if (dot == std::string::npos || dot == 0) return "FILE";
  const std::string extension = app::texts::UpperAscii(file_name.substr(dot + 1));
  if (extension.empty() || extension.size() > 8 || extension == "BIN" || extension == "SCRIPTS") return "FILE";
  for (const char c : extension) {
    if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return "FILE";
  }
  return extension;
}

std::string LocalDate(const fs::path& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return "";
  std::tm local{};
  localtime_r(&st.st_mtime, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d", &local);
  return text;
}

// Why a relative path (UTF-8, "/") cannot be published; empty when it can.
std::string Refusal(const std::string& relative, const std::vector<std::string>& parts) {
  if (platform::GbkToUtf8(platform::Utf8ToGbk(relative)) != relative) return "does not convert to GBK";
  for (const std::string& part : parts) {
    if (part.empty() || part[0] == '.') return "a hidden or empty name";
    if (part.front() == ' ' || part.front() == '\t' || part.back() == ' ' || part.back() == '\t') {
      return "a blank at the start or end of a name";
    }
    for (const char c : part) {
      if (c == '\\') return "a \"\\\" in a name (clients read it as a folder separator)";
      if (static_cast<unsigned char>(c) < 32 || c == 127) return "a control character in a name";
    }
  }
  const std::string top = app::texts::UpperAscii(parts[0]);
  if (parts.size() == 1 && (top == "VERSION.INI" || top == "VERSION.INI.MINISIG")) return "the version file's name";
  if (parts.size() > 1 && (top == "LOG" || top == "NOWLOG")) return "inside log/ or nowlog/, the updater's own folders";
  if (parts.size() > 2) return "deeper than one folder (clients mirror only the top folders)";
  if (!app::IsSafeRelativeName(platform::Utf8ToGbk(relative))) return "a name that would leave the program's folder";
  return "";
}

}  // namespace

std::string SizeText(int64_t bytes) {
  char text[32];
  if (bytes < 1024) {
    std::snprintf(text, sizeof text, "%lld B", static_cast<long long>(bytes));
  } else if (bytes < 1024 * 1024) {
    std::snprintf(text, sizeof text, "%lld KB", static_cast<long long>((bytes + 1023) / 1024));
  } else if (bytes < int64_t{1024} * 1024 * 1024) {
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / (1024.0 * 1024.0));
  } else {
    std::snprintf(text, sizeof text, "%.1f GB", static_cast<double>(bytes) / (1024.0 * 1024.0 * 1024.0));
  }
  return text;
}

std::string FileHash(const std::string& path, int64_t* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw EReleaseInput(path + ": cannot be read");
  platform::Blake2b512 hasher;
  std::vector<char> block(1 << 16);
  int64_t count = 0;
  while (in) {
    in.read(block.data(), static_cast<std::streamsize>(block.size()));
    const std::streamsize got = in.gcount();
    if (got <= 0) break;
    hasher.Update(block.data(), static_cast<size_t>(got));
    count += got;
  }
  if (in.bad()) throw EReleaseInput(path + ": cannot be read");
  if (bytes != nullptr) *bytes = count;
  return platform::HexText(hasher.Final());
}

std::vector<ReleaseFile> ReadReleaseFolder(const std::string& folder) {
  std::error_code error;
  if (!fs::is_directory(folder, error)) throw EReleaseInput(folder + ": not a folder");
  std::vector<std::string> problems;
  std::vector<ReleaseFile> files;
  std::map<std::string, std::string> local_names;  // upper-cased local path -> name
  for (auto it = fs::recursive_directory_iterator(folder, error); !error && it != fs::recursive_directory_iterator();
       it.increment(error)) {
    const fs::path& path = it->path();
    const std::string relative = fs::relative(path, folder).generic_string();
    if (it->is_directory() && !it->is_symlink()) continue;
    if (!it->is_regular_file() || it->is_symlink()) {
      problems.push_back(relative + ": not a plain file");
      continue;
    }
    const std::vector<std::string> parts = Split(relative);
    if (const std::string why = Refusal(relative, parts); !why.empty()) {
      problems.push_back(relative + ": " + why);
      continue;
    }
    ReleaseFile file;
    file.source = path.string();
    const std::string gbk = platform::Utf8ToGbk(relative);
    const bool bin = parts.size() == 2 && app::texts::UpperAscii(parts[0]) == "BIN";
    const std::string file_name = platform::Utf8ToGbk(parts.back());
    file.server_path = bin ? "Bin/" + file_name : gbk;
    file.name = bin ? "Bin\\" + file_name : gbk;
    file.type = bin ? "BIN" : TypeOf(parts.back());
    // Where a client puts it: Update/<name> (BIN files: Update/<file>).
    const std::string local = app::texts::UpperAscii(bin ? file_name : gbk);
    if (const auto [at, fresh] = local_names.emplace(local, relative); !fresh) {
      problems.push_back(relative + ": lands on the same local file as " + at->second);
      continue;
    }
    file.hash = FileHash(file.source, &file.bytes);
    file.size_text = SizeText(file.bytes);
    file.date_text = LocalDate(path);
    files.push_back(std::move(file));
  }
  if (error) problems.push_back(folder + ": " + error.message());
  if (!problems.empty()) {
    std::sort(problems.begin(), problems.end());
    std::string message;
    for (const std::string& problem : problems) message += (message.empty() ? "" : "\n") + problem;
    throw EReleaseInput(message);
  }
  std::sort(files.begin(), files.end(), [](const ReleaseFile& a, const ReleaseFile& b) { return a.name < b.name; });
  return files;
}

}  // namespace publishing
