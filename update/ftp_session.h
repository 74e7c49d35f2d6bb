// One FTP connection to one site, on libcurl: log in once, then change into
// absolute directories and list them, on the same control connection.
//
// A session is used once, in this order: Open, any number of ListDirectory
// calls, Close (also done by the destructor). Every call but Close() belongs
// to the thread that owns the session (the site's update worker). Close()
// may be called from any thread, any number of times, also while a call
// is blocked in the network: that call then returns kCancelled at once, and
// every later call does too. The owner must keep the object alive until
// every other thread's Close() has returned.
//
// Per directory the server sees EPSV (PASV when EPSV fails once) and
// "MLSD /a/b" or "LIST /a/b"; after login nothing else, except one TYPE A
// before the first listing. Login (USER, PASS, PWD) and FEAT happen once,
// in Open. MLSD is used when FEAT announces MLST (RFC 3659), plain LIST
// otherwise. A "CWD /a/b" is added only where the path alone cannot be
// trusted: before LIST when the path holds characters that servers glob or
// take as options; after a refused listing, to tell a refused directory
// from a refused listing (a refused LIST is sent once more after the CWD,
// as the refusal may be its argument's); and after a listing that shows
// nothing only a directory could show (no entries, or one entry, file or
// directory, named like the path), since some servers list a missing path as
// empty, a file as itself and an unreadable directory by its own line.
// When that one LIST line is a directory's and the CWD succeeds, a bare
// LIST inside tells a directory holding one namesake (listed again) from
// one that may be entered but not read (nothing, or a success reply that
// says it failed): the latter is kIncomplete, with no entry.
//
// A session that lists with LIST lists over the control connection where
// the server allows it: "STAT /a/b", answered by a multi-line 211/212/213
// reply whose inner lines are the LIST lines, then "PWD". Two round trips
// instead of EPSV, the data connection, LIST and its replies. The PWD reply
// names a path, which no name can hold ("/"), so it proves the STAT reply
// was read whole: libcurl ends a reply at any "ddd " line, and a name that
// held a line feed followed by such a line would end it early (vsftpd sends
// names as they are). The form is taken for the session only after the
// first directory that shows entries listed exactly alike both ways (and
// for paths with a blank, which a server may split, only after the first
// such path listed alike by STAT and by LIST inside the directory); it is
// dropped for the session when the reply is refused as a command, is not a
// multi-line 21x reply, lists other entries than the data connection, has a
// line that ends in a lone LF or with another code, ends otherwise than the
// first one did, leaves bytes waiting, is not followed by the PWD reply, or
// holds more than kMaxStatReplyBytes (a reply is held back whole until it
// is judged); in the cases where the connection may be out of step, the
// control connection is dropped too (the next call logs in again). The data
// connection lists a directory whose STAT listing shows nothing only a
// directory could show (no entry, a lone namesake), holds a line that is no
// entry, or whose path LIST would not take as it is; a refusal of the path
// (4xx, 550) is left to LIST too. Sessions that use MLSD keep it (its
// facts, "unique" among them, have no STAT form).
//
// libcurl takes no byte 0x01-0x1F in a URL path, so a path holding one is
// entered with "CWD /a/b" sent as a quoted command and its directory listed
// with a bare "MLSD" or "LIST".
//
// libcurl is driven with curl_multi_perform and curl_multi_poll, except
// where it offers no socket to wait on: it is then called again at once
// (7.88 reads the EPSV reply and opens the data connection only on the next
// call, and a poll would sleep its whole time-out in between).
//
// Time-outs are enforced by the session itself, from the last sign of life:
//   connect         TCP connection (control or data) not established
//   controlReceive  no reply to a command (greeting and login included)
//   dataReceive     no listing data (or no final reply) once the listing
//                   command has been answered with 1xx
// Sends have no time-out of their own: commands are a few bytes that the
// kernel takes at once, and a listing sends nothing on the data connection.
// A server that keeps each of those clocks from running out (one byte every
// few seconds) is held to a floor on progress instead: every call that
// receives fewer than lowSpeedBytes (replies and listing data together) in
// a window of lowSpeedWindow, or that runs longer than maxCall in all, ends
// as a time-out does (kTransient). The windows start with the call and
// again with the listing data.
//
// TLS (login.protocol ftpes or ftps): ftpes sends AUTH TLS right after the
// greeting and fails (kRefused) when the server refuses it, never going on
// in plain text; ftps speaks TLS from the first byte. Either way the
// server's certificate is checked during the handshake (CTlsTrust), before
// USER and PASS; an untrusted one ends Open with kUntrusted and peer()
// showing it. Then PBSZ 0 and PROT P, so that listings travel under TLS
// too, each data connection resuming the control connection's TLS session
// from libcurl's session cache (servers that demand it, vsftpd's
// require_ssl_reuse, refuse a fresh handshake there). TLS 1.2 or later.
//
// Start directory: every path the session is given is below
// login.startDir; the server sees startDir + path ("/" is the start
// directory itself), and what the session hands back holds no prefix.
//
// Failures are classified by ftp_error.h. Entry names are the server's
// bytes; paths are sent as bytes too (each segment percent-encoded in the
// URL, so spaces, "#", "%", "?" and bytes that are not UTF-8 arrive as they
// are).
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "update/ftp_error.h"
#include "update/listing_parser.h"
#include "update/listing_session.h"
#include "update/tls_trust.h"

