// FTP over explicit TLS against real servers on loopback, with a test CA and
// certificates made at test time: vsftpd (data connections must resume the
// control connection's session) and pyftpdlib's TLS handler, TLS 1.3 and
// 1.2, active and passive; and the refusals, which send nothing after the
// greeting but AUTH TLS.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "ftp/ftp_client.h"
#include "ftp_client_fixture.h"
#include "net/tls_errors.h"
#include "platform/stream.h"
#include "support/pyftpd.h"
#include "support/tcp_peer.h"
#include "support/test_certificates.h"
#include "support/test_util.h"
#include "support/vsftpd.h"

namespace {

using ftp_test::Lines;
using ftp_test::Peer;
using test_support::IssuedCertificate;
using test_support::TempDir;
using test_support::WriteFile;

// A served folder with an empty file, one of 8191 bytes and one of 5 MB.
struct Files {
  Files() {
    WriteFile(root.File("empty.bin"), "");
    WriteFile(root.File("odd.bin"), testsupport::PatternBytes(8191, 3));
    WriteFile(root.File("big.bin"), testsupport::PatternBytes(5 * 1024 * 1024, 4));
  }
  TempDir root;
};

struct Certificates {
  explicit Certificates(const std::string& address)
      : ca(dir.Path()), server(ca.Issue("server", {.ip_addresses = {address}})) {}
  TempDir dir;
  test_support::TestCA ca;
  IssuedCertificate server;
};

// Logs in over TLS, lists the folder and downloads every file in both modes.
void ListAndDownloadEverything(ftp::TIdFTP& client, const Files& files) {
  for (const bool passive : {false, true}) {
    SCOPED_TRACE(passive ? "passive" : "active");
    client.Passive = passive;
    std::vector<std::string> names;
    ASSERT_NO_THROW(client.ListFolder(&names, "", false));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (Lines{"big.bin", "empty.bin", "odd.bin"}));
    for (const char* name : {"empty.bin", "odd.bin", "big.bin"}) {
      SCOPED_TRACE(name);
      platform::MemoryStream received;
      ASSERT_NO_THROW(client.Download(name, received));
      EXPECT_TRUE(received.Data() == test_support::ReadFile(files.root.File(name)));
    }
  }
}

// How many USER commands vsftpd's log shows.
size_t Logins(const std::string& log) {
  size_t count = 0;
  for (size_t at = log.find(", \"USER "); at != std::string::npos; at = log.find(", \"USER ", at + 1)) ++count;
  return count;
}

void AimAtServer(ftp::TIdFTP& client, const std::string& address, uint16_t port, const std::string& user,
                 const std::string& password) {
  client.Host = address;
  client.Port = port;
  client.Username = user;
  client.Password = password;
  client.IdleLimit = 20000;
  client.RecvBufferSize = 8192;
  client.UseTLS = true;
}

TEST(FtpTls, VsftpdWithSessionReuseRequiredListsAndDownloadsOverTls13And12) {
  Files files;
  Certificates certificates("127.0.0.41");
  test_support::Vsftpd server({.root = files.root.Path(), .address = "127.0.0.41",
                               .cert_file = certificates.server.cert_file, .key_file = certificates.server.key_file});
  for (const int version : {0, 0x0303}) {
    SCOPED_TRACE(version);
    ftp::TIdFTP client;
    AimAtServer(client, server.Address(), server.Port(), "anonymous", "");
    client.TLSOptions = {.CAFile = certificates.ca.CertFile(), .MaxVersion = version};
    ASSERT_NO_THROW(client.Connect()) << server.Log();
    ListAndDownloadEverything(client, files);
    client.SignOff();
  }
  EXPECT_EQ(Logins(server.Log()), 2u);
  // Every data connection was encrypted and resumed the session, or vsftpd
  // would have refused it.
  EXPECT_EQ(server.Log().find("session reuse required"), std::string::npos) << server.Log();
}

TEST(FtpTls, PyftpdlibTlsHandlerListsAndDownloadsOverTls13And12) {
  Files files;
  Certificates certificates("127.0.0.42");
  for (const bool tls12 : {false, true}) {
    SCOPED_TRACE(tls12 ? "TLS 1.2" : "TLS 1.3");
    test_support::PyFtpd server({.root = files.root.Path(), .address = "127.0.0.42",
                                 .tls_cert = certificates.server.cert_file,
                                 .tls_key = certificates.server.key_file, .tls12 = tls12});
    ftp::TIdFTP client;
    AimAtServer(client, server.Address(), server.Port(), server.User(), server.Password());
    client.TLSOptions.CAFile = certificates.ca.CertFile();
    ASSERT_NO_THROW(client.Connect());
    ListAndDownloadEverything(client, files);
    client.SignOff();
  }
}

