#include "catalog/ftp_site.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <optional>
#include <system_error>
#include <unordered_map>
#include <vector>

#include "catalog/archive_reader.h"
#include "catalog/archive_writer.h"
#include "catalog/atomic_file.h"
#include "catalog/file_system.h"
#include "catalog/site_file_access.h"
#include "catalog/site_files_commit.h"
#include "catalog/site_options.h"

namespace orvane {

namespace {

constexpr mode_t kDirMode = 0700;
constexpr mode_t kFileMode = 0600;

// Creates `dir` owner-only, durably; an existing directory is fine.
bool MakeDirectory(const std::filesystem::path& dir) { return MakeDirectoryDurably(dir, kDirMode); }

// Opens a stored file for reading. -1 when it cannot be opened; errno
// ENOENT means that there is no such file.
int OpenForReading(const std::filesystem::path& path) { return OpenRegularForReading(path); }

bool IsEmptyFile(int fd) {
  struct stat info {};
  return ::fstat(fd, &info) == 0 && info.st_size == 0;
}

// Reads a whole state file; false (errno set, `bytes` empty) when it cannot
// be opened or read.
bool ReadStateFd(int fd, std::string& bytes) {
  bytes.clear();
  FdSource source(fd);
  char buffer[65536];
  for (;;) {
    const std::ptrdiff_t got = source.Read(buffer, sizeof buffer);
    if (got < 0) {
      const int error = errno;
      bytes.clear();
      errno = error == ENOENT ? EIO : error;
      return false;
    }
    if (got == 0) break;
    bytes.append(buffer, static_cast<std::size_t>(got));
  }
  return true;
}

bool ReadStateFile(const std::filesystem::path& path, std::string& bytes) {
  bytes.clear();
  const int fd = OpenForReading(path);
  if (fd < 0) return false;
  const bool read = ReadStateFd(fd, bytes);
  const int error = errno;
  ::close(fd);
  errno = error;
  return read;
}

std::string Reason(const std::filesystem::path& path, int error) {
  return path.string() + ": " + std::strerror(error);
}

}  // namespace

namespace {

std::atomic<CatalogCommittedHook> catalogCommittedHook{nullptr};

}  // namespace

CFTPSite::CFTPSite() : rootDir(std::make_unique<CFTPDir>()) { rootDir->site = this; }

CFTPSite::~CFTPSite() = default;

std::string CFTPSite::siteKey() const {
  if (IsAnonymous()) return host;
  std::string key;
  key.reserve(host.size() + 1 + userName.size());
  key.append(host).append("@").append(userName);
  return key;
}

ArchiveError CFTPSite::Serialize(CArchiveReader& archive) {
  std::uint32_t portValue = 0;
  bool anonymous = false;
  if (!archive.ReadString(host) || !archive.ReadString(password) || !archive.ReadString(userName) ||
      !archive.ReadDword(portValue) || !archive.ReadBool(anonymous) ||
      !archive.ReadString(nickname) || !archive.ReadString(remarks)) {
    return archive.error();
  }
  port = portValue;
  anonymousUpdate = anonymous;
  return ArchiveError::kNone;
}

void CFTPSite::Serialize(CArchiveWriter& archive) const {
  archive.WriteString(host);
  archive.WriteString(password);
  archive.WriteString(userName);
  archive.WriteDword(port);
  archive.WriteBool(anonymousUpdate);
  archive.WriteString(nickname);
  archive.WriteString(remarks);
}

bool IsUsableSiteHost(std::string_view host) {
  if (host.empty()) return false;
  for (const char c : host) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte == 0x7F || c == '/' || c == '@') return false;
  }
  return true;
}

std::string DataDirName(std::string_view key) {
  const bool safe = !key.empty() && key != "." && key != ".." && key.front() != '%' &&
                    key.find('/') == std::string_view::npos &&
                    key.find('\0') == std::string_view::npos;
  if (safe) return std::string(key);
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string name = "%";
  for (unsigned char c : key) {
    if (c == '%' || c == '/' || c == '\0') {
      name.push_back('%');
      name.push_back(kHex[c >> 4]);
      name.push_back(kHex[c & 15]);
    } else {
      name.push_back(static_cast<char>(c));
    }
  }
  return name;
}

std::filesystem::path CFTPSite::DataDirectory(const std::filesystem::path& programDir) const {
  return programDir / "Data" / DataDirName(siteKey());
}

