#include "catalog/ftp_dir.h"

#include <algorithm>
#include <mutex>
#include <new>
#include <utility>

#include "catalog/archive_reader.h"
#include "catalog/archive_writer.h"
#include "catalog/ftp_site.h"

namespace orvane {

CFTPDir::CFTPDir(std::string_view name, std::int32_t mark) : readState(mark), name_(name) {}

CFTPDir::~CFTPDir() {
  // Files first, then subdirectories, each list in order. Subtrees are
  // flattened onto a work list so that depth never becomes stack depth.
  files.clear();
  std::vector<std::unique_ptr<CFTPDir>> pending;
  for (auto it = subdirs.rbegin(); it != subdirs.rend(); ++it) pending.push_back(std::move(*it));
  subdirs.clear();
  while (!pending.empty()) {
    std::unique_ptr<CFTPDir> dir = std::move(pending.back());
    pending.pop_back();
    dir->files.clear();
    for (auto it = dir->subdirs.rbegin(); it != dir->subdirs.rend(); ++it) {
      pending.push_back(std::move(*it));
    }
    dir->subdirs.clear();
  }
}

CFTPSite* CFTPDir::GetSite() const {
  const CFTPDir* dir = this;
  while (dir->parent) dir = dir->parent;
  return dir->site;
}

std::size_t CFTPDir::Depth() const {
  std::size_t depth = 0;
  for (const CFTPDir* dir = parent; dir; dir = dir->parent) ++depth;
  return depth;
}

bool CFTPDir::Contains(const CFTPDir* target) const {
  std::vector<const CFTPDir*> pending{this};
  while (!pending.empty()) {
    const CFTPDir* dir = pending.back();
    pending.pop_back();
    if (dir == target) return true;
    for (const auto& sub : dir->subdirs) pending.push_back(sub.get());
  }
  return false;
}

namespace {

// Names of `dir` and its ancestors joined by "/", root first.
std::string JoinedNames(const CFTPDir& dir) {
  std::vector<const CFTPDir*> chain;
  std::size_t length = 0;
  for (const CFTPDir* d = &dir; d; d = d->parent) {
    chain.push_back(d);
    length += d->name().size() + 1;
  }
  std::string path;
  path.reserve(length);
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    if (it != chain.rbegin()) path.push_back('/');
    path.append((*it)->name());
  }
  return path;
}

std::string DisplayPrefix(const CFTPDir& dir) {
  const CFTPSite* site = dir.GetSite();
  std::string prefix = "ftp://";
  if (site) prefix.append(site->siteKey());
  prefix.push_back('/');
  return prefix;
}

}  // namespace

std::string CFTPDir::GetPath() const {
  if (!parent) return name_.empty() ? std::string("/") : name_;
  return JoinedNames(*this);
}

std::string CFTPDir::GetDisplayPath() const {
  std::string place = JoinedNames(*this);
  // The leading character stands for the root (its "/" when the root has
  // the usual empty name).
  if (parent) place.erase(0, 1);
  return DisplayPrefix(*this) + place;
}

std::string CFTPDir::DisplayPathOf(std::string_view childName) const {
  std::string place = JoinedNames(*this);
  place.push_back('/');
  place.append(childName);
  place.erase(0, 1);
  return DisplayPrefix(*this) + place;
}

CFTPFile* CFTPDir::AddFile(std::unique_ptr<CFTPFile> file) {
  file->parent = this;
  files.push_back(std::move(file));
  return files.back().get();
}

CFTPDir* CFTPDir::AddSubdir(std::unique_ptr<CFTPDir> dir) {
  dir->parent = this;
  subdirs.push_back(std::move(dir));
  return subdirs.back().get();
}

std::size_t CFTPDir::CountEntries() const {
  std::size_t count = 0;
  std::vector<const CFTPDir*> pending{this};
  while (!pending.empty()) {
    const CFTPDir* dir = pending.back();
    pending.pop_back();
    count += dir->files.size() + dir->subdirs.size();
    for (const auto& sub : dir->subdirs) pending.push_back(sub.get());
  }
  return count;
}

