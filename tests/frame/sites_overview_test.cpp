// The Sites overview as a person uses it: opened from the View menu with
// the keyboard, sorted by a header click, a row double-clicked to reach its
// site, and its rows following a real update.
#include <QGuiApplication>
#include <QHeaderView>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QTableView>
#include <ctime>

#include "catalog/site_health.h"
#include "frame/sites_overview.h"
#include "frame/sites_overview_model.h"
#include "tests/frame/frame_fixture.h"
#include "update/update_engine.h"
#include "views/dir_view.h"

using namespace orvane;
using namespace orvane::test;
namespace fs = std::filesystem;

class SitesOverviewTest : public QObject {
  Q_OBJECT

 private slots:
  void cleanup();
  void viewMenuOpensItAndAHeaderClickSortsByNumber();
  void doubleClickSelectsTheSiteInTheTree();
  void rowFollowsARealUpdate();

 private:
  // Sites a, b, c with records of 900, 42,020 and 5 entries, and d with
  // none; then the window.
  void StartWithRecords();
  // 视图 with Alt+V, down to the overview's item, Enter.
  void OpenFromViewMenu();
  QTableView* Table() const;
  // The first column of every row, top to bottom.
  QStringList Names() const;

  MessageRecorder boxes_;
  std::unique_ptr<CTempTree> data_;
  std::unique_ptr<CMainFrame> frame_;
};

void SitesOverviewTest::cleanup() {
  frame_.reset();
  data_.reset();
}

