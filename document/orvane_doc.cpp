#include "document/orvane_doc.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <unordered_set>
#include <utility>

#include "catalog/archive_reader.h"
#include "catalog/archive_writer.h"
#include "catalog/atomic_file.h"
#include "catalog/catalog_loader.h"
#include "catalog/file_system.h"
#include "catalog/ftp_dir.h"
#include "catalog/site_options.h"
#include "document/removal_filter.h"
#include "document/site_store.h"

namespace orvane {

namespace {

constexpr mode_t kSiteListMode = 0600;

std::string FillPath(std::string_view pattern, const std::filesystem::path& path) {
  std::string text(pattern);
  const std::size_t at = text.find("%1");
  if (at != std::string::npos) text.replace(at, 2, path.string());
  return text;
}

// The framework's texts for a site list that could not be read to its end.
std::string LoadErrorText(ArchiveError error, const std::filesystem::path& path) {
  switch (error) {
    case ArchiveError::kEndOfFile:
      return FillPath("An attempt was made to access %1 past its end.", path);
    case ArchiveError::kBadClass:
      return FillPath("%1 contained an unexpected object.", path);
    case ArchiveError::kBadSchema:
      return FillPath("%1 contains an incorrect schema.", path);
    case ArchiveError::kNoMemory:
      return "Out of memory.";
    case ArchiveError::kIo:
      return FillPath("An unexpected error occurred while reading %1.", path);
    case ArchiveError::kGeneric:
      return FillPath("An unknown error occurred while accessing %1.", path);
    case ArchiveError::kBadIndex:
    case ArchiveError::kBadFormat:
    case ArchiveError::kNone:
      break;
  }
  return FillPath("%1 has a bad format.", path);
}

// The framework's texts for a site list that could not be opened.
std::string OpenErrorText(int error, const std::filesystem::path& path) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return FillPath("%1 was not found.", path);
    case EACCES:
    case EPERM:
    case EROFS:
      return FillPath("Access to %1 was denied.", path);
    default:
      return FillPath("An unexpected error occurred while reading %1.", path);
  }
}

// The record of a site change that moves or removes a data directory; see
// COrvaneDoc::FinishSiteChange.
constexpr std::string_view kSiteChangeRecord = "site-change.pending";
constexpr std::string_view kDeleteChange = "delete";
constexpr std::string_view kRenameChange = "rename";

struct SiteChangeRecord {
  std::string kind;
  std::string oldKey;
  std::string newKey;  // empty for a delete
};

// Writes the record durably (an archive of three strings, so that any key
// bytes fit); false with "<path>: <reason>" when it could not be.
bool WriteSiteChange(const std::filesystem::path& programDir, const SiteChangeRecord& change,
                     std::string& error) {
  const std::filesystem::path path = programDir / kSiteChangeRecord;
  // A record still there is an earlier change's unfinished work; writing
  // over it would lose that work (COrvaneDoc::SettleSiteChange runs first).
  if (::access(path.c_str(), F_OK) == 0 || errno != ENOENT) {
    error = path.string() + ": an earlier site change is not finished yet";
    return false;
  }
  CAtomicFile file(path, kSiteListMode);
  if (file.is_open()) {
    CArchiveWriter archive(file.sink());
    archive.WriteString(change.kind);
    archive.WriteString(change.oldKey);
    archive.WriteString(change.newKey);
    if (archive.Close() == ArchiveError::kNone && file.Commit()) return true;
  }
  error = path.string() + ": " + std::strerror(file.error() ? file.error() : EIO);
  return false;
}

void ClearSiteChange(const std::filesystem::path& programDir) {
  // A record that stays only makes the next start check again.
  FileSystem().Unlink((programDir / kSiteChangeRecord).c_str());
}

bool IsDirectoryWithEntries(const std::filesystem::path& dir) {
  std::error_code error;
  return std::filesystem::is_directory(dir, error) && !std::filesystem::is_empty(dir, error) &&
         !error;
}

// Removes temporaries of site.ds, its side file and the change record that
// a process left when it died mid-save. Under the site-list lock.
void RemoveSiteListLeftovers(const std::filesystem::path& programDir) {
  std::error_code error;
  for (std::filesystem::directory_iterator it(programDir, error), end; !error && it != end;
       it.increment(error)) {
    const std::string entry = it->path().filename().string();
    if (IsTemporaryOf(entry, "site.ds") || IsTemporaryOf(entry, kSiteOptionsFileName) ||
        IsTemporaryOf(entry, kSiteChangeRecord)) {
      FileSystem().Unlink(it->path().c_str());
    }
  }
}

