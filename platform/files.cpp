#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/atomic_file.h"
#include "platform/encoding.h"

namespace platform {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// The components of a GBK path. "\" inside a double-byte character (its
// second byte may be 0x5C) is not a separator.
struct SplitPathResult {
  std::vector<std::string> components;
  bool absolute = false;
  bool trailing_separator = false;
};

SplitPathResult SplitPath(const std::string& path) {
  SplitPathResult result;
  std::string current;
  bool last_was_separator = false;
  for (size_t i = 0; i < path.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(path[i]);
    if (i + 1 < path.size() && IsGbkPair(c, static_cast<unsigned char>(path[i + 1]))) {
      current += path[i];
      current += path[i + 1];
      ++i;
      last_was_separator = false;
      continue;
    }
    if (IsSeparator(path[i])) {
      if (i == 0) result.absolute = true;
      if (!current.empty()) result.components.push_back(std::move(current));
      current.clear();
      last_was_separator = true;
      continue;
    }
    current += path[i];
    last_was_separator = false;
  }
  if (!current.empty()) result.components.push_back(std::move(current));
  result.trailing_separator = last_was_separator && !result.components.empty();
  return result;
}

// Index of the last separator of a GBK path, npos when it has none.
size_t LastSeparator(const std::string& path) {
  size_t last = std::string::npos;
  for (size_t i = 0; i < path.size(); ++i) {
    if (i + 1 < path.size() &&
        IsGbkPair(static_cast<unsigned char>(path[i]), static_cast<unsigned char>(path[i + 1]))) {
      ++i;
      continue;
    }
    if (IsSeparator(path[i])) last = i;
  }
  return last;
}

unsigned char FoldAscii(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; }

// UTF-8 names: no byte of a multi-byte character is ASCII, so folding the
// ASCII letters byte by byte changes nothing but a-z.
bool EqualIgnoringAsciiCase(const std::string& a, const char* b) {
  size_t i = 0;
  for (; i < a.size(); ++i) {
    if (b[i] == '\0') return false;
    if (FoldAscii(static_cast<unsigned char>(a[i])) != FoldAscii(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return b[i] == '\0';
}

// The name in folder that equals name without regard to ASCII case. Of
// several, the smallest in byte order, so the choice does not depend on the
// order in which the file system happens to list them.
bool FindIgnoringCase(const std::string& folder, const std::string& name, std::string& found) {
  DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
  if (dir == nullptr) return false;
  bool any = false;
  while (const dirent* entry = readdir(dir)) {
    if (!EqualIgnoringAsciiCase(name, entry->d_name)) continue;
    if (!any || std::strcmp(entry->d_name, found.c_str()) < 0) found = entry->d_name;
    any = true;
  }
  closedir(dir);
  return any;
}

std::string Join(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }

// The file manager's order: ASCII case ignored, a run of digits compared by
// its value. Runs are compared by their significant length and then digit by
// digit, so a run of any length is compared without overflow.
int CompareNatural(const std::string& a, const std::string& b) {
  size_t i = 0;
  size_t j = 0;
  while (i < a.size() && j < b.size()) {
    const unsigned char ca = static_cast<unsigned char>(a[i]);
    const unsigned char cb = static_cast<unsigned char>(b[j]);
    if (IsDigit(ca) && IsDigit(cb)) {
      size_t ia = i;
      while (ia < a.size() && IsDigit(static_cast<unsigned char>(a[ia]))) ++ia;
      size_t jb = j;
      while (jb < b.size() && IsDigit(static_cast<unsigned char>(b[jb]))) ++jb;
      while (i + 1 < ia && a[i] == '0') ++i;
      while (j + 1 < jb && b[j] == '0') ++j;
      if (ia - i != jb - j) return ia - i < jb - j ? -1 : 1;
      const int digits = a.compare(i, ia - i, b, j, jb - j);
      if (digits != 0) return digits < 0 ? -1 : 1;
      i = ia;
      j = jb;
      continue;
    }
    const unsigned char fa = FoldAscii(ca);
    const unsigned char fb = FoldAscii(cb);
    if (fa != fb) return fa < fb ? -1 : 1;
    ++i;
    ++j;
  }
  const size_t rest_a = a.size() - i;
  const size_t rest_b = b.size() - j;
  if (rest_a != rest_b) return rest_a < rest_b ? -1 : 1;
  return 0;
}

bool StatPath(const std::string& path, struct stat& st) {
  const std::string resolved = ResolvePath(path);
  return !resolved.empty() && stat(resolved.c_str(), &st) == 0;
}

// A program as the "open" verb runs it directly: executable already, or an
// ELF image, or a script with "#!".
bool LooksLikeProgram(const std::string& resolved, const struct stat& st) {
  if (st.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)) return true;
  const int fd = open(resolved.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  char head[4] = {};
  ssize_t n;
  do {
    n = read(fd, head, sizeof head);
  } while (n < 0 && errno == EINTR);
  close(fd);
  if (n >= 4 && std::memcmp(head, "\x7f" "ELF", 4) == 0) return true;
  return n >= 2 && head[0] == '#' && head[1] == '!';
}

std::string FindInPath(const char* program) {
  const char* path = std::getenv("PATH");
  std::string list = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(':', start);
    if (end == std::string::npos) end = list.size();
    const std::string folder = list.substr(start, end - start);
    if (!folder.empty()) {
      const std::string candidate = folder + "/" + program;
      if (access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    start = end + 1;
  }
  return {};
}

// Runs argv[0] with the given working folder as a grandchild in a session of
// its own, so nobody waits for it and no zombie remains: the intermediate
// child exits at once and is reaped here. Everything the children use is
// prepared before fork; after it they call only async-signal-safe functions.
void SpawnDetached(const std::string& program, const std::string& argument,
                   const std::string& working_folder) {
  std::vector<char*> argv;
  std::string arg0 = program;
  std::string arg1 = argument;
  argv.push_back(arg0.data());
  if (!arg1.empty()) argv.push_back(arg1.data());
  argv.push_back(nullptr);
  long max_fd = sysconf(_SC_OPEN_MAX);
  if (max_fd < 0 || max_fd > 65536) max_fd = 65536;

  const pid_t child = fork();
  if (child < 0) return;
  if (child == 0) {
    setsid();
    const pid_t grandchild = fork();
    if (grandchild != 0) _exit(0);
    if (chdir(working_folder.c_str()) != 0) _exit(127);
    const int null_fd = open("/dev/null", O_RDONLY);
    if (null_fd >= 0) {
      dup2(null_fd, 0);
      if (null_fd > 2) close(null_fd);
    }
    // Descriptors of the updater (sockets, files) are not the program's.
    if (close_range(3, ~0u, 0) != 0) {
      for (long fd = 3; fd < max_fd; ++fd) close(static_cast<int>(fd));
    }
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace

std::string SystemErrorText(int error) {
  const char* text = strerrordesc_np(error);
  return text != nullptr ? text : "Unknown error " + std::to_string(error);
}

std::string ExecutablePath() {
  char* real = realpath("/proc/self/exe", nullptr);
  if (real == nullptr) return {};
  std::string path = real;
  std::free(real);
  return Utf8ToGbk(path);
}

std::string ResolvePath(const std::string& path) {
  const SplitPathResult split = SplitPath(path);
  std::string resolved = split.absolute ? "/" : "";
  bool parent_exists = true;
  for (const std::string& component : split.components) {
    std::string name = GbkToUtf8(component);
    if (parent_exists) {
      struct stat st;
      const std::string exact = Join(resolved, name);
      if (lstat(exact.empty() ? "." : exact.c_str(), &st) != 0) {
        std::string found;
        if (FindIgnoringCase(resolved, name, found)) {
          name = found;
        } else {
          parent_exists = false;  // nothing below a missing name exists either
        }
      }
    }
    resolved = Join(resolved, name);
  }
  if (split.trailing_separator) resolved += '/';
  return resolved;
}

bool FileExists(const std::string& path) {
  struct stat st;
  return StatPath(path, st) && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat st;
  return StatPath(path, st) && S_ISDIR(st.st_mode);
}

bool CreateDirectory(const std::string& path) {
  const std::string resolved = ResolvePath(path);
  return !resolved.empty() && mkdir(resolved.c_str(), 0777) == 0;
}

bool DeleteFile(const std::string& path) {
  const std::string resolved = ResolvePath(path);
  struct stat st;
  if (resolved.empty() || lstat(resolved.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
  return unlink(resolved.c_str()) == 0;
}

std::vector<FolderEntry> ListFolder(const std::string& folder) {
  struct Found {
    FolderEntry entry;
    std::string disk_name;  // UTF-8, what the order is decided on
  };
  std::vector<Found> found;
  const std::string resolved = ResolvePath(folder);
  DIR* dir = opendir(resolved.empty() ? "." : resolved.c_str());
  if (dir == nullptr) return {};

  // Entry paths continue the folder's own spelling with its last separator.
  const size_t last = LastSeparator(folder);
  std::string prefix = folder;
  if (last == std::string::npos) {
    if (!prefix.empty()) prefix += '/';
  } else if (last + 1 != folder.size()) {
    prefix += folder[last];
  }

  while (const dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;  // hidden, and "." and ".."
    Found item;
    item.disk_name = entry->d_name;
    item.entry.name = Utf8ToGbk(item.disk_name);
    item.entry.path = prefix + item.entry.name;
    if (entry->d_type == DT_DIR) {
      item.entry.is_folder = true;
    } else if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
      struct stat st;
      const std::string on_disk = Join(resolved, item.disk_name);
      item.entry.is_folder = stat(on_disk.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }
    found.push_back(std::move(item));
  }
  closedir(dir);

  std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
    if (a.entry.is_folder != b.entry.is_folder) return a.entry.is_folder;
    const int order = CompareNatural(a.disk_name, b.disk_name);
    if (order != 0) return order < 0;
    return a.disk_name < b.disk_name;  // "a" and "A", "1" and "01": still one fixed order
  });
  std::vector<FolderEntry> entries;
  entries.reserve(found.size());
  for (Found& item : found) entries.push_back(std::move(item.entry));
  return entries;
}

bool CopyFileOver(const std::string& source, const std::string& target) {
  const std::string from = ResolvePath(source);
  const std::string to = ResolvePath(target);
  if (from.empty() || to.empty()) return false;
  const int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  struct stat st;
  if (fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(in);
    return false;
  }
  AtomicFile out(to, st.st_mode & 07777);
  bool ok = out.Open();
  char buffer[65536];
  while (ok) {
    const ssize_t n = read(in, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    ok = out.Write(buffer, static_cast<size_t>(n));
  }
  close(in);
  return ok && out.Commit();
}

void OpenFile(const std::string& path) {
  const std::string resolved = ResolvePath(path);
  struct stat st;
  if (resolved.empty() || stat(resolved.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;

  char* real = realpath(resolved.c_str(), nullptr);
  if (real == nullptr) return;
  const std::string absolute = real;
  std::free(real);
  const std::string folder = absolute.substr(0, std::max<size_t>(absolute.rfind('/'), 1));

  if (LooksLikeProgram(absolute, st)) {
    // A program fetched by FTP arrives without its execute bit.
    if (!(st.st_mode & S_IXUSR)) chmod(absolute.c_str(), (st.st_mode & 07777) | S_IXUSR);
    SpawnDetached(absolute, {}, folder);
    return;
  }
  const std::string opener = FindInPath("xdg-open");
  if (!opener.empty()) SpawnDetached(opener, absolute, folder);
}

}  // namespace platform
