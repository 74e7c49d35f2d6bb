// SIGTERM, SIGINT and SIGHUP close the window as its Quit command does:
// updates stop, the window waits for them, and the marks are saved.
//
// A signal handler may do almost nothing, so it only writes the signal's
// number into a pipe (the self-pipe); a QSocketNotifier on the pipe's other
// end runs `quit` from the event loop. One instance per process; the
// handlers go back to the default ones when it is destroyed.
#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

namespace orvane {

class CQuitSignals : public QObject {
  Q_OBJECT

 public:
  explicit CQuitSignals(std::function<void()> quit, QObject* parent = nullptr);
  ~CQuitSignals() override;
  CQuitSignals(const CQuitSignals&) = delete;
  CQuitSignals& operator=(const CQuitSignals&) = delete;

 private:
  void OnReadable();

  std::function<void()> quit_;
  QSocketNotifier* notifier_ = nullptr;
};

}  // namespace orvane
