#include "platform/stream.h"

#include <algorithm>
#include <cstring>

namespace platform {

void MemoryStream::SetSize(int64_t size) {
  data_.resize(static_cast<size_t>(std::max<int64_t>(size, 0)));
  position_ = std::min(position_, Size());
}

size_t MemoryStream::Read(void* buffer, size_t count) {
  if (position_ >= Size()) return 0;
  const size_t n = std::min(count, static_cast<size_t>(Size() - position_));
  std::memcpy(buffer, data_.data() + position_, n);
  position_ += static_cast<int64_t>(n);
  return n;
}

void MemoryStream::Write(const void* buffer, size_t count) {
  if (count == 0) return;
  const size_t end = static_cast<size_t>(position_) + count;
  if (end > data_.size()) data_.resize(end);
  std::memcpy(data_.data() + position_, buffer, count);
  position_ = static_cast<int64_t>(end);
}

}  // namespace platform
