// The document: the site list and everything the front end browses.
//
// COrvaneDoc owns the site records (shared with the update engine while a
// job for a site exists), the navigation history, and four borrowed lists
// of catalog entries: the browsed directory's subdirectories and files, and
// the results of the last search or listing. It runs on the front end's
// thread only; the update workers change catalogs on their own threads under
// each site's lock (see catalog/ftp_site.h).
//
// Entries removed by an update reach the document through OnEntryRemoved
// (see CEngineBridge); the host's IRemovalObserver is told first, then the
// document drops every reference to them (lists, history) before it
// destroys them, and keeps them alive until no walk can still hold them.
//
// The site list changes only through AddSite, EditSite, DeleteSite,
// ImportSites and the reading of site.ds, each of which tells the host
// (ISiteListSink); results are appended through AddResult, which tells the
// host in batches (IResultSink).
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "catalog/ftp_site.h"
#include "document/dir_node.h"
#include "document/document_host.h"
#include "document/user_settings.h"

namespace orvane {

class CDocWalk;
class CSiteStore;

// A site's stored settings, as the site dialog and `orvane-cli edit` set
// them (stored bytes, code page 936 for typed text).
struct SiteSettings {
  std::string host;
  std::string userName;
  std::string password;
  std::uint32_t port = 21;
  std::string nickname;
  std::string remarks;
  bool anonymousUpdate = false;
  // Kept in sites.opt beside site.ds (catalog/site_options.h).
  NameCharset charset = NameCharset::kAuto;
  SiteAccess access;

  static SiteSettings Of(const CFTPSite& site);
  void ApplyTo(CFTPSite& site) const;
};

// What AddSite and EditSite did.
enum class SiteChange {
  kSaved,     // changed, and site.ds rewritten
  kNotSaved,  // changed, but site.ds could not be written (the old file stays)
  kRefused,   // nothing changed (see the operation)
  // A key-changing edit only: nothing changed, since a step could not be
  // written (siteListError() says which).
  kFailed,
  // A key-changing edit only: nothing changed, since the new key's data
  // directory already holds files (siteListError() names it).
  kTargetTaken,
};

class COrvaneDoc {
 public:
  // `programDir` is the data directory (see GetProgramDir).
  COrvaneDoc(std::filesystem::path programDir, IDocumentHost& host);
  ~COrvaneDoc();
  COrvaneDoc(const COrvaneDoc&) = delete;
  COrvaneDoc& operator=(const COrvaneDoc&) = delete;

