#include "catalog/catalog_loader.h"

#include <chrono>
#include <thread>

#include "catalog/ftp_site.h"

namespace orvane {

void EnsureCatalogLoaded(CFTPSite& site, const std::filesystem::path& programDir) {
  for (;;) {
    int state = site.loadState.load(std::memory_order_acquire);
    if (state == kLoaded) return;
    if (state == kNotLoaded) {
      // Whoever wins this step reads the files; a loser sees 2 (or already 1)
      // and waits like everyone else.
      if (site.loadState.compare_exchange_strong(state, kLoading, std::memory_order_acq_rel)) {
        const std::filesystem::path dir = site.DataDirectory(programDir);
        site.LoadCatalog(dir / "content.ct");
        site.LoadState(dir / "state.st");
        site.loadState.store(kLoaded, std::memory_order_release);
        return;
      }
      continue;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

}  // namespace orvane
