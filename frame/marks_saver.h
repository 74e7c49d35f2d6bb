// Writes the marks cleared in the window to each site's state.st soon after
// they were cleared, not only at exit, so a crash or a kill loses none.
//
// Every command that clears marks only flags the site (stateDirty); the
// saver looks for flagged sites every kPeriod and saves them through the
// document (CFTPSite::SaveFiles: under the site's lock, taking over what
// other processes saved meanwhile), so many clearings within a period cost
// one write. A failed write is reported through `report` once, and again
// only after a write that worked. Front end's thread only.
#pragma once

#include <QObject>
#include <QString>
#include <chrono>
#include <functional>

class QTimer;

namespace orvane {

class COrvaneDoc;

class CMarksSaver : public QObject {
  Q_OBJECT

 public:
  static constexpr std::chrono::milliseconds kPeriod{1000};

  CMarksSaver(COrvaneDoc& doc, std::function<void(const QString&)> report,
              QObject* parent = nullptr);
  // Saves every flagged site now. False when a save failed.
  bool SaveNow();

 private:
  COrvaneDoc& doc_;
  std::function<void(const QString&)> report_;
  QTimer* timer_;
  // What was last reported, so a lasting failure shows one box.
  QString reported_;
};

}  // namespace orvane
