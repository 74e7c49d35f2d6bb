#include "cli/cli_host.h"

#include <signal.h>

#include <algorithm>
#include <atomic>
#include <ostream>
#include <utility>

#include "catalog/ftp_dir.h"
#include "catalog/ftp_file.h"
#include "cli/cli_context.h"
#include "document/orvane_doc.h"

namespace orvane {

namespace {

std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "used in a signal handler");

extern "C" void OnInterrupt(int) { g_interrupted.store(true); }

// How often a waiting main thread looks at the interrupt flag: a signal
// handler cannot notify a condition variable.
constexpr std::chrono::milliseconds kInterruptPoll{50};

}  // namespace

CCliHost::CCliHost(std::ostream& out, std::ostream& err, bool json)
    : out_(out), err_(err), json_(json) {}

CCliHost::~CCliHost() = default;

void CCliHost::InstallInterruptHandler() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  // The second Ctrl-C gets the default action: the user can always get out.
  action.sa_flags = SA_RESETHAND;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

bool CCliHost::Interrupted() { return g_interrupted.load(); }

void CCliHost::RequestInterrupt() { g_interrupted.store(true); }

bool CCliHost::PumpMessages() {
  RunPendingEvents();
  return !Interrupted();
}

void CCliHost::Post(std::function<void()> event) {
  {
    std::lock_guard guard(mutex_);
    events_.push_back(std::move(event));
  }
  wake_.notify_one();
}

std::size_t CCliHost::RunPendingEvents() {
  std::size_t ran = 0;
  for (;;) {
    std::function<void()> event;
    {
      std::lock_guard guard(mutex_);
      if (events_.empty()) return ran;
      event = std::move(events_.front());
      events_.pop_front();
    }
    event();
    ++ran;
  }
}

void CCliHost::WaitForEvents(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::unique_lock guard(mutex_);
  while (events_.empty() && !Interrupted()) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return;
    wake_.wait_until(guard, std::min(deadline, now + kInterruptPoll));
  }
}

void CCliHost::ShowMessage(const std::string& text) { err_ << text << '\n' << std::flush; }

void CCliHost::ReportLoadError(const std::string& text) {
  ++loadErrors_;
  err_ << text << '\n' << std::flush;
}

bool CCliHost::SetClipboardText(const std::string& text) {
  if (json_) {
    out_ << "{\"text\": " << CliContext::JsonString(CliContext::Shown(text)) << "}\n";
  } else {
    out_ << CliContext::Shown(text) << '\n';
  }
  out_.flush();
  return true;
}

void CCliHost::ResultsCleared() {
  pendingJson_.clear();
  resultCount_ = 0;
}

void CCliHost::DirsAppended(std::size_t count) {
  if (!doc_) return;
  const auto& dirs = doc_->resultDirs;
  for (std::size_t i = dirs.size() - std::min(count, dirs.size()); i < dirs.size(); ++i) {
    const CFTPDir* dir = dirs[i];
    AppendResultLine(CliContext::ShownPath(*dir), true, 0, dir->readState.load() != 0);
  }
}

void CCliHost::FilesAppended(std::size_t count) {
  if (!doc_) return;
  const auto& files = doc_->resultFiles;
  for (std::size_t i = files.size() - std::min(count, files.size()); i < files.size(); ++i) {
    const CFTPFile* file = files[i];
    AppendResultLine(CliContext::ShownPath(*file), false, file->size.load(),
                     file->readState.load() != 0);
  }
}

void CCliHost::AppendResultLine(std::string path, bool isDir, std::uint64_t size, bool isNew) {
  ++resultCount_;
  if (!json_) {
    // Results stream: a script reading the pipe sees each one as it is found.
    out_ << CliContext::Escaped(path) << '\n' << std::flush;
    return;
  }
  std::string item = "{\"path\": " + CliContext::JsonString(path) + ", \"type\": ";
  item += isDir ? "\"dir\"" : "\"file\"";
  if (!isDir) item += ", \"size\": " + std::to_string(size);
  item += isNew ? ", \"new\": true}" : ", \"new\": false}";
  pendingJson_.push_back(std::move(item));
}

void CCliHost::FinishResults() {
  if (!json_) return;
  out_ << '[';
  for (std::size_t i = 0; i < pendingJson_.size(); ++i) {
    out_ << (i ? ",\n " : "\n ") << pendingJson_[i];
  }
  out_ << (pendingJson_.empty() ? "]\n" : "\n]\n") << std::flush;
  pendingJson_.clear();
}

void CCliHost::SearchBegin(int) {}
void CCliHost::SearchProgress(int) {}
void CCliHost::SearchEnd() {}

}  // namespace orvane
