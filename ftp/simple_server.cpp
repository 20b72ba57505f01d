#include "ftp/simple_server.h"

#include <chrono>
#include <memory>

#include "net/exceptions.h"

namespace ftp {

TIdSimpleServer::TIdSimpleServer() = default;

// The base's destructor drops the connection and frees the handler, which
// closes whatever socket the binding holds.
TIdSimpleServer::~TIdSimpleServer() = default;

net::TIdSocketHandle* TIdSimpleServer::SocketBinding() const {
  auto* handler = dynamic_cast<net::TIdIOHandlerSocket*>(IOHandler());
  return handler == nullptr ? nullptr : handler->SocketBinding();
}

void TIdSimpleServer::AbortWait() { abort_requested_ = true; }

void TIdSimpleServer::ClearConnectionState() {
  TIdTCPConnection::ClearConnectionState();
  abort_requested_ = false;
  is_listening_ = false;
  // Freeing the handler closes the listening socket with it; its number must
  // not be used again.
  SetIOHandler(static_cast<net::TIdIOHandler*>(nullptr));
  listen_socket_ = net::Id_INVALID_SOCKET;
}

void TIdSimpleServer::MakeBinding() {
  auto handler = std::make_unique<net::TIdIOHandlerSocket>();
  net::TIdIOHandlerSocket* raw = handler.get();
  SetIOHandler(std::move(handler));
  raw->OpenHandler();
}

void TIdSimpleServer::StartListening() {
  if (SocketBinding() == nullptr) {
    ClearConnectionState();
    MakeBinding();
  }
  try {
    if (listen_socket_ == net::Id_INVALID_SOCKET) BindListener();
    SocketBinding()->ListenOn(15);
  } catch (...) {
    SetIOHandler(static_cast<net::TIdIOHandler*>(nullptr));
    listen_socket_ = net::Id_INVALID_SOCKET;
    throw;
  }
  is_listening_ = true;
}

void TIdSimpleServer::BindListener() {
  net::TIdSocketHandle* binding = SocketBinding();
  try {
    binding->Allocate(net::Id_SOCK_STREAM, net::Id_IPPROTO_IP);
    listen_socket_ = binding->SocketId();
    binding->IP = BoundIP;
    binding->Port = BoundPort;
    binding->BindLocal();
  } catch (...) {
    listen_socket_ = net::Id_INVALID_SOCKET;
    throw;
  }
}

void TIdSimpleServer::StopListening() { ClearConnectionState(); }

void TIdSimpleServer::CloseListenSocket() {
  net::TIdSocketHandle* binding = SocketBinding();
  if (binding != nullptr && binding->IsOpen() && binding->SocketId() == listen_socket_) {
    // Still held by the binding: close it there, so it is closed once.
    binding->ShutAndClose();
  } else if (listen_socket_ != net::Id_INVALID_SOCKET) {
    Stack().ShutAndClose(listen_socket_);
  }
  listen_socket_ = net::Id_INVALID_SOCKET;
}

bool TIdSimpleServer::WaitForConnection() {
  if (!is_listening_) StartListening();
  using Clock = std::chrono::steady_clock;
  const int32_t poll = AcceptPollTime > 0 ? AcceptPollTime : kDefaultAcceptPollTime;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(AcceptTimeout);

  bool accepted = false;
  while (!abort_requested_ && !accepted) {
    net::TIdSocketHandle* binding = SocketBinding();
    if (binding == nullptr) throw net::EIdConnClosedGracefully();
    // The binding's wait runs the keep-responsive hook after each slice and
    // raises EIdConnClosedGracefully once the listener has been closed.
    if (binding->WaitReadable(poll)) {
      binding->ListenOn(1);
      std::string ip;
      int32_t port = 0;
      const net::TIdStackSocketHandle s = Stack().Accept(listen_socket_, ip, port);
      if (Stack().CheckSocketResult(s, {10004, 10038})) {
        // The accept failed: the binding is left without a socket, and the
        // first read says so.
        CloseListenSocket();
        binding->ForgetSocket(true);
        return true;
      }
      if (!AllowedPeerIP.empty() && ip != AllowedPeerIP) {
        Stack().ShutAndClose(s);
      } else {
        binding->Adopt(s);
        accepted = true;
        break;
      }
    }
    if (AcceptTimeout > 0 && Clock::now() >= deadline) {
      CloseListenSocket();
      throw net::EIdReadTimeout();
    }
  }
  CloseListenSocket();
  return accepted;
}

}  // namespace ftp
