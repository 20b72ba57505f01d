// The failures of a TLS connection: one exception with the reason, so that
// the window can tell the user in its own words what went wrong, and the one
// helper that turns OpenSSL's error queue into it.
#pragma once

#include <string>

#include "net/exceptions.h"

namespace net {

enum TIdTLSFailure {
  tlsRefused,        // the server would not start TLS (AUTH TLS, PBSZ, PROT refused)
  tlsHandshake,      // the handshake failed: closed, garbage, silence, no common protocol
  tlsExpired,        // the certificate's validity has ended
  tlsNotYetValid,    // the certificate's validity has not begun
  tlsWrongName,      // the certificate is not for the host (name or address)
  tlsUnknownIssuer,  // the certificate does not lead to a trusted root
  tlsFingerprint,    // the certificate is not the one whose fingerprint was given
  tlsCertificate,    // any other certificate fault
  tlsSettings,       // the TLS settings cannot be used (fingerprint text, CA file)
};

class EIdTLSError : public EIdException {
 public:
  EIdTLSError(TIdTLSFailure reason, const std::string& message) : EIdException(message), Reason(reason) {}
  TIdTLSFailure Reason;
};

// Raises EIdTLSError with the message, followed by ": " and the oldest entry
// of the calling thread's OpenSSL error queue when there is one; the queue is
// emptied.
[[noreturn]] void RaiseTLSError(TIdTLSFailure reason, const std::string& message);

}  // namespace net