template <typename T>
void EraseIf(std::vector<T*>& list, auto&& gone) {
  list.erase(std::remove_if(list.begin(), list.end(), gone), list.end());
}

}  // namespace

COrvaneDoc::COrvaneDoc(std::filesystem::path programDir, IDocumentHost& host)
    : programDir_(std::move(programDir)), host_(host) {}

COrvaneDoc::~COrvaneDoc() {
  browseDirs.clear();
  browseFiles.clear();
  resultDirs.clear();
  resultFiles.clear();
  siteList_.clear();
  backList.clear();
  forwardList.clear();
  currentNode.reset();
  graveyard_ = Graveyard{};
}

// ---- Lifecycle --------------------------------------------------------------

bool COrvaneDoc::SettleSiteChange(std::string& error) {
  const std::filesystem::path path = programDir_ / kSiteChangeRecord;
  if (::access(path.c_str(), F_OK) != 0 && errno == ENOENT) return true;
  if (FinishSiteChange()) return true;
  error = path.string() + ": an earlier site change is not finished yet";
  return false;
}

bool COrvaneDoc::FinishSiteChange() {
  const std::filesystem::path recordPath = programDir_ / kSiteChangeRecord;
  std::string bytes;
  if (!ReadWholeFile(recordPath, bytes)) return errno == ENOENT;
  SiteChangeRecord change;
  MemorySource source(bytes);
  CArchiveReader archive(source);
  if (!archive.ReadString(change.kind) || !archive.ReadString(change.oldKey) ||
      !archive.ReadString(change.newKey)) {
    // Never written like that (the record is replaced atomically).
    ClearSiteChange(programDir_);
    return true;
  }
  // site.ds says how far the change got: whatever it lists keeps (or gets
  // back) its catalog, whatever it no longer lists loses it. A list that
  // cannot be read says both, and the record waits for a readable one.
  const std::filesystem::path list = programDir_ / "site.ds";
  const std::filesystem::path data = programDir_ / "Data";
  bool finished = true;
  if (change.kind == kDeleteChange) {
    if (!SiteListHasKey(list, change.oldKey)) {
      finished = DeleteDataDirectory(programDir_, change.oldKey);
    }
  } else if (change.kind == kRenameChange) {
    const bool oldListed = SiteListHasKey(list, change.oldKey);
    const bool newListed = SiteListHasKey(list, change.newKey);
    const std::string from = oldListed ? change.newKey : change.oldKey;
    const std::string to = oldListed ? change.oldKey : change.newKey;
    if (oldListed && newListed) {
      // Both listed, or a list that cannot be read: nothing tells which.
      finished = false;
    } else if (!oldListed && !newListed) {
      // Deleted since; that delete took its catalog.
    } else if (IsDirectoryWithEntries(data / DataDirName(from)) &&
               !IsDirectoryWithEntries(data / DataDirName(to))) {
      const CDataDirLock fromLock =
          CDataDirLock::Acquire(programDir_, CDataDirLock::Kind::kSiteFiles, from);
      finished = RenameDataDirectory(programDir_, from, to);
    }
  }
  if (finished) ClearSiteChange(programDir_);
  return finished;
}

bool COrvaneDoc::OnNewDocument(bool createMissing) {
  const std::filesystem::path path = programDir_ / "site.ds";
  userSettings_ = UserSettings::Load(programDir_);
  if (::access((programDir_ / kSiteChangeRecord).c_str(), F_OK) == 0) {
    // A delete or a key change was interrupted: its site and catalog are
    // put back together before anything reads them.
    const CDataDirLock listLock = CDataDirLock::Acquire(programDir_, CDataDirLock::Kind::kSiteList);
    if (listLock.held()) FinishSiteChange();
  }
  // Never blocks: a FIFO or a device in the list's place cannot be read.
  int fd = OpenRegularForReading(path);
  if (fd < 0 && errno == ENOENT && !createMissing) return true;
  if (fd < 0 && errno == ENOENT) {
    // A first start: an empty list, saved owner-only like every later one.
    const int created =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kSiteListMode);
    if (created >= 0) ::close(created);
    fd = OpenRegularForReading(path);
  }
  if (fd < 0) {
    host_.ReportLoadError(OpenErrorText(errno, path));
    return true;
  }
  siteListOnDisk_ = FileIdentity::OfOpen(fd);
  if (siteListOnDisk_.size == 0) {
    ::close(fd);
    return true;
  }
  FdSource source(fd);
  CArchiveReader archive(source);
  const std::size_t before = siteList_.size();
  const ArchiveError error = Serialize(archive);
  ::close(fd);
  ApplySiteOptions(siteList_);
  for (std::size_t i = before; i < siteList_.size(); ++i) {
    siteList_[i]->listed.store(true);
    ApplyUserSettings(*siteList_[i]);
  }
  if (siteList_.size() > before) host_.SitesAdded(before, siteList_.size() - before);
  // The sites read before the damage stay: there is nothing better to offer,
  // and the next save writes exactly those.
  if (error != ArchiveError::kNone) host_.ReportLoadError(LoadErrorText(error, path));
  return true;
}

