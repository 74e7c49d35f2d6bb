// New marks and addresses from the window: the set-read commands with the
// tree's bold items and the list's colours following and state.st written at
// exit, the browse/search switch, copying paths and opening a file's address.
#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QLineEdit>

#include "catalog/ftp_file.h"
#include "tests/frame/frame_fixture.h"
#include "views/dir_tree_model.h"
#include "views/file_list_model.h"

using namespace orvane;
using namespace orvane::test;
namespace fs = std::filesystem;

namespace {

constexpr const char* kCopied = "文件路径已复制到剪贴板上，粘贴到FTP软件或浏览器中即可。";

// a.example: a-root-new.txt (new), pub/{old.txt, new.txt (new)},
// fresh (new)/inner.txt (new). b.example: pub/b-new.txt (new). Both
// catalogs and state files on disk; a.example has new entries.
void WriteCatalogs(const fs::path& dir) {
  IDocumentHost quiet;
  COrvaneDoc doc(dir, quiet);
  for (const char* host : {"a.example", "b.example"}) {
    auto site = std::make_shared<CFTPSite>();
    site->host = host;
    site->userName = "anonymous";
    site->password = std::string(kAnonymousPassword);
    CFTPDir* pub = site->rootDir->AddSubdir(std::make_unique<CFTPDir>("pub"));
    if (site->host == "a.example") {
      site->hasNewEntries = true;
      site->rootDir->AddFile(CFTPFile::Make("a-root-new.txt", 1, 1));
      pub->AddFile(CFTPFile::Make("old.txt", 2));
      pub->AddFile(CFTPFile::Make("new.txt", 3, 1));
      CFTPDir* fresh = site->rootDir->AddSubdir(std::make_unique<CFTPDir>("fresh", 1));
      fresh->AddFile(CFTPFile::Make("inner.txt", 4, 1));
    } else {
      pub->AddFile(CFTPFile::Make("b-new.txt", 5, 1));
    }
    if (!site->SaveCatalogAndState(dir)) qFatal("cannot write a catalog");
    doc.AppendSite(site);
  }
  if (!doc.SaveSiteList()) qFatal("cannot write site.ds");
}

CFTPDir* Subdir(CFTPDir& dir, std::string_view name) {
  for (const auto& sub : dir.subdirs) {
    if (sub->name() == name) return sub.get();
  }
  qFatal("no such directory");
}

int RowOf(const COrvaneView& view, const char* name) {
  const CFileListModel& model = *view.listModel();
  for (int row = 0; row < model.rowCount(); ++row) {
    if (model.index(row, 0).data().toString() == QString::fromUtf8(name)) return row;
  }
  return -1;
}

bool Coloured(const COrvaneView& view, int row) {
  return view.listModel()->index(row, 0).data(Qt::BackgroundRole).isValid();
}

bool Bold(CMainFrame& frame, const CFTPDir* dir) {
  const QModelIndex index = frame.dirView().treeModel()->FindItem(dir);
  return index.data(Qt::FontRole).value<QFont>().bold();
}

}  // namespace

class ReadCommandsTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    dir_ = std::make_unique<CTempTree>();
    WriteCatalogs(dir_->path());
    frame_ = StartFrame(dir_->path());
    QVERIFY(QTest::qWaitForWindowActive(frame_.get()));
    for (const auto& site : frame_->doc().sites()) frame_->doc().EnsureCatalogLoaded(*site);
    a_ = frame_->doc().sites()[0].get();
    b_ = frame_->doc().sites()[1].get();
    frame_->dirView().expand(frame_->dirView().treeModel()->FindItem(a_->rootDir.get()));
  }
  void cleanup() {
    recorder_.messages.clear();
    recorder_.answers.clear();
    frame_.reset();
    dir_.reset();
    CDialogSeam::SetUrlHook(nullptr);
  }
  void setReadCommandsClearMarksAndReachStateFile();
  void switchFlipsBetweenBrowseAndResults();
  void copyPathPutsAddressOnClipboard();
  void doubleClickOpensAddressOrOffersCopy_data();
  void doubleClickOpensAddressOrOffersCopy();

 private:
  void Browse(CFTPDir* dir) {
    frame_->doc().RecordStep(dir);
    frame_->doc().ShowDirectory(dir);
    emit frame_->dirView().directoryActivated(dir);
  }
  void TreeCommand(CFTPDir* dir, int command) {
    frame_->dirView().SelectDirectory(dir);
    emit frame_->dirView().contextCommand(command);
  }
  void DoubleClick(const char* name) {
    COrvaneView& view = frame_->fileView();
    emit view.doubleClicked(view.listModel()->index(RowOf(view, name), 0));
  }

  MessageRecorder recorder_;
  std::unique_ptr<CTempTree> dir_;
  std::unique_ptr<CMainFrame> frame_;
  CFTPSite* a_ = nullptr;
  CFTPSite* b_ = nullptr;
};

