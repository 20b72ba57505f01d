#include "support/scripted_ftp_peer.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace test_support {
namespace {

constexpr size_t kMaxLineBytes = 1 << 20;

using Peer = ScriptedFtpPeer;

Peer::Step Make(Peer::Step::Kind kind, std::string text = {}) {
  Peer::Step step;
  step.kind = kind;
  step.text = std::move(text);
  return step;
}

sockaddr_in AddressOf(const std::string& address, uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  if (inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1) {
    throw std::runtime_error("not an IPv4 address: " + address);
  }
  return sa;
}

bool IsLoopback(const std::string& address) {
  in_addr a{};
  return inet_pton(AF_INET, address.c_str(), &a) == 1 && (ntohl(a.s_addr) >> 24) == 127;
}

// Listens on the port (0: one the system picks) and gives the port it got.
int ListenOn(const std::string& address, uint16_t& port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("socket failed");
  const int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in sa = AddressOf(address, port);
  if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || listen(fd, 8) != 0) {
    const std::string reason = std::strerror(errno);
    close(fd);
    throw std::runtime_error("cannot listen on " + address + ": " + reason);
  }
  socklen_t length = sizeof sa;
  getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &length);
  port = ntohs(sa.sin_port);
  return fd;
}

// Replies go out as they are scripted, not held back to be joined.
void NoDelay(int fd) {
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

// "h1,h2,h3,h4,p1,p2" of a PORT or PASV line.
std::string HostPortText(const std::string& address, uint16_t port) {
  std::string text = address;
  for (char& c : text) {
    if (c == '.') c = ',';
  }
  return text + "," + std::to_string(port / 256) + "," + std::to_string(port % 256);
}

bool ParseHostPort(const std::string& text, std::string& address, uint16_t& port) {
  int v[6];
  char tail = 0;
  if (std::sscanf(text.c_str(), "%d,%d,%d,%d,%d,%d%c", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &tail) != 6) {
    return false;
  }
  for (int x : v) {
    if (x < 0 || x > 255) return false;
  }
  address = std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]) + "." +
            std::to_string(v[3]);
  port = static_cast<uint16_t>(v[4] * 256 + v[5]);
  return true;
}

}  // namespace

// ---- steps ----

Peer::Step Peer::Expect(std::string line) { return Make(Step::Kind::kExpect, std::move(line)); }
Peer::Step Peer::ExpectPrefix(std::string prefix) { return Make(Step::Kind::kExpectPrefix, std::move(prefix)); }
Peer::Step Peer::Send(std::string bytes) { return Make(Step::Kind::kSend, std::move(bytes)); }
Peer::Step Peer::Reply(const std::string& line) { return Make(Step::Kind::kSend, line + "\r\n"); }

Peer::Step Peer::SendGarbage(size_t size) {
  std::string bytes;
  bytes.reserve(size + 2);
  for (size_t i = 0; bytes.size() < size; ++i) {
    const char c = static_cast<char>((i * 37 + 11) % 256);
    if (c != '\n') bytes.push_back(c);
  }
  return Make(Step::Kind::kSend, bytes + "\r\n");
}

Peer::Step Peer::SendLongLine(size_t length, const std::string& prefix) {
  return Make(Step::Kind::kSend, prefix + std::string(length, 'A') + "\r\n");
}

Peer::Step Peer::CloseControl() { return Make(Step::Kind::kCloseControl); }
Peer::Step Peer::AcceptControl() { return Make(Step::Kind::kAcceptControl); }
Peer::Step Peer::ExpectClientClose() { return Make(Step::Kind::kExpectClientClose); }
Peer::Step Peer::StallForever() { return Make(Step::Kind::kStallForever); }

Peer::Step Peer::Pasv(PasvOptions options) {
  Step step = Make(Step::Kind::kPasv);
  step.pasv = std::move(options);
  return step;
}

Peer::Step Peer::Epsv(PasvOptions options) {
  Step step = Make(Step::Kind::kEpsv);
  step.pasv = std::move(options);
  return step;
}

Peer::Step Peer::ExpectPort(const std::string& reply) {
  return Make(Step::Kind::kExpectPort, reply.empty() ? std::string() : reply + "\r\n");
}
Peer::Step Peer::ConnectData() { return Make(Step::Kind::kConnectData); }
Peer::Step Peer::AcceptData() { return Make(Step::Kind::kAcceptData); }
Peer::Step Peer::SendData(std::string bytes) { return Make(Step::Kind::kSendData, std::move(bytes)); }

