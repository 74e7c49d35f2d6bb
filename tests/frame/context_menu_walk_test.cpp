// The tree's context menu starting walks: the menu is opened by a real
// context-menu event and its item chosen by a click, as a person does it,
// then the person goes on clicking. The menu deletes itself once closed; a
// walk that ran the event loop inside the menu's own click would free the
// menu under its own stack.
#include <QAction>
#include <QContextMenuEvent>
#include <QEventLoop>
#include <QMenu>
#include <QPointer>
#include <QTimer>
#include <functional>

#include "catalog/ftp_file.h"
#include "tests/frame/frame_fixture.h"
#include "views/dir_tree_model.h"
#include "views/file_list_model.h"

using namespace orvane;
using namespace orvane::test;

namespace {

constexpr int kDirs = 30;

// Runs `action` from the event loop, where the window system's events
// arrive, rather than from the test function's own stack.
void InEventLoop(const std::function<void()>& action) {
  QEventLoop loop;
  QTimer::singleShot(0, &loop, [&] {
    action();
    loop.quit();
  });
  loop.exec();
}

// Opens the tree's context menu over `dir`'s item and clicks the item with
// this text. Returns false when the menu or the item is not there, or when
// the menu was destroyed before its own click had returned (whatever the
// click's handler touches next is freed memory).
bool ChooseFromTreeMenu(CMainFrame& frame, const CFTPDir* dir, const QString& text) {
  CDirView& tree = frame.dirView();
  const QModelIndex index = tree.treeModel()->FindItem(dir);
  if (!index.isValid()) return false;
  const QPoint pos = tree.visualRect(index).center();
  QContextMenuEvent event(QContextMenuEvent::Mouse, pos, tree.viewport()->mapToGlobal(pos));
  QApplication::sendEvent(tree.viewport(), &event);
  auto* menu = tree.findChild<QMenu*>(QStringLiteral("dirViewMenu"));
  if (!menu || !QTest::qWaitForWindowExposed(menu)) return false;
  for (QAction* action : menu->actions()) {
    if (action->text() != text) continue;
    // From inside the event loop, as the window system delivers it.
    QPointer<QMenu> alive(menu);
    bool wholeAfterClick = false;
    InEventLoop([&] {
      QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action).center());
      wholeAfterClick = !alive.isNull();
    });
    return wholeAfterClick;
  }
  return false;
}

}  // namespace

class ContextMenuWalkTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    dir_ = std::make_unique<CTempTree>();
    WriteSiteList(dir_->path(), {{"a.example"}, {"b.example"}});
    frame_ = StartFrame(dir_->path());
    QVERIFY(QTest::qWaitForWindowActive(frame_.get()));
    for (const auto& site : frame_->doc().sites()) {
      site->loadState.store(kLoaded);
      for (int d = 0; d < kDirs; ++d) {
        CFTPDir* sub =
            site->rootDir->AddSubdir(std::make_unique<CFTPDir>("d" + std::to_string(d), 1));
        sub->AddFile(CFTPFile::Make("f.txt", 1, 1));
      }
    }
  }
  void cleanup() {
    frame_.reset();
    dir_.reset();
  }
  void showUpdatesThenClickingOnLeavesTheWindowWhole();
  void setReadTwiceClearsTheMarks();

 private:
  CFTPDir* Root(int site) {
    return frame_->doc().sites()[static_cast<std::size_t>(site)]->rootDir.get();
  }
  // A click on another row of the tree, as the person goes on.
  void ClickSite(int site) {
    CDirView& tree = frame_->dirView();
    const QModelIndex index = tree.treeModel()->FindItem(Root(site));
    InEventLoop([&] {
      QTest::mouseClick(tree.viewport(), Qt::LeftButton, {}, tree.visualRect(index).center());
    });
  }

  MessageRecorder recorder_;
  std::unique_ptr<CTempTree> dir_;
  std::unique_ptr<CMainFrame> frame_;
};

void ContextMenuWalkTest::showUpdatesThenClickingOnLeavesTheWindowWhole() {
  for (int round = 0; round < 2; ++round) {
    QVERIFY(ChooseFromTreeMenu(*frame_, Root(round), QStringLiteral("显示更新")));
    // The new directories of the site, listed and not entered, once the
    // command has run after its menu closed.
    QTRY_VERIFY(frame_->resultMode());
    QTRY_COMPARE(frame_->fileView().ItemCount(), kDirs);
    QTRY_VERIFY(!frame_->doc().walking());
    ClickSite(1 - round);
    QTRY_COMPARE(frame_->dirView().CurrentSite(),
                 frame_->doc().sites()[static_cast<std::size_t>(1 - round)].get());
  }
}

void ContextMenuWalkTest::setReadTwiceClearsTheMarks() {
  for (int site = 0; site < 2; ++site) {
    QVERIFY(ChooseFromTreeMenu(*frame_, Root(site), QStringLiteral("设置已读")));
    const auto marked = [&] {
      int count = 0;
      for (const auto& sub : Root(site)->subdirs) {
        count += sub->readState.load() != 0;
        count += sub->files[0]->readState.load() != 0;
      }
      return count;
    };
    QTRY_COMPARE(marked(), 0);
    QTRY_VERIFY(!frame_->doc().walking());
    ClickSite(1 - site);
  }
}

QTEST_MAIN(ContextMenuWalkTest)
#include "context_menu_walk_test.moc"
