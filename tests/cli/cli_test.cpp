// orvane-cli as a user or a script runs it: the built binary in a temporary
// data directory, against real local FTP servers for the update command.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "catalog/data_dir_lock.h"
#include "catalog/ftp_site.h"
#include "catalog/name_charset.h"
#include "catalog/site_health.h"
#include "document/document_host.h"
#include "document/orvane_doc.h"
#include "document/version.h"
#include "tests/support/closed_port.h"
#include "tests/support/ftp_server.h"
#include "tests/support/sshd_server.h"
#include "tests/support/temp_tree.h"
#include "tests/support/test_certificate.h"
#include "tests/support/wait_until.h"
#include "update/known_hosts.h"

namespace orvane {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Output {
  int status = -1;  // exit status, or 128 + signal
  std::string out;
  std::string err;
};

// A child process with its stdout and stderr on pipes.
class Child {
 public:
  // `env` entries "NAME=value" are added to a copy of this process's
  // environment without ORVANE_HOME.
  // `noFileWrites`: the child cannot write a byte to any file (a file size
  // limit of 0, SIGXFSZ ignored), as on a full disk; this works for root,
  // which a read-only mode would not stop.
  // `input` is written to the child's stdin through a pipe; without it,
  // stdin is /dev/null (never the terminal the tests run from).
  Child(const std::vector<std::string>& argv, const std::vector<std::string>& env = {},
        bool noFileWrites = false, const std::string* input = nullptr) {
    int outPipe[2], errPipe[2], inPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0 ||
        ::pipe2(inPipe, O_CLOEXEC) != 0) {
      return;
    }
    pid_ = ::fork();
    if (pid_ == 0) {
      if (input) {
        ::dup2(inPipe[0], 0);
      } else {
        const int null = ::open("/dev/null", O_RDONLY);
        ::dup2(null, 0);
      }
      ::dup2(outPipe[1], 1);
      ::dup2(errPipe[1], 2);
      ::unsetenv("ORVANE_HOME");
      for (const std::string& entry : env) ::putenv(const_cast<char*>(entry.c_str()));
      if (noFileWrites) {
        const rlimit none{0, 0};
        ::setrlimit(RLIMIT_FSIZE, &none);
        ::signal(SIGXFSZ, SIG_IGN);
      }
      std::vector<char*> args;
      for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
      args.push_back(nullptr);
      ::execv(args[0], args.data());
      ::_exit(127);
    }
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    ::close(inPipe[0]);
    // Small inputs fit the pipe's buffer: written before the child reads.
    if (input && ::write(inPipe[1], input->data(), input->size()) < 0) ADD_FAILURE();
    ::close(inPipe[1]);
    out_ = outPipe[0];
    err_ = errPipe[0];
  }
  ~Child() {
    if (pid_ > 0 && !reaped_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) ::close(out_);
    if (err_ >= 0) ::close(err_);
  }

  // Reads until stdout contains `text`; false at the end of the output or
  // after `limit` (a guard against a hung child, not a timing check).
  bool WaitForOutput(const std::string& text, std::chrono::seconds limit) {
    const auto deadline = Clock::now() + limit;
    while (result_.out.find(text) == std::string::npos) {
      if (Clock::now() > deadline || !ReadSome(200)) return false;
    }
    return true;
  }

  void Signal(int number) { ::kill(pid_, number); }

  Output Finish() {
    while (ReadSome(1000)) {
    }
    int status = 0;
    ::waitpid(pid_, &status, 0);
    reaped_ = true;
    result_.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result_;
  }

 private:
  // False once both pipes have ended.
  bool ReadSome(int timeoutMs) {
    pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
    if (out_ < 0 && err_ < 0) return false;
    if (::poll(fds, 2, timeoutMs) <= 0) return true;
    char buffer[4096];
    int* ends[2] = {&out_, &err_};
    std::string* texts[2] = {&result_.out, &result_.err};
    for (int i = 0; i < 2; ++i) {
      if (*ends[i] < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
      const ssize_t n = ::read(*ends[i], buffer, sizeof buffer);
      if (n > 0) {
        texts[i]->append(buffer, static_cast<std::size_t>(n));
      } else {
        ::close(*ends[i]);
        *ends[i] = -1;
      }
    }
    return out_ >= 0 || err_ >= 0;
  }

  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
  bool reaped_ = false;
  Output result_;
};

std::string CliBinary() {
  const char* bin = std::getenv("ORVANE_TEST_BIN");
  return std::string(bin ? bin : ".") + "/orvane-cli";
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// An argument in a trace, line breaks shown.
std::string Traced(std::string text) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20) c = '~';
  }
  return text;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

mode_t Mode(const fs::path& path) {
  struct stat info {};
  ::stat(path.c_str(), &info);
  return info.st_mode & 07777;
}

class QuietHost : public IDocumentHost {
 public:
  void ReportLoadError(const std::string& text) override { errors.push_back(text); }
  std::vector<std::string> errors;
};

class CliTest : public ::testing::Test {
 protected:
  // Runs orvane-cli with --data-dir and `args`.
  Output Cli(std::vector<std::string> args, const std::vector<std::string>& env = {}) {
    return Start(std::move(args), env)->Finish();
  }
  std::unique_ptr<Child> Start(std::vector<std::string> args,
                               const std::vector<std::string>& env = {}, bool noFileWrites = false,
                               const std::string* input = nullptr) {
    args.insert(args.begin(), {CliBinary(), "--data-dir", dataDir.string()});
    return std::make_unique<Child>(args, env, noFileWrites, input);
  }
  Output CliWithInput(std::vector<std::string> args, const std::string& input) {
    return Start(std::move(args), {}, false, &input)->Finish();
  }
  // Runs orvane-cli with --data-dir and `args` on a terminal and, once it
  // shows `prompt`, types `answer`; `out` is the whole screen.
  Output OnTerminal(std::vector<std::string> args, const std::string& prompt = {},
                    const std::string& answer = {}) {
    args.insert(args.begin(), {CliBinary(), "--data-dir", dataDir.string()});
    int terminal = -1;
    const pid_t pid = ::forkpty(&terminal, nullptr, nullptr, nullptr);
    if (pid < 0) return {};
    if (pid == 0) {
      ::unsetenv("ORVANE_HOME");
      std::vector<char*> argv;
      for (std::string& arg : args) argv.push_back(arg.data());
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    Output result;
    char buffer[4096];
    for (ssize_t n; (prompt.empty() || !Contains(result.out, prompt)) &&
                    (n = ::read(terminal, buffer, sizeof buffer)) > 0;) {
      result.out.append(buffer, n);
    }
    if (!prompt.empty() && ::write(terminal, answer.data(), answer.size()) < 0) ADD_FAILURE();
    for (ssize_t n; (n = ::read(terminal, buffer, sizeof buffer)) > 0;) {
      result.out.append(buffer, n);
    }
    ::close(terminal);
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
  }
  // Python's json module as an independent parser: prints `expression`
  // evaluated on the parsed document `d`.
  std::string Json(const std::string& document, const std::string& expression) {
    const fs::path file = work.path() / "doc.json";
    std::ofstream(file, std::ios::binary | std::ios::trunc) << document;
    Output result = Child({"/usr/bin/python3", "-c",
                           "import json,sys\nd=json.load(open(sys.argv[1],encoding='utf-8'))\n"
                           "print(" +
                               expression + ")",
                           file.string()})
                        .Finish();
    EXPECT_EQ(result.status, 0) << result.err;
    if (!result.out.empty() && result.out.back() == '\n') result.out.pop_back();
    return result.out;
  }

  test::CTempTree work;
  fs::path dataDir = work.path() / "nested" / "data";
};

// ---- Character sets ---------------------------------------------------------

// GBK words whose bytes are also valid two-byte UTF-8 (图片 reads "ͼƬ" as
// UTF-8), one that is not (文档), and the words in UTF-8.
constexpr char kPicturesGbk[] = "\xCD\xBC\xC6\xAC";
constexpr char kSystemGbk[] = "\xCF\xB5\xCD\xB3";
constexpr char kStudyGbk[] = "\xD1\xA7\xCF\xB0";
constexpr char kNovelGbk[] = "\xD0\xA1\xCB\xB5";
constexpr char kCatalogGbk[] = "\xC4\xBF\xC2\xBC";
constexpr char kDocumentGbk[] = "\xCE\xC4\xB5\xB5";

// A crawled catalog shows its names by the site's charset: "auto" decides
// right for a vsftpd tree of GBK (which claims UTF8 and serves the bytes it
// has), a pyftpdlib tree of UTF-8 and a mixed one; an explicit choice shows
// the stored bytes anew at once, and the next update neither adds nor
// removes an entry for it.
TEST_F(CliTest, ServerNamesShowByTheSiteCharset) {
  const std::string gbk = "\xCD\xBC\xC6\xAC";
  test::CTempTree gbkTree;
  gbkTree.AddFile(std::string(kPicturesGbk) + "/1.jpg", "x");
  gbkTree.AddFile(std::string(kSystemGbk) + "/" + kStudyGbk + "/" + kNovelGbk + ".txt", "x");
  gbkTree.AddFile(std::string(kCatalogGbk) + "/" + kDocumentGbk + ".txt", "x");
  test::CTempTree utf8Tree;
  utf8Tree.AddFile("图片/1.jpg", "x");
  utf8Tree.AddFile("系统/学习/小说.txt", "x");
  test::CTempTree mixedTree;
  mixedTree.AddFile(std::string(kPicturesGbk) + "/" + kDocumentGbk + ".txt", "x");
  mixedTree.AddFile("小说.txt", "x");

  auto vsftpd = test::CFtpServer::StartVsftpd(gbkTree.path());
  if (vsftpd.unavailable) GTEST_SKIP() << vsftpd.error;
  ASSERT_TRUE(vsftpd.server) << vsftpd.error;
  test::PyFtpOptions bob;
  bob.user = "bob";
  bob.password = "pw";
  auto utf8Server = test::CFtpServer::StartPyftpdlib(utf8Tree.path(), bob);
  if (utf8Server.unavailable) GTEST_SKIP() << utf8Server.error;
  ASSERT_TRUE(utf8Server.server) << utf8Server.error;
  test::PyFtpOptions eve = bob;
  eve.user = "eve";
  auto mixedServer = test::CFtpServer::StartPyftpdlib(mixedTree.path(), eve);
  ASSERT_TRUE(mixedServer.server) << mixedServer.error;

  ASSERT_EQ(Cli({"add", "127.0.0.1", "--anonymous", "--nickname", "小站", "--port",
                 std::to_string(vsftpd.server->port())})
                .status,
            0);
  for (const auto* server : {utf8Server.server.get(), mixedServer.server.get()}) {
    ASSERT_EQ(Cli({"add", "127.0.0.1", "--user", server->user(), "--password", server->password(),
                   "--port", std::to_string(server->port())})
                  .status,
              0);
  }
  Output update = Cli({"update", "--all"});
  ASSERT_EQ(update.status, 0) << update.out << update.err;

  Output sites = Cli({"--json", "sites"});
  EXPECT_EQ(Json(sites.out, "[(s['key'], s['nickname'], s['charset'], s['charsetDecided']) "
                            "for s in d]"),
            "[('127.0.0.1', '小站', 'auto', 'gbk'), ('127.0.0.1@bob', '', 'auto', 'utf-8'), "
            "('127.0.0.1@eve', '', 'auto', 'gbk')]");
  EXPECT_TRUE(Contains(Cli({"sites"}).out, "\t小站\t")) << Cli({"sites"}).out;

  // The paths `tree` prints, and the expected ones, in byte order.
  const auto sorted = [](std::vector<std::string> paths) {
    std::sort(paths.begin(), paths.end());
    std::string joined;
    for (const std::string& path : paths) joined += path + "\n";
    return joined;
  };
  const auto tree = [this, &sorted](const std::string& key) {
    std::vector<std::string> paths;
    for (const std::string& line : Lines(Cli({"tree", key}).out)) {
      paths.push_back(line.substr(line.rfind('\t') + 1));
    }
    return sorted(paths);
  };
  const std::string gbkRight = sorted(Lines(
      "ftp://127.0.0.1/图片\nftp://127.0.0.1/图片/1.jpg\nftp://127.0.0.1/目录\n"
      "ftp://127.0.0.1/目录/文档.txt\nftp://127.0.0.1/系统\nftp://127.0.0.1/系统/学习\n"
      "ftp://127.0.0.1/系统/学习/小说.txt\n"));
  // The same bytes read as UTF-8; 文档's bytes that are no UTF-8 stay apart.
  const std::string gbkAsUtf8 = sorted(Lines(
      "ftp://127.0.0.1/Ŀ¼\nftp://127.0.0.1/Ŀ¼/\\xceĵ\\xb5.txt\nftp://127.0.0.1/ϵͳ\n"
      "ftp://127.0.0.1/ϵͳ/ѧϰ\nftp://127.0.0.1/ϵͳ/ѧϰ/С˵.txt\nftp://127.0.0.1/ͼƬ\n"
      "ftp://127.0.0.1/ͼƬ/1.jpg\n"));
  const std::string utf8Right = sorted(Lines(
      "ftp://127.0.0.1@bob/图片\nftp://127.0.0.1@bob/图片/1.jpg\nftp://127.0.0.1@bob/系统\n"
      "ftp://127.0.0.1@bob/系统/学习\nftp://127.0.0.1@bob/系统/学习/小说.txt\n"));
  EXPECT_EQ(tree("127.0.0.1"), gbkRight);
  EXPECT_EQ(tree("127.0.0.1@bob"), utf8Right);
  EXPECT_EQ(tree("127.0.0.1@eve"), sorted({"ftp://127.0.0.1@eve/图片",
                                           "ftp://127.0.0.1@eve/图片/文档.txt",
                                           "ftp://127.0.0.1@eve/灏忚\uE1E9.txt"}));
  // A keyword typed in Chinese finds the GBK name and the UTF-8 name.
  EXPECT_EQ(Lines(Cli({"search", "小说"}).out),
            (std::vector<std::string>{"ftp://127.0.0.1/系统/学习/小说.txt",
                                      "ftp://127.0.0.1@bob/系统/学习/小说.txt"}));

  // Shown anew without a crawl: the servers are gone meanwhile.
  vsftpd.server.reset();
  mixedServer.server.reset();
  const struct {
    const char* key;
    const char* charset;
    std::string tree;
  } choices[] = {
      {"127.0.0.1", "utf-8", gbkAsUtf8},
      {"127.0.0.1", "gbk", gbkRight},
      {"127.0.0.1", "auto", gbkRight},
      {"127.0.0.1@bob", "gbk",
       sorted({"ftp://127.0.0.1@bob/鍥剧墖", "ftp://127.0.0.1@bob/鍥剧墖/1.jpg",
               "ftp://127.0.0.1@bob/绯荤粺", "ftp://127.0.0.1@bob/绯荤粺/瀛︿範",
               "ftp://127.0.0.1@bob/绯荤粺/瀛︿範/灏忚\uE1E9.txt"})},
      {"127.0.0.1@bob", "utf-8", utf8Right},
      {"127.0.0.1@eve", "utf-8",
       sorted({"ftp://127.0.0.1@eve/ͼƬ", "ftp://127.0.0.1@eve/ͼƬ/\\xceĵ\\xb5.txt",
               "ftp://127.0.0.1@eve/小说.txt"})},
  };
  for (const auto& choice : choices) {
    Output edit = Cli({"edit", choice.key, "--charset", choice.charset});
    ASSERT_EQ(edit.status, 0) << edit.err;
    EXPECT_EQ(tree(choice.key), choice.tree) << choice.key << " " << choice.charset;
  }
  // Search follows the charsets: bob's UTF-8 names read as GBK hold no 小说.
  ASSERT_EQ(Cli({"edit", "127.0.0.1@bob", "--charset", "gbk"}).status, 0);
  EXPECT_EQ(Lines(Cli({"search", "小说"}).out),
            (std::vector<std::string>{"ftp://127.0.0.1/系统/学习/小说.txt",
                                      "ftp://127.0.0.1@eve/小说.txt"}));
  EXPECT_EQ(Json(Cli({"--json", "tree", "127.0.0.1", std::string(kPicturesGbk)}).out,
                 "[(e['path'], e['rawPath'].encode('utf-8', 'surrogateescape')) for e in d]"),
            "[('ftp://127.0.0.1/图片/1.jpg', b'ftp://127.0.0.1/\\xcd\\xbc\\xc6\\xac/1.jpg')]");
  EXPECT_EQ(Cli({"edit", "127.0.0.1", "--charset", "latin-9"}).status, 2);

  // The next update finds the same entries: nothing added, nothing removed.
  vsftpd = test::CFtpServer::StartVsftpd(gbkTree.path());
  ASSERT_TRUE(vsftpd.server) << vsftpd.error;
  ASSERT_EQ(Cli({"edit", "127.0.0.1", "--port", std::to_string(vsftpd.server->port())}).status,
            0);
  ASSERT_EQ(Cli({"update", "127.0.0.1"}).status, 0);
  EXPECT_EQ(Json(Cli({"--json", "changes", "127.0.0.1"}).out,
                 "[(u['added'], u['removed'], u['resized']) for u in d]"),
            "[(0, 0, 0), (7, 0, 0)]");
  EXPECT_EQ(tree("127.0.0.1"), gbkRight);
}

// ---- Site commands ----------------------------------------------------------

TEST_F(CliTest, ReadingCreatesNothingAndTheFirstChangeMakesAnOwnerOnlyDataDirectory) {
  for (const std::vector<std::string>& command :
       std::vector<std::vector<std::string>>{{"sites"},
                                             {"tree", "h"},
                                             {"search", "x"},
                                             {"new", "--all"},
                                             {"address", "ftp://h/a"},
                                             {"changes"},
                                             {"settings"}}) {
    Output result = Cli(command);
    EXPECT_NE(result.status, 2) << command[0] << ": " << result.err;
    EXPECT_FALSE(fs::exists(work.path() / "nested")) << command[0];
  }
  EXPECT_EQ(Cli({"sites"}).out, "");
  EXPECT_EQ(Json(Cli({"--json", "sites"}).out, "len(d)"), "0");

  ASSERT_EQ(Cli({"add", "h", "--anonymous"}).status, 0);
  ASSERT_EQ(Cli({"delete", "h"}).status, 0);
  EXPECT_EQ(Mode(dataDir), 0700u);
  EXPECT_EQ(Mode(work.path() / "nested"), 0700u);
  EXPECT_EQ(Mode(dataDir / "site.ds"), 0600u);
  EXPECT_EQ(Cli({"sites"}).out, "");
}

TEST_F(CliTest, AddListsAndRejectsDuplicates) {
  Output added = Cli({"add", "ftp.example.org", "--anonymous", "--nickname", "测试站点",
                      "--remarks", "line one\nline\ttwo", "--port", "2121"});
  ASSERT_EQ(added.status, 0) << added.err;
  EXPECT_EQ(added.out, "ftp.example.org\n");
  ASSERT_EQ(Cli({"add", "ftp.example.org", "--user", "bob", "--password", "pw"}).status, 0);

  // Same host and effective user name: a duplicate, whatever the password.
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"add", "ftp.example.org", "--anonymous"},
           {"add", "ftp.example.org", "--user", "bob", "--password", "other"}}) {
    Output duplicate = Cli(args);
    EXPECT_EQ(duplicate.status, 1);
    EXPECT_TRUE(Contains(duplicate.err, "站点已有！")) << duplicate.err;
  }
  // The user name "anonymous" with a real password is another login.
  EXPECT_EQ(Cli({"add", "ftp.example.org", "--user", "anonymous", "--password", "x"}).status, 1);
  EXPECT_EQ(Cli({"add", "ftp.example.org", "--user", "Bob"}).status, 0);

  Output sites = Cli({"sites"});
  ASSERT_EQ(sites.status, 0);
  const std::vector<std::string> lines = Lines(sites.out);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0],
            "ftp.example.org\tftp.example.org\t2121\tanonymous\t测试站点\tline one\\nline\\ttwo");
  EXPECT_EQ(lines[1], "ftp.example.org@bob\tftp.example.org\t21\tuser\t\t");
  EXPECT_EQ(lines[2], "ftp.example.org@Bob\tftp.example.org\t21\tuser\t\t");

  const std::string json = Cli({"sites", "--json"}).out;
  EXPECT_EQ(Json(json, "len(d)"), "3");
  EXPECT_EQ(Json(json, "d[0]['nickname']"), "测试站点");
  EXPECT_EQ(Json(json, "d[0]['remarks']"), "line one\nline\ttwo");
  EXPECT_EQ(Json(json, "d[0]['port'], d[0]['login'], d[1]['login'], d[1]['user']"),
            "2121 anonymous user bob");
  EXPECT_FALSE(Contains(json, "pw")) << "passwords are not shown";

  // Typed text is stored as the desktop program stores it: code page 936.
  QuietHost host;
  COrvaneDoc doc(dataDir, host);
  doc.OnNewDocument();
  ASSERT_EQ(doc.sites().size(), 3u);
  EXPECT_EQ(doc.sites()[0]->nickname, "\xb2\xe2\xca\xd4\xd5\xbe\xb5\xe3");
  EXPECT_EQ(doc.sites()[0]->password, kAnonymousPassword);
  EXPECT_EQ(doc.sites()[1]->password, "pw");
}

