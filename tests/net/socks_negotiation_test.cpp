// SOCKS 4, 4A and 5 negotiation: the exact requests, every reply status,
// replies in pieces, early closes and silences, and the request limits.
// Over loopback sockets against a scripted proxy, and over a scripted I/O
// handler where every split of a reply is tried.
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>
#include <numeric>
#include <string>
#include <typeindex>
#include <vector>

#include "fakes.h"
#include "net/anti_freeze.h"
#include "net/exceptions.h"
#include "net/io_handler.h"
#include "net/socks_info.h"
#include "net/tcp_client.h"
#include "support/scripted_socks_peer.h"

namespace {

using net::TIdSocksInfo;
using test_support::Bytes;
using test_support::ScriptedSocksPeer;
using test_support::SocksStep;

const std::string kGreeting = "220 ready\r\n";

// A client whose own I/O handler goes through the scripted proxy.
struct ProxiedClient {
  net::TIdTCPClient client;
  net::TIdIOHandlerSocket* handler;

  ProxiedClient(int proxy_port, net::TSocksVersion version, const std::string& host = "files", int port = 21) {
    auto owned = std::make_unique<net::TIdIOHandlerSocket>();
    handler = owned.get();
    TIdSocksInfo& socks = owned->SocksInfo();
    socks.Version = version;
    socks.Host = "127.0.0.1";
    socks.Port = proxy_port;
    client.SetIOHandler(std::move(owned));
    client.Host = host;
    client.Port = port;
  }
  TIdSocksInfo& Socks() { return handler->SocksInfo(); }
};

struct Outcome {
  std::type_index type = typeid(void);
  std::string message;
};

Outcome Attempt(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::exception& e) {
    return {typeid(e), e.what()};
  }
  return {};
}

// After the negotiation the connection carries the server's bytes, none of
// them eaten by the negotiation, and nothing of it is left for the server.
void ExpectServerStream(ProxiedClient& c, ScriptedSocksPeer& proxy, size_t requests) {
  EXPECT_EQ(c.client.ReadLine(), "220 ready");
  c.client.WriteLine("QUIT");
  ASSERT_TRUE(proxy.WaitScriptDone());
  EXPECT_EQ(proxy.Failure(), "");
  const std::vector<std::string> sent = proxy.Requests();
  ASSERT_EQ(sent.size(), requests + 1);
  EXPECT_EQ(sent.back(), "QUIT\r\n");
}

TEST(SocksNoProxy, NothingGoesBeforeTheProtocolsOwnBytes) {
  // The proxy's settings are there but unused.
  ScriptedSocksPeer server({SocksStep::Send(kGreeting), SocksStep::Receive(6)});
  net::TIdTCPClient client;
  auto handler = std::make_unique<net::TIdIOHandlerSocket>();
  handler->SocksInfo().Host = "127.0.0.2";
  handler->SocksInfo().Port = 1;
  client.SetIOHandler(std::move(handler));
  client.Host = "127.0.0.1";
  client.Port = server.Port();
  client.Connect();
  EXPECT_EQ(client.ReadLine(), "220 ready");
  client.WriteLine("QUIT");
  ASSERT_TRUE(server.WaitScriptDone());
  EXPECT_EQ(server.Requests(), std::vector<std::string>{"QUIT\r\n"});
}

TEST(SocksExactRequests, Socks4WithoutUserIdIsNineBytes) {
  ScriptedSocksPeer proxy({SocksStep::ReadSocks4(), SocksStep::Send(test_support::Socks4Reply(90) + kGreeting),
                           SocksStep::Receive(6)});
  ProxiedClient c(proxy.Port(), net::svSocks4, "localhost", 21);
  c.client.Connect();
  ASSERT_FALSE(proxy.Requests().empty());
  EXPECT_EQ(proxy.Requests()[0], Bytes({4, 1, 0, 21, 127, 0, 0, 1, 0}));
  ExpectServerStream(c, proxy, 1);
}

