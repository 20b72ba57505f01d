// Certificates made at test time with OpenSSL: a test CA, server
// certificates it issues (valid, expired, for other names), and self-signed
// ones, each written as PEM files into a folder.
//
//   test_support::TestCA ca(dir.Path());
//   auto good = ca.Issue("good", {.ip_addresses = {"127.0.0.41"}});
//   ... server uses good.cert_file and good.key_file, the client trusts ca.CertFile() ...
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace test_support {

struct CertificateOptions {
  std::string common_name = "updater test server";
  std::vector<std::string> dns_names{};    // subject alternative names
  std::vector<std::string> ip_addresses{};  // subject alternative IP addresses
  long valid_from_days = -1;              // relative to now
  long valid_until_days = 30;
};

struct IssuedCertificate {
  std::string cert_file;    // the certificate, PEM
  std::string key_file;     // its private key, PEM
  std::string fingerprint;  // SHA-256 of the certificate, "AB:CD:..."
};

class TestCA {
 public:
  // Makes the CA's key and self-signed certificate in folder/<name>-ca.*.
  explicit TestCA(std::string folder, const std::string& name = "updater-test");
  TestCA(const TestCA&) = delete;
  TestCA& operator=(const TestCA&) = delete;
  ~TestCA();

  const std::string& CertFile() const { return cert_file_; }
  // A server certificate signed by this CA, with a key of its own.
  IssuedCertificate Issue(const std::string& name, const CertificateOptions& options) const;
  // A self-signed server certificate (its own issuer).
  static IssuedCertificate SelfSigned(const std::string& folder, const std::string& name,
                                      const CertificateOptions& options);

 private:
  struct Keys;
  std::string folder_;
  std::string cert_file_;
  std::unique_ptr<Keys> keys_;
};

}  // namespace test_support
