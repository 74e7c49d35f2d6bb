// The Changes view driven as a person drives it, over journals written by
// real updates: "alpha" is a pyftpdlib server whose tree changes between
// two updates (a file added, one removed, one resized); "beta" has a
// journal of three days ago with a name in code page 936. The view is
// opened through the View menu; filters are clicked, entries double-clicked
// and copied with Ctrl+C, exports read back, watch words typed into their
// dialog.
#include <QAbstractItemModelTester>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDockWidget>
#include <QFileDialog>
#include <QFont>
#include <QHash>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QStatusBar>
#include <QTreeView>
#include <ctime>

#include "catalog/change_journal.h"
#include "frame/changes_model.h"
#include "frame/changes_view.h"
#include "tests/frame/frame_fixture.h"
#include "views/file_list_model.h"

using namespace orvane;
using namespace orvane::test;
namespace fs = std::filesystem;

namespace {

// "你好.txt" in code page 936: not UTF-8.
constexpr std::string_view kGbkName = "/\xC4\xE3\xBA\xC3.txt";
// A name that would add a cell, and a formula, to an unquoted CSV line.
constexpr std::string_view kCellName = "/x,=1+2*3";

// The records of an RFC 4180 text, each split into its fields.
QList<QStringList> ParseCsv(const QString& text) {
  QList<QStringList> records;
  QStringList fields;
  QString field;
  bool quoted = false;
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text[i];
    if (quoted) {
      if (c != QLatin1Char('"')) {
        field += c;
      } else if (i + 1 < text.size() && text[i + 1] == QLatin1Char('"')) {
        field += c;
        ++i;
      } else {
        quoted = false;
      }
    } else if (c == QLatin1Char('"')) {
      quoted = true;
    } else if (c == QLatin1Char(',')) {
      fields << std::exchange(field, {});
    } else if (c == QLatin1Char('\r') && text.mid(i, 2) == QStringLiteral("\r\n")) {
      fields << std::exchange(field, {});
      records << std::exchange(fields, {});
      ++i;
    } else {
      field += c;
    }
  }
  return records;
}

}  // namespace

class ChangesViewTest : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void cleanup();

  void viewListsUpdatesAndFiltersHideRows();
  void doubleClickShowsAddedEntryInItsFolder();
  void copyKeyCopiesRemovedEntryAddress();
  void exportWritesCsvAndJson();
  void watchWordsHighlightMatchingEntries();
  void viewFollowsUpdatesHereAndElsewhere();
  void failedAndUnchangedUpdatesAreRowsTheFilterSorts();

 private:
  // Two updates of alpha with its tree changed between them, then the view
  // opened from the View menu and its first read done.
  void UpdateTwiceAndOpen();
  void UpdateAlpha();
  CChangesView& View() const { return frame_->changesView(); }
  CChangesModel& Model() const { return *View().changesModel(); }
  // Site labels of the update rows.
  QStringList UpdateSites() const;
  // Column 0 of the newest update's entries.
  QStringList NewestEntries() const;
  QModelIndex EntryRow(const QString& text) const;
  void ClickEntry(const QString& text);
  // The Menu key on the current row, then the item of that object name
  // reached with the arrow keys and Enter.
  void ChooseFromMenu(const char* actionName);

  std::unique_ptr<CTempTree> served_;
  std::unique_ptr<CFtpServer> server_;
  std::unique_ptr<CTempTree> data_;
  std::unique_ptr<MessageRecorder> recorder_;
  std::unique_ptr<CMainFrame> frame_;
};

