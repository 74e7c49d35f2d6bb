#include "frame/marks_saver.h"

#include <QStringList>
#include <QTimer>
#include <algorithm>

#include "document/orvane_doc.h"
#include "document/site_store.h"

namespace orvane {

CMarksSaver::CMarksSaver(COrvaneDoc& doc, std::function<void(const QString&)> report,
                         QObject* parent)
    : QObject(parent), doc_(doc), report_(std::move(report)), timer_(new QTimer(this)) {
  timer_->setInterval(kPeriod);
  connect(timer_, &QTimer::timeout, this, &CMarksSaver::Tick);
  timer_->start();
}

CMarksSaver::~CMarksSaver() = default;

void CMarksSaver::SaveNow() { Hand(true); }

void CMarksSaver::Tick() { Hand(false); }

bool CMarksSaver::InFlight(const CFTPSite* site) const { return inFlight_.count(site) != 0; }

void CMarksSaver::Hand(bool ignoreDelay) {
  CSiteStore* store = doc_.siteStore();
  if (!store) return;
  const auto now = std::chrono::steady_clock::now();
  for (const auto& site : doc_.sites()) {
    if (!site->stateDirty.load() || InFlight(site.get())) continue;
    if (const auto failed = failing_.find(site.get());
        !ignoreDelay && failed != failing_.end() && now < failed->second.retryAt) {
      continue;
    }
    inFlight_.emplace(site.get(), site);
    ++handed_;
    store->SaveMarks(site);
  }
}

void CMarksSaver::Saved(const std::shared_ptr<CFTPSite>& site, CFTPSite::SaveResult result,
                        const std::string& error) {
  if (inFlight_.erase(site.get()) == 0) return;
  if (result == CFTPSite::SaveResult::kFailed) {
    Failing& failing = failing_[site.get()];
    failing.error = error;
    failing.delay = std::min(kMaxBackOff, std::max(kPeriod, failing.delay * 2));
    failing.retryAt = std::chrono::steady_clock::now() + failing.delay;
  } else if (result == CFTPSite::SaveResult::kSaved) {
    failing_.erase(site.get());
  }
  // Reported once every save handed out has come back, so the failures of
  // one round show in one box.
  if (inFlight_.empty()) Report();
}

void CMarksSaver::Report() {
  // Sites that left the list fail no more.
  std::erase_if(failing_, [this](const auto& failed) {
    return doc_.IndexOf(failed.first) >= doc_.sites().size();
  });
  QStringList lines;
  for (const auto& site : doc_.sites()) {
    if (const auto failed = failing_.find(site.get()); failed != failing_.end()) {
      lines << QString::fromStdString(failed->second.error);
    }
  }
  const QString text = lines.join(QLatin1Char('\n'));
  if (text.isEmpty()) {
    reported_.clear();
    return;
  }
  if (text != reported_) {
    reported_ = text;
    if (report_) report_(text);
  }
}

}  // namespace orvane
