// Keeps the window's views on what the catalogs hold now, whoever changed
// them: an update of this process that ended, or another process (the
// command-line tool, a second window) that replaced site.ds or a site's
// files in the data directory.
//
// Views follow in place: the tree's items and the list's rows of entries
// still there stay, new ones appear where the catalog has them, removed ones
// leave; selection, expansion, scrolling and the history survive.
//
// Other processes are noticed through the directories (site.ds and the
// catalog files are replaced by renames, which only the directory sees):
// the data directory and Data/KEY/ of every site. A burst of changes is
// handled once, shortly after it. The site store (document/site_store.h)
// looks at each loaded catalog's files and reads and merges a changed one
// on its worker; one this process is updating is left to that update, and
// one not loaded yet is read as it is at its first use. Front-end thread
// only.
#pragma once

#include <QObject>
#include <memory>

#include "document/catalog_reload.h"

class QFileSystemWatcher;
class QTimer;

namespace orvane {

class CMainFrame;
class CFTPSite;

class CCatalogFollower : public QObject {
  Q_OBJECT

 public:
  // How long a burst of changes in the data directory may last before it
  // is handled.
  static constexpr int kSettleMs = 150;

  explicit CCatalogFollower(CMainFrame& frame);
  ~CCatalogFollower() override;

  // The site's catalog changed in memory (an update of it ended): the tree
  // and, when it shows a directory of the site, the list follow.
  void CatalogChanged(const CFTPSite& site);
  // The site store took over (kReloaded) what another process committed
  // to the site's files, or found nothing to take.
  void Reloaded(const std::shared_ptr<CFTPSite>& site, CatalogReload result);
  // Watches the data directory, its Data directory and the data
  // directory of every site that has one; called once the site list was
  // read, and again after each burst of changes (new sites, new data
  // directories).
  void Watch();

 signals:
  // A catalog changed, here or in another process: what the views derive
  // from the sites' files (the change journals) may have changed too.
  void catalogsChanged();

 private:
  // Handles a burst once it has settled: site.ds, then every loaded catalog.
  void Settle();
  CMainFrame& frame_;
  QFileSystemWatcher* watcher_;
  QTimer* settle_;
};

}  // namespace orvane
