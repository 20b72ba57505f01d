// The client over real loopback sockets against scripted peers.
#include "net/tcp_client.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "fakes.h"
#include "net/anti_freeze.h"
#include "net/exceptions.h"
#include "net/io_handler.h"
#include "platform/stream.h"
#include "support/tcp_peer.h"

namespace {

using testsupport::PeerStep;
using testsupport::TcpPeer;

struct Client {
  net::TIdTCPClient client;
  std::vector<std::string> events;

  explicit Client(int port, const std::string& host = "127.0.0.1") {
    client.Host = host;
    client.Port = port;
    client.OnStatus = [this](net::TIdComponent* sender, net::TIdStatus, const std::string& text) {
      events.push_back((sender == &client ? "client: " : "handler: ") + text);
    };
    client.OnConnected = [this](net::TIdComponent*) { events.push_back("OnConnected"); };
    client.OnDisconnected = [this](net::TIdComponent*) { events.push_back("OnDisconnected"); };
  }
};

// A port on which nothing listens: bound once, then released.
int ClosedPort() {
  net::TIdSocketHandle handle;
  handle.Allocate();
  handle.IP = "127.0.0.1";
  handle.BindLocal();
  return handle.Port;
}

TEST(Connect, StatusSequenceForAHostName) {
  TcpPeer peer({});
  Client c(peer.Port(), "localhost");
  c.client.Connect();
  EXPECT_TRUE(c.client.Connected());
  EXPECT_EQ(c.events, (std::vector<std::string>{"handler: Resolving hostname localhost.",
                                                "handler: Connecting to 127.0.0.1.", "client: Connected.",
                                                "OnConnected"}));
  c.events.clear();
  c.client.Disconnect();
  EXPECT_EQ(c.events,
            (std::vector<std::string>{"client: Disconnecting.", "OnDisconnected", "client: Disconnected."}));
  EXPECT_EQ(c.client.IOHandler(), nullptr);
}

TEST(Connect, DottedAddressIsNotResolvedAndOnStatusIsCopiedOnce) {
  TcpPeer peer({});
  Client c(peer.Port());
  c.client.Connect();
  EXPECT_EQ(c.events,
            (std::vector<std::string>{"handler: Connecting to 127.0.0.1.", "client: Connected.", "OnConnected"}));
}

TEST(Connect, AlreadyConnectedLeavesTheConnectionOpen) {
  TcpPeer peer({});
  Client c(peer.Port());
  c.client.Connect();
  try {
    c.client.Connect();
    FAIL();
  } catch (const net::EIdAlreadyConnected& e) {
    EXPECT_STREQ(e.what(), "Already connected.");
  }
  EXPECT_TRUE(c.client.Connected());
}

struct RefusedCase {
  const char* name;
  bool anti_freeze;
  int32_t timeout;
};

// With or without the connect thread, the refusal is the same socket error.
class RefusedConnect : public testing::TestWithParam<RefusedCase> {};

TEST_P(RefusedConnect, GivesTheWindowsSocketsErrorAsWithoutAThread) {
  nettest::CountingWindow window;
  std::unique_ptr<net::TIdAntiFreeze> anti_freeze;
  if (GetParam().anti_freeze) {
    anti_freeze = std::make_unique<net::TIdAntiFreeze>();
    anti_freeze->SetPendingInput(&window);
  }
  Client c(ClosedPort());
  try {
    c.client.Connect(GetParam().timeout);
    FAIL() << "connected";
  } catch (const net::EIdSocketError& e) {
    EXPECT_EQ(e.LastError, 10061);
    EXPECT_STREQ(e.what(), "Socket Error # 10061\r\nConnection refused.");
  }
  EXPECT_FALSE(c.client.Connected());
  EXPECT_TRUE(c.client.PeerClosed());
  EXPECT_TRUE(c.client.OwnsIOHandler());
}

INSTANTIATE_TEST_SUITE_P(Cases, RefusedConnect,
                         testing::Values(RefusedCase{"Plain", false, net::TimeoutDefault},
                                         RefusedCase{"ZeroIsDefault", false, 0},
                                         RefusedCase{"KeepResponsive", true, net::TimeoutDefault},
                                         RefusedCase{"WithTimeOut", false, 20000},
                                         RefusedCase{"Infinite", false, net::TimeoutInfinite}),
                         [](const testing::TestParamInfo<RefusedCase>& info) { return std::string(info.param.name); });

TEST(Connect, AfterAFailureTheSameOwnedHandlerConnects) {
  TcpPeer peer({});
  Client c(ClosedPort());
  EXPECT_THROW(c.client.Connect(), net::EIdSocketError);
  net::TIdIOHandler* handler = c.client.IOHandler();
  ASSERT_NE(handler, nullptr);
  c.client.Port = peer.Port();
  c.client.Connect();
  EXPECT_EQ(c.client.IOHandler(), handler);
  EXPECT_TRUE(c.client.Connected());
}

TEST(Connect, WithTimeOutSucceedsAfterOneSlice) {
  TcpPeer peer({PeerStep::Send("220 hi\r\n")});
  Client c(peer.Port());
  c.client.Connect(20000);
  EXPECT_EQ(c.client.ReadLine(), "220 hi");
  auto* handler = dynamic_cast<net::TIdIOHandlerSocket*>(c.client.IOHandler());
  ASSERT_NE(handler, nullptr);
  EXPECT_EQ(handler->SocketBinding()->RemotePort(), peer.Port());
  EXPECT_EQ(handler->SocketBinding()->IP, "127.0.0.1");
}

TEST(Connect, ConnectThreadWakesTheWaitingSliceWhenMade) {
  TcpPeer peer({PeerStep::Stall()});
  net::TIdSocketHandle handle;
  handle.Allocate();
  handle.SetRemote("127.0.0.1", peer.Port());
  net::TIdConnectThread thread(&handle);
  thread.Start();
  // A ten-minute slice: only the connect's wake-up brings this back in time.
  thread.SleepUnlessFinished(600000);
  EXPECT_TRUE(thread.Finished());
  thread.WaitFor();
  EXPECT_TRUE(thread.Succeeded());
  handle.ShutAndClose();
  peer.Release();
}

struct TimeoutCase {
  const char* name;
  int32_t idle;       // 0: no keep-responsive component
  int32_t timeout;
  int slices;         // how often the window was kept responsive
};

class TimedOutConnect : public testing::TestWithParam<TimeoutCase> {};

TEST_P(TimedOutConnect, ClosesTheSocketAndLeaksNothing) {
  testsupport::UnansweredListener listener;
  if (!listener.Blocks()) GTEST_SKIP() << "this kernel completes or refuses connects to a full queue";
  nettest::CountingWindow window;
  std::unique_ptr<net::TIdAntiFreeze> anti_freeze;
  if (GetParam().idle > 0) {
    anti_freeze = std::make_unique<net::TIdAntiFreeze>();
    anti_freeze->SetPendingInput(&window);
    anti_freeze->IdleTimeOut = GetParam().idle;
  }
  const int descriptors = testsupport::OpenDescriptorCount();
  const int threads = testsupport::ThreadCount();
  {
    Client c(listener.Port());
    try {
      c.client.Connect(GetParam().timeout);
      FAIL() << "connected";
    } catch (const net::EIdConnectTimeout& e) {
      EXPECT_STREQ(e.what(), "Connect timed out.");
    }
    EXPECT_FALSE(c.client.Connected());
    EXPECT_EQ(window.process_all, GetParam().slices);
    EXPECT_EQ(testsupport::ThreadCount(), threads) << "the connect thread outlived Connect";
  }
  EXPECT_EQ(testsupport::OpenDescriptorCount(), descriptors);
}

// 1000 ms in slices of 125 ms: seven slices, then the last 125 ms; with an
// IdleTimeOut of 100 the slices are 100 ms.
INSTANTIATE_TEST_SUITE_P(Cases, TimedOutConnect,
                         testing::Values(TimeoutCase{"Slices125", 250, 1000, 7},
                                         TimeoutCase{"Slices100", 100, 1000, 9},
                                         TimeoutCase{"ShorterThanASlice", 250, 50, 0},
                                         TimeoutCase{"NoComponent", 0, 300, 0}),
                         [](const testing::TestParamInfo<TimeoutCase>& info) { return std::string(info.param.name); });

TEST(Connect, CloseByAWindowHandlerEndsAPendingConnect) {
  testsupport::UnansweredListener listener;
  if (!listener.Blocks()) GTEST_SKIP() << "this kernel completes or refuses connects to a full queue";
  nettest::CountingWindow window;
  net::TIdAntiFreeze anti_freeze;
  anti_freeze.SetPendingInput(&window);
  Client c(listener.Port());
  window.on_process = [&] {
    if (window.process_all == 2) c.client.Disconnect();
  };
  const int descriptors = testsupport::OpenDescriptorCount();
  // Without the close this would wait for two minutes.
  EXPECT_THROW(c.client.Connect(net::TimeoutInfinite), net::EIdClosedSocket);
  EXPECT_FALSE(c.client.Connected());
  EXPECT_EQ(c.client.IOHandler(), nullptr);
  EXPECT_LE(testsupport::OpenDescriptorCount(), descriptors);
}

TEST(Connect, BoundAddressIsUsed) {
  TcpPeer peer({PeerStep::Stall()}, "127.0.0.31");
  Client c(peer.Port(), "127.0.0.31");
  c.client.BoundIP = "127.0.0.32";
  c.client.Connect();
  auto* handler = dynamic_cast<net::TIdIOHandlerSocket*>(c.client.IOHandler());
  EXPECT_EQ(handler->SocketBinding()->IP, "127.0.0.32");
  peer.Release();
}

struct StreamCase {
  size_t bytes;
  int32_t block;
};

class StreamUntilClose : public testing::TestWithParam<StreamCase> {};

TEST_P(StreamUntilClose, ArrivesByteExactWithWorkPerFullBlock) {
  const std::string data = testsupport::PatternBytes(GetParam().bytes, static_cast<uint32_t>(GetParam().bytes));
  TcpPeer peer({PeerStep::Send(data), PeerStep::Close()});
  Client c(peer.Port());
  c.client.RecvBufferSize = GetParam().block;
  std::vector<int32_t> counts;
  int begins = 0;
  int ends = 0;
  c.client.OnWorkBegin = [&](net::TIdComponent* sender, net::TWorkMode mode, int32_t max) {
    EXPECT_EQ(sender, &c.client);
    EXPECT_EQ(mode, net::wmRead);
    EXPECT_EQ(max, 0);
    ++begins;
  };
  c.client.OnWork = [&](net::TIdComponent*, net::TWorkMode, int32_t count) { counts.push_back(count); };
  c.client.OnWorkEnd = [&](net::TIdComponent*, net::TWorkMode) { ++ends; };
  c.client.Connect();
  platform::MemoryStream stream;
  c.client.ReadIntoStream(stream, -1, true);
  EXPECT_TRUE(stream.Data() == data) << "stream differs, " << stream.Data().size() << " bytes";
  EXPECT_EQ(begins, 1);
  EXPECT_EQ(ends, 1);
  const size_t full = GetParam().bytes / static_cast<size_t>(GetParam().block);
  ASSERT_EQ(counts.size(), full);
  for (size_t i = 0; i < full; ++i) EXPECT_EQ(counts[i], static_cast<int32_t>((i + 1) * GetParam().block));
  EXPECT_FALSE(c.client.Connected());
}

INSTANTIATE_TEST_SUITE_P(Sizes, StreamUntilClose,
                         testing::Values(StreamCase{0, 8192}, StreamCase{1, 8192}, StreamCase{8192, 8192},
                                         StreamCase{20000, 8192}, StreamCase{3 * 1024 * 1024 + 17, 8192},
                                         StreamCase{5 * 1024 * 1024, 32768}, StreamCase{100000, 1}));

TEST(Read, CountedBlockAndLinesFromARealPeer) {
  const std::string block = testsupport::PatternBytes(70000, 9);
  TcpPeer peer({PeerStep::Send("150 here\r\n"), PeerStep::Send(block), PeerStep::Dribble("226 done\r\n"),
                PeerStep::Receive(6), PeerStep::Close()});
  Client c(peer.Port());
  c.client.Connect();
  EXPECT_EQ(c.client.ReadLine(), "150 here");
  platform::MemoryStream stream;
  c.client.ReadIntoStream(stream, static_cast<int64_t>(block.size()), false);
  EXPECT_TRUE(stream.Data() == block);
  EXPECT_EQ(c.client.ReadLine(), "226 done");
  c.client.WriteLine("QUIT");
  ASSERT_TRUE(peer.WaitScriptDone());
  EXPECT_EQ(peer.Received(), "QUIT\r\n");
}

TEST(Read, PeerClosingEarlyInACountedRead) {
  TcpPeer peer({PeerStep::Send(std::string(60, 'x')), PeerStep::Close()});
  Client c(peer.Port());
  c.client.RecvBufferSize = 8192;
  c.client.Connect();
  platform::MemoryStream stream;
  EXPECT_THROW(c.client.ReadIntoStream(stream, 100, false), net::EIdConnClosedGracefully);
  EXPECT_EQ(stream.Size(), 0);
  EXPECT_EQ(c.client.ReceivedData().Size(), 60);
  EXPECT_EQ(c.events.back(), "OnDisconnected");
}

TEST(Read, ResetWhileReadingIsASocketError) {
  TcpPeer peer({PeerStep::Send("partial"), PeerStep::Receive(4), PeerStep::Reset()});
  Client c(peer.Port());
  c.client.Connect();
  c.client.WriteLine("GO");
  platform::MemoryStream stream;
  try {
    c.client.ReadIntoStream(stream, 1000, false);
    FAIL();
  } catch (const net::EIdSocketError& e) {
    EXPECT_EQ(e.LastError, 10054);
    EXPECT_STREQ(e.what(), "Socket Error # 10054\r\nConnection reset by peer.");
  }
}

TEST(Read, StalledPeerTimesOut) {
  TcpPeer peer({PeerStep::Send("12"), PeerStep::Stall()});
  Client c(peer.Port());
  c.client.ReadTimeout = 200;
  c.client.Connect();
  EXPECT_THROW(c.client.ReadLine(), net::EIdReadTimeout);
  EXPECT_EQ(c.client.ReadLine("\n", 50), "");
  EXPECT_TRUE(c.client.LineTimedOut());
  EXPECT_TRUE(c.client.Connected());
  peer.Release();
}

TEST(Read, EndlessLineFromARealPeerIsBounded) {
  TcpPeer peer({PeerStep::Send(std::string(1 << 20, 'a')), PeerStep::Stall()});
  Client c(peer.Port());
  c.client.RecvBufferSize = 8192;
  c.client.Connect();
  EXPECT_THROW(c.client.ReadLine(), net::EIdReadLnMaxLineLengthExceeded);
  EXPECT_LE(c.client.ReceivedData().Size(), 16384 + 8192);
  peer.Release();
}

TEST(Write, PeerThatClosedGivesASocketErrorNotSigpipe) {
  // A SIGPIPE would end the test program: make sure it is not ignored here.
  struct sigaction previous {};
  struct sigaction fatal {};
  fatal.sa_handler = SIG_DFL;
  sigaction(SIGPIPE, &fatal, &previous);
  TcpPeer peer({PeerStep::Receive(5), PeerStep::Reset()});
  Client c(peer.Port());
  c.client.Connect();
  c.client.WriteLine("HEL");
  ASSERT_TRUE(peer.WaitScriptDone());
  const std::string chunk(65536, 'w');
  try {
    for (int i = 0; i < 1000; ++i) c.client.WriteBytes(chunk.data(), static_cast<int32_t>(chunk.size()));
    FAIL() << "every send succeeded";
  } catch (const net::EIdSocketError& e) {
    EXPECT_TRUE(e.LastError == 10054 || e.LastError == 10058 || e.LastError == 10053) << e.LastError;
  }
  EXPECT_FALSE(c.client.Connected());
  EXPECT_THROW(c.client.WriteLine("again"), net::EIdConnClosedGracefully);
  sigaction(SIGPIPE, &previous, nullptr);
}

TEST(KeepResponsive, SlowPeerLetsTheWindowWorkWhileReading) {
  nettest::CountingWindow window;
  net::TIdAntiFreeze anti_freeze;
  anti_freeze.SetPendingInput(&window);
  anti_freeze.IdleTimeOut = 20;
  TcpPeer peer({PeerStep::Stall(), PeerStep::Send("late\r\n")});
  Client c(peer.Port());
  c.client.Connect();
  // The peer speaks only once the window has been kept responsive.
  window.on_process = [&] {
    if (window.process_all == 3) peer.Release();
  };
  EXPECT_EQ(c.client.ReadLine(), "late");
  EXPECT_GE(window.process_all, 3);
}

}  // namespace
