#include "net/tcp_connection.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string_view>
#include <vector>

#include "net/anti_freeze.h"
#include "net/exceptions.h"
#include "platform/sockets.h"
#include "platform/stream.h"

namespace net {

TIdTCPConnection::HandlerInUse::HandlerInUse(TIdTCPConnection& connection) : connection_(connection) {
  ++connection_.handler_calls_;
}

TIdTCPConnection::HandlerInUse::~HandlerInUse() {
  if (--connection_.handler_calls_ == 0) connection_.retired_io_handlers_.clear();
}

TIdTCPConnection::TIdTCPConnection() {
  received_data_.OnBytesRemoved = [this](TIdSimpleBuffer*, int32_t count) { ReportWork(wmRead, count); };
}

TIdTCPConnection::~TIdTCPConnection() {
  TIdTCPConnection::DropConnection();
  ReleaseIOHandler();
  retired_io_handlers_.clear();
}

void TIdTCPConnection::ReleaseIOHandler() {
  if (io_handler_ != nullptr) io_handler_->RemoveWatcher(this);
  io_handler_ = nullptr;
  if (owned_io_handler_) {
    // Still in use further up this thread's stack: free it when that returns.
    if (handler_calls_ > 0) {
      retired_io_handlers_.push_back(std::move(owned_io_handler_));
    } else {
      owned_io_handler_.reset();
    }
  }
}

void TIdTCPConnection::SetIOHandler(TIdIOHandler* handler) {
  if (handler == io_handler_) return;
  ReleaseIOHandler();
  io_handler_ = handler;
  if (handler != nullptr) handler->AddWatcher(this);
}

void TIdTCPConnection::SetIOHandler(std::unique_ptr<TIdIOHandler> handler) {
  ReleaseIOHandler();
  owned_io_handler_ = std::move(handler);
  io_handler_ = owned_io_handler_.get();
  if (io_handler_ != nullptr) io_handler_->AddWatcher(this);
}

void TIdTCPConnection::IOHandlerDestroyed(TIdIOHandler* handler) {
  if (handler == io_handler_) io_handler_ = nullptr;
}

// Connect state.

void TIdTCPConnection::FireDisconnected() {
  if (OnDisconnected) OnDisconnected(this);
}

void TIdTCPConnection::ClearConnectionState() {
  received_data_.EmptyBuffer();
  peer_closed_ = false;
}

bool TIdTCPConnection::CheckDisconnected(bool raise, bool ignore_buffer) {
  bool disconnected;
  if (peer_closed_ || io_handler_ == nullptr) {
    disconnected = io_handler_ != nullptr;
    if (io_handler_ != nullptr && io_handler_->Connected()) {
      DropConnection();
      ReportStatus(hsDisconnected);
      FireDisconnected();
    }
  } else {
    disconnected = !io_handler_->Connected();
  }
  if (disconnected && raise && (received_data_.Size() == 0 || ignore_buffer)) throw EIdConnClosedGracefully();
  return disconnected;
}

bool TIdTCPConnection::Connected() {
  CheckDisconnected(false, false);
  return io_handler_ != nullptr && io_handler_->Connected();
}

void TIdTCPConnection::DropConnection() {
  if (io_handler_ == nullptr) return;
  peer_closed_ = true;
  io_handler_->CloseHandler();
}

void TIdTCPConnection::Disconnect() {
  ReportStatus(hsDisconnecting);
  DropConnection();
  if (OwnsIOHandler()) ReleaseIOHandler();
  FireDisconnected();
  ReportStatus(hsDisconnected);
}

// Reading.

int32_t TIdTCPConnection::FillInputBuffer(bool raise_if_disconnected, int32_t timeout, bool raise_on_timeout) {
  if (timeout == TimeoutDefault) timeout = ReadTimeout == 0 ? TimeoutInfinite : ReadTimeout;
  CheckDisconnected(raise_if_disconnected, false);
  if (!Connected()) {
    if (raise_if_disconnected) throw EIdNotConnected();
    return 0;
  }
  HandlerInUse in_use(*this);
  // While data streams in, what has arrived is taken before any wait: the
  // wait would end at once, readable, and a readable wait keeps the window
  // responsive only for a component that processes input on every wait.
  const bool every_wait_responsive = TIdAntiFreezeBase::AntiFreezeInUse() && !ActiveAntiFreeze()->OnlyWhenIdle;
  int32_t n;
  do {
    // Received straight into the buffer's end: one receive, one block.
    const int32_t block = std::max<int32_t>(RecvBufferSize, 1);
    char* space = nullptr;
    n = TIdIOHandler::kNothingYet;
    if (!every_wait_responsive) {
      space = received_data_.AppendSpace(static_cast<size_t>(block));
      n = io_handler_->ReceiveAvailable(space, block);
    }
    if (n == TIdIOHandler::kNothingYet) {
      if (!io_handler_->WaitReadable(timeout)) {
        if (raise_on_timeout) throw EIdReadTimeout();
        return -1;
      }
      // Handlers run during the wait may have used the buffer.
      if (io_handler_ != nullptr) {
        space = received_data_.AppendSpace(static_cast<size_t>(block));
        n = io_handler_->ReceiveBytes(space, block);
      }
    }
    if (io_handler_ != nullptr) {
      if (n > 0) {
        if (ASCIIFilter) {
          for (int32_t i = 0; i < n; ++i) space[i] = static_cast<char>(space[i] & 0x7F);
        }
        received_data_.Commit(static_cast<size_t>(n));
      }
    } else {
      if (raise_if_disconnected) throw EIdNotConnected();
      n = 0;
    }
    peer_closed_ = n == 0;
    if (n == -1) {
      const int32_t error = Stack().GetLastError();
      if (Stack().CheckSocketResult(-1, {10058, 10053})) {
        DropConnection();
        if (received_data_.Size() == 0) Stack().RaiseSocketFailure(error);
        n = 0;
      }
    }
    CheckDisconnected(raise_if_disconnected, false);
    // A wait that brought no data for us (TLS records of the protocol
    // itself) waits again.
  } while ((n == 0 || n == TIdIOHandler::kNothingYet) && Connected());
  return n;
}

void TIdTCPConnection::ReadBytes(void* destination, int32_t count) {
  if (count <= 0 || destination == nullptr) return;
  while (received_data_.Size() < count) {
    FillInputBuffer(true, TimeoutDefault, true);
    CheckDisconnected(true, true);
  }
  std::memcpy(destination, received_data_.Memory(), static_cast<size_t>(count));
  received_data_.DropBytes(count);
}

void TIdTCPConnection::ReadBytesInto(platform::Stream& stream, int32_t count) {
  while (received_data_.Size() < count) {
    FillInputBuffer(true, TimeoutDefault, true);
    CheckDisconnected(true, true);
  }
  stream.Write(received_data_.Memory(), static_cast<size_t>(count));
  received_data_.DropBytes(count);
}

uint32_t TIdTCPConnection::ReadFourBytes(bool convert) {
  uint32_t value = 0;
  ReadBytes(&value, 4);
  return convert ? Stack().NetToHostLong(value) : value;
}

std::string TIdTCPConnection::ReadLine(const std::string& terminator, int32_t timeout, int32_t max_length) {
  const int64_t max = max_length == -1 ? MaxLineLength : max_length;
  const std::string z = terminator.empty() ? std::string("\n") : terminator;
  line_split_ = false;
  line_timed_out_ = false;

  auto over_long = [this, max]() -> std::string {
    if (MaxLineAction == maException) throw EIdReadLnMaxLineLengthExceeded();
    line_split_ = true;
    return received_data_.TakeBytes(static_cast<int32_t>(max));
  };

  int64_t found = 0;     // 1-based position of the terminator, 0 = none yet
  int64_t searched = 0;  // bytes already searched
  for (;;) {
    const int64_t size = received_data_.Size();
    if (size > 0) {
      // A handler run during a wait may have read from this connection.
      if (size < searched) searched = 0;
      // Only the new bytes, with the overlap a split terminator needs.
      const int64_t from = std::max<int64_t>(0, searched - static_cast<int64_t>(z.size()) + 1);
      const std::string_view bytes(received_data_.Memory() + from, static_cast<size_t>(size - from));
      const size_t at = bytes.find(z);
      found = at == std::string_view::npos ? 0 : from + static_cast<int64_t>(at) + 1;
      searched = size;
    }
    if (max != 0 && found - 1 > max) return over_long();
    if (found == 0) {
      if (max != 0 && searched > max) return over_long();
      CheckDisconnected(true, true);
      const int32_t got = FillInputBuffer(true, timeout, timeout == TimeoutDefault);
      if (got == 0 || got == -1) {
        line_timed_out_ = true;
        return "";
      }
    } else {
      break;
    }
  }
  std::string line = received_data_.TakeBytes(static_cast<int32_t>(found + static_cast<int64_t>(z.size()) - 1));
  line.resize(line.size() - z.size());
  if (z == "\n" && !line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

std::string TIdTCPConnection::ReadNonEmptyLine(int32_t attempts) {
  std::string line;
  do {
    line = ReadLine("\n", TimeoutDefault, -1);
    size_t begin = 0;
    size_t end = line.size();
    while (begin < end && static_cast<unsigned char>(line[begin]) <= 32) ++begin;
    while (end > begin && static_cast<unsigned char>(line[end - 1]) <= 32) --end;
    line = line.substr(begin, end - begin);
  } while (line.empty() && --attempts > 0);
  return line;
}

void TIdTCPConnection::ReadIntoStream(platform::Stream& stream, int64_t count, bool until_disconnect) {
  if (count == -1 && !until_disconnect) count = ReadFourBytes(true);
  if (count >= 0) stream.SetSize(stream.Position() + count);

  // Until the peer closes there is no limit: files above 2 GiB arrive whole.
  int64_t left = until_disconnect ? std::numeric_limits<int64_t>::max() : std::max<int64_t>(count, 0);
  const int32_t work_max =
      until_disconnect ? 0 : static_cast<int32_t>(std::min<int64_t>(left, std::numeric_limits<int32_t>::max()));
  StartWork(wmRead, work_max);

  // The work ends and the stream is cut to its position however this ends.
  struct Finish {
    TIdTCPConnection& connection;
    platform::Stream& stream;
    ~Finish() {
      connection.FinishWork(wmRead);
      if (stream.Size() > stream.Position()) stream.SetSize(stream.Position());
    }
  } finish{*this, stream};

  if (received_data_.Size() > 0) {
    const int32_t k = static_cast<int32_t>(std::min<int64_t>(received_data_.Size(), left));
    stream.Write(received_data_.Memory(), static_cast<size_t>(k));
    received_data_.DropBytes(k);
    left -= k;
  }
  const int32_t block = static_cast<int32_t>(std::min<int64_t>(left, std::max<int32_t>(RecvBufferSize, 1)));
  while (left > 0 && Connected()) {
    const int32_t k = static_cast<int32_t>(std::min<int64_t>(left, block));
    try {
      ReadBytesInto(stream, k);
      left -= k;
    } catch (const EIdConnClosedGracefully&) {
      if (!until_disconnect) throw;
      // The last, partial block: written, but not counted as work.
      const int64_t rest = received_data_.Size();
      stream.Write(received_data_.Memory(), static_cast<size_t>(rest));
      received_data_.EmptyBuffer();
      left -= rest;
    }
  }
}

// Writing.

void TIdTCPConnection::WriteText(const std::string& text) {
  if (!text.empty()) WriteBytes(text.data(), static_cast<int32_t>(text.size()));
}

void TIdTCPConnection::WriteLine(const std::string& text) { WriteText(text + "\r\n"); }

void TIdTCPConnection::WriteBytes(const void* source, int32_t count, bool /*now*/) {
  if (count <= 0 || source == nullptr) return;
  CheckDisconnected(true, true);
  if (!Connected()) throw EIdNotConnected();
  // A copy: handlers run between sends may change what source points to.
  const std::string bytes(static_cast<const char*>(source), static_cast<size_t>(count));
  HandlerInUse in_use(*this);
  int32_t sent = 0;
  do {
    if (io_handler_ == nullptr) throw EIdNotConnected();
    const int n = io_handler_->SendBytes(bytes.data() + sent, count - sent);
    // The hook may run socket calls of its own; keep this send's error.
    const int send_error = platform::sockets::LastError();
    TIdAntiFreezeBase::KeepResponsive(false);
    platform::sockets::SetLastError(send_error);
    peer_closed_ = n == 0;
    CheckDisconnected(true, false);
    if (n == -1) {
      if (Stack().CheckSocketResult(-1, {10058, 10053, 10054})) {
        DropConnection();
        Stack().RaiseSocketFailure(send_error);
      }
    }
    ReportWork(wmWrite, n);
    sent += n;
  } while (sent < count);
}

void TIdTCPConnection::WriteFourBytes(uint32_t value, bool convert) {
  const uint32_t bytes = convert ? Stack().HostToNetLong(value) : value;
  WriteBytes(&bytes, 4);
}

void TIdTCPConnection::WriteFromStream(platform::Stream& stream, bool all, int64_t size, bool write_count) {
  if (all) stream.Seek(0);
  const int64_t end = size == 0 ? stream.Size() : stream.Position() + size;
  const int64_t total = std::max<int64_t>(end - stream.Position(), 0);
  if (write_count) WriteFourBytes(static_cast<uint32_t>(total), true);
  StartWork(wmWrite, static_cast<int32_t>(std::min<int64_t>(total, std::numeric_limits<int32_t>::max())));
  struct Finish {
    TIdTCPConnection& connection;
    ~Finish() { connection.FinishWork(wmWrite); }
  } finish{*this};
  const int32_t chunk = std::max<int32_t>(SendBufferSize, 1);
  std::vector<char> block(static_cast<size_t>(chunk));
  while (stream.Position() < end) {
    const int64_t want = std::min<int64_t>(end - stream.Position(), chunk);
    const size_t got = stream.Read(block.data(), static_cast<size_t>(want));
    if (got == 0) throw EIdNoDataToRead();
    WriteBytes(block.data(), static_cast<int32_t>(got));
  }
}

}  // namespace net
