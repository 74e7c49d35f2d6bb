// Updates that run by themselves in the window, against a real FTP server
// on loopback: the schedule starts Update all with no command from the
// user, waits while a modal dialog is open, runs at start only when the
// last update is old enough; its settings go through the settings dialog;
// closing still quits where there is no tray. The process has no session
// bus at all, so every run here also shows that a missing notification
// service changes nothing.
#include <QAction>
#include <QCheckBox>
#include <QDateTime>
#include <QDialog>
#include <QMenu>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <ctime>

#include "catalog/change_journal.h"
#include "catalog/site_health.h"
#include "document/user_settings.h"
#include "frame/run_notifier.h"
#include "frame/tray_icon.h"
#include "frame/update_schedule.h"
#include "tests/frame/frame_fixture.h"
#include "tests/support/ftp_server.h"
#include "update/update_engine.h"
#include "views/dir_view.h"

using namespace orvane;
using namespace orvane::test;
namespace fs = std::filesystem;

namespace {

std::vector<JournalRecord> Journal(const fs::path& dir) {
  std::string bytes;
  if (!ReadJournalFile(dir / kJournalFileName, bytes)) return {};
  return ReadJournal(bytes);
}

}  // namespace

class UpdateScheduleTest : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void cleanup();
  void scheduledRunWaitsForDialogThenRepeats();
  void atStartRunsOnlyWhenLastUpdateIsOld_data();
  void atStartRunsOnlyWhenLastUpdateIsOld();
  void settingsDialogSavesSchedule();
  void closeQuitsWithoutTray();
  void trayMenuShowsUpdatesAndQuits();

 private:
  std::unique_ptr<CTempTree> served_;
  std::unique_ptr<CFtpServer> server_;
  std::unique_ptr<CTempTree> data_;
  fs::path siteDir_;
};

void UpdateScheduleTest::init() {
  QSettings().clear();
  served_ = std::make_unique<CTempTree>();
  served_->AddFile("pub/readme.txt", "hello");
  server_ = StartServer(*served_);
  data_ = std::make_unique<CTempTree>();
  WriteServerSite(data_->path(), *server_);
  siteDir_ = data_->path() / "Data" / server_->host();
}

void UpdateScheduleTest::cleanup() {
  CDialogSeam::ClearHooks();
  QSettings().clear();
}

void UpdateScheduleTest::scheduledRunWaitsForDialogThenRepeats() {
  CUpdateSchedule::Save({1, 0});
  auto frame = StartFrame(data_->path());
  CUpdateSchedule& schedule = frame->schedule();
  // An "hour" of 300 ms; the site was never updated, so a run is due.
  schedule.SetHourMs(300);
  schedule.SetRetryMs(20);
  CFTPSite& site = *frame->doc().sites().front();
  frame->dirView().SelectSite(&site);
  QSignalSpy deferred(&schedule, &CUpdateSchedule::deferred);

  QDialog dialog(frame.get());
  dialog.setModal(true);
  dialog.show();
  QTRY_VERIFY_WITH_TIMEOUT(deferred.count() >= 3, kWaitMs);
  QVERIFY(!frame->engine().HasWork());
  QCOMPARE(site.updateState.load(), static_cast<int>(kNeverUpdated));
  dialog.close();

  // No command from the user: the schedule runs Update all, and again an
  // "hour" later.
  QTRY_COMPARE_WITH_TIMEOUT(Journal(siteDir_).size(), std::size_t{1}, kWaitMs);
  QTRY_COMPARE_WITH_TIMEOUT(Journal(siteDir_).size(), std::size_t{2}, kWaitMs);
  QTRY_COMPARE_WITH_TIMEOUT(frame->statusBar()->currentMessage(), QStringLiteral("更新完成"),
                            kWaitMs);
  // What the user had selected stays.
  QCOMPARE(frame->dirView().CurrentSite(), &site);
}

void UpdateScheduleTest::atStartRunsOnlyWhenLastUpdateIsOld_data() {
  QTest::addColumn<int>("hoursAgo");  // -1: never updated
  QTest::addColumn<int>("atStartHours");
  QTest::addColumn<bool>("runs");
  QTest::newRow("older than the limit") << 3 << 2 << true;
  QTest::newRow("never updated") << -1 << 2 << true;
  QTest::newRow("recent") << 1 << 2 << false;
  QTest::newRow("setting off") << 3 << 0 << false;
}

