// Real FTP servers for tests, each started on a free loopback port and
// stopped by its process id when the object goes away (SIGTERM to its
// process group, SIGKILL after 3 s, then waitpid).
//
//   pyftpdlib  tests/fixtures/ftp_server.py under /usr/bin/python3 (where
//              Debian installs python3-pyftpdlib); scripted faults, a
//              command log, names passed through as bytes
//   vsftpd     /usr/sbin/vsftpd, anonymous, LIST only (no MLSD); optionally
//              with TLS required, explicit (AUTH TLS) or implicit, and the
//              data connections bound to the control connection's TLS
//              session (require_ssl_reuse)
//   pure-ftpd  from $ORVANE_PURE_FTPD_DIR, /usr/sbin or the cache that
//              tests/fixtures/fetch_pure_ftpd.sh fills (an unpacked Debian
//              package: it conflicts with vsftpd); one virtual user;
//              optionally with TLS required on control and data
//
// A server also ends when the test process dies without running the
// destructor: the fixture script when its standard input (a pipe held by the
// test) reaches its end, vsftpd and pure-ftpd by a parent-death signal,
// which the kernel sends when the *thread* that started them ends. So start
// those two on the thread that outlives their use (the test body).
//
// A Start function returns the server, or an error; `unavailable` is set
// when the server program itself is missing, the only case in which a test
// should skip rather than fail:
//
//   auto started = CFtpServer::StartVsftpd(tree.path());
//   if (started.unavailable) GTEST_SKIP() << started.error;
//   ASSERT_TRUE(started.server) << started.error;
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/temp_tree.h"
#include "tests/support/test_certificate.h"
#include "update/listing_session.h"

namespace orvane::test {

// A misbehaviour of the pyftpdlib server, tied to one server path.
struct FtpFault {
  enum class Command {
    kCwd,   // a CWD to `path`
    kList,  // LIST, MLSD or NLST while `path` is the directory listed
    kNoop,  // a NOOP (`path` "/")
    kStat,  // a STAT of `path` (kReply: `reply` is sent as it is, line ends
            // and all; kEndless: a listing whose lines never end)
  };
  // A silence or stall of this many seconds lasts until the test calls
  // CFtpServer::Release() or the client closes the control connection
  // (which ends the command there): a fault that must outlast a time-out or
  // a stop, however slow the machine.
  static constexpr double kUntilReleased = -1;

  enum class Action {
    kReply,    // answer `reply` instead of running the command
    kSilence,  // say nothing for `seconds`, then run the command
    kStall,    // send `keep` listing lines, pause `seconds`, send the rest
    kDrop,     // send `keep` listing lines, then close control and data
    kReset,    // like kDrop, with a TCP reset
    kAppend,   // send the listing, then `reply` as it is (crafted lines)
    kEnd,      // send `keep` listing lines, end the data, answer `reply`
    kDrip,     // send the listing one byte every `seconds`
    kEndless,  // send the listing, then new `reply` lines ("%d": a number) forever
  };
  Command command = Command::kList;
  std::string path;  // server path, bytes: "/", "/a/b"
  Action action = Action::kReply;
  std::string reply = "550 Refused.";  // bytes, sent as they are
  double seconds = 0;
  int keep = 0;
  int times = -1;  // fires this many times over all connections; < 0: always
};

struct PyFtpOptions {
  std::string host = "127.0.0.1";  // or "::1"
  std::string user;                // empty: anonymous logins only
  std::string password;
  bool mlsd = true;  // false hides MLSD and MLST, also from FEAT
  bool epsv = true;  // false: EPSV is an unknown command
  // false: STAT with a path is answered 502, so that listings take the
  // data connection; true: STAT with a path lists over the control connection.
  bool statListing = false;
  int replyDelayMs = 0;          // every reply is held back this long
  double authFailedDelay = 0.2;  // seconds before a refused login is answered
  std::vector<FtpFault> faults;
};

// How a server speaks TLS: not at all, after AUTH TLS (required before the
// login), or from the first byte.
enum class FtpTls { kNone, kExplicit, kImplicit };

struct VsftpdOptions {
  int maxPerIp = 0;  // > 0: connections at once from one address
  FtpTls tls = FtpTls::kNone;
  TestCertificate certificate;  // the one the server shows under TLS
  // The port to listen on (a server restarted with another certificate
  // where a site expects it); 0: a free one.
  std::uint16_t port = 0;
};

struct PureFtpdOptions {
  // Explicit TLS, required for the login and every listing, when set.
  TestCertificate certificate;
  // pure-ftpd cuts a listing at 10,000 entries ("226 Output truncated to
  // 10000 matches") unless told otherwise; the fixture lifts the cut unless
  // this asks for the server's own.
  bool defaultListingCut = false;
  // Connections at once from one address (-C); 0: no limit of the test's.
  int maxPerIp = 0;
};

class CFtpServer {
 public:
  enum class Kind { kPyftpdlib, kVsftpd, kPureFtpd };

