#include "tests/support/sshd_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "tests/support/free_port.h"

extern char** environ;

namespace orvane::test {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr char kSshd[] = "/usr/sbin/sshd";
constexpr char kKeygen[] = "/usr/bin/ssh-keygen";

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

// Runs a program to its end, its output into `log`; true when it exited 0.
bool Run(const std::vector<std::string>& argv, const fs::path& log) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  std::vector<char*> args;
  for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return false;
  int status = 0;
  return ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool MakeKey(const fs::path& file, const std::string& type, const std::string& passphrase,
             const fs::path& log) {
  std::vector<std::string> argv = {kKeygen, "-q", "-t", type, "-N", passphrase, "-f", file};
  if (type == "rsa") argv.insert(argv.end(), {"-b", "2048"});
  return Run(argv, log);
}

// The public half of a key file, "TYPE BASE64" (the comment dropped).
std::string PublicKey(const fs::path& keyFile) {
  std::istringstream in(ReadFile(keyFile.string() + ".pub"));
  std::string type, base64;
  in >> type >> base64;
  return type + " " + base64;
}

std::string RandomPassword() {
  std::random_device random;
  static constexpr char kAlphabet[] = "abcdefghijkmnpqrstuvwxyz23456789";
  std::string password = "t-";
  for (int i = 0; i < 20; ++i) password += kAlphabet[random() % (sizeof(kAlphabet) - 1)];
  return password;
}

// A system user of its own for a server's password logins, with
// `password`: servers of tests running side by side each have theirs.
bool MakePasswordUser(const std::string& user, const std::string& password, const fs::path& log,
                      std::string& error) {
  if (::geteuid() != 0) {
    error = "password logins need a system user, which only root may make";
    return false;
  }
  if (!Run({"/usr/sbin/useradd", "--system", "--no-create-home", "--home-dir", "/nonexistent",
            "--shell", "/usr/sbin/nologin", user},
           log)) {
    error = "useradd failed: " + ReadFile(log);
    return false;
  }
  FILE* chpasswd = ::popen("/usr/sbin/chpasswd", "w");
  if (chpasswd == nullptr) {
    error = "cannot run chpasswd";
    return false;
  }
  std::fprintf(chpasswd, "%s:%s\n", user.c_str(), password.c_str());
  if (::pclose(chpasswd) != 0) {
    error = "chpasswd failed";
    return false;
  }
  return true;
}

// Connects and reads the server's "SSH-2.0-..." identification.
bool Identifies(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool ready = false;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0) {
    pollfd p{fd, POLLIN, 0};
    char buffer[8] = {};
    ready = ::poll(&p, 1, 5000) > 0 && ::read(fd, buffer, 7) == 7 &&
            std::string_view(buffer, 7) == "SSH-2.0";
  }
  ::close(fd);
  return ready;
}

}  // namespace

CSshdServer::Started CSshdServer::Start(HostKeys hostKeys, bool withPassword, std::uint16_t port) {
  Started started;
  if (::access(kSshd, X_OK) != 0 || ::access(kKeygen, X_OK) != 0) {
    started.unavailable = true;
    started.error = "OpenSSH's sshd or ssh-keygen is not installed (Debian: openssh-server)";
    return started;
  }
  std::unique_ptr<CSshdServer> server(new CSshdServer());
  const fs::path work = server->work_.path();
  const fs::path log = work / "setup.log";
  const std::vector<std::string> types = hostKeys == HostKeys::kRsaOnly
                                             ? std::vector<std::string>{"rsa"}
                                             : std::vector<std::string>{"ed25519", "ecdsa"};
  for (const std::string& type : types) {
    const fs::path key = work / ("host_" + type);
    if (!MakeKey(key, type, "", log)) {
      started.error = "ssh-keygen failed: " + ReadFile(log);
      return started;
    }
    server->hostKeys_.push_back(key);
  }
  server->keyFile_ = work / "user_ed25519";
  if (!MakeKey(server->keyFile_, "ed25519", kKeyPassphrase, log)) {
    started.error = "ssh-keygen failed: " + ReadFile(log);
    return started;
  }
  server->rsaKeyFile_ = work / "user_rsa";
  if (!MakeKey(server->rsaKeyFile_, "rsa", "", log)) {
    started.error = "ssh-keygen failed: " + ReadFile(log);
    return started;
  }
  std::ofstream(work / "authorized_keys") << PublicKey(server->keyFile_) << "\n"
                                          << PublicKey(server->rsaKeyFile_) << "\n";
  const passwd* me = ::getpwuid(::geteuid());
  server->user_ = me != nullptr ? me->pw_name : "root";
  if (withPassword) {
    static std::atomic<int> made{0};
    const std::string user =
        "orvane-sftp-" + std::to_string(::getpid()) + "-" + std::to_string(++made);
    const std::string password = RandomPassword();
    if (MakePasswordUser(user, password, log, server->passwordError_)) {
      server->passwordUser_ = user;
      server->password_ = password;
    }
  } else {
    server->passwordError_ = "the server was started without a password login";
  }
  // sshd run as root insists on its privilege separation directory.
  if (::geteuid() == 0) ::mkdir("/run/sshd", 0755);
  if (!server->Spawn(port, started.error)) return started;
  started.server = std::move(server);
  return started;
}