void ChangesViewTest::init() {
  QSettings().clear();
  served_ = std::make_unique<CTempTree>();
  served_->AddFile("pub/old.iso", "12345");
  served_->AddFile("pub/grow.bin", "12");
  served_->AddFile("pub/keep.txt", "k");
  server_ = StartServer(*served_);
  data_ = std::make_unique<CTempTree>();
  IDocumentHost quiet;
  COrvaneDoc doc(data_->path(), quiet);
  auto alpha = std::make_shared<CFTPSite>();
  alpha->host = server_->host();
  alpha->port = server_->port();
  alpha->userName = "anonymous";
  alpha->password = std::string(kAnonymousPassword);
  alpha->nickname = "alpha";
  doc.AppendSite(alpha);
  auto beta = std::make_shared<CFTPSite>();
  // Never contacted: no update of it runs.
  beta->host = "beta.example";
  beta->userName = "anonymous";
  beta->password = std::string(kAnonymousPassword);
  beta->nickname = "beta";
  doc.AppendSite(beta);
  if (!doc.SaveSiteList()) qFatal("cannot write site.ds");
  JournalRecord old;
  old.endTime = static_cast<std::int64_t>(std::time(nullptr)) - 3 * 86400;
  old.startTime = old.endTime - 10;
  old.added = 2;
  old.entries.push_back({JournalEntry::Kind::kAdded, false, std::string(kGbkName), 7, 0, 0});
  old.entries.push_back({JournalEntry::Kind::kAdded, false, std::string(kCellName), 1, 0, 0});
  const fs::path betaDir = beta->DataDirectory(data_->path());
  fs::create_directories(betaDir);
  WriteBytes(betaDir / kJournalFileName, RewriteJournal({}, {EncodeJournalRecord(old)}, {}));
  recorder_ = std::make_unique<MessageRecorder>();
  frame_ = StartFrame(data_->path());
  QVERIFY(QTest::qWaitForWindowActive(frame_.get()));
}

void ChangesViewTest::cleanup() {
  if (QWidget* popup = QApplication::activePopupWidget()) popup->close();
  frame_.reset();
  recorder_.reset();
  CDialogSeam::ClearHooks();
  server_.reset();
  served_.reset();
  data_.reset();
}

void ChangesViewTest::UpdateAlpha() {
  // beta has no server; only alpha is updated.
  frame_->dirView().SelectSite(frame_->doc().sites().front().get());
  frame_->Command(kCmdUpdate);
  QTRY_COMPARE_WITH_TIMEOUT(frame_->statusBar()->currentMessage(), QStringLiteral("更新完成"),
                            kWaitMs);
}

void ChangesViewTest::UpdateTwiceAndOpen() {
  STEP(UpdateAlpha());
  served_->AddFile("pub/new-movie.iso", "movie");
  served_->AddFile("pub/say \"hi\", ok.txt", "q");
  served_->Remove("pub/old.iso");
  served_->AddFile("pub/grow.bin", "123456");
  STEP(UpdateAlpha());
  QVERIFY(!frame_->findChild<QDockWidget*>(QStringLiteral("changesDock"))->isVisible());
  STEP(ChooseFromMenuBar(*frame_, frame_->action(kCmdChangesView)));
  auto* dock = frame_->findChild<QDockWidget*>(QStringLiteral("changesDock"));
  QTRY_VERIFY(dock->isVisible());
  QTRY_VERIFY_WITH_TIMEOUT(View().readsDone() > 0 && Model().rowCount() == 3, kWaitMs);
}

QStringList ChangesViewTest::UpdateSites() const {
  QStringList sites;
  for (int row = 0; row < Model().rowCount(); ++row) {
    sites << Model().index(row, CChangesModel::kSiteColumn).data().toString();
  }
  return sites;
}

QStringList ChangesViewTest::NewestEntries() const {
  QStringList texts;
  const QModelIndex newest = Model().index(0, 0);
  for (int row = 0; row < Model().rowCount(newest); ++row) {
    texts << Model().index(row, 0, newest).data().toString();
  }
  return texts;
}

QModelIndex ChangesViewTest::EntryRow(const QString& text) const {
  for (int up = 0; up < Model().rowCount(); ++up) {
    const QModelIndex parent = Model().index(up, 0);
    for (int row = 0; row < Model().rowCount(parent); ++row) {
      const QModelIndex index = Model().index(row, 0, parent);
      if (index.data().toString() == text) return index;
    }
  }
  return {};
}

void ChangesViewTest::ClickEntry(const QString& text) {
  QTreeView* tree = View().tree();
  const QModelIndex index = EntryRow(text);
  QVERIFY2(index.isValid(), qPrintable(text));
  tree->expand(index.parent());
  tree->scrollTo(index);
  QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualRect(index).center());
  QVERIFY(tree->selectionModel()->isSelected(index));
}

void ChangesViewTest::ChooseFromMenu(const char* actionName) {
  QTest::keyClick(View().tree(), Qt::Key_Menu);
  QTRY_VERIFY(qobject_cast<QMenu*>(QApplication::activePopupWidget()));
  auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
  auto* wanted = menu->findChild<QAction*>(QLatin1String(actionName));
  QVERIFY2(wanted, actionName);
  for (int step = 0; menu->activeAction() != wanted && step <= menu->actions().size(); ++step) {
    QTest::keyClick(menu, Qt::Key_Down);
  }
  QCOMPARE(menu->activeAction(), wanted);
  QTest::keyClick(menu, Qt::Key_Return);
  QTRY_VERIFY(!QApplication::activePopupWidget());
}

