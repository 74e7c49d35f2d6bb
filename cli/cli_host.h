// The document's front end in orvane-cli.
//
// The tool has no window, so it runs its own event loop: other threads (the
// update engine's workers) hand work to the main thread with Post(), and the
// main thread runs it in PumpMessages() or after it waits in WaitForEvents().
// Messages go to stderr; search and listing results to stdout, one decoded
// display path per line, or collected into one JSON array with --json.
//
// Ctrl-C: the first SIGINT only sets a flag (InstallInterruptHandler), which
// makes PumpMessages return false from then on and lets the update command
// stop its updates the way the stop command does; a second SIGINT ends the
// process at once (with --json, after writing {"error": "interrupted"}, so
// that even then stdout holds one JSON document).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <iosfwd>
#include <mutex>
#include <string>
#include <vector>

#include "document/document_host.h"
#include "document/json_writer.h"

namespace orvane {

class COrvaneDoc;

class CCliHost final : public IDocumentHost {
 public:
  CCliHost(std::ostream& out, std::ostream& err, bool json);
  ~CCliHost() override;
  CCliHost(const CCliHost&) = delete;
  CCliHost& operator=(const CCliHost&) = delete;

  // IDocumentHost. PumpMessages runs every queued event and returns false
  // once an interrupt was received.
  bool PumpMessages() override;
  void ShowMessage(const std::string& text) override;
  void ReportLoadError(const std::string& text) override;
  // There is no clipboard: the text is printed on stdout instead.
  bool SetClipboardText(const std::string& text) override;
  // Results are read from the document's result lists (AttachDocument).
  void ResultsCleared() override;
  void DirsAppended(std::size_t count) override;
  void FilesAppended(std::size_t count) override;
  void SearchBegin(int siteCount) override;
  void SearchProgress(int progressPos) override;
  void SearchEnd() override;

  // The document whose results this host prints.
  void AttachDocument(const COrvaneDoc& doc) { doc_ = &doc; }

  // Any thread: queue `event` for the main thread.
  void Post(std::function<void()> event);
  // Main thread: runs the queued events (and those they queue); returns how
  // many ran.
  std::size_t RunPendingEvents();
  // Main thread: waits until an event is queued, an interrupt arrives or
  // `timeout` passes. Does not run the events.
  void WaitForEvents(std::chrono::milliseconds timeout);

  // With --json, prints the results appended since the last ResultsCleared as
  // one JSON array (empty when there were none). Without --json, results
  // were printed as they came and this does nothing.
  void FinishResults();
  // With --json: the results of the listing that follows go to `out` as
  // they come, one array element at a time (CliContext::StreamJson).
  void StreamJsonTo(std::ostream& out) {
    out_ = &out;
    streamJson_ = true;
  }
  std::size_t resultCount() const { return resultCount_; }
  int loadErrorCount() const { return loadErrors_; }
  // The last message the document showed (an error, for the JSON error
  // object of a command that failed through the document).
  const std::string& lastMessage() const { return lastMessage_; }

  // One entry of a listing as a JSON object: "path" as shown, "rawPath"
  // (the stored bytes) when they differ from it, "type", "size" for a file
  // and "new".
  static void WriteEntry(JsonWriter& json, const std::string& shownPath, const std::string& rawPath,
                         bool isDir, std::uint64_t size, bool isNew);

  // Process-wide Ctrl-C handling. `json`: a second Ctrl-C writes the JSON
  // error document before the process ends.
  static void InstallInterruptHandler(bool json = false);
  // From here on SIGINT and SIGTERM wait until the process ends: the
  // command's output is being written.
  static void HoldInterrupts();
  static bool Interrupted();
  // For tests and for commands that stop on their own: as if Ctrl-C.
  static void RequestInterrupt();

 private:
  void AppendResultLine(const std::string& path, const std::string& rawPath, bool isDir,
                        std::uint64_t size, bool isNew);

  std::ostream* out_;
  bool streamJson_ = false;
  std::ostream& err_;
  const bool json_;
  const COrvaneDoc* doc_ = nullptr;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> events_;
  JsonWriter pendingJson_;
  std::string lastMessage_;
  std::size_t resultCount_ = 0;
  int loadErrors_ = 0;
};

}  // namespace orvane