ArchiveError COrvaneDoc::Serialize(CArchiveReader& archive) {
  return ReadSites(archive, siteList_);
}

ArchiveError COrvaneDoc::ReadSites(CArchiveReader& archive,
                                   std::vector<std::shared_ptr<CFTPSite>>& sites) {
  std::uint32_t count = 0;
  if (!archive.ReadCount(count)) return archive.error();
  for (std::uint32_t i = 0; i < count; ++i) {
    CArchiveReader::ObjectRef ref;
    if (!archive.ReadObjectRef(&kFTPSiteClass, ref)) return archive.error();
    if (ref.kind != CArchiveReader::ObjectRef::Kind::kNew) {
      // A null or repeated record would make the list hold no site, or one
      // site twice; neither can be deleted or saved sensibly.
      archive.Fail(ArchiveError::kBadFormat);
      return archive.error();
    }
    auto site = std::make_shared<CFTPSite>();
    archive.BindObject(ref.index, site.get());
    if (const ArchiveError error = site->Serialize(archive); error != ArchiveError::kNone) {
      return error;
    }
    sites.push_back(std::move(site));
  }
  return ArchiveError::kNone;
}

void COrvaneDoc::Serialize(CArchiveWriter& archive) const {
  archive.WriteCount(static_cast<std::uint32_t>(siteList_.size()));
  for (const auto& site : siteList_) {
    archive.WriteNewObject(kFTPSiteClass);
    site->Serialize(archive);
  }
}

void COrvaneDoc::ApplySiteOptions(std::vector<std::shared_ptr<CFTPSite>>& sites) {
  const SiteOptionsRead read = ReadSiteOptions(programDir_);
  // A damaged file is reported and read as every site "auto"; the next
  // save writes what this process knows.
  if (!read.ok()) host_.ReportLoadError(read.error);
  for (const auto& site : sites) {
    const SiteOptions* options = read.list.Find(site->siteKey());
    site->charset.store(options ? options->charset : NameCharset::kAuto);
    site->SetAccess(options ? options->access : SiteAccess{});
    // What "auto" decided is known before the catalog is read, so that
    // the journal and the site's tip show names right too.
    if (site->decidedCharset.load() == NameCharset::kAuto) {
      if (const auto decision = ReadCharsetDecision(site->DataDirectory(programDir_))) {
        site->decidedCharset.store(decision->decided);
      }
    }
  }
}

bool COrvaneDoc::SaveSiteOptions() {
  // Written before site.ds, and holding the records of the sites site.ds
  // lists now as well as those of the list about to replace it: whichever
  // of the two a crash leaves, every site it lists finds its record. A
  // record no list holds any more is dropped by the next save.
  const SiteOptionsRead onDisk = ReadSiteOptions(programDir_);
  SiteOptionsList list;
  std::unordered_set<std::string> keys;
  for (const auto& site : siteList_) {
    std::string key = site->siteKey();
    if (!keys.insert(key).second) continue;
    const SiteOptions* old = onDisk.list.Find(key);
    SiteOptions options = old ? *old : SiteOptions{};
    options.charset = site->charset.load();
    options.access = site->Access();
    list.sites.emplace_back(std::move(key), std::move(options));
  }
  const std::filesystem::path siteDs = programDir_ / "site.ds";
  for (const auto& [key, options] : onDisk.list.sites) {
    if (keys.count(key) == 0 && SiteListHasKey(siteDs, key)) list.sites.emplace_back(key, options);
  }
  return WriteSiteOptions(programDir_, list, &siteListError_);
}

