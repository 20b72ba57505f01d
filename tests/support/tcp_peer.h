// Small scripted TCP peers on loopback for the transport's tests.
//
// TcpPeer listens on a loopback address (port 0: the system chooses), takes
// one connection, and plays its script on its own thread. After the script
// it keeps the connection open until it is destroyed.
//
// UnansweredListener is a listener whose accept queue is full, so a connect
// to it stays pending (the kernel drops the SYN) instead of completing or
// being refused.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

struct PeerStep {
  enum Kind { kSend, kDribble, kClose, kReset, kStall, kReceive, kReceiveUntilClose };
  Kind kind;
  std::string bytes;
  size_t count = 0;

  // Sends the bytes in one go (the kernel may still split them).
  static PeerStep Send(std::string bytes) { return {kSend, std::move(bytes), 0}; }
  // Sends one byte per send call, with TCP_NODELAY and a short pause between.
  static PeerStep Dribble(std::string bytes) { return {kDribble, std::move(bytes), 0}; }
  // Shuts sending down and closes: the client sees an orderly end.
  static PeerStep Close() { return {kClose, {}, 0}; }
  // Closes with SO_LINGER 0: the client sees a reset.
  static PeerStep Reset() { return {kReset, {}, 0}; }
  // Waits until Release() (or the peer's destruction).
  static PeerStep Stall() { return {kStall, {}, 0}; }
  // Reads exactly count bytes from the client into Received().
  static PeerStep Receive(size_t count) { return {kReceive, {}, count}; }
  // Reads until the client closes.
  static PeerStep ReceiveUntilClose() { return {kReceiveUntilClose, {}, 0}; }
};

class TcpPeer {
 public:
  explicit TcpPeer(std::vector<PeerStep> script, const std::string& address = "127.0.0.1");
  ~TcpPeer();
  TcpPeer(const TcpPeer&) = delete;
  TcpPeer& operator=(const TcpPeer&) = delete;

  int Port() const { return port_; }
  // Ends the current (or the next) stall.
  void Release();
  // Waits until the script has run to its end; false after deadline_ms.
  bool WaitScriptDone(int deadline_ms = 20000);
  // What the client sent, as far as Receive steps read it.
  std::string Received();
  // Empty, or what went wrong on the peer's side.
  std::string Failure();

 private:
  void Run();

  std::vector<PeerStep> script_;
  int listen_fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::mutex mutex_;
  std::condition_variable changed_;
  int releases_ = 0;
  bool done_ = false;
  std::string received_;
  std::string failure_;
  std::thread thread_;
};

class UnansweredListener {
 public:
  // port 0: the system chooses.
  explicit UnansweredListener(const std::string& address = "127.0.0.1", int port = 0);
  ~UnansweredListener();
  UnansweredListener(const UnansweredListener&) = delete;
  UnansweredListener& operator=(const UnansweredListener&) = delete;

  int Port() const { return port_; }
  // Whether a connect to it was seen to stay pending while it was set up.
  bool Blocks() const { return blocks_; }

 private:
  int listen_fd_ = -1;
  int port_ = 0;
  bool blocks_ = false;
  std::vector<int> fillers_;
};

// count deterministic bytes of every value, different for every seed.
std::string PatternBytes(size_t count, uint32_t seed = 1);

// The number of open file descriptors of this process.
int OpenDescriptorCount();
// The number of threads of this process.
int ThreadCount();

}  // namespace testsupport
