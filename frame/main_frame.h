// The program's main window: menus, the labelled toolbar, the one-pane
// status bar and the splitter with the directory tree (left, 250 px) and the
// file list (right), all over one document.
//
// The frame owns the document and is its front end (the document host): it
// shows the document's messages and puts addresses on the clipboard. Long
// walks (search, listings, clearing marks) are stepped from the event loop
// by a CWalkRunner, so every command returns before the next event is
// handled; marks cleared reach state.st within a few seconds (CMarksSaver). The sites' files
// are read and written by the site store's worker (document/site_store.h), never on the
// window's thread; commands that need a catalog not read yet go on when it has come
// (WhenCatalogLoaded). Every menu item,
// toolbar button, accelerator and view context command arrives at Command(). Boxes and dialogs go
// through CDialogSeam.
//
// Start-up: construct, OpenDocument() (reads site.ds; no catalog is read),
// show(), then ShowLoadErrors() once the splash is gone. A failed read of
// site.ds leaves the sites read before the damage; nothing asks about
// saving at close, since site.ds is only written after a change of the list.
#pragma once

#include <QHash>
#include <QMainWindow>
#include <QStringList>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "document/orvane_doc.h"
#include "frame/command_ids.h"

class QAction;
class QDockWidget;
class QSplitter;
class QTimer;

namespace orvane {

class CCatalogFollower;
class CChangesView;
class CFindBar;
class CFrameFollow;
class CDirView;
class CMarksSaver;
class COrvaneView;
class CWalkRunner;
class CSitesOverview;
class CSiteStore;
class CFrameHost;
class CEngineBridge;
class IEngineListener;
class CRunNotifier;
class CTrayIcon;
class CUpdateNumSet;
class CUpdateSchedule;
class CUpdateEngine;

class CMainFrame : public QMainWindow {
  Q_OBJECT

 public:
  explicit CMainFrame(const std::filesystem::path& dataDir, QWidget* parent = nullptr);
  ~CMainFrame() override;

  // Reads site.ds and fills the tree. Load errors are kept for
  // ShowLoadErrors.
  void OpenDocument();
  // The load-error boxes of OpenDocument (at most one per read).
  void ShowLoadErrors();

  COrvaneDoc& doc() { return *doc_; }
  CDirView& dirView() { return *dirView_; }
  COrvaneView& fileView() { return *fileView_; }
  // The menu, toolbar or accelerator action of a command; null for context
  // commands.
  QAction* action(int commandId) const { return actions_.value(commandId); }

  // Runs a command as its menu item would.
  void Command(int commandId);

  CUpdateEngine& engine() { return *engine_; }
  // Where the engine's notices enter the window (the queued bridge).
  IEngineListener& engineListener();
  // Steps the walks that commands start (see frame/walk_runner.h).
  CWalkRunner& walkRunner() { return *walks_; }
  CMarksSaver& marksSaver() { return *marksSaver_; }
  // Keeps the views on the catalogs as updates and other processes change
  // them.
  CCatalogFollower& catalogFollower() { return *follower_; }

  // The find bar over the list (Ctrl+K; see frame/find_bar.h); null once
  // the views are gone.
  CFindBar* findBar() { return findBar_; }

  // The Changes dock (a journal reader of its own; see frame/changes_view.h).
  CChangesView& changesView() { return *changesView_; }

  // Updates that run by themselves, and the notification at a run's end.
  CUpdateSchedule& schedule() { return *schedule_; }
  CRunNotifier& notifier() { return *notifier_; }
  CTrayIcon& tray() { return *tray_; }
  // Closes the window and ends the program, even where closing the window
  // would only hide it in the tray.
  void Quit();

  // Comes to the front (out of the tray too) and shows `address`, an
  // ftp://, ftps:// or sftp:// address: its site selected and its path
  // shown, as far as the catalog holds it. An address of a site not in the
  // list opens the new-site dialog filled in with its host, port and login.
  // An empty address only brings the window forward.
  void ShowAddress(const QString& address);

