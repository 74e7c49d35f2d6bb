// Commands the user gives while a search walks the catalogs: a second
// search, deleting the site being searched and importing sites each leave
// the walk sound and its results right.
#include <QAction>
#include <QFileDialog>
#include <QLineEdit>
#include <QTimer>
#include <chrono>
#include <functional>

#include "catalog/ftp_file.h"
#include "tests/frame/frame_fixture.h"
#include "views/dir_tree_model.h"

using namespace orvane;
using namespace orvane::test;

namespace {

constexpr int kDirs = 20;
constexpr int kMatchesPerDir = 3;

// Runs `action` at the first event-loop pass at which `ready` holds.
void When(QObject* context, std::function<bool()> ready, std::function<void()> action) {
  QTimer::singleShot(0, context, [context, ready = std::move(ready), action = std::move(action)] {
    if (ready()) {
      action();
    } else {
      When(context, ready, action);
    }
  });
}

}  // namespace

class WalkCommandsTest : public QObject {
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
        CFTPDir* sub = site->rootDir->AddSubdir(std::make_unique<CFTPDir>("d" + std::to_string(d)));
        for (int f = 0; f < kMatchesPerDir; ++f) {
          sub->AddFile(CFTPFile::Make("match" + std::to_string(f), 1));
          sub->AddFile(CFTPFile::Make("other" + std::to_string(f), 1));
        }
      }
    }
    // A pump after every entry, so the commands land inside the walk.
    frame_->doc().pumpSlice = std::chrono::nanoseconds(0);
    searches_ = 0;
    CDialogSeam::SetDialogHook([this](QDialog& dialog) {
      ++searches_;
      dialog.findChild<QLineEdit*>(QStringLiteral("keywordEdit"))->setText(QStringLiteral("match"));
      return int{QDialog::Accepted};
    });
  }
  void cleanup() {
    frame_.reset();
    dir_.reset();
    recorder_.messages.clear();
  }
  void secondListingDuringWalkIsRefused();
  void deletingSearchedSiteKeepsWalkSound();
  void importDuringWalkKeepsWalkSound();

 private:
  // Starts the search; `during` runs inside its walk once it has listed
  // its first results.
  void SearchWith(std::function<void()> during) {
    bool ran = false;
    When(
        frame_.get(), [this] { return !frame_->doc().resultFiles.empty(); },
        [&] {
          QVERIFY(frame_->doc().walking());
          during();
          ran = true;
        });
    frame_->action(kCmdSearch)->trigger();
    // The command returns at once; the walk goes on from the event loop.
    QTRY_VERIFY(ran);
    QTRY_VERIFY(!frame_->doc().walking());
  }
  // Every result's site key.
  QStringList ResultKeys() {
    QStringList keys;
    for (CFTPFile* file : frame_->doc().resultFiles) {
      keys << QString::fromStdString(file->parent->GetSite()->siteKey());
    }
    keys.removeDuplicates();
    return keys;
  }

  MessageRecorder recorder_;
  std::unique_ptr<CTempTree> dir_;
  std::unique_ptr<CMainFrame> frame_;
  int searches_ = 0;
};

void WalkCommandsTest::secondListingDuringWalkIsRefused() {
  SearchWith([&] {
    frame_->action(kCmdSearch)->trigger();
    frame_->action(kCmdShowAllNew)->trigger();
    frame_->dirView().SelectDirectory(frame_->doc().sites()[0]->rootDir.get());
    emit frame_->dirView().contextCommand(kCmdShowUpdates);
  });
  QCOMPARE(searches_, 1);
  QCOMPARE(frame_->fileView().ItemCount(), 2 * kDirs * kMatchesPerDir);
  QVERIFY(recorder_.messages.empty());
}

void WalkCommandsTest::deletingSearchedSiteKeepsWalkSound() {
  SearchWith([&] {
    CFTPSite* searched = frame_->doc().sites()[0].get();
    QCOMPARE(ResultKeys(), QStringList{QStringLiteral("a.example")});
    // A click on the site item browses it, then its menu deletes it.
    frame_->dirView().setCurrentIndex(
        frame_->dirView().treeModel()->FindItem(searched->rootDir.get()));
    recorder_.answers.push_back(QMessageBox::Yes);
    emit frame_->dirView().contextCommand(kCmdDeleteSite);
  });
  QCOMPARE(frame_->doc().sites().size(), std::size_t{1});
  QCOMPARE(ResultKeys(), QStringList{QStringLiteral("b.example")});
  QCOMPARE(frame_->doc().resultFiles.size(), std::size_t{kDirs * kMatchesPerDir});
  frame_->action(kCmdSwitch)->trigger();
  QVERIFY(frame_->resultMode());
  QCOMPARE(frame_->fileView().ItemCount(), kDirs * kMatchesPerDir);
}

void WalkCommandsTest::importDuringWalkKeepsWalkSound() {
  const auto list = dir_->path() / "sites.txt";
  WriteBytes(list, "ftp://c.example\nuser:pw@d.example:2121\n");
  CDialogSeam::SetFileHook([&](QFileDialog&) { return QString::fromStdString(list.string()); });
  SearchWith([&] { frame_->action(kCmdImport)->trigger(); });
  QCOMPARE(frame_->doc().sites().size(), std::size_t{4});
  QCOMPARE(frame_->dirView().treeModel()->rowCount(), 4);
  QCOMPARE(frame_->fileView().ItemCount(), 2 * kDirs * kMatchesPerDir);
  // The import's own report, nothing else.
  QCOMPARE(recorder_.texts(),
           QStringList{QStringLiteral("导入完成：添加了 2 个站点，0 个已有，跳过 0 行")});
}

QTEST_MAIN(WalkCommandsTest)
#include "walk_commands_test.moc"
