// A small byte stream: what a download writes into and what the INI hex
// values read from. Implemented over memory here and over local files in
// platform/file_stream.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace platform {

class Stream {
 public:
  virtual ~Stream() = default;
  virtual int64_t Size() const = 0;
  // Grows (with zero bytes) or cuts the stream; the position is kept, but
  // never left past the new end.
  virtual void SetSize(int64_t size) = 0;
  virtual int64_t Position() const = 0;
  virtual void Seek(int64_t position) = 0;
  // Reads up to count bytes at the position and advances it; gives the number read.
  virtual size_t Read(void* buffer, size_t count) = 0;
  // Writes all bytes at the position, growing the stream, and advances it.
  // Raises EStreamError when the bytes cannot be written.
  virtual void Write(const void* buffer, size_t count) = 0;
};

class EStreamError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class MemoryStream : public Stream {
 public:
  MemoryStream() = default;
  explicit MemoryStream(std::string data) : data_(std::move(data)) {}

  int64_t Size() const override { return static_cast<int64_t>(data_.size()); }
  void SetSize(int64_t size) override;
  int64_t Position() const override { return position_; }
  void Seek(int64_t position) override { position_ = position < 0 ? 0 : position; }
  size_t Read(void* buffer, size_t count) override;
  void Write(const void* buffer, size_t count) override;

  const std::string& Data() const { return data_; }

 private:
  std::string data_;
  int64_t position_ = 0;
};

}  // namespace platform
