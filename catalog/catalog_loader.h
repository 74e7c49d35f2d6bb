// The once-per-run load of a site's catalog and state files.
//
// Every party that reads or changes a site's catalog (the document's views,
// search and listings, the update workers) calls EnsureCatalogLoaded first.
// Exactly one caller moves the site's loadState from 0 (not loaded) to 2
// (loading) in one atomic step and reads content.ct, then state.st, from the
// site's data directory under `programDir`, then sets 1 (loaded). Callers
// that find 2 sleep in 2 ms steps until it changes; callers that find 1
// return at once. A missing or damaged file is not an error here: the site
// keeps what could be read (see CFTPSite::LoadCatalog and LoadState).
//
// Thread-safe; may be called from any thread. Returns with loadState 1.
#pragma once

#include <filesystem>

namespace orvane {

class CFTPSite;

void EnsureCatalogLoaded(CFTPSite& site, const std::filesystem::path& programDir);

}  // namespace orvane
