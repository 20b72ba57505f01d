#include "net/socks_info.h"

#include <cxxabi.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <typeinfo>

#include "net/exceptions.h"
#include "net/io_handler.h"
#include "settings/integer_conversion.h"

namespace net {
namespace {

constexpr char kSocks4Version = 4;
constexpr char kSocks5Version = 5;
constexpr char kCommandConnect = 1;
constexpr unsigned char kSocks4Granted = 90;
constexpr unsigned char kSocks4Rejected = 91;
constexpr unsigned char kSocks4NoIdentd = 92;
constexpr unsigned char kSocks4IdentMismatch = 93;
constexpr char kMethodNone = 0;
constexpr char kMethodUserPass = 2;
constexpr char kUserPassVersion = 1;
constexpr char kAddressIPv4 = 1;
constexpr char kAddressDomain = 3;
constexpr char kAddressIPv6 = 4;
// The first part of a SOCKS 5 connect reply: version, status, reserved,
// address type and the first byte of the bound address.
constexpr int32_t kSocks5ReplyHead = 5;
// 4A's placeholder address 0.0.0.1 tells the proxy to resolve the name.
constexpr char kSocks4AAddress[4] = {0, 0, 0, 1};

// The class name of a component for the assignment error, without its
// namespace.
std::string ClassName(const TIdBaseComponent& component) {
  const char* mangled = typeid(component).name();
  int status = 0;
  char* demangled = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
  std::string name = status == 0 && demangled != nullptr ? demangled : mangled;
  std::free(demangled);
  const size_t colon = name.rfind("::");
  if (colon != std::string::npos) name.erase(0, colon + 2);
  return name;
}

void AppendPort(std::string& request, int32_t port) {
  request += static_cast<char>((port >> 8) & 0xFF);
  request += static_cast<char>(port & 0xFF);
}

}  // namespace

// Watches the I/O handler for its destruction, so that IOHandler never
// points at a handler that is gone.
class TIdSocksInfo::HandlerLink final : public TIdIOHandler::Watcher {
 public:
  HandlerLink(TIdSocksInfo& info, TIdIOHandler& handler) : info_(info), handler_(handler) {
    handler_.AddWatcher(this);
  }
  ~HandlerLink() { handler_.RemoveWatcher(this); }
  HandlerLink(const HandlerLink&) = delete;
  HandlerLink& operator=(const HandlerLink&) = delete;

  void IOHandlerDestroyed(TIdIOHandler* handler) override {
    if (handler != &handler_) return;
    info_.io_handler_ = nullptr;
    // Last: this destroys the link itself.
    info_.handler_link_.reset();
  }

