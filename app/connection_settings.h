// How the updater reaches its server, from section kvdatacont of
// updateset.inf: passive data connections, a SOCKS proxy and an FTP proxy.
// Read once at window creation, like the host and the account; never
// written back.
//
//   passive          0 or 1; 1: passive data connections (EPSV, then PASV)
//   socks_version    4, 4a or 5: the SOCKS proxy's protocol
//   socks_host       the SOCKS proxy (name or address)
//   socks_port       1 to 65535, default 1080
//   socks_user       SOCKS 4/4A user id; SOCKS 5 user name (then SOCKS 5
//                    logs in with user name and password)
//   socks_pass       SOCKS 5 password
//   ftpproxy_type    user_site, site, open, user_pass or transparent: how
//                    the FTP proxy is told the server
//   ftpproxy_host    the FTP proxy (name or address)
//   ftpproxy_port    1 to 65535, default 21
//   ftpproxy_user    the account on the FTP proxy, when it wants one
//   ftpproxy_pass
//
// A key that is absent or empty leaves the FTP client as the window set it
// (active mode, no proxy). With a SOCKS proxy the data connections are
// passive and go through the proxy as well: a server cannot connect back
// through a SOCKS proxy to a client that listens behind it.
//
// A value that cannot be honoured (an unknown version or scheme, a port
// that is no port, a proxy key without the key that selects the proxy, a
// password without a user, SOCKS with passive=0) is a refusal: the check
// then sends nothing, rather than reach the server some other way than the
// user asked.
#pragma once

#include <cstdint>
#include <string>

#include "ftp/ftp_client.h"
#include "ftp/ftp_proxy_settings.h"
#include "net/socks_info.h"
#include "settings/ini_file.h"

namespace app {

class ConnectionSettings {
 public:
  // The keys of section kvdatacont of the file.
  static ConnectionSettings Read(settings::TCustomIniFile& file);

  // Empty when every key can be honoured; otherwise why not, naming the key.
  const std::string& Refusal() const { return refusal_; }

  // Gives the client what the keys ask for; what they leave out stays as
  // it is. Call only when Refusal() is empty, before each connect: the
  // SOCKS proxy lives in a socket handler that every disconnect releases.
  void ApplyTo(ftp::TIdFTP& client) const;

 private:
  void Refuse(const std::string& why);
  void ReadPassive(settings::TCustomIniFile& file);
  void ReadSocks(settings::TCustomIniFile& file);
  void ReadFtpProxy(settings::TCustomIniFile& file);
  // A port key: its value, the default when it is empty, 0 (after a
  // refusal) when it is not a decimal 1 to 65535.
  int32_t ReadPort(settings::TCustomIniFile& file, const std::string& key, int32_t default_port);

  enum class Passive { kAsSet, kActive, kPassive };
  Passive passive_ = Passive::kAsSet;

  net::TSocksVersion socks_version_ = net::svNoSocks;
  std::string socks_host_;
  int32_t socks_port_ = 0;
  std::string socks_user_;
  std::string socks_pass_;

  ftp::TIdFtpProxySettings ftp_proxy_;

  std::string refusal_;
};

}  // namespace app
