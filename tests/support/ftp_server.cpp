#include "tests/support/ftp_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "tests/support/free_port.h"

extern char** environ;

namespace orvane::test {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Password of the pure-ftpd test user, and its SHA-512 crypt hash (argon2,
// pure-pw's default, takes seconds per login).
constexpr char kPureUser[] = "tester";
constexpr char kPurePassword[] = "orvane-test";
constexpr char kPureHash[] =
    "$6$orvanetest$.v1SiAYbZP3300A4x3Muo5hytYPPCPyMceUT/"
    "cKlD2rWI27ajubcON0UdmWq5CdDOwx0l6xY1yhpwgHse8si0/";

std::string Hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (const char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    hex += kDigits[c >> 4];
    hex += kDigits[c & 0x0F];
  }
  return hex;
}

std::string JsonString(std::string_view text) {
  std::string json = "\"";
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      json += '\\';
      json += ch;
    } else if (c < 0x20 || c >= 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof(escape), "\\u%04x", c);
      json += escape;
    } else {
      json += ch;
    }
  }
  return json + "\"";
}

bool WriteFile(const fs::path& path, std::string_view content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  return static_cast<bool>(out);
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

bool IsExecutable(const fs::path& path) { return ::access(path.c_str(), X_OK) == 0; }

fs::path FixtureScript() {
  if (const char* source = std::getenv("ORVANE_SOURCE_DIR"); source != nullptr && *source) {
    return fs::path(source) / "tests/fixtures/ftp_server.py";
  }
  return fs::path(__FILE__).parent_path().parent_path() / "fixtures/ftp_server.py";
}

// Where an unpacked pure-ftpd package lives: it cannot be installed next to
// vsftpd.
fs::path PureFtpdRoot() {
  if (const char* dir = std::getenv("ORVANE_PURE_FTPD_DIR"); dir != nullptr && *dir) return dir;
  if (IsExecutable("/usr/sbin/pure-ftpd")) return "/";
  fs::path cache;
  if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg != nullptr && *xdg) {
    cache = xdg;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && *home) {
    cache = fs::path(home) / ".cache";
  } else {
    cache = "/tmp";
  }
  return cache / "orvane/pure-ftpd";
}

// A server must not outlive a test process that dies without running its
// destructors. setpriv makes the kernel kill it when the thread that
// started it ends.
std::vector<std::string> WithParentDeathSignal(std::vector<std::string> argv) {
  if (!IsExecutable("/usr/bin/setpriv")) return argv;
  argv.insert(argv.begin(), {"/usr/bin/setpriv", "--pdeathsig", "KILL", "--"});
  return argv;
}

// Connects and reads the greeting up to its final "220 " line; with
// `plainGreeting` false (implicit TLS, where the greeting comes after a
// handshake) the connection alone says that the server is up.
bool Greets(const std::string& host, std::uint16_t port, bool plainGreeting) {
  const bool v6 = host.find(':') != std::string::npos;
  const int fd = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_storage storage{};
  socklen_t length;
  if (v6) {
    auto* a = reinterpret_cast<sockaddr_in6*>(&storage);
    a->sin6_family = AF_INET6;
    a->sin6_port = htons(port);
    ::inet_pton(AF_INET6, host.c_str(), &a->sin6_addr);
    length = sizeof(sockaddr_in6);
  } else {
    auto* a = reinterpret_cast<sockaddr_in*>(&storage);
    a->sin_family = AF_INET;
    a->sin_port = htons(port);
    ::inet_pton(AF_INET, host.c_str(), &a->sin_addr);
    length = sizeof(sockaddr_in);
  }
  bool ready = false;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&storage), length) == 0) {
    ready = !plainGreeting;
    std::string received;
    const auto deadline = Clock::now() + 5s;
    while (!ready && Clock::now() < deadline) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 200) <= 0) continue;
      char buffer[512];
      const ssize_t n = ::read(fd, buffer, sizeof(buffer));
      if (n <= 0) break;
      received.append(buffer, static_cast<std::size_t>(n));
      ready = received.starts_with("220 ") || received.find("\n220 ") != std::string::npos;
    }
  }
  ::close(fd);
  return ready;
}

// Anonymous logins and listings under TLS only, each data connection
// resuming the control connection's session, TLS 1.2 and 1.3 offered.
std::string VsftpdTlsConfig(const VsftpdOptions& options) {
  if (options.tls == FtpTls::kNone) return {};
  return "ssl_enable=YES\nallow_anon_ssl=YES\nforce_anon_logins_ssl=YES\n"
         "force_anon_data_ssl=YES\nrequire_ssl_reuse=YES\nssl_ciphers=HIGH\n"
         "rsa_cert_file=" +
         options.certificate.certificate.string() +
         "\nrsa_private_key_file=" + options.certificate.key.string() + "\n" +
         (options.tls == FtpTls::kImplicit ? "implicit_ssl=YES\n" : "");
}

}  // namespace