namespace {

// Parses a catalog file into `tree`. A missing or empty file reads as
// nothing.
ArchiveError ReadCatalogInto(const std::filesystem::path& path, CFTPDir& tree,
                             FileIdentity* identity = nullptr) {
  const int fd = OpenForReading(path);
  if (fd < 0) {
    if (identity) *identity = {};
    return errno == ENOENT ? ArchiveError::kNone : ArchiveError::kIo;
  }
  if (identity) *identity = FileIdentity::OfOpen(fd);
  ArchiveError result = ArchiveError::kNone;
  if (!IsEmptyFile(fd)) {
    FdSource source(fd);
    CArchiveReader archive(source);
    result = tree.Serialize(archive);
  }
  ::close(fd);
  return result;
}

// Moves what was read into `tree` under `root`. Readers may be looking at
// the root, so this is done under the site's lock, and it is the only part
// of a load that is: a few pointer moves per child of the root.
void LinkUnder(CFTPDir& root, CFTPDir& tree, std::mutex& lock) {
  std::lock_guard guard(lock);
  if (root.name() != tree.name()) root.SetName(tree.name());
  root.subdirs.reserve(root.subdirs.size() + tree.subdirs.size());
  for (auto& sub : tree.subdirs) root.AddSubdir(std::move(sub));
  root.files.reserve(root.files.size() + tree.files.size());
  for (auto& file : tree.files) root.AddFile(std::move(file));
  tree.subdirs.clear();
  tree.files.clear();
}

}  // namespace

ArchiveError CFTPSite::LoadCatalog(const std::filesystem::path& path) {
  if (!rootDir) return ArchiveError::kNone;
  CFTPDir tree;
  const ArchiveError result = ReadCatalogInto(path, tree, &contentOnDisk);
  if (result != ArchiveError::kNone) filesIncomplete.store(true);
  LinkUnder(*rootDir, tree, lock);
  return result;
}

ArchiveError CFTPSite::LoadCatalogAndState(const std::filesystem::path& content,
                                           const std::filesystem::path& state) {
  if (!rootDir) return ArchiveError::kNone;
  CFTPDir tree;
  const ArchiveError result = ReadCatalogInto(content, tree, &contentOnDisk);
  if (result != ArchiveError::kNone) filesIncomplete.store(true);
  if (!ReadStateFile(state, stateAtLoad)) {
    if (errno != ENOENT) filesIncomplete.store(true);
  } else if (!stateAtLoad.empty()) {
    MemorySource source(stateAtLoad);
    CArchiveReader archive(source);
    // A damaged state file leaves the marks it did not reach at 0; only
    // a failed read leaves them unknown.
    if (tree.SerializeState(archive) == ArchiveError::kIo) filesIncomplete.store(true);
  }
  LinkUnder(*rootDir, tree, lock);
  return result;
}

namespace {

// One read of a site's two files, before anything of it is linked.
struct FilesRead {
  CFTPDir tree;
  FileIdentity content;
  FileIdentity state;
  std::string stateBytes;
  ArchiveError contentResult = ArchiveError::kNone;
  bool incomplete = false;
  CFTPSite::LoadResult result;
};

FileIdentity IdentityOfOpen(int fd) { return fd < 0 ? FileIdentity{} : FileIdentity::OfOpen(fd); }

// Reads content.ct and state.st of `dir` into `read`. True when the two
// belong to one commit: after both were opened there was a moment when no
// commit record existed and both names still led to the opened files.
// During a commit the record exists from before the first rename to after
// the last, so a pair taken across a commit always fails that test.
bool ReadFilePair(const std::filesystem::path& dir, FilesRead& read) {
  const std::filesystem::path contentPath = dir / "content.ct";
  const std::filesystem::path statePath = dir / "state.st";
  const int contentFd = OpenForReading(contentPath);
  const int contentErrno = errno;
  const int stateFd = OpenForReading(statePath);
  const int stateErrno = errno;
  read.content = IdentityOfOpen(contentFd);
  read.state = IdentityOfOpen(stateFd);
  if (contentFd < 0) {
    if (contentErrno == ENOENT) {
      read.result.kind = CFTPSite::LoadResult::kMissing;
    } else {
      read.contentResult = ArchiveError::kIo;
      read.incomplete = true;
      read.result = {CFTPSite::LoadResult::kUnreadable, Reason(contentPath, contentErrno)};
    }
  } else {
    if (!IsEmptyFile(contentFd)) {
      FdSource source(contentFd);
      CArchiveReader archive(source);
      read.contentResult = read.tree.Serialize(archive);
    }
    if (read.contentResult == ArchiveError::kIo) {
      read.incomplete = true;
      read.result = {CFTPSite::LoadResult::kUnreadable, Reason(contentPath, EIO)};
    } else if (read.contentResult != ArchiveError::kNone) {
      read.incomplete = true;
      read.result = {CFTPSite::LoadResult::kDamaged,
                     contentPath.string() + ": " + ArchiveErrorText(read.contentResult)};
    }
    ::close(contentFd);
  }
  if (stateFd >= 0) {
    if (!ReadStateFd(stateFd, read.stateBytes)) {
      read.incomplete = true;
      if (read.result.kind == CFTPSite::LoadResult::kOk) {
        read.result = {CFTPSite::LoadResult::kUnreadable, Reason(statePath, errno)};
      }
    }
    ::close(stateFd);
  } else if (stateErrno != ENOENT) {
    read.incomplete = true;
    if (read.result.kind == CFTPSite::LoadResult::kOk) {
      read.result = {CFTPSite::LoadResult::kUnreadable, Reason(statePath, stateErrno)};
    }
  }
  struct stat info {};
  if (::lstat((dir / kCommitRecordName).c_str(), &info) == 0) return false;
  return FileIdentity::Of(contentPath) == read.content && FileIdentity::Of(statePath) == read.state;
}

}  // namespace

