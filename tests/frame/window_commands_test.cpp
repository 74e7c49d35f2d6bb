// Every command of the window used as a person uses it: menus opened with
// Alt and their letter and walked with the arrow keys, toolbar buttons
// clicked, context menus opened with the Menu key or Shift+F10, keys pressed
// in the panes. Each case checks what the person gets (rows, texts, the
// clipboard, files on disk, a server contacted), so a handler that does
// nothing fails its cases. Two real FTP servers on loopback: "alpha" serves
// pub/readme.txt, "hang" never answers a listing of its root.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <functional>

#include "catalog/ftp_file.h"
#include "tests/frame/frame_fixture.h"
#include "tests/support/ftp_server.h"
#include "update/update_engine.h"
#include "views/dir_tree_model.h"
#include "views/file_list_model.h"

using namespace orvane;
using namespace orvane::test;
namespace fs = std::filesystem;

namespace {

// How a case reaches its command.
enum class Via { kMenu, kToolBar, kKey, kTreeMenu, kListMenu };

// "Show in folder" of the list's menu has no command number of the frame.
constexpr int kShowInFolder = -1;

CFTPDir* Subdir(CFTPDir& dir, std::string_view name) {
  for (const auto& sub : dir.subdirs) {
    if (sub->name() == name) return sub.get();
  }
  return nullptr;
}

QStringList Rows(const COrvaneView& view) {
  QStringList names;
  const CFileListModel& model = *view.listModel();
  for (int row = 0; row < model.rowCount(); ++row) names << model.index(row, 0).data().toString();
  return names;
}

QStringList Names(std::initializer_list<const char*> names) {
  QStringList list;
  for (const char* name : names) list << QString::fromUtf8(name);
  return list;
}

QStringList TreeLabels(CDirView& tree) {
  QStringList labels;
  const QAbstractItemModel& model = *tree.model();
  for (int row = 0; row < model.rowCount(); ++row) labels << model.index(row, 0).data().toString();
  return labels;
}

}  // namespace

class WindowCommandsTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void init();
  void cleanup();

  void command_data();
  void command();
  void statusBarPromptFollowsMenuItem();
  void closeWaitsInItsBox();
  void keyboardAloneSelectsFirstSite();
  void listKeysAndMouseButtonsNavigate();
  void copyKeyCopiesEverySelectedAddress();
  void headerSortsDirectoriesFirstAcrossNavigation();
  void columnWidthsAreRemembered();
  void summaryAndTitleFollowList();
  void setReadInResultsClearsListedDirectories();
  void copyPathCopiesEverySelectedRow();
  void listingEndShowsItsSummary();

 private:
  // alpha's catalog on disk: pub/{old.txt (2 bytes), new.txt (3, new)},
  // fresh (new)/inner.txt (4, new), a-root-new.txt (1, new).
  void WriteData();
  void Start();
  CFTPSite& Alpha() const { return *frame_->doc().FindSite(alphaKey_); }
  CFTPSite& Hang() const { return *frame_->doc().FindSite(hangKey_); }
  // A left click on the tree item of `dir`, which selects it.
  void ClickTree(CFTPDir* dir);
  // The row's name clicked in the list (selects it, as the current row).
  void ClickRow(const QString& name, Qt::KeyboardModifiers modifiers = {});
  void DoubleClickRow(const QString& name);
  // Browses alpha's root, then pub through a double-click.
  void BrowsePub();
  // Opens the menu bar's menu holding `action` with Alt and its letter,
  // walks down to the item with the arrow keys and presses Enter.
  void ChooseFromMenuBar(QAction* action);
  // Presses the key that opens the focused pane's menu, walks to the item
  // named `text` and presses Enter.
  void ChooseFromContextMenu(QWidget* pane, int key, Qt::KeyboardModifiers modifiers,
                             const QString& text);
  void Trigger(Via via, int command, const QString& text);
  // Answers the next dialog after `fill`, with OK.
  static void AnswerDialog(std::function<void(QDialog&)> fill);

  std::unique_ptr<CTempTree> served_;
  std::unique_ptr<CFtpServer> alphaServer_;
  std::unique_ptr<CFtpServer> hangServer_;
  std::string alphaKey_;
  std::string hangKey_;
  std::unique_ptr<CTempTree> dir_;
  std::unique_ptr<MessageRecorder> recorder_;
  std::unique_ptr<CMainFrame> frame_;
};

void WindowCommandsTest::initTestCase() {
  served_ = std::make_unique<CTempTree>();
  served_->AddFile("pub/readme.txt", "hello");
  auto alpha = CFtpServer::StartPyftpdlib(served_->path());
  QVERIFY2(alpha.server, alpha.error.c_str());
  alphaServer_ = std::move(alpha.server);
  PyFtpOptions hang;
  hang.user = "hang";
  hang.password = "pw";
  hang.faults.push_back(
      {FtpFault::Command::kList, "/", FtpFault::Action::kSilence, {}, FtpFault::kUntilReleased});
  auto started = CFtpServer::StartPyftpdlib(served_->path(), hang);
  QVERIFY2(started.server, started.error.c_str());
  hangServer_ = std::move(started.server);
}

