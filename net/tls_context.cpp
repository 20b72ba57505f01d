#include "net/tls_context.h"

#include <openssl/err.h>
#include <openssl/evp.h>

#include "net/stack.h"
#include "net/tls_connection.h"
#include "net/tls_errors.h"

namespace net {
namespace {

// Every new session the server gives (after a TLS 1.2 handshake, with every
// TLS 1.3 ticket) replaces the cached one; 1 tells OpenSSL we took it.
int NewSession(SSL* ssl, SSL_SESSION* session) {
  auto* context = static_cast<TIdTLSContext*>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(ssl)));
  context->Sessions().Keep(session);
  return 1;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool TIdTLSContext::ParseFingerprint(const std::string& text, std::vector<unsigned char>& bytes) {
  bytes.clear();
  int high = -1;
  for (char c : text) {
    if (c == ':' || c == ' ' || c == '\t') {
      if (high >= 0) return false;  // a separator inside a pair
      continue;
    }
    const int digit = HexDigit(c);
    if (digit < 0) return false;
    if (high < 0) {
      high = digit;
    } else {
      bytes.push_back(static_cast<unsigned char>(high * 16 + digit));
      high = -1;
    }
  }
  return high < 0 && bytes.size() == 32;
}

std::string TIdTLSContext::FingerprintOf(X509* certificate) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (certificate == nullptr || X509_digest(certificate, EVP_sha256(), digest, &length) != 1) return std::string();
  static const char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (unsigned int i = 0; i < length; ++i) {
    if (i > 0) text += ':';
    text += kHex[digest[i] >> 4];
    text += kHex[digest[i] & 15];
  }
  return text;
}

TIdTLSContext::TIdTLSContext(const TIdTLSOptions& options) : options_(options) {
  ERR_clear_error();
  if (!options_.Fingerprint.empty() && !ParseFingerprint(options_.Fingerprint, fingerprint_)) {
    throw EIdTLSError(tlsSettings, "The TLS fingerprint is not a SHA-256 fingerprint (64 hexadecimal digits).");
  }
  socket_method_ = TIdTLSConnection::MakeSocketMethod();
  if (!socket_method_) RaiseTLSError(tlsSettings, "Cannot set up TLS");
  context_.reset(SSL_CTX_new(TLS_client_method()));
  if (!context_) RaiseTLSError(tlsSettings, "Cannot set up TLS");
  SSL_CTX* ctx = context_.get();
  SSL_CTX_set_app_data(ctx, this);
  SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
  if (options_.MaxVersion != 0) SSL_CTX_set_max_proto_version(ctx, options_.MaxVersion);
  SSL_CTX_set_options(ctx, SSL_OP_NO_RENEGOTIATION);
  // Sessions are kept by the cache alone, handed over by NewSession.
  SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
  SSL_CTX_sess_set_new_cb(ctx, NewSession);

  // A fingerprint alone pins the certificate; otherwise the chain must lead
  // to a trusted root, and the certificate name the host.
  const bool pinned_only = !fingerprint_.empty() && options_.CAFile.empty();
  if (pinned_only) {
    SSL_CTX_set_verify(ctx, SSL_VERIFY_NONE, nullptr);
  } else {
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
    if (!options_.CAFile.empty()) {
      if (SSL_CTX_load_verify_locations(ctx, options_.CAFile.c_str(), nullptr) != 1) {
        RaiseTLSError(tlsSettings, "Cannot read the TLS CA file " + options_.CAFile);
      }
    } else if (SSL_CTX_set_default_verify_paths(ctx) != 1) {
      RaiseTLSError(tlsSettings, "Cannot load the system's trusted roots");
    }
  }
}

}  // namespace net
