// SOCKS proxy settings of a socket I/O handler, and the negotiation that asks
// the proxy to connect through to the real server. When a version is set the
// handler's ConnectTo connects to the proxy (Host, Port) and then calls
// NegotiateSocks with the server's host and port.
//
// Limits of the requests (checked before anything is sent, raising
// EIdSocksInvalidRequest): each SOCKS 5 user name, password and host name
// has a length byte, so at most 255 bytes each; the SOCKS 4 user id and the
// SOCKS 4A host name end with a zero byte, so they may hold none, and are
// kept to 255 bytes each as well; the port must be 0..65535.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "net/component.h"
#include "net/socks_errors.h"

namespace net {

class TIdIOHandler;

enum TSocksVersion { svNoSocks, svSocks4, svSocks4A, svSocks5 };
enum TSocksAuthentication { saNoAuthentication, saUsernamePassword };

class TIdSocksInfo : public TIdComponent {
 public:
  // Told when settings it keeps a pointer to are destroyed.
  class Watcher {
   public:
    virtual void SocksInfoDestroyed(TIdSocksInfo* info) = 0;

   protected:
    ~Watcher() = default;
  };

  // The longest user name, password, user id or host name a request carries.
  static constexpr size_t kMaxFieldLength = 255;
  // How long a reply may keep the negotiation waiting for its next bytes
  // when ReplyTimeout is not above 0.
  static constexpr int32_t kDefaultReplyTimeout = 60000;

  // owner: the component that keeps these settings (the handler for its own
  // default settings). An I/O handler links to settings that have an owner
  // and copies those that have none.
  explicit TIdSocksInfo(TIdBaseComponent* owner = nullptr);
  ~TIdSocksInfo() override;

  TSocksAuthentication Authentication = saNoAuthentication;  // SOCKS 5 only
  std::string Host;                                          // the proxy
  std::string Password;                                      // SOCKS 5
  int32_t Port = 1080;                                       // the proxy's
  std::string Username;  // SOCKS 4 user id, SOCKS 5 user name
  TSocksVersion Version = svNoSocks;
  // Milliseconds the negotiation waits for the proxy's next bytes before it
  // gives up; 0 or less means kDefaultReplyTimeout. Not one of the copied
  // settings.
  int32_t ReplyTimeout = kDefaultReplyTimeout;

  TIdBaseComponent* Owner() const { return owner_; }

  // The handler whose socket the negotiation uses; set by that handler. It
  // is watched: when it is destroyed, IOHandler becomes null.
  TIdIOHandler* IOHandler() const { return io_handler_; }
  void SetIOHandler(TIdIOHandler* handler);

  // Copies the six settings (Authentication, Host, Password, Port,
  // Username, Version), not IOHandler.
  void CopyValuesFrom(const TIdSocksInfo& source);
  // The same from any component; one that is not TIdSocksInfo raises the
  // assignment error settings::EConvertError "Cannot assign a <class> to a
  // TIdSocksInfo".
  void CopyValuesFrom(const TIdBaseComponent& source);

  void AddWatcher(Watcher* watcher);
  void RemoveWatcher(Watcher* watcher);

  // Asks the proxy, over IOHandler's socket (already connected to it), to
  // connect through to host and port; svNoSocks does nothing. Each reply is
  // read in full before it is looked at. Raises the EIdSocksError of each
  // refusal; in SOCKS 5 a reply that does not come in full (closed, failed,
  // or nothing for ReplyTimeout) raises EIdSocksServerRespondError; in
  // SOCKS 4 a failing receive raises its own error, and an early close or
  // silence EIdSocksServerRespondError. With no IOHandler it raises
  // EIdClosedSocket.
  virtual void NegotiateSocks(const std::string& host, int32_t port);

 private:
  class HandlerLink;

  void NegotiateSocks4(const std::string& host, int32_t port);
  void NegotiateSocks5(const std::string& host, int32_t port);
  // The checked request parts, raising EIdSocksInvalidRequest.
  static void CheckPort(int32_t port);
  static void CheckLength(const std::string& value, const char* what);
  static void CheckNoZero(const std::string& value, const char* what);
  void SendRequest(const std::string& request);
  // Receives exactly length bytes into reply; socks5 chooses how failures
  // are reported (see NegotiateSocks).
  void ReceiveReply(char* reply, int32_t length, bool socks5);

  TIdBaseComponent* owner_;
  TIdIOHandler* io_handler_ = nullptr;
  std::unique_ptr<HandlerLink> handler_link_;
  std::vector<Watcher*> watchers_;
};

}  // namespace net