void WindowCommandsTest::WriteData() {
  IDocumentHost quiet;
  COrvaneDoc doc(dir_->path(), quiet);
  auto alpha = std::make_shared<CFTPSite>();
  alpha->host = alphaServer_->host();
  alpha->port = alphaServer_->port();
  alpha->userName = "anonymous";
  alpha->password = std::string(kAnonymousPassword);
  alpha->nickname = "alpha";
  alpha->hasNewEntries = true;
  CFTPDir* pub = alpha->rootDir->AddSubdir(std::make_unique<CFTPDir>("pub"));
  pub->AddFile(CFTPFile::Make("old.txt", 2));
  pub->AddFile(CFTPFile::Make("new.txt", 3, 1));
  CFTPDir* fresh = alpha->rootDir->AddSubdir(std::make_unique<CFTPDir>("fresh", 1));
  fresh->AddFile(CFTPFile::Make("inner.txt", 4, 1));
  alpha->rootDir->AddFile(CFTPFile::Make("a-root-new.txt", 1, 1));
  if (!alpha->SaveCatalogAndState(dir_->path())) qFatal("cannot write a catalog");
  alphaKey_ = alpha->siteKey();
  doc.AppendSite(alpha);
  auto hang = std::make_shared<CFTPSite>();
  hang->host = hangServer_->host();
  hang->port = hangServer_->port();
  hang->userName = hangServer_->user();
  hang->password = hangServer_->password();
  hang->nickname = "hang";
  hangKey_ = hang->siteKey();
  doc.AppendSite(hang);
  if (!doc.SaveSiteList()) qFatal("cannot write site.ds");
}

void WindowCommandsTest::Start() {
  frame_ = StartFrame(dir_->path());
  QVERIFY(QTest::qWaitForWindowActive(frame_.get()));
}

void WindowCommandsTest::init() {
  QSettings().clear();
  dir_ = std::make_unique<CTempTree>();
  WriteData();
  recorder_ = std::make_unique<MessageRecorder>();
  Start();
}

void WindowCommandsTest::cleanup() {
  if (QWidget* popup = QApplication::activePopupWidget()) popup->close();
  frame_.reset();
  recorder_.reset();
  CDialogSeam::ClearHooks();
  dir_.reset();
}

void WindowCommandsTest::AnswerDialog(std::function<void(QDialog&)> fill) {
  CDialogSeam::SetDialogHook([fill](QDialog& dialog) {
    fill(dialog);
    if (auto* ok = dialog.findChild<QPushButton*>(QStringLiteral("okButton"))) ok->click();
    return dialog.result();
  });
}

void WindowCommandsTest::ClickTree(CFTPDir* dir) {
  CDirView& tree = frame_->dirView();
  // Opened the way a person opens the branches: nothing selected on the way.
  std::vector<CFTPDir*> above;
  for (CFTPDir* up = dir->parent; up; up = up->parent) above.push_back(up);
  for (auto it = above.rbegin(); it != above.rend(); ++it) {
    tree.expand(tree.treeModel()->FindItem(*it));
  }
  const QModelIndex index = tree.treeModel()->FindItem(dir);
  QVERIFY(index.isValid());
  tree.scrollTo(index);
  QTest::mouseClick(tree.viewport(), Qt::LeftButton, {}, tree.visualRect(index).center());
  QVERIFY(tree.selectionModel()->isSelected(index));
  // Shown once the site store has read the catalog.
  QTRY_VERIFY(frame_->doc().currentNode && frame_->doc().currentNode->directory == dir);
}

void WindowCommandsTest::ClickRow(const QString& name, Qt::KeyboardModifiers modifiers) {
  COrvaneView& list = frame_->fileView();
  const int row = Rows(list).indexOf(name);
  QVERIFY2(row >= 0, qPrintable(name));
  const QModelIndex index = list.model()->index(row, 0);
  list.scrollTo(index);
  QTest::mouseClick(list.viewport(), Qt::LeftButton, modifiers, list.visualRect(index).center());
}

void WindowCommandsTest::DoubleClickRow(const QString& name) {
  COrvaneView& list = frame_->fileView();
  const int row = Rows(list).indexOf(name);
  QVERIFY2(row >= 0, qPrintable(name));
  const QPoint at = list.visualRect(list.model()->index(row, 0)).center();
  QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, at);
  QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, at);
}

void WindowCommandsTest::BrowsePub() {
  STEP(ClickTree(Alpha().rootDir.get()));
  QTRY_VERIFY(Rows(frame_->fileView()).contains(QStringLiteral("pub")));
  STEP(DoubleClickRow(QStringLiteral("pub")));
  QTRY_COMPARE(Rows(frame_->fileView()), Names({"old.txt", "new.txt"}));
}

void WindowCommandsTest::ChooseFromMenuBar(QAction* action) {
  QMenu* menu = nullptr;
  for (QAction* top : frame_->menuBar()->actions()) {
    if (top->menu() && top->menu()->actions().contains(action)) menu = top->menu();
  }
  QVERIFY2(menu, qPrintable(action->text()));
  const QString title = menu->title();
  const int amp = title.indexOf(QLatin1Char('&'));
  QVERIFY(amp >= 0);
  QTest::keyClick(frame_.get(), title.at(amp + 1).toLatin1(), Qt::AltModifier);
  QTRY_VERIFY(menu->isVisible());
  for (int step = 0; menu->activeAction() != action && step < menu->actions().size(); ++step) {
    QTest::keyClick(menu, Qt::Key_Down);
  }
  QCOMPARE(menu->activeAction(), action);
  QTest::keyClick(menu, Qt::Key_Return);
  QTRY_VERIFY(!menu->isVisible());
}

