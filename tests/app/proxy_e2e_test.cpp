// The whole update on the headless window, with the connection keys of
// updateset.inf: passive mode straight to pyftpdlib, and every route through
// a proxy: microsocks (SOCKS 5, with and without a password), danted (SOCKS
// 4 and 5), a SOCKS 4A relay, an FTP proxy for each login scheme (active and
// passive), and SOCKS to an FTP proxy. Each route checks, downloads and
// applies the update, shows that its traffic went the way the keys say, and
// leaves the keys in the settings file as they were.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "net/io_handler.h"
#include "support/relay_proxies.h"
#include "support/socks_servers.h"

namespace {

using e2e::Control;
using e2e::FileColumn;
using e2e::UpdaterRun;
using test_support::ReadFile;
using Lines = std::vector<std::string>;

enum class Via { kDirect, kMicrosocks, kDanted, kSocks4aRelay, kFtpProxy, kSocksToFtpProxy };

struct Route {
  const char* name = "";
  Via via = Via::kDirect;
  std::string socks_version = {};  // for the SOCKS routes
  std::string socks_user = {};     // SOCKS 5 user name (microsocks) or SOCKS 4 user id (the relay)
  std::string socks_pass = {};
  std::string scheme = {};         // for the FTP proxy routes
  std::string proxy_user = {};
  std::string proxy_pass = {};
  bool passive = false;            // passive=1 in the settings file
};

const std::vector<Route>& Routes() {
  static const std::vector<Route> routes = {
      {.name = "PassiveStraightToTheServer", .via = Via::kDirect, .passive = true},
      {.name = "Microsocks5", .via = Via::kMicrosocks, .socks_version = "5"},
      {.name = "Microsocks5WithPassword", .via = Via::kMicrosocks, .socks_version = "5", .socks_user = "anna",
       .socks_pass = "s3cret"},
      {.name = "Danted4", .via = Via::kDanted, .socks_version = "4"},
      {.name = "Danted5", .via = Via::kDanted, .socks_version = "5"},
      {.name = "Socks4aRelay", .via = Via::kSocks4aRelay, .socks_version = "4a", .socks_user = "anna"},
      {.name = "FtpProxyUserSite", .via = Via::kFtpProxy, .scheme = "user_site", .proxy_user = "pu", .proxy_pass = "pp"},
      {.name = "FtpProxySite", .via = Via::kFtpProxy, .scheme = "site", .proxy_user = "pu", .proxy_pass = "pp"},
      {.name = "FtpProxyOpen", .via = Via::kFtpProxy, .scheme = "open", .proxy_user = "pu", .proxy_pass = "pp"},
      {.name = "FtpProxyUserPass", .via = Via::kFtpProxy, .scheme = "user_pass", .proxy_user = "pu", .proxy_pass = "pp"},
      {.name = "FtpProxyTransparent", .via = Via::kFtpProxy, .scheme = "transparent", .proxy_user = "pu",
       .proxy_pass = "pp"},
      {.name = "FtpProxySitePassiveWithoutProxyLogin", .via = Via::kFtpProxy, .scheme = "site", .passive = true},
      {.name = "SocksToAnFtpProxy", .via = Via::kSocksToFtpProxy, .socks_version = "5", .scheme = "open",
       .proxy_user = "pu", .proxy_pass = "pp"},
  };
  return routes;
}

// The login lines the FTP proxy must have seen for the route.
Lines ProxyLogin(const Route& route, const std::string& server) {
  Lines lines;
  if (!route.proxy_user.empty() && route.scheme != "user_pass") {
    lines = {"C: USER " + route.proxy_user, "C: PASS " + route.proxy_pass};
  }
  if (route.scheme == "user_site") lines.push_back("C: USER tarnivelo@" + server);
  if (route.scheme == "site") lines.push_back("C: SITE " + server);
  if (route.scheme == "open") lines.push_back("C: OPEN " + server);
  if (route.scheme == "user_pass") {
    lines.push_back("C: USER tarnivelo@" + route.proxy_user + "@" + server);
    lines.push_back("C: PASS qmzwkt@" + route.proxy_pass);
  }
  lines.push_back("LOGIN");
  return lines;
}

class ProxyEndToEnd : public ::testing::TestWithParam<size_t> {};

TEST_P(ProxyEndToEnd, ChecksDownloadsAndAppliesTheUpdate) {
  const Route& route = Routes()[GetParam()];
  // Each route its own pair of addresses: the server's and the proxies'.
  const std::string server = "127.0.16." + std::to_string(20 + 2 * GetParam());
  const std::string proxies = "127.0.16." + std::to_string(21 + 2 * GetParam());

  UpdaterRun run;
  run.product.Standard();
  run.StartServer(server);
  // The new main program, once started, ends at once.
  test_support::WriteFile(run.Local("release.marker"), "");

  std::unique_ptr<test_support::Microsocks> microsocks;
  std::unique_ptr<test_support::Danted> danted;
  std::unique_ptr<test_support::Socks4Relay> relay;
  std::unique_ptr<test_support::FtpProxy> ftp_proxy;
  uint16_t socks_port = 0;
  switch (route.via) {
    case Via::kMicrosocks:
    case Via::kSocksToFtpProxy:
      microsocks = std::make_unique<test_support::Microsocks>(
          test_support::MicrosocksOptions{.address = proxies, .user = route.socks_user, .password = route.socks_pass});
      socks_port = microsocks->Port();
      break;
    case Via::kDanted:
      danted = std::make_unique<test_support::Danted>(test_support::DantedOptions{.address = proxies});
      socks_port = danted->Port();
      break;
    case Via::kSocks4aRelay:
      relay = std::make_unique<test_support::Socks4Relay>(
          test_support::Socks4RelayOptions{.address = proxies, .user = route.socks_user});
      socks_port = relay->Port();
      break;
    default:
      break;
  }
  if (!route.scheme.empty()) {
    ftp_proxy = std::make_unique<test_support::FtpProxy>(test_support::FtpProxyOptions{
        .address = proxies, .scheme = route.scheme, .server_host = server, .server_port = 21,
        .proxy_user = route.proxy_user, .proxy_password = route.proxy_pass});
  }

  std::string keys;
  if (route.passive) keys += "passive=1\r\n";
  if (socks_port != 0) {
    keys += "socks_version=" + route.socks_version + "\r\nsocks_host=" + proxies + "\r\nsocks_port=" +
            std::to_string(socks_port) + "\r\n";
    if (!route.socks_user.empty()) keys += "socks_user=" + route.socks_user + "\r\n";
    if (!route.socks_pass.empty()) keys += "socks_pass=" + route.socks_pass + "\r\n";
  }
  if (ftp_proxy) {
    keys += "ftpproxy_type=" + route.scheme + "\r\nftpproxy_host=" + proxies + "\r\nftpproxy_port=" +
            std::to_string(ftp_proxy->Port()) + "\r\n";
    if (!route.proxy_user.empty()) {
      keys += "ftpproxy_user=" + route.proxy_user + "\r\nftpproxy_pass=" + route.proxy_pass + "\r\n";
    }
  }
  run.WriteSettings(server, 5, keys);
  const std::string settings_before = ReadFile(run.Local("updateset.inf"));

  run.Create();
  ASSERT_EQ(run.Message(), "分析升级文件...") << "the check did not end with rows";
  EXPECT_EQ(platform::GbkToUtf8(run.window.StatusPanel(0)), "连接服务器成功");
  EXPECT_EQ(run.window.Text(Control::Label10), "10");
  ASSERT_EQ(run.window.RowCount(), 6);
  // The control connection's socket goes to the first proxy on the way.
  auto* handler = dynamic_cast<net::TIdIOHandlerSocket*>(run.form->FTPClient.IOHandler());
  ASSERT_NE(handler, nullptr);
  ASSERT_NE(handler->SocketBinding(), nullptr);
  EXPECT_EQ(handler->SocketBinding()->RemoteIP(), route.via == Via::kDirect ? server : proxies);
  if (socks_port != 0) {
    EXPECT_EQ(handler->SocketBinding()->RemotePort(), socks_port);
  }
  EXPECT_EQ(run.form->FTPClient.Passive, route.passive || socks_port != 0);

  EXPECT_TRUE(run.window.Press(Control::Button2));
  EXPECT_EQ(run.Column(FileColumn::Status), Lines(6, "完成"));
  EXPECT_EQ(run.Message(), "就绪...");
  EXPECT_EQ(ReadFile(run.Local("Update/Oxbar_tn.exe")), test_support::MainProgramScript("new"));
  EXPECT_EQ(ReadFile(run.Local("Update/abc.dll")), "abc library v10");
  EXPECT_EQ(ReadFile(run.Local("Update/Report/月报.txt")), platform::Utf8ToGbk("月报 v10"));
  EXPECT_EQ(ReadFile(run.Local("Oxbar_tn.exe")), test_support::MainProgramScript("new"));
  EXPECT_TRUE(run.window.IsClosed());
  // The keys stay as the user wrote them; only the update's own keys are
  // written.
  std::string settings_after = settings_before;
  settings_after.replace(settings_after.find("client_version=5"), 16, "client_version=10");
  settings_after += "database_version=4\r\nupdate=" + server + "\r\n";
  EXPECT_EQ(ReadFile(run.Local("updateset.inf")), settings_after);

  // The way the traffic went.
  if (relay) {
    const Lines requests = relay->Requests();
    ASSERT_GE(requests.size(), 4u) << "the control connection and the data connections";
    EXPECT_EQ(requests[0], "CONNECT 4A " + server + " 21 anna");
    for (const std::string& request : requests) EXPECT_EQ(request.rfind("CONNECT 4A " + server + " ", 0), 0u) << request;
  }
  if (ftp_proxy) {
    const Lines log = ftp_proxy->Log();
    const Lines login = ProxyLogin(route, server);
    ASSERT_GE(log.size(), login.size());
    EXPECT_EQ(Lines(log.begin(), log.begin() + static_cast<std::ptrdiff_t>(login.size())), login);
    const std::string data = route.passive || socks_port != 0 ? "DATA passive" : "DATA active";
    EXPECT_GE(log.size() - login.size(), 4u) << "every transfer through the proxy";
    for (size_t i = login.size(); i < log.size(); ++i) EXPECT_EQ(log[i], data);
  }
}

INSTANTIATE_TEST_SUITE_P(Routes, ProxyEndToEnd, ::testing::Range<size_t>(0, Routes().size()),
                         [](const ::testing::TestParamInfo<size_t>& info) { return Routes()[info.param].name; });

}  // namespace
