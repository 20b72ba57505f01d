#include "net/buffers.h"

#include <gtest/gtest.h>

#include <vector>

#include "net/exceptions.h"

namespace {

struct Removals {
  std::vector<int32_t> counts;
  void Watch(net::TIdSimpleBuffer& buffer) {
    buffer.OnBytesRemoved = [this](net::TIdSimpleBuffer*, int32_t n) { counts.push_back(n); };
  }
};

TEST(SimpleBuffer, TakeAndDropFromTheStart) {
  net::TIdSimpleBuffer buffer;
  Removals removed;
  removed.Watch(buffer);
  buffer.Append("hello world", 11);
  EXPECT_EQ(buffer.TakeBytes(6), "hello ");
  EXPECT_EQ(std::string(buffer.Memory(), buffer.Size()), "world");
  buffer.DropBytes(5);
  EXPECT_EQ(buffer.Size(), 0);
  EXPECT_EQ(removed.counts, (std::vector<int32_t>{6, 5}));
  EXPECT_THROW(buffer.DropBytes(1), net::EIdNotEnoughDataInBuffer);
  EXPECT_THROW(buffer.TakeBytes(1), net::EIdNotEnoughDataInBuffer);
  EXPECT_EQ(removed.counts.size(), 2u);
}

TEST(ManagedBuffer, ConsumingMovesNothingUntilThePackThreshold) {
  net::TIdManagedBuffer buffer;
  Removals removed;
  removed.Watch(buffer);
  const std::string data(40000, 'a');
  buffer.Append(data.data(), data.size());
  buffer.Append("tail", 4);

  buffer.DropBytes(32767);
  EXPECT_EQ(buffer.ConsumedOffset(), 32767);
  EXPECT_EQ(buffer.Size(), 40004 - 32767);
  buffer.DropBytes(1);  // reaches 32768: packed
  EXPECT_EQ(buffer.ConsumedOffset(), 0);
  EXPECT_EQ(buffer.Size(), 40004 - 32768);
  EXPECT_EQ(std::string(buffer.Memory() + buffer.Size() - 4, 4), "tail");

  // Appending goes after the unconsumed bytes; taking all empties at once.
  buffer.DropBytes(10);
  buffer.Append("!", 1);
  EXPECT_EQ(buffer.ConsumedOffset(), 10);
  EXPECT_EQ(buffer.TakeBytes(static_cast<int32_t>(buffer.Size())).substr(40004 - 32778 - 4), "tail!");
  EXPECT_EQ(buffer.ConsumedOffset(), 0);
  EXPECT_EQ(buffer.Size(), 0);
  EXPECT_EQ(removed.counts, (std::vector<int32_t>{32767, 1, 10, 40004 - 32778 + 1}));
}

TEST(ManagedBuffer, EmptyBufferIsSilentAndTooMuchRaises) {
  net::TIdManagedBuffer buffer;
  Removals removed;
  removed.Watch(buffer);
  buffer.Append("abc", 3);
  buffer.DropBytes(1);
  EXPECT_THROW(buffer.DropBytes(3), net::EIdNotEnoughDataInBuffer);
  EXPECT_EQ(buffer.Size(), 2);
  buffer.EmptyBuffer();
  EXPECT_EQ(buffer.Size(), 0);
  EXPECT_EQ(buffer.ConsumedOffset(), 0);
  EXPECT_EQ(removed.counts, std::vector<int32_t>{1});
}

}  // namespace
