#include "support/scripted_socks_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>

namespace test_support {
namespace {

// Longer than any request the client may send: a field past this is a
// missing terminator, not a long name.
constexpr size_t kFieldLimit = 1024;

bool SendAll(int fd, const char* data, size_t length) {
  while (length > 0) {
    const ssize_t n = ::send(fd, data, length, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

std::string Bytes(std::initializer_list<int> values) {
  std::string bytes;
  for (int value : values) bytes += static_cast<char>(value & 0xFF);
  return bytes;
}

std::string Socks4Reply(int status) { return Bytes({0, status, 0x12, 0x34, 127, 0, 0, 1}); }

std::string Socks5Method(int method) { return Bytes({5, method}); }

std::string Socks5AuthStatus(int status) { return Bytes({1, status}); }

std::string Socks5Reply(int status) { return Bytes({5, status, 0, 1, 127, 0, 0, 1, 0x12, 0x34}); }

std::string Socks5DomainReply(int status, const std::string& name) {
  return Bytes({5, status, 0, 3, static_cast<int>(name.size())}) + name + Bytes({0x12, 0x34});
}

std::string Socks5IPv6Reply(int status) {
  return Bytes({5, status, 0, 4}) + std::string(15, '\0') + Bytes({1, 0x12, 0x34});
}

ScriptedSocksPeer::ScriptedSocksPeer(std::vector<SocksStep> script) : script_(std::move(script)) {
  listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listen_fd_ < 0) throw std::runtime_error("socket failed");
  sockaddr_in a{};
  a.sin_family = AF_INET;
  ::inet_pton(AF_INET, address_.c_str(), &a.sin_addr);
  if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listen_fd_, 4) != 0) {
    ::close(listen_fd_);
    throw std::runtime_error(std::string("listen failed: ") + std::strerror(errno));
  }
  socklen_t length = sizeof a;
  ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&a), &length);
  port_ = ntohs(a.sin_port);
  thread_ = std::thread([this] { Run(); });
}

ScriptedSocksPeer::~ScriptedSocksPeer() {
  {
    // Set under the lock: the peer's thread may be between testing stopping_
    // and waiting, and a notification sent then would be lost for good.
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
  if (listen_fd_ >= 0) ::close(listen_fd_);
}

void ScriptedSocksPeer::Release() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++releases_;
  changed_.notify_all();
}

bool ScriptedSocksPeer::WaitScriptDone(int deadline_ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(deadline_ms), [this] { return done_; });
}

std::vector<std::string> ScriptedSocksPeer::Requests() {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

std::string ScriptedSocksPeer::Failure() {
  std::lock_guard<std::mutex> lock(mutex_);
  return failure_;
}

void ScriptedSocksPeer::Record(std::string request) {
  std::lock_guard<std::mutex> lock(mutex_);
  requests_.push_back(std::move(request));
}

bool ScriptedSocksPeer::ReadExact(int fd, size_t count, std::string& out) {
  char buffer[4096];
  while (count > 0 && !stopping_) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 20) != 1) continue;
    const ssize_t n = ::recv(fd, buffer, std::min(count, sizeof buffer), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    out.append(buffer, static_cast<size_t>(n));
    count -= static_cast<size_t>(n);
  }
  return count == 0;
}

bool ScriptedSocksPeer::ReadToZero(int fd, size_t limit, std::string& out) {
  for (size_t i = 0; i < limit; ++i) {
    if (!ReadExact(fd, 1, out)) return false;
    if (out.back() == '\0') return true;
  }
  return false;
}

void ScriptedSocksPeer::Run() {
  auto finish = [this](const std::string& failure) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (failure_.empty()) failure_ = failure;
    done_ = true;
    changed_.notify_all();
  };

  int fd = -1;
  while (!stopping_) {
    pollfd p{listen_fd_, POLLIN, 0};
    if (::poll(&p, 1, 20) == 1) {
      fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
      break;
    }
  }
  if (fd < 0) return finish(stopping_ ? "stopped before a client came" : "accept failed");

  bool open = true;
  std::string failure;
  for (const SocksStep& step : script_) {
    if (stopping_ || !open || !failure.empty()) break;
    std::string request;
    bool read_ok = true;
    switch (step.kind) {
      case SocksStep::kReadSocks4: {
        read_ok = ReadExact(fd, 8, request) && ReadToZero(fd, kFieldLimit, request);
        // 0.0.0.x with x not 0 is the 4A form: a host name follows.
        const bool socks4a = read_ok && request[4] == 0 && request[5] == 0 && request[6] == 0 && request[7] != 0;
        if (socks4a) read_ok = ReadToZero(fd, kFieldLimit, request);
        if (read_ok && (request[0] != 4 || request[1] != 1)) failure = "not a SOCKS 4 connect request";
        break;
      }
      case SocksStep::kReadSocks5Greeting:
        read_ok = ReadExact(fd, 2, request) && ReadExact(fd, static_cast<unsigned char>(request[1]), request);
        if (read_ok && request[0] != 5) failure = "not a SOCKS 5 greeting";
        break;
      case SocksStep::kReadSocks5UserPass:
        read_ok = ReadExact(fd, 2, request) && ReadExact(fd, static_cast<unsigned char>(request[1]), request) &&
                  ReadExact(fd, 1, request) && ReadExact(fd, static_cast<unsigned char>(request.back()), request);
        if (read_ok && request[0] != 1) failure = "not a user name and password request";
        break;
      case SocksStep::kReadSocks5Connect: {
        read_ok = ReadExact(fd, 4, request);
        if (!read_ok) break;
        size_t address = 0;
        if (request[3] == 1) address = 4;
        if (request[3] == 4) address = 16;
        if (request[3] == 3) {
          read_ok = ReadExact(fd, 1, request);
          address = read_ok ? static_cast<unsigned char>(request.back()) : 0;
        }
        read_ok = read_ok && ReadExact(fd, address + 2, request);
        if (read_ok && (request[0] != 5 || request[1] != 1 || address == 0)) failure = "not a SOCKS 5 connect request";
        break;
      }
      case SocksStep::kReceive:
        read_ok = ReadExact(fd, step.count, request);
        break;
      case SocksStep::kSend:
        if (!SendAll(fd, step.bytes.data(), step.bytes.size())) failure = "send failed";
        break;
      case SocksStep::kDribble: {
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        for (char c : step.bytes) {
          if (!SendAll(fd, &c, 1)) {
            failure = "send failed";
            break;
          }
          std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        break;
      }
      case SocksStep::kClose:
        ::shutdown(fd, SHUT_WR);
        ::close(fd);
        open = false;
        break;
      case SocksStep::kReset: {
        const linger hard{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        ::close(fd);
        open = false;
        break;
      }
      case SocksStep::kStall: {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return releases_ > 0 || stopping_; });
        if (releases_ > 0) --releases_;
        break;
      }
    }
    const bool reads = step.kind != SocksStep::kSend && step.kind != SocksStep::kDribble &&
                       step.kind != SocksStep::kClose && step.kind != SocksStep::kReset &&
                       step.kind != SocksStep::kStall;
    if (reads) {
      if (!read_ok && failure.empty()) failure = "the client closed in the middle of a request: " + request;
      Record(request);
    }
  }
  finish(failure);
  if (open) {
    // Keep the connection until the test is over.
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return stopping_.load(); });
    ::close(fd);
  }
}

}  // namespace test_support