  struct Started {
    std::unique_ptr<CFtpServer> server;
    std::string error;
    bool unavailable = false;
  };

  static Started StartPyftpdlib(const std::filesystem::path& root,
                                const PyFtpOptions& options = {});
  // `maxPerIp` > 0 limits the connections at once from one address.
  static Started StartVsftpd(const std::filesystem::path& root, int maxPerIp = 0);
  static Started StartVsftpd(const std::filesystem::path& root, const VsftpdOptions& options);
  static Started StartPureFtpd(const std::filesystem::path& root,
                               const PureFtpdOptions& options = {});

  ~CFtpServer();
  CFtpServer(const CFtpServer&) = delete;
  CFtpServer& operator=(const CFtpServer&) = delete;

  Kind kind() const { return kind_; }
  const std::string& host() const { return host_; }
  std::uint16_t port() const { return port_; }
  pid_t pid() const { return pid_; }
  // The login that the server accepts; for a TLS server, with its
  // certificate's key pinned.
  const std::string& user() const { return user_; }
  const std::string& password() const { return password_; }
  FtpLogin Login() const {
    FtpLogin login;
    login.host = host_;
    login.port = port_;
    login.user = user_;
    login.password = password_;
    login.protocol = protocol_;
    login.pinnedKey = certificate_.fingerprint;
    return login;
  }

  // Whether Commands() works: pyftpdlib and vsftpd log commands.
  bool hasCommandLog() const { return !commandLog_.empty(); }
  // Every command line received so far, in order, over all connections
  // (PASS without its argument).
  std::vector<std::string> Commands() const;
  // Forgets the commands logged so far.
  void ClearCommands();

  // pyftpdlib: ends every hold of a kUntilReleased fault, now and later.
  // Safe from any thread.
  void Release();

 private:
  CFtpServer() = default;
  bool Spawn(const std::vector<std::string>& argv, bool readPort, std::string& error);
  // `port` 0: a free port, tried anew should another process take it.
  bool SpawnOnFreePort(const std::function<std::vector<std::string>(std::uint16_t)>& argvFor,
                       std::string& error, std::uint16_t port = 0);
  bool WaitUntilReady(std::string& error);
  std::string ServerLog() const;

  Kind kind_ = Kind::kPyftpdlib;
  CTempTree work_;  // configuration, logs, password database
  std::string host_ = "127.0.0.1";
  std::uint16_t port_ = 0;
  pid_t pid_ = -1;
  int lifeline_ = -1;  // write end of the fixture script's standard input
  std::string user_ = "anonymous";
  std::string password_ = "orvane@ftp.cn";
  SiteProtocol protocol_ = SiteProtocol::kFtp;
  TestCertificate certificate_;  // TLS servers: the one they show
  std::filesystem::path commandLog_;
  std::size_t commandsSkipped_ = 0;  // lines before the last ClearCommands
};

}  // namespace orvane::test

// In a test body: starts a server with `expr` (a Start function), skips the
// test when the server program is not installed, fails it when the server
// did not come up, and names the running server `var`.
#define START_OR_SKIP(var, expr)                          \
  auto var##Started = (expr);                             \
  if (var##Started.unavailable) {                         \
    GTEST_SKIP() << var##Started.error;                   \
  }                                                       \
  ASSERT_TRUE(var##Started.server) << var##Started.error; \
  ::orvane::test::CFtpServer& var = *var##Started.server
