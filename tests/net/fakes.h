// Test doubles of the transport's tests: pending input that counts how often its
// pending input is processed, and an I/O handler that plays receives exactly
// as scripted and records what is asked of it.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "net/exceptions.h"
#include "net/io_handler.h"
#include "net/anti_freeze.h"

namespace nettest {

class CountingWindow : public net::TIdPendingInput {
 public:
  int process_all = 0;
  int process_one = 0;
  // Runs inside each processing call, as a window handler would.
  std::function<void()> on_process;

  void ProcessAllPendingInput() override {
    ++process_all;
    if (on_process) on_process();
  }
  void ProcessOnePendingInput() override {
    ++process_one;
    if (on_process) on_process();
  }
};

// Each receive hands out the next scripted chunk (cut to the length asked
// for, the rest kept for the next receive); after the last chunk the peer
// counts as closed (receive gives 0), unless stay_open, when the wait says
// "not readable".
class ScriptedIOHandler : public net::TIdIOHandler {
 public:
  std::deque<std::string> chunks;
  bool stay_open = false;
  bool open = true;
  std::vector<int> receive_lengths;
  std::vector<std::string> sends;
  int waits = 0;

  bool Connected() override { return open; }
  void CloseHandler() override { open = false; }
  bool WaitReadable(int32_t) override {
    ++waits;
    if (!open) throw net::EIdConnClosedGracefully();
    return !(chunks.empty() && stay_open);
  }
  int ReceiveBytes(void* buffer, int32_t length) override {
    if (!open) throw net::EIdClosedSocket();
    receive_lengths.push_back(length);
    if (chunks.empty()) return 0;
    std::string& chunk = chunks.front();
    const size_t n = std::min(chunk.size(), static_cast<size_t>(length));
    chunk.copy(static_cast<char*>(buffer), n);
    chunk.erase(0, n);
    if (chunk.empty()) chunks.pop_front();
    return static_cast<int>(n);
  }
  int SendBytes(const void* buffer, int32_t length) override {
    if (!open) throw net::EIdClosedSocket();
    sends.emplace_back(static_cast<const char*>(buffer), static_cast<size_t>(length));
    return length;
  }
};

}  // namespace nettest
