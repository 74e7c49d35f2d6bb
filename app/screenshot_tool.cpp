// Development tool: renders the main window over a sample catalog to a PNG
// for the README.
//
//   orvane_screenshot OUTPUT.png [LOCALE]
//
// LOCALE (en_US, say) renders the window in that locale's texts; the
// default is the Chinese source texts.
//
// The sample holds five sites, one in each update state (one of them
// running, with the status bar's progress), names stored as code page 936
// and as UTF-8, and new entries; the file list shows a search's results. Run under
// QT_QPA_PLATFORM=offscreen (or xvfb-run); nothing outside a temporary
// directory is read or written, settings included.
#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QLineEdit>
#include <QSettings>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTreeView>
#include <cstdio>
#include <memory>

#include "catalog/code_page.h"
#include "catalog/ftp_dir.h"
#include "catalog/ftp_file.h"
#include "catalog/ftp_site.h"
#include "document/orvane_doc.h"
#include "frame/dialog_seam.h"
#include "frame/frame_views.h"
#include "frame/main_frame.h"
#include "frame/translation.h"
#include "views/dir_tree_model.h"

namespace {

using namespace orvane;

std::string Gbk(const char* utf8) { return Utf8ToCp936(utf8); }

std::shared_ptr<CFTPSite> MakeSite(const std::string& host, const std::string& user,
                                   const std::string& nickname) {
  auto site = std::make_shared<CFTPSite>();
  site->host = host;
  site->userName = user.empty() ? "anonymous" : user;
  site->password = user.empty() ? std::string(kAnonymousPassword) : "secret";
  site->nickname = nickname;
  return site;
}

void AddFiles(CFTPDir& dir, std::initializer_list<std::pair<std::string, std::uint64_t>> files,
              int newFrom) {
  int i = 0;
  for (const auto& [name, size] : files) {
    dir.AddFile(CFTPFile::Make(name, size, i++ >= newFrom ? 1 : 0));
  }
}

// The sample catalog of the first site, saved where the program reads it.
void WriteSample(const std::filesystem::path& dataDir) {
  IDocumentHost quiet;
  COrvaneDoc doc(dataDir, quiet);
  auto main = MakeSite("ftp.example.cn", "", Gbk("示例软件站"));
  CFTPDir& root = *main->rootDir;
  CFTPDir* soft = root.AddSubdir(std::make_unique<CFTPDir>(Gbk("软件")));
  CFTPDir* pub = root.AddSubdir(std::make_unique<CFTPDir>("pub"));
  AddFiles(*pub, {{"linux-howto.pdf", 1'254'400}}, 1);
  root.AddSubdir(std::make_unique<CFTPDir>("音乐"));  // UTF-8 bytes
  root.AddSubdir(std::make_unique<CFTPDir>(Gbk("文档"), 1));
  soft->AddSubdir(std::make_unique<CFTPDir>(Gbk("工具")));
  CFTPDir* kernel = soft->AddSubdir(std::make_unique<CFTPDir>("linux"));
  AddFiles(*kernel, {{"linux-6.1.tar.xz", 134'742'016}, {"linux-firmware.zip", 41'943'040}}, 1);
  soft->AddSubdir(std::make_unique<CFTPDir>(Gbk("新版本"), 1));
  AddFiles(*soft,
           {{"readme.txt", 2'048},
            {Gbk("安装说明.doc"), 58'880},
            {"setup-2.4.1.exe", 15'728'640},
            {"源代码.tar.gz", 3'421'772},  // UTF-8 bytes
            {"photo.jpg", 734'003},
            {Gbk("更新日志.txt"), 913},
            {"debian-12.iso", 3'900'702'720ull},
            {"歌曲合集.mp3", 8'388'608}},  // UTF-8 bytes
           6);
  doc.AppendSite(main);
  doc.AppendSite(MakeSite("mirror.example.org", "", {}));
  doc.AppendSite(MakeSite("files.example.net", "ann", Gbk("资料库")));
  doc.AppendSite(MakeSite("ftp.example.edu", "", {}));
  doc.AppendSite(MakeSite("archive.example.com", "", Gbk("旧档案")));
  if (!doc.SaveSiteList() || !main->SaveCatalogAndState(dataDir)) {
    std::fprintf(stderr, "orvane_screenshot: cannot write the sample\n");
    std::exit(1);
  }
}

}  // namespace

int main(int argc, char** argv) {
  QTemporaryDir temp;
  if (!temp.isValid()) return 1;
  // Settings of this run stay in the temporary directory.
  qputenv("XDG_CONFIG_HOME", QFile::encodeName(temp.filePath(QStringLiteral("config"))));
  QApplication app(argc, argv);
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/frame/orvane.svg")));
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: orvane_screenshot OUTPUT.png [LOCALE]\n");
    return 2;
  }
  if (argc == 3) InstallTranslators(app, QLocale(QString::fromLocal8Bit(argv[2])));
  const std::filesystem::path dataDir =
      QFile::encodeName(temp.filePath(QStringLiteral("data"))).toStdString();
  std::error_code made;
  std::filesystem::create_directories(dataDir, made);
  if (made) {
    std::fprintf(stderr, "%s: %s\n", dataDir.c_str(), made.message().c_str());
    return 1;
  }
  WriteSample(dataDir);

  CMainFrame frame(dataDir);
  frame.OpenDocument();
  frame.resize(1060, 640);
  frame.show();

  // One site in each state of this run.
  using Outcome = SiteStatus::Outcome;
  const struct {
    const char* host;
    UpdateState state;
    Outcome outcome;
    const char* error;
  } states[] = {
      {"ftp.example.cn", kUpdateSucceeded, Outcome::kSucceeded, ""},
      {"mirror.example.org", kUpdateFailed, Outcome::kFailed, "连接超时"},
      {"files.example.net", kUpdateRunning, Outcome::kConnected, ""},
      {"ftp.example.edu", kUpdateStopped, Outcome::kStopped, ""},
      {"archive.example.com", kNeverUpdated, Outcome::kNone, ""},
  };
  for (const auto& state : states) {
    for (const auto& site : frame.doc().sites()) {
      if (site->host != state.host) continue;
      site->SetOutcome(state.outcome, state.state, state.error);
      // The update that succeeded found new entries.
      site->hasNewEntries.store(state.state == kUpdateSucceeded);
      frame.dirView().UpdateSiteItem(site.get());
    }
  }

  // Open the first site's "软件" directory as a click would.
  CFTPSite& main = *frame.doc().sites().front();
  CDirView& tree = frame.dirView();
  const QModelIndex siteIndex = tree.treeModel()->FindItem(main.rootDir.get());
  tree.expand(siteIndex);
  QCoreApplication::processEvents();
  const QModelIndex softIndex = tree.treeModel()->FindItem(main.rootDir->subdirs.front().get());
  tree.expand(softIndex);
  tree.selectionModel()->setCurrentIndex(softIndex, QItemSelectionModel::ClearAndSelect);
  frame.fileView().setFocus();
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();

  // A search for "linux", its results in the file list.
  CDialogSeam::SetDialogHook([](QDialog& dialog) {
    dialog.findChild<QLineEdit*>(QStringLiteral("keywordEdit"))->setText(QStringLiteral("linux"));
    return int{QDialog::Accepted};
  });
  frame.action(kCmdSearch)->trigger();
  CDialogSeam::ClearHooks();
  // The update of files.example.net in progress, as the one-second timer
  // shows it.
  frame.statusBar()->showMessage(
      QCoreApplication::translate("orvane::CMainFrame", "更新%1/%2").arg(3).arg(4));
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();

  if (!frame.grab().save(QString::fromLocal8Bit(argv[1]))) {
    std::fprintf(stderr, "orvane_screenshot: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
