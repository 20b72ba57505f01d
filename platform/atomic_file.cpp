#include "platform/atomic_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string_view>

namespace platform {
namespace {

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A name no other writer uses at the same time: process id, a counter and
// the clock. The leading "." keeps it out of folder listings.
std::string TempName(const std::string& target) {
  static std::atomic<unsigned> counter{0};
  const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
  char suffix[64];
  std::snprintf(suffix, sizeof suffix, ".%ld.%u.%llx.tmp", static_cast<long>(getpid()),
                counter.fetch_add(1), static_cast<unsigned long long>(ticks));
  std::string name = NameOf(target);
  if (name.size() > 150) name.resize(150);  // stay below the name length limit
  return FolderOf(target) + "/." + name + suffix;
}

bool AllOf(std::string_view text, bool (*accept)(char)) {
  if (text.empty()) return false;
  for (char c : text) {
    if (!accept(c)) return false;
  }
  return true;
}
bool IsDecimal(char c) { return c >= '0' && c <= '9'; }
bool IsLowerHex(char c) { return IsDecimal(c) || (c >= 'a' && c <= 'f'); }

// The writer's process id when the name is one TempName makes, else -1.
long TempNameWriter(std::string_view name) {
  constexpr std::string_view kEnd = ".tmp";
  if (name.size() < 2 || name[0] != '.' || name.size() <= kEnd.size()) return -1;
  if (name.substr(name.size() - kEnd.size()) != kEnd) return -1;
  std::string_view rest = name.substr(1, name.size() - 1 - kEnd.size());  // name.PID.N.HEX
  std::string_view fields[3];
  for (int i = 2; i >= 0; --i) {
    const size_t dot = rest.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return -1;  // the target's name may not be empty
    fields[i] = rest.substr(dot + 1);
    rest = rest.substr(0, dot);
  }
  if (!AllOf(fields[0], IsDecimal) || !AllOf(fields[1], IsDecimal) || !AllOf(fields[2], IsLowerHex)) return -1;
  if (fields[0].size() > 9) return -1;
  return std::stol(std::string(fields[0]));
}

bool ProcessGone(long pid) {
  if (pid <= 0) return false;
  if (pid == static_cast<long>(getpid())) return true;
  return kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

}  // namespace

int RemoveAbandonedTemporaryFiles(const std::string& folder) {
  const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (dir < 0) return 0;
  DIR* listing = fdopendir(dir);
  if (listing == nullptr) {
    close(dir);
    return 0;
  }
  int removed = 0;
  while (const dirent* entry = readdir(listing)) {
    const long writer = TempNameWriter(entry->d_name);
    if (writer < 0 || !ProcessGone(writer)) continue;
    struct stat st;
    if (fstatat(dir, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
    if (unlinkat(dir, entry->d_name, 0) == 0) ++removed;
  }
  closedir(listing);  // closes dir too
  return removed;
}

AtomicFile::AtomicFile(std::string target, mode_t mode) : target_(std::move(target)), mode_(mode) {}

AtomicFile::~AtomicFile() {
  if (fd_ >= 0) close(fd_);
  if (!committed_ && !temp_.empty()) unlink(temp_.c_str());
}

bool AtomicFile::Open() {
  for (int attempt = 0; attempt < 16; ++attempt) {
    temp_ = TempName(target_);
    // 0666 here lets the umask apply as for any new file.
    fd_ = open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ >= 0) break;
    error_ = errno;
    temp_.clear();
    if (error_ != EEXIST) return false;
  }
  if (fd_ < 0) return false;
  if (mode_ != kDefaultMode && fchmod(fd_, mode_ & 07777) != 0) {
    error_ = errno;
    return false;
  }
  return true;
}

bool AtomicFile::Write(const void* data, size_t count) {
  if (fd_ < 0) return false;
  const char* p = static_cast<const char*>(data);
  while (count > 0) {
    const ssize_t n = write(fd_, p, count);
    if (n < 0) {
      if (errno == EINTR) continue;
      error_ = errno;
      return false;
    }
    if (n == 0) {
      error_ = EIO;
      return false;
    }
    p += n;
    count -= static_cast<size_t>(n);
  }
  return true;
}

bool AtomicFile::Commit() {
  if (fd_ < 0) return false;
  // A full disk may show only here (delayed allocation, network folders).
  const bool flushed = fsync(fd_) == 0;
  if (!flushed) error_ = errno;
  const bool closed = close(fd_) == 0;
  if (!closed && flushed) error_ = errno;
  fd_ = -1;
  if (!flushed || !closed) return false;
  if (rename(temp_.c_str(), target_.c_str()) != 0) {
    error_ = errno;
    return false;
  }
  committed_ = true;
  // Make the rename itself durable; a failure here does not undo it.
  const int dir = open(FolderOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
  return true;
}

bool ReplaceFileContents(const std::string& target, const std::string& data, mode_t mode, int* error) {
  AtomicFile file(target, mode);
  if (file.Open() && file.Write(data.data(), data.size()) && file.Commit()) return true;
  if (error != nullptr) *error = file.Error();
  return false;
}

}  // namespace platform
