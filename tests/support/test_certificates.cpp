#include "support/test_certificates.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <memory>
#include <stdexcept>

#include "net/openssl_ptr.h"

namespace test_support {
namespace {

using KeyPtr = std::unique_ptr<EVP_PKEY, net::OpenSslFree<EVP_PKEY_free>>;
using CertPtr = std::unique_ptr<X509, net::OpenSslFree<X509_free>>;
using ExtensionPtr = std::unique_ptr<X509_EXTENSION, net::OpenSslFree<X509_EXTENSION_free>>;

void Check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string("test certificate: ") + what + " failed");
}

KeyPtr NewKey() {
  KeyPtr key(EVP_EC_gen("P-256"));
  Check(key != nullptr, "key generation");
  return key;
}

void AddExtension(X509* cert, X509* issuer, int nid, const std::string& value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, issuer, cert, nullptr, nullptr, 0);
  ExtensionPtr extension(X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str()));
  Check(extension != nullptr && X509_add_ext(cert, extension.get(), -1) == 1, "extension");
}

// A certificate for key, signed by issuer_key; issuer null: self-signed.
CertPtr MakeCertificate(EVP_PKEY* key, X509* issuer, EVP_PKEY* issuer_key, const CertificateOptions& options,
                        bool is_ca, long serial) {
  CertPtr cert(X509_new());
  Check(cert != nullptr, "X509_new");
  X509* c = cert.get();
  X509_set_version(c, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(c), serial);
  X509_gmtime_adj(X509_getm_notBefore(c), options.valid_from_days * 86400);
  X509_gmtime_adj(X509_getm_notAfter(c), options.valid_until_days * 86400);
  X509_set_pubkey(c, key);
  X509_NAME* name = X509_get_subject_name(c);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(options.common_name.c_str()), -1, -1, 0);
  X509_set_issuer_name(c, issuer != nullptr ? X509_get_subject_name(issuer) : name);
  X509* signer = issuer != nullptr ? issuer : c;
  AddExtension(c, signer, NID_basic_constraints, is_ca ? "critical,CA:TRUE" : "critical,CA:FALSE");
  AddExtension(c, signer, NID_subject_key_identifier, "hash");
  if (is_ca) {
    AddExtension(c, signer, NID_key_usage, "critical,keyCertSign,cRLSign");
  } else {
    AddExtension(c, signer, NID_authority_key_identifier, "keyid");
    AddExtension(c, signer, NID_ext_key_usage, "serverAuth");
    std::string names;
    for (const std::string& dns : options.dns_names) names += (names.empty() ? "DNS:" : ",DNS:") + dns;
    for (const std::string& ip : options.ip_addresses) names += (names.empty() ? "IP:" : ",IP:") + ip;
    if (!names.empty()) AddExtension(c, signer, NID_subject_alt_name, names);
  }
  Check(X509_sign(c, issuer_key != nullptr ? issuer_key : key, EVP_sha256()) > 0, "signing");
  return cert;
}

void WritePem(const std::string& path, X509* cert, EVP_PKEY* key) {
  FILE* file = std::fopen(path.c_str(), "w");
  Check(file != nullptr, "opening a PEM file");
  const bool ok = cert != nullptr ? PEM_write_X509(file, cert) == 1
                                  : PEM_write_PrivateKey(file, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
  std::fclose(file);
  Check(ok, "writing a PEM file");
}

std::string FingerprintOf(X509* cert) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  Check(X509_digest(cert, EVP_sha256(), digest, &length) == 1, "digest");
  static const char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (unsigned int i = 0; i < length; ++i) {
    if (i > 0) text += ':';
    text += kHex[digest[i] >> 4];
    text += kHex[digest[i] & 15];
  }
  return text;
}

IssuedCertificate Save(const std::string& folder, const std::string& name, X509* cert, EVP_PKEY* key) {
  IssuedCertificate issued{folder + "/" + name + ".crt", folder + "/" + name + ".key", FingerprintOf(cert)};
  WritePem(issued.cert_file, cert, nullptr);
  WritePem(issued.key_file, nullptr, key);
  return issued;
}

}  // namespace

struct TestCA::Keys {
  KeyPtr key;
  CertPtr cert;
  mutable long serial = 2;
};

TestCA::TestCA(std::string folder, const std::string& name) : folder_(std::move(folder)), keys_(std::make_unique<Keys>()) {
  keys_->key = NewKey();
  CertificateOptions options{.common_name = name + " CA", .valid_until_days = 365};
  keys_->cert = MakeCertificate(keys_->key.get(), nullptr, nullptr, options, true, 1);
  cert_file_ = Save(folder_, name + "-ca", keys_->cert.get(), keys_->key.get()).cert_file;
}

TestCA::~TestCA() = default;

IssuedCertificate TestCA::Issue(const std::string& name, const CertificateOptions& options) const {
  KeyPtr key = NewKey();
  CertPtr cert = MakeCertificate(key.get(), keys_->cert.get(), keys_->key.get(), options, false, keys_->serial++);
  return Save(folder_, name, cert.get(), key.get());
}

IssuedCertificate TestCA::SelfSigned(const std::string& folder, const std::string& name,
                                     const CertificateOptions& options) {
  KeyPtr key = NewKey();
  CertPtr cert = MakeCertificate(key.get(), nullptr, nullptr, options, false, 1);
  return Save(folder, name, cert.get(), key.get());
}

}  // namespace test_support
