// TLS certificates for test servers, made on the spot with OpenSSL: an
// elliptic-curve key (P-256, fast to make) and an X.509 v3 certificate for
// one name, self-signed or signed by another test certificate (a CA), with
// the validity a test asks for (an expired one, say).
#pragma once

#include <filesystem>
#include <string>

namespace orvane::test {

struct TestCertificate {
  std::filesystem::path certificate;  // PEM
  std::filesystem::path key;          // PEM, unencrypted
  // "SHA256:<base64>" of the public key, as a pin holds it, computed from
  // the key rather than the certificate.
  std::string fingerprint;
};

struct CertificateRequest {
  // The name the certificate is for: an IP literal goes into an IP
  // subjectAltName, anything else into a DNS one. Also the subject's CN.
  std::string name = "127.0.0.1";
  // Validity, in days from now.
  int validFromDays = -1;
  int validToDays = 30;
  bool authority = false;                   // a CA (basicConstraints CA:TRUE)
  const TestCertificate* issuer = nullptr;  // null: self-signed
};

// Writes DIR/STEM.crt and DIR/STEM.key. On failure the paths are empty.
TestCertificate MakeTestCertificate(const std::filesystem::path& dir, const std::string& stem,
                                    const CertificateRequest& wanted = {});

}  // namespace orvane::test
