// The connection keys of updateset.inf: what each spelling gives the FTP
// client, which values are refused, and that a refusal stops the check
// before anything is sent, with its own message, and writes no key back.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "app/connection_settings.h"
#include "app/main_window.h"
#include "net/io_handler.h"
#include "platform/encoding.h"
#include "platform/headless/headless_window.h"
#include "settings/ini_file.h"
#include "support/scratch_folder.h"

namespace {

using platform::Control;

// What the client holds after ApplyTo.
struct Applied {
  bool passive = false;
  bool extended = false;
  net::TSocksVersion socks = net::svNoSocks;
  std::string socks_host;
  int32_t socks_port = 0;
  std::string socks_user;
  std::string socks_pass;
  net::TSocksAuthentication socks_auth = net::saNoAuthentication;
  ftp::TIdFtpProxyType proxy = ftp::fpcmNone;
  std::string proxy_host;
  int32_t proxy_port = 0;
  std::string proxy_user;
  std::string proxy_pass;
};

struct Case {
  const char* lines;     // of section kvdatacont
  const char* refusal;   // a part of the refusal's text; empty: none
  Applied applied;
};

Applied Socks(net::TSocksVersion version, const std::string& host, int32_t port, const std::string& user = "",
              const std::string& pass = "", net::TSocksAuthentication auth = net::saNoAuthentication) {
  Applied a;
  a.passive = a.extended = true;
  a.socks = version;
  a.socks_host = host;
  a.socks_port = port;
  a.socks_user = user;
  a.socks_pass = pass;
  a.socks_auth = auth;
  return a;
}

Applied Proxy(ftp::TIdFtpProxyType type, const std::string& host, int32_t port, const std::string& user = "",
              const std::string& pass = "") {
  Applied a;
  a.proxy = type;
  a.proxy_host = host;
  a.proxy_port = port;
  a.proxy_user = user;
  a.proxy_pass = pass;
  return a;
}

Applied PassiveOnly() {
  Applied a;
  a.passive = a.extended = true;
  return a;
}

std::vector<Case> Cases() {
  return {
      {"", "", {}},
      {"passive=0\r\n", "", {}},
      {"passive=1\r\n", "", PassiveOnly()},
      {"passive =  1 \r\n", "", PassiveOnly()},
      {"passive=\r\nsocks_version=\r\nftpproxy_type=\r\n", "", {}},
      {"passive=2\r\n", "passive", {}},
      {"passive=yes\r\n", "passive", {}},
      {"passive=01\r\n", "passive", {}},
      {"socks_version=5\r\nsocks_host=proxy.lan\r\n", "", Socks(net::svSocks5, "proxy.lan", 1080)},
      {"socks_version=5\r\nsocks_host=10.0.0.1\r\nsocks_port=1081\r\nsocks_user=anna\r\nsocks_pass=s3cret\r\n", "",
       Socks(net::svSocks5, "10.0.0.1", 1081, "anna", "s3cret", net::saUsernamePassword)},
      {"socks_version=5\r\nsocks_host=p\r\nsocks_user=anna\r\n", "",
       Socks(net::svSocks5, "p", 1080, "anna", "", net::saUsernamePassword)},
      {"socks_version=4\r\nsocks_host=p\r\nsocks_user=anna\r\n", "", Socks(net::svSocks4, "p", 1080, "anna")},
      {"socks_version=4a\r\nsocks_host=p\r\nsocks_port=00021\r\n", "", Socks(net::svSocks4A, "p", 21)},
      {"socks_version=4A\r\nsocks_host=p\r\npassive=1\r\n", "", Socks(net::svSocks4A, "p", 1080)},
      {"socks_version=7\r\nsocks_host=p\r\n", "socks_version", {}},
      {"socks_version=socks5\r\nsocks_host=p\r\n", "socks_version", {}},
      {"socks_version=5\r\n", "socks_host", {}},
      {"socks_host=p\r\n", "socks_version", {}},
      {"socks_port=1080\r\n", "socks_version", {}},
      {"socks_user=anna\r\n", "socks_version", {}},
      {"socks_version=5\r\nsocks_host=p\r\nsocks_port=0\r\n", "socks_port", {}},
      {"socks_version=5\r\nsocks_host=p\r\nsocks_port=65536\r\n", "socks_port", {}},
      {"socks_version=5\r\nsocks_host=p\r\nsocks_port=99999999999\r\n", "socks_port", {}},
      {"socks_version=5\r\nsocks_host=p\r\nsocks_port=-1\r\n", "socks_port", {}},
      {"socks_version=5\r\nsocks_host=p\r\nsocks_port=0x50\r\n", "socks_port", {}},
      {"socks_version=5\r\nsocks_host=p\r\nsocks_port=$50\r\n", "socks_port", {}},
      {"socks_version=5\r\nsocks_host=p\r\nsocks_port=1 080\r\n", "socks_port", {}},
      {"socks_version=4\r\nsocks_host=p\r\nsocks_user=u\r\nsocks_pass=x\r\n", "socks_pass", {}},
      {"socks_version=5\r\nsocks_host=p\r\nsocks_pass=x\r\n", "socks_pass", {}},
      {"socks_version=5\r\nsocks_host=p\r\npassive=0\r\n", "passive=0", {}},
      {"ftpproxy_type=user_site\r\nftpproxy_host=gw\r\n", "", Proxy(ftp::fpcmUserSite, "gw", 21)},
      {"ftpproxy_type=site\r\nftpproxy_host=gw\r\nftpproxy_port=2121\r\nftpproxy_user=pu\r\nftpproxy_pass=pp\r\n", "",
       Proxy(ftp::fpcmSite, "gw", 2121, "pu", "pp")},
      {"ftpproxy_type=OPEN\r\nftpproxy_host=gw\r\nftpproxy_user=pu\r\n", "", Proxy(ftp::fpcmOpen, "gw", 21, "pu")},
      {"ftpproxy_type=user_pass\r\nftpproxy_host=gw\r\nftpproxy_user=pu\r\nftpproxy_pass=pp\r\n", "",
       Proxy(ftp::fpcmUserPass, "gw", 21, "pu", "pp")},
      {"ftpproxy_type=Transparent\r\nftpproxy_host=gw\r\n", "", Proxy(ftp::fpcmTransparent, "gw", 21)},
      {"ftpproxy_type=http\r\nftpproxy_host=gw\r\n", "ftpproxy_type", {}},
      {"ftpproxy_type=none\r\nftpproxy_host=gw\r\n", "ftpproxy_type", {}},
      {"ftpproxy_type=usersite\r\nftpproxy_host=gw\r\n", "ftpproxy_type", {}},
      {"ftpproxy_type=site\r\n", "ftpproxy_host", {}},
      {"ftpproxy_host=gw\r\n", "ftpproxy_type", {}},
      {"ftpproxy_pass=pp\r\n", "ftpproxy_type", {}},
      {"ftpproxy_type=site\r\nftpproxy_host=gw\r\nftpproxy_port=21x\r\n", "ftpproxy_port", {}},
      {"ftpproxy_type=site\r\nftpproxy_host=gw\r\nftpproxy_pass=pp\r\n", "ftpproxy_pass", {}},
  };
}

// What the keys of c.lines give the client, or that they are refused.
void Check(const Case& c) {
  test_support::ScratchFolder folder;
  const std::string path = folder / "updateset.inf";
  test_support::WriteRaw(path, std::string("[kvdatacont]\r\nupdateadd=127.0.0.1\r\n") + c.lines);
  settings::TIniFile file(path);
  const app::ConnectionSettings settings = app::ConnectionSettings::Read(file);

  if (*c.refusal != '\0') {
    EXPECT_NE(settings.Refusal().find(c.refusal), std::string::npos) << settings.Refusal();
    return;
  }
  EXPECT_EQ(settings.Refusal(), "");
  ftp::TIdFTP client;
  settings.ApplyTo(client);
  const Applied& want = c.applied;
  EXPECT_EQ(client.Passive, want.passive);
  EXPECT_EQ(client.ExtendedPassive, want.extended);
  auto* handler = dynamic_cast<net::TIdIOHandlerSocket*>(client.IOHandler());
  if (want.socks == net::svNoSocks) {
    EXPECT_EQ(client.IOHandler(), nullptr);
  } else {
    ASSERT_NE(handler, nullptr);
    const net::TIdSocksInfo& socks = handler->SocksInfo();
    EXPECT_EQ(socks.Version, want.socks);
    EXPECT_EQ(socks.Host, want.socks_host);
    EXPECT_EQ(socks.Port, want.socks_port);
    EXPECT_EQ(socks.Username, want.socks_user);
    EXPECT_EQ(socks.Password, want.socks_pass);
    EXPECT_EQ(socks.Authentication, want.socks_auth);
  }
  const ftp::TIdFtpProxySettings& proxy = client.ProxySettings();
  EXPECT_EQ(proxy.ProxyType, want.proxy);
  EXPECT_EQ(proxy.Host, want.proxy_host);
  EXPECT_EQ(proxy.Port, want.proxy_port);
  EXPECT_EQ(proxy.UserName, want.proxy_user);
  EXPECT_EQ(proxy.Password, want.proxy_pass);
}

TEST(ConnectionSettingsTest, ReadsAndAppliesOrRefuses) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.lines);
    Check(c);
  }
}

