#include "net/buffers.h"

#include <algorithm>
#include <cstring>

#include "net/exceptions.h"

namespace net {

void TIdSimpleBuffer::Reserve(size_t total) {
  if (total <= capacity_) return;
  const size_t capacity = std::max(total, capacity_ * 2);
  std::unique_ptr<char[]> grown(new char[capacity]);
  if (size_ > 0) std::memcpy(grown.get(), data_.get(), size_);
  data_ = std::move(grown);
  capacity_ = capacity;
}

void TIdSimpleBuffer::Append(const void* bytes, size_t count) {
  if (count == 0) return;
  std::memcpy(AppendSpace(count), bytes, count);
  Commit(count);
}

char* TIdSimpleBuffer::AppendSpace(size_t count) {
  Reserve(size_ + count);
  return data_.get() + size_;
}

std::string TIdSimpleBuffer::TakeBytes(int32_t count) {
  if (count < 0 || count > Size()) throw EIdNotEnoughDataInBuffer();
  std::string bytes(Memory(), static_cast<size_t>(count));
  DropBytes(count);
  return bytes;
}

void TIdSimpleBuffer::NotifyRemoved(int32_t count) {
  if (OnBytesRemoved) OnBytesRemoved(this, count);
}

void TIdSimpleBuffer::DropBytes(int32_t count) {
  if (count < 0 || count > Size()) throw EIdNotEnoughDataInBuffer();
  const size_t n = static_cast<size_t>(count);
  if (n < size_) std::memmove(data_.get(), data_.get() + n, size_ - n);
  size_ -= n;
  NotifyRemoved(count);
}

void TIdManagedBuffer::DropBytes(int32_t count) {
  if (count < 0 || count > Size()) throw EIdNotEnoughDataInBuffer();
  if (count == Size()) {
    size_ = 0;
    offset_ = 0;
  } else {
    offset_ += static_cast<size_t>(count);
    if (offset_ >= static_cast<size_t>(PackThreshold)) {
      std::memmove(data_.get(), data_.get() + offset_, size_ - offset_);
      size_ -= offset_;
      offset_ = 0;
    }
  }
  NotifyRemoved(count);
}

void TIdManagedBuffer::EmptyBuffer() {
  size_ = 0;
  offset_ = 0;
}

}  // namespace net
