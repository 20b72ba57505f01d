// What all TLS connections to one server share: the OpenSSL context with the
// verification rules of the options, the session cache that lets data
// connections resume the control connection's session, and the I/O method
// that moves the encrypted bytes through the stack's non-waiting socket
// calls. Held by shared pointer: every connection keeps its context alive.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "net/openssl_ptr.h"
#include "net/tls_options.h"
#include "net/tls_session_cache.h"

namespace net {

class TIdTLSContext {
 public:
  // Raises EIdTLSError (tlsSettings) when the options cannot be used: a
  // fingerprint that is not 64 hexadecimal digits, a CA file that cannot be
  // read.
  explicit TIdTLSContext(const TIdTLSOptions& options);
  TIdTLSContext(const TIdTLSContext&) = delete;
  TIdTLSContext& operator=(const TIdTLSContext&) = delete;

  const TIdTLSOptions& Options() const { return options_; }
  SSL_CTX* Context() const { return context_.get(); }
  const BIO_METHOD* SocketMethod() const { return socket_method_.get(); }
  TIdTLSSessionCache& Sessions() { return sessions_; }
  // The fingerprint's 32 bytes; empty when none was given.
  const std::vector<unsigned char>& Fingerprint() const { return fingerprint_; }

  // The fingerprint text as bytes; false when it is not 64 hexadecimal
  // digits (colons and blanks between them do not count).
  static bool ParseFingerprint(const std::string& text, std::vector<unsigned char>& bytes);
  // The SHA-256 fingerprint of a certificate, as upper-case pairs joined by
  // colons.
  static std::string FingerprintOf(X509* certificate);

 private:
  TIdTLSOptions options_;
  std::vector<unsigned char> fingerprint_;
  TIdTLSSessionCache sessions_;
  BioMethodPtr socket_method_;
  SslCtxPtr context_;
};

}  // namespace net