Peer::Step Peer::DribbleData(std::string bytes, size_t chunk, std::chrono::milliseconds pause) {
  Step step = Make(Step::Kind::kDribbleData, std::move(bytes));
  step.chunk = chunk == 0 ? 1 : chunk;
  step.pause = pause;
  return step;
}

Peer::Step Peer::CloseData() { return Make(Step::Kind::kCloseData); }
Peer::Step Peer::ResetData() { return Make(Step::Kind::kResetData); }

Peer::Step Peer::StrangerConnects(std::string source, std::string bytes) {
  Step step = Make(Step::Kind::kStrangerConnects, std::move(bytes));
  step.pasv.name_address = std::move(source);
  return step;
}

// ---- the peer ----

ScriptedFtpPeer::ScriptedFtpPeer(std::vector<Step> script, std::string address,
                                 std::chrono::milliseconds step_timeout, uint16_t port)
    : address_(std::move(address)), step_timeout_(step_timeout), script_(std::move(script)), port_(port) {
  if (!IsLoopback(address_)) throw std::runtime_error("the peer listens on loopback only: " + address_);
  listener_ = ListenOn(address_, port_);
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC | O_NONBLOCK) != 0) {
    close(listener_);
    throw std::runtime_error("pipe failed");
  }
  wake_read_ = pipe_fds[0];
  wake_write_ = pipe_fds[1];
  thread_ = std::thread([this] { Run(); });
}

ScriptedFtpPeer::~ScriptedFtpPeer() {
  Stop();
  CloseFd(wake_read_);
  CloseFd(wake_write_);
}

void ScriptedFtpPeer::Stop() {
  if (thread_.joinable()) {
    const char byte = 1;
    [[maybe_unused]] ssize_t ignored = write(wake_write_, &byte, 1);
    thread_.join();
  }
  CloseFd(data_);
  CloseFd(pasv_listener_);
  CloseFd(control_);
  CloseFd(listener_);
}

std::vector<std::string> ScriptedFtpPeer::Transcript() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return transcript_;
}

std::string ScriptedFtpPeer::Error() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return error_;
}

bool ScriptedFtpPeer::WaitFinished(std::chrono::milliseconds deadline) const {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait_for(lock, deadline, [this] { return finished_ || done_ || !error_.empty(); });
  return finished_ && error_.empty();
}

bool ScriptedFtpPeer::WaitForLines(size_t count, std::chrono::milliseconds deadline) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, deadline, [this, count] { return transcript_.size() >= count; });
}

void ScriptedFtpPeer::RecordLine(const std::string& line) {
  std::lock_guard<std::mutex> lock(mutex_);
  transcript_.push_back(line);
  changed_.notify_all();
}

void ScriptedFtpPeer::Fail(const std::string& what) {
  failed_ = true;
  std::lock_guard<std::mutex> lock(mutex_);
  if (error_.empty()) error_ = what;
  changed_.notify_all();
}

void ScriptedFtpPeer::CloseFd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

ScriptedFtpPeer::Wait ScriptedFtpPeer::WaitFor(int fd, short events, std::chrono::milliseconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    pollfd fds[2] = {{wake_read_, POLLIN, 0}, {fd, events, 0}};
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    const int n = poll(fds, fd >= 0 ? 2 : 1, static_cast<int>(std::max<int64_t>(0, left.count())));
    if (n < 0 && errno == EINTR) continue;
    if (fds[0].revents != 0) {
      stopped_ = true;
      return Wait::kStopped;
    }
    if (n > 0) return Wait::kReady;
    if (n == 0 && std::chrono::steady_clock::now() >= end) return Wait::kTimedOut;
  }
}

bool ScriptedFtpPeer::AcceptOn(int listener, int& accepted) {
  switch (WaitFor(listener, POLLIN, step_timeout_)) {
    case Wait::kStopped:
      return false;
    case Wait::kTimedOut:
      Fail("timed out waiting for a connection");
      return false;
    case Wait::kReady:
      break;
  }
  accepted = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  if (accepted < 0) {
    Fail(std::string("accept failed: ") + std::strerror(errno));
    return false;
  }
  NoDelay(accepted);
  return true;
}