TEST(SocksExactRequests, Socks4CarriesTheUserId) {
  ScriptedSocksPeer proxy({SocksStep::ReadSocks4(), SocksStep::Send(test_support::Socks4Reply(90) + kGreeting),
                           SocksStep::Receive(6)});
  ProxiedClient c(proxy.Port(), net::svSocks4, "127.0.0.1", 0x1234);
  c.Socks().Username = "anna";
  c.Socks().Password = "never sent";
  c.client.Connect();
  ASSERT_FALSE(proxy.Requests().empty());
  EXPECT_EQ(proxy.Requests()[0], Bytes({4, 1, 0x12, 0x34, 127, 0, 0, 1}) + "anna" + Bytes({0}));
  ExpectServerStream(c, proxy, 1);
}

TEST(SocksExactRequests, Socks4ASendsTheNameForTheProxyToResolve) {
  ScriptedSocksPeer proxy({SocksStep::ReadSocks4(), SocksStep::Send(test_support::Socks4Reply(90) + kGreeting),
                           SocksStep::Receive(6)});
  ProxiedClient c(proxy.Port(), net::svSocks4A, "files", 21);
  c.client.Connect();
  ASSERT_FALSE(proxy.Requests().empty());
  EXPECT_EQ(proxy.Requests()[0], Bytes({4, 1, 0, 21, 0, 0, 0, 1, 0}) + "files" + Bytes({0}));
  ExpectServerStream(c, proxy, 1);
}

TEST(SocksExactRequests, Socks5WithoutAuthentication) {
  ScriptedSocksPeer proxy({SocksStep::ReadSocks5Greeting(), SocksStep::Send(test_support::Socks5Method(0)),
                           SocksStep::ReadSocks5Connect(),
                           SocksStep::Send(Bytes({5, 0, 0, 1, 10, 0, 0, 1, 0, 80}) + kGreeting),
                           SocksStep::Receive(6)});
  ProxiedClient c(proxy.Port(), net::svSocks5, "files", 21);
  c.Socks().Username = "not offered";
  c.client.Connect();
  const std::vector<std::string> sent = proxy.Requests();
  ASSERT_GE(sent.size(), 2u);
  EXPECT_EQ(sent[0], Bytes({5, 1, 0}));
  EXPECT_EQ(sent[1], Bytes({5, 1, 0, 3, 5}) + "files" + Bytes({0, 21}));
  ExpectServerStream(c, proxy, 2);
}

TEST(SocksExactRequests, Socks5WithUserNameAndPassword) {
  ScriptedSocksPeer proxy({SocksStep::ReadSocks5Greeting(), SocksStep::Send(test_support::Socks5Method(2)),
                           SocksStep::ReadSocks5UserPass(), SocksStep::Send(test_support::Socks5AuthStatus(0)),
                           SocksStep::ReadSocks5Connect(), SocksStep::Send(test_support::Socks5Reply(0) + kGreeting),
                           SocksStep::Receive(6)});
  ProxiedClient c(proxy.Port(), net::svSocks5, "127.0.0.1", 2121);
  c.Socks().Authentication = net::saUsernamePassword;
  c.Socks().Username = "anna";
  c.Socks().Password = "secret";
  c.client.Connect();
  const std::vector<std::string> sent = proxy.Requests();
  ASSERT_GE(sent.size(), 3u);
  EXPECT_EQ(sent[0], Bytes({5, 1, 2}));
  EXPECT_EQ(sent[1], Bytes({1, 4}) + "anna" + Bytes({6}) + "secret");
  // A dotted address goes as a name too.
  EXPECT_EQ(sent[2], Bytes({5, 1, 0, 3, 9}) + "127.0.0.1" + Bytes({0x08, 0x49}));
  ExpectServerStream(c, proxy, 3);
}

TEST(SocksExactRequests, Socks5EmptyUserNameAndPasswordKeepTheirLengthBytes) {
  nettest::ScriptedIOHandler fake;
  fake.chunks = {test_support::Socks5Method(2) + test_support::Socks5AuthStatus(0) + test_support::Socks5Reply(0)};
  TIdSocksInfo info;
  info.Version = net::svSocks5;
  info.Authentication = net::saUsernamePassword;
  info.SetIOHandler(&fake);
  info.NegotiateSocks("h", 1);
  ASSERT_EQ(fake.sends.size(), 3u);
  EXPECT_EQ(fake.sends[1], Bytes({1, 0, 0}));
}

