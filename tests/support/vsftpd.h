// vsftpd from Debian as a real FTP server for the tests: anonymous login
// (no password), one folder served read-only, and explicit TLS required on
// control and data connections, with data connections that must resume the
// control connection's TLS session (require_ssl_reuse), unless tls is off.
//
//   test_support::Vsftpd server({.root = dir.File("root"), .address = "127.0.0.42",
//                                .cert_file = c.cert_file, .key_file = c.key_file});
//   ... connect to server.Address():server.Port() as "anonymous" ...
//
// The served folder and its parents up to /tmp are made readable for the
// server's unprivileged user. The server is stopped when the object goes.
#pragma once

#include <cstdint>
#include <string>

#include "support/socks_servers.h"

namespace test_support {

struct VsftpdOptions {
  std::string root = "";
  std::string address = "127.0.0.1";  // a loopback address
  uint16_t port = 0;                  // 0: a free port; 21 for end-to-end tests
  std::string cert_file = "";         // PEM; empty: no TLS at all (AUTH is refused)
  std::string key_file = "";
};

class Vsftpd {
 public:
  explicit Vsftpd(VsftpdOptions options);

  const std::string& Address() const { return process_.Address(); }
  uint16_t Port() const { return process_.Port(); }
  // The server's log: every command and reply, and its TLS events.
  std::string Log() const;

 private:
  std::string Config(uint16_t port) const;

  VsftpdOptions options_;
  SocksServerProcess process_;
};

}  // namespace test_support
