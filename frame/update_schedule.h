// Updates of every site that start by themselves: "every N hours" and
// "at start when the last update is older than N hours", both off unless
// the user sets them (QSettings "schedule/everyHours" and
// "schedule/atStartHours", 0 meaning off).
//
// The schedule never starts a run itself while the user is doing
// something: a due run asks `busy` first (a modal dialog or a menu open, a
// walk or an update running) and, while it says yes, looks again every
// retry interval. `run` starts the run the way the user's Update all does.
//
// "The last update" is the oldest of the sites' last successful updates,
// from the health record beside each catalog (a site never updated makes
// the at-start run due; an empty site list makes nothing due). The
// records, a few hundred bytes each, are read once, off the window thread,
// when Start() is given the sites' directories. A run of every site started by the
// user or by the schedule begins a new period, so a site that keeps
// failing does not make the schedule run again and again.
//
// Clock, hour length and retry interval are injectable so a test can run
// hours in milliseconds. Lives on the window thread.
#pragma once

#include <QObject>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "frame/serial_worker.h"

class QTimer;

namespace orvane {

class CUpdateSchedule : public QObject {
  Q_OBJECT

 public:
  struct Settings {
    int everyHours = 0;    // 0: no periodic runs
    int atStartHours = 0;  // 0: no run at start
    bool operator==(const Settings&) const = default;
  };
  static constexpr int kMaxHours = 24 * 365;
  static Settings Load();
  static void Save(const Settings& settings);

  // Milliseconds since the epoch.
  using Clock = std::function<qint64()>;

  CUpdateSchedule(std::function<bool()> busy, std::function<void()> run, QObject* parent = nullptr);
  ~CUpdateSchedule() override;

  void SetClock(Clock clock) { clock_ = std::move(clock); }
  void SetHourMs(qint64 ms) { hourMs_ = ms; }
  void SetRetryMs(int ms) { retryMs_ = ms; }

  const Settings& settings() const { return settings_; }
  // New settings take effect at once (a period already over runs now).
  void Apply(const Settings& settings);
  // Reads the health records in the sites' directories (Data/KEY) in the
  // background and then arms the timer; once, after the site list is read.
  void Start(std::vector<std::filesystem::path> siteDirs);
  // No more runs: the window is closing for good.
  void Stop();
  // An update of every site began (the user's or ours).
  void RunStarted();
  // Whether the records were read and the timer is in charge.
  bool started() const { return started_; }
  // When the next run is due (milliseconds since the epoch, 0 for now), or
  // -1 for none.
  qint64 NextRunAt() const;
  // When the last update of every site ran (milliseconds since the epoch),
  // or -1 when none is known.
  qint64 LastRunAt() const { return started_ && lastRunMs_ > 0 ? lastRunMs_ : -1; }

 signals:
  // After Start() has read the records.
  void ready();
  // A due run waits for the user (see `busy`).
  void deferred();

 private:
  // Takes what the reader found. The answer goes through our own mutex,
  // not through a posted functor, so the hand-over is plain to see.
  Q_INVOKABLE void TakeRead();
  void Started(qint64 lastUpdateMs);
  // Sets the timer for the next due run, or stops it when none is due.
  void Arm();
  void Fire();

  std::function<bool()> busy_;
  std::function<void()> run_;
  Clock clock_;
  qint64 hourMs_ = 3600 * 1000;
  int retryMs_ = 30 * 1000;
  Settings settings_;
  QTimer* timer_;
  bool started_ = false;
  bool startRunDue_ = false;
  bool stopped_ = false;
  // The later of the records' last update and the last run of every site.
  qint64 lastRunMs_ = 0;
  std::mutex readMutex_;
  std::optional<qint64> read_;
  // Reads the records; joined when the schedule goes.
  CSerialWorker reader_;
};

}  // namespace orvane