void WindowCommandsTest::ChooseFromContextMenu(QWidget* pane, int key,
                                               Qt::KeyboardModifiers modifiers,
                                               const QString& text) {
  pane->setFocus(Qt::OtherFocusReason);
  QTest::keyClick(pane, static_cast<Qt::Key>(key), modifiers);
  QTRY_VERIFY(qobject_cast<QMenu*>(QApplication::activePopupWidget()));
  auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
  QAction* wanted = nullptr;
  for (QAction* action : menu->actions()) {
    if (action->text() == text) wanted = action;
  }
  QVERIFY2(wanted, qPrintable(text));
  for (int step = 0; menu->activeAction() != wanted && step <= menu->actions().size(); ++step) {
    QTest::keyClick(menu, Qt::Key_Down);
  }
  QCOMPARE(menu->activeAction(), wanted);
  QTest::keyClick(menu, Qt::Key_Return);
  QTRY_VERIFY(!QApplication::activePopupWidget());
}

void WindowCommandsTest::Trigger(Via via, int command, const QString& text) {
  switch (via) {
    case Via::kMenu:
      STEP(ChooseFromMenuBar(frame_->action(command)));
      break;
    case Via::kToolBar: {
      auto* bar = frame_->findChild<QToolBar*>(QStringLiteral("mainToolBar"));
      QWidget* button = bar->widgetForAction(frame_->action(command));
      QVERIFY(button && button->isVisible() && button->isEnabled());
      QTest::mouseClick(button, Qt::LeftButton);
      break;
    }
    case Via::kKey: {
      // The key of the action, or the pane's own key for the command.
      QKeySequence keys =
          frame_->action(command) ? frame_->action(command)->shortcut() : QKeySequence();
      if (command == kCmdSetRead) keys = QKeySequence(Qt::ALT | Qt::Key_D);
      if (command == kCmdDeleteSite) keys = QKeySequence(Qt::Key_Delete);
      if (command == kCmdEditSite) keys = QKeySequence(Qt::Key_F2);
      QVERIFY(!keys.isEmpty());
      QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : frame_.get();
      QTest::keySequence(target, keys);
      break;
    }
    case Via::kTreeMenu:
      STEP(ChooseFromContextMenu(&frame_->dirView(), Qt::Key_Menu, {}, text));
      break;
    case Via::kListMenu:
      STEP(ChooseFromContextMenu(&frame_->fileView(), Qt::Key_F10, Qt::ShiftModifier, text));
      break;
  }
}

void WindowCommandsTest::command_data() {
  QTest::addColumn<int>("via");
  QTest::addColumn<int>("command");
  QTest::addColumn<QString>("text");  // a context menu's item
  const auto row = [](const char* name, Via via, int command, const char* text = "") {
    QTest::newRow(name) << static_cast<int>(via) << command << QString::fromUtf8(text);
  };
  row("menu import", Via::kMenu, kCmdImport);
  row("menu exit", Via::kMenu, kCmdExit);
  row("key exit", Via::kKey, kCmdExit);
  row("menu add site", Via::kMenu, kCmdAddSite);
  row("toolbar add site", Via::kToolBar, kCmdAddSite);
  row("menu edit site", Via::kMenu, kCmdEditSite);
  row("toolbar edit site", Via::kToolBar, kCmdEditSite);
  row("key edit site", Via::kKey, kCmdEditSite);
  row("tree edit site", Via::kTreeMenu, kCmdEditSite, "编辑站点");
  row("menu delete site", Via::kMenu, kCmdDeleteSite);
  row("key delete site", Via::kKey, kCmdDeleteSite);
  row("tree delete site", Via::kTreeMenu, kCmdDeleteSite, "删除站点");
  row("menu toolbar", Via::kMenu, kCmdToolBar);
  row("menu status bar", Via::kMenu, kCmdStatusBar);
  row("menu back", Via::kMenu, kCmdBack);
  row("toolbar back", Via::kToolBar, kCmdBack);
  row("key back", Via::kKey, kCmdBack);
  row("menu forward", Via::kMenu, kCmdForward);
  row("toolbar forward", Via::kToolBar, kCmdForward);
  row("key forward", Via::kKey, kCmdForward);
  row("menu up", Via::kMenu, kCmdUp);
  row("toolbar up", Via::kToolBar, kCmdUp);
  row("key up", Via::kKey, kCmdUp);
  row("menu switch", Via::kMenu, kCmdSwitch);
  row("toolbar switch", Via::kToolBar, kCmdSwitch);
  row("menu update", Via::kMenu, kCmdUpdate);
  row("toolbar update", Via::kToolBar, kCmdUpdate);
  row("key update", Via::kKey, kCmdUpdate);
  row("tree update", Via::kTreeMenu, kCmdUpdate, "更新");
  row("menu update all", Via::kMenu, kCmdUpdateAll);
  row("menu stop update", Via::kMenu, kCmdStopUpdate);
  row("menu search", Via::kMenu, kCmdSearch);
  row("toolbar search", Via::kToolBar, kCmdSearch);
  row("key search", Via::kKey, kCmdSearch);
  row("menu show new", Via::kMenu, kCmdShowNew);
  row("menu show all new", Via::kMenu, kCmdShowAllNew);
  row("menu set read", Via::kMenu, kCmdSetRead);
  row("toolbar set read", Via::kToolBar, kCmdSetRead);
  row("key set read", Via::kKey, kCmdSetRead);
  row("menu set update read", Via::kMenu, kCmdSetUpdateRead);
  row("menu set all read", Via::kMenu, kCmdSetAllRead);
  row("menu settings", Via::kMenu, kCmdSettings);
  row("menu help", Via::kMenu, kCmdHelp);
  row("key help", Via::kKey, kCmdHelp);
  row("menu about", Via::kMenu, kCmdAbout);
  row("tree show updates", Via::kTreeMenu, kCmdShowUpdates, "显示更新");
  row("tree set read", Via::kTreeMenu, kCmdTreeSetRead, "设置已读");
  row("tree copy path", Via::kTreeMenu, kCmdTreeCopyPath, "复制路径");
  row("list copy path", Via::kListMenu, kCmdCopyPath, "复制路径");
  row("list show in folder", Via::kListMenu, kShowInFolder, "在文件夹中显示");
}

