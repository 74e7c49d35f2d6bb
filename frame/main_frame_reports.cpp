// The frame's reports to its user: copied addresses, duplicate sites, the
// import's outcome and the end of an update run. Kept apart from the
// command plumbing in main_frame.cpp.
#include <QSettings>
#include <QTimer>
#include <algorithm>
#include <climits>
#include <set>
#include <utility>

#include "catalog/ftp_site.h"
#include "frame/dialog_seam.h"
#include "frame/frame_host.h"
#include "frame/main_frame.h"
#include "frame/run_notifier.h"
#include "views/display_text.h"

namespace orvane {

namespace {

enum class RunEnd { kNone, kFailed, kStopped, kPartial, kFull };

RunEnd EndOf(const SiteStatus& status) {
  using Outcome = SiteStatus::Outcome;
  switch (status.outcome) {
    case Outcome::kFailed:
    case Outcome::kNoSession:
    case Outcome::kBrokenOff:
    case Outcome::kResuming:
      return RunEnd::kFailed;
    case Outcome::kStopped:
    case Outcome::kStoppedQueued:
      return RunEnd::kStopped;
    case Outcome::kSucceeded:
      return status.counts.any() ? RunEnd::kPartial : RunEnd::kFull;
    default:
      return RunEnd::kNone;
  }
}

}  // namespace

void CMainFrame::CopyAddresses(const std::vector<std::string>& displayPaths) {
  // A welcome row, or an entry whose site went meanwhile, has no address:
  // it is left out, and when nothing is left nothing is said.
  std::string lines;
  int count = 0;
  for (const std::string& path : displayPaths) {
    const std::string address = doc_->GetFileAddress(path);
    if (address.empty()) continue;
    if (count++ > 0) lines += '\n';
    lines += address;
  }
  if (count == 0) return;
  if (!host_->SetClipboardText(lines)) {
    CDialogSeam::Warn(this, tr("无法使用剪贴板，路径没有复制。"));
    return;
  }
  if (count == 1) {
    CDialogSeam::Inform(this, tr("文件路径已复制到剪贴板上，粘贴到FTP软件或浏览器中即可。"));
  } else {
    CDialogSeam::Inform(
        this, tr("%n 个文件路径已复制到剪贴板上（每行一个），粘贴到FTP软件或浏览器中即可。",
                 nullptr, count));
  }
}

QString CMainFrame::DuplicateProblem(const SiteSettings& settings, const CFTPSite* except) const {
  if (!doc_->HasSiteWithLogin(settings.host, settings.userName, except)) return {};
  return tr("站点已有！已有一个站点的主机“%1”和用户名“%2”与此相同。")
      .arg(SiteText(settings.host), SiteText(settings.userName));
}

QString CMainFrame::ImportSummary(const COrvaneDoc::ImportReport& report) {
  const auto count = [](std::size_t n) {
    return static_cast<int>(std::min<std::size_t>(n, INT_MAX));
  };
  QStringList parts{tr("添加了 %n 个站点", nullptr, count(report.added.size())),
                    tr("%n 个已有", nullptr, count(report.alreadyThere)),
                    tr("跳过 %n 行", nullptr, count(report.skipped))};
  if (!report.skippedLines.empty()) {
    QStringList lines;
    for (std::size_t line : report.skippedLines) lines << QString::number(line);
    if (report.skipped > report.skippedLines.size()) lines << QStringLiteral("...");
    parts.last() += tr("（第 %1 行）").arg(lines.join(tr("、")));
  }
  return tr("导入完成：%1").arg(parts.join(tr("，")));
}

void CMainFrame::BeginRun(const std::vector<std::shared_ptr<CFTPSite>>& sites) {
  if (!progressTimer_->isActive()) {
    runSites_.clear();
    notifier_->RunBegan();
  }
  runSites_.insert(runSites_.end(), sites.begin(), sites.end());
}

QString CMainFrame::RunSummary() {
  int failed = 0;
  int stopped = 0;
  int partial = 0;
  for (const auto& weak : std::exchange(runSites_, {})) {
    const std::shared_ptr<CFTPSite> site = weak.lock();
    if (!site) continue;  // deleted meanwhile
    switch (EndOf(site->Status())) {
      case RunEnd::kFailed:
        ++failed;
        break;
      case RunEnd::kStopped:
        ++stopped;
        break;
      case RunEnd::kPartial:
        ++partial;
        break;
      default:
        break;
    }
  }
  if (!failed && !stopped && !partial) return tr("更新完成");
  QStringList parts;
  if (failed) parts << tr("%n 个站点失败", nullptr, failed);
  if (stopped) parts << tr("%n 个站点被终止", nullptr, stopped);
  if (partial) parts << tr("%n 个站点未能完整获取", nullptr, partial);
  return tr("更新结束：%1").arg(parts.join(tr("，")));
}

void CMainFrame::NotifyRunEnd(const std::vector<std::weak_ptr<CFTPSite>>& run) {
  CRunNotifier::Outcome outcome;
  std::vector<CRunNotifier::Site> sites;
  std::set<const CFTPSite*> counted;
  for (const auto& weak : run) {
    const std::shared_ptr<CFTPSite> site = weak.lock();
    // Deleted meanwhile, or queued twice in one run.
    if (!site || !counted.insert(site.get()).second) continue;
    const RunEnd end = EndOf(site->Status());
    if (end == RunEnd::kFailed) {
      ++outcome.failed;
      outcome.failedSites << SiteText(site->nickname.empty() ? site->siteKey() : site->nickname);
    }
    if (end == RunEnd::kPartial) ++outcome.partial;
    if (end == RunEnd::kFull) ++outcome.updated;
    sites.push_back({site->DataDirectory(doc_->GetProgramDir()) / kJournalFileName});
  }
  if (sites.empty()) return;
  std::vector<std::string> words;
  for (const QString& word :
       QSettings().value(QStringLiteral("changes/watchWords")).toStringList()) {
    words.push_back(word.toStdString());
  }
  notifier_->RunEnded(outcome, std::move(sites), std::move(words));
}

}  // namespace orvane
