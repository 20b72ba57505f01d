// What waiting costs: the processor time the updater uses while the network
// keeps it waiting, measured with getrusage of the whole process. The real
// Qt window (offscreen platform) and TForm1 are set up as in the program,
// so the keep-responsive component slices every wait and processes the
// window's pending input, and TForm1's FTPClient runs with its settings.
//
//   stall    the server sends 64 KiB of a file, stalls, sends 64 KiB more
//   listen   the server answers RETR at once but opens the active-mode data
//            connection only after the wait
//   connect  the control connection goes to a loopback listener whose accept
//            queue is full, so the connect waits until its time-out
//
//   qt_wait_cpu [SECONDS] [stall|listen|connect]...   (default 10, all three)
//
// Prints one line per case: case=NAME wall_s=... cpu_s=... core_percent=...
// A scripted FTP server runs in a thread of this program on 127.0.0.1.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/main_window.h"
#include "bench/qt_bench_window.h"
#include "platform/qt/qt_main_window.h"

namespace {

using Clock = std::chrono::steady_clock;

using bench::CpuSeconds;

int Listen(int backlog, int& port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, backlog) != 0) {
    std::perror("listen");
    std::exit(1);
  }
  socklen_t length = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
  port = ntohs(a.sin_port);
  return fd;
}

void SendAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

// Reads one command line; empty when the client went away.
std::string ReadCommand(int fd) {
  std::string line;
  char c = 0;
  while (::recv(fd, &c, 1, 0) == 1) {
    if (c == '\n') {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return line;
    }
    line += c;
  }
  return {};
}

// One FTP session of the kind the case asks for, then the thread ends.
void ServeOne(int listener, const std::string& kind, int wait_seconds) {
  const int control = ::accept(listener, nullptr, nullptr);
  if (control < 0) return;
  SendAll(control, "220 bench server\r\n");
  sockaddr_in data_address{};
  const std::string block(65536, 'x');
  for (;;) {
    const std::string line = ReadCommand(control);
    if (line.empty()) break;
    const std::string verb = line.substr(0, line.find(' '));
    if (verb == "USER") {
      SendAll(control, "331 password please\r\n");
    } else if (verb == "PASS") {
      SendAll(control, "230 logged in\r\n");
    } else if (verb == "TYPE") {
      SendAll(control, "200 type set\r\n");
    } else if (verb == "SYST") {
      SendAll(control, "215 UNIX Type: L8\r\n");
    } else if (verb == "PORT") {
      unsigned h1, h2, h3, h4, p1, p2;
      if (std::sscanf(line.c_str() + 5, "%u,%u,%u,%u,%u,%u", &h1, &h2, &h3, &h4, &p1, &p2) == 6) {
        data_address.sin_family = AF_INET;
        data_address.sin_addr.s_addr = htonl(h1 << 24 | h2 << 16 | h3 << 8 | h4);
        data_address.sin_port = htons(static_cast<uint16_t>(p1 << 8 | p2));
      }
      SendAll(control, "200 PORT ok\r\n");
    } else if (verb == "RETR") {
      SendAll(control, "150 opening data connection\r\n");
      if (kind == "listen") std::this_thread::sleep_for(std::chrono::seconds(wait_seconds));
      const int data = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      if (::connect(data, reinterpret_cast<sockaddr*>(&data_address), sizeof data_address) == 0) {
        SendAll(data, block);
        if (kind == "stall") std::this_thread::sleep_for(std::chrono::seconds(wait_seconds));
        SendAll(data, block);
      }
      ::close(data);
      SendAll(control, "226 done\r\n");
    } else if (verb == "QUIT") {
      SendAll(control, "221 bye\r\n");
      break;
    } else {
      SendAll(control, "502 not here\r\n");
    }
  }
  ::close(control);
}

struct Result {
  double wall = 0;
  double cpu = 0;
  std::string outcome;
};

Result RunTransfer(app::TForm1& form, const std::string& kind, int wait_seconds, const std::string& local) {
  int port = 0;
  const int listener = Listen(4, port);
  std::thread server(ServeOne, listener, kind, wait_seconds);
  ftp::TIdFTP& client = form.FTPClient;
  client.Host = "127.0.0.1";
  client.Port = port;
  client.Username = "anonymous";
  client.Password = "bench@";
  Result result;
  const double cpu_start = CpuSeconds();
  const auto start = Clock::now();
  try {
    client.Connect(true, -1);
    client.Download("file.bin", local, true, false);
    result.outcome = std::to_string(std::filesystem::file_size(local)) + " bytes";
    client.SignOff();
  } catch (const std::exception& e) {
    result.outcome = e.what();
    if (client.Connected()) client.Disconnect();
  }
  result.wall = std::chrono::duration<double>(Clock::now() - start).count();
  result.cpu = CpuSeconds() - cpu_start;
  server.join();
  ::close(listener);
  return result;
}

Result RunConnect(app::TForm1& form, int wait_seconds) {
  int port = 0;
  const int listener = Listen(0, port);
  // Fill the accept queue: connections that complete without an accept,
  // until one stays pending; from then on the listener answers no SYN.
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  std::vector<int> fillers;
  for (int i = 0; i < 16; ++i) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    fillers.push_back(fd);
    pollfd p{fd, POLLOUT, 0};
    if (::poll(&p, 1, 300) == 0) break;  // this one hangs: the queue is full
  }
  ftp::TIdFTP& client = form.FTPClient;
  client.Host = "127.0.0.1";
  client.Port = port;
  Result result;
  const double cpu_start = CpuSeconds();
  const auto start = Clock::now();
  try {
    client.Connect(true, wait_seconds * 1000);
    result.outcome = "connected (queue was not full)";
    client.Disconnect();
  } catch (const std::exception& e) {
    result.outcome = e.what();
  }
  result.wall = std::chrono::duration<double>(Clock::now() - start).count();
  result.cpu = CpuSeconds() - cpu_start;
  for (const int fd : fillers) ::close(fd);
  ::close(listener);
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  int wait_seconds = 10;
  std::vector<std::string> cases;
  for (int i = 1; i < argc; ++i) {
    if (std::atoi(argv[i]) > 0) {
      wait_seconds = std::atoi(argv[i]);
    } else {
      cases.emplace_back(argv[i]);
    }
  }
  if (cases.empty()) cases = {"stall", "listen", "connect"};

  bench::OffscreenApplication application(argv[0]);

  bench::OffscreenForm offscreen("qt_wait_cpu");
  app::TForm1& form = offscreen.Form();

  int status = 0;
  for (const std::string& kind : cases) {
    Result result;
    if (kind == "connect") {
      result = RunConnect(form, wait_seconds);
    } else if (kind == "stall" || kind == "listen") {
      result = RunTransfer(form, kind, wait_seconds, offscreen.Folder() + "file.bin");
    } else {
      std::fprintf(stderr, "unknown case %s\n", kind.c_str());
      return 2;
    }
    if (result.wall < wait_seconds * 0.9) status = 1;  // the wait did not happen
    std::printf("case=%s wall_s=%.3f cpu_s=%.4f core_percent=%.3f outcome=\"%s\"\n", kind.c_str(), result.wall,
                result.cpu, 100.0 * result.cpu / result.wall, result.outcome.c_str());
    std::fflush(stdout);
  }
  return status;
}
