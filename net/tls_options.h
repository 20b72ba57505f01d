// How a TLS client checks the server it talks to.
#pragma once

#include <cstdint>
#include <string>

namespace net {

struct TIdTLSOptions {
  // The name or dotted address the certificate must be for; a name is also
  // sent as the server name (SNI).
  std::string VerifyHost{};
  // A PEM file of trusted root certificates (on-disk path); empty uses the
  // system's trusted roots.
  std::string CAFile{};
  // The SHA-256 fingerprint of the server's certificate, 64 hexadecimal
  // digits, colons and blanks allowed. When set, the certificate must be that
  // one; without a CAFile its issuer, names and dates are then not checked
  // (a self-signed server).
  std::string Fingerprint{};
  // The newest protocol version offered (0x0303 for TLS 1.2); 0 offers the
  // newest the library has. Never below TLS 1.2.
  int32_t MaxVersion = 0;
};

}  // namespace net
