// The window's side of the document: the sinks the document and the engine
// bridge talk to, answered by the main frame and its views.
#pragma once

#include <chrono>
#include <memory>

#include "document/document_host.h"
#include "document/site_store.h"

namespace orvane {

class CMainFrame;
class CSearchDialog;

class CFrameHost final : public IDocumentHost, public ISiteStoreSink {
 public:
  explicit CFrameHost(CMainFrame& frame);
  ~CFrameHost() override;

  // IMessagePump: runs pending events (at most once per the document's
  // pumpSlice); false once the window is closing or the search box's stop
  // was pressed. The window itself never comes here: walks are stepped from
  // the event loop (CWalkRunner), and catalogs are read by the site store.
  bool PumpMessages() override;

  // IResultSink: the file list follows the document's lists.
  void ResultsCleared() override;
  void DirsAppended(std::size_t count) override;
  void FilesAppended(std::size_t count) override;
  // The progress box of a search or listing, with its stop button.
  void SearchBegin(int siteCount) override;
  void SearchProgress(int progressPos) override;
  void SearchEnd() override;
  bool searching() const { return search_ != nullptr; }
  // A walk stepped by the window paused: its progress box shows once the
  // walk has lasted kSearchBoxDelay.
  void WalkPaused();

  // ISiteStatusSink: a site's icon, boldness and tool tip.
  void SiteStatusChanged(const std::shared_ptr<CFTPSite>& site, const SiteStatus& status) override;
  // The Sites overview shows the new record.
  void SiteHealthChanged(const std::shared_ptr<CFTPSite>& site) override;

  // ISiteListSink: the tree's site items; a leaving site's entries leave
  // both views first.
  void SitesAdded(std::size_t first, std::size_t count) override;
  void SiteChanged(std::size_t index) override;
  void SiteRemoving(std::size_t index) override;

  // IRemovalObserver: rows and items go before the entries do.
  void EntriesRemoving(const std::vector<const CFTPDir*>& dirs,
                       const std::vector<const CFTPFile*>& files) override;

  // ISiteStoreSink: a catalog came in (loading rows, waiting walks and
  // commands go on), marks were saved, another process's commit was taken
  // over.
  void CatalogLoaded(const std::shared_ptr<CFTPSite>& site) override;
  void MarksSaved(const std::shared_ptr<CFTPSite>& site, CFTPSite::SaveResult result,
                  const std::string& error) override;
  void CatalogReloaded(const std::shared_ptr<CFTPSite>& site, CatalogReload result) override;

  void ShowMessage(const std::string& text) override;
  // Kept until the frame shows them (CMainFrame::ShowLoadErrors), so the
  // box appears over the main window, not under the splash.
  void ReportLoadError(const std::string& text) override;
  bool SetClipboardText(const std::string& text) override;
  void HistoryChanged() override;

  void SetClosing() { closing_ = true; }

 private:
  CMainFrame& frame_;
  bool closing_ = false;
  bool stopRequested_ = false;
  std::chrono::steady_clock::time_point lastPump_;
  std::unique_ptr<CSearchDialog> search_;
  // When the walk began; its progress box shows once the walk has lasted
  // kSearchBoxDelay, so a quick search does not flash a box.
  std::chrono::steady_clock::time_point searchBegan_;
};

}  // namespace orvane
