#include "frame/main_frame.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QDockWidget>
#include <QFile>
#include <QFileDialog>
#include <QIcon>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QSettings>
#include <QShowEvent>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>

#include "catalog/ftp_site.h"
#include "document/doc_walk.h"
#include "document/engine_bridge.h"
#include "document/name_matcher.h"
#include "document/site_store.h"
#include "frame/catalog_follower.h"
#include "frame/changes_view.h"
#include "frame/close_dlg.h"
#include "frame/dialog_seam.h"
#include "frame/find_bar.h"
#include "frame/find_dialog.h"
#include "frame/frame_follow.h"
#include "frame/frame_host.h"
#include "frame/frame_views.h"
#include "frame/help_browser.h"
#include "frame/marks_saver.h"
#include "frame/screen_fit.h"
#include "frame/site_dlg.h"
#include "frame/sites_overview.h"
#include "frame/tray_icon.h"
#include "frame/update_num_set.h"
#include "frame/update_schedule.h"
#include "frame/walk_runner.h"
#include "update/update_engine.h"
#include "views/about_dlg.h"
#include "views/display_text.h"

namespace orvane {

namespace {

// The left pane's width on first start.
constexpr int kTreeWidth = 250;

struct ActionSpec {
  int id;
  const char* name;  // objectName suffix, for tests and settings
  const char* text;
  const char* prompt;  // status-bar text while the item is under the pointer
};

// Texts through QT_TRANSLATE_NOOP so lupdate finds them; translated when
// the actions are made.
const ActionSpec kActions[] = {
    {kCmdImport, "Import", QT_TRANSLATE_NOOP("orvane::CMainFrame", "导入"), nullptr},
    {kCmdExit, "Exit", QT_TRANSLATE_NOOP("orvane::CMainFrame", "退出(&X)"), nullptr},
    {kCmdAddSite, "AddSite", QT_TRANSLATE_NOOP("orvane::CMainFrame", "添加站点"),
     QT_TRANSLATE_NOOP("orvane::CMainFrame", "增加站点")},
    {kCmdEditSite, "EditSite", QT_TRANSLATE_NOOP("orvane::CMainFrame", "编辑站点"),
     QT_TRANSLATE_NOOP("orvane::CMainFrame", "编辑站点")},
    {kCmdDeleteSite, "DeleteSite", QT_TRANSLATE_NOOP("orvane::CMainFrame", "删除站点"),
     QT_TRANSLATE_NOOP("orvane::CMainFrame", "删除站点")},
    {kCmdToolBar, "ToolBar", QT_TRANSLATE_NOOP("orvane::CMainFrame", "工具栏(&T)"), nullptr},
    {kCmdStatusBar, "StatusBar", QT_TRANSLATE_NOOP("orvane::CMainFrame", "状态栏(&S)"), nullptr},
    {kCmdForward, "Forward", QT_TRANSLATE_NOOP("orvane::CMainFrame", "前进"),
     QT_TRANSLATE_NOOP("orvane::CMainFrame", "前进")},
    {kCmdBack, "Back", QT_TRANSLATE_NOOP("orvane::CMainFrame", "后退"),
     QT_TRANSLATE_NOOP("orvane::CMainFrame", "后退")},
    {kCmdUp, "Up", QT_TRANSLATE_NOOP("orvane::CMainFrame", "向上"),
     QT_TRANSLATE_NOOP("orvane::CMainFrame", "向上")},
    {kCmdSwitch, "Switch", QT_TRANSLATE_NOOP("orvane::CMainFrame", "切换浏览/搜索"),
     QT_TRANSLATE_NOOP("orvane::CMainFrame", "切换浏览/搜索窗口")},
    {kCmdSitesOverview, "SitesOverview", QT_TRANSLATE_NOOP("orvane::CMainFrame", "站点概况(&O)"),
     QT_TRANSLATE_NOOP("orvane::CMainFrame", "显示所有站点的更新情况")},
    {kCmdUpdate, "Update", QT_TRANSLATE_NOOP("orvane::CMainFrame", "更新"),
     QT_TRANSLATE_NOOP("orvane::CMainFrame", "更新所选站点")},
    {kCmdUpdateAll, "UpdateAll", QT_TRANSLATE_NOOP("orvane::CMainFrame", "更新全部"),
     QT_TRANSLATE_NOOP("orvane::CMainFrame", "更新所有站点")},
    {kCmdStopUpdate, "StopUpdate", QT_TRANSLATE_NOOP("orvane::CMainFrame", "终止更新"), nullptr},
    {kCmdSearch, "Search", QT_TRANSLATE_NOOP("orvane::CMainFrame", "搜索"),
     QT_TRANSLATE_NOOP("orvane::CMainFrame", "搜索")},
    {kCmdShowNew, "ShowNew", QT_TRANSLATE_NOOP("orvane::CMainFrame", "显示未读文件"),
     QT_TRANSLATE_NOOP("orvane::CMainFrame", "显示这次更新的文件")},
    {kCmdShowAllNew, "ShowAllNew", QT_TRANSLATE_NOOP("orvane::CMainFrame", "显示所有未读文件"),
     QT_TRANSLATE_NOOP("orvane::CMainFrame", "显示所有更新的文件")},
    {kCmdSetRead, "SetRead", QT_TRANSLATE_NOOP("orvane::CMainFrame", "设置已读(Alt+D)"),
     QT_TRANSLATE_NOOP("orvane::CMainFrame", "设置当前显示的文件已读")},
    {kCmdSetUpdateRead, "SetUpdateRead", QT_TRANSLATE_NOOP("orvane::CMainFrame", "设置全部已读"),
     QT_TRANSLATE_NOOP("orvane::CMainFrame", "设置这次更新的文件已读")},
    {kCmdSetAllRead, "SetAllRead", QT_TRANSLATE_NOOP("orvane::CMainFrame", "设置所有为已读"),
     QT_TRANSLATE_NOOP("orvane::CMainFrame", "设置所有未读的文件已读")},
    {kCmdSettings, "Settings", QT_TRANSLATE_NOOP("orvane::CMainFrame", "设置(&S)"), nullptr},
    {kCmdHelp, "Help", QT_TRANSLATE_NOOP("orvane::CMainFrame", "帮助(&H)"), nullptr},
    {kCmdAbout, "About", QT_TRANSLATE_NOOP("orvane::CMainFrame", "关于 Orvane(&A)..."), nullptr},
    {kCmdChangesView, "ChangesView", QT_TRANSLATE_NOOP("orvane::CMainFrame", "变化(&C)"),
     QT_TRANSLATE_NOOP("orvane::CMainFrame", "显示各站点每次更新新增、删除和改变大小的文件")},
    {kCmdWatchWords, "WatchWords", QT_TRANSLATE_NOOP("orvane::CMainFrame", "关注词(&W)..."),
     QT_TRANSLATE_NOOP("orvane::CMainFrame", "编辑在变化中突出显示的关注词")},
};

// Toolbar buttons, left to right, with their short labels.
struct ButtonSpec {
  int id;
  const char* label;
  const char* icon;  // bundled fallback under :/frame/toolbar/
};
const ButtonSpec kButtons[] = {
    {kCmdSetRead, QT_TRANSLATE_NOOP("orvane::CMainFrame", "已读"), "read"},
    {kCmdSwitch, QT_TRANSLATE_NOOP("orvane::CMainFrame", "切换"), "switch"},
    {kCmdEditSite, QT_TRANSLATE_NOOP("orvane::CMainFrame", "编辑"), "edit"},
    {kCmdAddSite, QT_TRANSLATE_NOOP("orvane::CMainFrame", "增加"), "add"},
    {kCmdSearch, QT_TRANSLATE_NOOP("orvane::CMainFrame", "搜索"), "search"},
    {kCmdUpdate, QT_TRANSLATE_NOOP("orvane::CMainFrame", "更新"), "update"},
    {kCmdBack, QT_TRANSLATE_NOOP("orvane::CMainFrame", "后退"), "back"},
    {kCmdForward, QT_TRANSLATE_NOOP("orvane::CMainFrame", "前进"), "forward"},
    {kCmdUp, QT_TRANSLATE_NOOP("orvane::CMainFrame", "向上"), "up"},
};

const char* ThemeIcon(const char* fallback) {
  struct Pair {
    const char* fallback;
    const char* theme;
  };
  static const Pair kThemeNames[] = {
      {"read", "mail-mark-read"}, {"switch", "view-list-details"}, {"edit", "document-edit"},
      {"add", "list-add"},        {"search", "edit-find"},         {"update", "view-refresh"},
      {"back", "go-previous"},    {"forward", "go-next"},          {"up", "go-up"},
  };
  for (const Pair& pair : kThemeNames) {
    if (qstrcmp(pair.fallback, fallback) == 0) return pair.theme;
  }
  return fallback;
}

// The progress display's period.
constexpr int kProgressMs = 1000;

}  // namespace

CMainFrame::CMainFrame(const std::filesystem::path& dataDir, QWidget* parent)
    : QMainWindow(parent),
      host_(std::make_unique<CFrameHost>(*this)),
      doc_(std::make_unique<COrvaneDoc>(dataDir, *host_)),
      bridge_(std::make_unique<CEngineBridge>(
          *doc_, *host_, [this](std::function<void()> event) { Post(std::move(event)); })),
      engine_(std::make_unique<CUpdateEngine>(*bridge_, dataDir)),
      store_(std::make_unique<CSiteStore>(
          *doc_, *host_, [this](std::function<void()> event) { Post(std::move(event)); })),
      progressTimer_(new QTimer(this)),
      walks_(new CWalkRunner(*doc_, this)) {
  setObjectName(QStringLiteral("mainFrame"));
  doc_->SetSiteStore(store_.get());
  marksSaver_ = new CMarksSaver(
      *doc_, [this](const QString& failure) { ReportMarksFailure(failure); }, this);
  follower_ = new CCatalogFollower(*this);
  connect(walks_, &CWalkRunner::paused, this, [this] { host_->WalkPaused(); });
  progressTimer_->setInterval(kProgressMs);
  connect(progressTimer_, &QTimer::timeout, this, &CMainFrame::ShowProgress);
  setWindowTitle(QStringLiteral("Orvane"));
  CreateActions();
  CreateMenus();
  CreateToolBar();
  CreateStatusBar();
  CreatePanes();
  CreateChangesDock();
  RestoreSettings();
  CreateSchedule();
  UpdateNavigation();
}

void CMainFrame::Post(std::function<void()> event) {
  bool wake = false;
  {
    std::lock_guard guard(postedMutex_);
    wake = posted_.empty();
    posted_.push_back(std::move(event));
  }
  if (wake) QMetaObject::invokeMethod(this, "RunPosted", Qt::QueuedConnection);
}

void CMainFrame::RunPosted() {
  for (;;) {
    std::function<void()> event;
    {
      std::lock_guard guard(postedMutex_);
      if (posted_.empty()) return;
      event = std::move(posted_.front());
      posted_.pop_front();
    }
    event();
  }
}

CMainFrame::~CMainFrame() {
  // No worker may outlive the document; normally the close did this.
  engine_->Close();
  // A walk still queued (one waiting for a catalog) hands its results to
  // the document when it ends: before the document goes.
  delete walks_;
  walks_ = nullptr;
  doc_->SetSiteStore(nullptr);
  // The views refer to the document's entries; they go first.
  delete splitter_;
  splitter_ = nullptr;
  findBar_ = nullptr;
}

void CMainFrame::WhenCatalogLoaded(const std::shared_ptr<CFTPSite>& site,
                                   std::function<void()> then) {
  if (!site) return;
  if (doc_->RequestCatalog(*site)) {
    then();
    return;
  }
  whenLoaded_.emplace_back(site, std::move(then));
}

void CMainFrame::CatalogArrived(const std::shared_ptr<CFTPSite>& site) {
  dirView_->CatalogLoaded(site.get());
  walks_->CatalogLoaded();
  if (findBar_) findBar_->CatalogLoaded();
  // Taken out first: a command run here may wait for another catalog.
  std::vector<std::function<void()>> due;
  std::erase_if(whenLoaded_, [&](auto& waiting) {
    const std::shared_ptr<CFTPSite> known = waiting.first.lock();
    if (known && known != site) return false;
    if (known) due.push_back(std::move(waiting.second));
    return true;
  });
  for (auto& then : due) then();
}

void CMainFrame::CreateActions() {
  for (const ActionSpec& command : kActions) {
    auto* action = new QAction(tr(command.text), this);
    action->setObjectName(QStringLiteral("action") + QLatin1String(command.name));
    if (command.prompt) action->setStatusTip(tr(command.prompt));
    const int id = command.id;
    connect(action, &QAction::triggered, this, [this, id] { Command(id); });
    actions_.insert(id, action);
  }
  for (const ButtonSpec& button : kButtons) {
    const QString fallback =
        QStringLiteral(":/frame/toolbar/%1.svg").arg(QLatin1String(button.icon));
    actions_[button.id]->setIcon(
        QIcon::fromTheme(QLatin1String(ThemeIcon(button.icon)), QIcon(fallback)));
    actions_[button.id]->setIconText(tr(button.label));
  }
  for (int id : {kCmdToolBar, kCmdStatusBar}) {
    actions_[id]->setCheckable(true);
    actions_[id]->setChecked(true);
  }
  // The keys of the accelerator table and those Linux users expect.
  actions_[kCmdBack]->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Left));
  actions_[kCmdForward]->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Right));
  actions_[kCmdUp]->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Up));
  actions_[kCmdUpdate]->setShortcut(QKeySequence(Qt::Key_F5));
  actions_[kCmdSearch]->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
  actions_[kCmdExit]->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
  actions_[kCmdHelp]->setShortcut(QKeySequence(Qt::Key_F1));
  // Alt+D is in the item's text already; a hidden action carries the key
  // so the menu does not name it twice.
  auto* setRead = new QAction(this);
  setRead->setObjectName(QStringLiteral("actionSetReadKey"));
  setRead->setShortcut(QKeySequence(Qt::ALT | Qt::Key_D));
  connect(setRead, &QAction::triggered, this, [this] { Command(kCmdSetRead); });
  addAction(setRead);

  // F6 and Shift+F6 move the focus between the two panes; there are only
  // two, so next and previous are the same move.
  auto* nextPane = new QAction(this);
  nextPane->setObjectName(QStringLiteral("actionNextPane"));
  nextPane->setShortcuts({QKeySequence(Qt::Key_F6), QKeySequence(Qt::SHIFT | Qt::Key_F6)});
  nextPane->setShortcutContext(Qt::WindowShortcut);
  connect(nextPane, &QAction::triggered, this, &CMainFrame::SwitchPane);
  addAction(nextPane);
  // Ctrl+K: no key of the menus, the views or the dialogs takes it.
  findAction_ = new QAction(tr("即时查找(&K)"), this);
  findAction_->setObjectName(QStringLiteral("actionFindBar"));
  findAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_K));
  findAction_->setShortcutContext(Qt::WindowShortcut);
  findAction_->setStatusTip(tr("边输入边查找所有站点的目录"));
  connect(findAction_, &QAction::triggered, this, [this] { findBar_->Open(); });
  addAction(findAction_);
}

