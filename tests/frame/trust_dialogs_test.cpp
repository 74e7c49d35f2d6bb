// How a site is reached, through the window: the site dialog's protocol,
// start directory and key file, and the certificate dialog an update
// offers when a server's key is not trusted. Typed and clicked as a
// person does.
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include "catalog/site_options.h"
#include "frame/certificate_dlg.h"
#include "frame/frame_views.h"
#include "tests/frame/frame_fixture.h"
#include "tests/support/closed_port.h"
#include "tests/support/ftp_server.h"
#include "tests/support/test_certificate.h"
#include "tests/views/shown_tip.h"
#include "update/update_engine.h"
#include "views/dir_tree_model.h"

using namespace orvane;
using namespace orvane::test;
namespace fs = std::filesystem;

namespace {

constexpr char kOld[] = "SHA256:47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU";
constexpr char kNew[] = "SHA256:ypeBEsobvcr6wjGzmiPcTaeG7/gUfE5yuYB3ha/uSLs";

template <typename Widget>
Widget* Child(QDialog& dialog, const char* name) {
  auto* widget = dialog.findChild<Widget*>(QLatin1String(name));
  if (!widget) qFatal("no %s", name);
  return widget;
}

void Retype(QLineEdit* edit, const QString& text) {
  edit->setFocus();
  edit->selectAll();
  QTest::keyClick(edit, Qt::Key_Backspace);
  QTest::keyClicks(edit, text);
}

SiteAccess OnDisk(const fs::path& dir, const std::string& key) {
  const SiteOptionsRead read = ReadSiteOptions(dir);
  const SiteOptions* options = read.list.Find(key);
  return options ? options->access : SiteAccess{};
}

}  // namespace

class TrustDialogsTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { dir_ = std::make_unique<CTempTree>(); }
  void cleanup() {
    frame_.reset();
    CDialogSeam::ClearHooks();
    dir_.reset();
  }
  void dialogSetsProtocolStartDirectoryAndKeyFile();
  void changedKeyIsRejectedByEnterAndAcceptedByItsButton();
  void untrustedServerIsAcceptedInTheDialogAndUpdated();

 private:
  std::unique_ptr<CTempTree> dir_;
  std::unique_ptr<CMainFrame> frame_;
};

void TrustDialogsTest::dialogSetsProtocolStartDirectoryAndKeyFile() {
  frame_ = StartFrame(dir_->path());
  MessageRecorder recorder;
  const fs::path key = dir_->path() / "id_ed25519";
  WriteBytes(key, "key");
  QStringList warnings;
  bool keyFileWasOff = false;
  QString sftpPort;
  CDialogSeam::SetFileHook([&](QFileDialog&) { return QString::fromStdString(key.string()); });
  CDialogSeam::SetDialogHook([&](QDialog& dialog) -> int {
    auto* protocol = Child<QComboBox>(dialog, "protocolCombo");
    auto* port = Child<QLineEdit>(dialog, "portEdit");
    keyFileWasOff = !Child<QPushButton>(dialog, "keyFileButton")->isEnabled();
    QTest::keyClicks(Child<QLineEdit>(dialog, "hostEdit"), QStringLiteral("h.example"));
    // Down to SFTP: the default port follows the protocol.
    protocol->setFocus();
    for (int i = 0; i < 3; ++i) QTest::keyClick(protocol, Qt::Key_Down);
    sftpPort = port->text();
    QTest::mouseClick(Child<QPushButton>(dialog, "keyFileButton"), Qt::LeftButton);
    auto* start = Child<QLineEdit>(dialog, "startDirEdit");
    // A start directory that is none keeps the dialog open.
    Retype(start, QStringLiteral("pub"));
    QTest::mouseClick(Child<QPushButton>(dialog, "okButton"), Qt::LeftButton);
    warnings = recorder.texts();
    Retype(start, QStringLiteral("//pub//x/"));
    QTest::mouseClick(Child<QPushButton>(dialog, "okButton"), Qt::LeftButton);
    return dialog.result();
  });
  frame_->Command(kCmdAddSite);
  QCOMPARE(sftpPort, QStringLiteral("22"));
  QCOMPARE(warnings.size(), 1);
  QVERIFY(keyFileWasOff);
  QCOMPARE(frame_->doc().sites().size(), std::size_t{1});
  const SiteAccess stored = OnDisk(dir_->path(), frame_->doc().sites()[0]->siteKey());
  QCOMPARE(int(stored.protocol), int(SiteProtocol::kSftp));
  QCOMPARE(stored.startDir, std::string("/pub/x"));
  QCOMPARE(stored.keyFile, key.string());
  QCOMPARE(frame_->doc().sites()[0]->ConnectionPort(), std::uint16_t{22});
}