void WindowCommandsTest::command() {
  QFETCH(int, via);
  QFETCH(int, command);
  QFETCH(QString, text);
  const auto trigger = [&] { Trigger(static_cast<Via>(via), command, text); };
  COrvaneView& list = frame_->fileView();
  CDirView& tree = frame_->dirView();
  CFTPSite& alpha = Alpha();
  QClipboard* clipboard = QGuiApplication::clipboard();
  clipboard->setText(QStringLiteral("before"));

  switch (command) {
    case kCmdImport: {
      dir_->AddFile("list.txt", "ftp://import.example/\n");
      CDialogSeam::SetFileHook([this](QFileDialog&) {
        return QString::fromStdString((dir_->path() / "list.txt").string());
      });
      STEP(trigger());
      QTRY_VERIFY(TreeLabels(tree).contains(QStringLiteral("import.example")));
      QVERIFY(ReadBytes(dir_->path() / "site.ds").find("import.example") != std::string::npos);
      break;
    }
    case kCmdExit:
      STEP(trigger());
      QTRY_VERIFY(!frame_->isVisible());
      break;
    case kCmdAddSite:
      AnswerDialog([](QDialog& dialog) {
        dialog.findChild<QLineEdit*>(QStringLiteral("hostEdit"))
            ->setText(QStringLiteral("added.example"));
        dialog.findChild<QLineEdit*>(QStringLiteral("portEdit"))->setText(QStringLiteral("21"));
        dialog.findChild<QCheckBox*>(QStringLiteral("anonymousCheck"))->setChecked(true);
      });
      STEP(trigger());
      QTRY_VERIFY(TreeLabels(tree).contains(QStringLiteral("added.example")));
      QVERIFY(ReadBytes(dir_->path() / "site.ds").find("added.example") != std::string::npos);
      break;
    case kCmdEditSite:
      STEP(ClickTree(alpha.rootDir.get()));
      AnswerDialog([](QDialog& dialog) {
        dialog.findChild<QLineEdit*>(QStringLiteral("nicknameEdit"))
            ->setText(QStringLiteral("renamed"));
      });
      STEP(trigger());
      QTRY_VERIFY(TreeLabels(tree).contains(QStringLiteral("renamed")));
      QVERIFY(!TreeLabels(tree).contains(QStringLiteral("alpha")));
      break;
    case kCmdDeleteSite:
      STEP(ClickTree(alpha.rootDir.get()));
      recorder_->answers = {QMessageBox::Yes};
      STEP(trigger());
      QTRY_COMPARE(TreeLabels(tree), QStringList{QStringLiteral("hang")});
      QCOMPARE(recorder_->messages.size(), std::size_t{1});
      QVERIFY(recorder_->messages.front().text.contains(QStringLiteral("alpha")));
      QCOMPARE(recorder_->messages.front().defaultButton, QMessageBox::No);
      QVERIFY(!fs::exists(dir_->path() / "Data" / alphaKey_));
      break;
    case kCmdToolBar:
      STEP(trigger());
      QTRY_VERIFY(!frame_->findChild<QToolBar*>(QStringLiteral("mainToolBar"))->isVisible());
      break;
    case kCmdStatusBar:
      STEP(trigger());
      QTRY_VERIFY(!frame_->statusBar()->isVisible());
      break;
    case kCmdBack:
    case kCmdForward:
      STEP(BrowsePub());
      if (command == kCmdForward) {
        frame_->action(kCmdBack)->trigger();
        QTRY_VERIFY(Rows(list).contains(QStringLiteral("pub")));
      }
      STEP(trigger());
      if (command == kCmdBack) {
        QTRY_COMPARE(Rows(list), Names({"pub", "fresh", "a-root-new.txt"}));
        QVERIFY(frame_->action(kCmdForward)->isEnabled());
      } else {
        QTRY_COMPARE(Rows(list), Names({"old.txt", "new.txt"}));
      }
      break;
    case kCmdUp:
      STEP(BrowsePub());
      STEP(trigger());
      QTRY_VERIFY(Rows(list).contains(QStringLiteral("fresh")));
      break;
    case kCmdSwitch:
      STEP(BrowsePub());
      STEP(trigger());
      QTRY_VERIFY(frame_->resultMode());
      QCOMPARE(Rows(list), QStringList());
      break;
    case kCmdUpdate:
    case kCmdUpdateAll: {
      STEP(ClickTree(alpha.rootDir.get()));
      STEP(trigger());
      // The server was asked: its file is in the catalog.
      QTRY_COMPARE_WITH_TIMEOUT(alpha.updateState.load(), static_cast<int>(kUpdateSucceeded),
                                kWaitMs);
      {
        std::lock_guard lock(alpha.lock);
        CFTPDir* pub = Subdir(*alpha.rootDir, "pub");
        QVERIFY(pub && !pub->files.empty());
        QCOMPARE(pub->files.front()->name(), std::string_view("readme.txt"));
      }
      // Update takes the selected site only; Update All takes hang too.
      QCOMPARE(Hang().updateState.load() == kUpdateRunning, command == kCmdUpdateAll);
      break;
    }
    case kCmdStopUpdate:
      STEP(ClickTree(Hang().rootDir.get()));
      frame_->action(kCmdUpdate)->trigger();
      QTRY_COMPARE_WITH_TIMEOUT(frame_->statusBar()->currentMessage(), QStringLiteral("更新0/1"),
                                kWaitMs);
      STEP(trigger());
      QTRY_COMPARE_WITH_TIMEOUT(Hang().updateState.load(), static_cast<int>(kUpdateStopped),
                                kWaitMs);
      QVERIFY(!frame_->engine().HasWork());
      break;
    case kCmdSearch:
      AnswerDialog([](QDialog& dialog) {
        dialog.findChild<QLineEdit*>(QStringLiteral("keywordEdit"))
            ->setText(QStringLiteral("INNER"));
      });
      STEP(trigger());
      QTRY_COMPARE(Rows(list), QStringList{QStringLiteral("inner.txt")});
      break;
    case kCmdShowNew:
      // This run's updates: alpha's, which found readme.txt.
      STEP(ClickTree(alpha.rootDir.get()));
      frame_->action(kCmdUpdate)->trigger();
      QTRY_COMPARE_WITH_TIMEOUT(alpha.updateState.load(), static_cast<int>(kUpdateSucceeded),
                                kWaitMs);
      STEP(trigger());
      QTRY_VERIFY(Rows(list).contains(QStringLiteral("readme.txt")));
      QVERIFY(frame_->resultMode());
      break;
    case kCmdShowAllNew:
      STEP(trigger());
      // A new directory is listed once, without its contents.
      QTRY_COMPARE(Rows(list), Names({"fresh", "new.txt", "a-root-new.txt"}));
      break;
    case kCmdSetRead: {
      STEP(BrowsePub());
      const QModelIndex newRow =
          list.model()->index(Rows(list).indexOf(QStringLiteral("new.txt")), 0);
      QVERIFY(newRow.data(Qt::BackgroundRole).isValid());
      STEP(trigger());
      QTRY_VERIFY(!newRow.data(Qt::BackgroundRole).isValid());
      // The browsed files only.
      QCOMPARE(CountMarks(*alpha.rootDir), 3);
      break;
    }
    case kCmdSetUpdateRead:
      // This run's updates: alpha's, whose readme.txt is new.
      STEP(ClickTree(alpha.rootDir.get()));
      frame_->action(kCmdUpdate)->trigger();
      QTRY_COMPARE_WITH_TIMEOUT(alpha.updateState.load(), static_cast<int>(kUpdateSucceeded),
                                kWaitMs);
      QTRY_COMPARE(CountMarks(*alpha.rootDir), 1);
      STEP(trigger());
      QTRY_COMPARE(CountMarks(*alpha.rootDir), 0);
      break;
    case kCmdSetAllRead: {
      STEP(ClickTree(alpha.rootDir.get()));
      tree.expand(tree.treeModel()->FindItem(alpha.rootDir.get()));
      const QPersistentModelIndex fresh =
          tree.treeModel()->FindItem(Subdir(*alpha.rootDir, "fresh"));
      QCOMPARE(fresh.data().toString(), QStringLiteral("fresh"));
      QVERIFY(fresh.data(Qt::FontRole).value<QFont>().bold());
      STEP(trigger());
      QTRY_COMPARE(CountMarks(*alpha.rootDir), 0);
      QTRY_VERIFY(!fresh.data(Qt::FontRole).value<QFont>().bold());
      break;
    }
    case kCmdSettings:
      AnswerDialog([](QDialog& dialog) {
        dialog.findChild<QLineEdit*>(QStringLiteral("threadsEdit"))->setText(QStringLiteral("7"));
      });
      STEP(trigger());
      QTRY_COMPARE(frame_->engine().MaxWorkers(), 7);
      QCOMPARE(QSettings().value(QStringLiteral("update/threads")).toInt(), 7);
      break;
    case kCmdHelp: {
      // A box, the guide in a window or a viewer handed the file: the
      // person gets something either way.
      int opened = 0;
      CDialogSeam::SetUrlHook([&opened](const QUrl&) { return ++opened, true; });
      CDialogSeam::SetDialogHook([&opened](QDialog&) { return ++opened, int{QDialog::Accepted}; });
      const int windowsBefore = static_cast<int>(QApplication::topLevelWidgets().size());
      STEP(trigger());
      QTRY_VERIFY(opened > 0 || !recorder_->messages.empty() ||
                  QApplication::topLevelWidgets().size() > windowsBefore);
      break;
    }
    case kCmdAbout: {
      QString shown;
      CDialogSeam::SetDialogHook([&shown](QDialog& dialog) {
        shown = dialog.objectName();
        return int{QDialog::Accepted};
      });
      STEP(trigger());
      QTRY_COMPARE(shown, QStringLiteral("aboutDlg"));
      break;
    }
    case kCmdShowUpdates:
      STEP(ClickTree(alpha.rootDir.get()));
      STEP(trigger());
      QTRY_COMPARE(Rows(list), Names({"fresh", "new.txt", "a-root-new.txt"}));
      QVERIFY(frame_->resultMode());
      break;
    case kCmdTreeSetRead:
      STEP(ClickTree(alpha.rootDir.get()));
      STEP(ClickTree(Subdir(*alpha.rootDir, "fresh")));
      STEP(trigger());
      // fresh's own mark went with the selection; its file's goes now.
      QTRY_COMPARE(CountMarks(*alpha.rootDir), 2);
      break;
    case kCmdTreeCopyPath:
      STEP(ClickTree(alpha.rootDir.get()));
      STEP(ClickTree(Subdir(*alpha.rootDir, "pub")));
      STEP(trigger());
      QTRY_VERIFY(clipboard->text().endsWith(QStringLiteral("/pub")));
      QVERIFY(clipboard->text().startsWith(QStringLiteral("ftp://127.0.0.1")));
      break;
    case kCmdCopyPath:
      STEP(BrowsePub());
      STEP(ClickRow(QStringLiteral("new.txt")));
      STEP(trigger());
      QTRY_VERIFY(clipboard->text().endsWith(QStringLiteral("/pub/new.txt")));
      break;
    case kShowInFolder:
      AnswerDialog([](QDialog& dialog) {
        dialog.findChild<QLineEdit*>(QStringLiteral("keywordEdit"))
            ->setText(QStringLiteral("inner"));
      });
      frame_->action(kCmdSearch)->trigger();
      QTRY_COMPARE(Rows(list), QStringList{QStringLiteral("inner.txt")});
      STEP(ClickRow(QStringLiteral("inner.txt")));
      STEP(trigger());
      QTRY_VERIFY(!frame_->resultMode());
      QCOMPARE(frame_->doc().currentNode->directory, Subdir(*alpha.rootDir, "fresh"));
      QCOMPARE(list.currentIndex().data().toString(), QStringLiteral("inner.txt"));
      // The tree shows where the file is.
      QTRY_COMPARE(tree.CurrentDirectory(), Subdir(*alpha.rootDir, "fresh"));
      break;
    default:
      QFAIL("no case for the command");
  }
}

