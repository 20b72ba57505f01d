// The failures of a SOCKS negotiation, each with its fixed message. All of
// them are EIdSocksError.
#pragma once

#include <string>

#include "net/exceptions.h"

namespace net {

// SOCKS 4 and 4A reply statuses.

class EIdSocksRequestFailed : public EIdSocksError {
 public:
  EIdSocksRequestFailed() : EIdSocksError("Request rejected or failed.") {}
};

class EIdSocksRequestServerFailed : public EIdSocksError {
 public:
  EIdSocksRequestServerFailed() : EIdSocksError("Request rejected because SOCKS server cannot connect.") {}
};

class EIdSocksRequestIdentFailed : public EIdSocksError {
 public:
  EIdSocksRequestIdentFailed()
      : EIdSocksError("Request rejected because the client program and identd report different user-ids.") {}
};

// A status that neither protocol defines.
class EIdSocksUnknownError : public EIdSocksError {
 public:
  EIdSocksUnknownError() : EIdSocksError("Unknown socks error.") {}
};

// SOCKS 5 method selection and authentication.

// The proxy sent no complete reply: it closed, failed or stayed silent.
class EIdSocksServerRespondError : public EIdSocksError {
 public:
  EIdSocksServerRespondError() : EIdSocksError("Socks server did not respond.") {}
};

class EIdSocksAuthMethodError : public EIdSocksError {
 public:
  EIdSocksAuthMethodError() : EIdSocksError("Invalid socks authentication method.") {}
};

class EIdSocksAuthError : public EIdSocksError {
 public:
  EIdSocksAuthError() : EIdSocksError("Authentication error to socks server.") {}
};

// SOCKS 5 reply statuses 1 to 8.

class EIdSocksServerGeneralError : public EIdSocksError {
 public:
  EIdSocksServerGeneralError() : EIdSocksError("General SOCKS server failure.") {}
};

class EIdSocksServerPermissionError : public EIdSocksError {
 public:
  EIdSocksServerPermissionError() : EIdSocksError("Connection not allowed by ruleset.") {}
};

class EIdSocksServerNetUnreachableError : public EIdSocksError {
 public:
  EIdSocksServerNetUnreachableError() : EIdSocksError("Network unreachable.") {}
};

class EIdSocksServerHostUnreachableError : public EIdSocksError {
 public:
  EIdSocksServerHostUnreachableError() : EIdSocksError("Host unreachable.") {}
};

class EIdSocksServerConnectionRefusedError : public EIdSocksError {
 public:
  EIdSocksServerConnectionRefusedError() : EIdSocksError("Connection refused.") {}
};

class EIdSocksServerTTLExpiredError : public EIdSocksError {
 public:
  EIdSocksServerTTLExpiredError() : EIdSocksError("TTL expired.") {}
};

class EIdSocksServerCommandError : public EIdSocksError {
 public:
  EIdSocksServerCommandError() : EIdSocksError("Command not supported.") {}
};

class EIdSocksServerAddressError : public EIdSocksError {
 public:
  EIdSocksServerAddressError() : EIdSocksError("Address type not supported.") {}
};

// Failures of our own, where the protocol has no status for them.

// A setting that no request can carry as it is (too long, a zero byte in a
// zero-terminated field, a port outside 0..65535, an unknown version);
// raised before anything is sent.
class EIdSocksInvalidRequest : public EIdSocksError {
 public:
  using EIdSocksError::EIdSocksError;
};

// A successful SOCKS 5 reply whose bound address has a type other than
// IPv4, domain name or IPv6, so its length is unknown.
class EIdSocksServerReplyError : public EIdSocksError {
 public:
  EIdSocksServerReplyError() : EIdSocksError("Socks server reply has an unknown address type.") {}
};

}  // namespace net
