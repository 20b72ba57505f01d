#include "app/connection_settings.h"

#include <memory>
#include <utility>
#include <vector>

#include "app/texts.h"
#include "net/io_handler.h"

namespace app {
namespace {

// A spelling of a setting's value, in upper case, and what it stands for.
struct Named {
  const char* name;
  int value;
};

const std::vector<Named> kSocksVersions = {
    {"4", net::svSocks4},
    {"4A", net::svSocks4A},
    {"5", net::svSocks5},
};

// The login schemes a user may choose; fpcmHttpProxyWithFtp is not among
// them, since it only ever fails.
const std::vector<Named> kFtpProxyTypes = {
    {"USER_SITE", ftp::fpcmUserSite},
    {"SITE", ftp::fpcmSite},
    {"OPEN", ftp::fpcmOpen},
    {"USER_PASS", ftp::fpcmUserPass},
    {"TRANSPARENT", ftp::fpcmTransparent},
};

// The value of value among names (without regard to ASCII letter case), or
// -1.
int Lookup(const std::vector<Named>& names, const std::string& value) {
  const std::string upper = texts::UpperAscii(value);
  for (const Named& named : names) {
    if (upper == named.name) return named.value;
  }
  return -1;
}

std::string Quoted(const std::string& key, const std::string& value) { return key + "=\"" + value + "\""; }

// The value that the selector key names among names (without regard to
// ASCII letter case); -1 when it is empty. why says what cannot be honoured:
// a value that names nothing known, or an empty selector while one of
// proxy_keys is set (a connection made straight to the server would not be
// the one the user asked for).
int ReadSelector(settings::TCustomIniFile& file, const std::string& selector, const std::vector<Named>& names,
                 const std::string& spellings, const std::vector<std::string>& proxy_keys, std::string& why) {
  const std::string value = file.ReadTextValue(texts::kSettingsSection, selector, "");
  if (value.empty()) {
    for (const std::string& key : proxy_keys) {
      if (!file.ReadTextValue(texts::kSettingsSection, key, "").empty()) {
        why = key + " is set without " + selector + ".";
        break;
      }
    }
    return -1;
  }
  const int found = Lookup(names, value);
  if (found < 0) why = Quoted(selector, value) + " is not " + spellings + ".";
  return found;
}

}  // namespace

ConnectionSettings ConnectionSettings::Read(settings::TCustomIniFile& file) {
  ConnectionSettings settings;
  settings.ReadPassive(file);
  settings.ReadSocks(file);
  settings.ReadFtpProxy(file);
  return settings;
}

void ConnectionSettings::Refuse(const std::string& why) {
  // The first reason is the one to report.
  if (refusal_.empty()) refusal_ = why;
}

void ConnectionSettings::ReadPassive(settings::TCustomIniFile& file) {
  const std::string value = file.ReadTextValue(texts::kSettingsSection, "passive", "");
  if (value.empty()) return;
  if (value == "0") {
    passive_ = Passive::kActive;
  } else if (value == "1") {
    passive_ = Passive::kPassive;
  } else {
    Refuse(Quoted("passive", value) + " is neither 0 nor 1.");
  }
}

int32_t ConnectionSettings::ReadPort(settings::TCustomIniFile& file, const std::string& key, int32_t default_port) {
  const std::string value = file.ReadTextValue(texts::kSettingsSection, key, "");
  if (value.empty()) return default_port;
  int32_t port = 0;
  for (const char c : value) {
    if (c < '0' || c > '9' || port > 65535) {
      port = 0;
      break;
    }
    port = port * 10 + (c - '0');
  }
  if (port < 1 || port > 65535) {
    Refuse(Quoted(key, value) + " is not a port from 1 to 65535.");
    return 0;
  }
  return port;
}

void ConnectionSettings::ReadSocks(settings::TCustomIniFile& file) {
  std::string why;
  const int version = ReadSelector(file, "socks_version", kSocksVersions, "4, 4a or 5",
                                   {"socks_host", "socks_port", "socks_user", "socks_pass"}, why);
  if (!why.empty()) Refuse(why);
  if (version < 0) return;
  socks_version_ = static_cast<net::TSocksVersion>(version);
  socks_host_ = file.ReadTextValue(texts::kSettingsSection, "socks_host", "");
  socks_user_ = file.ReadTextValue(texts::kSettingsSection, "socks_user", "");
  socks_pass_ = file.ReadTextValue(texts::kSettingsSection, "socks_pass", "");
  if (socks_host_.empty()) Refuse("socks_version is set without socks_host.");
  socks_port_ = ReadPort(file, "socks_port", 1080);
  if (!socks_pass_.empty() && socks_version_ != net::svSocks5) Refuse("socks_pass is set, and SOCKS 4 has no password.");
  if (!socks_pass_.empty() && socks_user_.empty()) Refuse("socks_pass is set without socks_user.");
  if (passive_ == Passive::kActive) Refuse("passive=0 with a SOCKS proxy: its data connections are passive.");
}

void ConnectionSettings::ReadFtpProxy(settings::TCustomIniFile& file) {
  std::string why;
  const int type = ReadSelector(file, "ftpproxy_type", kFtpProxyTypes, "user_site, site, open, user_pass or transparent",
                                {"ftpproxy_host", "ftpproxy_port", "ftpproxy_user", "ftpproxy_pass"}, why);
  if (!why.empty()) Refuse(why);
  if (type < 0) return;
  ftp_proxy_.ProxyType = static_cast<ftp::TIdFtpProxyType>(type);
  ftp_proxy_.Host = file.ReadTextValue(texts::kSettingsSection, "ftpproxy_host", "");
  ftp_proxy_.UserName = file.ReadTextValue(texts::kSettingsSection, "ftpproxy_user", "");
  ftp_proxy_.Password = file.ReadTextValue(texts::kSettingsSection, "ftpproxy_pass", "");
  // Without a host the client would log in to the server itself with the
  // proxy's scheme.
  if (ftp_proxy_.Host.empty()) Refuse("ftpproxy_type is set without ftpproxy_host.");
  ftp_proxy_.Port = ReadPort(file, "ftpproxy_port", 21);
  if (!ftp_proxy_.Password.empty() && ftp_proxy_.UserName.empty()) Refuse("ftpproxy_pass is set without ftpproxy_user.");
}

void ConnectionSettings::ApplyTo(ftp::TIdFTP& client) const {
  const bool socks = socks_version_ != net::svNoSocks;
  if (passive_ != Passive::kAsSet || socks) {
    client.Passive = socks || passive_ == Passive::kPassive;
    client.ExtendedPassive = client.Passive;
  }
  if (ftp_proxy_.ProxyType != ftp::fpcmNone) client.SetProxySettings(ftp_proxy_);
  if (socks) {
    auto handler = std::make_unique<net::TIdIOHandlerSocket>();
    handler->OnStatus = client.OnStatus;
    net::TIdSocksInfo& info = handler->SocksInfo();
    info.Version = socks_version_;
    info.Host = socks_host_;
    info.Port = socks_port_;
    info.Username = socks_user_;
    info.Password = socks_pass_;
    info.Authentication =
        socks_version_ == net::svSocks5 && !socks_user_.empty() ? net::saUsernamePassword : net::saNoAuthentication;
    client.SetIOHandler(std::move(handler));
  }
}

}  // namespace app
