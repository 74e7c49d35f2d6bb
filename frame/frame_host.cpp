#include "frame/frame_host.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>

#include "catalog/ftp_dir.h"
#include "catalog/ftp_site.h"
#include "document/orvane_doc.h"
#include "frame/catalog_follower.h"
#include "frame/dialog_seam.h"
#include "frame/find_bar.h"
#include "frame/frame_views.h"
#include "frame/main_frame.h"
#include "frame/marks_saver.h"
#include "frame/search_dialog.h"
#include "frame/walk_runner.h"
#include "views/display_text.h"

namespace orvane {

namespace {

// How long a walk runs before its progress box shows: a quick search
// neither flashes a box nor pays for painting one.
constexpr std::chrono::milliseconds kSearchBoxDelay{300};

}  // namespace

CFrameHost::CFrameHost(CMainFrame& frame) : frame_(frame) {}

CFrameHost::~CFrameHost() = default;

bool CFrameHost::PumpMessages() {
  // A walk pumps at every site it begins as well as once per time slice;
  // each pass of the event loop repaints the growing result list, so
  // passes closer together than a slice are left out.
  const auto now = std::chrono::steady_clock::now();
  if (now - lastPump_ >= frame_.doc().pumpSlice) {
    if (search_ && !search_->isVisible() && now - searchBegan_ >= kSearchBoxDelay) {
      search_->show();
      // Centred on the main window.
      search_->move(frame_.geometry().center() - search_->rect().center());
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    lastPump_ = std::chrono::steady_clock::now();
  }
  return !closing_ && !stopRequested_;
}

void CFrameHost::WalkPaused() {
  const auto now = std::chrono::steady_clock::now();
  if (search_ && !search_->isVisible() && now - searchBegan_ >= kSearchBoxDelay) {
    search_->show();
    // Centred on the main window.
    search_->move(frame_.geometry().center() - search_->rect().center());
  }
}

void CFrameHost::SearchBegin(int siteCount) {
  stopRequested_ = false;
  search_ = std::make_unique<CSearchDialog>(
      siteCount,
      [this] {
        stopRequested_ = true;
        frame_.walkRunner().StopCurrent();
      },
      &frame_);
  searchBegan_ = std::chrono::steady_clock::now();
}

void CFrameHost::SearchProgress(int progressPos) {
  if (search_) search_->SetProgress(progressPos);
}

void CFrameHost::SearchEnd() {
  search_.reset();
  stopRequested_ = false;
}

void CFrameHost::ResultsCleared() {
  if (frame_.resultMode()) frame_.fileView().ShowResults();
}

void CFrameHost::DirsAppended(std::size_t) {
  if (frame_.resultMode()) frame_.fileView().AppendResults();
}

void CFrameHost::FilesAppended(std::size_t) {
  if (frame_.resultMode()) frame_.fileView().AppendResults();
}

void CFrameHost::SiteStatusChanged(const std::shared_ptr<CFTPSite>& site,
                                   const SiteStatus& status) {
  frame_.dirView().UpdateSiteItem(site.get());
  // The worker merged its last listing before it posted a final state; the
  // removals it posted before have been handled, in order.
  if (status.state != kUpdateRunning && status.state != kNeverUpdated) {
    frame_.catalogFollower().CatalogChanged(*site);
  }
  if (status.failure == SiteStatus::Failure::kUntrusted && !closing_) frame_.OfferTrust(site);
}

void CFrameHost::SiteHealthChanged(const std::shared_ptr<CFTPSite>&) {
  frame_.RefreshSitesOverview();
}

void CFrameHost::SitesAdded(std::size_t first, std::size_t count) {
  // Each new site gets its item; the others, their children and their
  // expansion stay as they are. The first reading of site.ds builds the
  // whole top level at once.
  const auto& sites = frame_.doc().sites();
  frame_.RefreshSitesOverview();
  if (frame_.dirView().model()->rowCount() == 0) {
    frame_.dirView().ReloadSites();
    return;
  }
  for (std::size_t i = first; i < first + count && i < sites.size(); ++i) {
    frame_.dirView().SiteAdded(sites[i].get());
  }
}

void CFrameHost::SiteChanged(std::size_t index) {
  // The label may change and with it the item's place in the sorted tree.
  frame_.RefreshSitesOverview();
  frame_.dirView().SiteEdited(frame_.doc().sites()[index].get());
  // A new key or nickname changes what site: matches.
  if (CFindBar* bar = frame_.findBar()) bar->SiteChanged(*frame_.doc().sites()[index]);
  frame_.ShowNamesAnew();
}

void CFrameHost::SiteRemoving(std::size_t index) {
  const std::vector<const CFTPDir*> gone{frame_.doc().sites()[index]->rootDir.get()};
  // Its row goes at the refresh, which runs after the site has left.
  frame_.RefreshSitesOverview();
  EntriesRemoving(gone, {});
}

void CFrameHost::EntriesRemoving(const std::vector<const CFTPDir*>& dirs,
                                 const std::vector<const CFTPFile*>& files) {
  frame_.dirView().EntriesRemoving(dirs);
  if (CFindBar* bar = frame_.findBar()) bar->EntriesRemoving(dirs, files);
  frame_.fileView().EntriesRemoving(dirs, files);
}

void CFrameHost::CatalogLoaded(const std::shared_ptr<CFTPSite>& site) {
  frame_.CatalogArrived(site);
}

void CFrameHost::MarksSaved(const std::shared_ptr<CFTPSite>& site, CFTPSite::SaveResult result,
                            const std::string& error) {
  frame_.marksSaver().Saved(site, result, error);
}

void CFrameHost::CatalogReloaded(const std::shared_ptr<CFTPSite>& site, CatalogReload result) {
  frame_.catalogFollower().Reloaded(site, result);
}

void CFrameHost::ShowMessage(const std::string& text) {
  // The core's texts are the system's own Chinese texts; core_texts.cpp lists
  // them for translation.
  CDialogSeam::Inform(&frame_, QCoreApplication::translate("CoreText", text.c_str()));
}

void CFrameHost::ReportLoadError(const std::string& text) {
  frame_.loadErrors_.append(QString::fromStdString(text));
}

bool CFrameHost::SetClipboardText(const std::string& text) {
  QClipboard* clipboard = QGuiApplication::clipboard();
  if (!clipboard) return false;
  clipboard->setText(DecodedPath(text, NameCharset::kUtf8));
  return true;
}

void CFrameHost::HistoryChanged() { frame_.UpdateNavigation(); }

}  // namespace orvane