void ChangesViewTest::viewListsUpdatesAndFiltersHideRows() {
  STEP(UpdateTwiceAndOpen());
  // Checks every index, parent and row count through the resets below.
  QAbstractItemModelTester tester(&Model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
  // Newest first: the second update, the first crawl's summary, beta's.
  QCOMPARE(UpdateSites(),
           (QStringList{QStringLiteral("alpha"), QStringLiteral("alpha"), QStringLiteral("beta")}));
  QCOMPARE(Model().index(0, CChangesModel::kCountColumn).data().toString(),
           QStringLiteral("+2 −1 ~1"));
  QVERIFY(Model()
              .index(1, CChangesModel::kOutcomeColumn)
              .data()
              .toString()
              .contains(QStringLiteral("首次更新")));
  QCOMPARE(Model().rowCount(Model().index(1, 0)), 0);
  QStringList entries = NewestEntries();
  entries.sort();
  QCOMPARE(entries,
           (QStringList{QStringLiteral("+ /pub/new-movie.iso"),
                        QStringLiteral("+ /pub/say \"hi\", ok.txt"),
                        QStringLiteral("~ /pub/grow.bin"), QStringLiteral("− /pub/old.iso")}));
  const QModelIndex removed = EntryRow(QStringLiteral("− /pub/old.iso"));
  QVERIFY(removed.data(Qt::FontRole).value<QFont>().strikeOut());
  QCOMPARE(removed.siblingAtColumn(CChangesModel::kCountColumn).data().toString(),
           CFileListModel::FormatSize(5));
  // beta's name in code page 936 is shown decoded.
  QCOMPARE(Model().index(0, 0, Model().index(2, 0)).data().toString(),
           QStringLiteral("+ /你好.txt"));

  QTest::mouseClick(View().findChild<QCheckBox*>(QStringLiteral("changesRemovedCheck")),
                    Qt::LeftButton);
  QTRY_VERIFY(!EntryRow(QStringLiteral("− /pub/old.iso")).isValid());
  QCOMPARE(NewestEntries().size(), 3);
  // With a kind hidden, an update with nothing left to show goes too.
  QTest::mouseClick(View().findChild<QCheckBox*>(QStringLiteral("changesAddedCheck")),
                    Qt::LeftButton);
  QTRY_COMPARE(UpdateSites(), QStringList{QStringLiteral("alpha")});
  QCOMPARE(NewestEntries(), QStringList{QStringLiteral("~ /pub/grow.bin")});
  for (const char* name : {"changesRemovedCheck", "changesAddedCheck"}) {
    QTest::mouseClick(View().findChild<QCheckBox*>(QLatin1String(name)), Qt::LeftButton);
  }
  QTRY_COMPARE(Model().rowCount(), 3);

  // The site combo, stepped with the keyboard: all sites, alpha, beta.
  auto* sites = View().findChild<QComboBox*>(QStringLiteral("changesSiteCombo"));
  sites->setFocus(Qt::OtherFocusReason);
  QTest::keyClick(sites, Qt::Key_Down);
  QTRY_COMPARE(UpdateSites(), (QStringList{QStringLiteral("alpha"), QStringLiteral("alpha")}));
  QTest::keyClick(sites, Qt::Key_Down);
  QTRY_COMPARE(UpdateSites(), QStringList{QStringLiteral("beta")});
  QTest::keyClick(sites, Qt::Key_Up);
  QTest::keyClick(sites, Qt::Key_Up);
  QTRY_COMPARE(Model().rowCount(), 3);
  // "今天" leaves beta's update of three days ago out.
  auto* range = View().findChild<QComboBox*>(QStringLiteral("changesTimeCombo"));
  range->setFocus(Qt::OtherFocusReason);
  QTest::keyClick(range, Qt::Key_Down);
  QTRY_COMPARE(UpdateSites(), (QStringList{QStringLiteral("alpha"), QStringLiteral("alpha")}));
}

void ChangesViewTest::doubleClickShowsAddedEntryInItsFolder() {
  STEP(UpdateTwiceAndOpen());
  const QString added = QStringLiteral("+ /pub/new-movie.iso");
  STEP(ClickEntry(added));
  QTreeView* tree = View().tree();
  QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {},
                     tree->visualRect(EntryRow(added)).center());
  COrvaneView& list = frame_->fileView();
  QTRY_VERIFY(list.currentIndex().isValid());
  QCOMPARE(list.currentIndex().siblingAtColumn(0).data().toString(),
           QStringLiteral("new-movie.iso"));
  QVERIFY(list.selectionModel()->isRowSelected(list.currentIndex().row(), {}));
  QVERIFY(frame_->doc().currentNode);
  QCOMPARE(frame_->doc().currentNode->directory->name(), std::string_view("pub"));

  // beta's entry is in no catalog: the status bar says so (here through
  // the menu's "在文件夹中显示").
  const QString gone = QStringLiteral("+ /你好.txt");
  STEP(ClickEntry(gone));
  STEP(ChooseFromMenu("changesShowAction"));
  QTRY_VERIFY2(frame_->statusBar()->currentMessage().contains(QStringLiteral("你好.txt")),
               qPrintable(frame_->statusBar()->currentMessage()));
  QCOMPARE(frame_->doc().currentNode->directory->name(), std::string_view("pub"));
}

