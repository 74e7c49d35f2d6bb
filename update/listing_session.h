// What the crawler asks of a connection to a site, whatever the protocol:
// log in once, list absolute directories, and be closable from any thread.
// CFtpSession speaks FTP (plain, or under TLS); the SSH file transfer
// protocol has a session of its own. MakeListingSession picks the one the
// login's protocol needs.
//
// The rules of each call (threads, paths, outcomes, time-outs) are those
// written at CFtpSession, which every session keeps; a session that has no
// use for a call (MLST facts, a recursive LIST) answers as a server without
// the feature does.
//
// Trust: a session that protects the connection (TLS, SSH) checks who the
// server is before it sends anything that names the user. A certificate
// valid for the host under the system's trust store, or a host key the
// user's own known-hosts file already trusts, is accepted; otherwise the
// server's key must be the one pinned for the site. Any other key ends
// Open with kUntrusted, and peer() then shows what the server presented, so
// that the user can be asked to accept it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "catalog/site_protocol.h"
#include "update/ftp_error.h"
#include "update/listing_parser.h"

namespace orvane {

struct FtpTimeouts {
  std::chrono::milliseconds connect{3000};
  std::chrono::milliseconds controlReceive{7000};
  std::chrono::milliseconds dataReceive{7000};
  // Four bytes a second over 20 s: far below any link that works, far
  // above a server that drips its replies to hold the update. A zero in
  // either turns the floor off.
  std::size_t lowSpeedBytes = 80;
  std::chrono::milliseconds lowSpeedWindow{20000};
  // One listing of a million entries over a slow link fits; a listing that
  // never ends, however fast, does not.
  std::chrono::milliseconds maxCall{std::chrono::minutes(20)};
};

struct FtpLogin {
  std::string host;  // name, IPv4 or IPv6 literal (without brackets)
  std::uint16_t port = 21;
  // Sent as given: the caller applies the anonymous rule. An empty user
  // leaves the login to libcurl ("anonymous").
  std::string user;
  std::string password;

  SiteProtocol protocol = SiteProtocol::kFtp;
  // The server directory the site's catalog begins at ("/pub", a home
  // directory), bytes, absolute. Every path a session is given is below
  // it: the session lists startDir + path, so "/" names the start
  // directory itself and the catalog never holds the prefix.
  std::string startDir = "/";
  // TLS and SSH: the key the user accepted for this site, as
  // "SHA256:<base64 of the SHA-256 of the public key>"; empty when none.
  std::string pinnedKey;
  // SSH: the private key file to log in with (empty: the password, then
  // the SSH agent) and its passphrase.
  std::string keyFile;
  std::string keyPassphrase;
  // SSH: the data directory's known-hosts file, where accepted host keys
  // are kept (the user's ~/.ssh/known_hosts is only read).
  std::filesystem::path knownHosts;
};

// What a server showed to prove who it is: a TLS certificate or an SSH
// host key.
struct PeerIdentity {
  // "SHA256:<base64>" of the public key (the certificate's
  // SubjectPublicKeyInfo, or the SSH key blob); empty when none was seen.
  std::string fingerprint;
  // For the user, one fact a line: subject, issuer, validity (TLS), or
  // the key's type (SSH). Server bytes: escape before display.
  std::string details;
  // Why it is not trusted without the user's word (self-signed, another
  // name, expired, unknown issuer, not in any known-hosts file), empty
  // when it is trusted.
  std::string problem;
  // SSH: the key as a known-hosts line holds it ("TYPE BASE64"), which is
  // what accepting it stores.
  std::string sshKey;
};

// Receives the entries of a listing as they arrive, in batches (one per
// chunk of data). The entries are valid only during the call. Returning
// false abandons the listing: ListDirectory then returns kCancelled. The
// callback runs on the owner's thread inside ListDirectory and must not call
// the session, except Close().
using FtpEntrySink = std::function<bool(std::span<const ListingEntry>)>;
// Receives a listing's bytes as they arrive, unparsed; same rules as
// FtpEntrySink.
using FtpDataSink = std::function<bool(std::string_view)>;

class CListingSession {
 public:
  virtual ~CListingSession() = default;

  virtual FtpResult Open(const FtpLogin& login, const FtpTimeouts& timeouts) = 0;
  virtual FtpResult ListDirectory(std::string_view absolutePath,
                                  const FtpEntrySink& onEntries) = 0;
  virtual FtpResult ListRaw(std::string_view absolutePath, std::string_view command,
                            const FtpDataSink& onData) = 0;
  virtual FtpResult PathFacts(std::string_view absolutePath, std::string& facts) = 0;
  virtual FtpResult Probe() = 0;
  virtual void Close() = 0;

  virtual const std::string& serverFeatures() const = 0;
  virtual bool usesMlsd() const = 0;
  virtual std::uint64_t commandsSent() const = 0;
  virtual std::size_t skippedLines() const = 0;
  virtual const SkippedNames& skippedNames() const = 0;
  // Whether a recursive listing (ListRaw with "LIST -R") can be asked for.
  virtual bool offersRecursiveListing() const { return true; }
  // What the server presented at Open (empty for plain FTP).
  virtual const PeerIdentity& peer() const = 0;
};

// A session for `protocol`, not yet opened.
std::unique_ptr<CListingSession> MakeListingSession(SiteProtocol protocol);

}  // namespace orvane
