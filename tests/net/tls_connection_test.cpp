// TLS under the buffered connection I/O, against a scripted TLS server on
// loopback with certificates made at test time: reads and writes as over
// plain TCP (lines, streams, work events, the ends of a connection), session
// resumption, the certificate checks and a handshake that fails or stalls.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "fakes.h"
#include "net/exceptions.h"
#include "net/io_handler.h"
#include "net/tcp_client.h"
#include "net/tls_connection.h"
#include "net/tls_context.h"
#include "net/tls_errors.h"
#include "platform/stream.h"
#include "support/tcp_peer.h"
#include "support/test_certificates.h"
#include "support/test_util.h"
#include "support/tls_peer.h"

namespace {

using test_support::CertificateOptions;
using test_support::IssuedCertificate;
using test_support::TlsPeer;
using test_support::TlsStep;

// One test CA with a server certificate for 127.0.0.1 and localhost.
class TlsTest : public ::testing::Test {
 protected:
  TlsTest() : ca(dir.Path()) {}

  IssuedCertificate Server(const std::string& name, CertificateOptions options = {}) {
    if (options.ip_addresses.empty() && options.dns_names.empty()) {
      options.ip_addresses = {"127.0.0.1"};
      options.dns_names = {"localhost"};
    }
    return ca.Issue(name, options);
  }
  net::TIdTLSOptions Trusting(const std::string& host = "127.0.0.1") const {
    return {.VerifyHost = host, .CAFile = ca.CertFile()};
  }
  // Connects the client to the peer and starts TLS.
  static void Secure(net::TIdTCPClient& client, uint16_t port, std::shared_ptr<net::TIdTLSContext> context,
                     const std::string& host = "127.0.0.1", int32_t timeout = 10000) {
    client.Host = host;
    client.Port = port;
    client.ReadTimeout = 20000;
    client.Connect();
    Handler(client).StartTLS(std::move(context), timeout);
  }
  static net::TIdIOHandlerSocket& Handler(net::TIdTCPClient& client) {
    return *dynamic_cast<net::TIdIOHandlerSocket*>(client.IOHandler());
  }