namespace {

// How much of a stored count the loader reserves before the entries arrive.
constexpr std::uint32_t kTrustedFileCount = 1 << 16;
constexpr std::uint32_t kTrustedSubdirCount = 16;

}  // namespace

// Loading keeps the archive's rule that an object whose own fields failed is
// not added to any list: a directory joins its parent's list only once its
// whole subtree has been read. Directories still being read sit on `stack`
// and are dropped with it on an error.
ArchiveError CFTPDir::Serialize(CArchiveReader& archive) {
  try {
    return Load(archive);
  } catch (const std::bad_alloc&) {
    // What was complete before stays, as for any other error.
    archive.Fail(ArchiveError::kNoMemory);
    return archive.error();
  }
}

ArchiveError CFTPDir::Load(CArchiveReader& archive) {
  struct Frame {
    CFTPDir* dir;
    std::unique_ptr<CFTPDir> owned;  // null for this directory itself
    std::uint32_t subdirsLeft;
  };
  std::vector<Frame> stack;
  std::string text;
  std::uint32_t count = 0;
  CFTPFile::Batch batch;

  if (!archive.ReadString(text) || !archive.ReadCount(count)) return archive.error();
  name_ = text;
  stack.push_back(Frame{this, nullptr, count});

  while (!stack.empty()) {
    Frame& top = stack.back();
    if (top.subdirsLeft > 0) {
      --top.subdirsLeft;
      CArchiveReader::ObjectRef ref;
      if (!archive.ReadObjectRef(&kFTPDirClass, ref)) return archive.error();
      if (ref.kind != CArchiveReader::ObjectRef::Kind::kNew) {
        // A null or shared directory cannot be part of a tree.
        archive.Fail(ArchiveError::kBadFormat);
        return archive.error();
      }
      // The new directory's depth below the root is stack.size().
      if (stack.size() > kMaxLoadDepth) {
        archive.Fail(ArchiveError::kBadFormat);
        return archive.error();
      }
      // Objects are not bound to their indices: a reference back to one is
      // refused above, so nothing ever looks them up.
      std::string_view name;
      if (!archive.ReadStringView(name, text)) return archive.error();
      auto dir = std::make_unique<CFTPDir>(name);
      if (!archive.ReadCount(count)) return archive.error();
      // Every directory on the stack may hold a reservation, so the bound
      // here is small.
      dir->subdirs.reserve(std::min(count, kTrustedSubdirCount));
      CFTPDir* raw = dir.get();
      stack.push_back(Frame{raw, std::move(dir), count});
      continue;
    }

    // Subdirectories done: the files of this directory follow. Trusting the
    // count up to a bound saves the list's regrowth (and the heap's
    // fragments of it) without letting a false count allocate much: only
    // one file list is being filled at any time.
    CFTPDir* dir = top.dir;
    if (!archive.ReadCount(count)) return archive.error();
    dir->files.reserve(dir->files.size() + std::min(count, kTrustedFileCount));
    for (std::uint32_t i = 0; i < count; ++i) {
      CArchiveReader::ObjectRef ref;
      if (!archive.ReadObjectRef(&kFTPFileClass, ref)) return archive.error();
      if (ref.kind != CArchiveReader::ObjectRef::Kind::kNew) {
        archive.Fail(ArchiveError::kBadFormat);
        return archive.error();
      }
      std::uint64_t size = 0;
      std::string_view name;
      if (!archive.ReadQword(size) || !archive.ReadStringView(name, text)) return archive.error();
      dir->AddFile(batch.Make(name, size));
    }

    std::unique_ptr<CFTPDir> done = std::move(top.owned);
    stack.pop_back();
    if (done) stack.back().dir->AddSubdir(std::move(done));
  }
  return ArchiveError::kNone;
}

