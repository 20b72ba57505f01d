#include "net/socks_info.h"

#include "net/exceptions.h"

namespace net {

void TIdSocksInfo::CopyValuesFrom(const TIdSocksInfo& source) {
  Authentication = source.Authentication;
  Host = source.Host;
  Password = source.Password;
  Port = source.Port;
  Username = source.Username;
  Version = source.Version;
}

void TIdSocksInfo::NegotiateSocks(const std::string& /*host*/, int32_t /*port*/) {
  if (Version == svNoSocks) return;
  // Never report a proxy connection as made without its negotiation.
  throw EIdSocksError("SOCKS negotiation is not available.");
}

}  // namespace net
