// A stream over a local file: what a download writes into. The path is GBK
// and is found on disk as ResolvePath finds it.
#pragma once

#include <string>

#include "platform/stream.h"

namespace platform {

// `Cannot create file "%s". %s`: the path as given and the system's reason.
class EFCreateError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};

// `Cannot open file "%s". %s`: the path as given and the system's reason.
class EFOpenError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};

enum class FileMode {
  fmCreate,         // a new file, or an existing one emptied; read and write
  fmOpenReadWrite,  // an existing file, read and write
  fmOpenRead,       // an existing file, read only
};

class FileStream : public Stream {
 public:
  // Raises EFCreateError (fmCreate) or EFOpenError (the open modes).
  FileStream(const std::string& path, FileMode mode);
  ~FileStream() override;
  FileStream(const FileStream&) = delete;
  FileStream& operator=(const FileStream&) = delete;

  int64_t Size() const override;
  void SetSize(int64_t size) override;
  int64_t Position() const override { return position_; }
  void Seek(int64_t position) override { position_ = position < 0 ? 0 : position; }
  size_t Read(void* buffer, size_t count) override;
  // Each call goes straight to the file; a short write (a full disk) raises
  // EStreamError, so no byte is ever dropped silently.
  void Write(const void* buffer, size_t count) override;

  const std::string& FileName() const { return file_name_; }

 private:
  [[noreturn]] void Fail(const char* what) const;

  std::string file_name_;  // as given, GBK
  int fd_ = -1;
  int64_t position_ = 0;
};

}  // namespace platform