bool COrvaneDoc::SaveSiteList() {
  const std::filesystem::path path = programDir_ / "site.ds";
  RemoveSiteListLeftovers(programDir_);
  if (!SaveSiteOptions()) return false;
  CAtomicFile file(path, kSiteListMode);
  bool saved = file.is_open();
  if (saved) {
    CArchiveWriter archive(file.sink());
    Serialize(archive);
    saved = archive.Close() == ArchiveError::kNone && file.Commit();
  }
  if (!saved) {
    siteListError_ = path.string() + ": " + std::strerror(file.error() ? file.error() : EIO);
    return false;
  }
  siteListError_.clear();
  siteListOnDisk_ = FileIdentity::Of(path);
  for (const auto& site : siteList_) site->listed.store(true);
  return true;
}

void COrvaneDoc::RefreshSiteList() {
  const std::filesystem::path path = programDir_ / "site.ds";
  FinishSiteChange();
  if (FileIdentity::Of(path) == siteListOnDisk_) return;
  const int fd = OpenRegularForReading(path);
  if (fd < 0) return;
  const FileIdentity identity = FileIdentity::OfOpen(fd);
  std::vector<std::shared_ptr<CFTPSite>> fresh;
  ArchiveError error = ArchiveError::kNone;
  if (identity.size > 0) {
    FdSource source(fd);
    CArchiveReader archive(source);
    error = ReadSites(archive, fresh);
  }
  ::close(fd);
  // A list damaged by someone else is no reason to drop sites: this
  // process's own view is written instead.
  if (error != ArchiveError::kNone) return;
  siteListOnDisk_ = identity;
  ApplySiteOptions(fresh);

  auto findIn = [](const std::vector<std::shared_ptr<CFTPSite>>& list, const std::string& key) {
    return std::find_if(list.begin(), list.end(),
                        [&key](const auto& site) { return site->siteKey() == key; });
  };
  for (std::size_t i = siteList_.size(); i-- > 0;) {
    const std::string key = siteList_[i]->siteKey();
    const auto there = findIn(fresh, key);
    if (there == fresh.end()) {
      // Deleted by another process, which removed its files too.
      siteList_[i]->removed.store(true);
      RemoveSiteAt(i);
      continue;
    }
    const SiteSettings settings = SiteSettings::Of(**there);
    CFTPSite& site = *siteList_[i];
    // A running update reads the login, so such a site keeps this
    // process's settings (another process's edit of it is then lost).
    const bool differs = settings.nickname != site.nickname || settings.remarks != site.remarks ||
                         settings.port != site.port || settings.password != site.password ||
                         settings.anonymousUpdate != site.anonymousUpdate ||
                         settings.charset != site.charset.load() ||
                         settings.access != site.Access();
    if (differs && site.updateState.load() != kUpdateRunning) {
      settings.ApplyTo(site);
      host_.SiteChanged(i);
    }
    fresh.erase(there);
  }
  for (auto& site : fresh) {
    if (findIn(siteList_, site->siteKey()) != siteList_.end()) continue;
    site->listed.store(true);
    AppendSite(std::move(site));
  }
}

std::vector<std::string> COrvaneDoc::OnCloseDocument() { return SaveDirtyMarks(); }

std::vector<std::string> COrvaneDoc::SaveDirtyMarks() {
  std::vector<std::string> failures;
  for (const auto& site : siteList_) {
    if (!site->stateDirty.load()) continue;
    // An update of the site may not have ended yet; SaveFiles walks the
    // tree under the site's lock, which its merges take too.
    std::string error;
    switch (site->SaveFiles(programDir_, false, &error)) {
      case CFTPSite::SaveResult::kSaved:
        site->stateDirty.store(false);
        break;
      case CFTPSite::SaveResult::kFailed:
        failures.push_back(std::move(error));
        break;
      case CFTPSite::SaveResult::kSkipped:
        break;
    }
  }
  return failures;
}

void COrvaneDoc::EnsureCatalogLoaded(CFTPSite& site) {
  ::orvane::EnsureCatalogLoaded(site, programDir_);
}

bool COrvaneDoc::RequestCatalog(const CFTPSite& site) {
  if (site.loadState.load() == kLoaded) return true;
  const auto it = std::find_if(siteList_.begin(), siteList_.end(),
                               [&site](const auto& known) { return known.get() == &site; });
  if (it == siteList_.end()) return true;
  if (!store_) {
    EnsureCatalogLoaded(**it);
    return true;
  }
  store_->Load(*it);
  return false;
}

void COrvaneDoc::PrefetchCatalogs(const std::vector<const CFTPSite*>& sites) {
  if (!store_) return;
  for (const CFTPSite* site : sites) {
    if (site && site->loadState.load() != kLoaded) RequestCatalog(*site);
  }
}