// One control line without its CR LF; false at the end of the connection,
// on a time-out or when stopped (the reason is left to the caller's step).
bool ScriptedFtpPeer::ReadLine(std::string& line, bool fail_on_timeout) {
  for (;;) {
    const size_t lf = received_.find('\n');
    if (lf != std::string::npos) {
      line = received_.substr(0, lf);
      received_.erase(0, lf + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return true;
    }
    if (received_.size() > kMaxLineBytes) {
      Fail("client sent a line of more than 1 MiB");
      return false;
    }
    if (control_ < 0) return false;
    switch (WaitFor(control_, POLLIN, step_timeout_)) {
      case Wait::kStopped:
        return false;
      case Wait::kTimedOut:
        if (!fail_on_timeout) continue;
        Fail("timed out waiting for a command line");
        return false;
      case Wait::kReady:
        break;
    }
    char buffer[4096];
    const ssize_t n = recv(control_, buffer, sizeof buffer, 0);
    if (n <= 0) {
      if (n < 0 && errno == EINTR) continue;
      CloseFd(control_);
      return false;
    }
    received_.append(buffer, static_cast<size_t>(n));
  }
}

bool ScriptedFtpPeer::SendAll(int fd, const std::string& bytes, bool quiet) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    switch (WaitFor(fd, POLLOUT, step_timeout_)) {
      case Wait::kStopped:
        return false;
      case Wait::kTimedOut:
        if (!quiet) Fail("timed out sending");
        return false;
      case Wait::kReady:
        break;
    }
    const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      if (!quiet) Fail(std::string("send failed: ") + std::strerror(errno));
      return false;
    }
    sent += static_cast<size_t>(n);
  }
  return true;
}

