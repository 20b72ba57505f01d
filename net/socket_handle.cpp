#include "net/socket_handle.h"

#include <algorithm>
#include <vector>

#include "net/anti_freeze.h"
#include "net/exceptions.h"

namespace net {

TIdSocketHandle::TIdSocketHandle() { ForgetSocket(true); }

void TIdSocketHandle::Allocate(int type, int protocol) {
  ShutAndClose();
  socket_id_ = Stack().CreateSocket(type, protocol);
  is_open_ = true;
}

void TIdSocketHandle::SetRemote(const std::string& ip, int32_t port) {
  remote_ip_ = ip;
  remote_port_ = port;
}

bool TIdSocketHandle::BindOnce() {
  if (Stack().CheckSocketResult(Stack().BindLocal(socket_id_, Id_PF_INET4, IP, Port), {10048})) return false;
  RefreshLocal();
  return true;
}

void TIdSocketHandle::BindLocal() {
  if (Port == 0 && ClientPortMin != 0 && ClientPortMax != 0) {
    if (ClientPortMin > ClientPortMax) throw EIdInvalidPortRange(ClientPortMin, ClientPortMax);
    for (int32_t port = ClientPortMax; port >= ClientPortMin; --port) {
      Port = port;
      if (BindOnce()) return;
    }
    throw EIdCanNotBindPortInRange(ClientPortMin, ClientPortMax);
  }
  if (!BindOnce()) throw EIdCouldNotBindSocket();
}

int TIdSocketHandle::Connect(int family) {
  const int result = Stack().Connect(socket_id_, family, remote_ip_, remote_port_);
  if (result != -1) {
    RefreshLocal();
    RefreshPeer();
  }
  return result;
}

void TIdSocketHandle::ListenOn(int queue_length) { Stack().CheckSocketResult(Stack().ListenOn(socket_id_, queue_length)); }

bool TIdSocketHandle::Accept(TIdStackSocketHandle listening) {
  ForgetSocket(true);
  std::string ip;
  int32_t port = 0;
  const TIdStackSocketHandle s = Stack().Accept(listening, ip, port);
  if (Stack().CheckSocketResult(s, {10004, 10038})) return false;
  socket_id_ = s;
  is_open_ = true;
  RefreshLocal();
  RefreshPeer();
  return true;
}

void TIdSocketHandle::Adopt(TIdStackSocketHandle accepted) {
  ForgetSocket(true);
  socket_id_ = accepted;
  is_open_ = true;
  RefreshLocal();
  RefreshPeer();
}

bool TIdSocketHandle::SelectReadable(int32_t timeout) {
  std::vector<TIdStackSocketHandle> read{socket_id_};
  return Stack().Select(&read, nullptr, nullptr, timeout) == 1;
}

bool TIdSocketHandle::WaitReadable(int32_t timeout) {
  // One wait and the keep-responsive hook after it. The component may run
  // handlers that close this socket; a closed socket is never readable.
  auto wait_once = [this](int32_t t) {
    if (!is_open_) throw EIdConnClosedGracefully();
    const bool readable = SelectReadable(t);
    TIdAntiFreezeBase::KeepResponsive(!readable);
    if (!is_open_) throw EIdConnClosedGracefully();
    return readable;
  };

  if (!is_open_) throw EIdConnClosedGracefully();
  if (TIdAntiFreezeBase::AntiFreezeInUse()) {
    // A slice below 1 ms would never bring a finite wait to its end.
    const int32_t slice = std::max<int32_t>(ActiveAntiFreeze()->IdleTimeOut, 1);
    if (timeout == TimeoutInfinite) {
      while (!wait_once(slice)) {
      }
      return true;
    }
    if (timeout > slice) {
      // The remainder first, then whole slices: 600 with 250 is 100, 250, 250.
      int32_t first = timeout % slice;
      if (first == 0) first = slice;
      if (wait_once(first)) return true;
      for (int32_t left = timeout - first; left > 0; left -= slice) {
        if (wait_once(slice)) return true;
      }
      return false;
    }
  }
  return wait_once(timeout);
}

int TIdSocketHandle::SendBytes(const void* buffer, int32_t length, int flags) {
  return Stack().SendBytes(socket_id_, buffer, length, flags);
}

int TIdSocketHandle::ReceiveBytes(void* buffer, int32_t length, int flags) {
  return Stack().ReceiveBytes(socket_id_, buffer, length, flags);
}

void TIdSocketHandle::WidenReceiveWindow(int32_t bytes) {
  if (is_open_) Stack().WidenReceiveWindow(socket_id_, bytes);
}

void TIdSocketHandle::SetOption(int level, int option, const void* value, int length) {
  Stack().CheckSocketResult(Stack().SetOption(socket_id_, level, option, value, length));
}

void TIdSocketHandle::ShutAndClose() {
  if (!is_open_) return;
  is_open_ = false;
  Stack().Shutdown(socket_id_, Id_SD_Send);
  Stack().ShutAndClose(socket_id_);
}

void TIdSocketHandle::ForgetSocket(bool reset_local) {
  is_open_ = false;
  socket_id_ = Id_INVALID_SOCKET;
  if (reset_local) {
    IP.clear();
    Port = 0;
  }
  remote_ip_.clear();
  remote_port_ = 0;
}

void TIdSocketHandle::RefreshLocal() {
  int family = 0;
  Stack().GetSockName(socket_id_, family, IP, Port);
}

void TIdSocketHandle::RefreshPeer() {
  int family = 0;
  Stack().GetPeerName(socket_id_, family, remote_ip_, remote_port_);
}

void TIdSocketHandle::CopyValuesFrom(const TIdSocketHandle& source) {
  IP = source.IP;
  Port = source.Port;
  remote_ip_ = source.remote_ip_;
  remote_port_ = source.remote_port_;
}

}  // namespace net
