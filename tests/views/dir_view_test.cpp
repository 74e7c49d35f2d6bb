// The directory tree: lazy filling, the selection steps, site items, menus
// and removal notices.
#include <QAbstractItemModelTester>
#include <QApplication>
#include <QMenu>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include <ctime>
#include <deque>
#include <functional>
#include <mutex>

#include "catalog/site_health.h"
#include "document/site_store.h"
#include "tests/views/shown_tip.h"
#include "tests/views/view_fixture.h"
#include "update/status_text.h"
#include "views/dir_tree_model.h"
#include "views/dir_view.h"
#include "views/file_list_model.h"
#include "views/orvane_view.h"
#include "views/state_icons.h"

using namespace orvane;
using orvane::test::ShownTip;

class DirViewTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { qRegisterMetaType<CFTPDir*>(); }
  void init();
  void cleanup();
  void modelStaysConsistentThroughFillsCollapsesAndPurges();
  void siteCatalogIsReadOnFirstExpandAndCollapseShowsItAfresh();
  void sitesAreSortedByNicknameOrKey();
  void focusAloneSelectsNothingAndReadsNoCatalog();
  void selectingANewDirectoryRunsTheSelectionSteps();
  void selectingASiteListsItsRootAndKeepsItsExpandButton();
  void updateSiteItemRedrawsIconBoldAndTip();
  void siteTipShowsItsHealthWithNewEntriesCountedWhenLoaded();
  void statusTipIsTheCoreTextWithWhatWasNotFetched_data();
  void statusTipIsTheCoreTextWithWhatWasNotFetched();
  void rightClickSelectsTheItemAndOffersItsMenu();
  void removalPurgesItemsBeforeTheEntriesAreDestroyed();
  void aBranchShowsALoadingRowUntilItsCatalogHasCome();

 private:
  QModelIndex Child(const QModelIndex& parent, int row) {
    model->fetchMore(parent);
    return model->index(row, 0, parent);
  }
  QString Label(const QModelIndex& index) { return index.data().toString(); }

  std::unique_ptr<test::ViewFixture> f;
  std::unique_ptr<CDirView> tree;
  std::unique_ptr<COrvaneView> list;
  CDirTreeModel* model = nullptr;
  CFTPDir* pub = nullptr;    // alpha: /pub (new) with /pub/new (new) and /pub/old
  CFTPDir* fresh = nullptr;  // alpha: /pub/new
  CFTPFile* readme = nullptr;
};

void DirViewTest::init() {
  f = std::make_unique<test::ViewFixture>();
  CFTPSite& alpha = f->AddSite("alpha");
  pub = test::ViewFixture::AddDir(alpha.rootDir.get(), "pub", 1);
  fresh = test::ViewFixture::AddDir(pub, "new", 1);
  test::ViewFixture::AddDir(pub, "old");
  test::ViewFixture::AddDir(fresh, "deep");
  readme = test::ViewFixture::AddFile(pub, "readme.txt", 10);
  test::ViewFixture::AddFile(alpha.rootDir.get(), "top.bin", 5);
  f->AddSite("beta");
  tree = std::make_unique<CDirView>(f->doc);
  list = std::make_unique<COrvaneView>(f->doc);
  QObject::connect(tree.get(), &CDirView::directoryActivated, list.get(), &COrvaneView::ShowBrowse);
  model = tree->treeModel();
  tree->ReloadSites();
}

void DirViewTest::cleanup() {
  tree.reset();
  list.reset();
  f.reset();
}

void DirViewTest::modelStaysConsistentThroughFillsCollapsesAndPurges() {
  QAbstractItemModelTester tester(model, QAbstractItemModelTester::FailureReportingMode::QtTest);
  const QModelIndex alpha = model->index(0, 0);
  tree->expand(alpha);
  tree->expand(Child(alpha, 0));
  tree->selectionModel()->setCurrentIndex(Child(Child(alpha, 0), 0),
                                          QItemSelectionModel::ClearAndSelect);
  tree->collapse(alpha);
  tree->expand(alpha);
  tree->expand(Child(alpha, 0));
  QCoreApplication::processEvents();  // fetches the checker asked for meanwhile
  tree->EntriesRemoving({fresh});
  tree->ReloadSites();
}