bool ScriptedFtpPeer::EnsureData() {
  if (data_ >= 0) return true;
  if (pasv_listener_ >= 0) {
    const bool ok = AcceptOn(pasv_listener_, data_);
    CloseFd(pasv_listener_);
    return ok;
  }
  if (!have_port_) {
    Fail("a data step with neither a PASV listener nor a PORT address");
    return false;
  }
  have_port_ = false;
  data_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  NoDelay(data_);
  // From the peer's own address, as a server's data connection comes: a
  // client may refuse connections from any other host.
  sockaddr_in own = AddressOf(address_, 0);
  if (bind(data_, reinterpret_cast<sockaddr*>(&own), sizeof own) != 0) {
    Fail(std::string("cannot bind the data connection: ") + std::strerror(errno));
    CloseFd(data_);
    return false;
  }
  sockaddr_in sa = AddressOf(port_address_, port_port_);
  if (connect(data_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 && errno != EINPROGRESS) {
    Fail(std::string("data connect failed: ") + std::strerror(errno));
    CloseFd(data_);
    return false;
  }
  if (WaitFor(data_, POLLOUT, step_timeout_) != Wait::kReady) {
    Fail("data connect did not complete");
    CloseFd(data_);
    return false;
  }
  int error = 0;
  socklen_t length = sizeof error;
  getsockopt(data_, SOL_SOCKET, SO_ERROR, &error, &length);
  if (error != 0) {
    Fail(std::string("data connect failed: ") + std::strerror(error));
    CloseFd(data_);
    return false;
  }
  return true;
}

void ScriptedFtpPeer::Stranger(const Step& step) {
  const std::string& source = step.pasv.name_address;
  if (!have_port_) {
    Fail("a stranger step without a PORT address");
    return;
  }
  if (!IsLoopback(source)) {
    Fail("a stranger from outside 127.0.0.0/8: " + source);
    return;
  }
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  sockaddr_in from = AddressOf(source, 0);
  sockaddr_in to = AddressOf(port_address_, port_port_);
  if (bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
      (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0 && errno != EINPROGRESS)) {
    Fail(std::string("stranger's connect failed: ") + std::strerror(errno));
    CloseFd(fd);
    return;
  }
  if (WaitFor(fd, POLLOUT, step_timeout_) != Wait::kReady) {
    if (!stopped_) Fail("stranger's connect did not complete");
    CloseFd(fd);
    return;
  }
  // The client may close at once, before or while the bytes go out.
  SendAll(fd, step.text, true);
  for (;;) {
    const Wait wait = WaitFor(fd, POLLIN, step_timeout_);
    if (wait == Wait::kStopped) break;
    if (wait == Wait::kTimedOut) {
      Fail("the stranger's data connection was not closed");
      break;
    }
    char buffer[512];
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // closed or reset: refused
  }
  CloseFd(fd);
}

void ScriptedFtpPeer::Run() {
  try {
    if (AcceptOn(listener_, control_)) {
      for (const Step& step : script_) {
        RunStep(step);
        if (failed_ || stopped_) break;
      }
      if (failed_) CloseFd(control_);
      if (!failed_ && !stopped_) {
        {
          std::lock_guard<std::mutex> lock(mutex_);
          finished_ = true;
          changed_.notify_all();
        }
        // Keep recording what the client still says, until it closes or the
        // peer is stopped.
        std::string line;
        while (ReadLine(line, false)) RecordLine(line);
      }
    }
  } catch (const std::exception& e) {
    Fail(e.what());
    CloseFd(control_);
  }
  std::lock_guard<std::mutex> lock(mutex_);
  done_ = true;
  changed_.notify_all();
}

void ScriptedFtpPeer::RunStep(const Step& step) {
  using Kind = Step::Kind;
  std::string line;
  auto expect_line = [&](const char* what) {
    if (ReadLine(line, true)) {
      RecordLine(line);
      return true;
    }
    if (!failed_ && !stopped_ && control_ < 0) Fail(std::string("control connection closed while waiting for ") + what);
    return false;
  };
  switch (step.kind) {
    case Kind::kExpect:
      if (expect_line(step.text.c_str()) && line != step.text) {
        Fail("expected \"" + step.text + "\", got \"" + line + "\"");
      }
      return;
    case Kind::kExpectPrefix:
      if (expect_line(step.text.c_str()) && line.compare(0, step.text.size(), step.text) != 0) {
        Fail("expected a line starting \"" + step.text + "\", got \"" + line + "\"");
      }
      return;
    case Kind::kSend:
      if (control_ < 0) {
        Fail("no control connection to send on");
        return;
      }
      SendAll(control_, step.text, false);
      return;
    case Kind::kPasv:
    case Kind::kEpsv: {
      const char* command = step.kind == Kind::kPasv ? "PASV" : "EPSV";
      if (!expect_line(command)) return;
      if (line != command) {
        Fail(std::string("expected \"") + command + "\", got \"" + line + "\"");
        return;
      }
      CloseFd(pasv_listener_);
      uint16_t port = 0;
      pasv_listener_ = ListenOn(address_, port);
      const uint16_t named_port = step.pasv.name_port >= 0 ? static_cast<uint16_t>(step.pasv.name_port) : port;
      std::string reply;
      if (step.kind == Kind::kEpsv) {
        reply = "229 Entering Extended Passive Mode (|||" + std::to_string(named_port) + "|)\r\n";
      } else {
        const std::string named_address = step.pasv.name_address.empty() ? address_ : step.pasv.name_address;
        const std::string numbers = HostPortText(named_address, named_port);
        reply = step.pasv.parentheses ? "227 Entering Passive Mode (" + numbers + ").\r\n"
                                      : "227 Entering Passive Mode " + numbers + "\r\n";
      }
      SendAll(control_, reply, false);
      return;
    }
    case Kind::kExpectPort: {
      if (!expect_line("PORT")) return;
      if (line.compare(0, 5, "PORT ") != 0 || !ParseHostPort(line.substr(5), port_address_, port_port_)) {
        Fail("expected a PORT line, got \"" + line + "\"");
        return;
      }
      if (!IsLoopback(port_address_)) {
        Fail("PORT names an address outside 127.0.0.0/8: " + port_address_);
        return;
      }
      have_port_ = true;
      SendAll(control_, step.text, false);
      return;
    }
    case Kind::kConnectData:
    case Kind::kAcceptData:
      EnsureData();
      return;
    case Kind::kSendData:
      if (EnsureData()) SendAll(data_, step.text, true);
      return;
    case Kind::kDribbleData:
      if (!EnsureData()) return;
      for (size_t at = 0; at < step.text.size(); at += step.chunk) {
        if (!SendAll(data_, step.text.substr(at, step.chunk), true)) return;
        if (WaitFor(-1, 0, step.pause) == Wait::kStopped) return;
      }
      return;
    case Kind::kCloseData:
      if (EnsureData()) CloseFd(data_);
      return;
    case Kind::kResetData:
      if (EnsureData()) {
        const linger hard{1, 0};
        setsockopt(data_, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        CloseFd(data_);
      }
      return;
    case Kind::kStrangerConnects:
      Stranger(step);
      return;
    case Kind::kCloseControl:
      CloseFd(control_);
      received_.clear();
      return;
    case Kind::kAcceptControl:
      CloseFd(control_);
      received_.clear();
      AcceptOn(listener_, control_);
      return;
    case Kind::kExpectClientClose:
      while (ReadLine(line, true)) RecordLine(line);
      return;
    case Kind::kStallForever:
      while (WaitFor(-1, 0, std::chrono::hours(1)) != Wait::kStopped) {
      }
      return;
  }
}

}  // namespace test_support
