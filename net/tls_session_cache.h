// The TLS session that the next connection to the same server resumes: the
// newest one the server gave. With TLS 1.2 that is the session of the last
// full handshake; with TLS 1.3 the server sends tickets after the handshake
// (on the control connection and on every data connection), and each new
// one replaces the one before.
#pragma once

#include "net/openssl_ptr.h"

namespace net {

class TIdTLSSessionCache {
 public:
  // Takes ownership of the session.
  void Keep(SSL_SESSION* session) { newest_.reset(session); }
  // The session to resume, owned by the cache; null before the first.
  SSL_SESSION* Newest() const { return newest_.get(); }
  void Clear() { newest_.reset(); }

 private:
  SslSessionPtr newest_;
};

}  // namespace net