// Protocol, start directory and key file through add, edit and sites
// --json; the same host and user with another protocol is the same site.
TEST_F(CliTest, SitesKeepProtocolStartDirectoryAndKeyFile) {
  const fs::path key = work.path() / "id_ed25519";
  std::ofstream(key) << "key";
  Output added = Start({"add", "h.example", "--user", "bob", "--password", "pp", "--protocol",
                        "sftp", "--start-dir", "//home//bob/", "--key-file", key.string()})
                     ->Finish();
  ASSERT_EQ(added.status, 0) << added.err;
  Output duplicate =
      Cli({"add", "h.example", "--user", "bob", "--password", "x", "--protocol", "ftps"});
  EXPECT_EQ(duplicate.status, 1);
  EXPECT_TRUE(Contains(duplicate.err, "站点已有！")) << duplicate.err;
  const auto site = [this](const std::string& expression) {
    return Json(Cli({"sites", "--json"}).out, expression);
  };
  EXPECT_EQ(site("d[0]['protocol'], d[0]['port'], d[0]['startDir'], d[0]['fingerprint']"),
            "sftp 22 /home/bob None");
  EXPECT_EQ(site("d[0]['keyFile']"), key.string());

  for (const auto& args : std::vector<std::vector<std::string>>{
           {"add", "i.example", "--anonymous", "--protocol", "scp"},
           {"add", "i.example", "--anonymous", "--start-dir", "pub"},
           {"add", "i.example", "--anonymous", "--start-dir", "/pub/../etc"},
           {"add", "i.example", "--anonymous", "--protocol", "sftp", "--key-file",
            (work.path() / "missing").string()},
           {"add", "i.example", "--anonymous", "--protocol", "ftps", "--key-file", key.string()},
           {"edit", "h.example@bob", "--protocol", "FTP"}}) {
    Output refused = Cli(args);
    EXPECT_EQ(refused.status, 2) << Traced(args.back()) << refused.err;
  }

  // A port left at the protocol's default follows it; an accepted key
  // stays with its server and goes with a new one.
  {
    QuietHost host;
    COrvaneDoc doc(dataDir, host);
    doc.OnNewDocument();
    SiteSettings settings = SiteSettings::Of(*doc.sites()[0]);
    settings.access.pin = "SHA256:47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU";
    ASSERT_EQ(doc.EditSite(*doc.sites()[0], settings), SiteChange::kSaved);
  }
  ASSERT_EQ(Cli({"edit", "h.example@bob", "--nickname", "n"}).status, 0);
  EXPECT_EQ(site("d[0]['fingerprint'][:7], d[0]['keyFile'] is None, d[0]['port']"),
            "SHA256: False 22");
  ASSERT_EQ(Cli({"edit", "h.example@bob", "--protocol", "ftps"}).status, 0);
  EXPECT_EQ(site("d[0]['protocol'], d[0]['port'], d[0]['fingerprint'], d[0]['keyFile']"),
            "ftps 990 None None");
  ASSERT_EQ(Cli({"edit", "h.example@bob", "--protocol", "ftpes", "--start-dir", "/"}).status, 0);
  EXPECT_EQ(site("d[0]['port'], d[0]['startDir']"), "21 /");
  // sites.opt holds what site.ds cannot; site.ds is what it always was.
  std::ifstream options(dataDir / "sites.opt", std::ios::binary);
  EXPECT_TRUE(Contains({std::istreambuf_iterator<char>(options), {}}, "protocol=ftpes\n"));
}

// trust needs a protected site and a server; it never waits for an answer
// that cannot come.
TEST_F(CliTest, TrustRefusesWhatItCannotAsk) {
  test::CClosedPort closed;
  ASSERT_NE(closed.port(), 0);
  ASSERT_EQ(
      Cli({"add", "127.0.0.1", "--anonymous", "--port", std::to_string(closed.port())}).status, 0);
  EXPECT_EQ(Cli({"trust", "127.0.0.1"}).status, 2);
  EXPECT_EQ(Cli({"trust", "nowhere.example"}).status, 1);
  EXPECT_EQ(Cli({"trust", "127.0.0.1", "--fingerprint", "SHA256:x"}).status, 2);
  ASSERT_EQ(Cli({"edit", "127.0.0.1", "--protocol", "ftps"}).status, 0);
  Output unreachable = Cli({"--json", "trust", "127.0.0.1", "--yes"});
  EXPECT_EQ(unreachable.status, 4) << unreachable.err;
  EXPECT_TRUE(Contains(Json(unreachable.out, "d['error']"), "127.0.0.1")) << unreachable.out;
  EXPECT_EQ(Json(Cli({"sites", "--json"}).out, "d[0]['fingerprint']"), "None");
}

TEST_F(CliTest, BadCommandLinesExitWithTwo) {
  for (const auto& args :
       std::vector<std::vector<std::string>>{{"frobnicate"},
                                             {"sites", "--keys", "x"},
                                             {"sites", "--key"},
                                             {"add", "h"},
                                             {"add", "h", "--anonymous", "--user", "u"},
                                             {"add", "h", "--anonymous", "--port", "-1"},
                                             {"add", "h", "--anonymous", "--port", "0"},
                                             {"add", "h", "--anonymous", "--port", "65536"},
                                             {"add", "", "--anonymous"},
                                             {"add", "a b", "--anonymous"},
                                             {"add", "a/b", "--anonymous"},
                                             {"add", "u@h", "--anonymous"},
                                             {"add", "a\tb", "--anonymous"},
                                             {"add", "a\x7f", "--anonymous"},
                                             {"add", "h", "--anonymous", "--colour", "red"},
                                             {"tree"},
                                             {"update", "--threads", "0"},
                                             {"update", "--threads", "501"},
                                             {"update", "--connections", "0"},
                                             {"update", "--connections", "17"},
                                             {"update", "--all", "key"},
                                             {"settings", "journal-updates"},
                                             {"settings", "journal-updates", "0"},
                                             {"settings", "journal-megabytes", "4097"},
                                             {"settings", "journal-megabytes", "-1"},
                                             {"settings", "colour", "1"}}) {
    Output result = Cli(args);
    EXPECT_EQ(result.status, 2) << args[0] << " " << (args.size() > 1 ? args[1] : "");
    EXPECT_FALSE(result.err.empty());
  }
  EXPECT_EQ(Child({CliBinary()}).Finish().status, 2);
  for (const char* ask : {"--help", "help"}) {
    Output help = Child({CliBinary(), ask}).Finish();
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(Contains(help.out, "host@user")) << help.out;
    EXPECT_TRUE(Contains(help.out, "  3    partial")) << help.out;
  }
  Output version = Child({CliBinary(), "--version"}).Finish();
  EXPECT_EQ(version.status, 0);
  // The window's version too: one number, from the build.
  EXPECT_EQ(version.out, "orvane-cli " + std::string(orvane::kOrvaneVersion) + "\n");
}

