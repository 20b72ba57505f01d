// An FTP session through a SOCKS proxy to pyftpdlib, all on loopback: a real
// SOCKS 5 server (microsocks, with a user name and password), and a SOCKS 4A
// relay that reports what it was asked for. Login, listings and byte-exact
// downloads in passive mode; the passive data connections go through the
// proxy too, to the host the control connection asked it for.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "ftp/ftp_client.h"
#include "net/io_handler.h"
#include "platform/stream.h"
#include "support/pyftpd.h"
#include "support/relay_proxies.h"
#include "support/socks_servers.h"
#include "support/test_util.h"

namespace {

using test_support::RandomBytes;

// A client for the server whose connections go through the SOCKS proxy
// that socks describes; it holds its socket handler until it disconnects.
std::unique_ptr<ftp::TIdFTP> ClientThrough(const net::TIdSocksInfo& socks, const test_support::PyFtpd& server) {
  auto client = std::make_unique<ftp::TIdFTP>();
  auto handler = std::make_unique<net::TIdIOHandlerSocket>();
  handler->SocksInfo().CopyValuesFrom(socks);
  client->SetIOHandler(std::move(handler));
  client->Host = server.Address();
  client->Port = server.Port();
  client->Username = server.User();
  client->Password = server.Password();
  client->Passive = true;
  client->IdleLimit = 30000;
  return client;
}

TEST(FtpSocks, PassiveSessionThroughMicrosocks) {
  test_support::TempDir root;
  const std::string content = RandomBytes(3 * 1024 * 1024 + 5, 11);
  test_support::WriteFile(root.File("update.bin"), content);
  test_support::WriteFile(root.File("version.ini"), "[kvdatacont]\r\nclient_version=7\r\n");
  test_support::PyFtpd server({.root = root.Path()});
  test_support::Microsocks proxy({.user = "anna", .password = "secret"});

  net::TIdSocksInfo socks;
  socks.Version = net::svSocks5;
  socks.Authentication = net::saUsernamePassword;
  socks.Host = proxy.Address();
  socks.Port = proxy.Port();
  socks.Username = "anna";
  socks.Password = "secret";
  const std::unique_ptr<ftp::TIdFTP> session = ClientThrough(socks, server);
  ftp::TIdFTP& client = *session;

  client.Connect(true, -1);
  // The control connection's socket goes to the proxy, not the server.
  auto* socket_handler = dynamic_cast<net::TIdIOHandlerSocket*>(client.IOHandler());
  ASSERT_NE(socket_handler, nullptr);
  ASSERT_NE(socket_handler->SocketBinding(), nullptr);
  EXPECT_EQ(socket_handler->SocketBinding()->RemotePort(), proxy.Port());
  EXPECT_EQ(client.LoginReply().NumericCode(), 230);

  std::vector<std::string> names;
  client.ListFolder(&names, "", false);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"update.bin", "version.ini"}));

  client.ListFolder(nullptr);
  ftp::TIdFTPListItems& listing = client.ParsedListing();
  bool found = false;
  for (int i = 0; i < listing.Count(); ++i) {
    if (listing.Items(i).EntryName != "update.bin") continue;
    found = true;
    EXPECT_EQ(listing.Items(i).EntrySize, static_cast<int64_t>(content.size()));
  }
  EXPECT_TRUE(found);

  platform::MemoryStream downloaded;
  client.Download("update.bin", downloaded);
  EXPECT_TRUE(downloaded.Data() == content) << "got " << downloaded.Data().size() << " bytes";

  // The session still works after the transfers.
  platform::MemoryStream version;
  client.Download("version.ini", version);
  EXPECT_EQ(version.Data(), "[kvdatacont]\r\nclient_version=7\r\n");
  client.SignOff();
}

TEST(FtpSocks, DataConnectionsAskTheProxyForTheControlConnectionsHost) {
  test_support::TempDir root;
  const std::string content = RandomBytes(1024 * 1024 + 3, 12);
  test_support::WriteFile(root.File("update.bin"), content);
  test_support::PyFtpd server({.root = root.Path(), .address = "127.0.16.3"});
  test_support::Socks4Relay proxy({.address = "127.0.16.4", .user = "anna"});

  net::TIdSocksInfo socks;
  socks.Version = net::svSocks4A;
  socks.Host = proxy.Address();
  socks.Port = proxy.Port();
  socks.Username = "anna";
  const std::unique_ptr<ftp::TIdFTP> session = ClientThrough(socks, server);
  ftp::TIdFTP& client = *session;
  client.ExtendedPassive = true;
  client.Connect(true, -1);

  std::vector<std::string> names;
  client.ListFolder(&names, "", false);
  EXPECT_EQ(names, (std::vector<std::string>{"update.bin"}));
  platform::MemoryStream downloaded;
  client.Download("update.bin", downloaded);
  EXPECT_TRUE(downloaded.Data() == content) << "got " << downloaded.Data().size() << " bytes";
  client.SignOff();

  // The control connection, then one connection a transfer, each by name.
  const std::vector<std::string> requests = proxy.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0], "CONNECT 4A 127.0.16.3 " + std::to_string(server.Port()) + " anna");
  for (size_t i = 1; i < requests.size(); ++i) {
    EXPECT_EQ(requests[i].rfind("CONNECT 4A 127.0.16.3 ", 0), 0u) << requests[i];
    EXPECT_NE(requests[i], requests[0]);
  }
}

}  // namespace