  test_support::TempDir dir;
  test_support::TestCA ca;
};

TEST_F(TlsTest, LinesAcrossRecordsThenCloseNotifyIsAGracefulClose) {
  const IssuedCertificate cert = Server("server");
  TlsPeer peer({.cert_file = cert.cert_file, .key_file = cert.key_file},
               {TlsStep::Send("220 ready\r\nab"), TlsStep::Send("c"), TlsStep::Send("def\nxyz\r\n"),
                TlsStep::Send("unterminated"), TlsStep::CloseNotify()});
  net::TIdTCPClient client;
  Secure(client, peer.Port(), std::make_shared<net::TIdTLSContext>(Trusting()));
  EXPECT_EQ(client.ReadLine(), "220 ready");
  EXPECT_EQ(client.ReadLine(), "abcdef");
  EXPECT_EQ(client.ReadLine(), "xyz");
  // As over TCP: the unterminated rest gives "" once, then the close raises.
  EXPECT_EQ(client.ReadLine(), "");
  EXPECT_TRUE(client.LineTimedOut());
  EXPECT_THROW(client.ReadLine(), net::EIdConnClosedGracefully);
  EXPECT_TRUE(peer.WaitDone());
  EXPECT_EQ(peer.Failure(), "");
}

TEST_F(TlsTest, StreamsUntilCloseWithOneWorkEventPerFullBlock) {
  const IssuedCertificate cert = Server("server");
  for (const size_t size : {size_t{0}, size_t{8191}, size_t{3 * 8192 + 5}, size_t{3 * 1024 * 1024}}) {
    SCOPED_TRACE(size);
    const std::string bytes = testsupport::PatternBytes(size, static_cast<uint32_t>(size) + 1);
    TlsPeer peer({.cert_file = cert.cert_file, .key_file = cert.key_file},
                 {TlsStep::Send(bytes), TlsStep::CloseNotify()});
    net::TIdTCPClient client;
    client.RecvBufferSize = 8192;
    std::vector<int32_t> counts;
    client.OnWork = [&](net::TIdComponent*, net::TWorkMode, int32_t count) { counts.push_back(count); };
    Secure(client, peer.Port(), std::make_shared<net::TIdTLSContext>(Trusting()));
    platform::MemoryStream stream;
    client.ReadIntoStream(stream, -1, true);
    EXPECT_TRUE(stream.Data() == bytes);
    std::vector<int32_t> expected;
    for (size_t done = 8192; done <= size; done += 8192) expected.push_back(static_cast<int32_t>(done));
    EXPECT_EQ(counts, expected);
    EXPECT_TRUE(peer.WaitDone());
    EXPECT_EQ(peer.Failure(), "");
  }
}

TEST_F(TlsTest, AnEndWithoutCloseNotifyADamagedRecordAndAResetAreResets) {
  const IssuedCertificate cert = Server("server");
  const struct {
    const char* name;
    TlsStep end;
  } cases[] = {
      {"closed without close_notify", TlsStep::CloseWithoutNotify()},
      {"damaged record", TlsStep::DamagedRecord()},
      {"reset", TlsStep::Reset()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TlsPeer peer({.cert_file = cert.cert_file, .key_file = cert.key_file}, {TlsStep::Send("no end"), c.end});
    net::TIdTCPClient client;
    Secure(client, peer.Port(), std::make_shared<net::TIdTLSContext>(Trusting()));
    try {
      client.ReadLine();
      ADD_FAILURE() << "no error";
    } catch (const net::EIdSocketError& e) {
      EXPECT_EQ(e.LastError, 10054);
    }
  }
}

TEST_F(TlsTest, WritesAreEncryptedWholeAndRepliesRead) {
  const IssuedCertificate cert = Server("server");
  const std::string block = testsupport::PatternBytes(100000, 7);
  TlsPeer peer({.cert_file = cert.cert_file, .key_file = cert.key_file},
               {TlsStep::Receive(6 + block.size()), TlsStep::Send("200 ok\r\n"), TlsStep::UntilClientCloses()});
  net::TIdTCPClient client;
  Secure(client, peer.Port(), std::make_shared<net::TIdTLSContext>(Trusting()));
  client.WriteLine("NOOP");
  client.WriteBytes(block.data(), static_cast<int32_t>(block.size()));
  EXPECT_EQ(client.ReadLine(), "200 ok");
  client.Disconnect();
  EXPECT_TRUE(peer.WaitDone());
  EXPECT_EQ(peer.Failure(), "");
  EXPECT_TRUE(peer.Received() == "NOOP\r\n" + block);
}

TEST_F(TlsTest, LaterConnectionsResumeTheNewestSessionWithTls12AndTls13) {
  const IssuedCertificate cert = Server("server");
  for (const int version : {0x0303, 0x0304}) {
    SCOPED_TRACE(version);
    TlsPeer peer({.cert_file = cert.cert_file, .key_file = cert.key_file, .max_version = version, .connections = 3},
                 {TlsStep::Send("hello\n"), TlsStep::UntilClientCloses()});
    auto context = std::make_shared<net::TIdTLSContext>(Trusting());
    std::vector<bool> reused;
    for (int n = 0; n < 3; ++n) {
      net::TIdTCPClient client;
      Secure(client, peer.Port(), context);
      // TLS 1.3 tickets come after the handshake, read with the first data.
      EXPECT_EQ(client.ReadLine(), "hello");
      reused.push_back(Handler(client).TLS()->SessionReused());
      client.Disconnect();
    }
    EXPECT_TRUE(peer.WaitDone());
    EXPECT_EQ(peer.Failure(), "");
    EXPECT_EQ(reused, (std::vector<bool>{false, true, true}));
    EXPECT_EQ(peer.Resumed(), reused);
  }
}

TEST_F(TlsTest, CertificateChecksSayWhyTheyRefuse) {
  test_support::TestCA stranger(dir.Path(), "stranger");
  const IssuedCertificate good = Server("good");
  const IssuedCertificate expired = Server("expired", {.ip_addresses = {"127.0.0.1"}, .valid_from_days = -30,
                                                       .valid_until_days = -1});
  const IssuedCertificate early = Server("early", {.ip_addresses = {"127.0.0.1"}, .valid_from_days = 2,
                                                   .valid_until_days = 30});
  const IssuedCertificate other_ip = Server("other-ip", {.ip_addresses = {"127.0.0.2"}});
  const IssuedCertificate other_name = Server("other-name", {.dns_names = {"updates.example"}});
  const IssuedCertificate foreign = stranger.Issue("foreign", {.ip_addresses = {"127.0.0.1"}});
  const IssuedCertificate self = test_support::TestCA::SelfSigned(dir.Path(), "self", {.ip_addresses = {"10.9.9.9"}});
  std::string lower_plain;
  for (char c : self.fingerprint) {
    if (c != ':') lower_plain += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  const std::string ca_file = ca.CertFile();
  const struct {
    const char* name;
    const IssuedCertificate& cert;
    net::TIdTLSOptions options;
    bool accepted;
    net::TIdTLSFailure reason;
    const char* says;
  } cases[] = {
      {"trusted, address", good, {.VerifyHost = "127.0.0.1", .CAFile = ca_file}, true, net::tlsSettings, ""},
      {"trusted, name", good, {.VerifyHost = "localhost", .CAFile = ca_file}, true, net::tlsSettings, ""},
      {"expired", expired, {.VerifyHost = "127.0.0.1", .CAFile = ca_file}, false, net::tlsExpired, "expired"},
      {"not yet valid", early, {.VerifyHost = "127.0.0.1", .CAFile = ca_file}, false, net::tlsNotYetValid, "not valid yet"},
      {"other address", other_ip, {.VerifyHost = "127.0.0.1", .CAFile = ca_file}, false, net::tlsWrongName,
       "not for 127.0.0.1"},
      {"other name", other_name, {.VerifyHost = "localhost", .CAFile = ca_file}, false, net::tlsWrongName,
       "not for localhost"},
      {"unknown issuer", foreign, {.VerifyHost = "127.0.0.1", .CAFile = ca_file}, false, net::tlsUnknownIssuer, "issuer"},
      {"self-signed, system roots", self, {.VerifyHost = "127.0.0.1"}, false, net::tlsUnknownIssuer, "issuer"},
      {"self-signed, its fingerprint", self, {.VerifyHost = "127.0.0.1", .Fingerprint = self.fingerprint}, true,
       net::tlsSettings, ""},
      {"self-signed, its fingerprint in lower case without colons", self,
       {.VerifyHost = "127.0.0.1", .Fingerprint = lower_plain}, true, net::tlsSettings, ""},
      {"self-signed, another fingerprint", self, {.VerifyHost = "127.0.0.1", .Fingerprint = good.fingerprint}, false,
       net::tlsFingerprint, "fingerprint"},
      {"trusted, its fingerprint", good, {.VerifyHost = "127.0.0.1", .CAFile = ca_file, .Fingerprint = good.fingerprint},
       true, net::tlsSettings, ""},
      {"trusted, another fingerprint", good,
       {.VerifyHost = "127.0.0.1", .CAFile = ca_file, .Fingerprint = self.fingerprint}, false, net::tlsFingerprint,
       "fingerprint"},
      {"expired, its fingerprint but a CA file too", expired,
       {.VerifyHost = "127.0.0.1", .CAFile = ca_file, .Fingerprint = expired.fingerprint}, false, net::tlsExpired,
       "expired"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TlsPeer peer({.cert_file = c.cert.cert_file, .key_file = c.cert.key_file},
                 {TlsStep::Send("hello\n"), TlsStep::UntilClientCloses()});
    net::TIdTCPClient client;
    try {
      Secure(client, peer.Port(), std::make_shared<net::TIdTLSContext>(c.options));
      EXPECT_TRUE(c.accepted);
      EXPECT_EQ(client.ReadLine(), "hello");
    } catch (const net::EIdTLSError& e) {
      EXPECT_FALSE(c.accepted) << e.what();
      EXPECT_EQ(e.Reason, c.reason) << e.what();
      EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
      // Refused means closed: nothing can be sent in clear.
      EXPECT_FALSE(client.Connected());
      EXPECT_THROW(client.WriteLine("USER secret"), net::EIdException);
    }
    client.Disconnect();
  }
}

TEST_F(TlsTest, SettingsThatCannotBeUsedAreRefusedBeforeAnyConnection) {
  const struct {
    const char* name;
    net::TIdTLSOptions options;
  } cases[] = {
      {"fingerprint too short", {.VerifyHost = "127.0.0.1", .Fingerprint = "AB:CD"}},
      {"fingerprint not hexadecimal", {.VerifyHost = "127.0.0.1", .Fingerprint = std::string(64, 'g')}},
      {"fingerprint split inside a pair", {.VerifyHost = "127.0.0.1", .Fingerprint = "A:B" + std::string(62, '0')}},
      {"missing CA file", {.VerifyHost = "127.0.0.1", .CAFile = "/nonexistent/ca.pem"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      net::TIdTLSContext context(c.options);
      ADD_FAILURE() << "accepted";
    } catch (const net::EIdTLSError& e) {
      EXPECT_EQ(e.Reason, net::tlsSettings);
    }
  }
}

TEST_F(TlsTest, AHandshakeThatFailsOrStallsEndsWithinItsTimeOutAndCloses) {
  using testsupport::PeerStep;
  const struct {
    const char* name;
    std::vector<PeerStep> script;
    const char* says;
  } cases[] = {
      {"closed mid-handshake", {PeerStep::Receive(5), PeerStep::Close()}, "closed the connection"},
      {"reset mid-handshake", {PeerStep::Receive(5), PeerStep::Reset()}, "10054"},
      {"garbage instead of a handshake", {PeerStep::Receive(5), PeerStep::Send("220 plain FTP here\r\n"), PeerStep::Stall()},
       "TLS handshake failed"},
      {"silence", {PeerStep::Receive(5), PeerStep::Stall()}, "within 300 ms"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testsupport::TcpPeer peer(c.script);
    net::TIdTCPClient client;
    const auto start = std::chrono::steady_clock::now();
    try {
      Secure(client, static_cast<uint16_t>(peer.Port()), std::make_shared<net::TIdTLSContext>(Trusting()),
             "127.0.0.1", 300);
      ADD_FAILURE() << "handshake succeeded";
    } catch (const net::EIdTLSError& e) {
      EXPECT_EQ(e.Reason, net::tlsHandshake);
      EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_FALSE(client.Connected());
    peer.Release();
  }
}

TEST_F(TlsTest, WaitsKeepTheWindowResponsiveAndAHandlerMayDropTheConnection) {
  const IssuedCertificate cert = Server("server");
  TlsPeer peer({.cert_file = cert.cert_file, .key_file = cert.key_file}, {TlsStep::UntilClientCloses()});
  net::TIdTCPClient client;
  Secure(client, peer.Port(), std::make_shared<net::TIdTLSContext>(Trusting()));
  nettest::CountingWindow window;
  net::TIdAntiFreeze anti_freeze;
  anti_freeze.SetPendingInput(&window);
  anti_freeze.IdleTimeOut = 20;
  window.on_process = [&] {
    if (window.process_all == 3) client.DropConnection();
  };
  EXPECT_THROW(client.ReadLine(), net::EIdConnClosedGracefully);
  EXPECT_EQ(window.process_all, 3);
  EXPECT_TRUE(peer.WaitDone());
  EXPECT_EQ(peer.Failure(), "");
}

}  // namespace
