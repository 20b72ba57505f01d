// A scripted SOCKS proxy on loopback for exact negotiation tests.
//
// It listens on 127.0.0.1 (port 0: the system chooses), takes one
// connection and plays its script on its own thread. The Read steps parse
// one client request by its structure (so a client that sends too little or
// too much shows up as a wrong request, not a hang), and keep its bytes in
// Requests(). After the script the connection stays open until the peer is
// destroyed.
//
//   ScriptedSocksPeer proxy({SocksStep::ReadSocks5Greeting(), SocksStep::Send(Socks5Method(0)),
//                            SocksStep::ReadSocks5Connect(), SocksStep::Send(Socks5Reply(0))});
//   ... connect through 127.0.0.1:proxy.Port() ...
//   EXPECT_EQ(proxy.Requests()[0], Bytes({5, 1, 0}));
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace test_support {

struct SocksStep {
  enum Kind {
    kReadSocks4,           // 8 bytes, the user id to its 0, for 4A the host to its 0
    kReadSocks5Greeting,   // version, method count, the methods
    kReadSocks5UserPass,   // sub-version, user name and password with their lengths
    kReadSocks5Connect,    // version, command, reserved, address by type, port
    kReceive,              // exactly count raw bytes
    kSend,                 // bytes in one go
    kDribble,              // bytes one per send, with TCP_NODELAY and a short pause
    kClose,                // orderly close
    kReset,                // close with SO_LINGER 0: the client sees a reset
    kStall,                // wait for Release() or the peer's end
  };
  Kind kind;
  std::string bytes;
  size_t count = 0;

  static SocksStep ReadSocks4() { return {kReadSocks4, {}, 0}; }
  static SocksStep ReadSocks5Greeting() { return {kReadSocks5Greeting, {}, 0}; }
  static SocksStep ReadSocks5UserPass() { return {kReadSocks5UserPass, {}, 0}; }
  static SocksStep ReadSocks5Connect() { return {kReadSocks5Connect, {}, 0}; }
  static SocksStep Receive(size_t count) { return {kReceive, {}, count}; }
  static SocksStep Send(std::string bytes) { return {kSend, std::move(bytes), 0}; }
  static SocksStep Dribble(std::string bytes) { return {kDribble, std::move(bytes), 0}; }
  static SocksStep Close() { return {kClose, {}, 0}; }
  static SocksStep Reset() { return {kReset, {}, 0}; }
  static SocksStep Stall() { return {kStall, {}, 0}; }
};

// Bytes from small numbers: Bytes({5, 0, 0, 1}).
std::string Bytes(std::initializer_list<int> values);
// A SOCKS 4 reply: 0, status, 6 bytes of bound port and address.
std::string Socks4Reply(int status);
// A SOCKS 5 method choice: 5, method.
std::string Socks5Method(int method);
// A user name and password status: 1, status.
std::string Socks5AuthStatus(int status);
// A SOCKS 5 connect reply with a bound IPv4 address (10 bytes).
std::string Socks5Reply(int status);
// A SOCKS 5 connect reply with a bound domain name and a port.
std::string Socks5DomainReply(int status, const std::string& name);
// A SOCKS 5 connect reply with a bound IPv6 address (22 bytes).
std::string Socks5IPv6Reply(int status);

class ScriptedSocksPeer {
 public:
  explicit ScriptedSocksPeer(std::vector<SocksStep> script);
  ~ScriptedSocksPeer();
  ScriptedSocksPeer(const ScriptedSocksPeer&) = delete;
  ScriptedSocksPeer& operator=(const ScriptedSocksPeer&) = delete;

  const std::string& Address() const { return address_; }
  int Port() const { return port_; }
  // Ends the current (or the next) stall.
  void Release();
  // Waits until the script has run to its end (or failed); false after the
  // deadline.
  bool WaitScriptDone(int deadline_ms = 30000);
  // The bytes of each Read and Receive step, in order.
  std::vector<std::string> Requests();
  // Empty, or what went wrong on the peer's side (a short or malformed
  // request, a failed send).
  std::string Failure();

 private:
  void Run();
  // Reads exactly count bytes into out; false when the client closed or the
  // peer is stopping.
  bool ReadExact(int fd, size_t count, std::string& out);
  // Reads up to and including a 0 byte, at most limit bytes.
  bool ReadToZero(int fd, size_t limit, std::string& out);
  void Record(std::string request);

  std::vector<SocksStep> script_;
  std::string address_ = "127.0.0.1";
  int listen_fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::mutex mutex_;
  std::condition_variable changed_;
  int releases_ = 0;
  bool done_ = false;
  std::vector<std::string> requests_;
  std::string failure_;
  std::thread thread_;
};

}  // namespace test_support
