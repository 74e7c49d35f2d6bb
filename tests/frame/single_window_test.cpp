// One window per data directory: a second start of the real program, by
// any path to the same directory, hands its address to the window open
// there and ends; the window shows the address.
#include <QProcess>
#include <QTest>
#include <filesystem>
#include <memory>

#include "frame/instance_server.h"
#include "frame/site_dlg.h"
#include "tests/frame/frame_fixture.h"
#include "views/file_list_model.h"
#include "views/orvane_view.h"

using namespace orvane;
using namespace orvane::test;
namespace fs = std::filesystem;

namespace {

// a.example: pub/docs/readme.txt and pub/文档 (its name stored as code page
// 936 bytes); b.example@bob without a catalog.
void WriteSites(const fs::path& dir) {
  IDocumentHost quiet;
  COrvaneDoc doc(dir, quiet);
  auto a = std::make_shared<CFTPSite>();
  a->host = "a.example";
  a->userName = "anonymous";
  a->password = std::string(kAnonymousPassword);
  CFTPDir* pub = a->rootDir->AddSubdir(std::make_unique<CFTPDir>("pub"));
  pub->AddSubdir(std::make_unique<CFTPDir>("docs"))->AddFile(CFTPFile::Make("readme.txt", 7));
  pub->AddSubdir(std::make_unique<CFTPDir>("\xCE\xC4\xB5\xB5"))
      ->AddFile(CFTPFile::Make("gbk.txt", 1));
  if (!a->SaveCatalogAndState(dir)) qFatal("cannot write a catalog");
  doc.AppendSite(a);
  auto b = std::make_shared<CFTPSite>();
  b->host = "b.example";
  b->userName = "bob";
  b->password = "secret";
  doc.AppendSite(b);
  if (!doc.SaveSiteList()) qFatal("cannot write site.ds");
}

QStringList Rows(const COrvaneView& view) {
  QStringList rows;
  for (int row = 0; row < view.listModel()->rowCount(); ++row) {
    rows << view.listModel()->index(row, 0).data().toString();
  }
  return rows;
}

// The row selected in the list, or empty.
QString SelectedRow(const COrvaneView& view) {
  const QModelIndex current = view.currentIndex();
  return current.isValid() && view.selectionModel()->isSelected(current) ? current.data().toString()
                                                                         : QString();
}

}  // namespace

class SingleWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    dir_ = std::make_unique<CTempTree>();
    fs::create_directory(dir_->path() / "data");
    WriteSites(dir_->path() / "data");
    fs::create_directory_symlink(dir_->path() / "data", dir_->path() / "link");
    frame_ = StartFrame(dir_->path() / "data");
    server_ = std::make_unique<CInstanceServer>(dir_->path() / "data");
    QVERIFY(!server_->otherWindow());
    connect(server_.get(), &CInstanceServer::addressReceived, frame_.get(),
            &CMainFrame::ShowAddress);
    dialogs_ = 0;
    CDialogSeam::SetDialogHook([this](QDialog&) {
      ++dialogs_;
      return int(QDialog::Rejected);
    });
  }
  void cleanup() {
    CDialogSeam::ClearHooks();
    server_.reset();
    frame_.reset();
    dir_.reset();
  }
  void secondStartShowsTheAddressInTheOpenWindow_data();
  void secondStartShowsTheAddressInTheOpenWindow();
  void addressOfAnUnknownSiteOpensTheNewSiteDialogFilledIn();

 private:
  // The real program started again on the data directory (through
  // `dirName`) with `address`: it ends at once with status 0.
  void StartAgain(const char* dirName, const QString& address) {
    QProcess second;
    second.setProcessChannelMode(QProcess::ForwardedChannels);
    QStringList args{QStringLiteral("--no-splash"), QStringLiteral("--data-dir"),
                     QString::fromStdString((dir_->path() / dirName).string())};
    if (!address.isEmpty()) args << address;
    second.start(QString::fromUtf8(qgetenv("ORVANE_TEST_BIN")) + QStringLiteral("/app/orvane"),
                 args);
    // The window answers from this event loop.
    QTRY_VERIFY_WITH_TIMEOUT(second.state() == QProcess::NotRunning, kWaitMs);
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
  }

  MessageRecorder recorder_;
  int dialogs_ = 0;
  std::unique_ptr<CTempTree> dir_;
  std::unique_ptr<CMainFrame> frame_;
  std::unique_ptr<CInstanceServer> server_;
};

void SingleWindowTest::secondStartShowsTheAddressInTheOpenWindow_data() {
  QTest::addColumn<QString>("dirName");
  QTest::addColumn<QString>("address");
  QTest::addColumn<QStringList>("rows");
  QTest::addColumn<QString>("selected");
  QTest::newRow("nothing: the window only comes forward")
      << "data" << QString() << QStringList{} << QString();
  QTest::newRow("a directory") << "data"
                               << "ftp://a.example/pub/docs"
                               << QStringList{QStringLiteral("readme.txt")} << QString();
  QTest::newRow("a file, through another path to the directory")
      << "link"
      << "ftps://a.example/pub/docs/readme.txt" << QStringList{QStringLiteral("readme.txt")}
      << "readme.txt";
  QTest::newRow("a stored name spelled in UTF-8")
      << "data"
      << "sftp://anonymous@A.EXAMPLE:22/pub/%E6%96%87%E6%A1%A3/"
      << QStringList{QStringLiteral("gbk.txt")} << QString();
  QTest::newRow("as far as the catalog goes")
      << "data"
      << "ftp://a.example/pub/docs/later/x" << QStringList{QStringLiteral("readme.txt")}
      << QString();
}

void SingleWindowTest::secondStartShowsTheAddressInTheOpenWindow() {
  QFETCH(QString, dirName);
  QFETCH(QString, address);
  QFETCH(QStringList, rows);
  QFETCH(QString, selected);
  const QStringList before = Rows(frame_->fileView());
  STEP(StartAgain(dirName.toUtf8().constData(), address));
  if (rows.isEmpty()) {
    QCOMPARE(Rows(frame_->fileView()), before);
    return;
  }
  QTRY_COMPARE_WITH_TIMEOUT(Rows(frame_->fileView()), rows, kWaitMs);
  QCOMPARE(SelectedRow(frame_->fileView()), selected);
  QCOMPARE(dialogs_, 0);
}

void SingleWindowTest::addressOfAnUnknownSiteOpensTheNewSiteDialogFilledIn() {
  QString host, user;
  std::uint32_t port = 0;
  CDialogSeam::SetDialogHook([&](QDialog& dialog) {
    auto& site = dynamic_cast<CSiteDlg&>(dialog);
    host = QString::fromStdString(site.Host());
    user = QString::fromStdString(site.UserName());
    port = site.Port();
    return int(QDialog::Rejected);
  });
  // b.example has a site, but for bob, not carol.
  STEP(StartAgain("data", QStringLiteral("ftp://carol@b.example:2121/pub")));
  QTRY_COMPARE_WITH_TIMEOUT(host, QStringLiteral("b.example"), kWaitMs);
  QCOMPARE(user, QStringLiteral("carol"));
  QCOMPARE(port, 2121u);
  QCOMPARE(frame_->doc().sites().size(), std::size_t{2});
}

QTEST_MAIN(SingleWindowTest)
#include "single_window_test.moc"
