#include "net/tls_connection.h"

#include <openssl/err.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>
#include <vector>

#include "net/exceptions.h"
#include "net/io_handler.h"
#include "net/tls_errors.h"
#include "platform/sockets.h"

namespace net {
namespace {

constexpr int32_t kWouldBlock = 10035;
constexpr int32_t kNotSocket = 10038;
constexpr int32_t kReset = 10054;
constexpr int32_t kShutDown = 10058;
constexpr int32_t kTimedOut = 10060;

int32_t Clamp(size_t length) {
  return static_cast<int32_t>(std::min<size_t>(length, std::numeric_limits<int32_t>::max()));
}

TIdTLSFailure ReasonOf(long verify_result) {
  switch (verify_result) {
    case X509_V_ERR_CERT_HAS_EXPIRED:
      return tlsExpired;
    case X509_V_ERR_CERT_NOT_YET_VALID:
      return tlsNotYetValid;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
      return tlsWrongName;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_CERT_UNTRUSTED:
      return tlsUnknownIssuer;
    default:
      return tlsCertificate;
  }
}

std::string CertificateMessage(TIdTLSFailure reason, long verify_result, const std::string& host) {
  std::string why;
  switch (reason) {
    case tlsExpired:
      why = "the certificate has expired";
      break;
    case tlsNotYetValid:
      why = "the certificate is not valid yet";
      break;
    case tlsWrongName:
      why = "the certificate is not for " + host;
      break;
    case tlsUnknownIssuer:
      why = "the certificate's issuer is not trusted";
      break;
    default:
      why = "the certificate cannot be trusted";
      break;
  }
  return "TLS certificate refused: " + why + " (" + X509_verify_cert_error_string(verify_result) + ").";
}

}  // namespace

// The I/O method: the encrypted bytes of a TIdTLSConnection go through the
// stack's non-waiting calls on its binding's socket.
struct TIdTLSSocketMethod {
  static TIdTLSConnection& Of(BIO* bio) { return *static_cast<TIdTLSConnection*>(BIO_get_data(bio)); }

  static int Write(BIO* bio, const char* data, size_t length, size_t* written) {
    TIdTLSConnection& c = Of(bio);
    return Open(bio, c) ? Result(bio, c, c.stack_.Stack().SendBytes(c.binding_.SocketId(), data, Clamp(length),
                                                                      Id_MSG_NOWAIT), written, false)
                        : 0;
  }

  static int Read(BIO* bio, char* data, size_t length, size_t* read) {
    TIdTLSConnection& c = Of(bio);
    return Open(bio, c) ? Result(bio, c, c.stack_.Stack().ReceiveBytes(c.binding_.SocketId(), data, Clamp(length),
                                                                         Id_MSG_NOWAIT), read, true)
                        : 0;
  }

  // A closed binding keeps its old socket number, which may be anyone's now.
  static bool Open(BIO* bio, TIdTLSConnection& c) {
    BIO_clear_retry_flags(bio);
    if (c.binding_.IsOpen()) return true;
    c.socket_error_ = kNotSocket;
    return false;
  }

  // The stack's result as the method's: 1 with the count; or 0, to be tried
  // again (would block), at the end of the stream, or with the error kept.
  static int Result(BIO* bio, TIdTLSConnection& c, int n, size_t* count, bool reading) {
    *count = 0;
    if (n > 0 || (n == 0 && !reading)) {
      *count = static_cast<size_t>(n);
      return 1;
    }
    if (n == 0) {
      c.end_of_stream_ = true;
      return 0;
    }
    const int32_t error = c.stack_.Stack().GetLastError();
    if (error != kWouldBlock) {
      c.socket_error_ = error;
    } else if (reading) {
      BIO_set_retry_read(bio);
    } else {
      BIO_set_retry_write(bio);
    }
    return 0;
  }

  static long Control(BIO*, int command, long, void*) { return command == BIO_CTRL_FLUSH ? 1 : 0; }
};

BioMethodPtr TIdTLSConnection::MakeSocketMethod() {
  BioMethodPtr method(BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "updater socket"));
  if (method) {
    BIO_meth_set_write_ex(method.get(), &TIdTLSSocketMethod::Write);
    BIO_meth_set_read_ex(method.get(), &TIdTLSSocketMethod::Read);
    BIO_meth_set_ctrl(method.get(), &TIdTLSSocketMethod::Control);
  }
  return method;
}

