// A real OpenSSH server for tests: /usr/sbin/sshd (Debian's openssh-server)
// on a free 127.0.0.1 port, with a configuration, host keys (made with
// ssh-keygen) and a log of its own in a temporary directory, serving SFTP
// through `internal-sftp`. Stopped by its process id when the object goes
// away (SIGTERM, SIGKILL after 3 s); the kernel kills it should the thread
// that started it end first (setpriv --pdeathsig), so start it on the test
// body's thread.
//
// Logins: the user running the tests, with an ed25519 key file protected
// by kKeyPassphrase or an RSA key file (the server's authorized keys are a
// file of the fixture's); and, when asked for and the tests run as root, a
// password login: sshd checks passwords against the system's own accounts,
// so the server gets a system user of its own ("orvane-sftp-PID-N", shell
// /usr/sbin/nologin, a random password), removed with the server.
// passwordError() says why there is none otherwise.
//
//   auto started = CSshdServer::Start();
//   if (started.unavailable) GTEST_SKIP() << started.error;
//   ASSERT_TRUE(started.server) << started.error;
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/temp_tree.h"
#include "update/listing_session.h"

namespace orvane::test {

class CSshdServer {
 public:
  static constexpr char kKeyPassphrase[] = "orvane key phrase";

  enum class HostKeys {
    kEd25519AndEcdsa,
    kRsaOnly,  // what Debian 12's libssh2 cannot verify
  };

  struct Started {
    std::unique_ptr<CSshdServer> server;
    std::string error;
    bool unavailable = false;  // sshd or ssh-keygen is not installed
  };

  // `port` 0: a free one; else that port (a server restarted with new host
  // keys where a site expects it).
  static Started Start(HostKeys hostKeys = HostKeys::kEd25519AndEcdsa, bool withPassword = false,
                       std::uint16_t port = 0);

  ~CSshdServer();
  CSshdServer(const CSshdServer&) = delete;
  CSshdServer& operator=(const CSshdServer&) = delete;

  std::uint16_t port() const { return port_; }
  pid_t pid() const { return pid_; }

  // A login of the current user with the key file; knownHosts empty (the
  // server is not trusted yet).
  FtpLogin KeyLogin() const;
  // The same with an RSA key file (no passphrase), which the server
  // accepts as a key but Debian 12's libssh2 cannot sign for.
  FtpLogin RsaKeyLogin() const;
  // The password login, or a login with an empty user when there is none
  // (passwordError() says why).
  FtpLogin PasswordLogin() const;
  const std::string& passwordError() const { return passwordError_; }

  // The server's public host keys, "TYPE BASE64" each.
  std::vector<std::string> PublicHostKeys() const;
  // A fresh key of `type` ("ed25519", "ecdsa") that the server does not
  // have, "TYPE BASE64".
  std::string OtherKey(const std::string& type) const;
  // What sshd has logged so far.
  std::string Log() const;

 private:
  CSshdServer() = default;
  bool Spawn(std::uint16_t port, std::string& error);
  void Stop();

  CTempTree work_;
  std::uint16_t port_ = 0;
  pid_t pid_ = -1;
  std::filesystem::path keyFile_;
  std::filesystem::path rsaKeyFile_;
  std::string user_;
  std::string passwordUser_;
  std::string password_;
  std::string passwordError_;
  std::vector<std::filesystem::path> hostKeys_;
};

}  // namespace orvane::test