void UpdateScheduleTest::atStartRunsOnlyWhenLastUpdateIsOld() {
  QFETCH(int, hoursAgo);
  QFETCH(int, atStartHours);
  QFETCH(bool, runs);
  if (hoursAgo >= 0) {
    SiteHealth health;
    health.lastSuccess = static_cast<std::int64_t>(std::time(nullptr)) - hoursAgo * 3600;
    fs::create_directories(siteDir_);
    QVERIFY(WriteSiteHealth(siteDir_, health));
  }
  CUpdateSchedule::Save({0, atStartHours});
  auto frame = StartFrame(data_->path());
  QTRY_VERIFY_WITH_TIMEOUT(frame->schedule().started(), kWaitMs);
  if (!runs) {
    QCOMPARE(frame->schedule().NextRunAt(), qint64{-1});
    return;
  }
  CFTPSite& site = *frame->doc().sites().front();
  QTRY_COMPARE_WITH_TIMEOUT(site.updateState.load(), static_cast<int>(kUpdateSucceeded), kWaitMs);
  QTRY_COMPARE_WITH_TIMEOUT(frame->statusBar()->currentMessage(), QStringLiteral("更新完成"),
                            kWaitMs);
  // Once: nothing more is due.
  QCOMPARE(frame->schedule().NextRunAt(), qint64{-1});
}

void UpdateScheduleTest::settingsDialogSavesSchedule() {
  auto frame = StartFrame(data_->path());
  struct Shown {
    bool every, atStart, notify;
    int everyHours, atStartHours, journalUpdates;
  } shown{};
  const auto answer = [&shown](bool every, int everyHours, bool atStart, int atStartHours,
                               bool notify) {
    CDialogSeam::SetDialogHook([=, &shown](QDialog& dialog) {
      auto* everyCheck = dialog.findChild<QCheckBox*>(QStringLiteral("everyCheck"));
      auto* everyEdit = dialog.findChild<QSpinBox*>(QStringLiteral("everyHoursEdit"));
      auto* atStartCheck = dialog.findChild<QCheckBox*>(QStringLiteral("atStartCheck"));
      auto* atStartEdit = dialog.findChild<QSpinBox*>(QStringLiteral("atStartHoursEdit"));
      auto* notifyCheck = dialog.findChild<QCheckBox*>(QStringLiteral("notifyCheck"));
      auto* journalUpdates = dialog.findChild<QSpinBox*>(QStringLiteral("journalUpdatesEdit"));
      shown = {everyCheck->isChecked(), atStartCheck->isChecked(), notifyCheck->isChecked(),
               everyEdit->value(),      atStartEdit->value(),      journalUpdates->value()};
      everyCheck->setChecked(every);
      everyEdit->setValue(everyHours);
      atStartCheck->setChecked(atStart);
      atStartEdit->setValue(atStartHours);
      notifyCheck->setChecked(notify);
      journalUpdates->setValue(250);
      dialog.findChild<QSpinBox*>(QStringLiteral("journalMegabytesEdit"))->setValue(3);
      dialog.findChild<QPushButton*>(QStringLiteral("okButton"))->click();
      return dialog.result();
    });
  };
  answer(true, 6, true, 12, false);
  frame->Command(kCmdSettings);
  // Off by default, notifications on.
  QVERIFY(!shown.every && !shown.atStart && shown.notify);
  QCOMPARE(QSettings().value(QStringLiteral("schedule/everyHours")).toInt(), 6);
  QCOMPARE(QSettings().value(QStringLiteral("schedule/atStartHours")).toInt(), 12);
  QVERIFY(!CRunNotifier::Enabled());
  QVERIFY(frame->schedule().settings() == (CUpdateSchedule::Settings{6, 12}));
  // The journal's limits go to the data directory, where orvane-cli reads
  // them, and to every site at once.
  QCOMPARE(shown.journalUpdates, 1000);
  QVERIFY(UserSettings::Load(data_->path()) == (UserSettings{250, 3}));
  QCOMPARE(frame->doc().sites().front()->GetJournalLimits().maxUpdates, std::size_t{250});
  // The thread fields of the same dialog keep working.
  QCOMPARE(frame->engine().MaxWorkers(), CUpdateEngine::kDefaultMaxWorkers);

  // The next start reads them back; unchecking turns a schedule off.
  frame.reset();
  frame = StartFrame(data_->path());
  answer(false, 6, true, 12, true);
  frame->Command(kCmdSettings);
  QVERIFY(shown.every && shown.atStart && !shown.notify);
  QCOMPARE(shown.everyHours, 6);
  QCOMPARE(shown.atStartHours, 12);
  QCOMPARE(shown.journalUpdates, 250);
  QCOMPARE(frame->schedule().settings().everyHours, 0);
  QCOMPARE(QSettings().value(QStringLiteral("schedule/everyHours")).toInt(), 0);
  QVERIFY(CRunNotifier::Enabled());
}

