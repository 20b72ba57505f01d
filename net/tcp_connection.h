// One TCP connection: its connect state (connected, closed by the peer or
// locally, the disconnect and its events) and its buffered reading and
// writing. Every received byte comes in through FillInputBuffer, every sent
// one goes out through WriteBytes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "net/buffers.h"
#include "net/component.h"
#include "net/io_handler.h"

namespace platform {
class Stream;
}

namespace net {

enum TIdMaxLineAction { maException, maSplit };

class TIdTCPConnection : public TIdComponent, private TIdIOHandler::Watcher {
 public:
  TIdTCPConnection();
  ~TIdTCPConnection() override;

  // Clear the top bit of every received byte.
  bool ASCIIFilter = false;
  TIdMaxLineAction MaxLineAction = maException;
  // The longest line ReadLine accepts; 0 = no limit.
  int32_t MaxLineLength = 16384;
  // Read time-out in milliseconds; 0 = no limit.
  int32_t ReadTimeout = 0;
  // Bytes asked for per receive.
  int32_t RecvBufferSize = 32768;
  // Chunk size of WriteFromStream.
  int32_t SendBufferSize = 32768;
  TIdNotifyEvent OnDisconnected;

  // The connection is known to be closed (by the peer or locally).
  bool PeerClosed() const { return peer_closed_; }
  // The last ReadLine gave a split piece of an over-long line.
  bool LineSplit() const { return line_split_; }
  // The last ReadLine gave up because nothing more could be read.
  bool LineTimedOut() const { return line_timed_out_; }

  TIdIOHandler* IOHandler() const { return io_handler_; }
  // Uses a handler that lives elsewhere; if it is destroyed there, IOHandler
  // becomes null. An owned handler that is replaced is freed first.
  void SetIOHandler(TIdIOHandler* handler);
  // Uses a handler that this connection owns and frees on Disconnect.
  void SetIOHandler(std::unique_ptr<TIdIOHandler> handler);
  bool OwnsIOHandler() const { return owned_io_handler_ != nullptr; }

  // Received bytes not yet read.
  TIdManagedBuffer& ReceivedData() { return received_data_; }
  const TIdManagedBuffer& ReceivedData() const { return received_data_; }

  // Connect state.
  virtual void FireDisconnected();
  // Empties ReceivedData and clears PeerClosed.
  virtual void ClearConnectionState();
  // Notices a close (reporting "Disconnected." and OnDisconnected once when
  // the handler is still open) and gives whether the connection counts as
  // disconnected. With raise, a disconnected connection raises
  // EIdConnClosedGracefully unless unread data is buffered (and
  // ignore_buffer is false).
  virtual bool CheckDisconnected(bool raise, bool ignore_buffer = false);
  virtual bool Connected();
  // Reports "Disconnecting.", closes, frees an owned handler, fires
  // OnDisconnected and reports "Disconnected.", whether or not it was open.
  virtual void Disconnect();
  // Closes the handler's socket and marks the connection closed.
  virtual void DropConnection();

  // Reading. Each takes its bytes from ReceivedData, which FillInputBuffer
  // fills with at most one receive of RecvBufferSize bytes per wait.

  // Gives the count appended, 0 when the connection closed, -1 when the wait
  // timed out and raise_on_timeout is false.
  virtual int32_t FillInputBuffer(bool raise_if_disconnected = true, int32_t timeout = TimeoutDefault,
                                  bool raise_on_timeout = true);
  void ReadBytes(void* destination, int32_t count);
  // Four bytes, with convert from network byte order.
  uint32_t ReadFourBytes(bool convert = true);
  // One line without its terminator (an empty terminator is LF; after LF a
  // CR before it is cut too). max_length -1 means MaxLineLength. With an
  // explicit time-out a wait that times out (or a close with an unterminated
  // line buffered) gives "" and sets LineTimedOut; with TimeoutDefault the
  // time-out raises EIdReadTimeout.
  virtual std::string ReadLine(const std::string& terminator = "\n", int32_t timeout = TimeoutDefault,
                               int32_t max_length = -1);
  // ReadLine trimmed of bytes up to 32 at both ends, skipping lines that are
  // empty after trimming, at most attempts times.
  std::string ReadNonEmptyLine(int32_t attempts);
  // Copies received bytes into the stream at its position: count bytes (-1:
  // first read the count as four bytes), or with until_disconnect everything
  // until the peer closes. Read work is reported per block taken. However
  // it ends, the work ends (OnWorkEnd) and the stream is cut to its
  // position; a failure of those after a failure of the reading itself is
  // dropped, so the caller hears the first.
  void ReadIntoStream(platform::Stream& stream, int64_t count = -1, bool until_disconnect = false);

  // Writing. Every call sends at once; KeepResponsive runs after each send.
  virtual void WriteText(const std::string& text);
  // The text and CR LF.
  virtual void WriteLine(const std::string& text);
  void WriteBytes(const void* source, int32_t count, bool now = true);
  void WriteFourBytes(uint32_t value, bool convert = true);
  // The stream (from its start with all) in chunks of SendBufferSize; size 0
  // means to its end; with write_count the byte count goes first.
  virtual void WriteFromStream(platform::Stream& stream, bool all = true, int64_t size = 0, bool write_count = false);

 protected:
  void SetPeerClosed(bool closed) { peer_closed_ = closed; }

  // Held while a call into the I/O handler runs: a handler freed meanwhile
  // (a Disconnect from an event handler) is freed only when the last such
  // call has returned.
  class HandlerInUse {
   public:
    explicit HandlerInUse(TIdTCPConnection& connection);
    ~HandlerInUse();
    HandlerInUse(const HandlerInUse&) = delete;
    HandlerInUse& operator=(const HandlerInUse&) = delete;

   private:
    TIdTCPConnection& connection_;
  };

 private:
  void IOHandlerDestroyed(TIdIOHandler* handler) override;
  void ReleaseIOHandler();
  // ReadBytes that writes the bytes to the stream instead of copying them.
  void ReadBytesInto(platform::Stream& stream, int32_t count);
  // ReadIntoStream's reading, between its work's start and end.
  void ReadStreamBody(platform::Stream& stream, int64_t left, bool until_disconnect);
  // Ends ReadIntoStream's work (OnWorkEnd) and cuts the stream to its position.
  void FinishReadStream(platform::Stream& stream);

  TIdManagedBuffer received_data_;
  TIdIOHandler* io_handler_ = nullptr;
  std::unique_ptr<TIdIOHandler> owned_io_handler_;
  std::vector<std::unique_ptr<TIdIOHandler>> retired_io_handlers_;
  int handler_calls_ = 0;
  bool peer_closed_ = false;
  bool line_split_ = false;
  bool line_timed_out_ = false;
};

}  // namespace net
