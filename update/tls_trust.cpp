#include "update/tls_trust.h"

#include <arpa/inet.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <ctime>
#include <string_view>
#include <vector>

namespace orvane {
namespace {

// The verification errors of the chain being checked: OpenSSL's per-error
// callback has no argument of its own, and the check runs synchronously on
// the owner's thread.
thread_local std::vector<int>* tChainErrors = nullptr;

// Fingerprints are compared without base64's padding, which some tools
// leave off.
std::string_view Unpadded(std::string_view fingerprint) {
  while (!fingerprint.empty() && fingerprint.back() == '=') fingerprint.remove_suffix(1);
  return fingerprint;
}

bool IsIpLiteral(const std::string& host) {
  unsigned char address[16];
  return ::inet_pton(AF_INET, host.c_str(), address) == 1 ||
         ::inet_pton(AF_INET6, host.c_str(), address) == 1;
}

std::string NameText(const X509_NAME* name) {
  BIO* bio = BIO_new(BIO_s_mem());
  if (bio == nullptr) return {};
  // RFC 2253 order, with UTF-8 left as it is rather than escaped.
  X509_NAME_print_ex(bio, name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio, &data);
  std::string text(data, static_cast<std::size_t>(std::max(size, 0L)));
  BIO_free(bio);
  return text;
}

std::string TimeText(const ASN1_TIME* time) {
  std::tm tm{};
  if (time == nullptr || ASN1_TIME_to_tm(time, &tm) != 1) return "?";
  char text[32];
  std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S UTC", &tm);
  return text;
}

// Why OpenSSL's verdict on the chain withholds trust, in the user's words.
std::string Problem(int error) {
  switch (error) {
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
      return "self-signed";
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
      return "issued for another name";
    case X509_V_ERR_CERT_HAS_EXPIRED:
      return "expired";
    case X509_V_ERR_CERT_NOT_YET_VALID:
      return "not yet valid";
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
      return "unknown issuer";
    default:
      return X509_verify_cert_error_string(error);
  }
}

// Where an SSL_CTX keeps its CTlsTrust.
int TrustIndex() {
  static const int index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
  return index;
}

}  // namespace

// OpenSSL calls plain C functions; these forward to the check.
struct TlsTrustCallbacks {
  // Replaces OpenSSL's own chain verification (SSL_CTX_set_cert_verify_callback).
  static int VerifyChain(X509_STORE_CTX* store, void* self) {
    return static_cast<CTlsTrust*>(self)->Verify(store);
  }
  // Notes each error and lets the verification go on, so that every reason
  // is found, not only the first.
  static int NoteError(int ok, X509_STORE_CTX* store) {
    if (ok == 0 && tChainErrors != nullptr) {
      tChainErrors->push_back(X509_STORE_CTX_get_error(store));
    }
    return 1;
  }
  static void Info(const SSL* ssl, int where, int) {
    if ((where & SSL_CB_HANDSHAKE_DONE) == 0) return;
    auto* self = static_cast<CTlsTrust*>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), TrustIndex()));
    if (self != nullptr) self->HandshakeDone(ssl);
  }
};

CTlsTrust::CTlsTrust(std::string host, std::string pinnedKey)
    : host_(std::move(host)), pinnedKey_(std::move(pinnedKey)) {
  // A zone index ("fe80::1%eth0") names the interface, not the server.
  if (const std::size_t zone = host_.find('%'); zone != std::string::npos) host_.resize(zone);
}

CTlsTrust::~CTlsTrust() { X509_STORE_free(static_cast<X509_STORE*>(systemStore_)); }

bool CTlsTrust::Install(void* sslContext) {
  auto* context = static_cast<SSL_CTX*>(sslContext);
  SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
  SSL_CTX_set_cert_verify_callback(context, &TlsTrustCallbacks::VerifyChain, this);
  SSL_CTX_set_ex_data(context, TrustIndex(), this);
  SSL_CTX_set_info_callback(context, &TlsTrustCallbacks::Info);
  // P-256 first (every TLS 1.3 server has it; vsftpd takes nothing else),
  // or the group this server chose before: a key share the server takes
  // saves the round trip of a HelloRetryRequest, at the login and on every
  // data connection. Then OpenSSL's own order.
  std::vector<int> groups;
  if (group_ != 0) groups.push_back(group_);
  for (const int group :
       {NID_X9_62_prime256v1, NID_X25519, NID_X448, NID_secp521r1, NID_secp384r1}) {
    if (group != group_) groups.push_back(group);
  }
  SSL_CTX_set1_groups(context, groups.data(), static_cast<long>(groups.size()));
  return SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION) == 1;
}