// Every bound address form of a SOCKS 5 reply is read to its end, so the
// server's first bytes that follow in the same packet are the server's.
TEST(SocksExactRequests, Socks5ReplyIsReadToTheEndOfItsBoundAddress) {
  struct Case {
    const char* name;
    std::string reply;
  };
  const std::vector<Case> cases = {
      {"IPv4", Bytes({5, 0, 0, 1}) + std::string(6, '\x07')},
      {"domain of 9", Bytes({5, 0, 0, 3, 9}) + "proxy.lan" + Bytes({0, 21})},
      {"empty domain", Bytes({5, 0, 0, 3, 0, 0, 21})},
      {"domain of 255", Bytes({5, 0, 0, 3, 255}) + std::string(255, 'n') + Bytes({0, 21})},
      {"IPv6", test_support::Socks5IPv6Reply(0)},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    ScriptedSocksPeer proxy({SocksStep::ReadSocks5Greeting(), SocksStep::Send(test_support::Socks5Method(0)),
                             SocksStep::ReadSocks5Connect(), SocksStep::Send(test.reply + kGreeting),
                             SocksStep::Receive(6)});
    ProxiedClient c(proxy.Port(), net::svSocks5);
    c.client.Connect();
    ExpectServerStream(c, proxy, 2);
  }
}

TEST(SocksExactRequests, LinkedSettingsNegotiateOverTheConnectingHandler) {
  net::TIdComponent owner;
  TIdSocksInfo shared(&owner);
  shared.Version = net::svSocks4A;
  shared.Host = "127.0.0.1";
  ScriptedSocksPeer proxy({SocksStep::ReadSocks4(), SocksStep::Send(test_support::Socks4Reply(90) + kGreeting),
                           SocksStep::Receive(6)});
  shared.Port = proxy.Port();

  net::TIdIOHandlerSocket other;
  auto handler = std::make_unique<net::TIdIOHandlerSocket>();
  handler->SetSocksInfo(&shared);
  other.SetSocksInfo(&shared);  // the last one told, but not the one connecting
  net::TIdTCPClient client;
  client.SetIOHandler(std::move(handler));
  client.Host = "files";
  client.Port = 21;
  client.Connect();
  EXPECT_EQ(shared.IOHandler(), client.IOHandler());
  EXPECT_EQ(client.ReadLine(), "220 ready");
}

TEST(SocksExactRequests, SettingsReplacedDuringTheConnectCountFromTheNextOne) {
  ScriptedSocksPeer proxy({SocksStep::ReadSocks4(), SocksStep::Send(test_support::Socks4Reply(90) + kGreeting),
                           SocksStep::Receive(6)});
  ProxiedClient c(proxy.Port(), net::svSocks4A, "files", 21);
  nettest::CountingWindow window;
  net::TIdAntiFreeze anti_freeze;
  anti_freeze.SetPendingInput(&window);
  bool replaced = false;
  // A window handler drops the settings while the connect waits.
  window.on_process = [&] {
    if (replaced) return;
    replaced = true;
    c.handler->SetSocksInfo(nullptr);
  };
  c.client.Connect(5000);
  EXPECT_TRUE(replaced);
  ASSERT_FALSE(proxy.Requests().empty());
  EXPECT_EQ(proxy.Requests()[0], Bytes({4, 1, 0, 21, 0, 0, 0, 1, 0}) + "files" + Bytes({0}));
  ExpectServerStream(c, proxy, 1);
  EXPECT_EQ(c.Socks().Version, net::svNoSocks);
}

struct StatusCase {
  int status;
  std::type_index type;
  const char* message;
};