// A password read from a pipe loses its line end and nothing else; the rest
// of the input is left alone.
TEST_F(CliTest, PasswordStdinTakesOneLine) {
  Output added =
      CliWithInput({"add", "h", "--user", "bob", "--password-stdin"}, "p a:ss\r\nrest\n");
  ASSERT_EQ(added.status, 0) << added.err;
  EXPECT_EQ(added.out, "h@bob\n");
  ASSERT_EQ(Cli({"add", "g", "--anonymous"}).status, 0);
  Output edited = CliWithInput({"edit", "g", "--user", "eve", "--password-stdin"}, "second");
  ASSERT_EQ(edited.status, 0) << edited.err;
  // No input at all, or two sources, is a usage error.
  EXPECT_EQ(CliWithInput({"edit", "h@bob", "--password-stdin"}, "").status, 2);
  EXPECT_EQ(CliWithInput({"edit", "h@bob", "--password", "x", "--password-stdin"}, "y\n").status,
            2);
  EXPECT_EQ(CliWithInput({"add", "k", "--anonymous", "--password-stdin"}, "y\n").status, 2);

  QuietHost host;
  COrvaneDoc doc(dataDir, host);
  doc.OnNewDocument();
  ASSERT_EQ(doc.sites().size(), 2u);
  EXPECT_EQ(doc.sites()[0]->password, "p a:ss");
  EXPECT_EQ(doc.sites()[1]->siteKey(), "g@eve");
  EXPECT_EQ(doc.sites()[1]->password, "second");
}

TEST_F(CliTest, EditMovesTheDataDirectoryWithTheKey) {
  ASSERT_EQ(Cli({"add", "h.example", "--user", "bob", "--password", "pw"}).status, 0);
  fs::create_directories(dataDir / "Data" / "h.example@bob");
  std::ofstream(dataDir / "Data" / "h.example@bob" / "content.ct") << "";

  // Only the nickname: key and directory stay.
  Output nick = Cli({"edit", "h.example@bob", "--nickname", "mine"});
  ASSERT_EQ(nick.status, 0) << nick.err;
  EXPECT_EQ(nick.out, "h.example@bob\n");
  EXPECT_TRUE(fs::exists(dataDir / "Data" / "h.example@bob" / "content.ct"));

  Output user = Cli({"edit", "h.example@bob", "--user", "carol"});
  ASSERT_EQ(user.status, 0) << user.err;
  EXPECT_EQ(user.out, "h.example@carol\n");
  EXPECT_FALSE(fs::exists(dataDir / "Data" / "h.example@bob"));
  EXPECT_TRUE(fs::exists(dataDir / "Data" / "h.example@carol" / "content.ct"));

  Output anonymous = Cli({"edit", "h.example@carol", "--anonymous", "--port", "21000"});
  ASSERT_EQ(anonymous.status, 0) << anonymous.err;
  EXPECT_EQ(anonymous.out, "h.example\n");
  EXPECT_TRUE(fs::exists(dataDir / "Data" / "h.example" / "content.ct"));
  EXPECT_EQ(Lines(Cli({"sites"}).out),
            std::vector<std::string>{"h.example\th.example\t21000\tanonymous\tmine\t"});

  // Never onto another catalog.
  fs::create_directories(dataDir / "Data" / "h.example@dan");
  std::ofstream(dataDir / "Data" / "h.example@dan" / "content.ct") << "x";
  Output taken = Cli({"edit", "h.example", "--user", "dan", "--password", "pw"});
  EXPECT_EQ(taken.status, 4);
  EXPECT_NE(taken.err.find("h.example@dan"), std::string::npos) << taken.err;
  EXPECT_TRUE(fs::exists(dataDir / "Data" / "h.example" / "content.ct"));
  EXPECT_EQ(Lines(Cli({"sites"}).out)[0].substr(0, 10), "h.example\t");

  EXPECT_EQ(Cli({"edit", "nobody"}).status, 1);
  EXPECT_EQ(Cli({"edit", "h.example", "--password", "x"}).status, 2);
}

TEST_F(CliTest, DeleteRemovesTheSiteAndItsFiles) {
  ASSERT_EQ(Cli({"add", "a.example", "--anonymous"}).status, 0);
  ASSERT_EQ(Cli({"add", "b.example", "--anonymous"}).status, 0);
  fs::create_directories(dataDir / "Data" / "a.example");
  std::ofstream(dataDir / "Data" / "a.example" / "state.st") << "";

  Output unknown = Cli({"delete", "c.example"});
  EXPECT_EQ(unknown.status, 1);
  EXPECT_EQ(Lines(Cli({"sites"}).out).size(), 2u);

  EXPECT_EQ(Cli({"delete", "a.example"}).status, 0);
  EXPECT_FALSE(fs::exists(dataDir / "Data" / "a.example"));
  const std::vector<std::string> lines = Lines(Cli({"sites"}).out);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].substr(0, 10), "b.example\t");
}

// What a delete and a key change do with data directories that are not
// what they seem: a link in a site's place, a Data that cannot be
// examined, an earlier change that is not finished.
TEST_F(CliTest, SiteChangesAroundOddDataDirectories) {
  ASSERT_EQ(Cli({"add", "a.example", "--anonymous"}).status, 0);
  ASSERT_EQ(Cli({"add", "b.example", "--user", "bob", "--password", "pw"}).status, 0);
  // A link in a's place: the delete removes the link, not what it leads to.
  const fs::path elsewhere = work.path() / "elsewhere";
  fs::create_directories(elsewhere);
  std::ofstream(elsewhere / "content.ct") << "not the site's";
  fs::create_directories(dataDir / "Data");
  fs::create_directory_symlink(elsewhere, dataDir / "Data" / "a.example");
  EXPECT_EQ(Cli({"delete", "a.example"}).status, 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(dataDir / "Data" / "a.example")));
  EXPECT_TRUE(fs::exists(elsewhere / "content.ct"));

  // An earlier key change whose record cannot be settled (site.ds lists
  // both keys, so nothing tells how far it got): a delete refuses rather
  // than write its own record over it.
  ASSERT_EQ(Cli({"add", "c.example", "--anonymous"}).status, 0);
  const fs::path record = dataDir / "site-change.pending";
  const auto field = [](const std::string& text) { return static_cast<char>(text.size()) + text; };
  const std::string pending = field("rename") + field("b.example@bob") + field("c.example");
  std::ofstream(record, std::ios::binary) << pending;
  Output refused = Cli({"delete", "c.example"});
  EXPECT_EQ(refused.status, 4) << refused.err;
  EXPECT_TRUE(Contains(refused.err, "an earlier site change is not finished")) << refused.err;
  std::ifstream in(record, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), pending);
  EXPECT_EQ(Lines(Cli({"sites"}).out).size(), 2u);
  fs::remove(record);

  // A Data that cannot be examined (a link to itself) fails the key
  // change with its reason; the process does not abort.
  fs::rename(dataDir / "Data", dataDir / "Data.real");
  fs::create_directory_symlink("Data", dataDir / "Data");
  Output edit = Cli({"edit", "b.example@bob", "--user", "carol"});
  EXPECT_EQ(edit.status, 4) << edit.err;
  EXPECT_TRUE(Contains(edit.err, "Too many levels of symbolic links")) << edit.err;
  fs::remove(dataDir / "Data");
  fs::rename(dataDir / "Data.real", dataDir / "Data");
  EXPECT_EQ(Cli({"edit", "b.example@bob", "--user", "carol"}).status, 0);
  EXPECT_TRUE(Contains(Cli({"sites"}).out, "b.example@carol"));
}

TEST_F(CliTest, DataDirectoryComesFromOrvaneHomeWithoutTheOption) {
  const fs::path home = work.path() / "home";
  Output added =
      Child({CliBinary(), "add", "h", "--anonymous"}, {"ORVANE_HOME=" + home.string()}).Finish();
  ASSERT_EQ(added.status, 0) << added.err;
  EXPECT_TRUE(fs::exists(home / "site.ds"));
  EXPECT_GT(fs::file_size(home / "site.ds"), 0u);
}

TEST_F(CliTest, DamagedSiteListIsReportedOnceAndTheGoodSitesStay) {
  ASSERT_EQ(Cli({"add", "a.example", "--anonymous"}).status, 0);
  ASSERT_EQ(Cli({"add", "b.example", "--anonymous"}).status, 0);
  std::string bytes;
  {
    std::ifstream in(dataDir / "site.ds", std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  bytes[0] = 3;  // a third record that is not there
  std::ofstream(dataDir / "site.ds", std::ios::binary | std::ios::trunc) << bytes;
  Output result = Cli({"sites"});
  EXPECT_EQ(result.status, 4);
  EXPECT_EQ(Lines(result.out).size(), 2u);
  EXPECT_TRUE(result.err.starts_with("An attempt was made to access " +
                                     (dataDir / "site.ds").string() + " past its end.\n"))
      << result.err;
  // A change would drop what could not be read: the file is left alone.
  Output add = Cli({"add", "c.example", "--anonymous"});
  EXPECT_EQ(add.status, 4);
  EXPECT_TRUE(Contains(add.err, "nothing was done")) << add.err;
  std::ifstream in(dataDir / "site.ds", std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), bytes);
}

// Every failure a command can meet in its data: a non-zero exit with a
// message that says what went wrong, in plain and --json output alike (one
// JSON document with the error).
TEST_F(CliTest, FailuresAreNeverSuccess) {
  const auto write = [](const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  };
  const auto addSites = [this] {
    ASSERT_EQ(Cli({"add", "a.example", "--anonymous"}).status, 0);
    ASSERT_EQ(Cli({"add", "b.example", "--anonymous"}).status, 0);
  };
  const auto damageSiteList = [&] {
    addSites();
    std::ifstream in(dataDir / "site.ds", std::ios::binary);
    std::string bytes(std::istreambuf_iterator<char>(in), {});
    bytes[0] = 3;  // a third record that is not there
    write(dataDir / "site.ds", bytes);
  };
  const auto fifoSiteList = [&] {
    fs::create_directories(dataDir);
    ASSERT_EQ(::mkfifo((dataDir / "site.ds").c_str(), 0600), 0);
  };
  // A directory cannot be read as a file, even by root.
  const auto unreadableSiteList = [&] { fs::create_directories(dataDir / "site.ds"); };
  const auto dataDirIsAFile = [&] { write(dataDir, "x"); };
  const auto junkCatalog = [&] {
    addSites();
    write(dataDir / "Data" / "a.example" / "content.ct", "not a catalog at all");
  };
  const std::string damaged = "could not be read completely";
  const std::string notADirectory = "is not a directory";
  struct Row {
    const char* name;
    std::function<void()> setup;
    std::vector<std::string> args;
    int status;
    std::string message;  // empty: nothing on stderr is asked for
  };
  const std::vector<Row> rows = {
      {"damaged list: sites", damageSiteList, {"sites"}, 4, damaged},
      {"damaged list: update --all", damageSiteList, {"update", "--all"}, 4, damaged},
      {"damaged list: mark-read --all", damageSiteList, {"mark-read", "--all"}, 4, damaged},
      {"damaged list: new --all", damageSiteList, {"new", "--all"}, 4, damaged},
      {"FIFO list: sites", fifoSiteList, {"sites"}, 4, damaged},
      {"FIFO list: update --all", fifoSiteList, {"update", "--all"}, 4, damaged},
      {"unreadable list: sites", unreadableSiteList, {"sites"}, 4, damaged},
      {"unreadable list: mark-read --all", unreadableSiteList, {"mark-read", "--all"}, 4, damaged},
      {"data dir a file: sites", dataDirIsAFile, {"sites"}, 4, notADirectory},
      {"data dir a file: update --all", dataDirIsAFile, {"update", "--all"}, 4, notADirectory},
      {"data dir a file: mark-read", dataDirIsAFile, {"mark-read", "--all"}, 4, notADirectory},
      {"new data dir: sites", [] {}, {"sites"}, 0, ""},
      {"new data dir: update --all", [] {}, {"update", "--all"}, 0, ""},
      {"junk catalog: tree", junkCatalog, {"tree", "a.example"}, 4, "could not be read in full"},
      {"address of no entry",
       addSites,
       {"address", "ftp://a.example/no/such"},
       1,
       "no such entry /no/such"},
  };
  for (const Row& row : rows) {
    for (const bool json : {false, true}) {
      SCOPED_TRACE(std::string(row.name) + (json ? " --json" : ""));
      fs::remove_all(work.path() / "nested");
      row.setup();
      std::vector<std::string> args = row.args;
      if (json) args.insert(args.begin(), "--json");
      const Output result = Cli(args);
      EXPECT_EQ(result.status, row.status) << result.out << result.err;
      EXPECT_TRUE(Contains(result.err, row.message)) << result.err;
      if (json && row.status != 0) {
        EXPECT_TRUE(Contains(Json(result.out, "d['error']"), row.message)) << result.out;
      } else if (json) {
        EXPECT_EQ(Json(result.out, "type(d).__name__ in ('list', 'dict')"), "True") << result.out;
      }
    }
  }
  // An empty --data-dir is no directory, not the program's own.
  const Output empty = Child({CliBinary(), "--data-dir", "", "sites"}).Finish();
  EXPECT_EQ(empty.status, 2);
  EXPECT_TRUE(Contains(empty.err, "--data-dir needs a directory")) << empty.err;
  // Help is a document too.
  EXPECT_TRUE(Contains(Json(Child({CliBinary(), "--json", "help"}).Finish().out, "d['help']"),
                       "host@user"));
}

// Values that would end an FTP command early are refused in every field
// that reaches the server, and in the keys that name files; characters
// site.ds cannot store are named, never turned into "?".
TEST_F(CliTest, HostileFieldsAreRefused) {
  struct Row {
    std::vector<std::string> args;
    std::string input;  // for --password-stdin
    std::string message;
  };
  const std::string lineBreak = "line break (CR or LF) or a NUL byte";
  const std::vector<Row> rows = {
      {{"add", "h.example", "--user", "orvane\r\nHELP INJECTED", "--password", "x"}, "", lineBreak},
      {{"add", "p.example", "--user", "bob", "--password", "pw\nDELE x"}, "", lineBreak},
      {{"add", "nul.example", "--user", "bob", "--password-stdin"},
       std::string("a\0b\n", 4),
       "NUL byte"},
      {{"add", "long.example", "--user", "bob", "--password-stdin"},
       std::string(70000, 'p') + "\n",
       "longer than 64 KiB"},
      {{"add", "key.example", "--user", std::string(250, 'u'), "--password", "x"}, "", "too long"},
      {{"add", "h\xF0\x9F\x98\x80", "--anonymous"}, "", "GBK): \xF0\x9F\x98\x80"},
      {{"add", "nick.example", "--anonymous", "--nickname", "x\xF0\x9F\x98\x80"},
       "",
       "the nickname holds characters"},
      {{"add", "1.2.3", "--anonymous"}, "", "a host is a host name"},
      {{"add", "E:", "--anonymous"}, "", "a host is a host name"},
      {{"edit", "g.example@bob", "--user", "eve\rPASS x"}, "", lineBreak},
      {{"edit", "g.example@bob", "--password", "a\r\nb"}, "", lineBreak},
      {{"edit", "g.example@bob", "--host", "g\nh"}, "", lineBreak},
      {{"edit", "g.example@bob", "--remarks", "\xF0\x9F\x98\x80"}, "", "GBK"},
  };
  ASSERT_EQ(Cli({"add", "g.example", "--user", "bob", "--password", "pw"}).status, 0);
  std::string before;
  {
    std::ifstream in(dataDir / "site.ds", std::ios::binary);
    before.assign(std::istreambuf_iterator<char>(in), {});
  }
  for (const Row& row : rows) {
    SCOPED_TRACE(row.args[0] + " " + Traced(row.args[1]));
    const Output result = row.input.empty() ? Cli(row.args) : CliWithInput(row.args, row.input);
    EXPECT_EQ(result.status, 2) << result.err;
    EXPECT_TRUE(Contains(result.err, row.message)) << result.err;
  }
  std::ifstream in(dataDir / "site.ds", std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), before);
  // The brackets of an IPv6 address in a URL are not part of the host.
  EXPECT_EQ(Cli({"add", "[::1]", "--anonymous"}).out, "::1\n");
}

