#include "support/socks_servers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <stdexcept>

#include "support/test_util.h"

namespace test_support {
namespace {

constexpr auto kStartDeadline = std::chrono::seconds(30);
constexpr int kPortAttempts = 5;

sockaddr_in LoopbackAddress(const std::string& address, uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  if (::inet_pton(AF_INET, address.c_str(), &a.sin_addr) != 1) throw std::runtime_error("bad address " + address);
  if (reinterpret_cast<const unsigned char*>(&a.sin_addr)[0] != 127) {
    throw std::runtime_error("test servers listen on loopback only");
  }
  return a;
}

bool Accepts(const std::string& address, uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const sockaddr_in a = LoopbackAddress(address, port);
  const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
  ::close(fd);
  return ok;
}

}  // namespace

SocksServerProcess::SocksServerProcess() : folder_(std::make_unique<TempDir>()) {}

SocksServerProcess::~SocksServerProcess() { Stop(); }

const std::string& SocksServerProcess::Folder() const { return folder_->Path(); }

std::string SocksServerProcess::Output() const {
  try {
    return ReadFile(folder_->File("output.log"));
  } catch (const std::exception&) {
    return std::string();
  }
}

uint16_t SocksServerProcess::FreePort(const std::string& address) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("socket failed");
  sockaddr_in a = LoopbackAddress(address, 0);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd);
    throw std::runtime_error(std::string("bind failed: ") + std::strerror(errno));
  }
  socklen_t length = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
  ::close(fd);
  return ntohs(a.sin_port);
}

void SocksServerProcess::Start(const std::string& name, const std::string& address,
                               const std::function<std::vector<std::string>(uint16_t port)>& make_argv) {
  address_ = address;
  for (int attempt = 0; attempt < kPortAttempts; ++attempt) {
    const uint16_t port = FreePort(address);
    if (Launch(make_argv(port), port)) return;
  }
  throw std::runtime_error(name + " did not start: " + Output());
}

void SocksServerProcess::StartOnPort(const std::string& name, const std::string& address, uint16_t port,
                                     std::vector<std::string> argv) {
  address_ = address;
  if (!Launch(std::move(argv), port)) throw std::runtime_error(name + " did not start: " + Output());
}

bool SocksServerProcess::Launch(std::vector<std::string> args, uint16_t port) {
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  const std::string log = folder_->File("output.log");
  const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (out < 0) throw std::runtime_error("cannot open " + log);

  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid < 0) {
    ::close(out);
    throw std::runtime_error("fork failed");
  }
  if (pid == 0) {
    // Only async-signal-safe calls until exec: the test process has threads.
    ::setpgid(0, 0);
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) _exit(127);
    ::dup2(out, STDOUT_FILENO);
    ::dup2(out, STDERR_FILENO);
    ::execv(argv[0], argv.data());
    _exit(127);
  }
  ::close(out);
  pid_ = pid;
  port_ = port;

  int status = 0;
  bool ended = false;
  const bool accepts = WaitUntil(
      [&] {
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
          ended = true;
          return true;
        }
        return Accepts(address_, port_);
      },
      kStartDeadline);
  if (ended) {
    pid_ = -1;
    return false;
  }
  if (!accepts) {
    Stop();
    throw std::runtime_error(std::string(argv[0]) + " does not accept connections: " + Output());
  }
  return true;
}

void SocksServerProcess::Stop() {
  if (pid_ <= 0) return;
  // The whole group: danted runs helper processes of its own. The server is
  // reaped only after the last signal to its group, so that its id cannot be
  // taken by another process in between.
  ::kill(-pid_, SIGTERM);
  auto exited = [this] {
    siginfo_t info{};
    return ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid_;
  };
  if (!WaitUntil(exited, std::chrono::seconds(10))) ::kill(-pid_, SIGKILL);
  // Helpers that outlived the server.
  ::kill(-pid_, SIGKILL);
  int status = 0;
  ::waitpid(pid_, &status, 0);
  pid_ = -1;
}

Microsocks::Microsocks(MicrosocksOptions options) {
  process_.Start("microsocks", options.address, [&options](uint16_t port) {
    std::vector<std::string> argv = {"/usr/bin/microsocks", "-i", options.address, "-p", std::to_string(port)};
    if (!options.user.empty()) {
      argv.insert(argv.end(), {"-u", options.user, "-P", options.password});
    }
    return argv;
  });
}

Danted::Danted(DantedOptions options) {
  process_.Start("danted", options.address, [this, &options](uint16_t port) {
    const std::string config = process_.Folder() + "/danted.conf";
    WriteFile(config,
              "logoutput: stderr\n"
              "internal: " + options.address + " port = " + std::to_string(port) + "\n"
              "external: " + options.address + "\n"
              "socksmethod: none\n"
              "clientmethod: none\n"
              "user.privileged: root\n"
              "user.unprivileged: nobody\n"
              "client pass { from: 127.0.0.0/8 to: 127.0.0.0/8 }\n"
              "socks pass { from: 127.0.0.0/8 to: 127.0.0.0/8 protocol: tcp }\n");
    return std::vector<std::string>{"/usr/sbin/danted", "-f", config};
  });
}

}  // namespace test_support
