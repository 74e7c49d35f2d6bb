// One thread that runs jobs one after another, in the order given, off the
// window thread: the reading of journal files for the schedule and the
// notification. Built on std::thread, std::mutex and a condition variable
// rather than QThreadPool, so ThreadSanitizer sees every hand-over.
//
// A job that hands a result back to the window thread puts it under a
// mutex of its owner and wakes the owner with a queued call; it never
// touches widgets. The destructor lets the running job end, drops the
// ones still queued and joins the thread, so a job may use its owner as
// long as the worker is a member declared after what the jobs reach.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace orvane {

class CSerialWorker {
 public:
  CSerialWorker() = default;
  ~CSerialWorker();
  CSerialWorker(const CSerialWorker&) = delete;
  CSerialWorker& operator=(const CSerialWorker&) = delete;

  // Queues `job`; the thread starts with the first one.
  void Post(std::function<void()> job);

 private:
  void Run();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> jobs_;
  bool closing_ = false;
  std::thread thread_;
};

}  // namespace orvane
