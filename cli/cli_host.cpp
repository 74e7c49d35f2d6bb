#include "cli/cli_host.h"

#include <signal.h>
#include <unistd.h>

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

std::atomic<bool> g_jsonOnSecond{false};
static_assert(std::atomic<bool>::is_always_lock_free, "used in a signal handler");

// The first interrupt asks the command to stop; the second ends the
// process at once, the user can always get out.
extern "C" void OnInterrupt(int number) {
  if (!g_interrupted.exchange(true)) return;
  if (g_jsonOnSecond.load()) {
    // Nothing of the command's JSON has reached stdout yet (main writes
    // it whole at the end, with interrupts held).
    static constexpr char kDocument[] = "{\"error\": \"interrupted\"}\n";
    [[maybe_unused]] const ssize_t written =
        ::write(STDOUT_FILENO, kDocument, sizeof kDocument - 1);
    ::_exit(130);
  }
  ::signal(number, SIG_DFL);
  ::raise(number);
}

// How often a waiting main thread looks at the interrupt flag: a signal
// handler cannot notify a condition variable.
constexpr std::chrono::milliseconds kInterruptPoll{50};

}  // namespace

CCliHost::CCliHost(std::ostream& out, std::ostream& err, bool json)
    : out_(&out), err_(err), json_(json) {}

CCliHost::~CCliHost() = default;

void CCliHost::InstallInterruptHandler(bool json) {
  g_jsonOnSecond.store(json);
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

void CCliHost::HoldInterrupts() {
  sigset_t held;
  sigemptyset(&held);
  sigaddset(&held, SIGINT);
  sigaddset(&held, SIGTERM);
  ::pthread_sigmask(SIG_BLOCK, &held, nullptr);
}

bool CCliHost::Interrupted() { return g_interrupted.load(); }

void CCliHost::RequestInterrupt() { g_interrupted.store(true); }

bool CCliHost::PumpMessages() {
  // Results go out at each pause of a walk (every few milliseconds), in
  // blocks rather than a write per line, and a script reading the pipe
  // still sees them as the walk goes.
  out_->flush();
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

void CCliHost::ShowMessage(const std::string& text) {
  lastMessage_ = text;
  err_ << text << '\n' << std::flush;
}

void CCliHost::ReportLoadError(const std::string& text) {
  ++loadErrors_;
  err_ << text << '\n' << std::flush;
}

bool CCliHost::SetClipboardText(const std::string& text) {
  if (json_) {
    *out_ << JsonWriter()
                 .BeginObject()
                 .Key("text")
                 .String(CliContext::Shown(text))
                 .EndObject()
                 .Text();
  } else {
    *out_ << CliContext::Shown(text) << '\n';
  }
  out_->flush();
  return true;
}

void CCliHost::ResultsCleared() {
  pendingJson_ = JsonWriter();
  resultCount_ = 0;
}

void CCliHost::DirsAppended(std::size_t count) {
  if (!doc_) return;
  const auto& dirs = doc_->resultDirs;
  for (std::size_t i = dirs.size() - std::min(count, dirs.size()); i < dirs.size(); ++i) {
    const CFTPDir* dir = dirs[i];
    AppendResultLine(json_ ? CliContext::ShownPath(*dir) : CliContext::PlainPath(*dir),
                     json_ ? dir->GetDisplayPath() : std::string(), true, 0,
                     dir->readState.load() != 0);
  }
}

void CCliHost::FilesAppended(std::size_t count) {
  if (!doc_) return;
  const auto& files = doc_->resultFiles;
  for (std::size_t i = files.size() - std::min(count, files.size()); i < files.size(); ++i) {
    const CFTPFile* file = files[i];
    AppendResultLine(json_ ? CliContext::ShownPath(*file) : CliContext::PlainPath(*file),
                     json_ ? file->GetDisplayPath() : std::string(), false, file->size.load(),
                     file->readState.load() != 0);
  }
}

void CCliHost::WriteEntry(JsonWriter& json, const std::string& shownPath,
                          const std::string& rawPath, bool isDir, std::uint64_t size, bool isNew) {
  json.BeginObject().Key("path").String(shownPath);
  if (rawPath != shownPath) json.Key("rawPath").String(rawPath);
  json.Key("type").String(isDir ? "dir" : "file");
  if (!isDir) json.Key("size").Number(size);
  json.Key("new").Bool(isNew).EndObject();
}

void CCliHost::AppendResultLine(const std::string& path, const std::string& rawPath, bool isDir,
                                std::uint64_t size, bool isNew) {
  ++resultCount_;
  if (!json_) {
    // Results stream: a script reading the pipe sees each one as it is found.
    *out_ << path << '\n';
    return;
  }
  if (streamJson_) {
    // Each entry through a writer of its own, laid out as an element of the
    // outermost array, and written at once: memory stays flat.
    JsonWriter entry;
    WriteEntry(entry.BeginArray(), path, rawPath, isDir, size, isNew);
    if (resultCount_ == 1) {
      *out_ << entry.Text();
    } else {
      *out_ << ',' << std::string_view(entry.Text()).substr(1);
    }
    return;
  }
  if (pendingJson_.Empty()) pendingJson_.BeginArray();
  WriteEntry(pendingJson_, path, rawPath, isDir, size, isNew);
}

void CCliHost::FinishResults() {
  if (!json_) return;
  if (pendingJson_.Empty()) pendingJson_.BeginArray();
  if (streamJson_) {
    *out_ << (resultCount_ ? "\n]\n" : "[]\n") << std::flush;
    return;
  }
  *out_ << pendingJson_.EndArray().Text() << std::flush;
  pendingJson_ = JsonWriter();
}

void CCliHost::SearchBegin(int) {}
void CCliHost::SearchProgress(int) {}
void CCliHost::SearchEnd() {}

}  // namespace orvane
