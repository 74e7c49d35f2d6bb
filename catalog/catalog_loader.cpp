#include "catalog/catalog_loader.h"

#include <condition_variable>
#include <mutex>

#include "catalog/ftp_site.h"

namespace orvane {

namespace {

// One condition for every site: loads are rare, and a waiter woken by
// another site's load looks at its own site's state and sleeps again.
std::mutex& LoadMutex() {
  static std::mutex mutex;
  return mutex;
}

std::condition_variable& LoadDone() {
  static std::condition_variable done;
  return done;
}

void MarkLoaded(CFTPSite& site) {
  {
    // Under the mutex, so a waiter cannot test the state just before this
    // store and then sleep through the notification.
    std::lock_guard guard(LoadMutex());
    site.loadState.store(kLoaded, std::memory_order_release);
  }
  LoadDone().notify_all();
}

// True when this thread has read the files or found them read; false when
// another thread is reading them.
bool LoadOrFindLoaded(CFTPSite& site, const std::filesystem::path& programDir) {
  int state = site.loadState.load(std::memory_order_acquire);
  if (state == kLoaded) return true;
  // Whoever wins this step reads the files; a loser sees 2 (or already 1).
  if (state != kNotLoaded ||
      !site.loadState.compare_exchange_strong(state, kLoading, std::memory_order_acq_rel)) {
    return state == kLoaded;
  }
  try {
    site.LoadFiles(programDir);
  } catch (...) {
    // Out of memory in the parse: what was linked stays, and no waiter is
    // left sleeping on a load that will never end.
    MarkLoaded(site);
    throw;
  }
  MarkLoaded(site);
  return true;
}

bool IsLoaded(const CFTPSite& site) {
  return site.loadState.load(std::memory_order_acquire) == kLoaded;
}

}  // namespace

void EnsureCatalogLoaded(CFTPSite& site, const std::filesystem::path& programDir) {
  if (LoadOrFindLoaded(site, programDir)) return;
  std::unique_lock lock(LoadMutex());
  LoadDone().wait(lock, [&site] { return IsLoaded(site); });
}

bool EnsureCatalogLoaded(CFTPSite& site, const std::filesystem::path& programDir,
                         std::chrono::milliseconds maxWait) {
  if (LoadOrFindLoaded(site, programDir)) return true;
  std::unique_lock lock(LoadMutex());
  return LoadDone().wait_for(lock, maxWait, [&site] { return IsLoaded(site); });
}

}  // namespace orvane