ArchiveError CFTPDir::SerializeState(CArchiveReader& archive) {
  struct Frame {
    CFTPDir* dir;
    std::size_t nextSubdir;
  };
  std::vector<Frame> stack{Frame{this, 0}};
  std::uint32_t value = 0;
  while (!stack.empty()) {
    Frame& top = stack.back();
    if (top.nextSubdir < top.dir->subdirs.size()) {
      CFTPDir* sub = top.dir->subdirs[top.nextSubdir++].get();
      if (!archive.ReadDword(value)) return archive.error();
      sub->readState.store(static_cast<std::int32_t>(value), std::memory_order_relaxed);
      stack.push_back(Frame{sub, 0});
      continue;
    }
    for (auto& file : top.dir->files) {
      if (!archive.ReadDword(value)) return archive.error();
      file->readState.store(static_cast<std::int32_t>(value), std::memory_order_relaxed);
    }
    stack.pop_back();
  }
  return ArchiveError::kNone;
}

void CFTPDir::Serialize(CArchiveWriter& archive) const { Store(&archive, nullptr); }

void CFTPDir::SerializeState(CArchiveWriter& archive) const { Store(nullptr, &archive); }

void CFTPDir::Serialize(CArchiveWriter& content, CArchiveWriter& state) const {
  Store(&content, &state);
}

// content.ct and state.st visit the entries in the same order, so one walk
// can write either or both; a catalog too big for the cache is then read
// from memory once.
void CFTPDir::Store(CArchiveWriter* content, CArchiveWriter* state) const {
  struct Frame {
    const CFTPDir* dir;
    std::size_t nextSubdir;
  };
  std::vector<Frame> stack;
  if (content) {
    content->WriteString(name_);
    content->WriteCount(static_cast<std::uint32_t>(subdirs.size()));
  }
  stack.push_back(Frame{this, 0});
  while (!stack.empty()) {
    Frame& top = stack.back();
    if (top.nextSubdir < top.dir->subdirs.size()) {
      const CFTPDir* sub = top.dir->subdirs[top.nextSubdir++].get();
      if (content) {
        content->WriteNewObject(kFTPDirClass);
        content->WriteString(sub->name_);
        content->WriteCount(static_cast<std::uint32_t>(sub->subdirs.size()));
      }
      if (state) {
        state->WriteDword(
            static_cast<std::uint32_t>(sub->readState.load(std::memory_order_relaxed)));
      }
      stack.push_back(Frame{sub, 0});
      continue;
    }
    const CFTPDir* dir = top.dir;
    if (content) content->WriteCount(static_cast<std::uint32_t>(dir->files.size()));
    for (const auto& file : dir->files) {
      if (content) {
        content->WriteNewObject(kFTPFileClass);
        content->WriteQword(file->size.load(std::memory_order_relaxed));
        content->WriteString(file->name());
      }
      if (state) {
        state->WriteDword(
            static_cast<std::uint32_t>(file->readState.load(std::memory_order_relaxed)));
      }
    }
    stack.pop_back();
  }
}

void SnapshotChildren(const CFTPDir& dir, const CFTPSite* site, std::vector<CFTPDir*>& dirs,
                      std::vector<CFTPFile*>& files) {
  dirs.clear();
  files.clear();
  std::unique_lock<std::mutex> lock;
  if (site) lock = std::unique_lock<std::mutex>(site->lock);
  dirs.reserve(dir.subdirs.size());
  for (const auto& sub : dir.subdirs) dirs.push_back(sub.get());
  files.reserve(dir.files.size());
  for (const auto& file : dir.files) files.push_back(file.get());
}

DirChildren SnapshotChildren(const CFTPDir& dir, const CFTPSite* site) {
  DirChildren children;
  SnapshotChildren(dir, site, children.dirs, children.files);
  return children;
}

DirChildren SnapshotChildren(const CFTPDir& dir) { return SnapshotChildren(dir, dir.GetSite()); }

}  // namespace orvane
