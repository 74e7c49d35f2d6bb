// The desktop notification at an update run's end, on a private session
// bus: the test starts its own dbus-daemon, registers a recorder of Notify
// calls as the notification service, runs real updates against a real FTP
// server whose tree changes between the runs, and reads what the window
// told the desktop. A click (ActionInvoked) brings the window back.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCheckBox>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <cerrno>
#include <ctime>

#include "catalog/change_journal.h"
#include "frame/run_notifier.h"
#include "tests/frame/frame_fixture.h"
#include "tests/support/ftp_server.h"
#include "update/update_engine.h"

using namespace orvane;
using namespace orvane::test;
namespace fs = std::filesystem;

namespace {

constexpr uint kFirstId = 41;

}  // namespace

// Answers org.freedesktop.Notifications.Notify with a fresh id and keeps
// what was asked.
class NotifyRecorder : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

 public:
  struct Call {
    QString app;
    uint replaces;
    QString summary;
    QString body;
    QStringList actions;
  };
  std::vector<Call> calls;

 public slots:
  uint Notify(const QString& app, uint replaces, const QString&, const QString& summary,
              const QString& body, const QStringList& actions, const QVariantMap&, int) {
    calls.push_back({app, replaces, summary, body, actions});
    return kFirstId + static_cast<uint>(calls.size()) - 1;
  }
};

// Never destroyed: the bus connection's own thread may still look at a
// registered object after the connection is dropped.
NotifyRecorder& Recorder() {
  static NotifyRecorder* const recorder = new NotifyRecorder;
  return *recorder;
}

class RunNotifyTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void cleanupTestCase();
  void runEndTellsCountsAndClickShowsWindow();
  void turnedOffSendsNothing();

 private:
  pid_t daemonPid_ = -1;  // the shell that holds the daemon
  int lifeline_ = -1;
  NotifyRecorder& recorder_ = Recorder();
};