void WindowCommandsTest::statusBarPromptFollowsMenuItem() {
  QAction* update = frame_->action(kCmdUpdate);
  QMenu* actions = frame_->findChild<QMenu*>(QStringLiteral("menuActions"));
  QTest::keyClick(frame_.get(), Qt::Key_O, Qt::AltModifier);
  QTRY_VERIFY(actions->isVisible());
  while (actions->activeAction() != update) QTest::keyClick(actions, Qt::Key_Down);
  QTRY_COMPARE(frame_->statusBar()->currentMessage(), QStringLiteral("更新所选站点"));
  QTest::keyClick(actions, Qt::Key_Escape);
  QTest::keyClick(frame_->menuBar(), Qt::Key_Escape);
  QTRY_VERIFY(!actions->isVisible());
  QTRY_COMPARE(frame_->statusBar()->currentMessage(), QStringLiteral("就绪"));
}

void WindowCommandsTest::closeWaitsInItsBox() {
  STEP(ClickTree(Hang().rootDir.get()));
  QTest::keyClick(&frame_->dirView(), Qt::Key_F5);
  QTRY_COMPARE_WITH_TIMEOUT(frame_->statusBar()->currentMessage(), QStringLiteral("更新0/1"),
                            kWaitMs);
  // Whatever runs first once the close has begun sees the box.
  bool boxShown = false;
  QTimer::singleShot(0, frame_.get(), [this, &boxShown] {
    auto* box = frame_->findChild<QDialog*>(QStringLiteral("closeDialog"));
    boxShown = box && box->isVisible();
  });
  QTest::keySequence(frame_.get(), QKeySequence(Qt::CTRL | Qt::Key_Q));
  QTRY_VERIFY(!frame_->isVisible());
  QVERIFY(boxShown);
  QVERIFY(!frame_->engine().HasWork());
  QCOMPARE(Hang().updateState.load(), static_cast<int>(kUpdateStopped));
}

