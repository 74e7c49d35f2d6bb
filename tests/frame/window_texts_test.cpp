// What the window shows and says, checked as a person meets it: the list's
// cells, set-read in every list, copy path, the tree's focused item, the
// end of an update run and its errors, and the window's size.
#include <QClipboard>
#include <QDockWidget>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QScreen>
#include <QSettings>
#include <QStatusBar>
#include <QTableView>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>

#include "catalog/change_journal.h"
#include "catalog/ftp_dir.h"
#include "catalog/ftp_file.h"
#include "catalog/site_health.h"
#include "frame/changes_model.h"
#include "frame/changes_view.h"
#include "frame/sites_overview_model.h"
#include "tests/frame/frame_fixture.h"
#include "tests/support/closed_port.h"
#include "tests/support/ftp_server.h"
#include "tests/views/shown_tip.h"
#include "update/update_engine.h"
#include "views/dir_tree_model.h"
#include "views/file_list_model.h"

using namespace orvane;
using namespace orvane::test;
namespace fs = std::filesystem;

namespace {

constexpr const char* kCopied = "文件路径已复制到剪贴板上，粘贴到FTP软件或浏览器中即可。";

struct SiteLine {
  std::string host;
  std::uint32_t port = 21;
  std::string user = {};  // empty: anonymous
  std::string password = {};
};

// Sites with catalogs: the first gets pub/{new.txt (unread), old.txt},
// news.txt (unread) and other.txt (unread) at its root, and a file posing
// as a text file with the largest size there is.
void WriteSites(const fs::path& dir, const std::vector<SiteLine>& lines) {
  IDocumentHost quiet;
  COrvaneDoc doc(dir, quiet);
  for (const SiteLine& line : lines) {
    auto site = std::make_shared<CFTPSite>();
    site->host = line.host;
    site->port = line.port;
    site->userName = line.user.empty() ? "anonymous" : line.user;
    site->password = line.user.empty() ? std::string(kAnonymousPassword) : line.password;
    if (doc.sites().empty()) {
      CFTPDir* pub = site->rootDir->AddSubdir(std::make_unique<CFTPDir>("pub"));
      pub->AddFile(CFTPFile::Make("new.txt", 3, 1));
      pub->AddFile(CFTPFile::Make("old.txt", 2));
      site->rootDir->AddFile(CFTPFile::Make("news.txt", 1, 1));
      site->rootDir->AddFile(CFTPFile::Make("other.txt", 1, 1));
      site->rootDir->AddFile(CFTPFile::Make("rtl\xE2\x80\xAEtxt.exe", ~std::uint64_t{0}));
      if (!site->SaveCatalogAndState(dir)) qFatal("cannot write a catalog");
    }
    doc.AppendSite(site);
  }
  if (!doc.SaveSiteList()) qFatal("cannot write site.ds");
}

int RowOf(const COrvaneView& view, const QString& name) {
  const CFileListModel& model = *view.listModel();
  for (int row = 0; row < model.rowCount(); ++row) {
    if (model.index(row, 0).data().toString() == name) return row;
  }
  return -1;
}

// Clicks the tree item of `dir` as a person would.
void ClickTreeItem(CMainFrame& frame, const CFTPDir* dir) {
  CDirView& tree = frame.dirView();
  const QModelIndex index = tree.treeModel()->FindItem(dir);
  QVERIFY(index.isValid());
  QTest::mouseClick(tree.viewport(), Qt::LeftButton, {}, tree.visualRect(index).center());
  // Shown once the site store has read the catalog.
  QTRY_VERIFY(frame.doc().currentNode && frame.doc().currentNode->directory == dir);
}

// Opens the list's context menu on a row and chooses 复制路径.
void CopyPathOfRow(COrvaneView& list, int row) {
  const QPoint at = list.visualRect(list.listModel()->index(row, 0)).center();
  QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, at);
  emit list.customContextMenuRequested(at);
  auto* menu = list.findChild<QMenu*>(QStringLiteral("fileViewMenu"));
  QVERIFY(menu);
  menu->findChild<QAction*>(QStringLiteral("actionCopyPath"))->trigger();
  menu->close();
  // The command arrives once the menu has closed.
  QCoreApplication::processEvents();
}

}  // namespace

class WindowTextsTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    dir_ = std::make_unique<CTempTree>();
    QSettings().clear();
  }
  void cleanup() {
    frame_.reset();
    CDialogSeam::ClearHooks();
    dir_.reset();
  }
  void listShowsAddressSizeAndVisibleNames();
  void setReadClearsTheListedFilesInEveryList_data();
  void setReadClearsTheListedFilesInEveryList();
  void copyPathSaysSoOnlyWhenItCopied();
  void treeCommandsActOnTheFocusedItem_data();
  void treeCommandsActOnTheFocusedItem();
  void updateEndCountsFailuresInTheUsersLanguage();
  void windowFitsTheScreen();
  void resultListSaysWhatItHoldsUntilTheChosenItemIsClicked();
  void listMenuOnADirectoryActsOnIt();
  void namesShowAsPlainTextEverywhere_data();
  void namesShowAsPlainTextEverywhere();

 private:
  CMainFrame& Start(const std::vector<SiteLine>& lines) {
    WriteSites(dir_->path(), lines);
    frame_ = StartFrame(dir_->path());
    if (!QTest::qWaitForWindowActive(frame_.get())) qFatal("window not active");
    return *frame_;
  }

  std::unique_ptr<CTempTree> dir_;
  std::unique_ptr<CMainFrame> frame_;
};

void WindowTextsTest::listShowsAddressSizeAndVisibleNames() {
  CMainFrame& frame = Start({{"10.0.0.7", 2121, "alice", "secret"}});
  CFTPSite& site = *frame.doc().sites().front();
  ClickTreeItem(frame, site.rootDir.get());
  COrvaneView& list = frame.fileView();
  const int row = RowOf(list, QStringLiteral("rtl<U+202E>txt.exe"));
  QVERIFY(row >= 0);
  const auto cell = [&](int column, int role = Qt::DisplayRole) {
    return list.listModel()->index(row, column).data(role);
  };
  QCOMPARE(cell(1).toString(), QStringLiteral("16777216.00T"));
  QCOMPARE(cell(1, Qt::TextAlignmentRole).toInt(), int(Qt::AlignRight | Qt::AlignVCenter));
  QCOMPARE(cell(2).toString(), QStringLiteral("ftp://alice@10.0.0.7:2121/rtl<U+202E>txt.exe"));
  QCOMPARE(list.listModel()->index(0, 2).data().toString(),
           QStringLiteral("ftp://alice@10.0.0.7:2121/pub"));
}

void WindowTextsTest::setReadClearsTheListedFilesInEveryList_data() {
  QTest::addColumn<int>("list");
  QTest::newRow("browsed directory") << 0;
  QTest::newRow("search results") << 1;
  QTest::newRow("unread listing") << 2;
}

void WindowTextsTest::setReadClearsTheListedFilesInEveryList() {
  QFETCH(int, list);
  CMainFrame& frame = Start({{"a.example"}});
  CFTPSite& site = *frame.doc().sites().front();
  frame.doc().EnsureCatalogLoaded(site);
  // The browse location is pub whatever is listed, as after a search.
  ClickTreeItem(frame, site.rootDir.get());
  frame.dirView().expand(frame.dirView().treeModel()->FindItem(site.rootDir.get()));
  ClickTreeItem(frame, site.rootDir->subdirs.front().get());
  if (list == 1) {
    CDialogSeam::SetDialogHook([](QDialog& dialog) {
      dialog.findChild<QLineEdit*>(QStringLiteral("keywordEdit"))->setText(QStringLiteral("new"));
      return int{QDialog::Accepted};
    });
    frame.action(kCmdSearch)->trigger();
  } else if (list == 2) {
    frame.action(kCmdShowAllNew)->trigger();
  }
  QTRY_VERIFY(!frame.doc().walking());
  const std::vector<CFTPFile*> listed = frame.fileView().ListedFiles();
  QVERIFY(!listed.empty());
  QTest::keyClick(&frame, Qt::Key_D, Qt::AltModifier);
  for (const CFTPFile* file : listed) QCOMPARE(file->readState.load(), 0);
  // A file not listed keeps its mark.
  const CFTPFile* other = nullptr;
  for (const auto& file : site.rootDir->files) {
    if (file->name() == "other.txt") other = file.get();
  }
  QCOMPARE(other->readState.load(), list == 2 ? 0 : 1);
}

void WindowTextsTest::copyPathSaysSoOnlyWhenItCopied() {
  CMainFrame& frame = Start({{"a.example"}});
  MessageRecorder recorder;
  QClipboard* clipboard = QGuiApplication::clipboard();
  clipboard->setText(QStringLiteral("before"));
  COrvaneView& list = frame.fileView();
  CopyPathOfRow(list, 0);  // a welcome row
  QCOMPARE(clipboard->text(), QStringLiteral("before"));
  QVERIFY(recorder.messages.empty());

  CFTPSite& site = *frame.doc().sites().front();
  ClickTreeItem(frame, site.rootDir.get());
  CopyPathOfRow(list, RowOf(list, QStringLiteral("news.txt")));
  QCOMPARE(clipboard->text(), QStringLiteral("ftp://a.example:21/news.txt"));
  QCOMPARE(recorder.texts(), QStringList{QString::fromUtf8(kCopied)});
}

