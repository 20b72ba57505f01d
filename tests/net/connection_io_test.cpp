// Buffered reading and writing over an I/O handler that hands out receives
// exactly as scripted, so that every split of the bytes is deliberate.
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "fakes.h"
#include "net/exceptions.h"
#include "net/tcp_connection.h"
#include "platform/stream.h"

namespace {

struct Connection {
  net::TIdTCPConnection connection;
  nettest::ScriptedIOHandler* handler;
  std::vector<std::string> events;

  explicit Connection(std::vector<std::string> chunks, bool stay_open = false) {
    auto h = std::make_unique<nettest::ScriptedIOHandler>();
    h->chunks.assign(chunks.begin(), chunks.end());
    h->stay_open = stay_open;
    handler = h.get();
    connection.SetIOHandler(std::move(h));
    connection.OnWorkBegin = [this](net::TIdComponent*, net::TWorkMode mode, int32_t max) {
      events.push_back("begin " + std::to_string(mode) + " " + std::to_string(max));
    };
    connection.OnWork = [this](net::TIdComponent*, net::TWorkMode mode, int32_t count) {
      events.push_back("work " + std::to_string(mode) + " " + std::to_string(count));
    };
    connection.OnWorkEnd = [this](net::TIdComponent*, net::TWorkMode mode) {
      events.push_back("end " + std::to_string(mode));
    };
    connection.OnStatus = [this](net::TIdComponent*, net::TIdStatus, const std::string& text) {
      events.push_back(text);
    };
    connection.OnDisconnected = [this](net::TIdComponent*) { events.push_back("OnDisconnected"); };
  }
};

struct LineCase {
  const char* name;
  std::vector<std::string> chunks;
  std::string terminator;
  std::vector<std::string> lines;
  std::string left;  // still buffered after the lines
};

class ReadLineTable : public testing::TestWithParam<LineCase> {};

TEST_P(ReadLineTable, GivesLinesWithoutTerminators) {
  Connection c(GetParam().chunks, true);
  for (const std::string& expected : GetParam().lines) {
    EXPECT_EQ(c.connection.ReadLine(GetParam().terminator), expected);
    EXPECT_FALSE(c.connection.LineTimedOut());
  }
  const auto& rest = c.connection.ReceivedData();
  EXPECT_EQ(std::string(rest.Memory(), static_cast<size_t>(rest.Size())), GetParam().left);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReadLineTable,
    testing::Values(LineCase{"Crlf", {"220 ready\r\n"}, "", {"220 ready"}, ""},
                    LineCase{"Lf", {"abc\n"}, "\n", {"abc"}, ""},
                    LineCase{"OnlyOneCrCut", {"abc\r\r\n"}, "", {"abc\r"}, ""},
                    LineCase{"EmptyLine", {"\r\n"}, "", {""}, ""},
                    LineCase{"TwoInOneReceive", {"a\r\nb\r\nc"}, "", {"a", "b"}, "c"},
                    LineCase{"CrlfSplitAcrossReceives", {"abc\r", "\ndef\n"}, "", {"abc", "def"}, ""},
                    LineCase{"OneByteAtATime", {"2", "2", "0", " ", "x", "\r", "\n"}, "", {"220 x"}, ""},
                    LineCase{"TwoByteTerminatorSplit", {"abcX", "Ydef"}, "XY", {"abc"}, "def"},
                    LineCase{"CrNotCutForOtherTerminators", {"ab\rXY"}, "XY", {"ab\r"}, ""},
                    LineCase{"GbkBytesPassThrough", {"\xD6\xD0\xCE\xC4\r\n"}, "", {"\xD6\xD0\xCE\xC4"}, ""}),
    [](const testing::TestParamInfo<LineCase>& info) { return std::string(info.param.name); });

TEST(ReadLine, ReceivesAtMostOneBlockPerFill) {
  Connection c({"0123456789", "0123456789", "x\n"}, true);
  c.connection.RecvBufferSize = 4;
  c.connection.MaxLineLength = 0;
  EXPECT_EQ(c.connection.ReadLine(), "01234567890123456789x");
  for (int asked : c.handler->receive_lengths) EXPECT_EQ(asked, 4);
  EXPECT_EQ(c.handler->receive_lengths.size(), 7u);  // 4+4+2, 4+4+2, 2
}

TEST(ReadLine, MaxLineLengthAcceptsExactlyTheLimit) {
  Connection c({"0123456789\n", "01234567890\n"}, true);
  c.connection.MaxLineLength = 10;
  EXPECT_EQ(c.connection.ReadLine(), "0123456789");
  try {
    c.connection.ReadLine();
    FAIL();
  } catch (const net::EIdReadLnMaxLineLengthExceeded& e) {
    EXPECT_STREQ(e.what(), "Max line length exceeded.");
  }
  // The buffer is left as it was.
  EXPECT_EQ(c.connection.ReceivedData().Size(), 12);
}

TEST(ReadLine, SplitGivesTheFirstPieceAndTheRestNext) {
  Connection c({"01234567890\n"}, true);
  c.connection.MaxLineLength = 10;
  c.connection.MaxLineAction = net::maSplit;
  EXPECT_EQ(c.connection.ReadLine(), "0123456789");
  EXPECT_TRUE(c.connection.LineSplit());
  EXPECT_EQ(c.connection.ReadLine(), "0");
  EXPECT_FALSE(c.connection.LineSplit());
}

TEST(ReadLine, EndlessLineStopsWithinTheLimitPlusOneBlock) {
  // 1 MiB without a terminator, in blocks of 1000.
  std::vector<std::string> chunks(1024, std::string(1024, 'a'));
  Connection c(chunks, true);
  c.connection.RecvBufferSize = 1000;
  c.connection.MaxLineLength = 16384;
  EXPECT_THROW(c.connection.ReadLine(), net::EIdReadLnMaxLineLengthExceeded);
  EXPECT_LE(c.connection.ReceivedData().Size(), 16384 + 1000);
  EXPECT_GT(c.connection.ReceivedData().Size(), 16384);
}

TEST(ReadLine, NoLimitReadsAnyLength) {
  const std::string big(100000, 'z');
  Connection c({big, "\n"}, true);
  c.connection.MaxLineLength = 0;
  EXPECT_EQ(c.connection.ReadLine(), big);
}

TEST(ReadLine, UnterminatedLineThenCloseGivesEmptyThenRaises) {
  Connection c({"abc"});
  EXPECT_EQ(c.connection.ReadLine(), "");
  EXPECT_TRUE(c.connection.LineTimedOut());
  EXPECT_EQ(c.events, (std::vector<std::string>{"Disconnected.", "OnDisconnected"}));
  try {
    c.connection.ReadLine();
    FAIL();
  } catch (const net::EIdConnClosedGracefully& e) {
    EXPECT_STREQ(e.what(), "Connection Closed Gracefully.");
  }
  EXPECT_EQ(c.events.size(), 2u);  // the close is reported once
}

TEST(ReadLine, ExplicitTimeOutGivesEmptyDefaultRaises) {
  Connection c({}, true);
  EXPECT_EQ(c.connection.ReadLine("\n", 100), "");
  EXPECT_TRUE(c.connection.LineTimedOut());
  c.connection.ReadTimeout = 5000;
  try {
    c.connection.ReadLine();
    FAIL();
  } catch (const net::EIdReadTimeout& e) {
    EXPECT_STREQ(e.what(), "Read Timeout");
  }
}

TEST(ReadNonEmptyLine, SkipsBlankLinesAndTrims) {
  Connection c({"\r\n  \r\n\t\r\n  230 ok \r\nnext\r\n"}, true);
  EXPECT_EQ(c.connection.ReadNonEmptyLine(2147483647), "230 ok");
  EXPECT_EQ(c.connection.ReadNonEmptyLine(1), "next");
}

TEST(ReadBytes, ZeroBytesTouchNothing) {
  Connection c({"abc"}, true);
  char none = 0;
  c.connection.ReadBytes(&none, 0);
  c.connection.ReadBytes(nullptr, 5);
  EXPECT_EQ(c.handler->waits, 0);
  EXPECT_TRUE(c.handler->receive_lengths.empty());
}

TEST(ReadBytes, FourBytesInNetworkOrder) {
  Connection c({std::string("\x00\x01\x02\x03\x00\x00\x00\x05", 8)}, true);
  EXPECT_EQ(c.connection.ReadFourBytes(true), 0x00010203u);
  uint32_t raw = c.connection.ReadFourBytes(false);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&raw), 4), std::string("\x00\x00\x00\x05", 4));
}

