// The connect thread: a close from the waiting thread that meets a connect
// as it finishes, failures that cross from the thread whole, and the host
// look-up that the connect's time-out bounds.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "fakes.h"
#include "net/anti_freeze.h"
#include "net/exceptions.h"
#include "net/io_handler.h"
#include "net/tcp_client.h"
#include "support/private_mount.h"
#include "support/tcp_peer.h"
#include "support/test_util.h"

namespace {

bool IsOpenDescriptor(int fd) { return ::fcntl(fd, F_GETFD) != -1; }

// A pipe whose ends are non-blocking: what a descriptor number freed under a
// connect would be handed to next, and a way to see a stray flag change.
struct NonBlockingPipe {
  int ends[2] = {-1, -1};
  NonBlockingPipe() { EXPECT_EQ(::pipe2(ends, O_NONBLOCK | O_CLOEXEC), 0); }
  ~NonBlockingPipe() {
    ::close(ends[0]);
    ::close(ends[1]);
  }
  bool StillNonBlocking() const {
    return (::fcntl(ends[0], F_GETFL) & O_NONBLOCK) != 0 && (::fcntl(ends[1], F_GETFL) & O_NONBLOCK) != 0;
  }
};

// A handle whose connect, once made, waits until released and then works on
// its socket once more (its local address), as the thread's own work after
// the connect does: the window in which a close may come.
class HeldHandle : public net::TIdSocketHandle {
 public:
  int Connect(int family) override {
    const int result = TIdSocketHandle::Connect(family);
    port_before = Port;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      connected_ = true;
      changed_.notify_all();
      changed_.wait(lock, [this] { return released_; });
    }
    RefreshLocal();
    port_after = Port;
    return result;
  }
  void WaitConnected() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return connected_; });
  }
  void Release() {
    std::lock_guard<std::mutex> lock(mutex_);
    released_ = true;
    changed_.notify_all();
  }
  int32_t port_before = 0;
  int32_t port_after = 0;

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool connected_ = false;
  bool released_ = false;
};

TEST(ConnectThread, ACloseAfterTheConnectWaitsUntilTheThreadIsDoneWithTheSocket) {
  testsupport::TcpPeer peer({testsupport::PeerStep::Stall()});
  HeldHandle handle;
  handle.Allocate();
  handle.SetRemote("127.0.0.1", peer.Port());
  const int socket = handle.SocketId();
  net::TIdConnectThread thread(&handle);
  thread.Start();
  handle.WaitConnected();

  // The waiting thread closes (its time-out, or a handler run meanwhile) and
  // then opens descriptors of its own, which would take a freed number.
  handle.ShutAndClose();
  NonBlockingPipe spare;
  EXPECT_NE(spare.ends[0], socket);
  EXPECT_NE(spare.ends[1], socket);
  handle.Release();
  thread.WaitFor();

  EXPECT_EQ(thread.Failure(), nullptr) << "the thread's work after the connect found its own socket";
  EXPECT_EQ(handle.port_after, handle.port_before);
  EXPECT_FALSE(thread.Succeeded()) << "closed under the connect: not a connection";
  EXPECT_FALSE(IsOpenDescriptor(socket)) << "the deferred close happened when the thread was done";
  EXPECT_TRUE(spare.StillNonBlocking());
  peer.Release();
}

// A listener that never accepts; its queue is drained now and then so the
// connects keep completing.
class Backlog {
 public:
  Backlog() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    ::inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
    EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    EXPECT_EQ(::listen(fd_, 256), 0);
    socklen_t length = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &length);
    port_ = ntohs(a.sin_port);
  }
  ~Backlog() {
    Drain();
    ::close(fd_);
  }
  int Port() const { return port_; }
  void Drain() {
    for (int s; (s = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) ::close(s);
  }

 private:
  int fd_ = -1;
  int port_ = 0;
};

// The same race left to chance, many times, with the close at a different
// moment each time: before the connect, during it, as it finishes, after it.
// ThreadSanitizer runs this too.
TEST(ConnectThread, ClosesRacingFinishingConnectsLeaveNoDescriptorBehindAndTouchNoOther) {
  Backlog backlog;
  const int descriptors = testsupport::OpenDescriptorCount();
  for (int round = 0; round < 300; ++round) {
    if (round % 32 == 0) backlog.Drain();
    net::TIdSocketHandle handle;
    handle.Allocate();
    handle.SetRemote("127.0.0.1", backlog.Port());
    net::TIdConnectThread thread(&handle);
    thread.Start();
    std::atomic<int> spin{0};
    while (spin.fetch_add(1, std::memory_order_relaxed) < (round % 40) * 500) {
    }
    handle.ShutAndClose();
    NonBlockingPipe spare;
    thread.WaitFor();
    EXPECT_EQ(thread.Failure(), nullptr) << round;
    EXPECT_TRUE(spare.StillNonBlocking()) << round;
  }
  EXPECT_EQ(testsupport::OpenDescriptorCount(), descriptors);
}

