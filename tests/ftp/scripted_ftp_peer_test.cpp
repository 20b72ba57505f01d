// The scripted peer itself, driven by a raw socket client.
#include "support/scripted_ftp_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace test_support {
namespace {

using Peer = ScriptedFtpPeer;
using Lines = std::vector<std::string>;

// A blocking client socket with bounded reads.
class RawSocket {
 public:
  RawSocket() = default;
  explicit RawSocket(int fd) : fd_(fd) {}
  RawSocket(const std::string& address, uint16_t port) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    inet_pton(AF_INET, address.c_str(), &sa.sin_addr);
    EXPECT_EQ(connect(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0) << address << ":" << port;
  }
  ~RawSocket() {
    if (fd_ >= 0) close(fd_);
  }
  RawSocket(RawSocket&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

  void SendLine(const std::string& line) {
    const std::string bytes = line + "\r\n";
    ASSERT_EQ(send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
  }
  // One line with its CR LF, or what arrived before the end.
  std::string ReadLine() {
    std::string line;
    char c = 0;
    while (ReadSome(&c, 1) == 1) {
      line.push_back(c);
      if (c == '\n') break;
    }
    return line;
  }
  // Everything until the peer closes.
  std::string ReadAll() {
    std::string all;
    char buffer[4096];
    ssize_t n;
    while ((n = ReadSome(buffer, sizeof buffer)) > 0) all.append(buffer, static_cast<size_t>(n));
    return all;
  }
  // 0 at the end, -1 on an error or after 30 s without a byte.
  ssize_t ReadSome(char* buffer, size_t size) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, 30000) != 1) return -1;
    return recv(fd_, buffer, size, 0);
  }
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
};

uint16_t PortOf227(const std::string& reply) {
  int h[4], p1, p2;
  const size_t open = reply.find('(');
  const char* numbers = reply.c_str() + (open == std::string::npos ? reply.rfind(' ') + 1 : open + 1);
  EXPECT_EQ(std::sscanf(numbers, "%d,%d,%d,%d,%d,%d", &h[0], &h[1], &h[2], &h[3], &p1, &p2), 6) << reply;
  return static_cast<uint16_t>(p1 * 256 + p2);
}

TEST(ScriptedFtpPeer, PlaysAPassiveDownloadAndRecordsTheCommands) {
  Peer peer({
      Peer::Send("220-Hello\r\n220 Ready\r\n"),  // two lines in one write
      Peer::Expect("USER anonymous"),
      Peer::Reply("331 Password"),
      Peer::ExpectPrefix("PASS "),
      Peer::Reply("230 In"),
      Peer::Pasv(),
      Peer::Expect("RETR a.bin"),
      Peer::Reply("150 Go"),
      Peer::SendData(std::string("abc\0def", 7)),
      Peer::CloseData(),
      Peer::Reply("226 Done"),
  });
  RawSocket control(peer.Address(), peer.Port());
  EXPECT_EQ(control.ReadLine(), "220-Hello\r\n");
  EXPECT_EQ(control.ReadLine(), "220 Ready\r\n");
  control.SendLine("USER anonymous");
  EXPECT_EQ(control.ReadLine(), "331 Password\r\n");
  control.SendLine("PASS secret");
  EXPECT_EQ(control.ReadLine(), "230 In\r\n");
  control.SendLine("PASV");
  const std::string pasv = control.ReadLine();
  EXPECT_EQ(pasv.rfind("227 Entering Passive Mode (127,0,0,1,", 0), 0u) << pasv;
  RawSocket data("127.0.0.1", PortOf227(pasv));
  control.SendLine("RETR a.bin");
  EXPECT_EQ(control.ReadLine(), "150 Go\r\n");
  EXPECT_EQ(data.ReadAll(), std::string("abc\0def", 7));
  EXPECT_EQ(control.ReadLine(), "226 Done\r\n");
  ASSERT_TRUE(peer.WaitFinished());
  control.SendLine("QUIT");
  ASSERT_TRUE(peer.WaitForLines(5));
  EXPECT_EQ(peer.Error(), "");
  EXPECT_EQ(peer.Transcript(), (Lines{"USER anonymous", "PASS secret", "PASV", "RETR a.bin", "QUIT"}));
}

