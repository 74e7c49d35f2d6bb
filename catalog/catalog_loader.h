// The once-per-run load of a site's catalog and state files.
//
// Every party that reads or changes a site's catalog (the document's views,
// search and listings, the update workers) calls EnsureCatalogLoaded first.
// Exactly one caller moves the site's loadState from 0 (not loaded) to 2
// (loading) in one atomic step and reads content.ct, then state.st, from the
// site's data directory under `programDir`, then sets 1 (loaded). Callers
// that find 2 sleep on a condition until the loading thread is done; callers
// that find 1 return at once. A missing or damaged file is not an error
// here: the site keeps what could be read, and CFTPSite::GetLoadResult()
// says what was found (missing, damaged, unreadable) for the front ends to
// report.
//
// The files are parsed outside the site's lock (CFTPSite::LoadFiles), so a
// thread that only reads the catalog never waits for a parse.
//
// Thread-safe; may be called from any thread.
#pragma once

#include <chrono>
#include <filesystem>

namespace orvane {

class CFTPSite;

// Returns with loadState 1, after reading the files itself or waiting for
// the thread that reads them.
void EnsureCatalogLoaded(CFTPSite& site, const std::filesystem::path& programDir);

// The same, except that a wait for another thread's read ends after
// `maxWait`: true when the catalog is loaded on return, false when another
// thread is still reading it. A thread that must not stall (the window's)
// waits in such slices and does its own work in between.
bool EnsureCatalogLoaded(CFTPSite& site, const std::filesystem::path& programDir,
                         std::chrono::milliseconds maxWait);

}  // namespace orvane
