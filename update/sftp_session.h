// One SSH file transfer (SFTP) connection to one site, on libcurl's sftp://
// (libssh2): log in once, then list absolute directories on the same
// connection, which one easy handle keeps for every directory of the site.
//
// The rules of CFtpSession hold here too: Open, ListDirectory calls, Close,
// in that order; every call but Close() belongs to the owner's thread;
// Close() may come from any thread, at any time, and makes a blocked call
// return kCancelled at once (the socket is shut down and curl_multi_poll
// woken), and every later call too. The owner keeps the object alive until
// every other thread's Close() has returned. Paths are below
// login.startDir: "/a" lists startDir + "/a".
//
// Trust comes before the login: once the server has proved it holds its
// host key, and before anything that names the user is sent, the key is
// looked up in login.knownHosts (the data directory's known-hosts file) and
// in the user's ~/.ssh/known_hosts (read only, see known_hosts.h). A key
// named there for the host is accepted. Any other key ends Open with
// kUntrusted and peer() set: its fingerprint, its type (details), why
// (problem: not known, or changed from the known key, whose fingerprint
// the error text names too) and the key itself (sshKey) for AcceptHostKey.
// The known-hosts files also decide which type of host key is asked for
// when the host is named there in plain text, so that a host known by its
// ed25519 key is not asked for its ECDSA key.
//
// Login, in this order of what the login holds: a private key file
// (login.keyFile; its passphrase login.keyPassphrase; the public key is
// derived from it), also the password when one is given; else the
// password (also through keyboard-interactive); else the SSH agent. No key
// of ~/.ssh is tried unasked.
//
// Debian 12's libssh2 (1.10) knows RSA only with SHA-1 signatures
// (ssh-rsa), which OpenSSH 8.8 and later refuse by default: a server whose
// only host key is RSA cannot be reached, and an RSA key file cannot log
// in there. The error text then says so.
//
// Listings are libcurl's: the server's long-format lines ("ls -l" as
// OpenSSH's sftp-server writes them, the name last, as raw bytes), with
// " -> target" appended to a symbolic link's. The listing parser reads
// them as it reads LIST lines: names are exact bytes (blanks, leading ones
// included, and bytes that are not UTF-8), "." and ".." are skipped, a name
// that held a line break is counted as skipped, and a link is an entry of
// its own (isLink), never a directory, so a crawl never follows one. No
// recursive listing, no MLSD facts (PathFacts answers with none).
//
// Time-outs as CFtpSession keeps them: `connect` until the TCP connection
// stands, then `controlReceive` whenever the session waits for the server
// (the handshake, the login, the first bytes of a listing), `dataReceive`
// once a listing's entries flow; the clocks run from the last byte
// received (counted by the kernel for the connection's socket), and the
// floor on progress (lowSpeedBytes per lowSpeedWindow) and maxCall hold
// for every call. All end the call with kTransient.
//
// Outcomes of ListDirectory: kOk (entered true); kRefused with entered
// false when the directory cannot be opened (missing, a file, no
// permission); kIncomplete (entered true) when the listing failed after
// it began while the connection stands; kTransient when the connection
// was lost or a time-out ran out; kCancelled.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "update/listing_parser.h"
#include "update/listing_session.h"

namespace orvane {

class CSftpSession final : public CListingSession {
 public:
  CSftpSession();
  ~CSftpSession() override;
  CSftpSession(const CSftpSession&) = delete;
  CSftpSession& operator=(const CSftpSession&) = delete;

