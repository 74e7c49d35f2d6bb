// The main window: start-up over missing, empty and damaged site lists,
// Back/Forward/Up availability, the keys, help, remembered layout and the
// English texts.
#include <QAction>
#include <QDockWidget>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSplitter>
#include <QTextBrowser>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTranslator>
#include <QUrl>
#include <chrono>

#include "catalog/ftp_file.h"
#include "frame/translation.h"
#include "tests/frame/frame_fixture.h"
#include "views/health_text.h"

using namespace orvane;
using namespace orvane::test;
namespace fs = std::filesystem;

class MainFrameTest : public QObject {
  Q_OBJECT

 private slots:
  void startUp_data();
  void startUp();
  void closingAfterDamagedReadWritesNothing();
  void navigationFollowsHistory();
  void unreadListingFillsResultList();
  void searchListsMatchesAcrossCase();
  void paneKeysMoveFocus();
  void documentKeysDoNothing();
  void quitKeyClosesWindow();
  void missingHelpFileOpensTheBuiltInGuide();
  void toolBarButtonsHaveLabelsAndIcons();
  void layoutIsRemembered();
  void englishTextsOutsideChineseLocales();

 private:
  static void Activate(CMainFrame& frame, CFTPDir* dir) {
    // What a click on a tree item does before the tree signals it.
    frame.doc().RecordStep(dir);
    frame.doc().ShowDirectory(dir);
    emit frame.dirView().directoryActivated(dir);
  }
};

void MainFrameTest::startUp_data() {
  QTest::addColumn<QString>("state");
  QTest::addColumn<int>("sites");
  QTest::addColumn<int>("boxes");
  QTest::newRow("missing") << "missing" << 0 << 0;
  QTest::newRow("empty") << "empty" << 0 << 0;
  QTest::newRow("five sites") << "good" << 5 << 0;
  // Damage after the third record keeps three sites and gives one box.
  QTest::newRow("damaged") << "damaged" << 3 << 1;
}

void MainFrameTest::startUp() {
  QFETCH(QString, state);
  QFETCH(int, sites);
  QFETCH(int, boxes);
  CTempTree dir;
  const fs::path list = dir.path() / "site.ds";
  const std::vector<SiteSpec> five = {
      {"a.example"}, {"b.example"}, {"c.example"}, {"d.example"}, {"e.example"}};
  if (state == QLatin1String("empty")) WriteBytes(list, "");
  if (state == QLatin1String("good")) WriteSiteList(dir.path(), five);
  if (state == QLatin1String("damaged")) {
    WriteSiteList(dir.path(), {five.begin(), five.begin() + 3});
    const std::size_t threeSites = fs::file_size(list);
    WriteSiteList(dir.path(), five);
    WriteBytes(list, ReadBytes(list).substr(0, threeSites + 4));
  }

  MessageRecorder recorder;
  auto frame = StartFrame(dir.path());
  QCOMPARE(static_cast<int>(frame->doc().sites().size()), sites);
  QCOMPARE(static_cast<int>(recorder.messages.size()), boxes);
  if (boxes) QCOMPARE(recorder.messages.front().icon, QMessageBox::Critical);
  QVERIFY(fs::exists(list));
  for (const auto& site : frame->doc().sites()) {
    // No catalog is read at start.
    QCOMPARE(site->loadState.load(), static_cast<int>(kNotLoaded));
  }
}

void MainFrameTest::closingAfterDamagedReadWritesNothing() {
  CTempTree dir;
  WriteSiteList(dir.path(), {{"a.example"}, {"b.example"}});
  const fs::path list = dir.path() / "site.ds";
  const std::string damaged = ReadBytes(list).substr(0, fs::file_size(list) - 3);
  WriteBytes(list, damaged);

  MessageRecorder recorder;
  auto frame = StartFrame(dir.path());
  QCOMPARE(recorder.messages.size(), std::size_t{1});
  QVERIFY(frame->close());
  // No question about saving, and the damaged file is left for the user.
  QCOMPARE(recorder.messages.size(), std::size_t{1});
  QCOMPARE(ReadBytes(list), damaged);
}

