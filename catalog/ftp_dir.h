// One directory of a catalog, and the catalog's tree operations.
//
// A directory owns its `files` and `subdirs` (in the order they were first
// added); `parent` is a plain back-reference, null only for the root, and
// `site` is set on the root only. Destroying a directory destroys its whole
// subtree without recursion, so trees of any depth are safe.
//
// Threads: lists are changed only by the site's update worker, under the
// site's lock. Other threads read a directory's lists under that lock (or
// take a snapshot under it). Names never change once an entry is linked into
// a tree.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/archive_types.h"
#include "catalog/ftp_file.h"

namespace orvane {

class CArchiveReader;
class CArchiveWriter;
class CFTPSite;

class CFTPDir {
 public:
  // A stored catalog may nest this many directories below its root; one more
  // level is refused as bad format. Far beyond any real tree (a server path
  // of 4,096 bytes holds at most 2,048 levels); loading is iterative, so the
  // bound only keeps a crafted file from making millions of levels.
  static constexpr std::size_t kMaxLoadDepth = 1'000'000;

  explicit CFTPDir(std::string_view name = {}, std::int32_t readState = 0);
  ~CFTPDir();
  CFTPDir(const CFTPDir&) = delete;
  CFTPDir& operator=(const CFTPDir&) = delete;

  std::string_view name() const { return name_; }
  // Only for a directory that is not yet reachable by other threads.
  void SetName(std::string_view name) { name_.assign(name); }

  CFTPSite* GetSite() const;
  // Server path: "/" for the root, /a/b below it.
  std::string GetPath() const;
  // "ftp://", the site key, "/" and the directory's place in the tree.
  std::string GetDisplayPath() const;
  // Display path of an entry called `childName` inside this directory.
  std::string DisplayPathOf(std::string_view childName) const;
  // Number of ancestors (0 for the root).
  std::size_t Depth() const;
  // Whether `target` is this directory or lies below it (compared by
  // identity; `target` is never dereferenced).
  bool Contains(const CFTPDir* target) const;

  // Appends an entry made elsewhere, setting its parent.
  CFTPFile* AddFile(std::unique_ptr<CFTPFile> file);
  CFTPDir* AddSubdir(std::unique_ptr<CFTPDir> dir);

  // Entries in this subtree, this directory excluded.
  std::size_t CountEntries() const;

  // content.ct: name, subdirectories (object list), files (object list),
  // pre-order. Loading appends to the (empty) lists of this directory; on an
  // error the entries completed before it stay, and the error is returned.
  ArchiveError Serialize(CArchiveReader& archive);
  void Serialize(CArchiveWriter& archive) const;

  // state.st: every readState below this directory in walk order (for each
  // subdirectory its value then its subtree, then the files). Loading stops
  // at the first error and returns it; values not reached stay as they are.
  ArchiveError SerializeState(CArchiveReader& archive);
  void SerializeState(CArchiveWriter& archive) const;
  // Both of the above in one walk: what Serialize writes goes to `content`,
  // what SerializeState writes to `state`.
  void Serialize(CArchiveWriter& content, CArchiveWriter& state) const;

  std::atomic<std::int32_t> readState{0};
  std::int32_t seen = 0;
  CFTPDir* parent = nullptr;
  CFTPSite* site = nullptr;
  std::vector<std::unique_ptr<CFTPFile>> files;
  std::vector<std::unique_ptr<CFTPDir>> subdirs;

 private:
  ArchiveError Load(CArchiveReader& archive);
  void Store(CArchiveWriter* content, CArchiveWriter* state) const;

  std::string name_;
};

// One directory's children as they were at one moment: the pointers stay
// valid while the entries are linked, or parked by the document after a
// removal (see COrvaneDoc::WalkGuard); the vectors never change under the
// reader, unlike the directory's own lists, which a worker appends to and
// compacts.
struct DirChildren {
  std::vector<CFTPDir*> dirs;
  std::vector<CFTPFile*> files;
};

// Copies `dir`'s child lists under the lock of `site`, the site that owns
// `dir` (null: no lock, for a tree no other thread can reach). The second
// form reuses the vectors' storage.
DirChildren SnapshotChildren(const CFTPDir& dir, const CFTPSite* site);
void SnapshotChildren(const CFTPDir& dir, const CFTPSite* site, std::vector<CFTPDir*>& dirs,
                      std::vector<CFTPFile*>& files);
// The same, finding the site from `dir`.
DirChildren SnapshotChildren(const CFTPDir& dir);

}  // namespace orvane
