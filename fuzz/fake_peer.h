// An in-memory peer for the targets that drive protocol code: an I/O handler
// that hands out the server's bytes in pieces of a chosen size and records
// what the client sends. After the last byte the peer has closed (a receive
// gives 0), or, with stay_silent, it stays open and never becomes readable.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "net/exceptions.h"
#include "net/io_handler.h"

namespace fuzz {

class FakePeer : public net::TIdIOHandler {
 public:
  FakePeer(std::string server_bytes, size_t piece) : bytes_(std::move(server_bytes)), piece_(piece ? piece : 1) {}

  bool stay_silent = false;
  std::string sent;
  size_t Consumed() const { return at_; }

  bool Connected() override { return open_; }
  void CloseHandler() override { open_ = false; }
  bool WaitReadable(int32_t) override {
    if (!open_) throw net::EIdClosedSocket();
    return at_ < bytes_.size() || !stay_silent;
  }
  int ReceiveBytes(void* buffer, int32_t length) override {
    if (!open_) throw net::EIdClosedSocket();
    const size_t n = std::min({piece_, static_cast<size_t>(length > 0 ? length : 0), bytes_.size() - at_});
    bytes_.copy(static_cast<char*>(buffer), n, at_);
    at_ += n;
    return static_cast<int>(n);
  }
  int SendBytes(const void* buffer, int32_t length) override {
    if (!open_) throw net::EIdClosedSocket();
    sent.append(static_cast<const char*>(buffer), static_cast<size_t>(length));
    return length;
  }

 private:
  std::string bytes_;
  size_t piece_;
  size_t at_ = 0;
  bool open_ = true;
};

}  // namespace fuzz
