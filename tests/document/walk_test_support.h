// Shared by the search, listing, import and address tests: a front end that
// records what the document tells it, a scratch data directory, and helpers
// that build catalogs in memory.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/ftp_dir.h"
#include "catalog/ftp_file.h"
#include "catalog/ftp_site.h"
#include "document/document_host.h"
#include "document/orvane_doc.h"

namespace orvane::doc_test {

class RecordingHost : public IDocumentHost {
 public:
  // PumpMessages says stop from call number `stopAtCall` (1-based) on, as a
  // queued stop message does; 0 never stops. `onPump` runs inside each call
  // before the answer, like a command dispatched during a walk.
  int stopAtCall = 0;
  std::function<void(int call)> onPump;
  // Whose result lists the appends refer to.
  const COrvaneDoc* doc = nullptr;

  int pumpCalls = 0;
  std::vector<std::string> messages;
  std::vector<std::string> results;  // display paths, in order of arrival
  std::vector<std::size_t> batches;  // sizes of the appends told
  int clearCalls = 0;
  std::vector<int> begins;
  std::vector<int> progress;
  int ends = 0;
  std::vector<std::string> clipboard;

  bool PumpMessages() override {
    ++pumpCalls;
    if (onPump) onPump(pumpCalls);
    return stopAtCall == 0 || pumpCalls < stopAtCall;
  }
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  void ReportLoadError(const std::string& text) override { messages.push_back(text); }
  bool SetClipboardText(const std::string& text) override {
    clipboard.push_back(text);
    return true;
  }
  void ResultsCleared() override {
    ++clearCalls;
    results.clear();
  }
  void DirsAppended(std::size_t count) override {
    batches.push_back(count);
    const auto& dirs = doc->resultDirs;
    for (std::size_t i = dirs.size() - count; i < dirs.size(); ++i) {
      results.push_back(dirs[i]->GetDisplayPath());
    }
  }
  void FilesAppended(std::size_t count) override {
    batches.push_back(count);
    const auto& files = doc->resultFiles;
    for (std::size_t i = files.size() - count; i < files.size(); ++i) {
      results.push_back(files[i]->GetDisplayPath());
    }
  }
  void SearchBegin(int siteCount) override { begins.push_back(siteCount); }
  void SearchProgress(int progressPos) override { progress.push_back(progressPos); }
  void SearchEnd() override { ++ends; }
};

// A fresh directory under the system's temporary directory, removed with
// everything in it at the end of the test.
class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "orvane-walk-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) ADD_FAILURE() << "mkdtemp failed";
    path_ = pattern;
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

inline CFTPDir* AddDir(CFTPDir* parent, std::string_view name, int mark = 0) {
  return parent->AddSubdir(std::make_unique<CFTPDir>(name, mark));
}

inline CFTPFile* AddFile(CFTPDir* parent, std::string_view name, int mark = 0,
                         std::uint64_t size = 1) {
  return parent->AddFile(CFTPFile::Make(name, size, mark));
}

// A site whose catalog counts as read, so the walks use what the test
// builds instead of looking for files.
inline std::shared_ptr<CFTPSite> AddSite(COrvaneDoc& doc, std::string_view host,
                                         std::string_view user = {},
                                         std::string_view password = {}) {
  auto site = std::make_shared<CFTPSite>();
  site->host = host;
  if (user.empty()) {
    site->userName = "anonymous";
    site->password = kAnonymousPassword;
  } else {
    site->userName = user;
    site->password = password;
  }
  site->loadState = kLoaded;
  doc.AppendSite(site);
  return site;
}

// Empties the site list (and the sites' data directories).
inline void ClearSites(COrvaneDoc& doc) {
  while (!doc.sites().empty()) doc.DeleteSite(doc.sites().front()->siteKey());
}

// Display paths of the result lists, directories first, each in list order.
inline std::vector<std::string> ResultPaths(const COrvaneDoc& doc) {
  std::vector<std::string> paths;
  for (const CFTPDir* dir : doc.resultDirs) paths.push_back(dir->GetDisplayPath());
  for (const CFTPFile* file : doc.resultFiles) paths.push_back(file->GetDisplayPath());
  return paths;
}

// The document on a scratch directory with a recording front end.
class DocumentTest : public ::testing::Test {
 protected:
  ScratchDir scratch;
  RecordingHost host;
  COrvaneDoc doc{scratch.path(), host};
  DocumentTest() { host.doc = &doc; }
};

}  // namespace orvane::doc_test