TEST(ScriptedFtpPeer, ConnectsToTheAddressOfAPortLine) {
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  inet_pton(AF_INET, "127.0.0.1", &sa.sin_addr);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
  ASSERT_EQ(listen(listener, 1), 0);
  socklen_t length = sizeof sa;
  getsockname(listener, reinterpret_cast<sockaddr*>(&sa), &length);
  const uint16_t port = ntohs(sa.sin_port);
  RawSocket listening(listener);

  Peer peer({
      Peer::Reply("220 Ready"),
      Peer::ExpectPort(),
      Peer::Expect("LIST"),
      Peer::Reply("150 Here"),
      Peer::DribbleData("line one\r\nline two\r\n", 3, std::chrono::milliseconds(1)),
      Peer::CloseData(),
      Peer::Reply("226 Done"),
  });
  RawSocket control(peer.Address(), peer.Port());
  EXPECT_EQ(control.ReadLine(), "220 Ready\r\n");
  control.SendLine("PORT 127,0,0,1," + std::to_string(port / 256) + "," + std::to_string(port % 256));
  EXPECT_EQ(control.ReadLine(), "200 PORT command successful.\r\n");
  control.SendLine("LIST");
  EXPECT_EQ(control.ReadLine(), "150 Here\r\n");
  pollfd p{listener, POLLIN, 0};
  ASSERT_EQ(poll(&p, 1, 30000), 1);
  RawSocket data(accept(listener, nullptr, nullptr));
  EXPECT_EQ(data.ReadAll(), "line one\r\nline two\r\n");
  EXPECT_EQ(control.ReadLine(), "226 Done\r\n");
  EXPECT_TRUE(peer.WaitFinished());
  EXPECT_EQ(peer.Error(), "");
}

TEST(ScriptedFtpPeer, AnUnexpectedCommandEndsTheScriptAndClosesTheConnection) {
  Peer peer({Peer::Reply("220 Ready"), Peer::Expect("USER a"), Peer::Reply("230 never sent")});
  RawSocket control(peer.Address(), peer.Port());
  EXPECT_EQ(control.ReadLine(), "220 Ready\r\n");
  control.SendLine("USER b");
  EXPECT_EQ(control.ReadAll(), "") << "closed without the rest of the script";
  EXPECT_FALSE(peer.WaitFinished());
  EXPECT_EQ(peer.Error(), "expected \"USER a\", got \"USER b\"");
  EXPECT_EQ(peer.Transcript(), (Lines{"USER b"}));
}

TEST(ScriptedFtpPeer, RefusesToConnectOutsideLoopback) {
  Peer peer({Peer::Reply("220 Ready"), Peer::ExpectPort(), Peer::ConnectData()});
  RawSocket control(peer.Address(), peer.Port());
  control.ReadLine();
  control.SendLine("PORT 10,0,0,1,4,1");
  EXPECT_FALSE(peer.WaitFinished());
  EXPECT_EQ(peer.Error(), "PORT names an address outside 127.0.0.0/8: 10.0.0.1");
}

TEST(ScriptedFtpPeer, HostileRepliesArriveAsScripted) {
  Peer peer({
      Peer::SendGarbage(300),
      Peer::SendLongLine(100000, "220 "),
      Peer::Pasv({.parentheses = false, .name_address = "127.0.0.9", .name_port = 0}),
      Peer::CloseControl(),
  });
  RawSocket control(peer.Address(), peer.Port());
  const std::string garbage = control.ReadLine();
  EXPECT_EQ(garbage.size(), 302u);
  EXPECT_NE(garbage.find('\0'), std::string::npos);
  EXPECT_EQ(garbage.substr(300), "\r\n");
  const std::string long_line = control.ReadLine();
  EXPECT_EQ(long_line.size(), 100006u);
  EXPECT_EQ(long_line.substr(0, 5), "220 A");
  control.SendLine("PASV");
  EXPECT_EQ(control.ReadLine(), "227 Entering Passive Mode 127,0,0,9,0,0\r\n");
  EXPECT_EQ(control.ReadAll(), "");
  EXPECT_TRUE(peer.WaitFinished());
}

TEST(ScriptedFtpPeer, AcceptsASecondSessionAndStopsInTheMiddleOfAStall) {
  Peer peer({
      Peer::Reply("220 first"),
      Peer::ExpectClientClose(),
      Peer::AcceptControl(),
      Peer::Reply("220 second"),
      Peer::StallForever(),
  });
  {
    RawSocket first(peer.Address(), peer.Port());
    EXPECT_EQ(first.ReadLine(), "220 first\r\n");
    first.SendLine("QUIT");
  }
  RawSocket second(peer.Address(), peer.Port());
  EXPECT_EQ(second.ReadLine(), "220 second\r\n");
  ASSERT_TRUE(peer.WaitForLines(1));
  peer.Stop();  // ends the stall; the client sees the close
  EXPECT_EQ(second.ReadAll(), "");
  EXPECT_EQ(peer.Transcript(), (Lines{"QUIT"}));
  EXPECT_EQ(peer.Error(), "");
}

TEST(ScriptedFtpPeer, BoundedWaitsReportTheirTimeOut) {
  Peer peer({Peer::Reply("220 Ready"), Peer::Expect("USER a")}, "127.0.0.1", std::chrono::milliseconds(200));
  RawSocket control(peer.Address(), peer.Port());
  EXPECT_EQ(control.ReadLine(), "220 Ready\r\n");
  EXPECT_FALSE(peer.WaitFinished());
  EXPECT_EQ(peer.Error(), "timed out waiting for a command line");
}

}  // namespace
}  // namespace test_support
