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
// yet stay cleared. Front-end thread only.
#pragma once

namespace orvane {

class COrvaneDoc;
class CFTPSite;

enum class CatalogReload {
  kUnchanged,  // the files are the ones this process knows
  kReloaded,   // the catalog now holds what the files hold
  // Left as it is: not loaded yet (it will be read at its first use), an
  // update of this process is running or has merged what it has not saved,
  // or the files could not be read in full.
  kSkipped,
};

CatalogReload ReloadCatalog(COrvaneDoc& doc, CFTPSite& site);

}  // namespace orvane
