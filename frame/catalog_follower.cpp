#include "frame/catalog_follower.h"

#include <QFileSystemWatcher>
#include <QTimer>

#include "catalog/data_dir_lock.h"
#include "catalog/ftp_dir.h"
#include "catalog/ftp_site.h"
#include "document/catalog_reload.h"
#include "document/orvane_doc.h"
#include "document/site_store.h"
#include "frame/find_bar.h"
#include "frame/frame_views.h"
#include "frame/main_frame.h"

namespace orvane {

namespace {

QString PathText(const std::filesystem::path& path) {
  return QString::fromStdString(path.string());
}

}  // namespace

CCatalogFollower::CCatalogFollower(CMainFrame& frame)
    : QObject(&frame),
      frame_(frame),
      watcher_(new QFileSystemWatcher(this)),
      settle_(new QTimer(this)) {
  settle_->setSingleShot(true);
  settle_->setInterval(kSettleMs);
  // Each event restarts the wait: an update's commit is several renames.
  connect(watcher_, &QFileSystemWatcher::directoryChanged, settle_, qOverload<>(&QTimer::start));
  connect(settle_, &QTimer::timeout, this, &CCatalogFollower::Settle);
}

CCatalogFollower::~CCatalogFollower() = default;

void CCatalogFollower::Watch() {
  COrvaneDoc& doc = frame_.doc();
  const std::filesystem::path& dataDir = doc.GetProgramDir();
  QStringList paths{PathText(dataDir)};
  std::error_code error;
  if (std::filesystem::is_directory(dataDir / "Data", error)) paths << PathText(dataDir / "Data");
  for (const auto& site : doc.sites()) {
    const std::filesystem::path dir = site->DataDirectory(dataDir);
    if (std::filesystem::is_directory(dir, error)) paths << PathText(dir);
  }
  const QStringList watched = watcher_->directories();
  QStringList added;
  for (const QString& path : paths) {
    if (!watched.contains(path)) added << path;
  }
  // Without inotify (or past its limit) the window simply does not follow.
  if (!added.isEmpty()) watcher_->addPaths(added);
}

void CCatalogFollower::Settle() {
  COrvaneDoc& doc = frame_.doc();
  // A site's directory changed: another process may have committed an
  // update of a site this window has not loaded.
  emit catalogsChanged();
  {
    // The list operations read site.ds under this lock; another process's
    // change is taken over whole or not at all. The window never waits for
    // another process here: while one holds the lock, it tries again soon.
    const CDataDirLock listLock =
        CDataDirLock::TryAcquire(doc.GetProgramDir(), CDataDirLock::Kind::kSiteList);
    if (listLock.held()) {
      doc.RefreshSiteList();
    } else if (listLock.busy()) {
      settle_->start();
    }
  }
  // The site store looks at every loaded catalog's files and takes over
  // what changed (sites not loaded yet are read as they are at their first
  // use); the window hears of each catalog that changed (Reloaded).
  for (const auto& site : doc.sites()) {
    if (site->loadState.load() == kLoaded) frame_.siteStore().Reload(site);
  }
  Watch();
}

void CCatalogFollower::Reloaded(const std::shared_ptr<CFTPSite>& site, CatalogReload result) {
  // Files that could not be read in full are tried again at the next
  // change in the directory, not in a loop.
  if (result != CatalogReload::kReloaded) return;
  frame_.dirView().UpdateSiteItem(site.get());
  CatalogChanged(*site);
  // Whatever changed while the files were read is looked at again.
  settle_->start();
}

void CCatalogFollower::CatalogChanged(const CFTPSite& site) {
  COrvaneDoc& doc = frame_.doc();
  emit catalogsChanged();
  if (CFindBar* bar = frame_.findBar()) bar->SiteChanged(site);
  frame_.dirView().FollowCatalog(&site);
  // The browse lists are the children of the current location; taken again,
  // they hold what the catalog holds now (the list shows them in browse
  // mode, and the toggle back to it shows them later).
  CFTPDir* shown = doc.currentNode ? doc.currentNode->directory : nullptr;
  if (shown && shown->GetSite() == &site) {
    doc.ShowDirectory(shown);
    frame_.fileView().FollowBrowse();
  } else {
    // Results may show the site's files, whose sizes and marks changed.
    frame_.fileView().viewport()->update();
  }
}

}  // namespace orvane
