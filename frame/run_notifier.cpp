#include "frame/run_notifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QSettings>
#include <QStringList>
#include <QVariantMap>
#include <QWidget>
#include <algorithm>
#include <climits>
#include <ctime>
#include <string_view>

#include "catalog/change_journal.h"
#include "document/version.h"
#include "document/watch_words.h"

namespace orvane {

namespace {

const QString kEnabledKey = QStringLiteral("notify/enabled");
const QString kEveryRunKey = QStringLiteral("notify/everyRun");
const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
// The action a click on the notification's body invokes.
const QString kDefaultAction = QStringLiteral("default");

int Clamp(std::uint64_t n) { return static_cast<int>(std::min<std::uint64_t>(n, INT_MAX)); }

}  // namespace

bool CRunNotifier::Enabled() { return QSettings().value(kEnabledKey, true).toBool(); }

void CRunNotifier::SetEnabled(bool enabled) { QSettings().setValue(kEnabledKey, enabled); }

bool CRunNotifier::EveryRun() { return QSettings().value(kEveryRunKey, false).toBool(); }

void CRunNotifier::SetEveryRun(bool everyRun) { QSettings().setValue(kEveryRunKey, everyRun); }

bool CRunNotifier::Eventful(const Counts& counts) {
  return counts.added + counts.removed + counts.resized > 0 || counts.failed > 0 ||
         counts.partial > 0;
}

QString CRunNotifier::Summary(const Counts& counts) {
  QStringList parts;
  if (counts.updated) parts << tr("%n 个站点已更新", nullptr, counts.updated);
  if (counts.partial) parts << tr("%n 个站点未能完整获取", nullptr, counts.partial);
  if (counts.failed) parts << tr("%n 个站点更新失败", nullptr, counts.failed);
  if (parts.isEmpty()) return tr("更新结束");
  return parts.join(tr("，"));
}

QString CRunNotifier::Body(const Counts& counts) {
  QStringList parts{tr("新增 %n 项", nullptr, Clamp(counts.added)),
                    tr("删除 %n 项", nullptr, Clamp(counts.removed)),
                    tr("大小改变 %n 项", nullptr, Clamp(counts.resized))};
  // Without watch words a count of matches would only puzzle.
  if (counts.watching) parts << tr("%n 项匹配关注词", nullptr, Clamp(counts.matched));
  QString body = parts.join(tr("，"));
  if (!counts.failedSites.isEmpty()) {
    body += QLatin1Char('\n') + tr("失败：%1").arg(counts.failedSites.join(tr("、")));
  }
  return body;
}

CRunNotifier::CRunNotifier(QWidget* window, QObject* parent) : QObject(parent), window_(window) {}

CRunNotifier::~CRunNotifier() = default;

void CRunNotifier::RunBegan() { runStart_ = static_cast<std::int64_t>(std::time(nullptr)); }

void CRunNotifier::RunEnded(const Outcome& outcome, std::vector<Site> sites,
                            std::vector<std::string> words) {
  const bool send = Enabled();
  const bool everyRun = EveryRun();
  reader_.Post([this, outcome, send, everyRun, sites = std::move(sites), words = std::move(words),
                since = runStart_] {
    CWatchWords watch(words);
    Counts counts;
    counts.updated = outcome.updated;
    counts.partial = outcome.partial;
    counts.failed = outcome.failed;
    counts.failedSites = outcome.failedSites;
    counts.watching = !watch.Empty();
    counts.send = send;
    counts.everyRun = everyRun;
    for (const Site& site : sites) CountSite(site, since, watch, counts);
    {
      std::lock_guard guard(seenMutex_);
      counted_.push_back(counts);
    }
    QMetaObject::invokeMethod(this, "SendCounted", Qt::QueuedConnection);
  });
}

void CRunNotifier::SendCounted() {
  for (;;) {
    Counts counts;
    {
      std::lock_guard guard(seenMutex_);
      if (counted_.empty()) return;
      counts = counted_.front();
      counted_.pop_front();
    }
    Send(counts);
  }
}

void CRunNotifier::CountSite(const Site& site, std::int64_t since, CWatchWords& words,
                             Counts& counts) {
  std::string bytes;
  if (!ReadJournalFile(site.journal, bytes)) return;
  const std::string_view all(bytes);
  const JournalFrames scan = ScanJournal(all);
  if (scan.frames.empty()) return;
  const auto frameBytes = [&](std::size_t i) {
    return all.substr(scan.frames[i].offset, scan.frames[i].size);
  };
  // Records after the last one counted are this run's; the start time
  // alone decides for a site not counted before in this process.
  std::size_t first = 0;
  {
    std::lock_guard guard(seenMutex_);
    if (const auto seen = seen_.find(site.journal); seen != seen_.end()) {
      for (std::size_t i = scan.frames.size(); i-- > 0;) {
        if (scan.frames[i].size == seen->second.size && Crc32(frameBytes(i)) == seen->second.crc) {
          first = i + 1;
          break;
        }
      }
    }
  }
  for (std::size_t i = first; i < scan.frames.size(); ++i) {
    JournalRecord record;
    if (!DecodeJournalRecord(frameBytes(i), record) || record.startTime < since) continue;
    counts.added += record.added;
    counts.removed += record.removed;
    counts.resized += record.resized;
    counts.matched += words.CountMatches(record);
  }
  const std::size_t last = scan.frames.size() - 1;
  std::lock_guard guard(seenMutex_);
  seen_[site.journal] = {Crc32(frameBytes(last)), scan.frames[last].size};
}

void CRunNotifier::Send(const Counts& counts) {
  if (!counts.send || (!counts.everyRun && !Eventful(counts))) return;
  // Without a session bus (a bare session, a service account) the run's
  // end shows in the status bar only.
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return;
  if (!listening_) {
    listening_ = bus.connect(QString(), kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                             SLOT(OnActionInvoked(uint, QString)));
  }
  const QString summary = Summary(counts);
  // The service may read the body as markup: a site named "<b>x" shows
  // as typed.
  const QString body = Body(counts).toHtmlEscaped();
  QDBusMessage call =
      QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
  QVariantMap hints;
  const QString appId =
      QString::fromUtf8(kOrvaneAppId.data(), static_cast<qsizetype>(kOrvaneAppId.size()));
  hints.insert(QStringLiteral("desktop-entry"), appId);
  // The previous run's notification, if still shown, is replaced rather
  // than stacked.
  call << QStringLiteral("Orvane") << lastId_ << appId << summary << body
       << QStringList{kDefaultAction, tr("显示变化")} << hints << qint32{-1};
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* done) {
    const QDBusPendingReply<uint> reply = *done;
    // No service: nothing was shown, and nothing can be clicked.
    if (!reply.isError()) {
      lastId_ = reply.value();
      ids_.insert(lastId_);
    }
    done->deleteLater();
  });
  emit sent(summary, body);
}

void CRunNotifier::OnActionInvoked(uint id, const QString& action) {
  // Other programs' notifications raise the same signal.
  if (action != kDefaultAction || !ids_.contains(id)) return;
  if (window_->isMinimized()) {
    window_->showNormal();
  } else {
    window_->show();
  }
  window_->raise();
  window_->activateWindow();
  // The Changes view is the frame's; a frame without one just shows.
  QMetaObject::invokeMethod(window_, "ShowChangesView");
}

}  // namespace orvane
