// A connection that gets its one peer by listening: it binds a socket,
// listens, waits for exactly one incoming connection, accepts it, and from
// then on reads and writes like any buffered connection. The FTP client uses
// one per active-mode transfer as the data connection.
#pragma once

#include <cstdint>
#include <string>

#include "net/io_handler.h"
#include "net/socket_handle.h"
#include "net/stack.h"
#include "net/tcp_connection.h"

namespace ftp {

class TIdSimpleServer : public net::TIdTCPConnection {
 public:
  TIdSimpleServer();
  ~TIdSimpleServer() override;

  // Local address to listen on; empty listens on all local addresses.
  std::string BoundIP;
  // Local port; 0 lets the system choose.
  int32_t BoundPort = 0;
  // Milliseconds each readiness check of WaitForConnection waits; 0 means
  // kDefaultAcceptPollTime, so the wait never spins.
  int32_t AcceptPollTime = 0;
  // The longest WaitForConnection waits for a connection, in milliseconds;
  // 0 waits without limit. Past it the wait raises EIdReadTimeout.
  int32_t AcceptTimeout = 0;
  // When set, only a connection from this address is taken; a connection
  // from anywhere else is closed at once and the wait goes on. The FTP
  // client sets the control connection's peer, so that nobody else can slip
  // data into a transfer.
  std::string AllowedPeerIP;

  static constexpr int32_t kDefaultAcceptPollTime = 250;

  bool AbortRequested() const { return abort_requested_; }
  bool IsListening() const { return is_listening_; }
  // The listening socket, Id_INVALID_SOCKET when none.
  net::TIdStackSocketHandle ListenSocket() const { return listen_socket_; }

  // Ends a running WaitForConnection at its next check (it gives false).
  virtual void AbortWait();
  // Binds (when not yet bound) and listens. On failure the socket handler is
  // freed and the socket errors pass on (EIdCouldNotBindSocket, ...).
  virtual void StartListening();
  virtual void BindListener();
  // Back to new: drops the listening socket or the accepted connection.
  virtual void StopListening();
  // Waits for the connection and accepts it; gives false when AbortWait
  // ended the wait. Either way the listening socket is closed afterwards.
  // Raises EIdConnClosedGracefully when the listener is closed meanwhile and
  // EIdReadTimeout when AcceptTimeout passes without a connection.
  virtual bool WaitForConnection();

  // The connection's reset, then not listening, no abort request, and the
  // socket handler freed (which closes its socket).
  void ClearConnectionState() override;

  // The binding of the listener's socket handler: first the listening
  // socket, after the accept the accepted connection; null without handler.
  net::TIdSocketHandle* SocketBinding() const;

 private:
  void MakeBinding();
  void CloseListenSocket();

  net::TIdStackSocketHandle listen_socket_ = net::Id_INVALID_SOCKET;
  bool abort_requested_ = false;
  bool is_listening_ = false;
};

}  // namespace ftp