void WindowCommandsTest::keyboardAloneSelectsFirstSite() {
  // F6 until the tree has the focus, Enter on the item the focus landed on.
  for (int step = 0; step < 2 && !frame_->dirView().hasFocus(); ++step) {
    QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : frame_.get(),
                    Qt::Key_F6);
  }
  QTRY_VERIFY(frame_->dirView().hasFocus());
  QTest::keyClick(&frame_->dirView(), Qt::Key_Return);
  QTRY_COMPARE(frame_->dirView().CurrentSite(), &Alpha());
  QTRY_VERIFY(Rows(frame_->fileView()).contains(QStringLiteral("pub")));
  // The Menu key opens the site's menu with its site commands.
  QTest::keyClick(&frame_->dirView(), Qt::Key_Menu);
  QTRY_VERIFY(qobject_cast<QMenu*>(QApplication::activePopupWidget()));
  QStringList items;
  for (QAction* action : QApplication::activePopupWidget()->actions()) items << action->text();
  QVERIFY2(items.contains(QStringLiteral("编辑站点")), qPrintable(items.join(QLatin1Char(','))));
  QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_Escape);
  QTRY_VERIFY(!QApplication::activePopupWidget());
}

void WindowCommandsTest::listKeysAndMouseButtonsNavigate() {
  COrvaneView& list = frame_->fileView();
  CDirView& tree = frame_->dirView();
  CFTPDir* root = Alpha().rootDir.get();
  STEP(ClickTree(root));
  QTRY_VERIFY(Rows(list).contains(QStringLiteral("fresh")));
  // Enter opens the current row's directory; the tree follows.
  STEP(ClickRow(QStringLiteral("fresh")));
  QTest::keyClick(&list, Qt::Key_Return);
  QTRY_COMPARE(Rows(list), QStringList{QStringLiteral("inner.txt")});
  QTRY_COMPARE(tree.CurrentDirectory(), Subdir(*root, "fresh"));
  // Backspace goes up.
  QTest::keyClick(&list, Qt::Key_Backspace);
  QTRY_VERIFY(Rows(list).contains(QStringLiteral("fresh")));
  QTRY_COMPARE(tree.CurrentDirectory(), root);
  // The refilled list has no current row; Shift+F10 still opens a menu.
  QTest::keyClick(&list, Qt::Key_F10, Qt::ShiftModifier);
  QTRY_VERIFY(qobject_cast<QMenu*>(QApplication::activePopupWidget()));
  QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_Escape);
  QTRY_VERIFY(!QApplication::activePopupWidget());
  // The mouse's back button returns to fresh, forward to the root again.
  QTest::mouseClick(list.viewport(), Qt::BackButton);
  QTRY_COMPARE(Rows(list), QStringList{QStringLiteral("inner.txt")});
  QTRY_COMPARE(tree.CurrentDirectory(), Subdir(*root, "fresh"));
  QTest::mouseClick(tree.viewport(), Qt::ForwardButton);
  QTRY_VERIFY(Rows(list).contains(QStringLiteral("fresh")));
  // Enter on a file hands its address to the system.
  QStringList opened;
  CDialogSeam::SetUrlHook([&opened](const QUrl& url) { return opened << url.toString(), true; });
  STEP(ClickRow(QStringLiteral("a-root-new.txt")));
  QTest::keyClick(&list, Qt::Key_Enter, Qt::KeypadModifier);
  QCOMPARE(opened.size(), 1);
  QVERIFY(opened.front().endsWith(QStringLiteral("/a-root-new.txt")));
}

