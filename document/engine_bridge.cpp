#include "document/engine_bridge.h"

#include <mutex>
#include <utility>
#include <vector>

#include "catalog/ftp_dir.h"
#include "catalog/ftp_file.h"
#include "catalog/ftp_site.h"
#include "document/document_host.h"
#include "document/orvane_doc.h"

namespace orvane {

// What the posted events reach. `doc` and `statusSink` are used and cleared
// on the front end's thread only; the gathered removals are shared with
// the engine's threads under `mutex`.
struct CEngineBridge::Shared {
  COrvaneDoc* doc = nullptr;
  ISiteStatusSink* statusSink = nullptr;

  std::mutex mutex;
  std::vector<std::unique_ptr<CFTPDir>> dirs;
  std::vector<std::unique_ptr<CFTPFile>> files;
  bool flushPosted = false;

  // Front-end thread.
  void Flush() {
    std::vector<std::unique_ptr<CFTPDir>> takenDirs;
    std::vector<std::unique_ptr<CFTPFile>> takenFiles;
    {
      std::lock_guard guard(mutex);
      takenDirs.swap(dirs);
      takenFiles.swap(files);
      flushPosted = false;
    }
    if (doc && (!takenDirs.empty() || !takenFiles.empty())) {
      doc->OnEntriesRemoved(std::move(takenDirs), std::move(takenFiles));
    }
  }
};

CEngineBridge::CEngineBridge(COrvaneDoc& doc, ISiteStatusSink& statusSink, Poster post)
    : shared_(std::make_shared<Shared>()), post_(std::move(post)) {
  shared_->doc = &doc;
  shared_->statusSink = &statusSink;
}

CEngineBridge::~CEngineBridge() {
  // Whatever the engine handed over still goes through the document, which
  // may hold references to it.
  shared_->Flush();
  shared_->doc = nullptr;
  shared_->statusSink = nullptr;
}

void CEngineBridge::PostSiteStatus(std::shared_ptr<CFTPSite> site) {
  if (!site) return;
  SiteStatus status = site->Status();
  post_([shared = shared_, site = std::move(site), status = std::move(status)] {
    // A site deleted meanwhile has nothing left that could show it.
    if (shared->statusSink && !site->removed.load()) {
      shared->statusSink->SiteStatusChanged(site, status);
    }
  });
}

void CEngineBridge::PostSiteHealth(std::shared_ptr<CFTPSite> site) {
  if (!site) return;
  post_([shared = shared_, site = std::move(site)] {
    if (shared->statusSink && !site->removed.load()) shared->statusSink->SiteHealthChanged(site);
  });
}

void CEngineBridge::PostWorkEnded() {
  post_([] {});
}

void CEngineBridge::PostEntryRemoved(std::unique_ptr<CFTPDir> dir) {
  if (!dir) return;
  bool post = false;
  {
    std::lock_guard guard(shared_->mutex);
    shared_->dirs.push_back(std::move(dir));
    post = !std::exchange(shared_->flushPosted, true);
  }
  if (post) post_([shared = shared_] { shared->Flush(); });
}

void CEngineBridge::PostEntryRemoved(std::unique_ptr<CFTPFile> file) {
  if (!file) return;
  bool post = false;
  {
    std::lock_guard guard(shared_->mutex);
    shared_->files.push_back(std::move(file));
    post = !std::exchange(shared_->flushPosted, true);
  }
  if (post) post_([shared = shared_] { shared->Flush(); });
}

void CEngineBridge::FlushRemovals() { shared_->Flush(); }

}  // namespace orvane
