// A download's destination that checks the file as it arrives: every block
// is hashed (BLAKE2b-512) on its way to the file, and a block that would take
// the file past its signed byte count is refused before it is written, which
// ends the transfer. Finish then compares count and hash, so a signed
// download costs no second read of the file.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "platform/crypto.h"
#include "platform/stream.h"

namespace app {

class EFileNotAsSigned : public platform::EStreamError {
 public:
  using platform::EStreamError::EStreamError;
};

class VerifyingStream : public platform::Stream {
 public:
  // target is written from its start, in order; expected_hash in lower-case
  // hexadecimal.
  VerifyingStream(platform::Stream& target, int64_t expected_bytes, std::string expected_hash);

  int64_t Size() const override { return written_; }
  int64_t Position() const override { return written_; }
  // The stream only grows by writes: anything else is refused.
  void SetSize(int64_t size) override;
  void Seek(int64_t position) override;
  size_t Read(void* buffer, size_t count) override;
  // Raises EFileNotAsSigned when the bytes would pass the signed count.
  void Write(const void* buffer, size_t count) override;

  // Raises EFileNotAsSigned unless exactly the signed bytes arrived.
  void Finish();

 private:
  platform::Stream& target_;
  int64_t expected_bytes_;
  std::string expected_hash_;
  int64_t written_ = 0;
  platform::Blake2b512 hasher_;
};

}  // namespace app