TEST(SocksStatus, EverySocks4Status) {
  const std::vector<StatusCase> cases = {
      {90, typeid(void), ""},
      {91, typeid(net::EIdSocksRequestFailed), "Request rejected or failed."},
      {92, typeid(net::EIdSocksRequestServerFailed), "Request rejected because SOCKS server cannot connect."},
      {93, typeid(net::EIdSocksRequestIdentFailed),
       "Request rejected because the client program and identd report different user-ids."},
      {0, typeid(net::EIdSocksUnknownError), "Unknown socks error."},
      {89, typeid(net::EIdSocksUnknownError), "Unknown socks error."},
      {94, typeid(net::EIdSocksUnknownError), "Unknown socks error."},
      {255, typeid(net::EIdSocksUnknownError), "Unknown socks error."},
  };
  for (const StatusCase& test : cases) {
    for (net::TSocksVersion version : {net::svSocks4, net::svSocks4A}) {
      SCOPED_TRACE(std::to_string(test.status) + (version == net::svSocks4 ? " SOCKS 4" : " SOCKS 4A"));
      ScriptedSocksPeer proxy({SocksStep::ReadSocks4(), SocksStep::Send(test_support::Socks4Reply(test.status))});
      ProxiedClient c(proxy.Port(), version, "127.0.0.1", 21);
      const Outcome outcome = Attempt([&] { c.client.Connect(); });
      EXPECT_EQ(outcome.type, test.type);
      EXPECT_EQ(outcome.message, test.message);
      // A refusal closes the socket; success leaves it open.
      EXPECT_EQ(c.client.Connected(), test.status == 90);
    }
  }
}

TEST(SocksStatus, EverySocks5ConnectStatus) {
  const std::vector<StatusCase> cases = {
      {0, typeid(void), ""},
      {1, typeid(net::EIdSocksServerGeneralError), "General SOCKS server failure."},
      {2, typeid(net::EIdSocksServerPermissionError), "Connection not allowed by ruleset."},
      {3, typeid(net::EIdSocksServerNetUnreachableError), "Network unreachable."},
      {4, typeid(net::EIdSocksServerHostUnreachableError), "Host unreachable."},
      {5, typeid(net::EIdSocksServerConnectionRefusedError), "Connection refused."},
      {6, typeid(net::EIdSocksServerTTLExpiredError), "TTL expired."},
      {7, typeid(net::EIdSocksServerCommandError), "Command not supported."},
      {8, typeid(net::EIdSocksServerAddressError), "Address type not supported."},
      {9, typeid(net::EIdSocksUnknownError), "Unknown socks error."},
      {255, typeid(net::EIdSocksUnknownError), "Unknown socks error."},
  };
  for (const StatusCase& test : cases) {
    SCOPED_TRACE(test.status);
    ScriptedSocksPeer proxy({SocksStep::ReadSocks5Greeting(), SocksStep::Send(test_support::Socks5Method(0)),
                             SocksStep::ReadSocks5Connect(), SocksStep::Send(test_support::Socks5Reply(test.status))});
    ProxiedClient c(proxy.Port(), net::svSocks5);
    const Outcome outcome = Attempt([&] { c.client.Connect(); });
    EXPECT_EQ(outcome.type, test.type);
    EXPECT_EQ(outcome.message, test.message);
    EXPECT_EQ(c.client.Connected(), test.status == 0);
  }
}

TEST(SocksStatus, ARefusalIsASocksErrorNotASocketError) {
  ScriptedSocksPeer proxy({SocksStep::ReadSocks5Greeting(), SocksStep::Send(test_support::Socks5Method(0)),
                           SocksStep::ReadSocks5Connect(), SocksStep::Send(test_support::Socks5Reply(5))});
  ProxiedClient c(proxy.Port(), net::svSocks5);
  try {
    c.client.Connect();
    FAIL() << "connected";
  } catch (const net::EIdSocketError&) {
    FAIL() << "a socket error";
  } catch (const net::EIdSocksError& e) {
    EXPECT_STREQ(e.what(), "Connection refused.");
  }
}