CFtpServer::Started CFtpServer::StartPyftpdlib(const fs::path& root, const PyFtpOptions& options) {
  Started started;
  if (!IsExecutable("/usr/bin/python3")) {
    started.unavailable = true;
    started.error = "/usr/bin/python3 is missing";
    return started;
  }
  const fs::path script = FixtureScript();
  std::unique_ptr<CFtpServer> server(new CFtpServer);
  server->kind_ = Kind::kPyftpdlib;
  server->host_ = options.host;
  server->commandLog_ = server->work_ / "commands.log";
  if (!options.user.empty()) {
    server->user_ = options.user;
    server->password_ = options.password;
  }

  std::string config = "{\"host\": " + JsonString(options.host) + ", \"root_hex\": \"" +
                       Hex(root.string()) + "\"" + ", \"log_hex\": \"" +
                       Hex(server->commandLog_.string()) + "\"" +
                       ", \"mlsd\": " + (options.mlsd ? "true" : "false") +
                       ", \"epsv\": " + (options.epsv ? "true" : "false") +
                       ", \"stat\": " + (options.statListing ? "true" : "false") +
                       ", \"reply_delay_ms\": " + std::to_string(options.replyDelayMs) +
                       ", \"auth_failed_delay\": " + std::to_string(options.authFailedDelay);
  if (!options.user.empty()) {
    config += ", \"user\": " + JsonString(options.user) +
              ", \"password\": " + JsonString(options.password);
  }
  config += ", \"faults\": [";
  for (std::size_t i = 0; i < options.faults.size(); ++i) {
    const FtpFault& fault = options.faults[i];
    static constexpr const char* kActions[] = {"reply",  "silence", "stall", "drop",   "reset",
                                               "append", "end",     "drip",  "endless"};
    if (i > 0) config += ", ";
    config += std::string("{\"command\": \"") +
              (fault.command == FtpFault::Command::kCwd    ? "CWD"
               : fault.command == FtpFault::Command::kNoop ? "NOOP"
               : fault.command == FtpFault::Command::kStat ? "STAT"
                                                           : "LIST") +
              "\"" + ", \"path_hex\": \"" + Hex(fault.path) + "\"" + ", \"action\": \"" +
              kActions[static_cast<int>(fault.action)] + "\"" + ", \"reply_hex\": \"" +
              Hex(fault.reply) + "\"" + ", \"seconds\": " + std::to_string(fault.seconds) +
              ", \"keep\": " + std::to_string(fault.keep) +
              ", \"times\": " + std::to_string(fault.times) + "}";
  }
  config += "]}\n";
  const fs::path configFile = server->work_ / "server.json";
  if (!WriteFile(configFile, config)) {
    started.error = "cannot write " + configFile.string();
    return started;
  }
  if (!server->Spawn({"/usr/bin/python3", script.string(), configFile.string()}, true,
                     started.error)) {
    started.unavailable = started.error.find("No module named 'pyftpdlib'") != std::string::npos;
    return started;
  }
  started.server = std::move(server);
  return started;
}

CFtpServer::Started CFtpServer::StartVsftpd(const fs::path& root, int maxPerIp) {
  VsftpdOptions options;
  options.maxPerIp = maxPerIp;
  return StartVsftpd(root, options);
}

CFtpServer::Started CFtpServer::StartVsftpd(const fs::path& root, const VsftpdOptions& options) {
  const int maxPerIp = options.maxPerIp;
  Started started;
  const fs::path binary = "/usr/sbin/vsftpd";
  if (!IsExecutable(binary)) {
    started.unavailable = true;
    started.error = "vsftpd is not installed (Debian package vsftpd)";
    return started;
  }
  std::unique_ptr<CFtpServer> server(new CFtpServer);
  server->kind_ = Kind::kVsftpd;
  if (options.tls != FtpTls::kNone) {
    server->protocol_ =
        options.tls == FtpTls::kImplicit ? SiteProtocol::kFtps : SiteProtocol::kFtpes;
    server->certificate_ = options.certificate;
  }
  server->commandLog_ = server->work_ / "vsftpd.log";
  server->work_.AddDir("empty");
  const fs::path configFile = server->work_ / "vsftpd.conf";
  // Runs as root here: the anonymous user is chrooted into `root`, the
  // session processes drop to the "ftp" account.
  const auto argvFor = [&](std::uint16_t port) -> std::vector<std::string> {
    const std::string config =
        "listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\nlisten_port=" +
        std::to_string(port) +
        "\nbackground=NO\nanonymous_enable=YES\nlocal_enable=NO\nwrite_enable=NO\n"
        "anon_root=" +
        root.string() +
        "\nno_anon_password=YES\nanon_world_readable_only=NO\nallow_writeable_chroot=YES\n"
        "secure_chroot_dir=" +
        (server->work_ / "empty").string() +
        "\nseccomp_sandbox=NO\nforce_dot_files=YES\npasv_enable=YES\nhide_ids=YES\n"
        "xferlog_enable=YES\nxferlog_std_format=NO\nlog_ftp_protocol=YES\n"
        "vsftpd_log_file=" +
        server->commandLog_.string() + "\n" +
        (maxPerIp > 0 ? "max_per_ip=" + std::to_string(maxPerIp) + "\n" : std::string()) +
        VsftpdTlsConfig(options);
    if (!WriteFile(configFile, config)) return {};
    return WithParentDeathSignal({binary.string(), configFile.string()});
  };
  if (!server->SpawnOnFreePort(argvFor, started.error, options.port)) return started;
  started.server = std::move(server);
  return started;
}