// ---- the host look-up under the connect thread ----

struct Client {
  net::TIdTCPClient client;
  std::vector<std::string> events;

  Client(const std::string& host, int port) {
    client.Host = host;
    client.Port = port;
    client.OnStatus = [this](net::TIdComponent*, net::TIdStatus, const std::string& text) { events.push_back(text); };
  }
};

// Name look-ups of this process ask a name server of the test's own on a
// loopback address: one that is silent (every look-up waits for the
// resolver's 30 s time-out) or none at all (every look-up fails at once).
class PrivateResolver {
 public:
  PrivateResolver(const std::string& address, bool silent) {
    test_support::WriteFile(folder_.File("resolv.conf"), "nameserver " + address + "\noptions timeout:30 attempts:1\n");
    if (silent) {
      server_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_port = htons(53);
      ::inet_pton(AF_INET, address.c_str(), &a.sin_addr);
      if (::bind(server_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) why_ = "cannot bind " + address + ":53";
    }
    if (why_.empty()) mount_ = test_support::PrivateMount::BindFile(folder_.File("resolv.conf"), "/etc/resolv.conf", why_);
  }
  ~PrivateResolver() {
    if (server_ >= 0) ::close(server_);
  }
  bool Ready() const { return mount_ != nullptr; }
  const std::string& WhyNot() const { return why_; }

 private:
  test_support::TempDir folder_;
  int server_ = -1;
  std::string why_;
  std::unique_ptr<test_support::PrivateMount> mount_;
};

TEST(ConnectLookUp, AStalledLookUpEndsWithTheConnectsTimeOut) {
  PrivateResolver resolver("127.0.0.205", /*silent=*/true);
  if (!resolver.Ready()) GTEST_SKIP() << resolver.WhyNot();
  nettest::CountingWindow window;
  net::TIdAntiFreeze anti_freeze;
  anti_freeze.SetPendingInput(&window);
  anti_freeze.IdleTimeOut = 250;
  Client c("stalled-lookup.test", 21);
  int socket = -1;
  window.on_process = [&] {
    auto* handler = dynamic_cast<net::TIdIOHandlerSocket*>(c.client.IOHandler());
    if (handler != nullptr && handler->SocketBinding() != nullptr) socket = handler->SocketBinding()->SocketId();
  };
  try {
    c.client.Connect(1000);
    FAIL() << "connected";
  } catch (const net::EIdConnectTimeout& e) {
    EXPECT_STREQ(e.what(), "Connect timed out.");
  }
  // As any time-out of 1000 ms: seven slices, then the last 125 ms.
  EXPECT_EQ(window.process_all, 7);
  EXPECT_EQ(c.events, (std::vector<std::string>{"Resolving hostname stalled-lookup.test."}));
  EXPECT_FALSE(c.client.Connected());
  ASSERT_GE(socket, 0);
  EXPECT_FALSE(IsOpenDescriptor(socket)) << "the socket closes with the time-out, not with the look-up";
}

struct LookUpFailureCase {
  const char* name;
  bool anti_freeze;
  int32_t timeout;
};

class FailedLookUp : public testing::TestWithParam<LookUpFailureCase> {};

TEST_P(FailedLookUp, IsTheSameSocketErrorOnTheConnectThreadAsWithoutIt) {
  PrivateResolver resolver("127.0.0.206", /*silent=*/false);
  if (!resolver.Ready()) GTEST_SKIP() << resolver.WhyNot();
  nettest::CountingWindow window;
  std::unique_ptr<net::TIdAntiFreeze> anti_freeze;
  if (GetParam().anti_freeze) {
    anti_freeze = std::make_unique<net::TIdAntiFreeze>();
    anti_freeze->SetPendingInput(&window);
  }
  Client c("no-such-host.test", 21);
  try {
    c.client.Connect(GetParam().timeout);
    FAIL() << "connected";
  } catch (const net::EIdSocketError& e) {
    EXPECT_EQ(e.LastError, 11001);
    EXPECT_EQ(std::string(e.what()).rfind("Socket Error # 11001\r\n", 0), 0u) << e.what();
  }
  EXPECT_EQ(c.events, (std::vector<std::string>{"Resolving hostname no-such-host.test."}));
  EXPECT_FALSE(c.client.Connected());
}

INSTANTIATE_TEST_SUITE_P(Cases, FailedLookUp,
                         testing::Values(LookUpFailureCase{"Plain", false, net::TimeoutDefault},
                                         LookUpFailureCase{"KeepResponsive", true, net::TimeoutDefault},
                                         LookUpFailureCase{"WithTimeOut", false, 20000}),
                         [](const testing::TestParamInfo<LookUpFailureCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