  // ---- Lifecycle ----------------------------------------------------------
  // Opens site.ds (created empty when missing, unless `createMissing` is
  // false: a reader that changes nothing leaves no file behind) and reads
  // the site list. A damaged file keeps the sites read before the damage
  // and reports one load error through the host.
  bool OnNewDocument(bool createMissing = true);
  // Saves state.st of every site whose marks changed (CFTPSite::SaveFiles,
  // so that another process's update or mark clearing is not undone).
  // Returns "<path>: <reason>" of each save that failed.
  std::vector<std::string> OnCloseDocument();
  // The same, at any time: the window calls it shortly after marks were
  // cleared, so that a crash or a kill loses none of them. A failed site
  // stays flagged and is tried again next time.
  std::vector<std::string> SaveDirtyMarks();
  // Rewrites site.ds atomically (owner-only); false when it could not be
  // written, and the old file is then left as it was (siteListError()
  // says why). The site list operations below do more: under the data
  // directory's site-list lock they first take over what another process
  // changed in site.ds since this one read or wrote it (RefreshSiteList),
  // then make their change, then write.
  bool SaveSiteList();
  // Re-reads site.ds when another process replaced it: sites it no longer
  // lists leave this list (marked `removed`), sites it added are appended,
  // and the settings of the others follow it. Call under the site-list lock.
  void RefreshSiteList();
  // A delete or key change records itself in the data directory before it
  // moves or removes a data directory; one that a crash interrupted is
  // finished or undone here, by what site.ds lists: a listed key keeps (or
  // gets back) its catalog, an unlisted one loses it. Run at start and
  // before every site-list change, under the site-list lock. False when
  // the record had to stay for a later try.
  bool FinishSiteChange();
  // FinishSiteChange before a new record is written: a record is never
  // written over, so false (with "<path>: <reason>") while an earlier one
  // cannot be finished yet.
  bool SettleSiteChange(std::string& error);
  // "<path>: <reason>" of the last failed write of site.ds; empty after one
  // that worked.
  const std::string& siteListError() const { return siteListError_; }
  // site.ds contents: the site list as an object list of site records. Loading
  // appends each record as soon as it is complete and stops at the first
  // error, which it returns.
  ArchiveError Serialize(CArchiveReader& archive);
  void Serialize(CArchiveWriter& archive) const;
  const std::filesystem::path& GetProgramDir() const { return programDir_; }
  // The shared settings (document/user_settings.h), read from the data
  // directory by OnNewDocument and applied to every site the list gets.
  const UserSettings& userSettings() const { return userSettings_; }
  // Saves `settings` and applies them to every site (a running update's
  // save takes them too). False with the reason in `error` when they could
  // not be saved; nothing changes then.
  bool SetUserSettings(const UserSettings& settings, std::string* error = nullptr);
  // Reads the settings again (another process may have changed them).
  void ReloadUserSettings();
  // Reads a site's catalog once per run, whoever asks first, here on the
  // calling thread (waiting for an update worker that is reading it): for
  // front ends that wait anyway (orvane-cli) and for tests. The window asks
  // RequestCatalog instead.
  void EnsureCatalogLoaded(CFTPSite& site);
  // The owner of the sites' files for a front end that must not wait (the
  // window's, see document/site_store.h); null (the default): the document
  // reads catalogs itself, on the calling thread.
  void SetSiteStore(CSiteStore* store) { store_ = store; }
  CSiteStore* siteStore() const { return store_; }
  // Whether the site's catalog is in memory. When it is not: with a site
  // store, its read is asked for (the store's CatalogLoaded follows) and
  // the answer is false; without one, it is read now and the answer is
  // true. A site that has left the list has nothing more to read (true).
  bool RequestCatalog(const CFTPSite& site);
  // With a site store, asks for the catalog of each of these sites that is
  // not in memory yet, so they are read while a walk works on the first
  // ones; nothing without a store.
  void PrefetchCatalogs(const std::vector<const CFTPSite*>& sites);
  // Tells the host about appended results not yet told, then pumps.
  bool PumpMessages();
  // Fills browseDirs / browseFiles with the directory's children (a
  // snapshot taken under the site's lock) and tells the host.
  void ShowDirectory(CFTPDir* dir);

  // ---- Site list ----------------------------------------------------------
  const std::vector<std::shared_ptr<CFTPSite>>& sites() const { return siteList_; }
  // The first site with this key; null when there is none. Shared, so it
  // can go to the update engine as it is.
  std::shared_ptr<CFTPSite> FindSite(std::string_view key) const;
  // Index of the site in sites(); sites().size() when it is not there.
  std::size_t IndexOf(const CFTPSite* site) const;
  // Whether a site (other than `except`) has this host and user name: a
  // site is the same when these are, whatever its password and port.
  bool HasSiteWithLogin(std::string_view host, std::string_view userName,
                        const CFTPSite* except = nullptr) const;
  // Appends a new site and rewrites site.ds. Refused when a site with the
  // same host and user name exists. A new site has no stored catalog to
  // read, even if a data directory of its key was left behind.
  SiteChange AddSite(std::shared_ptr<CFTPSite> site);
  // Appends a site record as it is, as reading site.ds does: no check, no
  // save. For front ends and tools that build a list themselves.
  void AppendSite(std::shared_ptr<CFTPSite> site);
  // Gives the site new settings and rewrites site.ds; when its key changes,
  // its data directory moves with it, and a failure at any step (the move,
  // site.ds) leaves the site, its settings and its catalog as they were
  // (kFailed). A new key whose data directory holds anything is refused
  // (kTargetTaken). Refused when the site is not in the list or an update
  // of it is waiting or running.
  SiteChange EditSite(CFTPSite& site, const SiteSettings& settings);
  // Removes the first site with this key from site.ds, then its files and
  // data directory. False when no site has the key; `failure` gets what
  // could not be written or removed (empty when all went well). When
  // site.ds could not be written the site stays, with its catalog.
  bool DeleteSite(std::string_view key, std::string* failure = nullptr);
  // An update removed this entry (and its subtree): drop every reference,
  // then destroy it (later, if a walk is in progress).
  void OnEntryRemoved(std::unique_ptr<CFTPDir> dir);
  void OnEntryRemoved(std::unique_ptr<CFTPFile> file);
  // The same for a batch: one pass over the lists for all of them.
  void OnEntriesRemoved(std::vector<std::unique_ptr<CFTPDir>> dirs,
                        std::vector<std::unique_ptr<CFTPFile>> files);
  // True when the entry lies in a subtree that was removed while a walk ran
  // and is kept alive only until the walk ends. A walk must not append such
  // an entry to a list (its snapshot may still hold it).
  bool IsRemoved(const CFTPDir* dir) const;
  bool IsRemoved(const CFTPFile* file) const;

