// Whether an FTP session may trust the TLS server it reached, decided while
// the handshake runs, so that nothing naming the user (USER, PASS) is sent
// to a server that has not been trusted.
//
// A certificate that verifies under the system's trust store (OpenSSL's
// default paths, so SSL_CERT_FILE and SSL_CERT_DIR apply) and names the
// host is trusted. Any other is trusted only when the SHA-256 of its public
// key (the SubjectPublicKeyInfo, as DER) is the pinned one: a pin survives
// the certificate's renewal with the same key, and its expiry, since the
// user accepted the key, not the certificate. Anything else fails the
// handshake, and the session reads the verdict here.
//
// Every connection libcurl opens under the session (control and, under
// PROT P, each data connection) gets the check on its OpenSSL context; a
// data connection that resumes the control connection's TLS session shows
// no certificate and needs none, as libcurl caches only sessions whose
// handshake passed.
//
// Owner thread only: libcurl runs the check inside the session's own calls.
#pragma once

#include <string>

#include "update/listing_session.h"

namespace orvane {

class CTlsTrust {
 public:
  // `host` as the session connects to it: a name, or an IPv4 or IPv6
  // literal (without brackets). `pinnedKey`: "SHA256:<base64>", or empty.
  CTlsTrust(std::string host, std::string pinnedKey);
  ~CTlsTrust();
  CTlsTrust(const CTlsTrust&) = delete;
  CTlsTrust& operator=(const CTlsTrust&) = delete;

  // Installs the check on an OpenSSL SSL_CTX that libcurl is setting up
  // (CURLOPT_SSL_CTX_FUNCTION). False when the context cannot take it.
  bool Install(void* sslContext);

  // A certificate was refused; the connection that showed it was dropped.
  bool refused() const { return refused_; }
  // The certificate seen last (the refused one, once one was refused).
  const PeerIdentity& peer() const { return peer_; }
  // For the user: why the server is not trusted, naming the presented
  // fingerprint and, when another key is pinned, that one too.
  std::string RefusalText() const;

  // "SHA256:<base64>" of a certificate's public key; `certificate` is an
  // OpenSSL X509*.
  static std::string Fingerprint(const void* certificate);

 private:
  friend struct TlsTrustCallbacks;
  // The verdict on one certificate chain (an X509_STORE_CTX*): 1 trusted.
  int Verify(void* storeContext);
  // A handshake (an SSL*) has ended: notes the key exchange group.
  void HandshakeDone(const void* ssl);

  std::string host_;
  std::string pinnedKey_;
  PeerIdentity peer_;
  bool refused_ = false;
  // The system's trust store (an X509_STORE*), loaded at the first full
  // handshake rather than for every connection: a data connection resumes
  // the session and checks nothing, and loading the store costs more than
  // the whole listing on a near server.
  void* systemStore_ = nullptr;
  // The key exchange group the server chose (an OpenSSL NID; 0: none yet).
  // Later connections offer it first, so that a server that insists on one
  // group costs no extra round trip (a TLS 1.3 HelloRetryRequest) on every
  // listing.
  int group_ = 0;
};

}  // namespace orvane
