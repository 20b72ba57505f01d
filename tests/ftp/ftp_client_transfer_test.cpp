// The FTP client's data transfers against a scripted server: both data
// connection modes, PASV and PORT lines, the restart probe, the replies
// around a transfer, aborts, listings, bounded waits and strangers on the
// data connection.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "ftp/ftp_client.h"
#include "ftp/simple_server.h"
#include "ftp_client_fixture.h"
#include "net/exceptions.h"
#include "net/socket_handle.h"
#include "platform/file_stream.h"
#include "platform/stream.h"
#include "settings/integer_conversion.h"
#include "support/test_util.h"

namespace ftp_test {
namespace {

using ftp::EIdProtocolReplyError;
using ftp::TIdFTP;
using Clock = std::chrono::steady_clock;

// Every PORT line as "PORT": its port is the system's choice.
Lines WithoutPorts(Lines lines) {
  for (std::string& line : lines) {
    if (line.rfind("PORT ", 0) == 0) line = "PORT";
  }
  return lines;
}

std::string Pattern(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  return bytes;
}

// The steps that open a data connection in the client's mode and answer
// command with 150.
Steps Open(bool passive, const std::string& command) {
  if (passive) return {Peer::Pasv(), Peer::Expect(command), Peer::Reply("150 opening"), Peer::AcceptData()};
  return {Peer::ExpectPort(), Peer::Expect(command), Peer::Reply("150 opening"), Peer::ConnectData()};
}

TEST(FtpClientTransferTest, DownloadsInBothModesWithWorkEventsFromTheDataConnection) {
  const std::string data = Pattern(20000);
  for (const bool passive : {false, true}) {
    SCOPED_TRACE(passive ? "passive" : "active");
    Peer peer(Join({{Peer::Reply("220 hi")}, Open(passive, "RETR a.bin"),
                    {Peer::SendData(data), Peer::CloseData(), Peer::Reply("226 done")}}));
    TIdFTP client;
    AimAt(client, peer);
    client.Passive = passive;
    client.RecvBufferSize = 8192;
    StatusLog log;
    log.Attach(client);
    std::vector<int32_t> counts;
    std::vector<std::string> events;
    client.OnWorkBegin = [&](net::TIdComponent* sender, net::TWorkMode mode, int32_t max) {
      EXPECT_EQ(sender, client.DataConnection());
      EXPECT_EQ(mode, net::wmRead);
      events.push_back("begin " + std::to_string(max));
    };
    client.OnWork = [&](net::TIdComponent* sender, net::TWorkMode, int32_t count) {
      EXPECT_NE(sender, &client);
      counts.push_back(count);
    };
    client.OnWorkEnd = [&](net::TIdComponent*, net::TWorkMode) { events.push_back("end"); };
    int after_get = 0;
    platform::MemoryStream received;
    client.OnAfterGet = [&](TIdFTP* sender, platform::Stream& stream) {
      EXPECT_EQ(sender, &client);
      EXPECT_EQ(&stream, &received);
      ++after_get;
    };
    client.Connect(false);
    client.Download("a.bin", received);
    EXPECT_EQ(received.Data(), data);
    EXPECT_EQ(counts, (std::vector<int32_t>{8192, 16384}));
    EXPECT_EQ(events, (Lines{"begin 0", "end"}));
    EXPECT_EQ(after_get, 1);
    EXPECT_EQ(log.entries, (decltype(log.entries){kStarting, kComplete}));
    EXPECT_EQ(client.DataConnection(), nullptr);
    EXPECT_TRUE(peer.WaitFinished());
    EXPECT_EQ(peer.Error(), "");
    EXPECT_EQ(WithoutPorts(peer.Transcript()), passive ? (Lines{"PASV", "RETR a.bin"}) : (Lines{"PORT", "RETR a.bin"}));
  }
}

TEST(FtpClientTransferTest, PassiveRepliesAreParsed) {
  Peer peer({Peer::Reply("220 hi"), Peer::Expect("PASV"), Peer::Reply("227 Entering Passive Mode (192,168,1,2,19,137)"),
             Peer::Expect("PASV"), Peer::Reply("227 Entering Passive Mode 10,0,0,1,4,1"), Peer::Expect("PASV"),
             Peer::Reply("227 Entering Passive Mode (1,2,3,4,99999999,1)"), Peer::Expect("PASV"),
             Peer::Reply("227 Entering Passive Mode (1,2,3,4,-1,1)"), Peer::Expect("PASV"),
             Peer::Reply("227 Entering Passive Mode (1,2,3,4,x,1)"), Peer::Expect("PASV"), Peer::Reply("227 garbage"),
             Peer::Expect("PASV"), Peer::Reply("500 no passive here")});
  TIdFTP client;
  AimAt(client, peer);
  client.Connect(false);
  std::string address;
  int32_t port = 0;
  client.RequestPassive(address, port);
  EXPECT_EQ(address, "192.168.1.2");
  EXPECT_EQ(port, 5001);
  client.RequestPassive(address, port);
  EXPECT_EQ(address, "10.0.0.1");
  EXPECT_EQ(port, 1025);
  // Fields that make no port give -1, which the transport refuses.
  client.RequestPassive(address, port);
  EXPECT_EQ(port, -1);
  client.RequestPassive(address, port);
  EXPECT_EQ(port, -1);
  try {
    client.RequestPassive(address, port);
    FAIL() << "x taken as a number";
  } catch (const settings::EConvertError& e) {
    EXPECT_STREQ(e.what(), "'x' is not a valid integer value");
  }
  EXPECT_THROW(client.RequestPassive(address, port), settings::EConvertError);
  EXPECT_THROW(client.RequestPassive(address, port), EIdProtocolReplyError);
}

TEST(FtpClientTransferTest, PortNamesTheListenersAddressAndPort) {
  Peer peer({Peer::Reply("220 hi"), Peer::Expect("PORT 192,168,0,10,19,137"), Peer::Reply("200 ok"),
             Peer::Expect("PORT 127,0,0,1,0,21"), Peer::Reply("500 refused")});
  TIdFTP client;
  AimAt(client, peer);
  client.Connect(false);
  net::TIdSocketHandle binding;
  binding.IP = "192.168.0.10";
  binding.Port = 5001;
  client.AnnouncePort(binding);
  binding.IP = "127.0.0.1";
  binding.Port = 21;
  EXPECT_THROW(client.AnnouncePort(binding), EIdProtocolReplyError);
}

TEST(FtpClientTransferTest, TheRestartProbeRunsOncePerClientObject) {
  const Steps retr = {Peer::ExpectPort(), Peer::Expect("REST 0"), Peer::Reply("350 at 0"),
                      Peer::Expect("RETR f"), Peer::Reply("150 go"),   Peer::SendData("xy"),
                      Peer::CloseData(),      Peer::Reply("226 done")};
  Peer peer(Join({{Peer::Reply("220 hi"), Peer::Expect("REST 1"), Peer::Reply("350 at 1"), Peer::Expect("REST 0"),
                   Peer::Reply("350 at 0")},
                  retr,
                  retr,
                  {Peer::Expect("QUIT"), Peer::AcceptControl(), Peer::Reply("220 again")},
                  retr}));
  TIdFTP client;
  AimAt(client, peer);
  client.Connect(false);
  for (int i = 0; i < 2; ++i) {
    platform::MemoryStream received;
    client.Download("f", received, true);
    EXPECT_EQ(received.Data(), "xy");
  }
  client.SignOff();
  client.Connect(false);
  platform::MemoryStream received;
  client.Download("f", received, true);
  EXPECT_TRUE(client.RestartTested());
  EXPECT_TRUE(client.RestartSupported());
  EXPECT_TRUE(peer.WaitFinished());
  EXPECT_EQ(peer.Error(), "");
}

struct ReplyCase {
  const char* name;
  Steps after_command;  // the server's side once the command has arrived
  int32_t refused;      // the code of the EIdProtocolReplyError, 0 for none
  std::string data;     // what the destination holds afterwards
};

TEST(FtpClientTransferTest, RepliesAroundTheData) {
  const std::vector<ReplyCase> cases = {
      {"550 for a missing file", {Peer::Reply("550 no such file")}, 550, ""},
      {"226 without 1xx", {Peer::Reply("226 nothing to send")}, 226, ""},
      {"451 after the data",
       {Peer::Reply("150 go"), Peer::ConnectData(), Peer::SendData("partial"), Peer::CloseData(),
        Peer::Reply("451 local error")},
       451,
       "partial"},
      {"250 ends it",
       {Peer::Reply("125 already open"), Peer::ConnectData(), Peer::SendData("whole"), Peer::CloseData(),
        Peer::Reply("250 ok")},
       0,
       "whole"},
      {"450 then 226 counts as aborted",
       {Peer::Reply("150 go"), Peer::ConnectData(), Peer::SendData("cut"), Peer::CloseData(),
        Peer::Reply("450 cut off"), Peer::Reply("226 abort done")},
       0,
       "cut"},
  };
  for (const ReplyCase& c : cases) {
    SCOPED_TRACE(c.name);
    Peer peer(Join({{Peer::Reply("220 hi"), Peer::ExpectPort(), Peer::Expect("RETR f")}, c.after_command,
                    {Peer::Expect("NOOP"), Peer::Reply("200 still here")}}));
    TIdFTP client;
    AimAt(client, peer);
    StatusLog log;
    log.Attach(client);
    client.Connect(false);
    platform::MemoryStream received;
    if (c.refused != 0) {
      try {
        client.Download("f", received);
        FAIL() << "no error";
      } catch (const EIdProtocolReplyError& e) {
        EXPECT_EQ(e.ReplyCode(), c.refused);
      }
      EXPECT_EQ(log.entries, (decltype(log.entries){kStarting, kComplete}));
    } else {
      client.Download("f", received);
    }
    EXPECT_EQ(received.Data(), c.data);
    EXPECT_EQ(client.DataConnection(), nullptr);
    // The session stays usable and in step.
    EXPECT_EQ(client.SendRawCommand("NOOP"), 200);
    EXPECT_EQ(peer.Error(), "");
  }
}

TEST(FtpClientTransferTest, AbortFromTheWorkHandlerKeepsThePartialDataAndReadsBothReplies) {
  const std::string data = Pattern(200000);
  for (const bool passive : {false, true}) {
    SCOPED_TRACE(passive ? "passive" : "active");
    Peer peer(Join({{Peer::Reply("220 hi")}, Open(passive, "RETR big"),
                    {Peer::SendData(data), Peer::Expect("ABOR"), Peer::Reply("426 Transfer aborted."),
                     Peer::Reply("226 Abort successful.")}}));
    TIdFTP client;
    AimAt(client, peer);
    client.Passive = passive;
    client.RecvBufferSize = 8192;
    StatusLog log;
    log.Attach(client);
    int ends = 0;
    client.OnWork = [&](net::TIdComponent*, net::TWorkMode, int32_t) { client.AbortTransfer(); };
    client.OnWorkEnd = [&](net::TIdComponent*, net::TWorkMode) { ++ends; };
    int after_get = 0;
    client.OnAfterGet = [&](TIdFTP*, platform::Stream&) { ++after_get; };
    client.Connect(false);
    platform::MemoryStream received;
    client.Download("big", received);
    EXPECT_EQ(received.Data(), data.substr(0, 8192));
    EXPECT_EQ(ends, 1);
    EXPECT_EQ(after_get, 1);
    EXPECT_EQ(log.entries, (decltype(log.entries){kStarting, kComplete, kAborted}));
    EXPECT_EQ(client.DataConnection(), nullptr);
    EXPECT_TRUE(peer.WaitFinished());
    EXPECT_EQ(peer.Error(), "");
  }
}

enum Outcome { kWhole, kAppended, kExists };

struct DownloadCase {
  bool present;
  bool can_overwrite;
  bool restart;
  int probe;  // 0: not asked, 1: the server accepts REST, 2: it refuses it
  Outcome outcome;
};

TEST(FtpClientTransferTest, OverwriteAndResumeOfALocalFile) {
  const std::vector<DownloadCase> cases = {
      {false, false, false, 0, kWhole}, {false, true, false, 0, kWhole},   {false, false, true, 1, kWhole},
      {false, true, true, 1, kWhole},   {false, true, true, 2, kWhole},    {true, true, false, 0, kWhole},
      {true, false, false, 0, kExists}, {true, false, true, 1, kAppended}, {true, false, true, 2, kExists},
      {true, true, true, 1, kExists},   {true, true, true, 2, kWhole},
  };
  for (const DownloadCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "present " << c.present << ", overwrite " << c.can_overwrite << ", restart "
                                    << c.restart << ", probe " << c.probe);
    test_support::TempDir dir;
    const std::string local = dir.File("f.bin");
    if (c.present) test_support::WriteFile(local, "old");

    Steps script = {Peer::Reply("220 hi")};
    Lines sent;
    if (c.probe != 0) {
      const std::string answer = c.probe == 1 ? "350 Restarting" : "502 REST not implemented";
      script.insert(script.end(), {Peer::Expect("REST 1"), Peer::Reply(answer), Peer::Expect("REST 0"),
                                   Peer::Reply(answer)});
      sent = {"REST 1", "REST 0"};
    }
    const std::string served = c.outcome == kAppended ? "NEW" : "whole file";
    if (c.outcome != kExists) {
      script.push_back(Peer::ExpectPort());
      sent.push_back("PORT");
      if (c.probe == 1) {
        const std::string rest = c.outcome == kAppended ? "REST 3" : "REST 0";
        script.insert(script.end(), {Peer::Expect(rest), Peer::Reply("350 Restarting")});
        sent.push_back(rest);
      }
      script.insert(script.end(), {Peer::Expect("RETR f"), Peer::Reply("150 go"), Peer::ConnectData(),
                                   Peer::SendData(served), Peer::CloseData(), Peer::Reply("226 done")});
      sent.push_back("RETR f");
    }
    Peer peer(script);
    TIdFTP client;
    AimAt(client, peer);
    client.Connect(false);
    if (c.outcome == kExists) {
      EXPECT_THROW(client.Download("f", local, c.can_overwrite, c.restart), ftp::EIdFTPFileAlreadyExists);
      EXPECT_EQ(test_support::ReadFile(local), "old");
    } else {
      client.Download("f", local, c.can_overwrite, c.restart);
      EXPECT_EQ(test_support::ReadFile(local), c.outcome == kAppended ? "oldNEW" : "whole file");
    }
    EXPECT_TRUE(peer.WaitFinished());
    EXPECT_EQ(peer.Error(), "");
    EXPECT_EQ(WithoutPorts(peer.Transcript()), sent);
  }
}

TEST(FtpClientTransferTest, ARefusedDownloadLeavesTheCreatedFileEmpty) {
  test_support::TempDir dir;
  Peer peer({Peer::Reply("220 hi"), Peer::ExpectPort(), Peer::Expect("RETR gone"), Peer::Reply("550 gone")});
  TIdFTP client;
  AimAt(client, peer);
  client.Connect(false);
  EXPECT_THROW(client.Download("gone", dir.File("gone"), true), EIdProtocolReplyError);
  EXPECT_EQ(test_support::ReadFile(dir.File("gone")), "");
  EXPECT_THROW(client.Download("gone", dir.File("no/such/folder/x"), true), platform::EFCreateError);
}

TEST(FtpClientListTest, ListingsAreSplitIntoLinesAndParsedOnDemand) {
  const std::string unix_lines =
      "total 2\r\n"
      "drwxr-xr-x 2 ftp ftp 4096 Mar  5  2020 sub\r\n"
      "-rw-r--r-- 1 ftp ftp 1234 Mar  5  2020 version.ini\r\n";
  Peer peer(Join({{Peer::Reply("220 hi")},
                  Open(false, "LIST"),
                  {Peer::SendData(unix_lines), Peer::CloseData(), Peer::Reply("226 done")},
                  Open(false, "NLST  -a"),
                  {Peer::SendData(std::string("a\r\nb\nc\rd\r\n\re\0f\r\n", 16)), Peer::CloseData(),
                   Peer::Reply("226 done")},
                  {Peer::ExpectPort(), Peer::Expect("LIST empty"), Peer::Reply("450 no files")},
                  Open(false, "LIST"),
                  {Peer::CloseData(), Peer::Reply("226 done")}}));
  TIdFTP client;
  AimAt(client, peer);
  std::vector<std::string> checked;
  client.OnCheckListFormat = [&](TIdFTP*, const std::string& line, ftp::TIdFTPListFormat& format) {
    checked.push_back(line);
    EXPECT_EQ(format, ftp::flfUnix);
  };
  client.Connect(false);

  Lines lines = {"stale"};
  client.ListFolder(&lines);
  EXPECT_EQ(lines, (Lines{"total 2", "drwxr-xr-x 2 ftp ftp 4096 Mar  5  2020 sub",
                          "-rw-r--r-- 1 ftp ftp 1234 Mar  5  2020 version.ini"}));
  EXPECT_EQ(client.RawListing(), lines);
  ftp::TIdFTPListItems& parsed = client.ParsedListing();
  ASSERT_EQ(parsed.Count(), 2);
  EXPECT_EQ(parsed.Items(0).EntryName, "sub");
  EXPECT_EQ(parsed.Items(0).EntryKind, ftp::litDirectory);
  EXPECT_EQ(parsed.Items(1).EntryName, "version.ini");
  EXPECT_EQ(parsed.Items(1).EntrySize, 1234);
  EXPECT_EQ(&client.ParsedListing(), &parsed);
  EXPECT_EQ(checked, (Lines{"total 2"}));

  client.ListFolder(nullptr, " -a ", false);
  EXPECT_EQ(client.RawListing(), (Lines{"a", "b", "c", "d", "", "e"}));

  // A refused listing keeps the previous one.
  EXPECT_THROW(client.ListFolder(nullptr, "empty"), EIdProtocolReplyError);
  EXPECT_EQ(client.RawListing(), (Lines{"a", "b", "c", "d", "", "e"}));

  checked.clear();
  client.ListFolder(nullptr);
  EXPECT_TRUE(client.RawListing().empty());
  EXPECT_EQ(client.ParsedListing().Count(), 0);
  EXPECT_TRUE(checked.empty());
  EXPECT_EQ(peer.Error(), "");
}

TEST(FtpClientListTest, AListingObjectOfTheHandlersOwnIsUsedAndOwned) {
  Peer peer(Join({{Peer::Reply("220 hi")}, Open(true, "LIST"),
                  {Peer::SendData("custom line\r\n"), Peer::CloseData(), Peer::Reply("226 done")}}));
  TIdFTP client;
  AimAt(client, peer);
  client.Passive = true;
  ftp::TIdFTPListItems* made = nullptr;
  client.OnCreateFTPList = [&](TIdFTP*, std::unique_ptr<ftp::TIdFTPListItems>& list) {
    list = std::make_unique<ftp::TIdFTPListItems>();
    made = list.get();
  };
  client.OnCheckListFormat = [](TIdFTP*, const std::string&, ftp::TIdFTPListFormat& format) {
    format = ftp::flfCustom;
  };
  client.Connect(false);
  client.ListFolder(nullptr);
  client.SetOnParseCustomListFormat([](ftp::TIdFTPListItem& item) { item.EntryName = "from " + item.RawLine; });
  ftp::TIdFTPListItems& parsed = client.ParsedListing();
  EXPECT_EQ(&parsed, made);
  EXPECT_EQ(parsed.DetectedFormat, ftp::flfCustom);
  // Parsed before the handler was set: the line failed. With it, it parses.
  EXPECT_EQ(parsed.Count(), 0);
  parsed.ParseListing(client.RawListing());
  ASSERT_EQ(parsed.Count(), 1);
  EXPECT_EQ(parsed.Items(0).EntryName, "from custom line");
}

TEST(FtpClientListTest, HugeListingsAreBounded) {
  std::string million;
  million.reserve(48u * 1000000u);
  for (int i = 0; i < 1000000; ++i) million += "-rw-r--r-- 1 u g 5 Jan  1  2020 f" + std::to_string(i) + "\r\n";
  Peer peer(Join({{Peer::Reply("220 hi")},
                  Open(false, "LIST"),
                  {Peer::SendData(million), Peer::CloseData(), Peer::Reply("226 done")},
                  Open(false, "LIST"),
                  {Peer::SendData(std::string(100000, 'x')), Peer::Expect("NOOP"), Peer::Reply("426 closed"),
                   Peer::Reply("226 aborted")}}));
  TIdFTP client;
  AimAt(client, peer);
  client.Connect(false);
  client.ListFolder(nullptr);
  ASSERT_EQ(client.RawListing().size(), 1000000u);
  ftp::TIdFTPListItems& parsed = client.ParsedListing();
  ASSERT_EQ(parsed.Count(), 1000000);
  EXPECT_EQ(parsed.Items(999999).EntryName, "f999999");

  client.MaxListingBytes = 1000;
  StatusLog log;
  log.Attach(client);
  EXPECT_THROW(client.ListFolder(nullptr), ftp::EIdFTPListingTooLong);
  EXPECT_EQ(log.entries, (decltype(log.entries){kStarting, kComplete}));
  EXPECT_EQ(client.DataConnection(), nullptr);
  EXPECT_EQ(client.RawListing().size(), 1000000u);
  // The closing replies are still on their way; they are read as the next
  // command's.
  EXPECT_EQ(client.SendRawCommand("NOOP"), 426);
}

struct StallCase {
  const char* name;
  bool passive;
  Steps steps;  // after the greeting
};

TEST(FtpClientBoundedWaitTest, StalledTransfersEndByTheIdleLimit) {
  const std::vector<StallCase> cases = {
      {"the server never connects", false,
       {Peer::ExpectPort(), Peer::Expect("RETR f"), Peer::Reply("150 go"), Peer::StallForever()}},
      {"active data stops", false,
       {Peer::ExpectPort(), Peer::Expect("RETR f"), Peer::Reply("150 go"), Peer::ConnectData(),
        Peer::SendData("abc"), Peer::StallForever()}},
      {"passive data stops", true,
       {Peer::Pasv(), Peer::Expect("RETR f"), Peer::Reply("150 go"), Peer::AcceptData(), Peer::SendData("abc"),
        Peer::StallForever()}},
      {"no closing reply", false,
       {Peer::ExpectPort(), Peer::Expect("RETR f"), Peer::Reply("150 go"), Peer::ConnectData(),
        Peer::SendData("abc"), Peer::CloseData(), Peer::StallForever()}},
      {"426 without ABOR and no second reply", false,
       {Peer::ExpectPort(), Peer::Expect("RETR f"), Peer::Reply("150 go"), Peer::ConnectData(),
        Peer::SendData("abc"), Peer::CloseData(), Peer::Reply("426 cut off"), Peer::StallForever()}},
  };
  for (const StallCase& c : cases) {
    SCOPED_TRACE(c.name);
    Peer peer(Join({{Peer::Reply("220 hi")}, c.steps}));
    TIdFTP client;
    AimAt(client, peer);
    client.Passive = c.passive;
    client.IdleLimit = 500;
    client.Connect(false);
    platform::MemoryStream received;
    const auto start = Clock::now();
    EXPECT_THROW(client.Download("f", received), net::EIdReadTimeout);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(20));
    EXPECT_EQ(client.DataConnection(), nullptr);
  }
}