void SitesOverviewTest::StartWithRecords() {
  data_ = std::make_unique<CTempTree>();
  WriteSiteList(data_->path(), {{"a.example"}, {"b.example"}, {"c.example"}, {"d.example"}});
  const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
  const std::pair<const char*, std::uint64_t> records[] = {
      {"a.example", 900}, {"b.example", 42'020}, {"c.example", 5}};
  for (const auto& [key, entries] : records) {
    SiteHealth health;
    health.lastSuccess = now - 3600;
    health.durationMs = 1500;
    health.entries = entries;
    health.bytes = entries * 1000;
    if (entries == 900) {
      health.errorKind = "refused";
      health.errorText = "Failed to connect to a.example port 21 after 2 ms: Couldn't connect";
      health.errorTime = now - 60;
    }
    const fs::path dir = data_->path() / "Data" / key;
    fs::create_directories(dir);
    QVERIFY(WriteSiteHealth(dir, health));
  }
  frame_ = StartFrame(data_->path());
}

void SitesOverviewTest::OpenFromViewMenu() {
  QAction* action = frame_->action(kCmdSitesOverview);
  QVERIFY(action);
  QMenu* view = frame_->menuBar()->findChild<QMenu*>(QStringLiteral("menuView"));
  QVERIFY(view && view->actions().contains(action));
  QVERIFY(QTest::qWaitForWindowActive(frame_.get()));
  QTest::keyClick(frame_.get(), Qt::Key_V, Qt::AltModifier);
  QTRY_VERIFY(view->isVisible());
  for (int step = 0; view->activeAction() != action && step < view->actions().size(); ++step) {
    QTest::keyClick(view, Qt::Key_Down);
  }
  QCOMPARE(view->activeAction(), action);
  QTest::keyClick(view, Qt::Key_Return);
  QTRY_VERIFY(Table() && Table()->isVisible());
}

QTableView* SitesOverviewTest::Table() const {
  return frame_->findChild<QTableView*>(QStringLiteral("sitesOverviewTable"));
}

QStringList SitesOverviewTest::Names() const {
  QStringList names;
  const QAbstractItemModel& model = *Table()->model();
  for (int row = 0; row < model.rowCount(); ++row) names << model.index(row, 0).data().toString();
  return names;
}

void SitesOverviewTest::viewMenuOpensItAndAHeaderClickSortsByNumber() {
  StartWithRecords();
  if (QTest::currentTestFailed()) return;
  QVERIFY(!Table());
  OpenFromViewMenu();
  if (QTest::currentTestFailed()) return;
  QTableView& table = *Table();
  QTRY_COMPARE(table.model()->rowCount(), 4);
  // Every column shows whole, the error's included, as far as the screen
  // allows, and the box stays on the screen.
  const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
  QTRY_VERIFY(table.window()->frameGeometry().width() <= area.width());
  QVERIFY2(table.horizontalHeader()->length() <= table.viewport()->width() ||
               table.window()->width() >= area.width() - 50,
           qPrintable(QStringLiteral("%1 in %2")
                          .arg(table.horizontalHeader()->length())
                          .arg(table.viewport()->width())));
  const QAbstractItemModel& model = *table.model();
  QCOMPARE(model.headerData(CSitesOverviewModel::kEntries, Qt::Horizontal).toString(),
           QStringLiteral("项数"));
  QCOMPARE(Names(), QStringList({QStringLiteral("a.example"), QStringLiteral("b.example"),
                                 QStringLiteral("c.example"), QStringLiteral("d.example")}));
  QCOMPARE(model.index(1, CSitesOverviewModel::kEntries).data().toString(),
           QStringLiteral("42,020"));
  QCOMPARE(model.index(3, CSitesOverviewModel::kLastUpdate).data().toString(),
           QStringLiteral("从未更新"));

  // As texts "42,020" < "5" < "900"; as numbers the site without a record
  // comes first, then 5, 900, 42,020.
  QHeaderView& header = *table.horizontalHeader();
  const int x = header.sectionViewportPosition(CSitesOverviewModel::kEntries) +
                header.sectionSize(CSitesOverviewModel::kEntries) / 2;
  const QPoint at(x, header.height() / 2);
  QTest::mouseClick(header.viewport(), Qt::LeftButton, {}, at);
  QTRY_COMPARE(header.sortIndicatorSection(), int(CSitesOverviewModel::kEntries));
  const Qt::SortOrder first = header.sortIndicatorOrder();
  const QStringList ascending = {QStringLiteral("d.example"), QStringLiteral("c.example"),
                                 QStringLiteral("a.example"), QStringLiteral("b.example")};
  QStringList descending = ascending;
  std::reverse(descending.begin(), descending.end());
  QCOMPARE(Names(), first == Qt::AscendingOrder ? ascending : descending);
  QTest::mouseClick(header.viewport(), Qt::LeftButton, {}, at);
  QTRY_VERIFY(header.sortIndicatorOrder() != first);
  QCOMPARE(Names(), first == Qt::AscendingOrder ? descending : ascending);
}

void SitesOverviewTest::doubleClickSelectsTheSiteInTheTree() {
  StartWithRecords();
  if (QTest::currentTestFailed()) return;
  OpenFromViewMenu();
  if (QTest::currentTestFailed()) return;
  QTableView& table = *Table();
  QTRY_COMPARE(table.model()->rowCount(), 4);
  const auto current = [this] {
    const CFTPSite* site = frame_->dirView().CurrentSite();
    return site ? QString::fromStdString(site->host) : QString();
  };
  QVERIFY(current() != QStringLiteral("c.example"));
  const QRect cell = table.visualRect(table.model()->index(2, CSitesOverviewModel::kAddress));
  // A double-click as QTest makes it: the first click, then the second.
  QTest::mouseClick(table.viewport(), Qt::LeftButton, {}, cell.center());
  QTest::mouseDClick(table.viewport(), Qt::LeftButton, {}, cell.center());
  QTRY_COMPARE(current(), QStringLiteral("c.example"));
}

void SitesOverviewTest::rowFollowsARealUpdate() {
  CTempTree served;
  served.AddFile("pub/readme.txt", "hello");
  served.AddFile("top.bin", "abc");
  std::unique_ptr<CFtpServer> server = StartServer(served);
  data_ = std::make_unique<CTempTree>();
  WriteServerSite(data_->path(), *server);
  frame_ = StartFrame(data_->path());
  OpenFromViewMenu();
  if (QTest::currentTestFailed()) return;
  const QAbstractItemModel& model = *Table()->model();
  QTRY_COMPARE(model.rowCount(), 1);
  QCOMPARE(model.index(0, CSitesOverviewModel::kLastUpdate).data().toString(),
           QStringLiteral("从未更新"));
  frame_->action(kCmdUpdateAll)->trigger();
  // pub, pub/readme.txt and top.bin, all new.
  QTRY_COMPARE_WITH_TIMEOUT(model.index(0, CSitesOverviewModel::kEntries).data().toString(),
                            QStringLiteral("3"), kWaitMs);
  QCOMPARE(model.index(0, CSitesOverviewModel::kNew).data().toString(), QStringLiteral("3"));
  QCOMPARE(model.index(0, CSitesOverviewModel::kSize).data(CSitesOverviewModel::kSortRole),
           QVariant(qlonglong{8}));
  QCOMPARE(model.index(0, CSitesOverviewModel::kLastUpdate).data().toString(),
           QStringLiteral("刚刚"));

  // The server goes away: the next update's error shows, the success stays.
  server.reset();
  QTRY_VERIFY_WITH_TIMEOUT(frame_->engine().Progress().finished, kWaitMs);
  frame_->action(kCmdUpdateAll)->trigger();
  QTRY_VERIFY_WITH_TIMEOUT(
      !model.index(0, CSitesOverviewModel::kLastError).data().toString().isEmpty(), kWaitMs);
  QVERIFY2(model.index(0, CSitesOverviewModel::kLastError)
               .data()
               .toString()
               .startsWith(QStringLiteral("连接被拒绝")),
           qPrintable(model.index(0, CSitesOverviewModel::kLastError).data().toString()));
  QCOMPARE(model.index(0, CSitesOverviewModel::kEntries).data().toString(), QStringLiteral("3"));
}

QTEST_MAIN(SitesOverviewTest)
#include "sites_overview_test.moc"