bool COrvaneDoc::PumpMessages() {
  FlushResults();
  return host_.PumpMessages();
}

void COrvaneDoc::ShowDirectory(CFTPDir* dir) {
  if (dir) {
    SnapshotChildren(*dir, dir->GetSite(), browseDirs, browseFiles);
  } else {
    browseDirs.clear();
    browseFiles.clear();
  }
  host_.BrowseChanged();
}

// ---- Site list --------------------------------------------------------------

SiteSettings SiteSettings::Of(const CFTPSite& site) {
  SiteSettings settings;
  settings.host = site.host;
  settings.userName = site.userName;
  settings.password = site.password;
  settings.port = site.port;
  settings.nickname = site.nickname;
  settings.remarks = site.remarks;
  settings.anonymousUpdate = site.anonymousUpdate;
  settings.charset = site.charset.load();
  settings.access = site.Access();
  return settings;
}

void SiteSettings::ApplyTo(CFTPSite& site) const {
  site.host = host;
  site.userName = userName;
  site.password = password;
  site.port = port;
  site.nickname = nickname;
  site.remarks = remarks;
  site.anonymousUpdate = anonymousUpdate;
  site.charset.store(charset);
  site.SetAccess(access);
}

std::shared_ptr<CFTPSite> COrvaneDoc::FindSite(std::string_view key) const {
  for (const auto& site : siteList_) {
    if (site->siteKey() == key) return site;
  }
  return nullptr;
}

std::size_t COrvaneDoc::IndexOf(const CFTPSite* site) const {
  const auto it = std::find_if(siteList_.begin(), siteList_.end(),
                               [site](const auto& known) { return known.get() == site; });
  return static_cast<std::size_t>(it - siteList_.begin());
}

bool COrvaneDoc::HasSiteWithLogin(std::string_view host, std::string_view userName,
                                  const CFTPSite* except) const {
  return std::any_of(siteList_.begin(), siteList_.end(), [&](const auto& site) {
    return site.get() != except && site->host == host && site->userName == userName;
  });
}

SiteChange COrvaneDoc::AddSite(std::shared_ptr<CFTPSite> site) {
  if (!site) return SiteChange::kRefused;
  const CDataDirLock listLock = CDataDirLock::Acquire(programDir_, CDataDirLock::Kind::kSiteList);
  RefreshSiteList();
  if (HasSiteWithLogin(site->host, site->userName)) return SiteChange::kRefused;
  site->loadState.store(kLoaded);
  ApplyUserSettings(*site);
  siteList_.push_back(std::move(site));
  host_.SitesAdded(siteList_.size() - 1, 1);
  return SaveSiteList() ? SiteChange::kSaved : SiteChange::kNotSaved;
}

bool COrvaneDoc::SetUserSettings(const UserSettings& settings, std::string* error) {
  // Only what changed since the settings were read goes to the file:
  // another process's change to another key meanwhile stays, and comes
  // back here with the file as it was written.
  UserSettings now;
  if (!settings.SaveChanges(programDir_, userSettings_, error, &now)) return false;
  userSettings_ = now;
  for (const auto& site : siteList_) ApplyUserSettings(*site);
  return true;
}

void COrvaneDoc::ReloadUserSettings() {
  userSettings_ = UserSettings::Load(programDir_);
  for (const auto& site : siteList_) ApplyUserSettings(*site);
}

void COrvaneDoc::ApplyUserSettings(CFTPSite& site) const {
  site.SetJournalLimits(userSettings_.journalLimits());
}

void COrvaneDoc::AppendSite(std::shared_ptr<CFTPSite> site) {
  if (!site) return;
  ApplyUserSettings(*site);
  siteList_.push_back(std::move(site));
  host_.SitesAdded(siteList_.size() - 1, 1);
}

