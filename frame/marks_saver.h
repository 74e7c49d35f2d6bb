// Writes the marks cleared in the window to each site's state.st soon after
// they were cleared, not only at exit, so a crash or a kill loses none.
//
// Every command that clears marks only flags the site (stateDirty); the
// saver looks for flagged sites every kPeriod and hands each to the site
// store (document/site_store.h), whose worker saves it (CFTPSite::SaveFiles:
// under the site's locks, taking over what other processes saved
// meanwhile), so many clearings within a period cost one write and the
// window never waits for a lock or the disk. One save per site is handed
// at a time. A site whose save failed (a full disk, say) is tried again only
// after a delay that doubles with each failure, from kPeriod up to
// kMaxBackOff, rather than rewriting its files every period; a save that
// works ends the delay. The failures are reported through `report` once,
// and again only when what fails changes. Front end's thread only.
#pragma once

#include <QObject>
#include <QString>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>

#include "catalog/ftp_site.h"

class QTimer;

namespace orvane {

class COrvaneDoc;

class CMarksSaver : public QObject {
  Q_OBJECT

 public:
  static constexpr std::chrono::milliseconds kPeriod{1000};
  static constexpr std::chrono::milliseconds kMaxBackOff{60000};

  CMarksSaver(COrvaneDoc& doc, std::function<void(const QString&)> report,
              QObject* parent = nullptr);
  ~CMarksSaver() override;

  // Hands every flagged site to the store now, those waiting out a
  // failure's delay included. Returns at once.
  void SaveNow();
  // The periodic look: flagged sites not waiting out a delay.
  void Tick();
  // The store ended a save handed by this saver.
  void Saved(const std::shared_ptr<CFTPSite>& site, CFTPSite::SaveResult result,
             const std::string& error);
  // Saves handed to the store so far.
  long handed() const { return handed_; }
  // Whether a save of the site is with the store.
  bool InFlight(const CFTPSite* site) const;

 private:
  void Hand(bool ignoreDelay);
  void Report();

  struct Failing {
    std::string error;
    std::chrono::milliseconds delay{0};
    std::chrono::steady_clock::time_point retryAt;
  };

  COrvaneDoc& doc_;
  std::function<void(const QString&)> report_;
  QTimer* timer_;
  std::unordered_map<const CFTPSite*, std::weak_ptr<CFTPSite>> inFlight_;
  std::unordered_map<const CFTPSite*, Failing> failing_;
  long handed_ = 0;
  // What was last reported, so a lasting failure shows one box.
  QString reported_;
};

}  // namespace orvane