void AddTreeNames(const CFTPDir& root, CCharsetDecider& decider) {
  std::vector<const CFTPDir*> stack{&root};
  while (!stack.empty()) {
    const CFTPDir* dir = stack.back();
    stack.pop_back();
    for (const auto& file : dir->files) decider.AddName(file->name());
    for (const auto& sub : dir->subdirs) {
      decider.AddName(sub->name());
      stack.push_back(sub.get());
    }
  }
}

ArchiveError CFTPSite::LoadFiles(const std::filesystem::path& programDir) {
  NoteSiteFileAccess("CFTPSite::LoadFiles");
  if (!rootDir) return ArchiveError::kNone;
  const std::filesystem::path dir = DataDirectory(programDir);
  CDataDirLock diskLock;
  std::string unrecovered;
  const auto lockAndRecover = [&] {
    diskLock = CDataDirLock::Acquire(programDir, CDataDirLock::Kind::kSiteFiles, siteKey());
    if (diskLock.held()) {
      if (!RecoverSiteFiles(dir, &unrecovered) && unrecovered.empty()) unrecovered = dir.string();
      return;
    }
    // Without the lock the files are read as they are when no commit is
    // half done (leftover temporaries only): a reader that may not create
    // the lock file still gets what the last commit left. A decided commit
    // that nobody can finish would pair the old catalog with new marks.
    struct stat info {};
    if (::lstat((dir / kCommitRecordName).c_str(), &info) == 0) {
      unrecovered = (dir / kCommitRecordName).string() + ": " + diskLock.error();
    }
  };
  // An interrupted save is finished (or its leftovers removed) first, so
  // that what is read is one commit. Only then is the lock taken: a
  // reader of a clean directory creates nothing.
  if (SiteFilesNeedRecovery(dir)) lockAndRecover();
  auto read = std::make_unique<FilesRead>();
  // A pair read while another process committed is read again, the second
  // time with the writers held off.
  if (unrecovered.empty() && !ReadFilePair(dir, *read) && !diskLock.held()) {
    lockAndRecover();
    read = std::make_unique<FilesRead>();
    if (unrecovered.empty()) ReadFilePair(dir, *read);
  }
  if (!unrecovered.empty()) {
    // An interrupted save that cannot be finished: neither file is taken,
    // and nothing is written over them until an update has listed the
    // whole site again.
    read = std::make_unique<FilesRead>();
    read->contentResult = ArchiveError::kIo;
    read->incomplete = true;
    read->result = {LoadResult::kUnreadable,
                    "an interrupted save could not be finished (" + unrecovered + ")"};
  }
  contentOnDisk = read->content;
  stateAtLoad = std::move(read->stateBytes);
  if (!stateAtLoad.empty()) {
    MemorySource source(stateAtLoad);
    CArchiveReader archive(source);
    if (read->tree.SerializeState(archive) == ArchiveError::kIo) read->incomplete = true;
  }
  if (read->incomplete) filesIncomplete.store(true);
  {
    std::lock_guard guard(statusLock_);
    loadResult_ = read->result;
  }
  // The decision recorded with the catalog; a catalog from before such
  // records is decided from its names, in memory only (a reader writes
  // nothing), until its next update records one.
  if (const std::optional<CharsetDecision> decision = ReadCharsetDecision(dir)) {
    decidedCharset.store(decision->decided);
  } else {
    CCharsetDecider decider;
    AddTreeNames(read->tree, decider);
    if (decider.SawNonAscii()) decidedCharset.store(decider.Decide(ServerUtf8::kUnknown));
  }
  LinkUnder(*rootDir, read->tree, lock);
  return read->contentResult;
}

NameCharset CFTPSite::DecideCharset(ServerUtf8 server) const {
  CCharsetDecider decider;
  if (rootDir) {
    std::lock_guard guard(lock);
    AddTreeNames(*rootDir, decider);
  }
  return decider.Decide(server);
}

CFTPSite::LoadResult CFTPSite::GetLoadResult() const {
  std::lock_guard guard(statusLock_);
  return loadResult_;
}