void MainFrameTest::navigationFollowsHistory() {
  CTempTree dir;
  WriteSiteList(dir.path(), {{"a.example"}});
  MessageRecorder recorder;
  auto frame = StartFrame(dir.path());
  QVERIFY(QTest::qWaitForWindowActive(frame.get()));
  CFTPSite& site = *frame->doc().sites().front();
  site.loadState.store(kLoaded);
  CFTPDir* root = site.rootDir.get();
  CFTPDir* pub = root->AddSubdir(std::make_unique<CFTPDir>("pub"));
  CFTPDir* music = pub->AddSubdir(std::make_unique<CFTPDir>("music"));
  QAction* back = frame->action(kCmdBack);
  QAction* forward = frame->action(kCmdForward);
  QAction* up = frame->action(kCmdUp);

  QVERIFY(!back->isEnabled() && !forward->isEnabled() && !up->isEnabled());
  Activate(*frame, root);
  // A site's root has no parent to go up to.
  QVERIFY(!back->isEnabled() && !forward->isEnabled() && !up->isEnabled());
  Activate(*frame, music);
  QVERIFY(back->isEnabled() && !forward->isEnabled() && up->isEnabled());

  QTest::keyClick(frame.get(), Qt::Key_Left, Qt::AltModifier);
  QCOMPARE(frame->doc().currentNode->directory, root);
  QVERIFY(!back->isEnabled() && forward->isEnabled() && !up->isEnabled());

  forward->trigger();
  QCOMPARE(frame->doc().currentNode->directory, music);
  QVERIFY(back->isEnabled() && !forward->isEnabled());

  QTest::keyClick(frame.get(), Qt::Key_Up, Qt::AltModifier);
  QCOMPARE(frame->doc().currentNode->directory, pub);
  QCOMPARE(frame->doc().browseDirs, std::vector<CFTPDir*>{music});
  QVERIFY(up->isEnabled());

  // Back, then a new step: nothing is left to go forward to.
  back->trigger();
  QVERIFY(forward->isEnabled());
  Activate(*frame, pub);
  QVERIFY(!forward->isEnabled());
  QVERIFY(recorder.messages.empty());
}

void MainFrameTest::unreadListingFillsResultList() {
  CTempTree dir;
  WriteSiteList(dir.path(), {{"a.example"}});
  MessageRecorder recorder;
  auto frame = StartFrame(dir.path());
  frame->action(kCmdShowAllNew)->trigger();
  QTRY_COMPARE(recorder.texts(), QStringList{QStringLiteral("没有未读文件！")});

  CFTPSite& site = *frame->doc().sites().front();
  site.loadState.store(kLoaded);
  CFTPDir* pub = site.rootDir->AddSubdir(std::make_unique<CFTPDir>("pub"));
  pub->AddFile(CFTPFile::Make("old.txt", 1));
  pub->AddFile(CFTPFile::Make("new.txt", 2, 1));
  site.rootDir->AddSubdir(std::make_unique<CFTPDir>("fresh", 1));
  frame->action(kCmdShowAllNew)->trigger();
  QVERIFY(frame->resultMode());
  QTRY_COMPARE(frame->fileView().ItemCount(), 2);
  QTRY_VERIFY(!frame->doc().walking());
  QCOMPARE(recorder.messages.size(), std::size_t{1});
}

void MainFrameTest::searchListsMatchesAcrossCase() {
  CTempTree dir;
  WriteSiteList(dir.path(), {{"a.example"}, {"b.example"}});
  MessageRecorder recorder;
  auto frame = StartFrame(dir.path());
  for (const auto& site : frame->doc().sites()) {
    site->loadState.store(kLoaded);
    CFTPDir* pub = site->rootDir->AddSubdir(std::make_unique<CFTPDir>("Readme-dir"));
    pub->AddFile(CFTPFile::Make("README.txt", 1));
    pub->AddFile(CFTPFile::Make("other.bin", 2));
  }
  QVERIFY(QTest::qWaitForWindowActive(frame.get()));
  QString keyword = QStringLiteral("readme");
  CDialogSeam::SetDialogHook([&](QDialog& dialog) {
    dialog.findChild<QLineEdit*>(QStringLiteral("keywordEdit"))->setText(keyword);
    return int{QDialog::Accepted};
  });
  QTest::keyClick(frame.get(), Qt::Key_F, Qt::ControlModifier);
  QVERIFY(frame->resultMode());
  // Per site: the matching directory and the matching file.
  QTRY_COMPARE(frame->fileView().ItemCount(), 4);
  QTRY_VERIFY(!frame->doc().walking());
  QVERIFY(recorder.messages.empty());
  QVERIFY(!frame->findChild<QDialog*>(QStringLiteral("searchDialog")));

  keyword = QStringLiteral("nothing-like-it");
  frame->action(kCmdSearch)->trigger();
  QTRY_COMPARE(recorder.texts(), QStringList{QStringLiteral("对不起，没有找到你要的文件！")});
  QCOMPARE(frame->fileView().ItemCount(), 0);

  // The progress box's stop ends the walk quietly at its next pause.
  keyword = QStringLiteral("readme");
  frame->doc().pumpSlice = std::chrono::nanoseconds(0);
  frame->action(kCmdSearch)->trigger();
  // One pass of the event loop: the walk's first step, which opens the box
  // and pauses as the first site begins.
  QCoreApplication::processEvents();
  auto* box = frame->findChild<QDialog*>(QStringLiteral("searchDialog"));
  QVERIFY(box);
  box->findChild<QPushButton*>(QStringLiteral("stopButton"))->click();
  QTRY_VERIFY(!frame->doc().walking());
  QVERIFY(frame->fileView().ItemCount() < 4);
  QCOMPARE(recorder.messages.size(), std::size_t{1});
  QVERIFY(!frame->findChild<QDialog*>(QStringLiteral("searchDialog")));
}