  // Held by every walk (search, listings, clearing marks; see CDocWalk) for
  // its whole length. While any guard lives,
  // removed entries and deleted sites are parked instead of destroyed, so a walk's snapshot of
  // child lists never points at freed memory; the outermost guard's end
  // drops any reference a walk made to them meanwhile and destroys them.
  // Results a walk appended are told to the host when its guard ends.
  class WalkGuard {
   public:
    explicit WalkGuard(COrvaneDoc& doc) : doc_(doc) { ++doc_.walkDepth_; }
    ~WalkGuard() {
      doc_.FlushResults();
      if (--doc_.walkDepth_ == 0) doc_.ReleaseGraveyard();
    }
    WalkGuard(const WalkGuard&) = delete;
    WalkGuard& operator=(const WalkGuard&) = delete;

   private:
    COrvaneDoc& doc_;
  };
  bool walking() const { return walkDepth_ > 0; }

  // ---- Navigation history -------------------------------------------------
  // Each list keeps at most this many entries; a push beyond it drops the
  // oldest.
  static constexpr std::size_t kHistoryLimit = 20;
  // `dir` must not be null.
  void RecordStep(CFTPDir* dir);
  // Each returns the directory that became current (and was shown with
  // ShowDirectory), or null when the command was not available.
  CFTPDir* GoBack();
  CFTPDir* GoForward();
  CFTPDir* GoUp();
  bool CanGoBack() const { return !backList.empty(); }
  bool CanGoForward() const { return !forwardList.empty(); }
  bool CanGoUp() const;

  // ---- Search and listings ------------------------------------------------
  // Each of these builds a CDocWalk and runs it to its end here, pumping
  // messages at its pauses (RunWalk): for front ends that wait, such as
  // orvane-cli. The window steps the same walks from its event loop instead
  // (see document/doc_walk.h), so that no command runs a nested loop.
  // Steps `walk` to its end, pumping messages at every pause; a pump that
  // says stop stops it. False when it was stopped.
  bool RunWalk(CDocWalk& walk);
  // `keyword` is already lower-cased (FoldKeyword); "#new" tests new marks.
  void Search(const std::string& keyword);
  bool SearchDirs(const std::vector<CFTPDir*>& dirs, const std::string& keyword);
  bool SearchInDir(CFTPDir* dir, const std::string& keyword);
  void ShowNewFiles(int kind);  // 1 this update, 2 all sites
  void SetShownFilesRead();
  // Clears the unread marks of these files (the rows a list shows, in any
  // of its modes).
  void SetFilesRead(const std::vector<CFTPFile*>& files);
  void SetSitesRead(int kind);
  bool SetDirRead(CFTPDir* dir);
  bool MarkDirsRead(const std::vector<CFTPDir*>& dirs);
  // Set-read on a tree node: on a site's root directory it also clears the
  // site's hasNewEntries (the caller redraws the site's item); then
  // SetDirRead. Does nothing for null.
  void SetTreeNodeRead(CFTPDir* dir);
  // The first half of SetTreeNodeRead: a site's root clears hasNewEntries.
  void ClearSiteFlag(CFTPDir* dir);
  // Show-updates on a tree node: the new directories and unread files below
  // `dir` become the results. No dialog, no message. Does nothing for null.
  void ShowUpdates(CFTPDir* dir);
  // Longest stretch a walk works between two pauses; zero pauses after
  // every directory and file. Each walk pauses once before it looks at the
  // first entry, so a stop already queued ends it at once.
  std::chrono::nanoseconds pumpSlice = std::chrono::milliseconds(15);
  IDocumentHost& host() const { return host_; }
  // Result list operations: each tells the host (appends in batches).
  void ClearResults();
  void AddResult(CFTPDir* dir);
  void AddResult(CFTPFile* file);
  // Tells the host about the appends not told yet.
  void FlushResults();
  // A batch of appends is told once it holds this many entries.
  static constexpr std::size_t kResultBatch = 4096;