void DirViewTest::siteCatalogIsReadOnFirstExpandAndCollapseShowsItAfresh() {
  // A stored catalog, read by the tree only when the site is first opened.
  CFTPSite stored;
  stored.host = "gamma";
  stored.password = std::string(kAnonymousPassword);
  test::ViewFixture::AddDir(stored.rootDir.get(), "music");
  test::ViewFixture::AddDir(stored.rootDir.get(), "video");
  QVERIFY(stored.SaveCatalog(f->doc.GetProgramDir()));
  CFTPSite& gamma = f->AddSite("gamma");
  gamma.loadState = kNotLoaded;
  tree->ReloadSites();
  const QModelIndex site = model->index(2, 0);
  QCOMPARE(Label(site), QStringLiteral("gamma"));
  QVERIFY(model->hasChildren(site));
  QCOMPARE(gamma.loadState.load(), kNotLoaded);

  tree->expand(site);
  QCOMPARE(gamma.loadState.load(), kLoaded);
  QCOMPARE(model->rowCount(site), 2);
  QCOMPARE(Label(model->index(1, 0, site)), QStringLiteral("video"));

  tree->collapse(site);
  QCOMPARE(model->rowCount(site), 0);
  QVERIFY(model->hasChildren(site));
  test::ViewFixture::AddDir(gamma.rootDir.get(), "books");  // as an update would
  tree->expand(site);
  QCOMPARE(model->rowCount(site), 3);
  QCOMPARE(Label(model->index(2, 0, site)), QStringLiteral("books"));
}

void DirViewTest::sitesAreSortedByNicknameOrKey() {
  f->AddSite("zeta", "Aardvark");
  CFTPSite& user = f->AddSite("host");
  user.userName = "bob";
  user.password = "secret";
  tree->ReloadSites();
  QStringList labels;
  for (int row = 0; row < model->rowCount(); ++row) labels << Label(model->index(row, 0));
  QCOMPARE(labels, (QStringList{QStringLiteral("Aardvark"), QStringLiteral("alpha"),
                                QStringLiteral("beta"), QStringLiteral("host@bob")}));
}

void DirViewTest::focusAloneSelectsNothingAndReadsNoCatalog() {
  f->doc.sites()[0]->loadState = kNotLoaded;
  tree->show();
  tree->setFocus();
  QApplication::setActiveWindow(tree.get());
  QVERIFY(QTest::qWaitForWindowExposed(tree.get()));
  QTest::keyClick(tree.get(), Qt::Key_Shift);  // a key that moves nothing
  QTRY_VERIFY(tree->hasFocus());
  QVERIFY(tree->currentIndex().isValid());  // Qt's own choice of a current item
  QVERIFY(tree->selectionModel()->selectedIndexes().isEmpty());
  QCOMPARE(f->doc.sites()[0]->loadState.load(), kNotLoaded);
  QCOMPARE(list->listModel()->mode(), CFileListModel::Mode::kWelcome);
  QVERIFY(!f->doc.currentNode);
}

void DirViewTest::selectingANewDirectoryRunsTheSelectionSteps() {
  QSignalSpy activated(tree.get(), &CDirView::directoryActivated);
  const QModelIndex alpha = model->index(0, 0);
  const QModelIndex pubItem = Child(alpha, 0);
  QVERIFY(pubItem.data(Qt::FontRole).value<QFont>().bold());
  tree->selectionModel()->setCurrentIndex(pubItem, QItemSelectionModel::ClearAndSelect);

  QCOMPARE(activated.count(), 1);
  QCOMPARE(activated[0][0].value<CFTPDir*>(), pub);
  QCOMPARE(f->doc.currentNode->directory, pub);
  QCOMPARE(f->doc.browseDirs.size(), std::size_t{2});
  QCOMPARE(f->doc.browseFiles, std::vector<CFTPFile*>{readme});
  QCOMPARE(pub->readState.load(), 0);
  QVERIFY(f->doc.sites()[0]->stateDirty.load());
  QVERIFY(!pubItem.data(Qt::FontRole).value<QFont>().bold());
  // Children rebuilt from the catalog; their own marks are left alone.
  QCOMPARE(model->rowCount(pubItem), 2);
  QVERIFY(model->index(0, 0, pubItem).data(Qt::FontRole).value<QFont>().bold());
  QCOMPARE(fresh->readState.load(), 1);
  // The frame's refill: directories first, then files.
  QCOMPARE(list->ItemCount(), 3);
  QCOMPARE(list->listModel()->FileAt(2), readme);
  QCOMPARE(tree->CurrentDirectory(), pub);
  QCOMPARE(tree->CurrentSite(), f->doc.sites()[0].get());
}

