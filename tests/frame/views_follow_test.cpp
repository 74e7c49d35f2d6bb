// The tree and the list show what the catalogs hold now, without the user
// choosing anything again: after an update of this window against a real
// FTP server on loopback.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QAbstractItemModelTester>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>

#include <cerrno>
#include <cstdlib>
#include <functional>

#include "catalog/ftp_dir.h"
#include "catalog/ftp_file.h"
#include "tests/frame/frame_fixture.h"
#include "tests/support/ftp_server.h"
#include "views/dir_tree_model.h"
#include "views/file_list_model.h"

using namespace orvane;
using namespace orvane::test;
namespace fs = std::filesystem;

namespace {

// The list's rows as "name size", in row order.
QStringList ListRows(COrvaneView& list) {
  QStringList rows;
  const CFileListModel& model = *list.listModel();
  for (int row = 0; row < model.rowCount(); ++row) {
    rows << model.index(row, CFileListModel::kNameColumn).data().toString() + QLatin1Char(' ') +
                model.index(row, CFileListModel::kSizeColumn).data().toString();
  }
  return rows;
}

// What the list should show for `dir`: its subdirectories then its files,
// in catalog order.
QStringList CatalogRows(const CFTPDir& dir) {
  const DirChildren children = SnapshotChildren(dir, dir.GetSite());
  QStringList rows;
  for (const CFTPDir* sub : children.dirs) {
    rows << QString::fromStdString(std::string(sub->name())) + QStringLiteral(" 0");
  }
  for (const CFTPFile* file : children.files) {
    rows << QString::fromStdString(std::string(file->name())) + QLatin1Char(' ') +
                CFileListModel::FormatSize(file->size.load());
  }
  return rows;
}

// Runs orvane-cli on the window's data directory, as cron would, and waits
// for it to end. posix_spawn rather than QProcess: no code of this process
// runs in the child, which ThreadSanitizer cannot follow after a fork.
void RunCli(const fs::path& dataDir, const std::vector<std::string>& args) {
  const char* bin = std::getenv("ORVANE_TEST_BIN");
  const std::string program =
      (bin ? std::string(bin) : QCoreApplication::applicationDirPath().toStdString() + "/../..") +
      "/orvane-cli";
  std::vector<std::string> words{program, "--data-dir", dataDir.string()};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
    qFatal("cannot start %s", program.c_str());
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    qFatal("orvane-cli %s failed", args[0].c_str());
}

QStringList TreeChildren(CDirView& tree, const QModelIndex& parent) {
  QStringList names;
  for (int row = 0; row < tree.model()->rowCount(parent); ++row) {
    names << tree.model()->index(row, 0, parent).data().toString();
  }
  return names;
}

}  // namespace

class ViewsFollowTest : public QObject {
  Q_OBJECT

 private slots:
  void cleanup() { CDialogSeam::ClearHooks(); }
  void updatesOfThisWindowShowInPlace();
  void changesOfOtherProcessesShow();
  void siteCommandsChangeOnlyTheirItem();
};