TEST(ConnectionSettingsTest, KeysLeftOutLeaveTheClientAsTheWindowSetIt) {
  test_support::ScratchFolder folder;
  const std::string path = folder / "updateset.inf";
  test_support::WriteRaw(path, "[kvdatacont]\r\nftpproxy_type=site\r\nftpproxy_host=gw\r\n");
  settings::TIniFile file(path);
  ftp::TIdFTP client;
  client.Passive = true;
  app::ConnectionSettings::Read(file).ApplyTo(client);
  EXPECT_TRUE(client.Passive);
  EXPECT_FALSE(client.ExtendedPassive);
  EXPECT_EQ(client.IOHandler(), nullptr);
}

// A listener on port 21 of an address of the test's own, to see whether the
// check connects at all.
class Port21Listener {
 public:
  explicit Port21Listener(const std::string& address) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    const int one = 1;
    setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(21);
    inet_pton(AF_INET, address.c_str(), &a.sin_addr);
    listening_ = bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && listen(fd_, 4) == 0;
  }
  ~Port21Listener() { close(fd_); }
  bool Listening() const { return listening_; }
  // Whether a client has connected by now.
  bool Connected() const {
    const int accepted = accept(fd_, nullptr, nullptr);
    if (accepted < 0) return false;
    close(accepted);
    return true;
  }

 private:
  int fd_ = -1;
  bool listening_ = false;
};

