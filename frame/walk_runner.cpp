#include "frame/walk_runner.h"

#include <QTimer>
#include <algorithm>
#include <utility>

#include "document/doc_walk.h"
#include "document/orvane_doc.h"

namespace orvane {

CWalkRunner::CWalkRunner(COrvaneDoc& doc, QObject* parent)
    : QObject(parent), doc_(doc), timer_(new QTimer(this)) {
  timer_->setInterval(0);
  connect(timer_, &QTimer::timeout, this, &CWalkRunner::Step);
}

CWalkRunner::~CWalkRunner() = default;

void CWalkRunner::Start(std::unique_ptr<CDocWalk> walk, std::function<void()> done) {
  if (!walk) return;
  jobs_.push_back({std::move(walk), std::move(done)});
  if (!stepping_) timer_->start();
}

void CWalkRunner::StopCurrent() {
  if (jobs_.empty()) return;
  jobs_.front().walk->Stop();
  // A walk waiting for a catalog ends at its next step.
  if (waiting_) CatalogLoaded();
}

void CWalkRunner::CatalogLoaded() {
  if (!waiting_) return;
  waiting_ = false;
  if (!stepping_) timer_->start();
}

bool CWalkRunner::listing() const {
  return std::any_of(jobs_.begin(), jobs_.end(),
                     [](const Job& job) { return job.walk->listsResults(); });
}

void CWalkRunner::Finish() {
  timer_->stop();
  while (!jobs_.empty()) {
    CDocWalk& walk = *jobs_.front().walk;
    walk.Stop();
    // Stopped, a walk waits for no catalog.
    while (walk.Run() != CDocWalk::Step::kDone) {
    }
    Complete();
  }
}

void CWalkRunner::Step() {
  if (stepping_ || jobs_.empty()) return;
  stepping_ = true;
  timer_->stop();
  const auto began = std::chrono::steady_clock::now();
  // A walk pauses at every site it begins, however little it did since
  // the last pause; each return to the event loop repaints the growing
  // list, which costs as much as walking a slice. So one step goes on
  // through pauses until the slice is used up (with a zero slice, as the
  // tests set, a step is one pause to the next).
  CDocWalk::Step step;
  do {
    step = jobs_.front().walk->Run();
  } while (step == CDocWalk::Step::kPaused && !jobs_.front().walk->stopped() &&
           std::chrono::steady_clock::now() - began < doc_.pumpSlice);
  const auto took = std::chrono::duration_cast<std::chrono::nanoseconds>(
      std::chrono::steady_clock::now() - began);
  longestStep_ = std::max(longestStep_, took);
  stepTime_ += took;
  ++steps_;
  if (step != CDocWalk::Step::kDone) {
    doc_.FlushResults();
    stepping_ = false;
    // A walk waiting for a catalog is not stepped (nor the clock spent)
    // until one has come.
    if (step == CDocWalk::Step::kWaiting) {
      waiting_ = true;
    } else {
      timer_->start();
    }
    emit paused();
    return;
  }
  Complete();
  stepping_ = false;
  if (!jobs_.empty()) timer_->start();
}

void CWalkRunner::Complete() {
  Job job = std::move(jobs_.front());
  jobs_.pop_front();
  job.walk.reset();
  if (job.done) job.done();
}

}  // namespace orvane