void MainFrameTest::paneKeysMoveFocus() {
  CTempTree dir;
  auto frame = StartFrame(dir.path());
  QVERIFY(QTest::qWaitForWindowActive(frame.get()));
  QWidget* tree = frame->findChild<QWidget*>(QStringLiteral("dirView"));
  QWidget* list = frame->findChild<QWidget*>(QStringLiteral("fileView"));
  QVERIFY(tree && list);
  tree->setFocus();
  QTRY_VERIFY(tree->hasFocus());
  QTest::keyClick(frame.get(), Qt::Key_F6);
  QTRY_VERIFY(list->hasFocus());
  QTest::keyClick(frame.get(), Qt::Key_F6, Qt::ShiftModifier);
  QTRY_VERIFY(tree->hasFocus());
}

void MainFrameTest::documentKeysDoNothing() {
  CTempTree dir;
  WriteSiteList(dir.path(), {{"a.example"}, {"b.example"}});
  const std::string before = ReadBytes(dir.path() / "site.ds");
  MessageRecorder recorder;
  int dialogs = 0;
  CDialogSeam::SetDialogHook([&](QDialog&) {
    ++dialogs;
    return int{QDialog::Rejected};
  });
  CDialogSeam::SetFileHook([&](QFileDialog&) {
    ++dialogs;
    return QString();
  });
  auto frame = StartFrame(dir.path());
  QVERIFY(QTest::qWaitForWindowActive(frame.get()));
  // New would read site.ds a second time into the filled list, doubling
  // every site; open and save have no place in a program with one list.
  for (const Qt::Key key : {Qt::Key_N, Qt::Key_O, Qt::Key_S}) {
    QTest::keyClick(frame.get(), key, Qt::ControlModifier);
  }
  QCOMPARE(frame->doc().sites().size(), std::size_t{2});
  QCOMPARE(dialogs, 0);
  QVERIFY(recorder.messages.empty());
  QCOMPARE(ReadBytes(dir.path() / "site.ds"), before);
}

void MainFrameTest::quitKeyClosesWindow() {
  CTempTree dir;
  auto frame = StartFrame(dir.path());
  QVERIFY(QTest::qWaitForWindowActive(frame.get()));
  QTest::keyClick(frame.get(), Qt::Key_Q, Qt::ControlModifier);
  QTRY_VERIFY(!frame->isVisible());
}

void MainFrameTest::missingHelpFileOpensTheBuiltInGuide() {
  // The test program's directory has no help.pdf; the current directory
  // does, and must not be used.
  CTempTree dir;
  dir.AddFile("help.pdf", "%PDF-1.4\n");
  const QString oldCurrent = QDir::currentPath();
  QDir::setCurrent(QString::fromStdString(dir.path().string()));
  MessageRecorder recorder;
  QList<QUrl> offered;
  CDialogSeam::SetUrlHook([&](const QUrl& url) {
    offered << url;
    return true;
  });
  QString guide;
  CDialogSeam::SetDialogHook([&](QDialog& dialog) {
    if (auto* text = dialog.findChild<QTextBrowser*>(QStringLiteral("helpText"))) {
      guide = text->toPlainText();
    }
    return int{QDialog::Rejected};
  });
  auto frame = StartFrame(dir.path());
  QVERIFY(QTest::qWaitForWindowActive(frame.get()));
  QTest::keyClick(frame.get(), Qt::Key_F1);
  QDir::setCurrent(oldCurrent);
  QVERIFY(offered.isEmpty());
  QVERIFY(recorder.messages.empty());
  // docs/guide_zh.md rendered for the Chinese interface: its text without
  // the Markdown marks.
  QVERIFY2(guide.startsWith(QStringLiteral("Orvane 使用指南")), qPrintable(guide));
  QVERIFY(!guide.contains(QStringLiteral("## ")));
}