void CMainFrame::CreateMenus() {
  auto add = [this](QMenu* menu, std::initializer_list<int> ids) {
    for (int id : ids) {
      if (id == 0) {
        menu->addSeparator();
      } else {
        menu->addAction(actions_[id]);
      }
    }
  };
  QMenu* file = menuBar()->addMenu(tr("文件(&F)"));
  file->setObjectName(QStringLiteral("menuFile"));
  add(file, {kCmdImport, kCmdExit});
  QMenu* edit = menuBar()->addMenu(tr("编辑(&E)"));
  edit->setObjectName(QStringLiteral("menuEdit"));
  add(edit, {kCmdAddSite, kCmdEditSite, kCmdDeleteSite});
  QMenu* view = menuBar()->addMenu(tr("视图(&V)"));
  view->setObjectName(QStringLiteral("menuView"));
  add(view, {kCmdToolBar, kCmdStatusBar, kCmdForward, kCmdBack, kCmdUp, kCmdSwitch, 0,
             kCmdSitesOverview, kCmdChangesView});
  QMenu* actions = menuBar()->addMenu(tr("操作(&O)"));
  actions->setObjectName(QStringLiteral("menuActions"));
  add(actions, {kCmdUpdate, kCmdUpdateAll, kCmdStopUpdate, 0, kCmdSearch, kCmdShowNew,
                kCmdShowAllNew, 0, kCmdSetRead, kCmdSetUpdateRead, kCmdSetAllRead});
  actions->insertAction(actions_[kCmdShowNew], findAction_);
  QMenu* settings = menuBar()->addMenu(tr("设置(&S)"));
  settings->setObjectName(QStringLiteral("menuSettings"));
  add(settings, {kCmdSettings, kCmdWatchWords});
  QMenu* help = menuBar()->addMenu(tr("帮助(&H)"));
  help->setObjectName(QStringLiteral("menuHelp"));
  add(help, {kCmdHelp, kCmdAbout});
}

