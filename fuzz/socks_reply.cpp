// SOCKS 4, 4A and 5 negotiation against a proxy whose replies are the input.
// The first bytes choose the version, the authentication, the piece size in
// which replies arrive, whether the proxy falls silent or closes at the end,
// and the lengths of user name, password and host; the rest is the proxy's
// bytes. What the client sends, how many reply bytes it takes, and how the
// negotiation ends (which error) are compared with a second reading of the
// SOCKS rules written here.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <typeinfo>

#include "fake_peer.h"
#include "fuzz_check.h"
#include "net/socks_errors.h"
#include "net/socks_info.h"

namespace {

using net::TIdSocksInfo;

struct Expected {
  std::string sent;
  size_t consumed = 0;
  const std::type_info* error = nullptr;  // null: success
};

std::string Port(int32_t port) { return {static_cast<char>(port >> 8), static_cast<char>(port & 0xFF)}; }

// Takes n reply bytes, or ends the exchange when fewer are left.
bool Take(const std::string& replies, size_t n, Expected& e, std::string& out) {
  if (replies.size() - e.consumed < n) {
    e.consumed = replies.size();
    e.error = &typeid(net::EIdSocksServerRespondError);
    return false;
  }
  out = replies.substr(e.consumed, n);
  e.consumed += n;
  return true;
}

Expected Reference(const TIdSocksInfo& s, const std::string& host, int32_t port, const std::string& replies) {
  Expected e;
  const bool v4 = s.Version == net::svSocks4 || s.Version == net::svSocks4A;
  const bool v4a = s.Version == net::svSocks4A;
  const bool password = s.Authentication == net::saUsernamePassword;
  const bool invalid =
      port < 0 || port > 0xFFFF ||
      (v4 && (s.Username.size() > 255 || s.Username.find('\0') != std::string::npos)) ||
      (v4a && (host.size() > 255 || host.find('\0') != std::string::npos)) ||
      (!v4 && (host.size() > 255 || (password && (s.Username.size() > 255 || s.Password.size() > 255))));
  if (invalid) {
    e.error = &typeid(net::EIdSocksInvalidRequest);
    return e;
  }
  std::string reply;
  if (v4) {
    e.sent = std::string{4, 1} + Port(port) + (v4a ? std::string("\0\0\0\1", 4) : std::string("\x7F\0\0\1", 4)) +
             s.Username + '\0' + (v4a ? host + '\0' : std::string());
    if (!Take(replies, 8, e, reply)) return e;
    switch (static_cast<unsigned char>(reply[1])) {
      case 90: break;
      case 91: e.error = &typeid(net::EIdSocksRequestFailed); break;
      case 92: e.error = &typeid(net::EIdSocksRequestServerFailed); break;
      case 93: e.error = &typeid(net::EIdSocksRequestIdentFailed); break;
      default: e.error = &typeid(net::EIdSocksUnknownError);
    }
    return e;
  }
  const char method = password ? 2 : 0;
  e.sent = std::string{5, 1, method};
  if (!Take(replies, 2, e, reply)) return e;
  if (reply[1] != method) {
    e.error = &typeid(net::EIdSocksAuthMethodError);
    return e;
  }
  if (password) {
    e.sent += std::string{1, static_cast<char>(s.Username.size())} + s.Username +
              static_cast<char>(s.Password.size()) + s.Password;
    if (!Take(replies, 2, e, reply)) return e;
    if (reply[1] != 0) {
      e.error = &typeid(net::EIdSocksAuthError);
      return e;
    }
  }
  e.sent += std::string{5, 1, 0, 3, static_cast<char>(host.size())} + host + Port(port);
  if (!Take(replies, 5, e, reply)) return e;
  static const std::type_info* kStatus[] = {
      nullptr,
      &typeid(net::EIdSocksServerGeneralError),
      &typeid(net::EIdSocksServerPermissionError),
      &typeid(net::EIdSocksServerNetUnreachableError),
      &typeid(net::EIdSocksServerHostUnreachableError),
      &typeid(net::EIdSocksServerConnectionRefusedError),
      &typeid(net::EIdSocksServerTTLExpiredError),
      &typeid(net::EIdSocksServerCommandError),
      &typeid(net::EIdSocksServerAddressError)};
  const unsigned char status = static_cast<unsigned char>(reply[1]);
  e.error = status <= 8 ? kStatus[status] : &typeid(net::EIdSocksUnknownError);
  if (e.error) return e;
  size_t rest = 0;
  switch (reply[3]) {
    case 1: rest = 5; break;
    case 3: rest = static_cast<unsigned char>(reply[4]) + 2u; break;
    case 4: rest = 17; break;
    default: e.error = &typeid(net::EIdSocksServerReplyError); return e;
  }
  Take(replies, rest, e, reply);
  return e;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  FuzzedDataProvider in(data, size);
  static const net::TSocksVersion kVersions[] = {net::svSocks4, net::svSocks4A, net::svSocks5, net::svSocks5};
  TIdSocksInfo socks;
  socks.Version = kVersions[in.ConsumeIntegralInRange(0, 3)];
  socks.Authentication = in.ConsumeBool() ? net::saUsernamePassword : net::saNoAuthentication;
  const size_t piece = in.ConsumeIntegralInRange<size_t>(1, 300);
  const bool silent = in.ConsumeBool();
  socks.ReplyTimeout = 1;  // the fake peer never makes anyone wait
  // Mostly short fields; now and then one past the 255-byte limit.
  auto length = [&in]() { return in.ConsumeBool() ? in.ConsumeIntegralInRange<size_t>(0, 8) : in.ConsumeIntegralInRange<size_t>(0, 300); };
  socks.Username = in.ConsumeBytesAsString(length());
  socks.Password = in.ConsumeBytesAsString(length());
  const bool dotted = socks.Version == net::svSocks4;  // SOCKS 4 resolves here: loopback only, no lookup
  const std::string host = dotted ? std::string("127.0.0.1") : in.ConsumeBytesAsString(length());
  const int32_t port = in.ConsumeBool() ? in.ConsumeIntegralInRange<int32_t>(0, 0xFFFF) : in.ConsumeIntegral<int32_t>();
  const std::string replies = in.ConsumeRemainingBytesAsString();

  fuzz::FakePeer peer(replies, piece);
  peer.stay_silent = silent;
  socks.SetIOHandler(&peer);
  const Expected expected = Reference(socks, host, port, replies);
  const std::type_info* raised = nullptr;
  std::string message;
  try {
    socks.NegotiateSocks(host, port);
  } catch (const std::exception& e) {
    raised = &typeid(e);
    message = e.what();
  }
  const std::string context = std::string("version ") + std::to_string(socks.Version) + " auth " +
                              std::to_string(socks.Authentication) + " user '" + fuzz::Shown(socks.Username) +
                              "' host '" + fuzz::Shown(host) + "' port " + std::to_string(port) + " replies '" +
                              fuzz::Shown(replies) + "' raised " + (raised ? raised->name() : "nothing") +
                              " (" + message + ") expected " + (expected.error ? expected.error->name() : "nothing");
  FUZZ_CHECK((raised == nullptr) == (expected.error == nullptr), context);
  if (raised) FUZZ_CHECK(*raised == *expected.error, context);
  FUZZ_CHECK(peer.sent == expected.sent, context + " sent '" + fuzz::Shown(peer.sent) + "'");
  FUZZ_CHECK(peer.Consumed() == expected.consumed, context + " took " + std::to_string(peer.Consumed()));
  return 0;
}
