// The find bar: Ctrl+K, typing, the hits in the list, Enter, Esc, export,
// and hits that follow another process's commit without retyping.
#include <QCoreApplication>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QStatusBar>
#include <QToolButton>
#include <QUrl>

#include "catalog/ftp_dir.h"
#include "catalog/ftp_file.h"
#include "frame/find_bar.h"
#include "tests/frame/frame_fixture.h"
#include "views/file_list_model.h"

using namespace orvane;
using namespace orvane::test;
namespace fs = std::filesystem;

namespace {

constexpr char kHost[] = "files.example";

// Writes the site's catalog as an update of another process would.
void WriteCatalog(const fs::path& dataDir, const std::vector<std::string>& files) {
  CFTPSite site;
  site.host = kHost;
  site.userName = "anonymous";
  site.password = std::string(kAnonymousPassword);
  CFTPDir* films = site.rootDir->AddSubdir(std::make_unique<CFTPDir>("电影", 1));
  films->AddFile(CFTPFile::Make("電影 one.mkv", 2048));
  CFTPDir* docs = site.rootDir->AddSubdir(std::make_unique<CFTPDir>("docs"));
  for (const std::string& name : files) docs->AddFile(CFTPFile::Make(name, 10));
  if (!site.SaveCatalogAndState(dataDir)) qFatal("cannot write the catalog");
}

// Chinese arrives as an input method's commit, as it does when typed.
void TypeCommitted(QLineEdit* edit, const QString& text) {
  QInputMethodEvent commit;
  commit.setCommitString(text);
  QCoreApplication::sendEvent(edit, &commit);
}

QStringList ListNames(COrvaneView& list) {
  QStringList names;
  const QAbstractItemModel& model = *list.model();
  for (int row = 0; row < model.rowCount(); ++row) {
    names << model.index(row, CFileListModel::kNameColumn).data().toString();
  }
  return names;
}

}  // namespace

class FindBarTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    data_ = std::make_unique<CTempTree>();
    WriteSiteList(data_->path(), {{kHost}});
    WriteCatalog(data_->path(), {"readme.txt", "=sum(A1).txt", "notes.txt"});
    frame_ = StartFrame(data_->path());
    QVERIFY(QTest::qWaitForWindowActive(frame_.get()));
    edit_ = frame_->findChild<QLineEdit*>(QStringLiteral("findEdit"));
    QVERIFY(edit_);
    QVERIFY(!edit_->isVisible());
    QTest::keyClick(frame_.get(), Qt::Key_K, Qt::ControlModifier);
    QTRY_VERIFY(edit_->hasFocus());
  }
  void cleanup() {
    frame_.reset();
    data_.reset();
    CDialogSeam::ClearHooks();
  }
  void typingListsHitsAndEscBrowsesAgain();
  void enterOpensTheHit();
  void exportWritesCellsASpreadsheetKeepsAsText();
  void hitsFollowAnotherProcessesCommit();
  void escBeforeTheAnswerKeepsBrowsing();

 private:
  std::unique_ptr<CTempTree> data_;
  std::unique_ptr<CMainFrame> frame_;
  QLineEdit* edit_ = nullptr;
};

void FindBarTest::typingListsHitsAndEscBrowsesAgain() {
  COrvaneView& list = frame_->fileView();
  // Traditional typed, Simplified and Traditional names found.
  TypeCommitted(edit_, QStringLiteral("電影"));
  QTRY_COMPARE(ListNames(list),
               (QStringList{QStringLiteral("电影"), QStringLiteral("電影 one.mkv")}));
  QVERIFY(frame_->resultMode());
  QTRY_COMPARE(frame_->windowTitle(), QStringLiteral("查找: 電影 - Orvane"));
  // The byte total comes with the worker's hits.
  QTRY_COMPARE(frame_->statusBar()->findChild<QLabel*>(QStringLiteral("listSummary"))->text(),
               QStringLiteral("2 项，共 2.00K"));
  QTest::keyClicks(edit_, QStringLiteral(" file:"));
  QTRY_COMPARE(ListNames(list), QStringList{QStringLiteral("電影 one.mkv")});
  // A query that cannot be parsed says where, and leaves the hits.
  QTest::keyClicks(edit_, QStringLiteral(" ("));
  auto* status = frame_->findChild<QLabel*>(QStringLiteral("findStatus"));
  QTRY_VERIFY2(status->text().startsWith(QStringLiteral("第 11 列")), qPrintable(status->text()));
  QCOMPARE(ListNames(list), QStringList{QStringLiteral("電影 one.mkv")});

  QTest::keyClick(edit_, Qt::Key_Escape);
  QVERIFY(!edit_->isVisible());
  QVERIFY(!frame_->resultMode());
  // Nothing was browsed before: the list greets again.
  QCOMPARE(list.model()->rowCount(), CFileListModel::kWelcomeRows);
}