void DirViewTest::selectingASiteListsItsRootAndKeepsItsExpandButton() {
  const QModelIndex beta = model->index(1, 0);
  tree->selectionModel()->setCurrentIndex(beta, QItemSelectionModel::ClearAndSelect);
  QCOMPARE(f->doc.currentNode->directory, f->doc.sites()[1]->rootDir.get());
  QCOMPARE(list->ItemCount(), 0);  // an empty catalog: no welcome rows either
  QCOMPARE(model->rowCount(beta), 0);
  QVERIFY(model->hasChildren(beta));

  const QModelIndex alpha = model->index(0, 0);
  tree->selectionModel()->setCurrentIndex(alpha, QItemSelectionModel::ClearAndSelect);
  QCOMPARE(f->doc.backList.size(), std::size_t{1});
  QCOMPARE(list->ItemCount(), 2);
  QCOMPARE(list->listModel()->DirAt(0), pub);
}

void DirViewTest::updateSiteItemRedrawsIconBoldAndTip() {
  CFTPSite& beta = *f->doc.sites()[1];
  const QModelIndex item = model->index(1, 0);
  QCOMPARE(item.data(Qt::DecorationRole).value<QIcon>().cacheKey(),
           CStateIcons::SiteStateIcon(kNeverUpdated).cacheKey());
  beta.hasNewEntries = true;
  beta.SetOutcome(SiteStatus::Outcome::kFailed, kUpdateFailed, "连接超时");
  tree->UpdateSiteItem(&beta);
  QCOMPARE(item.data(Qt::DecorationRole).value<QIcon>().cacheKey(),
           CStateIcons::SiteStateIcon(kUpdateFailed).cacheKey());
  QVERIFY(item.data(Qt::FontRole).value<QFont>().bold());
  QCOMPARE(ShownTip(item.data(Qt::ToolTipRole)), QStringLiteral("更新失败:\n连接超时\n从未更新"));
  QVERIFY(!model->index(0, 0).data(Qt::FontRole).value<QFont>().bold());
  QVERIFY(Child(model->index(0, 0), 0).data(Qt::ToolTipRole).isNull());
  // A running crawl's tip counts what it has listed so far.
  beta.SetOutcome(SiteStatus::Outcome::kConnected, kUpdateRunning);
  beta.dirsListed = 12;
  beta.entriesListed = 345;
  QCOMPARE(ShownTip(item.data(Qt::ToolTipRole)),
           QStringLiteral("已连接,正在更新...\n已列出 12 个目录, 345 个条目\n从未更新"));
}

void DirViewTest::siteTipShowsItsHealthWithNewEntriesCountedWhenLoaded() {
  const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
  SiteHealth health;
  health.lastSuccess = now - 3 * 3600 - 100;
  health.entries = 42'020;
  health.bytes = 13'314'398'617ULL;
  health.newEntries = 7;
  health.errorKind = "refused";
  health.errorText = "Failed to connect\nto 127.0.0.1";
  health.errorTime = now - 2 * 3600 - 100;
  for (const auto& site : f->doc.sites()) {
    const std::filesystem::path dir = site->DataDirectory(f->data.path());
    std::filesystem::create_directories(dir);
    QVERIFY(WriteSiteHealth(dir, health));
  }
  const QString size = CFileListModel::FormatSize(health.bytes);
  // alpha's catalog is loaded: two entries are still marked new there.
  QCOMPARE(ShownTip(model->index(0, 0).data(Qt::ToolTipRole)),
           QStringLiteral("3 小时前更新，42,020 项，%1，2 项新\n上次错误（2 小时前）：连接被拒绝 — "
                          "Failed to connect to 127.0.0.1")
               .arg(size));
  // beta's is not: the figure of the record stands; an error older than
  // the last success is not the site's state.
  CFTPSite& beta = *f->doc.sites()[1];
  beta.loadState = kNotLoaded;
  health.errorTime = health.lastSuccess - 1;
  QVERIFY(WriteSiteHealth(beta.DataDirectory(f->data.path()), health));
  QCOMPARE(ShownTip(model->index(1, 0).data(Qt::ToolTipRole)),
           QStringLiteral("3 小时前更新，42,020 项，%1，7 项新").arg(size));
}