void RunNotifyTest::initTestCase() {
  QSettings().clear();
  // posix_spawn rather than QProcess: no code of this process runs in the
  // child, which ThreadSanitizer cannot follow after a fork. A small shell
  // holds the daemon's PID and stops it when the lifeline on its standard
  // input closes: at cleanup, or when this process dies.
  int out[2];
  QVERIFY(::pipe2(out, O_CLOEXEC) == 0);
  int lifeline[2];
  QVERIFY(::pipe2(lifeline, O_CLOEXEC) == 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, lifeline[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  char shell[] = "/bin/sh";
  char dashC[] = "-c";
  char script[] =
      "dbus-daemon --session --print-address --nofork </dev/null & pid=$!; read _; "
      "kill $pid; wait $pid";
  char* argv[] = {shell, dashC, script, nullptr};
  const int spawned = posix_spawn(&daemonPid_, shell, &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  ::close(lifeline[0]);
  lifeline_ = lifeline[1];
  QVERIFY(spawned == 0);
  // The daemon prints its address once it listens.
  QByteArray address;
  char byte = 0;
  while (!address.endsWith('\n') && ::read(out[0], &byte, 1) == 1) address += byte;
  ::close(out[0]);
  address = address.trimmed();
  QVERIFY2(!address.isEmpty(), "dbus-daemon (Debian's dbus) is needed");
  // Before the window's first use of the session bus.
  qputenv("DBUS_SESSION_BUS_ADDRESS", address);
  QDBusConnection service =
      QDBusConnection::connectToBus(QString::fromLatin1(address), QStringLiteral("recorder"));
  QVERIFY(service.isConnected());
  QVERIFY(service.registerService(QStringLiteral("org.freedesktop.Notifications")));
  QVERIFY(service.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &recorder_,
                                 QDBusConnection::ExportAllSlots));
}

void RunNotifyTest::cleanupTestCase() {
  QDBusConnection::disconnectFromBus(QStringLiteral("recorder"));
  if (daemonPid_ <= 0) return;
  ::close(lifeline_);
  int status = 0;
  while (::waitpid(daemonPid_, &status, 0) < 0 && errno == EINTR) {
  }
}

void RunNotifyTest::runEndTellsCountsAndClickShowsWindow() {
  CTempTree served;
  served.AddFile("pub/readme.txt", "hello");
  served.AddFile("pub/old.txt", "12");
  served.AddFile("keep.txt", "k");
  auto server = StartServer(served);
  CTempTree data;
  {
    // A nickname the service would read as a link.
    IDocumentHost quiet;
    COrvaneDoc doc(data.path(), quiet);
    auto site = std::make_shared<CFTPSite>();
    site->host = server->host();
    site->port = server->port();
    site->userName = "anonymous";
    site->password = std::string(kAnonymousPassword);
    site->nickname = "<a href=http:x>site";
    doc.AppendSite(site);
    QVERIFY(doc.SaveSiteList());
  }
  QSettings().setValue(QStringLiteral("changes/watchWords"),
                       QStringList{QStringLiteral("*.iso"), QStringLiteral("nothing-like-it")});
  // A record from a clock an hour ahead (another machine's, or this one's
  // before it was set right): its time alone would count it in every run.
  JournalRecord ahead;
  ahead.startTime = static_cast<std::int64_t>(std::time(nullptr)) + 3600;
  ahead.endTime = ahead.startTime + 1;
  ahead.added = 7;
  const fs::path siteDir = data.path() / "Data" / server->host();
  fs::create_directories(siteDir);
  WriteBytes(siteDir / kJournalFileName, RewriteJournal({}, {EncodeJournalRecord(ahead)}, {}));
  MessageRecorder boxes;
  auto frame = StartFrame(data.path());
  QStatusBar* bar = frame->statusBar();

  // A first crawl: its record counts every entry it found (4), and the
  // record ahead is new to this run too.
  frame->Command(kCmdUpdateAll);
  QTRY_COMPARE_WITH_TIMEOUT(recorder_.calls.size(), std::size_t{1}, kWaitMs);
  QCOMPARE(bar->currentMessage(), QStringLiteral("更新完成"));
  const NotifyRecorder::Call first = recorder_.calls.back();
  QCOMPARE(first.app, QStringLiteral("Orvane"));
  QCOMPARE(first.summary, QStringLiteral("1 个站点已更新"));
  QCOMPARE(first.body, QStringLiteral("新增 11 项，删除 0 项，大小改变 0 项，0 项匹配关注词"));
  QVERIFY(first.actions.contains(QStringLiteral("default")));

  // Two added (one a watched name), one removed, one resized: the second
  // run tells only its own changes, and replaces the first notification.
  served.AddFile("pub/disk.iso", "iso");
  served.AddFile("notes.txt", "n");
  served.Remove("pub/old.txt");
  served.AddFile("keep.txt", "longer");
  frame->Command(kCmdUpdateAll);
  QTRY_COMPARE_WITH_TIMEOUT(recorder_.calls.size(), std::size_t{2}, kWaitMs);
  const NotifyRecorder::Call second = recorder_.calls.back();
  QCOMPARE(second.replaces, kFirstId);
  QCOMPARE(second.summary, QStringLiteral("1 个站点已更新"));
  QCOMPARE(second.body, QStringLiteral("新增 2 项，删除 1 项，大小改变 1 项，1 项匹配关注词"));

  // A click on it shows the hidden window.
  frame->hide();
  QDBusMessage click = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/Notifications"),
                                                  QStringLiteral("org.freedesktop.Notifications"),
                                                  QStringLiteral("ActionInvoked"));
  click << kFirstId + 1 << QStringLiteral("default");
  QVERIFY(QDBusConnection(QStringLiteral("recorder")).send(click));
  QTRY_VERIFY_WITH_TIMEOUT(frame->isVisible(), kWaitMs);

  // A run that changes nothing tells nothing; one that fails is told,
  // titled so, and names the site as typed.
  frame->Command(kCmdUpdateAll);
  QTRY_COMPARE_WITH_TIMEOUT(bar->currentMessage(), QStringLiteral("更新完成"), kWaitMs);
  server.reset();
  frame->Command(kCmdUpdateAll);
  QTRY_COMPARE_WITH_TIMEOUT(recorder_.calls.size(), std::size_t{3}, kWaitMs);
  const NotifyRecorder::Call failed = recorder_.calls.back();
  QCOMPARE(failed.summary, QStringLiteral("1 个站点更新失败"));
  QCOMPARE(failed.body, QStringLiteral("新增 0 项，删除 0 项，大小改变 0 项，0 项匹配关注词\n"
                                       "失败：&lt;a href=http:x&gt;site"));
  QVERIFY(boxes.messages.empty());
  QSettings().remove(QStringLiteral("changes/watchWords"));
}

void RunNotifyTest::turnedOffSendsNothing() {
  CTempTree served;
  served.AddFile("pub/readme.txt", "hello");
  auto server = StartServer(served);
  CTempTree data;
  WriteServerSite(data.path(), *server);
  const std::size_t before = recorder_.calls.size();
  auto frame = StartFrame(data.path());
  // Through the settings dialog, as the user turns it off and on.
  const auto setNotify = [&frame](bool on, bool everyRun) {
    CDialogSeam::SetDialogHook([on, everyRun](QDialog& dialog) {
      dialog.findChild<QCheckBox*>(QStringLiteral("notifyCheck"))->setChecked(on);
      dialog.findChild<QCheckBox*>(QStringLiteral("notifyEveryRunCheck"))->setChecked(everyRun);
      dialog.findChild<QPushButton*>(QStringLiteral("okButton"))->click();
      return dialog.result();
    });
    frame->Command(kCmdSettings);
    CDialogSeam::ClearHooks();
  };
  setNotify(false, true);
  frame->Command(kCmdUpdateAll);
  QTRY_COMPARE_WITH_TIMEOUT(frame->statusBar()->currentMessage(), QStringLiteral("更新完成"),
                            kWaitMs);
  // The next run's notification comes after any the first run sent, so
  // once it is there, the first run's would be too. With every run told,
  // a run with nothing new is told as well.
  setNotify(true, true);
  frame->Command(kCmdUpdateAll);
  QTRY_VERIFY_WITH_TIMEOUT(recorder_.calls.size() > before, kWaitMs);
  QCOMPARE(recorder_.calls.size(), before + 1);
  QCOMPARE(recorder_.calls.back().summary, QStringLiteral("1 个站点已更新"));
  QCOMPARE(recorder_.calls.back().body, QStringLiteral("新增 0 项，删除 0 项，大小改变 0 项"));
  setNotify(true, false);
  served.AddFile("pub/more.txt", "more");
  frame->Command(kCmdUpdateAll);
  QTRY_VERIFY_WITH_TIMEOUT(recorder_.calls.size() > before + 1, kWaitMs);
  QCOMPARE(recorder_.calls.back().body, QStringLiteral("新增 1 项，删除 0 项，大小改变 0 项"));
  QSettings().remove(QStringLiteral("notify/everyRun"));
}

QTEST_MAIN(RunNotifyTest)
#include "run_notify_test.moc"
