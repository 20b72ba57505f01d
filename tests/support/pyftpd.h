// A real FTP server for interoperability tests: tests/support/ftp_server.py
// (pyftpdlib under Debian's /usr/bin/python3) as a child process, serving one
// folder on a loopback address.
//
//   test_support::TempDir root;
//   test_support::PyFtpd server({.root = root.Path()});
//   ... connect to server.Address():server.Port() as "user" / "password" ...
//
// The constructor returns once the server accepts connections (or raises
// std::runtime_error after 30 s); the destructor stops the server and reaps
// the child. The child also dies with the test process. Names pass byte for
// byte (GBK names included), the user may list and read only (perm "elr"),
// and active-mode data connections to the client's own loopback address are
// allowed.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace test_support {

struct PyFtpdOptions {
  std::string root;                  // folder to serve; required
  std::string address = "127.0.0.1";  // a loopback address
  uint16_t port = 0;                 // 0: a free port (see Port()); 21 for end-to-end tests
  std::string user = "user";
  std::string password = "password";
  uint16_t passive_low = 0;          // passive port range; 0: any free port
  uint16_t passive_high = 0;
  bool refuse_size = false;          // answer every SIZE with 550
  // Run inside this network namespace (a name under /run/netns that the
  // test made); address may then be a private address there.
  std::string network_namespace = {};
  bool permit_foreign = false;       // let PORT name another host than the client's
  bool verbose = false;              // log the server's commands and replies to stderr
  std::string tls_cert = "";         // explicit TLS required, with this certificate (PEM) ...
  std::string tls_key = "";          // ... and its key
  bool tls12 = false;                // TLS 1.2 at most
};

class PyFtpd {
 public:
  explicit PyFtpd(PyFtpdOptions options);
  ~PyFtpd();
  PyFtpd(const PyFtpd&) = delete;
  PyFtpd& operator=(const PyFtpd&) = delete;

  const std::string& Address() const { return options_.address; }
  uint16_t Port() const { return port_; }
  const std::string& User() const { return options_.user; }
  const std::string& Password() const { return options_.password; }

  // Terminates the server and waits for it; the destructor calls it.
  void Stop();

 private:
  void Start();

  PyFtpdOptions options_;
  pid_t pid_ = -1;
  int output_ = -1;  // the child's stdout
  uint16_t port_ = 0;
};

}  // namespace test_support