namespace orvane {

class CFtpSession final : public CListingSession {
 public:
  CFtpSession();
  ~CFtpSession() override;
  CFtpSession(const CFtpSession&) = delete;
  CFtpSession& operator=(const CFtpSession&) = delete;

  // Connects in passive mode (under TLS for ftpes and ftps, the certificate
  // checked first) and logs in with `login` (USER/PASS), then asks for FEAT.
  // kUntrusted: the certificate was refused, nothing naming the user sent. On failure the session
  // stays unusable; curlCode 2 (CURLE_FAILED_INIT) means the libcurl handles could not be created.
  // Precondition: called once, before anything but Close().
  FtpResult Open(const FtpLogin& login, const FtpTimeouts& timeouts) override;
  FtpResult Open(const FtpLogin& login) { return Open(login, FtpTimeouts{}); }

  // Lists the directory `absolutePath` ("/" or "/a/b", bytes, no trailing
  // slash needed), handing the parsed entries to `onEntries` (they are
  // exactly what CListingSplitter yields, "." and ".." already skipped).
  // A path with CR, LF or NUL is refused before anything is sent; so is a
  // path that does not start with "/". Outcomes: kOk (entered), kRefused
  // with entered false (the directory change was refused: also a file or a
  // missing path) or true (the listing was refused: an empty directory),
  // kIncomplete (cut short by the server, 426, or a 4xx to the listing,
  // entered true, or to the CWD, entered false; also a directory that can
  // be entered but not read, entered true), kTransient, kCancelled.
  // Entries handed out before a failure stay handed out.
  FtpResult ListDirectory(std::string_view absolutePath, const FtpEntrySink& onEntries) override;

  // Changes into `absolutePath` ("CWD /a/b") and sends `command` as it is
  // (for example "LIST -R"), handing the data connection's bytes to
  // `onData`. For commands whose reply no parser here reads as it comes. A
  // path holding a byte below 0x20 is refused, with the path rules of
  // ListDirectory. Outcomes as ListDirectory's, with no check of what the
  // data shows; a final reply that says it was cut short is kIncomplete.
  FtpResult ListRaw(std::string_view absolutePath, std::string_view command,
                    const FtpDataSink& onData) override;

  // The facts of one path by MLST ("type=dir;...;unique=...; /a/b", without
  // the leading blank), or empty when the server gave none: a server without
  // MLST, or one that refused it. Sends nothing else, no CWD; only when
  // usesMlsd(). Same path rules and outcomes as ListDirectory.
  FtpResult PathFacts(std::string_view absolutePath, std::string& facts) override;

  // Whether the server still answers: sends NOOP, after a new connection
  // and login when the last one was lost. kOk when it was answered. Tells
  // a directory whose listing fails from a server that has gone away.
  FtpResult Probe() override;

  // Thread-safe, idempotent. Drops the connection (without QUIT, so that a
  // server that has stopped answering cannot hold the caller) and makes a
  // blocked call on the owner's thread return kCancelled at once.
  void Close() override;

  // The FEAT reply's feature lines, one per line without the leading
  // space; empty when the server has no FEAT.
  const std::string& serverFeatures() const override { return features_; }
  bool usesMlsd() const override { return mlsd_; }
  // Commands sent on control connections so far (USER and PASS included).
  std::uint64_t commandsSent() const override { return commandsSent_; }
  // Lines of the last listing that could not be read as entries (too long,
  // a name beyond kMaxNameBytes, the fragment of a broken line): such a
  // listing cannot tell what is gone from the directory.
  std::size_t skippedLines() const override { return splitter_.skippedLines(); }
  // What those lines could have named.
  const SkippedNames& skippedNames() const override { return splitter_.skippedNames(); }
  const PeerIdentity& peer() const override { return peer_; }

 private:
  enum class Phase { kConnecting, kAwaitReply, kData };
  enum class Lifetime { kIdle, kBusy, kFreeing };