TEST(FtpTls, ASelfSignedServerIsTakenByItsFingerprintAndOnlyByIt) {
  Files files;
  TempDir dir;
  const IssuedCertificate self = test_support::TestCA::SelfSigned(dir.Path(), "self", {});
  test_support::Vsftpd server({.root = files.root.Path(), .address = "127.0.0.43", .cert_file = self.cert_file,
                               .key_file = self.key_file});
  std::string other = self.fingerprint;
  other.back() = other.back() == '0' ? '1' : '0';
  for (const std::string& fingerprint : {self.fingerprint, other}) {
    ftp::TIdFTP client;
    AimAtServer(client, server.Address(), server.Port(), "anonymous", "");
    client.TLSOptions.Fingerprint = fingerprint;
    if (fingerprint == self.fingerprint) {
      ASSERT_NO_THROW(client.Connect());
      platform::MemoryStream received;
      client.Download("odd.bin", received);
      EXPECT_EQ(received.Size(), 8191);
    } else {
      try {
        client.Connect();
        ADD_FAILURE() << "connected";
      } catch (const net::EIdTLSError& e) {
        EXPECT_EQ(e.Reason, net::tlsFingerprint) << e.what();
      }
      EXPECT_FALSE(client.Connected());
    }
  }
  // The refused session never logged in.
  EXPECT_EQ(Logins(server.Log()), 1u) << server.Log();
}

// The ways a session can refuse TLS or fail it; after the greeting nothing
// but AUTH TLS ever goes out, and the client is disconnected.
TEST(FtpTls, RefusalsEndTheSessionWithNothingSentInClear) {
  const struct {
    const char* name;
    std::vector<Peer::Step> after_auth;
    net::TIdTLSFailure reason;
  } cases[] = {
      {"AUTH refused", {Peer::Reply("500 AUTH not understood.")}, net::tlsRefused},
      {"AUTH not implemented", {Peer::Reply("502 Command not implemented.")}, net::tlsRefused},
      {"plain text after the 234 (an injection)", {Peer::Send("234 go ahead\r\n530 Please login\r\n")},
       net::tlsHandshake},
      {"plain text instead of a handshake", {Peer::Reply("234 go ahead"), Peer::ExpectPrefix("\x16\x03"),
       Peer::Reply("530 Please login")}, net::tlsHandshake},
      {"closed instead of a handshake", {Peer::Reply("234 go ahead"), Peer::CloseControl()}, net::tlsHandshake},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<Peer::Step> script{Peer::Reply("220 ready"), Peer::Expect("AUTH TLS")};
    script.insert(script.end(), c.after_auth.begin(), c.after_auth.end());
    script.push_back(Peer::ExpectClientClose());
    Peer peer(script, "127.0.0.1", std::chrono::seconds(20));
    ftp::TIdFTP client;
    ftp_test::AimAt(client, peer);
    client.UseTLS = true;
    try {
      client.Connect();
      ADD_FAILURE() << "connected";
    } catch (const net::EIdTLSError& e) {
      EXPECT_EQ(e.Reason, c.reason) << e.what();
    }
    EXPECT_FALSE(client.Connected());
    EXPECT_TRUE(peer.WaitFinished());
    // The client's TLS handshake may follow; no command does.
    const Lines transcript = peer.Transcript();
    ASSERT_FALSE(transcript.empty());
    EXPECT_EQ(transcript.front(), "AUTH TLS");
    for (const std::string& line : transcript) {
      for (const char* command : {"USER", "PASS", "QUIT", "PBSZ", "PROT"}) {
        EXPECT_EQ(line.find(command), std::string::npos) << line;
      }
    }
  }
}

TEST(FtpTls, RealServersWithoutTlsAreRefused) {
  Files files;
  test_support::PyFtpd pyftpd({.root = files.root.Path(), .address = "127.0.0.44"});
  test_support::Vsftpd vsftpd({.root = files.root.Path(), .address = "127.0.0.44"});
  for (const uint16_t port : {pyftpd.Port(), vsftpd.Port()}) {
    ftp::TIdFTP client;
    AimAtServer(client, "127.0.0.44", port, "user", "password");
    try {
      client.Connect();
      ADD_FAILURE() << "connected";
    } catch (const net::EIdTLSError& e) {
      EXPECT_EQ(e.Reason, net::tlsRefused);
      EXPECT_EQ(std::string(e.what()).rfind("The server refused AUTH TLS: 5", 0), 0u) << e.what();
    }
    EXPECT_FALSE(client.Connected());
  }
  EXPECT_EQ(Logins(vsftpd.Log()), 0u) << vsftpd.Log();
}

TEST(FtpTls, ACertificateForAnotherAddressIsRefusedBeforeTheLogin) {
  Files files;
  Certificates certificates("127.0.0.99");
  test_support::Vsftpd server({.root = files.root.Path(), .address = "127.0.0.45",
                               .cert_file = certificates.server.cert_file, .key_file = certificates.server.key_file});
  ftp::TIdFTP client;
  AimAtServer(client, server.Address(), server.Port(), "anonymous", "");
  client.TLSOptions.CAFile = certificates.ca.CertFile();
  try {
    client.Connect();
    ADD_FAILURE() << "connected";
  } catch (const net::EIdTLSError& e) {
    EXPECT_EQ(e.Reason, net::tlsWrongName);
    EXPECT_NE(std::string(e.what()).find("not for 127.0.0.45"), std::string::npos) << e.what();
  }
  EXPECT_EQ(Logins(server.Log()), 0u) << server.Log();
}

}  // namespace