  // Connects, checks the host key, logs in. Outcomes: kOk; kUntrusted
  // (nothing naming the user was sent); kRefused (login refused, no host
  // key type in common, bad arguments; curlCode 2 when libcurl's handles
  // could not be made); kTransient (no connection, time-out); kCancelled.
  FtpResult Open(const FtpLogin& login, const FtpTimeouts& timeouts) override;
  FtpResult ListDirectory(std::string_view absolutePath, const FtpEntrySink& onEntries) override;
  // There is nothing but a directory listing to ask for: `command` is
  // ignored and the directory's long-format lines are handed out raw.
  FtpResult ListRaw(std::string_view absolutePath, std::string_view command,
                    const FtpDataSink& onData) override;
  // No facts over SFTP: `facts` is cleared, kRefused.
  FtpResult PathFacts(std::string_view absolutePath, std::string& facts) override;
  // Whether the server still answers: one request (statvfs of the start
  // directory, its failure accepted), after a new connection and login
  // when the last one was lost.
  FtpResult Probe() override;
  void Close() override;

  const std::string& serverFeatures() const override { return features_; }
  bool usesMlsd() const override { return false; }
  // SFTP requests sent: one for each open, read and close of a listing.
  std::uint64_t commandsSent() const override { return commandsSent_; }
  // The parser's skipped lines, and the lines it passed over without a
  // word that were no "." or ".." entry (an empty or foreign long name):
  // each line libcurl hands over stands for one entry, so such a line
  // means an entry whose name is not known.
  std::size_t skippedLines() const override { return splitter_.skippedLines() + unreadLines_; }
  const SkippedNames& skippedNames() const override { return skipped_; }
  bool offersRecursiveListing() const override { return false; }
  const PeerIdentity& peer() const override { return peer_; }

 private:
  enum class Phase { kConnecting, kAwaitReply, kData };
  enum class Lifetime { kIdle, kBusy, kFreeing };
  enum class Request { kLogin, kList, kProbe };

  bool Begin();
  void End();
  struct EndGuard;
  void ReleaseHandles(std::unique_lock<std::mutex>& lock);
  FtpResult List(std::string_view absolutePath);
  FtpResult Perform(const std::string& url, Request request);
  std::string UrlOf(std::string_view absolutePath) const;
  // The kernel's count of bytes received on the session's sockets, and
  // whether its connection still stands.
  std::uint64_t BytesReceived() const;
  bool ConnectionStands() const;
  int CheckHostKey(int keyType, const char* key, std::size_t length);
  std::string ExplainFailure(int curlCode, std::string text) const;
  void OnData(const char* data, std::size_t size);
  void Collect(const ListingEntry& entry);
  void Deliver();

  int OpenSocket(int family, int type, int protocol);
  void CloseSocket(int socket);
  friend struct SftpCallbacks;

  FtpLogin login_;
  FtpTimeouts timeouts_;
  std::string baseUrl_;   // "sftp://host:port"
  std::string startDir_;  // without a trailing "/" ("" for the root)
  std::string features_;
  bool opened_ = false;
  bool connected_ = false;
  std::uint64_t commandsSent_ = 0;

  std::mutex mutex_;
  std::condition_variable freed_;
  Lifetime lifetime_ = Lifetime::kIdle;
  std::atomic<bool> closed_{false};
  void* easy_ = nullptr;   // CURL*
  void* multi_ = nullptr;  // CURLM*
  std::vector<int> sockets_;

  Phase phase_ = Phase::kAwaitReply;
  std::chrono::steady_clock::time_point lastSignOfLife_;
  std::uint64_t received_ = 0;  // bytes received, as last seen
  bool keyChecked_ = false;     // the host key callback ran in this call
  bool keyTrusted_ = false;
  std::string keyProblem_;  // why the key was not trusted, for errorText
  bool abandoned_ = false;
  bool gotData_ = false;
  const FtpEntrySink* sink_ = nullptr;
  const FtpDataSink* rawSink_ = nullptr;
  CListingSplitter splitter_;
  std::size_t unreadLines_ = 0;
  SkippedNames skipped_;
  std::vector<ListingEntry> batch_;
  std::size_t batchSize_ = 0;
  std::array<char, 256> errorBuffer_{};
  PeerIdentity peer_;
};

}  // namespace orvane