void WindowTextsTest::treeCommandsActOnTheFocusedItem_data() {
  QTest::addColumn<int>("command");
  QTest::newRow("edit (toolbar)") << int{kCmdEditSite};
  QTest::newRow("delete (menu)") << int{kCmdDeleteSite};
  QTest::newRow("update (F5)") << int{kCmdUpdate};
}

void WindowTextsTest::treeCommandsActOnTheFocusedItem() {
  QFETCH(int, command);
  CClosedPort closed;
  CMainFrame& frame = Start({{"127.0.0.1", closed.port()}});
  MessageRecorder recorder;
  recorder.answers = {QMessageBox::Yes};
  // Right after start the tree gets the focus frame on its first item, and
  // nothing is selected.
  CDirView& tree = frame.dirView();
  tree.setFocus(Qt::TabFocusReason);
  QTRY_VERIFY(tree.currentIndex().isValid());
  QVERIFY(tree.selectionModel()->selectedIndexes().isEmpty());
  CFTPSite& site = *frame.doc().sites().front();
  QString shownHost;
  CDialogSeam::SetDialogHook([&](QDialog& dialog) {
    shownHost = dialog.findChild<QLineEdit*>(QStringLiteral("hostEdit"))->text();
    return int{QDialog::Rejected};
  });
  switch (command) {
    case kCmdEditSite: {
      auto* toolBar = frame.findChild<QToolBar*>(QStringLiteral("mainToolBar"));
      QTest::mouseClick(toolBar->widgetForAction(frame.action(kCmdEditSite)), Qt::LeftButton);
      QCOMPARE(shownHost, QStringLiteral("127.0.0.1"));
      break;
    }
    case kCmdDeleteSite:
      frame.action(kCmdDeleteSite)->trigger();
      QVERIFY(frame.doc().sites().empty());
      break;
    default:
      QTest::keyClick(&tree, Qt::Key_F5);
      QTRY_COMPARE_WITH_TIMEOUT(site.updateState.load(), static_cast<int>(kUpdateFailed), kWaitMs);
      break;
  }
}

void WindowTextsTest::updateEndCountsFailuresInTheUsersLanguage() {
  CTempTree served;
  served.AddFile("pub/readme.txt", "hello");
  PyFtpOptions options;
  options.user = "alice";
  options.password = "pw";
  auto started = CFtpServer::StartPyftpdlib(served.path(), options);
  QVERIFY2(started.server, started.error.c_str());
  const std::uint16_t port = started.server->port();
  CClosedPort closed;
  CMainFrame& frame = Start({{"a.example"},  // holds the catalog; not updated
                             {"127.0.0.1", port, "alice", "pw"},
                             {"127.0.0.1", port, "mallory", "guess"},
                             {"127.0.0.1", closed.port()}});
  const auto sites = frame.doc().sites();
  for (std::size_t i = 1; i < sites.size(); ++i) {
    ClickTreeItem(frame, sites[i]->rootDir.get());
    frame.action(kCmdUpdate)->trigger();
  }
  QTRY_COMPARE_WITH_TIMEOUT(frame.statusBar()->currentMessage(),
                            QStringLiteral("更新结束：2 个站点失败"), kWaitMs);
  QCOMPARE(sites[1]->updateState.load(), static_cast<int>(kUpdateSucceeded));
  const auto tip = [&](const CFTPSite& site) {
    return ShownTip(
        frame.dirView().treeModel()->FindItem(site.rootDir.get()).data(Qt::ToolTipRole));
  };
  const QString login = tip(*sites[2]);
  QVERIFY2(login.startsWith(QStringLiteral("更新失败:\n服务器拒绝登录")), qPrintable(login));
  QVERIFY2(login.contains(QStringLiteral("详细信息: ")) && login.contains(QStringLiteral("530")),
           qPrintable(login));
  const QString refused = tip(*sites[3]);
  QVERIFY2(refused.startsWith(QStringLiteral("更新失败:\n服务器拒绝连接")), qPrintable(refused));
}

void WindowTextsTest::windowFitsTheScreen() {
  const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
  // First start, then a size saved on a screen far bigger than this one.
  for (int start = 0; start < 2; ++start) {
    CMainFrame& frame = Start({});
    QVERIFY2(area.contains(frame.frameGeometry()), qPrintable(QStringLiteral("%1x%2 at %3,%4")
                                                                  .arg(frame.width())
                                                                  .arg(frame.height())
                                                                  .arg(frame.x())
                                                                  .arg(frame.y())));
    frame.setGeometry(area.x() + 100, area.y() + 100, area.width() * 3, area.height() * 3);
    frame.close();
    frame_.reset();
  }
}