bool CFTPSite::LoadState(const std::filesystem::path& path, ArchiveError* error) {
  if (error) *error = ArchiveError::kNone;
  if (!ReadStateFile(path, stateAtLoad)) {
    if (errno != ENOENT) filesIncomplete.store(true);
    return false;
  }
  if (!stateAtLoad.empty() && rootDir) {
    MemorySource source(stateAtLoad);
    CArchiveReader archive(source);
    std::lock_guard guard(lock);
    const ArchiveError result = rootDir->SerializeState(archive);
    // A file shorter than the tree is normal (the rest counts as read);
    // only a failed read leaves marks unknown.
    if (result == ArchiveError::kIo) filesIncomplete.store(true);
    if (error) *error = result;
  }
  return true;
}

namespace {

// Says why `file` (at `path`) was not written.
bool FailedWrite(const CAtomicFile& file, const std::filesystem::path& path, std::string* error) {
  if (error) *error = Reason(path, file.error() ? file.error() : EIO);
  return false;
}

// Writes the state walk of `root` to `path`.
bool WriteState(const CFTPDir& root, const std::filesystem::path& path, std::string* error) {
  CAtomicFile file(path, kFileMode);
  if (!file.is_open()) return FailedWrite(file, path, error);
  CArchiveWriter archive(file.sink());
  root.SerializeState(archive);
  if (archive.Close() != ArchiveError::kNone || !file.Commit()) {
    return FailedWrite(file, path, error);
  }
  return true;
}

}  // namespace

bool CFTPSite::SaveCatalog(const std::filesystem::path& programDir, std::string* error) const {
  if (!rootDir || filesIncomplete.load()) return false;
  MakeDirectory(programDir / "Data");
  const std::filesystem::path dir = DataDirectory(programDir);
  MakeDirectory(dir);
  const std::filesystem::path path = dir / "content.ct";
  CAtomicFile file(path, kFileMode);
  if (!file.is_open()) return FailedWrite(file, path, error);
  CArchiveWriter archive(file.sink());
  rootDir->Serialize(archive);
  if (archive.Close() != ArchiveError::kNone || !file.Commit()) {
    return FailedWrite(file, path, error);
  }
  return true;
}

bool CFTPSite::SaveState(const std::filesystem::path& programDir, std::string* error) const {
  if (!rootDir || filesIncomplete.load()) return false;
  // Only the site's own directory is made here; without Data the save fails.
  const std::filesystem::path dir = DataDirectory(programDir);
  MakeDirectory(dir);
  return WriteState(*rootDir, dir / "state.st", error);
}

bool CFTPSite::SaveCatalogAndState(const std::filesystem::path& programDir, std::string* error,
                                   const std::vector<std::string>* journal, bool* decided) const {
  if (decided) *decided = false;
  if (!rootDir || filesIncomplete.load()) return false;
  MakeDirectory(programDir / "Data");
  const std::filesystem::path dir = DataDirectory(programDir);
  MakeDirectory(dir);
  // The marks are matched to the catalog by position: the two files are
  // replaced as one, or neither is.
  CSiteFilesCommit commit(dir);
  CAtomicFile& contentFile = commit.Add("content.ct");
  if (!contentFile.is_open()) return FailedWrite(contentFile, contentFile.target(), error);
  CAtomicFile& stateFile = commit.Add("state.st");
  if (!stateFile.is_open()) return FailedWrite(stateFile, stateFile.target(), error);
  CArchiveWriter content(contentFile.sink());
  CArchiveWriter state(stateFile.sink());
  rootDir->Serialize(content, state);
  if (content.Close() != ArchiveError::kNone) {
    return FailedWrite(contentFile, contentFile.target(), error);
  }
  if (state.Close() != ArchiveError::kNone)
    return FailedWrite(stateFile, stateFile.target(), error);
  std::optional<JournalShape> journalAfter;
  if (journal && !journal->empty()) {
    // The journal rides in the same commit: its records and the catalog
    // they describe become current together.
    const std::filesystem::path journalPath = dir / kJournalFileName;
    const JournalLimits limits = GetJournalLimits();
    JournalShape shape;
    // The frames are walked once per process (their headers only); after
    // that this process knows the file as long as nobody else changed it.
    const FileIdentity identity = FileIdentity::Of(journalPath);
    if (identity.exists && identity == journalIdentity_) {
      shape = journalShape_;
    } else if (!ScanJournalFile(journalPath, shape)) {
      shape = JournalShape{};  // unreadable: started anew
    }
    std::uint64_t addedBytes = 0;
    for (const std::string& frame : *journal) addedBytes += frame.size();
    const bool append = shape.validBytes >= kJournalHeaderBytes &&
                        shape.frames + journal->size() <= limits.maxUpdates &&
                        shape.validBytes + addedBytes <= limits.maxBytes;
    if (append) {
      CAtomicFile& tail = commit.AddAppend(kJournalFileName, shape.validBytes);
      if (!tail.is_open()) return FailedWrite(tail, tail.target(), error);
      for (const std::string& frame : *journal) {
        if (!tail.sink().Write(frame.data(), frame.size())) {
          return FailedWrite(tail, tail.target(), error);
        }
      }
      journalAfter = JournalShape{shape.frames + journal->size(), shape.validBytes + addedBytes};
    } else {
      // Past a cap (or no usable file): rewritten, the oldest records
      // dropped until an eighth of each cap is free, so the next updates
      // append again. A journal that cannot be read is started anew
      // rather than holding the catalog back.
      std::string oldJournal;
      if (shape.validBytes < kJournalHeaderBytes || !ReadJournalFile(journalPath, oldJournal)) {
        oldJournal.clear();
      }
      CAtomicFile& journalFile = commit.Add(kJournalFileName);
      if (!journalFile.is_open()) return FailedWrite(journalFile, journalFile.target(), error);
      for (std::string_view part :
           RewriteJournalParts(oldJournal, *journal, TrimmedLimits(limits))) {
        if (!journalFile.sink().Write(part.data(), part.size())) {
          return FailedWrite(journalFile, journalFile.target(), error);
        }
      }
      // The next save scans the rewritten file once.
    }
  }
  const bool committed = commit.Commit();
  if (decided) *decided = commit.decided();
  // What this process knows of the journal now; anything else is scanned.
  journalIdentity_ = {};
  if (committed && journalAfter) {
    journalShape_ = *journalAfter;
    journalIdentity_ = FileIdentity::Of(dir / kJournalFileName);
  }
  if (!committed) {
    if (error) *error = commit.error();
    return false;
  }
  if (const CatalogCommittedHook hook = catalogCommittedHook.load()) hook(*this, dir);
  return true;
}