void DirViewTest::statusTipIsTheCoreTextWithWhatWasNotFetched_data() {
  QTest::addColumn<int>("outcome");
  using Outcome = SiteStatus::Outcome;
  for (Outcome outcome :
       {Outcome::kNone, Outcome::kWaiting, Outcome::kConnecting, Outcome::kConnected,
        Outcome::kSucceeded, Outcome::kFailed, Outcome::kNoSession, Outcome::kStopped,
        Outcome::kStoppedQueued, Outcome::kBrokenOff, Outcome::kResuming}) {
    QTest::addRow("outcome %d", static_cast<int>(outcome)) << static_cast<int>(outcome);
  }
}

void DirViewTest::statusTipIsTheCoreTextWithWhatWasNotFetched() {
  QFETCH(int, outcome);
  SiteStatus status;
  status.outcome = static_cast<SiteStatus::Outcome>(outcome);
  status.errorText = "550 \xe6\x8b\x92\xe7\xbb\x9d";  // as the server said it
  // The window's text (through tr()) is the one orvane-cli prints.
  QCOMPARE(CDirTreeModel::StatusTip(status), QString::fromStdString(StatusText(status)));
  status.counts.dirsNotEntered = 2;
  status.counts.namesSkipped = 5;
  QCOMPARE(CDirTreeModel::StatusTip(status),
           QString::fromStdString(StatusText(status)) +
               QStringLiteral("\n未能进入的目录: 2\n跳过的名称: 5"));
}

void DirViewTest::rightClickSelectsTheItemAndOffersItsMenu() {
  tree->resize(300, 400);
  tree->show();
  QVERIFY(QTest::qWaitForWindowExposed(tree.get()));
  QSignalSpy commands(tree.get(), &CDirView::contextCommand);
  const auto menuTexts = [this](const QModelIndex& index) {
    emit tree->customContextMenuRequested(tree->visualRect(index).center());
    auto* menu = tree->findChild<QMenu*>(QStringLiteral("dirViewMenu"));
    QStringList texts;
    if (!menu) return std::make_pair(texts, static_cast<QMenu*>(nullptr));
    for (QAction* action : menu->actions()) texts << action->text();
    return std::make_pair(texts, menu);
  };

  auto [siteTexts, siteMenu] = menuTexts(model->index(1, 0));
  QCOMPARE(f->doc.currentNode->directory, f->doc.sites()[1]->rootDir.get());
  QCOMPARE(siteTexts, (QStringList{QStringLiteral("显示更新"), QStringLiteral("更新"),
                                   QStringLiteral("设置已读"), QStringLiteral("编辑站点"),
                                   QStringLiteral("删除站点"), QStringLiteral("复制路径")}));
  siteMenu->actions()[4]->trigger();
  // The command comes once the menu's own event is over.
  QTRY_COMPARE(commands.count(), 1);
  QCOMPARE(commands[0][0].toInt(), CDirView::kCmdDeleteSite);
  siteMenu->close();
  QTRY_VERIFY(!tree->findChild<QMenu*>(QStringLiteral("dirViewMenu")));

  tree->expand(model->index(0, 0));
  auto [dirTexts, dirMenu] = menuTexts(model->index(0, 0, model->index(0, 0)));
  QCOMPARE(f->doc.currentNode->directory, pub);
  QCOMPARE(dirTexts.size(), 4);
  dirMenu->actions()[3]->trigger();
  QTRY_COMPARE(commands.count(), 2);
  QCOMPARE(commands[1][0].toInt(), CDirView::kCmdCopyPath);
  dirMenu->close();

  // Empty space: no menu, no selection change.
  const std::size_t steps = f->doc.backList.size();
  QTRY_VERIFY(!tree->findChild<QMenu*>(QStringLiteral("dirViewMenu")));
  emit tree->customContextMenuRequested(QPoint(5, tree->viewport()->height() - 2));
  QVERIFY(!tree->findChild<QMenu*>(QStringLiteral("dirViewMenu")));
  QCOMPARE(f->doc.backList.size(), steps);
}

