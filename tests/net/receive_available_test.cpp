// Taking bytes that have already arrived without a readiness wait, over
// real loopback sockets: what the non-waiting receive gives, and that a
// component which processes input on every wait still sees those waits.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "fakes.h"
#include "net/anti_freeze.h"
#include "net/exceptions.h"
#include "net/io_handler.h"
#include "net/tcp_client.h"
#include "platform/stream.h"
#include "support/tcp_peer.h"

namespace {

using testsupport::PeerStep;
using testsupport::TcpPeer;
using Clock = std::chrono::steady_clock;
constexpr int kNothingYet = net::TIdIOHandler::kNothingYet;

// Calls ReceiveAvailable until it gives something other than kNothingYet,
// for at most 20 s.
int ReceiveWhenArrived(net::TIdIOHandler& handler, char* buffer, int32_t length) {
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  int n = kNothingYet;
  while ((n = handler.ReceiveAvailable(buffer, length)) == kNothingYet && Clock::now() < deadline) {
    std::this_thread::yield();
  }
  return n;
}

TEST(ReceiveAvailable, GivesWhatArrivedNothingYetWhileSilentZeroAtCloseNothingYetWithoutSocket) {
  TcpPeer peer({PeerStep::Send("abcdef"), PeerStep::Stall(), PeerStep::Close()});
  net::TIdTCPClient client;
  client.Host = "127.0.0.1";
  client.Port = peer.Port();
  client.Connect();
  net::TIdIOHandler& handler = *client.IOHandler();

  char buffer[16] = {};
  ASSERT_EQ(ReceiveWhenArrived(handler, buffer, 4), 4);  // never more than asked
  EXPECT_EQ(std::string(buffer, 4), "abcd");
  ASSERT_EQ(ReceiveWhenArrived(handler, buffer, sizeof buffer), 2);
  EXPECT_EQ(std::string(buffer, 2), "ef");
  // The peer is silent: the call comes back at once with nothing.
  EXPECT_EQ(handler.ReceiveAvailable(buffer, sizeof buffer), kNothingYet);

  peer.Release();
  EXPECT_EQ(ReceiveWhenArrived(handler, buffer, sizeof buffer), 0);  // orderly close
  handler.CloseHandler();  // no socket: left to the wait, which raises as before
  EXPECT_EQ(handler.ReceiveAvailable(buffer, sizeof buffer), kNothingYet);
}

TEST(FillInputBuffer, AStreamArrivesWholeAndInOrderInBlocks) {
  std::string data;
  for (int i = 0; i < 300000; ++i) data += static_cast<char>('a' + i * 7 % 26);
  TcpPeer peer({PeerStep::Send(data), PeerStep::Close()});
  net::TIdTCPClient client;
  client.Host = "127.0.0.1";
  client.Port = peer.Port();
  client.RecvBufferSize = 8192;
  int32_t last = 0;
  bool blocks = true;
  client.OnWork = [&](net::TIdComponent*, net::TWorkMode, int32_t count) {
    blocks = blocks && count == last + 8192;
    last = count;
  };
  client.Connect();
  platform::MemoryStream stream;
  client.ReadIntoStream(stream, -1, true);
  EXPECT_EQ(stream.Data(), data);
  EXPECT_TRUE(blocks);
  EXPECT_EQ(last, 300000 / 8192 * 8192);
}

TEST(FillInputBuffer, AComponentThatProcessesOnEveryWaitStillGetsTheReadableWait) {
  nettest::CountingWindow window;
  net::TIdAntiFreeze anti_freeze;
  anti_freeze.SetPendingInput(&window);
  anti_freeze.OnlyWhenIdle = false;
  anti_freeze.Active = false;
  TcpPeer peer({PeerStep::Send("one\r\n"), PeerStep::Stall()});
  net::TIdTCPClient client;
  client.Host = "127.0.0.1";
  client.Port = peer.Port();
  client.Connect();
  // The line is there before the read starts, so its wait ends readable.
  ASSERT_TRUE(client.IOHandler()->WaitReadable(20000));
  anti_freeze.Active = true;
  EXPECT_EQ(client.ReadLine(), "one");
  EXPECT_EQ(window.process_all, 1);
  peer.Release();
}

}  // namespace