  bool Begin();
  void End();
  // Calls End() when a call that Begin() admitted returns.
  struct EndGuard;
  void ReleaseHandles(std::unique_lock<std::mutex>& lock);
  enum class Request {
    kLogin,       // log in (when not connected), send the quoted commands
    kListByPath,  // MLSD or LIST with the path as argument, no CWD
    kCwdAndList,  // CWD to the path, then MLSD or LIST
    kCwd,         // only the CWD
    kQuote,       // only the quoted commands, no CWD
    kQuotedCwd,   // only the quoted commands sent last (a raw CWD)
    kListHere,    // MLSD or LIST of the current directory, no argument
  };
  FtpResult Perform(const std::string& url, Request request);
  FtpResult ListAfterQuotedCwd(std::string_view absolutePath);
  // `enterFirst`: with a CWD and a bare LIST, even where the path could go
  // as LIST's argument.
  FtpResult ListOverDataConnection(std::string_view absolutePath, bool enterFirst = false);
  // The listing as a STAT reply on the control connection; nothing when the
  // data connection must list the directory (see the top of this file).
  std::optional<FtpResult> ListByStat(std::string_view absolutePath, const FtpEntrySink& onEntries);
  void OnStatReply(std::string_view chunk);
  bool ControlBytesWaiting();
  void DropControlConnection();
  // Hands out the entries still held after a listing's transfer.
  void FinishListing(const FtpResult& result);
  void Touch(Phase phase);
  std::chrono::milliseconds PhaseLimit() const;
  void OnCommand(std::string_view line);
  void OnReplyLine(std::string_view line);
  void OnData(const char* data, std::size_t size);
  void Collect(const ListingEntry& entry);
  void Deliver();

  // The server's path for a path below the start directory.
  std::string ServerPath(std::string_view absolutePath) const;
  // Turns a transfer that failed on a refused certificate into kUntrusted.
  void NoteTrust(FtpResult& result) const;

  int OpenSocket(int family, int type, int protocol);
  void CloseSocket(int socket);
  friend struct CurlCallbacks;  // libcurl's C callbacks, in the source file

  FtpTimeouts timeouts_;
  std::string baseUrl_;               // "ftp://host:port" or "ftps://host:port"
  std::string startDir_;              // without a trailing "/"; empty for the root
  std::unique_ptr<CTlsTrust> trust_;  // ftpes and ftps only
  std::string features_;
  bool mlsd_ = false;
  bool opened_ = false;     // Open was called
  bool connected_ = false;  // Open succeeded
  std::uint64_t commandsSent_ = 0;

  // Handle lifetime and sockets, shared with Close() on other threads.
  std::mutex mutex_;
  std::condition_variable freed_;
  Lifetime lifetime_ = Lifetime::kIdle;
  std::atomic<bool> closed_{false};  // written under mutex_, polled without
  void* easy_ = nullptr;             // CURL*
  void* multi_ = nullptr;            // CURLM*
  std::vector<int> sockets_;

  // State of the transfer in progress (owner thread only).
  Phase phase_ = Phase::kAwaitReply;
  std::chrono::steady_clock::time_point lastSignOfLife_;
  std::vector<int> connecting_;  // sockets whose TCP handshake is under way
  std::string lastCommand_;      // verb of the last command sent
  std::string lastReply_;        // last final reply line
  long lastReplyCode_ = 0;
  long listReplyCode_ = 0;  // final reply to the listing command
  std::string listReply_;
  std::string lastCwd_;    // the last CWD command line sent
  long cwdReplyCode_ = 0;  // final reply to it
  std::string cwdReply_;
  bool truncated_ = false;  // the listing's final reply says it was cut short
  // The listing's final reply is a success that says it failed (vsftpd:
  // "226 Transfer done (but failed to open directory)"): nothing was read.
  bool unreadable_ = false;
  // Bytes of replies and listing data received so far, for the floor on
  // progress.
  std::uint64_t received_ = 0;
  bool dataEndsLine_ = true;  // no listing data yet, or it ended with "\n"
  // kListHere only: a login or a CWD came before the listing, which then
  // was not of the directory the quoted CWD entered.
  bool movedAway_ = false;
  Request request_ = Request::kLogin;
  bool listSent_ = false;
  bool abandoned_ = false;
  // A path listing that has shown nothing only a directory can show: no
  // entry at all, or one entry named like the path itself (held back).
  bool unconfirmed_ = false;
  std::string_view target_;  // last segment of the path listed
  const FtpEntrySink* sink_ = nullptr;
  const FtpDataSink* rawSink_ = nullptr;  // ListRaw only
  std::string* mlstFacts_ = nullptr;      // receives PathFacts' fact line
  CListingSplitter splitter_;
  std::vector<ListingEntry> batch_;
  std::size_t batchSize_ = 0;
  // Listings over the control connection (STAT path): not yet known, used
  // for the session, or not used (refused, not a listing, not trusted).
  enum class StatForm { kUntried, kUsed, kUnusable };
  StatForm statForm_ = StatForm::kUntried;
  StatForm statBlanks_ = StatForm::kUntried;  // the same for paths with blanks
  std::string statEnd_;  // the final line of this server's STAT listings
  // A STAT reply is held back, entries and all, until it is judged whole.
  static constexpr std::size_t kMaxStatReplyBytes = std::size_t{8} << 20;
  struct StatReply {
    bool active = false;     // a STAT is under way
    long code = 0;           // of its first line
    bool multiLine = false;  // the first line was "ddd-"
    bool ended = false;      // its final line came
    bool outOfStep = false;  // a line that no whole reply of it can hold
    bool inStep = false;     // the PWD sent after it was answered
    std::size_t bytes = 0;
    std::string end;  // the final line
  };
  StatReply statReply_;
  std::array<char, 256> errorBuffer_{};
  PeerIdentity peer_;
};

}  // namespace orvane
