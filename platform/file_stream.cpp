#include "platform/file_stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/files.h"

namespace platform {
FileStream::FileStream(const std::string& path, FileMode mode) : file_name_(path) {
  const std::string resolved = ResolvePath(path);
  int flags = O_CLOEXEC;
  switch (mode) {
    case FileMode::fmCreate: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
    case FileMode::fmOpenReadWrite: flags |= O_RDWR; break;
    case FileMode::fmOpenRead: flags |= O_RDONLY; break;
  }
  int error = ENOENT;
  if (!resolved.empty()) {
    do {
      fd_ = open(resolved.c_str(), flags, 0666);
    } while (fd_ < 0 && errno == EINTR);
    error = errno;
  }
  if (fd_ >= 0) {
    struct stat st;
    if (fstat(fd_, &st) == 0 && S_ISDIR(st.st_mode)) {
      close(fd_);
      fd_ = -1;
      error = EISDIR;
    }
  }
  if (fd_ < 0) {
    if (mode == FileMode::fmCreate) {
      throw EFCreateError("Cannot create file \"" + path + "\". " + SystemErrorText(error));
    }
    throw EFOpenError("Cannot open file \"" + path + "\". " + SystemErrorText(error));
  }
}

FileStream::~FileStream() {
  if (fd_ >= 0) close(fd_);
}

void FileStream::Fail(const char* what) const {
  const int error = errno;
  throw EStreamError(std::string(what) + " \"" + file_name_ + "\". " + SystemErrorText(error));
}

int64_t FileStream::Size() const {
  struct stat st;
  if (fstat(fd_, &st) != 0) Fail("Cannot read the size of file");
  return st.st_size;
}

void FileStream::SetSize(int64_t size) {
  if (ftruncate(fd_, std::max<int64_t>(size, 0)) != 0) Fail("Cannot change the size of file");
  position_ = std::min(position_, std::max<int64_t>(size, 0));
}

size_t FileStream::Read(void* buffer, size_t count) {
  char* p = static_cast<char*>(buffer);
  size_t done = 0;
  while (done < count) {
    const ssize_t n = pread(fd_, p + done, count - done, position_);
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail("Cannot read from file");
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
    position_ += n;
  }
  return done;
}

void FileStream::Write(const void* buffer, size_t count) {
  const char* p = static_cast<const char*>(buffer);
  while (count > 0) {
    const ssize_t n = pwrite(fd_, p, count, position_);
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail("Cannot write to file");
    }
    if (n == 0) {
      errno = ENOSPC;
      Fail("Cannot write to file");
    }
    p += n;
    count -= static_cast<size_t>(n);
    position_ += n;
  }
}

}  // namespace platform