TEST(FtpClientTheftTest, AnActiveDataConnectionFromAnotherHostIsRefused) {
  // The server answers from 127.0.0.2; a data connection comes from
  // 127.0.0.1, which is not the host the client talks to. The peer sees it
  // closed (an Error() otherwise), and the server's own never comes.
  Peer peer({Peer::Reply("220 hi"), Peer::ExpectPort(), Peer::Expect("RETR f"), Peer::Reply("150 go"),
             Peer::StrangerConnects("127.0.0.1", "forged")},
            "127.0.0.2");
  TIdFTP client;
  AimAt(client, peer);
  client.IdleLimit = 500;
  client.Connect(false);
  platform::MemoryStream received;
  EXPECT_THROW(client.Download("f", received), net::EIdReadTimeout);
  EXPECT_EQ(received.Data(), "");
  EXPECT_TRUE(peer.WaitFinished());
}

TEST(FtpClientTheftTest, APassiveReplyNamingAnotherHostConnectsToTheServerItself) {
  test_support::PasvOptions elsewhere;
  elsewhere.name_address = "127.0.0.9";
  Peer peer({Peer::Reply("220 hi"), Peer::Pasv(elsewhere), Peer::Expect("RETR f"), Peer::Reply("150 go"),
             Peer::AcceptData(), Peer::SendData("genuine"), Peer::CloseData(), Peer::Reply("226 done")});
  TIdFTP client;
  AimAt(client, peer);
  client.Passive = true;
  client.Connect(false);
  platform::MemoryStream received;
  client.Download("f", received);
  EXPECT_EQ(received.Data(), "genuine");
  EXPECT_EQ(peer.Error(), "");
}

