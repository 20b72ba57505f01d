#include "support/tcp_peer.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace testsupport {
namespace {

int ListenOn(const std::string& address, int backlog, int& port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("socket failed");
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  if (::inet_pton(AF_INET, address.c_str(), &a.sin_addr) != 1) throw std::runtime_error("bad address " + address);
  const unsigned char first = reinterpret_cast<const unsigned char*>(&a.sin_addr)[0];
  if (first != 127) throw std::runtime_error("test peers listen on loopback only");
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, backlog) != 0) {
    ::close(fd);
    throw std::runtime_error(std::string("listen failed: ") + std::strerror(errno));
  }
  socklen_t length = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
  port = ntohs(a.sin_port);
  return fd;
}

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

TcpPeer::TcpPeer(std::vector<PeerStep> script, const std::string& address) : script_(std::move(script)) {
  listen_fd_ = ListenOn(address, 4, port_);
  thread_ = std::thread([this] { Run(); });
}

TcpPeer::~TcpPeer() {
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

void TcpPeer::Release() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++releases_;
  changed_.notify_all();
}

bool TcpPeer::WaitScriptDone(int deadline_ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(deadline_ms), [this] { return done_; });
}

std::string TcpPeer::Received() {
  std::lock_guard<std::mutex> lock(mutex_);
  return received_;
}

std::string TcpPeer::Failure() {
  std::lock_guard<std::mutex> lock(mutex_);
  return failure_;
}

void TcpPeer::Run() {
  auto fail = [this](const std::string& what) {
    std::lock_guard<std::mutex> lock(mutex_);
    failure_ = what;
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
  if (fd < 0) return fail(stopping_ ? "stopped before a client came" : "accept failed");

  bool open = true;
  for (const PeerStep& step : script_) {
    if (stopping_ || !open) break;
    switch (step.kind) {
      case PeerStep::kSend:
        if (!SendAll(fd, step.bytes.data(), step.bytes.size())) {
          ::close(fd);
          return fail("send failed");
        }
        break;
      case PeerStep::kDribble: {
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        for (char c : step.bytes) {
          if (!SendAll(fd, &c, 1)) {
            ::close(fd);
            return fail("send failed");
          }
          std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        break;
      }
      case PeerStep::kClose:
        ::shutdown(fd, SHUT_WR);
        ::close(fd);
        open = false;
        break;
      case PeerStep::kReset: {
        const linger hard{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        ::close(fd);
        open = false;
        break;
      }
      case PeerStep::kStall: {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return releases_ > 0 || stopping_; });
        if (releases_ > 0) --releases_;
        break;
      }
      case PeerStep::kReceive:
      case PeerStep::kReceiveUntilClose: {
        size_t wanted = step.count;
        char buffer[65536];
        while (!stopping_ && (step.kind == PeerStep::kReceiveUntilClose || wanted > 0)) {
          pollfd p{fd, POLLIN, 0};
          if (::poll(&p, 1, 20) != 1) continue;
          const size_t ask = step.kind == PeerStep::kReceive ? std::min(wanted, sizeof buffer) : sizeof buffer;
          const ssize_t n = ::recv(fd, buffer, ask, 0);
          if (n <= 0) break;
          std::lock_guard<std::mutex> lock(mutex_);
          received_.append(buffer, static_cast<size_t>(n));
          if (step.kind == PeerStep::kReceive) wanted -= static_cast<size_t>(n);
        }
        break;
      }
    }
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    done_ = true;
    changed_.notify_all();
  }
  if (open) {
    // Keep the connection until the test is over.
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return stopping_.load(); });
    ::close(fd);
  }
}

UnansweredListener::UnansweredListener(const std::string& address, int port) : port_(port) {
  listen_fd_ = ListenOn(address, 0, port_);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port_));
  ::inet_pton(AF_INET, address.c_str(), &a.sin_addr);
  // Connect until one stays pending: the queue is then full. A few are
  // enough on every kernel seen; the bound keeps a surprise finite.
  for (int i = 0; i < 16 && !blocks_; ++i) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    fillers_.push_back(fd);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) continue;
    if (errno != EINPROGRESS) break;
    pollfd p{fd, POLLOUT, 0};
    if (::poll(&p, 1, 300) == 0) blocks_ = true;
  }
}

UnansweredListener::~UnansweredListener() {
  for (int fd : fillers_) ::close(fd);
  ::close(listen_fd_);
}

std::string PatternBytes(size_t count, uint32_t seed) {
  std::string bytes(count, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < count; ++i) {
    x = x * 1664525u + 1013904223u;
    bytes[i] = static_cast<char>(x >> 24);
  }
  return bytes;
}

namespace {

int CountEntries(const char* folder) {
  int count = 0;
  DIR* dir = ::opendir(folder);
  if (dir == nullptr) return -1;
  while (const dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] != '.') ++count;
  }
  ::closedir(dir);
  return count;
}

}  // namespace

int OpenDescriptorCount() {
  return CountEntries("/proc/self/fd") - 1;  // the listing's own descriptor
}

int ThreadCount() {
  // ThreadSanitizer starts a helper thread of its own along with the first
  // thread the program creates; one thread started and joined before the
  // first count puts it there already, so counts compare the same with it.
  static const bool helpers_started = [] {
    std::thread([] {}).join();
    return true;
  }();
  (void)helpers_started;
  return CountEntries("/proc/self/task");
}

}  // namespace testsupport
