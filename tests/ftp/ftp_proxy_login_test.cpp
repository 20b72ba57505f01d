// Logins through an FTP proxy: where the connection goes and the exact
// commands of each login scheme, played by a scripted proxy.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ftp/ftp_client.h"
#include "ftp/ftp_proxy_settings.h"
#include "ftp_client_fixture.h"
#include "net/exceptions.h"

namespace ftp_test {
namespace {

using ftp::TIdFTP;
using ftp::TIdFtpProxyType;

struct ProxyCase {
  const char* name;
  TIdFtpProxyType type;
  std::string proxy_user;
  std::string proxy_password;
  bool proxy_host;  // false: the proxy's host is left empty
  // The login as the proxy sees it: each command and the reply it gets.
  std::vector<std::pair<std::string, std::string>> dialogue;
};

// The server the caller names; it does not listen (its port is closed), so
// a login that went there instead of to the proxy would fail.
const char kServerHost[] = "localhost";

TEST(FtpProxyLoginTest, EachSchemeSendsItsCommandsToTheProxy) {
  const std::vector<ProxyCase> cases = {
      {"none ignores the proxy host", ftp::fpcmNone, "pu", "pp", false,
       {{"USER u", "331 pw"}, {"PASS p", "230 in"}}},
      {"user@site", ftp::fpcmUserSite, "", "", true, {{"USER u@localhost", "331 pw"}, {"PASS p", "230 in"}}},
      {"user@site with a proxy login", ftp::fpcmUserSite, "pu", "pp", true,
       {{"USER pu", "331 proxy pw"}, {"PASS pp", "230 proxy ok"}, {"USER u@localhost", "331 pw"}, {"PASS p", "230 in"}}},
      {"user@site without a proxy host", ftp::fpcmUserSite, "", "", false,
       {{"USER u@localhost", "230 in at once"}}},
      {"site", ftp::fpcmSite, "", "", true,
       {{"SITE localhost", "500 any reply will do"}, {"USER u", "331 pw"}, {"PASS p", "230 in"}}},
      {"site after a proxy user answered 230", ftp::fpcmSite, "pu", "pp", true,
       {{"USER pu", "230 no proxy password"}, {"SITE localhost", "220 connected"}, {"USER u", "331 pw"},
        {"PASS p", "230 in"}}},
      {"open", ftp::fpcmOpen, "pu", "pp", true,
       {{"USER pu", "331 proxy pw"}, {"PASS pp", "230 proxy ok"}, {"OPEN localhost", "200 opened"},
        {"USER u", "331 pw"}, {"PASS p", "230 in"}}},
      {"user@proxyuser@site with a proxy password", ftp::fpcmUserPass, "pu", "pp", true,
       {{"USER u@pu@localhost", "331 pw"}, {"PASS p@pp", "230 in"}}},
      {"user@proxyuser@site without a proxy password", ftp::fpcmUserPass, "pu", "", true,
       {{"USER u@pu@localhost", "331 pw"}, {"PASS p", "230 in"}}},
      {"transparent", ftp::fpcmTransparent, "pu", "pp", true,
       {{"USER pu", "331 proxy pw"}, {"PASS pp", "230 proxy ok"}, {"USER u", "331 pw"}, {"PASS p", "230 in"}}},
      {"transparent without a proxy user", ftp::fpcmTransparent, "", "", true,
       {{"USER u", "331 pw"}, {"PASS p", "230 in"}}},
  };
  for (const ProxyCase& c : cases) {
    SCOPED_TRACE(c.name);
    Steps script = {Peer::Reply("220 proxy ready")};
    Lines sent;
    for (const auto& [command, reply] : c.dialogue) {
      script.push_back(Peer::Expect(command));
      script.push_back(Peer::Reply(reply));
      sent.push_back(command);
    }
    script.insert(script.end(), {Peer::Expect("TYPE I"), Peer::Reply("200 binary"), Peer::Expect("SYST"),
                                 Peer::Reply("215 UNIX")});
    sent.insert(sent.end(), {"TYPE I", "SYST"});
    Peer proxy(script);

    TIdFTP client;
    AimAt(client, proxy);
    // Where the proxy is used, the caller's host and port name the server.
    const bool via_proxy = c.type != ftp::fpcmNone && c.proxy_host;
    if (via_proxy) {
      client.Host = kServerHost;
      client.Port = 1;
    } else if (c.type != ftp::fpcmNone) {
      client.Host = kServerHost;  // the connection goes here itself
    }
    ftp::TIdFtpProxySettings settings;
    settings.ProxyType = c.type;
    settings.Host = c.proxy_host || c.type == ftp::fpcmNone ? "127.0.0.1" : "";
    settings.Port = c.type == ftp::fpcmNone ? 1 : proxy.Port();
    settings.UserName = c.proxy_user;
    settings.Password = c.proxy_password;
    client.SetProxySettings(settings);
    const std::string host = client.Host;
    const int32_t port = client.Port;

    client.Connect();
    EXPECT_TRUE(client.Connected());
    EXPECT_EQ(client.Host, host);
    EXPECT_EQ(client.Port, port);
    EXPECT_EQ(client.LoginReply().NumericCode(), 230);
    ASSERT_TRUE(proxy.WaitFinished());
    EXPECT_EQ(proxy.Error(), "");
    EXPECT_EQ(proxy.Transcript(), sent);
  }
}

TEST(FtpProxyLoginTest, HttpProxyWithFtpIsRefusedAfterTheGreeting) {
  Peer proxy({Peer::Reply("220 proxy ready"), Peer::ExpectClientClose()});
  TIdFTP client;
  AimAt(client, proxy);
  ftp::TIdFtpProxySettings settings;
  settings.ProxyType = ftp::fpcmHttpProxyWithFtp;
  client.SetProxySettings(settings);
  try {
    client.Connect();
    FAIL() << "logged in";
  } catch (const ftp::EIdProtocolReplyError&) {
    FAIL() << "refused by a reply";
  } catch (const net::EIdException& e) {
    EXPECT_STREQ(e.what(), "Command not supported.");
  }
  EXPECT_FALSE(client.Connected());
  EXPECT_EQ(client.ServerGreeting().Text(), (Lines{"proxy ready"}));
  ASSERT_TRUE(proxy.WaitFinished());
  EXPECT_TRUE(proxy.Transcript().empty());
}

TEST(FtpProxyLoginTest, ARefusedProxyLoginDisconnects) {
  Peer proxy({Peer::Reply("220 proxy ready"), Peer::Expect("USER pu"), Peer::Reply("331 pw"), Peer::Expect("PASS pp"),
              Peer::Reply("530 wrong proxy password"), Peer::ExpectClientClose()});
  TIdFTP client;
  AimAt(client, proxy);
  client.Host = kServerHost;
  client.Port = 1;
  ftp::TIdFtpProxySettings settings;
  settings.ProxyType = ftp::fpcmTransparent;
  settings.Host = "127.0.0.1";
  settings.Port = proxy.Port();
  settings.UserName = "pu";
  settings.Password = "pp";
  client.SetProxySettings(settings);
  try {
    client.Connect();
    FAIL() << "logged in";
  } catch (const ftp::EIdProtocolReplyError& e) {
    EXPECT_EQ(e.ReplyCode(), 530);
  }
  EXPECT_FALSE(client.Connected());
  EXPECT_EQ(client.Host, kServerHost);
  EXPECT_TRUE(proxy.WaitFinished());
}

TEST(FtpProxyLoginTest, AProxyPortOfZeroFailsInTheTransport) {
  TIdFTP client;
  client.Host = "127.0.0.1";
  client.Port = 21;
  ftp::TIdFtpProxySettings settings;
  settings.ProxyType = ftp::fpcmSite;
  settings.Host = "127.0.0.1";
  client.SetProxySettings(settings);
  EXPECT_THROW(client.Connect(), net::EIdSocketError);
  EXPECT_EQ(client.Port, 21);
  EXPECT_FALSE(client.Connected());
}

TEST(FtpProxyLoginTest, SettingsAreCopiedIntoTheClientsOwn) {
  TIdFTP client;
  ftp::TIdFtpProxySettings settings;
  settings.ProxyType = ftp::fpcmOpen;
  settings.Host = "proxy";
  settings.Port = 2121;
  settings.UserName = "pu";
  settings.Password = "pp";
  client.SetProxySettings(settings);
  settings.Host = "changed later";
  EXPECT_EQ(client.ProxySettings().ProxyType, ftp::fpcmOpen);
  EXPECT_EQ(client.ProxySettings().Host, "proxy");
  EXPECT_EQ(client.ProxySettings().Port, 2121);
  EXPECT_EQ(client.ProxySettings().UserName, "pu");
  EXPECT_EQ(client.ProxySettings().Password, "pp");
}

}  // namespace
}  // namespace ftp_test
