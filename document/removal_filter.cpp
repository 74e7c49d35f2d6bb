#include "document/removal_filter.h"

#include "catalog/ftp_dir.h"
#include "catalog/ftp_file.h"

namespace orvane {

CRemovalFilter::CRemovalFilter(const std::vector<const CFTPDir*>& dirs,
                               const std::vector<const CFTPFile*>& files,
                               const std::vector<const CFTPSite*>& sites)
    : dirs_(dirs.begin(), dirs.end()),
      files_(files.begin(), files.end()),
      sites_(sites.begin(), sites.end()) {}

bool CRemovalFilter::Reaches(const CFTPDir* dir) {
  if (!TakesDirs() || !dir) return false;
  chain_.clear();
  bool gone = false;
  for (const CFTPDir* d = dir; d; d = d->parent) {
    if (const auto known = verdict_.find(d); known != verdict_.end()) {
      gone = known->second;
      break;
    }
    chain_.push_back(d);
    if (dirs_.count(d)) {
      gone = true;
      break;
    }
    if (!d->parent) {
      gone = d->site && sites_.count(d->site);
      break;
    }
  }
  for (const CFTPDir* d : chain_) verdict_.emplace(d, gone);
  return gone;
}

bool CRemovalFilter::Reaches(const CFTPFile* file) {
  if (!file) return false;
  // The set first: a removed file's parent may already be gone.
  return files_.count(file) || Reaches(file->parent);
}

}  // namespace orvane
