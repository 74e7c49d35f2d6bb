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
// the data directory and Data/KEY/ of every loaded site. A burst of changes
// is handled once, shortly after it. A catalog this process is updating is
// left to that update; one not on screen is only marked, and read again at
// its next use. Front-end thread only.
#pragma once

#include <QObject>

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

  // The site's catalog changed in memory (an update of it ended): the tree
  // and, when it shows a directory of the site, the list follow.
  void CatalogChanged(const CFTPSite& site);
  // Watches the data directory, its Data directory and the data
  // directory of every site that has one; called once the site list was
  // read, and again after each burst of changes (new sites, new data
  // directories).
  void Watch();

 private:
  // Handles a burst once it has settled: site.ds, then every loaded catalog.
  void Settle();

  CMainFrame& frame_;
  QFileSystemWatcher* watcher_;
  QTimer* settle_;
};

}  // namespace orvane
