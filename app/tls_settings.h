// The TLS keys of the settings file and the window's words for a secure
// connection that failed. Section kvdatacont:
//   tls              absent, empty, 0, no, false or off: plain FTP as always;
//                    any other value: explicit TLS, never falling back to clear
//   tls_fingerprint  SHA-256 of the server's certificate (64 hexadecimal
//                    digits, colons allowed): the certificate must be that one;
//                    with it alone a self-signed server is accepted
//   tls_ca_file      a PEM file of the roots to trust instead of the system's,
//                    relative to the program's folder unless it starts with /
// Either of the last two turns TLS on too: a check that was asked for is
// never skipped. The certificate must be for the host of updateadd (its
// address when updateadd is one).
#pragma once

#include <exception>
#include <string>

#include "ftp/ftp_client.h"
#include "settings/ini_file.h"

namespace app {

void ReadTLSSettings(settings::TIniFile& file, const std::string& exe_dir, ftp::TIdFTP& client);

// The status line after a failed update check: "安全连接失败：" and the
// reason for a TLS failure, the usual message for any other.
const std::string& CheckFailedMessage(std::exception_ptr error);
// Whether the check failed on the secure connection (a check asked for).
bool IsTLSFailure(std::exception_ptr error);

}  // namespace app
