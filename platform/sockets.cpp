#include "platform/sockets.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>

namespace platform::sockets {
namespace {

thread_local int t_last_error = 0;

int Fail(int native_error) {
  t_last_error = MapErrno(native_error);
  return -1;
}

bool MakeAddress(uint32_t address, int port, sockaddr_in& out) {
  if (port < 0 || port > 65535) return false;
  std::memset(&out, 0, sizeof out);
  out.sin_family = AF_INET;
  out.sin_port = htons(static_cast<uint16_t>(port));
  out.sin_addr.s_addr = address;
  return true;
}

// Connects in progress, by socket: a close from another thread signals the
// wake-up descriptor instead of closing, and the connecting thread closes the
// socket when it leaves.
struct PendingConnect {
  int wake = -1;
  bool close_requested = false;
};
std::mutex g_pending_mutex;
std::map<int, PendingConnect> g_pending;

// Registers the socket under the lock; gives its wake-up descriptor, or -1.
int Register(int socket) {
  auto it = g_pending.find(socket);
  if (it != g_pending.end()) return it->second.wake;
  const int wake = ::eventfd(0, EFD_CLOEXEC);
  if (wake < 0) return -1;
  g_pending[socket] = PendingConnect{wake, false};
  return wake;
}

// Removes the registration under the lock; gives whether a close was asked for.
bool Unregister(int socket) {
  auto it = g_pending.find(socket);
  if (it == g_pending.end()) return false;
  const bool closed = it->second.close_requested;
  ::close(it->second.wake);
  g_pending.erase(it);
  return closed;
}

int WaitConnected(int socket, int wake) {
  pollfd fds[2] = {{socket, POLLOUT, 0}, {wake, POLLIN, 0}};
  for (;;) {
    const int n = ::poll(fds, 2, -1);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (fds[1].revents != 0) return EBADF;
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
    return error;
  }
}

}  // namespace

int LastError() { return t_last_error; }
void SetLastError(int error) { t_last_error = error; }

int MapErrno(int native_error) {
  switch (native_error) {
    case EINTR: return 10004;
    case EBADF: return 10009;
    case EACCES:
    case EPERM: return 10013;
    case EFAULT: return 10014;
    case EINVAL: return 10022;
    case EMFILE:
    case ENFILE: return 10024;
    case EWOULDBLOCK: return 10035;
    case EINPROGRESS: return 10036;
    case EALREADY: return 10037;
    case ENOTSOCK: return 10038;
    case EDESTADDRREQ: return 10039;
    case EMSGSIZE: return 10040;
    case EPROTOTYPE: return 10041;
    case ENOPROTOOPT: return 10042;
    case EPROTONOSUPPORT: return 10043;
    case ESOCKTNOSUPPORT: return 10044;
    case EOPNOTSUPP: return 10045;
    case EPFNOSUPPORT: return 10046;
    case EAFNOSUPPORT: return 10047;
    case EADDRINUSE: return 10048;
    case EADDRNOTAVAIL: return 10049;
    case ENETDOWN: return 10050;
    case ENETUNREACH: return 10051;
    case ENETRESET: return 10052;
    case ECONNABORTED: return 10053;
    case ECONNRESET: return 10054;
    case ENOBUFS:
    case ENOMEM: return 10055;
    case EISCONN: return 10056;
    case ENOTCONN: return 10057;
    case ESHUTDOWN:
    case EPIPE: return 10058;
    case ETOOMANYREFS: return 10059;
    case ETIMEDOUT: return 10060;
    case ECONNREFUSED: return 10061;
    case ELOOP: return 10062;
    case ENAMETOOLONG: return 10063;
    case EHOSTDOWN: return 10064;
    case EHOSTUNREACH: return 10065;
    case ENOTEMPTY: return 10066;
    default: return native_error;
  }
}

int OpenSocket(int family, int type, int protocol) {
  const int s = ::socket(family, type | SOCK_CLOEXEC, protocol);
  return s < 0 ? Fail(errno) : s;
}

int Bind(int socket, uint32_t address, int port) {
  sockaddr_in a;
  if (!MakeAddress(address, port, a)) return Fail(EINVAL);
  return ::bind(socket, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 ? 0 : Fail(errno);
}

int Listen(int socket, int backlog) { return ::listen(socket, backlog) == 0 ? 0 : Fail(errno); }

int Accept(int socket, uint32_t& peer_address, int& peer_port) {
  sockaddr_in a{};
  socklen_t length = sizeof a;
  int s;
  do {
    s = ::accept4(socket, reinterpret_cast<sockaddr*>(&a), &length, SOCK_CLOEXEC);
  } while (s < 0 && errno == EINTR);
  // A listener closed under the accept is "not a socket" to the transport,
  // which expects that (and only that) for a handle that has gone.
  if (s < 0) return Fail(errno == EBADF ? ENOTSOCK : errno);
  peer_address = a.sin_addr.s_addr;
  peer_port = ntohs(a.sin_port);
  return s;
}

int PrepareConnect(int socket) {
  std::lock_guard<std::mutex> lock(g_pending_mutex);
  return Register(socket) < 0 ? Fail(errno) : 0;
}

void CancelConnect(int socket) {
  std::lock_guard<std::mutex> lock(g_pending_mutex);
  if (Unregister(socket)) ::close(socket);
}

int Connect(int socket, uint32_t address, int port) {
  sockaddr_in a;
  if (!MakeAddress(address, port, a)) {
    CancelConnect(socket);
    return Fail(EINVAL);
  }
  int wake;
  bool closed;
  {
    std::lock_guard<std::mutex> lock(g_pending_mutex);
    wake = Register(socket);
    closed = wake >= 0 && g_pending[socket].close_requested;
  }
  if (wake < 0) return Fail(errno);

  int error = closed ? EBADF : 0;
  const int flags = closed ? 0 : ::fcntl(socket, F_GETFL);
  if (!closed) {
    if (flags < 0 || ::fcntl(socket, F_SETFL, flags | O_NONBLOCK) != 0) {
      error = errno;
    } else if (::connect(socket, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
      error = errno;
      if (error == EINPROGRESS || error == EINTR) error = WaitConnected(socket, wake);
    }
  }

  {
    std::lock_guard<std::mutex> lock(g_pending_mutex);
    closed = Unregister(socket);
  }
  if (closed) {
    ::close(socket);
    return Fail(EBADF);
  }
  if (flags >= 0) ::fcntl(socket, F_SETFL, flags);
  return error == 0 ? 0 : Fail(error);
}

int Send(int socket, const void* data, size_t length) {
  ssize_t n;
  do {
    n = ::send(socket, data, length, MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  return n < 0 ? Fail(errno) : static_cast<int>(n);
}

int SendNow(int socket, const void* data, size_t length) {
  ssize_t n;
  do {
    n = ::send(socket, data, length, MSG_NOSIGNAL | MSG_DONTWAIT);
  } while (n < 0 && errno == EINTR);
  return n < 0 ? Fail(errno == EAGAIN ? EWOULDBLOCK : errno) : static_cast<int>(n);
}

int Receive(int socket, void* data, size_t length) {
  ssize_t n;
  do {
    n = ::recv(socket, data, length, 0);
  } while (n < 0 && errno == EINTR);
  return n < 0 ? Fail(errno) : static_cast<int>(n);
}

int ReceiveNow(int socket, void* data, size_t length) {
  ssize_t n;
  do {
    n = ::recv(socket, data, length, MSG_DONTWAIT);
  } while (n < 0 && errno == EINTR);
  return n < 0 ? Fail(errno == EAGAIN ? EWOULDBLOCK : errno) : static_cast<int>(n);
}

int Shutdown(int socket, int how) {
  {
    // A socket whose connect is pending is left to Close, which wakes it.
    std::lock_guard<std::mutex> lock(g_pending_mutex);
    if (g_pending.count(socket) != 0) return Fail(ENOTCONN);
  }
  return ::shutdown(socket, how) == 0 ? 0 : Fail(errno);
}

int Close(int socket) {
  {
    std::lock_guard<std::mutex> lock(g_pending_mutex);
    auto it = g_pending.find(socket);
    if (it != g_pending.end()) {
      if (it->second.close_requested) return Fail(EBADF);
      it->second.close_requested = true;
      const uint64_t one = 1;
      if (::write(it->second.wake, &one, sizeof one) < 0) return Fail(errno);
      return 0;
    }
  }
  return ::close(socket) == 0 ? 0 : Fail(errno);
}

int SetOption(int socket, int level, int option, const void* value, int length) {
  if (length < 0) return Fail(EINVAL);
  return ::setsockopt(socket, level, option, value, static_cast<socklen_t>(length)) == 0 ? 0 : Fail(errno);
}

void WidenReceiveWindow(int socket, int bytes) {
  // Linux grows a receive buffer by the bytes read within one measured round
  // trip. On loopback and fast local networks the round trip is a few
  // microseconds, so a reader that takes 8 KB a time never lets it grow: the
  // window stays near 64 KB and a transfer needs twice the segments and
  // acknowledgements. A fixed SO_RCVBUF would switch the growth off (and
  // rmem_max keeps it small on a stock kernel, too small for long links).
  // Raising the low-water mark enlarges the buffer and window clamp without
  // locking them, within the kernel's own limit for growth; setting it back
  // to 1 at once restores when the socket counts as readable.
  ::setsockopt(socket, SOL_SOCKET, SO_RCVLOWAT, &bytes, sizeof bytes);
  const int one = 1;
  ::setsockopt(socket, SOL_SOCKET, SO_RCVLOWAT, &one, sizeof one);
}

int LocalAddress(int socket, uint32_t& address, int& port) {
  sockaddr_in a{};
  socklen_t length = sizeof a;
  if (::getsockname(socket, reinterpret_cast<sockaddr*>(&a), &length) != 0) return Fail(errno);
  address = a.sin_addr.s_addr;
  port = ntohs(a.sin_port);
  return 0;
}

int PeerAddress(int socket, uint32_t& address, int& port) {
  sockaddr_in a{};
  socklen_t length = sizeof a;
  if (::getpeername(socket, reinterpret_cast<sockaddr*>(&a), &length) != 0) return Fail(errno);
  address = a.sin_addr.s_addr;
  port = ntohs(a.sin_port);
  return 0;
}

int LookupHost(const std::string& name, uint32_t& address) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (name.empty() || name.find('\0') != std::string::npos ||
      ::getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
    t_last_error = 11001;
    return -1;
  }
  address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
  ::freeaddrinfo(found);
  return 0;
}

int HostName(std::string& name) {
  char buffer[250] = {};
  if (::gethostname(buffer, sizeof buffer - 1) != 0) return Fail(errno);
  name = buffer;
  return 0;
}

int Select(std::vector<int>* read, std::vector<int>* write, std::vector<int>* error, int timeout_ms) {
  std::vector<int>* lists[3] = {read, write, error};
  const short events[3] = {POLLIN, POLLOUT, POLLPRI};
  std::vector<pollfd> fds;
  for (int k = 0; k < 3; ++k) {
    if (lists[k] == nullptr) continue;
    for (int s : *lists[k]) fds.push_back({s, events[k], 0});
  }
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms);
  int n;
  for (;;) {
    int wait = -1;
    if (timeout_ms >= 0) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      wait = left < 0 ? 0 : static_cast<int>(left);
    }
    n = ::poll(fds.data(), fds.size(), wait);
    if (n >= 0 || errno != EINTR) break;
  }
  if (n < 0) return Fail(errno);
  int ready = 0;
  size_t at = 0;
  for (int k = 0; k < 3; ++k) {
    if (lists[k] == nullptr) continue;
    std::vector<int> kept;
    for (size_t i = 0; i < lists[k]->size(); ++i, ++at) {
      const short got = fds[at].revents;
      if (got & POLLNVAL) return Fail(ENOTSOCK);
      // A closed or failed peer makes a read ready (the receive then tells),
      // and a failed connect makes a write ready, as select() reports them.
      const short wanted = k == 0 ? (POLLIN | POLLHUP | POLLERR) : k == 1 ? (POLLOUT | POLLHUP | POLLERR) : POLLPRI;
      if (got & wanted) kept.push_back(fds[at].fd);
    }
    ready += static_cast<int>(kept.size());
    *lists[k] = std::move(kept);
  }
  return ready;
}

}  // namespace platform::sockets