bool CSshdServer::Spawn(std::uint16_t port, std::string& error) {
  const fs::path work = work_.path();
  // Another process may take the port between FreePort and sshd's bind;
  // sshd then exits at once and another port is tried.
  for (int attempt = 0; attempt < 10; ++attempt) {
    port_ = port != 0 ? port : FreeLoopbackPort();
    std::ofstream config(work / "sshd_config");
    config << "Port " << port_ << "\nListenAddress 127.0.0.1\n";
    for (const fs::path& key : hostKeys_) config << "HostKey " << key.string() << "\n";
    config << "PidFile " << (work / "sshd.pid").string() << "\n"
           << "AuthorizedKeysFile " << (work / "authorized_keys").string() << "\n"
           << "StrictModes no\nUsePAM no\nPermitRootLogin yes\n"
           << "PasswordAuthentication " << (password_.empty() ? "no" : "yes") << "\n"
           << "KbdInteractiveAuthentication no\n"
           // Many connections at once (crawls with extra connections).
           << "MaxStartups 200\nMaxSessions 200\n"
           << "Subsystem sftp internal-sftp\nLogLevel DEBUG1\n";
    config.close();
    const fs::path log = work / "sshd.log";
    std::error_code ignored;
    fs::remove(log, ignored);
    const std::vector<std::string> argv = {"/usr/bin/setpriv",
                                           "--pdeathsig",
                                           "KILL",
                                           "--",
                                           kSshd,
                                           "-D",
                                           "-e",
                                           "-f",
                                           (work / "sshd_config").string(),
                                           "-E",
                                           log.string()};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, (work / "sshd.out").c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    std::vector<char*> args;
    for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    const int spawned =
        posix_spawn(&pid_, argv[0].c_str(), &actions, &attributes, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (spawned != 0) {
      pid_ = -1;
      error = "cannot start sshd";
      return false;
    }
    const auto deadline = Clock::now() + 60s;
    while (Clock::now() < deadline) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        break;
      }
      if (Identifies(port_)) return true;
      std::this_thread::sleep_for(20ms);
    }
    if (pid_ > 0) {
      error = "sshd did not answer: " + Log();
      return false;
    }
    error = "sshd exited at start: " + ReadFile(work / "sshd.out") + Log();
  }
  return false;
}

CSshdServer::~CSshdServer() {
  Stop();
  if (!passwordUser_.empty())
    Run({"/usr/sbin/userdel", "--force", passwordUser_}, work_ / "setup.log");
}

void CSshdServer::Stop() {
  if (pid_ <= 0) return;
  ::kill(-pid_, SIGTERM);
  const auto deadline = Clock::now() + 3s;
  int status = 0;
  pid_t reaped = 0;
  while ((reaped = ::waitpid(pid_, &status, WNOHANG)) == 0 && Clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);
  }
  ::kill(-pid_, SIGKILL);
  if (reaped == 0) ::waitpid(pid_, &status, 0);
}

FtpLogin CSshdServer::KeyLogin() const {
  FtpLogin login;
  login.protocol = SiteProtocol::kSftp;
  login.host = "127.0.0.1";
  login.port = port_;
  login.user = user_;
  login.keyFile = keyFile_.string();
  login.keyPassphrase = kKeyPassphrase;
  return login;
}

FtpLogin CSshdServer::RsaKeyLogin() const {
  FtpLogin login = KeyLogin();
  login.keyFile = rsaKeyFile_.string();
  login.keyPassphrase.clear();
  return login;
}

FtpLogin CSshdServer::PasswordLogin() const {
  FtpLogin login = KeyLogin();
  login.keyFile.clear();
  login.keyPassphrase.clear();
  login.user = passwordUser_;
  login.password = password_;
  return login;
}

std::vector<std::string> CSshdServer::PublicHostKeys() const {
  std::vector<std::string> keys;
  for (const fs::path& key : hostKeys_) keys.push_back(PublicKey(key));
  return keys;
}

std::string CSshdServer::OtherKey(const std::string& type) const {
  static std::atomic<int> made{0};
  const fs::path key = work_.path() / ("other_" + type + std::to_string(++made));
  if (!MakeKey(key, type, "", work_.path() / "setup.log")) return {};
  return PublicKey(key);
}

std::string CSshdServer::Log() const { return ReadFile(work_.path() / "sshd.log"); }

}  // namespace orvane::test