void FindBarTest::enterOpensTheHit() {
  QStringList opened;
  CDialogSeam::SetUrlHook([&opened](const QUrl& url) {
    opened << url.toString();
    return true;
  });
  QTest::keyClicks(edit_, QStringLiteral("README"));
  QTRY_COMPARE(ListNames(frame_->fileView()), QStringList{QStringLiteral("readme.txt")});
  QTest::keyClick(edit_, Qt::Key_Return);
  QTRY_COMPARE(opened.size(), 1);
  QVERIFY2(opened.front().endsWith(QLatin1String("/docs/readme.txt")), qPrintable(opened.front()));
}

void FindBarTest::exportWritesCellsASpreadsheetKeepsAsText() {
  QTest::keyClicks(edit_, QStringLiteral("ext:txt -notes"));
  QTRY_COMPARE(ListNames(frame_->fileView()).size(), 2);
  const fs::path csv = data_->path() / "hits.csv";
  const fs::path json = data_->path() / "hits.json";
  for (const fs::path& path : {csv, json}) {
    CDialogSeam::SetFileHook(
        [&path](QFileDialog&) { return QString::fromStdString(path.string()); });
    QTest::mouseClick(frame_->findChild<QToolButton*>(QStringLiteral("findExport")),
                      Qt::LeftButton);
  }
  QCOMPARE(ReadBytes(csv),
           std::string("site,path,name,type,size,new\r\n"
                       "files.example,/docs/readme.txt,readme.txt,file,10,0\r\n"
                       "files.example,/docs/=sum(A1).txt,'=sum(A1).txt,file,10,0\r\n"));
  QCOMPARE(
      ReadBytes(json),
      std::string("[\n {\"site\": \"files.example\", \"path\": \"/docs/readme.txt\", \"type\": "
                  "\"file\", \"size\": 10, \"new\": false},\n {\"site\": \"files.example\", "
                  "\"path\": \"/docs/=sum(A1).txt\", \"type\": \"file\", \"size\": 10, "
                  "\"new\": false}\n]\n"));
}

// The answer is worked out on a worker; Esc stops it, and an answer it
// had already sent is not shown over the browsing list.
void FindBarTest::escBeforeTheAnswerKeepsBrowsing() {
  QTest::keyClicks(edit_, QStringLiteral("readme"));
  QTest::keyClick(edit_, Qt::Key_Escape);
  QVERIFY(!frame_->findBar()->answering());
  // Whatever the stopped worker posted is delivered now.
  QCoreApplication::sendPostedEvents();
  QCoreApplication::processEvents();
  QVERIFY(!frame_->resultMode());
  QCOMPARE(frame_->fileView().model()->rowCount(), CFileListModel::kWelcomeRows);
}

void FindBarTest::hitsFollowAnotherProcessesCommit() {
  QTest::keyClicks(edit_, QStringLiteral("ext:txt"));
  QTRY_COMPARE(ListNames(frame_->fileView()).size(), 3);
  WriteCatalog(data_->path(), {"readme.txt", "added.txt"});
  QTRY_COMPARE_WITH_TIMEOUT(
      ListNames(frame_->fileView()),
      (QStringList{QStringLiteral("readme.txt"), QStringLiteral("added.txt")}), kWaitMs);
  QCOMPARE(edit_->text(), QStringLiteral("ext:txt"));
}

QTEST_MAIN(FindBarTest)
#include "find_bar_test.moc"
