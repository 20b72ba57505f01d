// Scripted proxies that relay to real servers on loopback, for the tests of
// what neither microsocks nor danted offers: a SOCKS 4A proxy that reports
// each request it relays (tests/support/socks4_relay.py), and an FTP proxy
// with one login scheme in front of a real FTP server
// (tests/support/ftp_proxy.py). Both run under Debian's /usr/bin/python3 as
// child processes, on a free port of a loopback address:
//
//   test_support::Socks4Relay socks({.address = "127.0.16.5"});
//   test_support::FtpProxy proxy({.address = "127.0.16.5", .scheme = "site",
//                                 .server_host = "127.0.16.6", .server_port = 21});
//   ... connect through socks.Port() or proxy.Port() ...
//   EXPECT_EQ(socks.Requests()[0], "CONNECT 4A 127.0.16.6 21 ");
//
// The constructor returns once the proxy accepts connections (or raises
// std::runtime_error); the destructor stops it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/socks_servers.h"

namespace test_support {

struct Socks4RelayOptions {
  std::string address = "127.0.0.1";  // a loopback address
  std::string user;                   // the only user id accepted; empty: any
};

class Socks4Relay {
 public:
  explicit Socks4Relay(Socks4RelayOptions options);

  const std::string& Address() const { return process_.Address(); }
  uint16_t Port() const { return process_.Port(); }
  // One line a request relayed so far: "CONNECT <4 or 4A> <host> <port> <user id>".
  std::vector<std::string> Requests() const;

 private:
  SocksServerProcess process_;
};

struct FtpProxyOptions {
  std::string address = "127.0.0.1";  // a loopback address
  std::string scheme;                 // user_site, site, open, user_pass or transparent
  std::string server_host;            // the real server (a loopback address)
  uint16_t server_port = 21;
  std::string proxy_user;             // empty: the proxy wants no login of its own
  std::string proxy_password;
};

class FtpProxy {
 public:
  explicit FtpProxy(FtpProxyOptions options);

  const std::string& Address() const { return process_.Address(); }
  uint16_t Port() const { return process_.Port(); }
  // What the proxy saw: "C: <line>" for each login line, "LOGIN", "REFUSED
  // <why>", "DATA passive" or "DATA active" for each data connection.
  std::vector<std::string> Log() const;

 private:
  SocksServerProcess process_;
};

// The lines of a file, without their line ends; none when it is missing.
std::vector<std::string> FileLines(const std::string& path);

}  // namespace test_support