// One table of typed fields through import, add and edit: each reads back
// as it was typed (stored as GBK, whatever the bytes also read as), a
// site imported is the site add then finds, and what add refuses import
// skips.
TEST_F(CliTest, TypedFieldsReadBackAsTypedThroughImportAddAndEdit) {
  struct Row {
    std::string host;
    std::string user;
    std::string password;
    std::string nickname;
    bool storable;
  };
  const Row rows[] = {
      {"例.example", "小站用户", "密码:a@b", "小站", true},
      {"files.example", "bob", "p w%/", "图片 系统 学习 小说 目录", true},
      {"h.example", "Сергей", "пароль", "αβγ Привет", true},
      {"e.example", "u\xF0\x9F\x98\x80", "x", "", false},
      {"t.example", "a\tb", "x", "", false},
  };
  const auto percent = [](const std::string& text) {
    std::string out;
    for (const unsigned char c : text) {
      char escape[4];
      std::snprintf(escape, sizeof escape, "%%%02X", c);
      out += std::isalnum(c) ? std::string(1, static_cast<char>(c)) : std::string(escape);
    }
    return out;
  };
  const fs::path list = work.path() / "list.txt";
  {
    std::ofstream file(list, std::ios::binary);
    for (const Row& row : rows) {
      // A TAB is skipped as it is written, not only as %09.
      const std::string user = row.user.find('\t') != std::string::npos ? row.user
                                                                           : percent(row.user);
      file << "ftp://" << user << ":" << percent(row.password) << "@" << row.host << "\n";
    }
  }
  Output imported = Cli({"--json", "import", list.string()});
  ASSERT_EQ(imported.status, 0) << imported.err;
  EXPECT_EQ(Json(imported.out, "(len(d['added']), d['skipped'])"), "(3, 2)");
  const auto readBack = [this] {
    QuietHost host;
    COrvaneDoc doc(dataDir, host);
    doc.OnNewDocument(false);
    std::map<std::string, std::vector<std::string>> fields;
    for (const auto& site : doc.sites()) {
      fields[DecodeSiteText(site->host)] = {DecodeSiteText(site->userName),
                                            DecodeSiteText(site->password),
                                            DecodeSiteText(site->nickname)};
    }
    return fields;
  };
  auto fields = readBack();
  for (const Row& row : rows) {
    if (!row.storable) {
      EXPECT_EQ(fields.count(row.host), 0u) << row.host;
      continue;
    }
    EXPECT_EQ(fields[row.host], (std::vector<std::string>{row.user, row.password, ""}));
    // The imported site is the one add finds: its key is stored the same.
    Output again = Cli({"add", row.host, "--user", row.user, "--password", "other"});
    EXPECT_EQ(again.status, 1) << row.host << again.err;
    EXPECT_TRUE(Contains(again.err, "站点已有！")) << again.err;
  }
  for (const Row& row : rows) {
    if (!row.storable) {
      EXPECT_EQ(Cli({"add", "x" + row.host, "--user", row.user, "--password", "p"}).status,
                row.user.find('\t') != std::string::npos ? 0 : 2)
          << row.host;
      continue;
    }
    const std::string key = row.host + "@" + row.user;
    ASSERT_EQ(Cli({"delete", key}).status, 0) << key;
    Output added = Cli({"add", row.host, "--user", row.user, "--password", row.password,
                        "--nickname", row.nickname});
    ASSERT_EQ(added.status, 0) << added.err;
    EXPECT_EQ(added.out, key + "\n");
    ASSERT_EQ(Cli({"edit", key, "--remarks", row.nickname}).status, 0);
    fields = readBack();
    EXPECT_EQ(fields[row.host], (std::vector<std::string>{row.user, row.password, row.nickname}));
    EXPECT_EQ(Json(Cli({"--json", "sites"}).out,
                   "[s['remarks'] for s in d if s['key'] == '" + key + "'] == ['" +
                       row.nickname + "']"),
              "True");
  }
  // A character the user typed that GBK lacks is refused; one nobody typed
  // never is (the fields above came back as their own characters).
  EXPECT_EQ(Cli({"edit", "例.example@小站用户", "--nickname", "Сվ"}).status, 2);
  EXPECT_EQ(Cli({"edit", "例.example@小站用户", "--remarks", "ok"}).status, 0);
}

// ---- Update and tree against a real server ----------------------------------

