// A TCP connection that connects to a host and port.
#pragma once

#include <cstdint>
#include <string>

#include "net/tcp_connection.h"

namespace net {

class TIdTCPClient : public TIdTCPConnection {
 public:
  // The local address and port to bind before connecting; empty and 0 let
  // the system choose. With BoundPort 0, a range BoundPortLow..BoundPortHigh
  // (both non-zero) is tried from its top.
  std::string BoundIP;
  int32_t BoundPort = 0;
  int32_t BoundPortHigh = 0;
  int32_t BoundPortLow = 0;
  std::string Host;
  int32_t Port = 0;
  TIdNotifyEvent OnConnected;

  virtual void StoreHost(const std::string& host) { Host = host; }
  virtual void StorePort(int32_t port) { Port = port; }

  // Opens the connection, with a socket I/O handler of its own when none is
  // set (given this client's OnStatus at this moment). timeout: milliseconds,
  // TimeoutInfinite, or TimeoutDefault (and 0), which connect without a
  // limit of their own. Raises EIdAlreadyConnected on an open connection;
  // after any failure the socket is closed and Connect may be called again.
  virtual void Connect(int32_t timeout = TimeoutDefault);

 protected:
  virtual void FireConnected();
};

}  // namespace net
