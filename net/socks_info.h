// SOCKS proxy settings of a socket I/O handler. The connect of the handler
// goes to the proxy when a version is set and then calls NegotiateSocks.
// Only the direct connection (svNoSocks) is carried so far.
#pragma once

#include <cstdint>
#include <string>

#include "net/component.h"

namespace net {

class TIdIOHandler;

enum TSocksVersion { svNoSocks, svSocks4, svSocks4A, svSocks5 };
enum TSocksAuthentication { saNoAuthentication, saUsernamePassword };

class TIdSocksInfo : public TIdComponent {
 public:
  TSocksAuthentication Authentication = saNoAuthentication;
  std::string Host;
  std::string Password;
  int32_t Port = 1080;
  std::string Username;
  TSocksVersion Version = svNoSocks;
  // The handler whose socket the negotiation uses; set by that handler.
  TIdIOHandler* IOHandler = nullptr;

  // Copies the six settings, not IOHandler.
  void CopyValuesFrom(const TIdSocksInfo& source);

  // Asks the proxy to connect through to host and port, over IOHandler's
  // socket. Does nothing with svNoSocks.
  virtual void NegotiateSocks(const std::string& host, int32_t port);
};

}  // namespace net
