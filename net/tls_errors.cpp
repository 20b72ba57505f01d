#include "net/tls_errors.h"

#include <openssl/err.h>

namespace net {

void RaiseTLSError(TIdTLSFailure reason, const std::string& message) {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) throw EIdTLSError(reason, message);
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  throw EIdTLSError(reason, message + ": " + text);
}

}  // namespace net
