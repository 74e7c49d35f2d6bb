// Search, new-entry listings and the clearing of new marks, run to their
// end for front ends that wait for them (orvane-cli, tests).
//
// Each is a CDocWalk (document/doc_walk.h) stepped in a loop here: at every
// pause the front end's messages are pumped (PumpMessages), which is how a
// stop reaches the walk. The window does not come here: it steps the same
// walks from its event loop (CWalkRunner), so no command of its runs a
// nested event loop.
#include <string>
#include <vector>

#include "catalog/ftp_dir.h"
#include "catalog/ftp_file.h"
#include "catalog/ftp_site.h"
#include "document/doc_walk.h"
#include "document/orvane_doc.h"

namespace orvane {

bool COrvaneDoc::RunWalk(CDocWalk& walk) {
  // kWaiting comes only with a site store, whose CatalogLoaded arrives
  // through the pumped events.
  while (walk.Run() != CDocWalk::Step::kDone) {
    if (!PumpMessages()) walk.Stop();
  }
  return !walk.stopped();
}

void COrvaneDoc::Search(const std::string& keyword) { RunWalk(*CDocWalk::Search(*this, keyword)); }

bool COrvaneDoc::SearchDirs(const std::vector<CFTPDir*>& dirs, const std::string& keyword) {
  return RunWalk(*CDocWalk::SearchDirs(*this, dirs, keyword));
}

bool COrvaneDoc::SearchInDir(CFTPDir* dir, const std::string& keyword) {
  return RunWalk(*CDocWalk::SearchInDir(*this, dir, keyword));
}

void COrvaneDoc::ShowNewFiles(int kind) { RunWalk(*CDocWalk::NewFiles(*this, kind)); }

void COrvaneDoc::SetShownFilesRead() {
  // The browsed directory's files, whatever the file list shows now.
  SetFilesRead(browseFiles);
}

void COrvaneDoc::SetFilesRead(const std::vector<CFTPFile*>& files) {
  const CFTPDir* lastParent = nullptr;
  CFTPSite* site = nullptr;
  for (CFTPFile* file : files) {
    if (file->parent != lastParent) {
      lastParent = file->parent;
      site = lastParent ? lastParent->GetSite() : nullptr;
    }
    // The site is flagged only when a mark really changed, so clearing what
    // is already read writes nothing.
    if (file->readState.load(std::memory_order_relaxed) == 0) continue;
    if (file->readState.exchange(0) != 0 && site) site->stateDirty = true;
  }
}

bool COrvaneDoc::MarkDirsRead(const std::vector<CFTPDir*>& dirs) {
  return RunWalk(*CDocWalk::MarkDirs(*this, dirs));
}

void COrvaneDoc::SetSitesRead(int kind) { RunWalk(*CDocWalk::SetSitesRead(*this, kind)); }

bool COrvaneDoc::SetDirRead(CFTPDir* dir) {
  RunWalk(*CDocWalk::ClearBelow(*this, dir));
  return true;
}

void COrvaneDoc::SetTreeNodeRead(CFTPDir* dir) {
  if (!dir) return;
  ClearSiteFlag(dir);
  SetDirRead(dir);
}

void COrvaneDoc::ClearSiteFlag(CFTPDir* dir) {
  if (dir && !dir->parent) {
    if (CFTPSite* site = dir->GetSite()) site->hasNewEntries = false;
  }
}

void COrvaneDoc::ShowUpdates(CFTPDir* dir) {
  if (!dir) return;
  RunWalk(*CDocWalk::SearchInDir(*this, dir, std::string(kNewKeyword), true));
}

}  // namespace orvane