void CMainFrame::CreateToolBar() {
  QToolBar* toolBar = addToolBar(tr("工具栏"));
  toolBar->setObjectName(QStringLiteral("mainToolBar"));
  toolBar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  toolBar->setIconSize(QSize(32, 28));
  toolBar->setMovable(true);
  for (const ButtonSpec& button : kButtons) toolBar->addAction(actions_[button.id]);
  QAction* toggle = actions_[kCmdToolBar];
  connect(toolBar, &QToolBar::visibilityChanged, toggle, [this, toolBar, toggle] {
    // Hidden with the window, the toolbar keeps its place; only a hide of
    // its own unchecks the menu item.
    if (isVisible()) toggle->setChecked(toolBar->isVisible());
  });
}

void CMainFrame::CreateStatusBar() {
  QStatusBar* bar = statusBar();
  bar->setObjectName(QStringLiteral("statusBar"));
  bar->setSizeGripEnabled(true);
  // A prompt shown while the pointer is over an item goes again when the
  // pointer leaves; the pane then says "就绪" rather than nothing.
  connect(bar, &QStatusBar::messageChanged, this, [this](const QString& text) {
    if (text.isEmpty()) statusBar()->showMessage(tr("就绪"));
  });
  bar->showMessage(tr("就绪"));
}

