#include "platform/whole_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>

#include "platform/atomic_file.h"
#include "platform/files.h"

namespace platform {

WholeFileRead ReadWholeFile(const std::string& path, size_t max_size, WholeFile& file) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return errno == ENOENT || errno == ENOTDIR ? WholeFileRead::kMissing : WholeFileRead::kUnusable;
  WholeFileRead result = WholeFileRead::kUnusable;
  struct stat st {};
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && static_cast<uint64_t>(st.st_size) <= max_size) {
    file.text.clear();
    file.mode = st.st_mode & 07777;
    file.owner = st.st_uid;
    file.group = st.st_gid;
    char buffer[65536];
    result = WholeFileRead::kRead;
    while (true) {
      const ssize_t n = read(fd, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        result = WholeFileRead::kUnusable;
        break;
      }
      if (n == 0) break;
      file.text.append(buffer, static_cast<size_t>(n));
      if (file.text.size() > max_size) {  // grew while being read
        result = WholeFileRead::kUnusable;
        break;
      }
    }
  }
  close(fd);
  if (result != WholeFileRead::kRead) file.text.clear();
  return result;
}

std::string RewriteTarget(const std::string& path) {
  std::string target = ResolvePath(path);
  if (target.empty()) return target;
  if (char* real = realpath(target.c_str(), nullptr)) {
    target = real;
    std::free(real);
  }
  return target;
}

bool RewriteWholeFile(const std::string& target, const std::string& text, const WholeFile* existing) {
  if (!ReplaceFileContents(target, text, existing != nullptr ? existing->mode : AtomicFile::kDefaultMode)) {
    return false;
  }
  // Keep the owner of a file that another user's program edits (as root).
  if (existing != nullptr && (existing->owner != geteuid() || existing->group != getegid())) {
    if (chown(target.c_str(), existing->owner, existing->group) != 0) {
      // the content is written; only the owner differs
    }
  }
  return true;
}

}  // namespace platform