SiteChange COrvaneDoc::EditSite(CFTPSite& site, const SiteSettings& settings) {
  const std::size_t index = IndexOf(&site);
  // A running update reads the login and the key; a waiting one will.
  if (index == siteList_.size() || site.updateState.load() == kUpdateRunning) {
    return SiteChange::kRefused;
  }
  const CDataDirLock listLock = CDataDirLock::Acquire(programDir_, CDataDirLock::Kind::kSiteList);
  // The site itself may have been deleted by another process meanwhile.
  const std::shared_ptr<CFTPSite> keep = siteList_[index];
  RefreshSiteList();
  if (IndexOf(&site) == siteList_.size()) return SiteChange::kRefused;
  if (store_) store_->Settle(site);
  const SiteSettings before = SiteSettings::Of(site);
  const std::string oldKey = site.siteKey();
  CFTPSite probe;
  settings.ApplyTo(probe);
  const std::string newKey = probe.siteKey();
  if (newKey == oldKey) {
    settings.ApplyTo(site);
    host_.SiteChanged(IndexOf(&site));
    return SaveSiteList() ? SiteChange::kSaved : SiteChange::kNotSaved;
  }

  // The catalog moves with the key. Every step is undone when a later one
  // fails, and the record lets the next start finish or undo a change that
  // a crash interrupted (FinishSiteChange): at no point does site.ds list
  // a key whose catalog sits under another name. An earlier change's record
  // is settled first (before the files locks, which settling may take).
  if (!SettleSiteChange(siteListError_)) return SiteChange::kFailed;
  // A worker that has just ended may still be writing the site's files
  // under the old key.
  std::lock_guard files(site.filesLock);
  const CDataDirLock oldFiles =
      CDataDirLock::Acquire(programDir_, CDataDirLock::Kind::kSiteFiles, oldKey);
  const CDataDirLock newFiles =
      CDataDirLock::Acquire(programDir_, CDataDirLock::Kind::kSiteFiles, newKey);
  const std::filesystem::path data = programDir_ / "Data";
  const std::filesystem::path from = data / DataDirName(oldKey);
  const std::filesystem::path to = data / DataDirName(newKey);
  if (IsDirectoryWithEntries(to)) {
    siteListError_ = to.string() + ": " + std::strerror(ENOTEMPTY);
    return SiteChange::kTargetTaken;
  }
  // A Data directory that cannot be examined fails the edit, with why.
  std::error_code statError;
  const bool move = std::filesystem::exists(from, statError);
  if (statError) {
    siteListError_ = from.string() + ": " + statError.message();
    return SiteChange::kFailed;
  }
  if (move &&
      !WriteSiteChange(programDir_, {std::string(kRenameChange), oldKey, newKey}, siteListError_)) {
    return SiteChange::kFailed;
  }
  if (move && !RenameDataDirectory(programDir_, oldKey, newKey, &siteListError_)) {
    // A move that reported failure after it happened is put back too; a
    // record whose outcome cannot be seen stays for the next start.
    std::error_code error;
    if (!std::filesystem::exists(from, error) && !error) {
      RenameDataDirectory(programDir_, newKey, oldKey);
    }
    if (std::filesystem::exists(from, error) && !error) ClearSiteChange(programDir_);
    return SiteChange::kFailed;
  }
  settings.ApplyTo(site);
  if (!SaveSiteList()) {
    before.ApplyTo(site);
    const std::string reason = siteListError_;
    if (move && RenameDataDirectory(programDir_, newKey, oldKey)) ClearSiteChange(programDir_);
    siteListError_ = reason;
    return SiteChange::kFailed;
  }
  if (move) ClearSiteChange(programDir_);
  host_.SiteChanged(IndexOf(&site));
  return SiteChange::kSaved;
}

bool COrvaneDoc::DeleteSite(std::string_view key, std::string* failure) {
  if (failure) failure->clear();
  const CDataDirLock listLock = CDataDirLock::Acquire(programDir_, CDataDirLock::Kind::kSiteList);
  RefreshSiteList();
  const auto it = std::find_if(siteList_.begin(), siteList_.end(),
                               [key](const auto& site) { return site->siteKey() == key; });
  if (it == siteList_.end()) return false;
  const std::size_t index = static_cast<std::size_t>(it - siteList_.begin());
  std::shared_ptr<CFTPSite> site = *it;
  // The order keeps a catalog and its site together: the record first, so
  // that a crash after site.ds no longer lists the site still removes its
  // files at the next start; then site.ds; then the files. A failure
  // before site.ds is written changes nothing.
  std::string error;
  if (!SettleSiteChange(error) ||
      !WriteSiteChange(programDir_, {std::string(kDeleteChange), std::string(key), {}}, error)) {
    if (failure) *failure = std::move(error);
    return true;
  }
  // First, so that an update still running for the site neither saves its
  // files again nor queues a resumption; one in another process finds the
  // site gone from site.ds, which is written before the files go.
  site->removed.store(true);
  RemoveSiteAt(index);
  if (!SaveSiteList()) {
    if (failure) *failure = siteListError_;
    site->removed.store(false);
    siteList_.insert(siteList_.begin() + static_cast<std::ptrdiff_t>(index), site);
    host_.SitesAdded(index, 1);
    ClearSiteChange(programDir_);
    return true;
  }
  std::lock_guard files(site->filesLock);
  if (DeleteDataDirectory(programDir_, key, &error)) {
    ClearSiteChange(programDir_);
  } else if (failure) {
    *failure = std::move(error);
  }
  return true;
}

