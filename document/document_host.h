// What the document needs from the front end that drives it (the window or
// orvane-cli), as small interfaces a front end can give to different parts
// of itself: a message pump, a result sink, a site status sink, the site
// list's and the removals' observers. Everything here is called on the
// front end's thread. Each call has a quiet default, so a front end
// overrides only what it shows.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace orvane {

class CFTPDir;
class CFTPFile;
class CFTPSite;
struct SiteStatus;

class IMessagePump {
 public:
  virtual ~IMessagePump() = default;
  // Dispatches pending front-end events. False means stop: a stop request
  // or a quit is pending (and stays pending).
  virtual bool PumpMessages() { return true; }
};

// The document's browse and result lists (COrvaneDoc::browseDirs and so
// on) change only through document operations, which say so here. A view
// copies what it shows from those lists when told; it never reads a
// catalog's own child lists for its rows.
class IResultSink {
 public:
  virtual ~IResultSink() = default;
  // browseDirs / browseFiles now hold another directory's children
  // (ShowDirectory, Back, Forward, Up).
  virtual void BrowseChanged() {}
  // resultDirs and resultFiles were emptied.
  virtual void ResultsCleared() {}
  // The last `count` entries of resultDirs (resultFiles) are new. Appends
  // are batched: a batch is told before the document pumps messages,
  // before an append of the other kind, when it is large, and when the
  // walk ends, so the calls come in the order the entries were found.
  virtual void DirsAppended(std::size_t /*count*/) {}
  virtual void FilesAppended(std::size_t /*count*/) {}
  // Progress of a search or listing: siteCount at the start, progressPos as
  // sites are begun. Begin/End bracket the walk (dialog shown / destroyed).
  virtual void SearchBegin(int /*siteCount*/) {}
  virtual void SearchProgress(int /*progressPos*/) {}
  virtual void SearchEnd() {}
};

// WM_SITE_STATUS, as a value (see CEngineBridge). The text is built at the
// display edge (update/status_text.h).
class ISiteStatusSink {
 public:
  virtual ~ISiteStatusSink() = default;
  virtual void SiteStatusChanged(const std::shared_ptr<CFTPSite>& /*site*/,
                                 const SiteStatus& /*status*/) {}
  // The site's health record was written (its update ended).
  virtual void SiteHealthChanged(const std::shared_ptr<CFTPSite>& /*site*/) {}
};

// The document's site list changes only through its operations (AddSite,
// EditSite, DeleteSite, ImportSites, reading site.ds), which say so here.
// Indexes are positions in COrvaneDoc::sites().
class ISiteListSink {
 public:
  virtual ~ISiteListSink() = default;
  // sites()[first] to sites()[first + count - 1] were appended.
  virtual void SitesAdded(std::size_t /*first*/, std::size_t /*count*/) {}
  // sites()[index]'s settings changed (its key may have).
  virtual void SiteChanged(std::size_t /*index*/) {}
  // sites()[index] is about to leave the list. Drop every reference to it
  // and to its catalog now: the record may be destroyed after the call.
  virtual void SiteRemoving(std::size_t /*index*/) {}
};

// WM_ENTRY_REMOVED: an update unlinked these entries (`dirs` with their
// whole subtrees). Called before the document drops its own references and
// before anything is destroyed; a view drops every row and item that is
// one of them or lies below one of `dirs` (CRemovalFilter in
// document/removal_filter.h says which). The entries are no longer in
// their catalog, but their parent links still lead to it. May be called
// again for the same entries (harmless).
class IRemovalObserver {
 public:
  virtual ~IRemovalObserver() = default;
  virtual void EntriesRemoving(const std::vector<const CFTPDir*>& /*dirs*/,
                               const std::vector<const CFTPFile*>& /*files*/) {}
};

// Everything at once, for a front end that is one object (orvane-cli), and
// what COrvaneDoc takes.
class IDocumentHost : public IMessagePump,
                      public IResultSink,
                      public ISiteStatusSink,
                      public ISiteListSink,
                      public IRemovalObserver {
 public:
  // A message box with the application's title and an OK button. `text` is
  // UTF-8 (the system's own texts, such as "没有未读文件！").
  virtual void ShowMessage(const std::string& /*text*/) {}

  // The framework's load-error box for site.ds ("%1 has a bad format." and
  // the like, already filled in).
  virtual void ReportLoadError(const std::string& /*text*/) {}

  // Plain text to the clipboard (bytes as built; the front end decodes).
  // False when the clipboard could not be used.
  virtual bool SetClipboardText(const std::string& /*text*/) { return false; }

  // Back, Forward or Up may have become (un)available: a step was taken or
  // removed entries left the history.
  virtual void HistoryChanged() {}
};

}  // namespace orvane
