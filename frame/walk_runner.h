// Runs the document's walks (search, listings, clearing marks) from the
// window's event loop, one step per pass of a zero-interval timer.
//
// A command that starts a walk returns at once; each step works through the
// walk's pauses until the document's pumpSlice is used up (at most about two
// slices) and then returns to the event loop, so the window
// stays responsive without any command running a nested loop (a menu or
// dialog that sent the command is never destroyed under its own event).
// Slices from the event loop rather than a worker thread: the walks read
// catalogs that update workers change under each site's lock and append to
// the document's lists, which only this thread touches; stepping them here
// keeps every rule of the removal hand-over (COrvaneDoc::WalkGuard) as it is,
// and a step costs no more than the same walk run headless.
//
// A walk that waits for a catalog the site store reads is not stepped until
// the store says a catalog came (CatalogLoaded). Walks run one after another
// in the order started. Front end's thread only.
#pragma once

#include <QObject>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>

class QTimer;

namespace orvane {

class CDocWalk;
class COrvaneDoc;

class CWalkRunner : public QObject {
  Q_OBJECT

 public:
  explicit CWalkRunner(COrvaneDoc& doc, QObject* parent = nullptr);
  ~CWalkRunner() override;

  // Queues `walk`; `done` runs after it has ended, stopped or not.
  void Start(std::unique_ptr<CDocWalk> walk, std::function<void()> done = {});
  // The running walk ends at its next step (the search box's stop).
  void StopCurrent();
  // A catalog the site store read is in memory: a walk waiting for one
  // goes on (it asks again for its own, should this be another's).
  void CatalogLoaded();
  // Stops every walk and runs each to its end at once (closing).
  void Finish();
  bool busy() const { return !jobs_.empty(); }
  // Whether a walk that fills the result lists is queued or running.
  bool listing() const;
  // The longest single step so far, for the benchmarks.
  std::chrono::nanoseconds longestStep() const { return longestStep_; }
  // All steps so far and their time, for the benchmarks.
  long steps() const { return steps_; }
  std::chrono::nanoseconds stepTime() const { return stepTime_; }

 signals:
  // After a step that paused: the results so far have been told.
  void paused();

 private:
  struct Job {
    std::unique_ptr<CDocWalk> walk;
    std::function<void()> done;
  };
  void Step();
  // Ends the front job: pops it, then runs its `done`.
  void Complete();

  COrvaneDoc& doc_;
  QTimer* timer_;
  std::deque<Job> jobs_;
  // Set while a step runs: a box the walk opens at its end runs an event
  // loop, which must not step the walk again.
  bool stepping_ = false;
  // The front walk returned kWaiting and waits for CatalogLoaded.
  bool waiting_ = false;
  std::chrono::nanoseconds longestStep_{0};
  long steps_ = 0;
  std::chrono::nanoseconds stepTime_{0};
};

}  // namespace orvane