void CTlsTrust::HandshakeDone(const void* ssl) {
  const int group = SSL_get_negotiated_group(const_cast<SSL*>(static_cast<const SSL*>(ssl)));
  // Only groups named by a NID can be offered again; TLS 1.2 resumptions
  // report none.
  if (group > 0 && (group & TLSEXT_nid_unknown) == 0) group_ = group;
}

int CTlsTrust::Verify(void* storeContext) {
  auto* store = static_cast<X509_STORE_CTX*>(storeContext);
  X509* leaf = X509_STORE_CTX_get0_cert(store);
  if (leaf == nullptr) {
    refused_ = true;
    peer_ = PeerIdentity{};
    peer_.problem = "no certificate";
    return 0;
  }
  if (systemStore_ == nullptr) {
    // OpenSSL's default paths: the system's store, or what SSL_CERT_FILE
    // and SSL_CERT_DIR name.
    X509_STORE* system = X509_STORE_new();
    if (system != nullptr) X509_STORE_set_default_paths(system);
    systemStore_ = system;
  }
  std::vector<int> errors;
  X509_STORE_CTX* check = X509_STORE_CTX_new();
  if (check == nullptr || X509_STORE_CTX_init(check, static_cast<X509_STORE*>(systemStore_), leaf,
                                              X509_STORE_CTX_get0_untrusted(store)) != 1) {
    errors.push_back(X509_V_ERR_OUT_OF_MEM);
  } else {
    X509_STORE_CTX_set_default(check, "ssl_server");
    X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(check);
    if (IsIpLiteral(host_)) {
      X509_VERIFY_PARAM_set1_ip_asc(param, host_.c_str());
    } else {
      X509_VERIFY_PARAM_set1_host(param, host_.c_str(), host_.size());
    }
    tChainErrors = &errors;
    X509_STORE_CTX_set_verify_cb(check, &TlsTrustCallbacks::NoteError);
    const int verified = X509_verify_cert(check);
    tChainErrors = nullptr;
    if (verified <= 0 && errors.empty()) errors.push_back(X509_STORE_CTX_get_error(check));
  }
  X509_STORE_CTX_free(check);

  PeerIdentity seen;
  seen.fingerprint = Fingerprint(leaf);
  seen.details = "Subject: " + NameText(X509_get_subject_name(leaf)) +
                 "\nIssuer: " + NameText(X509_get_issuer_name(leaf)) + "\nValid from " +
                 TimeText(X509_get0_notBefore(leaf)) + " to " + TimeText(X509_get0_notAfter(leaf));
  std::vector<std::string> problems;
  for (const int error : errors) {
    std::string problem = Problem(error);
    if (std::find(problems.begin(), problems.end(), problem) == problems.end()) {
      problems.push_back(std::move(problem));
    }
  }
  const bool trusted = problems.empty() ||
                       (!pinnedKey_.empty() && Unpadded(seen.fingerprint) == Unpadded(pinnedKey_));
  if (!trusted) {
    for (const std::string& problem : problems) {
      if (!seen.problem.empty()) seen.problem += ", ";
      seen.problem += problem;
    }
  }
  // A refusal stays what peer() shows, whatever a later connection brings.
  if (!refused_) peer_ = std::move(seen);
  if (trusted) {
    X509_STORE_CTX_set_error(store, X509_V_OK);
    return 1;
  }
  refused_ = true;
  X509_STORE_CTX_set_error(store, X509_V_ERR_CERT_REJECTED);
  return 0;
}

std::string CTlsTrust::RefusalText() const {
  std::string text = "The server's certificate is not trusted (" +
                     (peer_.problem.empty() ? std::string("unknown") : peer_.problem) + "): key " +
                     peer_.fingerprint;
  if (!pinnedKey_.empty() && Unpadded(pinnedKey_) != Unpadded(peer_.fingerprint)) {
    text += ", but the site's pinned key is " + pinnedKey_;
  }
  return text;
}

std::string CTlsTrust::Fingerprint(const void* certificate) {
  const X509_PUBKEY* key = X509_get_X509_PUBKEY(static_cast<const X509*>(certificate));
  unsigned char* der = nullptr;
  const int size = key == nullptr ? -1 : i2d_X509_PUBKEY(key, &der);
  if (size <= 0) return {};
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int digestSize = 0;
  const bool hashed = EVP_Digest(der, static_cast<std::size_t>(size), digest, &digestSize,
                                 EVP_sha256(), nullptr) == 1;
  OPENSSL_free(der);
  if (!hashed) return {};
  std::string base64(4 * ((digestSize + 2) / 3) + 1, '\0');
  const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(base64.data()), digest,
                                     static_cast<int>(digestSize));
  base64.resize(static_cast<std::size_t>(std::max(length, 0)));
  return "SHA256:" + base64;
}

}  // namespace orvane