TEST(SocksStatus, Socks5MethodChoices) {
  struct Case {
    net::TSocksAuthentication offered;
    int chosen;
    bool accepted;
  };
  const std::vector<Case> cases = {
      {net::saNoAuthentication, 0, true},   {net::saNoAuthentication, 2, false},
      {net::saNoAuthentication, 1, false},  {net::saNoAuthentication, 255, false},
      {net::saUsernamePassword, 2, true},   {net::saUsernamePassword, 0, false},
      {net::saUsernamePassword, 255, false},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(std::to_string(test.offered) + " answered with " + std::to_string(test.chosen));
    std::vector<SocksStep> script = {SocksStep::ReadSocks5Greeting(),
                                     SocksStep::Send(test_support::Socks5Method(test.chosen))};
    if (test.accepted && test.offered == net::saUsernamePassword) {
      script.push_back(SocksStep::ReadSocks5UserPass());
      script.push_back(SocksStep::Send(test_support::Socks5AuthStatus(0)));
    }
    if (test.accepted) {
      script.push_back(SocksStep::ReadSocks5Connect());
      script.push_back(SocksStep::Send(test_support::Socks5Reply(0)));
    } else {
      // The client must close without sending anything more.
      script.push_back(SocksStep::Receive(1));
    }
    ScriptedSocksPeer proxy(script);
    ProxiedClient c(proxy.Port(), net::svSocks5);
    c.Socks().Authentication = test.offered;
    const Outcome outcome = Attempt([&] { c.client.Connect(); });
    if (test.accepted) {
      EXPECT_EQ(outcome.message, "");
      EXPECT_TRUE(c.client.Connected());
    } else {
      EXPECT_EQ(outcome.type, typeid(net::EIdSocksAuthMethodError));
      EXPECT_EQ(outcome.message, "Invalid socks authentication method.");
      EXPECT_FALSE(c.client.Connected());
      ASSERT_TRUE(proxy.WaitScriptDone());
      EXPECT_EQ(proxy.Requests().back(), "") << "sent after the refusal";
    }
  }
}

TEST(SocksStatus, Socks5AuthenticationStatus) {
  for (int status : {0, 1, 255}) {
    SCOPED_TRACE(status);
    ScriptedSocksPeer proxy({SocksStep::ReadSocks5Greeting(), SocksStep::Send(test_support::Socks5Method(2)),
                             SocksStep::ReadSocks5UserPass(), SocksStep::Send(test_support::Socks5AuthStatus(status)),
                             SocksStep::ReadSocks5Connect(), SocksStep::Send(test_support::Socks5Reply(0))});
    ProxiedClient c(proxy.Port(), net::svSocks5);
    c.Socks().Authentication = net::saUsernamePassword;
    c.Socks().Username = "anna";
    c.Socks().Password = "wrong";
    const Outcome outcome = Attempt([&] { c.client.Connect(); });
    if (status == 0) {
      EXPECT_EQ(outcome.message, "");
    } else {
      EXPECT_EQ(outcome.type, typeid(net::EIdSocksAuthError));
      EXPECT_EQ(outcome.message, "Authentication error to socks server.");
      EXPECT_FALSE(c.client.Connected());
    }
  }
}

TEST(SocksStatus, Socks5ReplyWithAnUnknownAddressTypeFailsCleanly) {
  for (int type : {0, 2, 5, 255}) {
    SCOPED_TRACE(type);
    ScriptedSocksPeer proxy({SocksStep::ReadSocks5Greeting(), SocksStep::Send(test_support::Socks5Method(0)),
                             SocksStep::ReadSocks5Connect(),
                             SocksStep::Send(Bytes({5, 0, 0, type, 1, 2, 3, 4, 5, 6}) + kGreeting)});
    ProxiedClient c(proxy.Port(), net::svSocks5);
    const Outcome outcome = Attempt([&] { c.client.Connect(); });
    EXPECT_EQ(outcome.type, typeid(net::EIdSocksServerReplyError));
    EXPECT_EQ(outcome.message, "Socks server reply has an unknown address type.");
    EXPECT_FALSE(c.client.Connected());
  }
}