void ChangesViewTest::copyKeyCopiesRemovedEntryAddress() {
  STEP(UpdateTwiceAndOpen());
  QGuiApplication::clipboard()->setText(QStringLiteral("before"));
  STEP(ClickEntry(QStringLiteral("− /pub/old.iso")));
  QTest::keyClick(View().tree(), Qt::Key_C, Qt::ControlModifier);
  QTRY_COMPARE(QGuiApplication::clipboard()->text(),
               QStringLiteral("ftp://127.0.0.1:%1/pub/old.iso").arg(server_->port()));
  STEP(ClickEntry(QStringLiteral("~ /pub/grow.bin")));
  STEP(ChooseFromMenu("changesCopyAction"));
  QTRY_COMPARE(QGuiApplication::clipboard()->text(),
               QStringLiteral("ftp://127.0.0.1:%1/pub/grow.bin").arg(server_->port()));
}

void ChangesViewTest::exportWritesCsvAndJson() {
  STEP(UpdateTwiceAndOpen());
  // Removed entries hidden: the export holds what is shown.
  QTest::mouseClick(View().findChild<QCheckBox*>(QStringLiteral("changesRemovedCheck")),
                    Qt::LeftButton);
  QTRY_VERIFY(!EntryRow(QStringLiteral("− /pub/old.iso")).isValid());
  auto* button = View().findChild<QPushButton*>(QStringLiteral("changesExportButton"));
  const fs::path csvPath = data_->path() / "changes.csv";
  const fs::path jsonPath = data_->path() / "changes.json";
  // CSV through the button, JSON through the tree's menu.
  for (const fs::path& path : {csvPath, jsonPath}) {
    CDialogSeam::SetFileHook(
        [path](QFileDialog&) { return QString::fromStdString(path.string()); });
    if (path == csvPath) {
      QTest::mouseClick(button, Qt::LeftButton);
    } else {
      STEP(ClickEntry(QStringLiteral("~ /pub/grow.bin")));
      STEP(ChooseFromMenu("changesExportAction"));
    }
    QTRY_VERIFY(fs::exists(path));
  }

  const QString csv = QString::fromUtf8(QByteArray::fromStdString(ReadBytes(csvPath)));
  const QList<QStringList> records = ParseCsv(csv);
  // Header, three entries of the newest update and beta's two; the first
  // crawl's summary has no entry of the kinds shown. No name adds a cell.
  QVERIFY2(records.size() == 6, qPrintable(csv));
  QCOMPARE(records[0].mid(0, 2), (QStringList{QStringLiteral("time"), QStringLiteral("site")}));
  QHash<QString, QStringList> byPath;
  for (const QStringList& record : records) {
    QCOMPARE(record.size(), 14);
    byPath[record[8]] = record;
  }
  QCOMPARE(byPath[QStringLiteral("/pub/say \"hi\", ok.txt")][7], QStringLiteral("added"));
  QCOMPARE(byPath[QStringLiteral("/pub/grow.bin")].mid(7, 5),
           (QStringList{QStringLiteral("resized"), QStringLiteral("/pub/grow.bin"),
                        QStringLiteral("0"), QStringLiteral("6"), QStringLiteral("2")}));
  QVERIFY(
      byPath[QStringLiteral("/pub/grow.bin")][13].startsWith(QStringLiteral("ftp://127.0.0.1:")));
  QVERIFY(byPath.contains(QStringLiteral("/你好.txt")));
  QCOMPARE(byPath[QString::fromUtf8(kCellName)][13],
           QStringLiteral("ftp://beta.example:21/x,=1+2*3"));
  QVERIFY(!csv.contains(QStringLiteral("old.iso")));

  const std::string json = ReadBytes(jsonPath);
  // A readable path and the code page bytes as they are, one escape each:
  // what orvane-cli changes --json writes.
  QVERIFY2(json.find(R"("path": "/你好.txt", "rawPath": "/\udcc4\udce3\udcba\udcc3.txt")") !=
               std::string::npos,
           json.c_str());
  QJsonParseError error;
  const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(json), &error);
  QCOMPARE(error.error, QJsonParseError::NoError);
  const QJsonArray updates = document.array();
  QCOMPARE(updates.size(), 2);
  const QJsonArray entries = updates[0].toObject()[QStringLiteral("entries")].toArray();
  QCOMPARE(entries.size(), 3);
  QStringList kinds;
  for (const QJsonValue& entry : entries) kinds << entry[QStringLiteral("kind")].toString();
  kinds.sort();
  QCOMPARE(kinds, (QStringList{QStringLiteral("added"), QStringLiteral("added"),
                               QStringLiteral("resized")}));
  QCOMPARE(updates[1].toObject()[QStringLiteral("key")].toString(), QStringLiteral("beta.example"));
}

