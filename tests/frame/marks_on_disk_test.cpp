// Marks cleared in the window reach state.st soon, not only at a clean
// exit: a window killed outright keeps them, the quit signals close the
// window as Quit does, and a save that fails is shown.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include <QAction>

#include "catalog/ftp_file.h"
#include "frame/marks_saver.h"
#include "frame/quit_signals.h"
#include "tests/frame/frame_fixture.h"

using namespace orvane;
using namespace orvane::test;
namespace fs = std::filesystem;

namespace {

constexpr char kChildDir[] = "ORVANE_MARKS_CHILD_DIR";

// a.example: pub/new.txt and fresh/ (both new), catalog and marks on disk.
void WriteCatalog(const fs::path& dir) {
  IDocumentHost quiet;
  COrvaneDoc doc(dir, quiet);
  auto site = std::make_shared<CFTPSite>();
  site->host = "a.example";
  site->userName = "anonymous";
  site->password = std::string(kAnonymousPassword);
  CFTPDir* pub = site->rootDir->AddSubdir(std::make_unique<CFTPDir>("pub"));
  pub->AddFile(CFTPFile::Make("new.txt", 3, 1));
  site->rootDir->AddSubdir(std::make_unique<CFTPDir>("fresh", 1));
  if (!site->SaveCatalogAndState(dir)) qFatal("cannot write a catalog");
  doc.AppendSite(site);
  if (!doc.SaveSiteList()) qFatal("cannot write site.ds");
}

// New marks in a.example's catalog as another process reads it from disk.
int MarksOnDisk(const fs::path& dir) {
  IDocumentHost quiet;
  COrvaneDoc doc(dir, quiet);
  doc.OnNewDocument(false);
  CFTPSite& site = *doc.sites().front();
  doc.EnsureCatalogLoaded(site);
  int marks = 0;
  for (const auto& sub : site.rootDir->subdirs) {
    marks += sub->readState != 0;
    for (const auto& file : sub->files) marks += file->readState != 0;
  }
  return marks;
}

fs::path StateFile(const fs::path& dir) { return dir / "Data" / "a.example" / "state.st"; }

}  // namespace

class MarksOnDiskTest : public QObject {
  Q_OBJECT

 private slots:
  void markClearedSurvivesAKill();
  void quitSignalClosesAndSaves();
  void failedSaveIsShown();
  // Run only as the child of markClearedSurvivesAKill.
  void childClearsMarksAndWaits();
};

void MarksOnDiskTest::markClearedSurvivesAKill() {
  CTempTree dir;
  WriteCatalog(dir.path());
  const std::string before = ReadBytes(StateFile(dir.path()));
  // posix_spawn rather than QProcess: no code of this process runs in the
  // child, which ThreadSanitizer cannot follow after a fork.
  int out[2];
  QVERIFY(::pipe2(out, O_CLOEXEC) == 0);
  const std::string program = QCoreApplication::applicationFilePath().toStdString();
  const std::string childEnv = std::string(kChildDir) + "=" + dir.path().string();
  std::vector<char*> env{const_cast<char*>(childEnv.c_str())};
  for (char** e = environ; *e != nullptr; ++e) env.push_back(*e);
  env.push_back(nullptr);
  char slot[] = "childClearsMarksAndWaits";
  char* argv[] = {const_cast<char*>(program.c_str()), slot, nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, env.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  QCOMPARE(spawned, 0);
  // The child says "cleared" once its marks are clear, or ends (EOF).
  std::string said;
  char buffer[256];
  ssize_t got = 0;
  while (said.find("cleared\n") == std::string::npos &&
         (got = ::read(out[0], buffer, sizeof buffer)) != 0) {
    if (got > 0) said.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(out[0]);
  QVERIFY2(got != 0, "the child ended before it cleared the marks");
  // The window is killed without any chance to save once state.st changed
  // (or after 3 s, when it never does).
  QTRY_VERIFY_WITH_TIMEOUT(ReadBytes(StateFile(dir.path())) != before, 3000);
  ::kill(pid, SIGKILL);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  QVERIFY(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
  QCOMPARE(MarksOnDisk(dir.path()), 0);
}

void MarksOnDiskTest::childClearsMarksAndWaits() {
  const QByteArray dir = qgetenv(kChildDir);
  if (dir.isEmpty()) QSKIP("the child of markClearedSurvivesAKill");
  auto frame = StartFrame(fs::path(dir.toStdString()));
  QVERIFY(QTest::qWaitForWindowExposed(frame.get()));
  frame->action(kCmdSetAllRead)->trigger();
  QTRY_VERIFY(!frame->doc().walking());
  QVERIFY(!frame->doc().sites().front()->rootDir->subdirs[1]->readState);
  std::fputs("cleared\n", stdout);
  std::fflush(stdout);
  // Until killed.
  QEventLoop().exec();
}

void MarksOnDiskTest::quitSignalClosesAndSaves() {
  CTempTree dir;
  WriteCatalog(dir.path());
  auto frame = StartFrame(dir.path());
  CQuitSignals quitSignals([&] { frame->close(); });
  frame->action(kCmdSetAllRead)->trigger();
  QTRY_VERIFY(!frame->doc().walking());
  // Before the saver's period is over: the close saves.
  ::raise(SIGTERM);
  QTRY_VERIFY(!frame->isVisible());
  QCOMPARE(MarksOnDisk(dir.path()), 0);
}

void MarksOnDiskTest::failedSaveIsShown() {
  CTempTree dir;
  WriteCatalog(dir.path());
  MessageRecorder recorder;
  auto frame = StartFrame(dir.path());
  CFTPSite& site = *frame->doc().sites().front();
  frame->doc().EnsureCatalogLoaded(site);
  // state.st cannot be replaced once a directory is in its place
  // (permissions would not stop a test run as root).
  fs::remove(StateFile(dir.path()));
  fs::create_directories(StateFile(dir.path()) / "in the way");
  frame->action(kCmdSetAllRead)->trigger();
  QTRY_COMPARE(recorder.messages.size(), std::size_t{1});
  QVERIFY(recorder.texts().front().contains(QStringLiteral("a.example")));
  // A lasting failure is not shown again, and is tried again only after a
  // delay that grows with each failure (two more here), not every period.
  CMarksSaver& saver = frame->marksSaver();
  for (int round = 0; round < 2; ++round) {
    QTRY_VERIFY(!saver.InFlight(&site));
    const long handed = saver.handed();
    saver.SaveNow();
    QCOMPARE(saver.handed(), handed + 1);
    QTRY_VERIFY(!saver.InFlight(&site));
  }
  QVERIFY(site.stateDirty.load());
  const long handed = saver.handed();
  saver.Tick();
  QCOMPARE(saver.handed(), handed);
  QCOMPARE(recorder.messages.size(), std::size_t{1});
}

QTEST_MAIN(MarksOnDiskTest)
#include "marks_on_disk_test.moc"