void WindowTextsTest::resultListSaysWhatItHoldsUntilTheChosenItemIsClicked() {
  CMainFrame& frame = Start({{"10.0.0.7"}});
  const CFTPDir* root = frame.doc().sites().front()->rootDir.get();
  STEP(ClickTreeItem(frame, root));
  const CFileListModel& list = *frame.fileView().listModel();
  QTRY_COMPARE(list.mode(), CFileListModel::Mode::kBrowse);
  QTRY_VERIFY2(frame.windowTitle().endsWith(QStringLiteral(" - / - Orvane")),
               qPrintable(frame.windowTitle()));
  const QString browsing = frame.windowTitle();

  CDialogSeam::SetDialogHook([](QDialog& dialog) {
    dialog.findChild<QLineEdit*>(QStringLiteral("keywordEdit"))->setText(QStringLiteral("New"));
    return int{QDialog::Accepted};
  });
  STEP(ChooseFromMenuBar(frame, frame.action(kCmdSearch)));
  QTRY_VERIFY(!frame.doc().walking() && list.mode() == CFileListModel::Mode::kResults);
  QTRY_COMPARE(frame.windowTitle(), QStringLiteral("搜索: New - Orvane"));
  // new.txt and news.txt; the count stays while the list shows them.
  QTRY_VERIFY2(frame.statusBar()->currentMessage().startsWith(QStringLiteral("2 项")),
               qPrintable(frame.statusBar()->currentMessage()));

  // The tree item chosen before the search, clicked again: browsing it,
  // and the status bar's count of the results is gone.
  STEP(ClickTreeItem(frame, root));
  QTRY_COMPARE(list.mode(), CFileListModel::Mode::kBrowse);
  QTRY_COMPARE(frame.windowTitle(), browsing);
  QVERIFY2(!frame.statusBar()->currentMessage().startsWith(QStringLiteral("2 项")),
           qPrintable(frame.statusBar()->currentMessage()));
  // A click on the item while it is browsed changes nothing.
  const bool couldGoBack = frame.doc().CanGoBack();
  STEP(ClickTreeItem(frame, root));
  QCOMPARE(frame.doc().CanGoBack(), couldGoBack);
}

void WindowTextsTest::listMenuOnADirectoryActsOnIt() {
  CMainFrame& frame = Start({{"10.0.0.7"}});
  CFTPDir* root = frame.doc().sites().front()->rootDir.get();
  STEP(ClickTreeItem(frame, root));
  COrvaneView& list = frame.fileView();
  QTRY_VERIFY(RowOf(list, QStringLiteral("pub")) >= 0);
  CFTPDir* pub = root->subdirs.front().get();
  // The Menu key on the "pub" row, then the item by the arrow keys.
  const auto choose = [&](const char* name) {
    const int row = RowOf(list, QStringLiteral("pub"));
    QVERIFY(row >= 0);
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {},
                      list.visualRect(list.listModel()->index(row, 0)).center());
    QTest::keyClick(&list, Qt::Key_Menu);
    QTRY_VERIFY(qobject_cast<QMenu*>(QApplication::activePopupWidget()));
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    auto* wanted = menu->findChild<QAction*>(QLatin1String(name));
    QVERIFY2(wanted, name);
    for (int step = 0; menu->activeAction() != wanted && step <= menu->actions().size(); ++step) {
      QTest::keyClick(menu, Qt::Key_Down);
    }
    QTest::keyClick(menu, Qt::Key_Return);
    QTRY_VERIFY(!QApplication::activePopupWidget());
  };
  STEP(choose("actionDirectoryShowUpdates"));
  QTRY_VERIFY(!frame.doc().walking() && list.resultMode());
  QCOMPARE(list.ItemCount(), 1);
  QCOMPARE(list.listModel()->index(0, 0).data().toString(), QStringLiteral("new.txt"));
  QTRY_VERIFY(frame.windowTitle().startsWith(QStringLiteral("更新: ")));
  STEP(ClickTreeItem(frame, root));
  QTRY_VERIFY(!list.resultMode());
  QCOMPARE(CountMarks(*pub), 1);
  STEP(choose("actionDirectorySetRead"));
  QTRY_COMPARE(CountMarks(*pub), 0);
  STEP(choose("actionOpenDirectory"));
  QTRY_COMPARE(frame.doc().currentNode->directory, pub);
}