void ChangesViewTest::watchWordsHighlightMatchingEntries() {
  STEP(UpdateTwiceAndOpen());
  const QString movie = QStringLiteral("+ /pub/new-movie.iso");
  QVERIFY(!EntryRow(movie).data(CChangesModel::kWatchedRole).toBool());
  CDialogSeam::SetDialogHook([](QDialog& dialog) {
    dialog.findChild<QPlainTextEdit*>(QStringLiteral("watchWordsEdit"))
        ->setPlainText(QStringLiteral("  MOVIE \n\n*.nothing\n"));
    dialog.findChild<QPushButton*>(QStringLiteral("okButton"))->click();
    return dialog.result();
  });
  // The offscreen platform leaves the View menu's closed popup active.
  frame_->activateWindow();
  QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget*>(frame_.get()));
  STEP(ChooseFromMenuBar(*frame_, frame_->action(kCmdWatchWords)));
  QCOMPARE(QSettings().value(QStringLiteral("changes/watchWords")).toStringList(),
           (QStringList{QStringLiteral("MOVIE"), QStringLiteral("*.nothing")}));
  QTRY_VERIFY_WITH_TIMEOUT(EntryRow(movie).data(CChangesModel::kWatchedRole).toBool(), kWaitMs);
  const QModelIndex row = EntryRow(movie);
  QVERIFY(row.data(Qt::FontRole).value<QFont>().bold());
  QVERIFY(row.data(Qt::BackgroundRole).isValid());
  QVERIFY(!EntryRow(QStringLiteral("~ /pub/grow.bin")).data(CChangesModel::kWatchedRole).toBool());
  QVERIFY(Model()
              .index(0, CChangesModel::kCountColumn)
              .data()
              .toString()
              .endsWith(QStringLiteral("关注 1")));

  // The dock's own button edits the same list: emptied, nothing stands out.
  CDialogSeam::SetDialogHook([](QDialog& dialog) {
    dialog.findChild<QPlainTextEdit*>(QStringLiteral("watchWordsEdit"))->clear();
    dialog.findChild<QPushButton*>(QStringLiteral("okButton"))->click();
    return dialog.result();
  });
  QTest::mouseClick(View().findChild<QPushButton*>(QStringLiteral("changesWatchButton")),
                    Qt::LeftButton);
  QTRY_VERIFY_WITH_TIMEOUT(!EntryRow(movie).data(CChangesModel::kWatchedRole).toBool(), kWaitMs);
  QVERIFY(QSettings().value(QStringLiteral("changes/watchWords")).toStringList().isEmpty());

  // Reached by name, as a notification's click reaches it.
  frame_->findChild<QDockWidget*>(QStringLiteral("changesDock"))->hide();
  QVERIFY(QMetaObject::invokeMethod(frame_.get(), "ShowChangesView"));
  QTRY_VERIFY(frame_->findChild<QDockWidget*>(QStringLiteral("changesDock"))->isVisible());
}

