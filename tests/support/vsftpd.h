// vsftpd, the FTP server of Debian's scripts/bench, for interoperability
// tests: anonymous and read-only, serving one folder on a free port of a
// loopback address, in the foreground as a child process.
//
//   test_support::TempDir root;
//   test_support::Vsftpd server({.root = root.Path()});
//   ... connect to server.Address():server.Port() as "anonymous" ...
//
// The served folder and everything in it are made readable for vsftpd's
// unprivileged "ftp" user. It needs to run as root. The constructor returns
// once the server accepts connections (or raises std::runtime_error); the
// destructor stops it.
#pragma once

#include <cstdint>
#include <string>

#include "support/socks_servers.h"

namespace test_support {

struct VsftpdOptions {
  std::string root;                   // folder to serve; required
  std::string address = "127.0.0.1";  // a loopback address
};

class Vsftpd {
 public:
  explicit Vsftpd(VsftpdOptions options);

  const std::string& Address() const { return process_.Address(); }
  uint16_t Port() const { return process_.Port(); }

 private:
  SocksServerProcess process_;
};

}  // namespace test_support
