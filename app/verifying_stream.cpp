#include "app/verifying_stream.h"

#include <utility>

namespace app {

VerifyingStream::VerifyingStream(platform::Stream& target, int64_t expected_bytes, std::string expected_hash)
    : target_(target), expected_bytes_(expected_bytes), expected_hash_(std::move(expected_hash)) {}

void VerifyingStream::SetSize(int64_t size) {
  if (size != written_) throw EFileNotAsSigned("a verified download cannot be resized");
}

void VerifyingStream::Seek(int64_t position) {
  if (position != written_) throw EFileNotAsSigned("a verified download is written in order");
}

size_t VerifyingStream::Read(void*, size_t) { return 0; }

void VerifyingStream::Write(const void* buffer, size_t count) {
  if (static_cast<int64_t>(count) > expected_bytes_ - written_) {
    throw EFileNotAsSigned("more bytes than the " + std::to_string(expected_bytes_) + " signed");
  }
  hasher_.Update(buffer, count);
  target_.Write(buffer, count);
  written_ += static_cast<int64_t>(count);
}

void VerifyingStream::Finish() {
  if (written_ != expected_bytes_) {
    throw EFileNotAsSigned(std::to_string(written_) + " bytes of the " + std::to_string(expected_bytes_) + " signed");
  }
  if (platform::HexText(hasher_.Final()) != expected_hash_) throw EFileNotAsSigned("not the file that was signed");
}

}  // namespace app