TIdTLSConnection::TIdTLSConnection(std::shared_ptr<TIdTLSContext> context, TIdSocketHandle& binding)
    : context_(std::move(context)), binding_(binding) {
  ERR_clear_error();
  ssl_.reset(SSL_new(context_->Context()));
  if (!ssl_) RaiseTLSError(tlsSettings, "Cannot set up TLS");
  BIO* bio = BIO_new(context_->SocketMethod());
  if (bio == nullptr) RaiseTLSError(tlsSettings, "Cannot set up TLS");
  BIO_set_data(bio, this);
  BIO_set_init(bio, 1);
  SSL_set_bio(ssl_.get(), bio, bio);
  SSL_set_connect_state(ssl_.get());
}

void TIdTLSConnection::Handshake(int32_t timeout) {
  using Clock = std::chrono::steady_clock;
  timeout_ = timeout < 0 ? TimeoutInfinite : timeout;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(std::max(timeout, 0));
  SSL* ssl = ssl_.get();
  const std::string& host = context_->Options().VerifyHost;
  X509_VERIFY_PARAM* param = SSL_get0_param(ssl);
  ERR_clear_error();
  if (TIdStack::IsDottedAddress(host)) {
    // The certificate's IP address entries are compared with the address.
    const std::string address = stack_.Stack().AddressToString(StringToAddress(host));
    if (X509_VERIFY_PARAM_set1_ip_asc(param, address.c_str()) != 1) {
      RaiseTLSError(tlsSettings, "Cannot check a certificate for " + host);
    }
  } else if (!host.empty()) {
    if (SSL_set_tlsext_host_name(ssl, host.c_str()) != 1 ||
        X509_VERIFY_PARAM_set1_host(param, host.c_str(), host.size()) != 1) {
      RaiseTLSError(tlsSettings, "Cannot check a certificate for " + host);
    }
    X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
  } else if (SSL_get_verify_mode(ssl) != SSL_VERIFY_NONE) {
    throw EIdTLSError(tlsSettings, "No host to check the TLS certificate against.");
  }
  if (SSL_SESSION* session = context_->Sessions().Newest()) SSL_set_session(ssl, session);

  for (;;) {
    ERR_clear_error();
    socket_error_ = 0;
    const int result = SSL_connect(ssl);
    if (result == 1) break;
    const int error = SSL_get_error(ssl, result);
    if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) RaiseHandshakeFailure(error);
    int32_t left = TimeoutInfinite;
    if (timeout_ != TimeoutInfinite) {
      const auto rest = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      left = static_cast<int32_t>(std::max<int64_t>(rest, 0));
    }
    const bool ready = left != 0 && (error == SSL_ERROR_WANT_READ ? binding_.WaitReadable(left) : WaitWritable(left));
    if (!ready) {
      failed_ = true;
      throw EIdTLSError(tlsHandshake, "TLS handshake failed: no answer from the server within " +
                                          std::to_string(timeout_) + " ms.");
    }
  }
  established_ = true;

  if (SSL_get_verify_mode(ssl) != SSL_VERIFY_NONE) {
    const long verify_result = SSL_get_verify_result(ssl);
    if (verify_result != X509_V_OK) {
      failed_ = true;
      const TIdTLSFailure reason = ReasonOf(verify_result);
      throw EIdTLSError(reason, CertificateMessage(reason, verify_result, host));
    }
  }
  CheckFingerprint();
}

void TIdTLSConnection::RaiseHandshakeFailure(int ssl_error) {
  failed_ = true;
  const long verify_result = SSL_get_verify_result(ssl_.get());
  if (verify_result != X509_V_OK) {
    ERR_clear_error();
    const TIdTLSFailure reason = ReasonOf(verify_result);
    throw EIdTLSError(reason, CertificateMessage(reason, verify_result, context_->Options().VerifyHost));
  }
  if (socket_error_ != 0) {
    ERR_clear_error();
    throw EIdTLSError(tlsHandshake, "TLS handshake failed: " + stack_.Stack().SocketErrorMessage(socket_error_));
  }
  if (end_of_stream_) {
    ERR_clear_error();
    throw EIdTLSError(tlsHandshake, "TLS handshake failed: the server closed the connection.");
  }
  if (ssl_error == SSL_ERROR_SYSCALL && ERR_peek_error() == 0) {
    throw EIdTLSError(tlsHandshake, "TLS handshake failed.");
  }
  RaiseTLSError(tlsHandshake, "TLS handshake failed");
}

