// A scripted TLS server on loopback for the transport's tests: it accepts
// connections one after the other, runs the server side of the handshake on
// each and then plays the same script on every one, on its own thread.
//
//   test_support::TlsPeer peer({.cert_file = c.cert_file, .key_file = c.key_file},
//                              {TlsStep::Send("220 ready\r\n"), TlsStep::CloseNotify()});
//   ... connect to 127.0.0.1:peer.Port(), StartTLS ...
//   EXPECT_TRUE(peer.WaitDone());
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace test_support {

struct TlsStep {
  enum Kind { kSend, kReceive, kCloseNotify, kCloseWithoutNotify, kReset, kDamagedRecord, kUntilClientCloses };
  Kind kind;
  std::string bytes;
  size_t count = 0;

  // Encrypted, in records of at most 16 KB.
  static TlsStep Send(std::string bytes) { return {kSend, std::move(bytes), 0}; }
  // Reads count decrypted bytes into Received().
  static TlsStep Receive(size_t count) { return {kReceive, {}, count}; }
  // close_notify, then the socket is closed.
  static TlsStep CloseNotify() { return {kCloseNotify, {}, 0}; }
  // The socket is closed without close_notify.
  static TlsStep CloseWithoutNotify() { return {kCloseWithoutNotify, {}, 0}; }
  // The socket is closed with a reset (SO_LINGER 0).
  static TlsStep Reset() { return {kReset, {}, 0}; }
  // A record whose bytes do not decrypt, in the middle of the stream.
  static TlsStep DamagedRecord() { return {kDamagedRecord, {}, 0}; }
  // Reads (and drops) until the client closes.
  static TlsStep UntilClientCloses() { return {kUntilClientCloses, {}, 0}; }
};

struct TlsPeerOptions {
  std::string cert_file{};
  std::string key_file{};
  std::string address = "127.0.0.1";
  int max_version = 0;  // 0: TLS 1.3; 0x0303 for TLS 1.2 at most
  int connections = 1;
};

class TlsPeer {
 public:
  TlsPeer(TlsPeerOptions options, std::vector<TlsStep> script);
  ~TlsPeer();
  TlsPeer(const TlsPeer&) = delete;
  TlsPeer& operator=(const TlsPeer&) = delete;

  uint16_t Port() const { return port_; }
  // Waits until every connection has run the script; false after the deadline.
  bool WaitDone(int deadline_ms = 20000);
  // Decrypted bytes that Receive steps read, all connections in order.
  std::string Received();
  // Empty, or what went wrong on the server's side (a failed handshake too).
  std::string Failure();
  // For each connection whose handshake completed: whether it resumed a session.
  std::vector<bool> Resumed();

 private:
  void Run();

  TlsPeerOptions options_;
  std::vector<TlsStep> script_;
  int listen_fd_ = -1;
  uint16_t port_ = 0;
  std::atomic<int> current_fd_{-1};
  std::atomic<bool> stopping_{false};
  std::mutex mutex_;
  std::condition_variable changed_;
  bool done_ = false;
  std::string received_;
  std::string failure_;
  std::vector<bool> resumed_;
  std::thread thread_;
};

}  // namespace test_support