// The replies of one whole negotiation, then the server's first bytes.
struct Exchange {
  const char* name;
  net::TSocksVersion version;
  net::TSocksAuthentication authentication;
  std::string replies;
};

std::vector<Exchange> Exchanges() {
  return {
      {"SOCKS 4", net::svSocks4, net::saNoAuthentication, test_support::Socks4Reply(90)},
      {"SOCKS 4A", net::svSocks4A, net::saNoAuthentication, test_support::Socks4Reply(90)},
      {"SOCKS 5", net::svSocks5, net::saNoAuthentication,
       test_support::Socks5Method(0) + test_support::Socks5DomainReply(0, "proxy.lan")},
      {"SOCKS 5 with password", net::svSocks5, net::saUsernamePassword,
       test_support::Socks5Method(2) + test_support::Socks5AuthStatus(0) + test_support::Socks5IPv6Reply(0)},
  };
}

TEST(SocksReplyPieces, EverySplitOfTheRepliesIsReadExactly) {
  for (const Exchange& exchange : Exchanges()) {
    const std::string stream = exchange.replies + kGreeting;
    // Two pieces cut at every offset, and one byte per receive.
    std::vector<std::deque<std::string>> splits;
    for (size_t cut = 1; cut < exchange.replies.size() + 1; ++cut) {
      splits.push_back({stream.substr(0, cut), stream.substr(cut)});
    }
    std::deque<std::string> bytes;
    for (char c : stream) bytes.emplace_back(1, c);
    splits.push_back(bytes);

    for (const std::deque<std::string>& split : splits) {
      SCOPED_TRACE(std::string(exchange.name) + ", first piece " + std::to_string(split.front().size()));
      nettest::ScriptedIOHandler fake;
      fake.chunks = split;
      TIdSocksInfo info;
      info.Version = exchange.version;
      info.Authentication = exchange.authentication;
      info.SetIOHandler(&fake);
      info.NegotiateSocks("127.0.0.1", 21);
      // Not one byte of the server's taken.
      const std::string left = std::accumulate(fake.chunks.begin(), fake.chunks.end(), std::string());
      EXPECT_EQ(left, kGreeting);
    }
  }
}

TEST(SocksReplyPieces, RepliesDribbledOverASocket) {
  for (const Exchange& exchange : Exchanges()) {
    SCOPED_TRACE(exchange.name);
    std::vector<SocksStep> script;
    if (exchange.version == net::svSocks5) {
      script = {SocksStep::ReadSocks5Greeting()};
      if (exchange.authentication == net::saUsernamePassword) script.push_back(SocksStep::ReadSocks5UserPass());
      script.push_back(SocksStep::ReadSocks5Connect());
    } else {
      script = {SocksStep::ReadSocks4()};
    }
    // The proxy dribbles each reply once the client's request is in; the
    // replies are split by request here.
    std::vector<SocksStep> played;
    std::string replies = exchange.replies;
    std::vector<size_t> sizes;
    if (exchange.version == net::svSocks5) {
      sizes.push_back(2);
      if (exchange.authentication == net::saUsernamePassword) sizes.push_back(2);
    }
    sizes.push_back(replies.size() - std::accumulate(sizes.begin(), sizes.end(), size_t{0}));
    size_t at = 0;
    for (size_t i = 0; i < script.size(); ++i) {
      played.push_back(script[i]);
      played.push_back(SocksStep::Dribble(replies.substr(at, sizes[i])));
      at += sizes[i];
    }
    played.push_back(SocksStep::Send(kGreeting));
    played.push_back(SocksStep::Receive(6));
    ScriptedSocksPeer proxy(played);
    ProxiedClient c(proxy.Port(), exchange.version, "127.0.0.1", 21);
    c.Socks().Authentication = exchange.authentication;
    c.client.Connect();
    ExpectServerStream(c, proxy, script.size());
  }
}

