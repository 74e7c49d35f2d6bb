#include "catalog/ftp_site.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "catalog/archive_reader.h"
#include "catalog/archive_writer.h"
#include "catalog/atomic_file.h"

namespace orvane {

namespace {

constexpr mode_t kDirMode = 0700;
constexpr mode_t kFileMode = 0600;

// Creates `dir` owner-only; an existing directory is fine.
bool MakeDirectory(const std::filesystem::path& dir) {
  if (::mkdir(dir.c_str(), kDirMode) == 0) return true;
  return errno == EEXIST;
}

// Opens a stored file for reading. -1 when it cannot be opened; errno
// ENOENT means that there is no such file.
int OpenForReading(const std::filesystem::path& path) { return OpenRegularForReading(path); }

bool IsEmptyFile(int fd) {
  struct stat info {};
  return ::fstat(fd, &info) == 0 && info.st_size == 0;
}

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
ArchiveError ReadCatalogInto(const std::filesystem::path& path, CFTPDir& tree) {
  const int fd = OpenForReading(path);
  if (fd < 0) {
    return errno == ENOENT ? ArchiveError::kNone : ArchiveError::kIo;
  }
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
  const ArchiveError result = ReadCatalogInto(path, tree);
  if (result != ArchiveError::kNone) filesIncomplete.store(true);
  LinkUnder(*rootDir, tree, lock);
  return result;
}

ArchiveError CFTPSite::LoadCatalogAndState(const std::filesystem::path& content,
                                           const std::filesystem::path& state) {
  if (!rootDir) return ArchiveError::kNone;
  CFTPDir tree;
  const ArchiveError result = ReadCatalogInto(content, tree);
  if (result != ArchiveError::kNone) filesIncomplete.store(true);
  if (const int fd = OpenForReading(state); fd >= 0) {
    if (!IsEmptyFile(fd)) {
      FdSource source(fd);
      CArchiveReader archive(source);
      // A damaged state file leaves the marks it did not reach at 0; only
      // a failed read leaves them unknown.
      if (tree.SerializeState(archive) == ArchiveError::kIo) filesIncomplete.store(true);
    }
    ::close(fd);
  } else if (errno != ENOENT) {
    filesIncomplete.store(true);
  }
  LinkUnder(*rootDir, tree, lock);
  return result;
}

bool CFTPSite::LoadState(const std::filesystem::path& path, ArchiveError* error) {
  if (error) *error = ArchiveError::kNone;
  const int fd = OpenForReading(path);
  if (fd < 0) {
    if (errno != ENOENT) filesIncomplete.store(true);
    return false;
  }
  if (!IsEmptyFile(fd) && rootDir) {
    FdSource source(fd);
    CArchiveReader archive(source);
    std::lock_guard guard(lock);
    const ArchiveError result = rootDir->SerializeState(archive);
    // A file shorter than the tree is normal (the rest counts as read);
    // only a failed read leaves marks unknown.
    if (result == ArchiveError::kIo) filesIncomplete.store(true);
    if (error) *error = result;
  }
  ::close(fd);
  return true;
}

bool CFTPSite::SaveCatalog(const std::filesystem::path& programDir) const {
  if (!rootDir || filesIncomplete.load()) return false;
  MakeDirectory(programDir / "Data");
  const std::filesystem::path dir = DataDirectory(programDir);
  MakeDirectory(dir);
  CAtomicFile file(dir / "content.ct", kFileMode);
  if (!file.is_open()) return false;
  CArchiveWriter archive(file.sink());
  rootDir->Serialize(archive);
  if (archive.Close() != ArchiveError::kNone) return false;
  return file.Commit();
}

bool CFTPSite::SaveState(const std::filesystem::path& programDir) const {
  if (!rootDir || filesIncomplete.load()) return false;
  // Only the site's own directory is made here; without Data the save fails.
  const std::filesystem::path dir = DataDirectory(programDir);
  MakeDirectory(dir);
  CAtomicFile file(dir / "state.st", kFileMode);
  if (!file.is_open()) return false;
  CArchiveWriter archive(file.sink());
  rootDir->SerializeState(archive);
  if (archive.Close() != ArchiveError::kNone) return false;
  return file.Commit();
}

bool CFTPSite::SaveCatalogAndState(const std::filesystem::path& programDir) const {
  if (!rootDir || filesIncomplete.load()) return false;
  MakeDirectory(programDir / "Data");
  const std::filesystem::path dir = DataDirectory(programDir);
  MakeDirectory(dir);
  CAtomicFile contentFile(dir / "content.ct", kFileMode);
  CAtomicFile stateFile(dir / "state.st", kFileMode);
  if (!contentFile.is_open() || !stateFile.is_open()) return false;
  CArchiveWriter content(contentFile.sink());
  CArchiveWriter state(stateFile.sink());
  rootDir->Serialize(content, state);
  if (content.Close() != ArchiveError::kNone || state.Close() != ArchiveError::kNone) return false;
  // The marks are matched to the catalog by position: a new state file
  // beside the old catalog would give them to the wrong entries.
  return contentFile.Commit() && stateFile.Commit();
}

SiteStatus CFTPSite::Status() const {
  std::lock_guard guard(statusLock_);
  SiteStatus status;
  status.state = static_cast<UpdateState>(updateState.load());
  status.outcome = outcome_;
  status.errorText = errorText_;
  status.counts = crawlCounts_;
  return status;
}

void CFTPSite::SetOutcome(SiteStatus::Outcome outcome, std::string errorText) {
  std::lock_guard guard(statusLock_);
  outcome_ = outcome;
  errorText_ = std::move(errorText);
}

void CFTPSite::SetOutcome(SiteStatus::Outcome outcome, UpdateState state, std::string errorText) {
  std::lock_guard guard(statusLock_);
  outcome_ = outcome;
  errorText_ = std::move(errorText);
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

namespace {

// A temporary that CAtomicFile leaves behind only when the process dies
// between creating and renaming it: "<name>.tmp" and six random characters.
bool IsStaleTemporary(std::string_view entry) {
  for (std::string_view stem :
       {std::string_view("content.ct.tmp"), std::string_view("state.st.tmp")}) {
    if (entry.size() == stem.size() + 6 && entry.substr(0, stem.size()) == stem) return true;
  }
  return false;
}

}  // namespace

void DeleteDataDirectory(const std::filesystem::path& programDir, std::string_view key) {
  const std::filesystem::path dir = programDir / "Data" / DataDirName(key);
  ::unlink((dir / "content.ct").c_str());
  ::unlink((dir / "state.st").c_str());
  std::error_code error;
  for (std::filesystem::directory_iterator it(dir, error), end; !error && it != end;
       it.increment(error)) {
    const std::string entry = it->path().filename().string();
    if (IsStaleTemporary(entry)) ::unlink(it->path().c_str());
  }
  // Anything else the user put there keeps the directory.
  ::rmdir(dir.c_str());
}

bool RenameDataDirectory(const std::filesystem::path& programDir, std::string_view oldKey,
                         std::string_view newKey) {
  const std::filesystem::path data = programDir / "Data";
  const std::filesystem::path from = data / DataDirName(oldKey);
  const std::filesystem::path to = data / DataDirName(newKey);
  if (from == to) return true;
  return ::rename(from.c_str(), to.c_str()) == 0;
}

}  // namespace orvane
