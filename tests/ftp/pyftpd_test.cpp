// The real FTP server starts, greets and stops, seen through raw sockets.
#include "support/pyftpd.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "support/test_util.h"

namespace test_support {
namespace {

// Reads one reply line (up to LF) with a 30 s bound; empty on failure.
std::string ReadLine(int fd) {
  std::string line;
  char c = 0;
  pollfd p{fd, POLLIN, 0};
  while (poll(&p, 1, 30000) == 1 && recv(fd, &c, 1, 0) == 1) {
    line.push_back(c);
    if (c == '\n') break;
  }
  return line;
}

int Connect(const std::string& address, uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  inet_pton(AF_INET, address.c_str(), &sa.sin_addr);
  EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
  return fd;
}

void Send(int fd, const std::string& line) {
  const std::string bytes = line + "\r\n";
  ASSERT_EQ(send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
}

TEST(PyFtpd, GreetsLogsInAndSaysGoodbye) {
  TempDir root;
  WriteFile(root.File("a.txt"), "hello");
  const std::string gbk_name = "\xD6\xD0\xCE\xC4.txt";  // GBK bytes on disk, as on a real server
  WriteFile(root.File(gbk_name), "1234567");
  PyFtpd server({.root = root.Path(), .user = "tester", .password = "secret"});
  ASSERT_NE(server.Port(), 0);

  const int fd = Connect(server.Address(), server.Port());
  EXPECT_EQ(ReadLine(fd).substr(0, 4), "220 ");
  Send(fd, "USER tester");
  EXPECT_EQ(ReadLine(fd).substr(0, 4), "331 ");
  Send(fd, "PASS secret");
  EXPECT_EQ(ReadLine(fd).substr(0, 4), "230 ");
  Send(fd, "TYPE I");
  EXPECT_EQ(ReadLine(fd).substr(0, 4), "200 ");
  Send(fd, "SIZE a.txt");
  EXPECT_EQ(ReadLine(fd), "213 5\r\n");
  Send(fd, "SIZE " + gbk_name);
  EXPECT_EQ(ReadLine(fd), "213 7\r\n") << "GBK names pass byte for byte";
  Send(fd, "QUIT");
  EXPECT_EQ(ReadLine(fd).substr(0, 4), "221 ");
  close(fd);
}

std::string ReadAll(int fd) {
  std::string all;
  char buffer[4096];
  pollfd p{fd, POLLIN, 0};
  ssize_t n = 0;
  while (poll(&p, 1, 30000) == 1 && (n = recv(fd, buffer, sizeof buffer, 0)) > 0) {
    all.append(buffer, static_cast<size_t>(n));
  }
  return all;
}

std::string LoggedIn(int fd, const PyFtpd& server) {
  std::string greeting = ReadLine(fd);
  Send(fd, "USER " + server.User());
  ReadLine(fd);
  Send(fd, "PASS " + server.Password());
  return ReadLine(fd);
}

// Active mode reaches a listener on the local address of the client's control
// connection (pyftpdlib refuses any other address), and passive mode names
// the server's address with a port from the given range.
TEST(PyFtpd, OpensDataConnectionsInBothModes) {
  TempDir root;
  WriteFile(root.File("f.bin"), "data!");
  PyFtpd server({.root = root.Path(), .address = "127.0.0.3", .passive_low = 50000, .passive_high = 50100});
  const int control = Connect(server.Address(), server.Port());
  ASSERT_EQ(LoggedIn(control, server).substr(0, 4), "230 ");

  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sa{};
  socklen_t length = sizeof sa;
  getsockname(control, reinterpret_cast<sockaddr*>(&sa), &length);
  char local[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &sa.sin_addr, local, sizeof local);
  std::string port_address = local;
  for (char& c : port_address) c = c == '.' ? ',' : c;
  sa.sin_port = 0;
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
  ASSERT_EQ(listen(listener, 1), 0);
  length = sizeof sa;
  getsockname(listener, reinterpret_cast<sockaddr*>(&sa), &length);
  const int port = ntohs(sa.sin_port);
  Send(control, "PORT " + port_address + "," + std::to_string(port / 256) + "," + std::to_string(port % 256));
  ASSERT_EQ(ReadLine(control).substr(0, 4), "200 ");
  Send(control, "RETR f.bin");
  const std::string opened = ReadLine(control);  // 125: pyftpdlib connected on PORT already
  EXPECT_TRUE(opened.rfind("125 ", 0) == 0 || opened.rfind("150 ", 0) == 0) << opened;
  pollfd p{listener, POLLIN, 0};
  ASSERT_EQ(poll(&p, 1, 30000), 1);
  const int active = accept(listener, nullptr, nullptr);
  EXPECT_EQ(ReadAll(active), "data!");
  close(active);
  close(listener);
  EXPECT_EQ(ReadLine(control).substr(0, 4), "226 ");

  Send(control, "PASV");
  const std::string pasv = ReadLine(control);
  int h[4], p1, p2;
  ASSERT_EQ(std::sscanf(pasv.c_str() + pasv.find('(') + 1, "%d,%d,%d,%d,%d,%d", &h[0], &h[1], &h[2], &h[3], &p1, &p2),
            6)
      << pasv;
  EXPECT_EQ(std::to_string(h[0]) + "." + std::to_string(h[1]) + "." + std::to_string(h[2]) + "." +
                std::to_string(h[3]),
            "127.0.0.3");
  EXPECT_GE(p1 * 256 + p2, 50000);
  EXPECT_LE(p1 * 256 + p2, 50100);
  const int passive = Connect("127.0.0.3", static_cast<uint16_t>(p1 * 256 + p2));
  Send(control, "LIST");
  EXPECT_EQ(ReadLine(control).substr(0, 1), "1");
  EXPECT_NE(ReadAll(passive).find(" f.bin\r\n"), std::string::npos);
  close(passive);
  EXPECT_EQ(ReadLine(control).substr(0, 4), "226 ");
  close(control);
}

TEST(PyFtpd, StopsAndFreesItsPort) {
  TempDir root;
  uint16_t port = 0;
  {
    PyFtpd server({.root = root.Path(), .address = "127.0.0.2"});
    port = server.Port();
  }
  // Nothing listens there any more.
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  inet_pton(AF_INET, "127.0.0.2", &sa.sin_addr);
  EXPECT_NE(connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
  close(fd);
}

}  // namespace
}  // namespace test_support