// Each reply cut short by a close, in every exchange and at every length.
TEST(SocksFailures, ARepliesCutShortByACloseFail) {
  for (const Exchange& exchange : Exchanges()) {
    for (size_t keep = 0; keep < exchange.replies.size(); ++keep) {
      SCOPED_TRACE(std::string(exchange.name) + ", closed after " + std::to_string(keep) + " bytes");
      nettest::ScriptedIOHandler fake;
      fake.chunks = {exchange.replies.substr(0, keep)};
      TIdSocksInfo info;
      info.Version = exchange.version;
      info.Authentication = exchange.authentication;
      info.SetIOHandler(&fake);
      const Outcome outcome = Attempt([&] { info.NegotiateSocks("127.0.0.1", 21); });
      EXPECT_EQ(outcome.type, typeid(net::EIdSocksServerRespondError));
      EXPECT_EQ(outcome.message, "Socks server did not respond.");
    }
  }
}

TEST(SocksFailures, CloseResetAndSilenceOverASocket) {
  struct Case {
    const char* name;
    net::TSocksVersion version;
    SocksStep end;
    std::type_index type;
    const char* message;
  };
  const std::string reset = "Socket Error # 10054\r\nConnection reset by peer.";
  const std::vector<Case> cases = {
      {"SOCKS 4 closed", net::svSocks4, SocksStep::Close(), typeid(net::EIdSocksServerRespondError),
       "Socks server did not respond."},
      {"SOCKS 4 reset", net::svSocks4, SocksStep::Reset(), typeid(net::EIdSocketError), reset.c_str()},
      {"SOCKS 4 silent", net::svSocks4, SocksStep::Stall(), typeid(net::EIdSocksServerRespondError),
       "Socks server did not respond."},
      {"SOCKS 5 closed", net::svSocks5, SocksStep::Close(), typeid(net::EIdSocksServerRespondError),
       "Socks server did not respond."},
      {"SOCKS 5 reset", net::svSocks5, SocksStep::Reset(), typeid(net::EIdSocksServerRespondError),
       "Socks server did not respond."},
      {"SOCKS 5 silent", net::svSocks5, SocksStep::Stall(), typeid(net::EIdSocksServerRespondError),
       "Socks server did not respond."},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    const SocksStep read = test.version == net::svSocks5 ? SocksStep::ReadSocks5Greeting() : SocksStep::ReadSocks4();
    const std::string part = test.version == net::svSocks5 ? Bytes({5}) : Bytes({0, 90, 0});
    ScriptedSocksPeer proxy({read, SocksStep::Send(part), test.end});
    ProxiedClient c(proxy.Port(), test.version, "127.0.0.1", 21);
    if (test.end.kind == SocksStep::kStall) c.Socks().ReplyTimeout = 300;
    const Outcome outcome = Attempt([&] { c.client.Connect(); });
    proxy.Release();
    EXPECT_EQ(outcome.type, test.type);
    EXPECT_EQ(outcome.message, test.message);
    EXPECT_FALSE(c.client.Connected());
  }
}

TEST(SocksFailures, NoHandlerToNegotiateOver) {
  for (net::TSocksVersion version : {net::svSocks4A, net::svSocks5}) {
    TIdSocksInfo info;
    info.Version = version;
    const Outcome outcome = Attempt([&] { info.NegotiateSocks("files", 21); });
    EXPECT_EQ(outcome.type, typeid(net::EIdClosedSocket));
  }
  TIdSocksInfo none;
  EXPECT_EQ(Attempt([&] { none.NegotiateSocks("files", 21); }).message, "");
}