TEST(ReadBytes, CloseRaisesEvenWithBytesWaiting) {
  Connection c({"abc"});
  char buffer[8];
  EXPECT_THROW(c.connection.ReadBytes(buffer, 8), net::EIdConnClosedGracefully);
  EXPECT_EQ(c.connection.ReceivedData().Size(), 3);
}

TEST(AsciiFilter, ClearsTheTopBit) {
  Connection c({"\xE4\xC1x\n"}, true);
  c.connection.ASCIIFilter = true;
  EXPECT_EQ(c.connection.ReadLine(), "dAx");
}

TEST(ReadIntoStream, UntilDisconnectCountsFullBlocksOnly) {
  const std::string data(20000, 'q');
  Connection c({data});
  c.connection.RecvBufferSize = 8192;
  platform::MemoryStream stream;
  c.connection.ReadIntoStream(stream, -1, true);
  EXPECT_EQ(stream.Data(), data);
  EXPECT_EQ(c.events, (std::vector<std::string>{"begin 0 0", "work 0 8192", "work 0 16384", "Disconnected.",
                                                "OnDisconnected", "end 0"}));
}

TEST(ReadIntoStream, BytesBufferedAtTheStartAreOneReport) {
  Connection c({"header\r\n01234", "56789"});
  c.connection.RecvBufferSize = 16;
  EXPECT_EQ(c.connection.ReadLine(), "header");
  platform::MemoryStream stream;
  c.connection.ReadIntoStream(stream, 10, false);
  EXPECT_EQ(stream.Data(), "0123456789");
  // With a count, the last partial block counts too.
  EXPECT_EQ(c.events, (std::vector<std::string>{"begin 0 10", "work 0 5", "work 0 10", "end 0"}));
}