void TrustDialogsTest::changedKeyIsRejectedByEnterAndAcceptedByItsButton() {
  CClosedPort closed;
  QVERIFY(closed.port() != 0);
  {
    IDocumentHost quiet;
    COrvaneDoc doc(dir_->path(), quiet);
    auto site = std::make_shared<CFTPSite>();
    site->host = "127.0.0.1";
    site->userName = "bob";
    site->password = "pw";
    site->port = closed.port();
    site->SetAccess({SiteProtocol::kFtps, "/", "", kOld});
    doc.AppendSite(site);
    QVERIFY(doc.SaveSiteList());
  }
  frame_ = StartFrame(dir_->path());
  MessageRecorder recorder;
  const std::shared_ptr<CFTPSite> site = frame_->doc().sites().front();
  PresentedKey presented;
  presented.fingerprint = kNew;
  presented.pinned = kOld;
  presented.details = "subject: CN=127.0.0.1\nissuer: CN=127.0.0.1\n";
  presented.problem = "self-signed";

  // The window learns of the failure as it learns of any status.
  QStringList shown;
  int asked = 0;
  CDialogSeam::SetDialogHook([&](QDialog& dialog) {
    ++asked;
    shown << static_cast<CCertificateDlg&>(dialog).DetailsText();
    QTest::keyClick(&dialog, Qt::Key_Return);
    return dialog.result();
  });
  site->SetUntrusted(presented, "untrusted");
  frame_->engineListener().PostSiteStatus(site);
  QTRY_COMPARE_WITH_TIMEOUT(asked, 1, kWaitMs);
  QVERIFY2(
      shown.front().contains(QLatin1String(kNew)) && shown.front().contains(QLatin1String(kOld)),
      qPrintable(shown.front()));
  QCOMPARE(OnDisk(dir_->path(), "127.0.0.1@bob").pin, std::string(kOld));
  QCOMPARE(int(site->Status().failure), int(SiteStatus::Failure::kUntrusted));

  CDialogSeam::SetDialogHook([&](QDialog& dialog) {
    ++asked;
    QTest::mouseClick(Child<QPushButton>(dialog, "acceptButton"), Qt::LeftButton);
    return dialog.result();
  });
  frame_->engineListener().PostSiteStatus(site);
  QTRY_COMPARE_WITH_TIMEOUT(asked, 2, kWaitMs);
  QCOMPARE(OnDisk(dir_->path(), "127.0.0.1@bob").pin, std::string(kNew));
  // Updated again at once: the closed port fails it for another reason.
  QTRY_VERIFY_WITH_TIMEOUT(site->Status().failure == SiteStatus::Failure::kRefused, kWaitMs);
  const QString tip =
      ShownTip(frame_->dirView().treeModel()->FindItem(site->rootDir.get()).data(Qt::ToolTipRole));
  QVERIFY2(tip.contains(QLatin1String(kNew)), qPrintable(tip));
}

// A real TLS server with a certificate of its own making: the update stops
// before the login and shows the certificate; accepted by its button, the
// key is pinned and the site updated from the server.
void TrustDialogsTest::untrustedServerIsAcceptedInTheDialogAndUpdated() {
  CTempTree served;
  served.AddFile("pub/readme.txt", "hello");
  const TestCertificate certificate = MakeTestCertificate(served.path(), "server");
  QVERIFY(!certificate.fingerprint.empty());
  VsftpdOptions options;
  options.tls = FtpTls::kExplicit;
  options.certificate = certificate;
  auto started = CFtpServer::StartVsftpd(served.path() / "pub", options);
  if (started.unavailable) QSKIP(started.error.c_str());
  QVERIFY2(started.server, started.error.c_str());
  {
    IDocumentHost quiet;
    COrvaneDoc doc(dir_->path(), quiet);
    auto site = std::make_shared<CFTPSite>();
    site->host = "127.0.0.1";
    site->userName = "anonymous";
    site->password = std::string(kAnonymousPassword);
    site->port = started.server->port();
    site->SetAccess({SiteProtocol::kFtpes, "/", "", ""});
    doc.AppendSite(site);
    QVERIFY(doc.SaveSiteList());
  }
  frame_ = StartFrame(dir_->path());
  MessageRecorder recorder;
  const std::shared_ptr<CFTPSite> site = frame_->doc().sites().front();
  QString shown;
  std::vector<std::string> commandsWhenAsked;
  CDialogSeam::SetDialogHook([&](QDialog& dialog) {
    shown = static_cast<CCertificateDlg&>(dialog).DetailsText();
    commandsWhenAsked = started.server->Commands();
    QTest::mouseClick(Child<QPushButton>(dialog, "acceptButton"), Qt::LeftButton);
    return dialog.result();
  });
  frame_->Command(kCmdUpdateAll);
  QTRY_VERIFY_WITH_TIMEOUT(site->Status().outcome == SiteStatus::Outcome::kSucceeded, kWaitMs);
  QVERIFY2(shown.contains(QString::fromStdString(certificate.fingerprint)), qPrintable(shown));
  QVERIFY(!commandsWhenAsked.empty());
  for (const std::string& command : commandsWhenAsked) {
    QVERIFY2(!command.starts_with("USER") && !command.starts_with("PASS"), command.c_str());
  }
  QCOMPARE(OnDisk(dir_->path(), site->siteKey()).pin, certificate.fingerprint);
  QCOMPARE(site->rootDir->files.size(), std::size_t{1});
  QCOMPARE(site->rootDir->files[0]->name(), std::string("readme.txt"));
}

QTEST_MAIN(TrustDialogsTest)
#include "trust_dialogs_test.moc"