void SetCatalogCommittedHook(CatalogCommittedHook hook) { catalogCommittedHook.store(hook); }

namespace {

// Every mark of `root`'s tree in the state walk's order (see
// CFTPDir::SerializeState), with the entry it belongs to.
struct MarkRef {
  std::atomic<std::int32_t>* mark;
  const CFTPDir* dir;    // the entry, or the file's directory
  const CFTPFile* file;  // null for a directory
};

std::vector<MarkRef> MarksInStateOrder(CFTPDir& root) {
  std::vector<MarkRef> marks;
  struct Frame {
    CFTPDir* dir;
    std::size_t next;
  };
  std::vector<Frame> stack{Frame{&root, 0}};
  while (!stack.empty()) {
    Frame& top = stack.back();
    if (top.next < top.dir->subdirs.size()) {
      CFTPDir* sub = top.dir->subdirs[top.next++].get();
      marks.push_back(MarkRef{&sub->readState, sub, nullptr});
      stack.push_back(Frame{sub, 0});
      continue;
    }
    for (auto& file : top.dir->files) {
      marks.push_back(MarkRef{&file->readState, top.dir, file.get()});
    }
    stack.pop_back();
  }
  return marks;
}

// The values of a state file, in order; a short or damaged file ends early
// (the entries after it count as read, 0).
std::vector<std::uint32_t> StateValues(const std::string& bytes) {
  std::vector<std::uint32_t> values;
  values.reserve(bytes.size() / 4);
  MemorySource source(bytes);
  CArchiveReader archive(source);
  std::uint32_t value = 0;
  while (archive.ReadDword(value)) values.push_back(value);
  return values;
}

std::uint32_t At(const std::vector<std::uint32_t>& values, std::size_t i) {
  return i < values.size() ? values[i] : 0;
}

// The entries of a tree whose mark was set in `before` and is 0 in `after`
// (both in the state walk's order of `tree`).
std::vector<MarkRef> ClearedBetween(const std::vector<MarkRef>& tree,
                                    const std::vector<std::uint32_t>& before,
                                    const std::vector<std::uint32_t>& after) {
  std::vector<MarkRef> cleared;
  for (std::size_t i = 0; i < tree.size(); ++i) {
    if (At(before, i) != 0 && At(after, i) == 0) cleared.push_back(tree[i]);
  }
  return cleared;
}

// Clears, in the tree of `root`, the marks of the entries that have the
// same place (names from the root) as `cleared` have below `sourceRoot`.
// Each directory is matched once and its children are indexed by name the
// first time a match passes through it, so clearing every mark of a wide
// directory costs one pass over it; with equal names the first entry counts.
void ClearAt(CFTPDir& root, const CFTPDir& sourceRoot, const std::vector<MarkRef>& cleared) {
  std::unordered_map<const CFTPDir*, CFTPDir*> matched{{&sourceRoot, &root}};
  std::unordered_map<const CFTPDir*, std::unordered_map<std::string_view, CFTPDir*>> subdirIndex;
  std::unordered_map<const CFTPDir*, std::unordered_map<std::string_view, CFTPFile*>> fileIndex;
  std::vector<const CFTPDir*> chain;
  const auto match = [&](const CFTPDir* source) -> CFTPDir* {
    chain.clear();
    auto known = matched.find(source);
    for (; known == matched.end(); known = matched.find(source)) {
      chain.push_back(source);
      source = source->parent;
      if (!source) return nullptr;
    }
    CFTPDir* dir = known->second;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
      if (dir) {
        auto [index, made] = subdirIndex.try_emplace(dir);
        if (made) {
          for (const auto& sub : dir->subdirs) index->second.emplace(sub->name(), sub.get());
        }
        const auto found = index->second.find((*it)->name());
        dir = found == index->second.end() ? nullptr : found->second;
      }
      matched.emplace(*it, dir);
    }
    return dir;
  };
  for (const MarkRef& entry : cleared) {
    CFTPDir* dir = match(entry.dir);
    if (!dir) continue;
    if (!entry.file) {
      if (dir != &root) dir->readState.store(0);
      continue;
    }
    auto [index, made] = fileIndex.try_emplace(dir);
    if (made) {
      for (const auto& file : dir->files) index->second.emplace(file->name(), file.get());
    }
    if (const auto found = index->second.find(entry.file->name()); found != index->second.end()) {
      found->second->readState.store(0);
    }
  }
}

}  // namespace

