// Passive mode with EPSV (RFC 2428) against a scripted server: the 229
// reply's port, the fall back to PASV for the rest of a session when the
// server does not know EPSV, the refusals that are not mended by PASV, and
// 229 replies with hostile ports or garbage.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ftp/ftp_client.h"
#include "ftp_client_fixture.h"
#include "platform/stream.h"

namespace ftp_test {
namespace {

using ftp::TIdFTP;

TEST(FtpExtendedPassiveTest, TheReplysPortIsReadStrictly) {
  struct Case {
    std::string text;
    int32_t port;
  };
  const std::vector<Case> cases = {
      {"Entering Extended Passive Mode (|||6446|)", 6446},
      {"Entering Extended Passive Mode (|||1|).", 1},
      {"(|||65535|)", 65535},
      {"EPSV ok (!!!21!)", 21},  // any printable delimiter but a digit
      {"(|||00080|)", 80},
      {"(|||0|)", -1},
      {"(|||65536|)", -1},
      {"(|||99999999999|)", -1},
      {"(|||123456|)", -1},
      {"(|||-80|)", -1},
      {"(|||+80|)", -1},
      {"(|||8a0|)", -1},
      {"(||||)", -1},
      {"(|||80)", -1},
      {"(|||80|", -1},
      {"(||80|)", -1},
      {"(|1|127.0.0.9|80|)", -1},  // an address is not taken
      {"(| | |80|)", -1},
      {"(   80 )", -1},
      {"(1118|)", -1},
      {"(|||80!)", -1},
      {"Entering Extended Passive Mode |||6446|", -1},
      {"227 Entering Passive Mode (127,0,0,1,4,1)", -1},
      {"", -1},
      {"(", -1},
      {"(|||", -1},
      {std::string("(|||8\0" "0|)", 9), -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(TIdFTP::ExtendedPassivePort(c.text), c.port);
  }
}

// A client for the peer in passive mode with EPSV, connected without a login.
void ConnectExtendedPassive(TIdFTP& client, const Peer& peer, StatusLog* log = nullptr) {
  AimAt(client, peer);
  client.Passive = true;
  client.ExtendedPassive = true;
  if (log != nullptr) log->Attach(client);
  client.Connect(false);
}

// The steps of one passive download of name by EPSV, with data.
Steps EpsvDownload(const std::string& name, const std::string& data) {
  return {Peer::Epsv(), Peer::Expect("RETR " + name), Peer::Reply("150 go"), Peer::AcceptData(),
          Peer::SendData(data), Peer::CloseData(), Peer::Reply("226 done")};
}
Steps PasvDownload(const std::string& name, const std::string& data) {
  return {Peer::Pasv(), Peer::Expect("RETR " + name), Peer::Reply("150 go"), Peer::AcceptData(),
          Peer::SendData(data), Peer::CloseData(), Peer::Reply("226 done")};
}

TEST(FtpExtendedPassiveTest, DownloadsOverThePortThatEpsvNames) {
  // The server answers from 127.0.0.2: the data connection goes there too.
  Peer peer(Join({{Peer::Reply("220 hi")}, EpsvDownload("a.bin", "first"), EpsvDownload("b.bin", "second")}),
            "127.0.0.2");
  TIdFTP client;
  ConnectExtendedPassive(client, peer);
  platform::MemoryStream a;
  platform::MemoryStream b;
  client.Download("a.bin", a);
  client.Download("b.bin", b);
  EXPECT_EQ(a.Data(), "first");
  EXPECT_EQ(b.Data(), "second");
  EXPECT_TRUE(peer.WaitFinished());
  EXPECT_EQ(peer.Transcript(), (Lines{"EPSV", "RETR a.bin", "EPSV", "RETR b.bin"}));
  EXPECT_FALSE(client.ExtendedPassiveRefused());
}

TEST(FtpExtendedPassiveTest, AServerThatDoesNotKnowEpsvGetsPasvForTheRestOfTheSession) {
  for (const char* refusal : {"500 'EPSV': command not understood.", "502 EPSV not implemented."}) {
    SCOPED_TRACE(refusal);
    // The second session is a new server as far as the client knows: it
    // asks with EPSV again.
    Peer peer(Join({{Peer::Reply("220 hi"), Peer::Expect("EPSV"), Peer::Reply(refusal)},
                    PasvDownload("a.bin", "first"),
                    PasvDownload("b.bin", "second"),
                    {Peer::Expect("QUIT"), Peer::AcceptControl(), Peer::Reply("220 again")},
                    EpsvDownload("c.bin", "third")}));
    TIdFTP client;
    ConnectExtendedPassive(client, peer);
    platform::MemoryStream a;
    platform::MemoryStream b;
    client.Download("a.bin", a);
    EXPECT_TRUE(client.ExtendedPassiveRefused());
    client.Download("b.bin", b);
    client.SignOff();
    client.Connect(false);
    EXPECT_FALSE(client.ExtendedPassiveRefused());
    platform::MemoryStream c;
    client.Download("c.bin", c);
    EXPECT_EQ(a.Data() + b.Data() + c.Data(), "firstsecondthird");
    EXPECT_TRUE(peer.WaitFinished());
    EXPECT_EQ(peer.Transcript(),
              (Lines{"EPSV", "PASV", "RETR a.bin", "PASV", "RETR b.bin", "QUIT", "EPSV", "RETR c.bin"}));
  }
}

TEST(FtpExtendedPassiveTest, OtherRefusalsOfEpsvFailTheTransferWithoutPasv) {
  for (const char* refusal : {"501 Syntax error.", "522 Network protocol not supported, use (1)", "425 No ports.",
                              "530 Not logged in.", "421 Too many connections.", "229"}) {
    SCOPED_TRACE(refusal);
    const bool is_229 = std::string(refusal) == "229";
    Peer peer({Peer::Reply("220 hi"), Peer::Expect("EPSV"), Peer::Reply(refusal), Peer::Expect("NOOP"),
               Peer::Reply("200 ok")});
    TIdFTP client;
    StatusLog log;
    ConnectExtendedPassive(client, peer, &log);
    platform::MemoryStream received;
    if (is_229) {
      EXPECT_THROW(client.Download("f", received), ftp::EIdFTPBadExtendedPassiveReply);
    } else {
      EXPECT_THROW(client.Download("f", received), ftp::EIdProtocolReplyError);
    }
    EXPECT_FALSE(client.ExtendedPassiveRefused());
    EXPECT_EQ(log.entries, (decltype(log.entries){kStarting, kComplete}));
    EXPECT_EQ(client.DataConnection(), nullptr);
    EXPECT_EQ(client.SendRawCommand("NOOP"), 200);
    EXPECT_TRUE(peer.WaitFinished());
    EXPECT_EQ(peer.Transcript(), (Lines{"EPSV", "NOOP"}));
  }
}

TEST(FtpExtendedPassiveTest, AHostileOrGarbled229FailsCleanlyAndTheSessionGoesOn) {
  test_support::PasvOptions zero;
  zero.name_port = 0;
  const std::vector<Steps> replies = {
      {Peer::Epsv(zero)},
      {Peer::Expect("EPSV"), Peer::Reply("229 Entering Extended Passive Mode (|||65536|)")},
      {Peer::Expect("EPSV"), Peer::Reply("229 Entering Extended Passive Mode (|||4294967317|)")},
      {Peer::Expect("EPSV"), Peer::Reply("229 Entering Extended Passive Mode (|||2x1|)")},
      {Peer::Expect("EPSV"), Peer::Reply("229 Entering Extended Passive Mode |||2121|")},
      {Peer::Expect("EPSV"), Peer::Reply("229 Entering Extended Passive Mode (|127.0.0.9|2121|)")},
      {Peer::Expect("EPSV"), Peer::SendGarbage(3000)},
  };
  for (size_t i = 0; i < replies.size(); ++i) {
    SCOPED_TRACE(i);
    Peer peer(Join({{Peer::Reply("220 hi")}, replies[i], {Peer::Expect("NOOP"), Peer::Reply("200 ok")}}));
    TIdFTP client;
    ConnectExtendedPassive(client, peer);
    platform::MemoryStream received;
    EXPECT_THROW(client.Download("f", received), net::EIdException);
    EXPECT_EQ(received.Data(), "");
    EXPECT_EQ(client.DataConnection(), nullptr);
    EXPECT_TRUE(client.Connected());
    EXPECT_EQ(client.SendRawCommand("NOOP"), 200);
    EXPECT_TRUE(peer.WaitFinished());
    EXPECT_EQ(peer.Transcript(), (Lines{"EPSV", "NOOP"}));
  }
}

TEST(FtpExtendedPassiveTest, WithoutExtendedPassiveOnlyPasvIsSent) {
  Peer peer(Join({{Peer::Reply("220 hi")}, PasvDownload("a.bin", "bytes")}));
  TIdFTP client;
  AimAt(client, peer);
  client.Passive = true;
  client.Connect(false);
  platform::MemoryStream received;
  client.Download("a.bin", received);
  EXPECT_EQ(received.Data(), "bytes");
  EXPECT_EQ(peer.Transcript(), (Lines{"PASV", "RETR a.bin"}));
}

}  // namespace
}  // namespace ftp_test