void CMainFrame::CreatePanes() {
  splitter_ = new QSplitter(Qt::Horizontal, this);
  splitter_->setObjectName(QStringLiteral("splitter"));
  splitter_->setChildrenCollapsible(false);
  dirView_ = new CDirView(*doc_, splitter_);
  // The list with the find bar above it.
  auto* listPane = new QWidget(splitter_);
  listPane->setObjectName(QStringLiteral("listPane"));
  auto* listLayout = new QVBoxLayout(listPane);
  listLayout->setContentsMargins(0, 0, 0, 0);
  listLayout->setSpacing(0);
  fileView_ = new COrvaneView(*doc_, listPane);
  findBar_ = new CFindBar(*this, listPane);
  listLayout->addWidget(findBar_);
  listLayout->addWidget(fileView_, 1);
  splitter_->addWidget(dirView_);
  splitter_->addWidget(listPane);
  splitter_->setStretchFactor(0, 0);
  splitter_->setStretchFactor(1, 1);
  splitter_->setSizes({kTreeWidth, std::max(kTreeWidth, width() - kTreeWidth)});
  setCentralWidget(splitter_);

  connect(dirView_, &CDirView::directoryActivated, this, &CMainFrame::DirectoryActivated);
  // The list has made the step and refilled itself already.
  connect(fileView_, &COrvaneView::directoryActivated, this, [this] {
    resultMode_ = false;
    UpdateNavigation();
  });
  connect(fileView_, &COrvaneView::fileActivated, this, &CMainFrame::OpenFile);
  connect(dirView_, &CDirView::contextCommand, this, &CMainFrame::Command);
  // A click on the chosen item while the list shows results, or another
  // place, goes back to browsing it.
  connect(dirView_, &CDirView::chosenItemClicked, this, [this](CFTPDir* dir) {
    if (resultMode_ || !doc_->currentNode || doc_->currentNode->directory != dir) {
      dirView_->ShowChosen();
    }
  });
  connect(fileView_, &COrvaneView::contextCommand, this, &CMainFrame::Command);
  connect(fileView_, &COrvaneView::directoryCommand, this, [this](int id, CFTPDir* dir) {
    if (id == kCmdTreeSetRead) SetDirectoryRead(dir);
    if (id == kCmdShowUpdates) ShowUpdatesOf(dir);
  });
  fileView_->ShowWelcome();
  frameFollow_ = new CFrameFollow(*this);
}

void CMainFrame::CreateChangesDock() {
  changesDock_ = new QDockWidget(tr("变化"), this);
  changesDock_->setObjectName(QStringLiteral("changesDock"));
  changesView_ = new CChangesView(*this, changesDock_);
  changesDock_->setWidget(changesView_);
  addDockWidget(Qt::BottomDockWidgetArea, changesDock_);
  // Opened from the View menu; a saved layout may show it at start.
  changesDock_->hide();
  connect(follower_, &CCatalogFollower::catalogsChanged, changesView_, &CChangesView::Reload);
}

