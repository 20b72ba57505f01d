// Which FTP proxy the client logs in through, and how: the proxy's address
// and account and the login scheme that tells the proxy the real server.
#pragma once

#include <cstdint>
#include <string>

namespace ftp {

// The login schemes, in this order.
enum TIdFtpProxyType {
  fpcmNone,              // no proxy
  fpcmUserSite,          // USER user@host
  fpcmSite,              // SITE host, then the server login
  fpcmOpen,              // OPEN host, then the server login
  fpcmUserPass,          // USER user@proxyuser@host, PASS pass@proxypass
  fpcmTransparent,       // the proxy login, then the server login
  fpcmHttpProxyWithFtp,  // not supported: the login fails
};

class TIdFtpProxySettings {
 public:
  TIdFtpProxyType ProxyType = fpcmNone;
  std::string Host;
  std::string UserName;
  std::string Password;
  int32_t Port = 0;

  // Takes all five settings of source.
  void CopyValuesFrom(const TIdFtpProxySettings& source);
};

}  // namespace ftp
