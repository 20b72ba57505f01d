// Connections through real SOCKS servers on loopback: microsocks (SOCKS 5,
// with and without a user name and password) and dante-server (SOCKS 4 and
// 5), to a scripted server behind them.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <typeindex>

#include "net/exceptions.h"
#include "net/io_handler.h"
#include "net/socks_info.h"
#include "net/tcp_client.h"
#include "support/socks_servers.h"
#include "support/tcp_peer.h"

namespace {

using testsupport::PeerStep;
using testsupport::TcpPeer;

// A client whose own I/O handler goes through a proxy on loopback.
struct ProxiedClient {
  net::TIdTCPClient client;
  net::TIdIOHandlerSocket* handler;

  ProxiedClient(const std::string& proxy_address, int proxy_port, net::TSocksVersion version, int port) {
    auto owned = std::make_unique<net::TIdIOHandlerSocket>();
    handler = owned.get();
    net::TIdSocksInfo& socks = owned->SocksInfo();
    socks.Version = version;
    socks.Host = proxy_address;
    socks.Port = proxy_port;
    client.SetIOHandler(std::move(owned));
    client.Host = "127.0.0.1";
    client.Port = port;
  }
  net::TIdSocksInfo& Socks() { return handler->SocksInfo(); }
};

// The server behind the proxy greets, then takes one line.
std::unique_ptr<TcpPeer> GreetingServer() {
  return std::make_unique<TcpPeer>(std::vector<PeerStep>{PeerStep::Send("220 behind the proxy\r\n"),
                                                         PeerStep::Receive(6)});
}

void ExpectThrough(ProxiedClient& c, TcpPeer& server) {
  c.client.Connect();
  EXPECT_EQ(c.client.ReadLine(), "220 behind the proxy");
  c.client.WriteLine("QUIT");
  ASSERT_TRUE(server.WaitScriptDone());
  EXPECT_EQ(server.Received(), "QUIT\r\n");
  c.client.Disconnect();
}

std::string FailureOf(ProxiedClient& c) {
  try {
    c.client.Connect();
  } catch (const net::EIdSocksError& e) {
    EXPECT_FALSE(c.client.Connected());
    return e.what();
  }
  return "connected";
}

// A loopback port on which nothing listens.
int ClosedPort() {
  net::TIdSocketHandle handle;
  handle.Allocate();
  handle.IP = "127.0.0.1";
  handle.BindLocal();
  return handle.Port;
}

TEST(SocksMicrosocks, ConnectsWithoutAuthentication) {
  test_support::Microsocks proxy({});
  auto server = GreetingServer();
  ProxiedClient c(proxy.Address(), proxy.Port(), net::svSocks5, server->Port());
  ExpectThrough(c, *server);
}

TEST(SocksMicrosocks, ConnectsWithUserNameAndPassword) {
  test_support::Microsocks proxy({.user = "anna", .password = "secret"});
  auto server = GreetingServer();
  ProxiedClient c(proxy.Address(), proxy.Port(), net::svSocks5, server->Port());
  c.Socks().Authentication = net::saUsernamePassword;
  c.Socks().Username = "anna";
  c.Socks().Password = "secret";
  ExpectThrough(c, *server);
}

TEST(SocksMicrosocks, Refusals) {
  test_support::Microsocks proxy({.user = "anna", .password = "secret"});
  {
    ProxiedClient c(proxy.Address(), proxy.Port(), net::svSocks5, ClosedPort());
    c.Socks().Authentication = net::saUsernamePassword;
    c.Socks().Username = "anna";
    c.Socks().Password = "wrong";
    EXPECT_EQ(FailureOf(c), "Authentication error to socks server.");
  }
  {
    // The server wants a password and answers method 255.
    ProxiedClient c(proxy.Address(), proxy.Port(), net::svSocks5, ClosedPort());
    EXPECT_EQ(FailureOf(c), "Invalid socks authentication method.");
  }
  {
    ProxiedClient c(proxy.Address(), proxy.Port(), net::svSocks5, ClosedPort());
    c.Socks().Authentication = net::saUsernamePassword;
    c.Socks().Username = "anna";
    c.Socks().Password = "secret";
    EXPECT_EQ(FailureOf(c), "Connection refused.");
    // The client can try again after a refusal.
    auto server = GreetingServer();
    c.client.Port = server->Port();
    ExpectThrough(c, *server);
  }
}

TEST(SocksDanted, ConnectsWithSocks4) {
  test_support::Danted proxy({});
  auto server = GreetingServer();
  ProxiedClient c(proxy.Address(), proxy.Port(), net::svSocks4, server->Port());
  c.Socks().Username = "anna";
  ExpectThrough(c, *server);
}

TEST(SocksDanted, ConnectsWithSocks5) {
  test_support::Danted proxy({});
  auto server = GreetingServer();
  ProxiedClient c(proxy.Address(), proxy.Port(), net::svSocks5, server->Port());
  ExpectThrough(c, *server);
}

TEST(SocksDanted, RejectsSocks4AAndUnreachableServers) {
  test_support::Danted proxy({});
  {
    // This server does not resolve names for SOCKS 4A clients.
    auto server = GreetingServer();
    ProxiedClient c(proxy.Address(), proxy.Port(), net::svSocks4A, server->Port());
    EXPECT_EQ(FailureOf(c), "Request rejected or failed.");
  }
  {
    ProxiedClient c(proxy.Address(), proxy.Port(), net::svSocks4, ClosedPort());
    EXPECT_EQ(FailureOf(c), "Request rejected or failed.");
  }
}

}  // namespace