void WindowCommandsTest::copyKeyCopiesEverySelectedAddress() {
  STEP(BrowsePub());
  STEP(ClickRow(QStringLiteral("old.txt")));
  STEP(ClickRow(QStringLiteral("new.txt"), Qt::ControlModifier));
  QTest::keySequence(&frame_->fileView(), QKeySequence::Copy);
  const QString base = QStringLiteral("ftp://127.0.0.1:%1/pub/").arg(alphaServer_->port());
  QCOMPARE(QGuiApplication::clipboard()->text(),
           base + QStringLiteral("old.txt\n") + base + QStringLiteral("new.txt"));
  QTRY_VERIFY(frame_->statusBar()->currentMessage().contains(QLatin1Char('2')));
  QVERIFY(recorder_->messages.empty());
}

void WindowCommandsTest::headerSortsDirectoriesFirstAcrossNavigation() {
  COrvaneView& list = frame_->fileView();
  QHeaderView* header = list.header();
  const auto clickHeader = [header](int column) {
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(column) + 10, header->height() / 2));
  };
  STEP(ClickTree(Alpha().rootDir.get()));
  QTRY_COMPARE(Rows(list), Names({"pub", "fresh", "a-root-new.txt"}));
  clickHeader(CFileListModel::kNameColumn);
  QTRY_COMPARE(Rows(list), Names({"fresh", "pub", "a-root-new.txt"}));
  clickHeader(CFileListModel::kNameColumn);
  QTRY_COMPARE(Rows(list), Names({"pub", "fresh", "a-root-new.txt"}));
  // By size, smallest first, in the next directory too.
  clickHeader(CFileListModel::kSizeColumn);
  STEP(DoubleClickRow(QStringLiteral("pub")));
  QTRY_COMPARE(Rows(list), Names({"old.txt", "new.txt"}));
  // The selection stays on its entry while the rows move.
  STEP(ClickRow(QStringLiteral("old.txt")));
  clickHeader(CFileListModel::kSizeColumn);
  QTRY_COMPARE(Rows(list), Names({"new.txt", "old.txt"}));
  QCOMPARE(list.currentIndex().data().toString(), QStringLiteral("old.txt"));
  QCOMPARE(list.SelectedDisplayPaths().size(), std::size_t{1});
  QVERIFY(list.SelectedDisplayPaths().front().ends_with("/pub/old.txt"));
  // A third click returns to the catalog's order.
  clickHeader(CFileListModel::kSizeColumn);
  QTRY_COMPARE(header->sortIndicatorSection(), -1);
  QTRY_COMPARE(Rows(list), Names({"old.txt", "new.txt"}));
  frame_->action(kCmdBack)->trigger();
  QTRY_COMPARE(Rows(list), Names({"pub", "fresh", "a-root-new.txt"}));
  // Results appended by a search take their places in the chosen order.
  clickHeader(CFileListModel::kNameColumn);
  AnswerDialog([](QDialog& dialog) {
    dialog.findChild<QLineEdit*>(QStringLiteral("keywordEdit"))->setText(QStringLiteral("e"));
  });
  frame_->action(kCmdSearch)->trigger();
  // In the catalog's order new.txt would come first.
  QTRY_COMPARE(Rows(list), Names({"fresh", "a-root-new.txt", "inner.txt", "new.txt"}));
}

