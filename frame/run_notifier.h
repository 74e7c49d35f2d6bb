// Tells the desktop when an update run has ended, through the freedesktop
// notification service on the session bus, when something happened: an
// entry added, removed or resized, or a site that failed or was fetched
// only in part (the setting "notify/everyRun" tells every run). The title
// says what happened (updated, partly fetched, failed); the body counts
// the entries added, removed and resized and the added ones a watch word
// matches, and names the sites that failed. The body is escaped, since a
// notification service may read it as markup. Clicking the
// notification shows the window and its Changes view.
//
// The counts come from the journal records the run wrote (Data/KEY/
// changes.jn), read on a thread of the notifier's own so the window never
// waits on a disk; the text is sent with an asynchronous call, so a
// missing bus or service costs nothing and blocks nothing. The setting
// "notify/enabled" (on unless the user turns it off) is read at each run's
// end.
//
// Lives on the window thread; `window` outlives it.
#pragma once

#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "frame/serial_worker.h"

class QWidget;

namespace orvane {

class CWatchWords;

class CRunNotifier : public QObject {
  Q_OBJECT

 public:
  static bool Enabled();
  static void SetEnabled(bool enabled);
  // Whether a run that changed nothing and failed nowhere is told too.
  static bool EveryRun();
  static void SetEveryRun(bool everyRun);

  // A site of the ended run.
  struct Site {
    std::filesystem::path journal;  // its Data/KEY/changes.jn
  };
  // What the window knows when the run ends.
  struct Outcome {
    int updated = 0;  // sites whose update went through whole
    int partial = 0;  // went through, but some directories were not listed
    int failed = 0;
    QStringList failedSites;  // their names as shown
  };
  // What the notification says.
  struct Counts {
    int updated = 0;
    int partial = 0;
    int failed = 0;
    QStringList failedSites;
    std::uint64_t added = 0;
    std::uint64_t removed = 0;
    std::uint64_t resized = 0;
    std::uint64_t matched = 0;
    bool watching = false;  // the user has watch words
    bool send = true;       // notifications are on
    bool everyRun = false;  // sent even when nothing happened
  };
  // Something a person wants to hear of.
  static bool Eventful(const Counts& counts);
  // The title and the body as plain text.
  static QString Summary(const Counts& counts);
  static QString Body(const Counts& counts);

  explicit CRunNotifier(QWidget* window, QObject* parent = nullptr);
  ~CRunNotifier() override;

  // A run begins: its records are the ones that start from now on.
  void RunBegan();
  // The run is over and its catalogs saved; `words` are the user's watch
  // words. Sends the notification once the journals are read.
  void RunEnded(const Outcome& outcome, std::vector<Site> sites, std::vector<std::string> words);

 signals:
  // The notification was handed to the bus (for whoever wants to know).
  void sent(const QString& summary, const QString& body);

 private slots:
  void OnActionInvoked(uint id, const QString& action);

 private:
  // Sends what the pool has counted. The counts go through our own mutex,
  // not through a posted functor, so the hand-over is plain to see.
  Q_INVOKABLE void SendCounted();
  void Send(const Counts& counts);
  // Runs on the pool: adds the records of `site` that are new since the
  // last run's to `counts`.
  void CountSite(const Site& site, std::int64_t since, CWatchWords& words, Counts& counts);

  QWidget* window_;
  std::int64_t runStart_ = 0;  // seconds since the epoch
  // The notifications this process sent, for their clicks.
  QSet<uint> ids_;
  uint lastId_ = 0;
  bool listening_ = false;
  // Per journal, the last frame already counted (its CRC and size): two
  // runs within one second cannot be told apart by their times. Kept up
  // while notifications are off too, so turning them on counts nothing
  // twice.
  struct Seen {
    std::uint32_t crc = 0;
    std::size_t size = 0;
  };
  std::mutex seenMutex_;
  std::map<std::filesystem::path, Seen> seen_;
  std::deque<Counts> counted_;  // under seenMutex_
  // Reads the journals, one run after another; declared last, so it is
  // joined before the rest goes.
  CSerialWorker reader_;
};

}  // namespace orvane