  // The owner of the sites' files (document/site_store.h): the window's
  // thread hands it every load and save.
  CSiteStore& siteStore() { return *store_; }
  // Runs `then` once the site's catalog is in memory: now when it is, else
  // when the site store has read it. `then` finds what it needs again (the
  // site may have left the list meanwhile).
  void WhenCatalogLoaded(const std::shared_ptr<CFTPSite>& site, std::function<void()> then);
  // The site store read the site's catalog.
  void CatalogArrived(const std::shared_ptr<CFTPSite>& site);

  // Whether the file list shows results (search, listings) or the browsed
  // directory.
  bool resultMode() const { return resultMode_; }
  // What the result list holds, for the title bar ("搜索: WORD").
  const QString& resultsTitle() const { return resultsTitle_; }

 public slots:
  // Shows the Changes dock, raised and with the focus; also reached by name
  // through QMetaObject::invokeMethod (a notification's click).
  Q_INVOKABLE void ShowChangesView();

 protected:
  void closeEvent(QCloseEvent* event) override;
  // Once shown, the window manager's frame is known: the whole window,
  // frame included, is kept on the screen.
  void showEvent(QShowEvent* event) override;

 private slots:
  // Runs what the engine's threads posted, in order, one at a time, so a
  // box opened by one event (and the events it pumps) keeps the order.
  void RunPosted();

 private:
  friend class CFrameHost;
  friend class CFindBar;

  void CreateActions();
  void CreateMenus();
  void CreateToolBar();
  void CreateStatusBar();
  void CreatePanes();
  void CreateChangesDock();
  void RestoreSettings();
  void SaveSettings() const;

  // Back/Forward/Up availability from the history.
  void UpdateNavigation();
  void DirectoryActivated(CFTPDir* dir);
  void Navigate(CFTPDir* (COrvaneDoc::*step)());
  void SwitchPane();
  void SwitchBrowseResults();
  // The new-site dialog, empty or filled in with `prefill`.
  void AddSite(const SiteSettings* prefill = nullptr);
  void EditSite();
  void DeleteSite();
  void ImportSites();
  void OpenHelp();
  void About();
  // The Sites overview window (made at its first showing), and its
  // refresh when the sites or their records may have changed.
  void ShowSitesOverview();
  void RefreshSitesOverview();
  // A site's settings changed: every view shows its names decoded anew (by
  // a new charset, say), without a new crawl.
  void ShowNamesAnew();
  void SetShownRead();
  void SetSitesRead(int kind);
  // After a walk that cleared marks: the bold items and colours follow.
  void MarksCleared();
  void ReportMarksFailure(const QString& failure);
  // Shows the results and starts a walk that fills them.
  void StartListing(std::unique_ptr<CDocWalk> walk, const QString& title);
  void CopyListPath();
  void CopyTreePath();
  void SetTreeRead();
  void ShowTreeUpdates();
  // The same for a directory chosen elsewhere (the list's menu).
  void SetDirectoryRead(CFTPDir* dir);
  void ShowUpdatesOf(CFTPDir* dir);
  // Asks for a keyword and lists what matches in every catalog.
  void Search();
  // The unread entries of this run's updates (1) or of every site (2).
  void ShowNewFiles(int kind);
  // Hands a file's full address to the system's handler.
  void OpenFile(const std::string& displayPath);
  void UpdateAll();
  void UpdateSelected();
  // The tray's tool tip: the last and next update, a running one's progress.
  void UpdateTrayTip();
  // The status bar's progress ("更新%d/%d", finally "更新完成").
  void ShowProgress();
  // Says so when a change of the site list could not be written.
  void ReportChange(SiteChange change);

  // ---- main_frame_trust.cpp: servers the user is asked to trust -----------
  // A site failed since its server's key is not trusted: the certificate
  // dialog is shown for it from the event loop, one site at a time.
  void OfferTrust(const std::shared_ptr<CFTPSite>& site);
  // Asks about each site offered, while it still fails as untrusted;
  // accepting pins the key and updates the site again.
  void AskTrust();
  // Updates one whole site as part of the running (or a new) run.
  void UpdateSite(const std::shared_ptr<CFTPSite>& site);