void CFTPSite::BeginChanges() {
  if (GetJournalLimits().maxUpdates == 0) return;
  std::lock_guard guard(lock);
  changes.active = true;
  changes.record = JournalRecord{};
  changes.record.startTime = static_cast<std::int64_t>(std::time(nullptr));
  changes.record.summary = !rootDir || (rootDir->files.empty() && rootDir->subdirs.empty());
}

void CFTPSite::EndChanges(JournalRecord::Outcome outcome) {
  std::lock_guard guard(lock);
  if (!changes.active) return;
  changes.active = false;
  changes.record.endTime = static_cast<std::int64_t>(std::time(nullptr));
  changes.record.outcome = outcome;
  // A size listed twice that came back to the stored one changed nothing.
  std::erase_if(changes.record.entries, [](const JournalEntry& entry) {
    return entry.kind == JournalEntry::Kind::kResized && entry.size == entry.oldSize;
  });
  changes.lastAdded = changes.record.added;
  changes.lastRemoved = changes.record.removed;
  changes.lastResized = changes.record.resized;
  journalPending.push_back(EncodeJournalRecord(changes.record));
  changes.record = JournalRecord{};
}

bool CFTPSite::CollectingChanges() const {
  std::lock_guard guard(lock);
  return changes.active;
}

CFTPSite::SaveResult CFTPSite::SaveFiles(const std::filesystem::path& programDir, bool withCatalog,
                                         std::string* error) {
  NoteSiteFileAccess("CFTPSite::SaveFiles");
  std::lock_guard files(filesLock);
  if (!rootDir || removed.load() || filesIncomplete.load()) return SaveResult::kSkipped;
  const std::string key = siteKey();
  CDataDirLock diskLock = CDataDirLock::Acquire(programDir, CDataDirLock::Kind::kSiteFiles, key);
  if (!diskLock.held()) {
    if (error) *error = diskLock.error();
    return SaveResult::kFailed;
  }
  // Deleted by another process: its files are gone and stay gone.
  if (listed.load() && !SiteListHasKey(programDir / "site.ds", key)) return SaveResult::kSkipped;
  const std::filesystem::path dir = DataDirectory(programDir);
  // A save that was interrupted is finished (or its temporaries removed)
  // before the files are compared with what this process knows.
  if (!RecoverSiteFiles(dir, error)) return SaveResult::kFailed;
  const std::filesystem::path contentPath = dir / "content.ct";
  const std::filesystem::path statePath = dir / "state.st";
  const FileIdentity contentNow = FileIdentity::Of(contentPath);
  if (contentOnDisk.exists && !contentNow.exists) return SaveResult::kSkipped;
  // Marks are positions in a catalog: a tree that merges changed since its
  // catalog was written is only ever written with that catalog, and marks
  // are never written where no catalog is.
  const bool full = withCatalog || catalogUnsaved.load();
  if (!full && !contentNow.exists) return SaveResult::kSkipped;

  if (contentNow != contentOnDisk && !full) {
    // Another process updated the site: this tree is an old view. The
    // marks cleared here go onto the fresh files instead. The lock keeps
    // this tree as it is until they have.
    std::lock_guard guard(lock);
    const std::vector<MarkRef> ours = MarksInStateOrder(*rootDir);
    std::vector<std::uint32_t> now;
    now.reserve(ours.size());
    for (const MarkRef& ref : ours) now.push_back(static_cast<std::uint32_t>(ref.mark->load()));
    const std::vector<MarkRef> cleared = ClearedBetween(ours, StateValues(stateAtLoad), now);
    CFTPDir fresh;
    if (ReadCatalogInto(contentPath, fresh) != ArchiveError::kNone) {
      // Never replace marks against a catalog that could not be read.
      if (error) *error = Reason(contentPath, EIO);
      return SaveResult::kFailed;
    }
    std::string freshState;
    if (ReadStateFile(statePath, freshState)) {
      MemorySource source(freshState);
      CArchiveReader archive(source);
      fresh.SerializeState(archive);
    }
    ClearAt(fresh, *rootDir, cleared);
    // contentOnDisk keeps the loaded identity: a later save of this same
    // old view goes this way again.
    return WriteState(fresh, statePath, error) ? SaveResult::kSaved : SaveResult::kFailed;
  }

  // The state file is compared by its bytes: it has the same size after
  // every save, and a freed inode may come back within one tick of the
  // file time, so its identity could look unchanged.
  std::string freshState;
  ReadStateFile(statePath, freshState);  // missing: empty
  if (contentNow == contentOnDisk && freshState != stateAtLoad) {
    // Another process cleared marks in the catalog this one loaded: take
    // its clears over before writing.
    CFTPDir loaded;
    if (contentNow.exists && ReadCatalogInto(contentPath, loaded) == ArchiveError::kNone) {
      const std::vector<MarkRef> cleared = ClearedBetween(
          MarksInStateOrder(loaded), StateValues(stateAtLoad), StateValues(freshState));
      std::lock_guard guard(lock);
      ClearAt(*rootDir, loaded, cleared);
    }
  }

  bool saved = false;
  // The records written are dropped from the queue only once their commit
  // is decided; a record queued meanwhile stays for the next save.
  const auto dropWritten = [this](std::size_t written) {
    journalPending.erase(journalPending.begin(),
                         journalPending.begin() + static_cast<std::ptrdiff_t>(written));
  };
  if (withCatalog) {
    catalogUnsaved.store(false);
    std::vector<std::string> journal;
    {
      std::lock_guard guard(lock);
      journal = journalPending;
    }
    bool decided = false;
    saved = SaveCatalogAndState(programDir, error, &journal, &decided);
    if (!saved) catalogUnsaved.store(true);
    // A commit decided but not yet published holds the records: they are
    // written, whatever becomes of its renames.
    if (decided) {
      std::lock_guard guard(lock);
      dropWritten(journal.size());
    }
  } else if (full) {
    // The merges of an update whose own save failed: the lock holds off
    // any later merge for the length of the walk.
    std::lock_guard guard(lock);
    catalogUnsaved.store(false);
    bool decided = false;
    saved = SaveCatalogAndState(programDir, error, &journalPending, &decided);
    if (!saved) catalogUnsaved.store(true);
    if (decided) dropWritten(journalPending.size());
  } else {
    std::lock_guard guard(lock);
    saved = SaveState(programDir, error);
  }
  if (!saved) return SaveResult::kFailed;
  if (full) contentOnDisk = FileIdentity::Of(contentPath);
  std::string written;
  if (ReadStateFile(statePath, written)) stateAtLoad = std::move(written);
  return SaveResult::kSaved;
}

