// CSftpSession against OpenSSH's sshd on loopback: a crawl equals the
// served tree, the host key is checked before any login, and the logins.
#include "update/sftp_session.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "catalog/ftp_dir.h"
#include "catalog/ftp_file.h"
#include "catalog/ftp_site.h"
#include "catalog/listing_merge.h"
#include "tests/support/sshd_server.h"
#include "tests/support/temp_tree.h"
#include "tests/support/wait_until.h"
#include "update/crawler.h"
#include "update/known_hosts.h"
#include "update/listing_prefetch.h"
#include "update/status_text.h"

extern char** environ;

namespace orvane {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::CSshdServer;
using test::CTempTree;

constexpr FtpTimeouts kPatient{60000ms, 60000ms, 60000ms};

#define START_SSHD_OR_SKIP(var, ...)                      \
  auto var##Started = CSshdServer::Start(__VA_ARGS__);    \
  if (var##Started.unavailable) {                         \
    GTEST_SKIP() << var##Started.error;                   \
  }                                                       \
  ASSERT_TRUE(var##Started.server) << var##Started.error; \
  CSshdServer& var = *var##Started.server

class DropSink final : public IRemovalSink {
 public:
  void FileRemoved(std::unique_ptr<CFTPFile>) override {}
  void DirRemoved(std::unique_ptr<CFTPDir>) override {}
};

struct Node {
  bool isDirectory;
  std::uint64_t size;
  auto operator<=>(const Node&) const = default;
  friend void PrintTo(const Node& node, std::ostream* out) {
    *out << (node.isDirectory ? "dir" : "file ") << node.size;
  }
};
using Flat = std::map<std::string, Node>;

Flat FlattenCatalog(const CFTPDir& dir) {
  Flat flat;
  const std::string prefix = dir.GetPath() == "/" ? "/" : dir.GetPath() + "/";
  for (const auto& file : dir.files)
    flat[prefix + std::string(file->name())] = {false, file->size.load()};
  for (const auto& sub : dir.subdirs) {
    flat[sub->GetPath() + "/"] = {true, 0};
    flat.merge(FlattenCatalog(*sub));
  }
  return flat;
}

// A link is a file whose size is its target's length, as `ls -l` shows it.
Flat FlattenDisk(const fs::path& root) {
  Flat flat;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
       ++it) {
    const std::string path = "/" + it->path().lexically_relative(root).string();
    if (it->is_symlink()) {
      flat[path] = {false, fs::read_symlink(it->path()).string().size()};
    } else if (it->is_directory()) {
      flat[path + "/"] = {true, 0};
    } else {
      flat[path] = {false, it->file_size()};
    }
  }
  return flat;
}

// A tree with the names that trip parsers up, and links that loop.
void MakeTree(CTempTree& tree) {
  tree.AddFile("a b/f", "x");
  tree.AddFile("  leading blanks", "yy");
  tree.AddFile("trailing blank ", "zzz");
  tree.AddFile("caf\xE9 \x81\xFF", "1234");
  tree.AddFile("pub/x -> y", "5");
  tree.AddFile("pub/deep/er/est", std::string(5000, 'e'));
  for (int i = 0; i < 40; ++i) tree.AddFile("many/file" + std::to_string(i), "m");
  fs::create_directory_symlink("..", tree / "pub/up");
  fs::create_directory_symlink(".", tree / "pub/deep/self");
  fs::create_symlink("missing target", tree / "dangling");
  // Beyond 32 bits, and old enough for `ls -l` to show a year.
  tree.AddSparseFile("pub/big", 5'000'000'123);
  fs::last_write_time(tree / "pub/big",
                      fs::file_time_type::clock::now() - std::chrono::hours(24 * 400));
}

FtpLogin Trusted(const CSshdServer& server, const CTempTree& data) {
  FtpLogin login = server.KeyLogin();
  login.knownHosts = data / "known_hosts";
  std::string error;
  for (const std::string& key : server.PublicHostKeys()) {
    EXPECT_TRUE(AcceptHostKey(login.knownHosts, "127.0.0.1", server.port(), key, error)) << error;
  }
  return login;
}

// Whether sshd's log shows that any login was tried.
bool LoginTried(const std::string& log) {
  for (const char* sign : {"userauth-request", "Accepted", "Failed", "Postponed", "Invalid user"}) {
    if (log.find(sign) != std::string::npos) return true;
  }
  return false;
}

TEST(SftpSession, CrawlEqualsTheServedTree) {
  START_SSHD_OR_SKIP(server);
  CTempTree tree, data;
  MakeTree(tree);
  FtpLogin login = Trusted(server, data);
  login.startDir = tree.path().string();
  for (const int connections : {1, 4}) {
    SCOPED_TRACE(connections);
    CSftpSession session;
    const FtpResult opened = session.Open(login, kPatient);
    ASSERT_TRUE(opened.ok()) << opened.errorText;
    EXPECT_FALSE(session.offersRecursiveListing());
    CFTPSite site;
    std::atomic<bool> stop{false};
    DropSink sink;
    std::unique_ptr<CListingPrefetcher> ahead;
    if (connections > 1) {
      ahead = std::make_unique<CListingPrefetcher>(
          login, kPatient, connections - 1, stop, [](CListingSession&) { return true; },
          [](CListingSession&) {});
    }
    ASSERT_TRUE(CrawlDirectory(session, site, *site.rootDir, stop, sink, {}, ahead.get()));
    EXPECT_EQ(FlattenCatalog(*site.rootDir), FlattenDisk(tree.path()));
  }
}

// Asks for a stop once `listings` directories have been listed through it.
class StoppingSession final : public CListingSession {
 public:
  StoppingSession(CListingSession& inner, std::atomic<bool>& stop, int listings)
      : inner_(inner), stop_(stop), left_(listings) {}
  FtpResult Open(const FtpLogin& login, const FtpTimeouts& timeouts) override {
    return inner_.Open(login, timeouts);
  }
  FtpResult ListDirectory(std::string_view path, const FtpEntrySink& sink) override {
    FtpResult result = inner_.ListDirectory(path, sink);
    if (--left_ == 0) stop_ = true;
    return result;
  }
  FtpResult ListRaw(std::string_view path, std::string_view command,
                    const FtpDataSink& sink) override {
    return inner_.ListRaw(path, command, sink);
  }
  FtpResult PathFacts(std::string_view path, std::string& facts) override {
    return inner_.PathFacts(path, facts);
  }
  FtpResult Probe() override { return inner_.Probe(); }
  void Close() override { inner_.Close(); }
  const std::string& serverFeatures() const override { return inner_.serverFeatures(); }
  bool usesMlsd() const override { return inner_.usesMlsd(); }
  std::uint64_t commandsSent() const override { return inner_.commandsSent(); }
  std::size_t skippedLines() const override { return inner_.skippedLines(); }
  const SkippedNames& skippedNames() const override { return inner_.skippedNames(); }
  bool offersRecursiveListing() const override { return inner_.offersRecursiveListing(); }
  const PeerIdentity& peer() const override { return inner_.peer(); }

 private:
  CListingSession& inner_;
  std::atomic<bool>& stop_;
  int left_;
};

TEST(SftpSession, StoppedCrawlResumes) {
  START_SSHD_OR_SKIP(server);
  CTempTree tree, data;
  MakeTree(tree);
  FtpLogin login = Trusted(server, data);
  login.startDir = tree.path().string();
  CFTPSite site;
  DropSink sink;
  for (const bool stopping : {true, false}) {
    SCOPED_TRACE(stopping);
    CSftpSession inner;
    ASSERT_TRUE(inner.Open(login, kPatient).ok());
    std::atomic<bool> stop{false};
    StoppingSession session(inner, stop, stopping ? 3 : -1);
    const bool crawled = CrawlDirectory(session, site, *site.rootDir, stop, sink);
    EXPECT_EQ(crawled, !stopping) << StatusText(site.Status());
    if (stopping) {
      EXPECT_EQ(StatusText(site.Status()), kStatusStopped);
      EXPECT_NE(site.resumeDir, nullptr);
    }
  }
  EXPECT_EQ(FlattenCatalog(*site.rootDir), FlattenDisk(tree.path()));
}

TEST(SftpSession, ListingOutcomes) {
  START_SSHD_OR_SKIP(server);
  CTempTree tree, data;
  tree.AddFile("file", "f");
  tree.AddFile("  \xE9 -> x ", "f");
  tree.AddDir("closed");
  FtpLogin login = Trusted(server, data);
  login.startDir = tree.path().string() + "/";
  CSftpSession session;
  ASSERT_TRUE(session.Open(login, kPatient).ok());
  struct Case {
    const char* path;
    FtpOutcome outcome;
    bool entered;
  };
  for (const Case& c :
       {Case{"/", FtpOutcome::kOk, true}, Case{"/missing", FtpOutcome::kRefused, false},
        Case{"/file", FtpOutcome::kRefused, false}}) {
    SCOPED_TRACE(c.path);
    std::size_t entries = 0;
    const FtpResult listed = session.ListDirectory(c.path, [&](auto batch) {
      entries += batch.size();
      return true;
    });
    EXPECT_EQ(listed.outcome, c.outcome) << listed.errorText;
    EXPECT_EQ(listed.entered, c.entered);
    if (c.outcome == FtpOutcome::kOk) {
      EXPECT_EQ(entries, 3u);
      EXPECT_EQ(session.skippedLines(), 0u);
    }
  }
  std::string facts = "x";
  EXPECT_FALSE(session.PathFacts("/", facts).ok());
  EXPECT_TRUE(facts.empty());
  EXPECT_TRUE(session.Probe().ok());
}

// The host key decides before any login is tried.
TEST(SftpSession, HostKeyTrust) {
  START_SSHD_OR_SKIP(server);
  enum class Known { kNothing, kAccepted, kEd25519Only, kOtherKey, kHashedUserFile };
  struct Case {
    const char* name;
    Known known;
    FtpOutcome outcome;
  };
  for (const Case& c : {Case{"unknown", Known::kNothing, FtpOutcome::kUntrusted},
                        Case{"accepted", Known::kAccepted, FtpOutcome::kOk},
                        // libssh2 prefers ECDSA: the known type must be asked for.
                        Case{"ed25519 key only", Known::kEd25519Only, FtpOutcome::kOk},
                        Case{"changed", Known::kOtherKey, FtpOutcome::kUntrusted},
                        Case{"user's hashed file", Known::kHashedUserFile, FtpOutcome::kOk}}) {
    SCOPED_TRACE(c.name);
    CTempTree data, home;
    FtpLogin login = server.KeyLogin();
    login.knownHosts = data / "known_hosts";
    std::string error;
    const std::string name = KnownHostsName("127.0.0.1", server.port());
    std::vector<std::string> otherFingerprints;
    switch (c.known) {
      case Known::kNothing:
        break;
      case Known::kAccepted:
        login = Trusted(server, data);
        break;
      case Known::kEd25519Only:
        ASSERT_TRUE(AcceptHostKey(login.knownHosts, "127.0.0.1", server.port(),
                                  server.PublicHostKeys().front(), error));
        break;
      case Known::kOtherKey:
        for (const char* type : {"ed25519", "ecdsa"}) {
          const std::string other = server.OtherKey(type);
          ASSERT_TRUE(AcceptHostKey(login.knownHosts, "127.0.0.1", server.port(), other, error));
          otherFingerprints.push_back(ParseHostKeyText(other)->Fingerprint());
        }
        break;
      case Known::kHashedUserFile: {
        home.AddDir(".ssh");
        std::ofstream out(home / ".ssh/known_hosts");
        for (const std::string& key : server.PublicHostKeys()) out << name << " " << key << "\n";
        out.close();
        ASSERT_EQ(std::system(("ssh-keygen -q -H -f '" + (home / ".ssh/known_hosts").string() +
                               "' >/dev/null 2>&1")
                                  .c_str()),
                  0);
        break;
      }
    }
    const char* oldHome = std::getenv("HOME");
    const std::string savedHome = oldHome != nullptr ? oldHome : "";
    ::setenv("HOME", home.path().c_str(), 1);
    const std::size_t logged = server.Log().size();
    CSftpSession session;
    const FtpResult opened = session.Open(login, kPatient);
    ::setenv("HOME", savedHome.c_str(), 1);
    const std::string log = server.Log().substr(logged);
    EXPECT_EQ(opened.outcome, c.outcome) << opened.errorText;
    const PeerIdentity& peer = session.peer();
    std::vector<std::string> served;
    for (const std::string& key : server.PublicHostKeys()) {
      served.push_back(ParseHostKeyText(key)->Fingerprint());
    }
    EXPECT_NE(std::find(served.begin(), served.end(), peer.fingerprint), served.end());
    if (c.outcome == FtpOutcome::kUntrusted) {
      EXPECT_NE(opened.errorText.find(peer.fingerprint), std::string::npos) << opened.errorText;
      EXPECT_FALSE(peer.problem.empty());
      EXPECT_EQ(ParseHostKeyText(peer.sshKey)->Fingerprint(), peer.fingerprint);
      EXPECT_NE(log.find("Connection from"), std::string::npos) << log;
      EXPECT_FALSE(LoginTried(log)) << log;
    } else {
      EXPECT_TRUE(LoginTried(log)) << log;
    }
    if (c.known == Known::kOtherKey) {
      const bool namesOther = std::any_of(
          otherFingerprints.begin(), otherFingerprints.end(),
          [&](const std::string& f) { return opened.errorText.find(f) != std::string::npos; });
      EXPECT_TRUE(namesOther) << opened.errorText;
      // Accepting the new key replaces the host's old lines.
      ASSERT_TRUE(AcceptHostKey(login.knownHosts, "127.0.0.1", server.port(), peer.sshKey, error));
      std::ifstream in(login.knownHosts);
      const std::string text((std::istreambuf_iterator<char>(in)), {});
      EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
      EXPECT_EQ(KnownHostFingerprints(login.knownHosts, "127.0.0.1", server.port()),
                std::vector<std::string>{peer.fingerprint});
      struct stat status {};
      ASSERT_EQ(::stat(login.knownHosts.c_str(), &status), 0);
      EXPECT_EQ(status.st_mode & 0777, 0600u);
      CSftpSession again;
      EXPECT_TRUE(again.Open(login, kPatient).ok());
    }
  }
}

TEST(SftpSession, Logins) {
  START_SSHD_OR_SKIP(server, CSshdServer::HostKeys::kEd25519AndEcdsa, true);
  CTempTree data;
  const FtpLogin trusted = Trusted(server, data);
  struct Case {
    const char* name;
    std::function<void(FtpLogin&)> change;
    FtpOutcome outcome;
    const char* says = "";
  };
  const std::string passwordUser = server.PasswordLogin().user;
  for (const Case& c : {
           Case{"key with passphrase", [](FtpLogin&) {}, FtpOutcome::kOk},
           Case{"wrong passphrase", [](FtpLogin& l) { l.keyPassphrase = "wrong"; },
                FtpOutcome::kRefused},
           Case{"RSA key file",
                [&](FtpLogin& l) {
                  l.keyFile = server.RsaKeyLogin().keyFile;
                  l.keyPassphrase.clear();
                },
                FtpOutcome::kRefused, "ssh-rsa (SHA-1)"},
           Case{"password",
                [&](FtpLogin& l) {
                  const FtpLogin p = server.PasswordLogin();
                  l.user = p.user;
                  l.password = p.password;
                  l.keyFile.clear();
                  l.keyPassphrase.clear();
                },
                FtpOutcome::kOk},
           Case{"wrong password",
                [&](FtpLogin& l) {
                  l.user = server.PasswordLogin().user;
                  l.password = "wrong";
                  l.keyFile.clear();
                  l.keyPassphrase.clear();
                },
                FtpOutcome::kRefused},
       }) {
    SCOPED_TRACE(c.name);
    FtpLogin login = trusted;
    c.change(login);
    if (login.user.empty()) {
      std::printf("skipping %s: %s\n", c.name, server.passwordError().c_str());
      continue;
    }
    CSftpSession session;
    const FtpResult opened = session.Open(login, kPatient);
    EXPECT_EQ(opened.outcome, c.outcome) << opened.errorText;
    EXPECT_NE(opened.errorText.find(c.says), std::string::npos) << opened.errorText;
  }
}

// An ssh-agent holding `keyFile` (its passphrase taken off a copy),
// stopped by its process id.
class CAgent {
 public:
  CAgent(const CTempTree& dir, const std::string& keyFile) : socket_(dir / "agent.sock") {
    const fs::path copy = dir / "agent_key";
    fs::copy_file(keyFile, copy);
    ::chmod(copy.c_str(), 0600);
    const std::vector<std::string> argv = {"/usr/bin/ssh-agent", "-D", "-a", socket_.string()};
    std::vector<char*> args;
    for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    if (posix_spawn(&pid_, argv[0].c_str(), &actions, nullptr, args.data(), environ) != 0)
      pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ready_ = pid_ > 0 && test::WaitUntil([&] { return fs::exists(socket_); }) &&
             std::system(("ssh-keygen -q -p -P '" + std::string(CSshdServer::kKeyPassphrase) +
                          "' -N '' -f '" + copy.string() + "' >/dev/null 2>&1 && SSH_AUTH_SOCK='" +
                          socket_.string() + "' ssh-add -q '" + copy.string() + "' 2>/dev/null")
                             .c_str()) == 0;
  }
  ~CAgent() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
  bool ready() const { return ready_; }
  const fs::path& socket() const { return socket_; }

 private:
  fs::path socket_;
  pid_t pid_ = -1;
  bool ready_ = false;
};

TEST(SftpSession, AgentLogin) {
  if (::access("/usr/bin/ssh-agent", X_OK) != 0) GTEST_SKIP() << "ssh-agent is not installed";
  START_SSHD_OR_SKIP(server);
  CTempTree data, dir;
  FtpLogin login = Trusted(server, data);
  login.keyFile.clear();
  login.keyPassphrase.clear();
  CAgent agent(dir, server.KeyLogin().keyFile);
  ASSERT_TRUE(agent.ready());
  const char* old = std::getenv("SSH_AUTH_SOCK");
  const std::string saved = old != nullptr ? old : "";
  ::setenv("SSH_AUTH_SOCK", agent.socket().c_str(), 1);
  CSftpSession session;
  const FtpResult opened = session.Open(login, kPatient);
  if (old != nullptr) {
    ::setenv("SSH_AUTH_SOCK", saved.c_str(), 1);
  } else {
    ::unsetenv("SSH_AUTH_SOCK");
  }
  EXPECT_TRUE(opened.ok()) << opened.errorText;
}

TEST(SftpSession, CloseFromAnotherThreadEndsAListing) {
  START_SSHD_OR_SKIP(server);
  CTempTree tree, data;
  for (int i = 0; i < 3000; ++i) tree.AddFile("f" + std::to_string(i));
  FtpLogin login = Trusted(server, data);
  login.startDir = tree.path().string();
  CSftpSession session;
  ASSERT_TRUE(session.Open(login, kPatient).ok());
  std::atomic<bool> closed{false};
  std::thread closer;
  const FtpResult listed = session.ListDirectory("/", [&](auto) {
    if (!closer.joinable()) {
      closer = std::thread([&] {
        session.Close();
        closed = true;
      });
      closer.join();
    }
    return true;
  });
  EXPECT_TRUE(closed);
  EXPECT_EQ(listed.outcome, FtpOutcome::kCancelled) << listed.errorText;
  EXPECT_EQ(session.ListDirectory("/", [](auto) { return true; }).outcome, FtpOutcome::kCancelled);
}

// A server that takes the connection and says nothing: the call waits
// until its time-out, or until Close() from another thread ends it.
TEST(SftpSession, SilentServer) {
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  ASSERT_EQ(::listen(listener, 4), 0);
  ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
  for (const bool close : {false, true}) {
    SCOPED_TRACE(close);
    FtpLogin login;
    login.protocol = SiteProtocol::kSftp;
    login.host = "127.0.0.1";
    login.port = ntohs(address.sin_port);
    login.user = "nobody";
    // Closing must not wait for the time-out.
    const FtpTimeouts timeouts = close ? kPatient : FtpTimeouts{5000ms, 300ms, 300ms};
    CSftpSession session;
    FtpResult opened;
    std::thread owner([&] { opened = session.Open(login, timeouts); });
    const int accepted = ::accept(listener, nullptr, nullptr);
    if (close) session.Close();
    owner.join();
    ::close(accepted);
    EXPECT_EQ(opened.outcome, close ? FtpOutcome::kCancelled : FtpOutcome::kTransient)
        << opened.errorText;
    if (!close) {
      EXPECT_NE(opened.errorText.find("No reply"), std::string::npos) << opened.errorText;
    }
  }
  ::close(listener);
}

TEST(SftpSession, RsaOnlyServerIsExplained) {
  START_SSHD_OR_SKIP(server, CSshdServer::HostKeys::kRsaOnly);
  CSftpSession session;
  const FtpResult opened = session.Open(server.KeyLogin(), kPatient);
  EXPECT_EQ(opened.outcome, FtpOutcome::kRefused) << opened.errorText;
  EXPECT_NE(opened.errorText.find("RSA host key"), std::string::npos) << opened.errorText;
  EXPECT_FALSE(LoginTried(server.Log())) << server.Log();
}

}  // namespace
}  // namespace orvane