TEST(FtpClientTransferTest, APassivePortOfZeroFailsInTheTransport) {
  test_support::PasvOptions zero;
  zero.name_port = 0;
  Peer peer({Peer::Reply("220 hi"), Peer::Pasv(zero), Peer::Expect("NOOP"), Peer::Reply("200 ok")});
  TIdFTP client;
  AimAt(client, peer);
  client.Passive = true;
  StatusLog log;
  log.Attach(client);
  client.Connect(false);
  platform::MemoryStream received;
  EXPECT_THROW(client.Download("f", received), net::EIdSocketError);
  EXPECT_EQ(log.entries, (decltype(log.entries){kStarting, kComplete}));
  EXPECT_EQ(client.DataConnection(), nullptr);
  EXPECT_EQ(client.SendRawCommand("NOOP"), 200);
}

TEST(FtpClientTransferTest, NeitherTheTypeNorASecondTransferDuringATransfer) {
  Peer peer(Join({{Peer::Reply("220 hi")}, Open(false, "RETR f"),
                  {Peer::SendData(Pattern(10000)), Peer::CloseData(), Peer::Reply("226 done"), Peer::Expect("TYPE A"),
                   Peer::Reply("200 ascii")}}));
  TIdFTP client;
  AimAt(client, peer);
  client.RecvBufferSize = 4096;
  std::string nested_transfer;
  client.OnWork = [&](net::TIdComponent*, net::TWorkMode, int32_t) {
    client.SetTransferType(ftp::ftASCII);
    try {
      client.ListFolder(nullptr);
    } catch (const ftp::EIdFTPTransferInProgress& e) {
      nested_transfer = e.what();
    }
  };
  client.Connect(false);
  platform::MemoryStream received;
  client.Download("f", received);
  EXPECT_EQ(client.TransferType(), ftp::ftBinary);
  EXPECT_EQ(nested_transfer, "A transfer is already in progress.");
  client.SetTransferType(ftp::ftASCII);
  EXPECT_EQ(client.TransferType(), ftp::ftASCII);
  EXPECT_TRUE(peer.WaitFinished());
  EXPECT_EQ(WithoutPorts(peer.Transcript()), (Lines{"PORT", "RETR f", "TYPE A"}));
}

}  // namespace
}  // namespace ftp_test