bool SiteListHasKey(const std::filesystem::path& siteList, std::string_view key) {
  const int fd = OpenForReading(siteList);
  if (fd < 0) return true;
  FdSource source(fd);
  CArchiveReader archive(source);
  bool found = false;
  bool complete = true;
  std::uint32_t count = 0;
  if (!IsEmptyFile(fd) && archive.ReadCount(count)) {
    for (std::uint32_t i = 0; i < count && !found; ++i) {
      CArchiveReader::ObjectRef ref;
      if (!archive.ReadObjectRef(&kFTPSiteClass, ref) ||
          ref.kind != CArchiveReader::ObjectRef::Kind::kNew) {
        complete = false;
        break;
      }
      CFTPSite site;
      archive.BindObject(ref.index, &site);
      if (site.Serialize(archive) != ArchiveError::kNone) {
        complete = false;
        break;
      }
      found = site.siteKey() == key;
    }
  }
  ::close(fd);
  // A list damaged before the site's record says nothing about it.
  return found || !complete;
}

SiteStatus CFTPSite::Status() const {
  std::lock_guard guard(statusLock_);
  SiteStatus status;
  status.state = static_cast<UpdateState>(updateState.load());
  status.outcome = outcome_;
  status.errorText = errorText_;
  status.failure = failure_;
  if (failure_ == SiteStatus::Failure::kUntrusted) status.presented = presented_;
  status.counts = crawlCounts_;
  return status;
}

void CFTPSite::SetUntrusted(PresentedKey presented, std::string errorText) {
  std::lock_guard guard(statusLock_);
  outcome_ = SiteStatus::Outcome::kFailed;
  errorText_ = std::move(errorText);
  failure_ = SiteStatus::Failure::kUntrusted;
  presented_ = std::move(presented);
  updateState.store(kUpdateFailed);
}

SiteAccess CFTPSite::Access() const {
  std::lock_guard guard(accessLock_);
  return access_;
}

void CFTPSite::SetAccess(SiteAccess access) {
  std::lock_guard guard(accessLock_);
  access_ = std::move(access);
}