 private:
  TIdSocksInfo& info_;
  TIdIOHandler& handler_;
};

TIdSocksInfo::TIdSocksInfo(TIdBaseComponent* owner) : owner_(owner) {}

TIdSocksInfo::~TIdSocksInfo() {
  // A watcher may remove itself while it is told, so tell from a copy.
  const std::vector<Watcher*> watchers = watchers_;
  for (Watcher* watcher : watchers) watcher->SocksInfoDestroyed(this);
  handler_link_.reset();
}

void TIdSocksInfo::SetIOHandler(TIdIOHandler* handler) {
  if (handler == io_handler_) return;
  handler_link_.reset();
  io_handler_ = handler;
  if (handler != nullptr) handler_link_ = std::make_unique<HandlerLink>(*this, *handler);
}

void TIdSocksInfo::CopyValuesFrom(const TIdSocksInfo& source) {
  Authentication = source.Authentication;
  Host = source.Host;
  Password = source.Password;
  Port = source.Port;
  Username = source.Username;
  Version = source.Version;
}

void TIdSocksInfo::CopyValuesFrom(const TIdBaseComponent& source) {
  const auto* info = dynamic_cast<const TIdSocksInfo*>(&source);
  if (info == nullptr) {
    throw settings::EConvertError("Cannot assign a " + ClassName(source) + " to a " + ClassName(*this));
  }
  CopyValuesFrom(*info);
}

void TIdSocksInfo::AddWatcher(Watcher* watcher) {
  if (std::find(watchers_.begin(), watchers_.end(), watcher) == watchers_.end()) watchers_.push_back(watcher);
}

void TIdSocksInfo::RemoveWatcher(Watcher* watcher) {
  watchers_.erase(std::remove(watchers_.begin(), watchers_.end(), watcher), watchers_.end());
}

void TIdSocksInfo::NegotiateSocks(const std::string& host, int32_t port) {
  switch (Version) {
    case svNoSocks: return;
    case svSocks4:
    case svSocks4A: NegotiateSocks4(host, port); return;
    case svSocks5: NegotiateSocks5(host, port); return;
  }
  // Never report a proxy connection as made without its negotiation.
  throw EIdSocksInvalidRequest("Unknown socks version.");
}

void TIdSocksInfo::NegotiateSocks4(const std::string& host, int32_t port) {
  // Every check before the first byte goes out.
  CheckPort(port);
  CheckLength(Username, "user id");
  CheckNoZero(Username, "user id");
  const bool socks4a = Version == svSocks4A;
  if (socks4a) {
    CheckLength(host, "host name");
    CheckNoZero(host, "host name");
  }
  if (io_handler_ == nullptr) throw EIdClosedSocket();

  std::string request;
  request += kSocks4Version;
  request += kCommandConnect;
  AppendPort(request, port);
  if (socks4a) {
    request.append(kSocks4AAddress, sizeof kSocks4AAddress);
  } else {
    // Looked up here, on the client; a failed lookup raises its socket error.
    const uint32_t address = Stack().StringToAddress(Stack().LookupHost(host));
    request.append(reinterpret_cast<const char*>(&address), sizeof address);
  }
  request += Username;
  request += '\0';
  if (socks4a) {
    request += host;
    request += '\0';
  }
  SendRequest(request);

  char reply[8];
  ReceiveReply(reply, sizeof reply, false);
  switch (static_cast<unsigned char>(reply[1])) {
    case kSocks4Granted: return;
    case kSocks4Rejected: throw EIdSocksRequestFailed();
    case kSocks4NoIdentd: throw EIdSocksRequestServerFailed();
    case kSocks4IdentMismatch: throw EIdSocksRequestIdentFailed();
    default: throw EIdSocksUnknownError();
  }
}

void TIdSocksInfo::NegotiateSocks5(const std::string& host, int32_t port) {
  const bool with_password = Authentication == saUsernamePassword;
  CheckPort(port);
  CheckLength(host, "host name");
  if (with_password) {
    CheckLength(Username, "user name");
    CheckLength(Password, "password");
  }
  if (io_handler_ == nullptr) throw EIdClosedSocket();

  // 1. One method offered; the proxy must choose exactly it.
  const char method = with_password ? kMethodUserPass : kMethodNone;
  SendRequest(std::string{kSocks5Version, 1, method});
  char choice[2];
  ReceiveReply(choice, sizeof choice, true);
  if (choice[1] != method) throw EIdSocksAuthMethodError();

  // 2. User name and password.
  if (with_password) {
    std::string request;
    request += kUserPassVersion;
    request += static_cast<char>(Username.size());
    request += Username;
    request += static_cast<char>(Password.size());
    request += Password;
    SendRequest(request);
    char status[2];
    ReceiveReply(status, sizeof status, true);
    if (status[1] != 0) throw EIdSocksAuthError();
  }

  // 3. The connect, the host always sent as a name.
  std::string request{kSocks5Version, kCommandConnect, 0, kAddressDomain};
  request += static_cast<char>(host.size());
  request += host;
  AppendPort(request, port);
  SendRequest(request);

  char head[kSocks5ReplyHead];
  ReceiveReply(head, sizeof head, true);
  switch (static_cast<unsigned char>(head[1])) {
    case 0: break;
    case 1: throw EIdSocksServerGeneralError();
    case 2: throw EIdSocksServerPermissionError();
    case 3: throw EIdSocksServerNetUnreachableError();
    case 4: throw EIdSocksServerHostUnreachableError();
    case 5: throw EIdSocksServerConnectionRefusedError();
    case 6: throw EIdSocksServerTTLExpiredError();
    case 7: throw EIdSocksServerCommandError();
    case 8: throw EIdSocksServerAddressError();
    default: throw EIdSocksUnknownError();
  }

  // 4. The rest of the bound address and the bound port, read and dropped,
  // so that none of it is taken for the server's first bytes.
  int32_t rest = 0;
  switch (head[3]) {
    case kAddressIPv4: rest = 4 - 1 + 2; break;
    case kAddressDomain: rest = static_cast<unsigned char>(head[4]) + 2; break;
    case kAddressIPv6: rest = 16 - 1 + 2; break;
    default: throw EIdSocksServerReplyError();
  }
  char tail[255 + 2];
  ReceiveReply(tail, rest, true);
}

void TIdSocksInfo::CheckPort(int32_t port) {
  if (port < 0 || port > 0xFFFF) {
    throw EIdSocksInvalidRequest("Invalid port for a socks connect: " + std::to_string(port) + ".");
  }
}

void TIdSocksInfo::CheckLength(const std::string& value, const char* what) {
  if (value.size() > kMaxFieldLength) {
    throw EIdSocksInvalidRequest(std::string("Socks ") + what + " is longer than " +
                                 std::to_string(kMaxFieldLength) + " bytes.");
  }
}

void TIdSocksInfo::CheckNoZero(const std::string& value, const char* what) {
  if (value.find('\0') != std::string::npos) {
    throw EIdSocksInvalidRequest(std::string("Socks ") + what + " contains a zero byte.");
  }
}

void TIdSocksInfo::SendRequest(const std::string& request) {
  const auto length = static_cast<int32_t>(request.size());
  int32_t sent = 0;
  while (sent < length) {
    const int n = io_handler_->SendBytes(request.data() + sent, length - sent);
    Stack().CheckSocketResult(n);
    // A blocking send that moves nothing: the socket is of no more use.
    if (n <= 0) throw EIdClosedSocket();
    sent += n;
  }
}

void TIdSocksInfo::ReceiveReply(char* reply, int32_t length, bool socks5) {
  const int32_t timeout = ReplyTimeout > 0 ? ReplyTimeout : kDefaultReplyTimeout;
  int32_t got = 0;
  while (got < length) {
    // A handler run while waiting may have destroyed the I/O handler.
    if (io_handler_ == nullptr) {
      if (socks5) throw EIdSocksServerRespondError();
      throw EIdClosedSocket();
    }
    int n = 0;
    try {
      if (!io_handler_->WaitReadable(timeout)) throw EIdSocksServerRespondError();
      n = io_handler_->ReceiveBytes(reply + got, length - got);
      if (n < 0) Stack().CheckSocketResult(n);
    } catch (const EIdSocksError&) {
      throw;
    } catch (const EIdException&) {
      if (socks5) throw EIdSocksServerRespondError();
      throw;
    }
    // Closed before the whole reply came.
    if (n <= 0) throw EIdSocksServerRespondError();
    got += n;
  }
}

}  // namespace net