// A site never updated is selected, so the list is empty and the item has
// no children; F5 must fill both. A second update adds, resizes and removes
// entries under a list with a selected row and an expanded tree.
void ViewsFollowTest::updatesOfThisWindowShowInPlace() {
  CTempTree served;
  served.AddFile("pub/readme.txt", "hello");
  served.AddDir("docs");
  served.AddFile("top.txt", "12345");
  auto server = StartServer(served);
  CTempTree data;
  WriteServerSite(data.path(), *server);
  MessageRecorder recorder;
  auto frame = StartFrame(data.path());
  QVERIFY(QTest::qWaitForWindowActive(frame.get()));
  CFTPSite& site = *frame->doc().sites().front();
  CDirView& tree = frame->dirView();
  COrvaneView& list = frame->fileView();
  // Every change notice of the in-place refreshes is checked as it comes.
  QAbstractItemModelTester treeTester(tree.model(),
                                      QAbstractItemModelTester::FailureReportingMode::QtTest);
  QAbstractItemModelTester listTester(list.model(),
                                      QAbstractItemModelTester::FailureReportingMode::QtTest);

  const QModelIndex siteItem = tree.model()->index(0, 0);
  QTest::mouseClick(tree.viewport(), Qt::LeftButton, {}, tree.visualRect(siteItem).center());
  QTRY_COMPARE(frame->doc().currentNode ? frame->doc().currentNode->directory : nullptr,
               site.rootDir.get());
  QCOMPARE(list.ItemCount(), 0);

  QTest::keyClick(frame.get(), Qt::Key_F5);
  QTRY_COMPARE_WITH_TIMEOUT(frame->statusBar()->currentMessage(), QStringLiteral("更新完成"),
                            kWaitMs);
  QTRY_COMPARE(list.ItemCount(), 3);
  QCOMPARE(ListRows(list), CatalogRows(*site.rootDir));
  QCOMPARE(tree.model()->rowCount(siteItem), 2);
  tree.expand(siteItem);
  QVERIFY(tree.isExpanded(siteItem));
  const QStringList firstTree = TreeChildren(tree, siteItem);

  // A row chosen and the list scrolled; the history as it stands.
  const int topRow = ListRows(list).indexOf(QStringLiteral("top.txt 5字节"));
  QVERIFY(topRow >= 0);
  QTest::mouseClick(list.viewport(), Qt::LeftButton, {},
                    list.visualRect(list.listModel()->index(topRow, 0)).center());
  QVERIFY(list.selectionModel()->isRowSelected(topRow, {}));
  const std::size_t backSteps = frame->doc().backList.size();

  served.AddDir("incoming");
  served.AddFile("top.txt", std::string(2048, 'x'));
  served.Remove("docs");
  QTest::keyClick(frame.get(), Qt::Key_F5);
  QTRY_VERIFY_WITH_TIMEOUT(ListRows(list).contains(QStringLiteral("incoming 0")), kWaitMs);
  QTRY_COMPARE_WITH_TIMEOUT(frame->statusBar()->currentMessage(), QStringLiteral("更新完成"),
                            kWaitMs);
  QCOMPARE(ListRows(list), CatalogRows(*site.rootDir));
  QVERIFY(ListRows(list).contains(QStringLiteral("top.txt 2.00K")));
  QVERIFY(!ListRows(list).contains(QStringLiteral("docs 0")));
  // The same file row is still the chosen one; nothing else moved.
  const int movedTop = ListRows(list).indexOf(QStringLiteral("top.txt 2.00K"));
  QCOMPARE(list.selectionModel()->selectedRows().size(), 1);
  QCOMPARE(list.selectionModel()->selectedRows().front().row(), movedTop);
  QVERIFY(tree.isExpanded(siteItem));
  QStringList expected = firstTree;
  expected.removeAll(QStringLiteral("docs"));
  expected << QStringLiteral("incoming");
  QCOMPARE(TreeChildren(tree, siteItem), expected);
  QCOMPARE(frame->doc().backList.size(), backSteps);
  QCOMPARE(frame->doc().currentNode->directory, site.rootDir.get());
  QVERIFY(recorder.messages.empty());
}

// orvane-cli updates the site the window shows, then adds a site: the
// window follows both without anything chosen again.
void ViewsFollowTest::changesOfOtherProcessesShow() {
  CTempTree served;
  served.AddFile("pub/readme.txt", "hello");
  served.AddFile("top.txt", "12345");
  auto server = StartServer(served);
  CTempTree data;
  WriteServerSite(data.path(), *server);
  MessageRecorder recorder;
  auto frame = StartFrame(data.path());
  CFTPSite& site = *frame->doc().sites().front();
  CDirView& tree = frame->dirView();
  COrvaneView& list = frame->fileView();
  const QModelIndex siteItem = tree.model()->index(0, 0);
  QTest::mouseClick(tree.viewport(), Qt::LeftButton, {}, tree.visualRect(siteItem).center());
  QTRY_COMPARE(frame->doc().currentNode ? frame->doc().currentNode->directory : nullptr,
               site.rootDir.get());
  QCOMPARE(list.ItemCount(), 0);

  RunCli(data.path(), {"update", site.siteKey()});
  QTRY_COMPARE_WITH_TIMEOUT(list.ItemCount(), 2, kWaitMs);
  QCOMPARE(ListRows(list), (QStringList{QStringLiteral("pub 0"), QStringLiteral("top.txt 5字节")}));
  QCOMPARE(TreeChildren(tree, siteItem), QStringList{QStringLiteral("pub")});
  // New entries of that update are new here too.
  QVERIFY(list.listModel()->index(1, 0).data(Qt::BackgroundRole).isValid());

  RunCli(data.path(), {"add", "other.example", "--anonymous"});
  QTRY_COMPARE_WITH_TIMEOUT(tree.model()->rowCount(), 2, kWaitMs);
  QCOMPARE(frame->doc().sites().size(), std::size_t{2});
  QVERIFY(recorder.messages.empty());
}