void WindowTextsTest::namesShowAsPlainTextEverywhere_data() {
  QTest::addColumn<QString>("name");
  QTest::newRow("heading") << QStringLiteral("<h1>HUGE<i>tip.txt");
  QTest::newRow("colour") << QStringLiteral("<font color=red>red");
  QTest::newRow("entity") << QStringLiteral("a&amp;b");
  QTest::newRow("link") << QStringLiteral("<a href=http:x>link");
}

void WindowTextsTest::namesShowAsPlainTextEverywhere() {
  // One site whose nickname, whose server's last error and whose journaled
  // entry are the name.
  QFETCH(QString, name);
  const std::string bytes = name.toStdString();
  auto site = std::make_shared<CFTPSite>();
  {
    IDocumentHost quiet;
    COrvaneDoc doc(dir_->path(), quiet);
    site->host = "10.0.0.9";
    site->userName = "anonymous";
    site->password = std::string(kAnonymousPassword);
    site->nickname = bytes;
    doc.AppendSite(site);
    QVERIFY(doc.SaveSiteList());
  }
  const fs::path siteDir = site->DataDirectory(dir_->path());
  fs::create_directories(siteDir);
  SiteHealth health;
  health.errorKind = "connect";
  health.errorText = bytes;
  health.errorTime = static_cast<std::int64_t>(std::time(nullptr));
  QVERIFY(WriteSiteHealth(siteDir, health));
  JournalRecord record;
  // An update that broke off after it found one entry: the error is its.
  record.startTime = record.endTime = health.errorTime;
  record.outcome = JournalRecord::Outcome::kBrokenOff;
  record.added = 1;
  record.entries.push_back({JournalEntry::Kind::kAdded, false, "/" + bytes, 1, 0, 0});
  WriteBytes(siteDir / kJournalFileName, RewriteJournal({}, {EncodeJournalRecord(record)}, {}));
  frame_ = StartFrame(dir_->path());
  QVERIFY(QTest::qWaitForWindowActive(frame_.get()));

  // The tree's tool tip on the site.
  const QModelIndex item = frame_->dirView().treeModel()->index(0, 0);
  QCOMPARE(item.data().toString(), name);
  QVERIFY2(ShownTip(item.data(Qt::ToolTipRole)).contains(name),
           qPrintable(item.data(Qt::ToolTipRole).toString()));

  // The Changes view's tool tip on the entry.
  STEP(ChooseFromMenuBar(*frame_, frame_->action(kCmdChangesView)));
  CChangesModel& changes = *frame_->changesView().changesModel();
  QTRY_VERIFY_WITH_TIMEOUT(changes.rowCount() == 1 && changes.rowCount(changes.index(0, 0)) == 1,
                           kWaitMs);
  QCOMPARE(ShownTip(changes.index(0, 0, changes.index(0, 0)).data(Qt::ToolTipRole)),
           QLatin1Char('/') + name);
  QVERIFY(ShownTip(changes.index(0, CChangesModel::kOutcomeColumn).data(Qt::ToolTipRole))
              .endsWith(name));

  // The Sites overview's tool tip on the error.
  frame_->activateWindow();
  QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget*>(frame_.get()));
  STEP(ChooseFromMenuBar(*frame_, frame_->action(kCmdSitesOverview)));
  QTableView* table = nullptr;
  QTRY_VERIFY((table = frame_->findChild<QTableView*>(QStringLiteral("sitesOverviewTable"))));
  const QModelIndex error = table->model()->index(0, CSitesOverviewModel::kLastError);
  QVERIFY2(ShownTip(error.data(Qt::ToolTipRole)).endsWith(name),
           qPrintable(error.data(Qt::ToolTipRole).toString()));
  table->window()->close();

  // The real box that asks before the site is deleted, answered No.
  frame_->activateWindow();
  QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget*>(frame_.get()));
  frame_->dirView().setCurrentIndex(item);
  QString boxText;
  Qt::TextFormat boxFormat = Qt::AutoText;
  QTimer answer;
  connect(&answer, &QTimer::timeout, this, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    boxText = box->text();
    boxFormat = box->textFormat();
    QTest::keyClick(box, Qt::Key_Escape);
  });
  answer.start(10);
  STEP(ChooseFromMenuBar(*frame_, frame_->action(kCmdDeleteSite)));
  QTRY_VERIFY(!boxText.isEmpty());
  QCOMPARE(boxFormat, Qt::PlainText);
  QVERIFY(boxText.contains(name));
  QCOMPARE(frame_->doc().sites().size(), std::size_t{1});
}

QTEST_MAIN(WindowTextsTest)
#include "window_texts_test.moc"