void WindowCommandsTest::columnWidthsAreRemembered() {
  QHeaderView* header = frame_->fileView().header();
  header->resizeSection(CFileListModel::kNameColumn, 123);
  header->resizeSection(CFileListModel::kAddressColumn, 234);
  QVERIFY(frame_->close());
  frame_.reset();
  Start();
  header = frame_->fileView().header();
  QCOMPARE(header->sectionSize(CFileListModel::kNameColumn), 123);
  QCOMPARE(header->sectionSize(CFileListModel::kAddressColumn), 234);
}

void WindowCommandsTest::summaryAndTitleFollowList() {
  auto* summary = frame_->statusBar()->findChild<QLabel*>(QStringLiteral("listSummary"));
  QVERIFY(summary);
  STEP(BrowsePub());
  // old.txt and new.txt: 5 bytes.
  QTRY_COMPARE(summary->text(), QStringLiteral("2 项，共 5字节"));
  QTRY_COMPARE(frame_->windowTitle(), QStringLiteral("alpha - /pub - Orvane"));
  QTest::keyClick(&frame_->fileView(), Qt::Key_Backspace);
  QTRY_COMPARE(summary->text(), QStringLiteral("3 项，共 1字节"));
  QTRY_COMPARE(frame_->windowTitle(), QStringLiteral("alpha - / - Orvane"));
}

void WindowCommandsTest::setReadInResultsClearsListedDirectories() {
  COrvaneView& list = frame_->fileView();
  const fs::path stateFile = Alpha().DataDirectory(dir_->path()) / "state.st";
  const std::string before = ReadBytes(stateFile);
  // Browsing, the listed subdirectories keep their marks: opening one reads it.
  STEP(ClickTree(Alpha().rootDir.get()));
  QTRY_COMPARE(Rows(list), Names({"pub", "fresh", "a-root-new.txt"}));
  CFTPDir* fresh = Subdir(*Alpha().rootDir, "fresh");
  QVERIFY(fresh);
  QTest::keyClick(&list, Qt::Key_D, Qt::AltModifier);
  QTRY_COMPARE(CountMarks(*Alpha().rootDir), 3);
  QVERIFY(fresh->readState != 0);
  QTRY_VERIFY_WITH_TIMEOUT(ReadBytes(stateFile) != before, kWaitMs);
  const std::string browsed = ReadBytes(stateFile);
  // In results, a listed directory loses its own mark, not its contents'.
  AnswerDialog([](QDialog& dialog) {
    dialog.findChild<QLineEdit*>(QStringLiteral("keywordEdit"))->setText(QStringLiteral("fresh"));
  });
  frame_->action(kCmdSearch)->trigger();
  QTRY_COMPARE(Rows(list), QStringList{QStringLiteral("fresh")});
  QTRY_VERIFY(!frame_->doc().walking());
  const QModelIndex row = list.model()->index(0, 0);
  QVERIFY(row.data(Qt::BackgroundRole).isValid());
  QTest::keyClick(&list, Qt::Key_D, Qt::AltModifier);
  QTRY_VERIFY(!row.data(Qt::BackgroundRole).isValid());
  QCOMPARE(fresh->readState.load(), 0);
  QCOMPARE(CountMarks(*Alpha().rootDir), 2);
  QTRY_VERIFY_WITH_TIMEOUT(ReadBytes(stateFile) != browsed, kWaitMs);
}

void WindowCommandsTest::copyPathCopiesEverySelectedRow() {
  STEP(BrowsePub());
  STEP(ClickRow(QStringLiteral("old.txt")));
  STEP(ClickRow(QStringLiteral("new.txt"), Qt::ControlModifier));
  STEP(Trigger(Via::kListMenu, kCmdCopyPath, QStringLiteral("复制路径")));
  const QString base = QStringLiteral("ftp://127.0.0.1:%1/pub/").arg(alphaServer_->port());
  QTRY_COMPARE(QGuiApplication::clipboard()->text(),
               base + QStringLiteral("old.txt\n") + base + QStringLiteral("new.txt"));
  QTRY_COMPARE(recorder_->texts().size(), 1);
  QVERIFY2(recorder_->texts().front().startsWith(QStringLiteral("2 ")),
           qPrintable(recorder_->texts().front()));
}

void WindowCommandsTest::listingEndShowsItsSummary() {
  QStatusBar* bar = frame_->statusBar();
  STEP(ClickTree(Alpha().rootDir.get()));
  frame_->action(kCmdUpdate)->trigger();
  QTRY_COMPARE_WITH_TIMEOUT(bar->currentMessage(), QStringLiteral("更新完成"), kWaitMs);
  AnswerDialog([](QDialog& dialog) {
    dialog.findChild<QLineEdit*>(QStringLiteral("keywordEdit"))->setText(QStringLiteral("readme"));
  });
  frame_->action(kCmdSearch)->trigger();
  // The update fetched pub/readme.txt: "hello".
  QTRY_COMPARE(bar->currentMessage(), QStringLiteral("1 项，共 5字节"));
  QCOMPARE(Rows(frame_->fileView()), QStringList{QStringLiteral("readme.txt")});
}

QTEST_MAIN(WindowCommandsTest)
#include "window_commands_test.moc"
