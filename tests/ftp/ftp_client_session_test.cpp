// The FTP client's replies and session commands against a scripted server:
// reply reading, greeting and login, SYST, CWD, SIZE, QUIT, ABOR, and
// hostile or silent replies.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "ftp/ftp_client.h"
#include "ftp_client_fixture.h"
#include "net/exceptions.h"
#include "platform/encoding.h"

namespace ftp_test {
namespace {

using ftp::EIdProtocolReplyError;
using ftp::TIdFTP;

struct ReplyCase {
  const char* name;
  std::string bytes;  // what the server sends after NOOP
  int32_t code;
  std::string text_code;
  Lines text;
};

TEST(FtpClientReplyTest, RepliesAreReadAsTheyArrive) {
  const std::vector<ReplyCase> cases = {
      {"single line", "220 Service ready\r\n", 220, "220", {"Service ready"}},
      {"multi-line", "230-Welcome\r\n230 Logged in\r\n", 230, "230", {"Welcome", "Logged in"}},
      {"code alone", "226\r\n", 226, "226", {""}},
      {"no number", "+OK ready\r\n", 0, "+OK", {"ready"}},
      {"four digits", "5000 text\r\n", 5000, "5000", {" text"}},
      {"empty line skipped", "220-Hello\r\n\r\n220 Ready\r\n", 220, "220", {"Hello", "Ready"}},
      {"leading blanks", "   150 open\r\n", 150, "150", {"open"}},
      {"terminator case", "ABC-x\r\nabc y\r\n", 0, "ABC", {"x", "y"}},
      {"LF endings", "200-a\n200 b\n", 200, "200", {"a", "b"}},
      {"blank lines and tabs first", "\t\t\t\r\n  \r\n200 ok\r\n", 200, "200", {"ok"}},
      {"NUL bytes kept", std::string("200 a\0b\r\n", 9), 200, "200", {std::string("a\0b", 3)}},
      {"in pieces", "2", 0, "", {}},  // completed below by a second Send
  };
  for (const ReplyCase& c : cases) {
    SCOPED_TRACE(c.name);
    Steps script = {Peer::Reply("220 hi"), Peer::Expect("NOOP"), Peer::Send(c.bytes)};
    ReplyCase expected = c;
    if (std::string(c.name) == "in pieces") {
      script.push_back(Peer::Send("00-one\r\n20"));
      script.push_back(Peer::Send("0 two\r\n"));
      expected.code = 200;
      expected.text_code = "200";
      expected.text = {"one", "two"};
    }
    Peer peer(script);
    TIdFTP client;
    AimAt(client, peer);
    client.Connect(false);
    EXPECT_EQ(client.SendRawCommand("NOOP"), static_cast<int16_t>(expected.code));
    EXPECT_EQ(client.LastReply().NumericCode(), expected.code);
    EXPECT_EQ(client.LastReply().TextCode(), expected.text_code);
    EXPECT_EQ(client.LastReply().Text(), expected.text);
  }
}

TEST(FtpClientReplyTest, AShortContinuationLineEndsTheReplyAndTheRestIsTheNext) {
  Peer peer({Peer::Reply("220 hi"), Peer::Expect("NOOP"), Peer::Send("230-Welcome\r\nok\r\n230 Done\r\n")});
  TIdFTP client;
  AimAt(client, peer);
  client.Connect(false);
  EXPECT_EQ(client.SendRawCommand("NOOP"), 230);
  EXPECT_EQ(client.LastReply().Text(), (Lines{"Welcome", ""}));
  EXPECT_EQ(client.GetReply({230}), 230);
  EXPECT_EQ(client.LastReply().Text(), (Lines{"Done"}));
}

TEST(FtpClientReplyTest, AllowedCodesDecideWhetherAReplyRaises) {
  Peer peer({Peer::Reply("220 hi"), Peer::Expect("DELE a"), Peer::Reply("550 No such file."),
             Peer::Expect("DELE a"), Peer::Reply("550 No such file."), Peer::Expect("DELE a"),
             Peer::Reply("550-No such file.\r\n550 Really.")});
  TIdFTP client;
  AimAt(client, peer);
  client.Connect(false);
  EXPECT_EQ(client.SendCommand("DELE a"), 550);
  try {
    client.SendCommand("DELE a", 200);
    FAIL() << "550 was accepted";
  } catch (const EIdProtocolReplyError& e) {
    EXPECT_EQ(e.ReplyCode(), 550);
    EXPECT_STREQ(e.what(), "No such file.\r\n");
  }
  // The refused reply stays readable, and the session goes on in step.
  EXPECT_EQ(client.LastReply().NumericCode(), 550);
  try {
    client.SendCommand("DELE a", std::vector<int16_t>{200, 250});
    FAIL() << "550 was accepted";
  } catch (const EIdProtocolReplyError& e) {
    EXPECT_STREQ(e.what(), "No such file.\r\nReally.\r\n");
  }
  try {
    client.RaiseReplyErrorAs<net::EIdConnectException>();
  } catch (const net::EIdConnectException& e) {
    EXPECT_STREQ(e.what(), "No such file.\r\nReally.\r\n");
  }
  EXPECT_TRUE(client.Connected());
}

TEST(FtpClientSessionTest, ConnectGreetsLogsInSetsTheTypeAndAsksForTheSystem) {
  const Steps login = LoginSteps();
  Peer peer(Join({{Peer::Reply("220-Welcome\r\n220 to the server")}, Steps(login.begin() + 1, login.end())}));
  TIdFTP client;
  AimAt(client, peer);
  StatusLog log;
  log.Attach(client);
  int after_login = 0;
  client.OnAfterClientLogin = [&](net::TIdComponent* sender) {
    EXPECT_EQ(sender, &client);
    ++after_login;
  };
  client.Connect(true, net::TimeoutDefault);
  EXPECT_TRUE(client.Connected());
  EXPECT_EQ(client.ServerGreeting().NumericCode(), 220);
  EXPECT_EQ(client.ServerGreeting().Text(), (Lines{"Welcome", "to the server"}));
  EXPECT_EQ(client.LoginReply().NumericCode(), 230);
  EXPECT_EQ(client.SystemDescription(), "UNIX Type: L8");
  EXPECT_EQ(after_login, 1);
  EXPECT_EQ(log.entries, (decltype(log.entries){{net::ftpReady, "Connection established"}}));
  ASSERT_TRUE(peer.WaitForLines(4));
  EXPECT_EQ(peer.Transcript(), LoginLines());
}

struct LoginCase {
  const char* name;
  Steps script;  // after the greeting
  Lines sent;
  int32_t failure;  // 0: connects; else the refused code
  std::string system;
};

TEST(FtpClientSessionTest, LoginOutcomes) {
  const std::vector<LoginCase> cases = {
      {"USER answered 230",
       {Peer::Expect("USER u"), Peer::Reply("230 no password needed"), Peer::Expect("TYPE I"), Peer::Reply("200 ok"),
        Peer::Expect("SYST"), Peer::Reply("215 UNIX")},
       {"USER u", "TYPE I", "SYST"},
       0,
       "UNIX"},
      {"SYST 500",
       {Peer::Expect("USER u"), Peer::Reply("230 in"), Peer::Expect("TYPE I"), Peer::Reply("200 ok"),
        Peer::Expect("SYST"), Peer::Reply("500 what?")},
       {"USER u", "TYPE I", "SYST"},
       0,
       "Unknown"},
      {"SYST 502",
       {Peer::Expect("USER u"), Peer::Reply("230 in"), Peer::Expect("TYPE I"), Peer::Reply("200 ok"),
        Peer::Expect("SYST"), Peer::Reply("502 not implemented")},
       {"USER u", "TYPE I", "SYST"},
       502,
       ""},
      {"USER answered 332", {Peer::Expect("USER u"), Peer::Reply("332 need account")}, {"USER u"}, 332, ""},
      {"PASS answered 332",
       {Peer::Expect("USER u"), Peer::Reply("331 pw"), Peer::Expect("PASS p"), Peer::Reply("332 need account")},
       {"USER u", "PASS p"},
       332,
       ""},
      {"PASS answered 530",
       {Peer::Expect("USER u"), Peer::Reply("331 pw"), Peer::Expect("PASS p"), Peer::Reply("530 wrong")},
       {"USER u", "PASS p"},
       530,
       ""},
      {"TYPE refused",
       {Peer::Expect("USER u"), Peer::Reply("230 in"), Peer::Expect("TYPE I"), Peer::Reply("504 no binary")},
       {"USER u", "TYPE I"},
       504,
       ""},
  };
  for (const LoginCase& c : cases) {
    SCOPED_TRACE(c.name);
    Peer peer(Join({{Peer::Reply("220 hi")}, c.script, {Peer::ExpectClientClose()}}));
    TIdFTP client;
    AimAt(client, peer);
    if (c.failure == 0) {
      client.Connect();
      EXPECT_TRUE(client.Connected());
      EXPECT_EQ(client.SystemDescription(), c.system);
      client.SignOff();
    } else {
      try {
        client.Connect();
        FAIL() << "connected";
      } catch (const EIdProtocolReplyError& e) {
        EXPECT_EQ(e.ReplyCode(), c.failure);
      }
      EXPECT_FALSE(client.Connected());
    }
    ASSERT_TRUE(peer.WaitFinished());
    Lines sent = c.sent;
    if (c.failure == 0) sent.push_back("QUIT");
    EXPECT_EQ(peer.Transcript(), sent);
  }
}

TEST(FtpClientSessionTest, AGreetingOtherThan220FailsTheConnect) {
  Peer peer({Peer::Reply("421 too many users"), Peer::ExpectClientClose()});
  TIdFTP client;
  AimAt(client, peer);
  try {
    client.Connect();
    FAIL() << "connected";
  } catch (const EIdProtocolReplyError& e) {
    EXPECT_EQ(e.ReplyCode(), 421);
    EXPECT_STREQ(e.what(), "too many users\r\n");
  }
  EXPECT_FALSE(client.Connected());
  EXPECT_TRUE(peer.WaitFinished());
  EXPECT_TRUE(peer.Transcript().empty());
}

TEST(FtpClientSessionTest, ConnectingTwiceDropsTheSession) {
  Peer peer(Join({LoginSteps(), {Peer::ExpectClientClose()}}));
  TIdFTP client;
  AimAt(client, peer);
  client.Connect();
  EXPECT_THROW(client.Connect(), net::EIdAlreadyConnected);
  EXPECT_FALSE(client.Connected());
  EXPECT_TRUE(peer.WaitFinished());
}

TEST(FtpClientSessionTest, AFailedConnectKeepsHostAndPort) {
  int closed_port;
  {
    Peer gone({});
    closed_port = gone.Port();
  }
  TIdFTP client;
  client.Host = "127.0.0.1";
  client.Port = closed_port;
  EXPECT_THROW(client.Connect(), net::EIdException);
  EXPECT_EQ(client.Host, "127.0.0.1");
  EXPECT_EQ(client.Port, closed_port);
  EXPECT_FALSE(client.Connected());
  TIdFTP fresh;
  EXPECT_EQ(fresh.Port, 21);
  EXPECT_FALSE(fresh.Passive);
  EXPECT_EQ(fresh.TransferType(), ftp::ftBinary);
  EXPECT_EQ(fresh.ProxySettings().ProxyType, ftp::fpcmNone);
}

TEST(FtpClientSessionTest, FolderSizeTypeAndRawCommands) {
  Peer peer(Join({LoginSteps(),
                  {Peer::Expect("CWD " + gbk("/pub/中文")), Peer::Reply("250 ok"), Peer::Expect("CWD missing"),
                   Peer::Reply("550 no such folder"), Peer::Expect("SIZE a"), Peer::Reply("213 1234"),
                   Peer::Expect("SIZE a"), Peer::Reply("213 size 1234"), Peer::Expect("SIZE a"),
                   Peer::Reply("213 File size 1234"), Peer::Expect("SIZE a"), Peer::Reply("213 2147483648"),
                   Peer::Expect("SIZE a"), Peer::Reply("213 twelve"), Peer::Expect("SIZE a"),
                   Peer::Reply("550 no such file"), Peer::Expect("SIZE a"), Peer::Reply("213-a\r\n213 77"),
                   Peer::Expect("SIZE a"), Peer::Reply("213 $10"), Peer::Expect("SIZE a"), Peer::Reply("213 0x10"),
                   Peer::Expect("TYPE A"), Peer::Reply("200 ascii"), Peer::Expect("NOOP"), Peer::Reply("200 noop"),
                   Peer::ExpectClientClose()}}));
  TIdFTP client;
  AimAt(client, peer);
  client.Connect();
  client.ChangeFolder(gbk("/pub/中文"));
  EXPECT_THROW(client.ChangeFolder("missing"), EIdProtocolReplyError);
  EXPECT_EQ(client.QuerySize("a"), 1234);
  EXPECT_EQ(client.QuerySize("a"), 1234);
  EXPECT_EQ(client.QuerySize("a"), -1);
  EXPECT_EQ(client.QuerySize("a"), -1);
  EXPECT_EQ(client.QuerySize("a"), -1);
  EXPECT_EQ(client.QuerySize("a"), -1);
  // Two lines "a" CR LF "77": the first word goes, the rest is no number.
  EXPECT_EQ(client.QuerySize("a"), -1);
  // A size is decimal: hexadecimal marks make no number.
  EXPECT_EQ(client.QuerySize("a"), -1);
  EXPECT_EQ(client.QuerySize("a"), -1);
  client.SetTransferType(ftp::ftASCII);
  client.SetTransferType(ftp::ftASCII);  // already set: nothing sent
  EXPECT_EQ(client.SendRawCommand("NOOP"), 200);
  client.SignOff();
  EXPECT_FALSE(client.Connected());
  ASSERT_TRUE(peer.WaitFinished());
  const Lines sent = peer.Transcript();
  EXPECT_EQ(Lines(sent.end() - 3, sent.end()), (Lines{"TYPE A", "NOOP", "QUIT"}));
}

TEST(FtpClientSessionTest, SignOffWithoutAConnectionStillDisconnects) {
  TIdFTP client;
  std::vector<net::TIdStatus> statuses;
  client.OnStatus = [&](net::TIdComponent*, net::TIdStatus status, const std::string&) { statuses.push_back(status); };
  int disconnected = 0;
  client.OnDisconnected = [&](net::TIdComponent*) { ++disconnected; };
  client.SignOff();
  EXPECT_EQ(statuses, (std::vector<net::TIdStatus>{net::hsDisconnecting, net::hsDisconnected}));
  EXPECT_EQ(disconnected, 1);
}

TEST(FtpClientSessionTest, AnAbortOutsideATransferLeavesItsReplyForTheNextCommand) {
  Peer peer(Join({LoginSteps(),
                  {Peer::Expect("ABOR"), Peer::Reply("225 no transfer"), Peer::Expect("NOOP"), Peer::Reply("200 ok")}}));
  TIdFTP client;
  AimAt(client, peer);
  client.Connect();
  client.AbortTransfer();
  EXPECT_EQ(client.SendRawCommand("NOOP"), 225);
  EXPECT_EQ(client.GetReply({200}), 200);
}

TEST(FtpClientHostileTest, OverLongAndGarbageRepliesEndInAnError) {
  {
    SCOPED_TRACE("1 MB line");
    Peer peer({Peer::Reply("220 hi"), Peer::Expect("NOOP"), Peer::SendLongLine(1024 * 1024, "200 ")});
    TIdFTP client;
    AimAt(client, peer);
    client.Connect(false);
    EXPECT_THROW(client.SendRawCommand("NOOP"), net::EIdReadLnMaxLineLengthExceeded);
  }
  {
    SCOPED_TRACE("garbage");
    Peer peer({Peer::Reply("220 hi"), Peer::Expect("NOOP"), Peer::SendGarbage(3000), Peer::CloseControl()});
    TIdFTP client;
    AimAt(client, peer);
    client.Connect(false);
    // Whatever the bytes parse into, a demand for 200 refuses them, and the
    // close after them ends the session.
    EXPECT_THROW(client.SendCommand("NOOP", 200), net::EIdException);
  }
  {
    SCOPED_TRACE("endless multi-line reply");
    std::string lines;
    for (int i = 0; i < 2000; ++i) lines += "211-" + std::string(4000, 'x') + "\r\n";
    Peer peer({Peer::Reply("220 hi"), Peer::Expect("STAT"), Peer::Send(lines)});
    TIdFTP client;
    AimAt(client, peer);
    client.Connect(false);
    EXPECT_THROW(client.SendRawCommand("STAT"), ftp::EIdReplyTooLong);
  }
}

TEST(FtpClientBoundedWaitTest, ASilentServerEndsByTheIdleLimit) {
  struct Case {
    const char* name;
    Steps script;
  };
  const std::vector<Case> cases = {
      {"no greeting", {Peer::StallForever()}},
      {"no reply to USER", {Peer::Reply("220 hi"), Peer::Expect("USER u"), Peer::StallForever()}},
      {"half a reply", {Peer::Reply("220 hi"), Peer::Expect("USER u"), Peer::Send("331 pass"), Peer::StallForever()}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Peer peer(c.script);
    TIdFTP client;
    AimAt(client, peer);
    client.IdleLimit = 500;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(client.Connect(), net::EIdReadTimeout);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_FALSE(client.Connected());
  }
}

}  // namespace
}  // namespace ftp_test
