// One socket with its local and remote addresses: allocate, bind (to an
// address, a port or a port range), connect, listen, accept, wait until
// readable, send, receive, close.
#pragma once

#include <cstdint>
#include <string>

#include "net/stack.h"

namespace net {

class TIdSocketHandle {
 public:
  TIdSocketHandle();
  virtual ~TIdSocketHandle() = default;
  TIdSocketHandle(const TIdSocketHandle&) = delete;
  TIdSocketHandle& operator=(const TIdSocketHandle&) = delete;

  // The local binding: empty address and port 0 mean "any" before binding;
  // after binding they hold what the system gave the socket.
  std::string IP;
  int32_t Port = 0;
  // A local port range for binding when Port is 0; 0 and 0 = no range.
  int32_t ClientPortMin = 0;
  int32_t ClientPortMax = 0;

  TIdStackSocketHandle SocketId() const { return socket_id_; }
  bool IsOpen() const { return is_open_; }
  const std::string& RemoteIP() const { return remote_ip_; }
  int32_t RemotePort() const { return remote_port_; }

  // Closes whatever is open, then opens a new socket (bindings kept).
  void Allocate(int type = Id_SOCK_STREAM, int protocol = Id_IPPROTO_IP);
  // The address must already be dotted text.
  void SetRemote(const std::string& ip, int32_t port);
  // Binds to IP and Port, or with Port 0 and a range set, to the highest
  // free port of the range; raises the handle errors when it cannot.
  void BindLocal();
  // Connects to RemoteIP and RemotePort and gives the raw result (0 or -1),
  // to be checked with CheckSocketResult. Safe to run on another thread
  // while this thread does nothing with the handle but ShutAndClose.
  virtual int Connect(int family = Id_PF_INET4);
  void ListenOn(int queue_length);
  // Takes over one connection of the listening socket; false (and reset)
  // when the accept was interrupted or the listener is no socket.
  bool Accept(TIdStackSocketHandle listening);
  // Takes over a connection accepted elsewhere (a listener that first looks
  // at the peer's address), as Accept would have: the socket held before is
  // forgotten, not closed.
  void Adopt(TIdStackSocketHandle accepted);
  // True when data (or the peer's close) can be read within the time-out
  // (TimeoutInfinite waits without limit). While the keep-responsive
  // component is in use the wait is cut into slices of its IdleTimeOut, and
  // the component runs after each. Raises EIdConnClosedGracefully when no
  // socket is open, also when the socket was closed during the wait.
  bool WaitReadable(int32_t timeout);
  int SendBytes(const void* buffer, int32_t length, int flags = 0);
  int ReceiveBytes(void* buffer, int32_t length, int flags = 0);
  // Raises EIdSocketError on failure.
  void SetOption(int level, int option, const void* value, int length);
  // A larger initial receive window for a bulk transfer; best effort.
  void WidenReceiveWindow(int32_t bytes);
  // Shuts sending down and closes, once; SocketId keeps its old value.
  virtual void ShutAndClose();
  // Forgets the socket without closing it, and the remote address; with
  // reset_local the local binding too.
  void ForgetSocket(bool reset_local);
  void RefreshLocal();
  void RefreshPeer();
  // Copies IP, Port, RemoteIP and RemotePort.
  void CopyValuesFrom(const TIdSocketHandle& source);

 protected:
  // One readiness wait of the socket alone; tests replace it to observe the
  // slicing without waiting.
  virtual bool SelectReadable(int32_t timeout);
  TIdStack& Stack() const { return stack_.Stack(); }

 private:
  bool BindOnce();

  TIdStackUse stack_;
  TIdStackSocketHandle socket_id_ = Id_INVALID_SOCKET;
  bool is_open_ = false;
  std::string remote_ip_;
  int32_t remote_port_ = 0;
};

}  // namespace net