TEST(ConnectionSettingsTest, ARefusalEndsTheCheckBeforeAnythingIsSentAndNoKeyIsWritten) {
  for (const char* bad : {"socks_version=7\r\nsocks_host=127.0.16.9\r\n", "passive=yes\r\n",
                          "socks_host=127.0.16.9\r\n", "ftpproxy_type=http\r\nftpproxy_host=127.0.16.9\r\n"}) {
    SCOPED_TRACE(bad);
    Port21Listener server("127.0.16.8");
    ASSERT_TRUE(server.Listening());
    test_support::ScratchFolder folder;
    const std::string settings_text = std::string("[kvdatacont]\r\nupdateadd=127.0.16.8\r\n") + bad;
    test_support::WriteRaw(folder / "updateset.inf", settings_text);
    platform::HeadlessWindow window;
    app::TForm1 form(window, folder.Path() + "/");
    window.SetEvents(&form);
    form.RunGuarded([&] { form.FormCreate(); });

    EXPECT_EQ(platform::GbkToUtf8(window.StatusMessage()), "连接设置有误，检测升级文件失败!");
    EXPECT_TRUE(window.IsEnabled(Control::Button1));
    EXPECT_FALSE(window.IsEnabled(Control::Button2));
    EXPECT_TRUE(window.Boxes().empty());
    EXPECT_EQ(platform::GbkToUtf8(window.StatusPanel(0)), "");
    EXPECT_FALSE(form.FTPClient.Connected());
    // The Check button refuses the same way.
    EXPECT_TRUE(window.Press(Control::Button1));
    EXPECT_EQ(platform::GbkToUtf8(window.StatusMessage()), "连接设置有误，检测升级文件失败!");
    EXPECT_FALSE(server.Connected());
    EXPECT_EQ(test_support::ReadRaw(folder / "updateset.inf"), settings_text);

    bool can_close = false;
    form.FormCloseQuery(can_close);
    EXPECT_EQ(test_support::ReadRaw(folder / "updateset.inf"), settings_text + "update=127.0.16.8\r\n");
  }
}

}  // namespace