class CliUpdateTest : public CliTest {
 protected:
  void SetUp() override {
    served.AddFile("pub/readme.txt", "hello");
    served.AddSparseFile("pub/big/image.iso", 5'000'000'000ULL);
    served.AddFile("pub/big/notes", "1234567");
    served.AddFile("docs/\xce\xc4\xb5\xb5.txt", "x");  // 文档.txt in code page 936
    served.AddFile("top.bin", "abc");
  }
  void StartServer(const test::PyFtpOptions& options = {}) {
    auto started = test::CFtpServer::StartPyftpdlib(served.path(), options);
    if (started.unavailable) GTEST_SKIP() << started.error;
    ASSERT_TRUE(started.server) << started.error;
    server = std::move(started.server);
  }
  void AddSite(const std::string& host = "127.0.0.1") {
    Output added = Cli({"add", host, "--anonymous", "--port", std::to_string(server->port())});
    ASSERT_EQ(added.status, 0) << added.err;
  }

  test::CTempTree served;
  std::unique_ptr<test::CFtpServer> server;
};

TEST_F(CliUpdateTest, UpdateAllBringsTheTreeIntoTheCatalog) {
  StartServer();
  AddSite();
  Output update = Cli({"update", "--all"});
  ASSERT_EQ(update.status, 0) << update.out << update.err;
  const std::vector<std::string> lines = Lines(update.out);
  EXPECT_EQ(lines.front(), "127.0.0.1: 正在等待更新...");
  EXPECT_TRUE(Contains(update.out, "127.0.0.1: 已连接,正在更新...\n"));
  EXPECT_EQ(lines[lines.size() - 2], "127.0.0.1: 更新成功");
  EXPECT_EQ(lines.back(), "更新完成");

  Output tree = Cli({"tree", "127.0.0.1"});
  ASSERT_EQ(tree.status, 0) << tree.err;
  std::vector<std::string> entries = Lines(tree.out);
  std::sort(entries.begin(), entries.end());
  EXPECT_EQ(entries, (std::vector<std::string>{
                         "*\t1\tftp://127.0.0.1/docs/文档.txt",
                         "*\t3\tftp://127.0.0.1/top.bin",
                         "*\t5\tftp://127.0.0.1/pub/readme.txt",
                         "*\t5000000000\tftp://127.0.0.1/pub/big/image.iso",
                         "*\t7\tftp://127.0.0.1/pub/big/notes",
                         "*\t<DIR>\tftp://127.0.0.1/docs",
                         "*\t<DIR>\tftp://127.0.0.1/pub",
                         "*\t<DIR>\tftp://127.0.0.1/pub/big",
                     }));

  // A subdirectory, typed as it is shown, and as JSON.
  Output sub = Cli({"--json", "tree", "127.0.0.1", "/pub/big/"});
  ASSERT_EQ(sub.status, 0) << sub.err;
  EXPECT_EQ(Json(sub.out, "sorted((e['path'], e['type'], e.get('size'), e['new']) for e in d)"),
            "[('ftp://127.0.0.1/pub/big/image.iso', 'file', 5000000000, True), "
            "('ftp://127.0.0.1/pub/big/notes', 'file', 7, True)]");
  EXPECT_EQ(Cli({"tree", "127.0.0.1", "docs"}).out, "*\t1\tftp://127.0.0.1/docs/文档.txt\n");
  EXPECT_EQ(Cli({"tree", "127.0.0.1", "nowhere"}).status, 1);
  EXPECT_EQ(Cli({"tree", "nosite"}).status, 1);

  // The stored name is the server's bytes.
  QuietHost host;
  COrvaneDoc doc(dataDir, host);
  doc.OnNewDocument();
  ASSERT_EQ(doc.sites().size(), 1u);
  doc.EnsureCatalogLoaded(*doc.sites()[0]);
  bool found = false;
  for (const auto& dir : doc.sites()[0]->rootDir->subdirs) {
    for (const auto& file : dir->files) found |= file->name() == "\xce\xc4\xb5\xb5.txt";
  }
  EXPECT_TRUE(found);
}

TEST_F(CliUpdateTest, SitesShowsTheHealthOfEachSiteAndAFailureKeepsTheLastSuccess) {
  StartServer();
  AddSite();
  const std::string fields =
      "[(s['lastUpdate'] is not None, s['durationMs'] is not None, s['entries'], s['bytes'], "
      "s['newEntries'], s['lastErrorKind'], s['lastError'] is None) for s in d]";
  EXPECT_EQ(Json(Cli({"--json", "sites"}).out, fields),
            "[(False, False, None, None, None, None, True)]");

  ASSERT_EQ(Cli({"update"}).status, 0);
  const std::string first = Cli({"--json", "sites"}).out;
  EXPECT_EQ(Json(first, fields), "[(True, True, 8, 5000000016, 8, None, True)]");

  // The server goes away: the error is recorded, the last success stays.
  server.reset();
  EXPECT_NE(Cli({"update"}).status, 0);
  const std::string second = Cli({"--json", "sites"}).out;
  EXPECT_EQ(Json(second,
                 "(d[0]['lastUpdate'], d[0]['entries'], d[0]['lastErrorKind'], "
                 "d[0]['lastErrorTime'] >= d[0]['lastUpdate'], len(d[0]['lastError']) > 0)"),
            "(" + Json(first, "repr(d[0]['lastUpdate'])") + ", 8, 'refused', True, True)");

  // A record that is not one reads as nothing known.
  std::ofstream(dataDir / "Data" / "127.0.0.1" / "health.txt", std::ios::trunc) << "\xff\x00junk";
  const Output garbage = Cli({"--json", "sites"});
  EXPECT_EQ(garbage.status, 0) << garbage.err;
  EXPECT_EQ(Json(garbage.out, fields), "[(False, False, None, None, None, None, True)]");
}

TEST_F(CliUpdateTest, SecondUpdateFollowsTheServerAndUpdatingADirectoryStaysInside) {
  StartServer();
  AddSite();
  ASSERT_EQ(Cli({"update"}).status, 0);

  served.Remove("pub/big");
  served.AddFile("pub/fresh.txt", "12");
  served.AddFile("docs/later.txt", "1");
  Output partial = Cli({"update", "127.0.0.1", "pub"});
  ASSERT_EQ(partial.status, 0) << partial.out << partial.err;
  std::string tree = Cli({"tree", "127.0.0.1"}).out;
  EXPECT_TRUE(Contains(tree, "\tftp://127.0.0.1/pub/fresh.txt\n"));
  EXPECT_FALSE(Contains(tree, "pub/big"));
  // docs was not crawled.
  EXPECT_FALSE(Contains(tree, "later.txt"));

  Output json = Cli({"--json", "update", "--all"});
  ASSERT_EQ(json.status, 0) << json.err;
  EXPECT_EQ(Json(json.out,
                 "[(s['key'], s['status'], s['updateState'], s['dirsNotEntered'], "
                 "s['listingsIncomplete'], s['namesSkipped']) for s in d['sites']]"),
            "[('127.0.0.1', '更新成功', 2, 0, 0, 0)]");
  EXPECT_FALSE(Contains(json.err, "not fetched"));
  // Progress and status lines went to stderr.
  EXPECT_TRUE(Contains(json.err, "更新完成"));
  tree = Cli({"tree", "127.0.0.1"}).out;
  EXPECT_TRUE(Contains(tree, "\tftp://127.0.0.1/docs/later.txt\n"));
}

TEST_F(CliUpdateTest, UpdateReportsWhatItCouldNotFetch) {
  test::PyFtpOptions options;
  for (const auto command : {test::FtpFault::Command::kCwd, test::FtpFault::Command::kList}) {
    options.faults.push_back(
        {command, "/docs", test::FtpFault::Action::kReply, "550 Permission denied."});
  }
  StartServer(options);
  AddSite();
  Output update = Cli({"update"});
  ASSERT_EQ(update.status, 3) << update.out << update.err;
  const std::vector<std::string> lines = Lines(update.out);
  EXPECT_THAT(lines, ::testing::Contains("127.0.0.1: 更新成功"));
  EXPECT_THAT(lines, ::testing::Contains("127.0.0.1: not fetched: 1 directory not entered, "
                                         "0 listings incomplete, 0 names skipped"));

  Output json = Cli({"--json", "update"});
  ASSERT_EQ(json.status, 3) << json.err;
  EXPECT_EQ(Json(json.out,
                 "[(s['status'], s['dirsNotEntered'], s['listingsIncomplete'], "
                 "s['namesSkipped']) for s in d['sites']]"),
            "[('更新成功', 1, 0, 0)]");
}

TEST_F(CliUpdateTest, CatalogReadOnlyInPartIsReplacedOnlyByAWholeUpdate) {
  test::PyFtpOptions options;
  for (const auto command : {test::FtpFault::Command::kCwd, test::FtpFault::Command::kList}) {
    options.faults.push_back(
        {command, "/docs", test::FtpFault::Action::kReply, "550 Permission denied.", 0, 0, 2});
  }
  StartServer(options);
  AddSite();
  ASSERT_EQ(Cli({"update"}).status, 3);
  const fs::path content = dataDir / "Data" / "127.0.0.1" / "content.ct";
  const auto read = [&content] {
    std::ifstream in(content, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  const std::string cut = read().substr(0, read().size() - 3);
  std::ofstream(content, std::ios::binary | std::ios::trunc) << cut;

  // /docs is still refused: the update cannot stand for the part not read,
  // and says so.
  const Output partial = Cli({"update"});
  ASSERT_EQ(partial.status, 3);
  EXPECT_TRUE(Contains(partial.err, "did not list the whole site to replace it")) << partial.err;
  EXPECT_EQ(read(), cut);
  // Every directory listed again: the catalog is whole and is saved.
  ASSERT_EQ(Cli({"update"}).status, 0);
  EXPECT_NE(read(), cut);
  EXPECT_TRUE(Contains(Cli({"tree", "127.0.0.1"}).out, "ftp://127.0.0.1/docs/"));
  EXPECT_TRUE(Contains(Cli({"tree", "127.0.0.1"}).out, "ftp://127.0.0.1/top.bin"));
}

// The last line of defence: a login with a line break that reached site.ds
// some other way is never sent.
TEST_F(CliUpdateTest, LoginWithALineBreakNeverReachesTheServer) {
  StartServer();
  fs::create_directories(dataDir);
  {
    QuietHost host;
    COrvaneDoc doc(dataDir, host);
    doc.OnNewDocument();
    auto site = std::make_shared<CFTPSite>();
    site->host = "127.0.0.1";
    site->port = server->port();
    site->userName = "orvane\r\nHELP INJECTED";
    site->password = "pw\r\nHELP AGAIN";
    doc.AppendSite(site);
    ASSERT_TRUE(doc.SaveSiteList());
  }
  const Output result = Cli({"update", "--all"});
  EXPECT_EQ(result.status, 4) << result.out << result.err;
  EXPECT_TRUE(Contains(result.out, "line break")) << result.out;
  for (const std::string& command : server->Commands()) {
    EXPECT_FALSE(Contains(command, "HELP")) << command;
  }
}

TEST_F(CliUpdateTest, FailedConnectionIsPartialAndEverySiteFailedIsFour) {
  StartServer();
  AddSite();
  const test::CClosedPort closed;
  ASSERT_NE(closed.port(), 0);
  Output added = Cli({"add", "localhost", "--anonymous", "--port", std::to_string(closed.port())});
  ASSERT_EQ(added.status, 0);
  Output update = Cli({"update", "--all", "--threads", "2", "--connections", "8"});
  EXPECT_EQ(update.status, 3);
  EXPECT_TRUE(Contains(update.out, "127.0.0.1: 更新成功\n")) << update.out;
  EXPECT_TRUE(Contains(update.out, "localhost: 更新失败: ")) << update.out;
  EXPECT_FALSE(Contains(update.out, "localhost: 更新成功"));
  EXPECT_EQ(Lines(update.out).back(), "更新完成");
  EXPECT_EQ(Cli({"update", "localhost"}).status, 4);
}

TEST_F(CliUpdateTest, InterruptStopsRunningAndQueuedSitesAndKeepsWhatWasMerged) {
  for (int i = 0; i < 40; ++i) served.AddFile("many/d" + std::to_string(i) + "/f", "x");
  test::PyFtpOptions options;
  options.replyDelayMs = 50;
  StartServer(options);
  AddSite("127.0.0.1");
  AddSite("localhost");

  Child child({CliBinary(), "--data-dir", dataDir.string(), "update", "--threads", "1"});
  ASSERT_TRUE(child.WaitForOutput("127.0.0.1: 已连接,正在更新...\n", std::chrono::seconds(60)));
  // Interrupt once the crawl has listed something, so there is a merge to
  // keep.
  ASSERT_TRUE(test::WaitUntil([&] {
    for (const std::string& command : server->Commands()) {
      if (command.rfind("MLSD", 0) == 0 || command.rfind("LIST", 0) == 0) return true;
    }
    return false;
  }));
  child.Signal(SIGINT);
  Output result = child.Finish();
  EXPECT_EQ(result.status, 3) << result.out << result.err;
  EXPECT_TRUE(Contains(result.out, "127.0.0.1: 更新终止！\n")) << result.out;
  EXPECT_TRUE(Contains(result.out, "localhost: 更新终止!\n")) << result.out;
  EXPECT_FALSE(Contains(result.out, "更新成功"));
  EXPECT_TRUE(Contains(result.out, "\n更新0/2\n")) << result.out;
  EXPECT_FALSE(Contains(result.out, "更新完成"));
  // The running site's merges were saved; the queued one never started.
  EXPECT_TRUE(fs::exists(dataDir / "Data" / "127.0.0.1" / "content.ct"));
  EXPECT_FALSE(fs::exists(dataDir / "Data" / "localhost"));
}

// A name from a server reaches a terminal with its control bytes escaped,
// one entry per line, in every listing.
TEST_F(CliUpdateTest, ControlBytesInNamesAreEscapedInPlainOutput) {
  served.AddFile("a\x1b[2J\tb\x7f\\c", "x");
  StartServer();
  AddSite();
  ASSERT_EQ(Cli({"update"}).status, 0);
  const std::string shown = "ftp://127.0.0.1/a\\x1b[2J\\tb\\x7f\\\\c";
  for (const std::vector<std::string>& command : std::vector<std::vector<std::string>>{
           {"tree", "127.0.0.1"}, {"search", "2j"}, {"new", "--all"}}) {
    Output result = Cli(command);
    EXPECT_EQ(result.status, 0) << command[0] << ": " << result.err;
    EXPECT_THAT(Lines(result.out), ::testing::Contains(::testing::EndsWith(shown))) << result.out;
    EXPECT_FALSE(Contains(result.out, "\x1b")) << command[0];
  }
  EXPECT_EQ(Json(Cli({"--json", "search", "2j"}).out,
                 "d[0]['path'] == 'ftp://127.0.0.1/a\\x1b[2J\\tb\\x7f\\\\c'"),
            "True");
  // Bytes that decode to nothing print each as itself, so two names never
  // print alike; a C1 control (an 8-bit CSI to some terminals) is written
  // out as the window writes format characters.
  served.AddFile("\xFF\xFE.bin", "x");
  served.AddFile("\xFE\xFF.bin", "x");
  served.AddFile("c1\xC2\x9B" "31m", "x");
  ASSERT_EQ(Cli({"update"}).status, 0);
  ASSERT_EQ(Cli({"edit", "127.0.0.1", "--charset", "utf-8"}).status, 0);
  const std::vector<std::string> lines = Lines(Cli({"tree", "127.0.0.1"}).out);
  for (const char* path : {"ftp://127.0.0.1/\\xff\\xfe.bin", "ftp://127.0.0.1/\\xfe\\xff.bin",
                           "ftp://127.0.0.1/c1<U+009B>31m"}) {
    EXPECT_THAT(lines, ::testing::Contains(::testing::EndsWith(path))) << path;
  }
}

// A right-to-left override cannot make an executable look like a text
// file in plain output; JSON keeps the name exact.
TEST_F(CliUpdateTest, FormatCharactersInNamesAreShownInPlainOutput) {
  served.AddFile("rtl\xE2\x80\xAEtxt.exe", "x");
  StartServer();
  AddSite();
  ASSERT_EQ(Cli({"update"}).status, 0);
  Output result = Cli({"tree", "127.0.0.1"});
  EXPECT_THAT(Lines(result.out),
              ::testing::Contains(::testing::EndsWith("ftp://127.0.0.1/rtl<U+202E>txt.exe")))
      << result.out;
  EXPECT_FALSE(Contains(result.out, "\xE2\x80\xAE"));
  EXPECT_EQ(Json(Cli({"--json", "search", "rtl"}).out,
                 "d[0]['path'] == 'ftp://127.0.0.1/rtl\\u202etxt.exe'"),
            "True");
}

// With --json every command, its errors included, writes exactly one JSON
// document on stdout, and keeps its exit status.
TEST_F(CliUpdateTest, EveryCommandWritesOneJsonDocument) {
  StartServer();
  AddSite();
  const fs::path list = work.path() / "list.txt";
  std::ofstream(list) << "ftp://i.example\nhttp://web.example\n";
  const struct {
    std::vector<std::string> args;
    int status;
    std::string check;  // Python, on the parsed document d
  } cases[] = {
      {{"add", "h.example", "--anonymous"}, 0, "d == {'key': 'h.example'}"},
      {{"add", "h.example", "--anonymous"}, 1, "d == {'error': '站点已有！'}"},
      {{"add", "x", "--anonymous", "--port", "0"}, 2, "'--port' in d['error']"},
      {{"frobnicate"}, 2, "'unknown command' in d['error']"},
      {{"edit", "h.example", "--user", "u", "--password", "p"},
       0,
       "d == {'key': 'h.example@u', 'previousKey': 'h.example'}"},
      {{"edit", "nobody"}, 1, "'no site' in d['error']"},
      {{"sites"}, 0, "[s['key'] for s in d] == ['127.0.0.1', 'h.example@u']"},
      {{"update", "127.0.0.1"},
       0,
       "d['completed'] and [s['outcome'] for s in d['sites']] == ['succeeded']"},
      {{"tree", "127.0.0.1", "docs"},
       0,
       "d[0]['path'] == 'ftp://127.0.0.1/docs/文档.txt' and "
       "d[0]['rawPath'].encode('utf-8', 'surrogateescape') == "
       "b'ftp://127.0.0.1/docs/\\xce\\xc4\\xb5\\xb5.txt'"},
      {{"tree", "nobody"}, 1, "'no site' in d['error']"},
      {{"search", "README"}, 0, "[e['path'] for e in d] == ['ftp://127.0.0.1/pub/readme.txt']"},
      {{"search", "no such name"}, 1, "d == []"},
      {{"new"}, 1, "d == []"},
      {{"mark-read", "127.0.0.1", "pub"}, 0, "d == {'markedRead': 'ftp://127.0.0.1/pub'}"},
      {{"import", list.string()},
       0,
       "d == {'added': ['i.example'], 'alreadyThere': 0, 'skipped': 1, 'skippedLines': [2]}"},
      {{"import", (work.path() / "missing").string()}, 1, "d == {'error': '无法打开所选文件！'}"},
      {{"address", "ftp://127.0.0.1/top.bin"},
       0,
       "d == {'address': 'ftp://127.0.0.1:" + std::to_string(server->port()) + "/top.bin'}"},
      {{"delete", "h.example@u"}, 0, "d == {'deleted': 'h.example@u'}"},
      {{"--version"}, 0, "d['version'] != ''"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.begin(), "--json");
    const Output result = Cli(args);
    EXPECT_EQ(result.status, c.status) << c.args[0] << ": " << result.err;
    EXPECT_EQ(Json(result.out, c.check), "True") << c.args[0] << ": " << result.out;
  }
}

// The journal holds exactly what changed on the server between updates;
// a damaged tail leaves the catalog readable and is cut by the next update.
TEST_F(CliUpdateTest, ChangesListsWhatEachUpdateChanged) {
  StartServer();
  AddSite();
  Output first = Cli({"--json", "update"});
  ASSERT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(Json(first.out, "[(s['added'], s['removed'], s['resized']) for s in d['sites']]"),
            "[(8, 0, 0)]");

  served.AddFile("pub/fresh.txt", "12");
  served.Remove("pub/readme.txt");
  served.AddFile("top.bin", "abcdef");
  served.AddFile("new/inner.txt", "x");
  served.Remove("pub/big");
  Output second = Cli({"--json", "update"});
  ASSERT_EQ(second.status, 0) << second.err;
  EXPECT_EQ(Json(second.out, "[(s['added'], s['removed'], s['resized']) for s in d['sites']]"),
            "[(3, 2, 1)]");

  Output changes = Cli({"--json", "changes", "127.0.0.1"});
  ASSERT_EQ(changes.status, 0) << changes.err;
  EXPECT_EQ(Json(changes.out,
                 "[(u['outcome'], u['firstUpdate'], u['added'], u['removed'], u['resized'], "
                 "sorted((e['kind'], e['path'], e['directory'], e['size'], e.get('oldSize'), "
                 "e.get('below')) for e in u['entries'])) for u in d]"),
            "[('succeeded', False, 3, 2, 1, ["
            "('added', '/new', True, 0, None, None), "
            "('added', '/new/inner.txt', False, 1, None, None), "
            "('added', '/pub/fresh.txt', False, 2, None, None), "
            "('removed', '/pub/big', True, 0, None, 2), "
            "('removed', '/pub/readme.txt', False, 5, None, None), "
            "('resized', '/top.bin', False, 6, 3, None)]), "
            "('succeeded', True, 8, 0, 0, [])]");
  // Plain lines, filtered by kind and time.
  Output removed = Cli({"changes", "--kind", "removed,resized", "--since", "1h"});
  ASSERT_EQ(removed.status, 0) << removed.err;
  const std::vector<std::string> lines = Lines(removed.out);
  ASSERT_EQ(lines.size(), 5u) << removed.out;
  EXPECT_TRUE(Contains(lines[0], "\t127.0.0.1\tsucceeded\t+3 -2 ~1")) << lines[0];
  EXPECT_TRUE(Contains(removed.out, "-\t<DIR>\t/pub/big\t(2 below)\n"));
  EXPECT_TRUE(Contains(removed.out, "~\t3->6\t/top.bin\n"));
  EXPECT_FALSE(Contains(removed.out, "fresh.txt"));
  EXPECT_TRUE(Contains(lines[4], "first update"));
  EXPECT_EQ(Cli({"changes", "--since", "2100-01-01"}).status, 1);
  EXPECT_EQ(Cli({"changes", "--kind", "renamed"}).status, 2);
  EXPECT_EQ(Cli({"changes", "--since", "yesterday"}).status, 2);

  const fs::path journal = dataDir / "Data" / "127.0.0.1" / "changes.jn";
  const auto size = fs::file_size(journal);
  std::ofstream(journal, std::ios::binary | std::ios::app) << "torn tail";
  EXPECT_EQ(Cli({"tree", "127.0.0.1", "new"}).out, "*\t1\tftp://127.0.0.1/new/inner.txt\n");
  Output damaged = Cli({"changes"});
  EXPECT_EQ(damaged.status, 0);
  EXPECT_TRUE(Contains(damaged.err, "damaged tail"));
  served.Remove("new");
  ASSERT_EQ(Cli({"update"}).status, 0);
  Output after = Cli({"--json", "changes"});
  EXPECT_TRUE(after.err.empty()) << after.err;
  EXPECT_EQ(Json(after.out, "[(u['removed'], len(u['entries'])) for u in d]"),
            "[(1, 1), (2, 6), (0, 0)]");
  EXPECT_GT(fs::file_size(journal), size);

  // A name that is not UTF-8 is shown decoded, its bytes kept in rawPath.
  served.AddFile("\xC4\xE3\xBA\xC3.txt", "1");
  ASSERT_EQ(Cli({"update"}).status, 0);
  EXPECT_EQ(Json(Cli({"--json", "changes"}).out,
                 "[(e['path'], e['rawPath'].encode('utf-8', 'surrogateescape')) "
                 "for e in d[0]['entries']]"),
            "[('/\xE4\xBD\xA0\xE5\xA5\xBD.txt', b'/\\xc4\\xe3\\xba\\xc3.txt')]");
}

// update --new lists what this run marked new, not what earlier runs left
// unread.
TEST_F(CliUpdateTest, UpdateNewListsWhatThisRunAdded) {
  StartServer();
  AddSite();
  ASSERT_EQ(Cli({"update"}).status, 0);
  served.AddFile("extra/x", "1");
  served.AddFile("pub/fresh.txt", "12");
  Output plain = Cli({"update", "--new", "--quiet"});
  ASSERT_EQ(plain.status, 0) << plain.err;
  std::vector<std::string> lines = Lines(plain.out);
  std::sort(lines.begin(), lines.end());
  EXPECT_EQ(lines, (std::vector<std::string>{"ftp://127.0.0.1/extra", "ftp://127.0.0.1/extra/x",
                                             "ftp://127.0.0.1/pub/fresh.txt"}));
  EXPECT_EQ(plain.err, "");

  served.AddFile("docs/later.txt", "1");
  Output json = Cli({"--json", "update", "--new"});
  ASSERT_EQ(json.status, 0) << json.err;
  EXPECT_EQ(Json(json.out, "[(e['path'], e['type'], e['size'], e['new']) for e in d['new']]"),
            "[('ftp://127.0.0.1/docs/later.txt', 'file', 1, True)]");
  EXPECT_TRUE(Contains(json.err, "1 new entry")) << json.err;
}

// --quiet: nothing on success; on trouble only the sites that did not
// succeed, on stderr.
TEST_F(CliUpdateTest, QuietPrintsOnlyWhatWentWrong) {
  StartServer();
  AddSite();
  Output quiet = Cli({"update", "--quiet"});
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.out + quiet.err, "");

  const test::CClosedPort closed;
  ASSERT_NE(closed.port(), 0);
  ASSERT_EQ(
      Cli({"add", "localhost", "--anonymous", "--port", std::to_string(closed.port())}).status, 0);
  quiet = Cli({"update", "--quiet"});
  EXPECT_EQ(quiet.status, 3);
  EXPECT_EQ(quiet.out, "");
  const std::vector<std::string> errors = Lines(quiet.err);
  ASSERT_EQ(errors.size(), 1u) << quiet.err;
  EXPECT_TRUE(errors[0].starts_with("localhost: 更新失败: ")) << errors[0];
}

// On a terminal the running site's line counts what was listed and is
// redrawn in place; the final status stays as a line of its own.
TEST_F(CliUpdateTest, TerminalShowsALiveLinePerRunningSite) {
  for (int i = 0; i < 40; ++i) served.AddFile("many/d" + std::to_string(i) + "/f", "x");
  test::PyFtpOptions options;
  options.replyDelayMs = 20;
  StartServer(options);
  AddSite();
  const Output run = OnTerminal({"update"});
  const std::string& screen = run.out;
  EXPECT_EQ(run.status, 0) << screen;
  EXPECT_TRUE(Contains(screen, "127.0.0.1: 已连接,正在更新...  ")) << screen;
  EXPECT_TRUE(Contains(screen, " directories, ")) << screen;
  EXPECT_TRUE(Contains(screen, "\x1b[J")) << screen;
  EXPECT_TRUE(Contains(screen, "127.0.0.1: 更新成功\r\n")) << screen;
}

// ---- Several processes on one data directory --------------------------------

// Processes waiting for the lock file at `path` (flock requests that
// /proc/locks lists as blocked).
int WaitersFor(const fs::path& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return 0;
  const std::string inode = ":" + std::to_string(info.st_ino) + " ";
  std::ifstream locks("/proc/locks");
  int waiters = 0;
  for (std::string line; std::getline(locks, line);) {
    if (Contains(line, "->") && Contains(line, inode)) ++waiters;
  }
  return waiters;
}

class SharedDataDirTest : public CliUpdateTest {
 protected:
  // A server whose listing of /zz is held until Release(), and a first
  // update without /zz, after which every entry is new.
  void SetUpUpdatedSite() {
    test::PyFtpOptions options;
    test::FtpFault hold;
    hold.command = test::FtpFault::Command::kList;
    hold.path = "/zz";
    hold.action = test::FtpFault::Action::kStall;
    hold.seconds = test::FtpFault::kUntilReleased;
    options.faults.push_back(hold);
    StartServer(options);
    if (!server) return;
    AddSite();
    ASSERT_EQ(Cli({"update"}).status, 0);
    served.AddFile("zz/late.txt", "z");
    served.AddFile("pub/added.txt", "a");
  }
  // An update that has loaded the catalog and is held in its crawl.
  std::unique_ptr<Child> StartHeldUpdate() {
    auto update = Start({"update", "127.0.0.1"});
    EXPECT_TRUE(test::WaitUntil([&] {
      for (const std::string& command : server->Commands()) {
        if (Contains(command, "zz")) return true;
      }
      return false;
    }));
    return update;
  }
  // Path -> "*" (new) or " " from `tree`.
  std::map<std::string, std::string> Marks() {
    std::map<std::string, std::string> marks;
    for (const std::string& line : Lines(Cli({"tree", "127.0.0.1"}).out)) {
      marks[line.substr(line.rfind('\t') + 1)] = line.substr(0, 1);
    }
    return marks;
  }
  fs::path SiteDir() const { return dataDir / "Data" / "127.0.0.1"; }
};

// Marks cleared while an update runs stay cleared when it saves, and so do
// marks cleared on an old view of the catalog that an update replaced.
TEST_F(SharedDataDirTest, UpdateAndMarkReadKeepBothChangesInEitherOrder) {
  SetUpUpdatedSite();
  if (!server) return;
  {
    auto update = StartHeldUpdate();
    ASSERT_EQ(Cli({"mark-read", "127.0.0.1", "pub"}).status, 0);
    server->Release();
    ASSERT_EQ(update->Finish().status, 0);
  }
  std::map<std::string, std::string> marks = Marks();
  EXPECT_EQ(marks["ftp://127.0.0.1/pub/readme.txt"], " ");
  EXPECT_EQ(marks["ftp://127.0.0.1/pub/big/notes"], " ");
  EXPECT_EQ(marks["ftp://127.0.0.1/pub/added.txt"], "*");
  EXPECT_EQ(marks["ftp://127.0.0.1/zz/late.txt"], "*");
  EXPECT_EQ(marks["ftp://127.0.0.1/top.bin"], "*");

  // This process reads the catalog, another updates it, then this one
  // clears marks on its old view and saves.
  served.AddFile("docs/second.txt", "s");
  QuietHost host;
  COrvaneDoc doc(dataDir, host);
  doc.OnNewDocument();
  ASSERT_EQ(doc.sites().size(), 1u);
  CFTPSite& site = *doc.sites()[0];
  doc.EnsureCatalogLoaded(site);
  ASSERT_EQ(Cli({"update"}).status, 0);
  for (const auto& dir : site.rootDir->subdirs) {
    if (dir->name() == "docs" || dir->name() == "zz") doc.SetTreeNodeRead(dir.get());
  }
  EXPECT_TRUE(doc.OnCloseDocument().empty());
  marks = Marks();
  EXPECT_EQ(marks["ftp://127.0.0.1/docs/文档.txt"], " ");
  EXPECT_EQ(marks["ftp://127.0.0.1/zz/late.txt"], " ");
  EXPECT_EQ(marks["ftp://127.0.0.1/docs/second.txt"], "*");  // not in the old view
  EXPECT_EQ(marks["ftp://127.0.0.1/pub/readme.txt"], " ");
  EXPECT_EQ(marks["ftp://127.0.0.1/top.bin"], "*");
}

TEST_F(SharedDataDirTest, SecondUpdaterOfASiteSkipsItAndWritesNothing) {
  SetUpUpdatedSite();
  if (!server) return;
  auto first = StartHeldUpdate();
  const FileIdentity before = FileIdentity::Of(SiteDir() / "content.ct");
  Output second = Cli({"update", "127.0.0.1"});
  EXPECT_EQ(second.status, 3) << "skipped, as a partial run";
  EXPECT_TRUE(Contains(second.out, "127.0.0.1: skipped: being updated by another process\n"))
      << second.out;
  Output json = Cli({"--json", "update", "127.0.0.1"});
  EXPECT_EQ(json.status, 3);
  EXPECT_EQ(Json(json.out, "d['sites'][0]['outcome']"), "skipped") << json.out;
  EXPECT_EQ(FileIdentity::Of(SiteDir() / "content.ct"), before);
  server->Release();
  ASSERT_EQ(first->Finish().status, 0);
  EXPECT_TRUE(Marks().count("ftp://127.0.0.1/zz/late.txt"));
}

// Another process gave the site a new key while it was being updated: what
// the update found is not saved, and it says so.
TEST_F(SharedDataDirTest, UpdateWhoseSiteGotANewKeyMeanwhileIsNoSuccess) {
  SetUpUpdatedSite();
  if (!server) return;
  auto update = StartHeldUpdate();
  ASSERT_EQ(Cli({"edit", "127.0.0.1", "--user", "bob", "--password", "pw"}).status, 0);
  server->Release();
  const Output result = update->Finish();
  EXPECT_EQ(result.status, 4) << result.out << result.err;
  EXPECT_TRUE(Contains(result.err, "given a new key by another process")) << result.err;
  EXPECT_FALSE(Contains(Cli({"tree", "127.0.0.1@bob"}).out, "late.txt"));
}

TEST_F(SharedDataDirTest, SiteDeletedDuringAnUpdateStaysDeleted) {
  SetUpUpdatedSite();
  if (!server) return;
  auto update = StartHeldUpdate();
  ASSERT_EQ(Cli({"delete", "127.0.0.1"}).status, 0);
  EXPECT_FALSE(fs::exists(SiteDir()));
  server->Release();
  update->Finish();
  EXPECT_FALSE(fs::exists(SiteDir() / "content.ct"));
  EXPECT_FALSE(fs::exists(SiteDir() / "state.st"));
  EXPECT_EQ(Cli({"sites"}).out, "");
}

// Both wait for the site-list lock that this test holds, both having read
// the same site.ds; whichever writes second takes the first one's change.
TEST_F(CliTest, AddAndImportAtOnceKeepEverySite) {
  ASSERT_EQ(Cli({"add", "first.example", "--anonymous"}).status, 0);
  const fs::path list = work.path() / "list.txt";
  std::ofstream(list) << "ftp://imported.example\nftp://u:p@other.example:2121\n";
  std::unique_ptr<Child> add, import;
  {
    CDataDirLock held = CDataDirLock::Acquire(dataDir, CDataDirLock::Kind::kSiteList);
    ASSERT_TRUE(held.held()) << held.error();
    add = Start({"add", "added.example", "--anonymous"});
    import = Start({"import", list.string()});
    const fs::path lockFile = CDataDirLock::PathOf(dataDir, CDataDirLock::Kind::kSiteList);
    ASSERT_TRUE(test::WaitUntil([&] { return WaitersFor(lockFile) == 2; }));
  }
  EXPECT_EQ(add->Finish().status, 0);
  Output imported = import->Finish();
  EXPECT_EQ(imported.status, 0);
  EXPECT_EQ(imported.out, "imported.example\nother.example@u\n");
  std::vector<std::string> keys;
  for (const std::string& line : Lines(Cli({"sites"}).out)) {
    keys.push_back(line.substr(0, line.find('\t')));
  }
  std::sort(keys.begin(), keys.end());
  EXPECT_EQ(keys, (std::vector<std::string>{"added.example", "first.example", "imported.example",
                                            "other.example@u"}));
}

// Every command that writes reports a save that failed, with the path and
// the reason, and exits with 4.
TEST_F(CliUpdateTest, FailedSavesAreReportedAndExitWithFour) {
  StartServer();
  AddSite();
  ASSERT_EQ(Cli({"update"}).status, 0);
  const fs::path list = work.path() / "list.txt";
  std::ofstream(list) << "ftp://imported.example/\n";
  // The site list's side file is written first, before site.ds.
  const std::string siteList = (dataDir / "sites.opt").string();
  const std::string siteDir = (dataDir / "Data" / "127.0.0.1").string();
  const struct {
    std::vector<std::string> args;
    std::string path;
  } cases[] = {
      {{"add", "h", "--anonymous"}, siteList},
      {{"import", list.string()}, siteList},
      {{"update"}, siteDir + "/content.ct"},
      {{"mark-read", "--all"}, siteDir + "/state.st"},
      {{"settings", "journal-updates", "5"}, dataDir.string() + "/orvane.conf"},
      // A delete records what it is about to do before it touches site.ds.
      {{"delete", "127.0.0.1"}, dataDir.string() + "/site-change.pending"},
  };
  for (const auto& c : cases) {
    Output result = Start(c.args, {}, true)->Finish();
    EXPECT_EQ(result.status, 4) << c.args[0] << ": " << result.err;
    EXPECT_TRUE(Contains(result.err, "could not save " + c.path + ": File too large"))
        << c.args[0] << ": " << result.err;
    EXPECT_EQ(Count(result.err, "could not save"), 1u) << "once: " << result.err;
  }
  // With --json the summary the update had made goes under "result".
  Output json = Start({"--json", "update"}, {}, true)->Finish();
  EXPECT_EQ(json.status, 4);
  EXPECT_EQ(Json(json.out,
                 "d['error'].startswith('orvane-cli: could not save ') and "
                 "d['result']['sites'][0]['saveError'].endswith('File too large')"),
            "True")
      << json.out;
  EXPECT_EQ(Lines(Cli({"sites"}).out).size(), 1u);
}

// Failures that stay: a directory where a site file belongs. The catalog's
// commit is decided before its rename fails, the health record cannot be
// replaced at all: each is a failed save (exit 4, path and reason), never a
// success in the health record, and a reader of the catalog says that it
// could not finish the save instead of pairing old and new files.
TEST_F(CliUpdateTest, PersistentSaveFailuresAreErrorsAndNoSuccess) {
  StartServer();
  AddSite();
  ASSERT_EQ(Cli({"update"}).status, 0);
  const fs::path siteDir = dataDir / "Data" / "127.0.0.1";
  const auto health = ReadSiteHealth(siteDir);
  ASSERT_TRUE(health);
  struct Case {
    const char* file;
    const char* treeError;  // what `tree` says afterwards, or "" when it works
  };
  for (const Case& c : {Case{"health.txt", ""},
                        Case{"content.ct", "an interrupted save could not be finished"}}) {
    SCOPED_TRACE(c.file);
    fs::remove(siteDir / c.file);
    fs::create_directories(siteDir / c.file / "in-the-way");
    served.AddFile(std::string("new-") + c.file, "n");
    Output result = Cli({"update"});
    EXPECT_EQ(result.status, 4) << result.err;
    EXPECT_TRUE(Contains(result.err, "could not save " + (siteDir / c.file).string() + ": "))
        << result.err;
    EXPECT_EQ(Count(result.err, "could not save"), 1u) << result.err;
    const auto after = ReadSiteHealth(siteDir);
    if (after) {
      EXPECT_LE(after->lastSuccess, health->lastSuccess) << "no success recorded";
      EXPECT_TRUE(after->Failing());
      EXPECT_EQ(after->errorKind, "save");
    }
    Output tree = Cli({"tree", "127.0.0.1"});
    if (*c.treeError) {
      EXPECT_EQ(tree.status, 4);
      EXPECT_TRUE(Contains(tree.err, c.treeError)) << tree.err;
      EXPECT_TRUE(tree.out.empty()) << "nothing of a mismatched pair: " << tree.out;
    } else {
      EXPECT_EQ(tree.status, 0) << tree.err;
    }
    fs::remove_all(siteDir / c.file);
  }
  // Once the obstacle is gone the next reader finishes the save.
  Output tree = Cli({"tree", "127.0.0.1"});
  EXPECT_EQ(tree.status, 0) << tree.err;
  EXPECT_TRUE(Contains(tree.out, "new-content.ct")) << tree.out;
}

// A listing that never ends is cut at the configured bound: what came is
// kept, the rest of the site is fetched, and the run is partial. Beyond the
// update's bound nothing more is listed.
TEST_F(CliUpdateTest, ListingsAndUpdatesStopAtTheirBounds) {
  test::PyFtpOptions options;
  test::FtpFault endless;
  endless.command = test::FtpFault::Command::kList;
  endless.path = "/pub";
  endless.action = test::FtpFault::Action::kEndless;
  endless.reply = "type=file;size=1; endless-%d\r\n";
  options.faults.push_back(endless);
  StartServer(options);
  AddSite();
  ASSERT_EQ(Cli({"settings", "listing-entries", "3000"}).status, 0);
  Output update = Cli({"--json", "update"});
  EXPECT_EQ(update.status, 3) << update.err;
  EXPECT_EQ(Json(update.out, "d['sites'][0]['listingsIncomplete']"), "1") << update.out;
  std::vector<std::string> pub;
  for (const std::string& line : Lines(Cli({"tree", "127.0.0.1"}).out)) {
    if (Contains(line, "ftp://127.0.0.1/pub/endless-")) pub.push_back(line);
  }
  EXPECT_GT(pub.size(), 2000u);
  EXPECT_LE(pub.size(), 3000u);
  EXPECT_TRUE(Contains(Cli({"tree", "127.0.0.1"}).out, "ftp://127.0.0.1/docs/")) << "the rest";

  ASSERT_EQ(Cli({"settings", "update-entries", "100"}).status, 0);
  update = Cli({"--json", "update"});
  EXPECT_EQ(update.status, 3) << update.err;
  EXPECT_EQ(Json(update.out, "d['sites'][0]['entriesListed'] <= 100"), "True") << update.out;
  EXPECT_EQ(Json(update.out, "d['sites'][0]['listingsIncomplete'] >= 1"), "True") << update.out;
}

// Two processes that change different settings at once both keep theirs.
TEST_F(CliTest, SettingsChangedByTwoProcessesAtOnceKeepBoth) {
  ASSERT_EQ(Cli({"settings", "journal-updates", "1"}).status, 0);
  for (int run = 0; run < 30; ++run) {
    const std::string updates = std::to_string(100 + run);
    const std::string megabytes = std::to_string(2 + run);
    auto first = Start({"settings", "journal-updates", updates});
    auto second = Start({"settings", "journal-megabytes", megabytes});
    ASSERT_EQ(first->Finish().status, 0);
    ASSERT_EQ(second->Finish().status, 0);
    const std::string shown = Cli({"settings"}).out;
    ASSERT_TRUE(Contains(shown, "journal-updates " + updates + "\n")) << run << "\n" << shown;
    ASSERT_TRUE(Contains(shown, "journal-megabytes " + megabytes + "\n")) << run << "\n" << shown;
  }
}

// ---- Schedule and settings ---------------------------------------------------

// The units go to a temporary configuration directory, and systemctl is
// never called (ORVANE_SYSTEMCTL empty) or is /bin/false, a manager that
// does not answer: no test enables a timer on the machine running it.
class CliScheduleTest : public CliTest {
 protected:
  std::vector<std::string> Env(const std::string& systemctl = "", bool xdg = true) const {
    return {"HOME=" + (work.path() / "home").string(),
            "XDG_CONFIG_HOME=" + (xdg ? (work.path() / "config").string() : std::string()),
            "ORVANE_SYSTEMCTL=" + systemctl};
  }
  static std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  const fs::path unitDir = work.path() / "config" / "systemd" / "user";
  const fs::path homeUnitDir = work.path() / "home" / ".config" / "systemd" / "user";
};

TEST_F(CliScheduleTest, ScheduleWritesShowsAndRemovesTheUnits) {
  const std::string timer = (unitDir / "orvane-update.timer").string();
  const struct Step {
    std::vector<std::string> args;
    std::string systemctl;
    int status;
    std::string out;
    // The interval the timer file holds afterwards; empty: no unit files.
    std::string every;
    std::string err = {};
    // Afterwards, link the timer into timers.target as `enable` does.
    bool linkWanted = false;
  } steps[] = {
      {{"schedule"}, "", 0, "off\n", ""},
      // Written, not enabled: no success.
      {{"schedule", "--every", "6h"}, "", 3, "every 6h\n", "6h", "did not enable them"},
      {{"schedule"},
       "",
       0,
       "every 6h\ntimer: " + timer + "\nstate: unknown (no answer from systemctl --user)\n",
       "6h"},
      {{"schedule", "--every", "4m"}, "", 2, "", "6h", "--every takes"},
      {{"schedule", "--every", "6x"}, "", 2, "", "6h", "--every takes"},
      {{"schedule", "--every", "0h"}, "", 2, "", "6h", "--every takes"},
      {{"schedule", "--every", "366d"}, "", 2, "", "6h", "--every takes"},
      {{"schedule", "--every", "1h", "--off"}, "", 2, "", "6h", "exclude"},
      {{"schedule", "now"}, "", 2, "", "6h", "unexpected"},
      // A manager that does not answer.
      {{"schedule", "--every", "90m"},
       "/bin/false",
       3,
       "every 90min\n",
       "90min",
       "daemon-reload failed",
       true},
      {{"schedule", "--every", "2w"}, "", 3, "every 2w\n", "2w"},
      {{"schedule", "--off"}, "", 0, "off\n", ""},
      {{"schedule", "--off"}, "", 0, "off\n", ""},
  };
  for (const Step& step : steps) {
    const std::string name = Traced(step.args.back());
    Output result = Cli(step.args, Env(step.systemctl));
    EXPECT_EQ(result.status, step.status) << name << ": " << result.err;
    EXPECT_EQ(result.out, step.out) << name;
    EXPECT_TRUE(Contains(result.err, step.err)) << name << ": " << result.err;
    if (step.every.empty()) {
      EXPECT_FALSE(fs::exists(unitDir / "orvane-update.timer")) << name;
      EXPECT_FALSE(fs::exists(unitDir / "orvane-update.service")) << name;
      EXPECT_FALSE(fs::is_symlink(unitDir / "timers.target.wants" / "orvane-update.timer"));
    } else {
      const std::string text = Read(unitDir / "orvane-update.timer");
      EXPECT_TRUE(Contains(text, "\nOnUnitActiveSec=" + step.every + "\n")) << name << text;
      EXPECT_TRUE(Contains(text, "\nWantedBy=timers.target\n")) << name << text;
      EXPECT_TRUE(fs::exists(unitDir / "orvane-update.service")) << name;
    }
    if (step.linkWanted) {
      fs::create_directories(unitDir / "timers.target.wants");
      fs::create_symlink(unitDir / "orvane-update.timer",
                         unitDir / "timers.target.wants" / "orvane-update.timer");
    }
  }
}

// The service runs this program on this data directory, quoted so that
// systemd takes neither a space, a specifier nor a variable from the path.
TEST_F(CliScheduleTest, ServiceRunsThisProgramOnThisDataDirectory) {
  dataDir = work.path() / "my data 100%";
  Output installed = Cli({"--json", "schedule", "--every", "1d"}, Env("", false));
  EXPECT_EQ(installed.status, 3) << installed.err;
  EXPECT_EQ(Json(installed.out, "(d['schedule'], d['every'], d['seconds'], d['enabled'])"),
            "('on', '1d', 86400, False)");
  const std::string service = Read(homeUnitDir / "orvane-update.service");
  EXPECT_TRUE(Contains(service, "\nExecStart=\"" + fs::canonical(CliBinary()).string() +
                                    "\" --data-dir \"" + (work.path() / "my data 100%%").string() +
                                    "\" update --all --quiet\n"))
      << service;
  Output shown = Cli({"--json", "schedule"}, Env("", false));
  EXPECT_EQ(Json(shown.out, "(d['schedule'], d['seconds'], 'active' in d)"),
            "('on', 86400, False)");
  EXPECT_EQ(Cli({"schedule", "--off"}, Env("", false)).status, 0);
  EXPECT_FALSE(fs::exists(homeUnitDir / "orvane-update.service"));
}

TEST_F(CliScheduleTest, UnitFilesPassSystemdAnalyzeVerify) {
  const char* analyze = "/usr/bin/systemd-analyze";
  if (::access(analyze, X_OK) != 0) GTEST_SKIP() << "systemd-analyze is not installed";
  // Every character systemd would read as syntax, and a line break.
  dataDir = work.path() / "d a\"t\\a %h $HOME\nx";
  ASSERT_EQ(Cli({"schedule", "--every", "30m"}, Env()).status, 3);
  const fs::path runtime = work.path() / "runtime";
  fs::create_directories(runtime);
  fs::permissions(runtime, fs::perms::owner_all);
  Output verified =
      Child({analyze, "--user", "verify", (unitDir / "orvane-update.service").string(),
             (unitDir / "orvane-update.timer").string()},
            {"HOME=" + (work.path() / "home").string(),
             "XDG_CONFIG_HOME=" + (work.path() / "config").string(),
             "XDG_RUNTIME_DIR=" + runtime.string()})
          .Finish();
  EXPECT_EQ(verified.status, 0) << verified.out << verified.err;
  // It warns about what it ignores without failing.
  EXPECT_EQ(verified.out + verified.err, "");
}

// The journal cap comes from the data directory's settings: the oldest
// updates go whole, the newest stay whole.
TEST_F(CliUpdateTest, JournalKeepsTheUpdatesTheSettingsAllow) {
  Output set = Cli({"settings", "journal-updates", "2"});
  ASSERT_EQ(set.status, 0) << set.err;
  EXPECT_EQ(set.out,
            "journal-updates 2\njournal-megabytes 16\nlisting-entries 5000000\n"
            "update-entries 50000000\n");
  EXPECT_EQ(Json(Cli({"--json", "settings"}).out, "(d['journalUpdates'], d['journalMegabytes'])"),
            "(2, 16)");
  StartServer();
  AddSite();
  ASSERT_EQ(Cli({"update"}).status, 0);
  served.AddFile("one/a", "1");
  ASSERT_EQ(Cli({"update"}).status, 0);
  served.AddFile("two/b", "22");
  served.Remove("one");
  ASSERT_EQ(Cli({"update"}).status, 0);
  Output changes = Cli({"--json", "changes"});
  ASSERT_EQ(changes.status, 0) << changes.err;
  EXPECT_EQ(Json(changes.out,
                 "[(u['firstUpdate'], sorted((e['kind'], e['path']) for e in "
                 "u['entries'])) for u in d]"),
            "[(False, [('added', '/two'), ('added', '/two/b'), ('removed', '/one')]), "
            "(False, [('added', '/one'), ('added', '/one/a')])]");
}

// ---- Protected sites against real servers -----------------------------------

class CliTrustTest : public CliUpdateTest {
 protected:
  // The display paths `tree KEY` prints, sorted.
  std::vector<std::string> TreePaths(const std::string& key) {
    Output tree = Cli({"tree", key});
    EXPECT_EQ(tree.status, 0) << tree.err;
    std::vector<std::string> paths;
    for (const std::string& line : Lines(tree.out))
      paths.push_back(line.substr(line.rfind('\t') + 1));
    std::sort(paths.begin(), paths.end());
    return paths;
  }
  // The served tree below `top` ("" or "/pub") as `tree KEY` shows it.
  std::vector<std::string> Served(const std::string& key, const std::string& top) {
    const std::vector<std::string> all = {"/docs",
                                          "/docs/\xe6\x96\x87\xe6\xa1\xa3.txt",
                                          "/pub",
                                          "/pub/big",
                                          "/pub/big/image.iso",
                                          "/pub/big/notes",
                                          "/pub/readme.txt",
                                          "/top.bin"};
    std::vector<std::string> paths;
    for (const std::string& path : all) {
      if (path.starts_with(top + "/")) paths.push_back("ftp://" + key + path.substr(top.size()));
    }
    std::sort(paths.begin(), paths.end());
    return paths;
  }
  // `update KEY` as JSON: "outcome fingerprint pinnedFingerprint" of the site.
  std::string UpdateOutcome(const std::string& key, int status) {
    Output update = Cli({"--json", "update", key});
    EXPECT_EQ(update.status, status) << update.out << update.err;
    return Json(update.out,
                "' '.join(str(d['sites'][0].get(k)) for k in "
                "('outcome', 'fingerprint', 'pinnedFingerprint'))");
  }
  std::string Pinned() { return Json(Cli({"--json", "sites"}).out, "d[0]['fingerprint']"); }
};

// Explicit TLS with a certificate nobody vouches for: the update stops at
// the certificate, before the login; trust pins it only when told to; the
// pinned server is crawled; another certificate on the same server is
// refused, naming both.
TEST_F(CliTrustTest, FtpesCertificateIsPinnedOnFirstUseAndAChangeIsRefused) {
  test::CTempTree certificates;
  const test::TestCertificate first = test::MakeTestCertificate(certificates.path(), "first");
  const test::TestCertificate second = test::MakeTestCertificate(certificates.path(), "second");
  ASSERT_FALSE(first.fingerprint.empty());
  ASSERT_FALSE(second.fingerprint.empty());
  test::VsftpdOptions options;
  options.tls = test::FtpTls::kExplicit;
  options.certificate = first;
  auto started = test::CFtpServer::StartVsftpd(served.path(), options);
  if (started.unavailable) GTEST_SKIP() << started.error;
  ASSERT_TRUE(started.server) << started.error;
  const std::string port = std::to_string(started.server->port());
  ASSERT_EQ(Cli({"add", "127.0.0.1", "--anonymous", "--protocol", "ftpes", "--port", port}).status,
            0);

  EXPECT_EQ(UpdateOutcome("127.0.0.1", 4), "untrusted " + first.fingerprint + " None");
  const std::vector<std::string> commands = started.server->Commands();
  EXPECT_THAT(commands, ::testing::Contains(::testing::StartsWith("AUTH TLS")));
  EXPECT_THAT(commands, ::testing::Each(::testing::Not(::testing::AnyOf(
                            ::testing::StartsWith("USER"), ::testing::StartsWith("PASS")))));

  // Nothing is pinned without a word from the user, nor for another key.
  const struct {
    std::vector<std::string> args;
    int status;
  } refusals[] = {
      {{"trust", "127.0.0.1"}, 4},
      {{"trust", "127.0.0.1", "--fingerprint", "SHA256:wrong"}, 2},
      {{"trust", "127.0.0.1", "--fingerprint", second.fingerprint}, 4},
      {{"trust", "127.0.0.1", "--fingerprint", second.fingerprint, "--yes"}, 4},
  };
  for (const auto& refusal : refusals) {
    Output refused = Cli(refusal.args);
    EXPECT_EQ(refused.status, refusal.status) << Traced(refusal.args.back()) << refused.err;
    EXPECT_EQ(Pinned(), "None") << Traced(refusal.args.back());
  }
  // On a terminal the key is shown and the user asked; "n" pins nothing.
  const Output asked = OnTerminal({"trust", "127.0.0.1"}, "[y/N] ", "n\n");
  const std::string& screen = asked.out;
  EXPECT_EQ(asked.status, 1) << screen;
  EXPECT_TRUE(Contains(screen, "fingerprint: " + first.fingerprint)) << screen;
  EXPECT_EQ(Pinned(), "None");

  Output trusted = Cli({"trust", "127.0.0.1", "--yes"});
  ASSERT_EQ(trusted.status, 0) << trusted.out << trusted.err;
  EXPECT_TRUE(Contains(trusted.out, "pinned " + first.fingerprint)) << trusted.out;
  EXPECT_EQ(Pinned(), first.fingerprint);

  ASSERT_EQ(Cli({"update", "127.0.0.1"}).status, 0);
  EXPECT_EQ(TreePaths("127.0.0.1"), Served("127.0.0.1", ""));
  Output found = Cli({"find", "notes"});
  EXPECT_EQ(found.status, 0) << found.err;
  EXPECT_TRUE(Contains(found.out, "/pub/big/notes")) << found.out;

  // The same server, restarted with another certificate.
  started.server.reset();
  options.certificate = second;
  options.port = static_cast<std::uint16_t>(std::stoi(port));
  started = test::CFtpServer::StartVsftpd(served.path(), options);
  ASSERT_TRUE(started.server) << started.error;
  EXPECT_EQ(UpdateOutcome("127.0.0.1", 4),
            "untrusted " + second.fingerprint + " " + first.fingerprint);
  Output changed = Cli({"update", "127.0.0.1"});
  EXPECT_EQ(changed.status, 4);
  const std::string said = changed.out + changed.err;
  EXPECT_TRUE(Contains(said, first.fingerprint) && Contains(said, second.fingerprint) &&
              Contains(said, "orvane-cli trust"))
      << said;
  EXPECT_THAT(started.server->Commands(),
              ::testing::Each(::testing::Not(::testing::StartsWith("USER"))));
  EXPECT_EQ(Pinned(), first.fingerprint);
  EXPECT_EQ(TreePaths("127.0.0.1"), Served("127.0.0.1", ""));

  // And without TLS: refused, never logged in to in plain text.
  started.server.reset();
  options.tls = test::FtpTls::kNone;
  started = test::CFtpServer::StartVsftpd(served.path(), options);
  ASSERT_TRUE(started.server) << started.error;
  Output plain = Cli({"--json", "update", "127.0.0.1"});
  EXPECT_EQ(plain.status, 4) << plain.out;
  EXPECT_EQ(Json(plain.out, "d['sites'][0]['outcome']"), "failed");
  EXPECT_THAT(started.server->Commands(), ::testing::Contains(::testing::StartsWith("AUTH")));
  EXPECT_THAT(started.server->Commands(),
              ::testing::Each(::testing::Not(::testing::StartsWith("USER"))));
  EXPECT_EQ(TreePaths("127.0.0.1"), Served("127.0.0.1", ""));
}

// SFTP the same way: the host key lands in the data directory's
// known-hosts file, and a key other than the one accepted is refused.
TEST_F(CliTrustTest, SftpHostKeyIsAcceptedOnFirstUseAndAChangeIsRefused) {
  auto started = test::CSshdServer::Start();
  if (started.unavailable) GTEST_SKIP() << started.error;
  ASSERT_TRUE(started.server) << started.error;
  test::CSshdServer& sshd = *started.server;
  FtpLogin login = sshd.KeyLogin();
  // The key file outlives the server, which is started anew below.
  fs::copy_file(login.keyFile, work.path() / "id_ed25519");
  login.keyFile = (work.path() / "id_ed25519").string();
  const std::string key = "127.0.0.1@" + login.user;
  Output added = Cli({"add", "127.0.0.1", "--user", login.user, "--password",
                      test::CSshdServer::kKeyPassphrase, "--protocol", "sftp", "--port",
                      std::to_string(sshd.port()), "--key-file", login.keyFile, "--start-dir",
                      served.path().string()});
  ASSERT_EQ(added.status, 0) << added.err;
  // Another account on the same server, which the key accepted for the
  // first one vouches for too.
  ASSERT_EQ(Cli({"add", "127.0.0.1", "--user", "bob", "--password", "pw", "--protocol", "sftp",
                 "--port", std::to_string(sshd.port())})
                .status,
            0);

  const std::string untrusted = UpdateOutcome(key, 4);
  EXPECT_TRUE(untrusted.starts_with("untrusted SHA256:")) << untrusted;
  for (const char* sign : {"userauth-request", "Accepted", "Failed", "Postponed"}) {
    EXPECT_FALSE(Contains(sshd.Log(), sign)) << sshd.Log();
  }
  EXPECT_EQ(Cli({"trust", key}).status, 4);
  EXPECT_FALSE(fs::exists(dataDir / "known_hosts"));

  Output trusted = Cli({"--json", "trust", key, "--yes"});
  ASSERT_EQ(trusted.status, 0) << trusted.out << trusted.err;
  const std::string fingerprint = Json(trusted.out, "d['fingerprint']");
  EXPECT_EQ(untrusted, "untrusted " + fingerprint + " None");
  EXPECT_EQ(KnownHostFingerprints(dataDir / "known_hosts", "127.0.0.1", sshd.port()),
            std::vector<std::string>{fingerprint});
  EXPECT_EQ(Mode(dataDir / "known_hosts"), 0600u);
  EXPECT_EQ(Pinned(), fingerprint);

  ASSERT_EQ(Cli({"update", key}).status, 0);
  EXPECT_EQ(TreePaths(key), Served(key, ""));
  Output address = Cli({"address", "ftp://" + key + "/pub/readme.txt"});
  // The key's passphrase is no part of it.
  EXPECT_EQ(address.out, "sftp://" + login.user + "@127.0.0.1:" + std::to_string(sshd.port()) +
                             served.path().string() + "/pub/readme.txt\n")
      << address.err;

  // The same server, restarted with host keys of its own.
  const std::uint16_t port = sshd.port();
  started.server.reset();
  started = test::CSshdServer::Start(test::CSshdServer::HostKeys::kEd25519AndEcdsa, false, port);
  ASSERT_TRUE(started.server) << started.error;
  const std::string changed = UpdateOutcome(key, 4);
  EXPECT_TRUE(changed.starts_with("untrusted SHA256:") && changed.ends_with(" " + fingerprint) &&
              !Contains(changed, "None") && Count(changed, fingerprint) == 1)
      << changed;
  EXPECT_EQ(UpdateOutcome("127.0.0.1@bob", 4), changed);
  for (const char* sign : {"userauth-request", "Accepted", "Failed", "Postponed"}) {
    EXPECT_FALSE(Contains(started.server->Log(), sign)) << started.server->Log();
  }
  EXPECT_EQ(KnownHostFingerprints(dataDir / "known_hosts", "127.0.0.1", port),
            std::vector<std::string>{fingerprint});
  EXPECT_EQ(TreePaths(key), Served(key, ""));

  // The new key, accepted through the other site, is the server's: both
  // sites show it.
  Output accepted = Cli({"--json", "trust", "127.0.0.1@bob", "--yes"});
  ASSERT_EQ(accepted.status, 0) << accepted.err;
  EXPECT_EQ(Json(Cli({"--json", "sites"}).out, "[s['fingerprint'] for s in d]"),
            Json(accepted.out, "[d['fingerprint']] * 2"));
}

// Implicit TLS, and a start directory: the catalog is the served subtree
// and a copied address names the server's place with the site's scheme.
TEST_F(CliTrustTest, ProtectedSitesCrawlBelowTheirStartDirectory) {
  test::CTempTree certificates;
  const test::TestCertificate certificate = test::MakeTestCertificate(certificates.path(), "c");
  ASSERT_FALSE(certificate.fingerprint.empty());
  const struct {
    test::FtpTls tls;
    const char* protocol;
    std::string startDir;
    std::string top;  // of the served tree, as the catalog holds it
  } cases[] = {
      {test::FtpTls::kImplicit, "ftps", "/", ""},
      {test::FtpTls::kExplicit, "ftpes", "/pub", "/pub"},
      {test::FtpTls::kImplicit, "ftps", "/pub/big", "/pub/big"},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(std::string(row.protocol) + " " + row.startDir);
    test::VsftpdOptions options;
    options.tls = row.tls;
    options.certificate = certificate;
    auto started = test::CFtpServer::StartVsftpd(served.path(), options);
    if (started.unavailable) GTEST_SKIP() << started.error;
    ASSERT_TRUE(started.server) << started.error;
    const std::string port = std::to_string(started.server->port());
    ASSERT_EQ(Cli({"add", "127.0.0.1", "--anonymous", "--protocol", row.protocol, "--port", port,
                   "--start-dir", row.startDir})
                  .status,
              0);
    Output trusted = Cli({"trust", "127.0.0.1", "--fingerprint", certificate.fingerprint});
    ASSERT_EQ(trusted.status, 0) << trusted.err;
    Output update = Cli({"update", "127.0.0.1"});
    ASSERT_EQ(update.status, 0) << update.out << update.err;
    EXPECT_EQ(TreePaths("127.0.0.1"), Served("127.0.0.1", row.top));
    // The server's /pub/big and a file in it, as the catalog holds them.
    const std::string prefix = std::string(row.protocol) + "://127.0.0.1:" + port;
    const std::string dir = std::string("/pub/big").substr(row.top.size());
    EXPECT_EQ(Cli({"address", "ftp://127.0.0.1" + dir + "/"}).out, prefix + "/pub/big\n");
    EXPECT_EQ(Cli({"address", "ftp://127.0.0.1" + dir + "/notes"}).out,
              prefix + "/pub/big/notes\n");
    ASSERT_EQ(Cli({"delete", "127.0.0.1"}).status, 0);
  }
}

}  // namespace
}  // namespace orvane
