// The data connection listener on loopback: binding, the accept and its
// ends (abort, close, time-out), and the refusal of strangers.
#include "ftp/simple_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "net/anti_freeze.h"
#include "net/exceptions.h"
#include "platform/stream.h"

namespace ftp {
namespace {

// A raw client socket bound to a chosen loopback source address.
class RawClient {
 public:
  RawClient(const std::string& source, const std::string& address, int port) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    inet_pton(AF_INET, source.c_str(), &local.sin_addr);
    EXPECT_EQ(bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, address.c_str(), &sa.sin_addr);
    connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
  }
  ~RawClient() { close(fd_); }
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  bool connected() const { return connected_; }
  void Send(const std::string& bytes) { send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL); }
  void ShutdownSend() { shutdown(fd_, SHUT_WR); }
  // True when the other side closed (end of stream or reset) within 30 s.
  bool SeesClose() {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, 30000) != 1) return false;
    char c;
    return recv(fd_, &c, 1, 0) <= 0;
  }

 private:
  int fd_ = -1;
  bool connected_ = false;
};

TEST(SimpleServerTest, ListensOnTheBoundAddressAndAChosenPort) {
  TIdSimpleServer listener;
  listener.BoundIP = "127.0.0.1";
  EXPECT_EQ(listener.SocketBinding(), nullptr);
  EXPECT_EQ(listener.ListenSocket(), net::Id_INVALID_SOCKET);
  listener.StartListening();
  ASSERT_NE(listener.SocketBinding(), nullptr);
  EXPECT_TRUE(listener.IsListening());
  EXPECT_EQ(listener.SocketBinding()->IP, "127.0.0.1");
  EXPECT_NE(listener.SocketBinding()->Port, 0);
  EXPECT_NE(listener.ListenSocket(), net::Id_INVALID_SOCKET);
}

TEST(SimpleServerTest, AcceptsOneConnectionReadsItAndClosesTheListener) {
  TIdSimpleServer listener;
  listener.BoundIP = "127.0.0.1";
  listener.StartListening();
  const int port = listener.SocketBinding()->Port;
  RawClient client("127.0.0.1", "127.0.0.1", port);
  ASSERT_TRUE(client.connected());
  client.Send("hello data");
  client.ShutdownSend();
  ASSERT_TRUE(listener.WaitForConnection());
  EXPECT_EQ(listener.ListenSocket(), net::Id_INVALID_SOCKET);
  EXPECT_EQ(listener.SocketBinding()->RemoteIP(), "127.0.0.1");

  // The port no longer takes connections.
  RawClient second("127.0.0.1", "127.0.0.1", port);
  EXPECT_FALSE(second.connected());

  platform::MemoryStream received;
  listener.ReadIntoStream(received, -1, true);
  EXPECT_EQ(received.Data(), "hello data");

  // Back to new: the accepted connection is dropped.
  listener.StopListening();
  EXPECT_EQ(listener.SocketBinding(), nullptr);
  EXPECT_FALSE(listener.IsListening());
  EXPECT_TRUE(client.SeesClose());
}

TEST(SimpleServerTest, WaitStartsListeningFirst) {
  TIdSimpleServer listener;
  listener.BoundIP = "127.0.0.1";
  listener.AbortWait();  // cleared by the reset of a new listener
  listener.AcceptTimeout = 500;
  // Nobody connects: the listening is started and the wait ends by its limit.
  EXPECT_THROW(listener.WaitForConnection(), net::EIdReadTimeout);
  EXPECT_EQ(listener.ListenSocket(), net::Id_INVALID_SOCKET);
}

TEST(SimpleServerTest, AbortBeforeTheWaitGivesFalseAndClosesTheListener) {
  TIdSimpleServer listener;
  listener.BoundIP = "127.0.0.1";
  listener.StartListening();
  const int port = listener.SocketBinding()->Port;
  listener.AbortWait();
  EXPECT_FALSE(listener.WaitForConnection());
  EXPECT_EQ(listener.ListenSocket(), net::Id_INVALID_SOCKET);
  RawClient late("127.0.0.1", "127.0.0.1", port);
  EXPECT_FALSE(late.connected());
}

