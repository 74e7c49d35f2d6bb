#include "frame/update_schedule.h"

#include <QDateTime>
#include <QSettings>
#include <QTimer>
#include <algorithm>
#include <limits>
#include <string>
#include <utility>

#include "catalog/site_health.h"

namespace orvane {

namespace {

const QString kEveryKey = QStringLiteral("schedule/everyHours");
const QString kAtStartKey = QStringLiteral("schedule/atStartHours");

// The timer never waits longer than this: a QTimer takes an int of
// milliseconds, and a clock that jumps (a suspend, a changed date) is
// noticed within the hour.
constexpr qint64 kMaxWaitMs = 3600 * 1000;

// When the site's last successful update ended, in milliseconds since the
// epoch; 0 when it never succeeded (or its record cannot be read).
qint64 LastSuccessMs(const std::filesystem::path& siteDir) {
  const std::optional<SiteHealth> health = ReadSiteHealth(siteDir);
  return health ? std::max<qint64>(0, health->lastSuccess) * 1000 : 0;
}

int ReadHours(const QSettings& settings, const QString& key) {
  const int hours = settings.value(key, 0).toInt();
  // A value edited by hand out of range means off, not a run every minute.
  return hours >= 0 && hours <= CUpdateSchedule::kMaxHours ? hours : 0;
}

}  // namespace

CUpdateSchedule::Settings CUpdateSchedule::Load() {
  const QSettings settings;
  return {ReadHours(settings, kEveryKey), ReadHours(settings, kAtStartKey)};
}

void CUpdateSchedule::Save(const Settings& values) {
  QSettings settings;
  settings.setValue(kEveryKey, values.everyHours);
  settings.setValue(kAtStartKey, values.atStartHours);
}

CUpdateSchedule::CUpdateSchedule(std::function<bool()> busy, std::function<void()> run,
                                 QObject* parent)
    : QObject(parent),
      busy_(std::move(busy)),
      run_(std::move(run)),
      clock_([] { return QDateTime::currentMSecsSinceEpoch(); }),
      settings_(Load()),
      timer_(new QTimer(this)) {
  timer_->setSingleShot(true);
  connect(timer_, &QTimer::timeout, this, &CUpdateSchedule::Fire);
}

CUpdateSchedule::~CUpdateSchedule() = default;

void CUpdateSchedule::Apply(const Settings& settings) {
  settings_ = settings;
  Arm();
}

void CUpdateSchedule::Start(std::vector<std::filesystem::path> siteDirs) {
  if (siteDirs.empty()) {
    // No sites: nothing is old, and the periods count from now.
    Started(clock_());
    return;
  }
  reader_.Post([this, siteDirs = std::move(siteDirs)] {
    qint64 oldest = std::numeric_limits<qint64>::max();
    for (const auto& dir : siteDirs) oldest = std::min(oldest, LastSuccessMs(dir));
    {
      std::lock_guard guard(readMutex_);
      read_ = oldest;
    }
    QMetaObject::invokeMethod(this, "TakeRead", Qt::QueuedConnection);
  });
}

void CUpdateSchedule::TakeRead() {
  std::optional<qint64> read;
  {
    std::lock_guard guard(readMutex_);
    read = std::exchange(read_, std::nullopt);
  }
  if (read) Started(*read);
}

void CUpdateSchedule::Started(qint64 lastUpdateMs) {
  if (stopped_) return;
  started_ = true;
  // A run the user started while the journals were read counts too.
  lastRunMs_ = std::max(lastRunMs_, lastUpdateMs);
  startRunDue_ = settings_.atStartHours > 0 &&
                 clock_() - lastRunMs_ >= qint64{settings_.atStartHours} * hourMs_;
  Arm();
  emit ready();
}

void CUpdateSchedule::Stop() {
  stopped_ = true;
  started_ = false;
  timer_->stop();
}

void CUpdateSchedule::RunStarted() {
  lastRunMs_ = clock_();
  startRunDue_ = false;
  Arm();
}

qint64 CUpdateSchedule::NextRunAt() const {
  if (!started_) return -1;
  if (startRunDue_) return 0;
  if (settings_.everyHours <= 0) return -1;
  return lastRunMs_ + qint64{settings_.everyHours} * hourMs_;
}

void CUpdateSchedule::Arm() {
  const qint64 due = NextRunAt();
  if (due < 0) {
    timer_->stop();
    return;
  }
  timer_->start(static_cast<int>(std::clamp<qint64>(due - clock_(), 0, kMaxWaitMs)));
}

void CUpdateSchedule::Fire() {
  const qint64 due = NextRunAt();
  if (due < 0) return;
  if (clock_() < due) {
    Arm();
    return;
  }
  // The user's dialog, menu, walk or update comes first; the run waits.
  if (busy_()) {
    timer_->start(retryMs_);
    emit deferred();
    return;
  }
  run_();
  RunStarted();
}

}  // namespace orvane