void UpdateScheduleTest::closeQuitsWithoutTray() {
  CUpdateSchedule::Save({6, 0});
  auto frame = StartFrame(data_->path());
  if (QSystemTrayIcon::isSystemTrayAvailable()) {
    // The close button leaves the program in the tray; Quit ends it.
    QVERIFY(!frame->close());
    QVERIFY(!frame->isVisible());
    frame->Quit();
  } else {
    QVERIFY(frame->close());
  }
  QVERIFY(!frame->isVisible());
  // The close went all the way: the settings were saved on the way out.
  QVERIFY(QSettings().contains(QStringLiteral("frame/geometry")));
}

void UpdateScheduleTest::trayMenuShowsUpdatesAndQuits() {
  auto frame = StartFrame(data_->path());
  QMenu* menu = frame->tray().menu();
  const auto choose = [menu](const char* name) {
    menu->findChild<QAction*>(QLatin1String(name))->trigger();
  };
  frame->hide();
  choose("actionTrayShow");
  QVERIFY(frame->isVisible());
  const QString& tip = frame->tray().toolTip();
  QTRY_COMPARE(tip, QStringLiteral("Orvane\n上次更新：从未\n下次更新：未安排"));
  choose("actionTrayUpdate");
  // The run's progress, then the time it ran.
  QVERIFY2(tip.contains(QStringLiteral("正在更新：0/1 个站点")), qPrintable(tip));
  QTRY_COMPARE_WITH_TIMEOUT(Journal(siteDir_).size(), std::size_t{1}, kWaitMs);
  QTRY_COMPARE_WITH_TIMEOUT(frame->statusBar()->currentMessage(), QStringLiteral("更新完成"),
                            kWaitMs);
  const QString ran = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd"));
  QVERIFY2(!tip.contains(QStringLiteral("正在更新")) &&
               tip.contains(QStringLiteral("上次更新：%1").arg(ran)),
           qPrintable(tip));
  // Every 6 hours: the next run is 6 hours after that one.
  CDialogSeam::SetDialogHook([](QDialog& dialog) {
    dialog.findChild<QCheckBox*>(QStringLiteral("everyCheck"))->setChecked(true);
    dialog.findChild<QSpinBox*>(QStringLiteral("everyHoursEdit"))->setValue(6);
    dialog.findChild<QPushButton*>(QStringLiteral("okButton"))->click();
    return dialog.result();
  });
  frame->Command(kCmdSettings);
  CDialogSeam::ClearHooks();
  const QString next = QDateTime::fromMSecsSinceEpoch(frame->schedule().LastRunAt() + 6 * 3600'000)
                           .toString(QStringLiteral("yyyy-MM-dd HH:mm"));
  QVERIFY2(tip.endsWith(QStringLiteral("下次更新：%1").arg(next)), qPrintable(tip));
  CUpdateSchedule::Save({0, 0});
  choose("actionTrayQuit");
  QVERIFY(!frame->isVisible());
  QVERIFY(QSettings().contains(QStringLiteral("frame/geometry")));
}

int main(int argc, char** argv) {
  // No session bus at all: notifications have nowhere to go.
  qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/orvane-test-bus");
  QApplication app(argc, argv);
  UpdateScheduleTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "update_schedule_test.moc"
