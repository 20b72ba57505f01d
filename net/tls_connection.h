// The client side of TLS over one connected socket: the handshake with the
// server's certificate checked, then reads and writes that behave like the
// socket's non-waiting calls, and the close. Nothing here waits for data:
// the connection's buffered I/O waits for the socket as it does without
// TLS; only the handshake and a write that finds the socket full wait, each
// within its time-out.
//
// Encrypted bytes go through the stack's non-waiting receive and send (no
// SIGPIPE, errors in the stack's numbering). Reads map onto the socket's
// outcomes: the server's close_notify is a close (0); an alert, a damaged
// record or an end without close_notify (a possible truncation) are a reset
// (-1 with 10054), a socket error is that error.
#pragma once

#include <cstdint>
#include <memory>

#include "net/openssl_ptr.h"
#include "net/socket_handle.h"
#include "net/tls_context.h"

namespace net {

class TIdTLSConnection {
 public:
  // Over the binding's socket, which must stay open (or be closed through
  // the binding) while this object lives; the binding is not owned.
  TIdTLSConnection(std::shared_ptr<TIdTLSContext> context, TIdSocketHandle& binding);
  TIdTLSConnection(const TIdTLSConnection&) = delete;
  TIdTLSConnection& operator=(const TIdTLSConnection&) = delete;

  // The I/O method of TIdTLSContext: reads and writes on the socket that a
  // TIdTLSConnection names, never waiting.
  static BioMethodPtr MakeSocketMethod();

  // Offers the context's newest session, runs the handshake within timeout
  // milliseconds in all (TimeoutInfinite: no limit; read waits keep the
  // window responsive as every read wait does) and checks the certificate.
  // Raises EIdTLSError with the reason; EIdConnClosedGracefully when the
  // socket is closed meanwhile. Also the time-out of later writes.
  void Handshake(int32_t timeout);
  // Decrypted bytes that have already arrived: their count, 0 after the
  // server's close_notify, -1 with the stack's last error set, or
  // TIdIOHandler::kNothingYet when a whole record has not arrived yet.
  int Receive(void* buffer, int32_t length);
  // Decrypted bytes waiting to be read, so that no socket wait is needed.
  bool HasBufferedData() const;
  // Sends all bytes, waiting for room within the time-out: length, or -1
  // with the stack's last error set (10060 when time ran out).
  int Send(const void* buffer, int32_t length);
  // Sends close_notify when the connection is in order; never waits.
  void Shutdown();
  // The handshake resumed an earlier session.
  bool SessionReused() const;

 private:
  // Waits until the socket is writable; false when the time ran out.
  bool WaitWritable(int32_t timeout);
  // The outcome of a failed read or write as the socket's: sets the stack's
  // last error and gives -1, or kNothingYet.
  int Failed(int ssl_error);
  // The handshake's failure, with the reason.
  [[noreturn]] void RaiseHandshakeFailure(int ssl_error);
  void CheckFingerprint();

  std::shared_ptr<TIdTLSContext> context_;
  TIdSocketHandle& binding_;
  TIdStackUse stack_;
  SslPtr ssl_;
  int32_t timeout_ = TimeoutInfinite;
  bool established_ = false;
  bool failed_ = false;

  // Set by the I/O method: the socket error of the last failed call, and
  // whether the server ended the stream.
  int32_t socket_error_ = 0;
  bool end_of_stream_ = false;
  friend struct TIdTLSSocketMethod;
};

}  // namespace net
