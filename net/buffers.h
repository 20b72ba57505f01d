// The byte buffers of a connection: a plain one, and the managed one that
// holds received bytes not yet read, whose consumption moves no bytes until
// a pack threshold is reached.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace net {

class TIdSimpleBuffer {
 public:
  using TIdBufferBytesRemoved = std::function<void(TIdSimpleBuffer* ABuffer, int32_t ABytes)>;

  TIdSimpleBuffer() = default;
  TIdSimpleBuffer(const TIdSimpleBuffer&) = delete;
  TIdSimpleBuffer& operator=(const TIdSimpleBuffer&) = delete;
  virtual ~TIdSimpleBuffer() = default;

  // Fired after bytes were dropped from the start, with their count.
  TIdBufferBytesRemoved OnBytesRemoved;

  // The readable bytes.
  virtual int64_t Size() const { return static_cast<int64_t>(size_); }
  virtual const char* Memory() const { return data_.get(); }

  void Append(const void* bytes, size_t count);
  // Room for count more bytes at the end, to be filled and then kept with
  // Commit (of at most count bytes); saves a copy when receiving.
  char* AppendSpace(size_t count);
  void Commit(size_t count) { size_ += count; }

  // The first count bytes, then dropped. Both raise EIdNotEnoughDataInBuffer
  // when count exceeds Size.
  std::string TakeBytes(int32_t count);
  virtual void DropBytes(int32_t count);

 protected:
  void Reserve(size_t total);
  void NotifyRemoved(int32_t count);

  std::unique_ptr<char[]> data_;
  size_t capacity_ = 0;
  size_t size_ = 0;  // physical size, from the start of data_
};

class TIdManagedBuffer : public TIdSimpleBuffer {
 public:
  // Consumed bytes are moved out only once at least this many have gathered.
  static constexpr int32_t PackThreshold = 32768;

  int64_t Size() const override { return static_cast<int64_t>(size_ - offset_); }
  const char* Memory() const override { return data_.get() + offset_; }

  void DropBytes(int32_t count) override;
  // Empties the buffer without notification.
  void EmptyBuffer();

  // How many consumed bytes still sit before the readable ones.
  int32_t ConsumedOffset() const { return static_cast<int32_t>(offset_); }

 private:
  size_t offset_ = 0;
};

}  // namespace net
