// Takes over, into a catalog this process has loaded, what another process
// (orvane-cli update or set-read, a second window) committed to the site's
// content.ct and state.st since this process last read or wrote them.
//
// The files are read into a tree of their own and merged into the loaded
// one under the site's lock, so every entry still there keeps its identity
// (the views' items and rows, the history and result lists stay valid):
// new entries are appended where the files have them, sizes and marks
// follow the files, and entries the files no longer hold are unlinked and
// handed to COrvaneDoc::OnEntriesRemoved, which lets the views drop them
// before they are destroyed. Marks this process cleared and has not saved
// yet stay cleared. Front-end thread only, except ReadCatalogFiles.
#pragma once

#include <filesystem>
#include <memory>

namespace orvane {

class COrvaneDoc;
class CFTPSite;
struct SiteSettings;

enum class CatalogReload {
  kUnchanged,  // the files are the ones this process knows
  kReloaded,   // the catalog now holds what the files hold
  // Left as it is: not loaded yet (it will be read at its first use), an
  // update of this process is running or has merged what it has not saved,
  // or the files could not be read in full.
  kSkipped,
};

// The three steps below, one after the other.
CatalogReload ReloadCatalog(COrvaneDoc& doc, CFTPSite& site);

// Whether the site's files differ from what this process knows of them:
// kReloaded when they do (nothing is read yet), else as above. Cheap (a
// stat and state.st's bytes).
CatalogReload CheckCatalogFiles(const COrvaneDoc& doc, CFTPSite& site);
// Reads the files of the site with these settings into a site of its own;
// null when they could not be read in full. Touches nothing shared, so it
// may run on any thread while the window goes on.
std::unique_ptr<CFTPSite> ReadCatalogFiles(const std::filesystem::path& programDir,
                                           const SiteSettings& settings);
// Merges `fresh` (from ReadCatalogFiles) into the site's catalog, unless
// the site can no longer take it (kSkipped: updated, left, ...). `fresh`
// is used up.
CatalogReload MergeCatalogFiles(COrvaneDoc& doc, CFTPSite& site, CFTPSite& fresh);

}  // namespace orvane
