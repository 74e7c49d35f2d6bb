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
// handled once, shortly after it. A changed catalog is read on a thread of
// its own and merged on the window's thread; one this process is updating
// is left to that update, and one not loaded yet is read as it is at its
// first use. Front-end thread only.
#pragma once

#include <QObject>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>

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
  // Waits for the reads still running (their results are dropped).
  ~CCatalogFollower() override;

  // The site's catalog changed in memory (an update of it ended): the tree
  // and, when it shows a directory of the site, the list follow.
  void CatalogChanged(const CFTPSite& site);
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
  // A read of the site's files ended: `fresh` (null when they could not be
  // read in full) is merged if the site can still take it.
  void Merge(const CFTPSite* key, const std::weak_ptr<CFTPSite>& site,
             const std::shared_ptr<CFTPSite>& fresh);
  // Merges the reads that have ended. A reader leaves its result in `read_`
  // and wakes this by name, so the reader's thread never holds a call that
  // the window's thread has run.
  Q_INVOKABLE void MergeRead();

  struct Read {
    const CFTPSite* key;
    std::weak_ptr<CFTPSite> site;
    std::shared_ptr<CFTPSite> fresh;
  };

  CMainFrame& frame_;
  QFileSystemWatcher* watcher_;
  QTimer* settle_;
  // One read at a time per site, keyed by the site.
  std::unordered_map<const CFTPSite*, std::thread> readers_;
  std::mutex readMutex_;
  std::deque<Read> read_;
};

}  // namespace orvane
