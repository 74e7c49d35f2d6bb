// What the window's tests share: a data directory with a site list written
// by the real document, a main frame started the way the program starts it,
// and recorded answers to every box.
#pragma once

#include <QApplication>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "catalog/ftp_site.h"
#include "document/orvane_doc.h"
#include "frame/dialog_seam.h"
#include "frame/frame_views.h"
#include "frame/main_frame.h"
#include "tests/support/ftp_server.h"
#include "tests/support/temp_tree.h"

// A helper's failed check ends the test function too.
#define STEP(call)                          \
  do {                                      \
    call;                                   \
    if (QTest::currentTestFailed()) return; \
  } while (false)

namespace orvane::test {

// Generous bound for a waited event on a loaded two-core machine.
constexpr int kWaitMs = 60000;

struct SiteSpec {
  std::string host;
  std::string user = {};  // empty: anonymous
  std::string nickname = {};
};

// Writes site.ds in `dir` through the document, as the program writes it.
inline void WriteSiteList(const std::filesystem::path& dir, const std::vector<SiteSpec>& sites) {
  IDocumentHost quiet;
  COrvaneDoc doc(dir, quiet);
  for (const SiteSpec& wanted : sites) {
    auto site = std::make_shared<CFTPSite>();
    site->host = wanted.host;
    site->userName = wanted.user.empty() ? "anonymous" : wanted.user;
    site->password = wanted.user.empty() ? std::string(kAnonymousPassword) : "secret";
    site->nickname = wanted.nickname;
    doc.AppendSite(site);
  }
  if (!doc.SaveSiteList()) qFatal("cannot write site.ds");
}

inline std::string ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

inline void WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Records every message box and answers with the queued buttons (OK when
// the queue is empty).
class MessageRecorder {
 public:
  MessageRecorder() {
    CDialogSeam::SetMessageHook([this](const CDialogSeam::Message& message) {
      messages.push_back(message);
      if (answers.empty()) return QMessageBox::Ok;
      const QMessageBox::StandardButton answer = answers.front();
      answers.pop_front();
      return answer;
    });
  }
  ~MessageRecorder() { CDialogSeam::ClearHooks(); }
  MessageRecorder(const MessageRecorder&) = delete;
  MessageRecorder& operator=(const MessageRecorder&) = delete;

  QStringList texts() const {
    QStringList list;
    for (const auto& message : messages) list << message.text;
    return list;
  }

  std::vector<CDialogSeam::Message> messages;
  std::deque<QMessageBox::StandardButton> answers;
};

// The program's start-up without the splash.
inline std::unique_ptr<CMainFrame> StartFrame(const std::filesystem::path& dataDir) {
  auto frame = std::make_unique<CMainFrame>(dataDir);
  frame->OpenDocument();
  frame->show();
  frame->ShowLoadErrors();
  return frame;
}

// A pyftpdlib server over `root`; the test ends when it cannot start.
inline std::unique_ptr<CFtpServer> StartServer(const CTempTree& root,
                                               const PyFtpOptions& options = {}) {
  auto started = CFtpServer::StartPyftpdlib(root.path(), options);
  if (!started.server) qFatal("FTP server: %s", started.error.c_str());
  return std::move(started.server);
}

// One anonymous site for the server.
inline void WriteServerSite(const std::filesystem::path& dataDir, const CFtpServer& server) {
  IDocumentHost quiet;
  COrvaneDoc doc(dataDir, quiet);
  auto site = std::make_shared<CFTPSite>();
  site->host = server.host();
  site->userName = "anonymous";
  site->password = std::string(kAnonymousPassword);
  site->port = server.port();
  doc.AppendSite(site);
  if (!doc.SaveSiteList()) qFatal("cannot write site.ds");
}

// Opens the menu bar's menu holding `action` with Alt and its letter, walks
// down to the item with the arrow keys and presses Enter, as a person does.
inline void ChooseFromMenuBar(QMainWindow& frame, QAction* action) {
  QMenu* menu = nullptr;
  for (QAction* top : frame.menuBar()->actions()) {
    if (top->menu() && top->menu()->actions().contains(action)) menu = top->menu();
  }
  QVERIFY2(menu, qPrintable(action->text()));
  const QString title = menu->title();
  const int amp = title.indexOf(QLatin1Char('&'));
  QVERIFY(amp >= 0);
  QTest::keyClick(&frame, title.at(amp + 1).toLatin1(), Qt::AltModifier);
  QTRY_VERIFY(menu->isVisible());
  for (int step = 0; menu->activeAction() != action && step < menu->actions().size(); ++step) {
    QTest::keyClick(menu, Qt::Key_Down);
  }
  QCOMPARE(menu->activeAction(), action);
  QTest::keyClick(menu, Qt::Key_Return);
  QTRY_VERIFY(!menu->isVisible());
}

// Every new mark below `dir`, `dir` itself excluded.
inline int CountMarks(const CFTPDir& dir) {
  int count = 0;
  for (const auto& file : dir.files) count += file->readState != 0;
  for (const auto& sub : dir.subdirs) count += (sub->readState != 0) + CountMarks(*sub);
  return count;
}

}  // namespace orvane::test
