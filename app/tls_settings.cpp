#include "app/tls_settings.h"

#include "app/texts.h"
#include "net/tls_errors.h"
#include "platform/encoding.h"
#include "platform/files.h"

namespace app {
namespace {

bool SaysOff(std::string value) {
  const size_t begin = value.find_first_not_of(" \t");
  const size_t end = value.find_last_not_of(" \t");
  value = begin == std::string::npos ? std::string() : texts::UpperAscii(value.substr(begin, end - begin + 1));
  return value.empty() || value == "0" || value == "NO" || value == "FALSE" || value == "OFF";
}

const std::string& TLSFailureMessage(net::TIdTLSFailure reason) {
  static const std::string kRefused = gbk("安全连接失败：服务器拒绝加密连接");
  static const std::string kHandshake = gbk("安全连接失败：加密握手失败");
  static const std::string kExpired = gbk("安全连接失败：服务器证书已过期");
  static const std::string kNotYetValid = gbk("安全连接失败：服务器证书尚未生效");
  static const std::string kWrongName = gbk("安全连接失败：服务器证书与服务器地址不符");
  static const std::string kUnknownIssuer = gbk("安全连接失败：服务器证书的签发者不受信任");
  static const std::string kFingerprint = gbk("安全连接失败：服务器证书的指纹不符");
  static const std::string kCertificate = gbk("安全连接失败：服务器证书无效");
  static const std::string kSettings = gbk("安全连接失败：加密设置有误");
  switch (reason) {
    case net::tlsRefused:
      return kRefused;
    case net::tlsHandshake:
      return kHandshake;
    case net::tlsExpired:
      return kExpired;
    case net::tlsNotYetValid:
      return kNotYetValid;
    case net::tlsWrongName:
      return kWrongName;
    case net::tlsUnknownIssuer:
      return kUnknownIssuer;
    case net::tlsFingerprint:
      return kFingerprint;
    case net::tlsCertificate:
      return kCertificate;
    case net::tlsSettings:
      break;
  }
  return kSettings;
}

}  // namespace

void ReadTLSSettings(settings::TIniFile& file, const std::string& exe_dir, ftp::TIdFTP& client) {
  const std::string& section = texts::kSettingsSection;
  const std::string fingerprint = file.ReadTextValue(section, "tls_fingerprint", "");
  const std::string ca_file = file.ReadTextValue(section, "tls_ca_file", "");
  client.UseTLS = !SaysOff(file.ReadTextValue(section, "tls", "")) || !fingerprint.empty() || !ca_file.empty();
  client.TLSOptions.Fingerprint = fingerprint;
  client.TLSOptions.CAFile.clear();
  if (!ca_file.empty()) client.TLSOptions.CAFile = platform::ResolvePath(ca_file[0] == '/' ? ca_file : exe_dir + ca_file);
}

const std::string& CheckFailedMessage(std::exception_ptr error) {
  try {
    if (error) std::rethrow_exception(error);
  } catch (const net::EIdTLSError& e) {
    return TLSFailureMessage(e.Reason);
  } catch (...) {
  }
  return texts::kCheckFailed;
}

bool IsTLSFailure(std::exception_ptr error) {
  try {
    if (error) std::rethrow_exception(error);
  } catch (const net::EIdTLSError&) {
    return true;
  } catch (...) {
  }
  return false;
}

}  // namespace app
