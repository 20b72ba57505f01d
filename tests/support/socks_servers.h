// Real SOCKS servers from Debian for interoperability tests, each a child
// process on a loopback address and a free port:
//
//   test_support::Microsocks proxy({.user = "u", .password = "p"});  // SOCKS 5
//   test_support::Danted proxy({});                                    // SOCKS 4 and 5
//   ... connect through proxy.Address():proxy.Port() ...
//
// The constructor returns once the server accepts connections (or raises
// std::runtime_error, with the server's output, after 30 s); the
// destructor stops the server's whole process group and reaps it. The
// server also dies with the test process.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace test_support {

class TempDir;

// One server process in a process group of its own, its output in a file.
class SocksServerProcess {
 public:
  SocksServerProcess();
  ~SocksServerProcess();
  SocksServerProcess(const SocksServerProcess&) = delete;
  SocksServerProcess& operator=(const SocksServerProcess&) = delete;

  const std::string& Address() const { return address_; }
  uint16_t Port() const { return port_; }
  // The folder for the server's files (configuration, output).
  const std::string& Folder() const;
  // What the server has written so far.
  std::string Output() const;

  // Starts the command make_argv gives for a free port of address, and
  // waits until it accepts connections; tries a few ports in case another
  // process takes one first. Raises std::runtime_error when it never does.
  void Start(const std::string& name, const std::string& address,
             const std::function<std::vector<std::string>(uint16_t port)>& make_argv);
  // The same on a port the caller chose (port 21 for the updater's own
  // end-to-end runs), tried once.
  void StartOnPort(const std::string& name, const std::string& address, uint16_t port, std::vector<std::string> argv);
  // Terminates the process group and waits for the server.
  void Stop();

 private:
  static uint16_t FreePort(const std::string& address);
  // False when the server ended before it accepted connections.
  bool Launch(std::vector<std::string> argv, uint16_t port);

  std::unique_ptr<TempDir> folder_;
  std::string address_;
  uint16_t port_ = 0;
  pid_t pid_ = -1;
};

struct MicrosocksOptions {
  std::string address = "127.0.0.1";  // a loopback address
  std::string user;                   // empty: no authentication
  std::string password;
};

// microsocks: SOCKS 5, optionally with one user name and password.
class Microsocks {
 public:
  explicit Microsocks(MicrosocksOptions options);

  const std::string& Address() const { return process_.Address(); }
  uint16_t Port() const { return process_.Port(); }

 private:
  SocksServerProcess process_;
};

struct DantedOptions {
  std::string address = "127.0.0.1";  // a loopback address
};

// dante-server: SOCKS 4 and 5 without authentication, passing connections
// from and to 127.0.0.0/8 only. It needs to run as root.
class Danted {
 public:
  explicit Danted(DantedOptions options);

  const std::string& Address() const { return process_.Address(); }
  uint16_t Port() const { return process_.Port(); }

 private:
  SocksServerProcess process_;
};

}  // namespace test_support