void COrvaneDoc::RemoveSiteAt(std::size_t index) {
  std::shared_ptr<CFTPSite> site = siteList_[index];
  host_.SiteRemoving(index);
  siteList_.erase(siteList_.begin() + static_cast<std::ptrdiff_t>(index));
  DropReferences({}, {}, {site.get()});
  // The update engine may still hold the record; the last owner frees it.
  if (walkDepth_ > 0) graveyard_.sites.push_back(std::move(site));
}

// ---- Results ----------------------------------------------------------------

void COrvaneDoc::ClearResults() {
  pendingKind_ = PendingKind::kNone;
  pendingCount_ = 0;
  resultDirs.clear();
  resultFiles.clear();
  host_.ResultsCleared();
}

void COrvaneDoc::AddResult(CFTPDir* dir) {
  if (pendingKind_ == PendingKind::kFiles) FlushResults();
  resultDirs.push_back(dir);
  pendingKind_ = PendingKind::kDirs;
  if (++pendingCount_ >= kResultBatch) FlushResults();
}

void COrvaneDoc::AddResult(CFTPFile* file) {
  if (pendingKind_ == PendingKind::kDirs) FlushResults();
  resultFiles.push_back(file);
  pendingKind_ = PendingKind::kFiles;
  if (++pendingCount_ >= kResultBatch) FlushResults();
}

void COrvaneDoc::FlushResults() {
  const PendingKind kind = pendingKind_;
  const std::size_t count = pendingCount_;
  pendingKind_ = PendingKind::kNone;
  pendingCount_ = 0;
  if (count == 0) return;
  if (kind == PendingKind::kDirs) {
    host_.DirsAppended(count);
  } else if (kind == PendingKind::kFiles) {
    host_.FilesAppended(count);
  }
}

// ---- Removed entries --------------------------------------------------------

void COrvaneDoc::OnEntryRemoved(std::unique_ptr<CFTPDir> dir) {
  std::vector<std::unique_ptr<CFTPDir>> dirs;
  dirs.push_back(std::move(dir));
  OnEntriesRemoved(std::move(dirs), {});
}

void COrvaneDoc::OnEntryRemoved(std::unique_ptr<CFTPFile> file) {
  std::vector<std::unique_ptr<CFTPFile>> files;
  files.push_back(std::move(file));
  OnEntriesRemoved({}, std::move(files));
}

void COrvaneDoc::OnEntriesRemoved(std::vector<std::unique_ptr<CFTPDir>> dirs,
                                  std::vector<std::unique_ptr<CFTPFile>> files) {
  std::vector<const CFTPDir*> dirRoots;
  dirRoots.reserve(dirs.size());
  for (const auto& dir : dirs) {
    if (dir) dirRoots.push_back(dir.get());
  }
  std::vector<const CFTPFile*> fileList;
  fileList.reserve(files.size());
  for (const auto& file : files) {
    if (file) fileList.push_back(file.get());
  }
  // The views first: they may still show the entries, and the document's
  // lists are what they were told.
  FlushResults();
  host_.EntriesRemoving(dirRoots, fileList);
  DropReferences(dirRoots, fileList, {});
  if (walkDepth_ == 0) return;  // destroyed on leaving
  for (auto& dir : dirs) {
    if (!dir) continue;
    graveyard_.dirSet.insert(dir.get());
    graveyard_.dirs.push_back(std::move(dir));
  }
  for (auto& file : files) {
    if (!file) continue;
    graveyard_.fileSet.insert(file.get());
    graveyard_.files.push_back(std::move(file));
  }
}

bool COrvaneDoc::IsRemoved(const CFTPDir* dir) const {
  if (graveyard_.empty() || !dir) return false;
  for (const CFTPDir* d = dir; d; d = d->parent) {
    // Stop at a parked root: its parent link may lead into a catalog that
    // is gone.
    if (graveyard_.dirSet.count(d)) return true;
    if (!d->parent) {
      return std::any_of(graveyard_.sites.begin(), graveyard_.sites.end(),
                         [d](const auto& site) { return site->rootDir.get() == d; });
    }
  }
  return false;
}

