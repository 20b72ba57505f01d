#include "support/pyftpd.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "support/test_util.h"

namespace test_support {
namespace {

constexpr const char* kPython = "/usr/bin/python3";
constexpr auto kStartDeadline = std::chrono::seconds(30);

bool Accepts(const std::string& address, uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  inet_pton(AF_INET, address.c_str(), &sa.sin_addr);
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
  close(fd);
  return ok;
}

}  // namespace

PyFtpd::PyFtpd(PyFtpdOptions options) : options_(std::move(options)) {
  try {
    Start();
  } catch (...) {
    Stop();
    throw;
  }
}

PyFtpd::~PyFtpd() { Stop(); }

void PyFtpd::Start() {
  if (options_.root.empty()) throw std::runtime_error("PyFtpd needs a folder to serve");
  std::vector<std::string> args = {kPython,
                                   std::string(UPDATER_TEST_SUPPORT_DIR) + "/ftp_server.py",
                                   "--root", options_.root,
                                   "--address", options_.address,
                                   "--port", std::to_string(options_.port),
                                   "--user", options_.user,
                                   "--password", options_.password};
  if (options_.passive_low != 0) {
    args.push_back("--passive-ports");
    args.push_back(std::to_string(options_.passive_low) + "-" +
                   std::to_string(options_.passive_high ? options_.passive_high : options_.passive_low));
  }
  if (options_.refuse_size) args.push_back("--refuse-size");
  if (!options_.network_namespace.empty()) args.push_back("--in-namespace");
  if (options_.permit_foreign) args.push_back("--permit-foreign");
  if (options_.verbose) args.push_back("--verbose");
  if (!options_.tls_cert.empty()) {
    args.insert(args.end(), {"--tls-cert", options_.tls_cert, "--tls-key", options_.tls_key});
    if (options_.tls12) args.push_back("--tls12");
  }
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  int namespace_fd = -1;
  if (!options_.network_namespace.empty()) {
    const std::string path = "/run/netns/" + options_.network_namespace;
    namespace_fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (namespace_fd < 0) throw std::runtime_error("no network namespace " + path);
  }
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) {
    if (namespace_fd >= 0) close(namespace_fd);
    throw std::runtime_error("pipe failed");
  }
  const pid_t parent = getpid();
  pid_t pid = fork();
  if (pid < 0) {
    close(pipe_fds[0]);
    close(pipe_fds[1]);
    if (namespace_fd >= 0) close(namespace_fd);
    throw std::runtime_error("fork failed");
  }
  if (pid == 0) {
    // Only async-signal-safe calls until exec: the test process has threads.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    if (namespace_fd >= 0 && setns(namespace_fd, CLONE_NEWNET) != 0) _exit(126);
    dup2(pipe_fds[1], STDOUT_FILENO);
    execv(kPython, argv.data());
    _exit(127);
  }
  pid_ = pid;
  if (namespace_fd >= 0) close(namespace_fd);
  close(pipe_fds[1]);
  output_ = pipe_fds[0];

  // The script says "PORT <n>" once it listens.
  const auto end = std::chrono::steady_clock::now() + kStartDeadline;
  std::string said;
  while (said.find('\n') == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0) throw std::runtime_error("ftp_server.py did not report its port within 30 s");
    pollfd p{output_, POLLIN, 0};
    const int n = poll(&p, 1, static_cast<int>(left.count()));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) continue;
    char buffer[256];
    const ssize_t got = read(output_, buffer, sizeof buffer);
    if (got <= 0) throw std::runtime_error("ftp_server.py ended before it listened: " + said);
    said.append(buffer, static_cast<size_t>(got));
  }
  if (said.compare(0, 5, "PORT ") != 0) throw std::runtime_error("ftp_server.py said: " + said);
  port_ = static_cast<uint16_t>(std::stoi(said.substr(5)));

  // In a namespace of its own the server cannot be reached from here; it
  // reports its port only once it listens.
  if (!options_.network_namespace.empty()) return;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
  if (!WaitUntil([this] { return Accepts(options_.address, port_); }, left)) {
    throw std::runtime_error("ftp_server.py does not accept connections");
  }
}

void PyFtpd::Stop() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    int status = 0;
    const bool ended = WaitUntil([this, &status] { return waitpid(pid_, &status, WNOHANG) == pid_; },
                                 std::chrono::seconds(10));
    if (!ended) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
    }
    pid_ = -1;
  }
  if (output_ >= 0) close(output_);
  output_ = -1;
}

}  // namespace test_support
