// SOCKS settings: their defaults and copies, and how a socket I/O handler
// keeps them: its own, linked ones (watched in both directions) and copied
// ones.
#include "net/socks_info.h"

#include <gtest/gtest.h>

#include <memory>

#include "net/io_handler.h"
#include "net/tcp_client.h"
#include "settings/integer_conversion.h"

namespace {

using net::TIdIOHandlerSocket;
using net::TIdSocksInfo;

void Fill(TIdSocksInfo& info) {
  info.Authentication = net::saUsernamePassword;
  info.Host = "proxy";
  info.Password = "secret";
  info.Port = 1081;
  info.Username = "anna";
  info.Version = net::svSocks5;
}

void ExpectFilled(const TIdSocksInfo& info) {
  EXPECT_EQ(info.Authentication, net::saUsernamePassword);
  EXPECT_EQ(info.Host, "proxy");
  EXPECT_EQ(info.Password, "secret");
  EXPECT_EQ(info.Port, 1081);
  EXPECT_EQ(info.Username, "anna");
  EXPECT_EQ(info.Version, net::svSocks5);
}

void ExpectDefault(const TIdSocksInfo& info) {
  EXPECT_EQ(info.Authentication, net::saNoAuthentication);
  EXPECT_EQ(info.Host, "");
  EXPECT_EQ(info.Password, "");
  EXPECT_EQ(info.Port, 1080);
  EXPECT_EQ(info.Username, "");
  EXPECT_EQ(info.Version, net::svNoSocks);
}

TEST(SocksInfoSettings, StartAsNoProxy) {
  TIdSocksInfo info;
  ExpectDefault(info);
  EXPECT_EQ(info.IOHandler(), nullptr);
  EXPECT_EQ(info.Owner(), nullptr);
}

TEST(SocksInfoSettings, CopyTakesTheSixSettingsButNotTheHandler) {
  TIdIOHandlerSocket handler;
  TIdSocksInfo source;
  Fill(source);
  source.SetIOHandler(&handler);
  TIdSocksInfo target;
  target.CopyValuesFrom(source);
  ExpectFilled(target);
  EXPECT_EQ(target.IOHandler(), nullptr);

  // The same through the component base.
  TIdSocksInfo again;
  again.CopyValuesFrom(static_cast<const net::TIdBaseComponent&>(source));
  ExpectFilled(again);
}

TEST(SocksInfoSettings, CopyFromAnotherKindOfComponentIsTheAssignmentError) {
  TIdSocksInfo info;
  Fill(info);
  net::TIdTCPClient client;
  try {
    info.CopyValuesFrom(client);
    FAIL() << "no error";
  } catch (const settings::EConvertError& e) {
    EXPECT_STREQ(e.what(), "Cannot assign a TIdTCPClient to a TIdSocksInfo");
  }
  ExpectFilled(info);
}

TEST(SocksInfoSettings, ForgetAHandlerThatIsDestroyed) {
  TIdSocksInfo info;
  {
    TIdIOHandlerSocket handler;
    info.SetIOHandler(&handler);
    EXPECT_EQ(info.IOHandler(), &handler);
  }
  EXPECT_EQ(info.IOHandler(), nullptr);
  // A handler replaced earlier is no longer watched.
  auto first = std::make_unique<TIdIOHandlerSocket>();
  TIdIOHandlerSocket second;
  info.SetIOHandler(first.get());
  info.SetIOHandler(&second);
  first.reset();
  EXPECT_EQ(info.IOHandler(), &second);
}

TEST(SocksHandlerSettings, ReadingGivesOwnDefaultSettings) {
  TIdIOHandlerSocket handler;
  TIdSocksInfo& info = handler.SocksInfo();
  ExpectDefault(info);
  EXPECT_EQ(info.Owner(), &handler);
  EXPECT_EQ(info.IOHandler(), &handler);
  EXPECT_EQ(&handler.SocksInfo(), &info);
}

TEST(SocksHandlerSettings, SettingsWithAnOwnerAreLinked) {
  net::TIdComponent owner;
  TIdSocksInfo shared(&owner);
  TIdIOHandlerSocket handler;
  handler.SocksInfo().Port = 9;  // own settings, replaced by the link
  handler.SetSocksInfo(&shared);
  EXPECT_EQ(&handler.SocksInfo(), &shared);
  EXPECT_EQ(shared.IOHandler(), &handler);
  shared.Version = net::svSocks4;
  EXPECT_EQ(handler.SocksInfo().Version, net::svSocks4);
}

TEST(SocksHandlerSettings, SettingsWithoutAnOwnerAreCopied) {
  TIdSocksInfo loose;
  Fill(loose);
  TIdIOHandlerSocket handler;
  handler.SetSocksInfo(&loose);
  TIdSocksInfo& in_use = handler.SocksInfo();
  EXPECT_NE(&in_use, &loose);
  ExpectFilled(in_use);
  EXPECT_EQ(in_use.IOHandler(), &handler);
  EXPECT_EQ(loose.IOHandler(), nullptr);
  loose.Host = "elsewhere";
  EXPECT_EQ(handler.SocksInfo().Host, "proxy");
}

TEST(SocksHandlerSettings, CopyingEndsALinkWithoutTouchingTheLinkedSettings) {
  net::TIdComponent owner;
  TIdSocksInfo shared(&owner);
  shared.Host = "shared";
  TIdSocksInfo loose;
  Fill(loose);
  TIdIOHandlerSocket handler;
  handler.SetSocksInfo(&shared);
  handler.SetSocksInfo(&loose);
  EXPECT_EQ(shared.Host, "shared");
  EXPECT_EQ(shared.IOHandler(), nullptr);
  ExpectFilled(handler.SocksInfo());
}

TEST(SocksHandlerSettings, NoneDropsTheLinkAndGivesFreshDefaults) {
  net::TIdComponent owner;
  TIdSocksInfo shared(&owner);
  Fill(shared);
  TIdIOHandlerSocket handler;
  handler.SetSocksInfo(&shared);
  handler.SetSocksInfo(nullptr);
  EXPECT_NE(&handler.SocksInfo(), &shared);
  ExpectDefault(handler.SocksInfo());
  EXPECT_EQ(shared.IOHandler(), nullptr);

  handler.SocksInfo().Host = "own";
  handler.SetSocksInfo(nullptr);
  EXPECT_EQ(handler.SocksInfo().Host, "");
}

TEST(SocksHandlerSettings, AssigningTheSettingsInUseKeepsThem) {
  TIdIOHandlerSocket handler;
  handler.SocksInfo().Host = "own";
  handler.SetSocksInfo(&handler.SocksInfo());
  EXPECT_EQ(handler.SocksInfo().Host, "own");

  net::TIdComponent owner;
  TIdSocksInfo shared(&owner);
  handler.SetSocksInfo(&shared);
  handler.SetSocksInfo(&shared);
  EXPECT_EQ(&handler.SocksInfo(), &shared);
}

TEST(SocksHandlerSettings, LinkedSettingsDestroyedElsewhereLeaveDefaults) {
  net::TIdComponent owner;
  auto shared = std::make_unique<TIdSocksInfo>(&owner);
  Fill(*shared);
  TIdIOHandlerSocket handler;
  handler.SetSocksInfo(shared.get());
  shared.reset();
  ExpectDefault(handler.SocksInfo());
  EXPECT_EQ(handler.SocksInfo().IOHandler(), &handler);
}

TEST(SocksHandlerSettings, ADestroyedHandlerLeavesNoPointerBehind) {
  net::TIdComponent owner;
  TIdSocksInfo shared(&owner);
  {
    TIdIOHandlerSocket handler;
    handler.SetSocksInfo(&shared);
  }
  EXPECT_EQ(shared.IOHandler(), nullptr);

  // Another handler's own settings, linked: either may go first.
  auto first = std::make_unique<TIdIOHandlerSocket>();
  auto second = std::make_unique<TIdIOHandlerSocket>();
  first->SocksInfo().Host = "first";
  second->SetSocksInfo(&first->SocksInfo());
  EXPECT_EQ(second->SocksInfo().Host, "first");
  first.reset();
  ExpectDefault(second->SocksInfo());

  first = std::make_unique<TIdIOHandlerSocket>();
  second = std::make_unique<TIdIOHandlerSocket>();
  second->SetSocksInfo(&first->SocksInfo());
  second.reset();
  EXPECT_EQ(first->SocksInfo().IOHandler(), nullptr);
}

TEST(SocksHandlerSettings, ALaterLinkReleasesTheEarlierOne) {
  net::TIdComponent owner;
  auto earlier = std::make_unique<TIdSocksInfo>(&owner);
  TIdSocksInfo later(&owner);
  later.Host = "later";
  TIdIOHandlerSocket handler;
  handler.SetSocksInfo(earlier.get());
  handler.SetSocksInfo(&later);
  EXPECT_EQ(earlier->IOHandler(), nullptr);
  earlier.reset();
  EXPECT_EQ(&handler.SocksInfo(), &later);
}

}  // namespace