bool COrvaneDoc::IsRemoved(const CFTPFile* file) const {
  if (graveyard_.empty() || !file) return false;
  if (graveyard_.fileSet.count(file)) return true;
  return IsRemoved(file->parent);
}

void COrvaneDoc::ReleaseGraveyard() {
  if (graveyard_.empty()) return;
  Graveyard dead = std::move(graveyard_);
  graveyard_ = Graveyard{};
  // A walk may have appended parked entries from its snapshot after they
  // were dropped; drop them again before they go.
  std::vector<const CFTPDir*> dirs;
  for (const auto& dir : dead.dirs) dirs.push_back(dir.get());
  std::vector<const CFTPFile*> files;
  for (const auto& file : dead.files) files.push_back(file.get());
  std::vector<const CFTPSite*> sites;
  for (const auto& site : dead.sites) sites.push_back(site.get());
  FlushResults();
  if (!dirs.empty() || !files.empty()) host_.EntriesRemoving(dirs, files);
  DropReferences(dirs, files, sites);
}

void COrvaneDoc::DropReferences(const std::vector<const CFTPDir*>& dirs,
                                const std::vector<const CFTPFile*>& files,
                                const std::vector<const CFTPSite*>& sites) {
  if (dirs.empty() && files.empty() && sites.empty()) return;
  FlushResults();
  CRemovalFilter filter(dirs, files, sites);
  auto dirGone = [&filter](const CFTPDir* dir) { return filter.Reaches(dir); };
  auto fileGone = [&filter](const CFTPFile* file) { return filter.Reaches(file); };
  auto nodeGone = [&filter](const std::unique_ptr<DirNode>& node) {
    return filter.Reaches(node->directory);
  };

  EraseIf(browseDirs, dirGone);
  EraseIf(browseFiles, fileGone);
  EraseIf(resultDirs, dirGone);
  EraseIf(resultFiles, fileGone);
  if (!filter.TakesDirs()) return;
  const std::size_t steps = backList.size() + forwardList.size();
  backList.erase(std::remove_if(backList.begin(), backList.end(), nodeGone), backList.end());
  forwardList.erase(std::remove_if(forwardList.begin(), forwardList.end(), nodeGone),
                    forwardList.end());
  bool historyChanged = backList.size() + forwardList.size() != steps;
  if (currentNode && dirGone(currentNode->directory)) {
    currentNode.reset();
    historyChanged = true;
  }
  if (historyChanged) host_.HistoryChanged();
}

// ---- Navigation history -----------------------------------------------------

void COrvaneDoc::Push(std::deque<std::unique_ptr<DirNode>>& list, const DirNode& node) {
  list.push_back(std::make_unique<DirNode>(node));
  while (list.size() > kHistoryLimit) list.pop_front();
}

void COrvaneDoc::RecordStep(CFTPDir* dir) {
  if (currentNode) {
    Push(backList, *currentNode);
  } else {
    currentNode = std::make_unique<DirNode>();
  }
  currentNode->directory = dir;
  forwardList.clear();
  host_.HistoryChanged();
}

CFTPDir* COrvaneDoc::GoBack() {
  if (backList.empty()) return nullptr;
  if (currentNode) Push(forwardList, *currentNode);
  std::unique_ptr<DirNode> node = std::move(backList.back());
  backList.pop_back();
  ShowDirectory(node->directory);
  if (currentNode) {
    *currentNode = *node;
  } else {
    currentNode = std::move(node);
  }
  host_.HistoryChanged();
  return currentNode->directory;
}

CFTPDir* COrvaneDoc::GoForward() {
  if (forwardList.empty()) return nullptr;
  if (currentNode) Push(backList, *currentNode);
  std::unique_ptr<DirNode> node = std::move(forwardList.back());
  forwardList.pop_back();
  ShowDirectory(node->directory);
  if (currentNode) {
    *currentNode = *node;
  } else {
    currentNode = std::move(node);
  }
  host_.HistoryChanged();
  return currentNode->directory;
}

bool COrvaneDoc::CanGoUp() const {
  return currentNode && currentNode->directory && currentNode->directory->parent;
}

CFTPDir* COrvaneDoc::GoUp() {
  if (!CanGoUp()) return nullptr;
  Push(backList, *currentNode);
  forwardList.clear();
  CFTPDir* parent = currentNode->directory->parent;
  currentNode->directory = parent;
  ShowDirectory(parent);
  host_.HistoryChanged();
  return parent;
}

}  // namespace orvane