void CMainFrame::ShowChangesView() {
  // Reached from outside the window too (a notification clicked while the
  // window was minimised or hidden in the tray).
  if (isMinimized()) {
    showNormal();
  } else if (!isVisible()) {
    show();
  }
  activateWindow();
  changesDock_->show();
  changesDock_->raise();
  changesView_->tree()->setFocus(Qt::OtherFocusReason);
}

void CMainFrame::RestoreSettings() {
  QSettings settings;
  if (!restoreGeometry(settings.value(QStringLiteral("frame/geometry")).toByteArray())) {
    resize(900, 600);
  }
  // A size saved on a bigger screen, or at a smaller scale factor, would
  // put the status bar out of reach.
  FitToScreen(*this);
  restoreState(settings.value(QStringLiteral("frame/state")).toByteArray());
  if (!splitter_->restoreState(settings.value(QStringLiteral("frame/splitter")).toByteArray())) {
    splitter_->setSizes({kTreeWidth, std::max(kTreeWidth, width() - kTreeWidth)});
  }
  fileView_->RestoreLayout();
  // A value the engine refuses (edited by hand) leaves its default.
  engine_->SetMaxWorkers(
      settings.value(QStringLiteral("update/threads"), CUpdateEngine::kDefaultMaxWorkers).toInt());
  engine_->SetConnectionsPerSite(
      settings
          .value(QStringLiteral("update/connections"), CUpdateEngine::kDefaultConnectionsPerSite)
          .toInt());
  const bool statusShown = settings.value(QStringLiteral("frame/statusBar"), true).toBool();
  statusBar()->setVisible(statusShown);
  actions_[kCmdStatusBar]->setChecked(statusShown);
  const bool toolShown = settings.value(QStringLiteral("frame/toolBar"), true).toBool();
  findChild<QToolBar*>(QStringLiteral("mainToolBar"))->setVisible(toolShown);
  actions_[kCmdToolBar]->setChecked(toolShown);
}

void CMainFrame::SaveSettings() const {
  QSettings settings;
  settings.setValue(QStringLiteral("frame/geometry"), saveGeometry());
  settings.setValue(QStringLiteral("frame/state"), saveState());
  settings.setValue(QStringLiteral("frame/splitter"), splitter_->saveState());
  fileView_->SaveLayout();
  settings.setValue(QStringLiteral("frame/statusBar"), actions_[kCmdStatusBar]->isChecked());
  settings.setValue(QStringLiteral("frame/toolBar"), actions_[kCmdToolBar]->isChecked());
}

void CMainFrame::OpenDocument() {
  doc_->OnNewDocument();
  dirView_->ReloadSites();
  // From now on, what other processes change in the data directory shows.
  follower_->Watch();
  StartSchedule();
}

void CMainFrame::ShowLoadErrors() {
  const QStringList errors = std::exchange(loadErrors_, {});
  for (const QString& error : errors) {
    CDialogSeam::Show(this, {QMessageBox::Critical, {}, error, QMessageBox::Ok});
  }
}

void CMainFrame::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  FitToScreen(*this);
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  // While updates run by themselves, the window's close button only puts
  // the program in the tray.
  if (!quitting_ && tray_->KeepsRunning()) {
    hide();
    event->ignore();
    return;
  }
  host_->SetClosing();
  schedule_->Stop();
  // Running updates stop, every blocked FTP call is broken off, and the
  // window waits (in a small box, events still running) for the workers,
  // which save what they merged.
  engine_->BeginClose();
  if (engine_->HasWork()) {
    CCloseDlg wait([this] { return engine_->HasWork(); }, this);
    wait.exec();
  }
  engine_->Close();
  progressTimer_->stop();
  // A walk still running is stopped where it is; marks it cleared are kept.
  walks_->Finish();
  SaveSettings();
  // site.ds is written right after each change of the list, so there is
  // nothing to ask here; only the new marks not saved yet are. The window
  // is going: here it waits for the store to write them, and shows a
  // failure.
  marksSaver_->SaveNow();
  store_->Drain();
  RunPosted();
  event->accept();
}