void DirViewTest::removalPurgesItemsBeforeTheEntriesAreDestroyed() {
  tree->resize(300, 400);
  tree->show();
  const QModelIndex alpha = model->index(0, 0);
  tree->expand(alpha);
  tree->expand(Child(alpha, 0));
  tree->expand(Child(Child(alpha, 0), 0));
  const QModelIndex freshItem = Child(Child(alpha, 0), 0);
  tree->selectionModel()->setCurrentIndex(freshItem, QItemSelectionModel::ClearAndSelect);
  QCOMPARE(tree->CurrentDirectory(), fresh);
  const std::size_t steps = f->doc.backList.size();

  // A sweep unlinks /pub/new under the lock and hands it over: the views let
  // go of it, then the document destroys it.
  CFTPSite& site = *f->doc.sites()[0];
  std::unique_ptr<CFTPDir> removed;
  {
    std::lock_guard guard(site.lock);
    removed = std::move(pub->subdirs[0]);
    pub->subdirs.erase(pub->subdirs.begin());
  }
  tree->EntriesRemoving({removed.get()});
  list->EntriesRemoving({removed.get()}, {});
  std::vector<std::unique_ptr<CFTPDir>> dirs;
  dirs.push_back(std::move(removed));
  f->doc.OnEntriesRemoved(std::move(dirs), {});

  // Nothing may reach the freed subtree now (AddressSanitizer checks).
  QCOMPARE(model->rowCount(Child(alpha, 0)), 1);
  QCOMPARE(Label(model->index(0, 0, Child(alpha, 0))), QStringLiteral("old"));
  QCOMPARE(tree->CurrentDirectory(), nullptr);
  QCOMPARE(f->doc.backList.size(), steps);  // the purge is not a selection
  tree->expandAll();
  tree->grab();
  QCOMPARE(tree->model()
               ->match(alpha, Qt::DisplayRole, QStringLiteral("deep"), 1, Qt::MatchRecursive)
               .size(),
           0);

  // A deleted site: its item goes with its root.
  tree->EntriesRemoving({f->doc.sites()[1]->rootDir.get()});
  QCOMPARE(model->rowCount(), 1);
  QCOMPARE(Label(model->index(0, 0)), QStringLiteral("alpha"));
}

void DirViewTest::aBranchShowsALoadingRowUntilItsCatalogHasCome() {
  // Catalogs read by a site store, whose results come as queued events.
  struct Sink : ISiteStoreSink {
    CDirView* tree = nullptr;
    void CatalogLoaded(const std::shared_ptr<CFTPSite>& site) override {
      tree->CatalogLoaded(site.get());
    }
  } sink;
  sink.tree = tree.get();
  // Handed over under a mutex and run by a timer of this thread, as the
  // window's own queue does: a queued call made on the store's thread is a
  // hand-over ThreadSanitizer cannot see inside Qt.
  std::mutex postedMutex;
  std::deque<std::function<void()>> posted;
  QTimer drain;
  drain.setInterval(1);
  QObject::connect(&drain, &QTimer::timeout, [&] {
    std::deque<std::function<void()>> due;
    {
      std::lock_guard guard(postedMutex);
      due.swap(posted);
    }
    for (const std::function<void()>& event : due) event();
  });
  drain.start();
  CSiteStore store(f->doc, sink, [&](std::function<void()> event) {
    std::lock_guard guard(postedMutex);
    posted.push_back(std::move(event));
  });
  f->doc.SetSiteStore(&store);
  CFTPSite stored;
  stored.host = "gamma";
  stored.password = std::string(kAnonymousPassword);
  test::ViewFixture::AddDir(stored.rootDir.get(), "music");
  QVERIFY(stored.SaveCatalog(f->doc.GetProgramDir()));
  CFTPSite& gamma = f->AddSite("gamma");
  gamma.loadState = kNotLoaded;
  tree->ReloadSites();
  const QModelIndex site = model->index(2, 0);

  // Expanded: one row that cannot be chosen, then the catalog's.
  tree->expand(site);
  QCOMPARE(model->rowCount(site), 1);
  QCOMPARE(Label(model->index(0, 0, site)), CDirTreeModel::tr("正在读取…"));
  QVERIFY(!(model->flags(model->index(0, 0, site)) & Qt::ItemIsSelectable));
  QTRY_COMPARE(Label(model->index(0, 0, site)), QStringLiteral("music"));
  QCOMPARE(model->rowCount(site), 1);

  // Chosen while another site's catalog is read: the steps run once it has
  // come, and only for the item still chosen.
  CFTPSite& beta = *f->doc.sites()[1];
  beta.loadState = kNotLoaded;
  tree->selectionModel()->setCurrentIndex(model->index(1, 0), QItemSelectionModel::ClearAndSelect);
  QVERIFY(!f->doc.currentNode);
  QTRY_VERIFY(f->doc.currentNode);
  QCOMPARE(f->doc.currentNode->directory, beta.rootDir.get());
  f->doc.SetSiteStore(nullptr);
}

QTEST_MAIN(DirViewTest)
#include "dir_view_test.moc"