CFtpServer::Started CFtpServer::StartPureFtpd(const fs::path& root,
                                              const PureFtpdOptions& options) {
  Started started;
  const fs::path packageRoot = PureFtpdRoot();
  const fs::path binary = packageRoot / "usr/sbin/pure-ftpd";
  const fs::path pw = packageRoot / "usr/bin/pure-pw";
  if (!IsExecutable(binary) || !IsExecutable(pw)) {
    started.unavailable = true;
    started.error = "pure-ftpd not found in " + packageRoot.string() +
                    " (run tests/fixtures/fetch_pure_ftpd.sh)";
    return started;
  }
  std::unique_ptr<CFtpServer> server(new CFtpServer);
  server->kind_ = Kind::kPureFtpd;
  if (!options.certificate.certificate.empty()) {
    server->protocol_ = SiteProtocol::kFtpes;
    server->certificate_ = options.certificate;
  }
  server->user_ = kPureUser;
  server->password_ = kPurePassword;
  // One virtual user chrooted ("/./") into `root`, running as nobody.
  const fs::path passwd = server->work_ / "pureftpd.passwd";
  const fs::path pdb = server->work_ / "pureftpd.pdb";
  if (!WriteFile(passwd, std::string(kPureUser) + ":" + kPureHash +
                             ":65534:65534::" + root.string() + "/./::::::::::::\n")) {
    started.error = "cannot write " + passwd.string();
    return started;
  }
  {
    CFtpServer maker;
    std::string error;
    if (!maker.Spawn({pw.string(), "mkdb", pdb.string(), "-f", passwd.string()}, false, error)) {
      started.error = error;
      return started;
    }
    int status = 0;
    ::waitpid(maker.pid_, &status, 0);
    maker.pid_ = -1;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      started.error = "pure-pw mkdb failed: " + maker.ServerLog();
      return started;
    }
  }
  // -E no anonymous, -D list dot files, -H no reverse lookups, -L lifts the
  // default cut of listings at 10,000 entries.
  const auto argvFor = [&](std::uint16_t port) -> std::vector<std::string> {
    std::vector<std::string> argv = {binary.string(),
                                     "-S",
                                     "127.0.0.1," + std::to_string(port),
                                     "-l",
                                     "puredb:" + pdb.string(),
                                     "-E",
                                     "-D",
                                     "-H"};
    if (!options.defaultListingCut) argv.insert(argv.end(), {"-L", "2000000:128"});
    if (options.maxPerIp > 0) argv.insert(argv.end(), {"-C", std::to_string(options.maxPerIp)});
    if (!options.certificate.certificate.empty()) {
      // -Y 3: TLS required for the login and for every data connection.
      argv.insert(argv.end(), {"-Y", "3", "-2",
                               options.certificate.certificate.string() + "," +
                                   options.certificate.key.string()});
    }
    return WithParentDeathSignal(std::move(argv));
  };
  if (!server->SpawnOnFreePort(argvFor, started.error)) return started;
  started.server = std::move(server);
  return started;
}

CFtpServer::~CFtpServer() {
  if (pid_ <= 0) {
    if (lifeline_ >= 0) ::close(lifeline_);
    return;
  }
  // The server's session processes share its process group.
  ::kill(-pid_, SIGTERM);
  const auto deadline = Clock::now() + 3s;
  int status = 0;
  pid_t reaped = 0;
  while ((reaped = ::waitpid(pid_, &status, WNOHANG)) == 0 && Clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);
  }
  ::kill(-pid_, SIGKILL);
  if (reaped == 0) ::waitpid(pid_, &status, 0);
  if (lifeline_ >= 0) ::close(lifeline_);
}