SiteProtocol CFTPSite::Protocol() const {
  std::lock_guard guard(accessLock_);
  return access_.protocol;
}

void CFTPSite::SetOutcome(SiteStatus::Outcome outcome, std::string errorText) {
  std::lock_guard guard(statusLock_);
  outcome_ = outcome;
  errorText_ = std::move(errorText);
  failure_ = SiteStatus::Failure::kNone;
}

void CFTPSite::SetOutcome(SiteStatus::Outcome outcome, UpdateState state, std::string errorText,
                          SiteStatus::Failure failure) {
  std::lock_guard guard(statusLock_);
  outcome_ = outcome;
  errorText_ = std::move(errorText);
  failure_ = failure;
  updateState.store(state);
}

CrawlCounts CFTPSite::GetCrawlCounts() const {
  std::lock_guard guard(statusLock_);
  return crawlCounts_;
}

void CFTPSite::SetCrawlCounts(const CrawlCounts& counts) {
  std::lock_guard guard(statusLock_);
  crawlCounts_ = counts;
}

std::string CFTPSite::SaveError() const {
  std::lock_guard guard(statusLock_);
  return saveError_;
}

void CFTPSite::SetSaveError(std::string text) {
  std::lock_guard guard(statusLock_);
  saveError_ = std::move(text);
}

namespace {

// Everything a save or a commit may leave in a data directory.
bool IsSiteFileOrLeftover(std::string_view entry) {
  if (entry == kCommitRecordName || IsTemporaryOf(entry, kCommitRecordName)) return true;
  for (std::string_view name : kSiteFileNames) {
    if (entry == name || IsTemporaryOf(entry, name)) return true;
  }
  return false;
}

bool IsEmptyDirectory(const std::filesystem::path& dir) {
  std::error_code error;
  return std::filesystem::is_empty(dir, error) && !error;
}

}  // namespace

bool DeleteDataDirectory(const std::filesystem::path& programDir, std::string_view key,
                         std::string* failure) {
  // Not while another process replaces the files: its rename would bring
  // them back.
  const CDataDirLock diskLock =
      CDataDirLock::Acquire(programDir, CDataDirLock::Kind::kSiteFiles, key);
  const std::filesystem::path dir = programDir / "Data" / DataDirName(key);
  // A link in the directory's place goes itself; what it leads to is not
  // the site's to delete.
  struct stat info {};
  if (::lstat(dir.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
    if (FileSystem().Unlink(dir.c_str()) != 0 && errno != ENOENT) {
      if (failure) *failure = Reason(dir, errno);
      return false;
    }
    SyncDirectory(programDir / "Data");
    return true;
  }
  bool removed = true;
  std::vector<std::filesystem::path> doomed;
  std::error_code error;
  for (std::filesystem::directory_iterator it(dir, error), end; !error && it != end;
       it.increment(error)) {
    if (IsSiteFileOrLeftover(it->path().filename().string())) doomed.push_back(it->path());
  }
  for (const auto& path : doomed) {
    if (FileSystem().Unlink(path.c_str()) != 0 && errno != ENOENT) {
      if (removed && failure) *failure = Reason(path, errno);
      removed = false;
    }
  }
  // Anything else the user put there keeps the directory.
  if (FileSystem().Rmdir(dir.c_str()) == 0) {
    SyncDirectory(programDir / "Data");
  } else if (errno != ENOTEMPTY && errno != EEXIST && errno != ENOENT && errno != ENOTDIR) {
    if (removed && failure) *failure = Reason(dir, errno);
    removed = false;
  }
  return removed;
}

bool RenameDataDirectory(const std::filesystem::path& programDir, std::string_view oldKey,
                         std::string_view newKey, std::string* failure) {
  const std::filesystem::path data = programDir / "Data";
  const std::filesystem::path from = data / DataDirName(oldKey);
  const std::filesystem::path to = data / DataDirName(newKey);
  if (from == to) return true;
  const auto fail = [&](const std::filesystem::path& path, int error) {
    if (failure) *failure = Reason(path, error);
    return false;
  };
  // rename(2) would replace an empty directory silently and refuse a full
  // one; another catalog is never replaced, and an empty leftover goes
  // first so that the move itself is one step.
  std::error_code statError;
  const bool targetIsDirectory = std::filesystem::is_directory(to, statError);
  if (statError && statError != std::errc::no_such_file_or_directory) {
    return fail(to, statError.value());
  }
  if (targetIsDirectory) {
    if (!IsEmptyDirectory(to)) return fail(to, ENOTEMPTY);
    if (FileSystem().Rmdir(to.c_str()) != 0) return fail(to, errno);
  }
  if (FileSystem().Rename(from.c_str(), to.c_str()) != 0) return fail(from, errno);
  if (!SyncDirectory(data)) return fail(data, errno);
  return true;
}

}  // namespace orvane