void CMainFrame::Command(int commandId) {
  switch (commandId) {
    case kCmdImport:
      ImportSites();
      break;
    case kCmdUpdateAll:
      UpdateAll();
      break;
    case kCmdUpdate:
      UpdateSelected();
      break;
    case kCmdStopUpdate:
      engine_->Stop();
      break;
    case kCmdSearch:
      Search();
      break;
    case kCmdShowNew:
      ShowNewFiles(1);
      break;
    case kCmdShowAllNew:
      ShowNewFiles(2);
      break;
    case kCmdSettings: {
      CUpdateNumSet dialog(engine_->MaxWorkers(), engine_->ConnectionsPerSite(), this);
      ShowScheduleSettings(dialog);
      if (CDialogSeam::Exec(dialog) != QDialog::Accepted) break;
      ApplyScheduleSettings(dialog);
      QSettings settings;
      if (engine_->SetMaxWorkers(dialog.Value())) {
        settings.setValue(QStringLiteral("update/threads"), dialog.Value());
      }
      if (engine_->SetConnectionsPerSite(dialog.Connections())) {
        settings.setValue(QStringLiteral("update/connections"), dialog.Connections());
      }
      break;
    }
    case kCmdExit:
      Quit();
      break;
    case kCmdAddSite:
      AddSite();
      break;
    case kCmdEditSite:
      EditSite();
      break;
    case kCmdDeleteSite:
      DeleteSite();
      break;
    case kCmdToolBar:
      findChild<QToolBar*>(QStringLiteral("mainToolBar"))
          ->setVisible(actions_[kCmdToolBar]->isChecked());
      break;
    case kCmdStatusBar:
      statusBar()->setVisible(actions_[kCmdStatusBar]->isChecked());
      break;
    case kCmdBack:
      Navigate(&COrvaneDoc::GoBack);
      break;
    case kCmdForward:
      Navigate(&COrvaneDoc::GoForward);
      break;
    case kCmdUp:
      Navigate(&COrvaneDoc::GoUp);
      break;
    case kCmdSwitch:
      SwitchBrowseResults();
      break;
    case kCmdSetRead:
      SetShownRead();
      break;
    case kCmdSetUpdateRead:
      SetSitesRead(1);
      break;
    case kCmdSetAllRead:
      SetSitesRead(2);
      break;
    case kCmdCopyPath:
      CopyListPath();
      break;
    case kCmdTreeCopyPath:
      CopyTreePath();
      break;
    case kCmdTreeSetRead:
      SetTreeRead();
      break;
    case kCmdShowUpdates:
      ShowTreeUpdates();
      break;
    case kCmdHelp:
      OpenHelp();
      break;
    case kCmdAbout:
      About();
      break;
    case kCmdSitesOverview:
      ShowSitesOverview();
      break;
    case kCmdChangesView:
      ShowChangesView();
      break;
    case kCmdWatchWords:
      changesView_->EditWatchWords();
      break;
    default:
      break;
  }
}

void CMainFrame::UpdateNavigation() {
  actions_[kCmdBack]->setEnabled(doc_->CanGoBack());
  actions_[kCmdForward]->setEnabled(doc_->CanGoForward());
  actions_[kCmdUp]->setEnabled(doc_->CanGoUp());
}

void CMainFrame::DirectoryActivated(CFTPDir*) {
  resultMode_ = false;
  fileView_->ShowBrowse();
  UpdateNavigation();
}

void CMainFrame::Navigate(CFTPDir* (COrvaneDoc::*step)()) {
  (doc_.get()->*step)();
  // The list shows the current location even when the step was not
  // possible, as after any navigation command.
  resultMode_ = false;
  fileView_->ShowBrowse();
  UpdateNavigation();
}

void CMainFrame::SwitchPane() {
  if (dirView_->hasFocus()) {
    fileView_->setFocus(Qt::OtherFocusReason);
  } else {
    dirView_->setFocus(Qt::OtherFocusReason);
  }
}

void CMainFrame::SwitchBrowseResults() {
  resultMode_ = !resultMode_;
  if (resultMode_) {
    fileView_->ShowResults();
  } else {
    fileView_->ShowBrowse();
  }
}

void CMainFrame::SetShownRead() {
  // The files listed, whichever list that is: a directory, results or an
  // unread listing.
  doc_->SetFilesRead(fileView_->ListedFiles());
  // A result or unread list also lists new directories, which would stay
  // coloured. Only a directory's own mark goes: what lies below it was not
  // listed. A browsed directory's subdirectories keep theirs, as opening
  // one is what reads it.
  if (fileView_->resultMode()) {
    for (CFTPDir* dir : fileView_->ListedDirs()) {
      if (dir->readState.exchange(0) == 0) continue;
      if (CFTPSite* site = dir->GetSite()) site->stateDirty.store(true);
    }
  }
  fileView_->viewport()->update();
  dirView_->viewport()->update();
}

void CMainFrame::SetSitesRead(int kind) {
  walks_->Start(CDocWalk::SetSitesRead(*doc_, kind), [this] { MarksCleared(); });
}

void CMainFrame::MarksCleared() {
  for (const auto& site : doc_->sites()) dirView_->UpdateSiteItem(site.get());
  RefreshSitesOverview();
  dirView_->viewport()->update();
  fileView_->viewport()->update();
}

void CMainFrame::ShowSitesOverview() {
  if (!sitesOverview_) {
    sitesOverview_ = new CSitesOverview(*doc_, this);
    connect(sitesOverview_, &CSitesOverview::siteActivated, this,
            [this](CFTPSite* site) { dirView_->SelectSite(site); });
  }
  sitesOverview_->show();
  sitesOverview_->raise();
  sitesOverview_->activateWindow();
}

void CMainFrame::RefreshSitesOverview() {
  if (sitesOverview_) sitesOverview_->Refresh();
}

void CMainFrame::ShowNamesAnew() {
  // The models decode at each paint; the journal's rows carry the charset
  // they were read with, so the journal is read again.
  dirView_->viewport()->update();
  fileView_->viewport()->update();
  if (changesView_) changesView_->Reload();
  frameFollow_->ShowAnew();
}

void CMainFrame::ReportMarksFailure(const QString& failure) {
  CDialogSeam::Warn(this, tr("已读标记无法保存：\n%1").arg(failure));
}

void CMainFrame::CopyListPath() {
  // Every selected row, one address a line, as Ctrl+C copies them.
  CopyAddresses(fileView_->SelectedDisplayPaths());
}

