#include "net/stack.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <functional>

#include "net/exceptions.h"
#include "net/tcp_client.h"
#include "platform/sockets.h"
#include "settings/integer_conversion.h"

namespace {

// Keeps SharedStack alive for a test.
struct StackFixture : testing::Test {
  net::TIdStackUse use;
  net::TIdStack& stack = use.Stack();
};

struct DottedCase {
  const char* text;
  bool dotted;
};

class IsDottedAddressTable : public testing::TestWithParam<DottedCase> {};

TEST_P(IsDottedAddressTable, FourPartsOfZeroTo255) {
  EXPECT_EQ(net::TIdStack::IsDottedAddress(GetParam().text), GetParam().dotted) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Cases, IsDottedAddressTable,
                         testing::Values(DottedCase{"192.168.0.1", true}, DottedCase{"0.0.0.0", true},
                                         DottedCase{"255.255.255.255", true}, DottedCase{"0x7f.0.0.1", true},
                                         DottedCase{" 1.2.3.4", true}, DottedCase{"192.168.0", false},
                                         DottedCase{"1.2.3.4.5", false}, DottedCase{"w.x.y.z", false},
                                         DottedCase{"1.2.3.256", false}, DottedCase{"256.1.1.1", false},
                                         DottedCase{"1.2.3.", false}, DottedCase{"-1.2.3.4", false},
                                         DottedCase{"", false}, DottedCase{"localhost", false},
                                         DottedCase{"1..2.3", false}));

TEST_F(StackFixture, StringToAddressKeepsTheLowByteOfEachPart) {
  const uint32_t a = net::StringToAddress("1.2.3.4");
  const auto* b = reinterpret_cast<const unsigned char*>(&a);
  EXPECT_EQ(b[0], 1);
  EXPECT_EQ(b[3], 4);
  EXPECT_EQ(stack.AddressToString(net::StringToAddress("0x7f.0.0.257")), "127.0.0.1");
  EXPECT_EQ(stack.AddressToString(net::StringToAddress("10.0.0.7")), "10.0.0.7");
  try {
    net::StringToAddress("1.2.x.4");
    FAIL() << "no conversion error";
  } catch (const settings::EConvertError& e) {
    EXPECT_STREQ(e.what(), "'x' is not a valid integer value");
  }
}

TEST_F(StackFixture, LookupHostAnswersLocalhostAndDottedTextWithoutLookingUp) {
  EXPECT_EQ(stack.LookupHost("localhost"), "127.0.0.1");
  EXPECT_EQ(stack.LookupHost("LocalHost"), "127.0.0.1");
  EXPECT_EQ(stack.LookupHost("10.0.0.7"), "10.0.0.7");
  EXPECT_EQ(stack.LookupHost("127.0.0.9"), "127.0.0.9");
}

struct MessageCase {
  int32_t error;
  const char* message;
};

class SocketErrorMessageTable : public testing::TestWithParam<MessageCase> {};

TEST_P(SocketErrorMessageTable, NumberThenText) {
  net::TIdStackUse use;
  EXPECT_EQ(use.Stack().SocketErrorMessage(GetParam().error), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SocketErrorMessageTable,
    testing::Values(MessageCase{10061, "Socket Error # 10061\r\nConnection refused."},
                    MessageCase{11001, "Socket Error # 11001\r\nHost not found."},
                    MessageCase{10035, "Socket Error # 10035\r\nOperation would block. "},
                    MessageCase{10066, "Socket Error # 10066\r\nDirectory not empty"},
                    MessageCase{10058, "Socket Error # 10058\r\nCannot send or receive after socket is closed."},
                    MessageCase{12345, "Socket Error # 12345\r\n"}));

struct ErrnoCase {
  int native;
  int mapped;
};

class ErrnoMappingTable : public testing::TestWithParam<ErrnoCase> {};

TEST_P(ErrnoMappingTable, WindowsSocketsNumbers) {
  EXPECT_EQ(platform::sockets::MapErrno(GetParam().native), GetParam().mapped);
}

INSTANTIATE_TEST_SUITE_P(Cases, ErrnoMappingTable,
                         testing::Values(ErrnoCase{EINTR, 10004}, ErrnoCase{EBADF, 10009}, ErrnoCase{EACCES, 10013},
                                         ErrnoCase{EINVAL, 10022}, ErrnoCase{EWOULDBLOCK, 10035},
                                         ErrnoCase{ENOTSOCK, 10038}, ErrnoCase{EADDRINUSE, 10048},
                                         ErrnoCase{ECONNABORTED, 10053}, ErrnoCase{ECONNRESET, 10054},
                                         ErrnoCase{ESHUTDOWN, 10058}, ErrnoCase{EPIPE, 10058},
                                         ErrnoCase{ETIMEDOUT, 10060}, ErrnoCase{ECONNREFUSED, 10061},
                                         ErrnoCase{EHOSTUNREACH, 10065},
                                         // No Windows Sockets number: kept, and so
                                         // outside the message table.
                                         ErrnoCase{EIO, EIO}));

TEST_F(StackFixture, CheckSocketResultIgnoresListedErrorsAndRaisesOthers) {
  EXPECT_FALSE(stack.CheckSocketResult(0));
  EXPECT_FALSE(stack.CheckSocketResult(5, {10048}));

  platform::sockets::SetLastError(10048);
  EXPECT_TRUE(stack.CheckSocketResult(-1, {10048}));
  EXPECT_EQ(stack.LastErrorNumber(), 10048);

  platform::sockets::SetLastError(10061);
  try {
    stack.CheckSocketResult(-1, {10048});
    FAIL() << "no raise";
  } catch (const net::EIdSocketError& e) {
    EXPECT_EQ(e.LastError, 10061);
    EXPECT_STREQ(e.what(), "Socket Error # 10061\r\nConnection refused.");
  }
  platform::sockets::SetLastError(10048);
  EXPECT_THROW(stack.CheckSocketResult(-1), net::EIdSocketError);
}

TEST_F(StackFixture, SelectRefusesMoreThan64HandlesBeforeWaiting) {
  std::vector<net::TIdStackSocketHandle> many(65, 0);
  try {
    stack.Select(&many, nullptr, nullptr, net::TimeoutInfinite);
    FAIL() << "no raise";
  } catch (const net::EIdStackSetSizeExceeded& e) {
    EXPECT_STREQ(e.what(), "Set Size Exceeded.");
  }
  EXPECT_THROW(stack.Select(nullptr, nullptr, &many, 0), net::EIdStackSetSizeExceeded);
}

TEST_F(StackFixture, SelectKeepsOnlyReadyHandles) {
  int pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  std::vector<net::TIdStackSocketHandle> read{pair[0], pair[1]};
  EXPECT_EQ(stack.Select(&read, nullptr, nullptr, 0), 0);
  EXPECT_TRUE(read.empty());

  ASSERT_EQ(::write(pair[1], "x", 1), 1);
  read = {pair[0], pair[1]};
  std::vector<net::TIdStackSocketHandle> write{pair[0]};
  EXPECT_EQ(stack.Select(&read, &write, nullptr, 5000), 2);
  EXPECT_EQ(read, std::vector<net::TIdStackSocketHandle>{pair[0]});
  EXPECT_EQ(write, std::vector<net::TIdStackSocketHandle>{pair[0]});
  ::close(pair[0]);
  ::close(pair[1]);
}

TEST(SharedStack, LivesWhileAComponentExists) {
  ASSERT_EQ(net::SharedStack(), nullptr) << "a component outlived its test";
  {
    net::TIdTCPClient first;
    EXPECT_NE(net::SharedStack(), nullptr);
    {
      net::TIdTCPClient second;
      EXPECT_NE(net::SharedStack(), nullptr);
    }
    EXPECT_NE(net::SharedStack(), nullptr);
  }
  EXPECT_EQ(net::SharedStack(), nullptr);
}

// Runs body in a child process inside a network namespace of its own, where
// only a loopback device (down) exists: no lookup can reach a name server.
// The child writes its findings to a pipe. Needs root; skipped otherwise.
std::string InIsolatedNetwork(const std::function<std::string()>& body, bool& isolated) {
  int fds[2];
  if (::pipe(fds) != 0) return "pipe failed";
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(fds[0]);
    std::string out;
    int code = 0;
    if (::unshare(CLONE_NEWNET) != 0) {
      code = 77;
    } else {
      try {
        out = body();
      } catch (const std::exception& e) {
        out = std::string("exception: ") + e.what();
      }
    }
    if (!out.empty() && ::write(fds[1], out.data(), out.size()) < 0) code = 1;
    ::_exit(code);
  }
  ::close(fds[1]);
  std::string out;
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0) out.append(buffer, static_cast<size_t>(n));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  isolated = !(WIFEXITED(status) && WEXITSTATUS(status) == 77);
  return out;
}

TEST(HostLookup, UnknownHostIsError11001WithoutAnyQueryLeaving) {
  bool isolated = false;
  const std::string out = InIsolatedNetwork(
      [] {
        std::string results;
        net::TIdStackUse use;
        try {
          use.Stack().LookupHost("no-such-host.invalid");
          results += "resolved;";
        } catch (const net::EIdSocketError& e) {
          results += std::string(e.what()) + ";";
        }
        // A name in the hosts file is found there.
        results += use.Stack().GetHostByName("localhost") + ";";
        // Through the client: the same error comes out of Connect.
        net::TIdTCPClient client;
        client.Host = "no-such-host.invalid";
        client.Port = 21;
        try {
          client.Connect();
          results += "connected";
        } catch (const net::EIdSocketError& e) {
          results += std::string(e.what()) + (client.Connected() ? " open" : " closed");
        }
        return results;
      },
      isolated);
  if (!isolated) GTEST_SKIP() << "no network namespace could be made (needs root)";
  EXPECT_EQ(out,
            "Socket Error # 11001\r\nHost not found.;127.0.0.1;"
            "Socket Error # 11001\r\nHost not found. closed");
}

}  // namespace