bool CFtpServer::Spawn(const std::vector<std::string>& argv, bool readPort, std::string& error) {
  int pipe[2] = {-1, -1};
  // The fixture script also exits when its standard input reaches its end,
  // which happens when this process dies without running the destructor.
  int lifeline[2] = {-1, -1};
  if (readPort && (::pipe2(pipe, O_CLOEXEC) != 0 || ::pipe2(lifeline, O_CLOEXEC) != 0)) {
    error = "pipe failed";
    return false;
  }
  const fs::path log = work_ / "server.err";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (readPort) {
    posix_spawn_file_actions_adddup2(&actions, lifeline[0], 0);
    posix_spawn_file_actions_adddup2(&actions, pipe[1], 1);
  } else {
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  }
  posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);

  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) environment.emplace_back(*entry);
  // Names are bytes: keep Python's file system encoding UTF-8 with
  // surrogateescape whatever the locale, and the source tree clean.
  environment.emplace_back("PYTHONUTF8=1");
  environment.emplace_back("PYTHONDONTWRITEBYTECODE=1");
  std::vector<char*> args;
  for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  std::vector<char*> env;
  for (auto& entry : environment) env.push_back(entry.data());
  env.push_back(nullptr);

  const int spawned =
      posix_spawn(&pid_, argv[0].c_str(), &actions, &attributes, args.data(), env.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (readPort) {
    ::close(pipe[1]);
    ::close(lifeline[0]);
    lifeline_ = lifeline[1];
  }
  if (spawned != 0) {
    pid_ = -1;
    if (readPort) ::close(pipe[0]);
    error = "cannot start " + argv[0] + ": " + std::strerror(spawned);
    return false;
  }
  if (!readPort) return true;

  // The script prints the port it bound, then nothing more.
  std::string line;
  const auto deadline = Clock::now() + 60s;
  while (line.find('\n') == std::string::npos && Clock::now() < deadline) {
    pollfd p{pipe[0], POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    char buffer[64];
    const ssize_t n = ::read(pipe[0], buffer, sizeof(buffer));
    if (n <= 0) break;
    line.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(pipe[0]);
  const int port = std::atoi(line.c_str());
  if (port <= 0 || port > 65535) {
    error = argv[1] + " did not report its port: " + ServerLog();
    return false;
  }
  port_ = static_cast<std::uint16_t>(port);
  return true;
}

bool CFtpServer::SpawnOnFreePort(
    const std::function<std::vector<std::string>(std::uint16_t)>& argvFor, std::string& error,
    std::uint16_t port) {
  // Another process may take the port between FreeLoopbackPort and the server's
  // bind; the server then exits at once (vsftpd without a word), and
  // another port is tried. A server that cannot start for another reason
  // fails every attempt just as fast.
  for (int attempt = 0; attempt < 10; ++attempt) {
    port_ = port != 0 ? port : FreeLoopbackPort();
    const std::vector<std::string> argv = argvFor(port_);
    if (argv.empty()) {
      error = "cannot write the server configuration";
      return false;
    }
    std::filesystem::remove(work_ / "server.err");
    if (!Spawn(argv, false, error)) return false;
    if (WaitUntilReady(error)) return true;
    if (pid_ > 0) return false;  // running, but not answering
  }
  return false;
}

bool CFtpServer::WaitUntilReady(std::string& error) {
  const auto deadline = Clock::now() + 60s;
  while (Clock::now() < deadline) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      error = "the server exited at start: " + ServerLog();
      return false;
    }
    if (Greets(host_, port_, protocol_ != SiteProtocol::kFtps)) return true;
    std::this_thread::sleep_for(50ms);
  }
  error = "the server did not answer on port " + std::to_string(port_) + ": " + ServerLog();
  return false;
}

std::string CFtpServer::ServerLog() const { return ReadFile(work_ / "server.err"); }

std::vector<std::string> CFtpServer::Commands() const {
  std::vector<std::string> commands;
  if (commandLog_.empty()) return commands;
  std::istringstream log(ReadFile(commandLog_));
  std::string line;
  while (std::getline(log, line)) {
    if (kind_ == Kind::kVsftpd) {
      // ... [ftp] FTP command: Client "127.0.0.1", "CWD /a"
      if (line.find("FTP command: ") == std::string::npos) continue;
      const std::size_t open = line.find("\", \"");
      if (open == std::string::npos || line.size() < open + 5) continue;
      line = line.substr(open + 4, line.size() - open - 5);
      if (line.starts_with("PASS")) line = "PASS ***";
    }
    commands.push_back(line);
  }
  commands.erase(commands.begin(), commands.begin() + static_cast<std::ptrdiff_t>(std::min(
                                                          commandsSkipped_, commands.size())));
  return commands;
}

void CFtpServer::ClearCommands() { commandsSkipped_ += Commands().size(); }

void CFtpServer::Release() {
  static constexpr char kLine[] = "release\n";
  if (lifeline_ >= 0) {
    [[maybe_unused]] const ssize_t written = ::write(lifeline_, kLine, sizeof(kLine) - 1);
  }
}

}  // namespace orvane::test