// Answers the next site dialog with this nickname (and host, when given).
void AnswerSiteDialog(const QString& host, const QString& nickname) {
  CDialogSeam::SetDialogHook([host, nickname](QDialog& dialog) {
    if (!host.isEmpty()) dialog.findChild<QLineEdit*>(QStringLiteral("hostEdit"))->setText(host);
    dialog.findChild<QLineEdit*>(QStringLiteral("nicknameEdit"))->setText(nickname);
    dialog.findChild<QPushButton*>(QStringLiteral("okButton"))->click();
    return dialog.result();
  });
}

// Another site is expanded throughout; the site added, then edited, is the
// one selected; deleting it leaves the rest as it was.
void ViewsFollowTest::siteCommandsChangeOnlyTheirItem() {
  CTempTree data;
  WriteSiteList(data.path(), {{"b.example", {}, "bravo"}, {"c.example", {}, "charlie"}});
  MessageRecorder recorder;
  auto frame = StartFrame(data.path());
  CDirView& tree = frame->dirView();
  CDirTreeModel& model = *tree.treeModel();
  CFTPSite& bravo = *frame->doc().sites().front();
  bravo.loadState.store(kLoaded);
  bravo.rootDir->AddSubdir(std::make_unique<CFTPDir>("pub"));
  tree.expand(model.SiteIndex(&bravo));
  QCOMPARE(model.rowCount(model.SiteIndex(&bravo)), 1);
  // Made after the catalog is there: the tester fetches what it can.
  QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
  const auto bravoOpen = [&] {
    const QModelIndex index = model.SiteIndex(&bravo);
    return tree.isExpanded(index) && model.rowCount(index) == 1;
  };
  const auto selectedLabel = [&] {
    const QModelIndexList selected = tree.selectionModel()->selectedIndexes();
    return selected.isEmpty() ? QString() : selected.first().data().toString();
  };

  AnswerSiteDialog(QStringLiteral("a.example"), QStringLiteral("alpha"));
  frame->action(kCmdAddSite)->trigger();
  QCOMPARE(TreeChildren(tree, {}), (QStringList{QStringLiteral("alpha"), QStringLiteral("bravo"),
                                                QStringLiteral("charlie")}));
  QCOMPARE(selectedLabel(), QStringLiteral("alpha"));
  QVERIFY(bravoOpen());

  AnswerSiteDialog({}, QStringLiteral("delta"));
  frame->action(kCmdEditSite)->trigger();
  QCOMPARE(TreeChildren(tree, {}), (QStringList{QStringLiteral("bravo"), QStringLiteral("charlie"),
                                                QStringLiteral("delta")}));
  QCOMPARE(selectedLabel(), QStringLiteral("delta"));
  QVERIFY(bravoOpen());

  recorder.answers.push_back(QMessageBox::Yes);
  frame->action(kCmdDeleteSite)->trigger();
  QCOMPARE(TreeChildren(tree, {}),
           (QStringList{QStringLiteral("bravo"), QStringLiteral("charlie")}));
  QVERIFY(bravoOpen());
  QCOMPARE(recorder.messages.size(), std::size_t{1});  // the question before the delete
}

QTEST_MAIN(ViewsFollowTest)
#include "views_follow_test.moc"