void CMainFrame::ReportChange(SiteChange change) {
  const QString reason = QString::fromStdString(doc_->siteListError());
  if (change == SiteChange::kFailed) {
    CDialogSeam::Warn(this, tr("无法保存这次的改动（%1），站点保持原样。").arg(reason));
    return;
  }
  if (change == SiteChange::kTargetTaken) {
    CDialogSeam::Warn(this, tr("新站点的数据目录已有文件（%1），站点保持原样。").arg(reason));
    return;
  }
  if (change != SiteChange::kNotSaved) return;
  const QString path = QString::fromStdString((doc_->GetProgramDir() / "site.ds").string());
  CDialogSeam::Warn(this, tr("站点列表无法写入 %1，这次的改动只保留到程序退出。").arg(path));
}

void CMainFrame::AddSite(const SiteSettings* prefill) {
  CSiteDlg dialog(this);
  if (prefill) {
    CFTPSite filled;
    prefill->ApplyTo(filled);
    dialog.FillFrom(filled);
  }
  dialog.SetSiteCheck(
      [this](const SiteSettings& typed) { return DuplicateProblem(typed, nullptr); });
  if (CDialogSeam::Exec(dialog) != QDialog::Accepted) return;
  const SiteSettings settings = dialog.Settings();
  // Another process may have added the same site while the dialog was open.
  if (const QString problem = DuplicateProblem(settings, nullptr); !problem.isEmpty()) {
    CDialogSeam::Inform(this, problem);
    return;
  }
  auto site = std::make_shared<CFTPSite>();
  settings.ApplyTo(*site);
  const SiteChange change = doc_->AddSite(site);
  ReportChange(change);
  // The new site is where the user goes next.
  if (change == SiteChange::kSaved || change == SiteChange::kNotSaved) {
    dirView_->SelectSite(site.get());
  }
}

void CMainFrame::EditSite() {
  CFTPSite* site = dirView_->CurrentSite();
  if (!site) return;
  // A worker reads the host and the login while it runs.
  if (site->updateState.load() == kUpdateRunning) {
    CDialogSeam::Inform(this, tr("站点正在更新，请在更新结束后再编辑。"));
    return;
  }
  CSiteDlg dialog(this);
  dialog.FillFrom(*site);
  // Two sites of one key would share a data directory, and the site would
  // end up reading the other's catalog.
  dialog.SetSiteCheck(
      [this, site](const SiteSettings& typed) { return DuplicateProblem(typed, site); });
  if (CDialogSeam::Exec(dialog) != QDialog::Accepted) return;
  const SiteSettings settings = dialog.Settings();
  if (const QString problem = DuplicateProblem(settings, site); !problem.isEmpty()) {
    CDialogSeam::Inform(this, problem);
    return;
  }
  const SiteChange change = doc_->EditSite(*site, settings);
  if (change == SiteChange::kRefused) {
    // An update began while the dialog was open.
    CDialogSeam::Inform(this, tr("站点正在更新，请在更新结束后再编辑。"));
    return;
  }
  ReportChange(change);
  if (change == SiteChange::kSaved || change == SiteChange::kNotSaved) dirView_->SelectSite(site);
}

void CMainFrame::UpdateAll() {
  schedule_->RunStarted();
  BeginRun(doc_->sites());
  engine_->SetCrawlLimits(doc_->userSettings().crawlLimits());
  engine_->UpdateAll(doc_->sites());
  for (const auto& site : doc_->sites()) dirView_->UpdateSiteItem(site.get());
  ShowProgress();
  progressTimer_->start();
}

void CMainFrame::UpdateSelected() {
  CFTPDir* dir = dirView_->CurrentDirectory();
  CFTPSite* site = dirView_->CurrentSite();
  if (!dir || !site) return;
  for (const auto& known : doc_->sites()) {
    if (known.get() != site) continue;
    BeginRun({known});
    engine_->SetCrawlLimits(doc_->userSettings().crawlLimits());
    if (!engine_->UpdateSelected(known, dir->parent ? dir : nullptr)) return;
    dirView_->UpdateSiteItem(site);
    // One site's progress is shown like everyone's.
    ShowProgress();
    progressTimer_->start();
    return;
  }
}

void CMainFrame::ShowProgress() {
  const UpdateProgress progress = engine_->Progress();
  if (progress.finished) {
    progressTimer_->stop();
    const std::vector<std::weak_ptr<CFTPSite>> run = runSites_;
    statusBar()->showMessage(RunSummary());
    NotifyRunEnd(run);
    UpdateTrayTip();
    return;
  }
  statusBar()->showMessage(tr("更新%1/%2").arg(progress.done).arg(progress.total));
  UpdateTrayTip();
}

void CMainFrame::DeleteSite() {
  CFTPSite* site = dirView_->CurrentSite();
  if (!site) return;
  // The box names the site and a stray Enter keeps it.
  const QString label = SiteText(site->nickname.empty() ? site->siteKey() : site->nickname);
  const QMessageBox::StandardButton answer = CDialogSeam::Show(
      this, {QMessageBox::Warning, tr("警告"), tr("是否确定要删除站点“%1”?").arg(label),
             QMessageBox::Yes | QMessageBox::No, QMessageBox::No});
  if (answer != QMessageBox::Yes) return;
  // The document deletes the first site of the key (two sites of one key
  // can come from a site.ds written elsewhere); the views let go of the
  // one that actually goes when the document says so.
  std::string failure;
  doc_->DeleteSite(site->siteKey(), &failure);
  if (!failure.empty()) {
    CDialogSeam::Warn(this, tr("删除没有完成：%1").arg(QString::fromStdString(failure)));
  }
  if (resultMode_) {
    fileView_->ShowResults();
  } else {
    fileView_->ShowBrowse();
  }
  UpdateNavigation();
}