void ReadCommandsTest::setReadCommandsClearMarksAndReachStateFile() {
  CFTPDir* pub = Subdir(*a_->rootDir, "pub");
  CFTPDir* fresh = Subdir(*a_->rootDir, "fresh");
  COrvaneView& list = frame_->fileView();
  Browse(pub);
  QVERIFY(Coloured(list, RowOf(list, "new.txt")));
  QVERIFY(Bold(*frame_, fresh));

  // Alt+D: the browsed directory's files only.
  QTest::keyClick(frame_.get(), Qt::Key_D, Qt::AltModifier);
  QVERIFY(!Coloured(list, RowOf(list, "new.txt")));
  QCOMPARE(CountMarks(*a_->rootDir), 3);

  // Show updates: the new directory once, the root's unread file.
  TreeCommand(a_->rootDir.get(), kCmdShowUpdates);
  QVERIFY(frame_->resultMode());
  QTRY_COMPARE(list.ItemCount(), 2);
  QVERIFY(Coloured(list, RowOf(list, "fresh")));

  // Set read on the site's root: every mark below, the site's flag, the
  // tree's bold items and the listed rows' colours.
  TreeCommand(a_->rootDir.get(), kCmdTreeSetRead);
  QTRY_COMPARE(CountMarks(*a_->rootDir), 0);
  QVERIFY(!a_->hasNewEntries);
  QVERIFY(!Bold(*frame_, fresh));
  QVERIFY(!Bold(*frame_, a_->rootDir.get()));
  QVERIFY(!Coloured(list, RowOf(list, "fresh")));

  // A site whose update failed in this run is left to set-everything-read.
  b_->updateState.store(kUpdateFailed);
  frame_->action(kCmdSetUpdateRead)->trigger();
  QTRY_VERIFY(!frame_->doc().walking());
  QCOMPARE(CountMarks(*b_->rootDir), 1);
  frame_->action(kCmdSetAllRead)->trigger();
  QTRY_COMPARE(CountMarks(*b_->rootDir), 0);
  QVERIFY(recorder_.messages.empty());

  frame_->close();
  frame_.reset();
  IDocumentHost quiet;
  COrvaneDoc reread(dir_->path(), quiet);
  reread.OnNewDocument();
  for (const auto& site : reread.sites()) {
    reread.EnsureCatalogLoaded(*site);
    QCOMPARE(CountMarks(*site->rootDir), 0);
  }
}

void ReadCommandsTest::switchFlipsBetweenBrowseAndResults() {
  Browse(Subdir(*a_->rootDir, "pub"));
  QCOMPARE(frame_->fileView().ItemCount(), 2);
  CDialogSeam::SetDialogHook([](QDialog& dialog) {
    dialog.findChild<QLineEdit*>(QStringLiteral("keywordEdit"))->setText(QStringLiteral("new"));
    return int{QDialog::Accepted};
  });
  frame_->action(kCmdSearch)->trigger();
  QTRY_COMPARE(frame_->fileView().ItemCount(), 3);
  QAction* flip = frame_->action(kCmdSwitch);
  flip->trigger();
  QVERIFY(!frame_->resultMode());
  QVERIFY(RowOf(frame_->fileView(), "old.txt") >= 0);
  QCOMPARE(frame_->fileView().ItemCount(), 2);
  flip->trigger();
  QVERIFY(frame_->resultMode());
  QCOMPARE(frame_->fileView().ItemCount(), 3);
}

void ReadCommandsTest::copyPathPutsAddressOnClipboard() {
  QClipboard* clipboard = QGuiApplication::clipboard();
  CFTPDir* pub = Subdir(*a_->rootDir, "pub");
  TreeCommand(pub, kCmdTreeCopyPath);
  QCOMPARE(clipboard->text(), QStringLiteral("ftp://a.example:21/pub"));
  QCOMPARE(recorder_.texts(), QStringList{QString::fromUtf8(kCopied)});

  Browse(pub);
  COrvaneView& list = frame_->fileView();
  // Nothing selected: no copy and no message.
  emit list.contextCommand(kCmdCopyPath);
  QCOMPARE(recorder_.messages.size(), std::size_t{1});
  list.setCurrentIndex(list.listModel()->index(RowOf(list, "new.txt"), 0));
  emit list.contextCommand(kCmdCopyPath);
  QCOMPARE(clipboard->text(), QStringLiteral("ftp://a.example:21/pub/new.txt"));
  QCOMPARE(recorder_.messages.size(), std::size_t{2});
}

void ReadCommandsTest::doubleClickOpensAddressOrOffersCopy_data() {
  QTest::addColumn<bool>("handled");
  QTest::addColumn<QMessageBox::StandardButton>("answer");
  QTest::addColumn<QString>("clipboard");
  QTest::newRow("handler opens it") << true << QMessageBox::Yes << QStringLiteral("before");
  QTest::newRow("no handler, copy")
      << false << QMessageBox::Yes << QStringLiteral("ftp://a.example:21/pub/new.txt");
  QTest::newRow("no handler, no copy") << false << QMessageBox::No << QStringLiteral("before");
}

void ReadCommandsTest::doubleClickOpensAddressOrOffersCopy() {
  QFETCH(bool, handled);
  QFETCH(QMessageBox::StandardButton, answer);
  QFETCH(QString, clipboard);
  QGuiApplication::clipboard()->setText(QStringLiteral("before"));
  QStringList opened;
  CDialogSeam::SetUrlHook([&](const QUrl& url) {
    opened << url.toString();
    return handled;
  });
  recorder_.answers.push_back(answer);
  Browse(Subdir(*a_->rootDir, "pub"));
  DoubleClick("new.txt");
  QCOMPARE(opened, QStringList{QStringLiteral("ftp://a.example:21/pub/new.txt")});
  QCOMPARE(recorder_.messages.size(), handled ? std::size_t{0} : std::size_t{1});
  if (!handled) QCOMPARE(recorder_.messages.front().buttons, QMessageBox::Yes | QMessageBox::No);
  QCOMPARE(QGuiApplication::clipboard()->text(), clipboard);
}

QTEST_MAIN(ReadCommandsTest)
#include "read_commands_test.moc"
