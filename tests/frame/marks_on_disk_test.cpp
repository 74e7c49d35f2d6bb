// Marks cleared in the window reach state.st soon, not only at a clean
// exit: a window killed outright keeps them, the quit signals close the
// window as Quit does, and a save that fails is shown.
#include <signal.h>

#include <QAction>
#include <QProcess>

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
  QProcess child;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QLatin1String(kChildDir), QString::fromStdString(dir.path().string()));
  child.setProcessEnvironment(env);
  child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  child.start(QCoreApplication::applicationFilePath(),
              {QStringLiteral("childClearsMarksAndWaits")});
  QVERIFY(child.waitForStarted());
  QByteArray said;
  QTRY_VERIFY_WITH_TIMEOUT((said += child.readAllStandardOutput()).contains("cleared\n") ||
                               child.state() != QProcess::Running,
                           60000);
  QCOMPARE(child.state(), QProcess::Running);
  // The window is killed without any chance to save once state.st changed
  // (or after 3 s, when it never does).
  QTRY_VERIFY_WITH_TIMEOUT(ReadBytes(StateFile(dir.path())) != before, 3000);
  ::kill(static_cast<pid_t>(child.processId()), SIGKILL);
  QVERIFY(child.waitForFinished());
  QCOMPARE(child.exitStatus(), QProcess::CrashExit);
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
  // A lasting failure is not shown again every period.
  QVERIFY(!frame->marksSaver().SaveNow());
  QCOMPARE(recorder.messages.size(), std::size_t{1});
}

QTEST_MAIN(MarksOnDiskTest)
#include "marks_on_disk_test.moc"
