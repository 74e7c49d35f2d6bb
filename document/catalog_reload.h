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
// yet stay cleared. Front-end thread only, except ReadCatalogFiles and the
// forms that take a RemovedEntries (below).
#pragma once

#include <filesystem>
#include <memory>
#include <vector>

namespace orvane {

class COrvaneDoc;
class CFTPDir;
class CFTPFile;
class CFTPSite;
struct SiteSettings;

// Entries a merge unlinked, on their way to COrvaneDoc::OnEntriesRemoved.
struct RemovedEntries {
  std::vector<std::unique_ptr<CFTPDir>> dirs;
  std::vector<std::unique_ptr<CFTPFile>> files;
};

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
CatalogReload CheckCatalogFiles(const std::filesystem::path& programDir, CFTPSite& site);
// Reads the files of the site with these settings into a site of its own;
// null when they could not be read in full. Touches nothing shared, so it
// may run on any thread while the window goes on.
std::unique_ptr<CFTPSite> ReadCatalogFiles(const std::filesystem::path& programDir,
                                           const SiteSettings& settings);
// Merges `fresh` (from ReadCatalogFiles) into the site's catalog, unless
// the site can no longer take it (kSkipped: updated, left, ...). `fresh`
// is used up.
CatalogReload MergeCatalogFiles(COrvaneDoc& doc, CFTPSite& site, CFTPSite& fresh);

// The same three steps off the front end's thread (the site store's
// worker): the merge changes the catalog under the site's lock, as an
// update's merge does, and the entries it unlinked are left in `removed`
// for the front end's thread to hand over (HandOver) before anything
// destroys them.
CatalogReload MergeCatalogFiles(CFTPSite& site, CFTPSite& fresh, RemovedEntries& removed);
CatalogReload ReloadCatalogFiles(const std::filesystem::path& programDir, CFTPSite& site,
                                 RemovedEntries& removed);
// Front end's thread: COrvaneDoc::OnEntriesRemoved with what `removed`
// holds (nothing when it is empty).
void HandOver(COrvaneDoc& doc, RemovedEntries& removed);

}  // namespace orvane
