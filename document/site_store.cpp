#include "document/site_store.h"

#include <algorithm>
#include <utility>

#include "catalog/catalog_loader.h"
#include "document/orvane_doc.h"

namespace orvane {

// What the posted events reach; cleared by the destructor on the front
// end's thread, where the events run too.
struct CSiteStore::Shared {
  COrvaneDoc* doc = nullptr;
  ISiteStoreSink* sink = nullptr;
};

CSiteStore::CSiteStore(COrvaneDoc& doc, ISiteStoreSink& sink, Poster post)
    : programDir_(doc.GetProgramDir()),
      shared_(std::make_shared<Shared>()),
      post_(std::move(post)) {
  shared_->doc = &doc;
  shared_->sink = &sink;
  worker_ = std::thread([this] { Work(); });
}

CSiteStore::~CSiteStore() {
  {
    std::lock_guard guard(mutex_);
    closing_ = true;
    queue_.clear();
  }
  wake_.notify_all();
  worker_.join();
  shared_->doc = nullptr;
  shared_->sink = nullptr;
}

void CSiteStore::Load(std::shared_ptr<CFTPSite> site) { Queue(Kind::kLoad, std::move(site)); }

void CSiteStore::SaveMarks(std::shared_ptr<CFTPSite> site) {
  Queue(Kind::kSaveMarks, std::move(site));
}

void CSiteStore::Reload(std::shared_ptr<CFTPSite> site) { Queue(Kind::kReload, std::move(site)); }

void CSiteStore::Queue(Kind kind, std::shared_ptr<CFTPSite> site) {
  if (!site) return;
  {
    std::lock_guard guard(mutex_);
    const bool waiting = std::any_of(queue_.begin(), queue_.end(), [&](const Request& request) {
      return request.kind == kind && request.site == site;
    });
    if (waiting) return;
    queue_.push_back({kind, std::move(site)});
  }
  wake_.notify_one();
}

void CSiteStore::Drain() {
  std::unique_lock lock(mutex_);
  idle_.wait(lock, [this] { return queue_.empty() && !running_; });
}

void CSiteStore::Settle(const CFTPSite& site) {
  std::unique_lock lock(mutex_);
  idle_.wait(lock, [&] {
    return runningSite_ != &site &&
           std::none_of(queue_.begin(), queue_.end(),
                        [&](const Request& request) { return request.site.get() == &site; });
  });
}

std::size_t CSiteStore::Pending() const {
  std::lock_guard guard(mutex_);
  return queue_.size() + (running_ ? 1 : 0);
}

void CSiteStore::Work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return closing_ || !queue_.empty(); });
    if (closing_) break;
    const Request request = std::move(queue_.front());
    queue_.pop_front();
    running_ = true;
    runningSite_ = request.site.get();
    lock.unlock();
    Run(request);
    lock.lock();
    running_ = false;
    runningSite_ = nullptr;
    idle_.notify_all();
  }
  running_ = false;
  idle_.notify_all();
}

void CSiteStore::Run(const Request& request) {
  const std::shared_ptr<CFTPSite>& site = request.site;
  switch (request.kind) {
    case Kind::kLoad: {
      try {
        EnsureCatalogLoaded(*site, programDir_);
      } catch (const std::bad_alloc&) {
        // What could be linked stays; the site counts as loaded (see the
        // loader), and the front end goes on with what is there.
      }
      // Told even for a site deleted meanwhile: a walk may wait for it.
      post_([shared = shared_, site] {
        if (shared->sink) shared->sink->CatalogLoaded(site);
      });
      break;
    }
    case Kind::kSaveMarks: {
      std::string error;
      CFTPSite::SaveResult result = CFTPSite::SaveResult::kSkipped;
      if (site->stateDirty.exchange(false)) {
        result = site->SaveFiles(programDir_, false, &error);
        if (result != CFTPSite::SaveResult::kSaved) site->stateDirty.store(true);
      }
      post_([shared = shared_, site, result, error = std::move(error)] {
        if (shared->sink) shared->sink->MarksSaved(site, result, error);
      });
      break;
    }
    case Kind::kReload: {
      auto removed = std::make_shared<RemovedEntries>();
      const CatalogReload result = ReloadCatalogFiles(programDir_, *site, *removed);
      post_([shared = shared_, site, result, removed] {
        // Removed entries are handed over even when the site has left the
        // list since: rows may still show them.
        if (shared->doc) HandOver(*shared->doc, *removed);
        if (shared->sink && !site->removed.load()) shared->sink->CatalogReloaded(site, result);
      });
      break;
    }
  }
}

}  // namespace orvane