TEST(SocksLimits, SettingsNoRequestCanCarryAreRefusedBeforeSending) {
  const std::string b255(255, 'b');
  const std::string b256(256, 'b');
  struct Case {
    const char* name;
    net::TSocksVersion version;
    net::TSocksAuthentication authentication;
    std::string user;
    std::string password;
    std::string host;
    int32_t port;
    const char* refusal;  // empty: accepted
  };
  const std::vector<Case> cases = {
      {"5: all at 255", net::svSocks5, net::saUsernamePassword, b255, b255, b255, 65535, ""},
      {"5: host of 256", net::svSocks5, net::saNoAuthentication, "", "", b256, 21,
       "Socks host name is longer than 255 bytes."},
      {"5: user of 256", net::svSocks5, net::saUsernamePassword, b256, "p", "files", 21,
       "Socks user name is longer than 255 bytes."},
      {"5: password of 256", net::svSocks5, net::saUsernamePassword, "u", b256, "files", 21,
       "Socks password is longer than 255 bytes."},
      {"5: user of 256 not offered", net::svSocks5, net::saNoAuthentication, b256, b256, "files", 21, ""},
      {"5: port above 65535", net::svSocks5, net::saNoAuthentication, "", "", "files", 65536,
       "Invalid port for a socks connect: 65536."},
      {"5: negative port", net::svSocks5, net::saNoAuthentication, "", "", "files", -1,
       "Invalid port for a socks connect: -1."},
      {"4: user of 255", net::svSocks4, net::saNoAuthentication, b255, "", "127.0.0.1", 21, ""},
      {"4: user of 256", net::svSocks4, net::saNoAuthentication, b256, "", "127.0.0.1", 21,
       "Socks user id is longer than 255 bytes."},
      {"4: zero byte in the user id", net::svSocks4, net::saNoAuthentication, std::string("a\0b", 3), "",
       "127.0.0.1", 21, "Socks user id contains a zero byte."},
      {"4: port above 65535", net::svSocks4, net::saNoAuthentication, "", "", "127.0.0.1", 70000,
       "Invalid port for a socks connect: 70000."},
      {"4A: user and host of 255", net::svSocks4A, net::saNoAuthentication, b255, "", b255, 21, ""},
      {"4A: host of 256", net::svSocks4A, net::saNoAuthentication, "", "", b256, 21,
       "Socks host name is longer than 255 bytes."},
      {"4A: zero byte in the host", net::svSocks4A, net::saNoAuthentication, "", "", std::string("fi\0les", 6), 21,
       "Socks host name contains a zero byte."},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    nettest::ScriptedIOHandler fake;
    fake.chunks = {test.version == net::svSocks5
                       ? test_support::Socks5Method(test.authentication == net::saUsernamePassword ? 2 : 0) +
                             test_support::Socks5AuthStatus(0) + test_support::Socks5Reply(0)
                       : test_support::Socks4Reply(90)};
    if (test.version == net::svSocks5 && test.authentication == net::saNoAuthentication) {
      fake.chunks = {test_support::Socks5Method(0) + test_support::Socks5Reply(0)};
    }
    TIdSocksInfo info;
    info.Version = test.version;
    info.Authentication = test.authentication;
    info.Username = test.user;
    info.Password = test.password;
    info.SetIOHandler(&fake);
    const Outcome outcome = Attempt([&] { info.NegotiateSocks(test.host, test.port); });
    if (std::string(test.refusal).empty()) {
      EXPECT_EQ(outcome.message, "");
      // Every length byte matches the bytes that follow it.
      const std::string& connect = fake.sends.back();
      if (test.version == net::svSocks5) {
        EXPECT_EQ(connect, Bytes({5, 1, 0, 3, static_cast<int>(test.host.size())}) + test.host +
                               Bytes({test.port >> 8, test.port & 0xFF}));
        if (test.authentication == net::saUsernamePassword) {
          EXPECT_EQ(fake.sends[1], Bytes({1, static_cast<int>(test.user.size())}) + test.user +
                                       Bytes({static_cast<int>(test.password.size())}) + test.password);
        }
      } else {
        const std::string address = test.version == net::svSocks4A ? Bytes({0, 0, 0, 1}) : Bytes({127, 0, 0, 1});
        std::string expected = Bytes({4, 1, test.port >> 8, test.port & 0xFF}) + address + test.user + Bytes({0});
        if (test.version == net::svSocks4A) expected += test.host + Bytes({0});
        EXPECT_EQ(connect, expected);
      }
    } else {
      EXPECT_EQ(outcome.type, typeid(net::EIdSocksInvalidRequest));
      EXPECT_EQ(outcome.message, test.refusal);
      EXPECT_TRUE(fake.sends.empty()) << "sent before the refusal";
    }
  }
}

}  // namespace
