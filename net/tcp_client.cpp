#include "net/tcp_client.h"

#include <memory>

#include "net/exceptions.h"

namespace net {

void TIdTCPClient::FireConnected() {
  if (OnConnected) OnConnected(this);
}

void TIdTCPClient::Connect(int32_t timeout) {
  if (IOHandler() != nullptr && IOHandler()->Connected()) throw EIdAlreadyConnected();
  if (IOHandler() == nullptr) {
    auto handler = std::make_unique<TIdIOHandlerSocket>();
    handler->OnStatus = OnStatus;
    SetIOHandler(std::move(handler));
  }
  HandlerInUse in_use(*this);
  try {
    IOHandler()->OpenHandler();
    ClearConnectionState();
    IOHandler()->ConnectTo(Host, Port, BoundIP, BoundPort, BoundPortLow, BoundPortHigh, timeout);
    ReportStatus(hsConnected, Host);
    FireConnected();
  } catch (...) {
    DropConnection();
    throw;
  }
}

}  // namespace net