TEST(ReadIntoStream, ShortCountedStreamRaisesAndCutsBack) {
  Connection c({std::string(60, 'x')});
  c.connection.RecvBufferSize = 8192;
  platform::MemoryStream stream("keep");
  stream.Seek(4);
  EXPECT_THROW(c.connection.ReadIntoStream(stream, 100, false), net::EIdConnClosedGracefully);
  EXPECT_EQ(stream.Data(), "keep");
  EXPECT_EQ(c.connection.ReceivedData().Size(), 60);
  EXPECT_EQ(c.events.back(), "end 0");
}

TEST(ReadIntoStream, CountFromTheWireFirst) {
  Connection c({std::string("\x00\x00\x00\x03" "abcdef", 10)}, true);
  platform::MemoryStream stream;
  c.connection.ReadIntoStream(stream);
  EXPECT_EQ(stream.Data(), "abc");
  EXPECT_EQ(c.connection.ReceivedData().Size(), 3);
}

TEST(ReadIntoStream, DroppedByAHandlerDuringTheReadEndsQuietly) {
  // The window's abort: a work handler drops the connection mid-transfer.
  Connection c({std::string(8192, 'a'), std::string(8192, 'b'), std::string(8192, 'c')}, true);
  c.connection.RecvBufferSize = 8192;
  c.connection.OnWork = [&](net::TIdComponent*, net::TWorkMode, int32_t count) {
    if (count == 8192) c.connection.DropConnection();
  };
  platform::MemoryStream stream;
  EXPECT_NO_THROW(c.connection.ReadIntoStream(stream, -1, true));
  EXPECT_EQ(stream.Data(), std::string(8192, 'a'));
  EXPECT_FALSE(c.connection.Connected());
}

// A work's end handler, or the cut of the stream after it, that fails: on
// the normal path its failure is the caller's; after a failure of the
// transfer itself the caller hears the transfer's. The work is over either
// way, and nothing ends the program.
struct WorkEndCase {
  const char* name;
  std::vector<std::string> chunks;
  int64_t count;            // ReadIntoStream's count; -2: WriteFromStream instead
  bool end_handler_raises;
  bool cut_raises;          // the stream refuses to be cut back
  std::string raised;       // what the caller catches
};