void CMainFrame::ImportSites() {
  QFileDialog dialog(this, tr("导入"));
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  // "*" rather than "*.*": a list saved without an extension is shown too.
  dialog.setNameFilters({tr("文本文件 (*.txt)"), tr("所有文件 (*)")});
  dialog.setDefaultSuffix(QStringLiteral("txt"));
  dialog.setOption(QFileDialog::ReadOnly, true);
  const QString path = CDialogSeam::OpenFile(dialog);
  if (path.isEmpty()) return;
  // The document tells the tree about the sites it adds.
  COrvaneDoc::ImportReport report;
  if (!doc_->ImportSites(std::filesystem::path(QFile::encodeName(path).toStdString()), &report)) {
    return;  // the document said why
  }
  CDialogSeam::Inform(this, ImportSummary(report));
}

void CMainFrame::OpenHelp() {
  // Beside the program, whatever the current directory is; an installed
  // program keeps it in share/orvane.
  const QDir programDir(QCoreApplication::applicationDirPath());
  // In the interface's language: help_zh.pdf for Chinese.
  const QString name = CHelpBrowser::PdfName();
  QString path = programDir.filePath(name);
  const QString installed = programDir.filePath(QStringLiteral("../share/orvane/") + name);
  if (!QFile::exists(path) && QFile::exists(installed)) path = QDir::cleanPath(installed);
  if (QFile::exists(path) && CDialogSeam::OpenUrl(QUrl::fromLocalFile(path))) return;
  // No PDF viewer (or no help.pdf): the guide is built into the program.
  CHelpBrowser guide(this);
  CDialogSeam::Exec(guide);
}

void CMainFrame::About() {
  CAboutDlg dialog(this);
  CDialogSeam::Exec(dialog);
}

void CMainFrame::OpenFile(const std::string& displayPath) {
  const std::string address = doc_->GetFileAddress(displayPath);
  if (address.empty()) return;
  // The address's bytes go out as they are: names the server sent are
  // percent-encoded byte for byte, never re-encoded through a text form.
  const QUrl url = QUrl::fromEncoded(QByteArray::fromStdString(address));
  if (CDialogSeam::OpenUrl(url)) return;
  // Most browsers no longer open ftp:// addresses; the user can still paste
  // the address into an FTP program.
  const QMessageBox::StandardButton answer = CDialogSeam::Show(
      this,
      {QMessageBox::Question,
       {},
       tr("没有程序能打开这个地址：\n%1\n要把它复制到剪贴板上吗？").arg(url.toDisplayString()),
       QMessageBox::Yes | QMessageBox::No});
  if (answer == QMessageBox::Yes) doc_->CopyFileAddress(displayPath);
}

void CMainFrame::CopyTreePath() {
  CFTPDir* dir = dirView_->CurrentDirectory();
  if (!dir) return;
  CopyAddresses({dir->GetDisplayPath()});
}

void CMainFrame::SetTreeRead() { SetDirectoryRead(dirView_->CurrentDirectory()); }

void CMainFrame::SetDirectoryRead(CFTPDir* dir) {
  if (!dir) return;
  doc_->ClearSiteFlag(dir);
  dirView_->UpdateSiteItem(dir->GetSite());
  walks_->Start(CDocWalk::ClearBelow(*doc_, dir), [this] { MarksCleared(); });
}

void CMainFrame::Search() {
  // One listing at a time; a second would empty the result lists under the
  // walk that fills them.
  if (doc_->walking()) return;
  CFindDialog dialog(this);
  if (CDialogSeam::Exec(dialog) != QDialog::Accepted) return;
  StartListing(CDocWalk::Search(*doc_, FoldKeyword(dialog.Keyword().toStdString())),
               tr("搜索: %1").arg(dialog.Keyword()));
}

void CMainFrame::StartListing(std::unique_ptr<CDocWalk> walk, const QString& title) {
  // The list follows the result lists as the walk fills them.
  resultMode_ = true;
  resultsTitle_ = title;
  frameFollow_->ListingStarted();
  fileView_->ShowResults();
  walks_->Start(std::move(walk), [this] {
    if (!resultMode_) return;
    fileView_->AppendResults();
    frameFollow_->ListingEnded();
  });
}

void CMainFrame::ShowNewFiles(int kind) {
  if (doc_->walking()) return;
  StartListing(CDocWalk::NewFiles(*doc_, kind),
               kind == 1 ? tr("本次更新的新文件") : tr("所有站点的新文件"));
}

void CMainFrame::ShowTreeUpdates() { ShowUpdatesOf(dirView_->CurrentDirectory()); }

void CMainFrame::ShowUpdatesOf(CFTPDir* dir) {
  if (!dir || doc_->walking()) return;
  StartListing(CDocWalk::SearchInDir(*doc_, dir, std::string(kNewKeyword), true),
               tr("更新: %1").arg(DisplayPath(dir->GetDisplayPath(), CharsetOf(dir->GetSite()))));
}

}  // namespace orvane
