// Whether catalog entries lie in what an update or a delete took away: the
// test every holder of entry pointers (the document's lists and history,
// the window's tree items and rows) runs when a removal notice arrives,
// before the entries are destroyed.
//
// An entry is gone when it is one of the removed files, is or lies below
// one of the removed directories, or belongs to one of the removed sites.
// The test walks up parent links and remembers the verdict for every
// directory it passes, so a long list costs about one visit per distinct
// directory; it never goes above a removed directory, whose parent may
// already have been destroyed. Front end's thread only; the filter must not
// outlive the notice it was made for.
#pragma once

#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace orvane {

class CFTPDir;
class CFTPFile;
class CFTPSite;

class CRemovalFilter {
 public:
  CRemovalFilter(const std::vector<const CFTPDir*>& dirs, const std::vector<const CFTPFile*>& files,
                 const std::vector<const CFTPSite*>& sites = {});

  bool Reaches(const CFTPDir* dir);
  bool Reaches(const CFTPFile* file);
  // Whether any directory at all can be gone (else only the files are).
  bool TakesDirs() const { return !dirs_.empty() || !sites_.empty(); }
  bool empty() const { return dirs_.empty() && files_.empty() && sites_.empty(); }

 private:
  std::unordered_set<const CFTPDir*> dirs_;
  std::unordered_set<const CFTPFile*> files_;
  std::unordered_set<const CFTPSite*> sites_;
  std::unordered_map<const CFTPDir*, bool> verdict_;
  std::vector<const CFTPDir*> chain_;
};

}  // namespace orvane