void ChangesViewTest::viewFollowsUpdatesHereAndElsewhere() {
  STEP(UpdateTwiceAndOpen());
  // Worked through as a person does: the newest update open, an entry
  // selected, and scrolled so that entry is the top row.
  QTreeView* tree = View().tree();
  tree->setMaximumHeight(4 * tree->sizeHintForRow(0) + tree->header()->height());
  STEP(ClickEntry(QStringLiteral("~ /pub/grow.bin")));
  QTRY_VERIFY(tree->verticalScrollBar()->maximum() > 0);
  tree->scrollTo(EntryRow(QStringLiteral("~ /pub/grow.bin")), QAbstractItemView::PositionAtTop);
  const auto topText = [tree] { return tree->indexAt(QPoint(1, 1)).data().toString(); };
  QCOMPARE(topText(), QStringLiteral("~ /pub/grow.bin"));
  // A third update from this window, the view open: a new row above, and
  // what was open, selected and on top stays so.
  served_->AddFile("pub/third.txt", "3");
  const int reads = View().readsDone();
  STEP(UpdateAlpha());
  QTRY_COMPARE_WITH_TIMEOUT(Model().rowCount(), 4, kWaitMs);
  QTRY_VERIFY(View().readsDone() > reads);
  const QModelIndex kept = EntryRow(QStringLiteral("~ /pub/grow.bin"));
  QVERIFY(tree->isExpanded(kept.parent()));
  QVERIFY(tree->selectionModel()->isSelected(kept));
  QCOMPARE(tree->currentIndex(), kept);
  QCOMPARE(topText(), QStringLiteral("~ /pub/grow.bin"));
  tree->setMaximumHeight(QWIDGETSIZE_MAX);
  QCOMPARE(NewestEntries(), QStringList{QStringLiteral("+ /pub/third.txt")});
  // Another process commits beta's journal anew: a file renamed into place.
  JournalRecord record;
  record.endTime = static_cast<std::int64_t>(std::time(nullptr)) + 60;
  record.startTime = record.endTime - 1;
  record.removed = 1;
  record.entries.push_back({JournalEntry::Kind::kRemoved, false, "/gone.txt", 3, 0, 0});
  const fs::path betaDir = frame_->doc().sites().back()->DataDirectory(data_->path());
  const std::string old = ReadBytes(betaDir / kJournalFileName);
  WriteBytes(betaDir / "changes.tmp", RewriteJournal(old, {EncodeJournalRecord(record)}, {}));
  fs::rename(betaDir / "changes.tmp", betaDir / kJournalFileName);
  QTRY_COMPARE_WITH_TIMEOUT(Model().rowCount(), 5, kWaitMs);
  QCOMPARE(NewestEntries(), QStringList{QStringLiteral("− /gone.txt")});
}

void ChangesViewTest::failedAndUnchangedUpdatesAreRowsTheFilterSorts() {
  STEP(UpdateTwiceAndOpen());
  // An update that changes nothing is hidden while the box is checked.
  auto* hide = View().findChild<QCheckBox*>(QStringLiteral("changesHideUnchangedCheck"));
  QVERIFY(hide->isChecked());
  int reads = View().readsDone();
  STEP(UpdateAlpha());
  QTRY_VERIFY_WITH_TIMEOUT(View().readsDone() > reads, kWaitMs);
  QCOMPARE(Model().rowCount(), 3);
  QTest::mouseClick(hide, Qt::LeftButton);
  QTRY_COMPARE(Model().rowCount(), 4);
  QCOMPARE(Model().index(0, CChangesModel::kCountColumn).data().toString(),
           QStringLiteral("+0 −0 ~0"));
  QTest::mouseClick(hide, Qt::LeftButton);
  QTRY_COMPARE(Model().rowCount(), 3);
  QCOMPARE(QSettings().value(QLatin1String(CChangesView::kHideUnchangedKey)).toBool(), true);

  // The server gone: the update that cannot connect is a row, with why.
  server_.reset();
  reads = View().readsDone();
  frame_->dirView().SelectSite(frame_->doc().sites().front().get());
  frame_->Command(kCmdUpdate);
  QTRY_VERIFY_WITH_TIMEOUT(frame_->statusBar()->currentMessage().contains(QStringLiteral("失败")),
                           kWaitMs);
  QTRY_COMPARE_WITH_TIMEOUT(Model().rowCount(), 4, kWaitMs);
  QCOMPARE(UpdateSites().front(), QStringLiteral("alpha"));
  const QString outcome = Model().index(0, CChangesModel::kOutcomeColumn).data().toString();
  QVERIFY2(outcome.startsWith(QStringLiteral("失败：连接被拒绝")), qPrintable(outcome));
}

QTEST_MAIN(ChangesViewTest)
#include "changes_view_test.moc"