void MainFrameTest::toolBarButtonsHaveLabelsAndIcons() {
  CTempTree dir;
  auto frame = StartFrame(dir.path());
  auto* toolBar = frame->findChild<QToolBar*>(QStringLiteral("mainToolBar"));
  QVERIFY(toolBar);
  QStringList labels;
  for (QAction* action : toolBar->actions()) {
    auto* button = qobject_cast<QToolButton*>(toolBar->widgetForAction(action));
    QVERIFY(button);
    QCOMPARE(button->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
    QVERIFY2(!action->icon().pixmap(32, 28).isNull(), qPrintable(action->iconText()));
    labels << action->iconText();
  }
  QCOMPARE(labels,
           QStringList({QStringLiteral("已读"), QStringLiteral("切换"), QStringLiteral("编辑"),
                        QStringLiteral("增加"), QStringLiteral("搜索"), QStringLiteral("更新"),
                        QStringLiteral("后退"), QStringLiteral("前进"), QStringLiteral("向上")}));
}

void MainFrameTest::layoutIsRemembered() {
  CTempTree dir;
  QList<int> sizes;
  {
    auto frame = StartFrame(dir.path());
    auto* splitter = frame->findChild<QSplitter*>(QStringLiteral("splitter"));
    // Within the offscreen screen (800x600): a bigger size is fitted to it.
    frame->resize(760, 560);
    QTRY_COMPARE(frame->width(), 760);
    splitter->setSizes({310, 440});
    sizes = splitter->sizes();
    frame->action(kCmdStatusBar)->trigger();
    frame->close();
  }
  auto frame = StartFrame(dir.path());
  QTRY_COMPARE(frame->findChild<QSplitter*>(QStringLiteral("splitter"))->sizes(), sizes);
  QCOMPARE(frame->size(), QSize(760, 560));
  QVERIFY(!frame->action(kCmdStatusBar)->isChecked());
  frame->action(kCmdStatusBar)->trigger();
  frame->close();
}

void MainFrameTest::englishTextsOutsideChineseLocales() {
  QCoreApplication& app = *QCoreApplication::instance();
  QVERIFY(!InstallTranslators(app, QLocale(QLocale::Chinese, QLocale::China)));
  QVERIFY(InstallTranslators(app, QLocale(QLocale::English, QLocale::UnitedStates)));
  CTempTree dir;
  auto frame = StartFrame(dir.path());
  QCOMPARE(frame->action(kCmdImport)->text(), QStringLiteral("Import"));
  QCOMPARE(frame->action(kCmdBack)->iconText(), QStringLiteral("Back"));
  QCOMPARE(frame->action(kCmdSitesOverview)->text(), QStringLiteral("Sites &Overview"));
  SiteHealth health;
  health.lastSuccess = 1'000'000;
  health.entries = 42'020;
  health.bytes = 1024;
  health.newEntries = 7;
  QCOMPARE(CHealthText::Summary(health, health.lastSuccess + 3 * 3600 + 5),
           QStringLiteral("updated 3 hours ago, 42,020 entries, 1.00K, 7 new"));
  QCOMPARE(frame->findChild<QDockWidget*>(QStringLiteral("changesDock"))->windowTitle(),
           QStringLiteral("Changes"));
  // The settings box is named for what it holds; a refused field is named
  // in English.
  QString title;
  CDialogSeam::SetDialogHook([&title](QDialog& dialog) {
    title = dialog.windowTitle();
    return int{QDialog::Rejected};
  });
  frame->Command(kCmdSettings);
  QCOMPARE(title, QStringLiteral("Update settings"));
  // F1 without a help.pdf beside the program: the English guide.
  QString guide;
  CDialogSeam::SetDialogHook([&guide](QDialog& dialog) {
    if (auto* text = dialog.findChild<QTextBrowser*>(QStringLiteral("helpText"))) {
      guide = text->toPlainText();
    }
    return int{QDialog::Rejected};
  });
  QVERIFY(QTest::qWaitForWindowActive(frame.get()));
  QTest::keyClick(frame.get(), Qt::Key_F1);
  QVERIFY2(guide.startsWith(QStringLiteral("Orvane user guide")), qPrintable(guide.left(40)));
  MessageRecorder boxes;
  CDialogSeam::SetDialogHook([](QDialog& dialog) {
    dialog.findChild<QLineEdit*>(QStringLiteral("hostEdit"))->setText(QStringLiteral("h.example"));
    dialog.findChild<QLineEdit*>(QStringLiteral("nicknameEdit"))
        ->setText(QString::fromUtf8("\xF0\x9F\x98\x80"));
    dialog.findChild<QPushButton*>(QStringLiteral("okButton"))->click();
    return int{QDialog::Rejected};
  });
  frame->Command(kCmdAddSite);
  QCOMPARE(boxes.messages.size(), std::size_t{1});
  const QString refused = boxes.messages.front().text;
  QVERIFY2(refused.contains(QStringLiteral("Nickname")), qPrintable(refused));
  QVERIFY2(!refused.contains(QRegularExpression(QStringLiteral("[\\x{4e00}-\\x{9fff}]"))),
           qPrintable(refused));
  CDialogSeam::ClearHooks();
  for (QTranslator* translator : app.findChildren<QTranslator*>()) {
    QCoreApplication::removeTranslator(translator);
  }
}

QTEST_MAIN(MainFrameTest)
#include "main_frame_test.moc"
