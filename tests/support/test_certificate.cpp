#include "tests/support/test_certificate.h"

#include <arpa/inet.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <memory>

namespace orvane::test {
namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;
using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Certificate = std::unique_ptr<X509, decltype(&X509_free)>;

bool IsIpLiteral(const std::string& name) {
  unsigned char address[16];
  return ::inet_pton(AF_INET, name.c_str(), address) == 1 ||
         ::inet_pton(AF_INET6, name.c_str(), address) == 1;
}

bool AddExtension(X509* certificate, X509* issuer, int nid, const std::string& value) {
  X509V3_CTX context;
  X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
  if (extension == nullptr) return false;
  const bool added = X509_add_ext(certificate, extension, -1) == 1;
  X509_EXTENSION_free(extension);
  return added;
}

std::string KeyFingerprint(EVP_PKEY* key) {
  unsigned char* der = nullptr;
  const int size = i2d_PUBKEY(key, &der);
  if (size <= 0) return {};
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int digestSize = 0;
  EVP_Digest(der, static_cast<std::size_t>(size), digest, &digestSize, EVP_sha256(), nullptr);
  OPENSSL_free(der);
  unsigned char base64[64];
  const int length = EVP_EncodeBlock(base64, digest, static_cast<int>(digestSize));
  return "SHA256:" + std::string(reinterpret_cast<char*>(base64), static_cast<std::size_t>(length));
}

}  // namespace

TestCertificate MakeTestCertificate(const std::filesystem::path& dir, const std::string& stem,
                                    const CertificateRequest& wanted) {
  Key key(EVP_EC_gen("P-256"), &EVP_PKEY_free);
  Certificate certificate(X509_new(), &X509_free);
  if (!key || !certificate) return {};
  X509* cert = certificate.get();
  X509_set_version(cert, 2);
  unsigned char serial[8];
  RAND_bytes(serial, sizeof(serial));
  serial[0] &= 0x7F;
  BIGNUM* number = BN_bin2bn(serial, sizeof(serial), nullptr);
  BN_to_ASN1_INTEGER(number, X509_get_serialNumber(cert));
  BN_free(number);
  X509_gmtime_adj(X509_getm_notBefore(cert), static_cast<long>(wanted.validFromDays) * 86400);
  X509_gmtime_adj(X509_getm_notAfter(cert), static_cast<long>(wanted.validToDays) * 86400);
  X509_set_pubkey(cert, key.get());
  X509_NAME* subject = X509_get_subject_name(cert);
  X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_UTF8,
                             reinterpret_cast<const unsigned char*>(wanted.name.c_str()), -1, -1,
                             0);

  Key issuerKey(nullptr, &EVP_PKEY_free);
  Certificate issuer(nullptr, &X509_free);
  if (wanted.issuer != nullptr) {
    File keyFile(std::fopen(wanted.issuer->key.c_str(), "r"));
    File certFile(std::fopen(wanted.issuer->certificate.c_str(), "r"));
    if (!keyFile || !certFile) return {};
    issuerKey.reset(PEM_read_PrivateKey(keyFile.get(), nullptr, nullptr, nullptr));
    issuer.reset(PEM_read_X509(certFile.get(), nullptr, nullptr, nullptr));
    if (!issuerKey || !issuer) return {};
    X509_set_issuer_name(cert, X509_get_subject_name(issuer.get()));
  } else {
    X509_set_issuer_name(cert, subject);
  }
  X509* signer = issuer ? issuer.get() : cert;
  const std::string altName = (IsIpLiteral(wanted.name) ? "IP:" : "DNS:") + wanted.name;
  if (!AddExtension(cert, signer, NID_basic_constraints,
                    wanted.authority ? "critical,CA:TRUE" : "CA:FALSE") ||
      !AddExtension(cert, signer, NID_subject_key_identifier, "hash") ||
      (!wanted.authority && !AddExtension(cert, signer, NID_subject_alt_name, altName))) {
    return {};
  }
  if (wanted.issuer != nullptr &&
      !AddExtension(cert, signer, NID_authority_key_identifier, "keyid:always")) {
    return {};
  }
  if (X509_sign(cert, issuerKey ? issuerKey.get() : key.get(), EVP_sha256()) <= 0) return {};

  TestCertificate made;
  made.certificate = dir / (stem + ".crt");
  made.key = dir / (stem + ".key");
  File certOut(std::fopen(made.certificate.c_str(), "w"));
  File keyOut(std::fopen(made.key.c_str(), "w"));
  if (!certOut || !keyOut || PEM_write_X509(certOut.get(), cert) != 1 ||
      PEM_write_PrivateKey(keyOut.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1) {
    return {};
  }
  made.fingerprint = KeyFingerprint(key.get());
  return made;
}

}  // namespace orvane::test