  // ---- Import and addresses -----------------------------------------------
  // What an import did with the lines of its file.
  struct ImportReport {
    // The sites the file added (not those another process added meanwhile,
    // which are taken over too).
    std::vector<std::shared_ptr<CFTPSite>> added;
    // Lines naming a host and user name that a site (or an earlier line)
    // already has.
    std::size_t alreadyThere = 0;
    // Lines that could not be used (see ParseImportLine); blank lines are
    // not counted.
    std::size_t skipped = 0;
    // The first kSkippedLinesKept of them, numbered from 1.
    std::vector<std::size_t> skippedLines;
    static constexpr std::size_t kSkippedLinesKept = 5;
  };
  // Adds a site for every line of the ftp:// list whose host and user name
  // no site has yet, then rewrites site.ds once. False (after the message
  // box) when the file cannot be read; nothing changes then.
  bool ImportSites(const std::filesystem::path& path, ImportReport* report = nullptr);
  // The full address (host, port, login; see document/ftp_address.h) of
  // the entry with this display path; empty when no site has its key.
  std::string GetFileAddress(std::string_view displayPath) const;
  // The same address to the clipboard; nothing when no site has the key.
  void CopyFileAddress(std::string_view displayPath);

  // ---- Data (front-end thread only) ---------------------------------------
  // Read freely; changed only by the document's operations (see above).
  std::unique_ptr<DirNode> currentNode;
  std::deque<std::unique_ptr<DirNode>> forwardList;
  std::deque<std::unique_ptr<DirNode>> backList;
  std::vector<CFTPDir*> browseDirs;
  std::vector<CFTPFile*> browseFiles;
  std::vector<CFTPDir*> resultDirs;
  std::vector<CFTPFile*> resultFiles;

 private:
  // Entries and sites that left the document during a walk.
  struct Graveyard {
    std::vector<std::unique_ptr<CFTPDir>> dirs;
    std::vector<std::unique_ptr<CFTPFile>> files;
    std::vector<std::shared_ptr<CFTPSite>> sites;
    // The same entries, for IsRemoved.
    std::unordered_set<const CFTPDir*> dirSet;
    std::unordered_set<const CFTPFile*> fileSet;
    bool empty() const { return dirs.empty() && files.empty() && sites.empty(); }
  };
  void ReleaseGraveyard();
  // Drops from the browse and result lists and the history every entry that
  // lies in one of the removed subtrees (`dirs`, with their descendants),
  // is one of `files`, or belongs to one of `sites`.
  void DropReferences(const std::vector<const CFTPDir*>& dirs,
                      const std::vector<const CFTPFile*>& files,
                      const std::vector<const CFTPSite*>& sites);
  void Push(std::deque<std::unique_ptr<DirNode>>& list, const DirNode& node);
  // Takes the site at `index` out of the list, as a delete does, without
  // touching its files.
  void RemoveSiteAt(std::size_t index);
  // A site that joins the list takes the user's settings.
  void ApplyUserSettings(CFTPSite& site) const;
  static ArchiveError ReadSites(CArchiveReader& archive,
                                std::vector<std::shared_ptr<CFTPSite>>& sites);

  std::vector<std::shared_ptr<CFTPSite>> siteList_;
  std::filesystem::path programDir_;
  IDocumentHost& host_;
  UserSettings userSettings_;
  // site.ds as this process last read or wrote it.
  // Sets the charset and access of each site from sites.opt (auto, plain
  // FTP from "/" where it has none).
  void ApplySiteOptions(std::vector<std::shared_ptr<CFTPSite>>& sites);
  // Writes sites.opt for the list about to be saved; false with
  // siteListError_ set.
  bool SaveSiteOptions();
  FileIdentity siteListOnDisk_;
  std::string siteListError_;
  // Appends not yet told to the host: of one kind, the newest entries.
  enum class PendingKind { kNone, kDirs, kFiles };
  PendingKind pendingKind_ = PendingKind::kNone;
  std::size_t pendingCount_ = 0;
  int walkDepth_ = 0;
  Graveyard graveyard_;
  CSiteStore* store_ = nullptr;
};

}  // namespace orvane
