#include "net/socket_handle.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>
#include <vector>

#include "fakes.h"
#include "net/anti_freeze.h"
#include "net/exceptions.h"

namespace {

// A handle whose single readiness wait only records its time-out and says
// "not readable" (or "readable" from the given wait on), without waiting.
class RecordingHandle : public net::TIdSocketHandle {
 public:
  std::vector<int32_t> waits;
  size_t readable_from = 1000000;

 protected:
  bool SelectReadable(int32_t timeout) override {
    waits.push_back(timeout);
    return waits.size() > readable_from;
  }
};

// A socket bound to the given loopback address and port 0; gives its port.
int BindBlocker(const char* address, int& fd) {
  fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  ::inet_pton(AF_INET, address, &a.sin_addr);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t length = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
  return ntohs(a.sin_port);
}

struct SliceCase {
  int32_t idle;
  int32_t timeout;
  std::vector<int32_t> waits;
};

class WaitReadableSlicing : public testing::TestWithParam<SliceCase> {};

TEST_P(WaitReadableSlicing, RemainderFirstThenWholeSlicesEachFollowedByProcessing) {
  nettest::CountingWindow window;
  net::TIdAntiFreeze anti_freeze;
  anti_freeze.SetPendingInput(&window);
  anti_freeze.IdleTimeOut = GetParam().idle;
  RecordingHandle handle;
  handle.Allocate();
  EXPECT_FALSE(handle.WaitReadable(GetParam().timeout));
  EXPECT_EQ(handle.waits, GetParam().waits);
  EXPECT_EQ(window.process_all, static_cast<int>(GetParam().waits.size()));
}

INSTANTIATE_TEST_SUITE_P(Cases, WaitReadableSlicing,
                         testing::Values(SliceCase{250, 1000, {250, 250, 250, 250}},
                                         SliceCase{250, 600, {100, 250, 250}}, SliceCase{250, 250, {250}},
                                         SliceCase{250, 251, {1, 250}}, SliceCase{250, 0, {0}},
                                         SliceCase{100, 350, {50, 100, 100, 100}},
                                         // A slice of 0 would never end a finite wait.
                                         SliceCase{0, 3, {1, 1, 1}}));

TEST(WaitReadable, StopsAtTheSliceThatFindsData) {
  nettest::CountingWindow window;
  net::TIdAntiFreeze anti_freeze;
  anti_freeze.SetPendingInput(&window);
  RecordingHandle handle;
  handle.Allocate();
  handle.readable_from = 2;  // the third wait finds data
  EXPECT_TRUE(handle.WaitReadable(net::TimeoutInfinite));
  EXPECT_EQ(handle.waits, (std::vector<int32_t>{250, 250, 250}));
  // Only the idle waits let the window work (OnlyWhenIdle).
  EXPECT_EQ(window.process_all, 2);
}

TEST(WaitReadable, ProcessesAfterEveryWaitWhenNotOnlyWhenIdle) {
  nettest::CountingWindow window;
  net::TIdAntiFreeze anti_freeze;
  anti_freeze.SetPendingInput(&window);
  anti_freeze.OnlyWhenIdle = false;
  anti_freeze.ApplicationHasPriority = false;
  RecordingHandle handle;
  handle.Allocate();
  handle.readable_from = 1;
  EXPECT_TRUE(handle.WaitReadable(1000));
  EXPECT_EQ(window.process_one, 2);
  EXPECT_EQ(window.process_all, 0);
}

TEST(WaitReadable, NoSlicingWhenInactiveOrOffTheInterfaceThread) {
  nettest::CountingWindow window;
  net::TIdAntiFreeze anti_freeze;
  anti_freeze.SetPendingInput(&window);
  {
    RecordingHandle handle;
    handle.Allocate();
    anti_freeze.Active = false;
    EXPECT_FALSE(handle.WaitReadable(1000));
    EXPECT_EQ(handle.waits, std::vector<int32_t>{1000});
    anti_freeze.Active = true;
  }
  std::vector<int32_t> waits;
  std::thread other([&] {
    RecordingHandle handle;
    handle.Allocate();
    handle.WaitReadable(1000);
    waits = handle.waits;
  });
  other.join();
  EXPECT_EQ(waits, std::vector<int32_t>{1000});
  EXPECT_EQ(window.process_all, 0);
}

TEST(WaitReadable, ClosedHandleRaisesEvenWhenPolling) {
  net::TIdSocketHandle handle;
  EXPECT_THROW(handle.WaitReadable(0), net::EIdConnClosedGracefully);
  handle.Allocate();
  handle.ShutAndClose();
  try {
    handle.WaitReadable(0);
    FAIL();
  } catch (const net::EIdConnClosedGracefully& e) {
    EXPECT_STREQ(e.what(), "Connection Closed Gracefully.");
  }
}

TEST(WaitReadable, SocketClosedByAHandlerDuringTheWaitEndsIt) {
  nettest::CountingWindow window;
  net::TIdAntiFreeze anti_freeze;
  anti_freeze.SetPendingInput(&window);
  RecordingHandle handle;
  handle.Allocate();
  window.on_process = [&] { handle.ShutAndClose(); };
  EXPECT_THROW(handle.WaitReadable(net::TimeoutInfinite), net::EIdConnClosedGracefully);
  EXPECT_EQ(handle.waits.size(), 1u);
}

TEST(WaitReadable, RealSocketBecomesReadable) {
  int pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  // Adopt one end through Accept-free means: a handle that waits on it.
  class Adopted : public net::TIdSocketHandle {
   public:
    int fd = -1;

   protected:
    bool SelectReadable(int32_t timeout) override {
      std::vector<net::TIdStackSocketHandle> read{fd};
      return Stack().Select(&read, nullptr, nullptr, timeout) == 1;
    }
  } handle;
  handle.Allocate();
  handle.fd = pair[0];
  EXPECT_FALSE(handle.WaitReadable(0));
  ASSERT_EQ(::write(pair[1], "x", 1), 1);
  EXPECT_TRUE(handle.WaitReadable(20000));
  ::close(pair[0]);
  ::close(pair[1]);
}

TEST(BindLocal, PortZeroGivesTheChosenPortAndAnyAddress) {
  net::TIdSocketHandle handle;
  handle.Allocate();
  handle.BindLocal();
  EXPECT_EQ(handle.IP, "0.0.0.0");
  EXPECT_GT(handle.Port, 0);
}

TEST(BindLocal, PortRangeIsTriedFromTheTop) {
  int blocker = -1;
  const int top = BindBlocker("127.0.0.23", blocker);
  ASSERT_GT(top, 2);
  net::TIdSocketHandle handle;
  handle.Allocate();
  handle.IP = "127.0.0.23";
  handle.ClientPortMin = top - 2;
  handle.ClientPortMax = top;
  handle.BindLocal();
  EXPECT_EQ(handle.Port, top - 1);
  EXPECT_EQ(handle.IP, "127.0.0.23");

  // A port set is bound alone, range or not.
  net::TIdSocketHandle fixed;
  fixed.Allocate();
  fixed.IP = "127.0.0.23";
  fixed.Port = top;
  fixed.ClientPortMin = top - 2;
  fixed.ClientPortMax = top - 1;
  try {
    fixed.BindLocal();
    FAIL();
  } catch (const net::EIdCouldNotBindSocket& e) {
    EXPECT_STREQ(e.what(), "Could not bind socket. Address and port are already in use.");
  }

  net::TIdSocketHandle full;
  full.Allocate();
  full.IP = "127.0.0.23";
  full.ClientPortMin = top;
  full.ClientPortMax = top;
  try {
    full.BindLocal();
    FAIL();
  } catch (const net::EIdCanNotBindPortInRange& e) {
    EXPECT_EQ(std::string(e.what()), "Can not bind in port range (" + std::to_string(top) + " - " +
                                         std::to_string(top) + ")");
  }
  ::close(blocker);
}

TEST(BindLocal, InvertedRangeRaises) {
  net::TIdSocketHandle handle;
  handle.Allocate();
  handle.ClientPortMin = 5000;
  handle.ClientPortMax = 4000;
  try {
    handle.BindLocal();
    FAIL();
  } catch (const net::EIdInvalidPortRange& e) {
    EXPECT_STREQ(e.what(), "Invalid Port Range (5000 - 4000)");
  }
}

TEST(BindLocal, PortOutsideTheTcpRangeIsAnInvalidArgument) {
  net::TIdSocketHandle handle;
  handle.Allocate();
  handle.Port = 70000;
  try {
    handle.BindLocal();
    FAIL();
  } catch (const net::EIdSocketError& e) {
    EXPECT_EQ(e.LastError, 10022);
  }
}

// A listener on address, a client connected to it; Accept makes the third.
struct LoopbackPair {
  explicit LoopbackPair(const char* address) {
    listener.Allocate();
    listener.IP = address;
    listener.BindLocal();
    listener.ListenOn(15);
    client.Allocate();
    client.SetRemote(address, listener.Port);
    use.Stack().CheckSocketResult(client.Connect());
  }
  net::TIdStackUse use;
  net::TIdSocketHandle listener;
  net::TIdSocketHandle client;
};

TEST(SocketHandle, ListenAcceptAndAddresses) {
  LoopbackPair pair("127.0.0.24");
  net::TIdSocketHandle& listener = pair.listener;
  net::TIdSocketHandle& client = pair.client;
  EXPECT_EQ(client.RemoteIP(), "127.0.0.24");
  EXPECT_EQ(client.IP, "127.0.0.1");

  net::TIdSocketHandle accepted;
  ASSERT_TRUE(accepted.Accept(listener.SocketId()));
  EXPECT_TRUE(accepted.IsOpen());
  EXPECT_EQ(accepted.Port, listener.Port);
  EXPECT_EQ(accepted.RemotePort(), client.Port);

  ASSERT_EQ(client.SendBytes("ping", 4), 4);
  char buffer[8];
  ASSERT_TRUE(accepted.WaitReadable(20000));
  EXPECT_EQ(accepted.ReceiveBytes(buffer, sizeof buffer), 4);

  // Accepting on a socket that is no longer open is reported, not raised.
  const net::TIdStackSocketHandle old = listener.SocketId();
  listener.ShutAndClose();
  net::TIdSocketHandle late;
  EXPECT_FALSE(late.Accept(old));
  EXPECT_FALSE(late.IsOpen());
}

int IntOption(net::TIdStackSocketHandle socket, int option) {
  int value = 0;
  socklen_t length = sizeof value;
  ::getsockopt(socket, SOL_SOCKET, option, &value, &length);
  return value;
}

TEST(SocketHandle, WidenedReceiveWindowKeepsASingleByteReadable) {
  LoopbackPair pair("127.0.0.25");
  net::TIdSocketHandle accepted;
  ASSERT_TRUE(accepted.Accept(pair.listener.SocketId()));

  const int buffer_before = IntOption(accepted.SocketId(), SO_RCVBUF);
  accepted.WidenReceiveWindow(4 * 1024 * 1024);
  EXPECT_GT(IntOption(accepted.SocketId(), SO_RCVBUF), buffer_before);
  // The low-water mark is back at one byte: a lone byte still wakes the wait.
  EXPECT_EQ(IntOption(accepted.SocketId(), SO_RCVLOWAT), 1);
  ASSERT_EQ(pair.client.SendBytes("x", 1), 1);
  ASSERT_TRUE(accepted.WaitReadable(20000));
  char byte = 0;
  EXPECT_EQ(accepted.ReceiveBytes(&byte, 1), 1);

  accepted.ShutAndClose();
  accepted.WidenReceiveWindow(4 * 1024 * 1024);  // a closed handle: nothing
}

TEST(SocketHandle, ShutAndCloseClosesOnceAndForgetSocketNever) {
  net::TIdSocketHandle handle;
  handle.Allocate();
  const net::TIdStackSocketHandle id = handle.SocketId();
  handle.ShutAndClose();
  EXPECT_FALSE(handle.IsOpen());
  EXPECT_EQ(handle.SocketId(), id);
  handle.ShutAndClose();  // nothing

  handle.Allocate();
  handle.IP = "127.0.0.1";
  handle.Port = 99;
  handle.SetRemote("127.0.0.2", 21);
  const net::TIdStackSocketHandle kept = handle.SocketId();
  handle.ForgetSocket(false);
  EXPECT_EQ(handle.SocketId(), net::Id_INVALID_SOCKET);
  EXPECT_EQ(handle.IP, "127.0.0.1");
  EXPECT_EQ(handle.RemoteIP(), "");
  handle.ForgetSocket(true);
  EXPECT_EQ(handle.IP, "");
  EXPECT_EQ(handle.Port, 0);
  ::close(kept);  // forgotten, so ours to close
}

TEST(AntiFreeze, RegistersOnCreationAndClearsOnDestruction) {
  EXPECT_EQ(net::ActiveAntiFreeze(), nullptr);
  EXPECT_FALSE(net::TIdAntiFreezeBase::AntiFreezeInUse());
  {
    net::TIdAntiFreeze first;
    EXPECT_EQ(net::ActiveAntiFreeze(), &first);
    EXPECT_TRUE(net::TIdAntiFreezeBase::AntiFreezeInUse());
    first.Process();  // no window: nothing
    {
      net::TIdAntiFreeze second;
      EXPECT_EQ(net::ActiveAntiFreeze(), &second);
    }
    EXPECT_EQ(net::ActiveAntiFreeze(), nullptr);
  }
  net::TIdAntiFreezeBase::KeepResponsive(true);  // nothing registered: nothing
}

TEST(AntiFreeze, KeepResponsiveHonoursOnlyWhenIdleAndPriority) {
  nettest::CountingWindow window;
  net::TIdAntiFreeze anti_freeze;
  anti_freeze.SetPendingInput(&window);
  net::TIdAntiFreezeBase::KeepResponsive(false);
  EXPECT_EQ(window.process_all, 0);
  net::TIdAntiFreezeBase::KeepResponsive(true);
  EXPECT_EQ(window.process_all, 1);
  anti_freeze.OnlyWhenIdle = false;
  anti_freeze.ApplicationHasPriority = false;
  net::TIdAntiFreezeBase::KeepResponsive(false);
  EXPECT_EQ(window.process_one, 1);
  anti_freeze.Active = false;
  net::TIdAntiFreezeBase::KeepResponsive(true);
  EXPECT_EQ(window.process_all + window.process_one, 2);
}

}  // namespace
