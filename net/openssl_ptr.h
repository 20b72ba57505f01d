// OpenSSL objects owned by std::unique_ptr with their free functions.
#pragma once

#include <openssl/bio.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <memory>

namespace net {

template <auto Free>
struct OpenSslFree {
  template <class T>
  void operator()(T* object) const {
    Free(object);
  }
};

using SslCtxPtr = std::unique_ptr<SSL_CTX, OpenSslFree<SSL_CTX_free>>;
using SslPtr = std::unique_ptr<SSL, OpenSslFree<SSL_free>>;
using SslSessionPtr = std::unique_ptr<SSL_SESSION, OpenSslFree<SSL_SESSION_free>>;
using BioMethodPtr = std::unique_ptr<BIO_METHOD, OpenSslFree<BIO_meth_free>>;

}  // namespace net
