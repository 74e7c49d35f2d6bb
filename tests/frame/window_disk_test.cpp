// The window's thread never touches a site's files: expanding an unloaded
// site, a listing over unloaded sites, an address shown in its folder,
// clearing marks and another process's commit all leave the disk work to the
// site store, and the entry points of that work (catalog/site_file_access.h)
// note any call on the window's thread.
#include <QAbstractItemModelTester>
#include <QTreeView>
#include <thread>

#include "catalog/ftp_file.h"
#include "catalog/site_file_access.h"
#include "frame/walk_runner.h"
#include "tests/frame/frame_fixture.h"
#include "views/dir_tree_model.h"
#include "views/dir_view.h"
#include "views/orvane_view.h"

using namespace orvane;
using namespace orvane::test;
namespace fs = std::filesystem;

namespace {

struct Entry {
  std::string dir;   // "" for the root
  std::string file;  // "" for the directory itself
  bool fresh;
};

// Sites a.example, b.example, c.example, each with its catalog and marks on
// disk, written on a thread of its own as another process would.
void WriteSites(const fs::path& dir, const std::vector<std::vector<Entry>>& catalogs) {
  std::thread([&] {
    IDocumentHost quiet;
    COrvaneDoc doc(dir, quiet);
    const char* hosts[] = {"a.example", "b.example", "c.example"};
    for (std::size_t i = 0; i < catalogs.size(); ++i) {
      auto site = std::make_shared<CFTPSite>();
      site->host = hosts[i];
      site->userName = "anonymous";
      site->password = std::string(kAnonymousPassword);
      for (const Entry& entry : catalogs[i]) {
        CFTPDir* at = site->rootDir.get();
        if (!entry.dir.empty()) {
          CFTPDir* found = nullptr;
          for (const auto& sub : at->subdirs) {
            if (sub->name() == entry.dir) found = sub.get();
          }
          at = found ? found
                     : at->AddSubdir(std::make_unique<CFTPDir>(
                           entry.dir, entry.file.empty() && entry.fresh ? 1 : 0));
        }
        if (!entry.file.empty()) at->AddFile(CFTPFile::Make(entry.file, 3, entry.fresh ? 1 : 0));
      }
      if (!site->SaveCatalogAndState(dir)) qFatal("cannot write a catalog");
      doc.AppendSite(site);
    }
    if (!doc.SaveSiteList()) qFatal("cannot write site.ds");
  }).join();
}

QStringList Names(const std::vector<CFTPFile*>& files) {
  QStringList names;
  for (const CFTPFile* file : files) names << QString::fromStdString(std::string(file->name()));
  return names;
}

}  // namespace

class WindowDiskTest : public QObject {
  Q_OBJECT

 private slots:
  void windowThreadLeavesTheDiskToTheStore();
};

void WindowDiskTest::windowThreadLeavesTheDiskToTheStore() {
  CTempTree data;
  const std::vector<std::vector<Entry>> catalogs = {
      {{"pub", "", false}, {"pub", "new.txt", true}, {"fresh", "", true}},
      {{"docs", "", false}, {"docs", "readme.txt", true}},
      {{"x", "", false}, {"x", "target.txt", false}},
  };
  WriteSites(data.path(), catalogs);
  MessageRecorder recorder;
  ForbidSiteFileAccess(std::this_thread::get_id());
  auto frame = StartFrame(data.path());
  QVERIFY(QTest::qWaitForWindowExposed(frame.get()));
  CDirView& tree = frame->dirView();
  const std::shared_ptr<CFTPSite> a = frame->doc().sites()[0];
  const QModelIndex aItem = tree.treeModel()->SiteIndex(a.get());

  // The expand button of an unloaded site: a loading row first, then the
  // directories once the store has read the catalog.
  QStringList inserted;
  connect(tree.model(), &QAbstractItemModel::rowsInserted, this,
          [&](const QModelIndex& parent, int first) {
            if (parent == aItem)
              inserted << tree.model()->index(first, 0, parent).data().toString();
          });
  const QRect rect = tree.visualRect(aItem);
  QTest::mouseClick(tree.viewport(), Qt::LeftButton, {},
                    QPoint(rect.left() - tree.indentation() / 2, rect.center().y()));
  QVERIFY(tree.isExpanded(aItem));
  QTRY_COMPARE(tree.model()->rowCount(aItem), 2);
  QCOMPARE(inserted.value(0), CDirTreeModel::tr("正在读取…"));
  QCOMPARE(tree.model()->index(0, 0, aItem).data().toString(), QStringLiteral("pub"));
  // From here on (the checker fetches by itself), every change notice is
  // checked as it comes.
  QAbstractItemModelTester tester(tree.model(),
                                  QAbstractItemModelTester::FailureReportingMode::QtTest);

  // Every unread file of every site, b.example's catalog read for it, in
  // the sites' order.
  frame->action(kCmdShowAllNew)->trigger();
  QTRY_VERIFY(!frame->walkRunner().busy());
  QCOMPARE(Names(frame->doc().resultFiles),
           (QStringList{QStringLiteral("new.txt"), QStringLiteral("readme.txt")}));

  // An address shows its folder once c.example's catalog has come.
  frame->ShowAddress(QStringLiteral("ftp://c.example/x/target.txt"));
  QTRY_COMPARE(
      frame->doc().currentNode ? frame->doc().currentNode->directory->name() : std::string(),
      std::string("x"));

  // Marks cleared reach state.st through the store.
  const fs::path state = data.path() / "Data" / "b.example" / "state.st";
  const std::string before = ReadBytes(state);
  frame->action(kCmdSetAllRead)->trigger();
  QTRY_VERIFY(!frame->walkRunner().busy());
  QTRY_VERIFY(ReadBytes(state) != before);

  // Another process commits a.example again with one more directory: the
  // tree follows once the store has merged it.
  std::vector<std::vector<Entry>> next = catalogs;
  next[0].push_back({"later", "", true});
  std::thread([&] {
    IDocumentHost quiet;
    COrvaneDoc other(data.path(), quiet);
    other.OnNewDocument(false);
    CFTPSite& site = *other.sites()[0];
    other.EnsureCatalogLoaded(site);
    site.rootDir->AddSubdir(std::make_unique<CFTPDir>("later", 1));
    if (site.SaveFiles(data.path(), true) != CFTPSite::SaveResult::kSaved) qFatal("no commit");
  }).join();
  QTRY_COMPARE_WITH_TIMEOUT(tree.model()->rowCount(aItem), 3, kWaitMs);

  frame->close();
  ForbidSiteFileAccess({});
  const std::vector<std::string> noted = TakeForbiddenSiteFileAccesses();
  QStringList said;
  for (const std::string& what : noted) said << QString::fromStdString(what);
  QVERIFY2(noted.empty(), qPrintable(said.join(QStringLiteral(", "))));
  QVERIFY(recorder.messages.empty());
}

QTEST_MAIN(WindowDiskTest)
#include "window_disk_test.moc"
