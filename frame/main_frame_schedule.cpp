// The frame's updates that run by themselves: the schedule, the tray icon
// that keeps the program running while they are on, the notification at
// each run's end, and their settings. Kept apart from the command plumbing
// in main_frame.cpp.
#include <QApplication>
#include <QDateTime>
#include <QStringList>
#include <QTimer>
#include <string>

#include "catalog/ftp_site.h"
#include "document/user_settings.h"
#include "frame/dialog_seam.h"
#include "frame/main_frame.h"
#include "frame/run_notifier.h"
#include "frame/tray_icon.h"
#include "frame/update_num_set.h"
#include "frame/update_schedule.h"
#include "frame/walk_runner.h"
#include "update/update_engine.h"

namespace orvane {

void CMainFrame::CreateSchedule() {
  // The same command as the user's Update all: same engine, same settings,
  // and a site another process is updating is left to it as ever.
  schedule_ =
      new CUpdateSchedule([this] { return UserBusy(); }, [this] { Command(kCmdUpdateAll); }, this);
  notifier_ = new CRunNotifier(this, this);
  tray_ = new CTrayIcon(
      this, [this] { Command(kCmdUpdateAll); }, [this] { Quit(); }, this);
  tray_->SetActive(schedule_->settings().everyHours > 0);
  connect(schedule_, &CUpdateSchedule::ready, this, &CMainFrame::UpdateTrayTip);
}

void CMainFrame::UpdateTrayTip() {
  const auto when = [](qint64 ms) {
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm"));
  };
  QStringList lines{QStringLiteral("Orvane")};
  const UpdateProgress progress = engine_->Progress();
  if (!progress.finished) {
    lines << tr("正在更新：%1/%2 个站点").arg(progress.done).arg(progress.total);
  }
  const qint64 last = schedule_->LastRunAt();
  lines << (last > 0 ? tr("上次更新：%1").arg(when(last)) : tr("上次更新：从未"));
  const qint64 next = schedule_->NextRunAt();
  lines << (next > 0    ? tr("下次更新：%1").arg(when(next))
            : next == 0 ? tr("下次更新：现在")
                        : tr("下次更新：未安排"));
  tray_->SetToolTip(lines.join(QLatin1Char('\n')));
}

void CMainFrame::StartSchedule() {
  if (schedule_->started()) return;
  std::vector<std::filesystem::path> siteDirs;
  for (const auto& site : doc_->sites()) {
    siteDirs.push_back(site->DataDirectory(doc_->GetProgramDir()));
  }
  schedule_->Start(std::move(siteDirs));
}

bool CMainFrame::UserBusy() const {
  return QApplication::activeModalWidget() || QApplication::activePopupWidget() ||
         doc_->walking() || walks_->busy() || engine_->HasWork() || progressTimer_->isActive();
}

void CMainFrame::ShowScheduleSettings(CUpdateNumSet& dialog) const {
  const CUpdateSchedule::Settings& settings = schedule_->settings();
  dialog.SetSchedule(settings.everyHours, settings.atStartHours, CRunNotifier::Enabled());
  dialog.SetNotifyEveryRun(CRunNotifier::EveryRun());
  // orvane-cli may have changed them since: the dialog shows, and OK
  // writes back, only what the file holds now.
  doc_->ReloadUserSettings();
  const UserSettings& shared = doc_->userSettings();
  dialog.SetJournalLimits(static_cast<int>(shared.journalUpdates),
                          static_cast<int>(shared.journalMegabytes));
}

void CMainFrame::ApplyScheduleSettings(const CUpdateNumSet& dialog) {
  const CUpdateSchedule::Settings settings{dialog.EveryHours(), dialog.AtStartHours()};
  CUpdateSchedule::Save(settings);
  schedule_->Apply(settings);
  CRunNotifier::SetEnabled(dialog.Notify());
  CRunNotifier::SetEveryRun(dialog.NotifyEveryRun());
  tray_->SetActive(settings.everyHours > 0);
  UpdateTrayTip();

  // Shared with orvane-cli through the data directory: written only when
  // changed, so a dialog closed with OK does not rewrite another program's
  // settings.
  UserSettings shared = doc_->userSettings();
  shared.journalUpdates = static_cast<std::size_t>(dialog.JournalUpdates());
  shared.journalMegabytes = static_cast<std::size_t>(dialog.JournalMegabytes());
  std::string error;
  if (!(shared == doc_->userSettings()) && !doc_->SetUserSettings(shared, &error)) {
    CDialogSeam::Warn(this, tr("设置无法保存：\n%1").arg(QString::fromStdString(error)));
  }
}

void CMainFrame::Quit() {
  quitting_ = true;
  // With the tray icon the program does not end with its last window.
  if (close() && !QApplication::quitOnLastWindowClosed()) QApplication::quit();
  quitting_ = false;
}

}  // namespace orvane
