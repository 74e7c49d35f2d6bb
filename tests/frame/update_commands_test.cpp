// Updates from the window against a real FTP server on loopback: the
// progress display, removal notices reaching the views and the history
// before the entries go, and the close that waits for running workers.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QStatusBar>

#include "catalog/ftp_dir.h"
#include "tests/frame/frame_fixture.h"
#include "tests/support/ftp_server.h"
#include "update/update_engine.h"

using namespace orvane;
using namespace orvane::test;
namespace fs = std::filesystem;

class UpdateCommandsTest : public QObject {
  Q_OBJECT

 private slots:
  void cleanup() { CDialogSeam::ClearHooks(); }
  void updateAllFillsCatalogAndEndsWithCompletion();
  void removedEntriesLeaveViewsAndHistoryFirst();
  void closeWaitsForRunningUpdate();
  void threadSettingTakesOneToFiveHundred();
};

void UpdateCommandsTest::updateAllFillsCatalogAndEndsWithCompletion() {
  CTempTree served;
  served.AddFile("pub/readme.txt", "hello");
  auto server = StartServer(served);
  CTempTree data;
  WriteServerSite(data.path(), *server);
  MessageRecorder recorder;
  auto frame = StartFrame(data.path());
  CFTPSite& site = *frame->doc().sites().front();

  frame->Command(kCmdUpdateAll);
  QTRY_COMPARE_WITH_TIMEOUT(site.updateState.load(), static_cast<int>(kUpdateSucceeded), kWaitMs);
  QTRY_COMPARE_WITH_TIMEOUT(frame->statusBar()->currentMessage(), QStringLiteral("更新完成"),
                            kWaitMs);
  QVERIFY(fs::exists(data.path() / "Data" / server->host() / "content.ct"));
  {
    std::lock_guard lock(site.lock);
    QCOMPARE(site.rootDir->subdirs.size(), std::size_t{1});
    QCOMPARE(site.rootDir->subdirs.front()->name(), std::string_view("pub"));
  }
  QVERIFY(recorder.messages.empty());
}

void UpdateCommandsTest::removedEntriesLeaveViewsAndHistoryFirst() {
  CTempTree served;
  served.AddFile("pub/readme.txt", "hello");
  auto server = StartServer(served);
  CTempTree data;
  WriteServerSite(data.path(), *server);
  auto frame = StartFrame(data.path());
  CFTPSite& site = *frame->doc().sites().front();
  // A stored catalog with a directory the server no longer has, browsed
  // and in the history when the update sweeps it away.
  site.loadState.store(kLoaded);
  CFTPDir* gone = site.rootDir->AddSubdir(std::make_unique<CFTPDir>("gone"));
  CFTPDir* deeper = gone->AddSubdir(std::make_unique<CFTPDir>("deeper"));
  gone->AddFile(CFTPFile::Make("old.bin", 10));
  for (CFTPDir* dir : {site.rootDir.get(), gone, deeper, gone}) {
    frame->doc().RecordStep(dir);
    frame->doc().ShowDirectory(dir);
    emit frame->dirView().directoryActivated(dir);
  }
  frame->dirView().SelectDirectory(gone);
  QCOMPARE(frame->fileView().ItemCount(), 2);

  frame->Command(kCmdUpdateAll);
  QTRY_COMPARE_WITH_TIMEOUT(site.updateState.load(), static_cast<int>(kUpdateSucceeded), kWaitMs);
  QTRY_VERIFY_WITH_TIMEOUT(frame->doc().browseFiles.empty(), kWaitMs);
  QCOMPARE(frame->fileView().ItemCount(), 0);
  for (const auto& node : frame->doc().backList) {
    QVERIFY(node->directory != gone && node->directory != deeper);
  }
  QVERIFY(!frame->doc().currentNode || frame->doc().currentNode->directory != gone);
  // Back still works and lands on what is left.
  frame->action(kCmdBack)->trigger();
  QVERIFY(frame->isVisible());
}

void UpdateCommandsTest::closeWaitsForRunningUpdate() {
  CTempTree served;
  served.AddFile("pub/readme.txt", "hello");
  PyFtpOptions options;
  // The root's listing hangs, so the worker is inside an FTP call.
  options.faults.push_back({FtpFault::Command::kList, "/", FtpFault::Action::kSilence, {}, 120});
  auto server = StartServer(served, options);
  CTempTree data;
  WriteServerSite(data.path(), *server);
  auto frame = StartFrame(data.path());
  CFTPSite& site = *frame->doc().sites().front();

  frame->Command(kCmdUpdateAll);
  QTRY_VERIFY_WITH_TIMEOUT(frame->engine().ActiveWorkers() > 0, kWaitMs);
  QTRY_COMPARE_WITH_TIMEOUT(static_cast<int>(site.Status().outcome),
                            static_cast<int>(SiteStatus::Outcome::kConnected), kWaitMs);
  QVERIFY(frame->close());
  QVERIFY(!frame->engine().HasWork());
  QCOMPARE(site.updateState.load(), static_cast<int>(kUpdateStopped));
}

void UpdateCommandsTest::threadSettingTakesOneToFiveHundred() {
  CTempTree data;
  auto frame = StartFrame(data.path());
  MessageRecorder recorder;
  const int before = frame->engine().MaxWorkers();
  QString shown;
  // Each refused text keeps the dialog open with a message; the user then
  // gives up, and the old value stays.
  CDialogSeam::SetDialogHook([&](QDialog& dialog) {
    auto* edit = dialog.findChild<QLineEdit*>(QStringLiteral("threadsEdit"));
    shown = edit->text();
    for (const char* text : {"0", "501", "abc", ""}) {
      edit->setText(QLatin1String(text));
      dialog.findChild<QPushButton*>(QStringLiteral("okButton"))->click();
      if (dialog.result() == QDialog::Accepted) return int{QDialog::Accepted};
    }
    return int{QDialog::Rejected};
  });
  frame->Command(kCmdSettings);
  QCOMPARE(shown, QString::number(before));
  QCOMPARE(recorder.texts(),
           QStringList({QStringLiteral("请输入 1 到 500 之间的整数。"),
                        QStringLiteral("请输入 1 到 500 之间的整数。"),
                        QStringLiteral("请输入一个整数。"), QStringLiteral("请输入一个整数。")}));
  QCOMPARE(frame->engine().MaxWorkers(), before);

  // Connections per site go with it; the box cannot go past 16.
  QString total;
  CDialogSeam::SetDialogHook([&](QDialog& dialog) {
    dialog.findChild<QLineEdit*>(QStringLiteral("threadsEdit"))->setText(QStringLiteral("500"));
    dialog.findChild<QSpinBox*>(QStringLiteral("connectionsEdit"))->setValue(99);
    total = dialog.findChild<QLabel*>(QStringLiteral("connectionsTotal"))->text();
    dialog.findChild<QPushButton*>(QStringLiteral("okButton"))->click();
    return dialog.result();
  });
  frame->Command(kCmdSettings);
  QCOMPARE(frame->engine().MaxWorkers(), 500);
  QCOMPARE(frame->engine().ConnectionsPerSite(), 16);
  QVERIFY2(total.contains(QStringLiteral("8000")), qPrintable(total));
  // The next run starts with them.
  frame.reset();
  frame = StartFrame(data.path());
  QCOMPARE(frame->engine().MaxWorkers(), 500);
  QCOMPARE(frame->engine().ConnectionsPerSite(), 16);
  QSettings().remove(QStringLiteral("update/threads"));
  QSettings().remove(QStringLiteral("update/connections"));
}

QTEST_MAIN(UpdateCommandsTest)
#include "update_commands_test.moc"
