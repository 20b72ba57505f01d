#include "ftp/ftp_proxy_settings.h"

namespace ftp {

void TIdFtpProxySettings::CopyValuesFrom(const TIdFtpProxySettings& source) {
  ProxyType = source.ProxyType;
  Host = source.Host;
  UserName = source.UserName;
  Password = source.Password;
  Port = source.Port;
}

}  // namespace ftp