void TIdTLSConnection::CheckFingerprint() {
  const std::vector<unsigned char>& expected = context_->Fingerprint();
  if (expected.empty()) return;
  X509* certificate = SSL_get0_peer_certificate(ssl_.get());
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  const bool same = certificate != nullptr && X509_digest(certificate, EVP_sha256(), digest, &length) == 1 &&
                    length == expected.size() && std::memcmp(digest, expected.data(), length) == 0;
  ERR_clear_error();
  if (!same) {
    failed_ = true;
    const std::string got = certificate == nullptr ? "none" : TIdTLSContext::FingerprintOf(certificate);
    throw EIdTLSError(tlsFingerprint,
                      "TLS certificate refused: its SHA-256 fingerprint " + got + " is not the one given.");
  }
}

bool TIdTLSConnection::WaitWritable(int32_t timeout) {
  if (!binding_.IsOpen()) throw EIdConnClosedGracefully();
  std::vector<TIdStackSocketHandle> write{binding_.SocketId()};
  return stack_.Stack().Select(nullptr, &write, nullptr, timeout) == 1;
}

int TIdTLSConnection::Failed(int ssl_error) {
  if (ssl_error == SSL_ERROR_WANT_READ) return TIdIOHandler::kNothingYet;
  if (ssl_error == SSL_ERROR_ZERO_RETURN) return 0;
  // Fatal: no further calls on this connection, not even close_notify.
  failed_ = true;
  ERR_clear_error();
  platform::sockets::SetLastError(socket_error_ != 0 ? socket_error_ : kReset);
  return -1;
}

int TIdTLSConnection::Receive(void* buffer, int32_t length) {
  if (failed_) {
    platform::sockets::SetLastError(socket_error_ != 0 ? socket_error_ : kReset);
    return -1;
  }
  for (;;) {
    ERR_clear_error();
    socket_error_ = 0;
    size_t got = 0;
    const int result = SSL_read_ex(ssl_.get(), buffer, static_cast<size_t>(std::max(length, 0)), &got);
    if (result == 1) return static_cast<int>(got);
    const int error = SSL_get_error(ssl_.get(), result);
    if (error != SSL_ERROR_WANT_WRITE) return Failed(error);
    // A reply the protocol itself owes the server (a key update) waits for room.
    if (!WaitWritable(timeout_)) {
      socket_error_ = kTimedOut;
      return Failed(SSL_ERROR_SYSCALL);
    }
  }
}

bool TIdTLSConnection::HasBufferedData() const { return !failed_ && SSL_pending(ssl_.get()) > 0; }

int TIdTLSConnection::Send(const void* buffer, int32_t length) {
  if (failed_) {
    platform::sockets::SetLastError(socket_error_ != 0 ? socket_error_ : kReset);
    return -1;
  }
  if (length <= 0) return 0;
  for (;;) {
    ERR_clear_error();
    socket_error_ = 0;
    size_t written = 0;
    const int result = SSL_write_ex(ssl_.get(), buffer, static_cast<size_t>(length), &written);
    if (result == 1) return static_cast<int>(written);
    const int error = SSL_get_error(ssl_.get(), result);
    bool ready = false;
    if (error == SSL_ERROR_WANT_WRITE) {
      ready = WaitWritable(timeout_);
    } else if (error == SSL_ERROR_WANT_READ) {
      ready = binding_.WaitReadable(timeout_);
    } else {
      if (error == SSL_ERROR_ZERO_RETURN && socket_error_ == 0) socket_error_ = kShutDown;
      return Failed(error == SSL_ERROR_ZERO_RETURN ? SSL_ERROR_SSL : error);
    }
    if (!ready) {
      socket_error_ = kTimedOut;
      return Failed(SSL_ERROR_SYSCALL);
    }
  }
}

void TIdTLSConnection::Shutdown() {
  if (!established_ || failed_ || !binding_.IsOpen()) return;
  failed_ = true;  // once
  socket_error_ = kShutDown;
  ERR_clear_error();
  SSL_shutdown(ssl_.get());
  ERR_clear_error();
}

bool TIdTLSConnection::SessionReused() const { return SSL_session_reused(ssl_.get()) == 1; }

}  // namespace net