TEST(SimpleServerTest, BindingABusyPortFailsAndLeavesNoHandler) {
  TIdSimpleServer first;
  first.BoundIP = "127.0.0.1";
  first.StartListening();
  TIdSimpleServer second;
  second.BoundIP = "127.0.0.1";
  second.BoundPort = first.SocketBinding()->Port;
  EXPECT_THROW(second.StartListening(), net::EIdCouldNotBindSocket);
  EXPECT_EQ(second.SocketBinding(), nullptr);
  EXPECT_EQ(second.ListenSocket(), net::Id_INVALID_SOCKET);
  EXPECT_FALSE(second.IsListening());
}

TEST(SimpleServerTest, ConnectionsFromOtherHostsAreRefusedAndTheWaitGoesOn) {
  TIdSimpleServer listener;
  listener.BoundIP = "127.0.0.1";
  listener.AllowedPeerIP = "127.0.0.1";
  listener.StartListening();
  const int port = listener.SocketBinding()->Port;
  // Both connect before the wait; the stranger is first in the queue.
  RawClient stranger("127.0.0.2", "127.0.0.1", port);
  ASSERT_TRUE(stranger.connected());
  stranger.Send("forged");
  RawClient server("127.0.0.1", "127.0.0.1", port);
  ASSERT_TRUE(server.connected());
  server.Send("genuine");
  server.ShutdownSend();

  ASSERT_TRUE(listener.WaitForConnection());
  EXPECT_TRUE(stranger.SeesClose());
  platform::MemoryStream received;
  listener.ReadIntoStream(received, -1, true);
  EXPECT_EQ(received.Data(), "genuine");
}

TEST(SimpleServerTest, OnlyStrangersEndTheWaitByItsLimit) {
  TIdSimpleServer listener;
  listener.BoundIP = "127.0.0.1";
  listener.AllowedPeerIP = "127.0.0.1";
  listener.AcceptTimeout = 500;
  listener.StartListening();
  RawClient stranger("127.0.0.3", "127.0.0.1", listener.SocketBinding()->Port);
  ASSERT_TRUE(stranger.connected());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_THROW(listener.WaitForConnection(), net::EIdReadTimeout);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  EXPECT_TRUE(stranger.SeesClose());
}

// Runs a callback each time the keep-responsive hook processes input.
class CallbackInput : public net::TIdPendingInput {
 public:
  std::function<void()> callback;
  int calls = 0;
  void ProcessAllPendingInput() override {
    ++calls;
    if (callback) callback();
  }
  void ProcessOnePendingInput() override { ProcessAllPendingInput(); }
};

TEST(SimpleServerTest, TheWaitKeepsTheInterfaceResponsiveAndEndsWhenTheListenerIsClosed) {
  net::TIdAntiFreeze anti_freeze;
  anti_freeze.IdleTimeOut = 20;
  CallbackInput input;
  anti_freeze.SetPendingInput(&input);
  TIdSimpleServer listener;
  listener.BoundIP = "127.0.0.1";
  listener.AcceptPollTime = 50;
  input.callback = [&] {
    if (input.calls == 5) listener.DropConnection();
  };
  EXPECT_THROW(listener.WaitForConnection(), net::EIdConnClosedGracefully);
  EXPECT_EQ(input.calls, 5);
}

TEST(SimpleServerTest, AbortWaitFromTheInterfaceEndsTheWait) {
  net::TIdAntiFreeze anti_freeze;
  anti_freeze.IdleTimeOut = 20;
  CallbackInput input;
  anti_freeze.SetPendingInput(&input);
  TIdSimpleServer listener;
  listener.BoundIP = "127.0.0.1";
  listener.StartListening();
  input.callback = [&] { listener.AbortWait(); };
  EXPECT_FALSE(listener.WaitForConnection());
  EXPECT_GE(input.calls, 1);
  EXPECT_EQ(listener.ListenSocket(), net::Id_INVALID_SOCKET);
}

}  // namespace
}  // namespace ftp