// A stream that can grow but refuses to be cut.
class UncuttableStream : public platform::MemoryStream {
 public:
  using MemoryStream::MemoryStream;
  void SetSize(int64_t size) override {
    if (size < Size()) throw platform::EStreamError("cannot cut");
    MemoryStream::SetSize(size);
  }
};

class WorkEndFailure : public testing::TestWithParam<WorkEndCase> {};

TEST_P(WorkEndFailure, ReachesTheCallerAndClosesTheWork) {
  const WorkEndCase& w = GetParam();
  Connection c(w.chunks);
  c.connection.RecvBufferSize = 8192;
  if (w.end_handler_raises) {
    c.connection.OnWorkEnd = [](net::TIdComponent*, net::TWorkMode) { throw std::runtime_error("end handler"); };
  }
  std::unique_ptr<platform::MemoryStream> stream;
  if (w.cut_raises) {
    stream = std::make_unique<UncuttableStream>("ab");
  } else {
    stream = std::make_unique<platform::MemoryStream>("ab");
  }
  const net::TWorkMode mode = w.count == -2 ? net::wmWrite : net::wmRead;
  std::string raised = "nothing";
  try {
    if (w.count == -2) {
      stream->Seek(0);
      c.connection.WriteFromStream(*stream, false, 4);  // two bytes more than it holds
    } else {
      c.connection.ReadIntoStream(*stream, w.count, w.count == -1);
    }
  } catch (const net::EIdConnClosedGracefully&) {
    raised = "closed";
  } catch (const net::EIdNoDataToRead&) {
    raised = "no data";
  } catch (const std::exception& e) {
    raised = e.what();
  }
  EXPECT_EQ(raised, w.raised);
  EXPECT_EQ(c.connection.WorkRecord(mode).Level, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WorkEndFailure,
    testing::Values(WorkEndCase{"EndHandlerAfterAWholeRead", {"xyz"}, -1, true, false, "end handler"},
                    WorkEndCase{"EndHandlerAfterAShortRead", {"xyz"}, 100, true, false, "closed"},
                    WorkEndCase{"CutAfterAShortRead", {"xyz"}, 100, false, true, "closed"},
                    WorkEndCase{"EndHandlerAndCutAfterAShortRead", {"xyz"}, 100, true, true, "closed"},
                    WorkEndCase{"EndHandlerAfterAFailedWrite", {}, -2, true, false, "no data"}),
    [](const testing::TestParamInfo<WorkEndCase>& info) { return std::string(info.param.name); });

TEST(WorkBegin, AFailedBeginLeavesNoWorkOpen) {
  Connection c({"abc", "def"});
  int begins = 0;
  c.connection.OnWorkBegin = [&](net::TIdComponent*, net::TWorkMode, int32_t) {
    if (++begins == 1) throw std::runtime_error("begin handler");
  };
  platform::MemoryStream first;
  EXPECT_THROW(c.connection.ReadIntoStream(first, 3, false), std::runtime_error);
  EXPECT_EQ(c.connection.WorkRecord(net::wmRead).Level, 0);
  platform::MemoryStream second;
  c.connection.ReadIntoStream(second, 3, false);
  EXPECT_EQ(begins, 2) << "the next work begins as a work of its own";
}

TEST(WriteLine, OneSendPerLine) {
  Connection c({}, true);
  c.connection.WriteLine("NOOP");
  c.connection.WriteText("");
  c.connection.WriteFourBytes(0x01020304);
  EXPECT_EQ(c.handler->sends, (std::vector<std::string>{"NOOP\r\n", "\x01\x02\x03\x04"}));
  // Commands raise no work events.
  EXPECT_TRUE(c.events.empty());
}

TEST(WriteFromStream, ChunksOfSendBufferSizeAsWriteWork) {
  Connection c({}, true);
  c.connection.SendBufferSize = 4;
  platform::MemoryStream stream("0123456789");
  c.connection.WriteFromStream(stream, true, 0, true);
  EXPECT_EQ(c.handler->sends,
            (std::vector<std::string>{std::string("\x00\x00\x00\x0A", 4), "0123", "4567", "89"}));
  EXPECT_EQ(c.events, (std::vector<std::string>{"begin 1 10", "work 1 4", "work 1 8", "work 1 10", "end 1"}));
}

TEST(WriteBytes, ClosedConnectionRaises) {
  Connection c({}, true);
  c.connection.DropConnection();
  EXPECT_THROW(c.connection.WriteLine("QUIT"), net::EIdConnClosedGracefully);
  net::TIdTCPConnection bare;
  EXPECT_THROW(bare.WriteLine("QUIT"), net::EIdNotConnected);
}

TEST(ConnectState, DisconnectReportsEvenWhenNeverConnected) {
  net::TIdTCPConnection bare;
  std::vector<std::string> events;
  bare.OnStatus = [&](net::TIdComponent*, net::TIdStatus, const std::string& text) { events.push_back(text); };
  bare.OnDisconnected = [&](net::TIdComponent*) { events.push_back("OnDisconnected"); };
  EXPECT_FALSE(bare.Connected());
  bare.Disconnect();
  EXPECT_EQ(events, (std::vector<std::string>{"Disconnecting.", "OnDisconnected", "Disconnected."}));
}

TEST(ConnectState, DisconnectFreesAnOwnedHandlerOnly) {
  Connection c({}, true);
  EXPECT_TRUE(c.connection.OwnsIOHandler());
  c.connection.Disconnect();
  EXPECT_EQ(c.connection.IOHandler(), nullptr);
  EXPECT_FALSE(c.connection.OwnsIOHandler());

  nettest::ScriptedIOHandler outside;
  c.connection.SetIOHandler(&outside);
  c.connection.Disconnect();
  EXPECT_EQ(c.connection.IOHandler(), &outside);
  EXPECT_FALSE(outside.open);
}

TEST(ConnectState, HandlerDestroyedElsewhereIsForgotten) {
  net::TIdTCPConnection connection;
  {
    nettest::ScriptedIOHandler outside;
    connection.SetIOHandler(&outside);
    EXPECT_TRUE(connection.Connected());
  }
  EXPECT_EQ(connection.IOHandler(), nullptr);
  EXPECT_FALSE(connection.Connected());
  EXPECT_THROW(connection.ReadLine(), net::EIdNotConnected);
}

TEST(ConnectState, ReplacingAnOwnedHandlerFreesIt) {
  net::TIdTCPConnection connection;
  auto first = std::make_unique<nettest::ScriptedIOHandler>();
  nettest::ScriptedIOHandler outside;
  struct Probe : net::TIdIOHandler::Watcher {
    bool gone = false;
    void IOHandlerDestroyed(net::TIdIOHandler*) override { gone = true; }
  } probe;
  first->AddWatcher(&probe);
  connection.SetIOHandler(std::move(first));
  connection.SetIOHandler(&outside);
  EXPECT_TRUE(probe.gone);
  EXPECT_FALSE(connection.OwnsIOHandler());
}

TEST(ConnectState, DisconnectFromAHandlerDuringAWaitIsSafe) {
  // A window handler run by the wait frees the owned handler; the read in
  // progress must end cleanly, not go on in the freed handler.
  struct Probe : net::TIdIOHandler::Watcher {
    bool* destroyed;
    void IOHandlerDestroyed(net::TIdIOHandler*) override { *destroyed = true; }
  };
  struct Hooked : nettest::ScriptedIOHandler {
    net::TIdTCPConnection* connection = nullptr;
    bool* destroyed = nullptr;
    bool WaitReadable(int32_t) override {
      connection->Disconnect();
      EXPECT_FALSE(*destroyed) << "freed while still in use";
      return false;
    }
  };
  net::TIdTCPConnection connection;
  bool destroyed = false;
  Probe probe;
  probe.destroyed = &destroyed;
  auto hooked = std::make_unique<Hooked>();
  hooked->connection = &connection;
  hooked->destroyed = &destroyed;
  hooked->AddWatcher(&probe);
  connection.SetIOHandler(std::move(hooked));
  EXPECT_EQ(connection.ReadLine("\n", 10), "");
  EXPECT_TRUE(destroyed) << "freed once the read returned";
  EXPECT_EQ(connection.IOHandler(), nullptr);
}

}  // namespace