  // ---- main_frame_reports.cpp: what the user is told ----------------------
  // Puts the entries' full addresses on the clipboard, one a line, and says
  // how many; rows without an address (welcome rows) are left out, and
  // nothing is said when none has one.
  void CopyAddresses(const std::vector<std::string>& displayPaths);
  // Why these settings cannot be saved beside the other sites (a site with
  // the same host and user name), or empty.
  QString DuplicateProblem(const SiteSettings& settings, const CFTPSite* except) const;
  // "添加了 2 个站点，1 个已有，跳过 3 行（第 4、9、12 行）".
  static QString ImportSummary(const COrvaneDoc::ImportReport& report);
  // Remembers the sites an update command queued, for RunSummary; a new run
  // begins once the last one has finished.
  void BeginRun(const std::vector<std::shared_ptr<CFTPSite>>& sites);
  // "更新完成" when every site of the run succeeded in full; else how many
  // failed, were stopped or were only partly fetched.
  QString RunSummary();

  // ---- main_frame_schedule.cpp: updates that run by themselves ----------
  void CreateSchedule();
  // Once the site list is read: the schedule learns when the sites were
  // last updated.
  void StartSchedule();
  // Whether a scheduled run would get in the user's way: a modal dialog or
  // a menu open, a walk or an update running.
  bool UserBusy() const;
  void ShowScheduleSettings(CUpdateNumSet& dialog) const;
  void ApplyScheduleSettings(const CUpdateNumSet& dialog);
  // Tells the notifier how the run of `run` ended (main_frame_reports.cpp).
  void NotifyRunEnd(const std::vector<std::weak_ptr<CFTPSite>>& run);

  // Called on any thread: queues `event` for RunPosted and wakes the event
  // loop when the queue was empty. The events stay in our own queue rather
  // than in Qt's posted calls, so the thread that posts never holds the last
  // reference to a call the window's thread has run.
  void Post(std::function<void()> event);

  std::mutex postedMutex_;
  std::deque<std::function<void()>> posted_;

  std::unique_ptr<CFrameHost> host_;
  std::unique_ptr<COrvaneDoc> doc_;
  std::unique_ptr<CEngineBridge> bridge_;
  // Declared last of the three: destroyed (closed, every thread joined)
  // before the bridge and the document it reaches.
  std::unique_ptr<CUpdateEngine> engine_;
  // Destroyed first of all: its worker reaches the document.
  std::unique_ptr<CSiteStore> store_;
  // Commands waiting for a catalog (WhenCatalogLoaded).
  std::vector<std::pair<std::weak_ptr<CFTPSite>, std::function<void()>>> whenLoaded_;
  QTimer* progressTimer_ = nullptr;
  CWalkRunner* walks_ = nullptr;
  CMarksSaver* marksSaver_ = nullptr;
  CCatalogFollower* follower_ = nullptr;
  CFrameFollow* frameFollow_ = nullptr;
  QDockWidget* changesDock_ = nullptr;
  CChangesView* changesView_ = nullptr;
  QSplitter* splitter_ = nullptr;
  CDirView* dirView_ = nullptr;
  COrvaneView* fileView_ = nullptr;
  CFindBar* findBar_ = nullptr;
  QAction* findAction_ = nullptr;
  CSitesOverview* sitesOverview_ = nullptr;
  QHash<int, QAction*> actions_;
  QStringList loadErrors_;
  std::vector<std::weak_ptr<CFTPSite>> runSites_;
  std::deque<std::weak_ptr<CFTPSite>> trustQueue_;
  bool trustAsking_ = false;
  CUpdateSchedule* schedule_ = nullptr;
  CRunNotifier* notifier_ = nullptr;
  CTrayIcon* tray_ = nullptr;
  bool quitting_ = false;
  bool resultMode_ = false;
  QString resultsTitle_;
};

}  // namespace orvane
