// Adding, editing, deleting and importing sites through the real dialogs,
// answered through the dialog seam.
#include <QCheckBox>
#include <QComboBox>
#include <QTranslator>
#include <QFileDialog>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <functional>

#include "frame/frame_views.h"
#include "frame/site_dlg.h"
#include "frame/translation.h"
#include "tests/frame/frame_fixture.h"

using namespace orvane;
using namespace orvane::test;
namespace fs = std::filesystem;

namespace {

struct Typed {
  QString host;
  QString port = QStringLiteral("21");
  bool anonymous = true;
  QString user = {};
  QString password = {};
  QString nickname = {};
};

void Fill(QDialog& dialog, const Typed& typed) {
  dialog.findChild<QLineEdit*>(QStringLiteral("hostEdit"))->setText(typed.host);
  dialog.findChild<QLineEdit*>(QStringLiteral("portEdit"))->setText(typed.port);
  dialog.findChild<QCheckBox*>(QStringLiteral("anonymousCheck"))->setChecked(typed.anonymous);
  if (!typed.anonymous) {
    dialog.findChild<QLineEdit*>(QStringLiteral("userEdit"))->setText(typed.user);
    dialog.findChild<QLineEdit*>(QStringLiteral("passwordEdit"))->setText(typed.password);
  }
  dialog.findChild<QLineEdit*>(QStringLiteral("nicknameEdit"))->setText(typed.nickname);
}

// Answers the next dialog: `fill` changes its fields, then OK is pressed;
// the result is what the dialog decided.
void AnswerDialog(std::function<void(QDialog&)> fill) {
  CDialogSeam::SetDialogHook([fill](QDialog& dialog) {
    fill(dialog);
    dialog.findChild<QPushButton*>(QStringLiteral("okButton"))->click();
    return dialog.result();
  });
}

// Re-reads site.ds as the program would.
std::vector<std::shared_ptr<CFTPSite>> Stored(const fs::path& dir) {
  IDocumentHost quiet;
  COrvaneDoc doc(dir, quiet);
  doc.OnNewDocument();
  return doc.sites();
}

}  // namespace

class SiteCommandsTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { dir_ = std::make_unique<CTempTree>(); }
  void cleanup() {
    frame_.reset();
    CDialogSeam::ClearHooks();
    dir_.reset();
  }
  void addStoresTypedTextAsCodePage936();
  void addRefusesDuplicates();
  void dialogRefusesBadFields_data();
  void dialogRefusesBadFields();
  void editShowsAnonymousLoginEmptyAndDisabled();
  void editRenamesDataDirectoryWhenKeyChanges();
  void editOfNicknameKeepsUndecodableHostBytes();
  void editIntoAnotherSitesKeyIsRefused();
  void deleteAsksAndRemovesSiteAndFiles();
  void deleteThatCannotBeRecordedKeepsSiteAndFilesAndSaysWhy();
  void importUsesTextFileDialog();
  void typedFieldsReadBackAsTyped_data();
  void typedFieldsReadBackAsTyped();

 private:
  CMainFrame& Start(const std::vector<SiteSpec>& sites = {}) {
    if (!sites.empty()) WriteSiteList(dir_->path(), sites);
    frame_ = StartFrame(dir_->path());
    return *frame_;
  }
  void Select(CFTPDir* dir) { frame_->dirView().SelectDirectory(dir); }

  std::unique_ptr<CTempTree> dir_;
  std::unique_ptr<CMainFrame> frame_;
};

void SiteCommandsTest::addStoresTypedTextAsCodePage936() {
  CMainFrame& frame = Start();
  MessageRecorder recorder;
  AnswerDialog([](QDialog& dialog) {
    Fill(dialog, {QStringLiteral("ftp.example.cn"), QStringLiteral("2121"), false,
                  QStringLiteral("用户"), QStringLiteral("密码"), QStringLiteral("中文站")});
  });
  frame.Command(kCmdAddSite);
  QVERIFY(recorder.messages.empty());
  const auto stored = Stored(dir_->path());
  QCOMPARE(stored.size(), std::size_t{1});
  QCOMPARE(stored[0]->host, std::string("ftp.example.cn"));
  QCOMPARE(stored[0]->port, 2121u);
  QCOMPARE(stored[0]->userName, std::string("\xD3\xC3\xBB\xA7"));
  QCOMPARE(stored[0]->password, std::string("\xC3\xDC\xC2\xEB"));
  QCOMPARE(stored[0]->nickname, std::string("\xD6\xD0\xCE\xC4\xD5\xBE"));
  QCOMPARE(frame.doc().sites().front()->loadState.load(), static_cast<int>(kLoaded));
}

void SiteCommandsTest::addRefusesDuplicates() {
  CMainFrame& frame = Start();
  MessageRecorder recorder;
  const Typed typed[] = {
      {QStringLiteral("h.example")},
      {QStringLiteral("h.example")},  // anonymous again
      {QStringLiteral("h.example"), QStringLiteral("21"), false, QStringLiteral("ann"),
       QStringLiteral("x")},
      {QStringLiteral("h.example"), QStringLiteral("21"), false, QStringLiteral("bob"),
       QStringLiteral("y")},
  };
  // The refused dialog stays open with what was typed; the user corrects
  // the host and presses OK again.
  QStringList keptHosts;
  for (const Typed& t : typed) {
    CDialogSeam::SetDialogHook([&](QDialog& dialog) {
      Fill(dialog, t);
      auto* ok = dialog.findChild<QPushButton*>(QStringLiteral("okButton"));
      ok->click();
      if (dialog.result() == QDialog::Accepted) return dialog.result();
      auto* host = dialog.findChild<QLineEdit*>(QStringLiteral("hostEdit"));
      keptHosts << host->text();
      host->setText(QStringLiteral("i.example"));
      ok->click();
      return dialog.result();
    });
    frame.Command(kCmdAddSite);
  }
  QCOMPARE(recorder.texts(),
           QStringList{QStringLiteral(
               "站点已有！已有一个站点的主机“h.example”和用户名“anonymous”与此相同。")});
  QCOMPARE(keptHosts, QStringList{QStringLiteral("h.example")});
  QStringList keys;
  for (const auto& site : Stored(dir_->path())) keys << QString::fromStdString(site->siteKey());
  QCOMPARE(keys, QStringList({QStringLiteral("h.example"), QStringLiteral("i.example"),
                              QStringLiteral("h.example@ann"), QStringLiteral("h.example@bob")}));
}

void SiteCommandsTest::dialogRefusesBadFields_data() {
  QTest::addColumn<QString>("host");
  QTest::addColumn<QString>("port");
  QTest::addColumn<QString>("nickname");
  QTest::addColumn<QString>("message");
  QTest::addColumn<QString>("user");
  QTest::addColumn<QString>("password");
  const QString portText = QStringLiteral("1 到 65535");
  const QString hostText = QStringLiteral("站点地址必须是主机名、IPv4 地址或 IPv6 地址");
  const QString ok = QStringLiteral("h.example");
  QTest::newRow("port 0") << ok << "0"
                          << "" << portText << QString() << QString();
  QTest::newRow("port 65536") << ok << "65536"
                              << "" << portText << QString() << QString();
  QTest::newRow("port 4294967296") << ok << "4294967296"
                                   << "" << portText << QString() << QString();
  QTest::newRow("no port") << ok << ""
                           << "" << portText << QString() << QString();
  QTest::newRow("letters") << ok << "2l"
                           << "" << portText << QString() << QString();
  QTest::newRow("no host") << ""
                           << "21"
                           << "" << QStringLiteral("请输入站点地址") << QString() << QString();
  QTest::newRow("space") << "h .example"
                         << "21"
                         << "" << hostText << QString() << QString();
  QTest::newRow("slash") << "h.example/pub"
                         << "21"
                         << "" << hostText << QString() << QString();
  QTest::newRow("at") << "u@h.example"
                      << "21"
                      << "" << hostText << QString() << QString();
  QTest::newRow("control") << "h\x01.example"
                           << "21"
                           << "" << hostText << QString() << QString();
  QTest::newRow("no GBK form") << ok << "21" << QStringLiteral("站\U0001F600")
                               << QStringLiteral("\U0001F600") << QString() << QString();
  QTest::newRow("not a dotted quad") << "1.2.3"
                                     << "21"
                                     << "" << hostText << QString() << QString();
  // A login that would end the USER or PASS command and start another.
  const QString lineBreak = QStringLiteral("不能包含换行符或空字符");
  QTest::newRow("CR LF in user") << ok << "21"
                                 << "" << lineBreak << QStringLiteral("orvane\r\nHELP INJECTED")
                                 << "pw";
  QTest::newRow("LF in password") << ok << "21"
                                  << "" << lineBreak << "bob" << QStringLiteral("pw\nDELE x");
  QTest::newRow("NUL in password") << ok << "21"
                                   << "" << lineBreak << "bob" << QString(QChar(0));
  QTest::newRow("key too long for a file name")
      << ok << "21"
      << "" << QStringLiteral("太长") << QString(250, QLatin1Char('u')) << "pw";
  QTest::newRow("user without GBK form")
      << ok << "21"
      << "" << QStringLiteral("\U0001F600") << QStringLiteral("u\U0001F600") << "pw";
}

void SiteCommandsTest::dialogRefusesBadFields() {
  QFETCH(QString, host);
  QFETCH(QString, port);
  QFETCH(QString, nickname);
  QFETCH(QString, message);
  QFETCH(QString, user);
  QFETCH(QString, password);
  CMainFrame& frame = Start();
  MessageRecorder recorder;
  bool stayedOpen = false;
  CDialogSeam::SetDialogHook([&](QDialog& dialog) {
    Fill(dialog, {host, port, user.isEmpty(), user, password, nickname});
    dialog.findChild<QPushButton*>(QStringLiteral("okButton"))->click();
    stayedOpen = dialog.result() != QDialog::Accepted;
    return int{QDialog::Rejected};  // the user gives up
  });
  frame.Command(kCmdAddSite);
  QVERIFY(stayedOpen);
  QCOMPARE(recorder.messages.size(), std::size_t{1});
  QVERIFY2(recorder.messages.front().text.contains(message),
           qPrintable(recorder.messages.front().text));
  QVERIFY(frame.doc().sites().empty());
}

void SiteCommandsTest::editShowsAnonymousLoginEmptyAndDisabled() {
  CMainFrame& frame = Start({{"anon.example"}});
  Select(frame.doc().sites().front()->rootDir.get());
  bool checked = false, userEnabled = true, passwordEnabled = true;
  QString user = QStringLiteral("?"), password = QStringLiteral("?");
  QLineEdit::EchoMode echo = QLineEdit::Normal;
  CDialogSeam::SetDialogHook([&](QDialog& dialog) {
    checked = dialog.findChild<QCheckBox*>(QStringLiteral("anonymousCheck"))->isChecked();
    auto* userEdit = dialog.findChild<QLineEdit*>(QStringLiteral("userEdit"));
    auto* passwordEdit = dialog.findChild<QLineEdit*>(QStringLiteral("passwordEdit"));
    userEnabled = userEdit->isEnabled();
    passwordEnabled = passwordEdit->isEnabled();
    user = userEdit->text();
    password = passwordEdit->text();
    echo = passwordEdit->echoMode();
    return int{QDialog::Rejected};
  });
  frame.Command(kCmdEditSite);
  QVERIFY(checked);
  QVERIFY(!userEnabled && !passwordEnabled);
  QVERIFY(user.isEmpty() && password.isEmpty());
  QCOMPARE(echo, QLineEdit::Password);
}

void SiteCommandsTest::editRenamesDataDirectoryWhenKeyChanges() {
  CMainFrame& frame = Start({{"h.example", "ann"}});
  dir_->AddFile("Data/h.example@ann/content.ct", "catalog");
  Select(frame.doc().sites().front()->rootDir.get());
  AnswerDialog([](QDialog& dialog) {
    dialog.findChild<QCheckBox*>(QStringLiteral("anonymousCheck"))->setChecked(true);
  });
  frame.Command(kCmdEditSite);
  QVERIFY(!fs::exists(dir_->path() / "Data/h.example@ann"));
  QCOMPARE(ReadBytes(dir_->path() / "Data/h.example/content.ct"), std::string("catalog"));
  const auto stored = Stored(dir_->path());
  QCOMPARE(stored.front()->siteKey(), std::string("h.example"));
  QCOMPARE(stored.front()->userName, std::string("anonymous"));
}

void SiteCommandsTest::editOfNicknameKeepsUndecodableHostBytes() {
  // A host whose bytes are no text in any encoding the window knows.
  const std::string host = "h\xFF\x80.example";
  CMainFrame& frame = Start({{host, "ann"}});
  dir_->AddFile("Data/" + host + "@ann/content.ct", "catalog");
  Select(frame.doc().sites().front()->rootDir.get());
  AnswerDialog([](QDialog& dialog) {
    dialog.findChild<QLineEdit*>(QStringLiteral("nicknameEdit"))->setText(QStringLiteral("nick"));
  });
  MessageRecorder recorder;
  frame.Command(kCmdEditSite);
  QVERIFY(recorder.messages.empty());
  const auto stored = Stored(dir_->path());
  QCOMPARE(stored.front()->host, host);
  QCOMPARE(stored.front()->password, std::string("secret"));
  QCOMPARE(stored.front()->nickname, std::string("nick"));
  QVERIFY(fs::exists(dir_->path() / ("Data/" + host + "@ann/content.ct")));
}

void SiteCommandsTest::editIntoAnotherSitesKeyIsRefused() {
  CMainFrame& frame = Start({{"a.example"}, {"b.example"}});
  dir_->AddFile("Data/a.example/content.ct", "a");
  dir_->AddFile("Data/b.example/content.ct", "b");
  Select(frame.doc().sites()[1]->rootDir.get());
  AnswerDialog([](QDialog& dialog) {
    dialog.findChild<QLineEdit*>(QStringLiteral("hostEdit"))->setText(QStringLiteral("a.example"));
  });
  MessageRecorder recorder;
  frame.Command(kCmdEditSite);
  QCOMPARE(recorder.texts(),
           QStringList{QStringLiteral(
               "站点已有！已有一个站点的主机“a.example”和用户名“anonymous”与此相同。")});
  QCOMPARE(frame.doc().sites()[1]->host, std::string("b.example"));
  QCOMPARE(ReadBytes(dir_->path() / "Data/b.example/content.ct"), std::string("b"));
}

void SiteCommandsTest::deleteAsksAndRemovesSiteAndFiles() {
  CMainFrame& frame = Start({{"a.example"}, {"b.example"}});
  dir_->AddFile("Data/b.example/content.ct", "b");
  CFTPSite& b = *frame.doc().sites()[1];
  b.loadState.store(kLoaded);
  CFTPDir* pub = b.rootDir->AddSubdir(std::make_unique<CFTPDir>("pub"));
  frame.doc().RecordStep(pub);
  frame.doc().ShowDirectory(pub);
  Select(pub);

  MessageRecorder recorder;
  recorder.answers = {QMessageBox::No, QMessageBox::Yes};
  frame.Command(kCmdDeleteSite);
  QCOMPARE(frame.doc().sites().size(), std::size_t{2});
  frame.Command(kCmdDeleteSite);
  QCOMPARE(recorder.messages.size(), std::size_t{2});
  QCOMPARE(recorder.messages[0].title, QStringLiteral("警告"));
  // The box names the site, and Enter alone keeps it.
  QCOMPARE(recorder.messages[0].text, QStringLiteral("是否确定要删除站点“b.example”?"));
  QCOMPARE(recorder.messages[0].buttons, QMessageBox::Yes | QMessageBox::No);
  QCOMPARE(recorder.messages[0].defaultButton, QMessageBox::No);

  QCOMPARE(frame.doc().sites().size(), std::size_t{1});
  QCOMPARE(frame.doc().sites().front()->host, std::string("a.example"));
  QVERIFY(!fs::exists(dir_->path() / "Data/b.example"));
  QCOMPARE(Stored(dir_->path()).size(), std::size_t{1});
  // Nothing of the deleted site is left to navigate to.
  QVERIFY(!frame.doc().currentNode || !frame.doc().currentNode->directory);
  QVERIFY(frame.doc().browseDirs.empty());
  QVERIFY(!frame.action(kCmdUp)->isEnabled());
}

void SiteCommandsTest::deleteThatCannotBeRecordedKeepsSiteAndFilesAndSaysWhy() {
  CMainFrame& frame = Start({{"a.example"}, {"b.example"}});
  dir_->AddFile("Data/b.example/content.ct", "b");
  // The change record cannot replace a directory.
  dir_->AddDir("site-change.pending");
  Select(frame.doc().sites()[1]->rootDir.get());
  MessageRecorder recorder;
  recorder.answers = {QMessageBox::Yes};
  frame.Command(kCmdDeleteSite);
  QCOMPARE(frame.doc().sites().size(), std::size_t{2});
  QCOMPARE(recorder.messages.size(), std::size_t{2});
  QVERIFY(recorder.messages[1].text.contains(QStringLiteral("site-change.pending")));
  QCOMPARE(ReadBytes(dir_->path() / "Data/b.example/content.ct"), std::string("b"));
  QCOMPARE(Stored(dir_->path()).size(), std::size_t{2});
}

void SiteCommandsTest::importUsesTextFileDialog() {
  CMainFrame& frame = Start({{"a.example"}});
  dir_->AddFile("list", "ftp://u:p@a.example:2121/pub\nb.example\n\na.example\nhttp://c.example\n");
  QStringList filters;
  QString suffix;
  int calls = 0;
  CDialogSeam::SetFileHook([&](QFileDialog& dialog) {
    filters = dialog.nameFilters();
    suffix = dialog.defaultSuffix();
    // Cancel first, then the file.
    return ++calls == 1 ? QString() : QString::fromStdString((*dir_ / "list").string());
  });
  MessageRecorder recorder;
  frame.Command(kCmdImport);
  QCOMPARE(frame.doc().sites().size(), std::size_t{1});
  QVERIFY(recorder.messages.empty());
  frame.Command(kCmdImport);
  // A list without an extension is among the files offered.
  QCOMPARE(filters,
           QStringList({QStringLiteral("文本文件 (*.txt)"), QStringLiteral("所有文件 (*)")}));
  QCOMPARE(suffix, QStringLiteral("txt"));
  QCOMPARE(
      recorder.texts(),
      QStringList{QStringLiteral("导入完成：添加了 2 个站点，1 个已有，跳过 1 行（第 5 行）")});
  QStringList keys;
  for (const auto& site : Stored(dir_->path())) keys << QString::fromStdString(site->siteKey());
  QCOMPARE(keys, QStringList({QStringLiteral("a.example"), QStringLiteral("a.example@u"),
                              QStringLiteral("b.example")}));
}

// The fields of the table, typed in the dialog in either
// interface language: each reads back as typed (小站 is valid UTF-8 once
// stored as GBK, and was shown as "Сվ"), an edit that keeps them is never
// refused over a character nobody typed, and the charset chosen stays.
void SiteCommandsTest::typedFieldsReadBackAsTyped_data() {
  QTest::addColumn<bool>("english");
  QTest::addColumn<QString>("host");
  QTest::addColumn<QString>("user");
  QTest::addColumn<QString>("password");
  QTest::addColumn<QString>("nickname");
  for (const bool english : {false, true}) {
    const char* language = english ? "english " : "chinese ";
    QTest::addRow("%sgbk that reads as utf-8", language)
        << english << QStringLiteral("例.example") << QStringLiteral("小站用户")
        << QStringLiteral("密码:a@b") << QStringLiteral("小站");
    QTest::addRow("%swords", language)
        << english << QStringLiteral("files.example") << QStringLiteral("bob")
        << QStringLiteral("p w%/") << QStringLiteral("图片 系统 学习 小说 目录");
    QTest::addRow("%scyrillic and greek", language)
        << english << QStringLiteral("h.example") << QStringLiteral("Сергей")
        << QStringLiteral("пароль") << QStringLiteral("αβγ Привет");
  }
}

void SiteCommandsTest::typedFieldsReadBackAsTyped() {
  QFETCH(bool, english);
  QFETCH(QString, host);
  QFETCH(QString, user);
  QFETCH(QString, password);
  QFETCH(QString, nickname);
  QCoreApplication& app = *QCoreApplication::instance();
  QCOMPARE(InstallTranslators(app, english ? QLocale(QLocale::English, QLocale::UnitedStates)
                                           : QLocale(QLocale::Chinese, QLocale::China)),
           english);
  CMainFrame& frame = Start();
  MessageRecorder recorder;
  AnswerDialog([&](QDialog& dialog) {
    Fill(dialog, {host, QStringLiteral("21"), false, user, password, nickname});
    auto* charset = dialog.findChild<QComboBox*>(QStringLiteral("charsetCombo"));
    charset->setCurrentIndex(charset->findData(static_cast<int>(NameCharset::kGbk)));
  });
  frame.Command(kCmdAddSite);
  QCOMPARE(recorder.texts(), QStringList());
  const auto readBack = [this] {
    const auto stored = Stored(dir_->path());
    QStringList fields;
    for (const std::string* bytes : {&stored.at(0)->host, &stored.at(0)->userName,
                                     &stored.at(0)->password, &stored.at(0)->nickname}) {
      fields << QString::fromStdString(DecodeSiteText(*bytes));
    }
    fields << QString::fromLatin1(CharsetName(stored.at(0)->charset.load()).data());
    return fields;
  };
  const QStringList typed{host, user, password, nickname, QStringLiteral("gbk")};
  QCOMPARE(readBack(), typed);
  // The window shows the nickname as typed.
  CFTPSite* site = frame.doc().sites().front().get();
  frame.dirView().SelectSite(site);
  QCOMPARE(frame.dirView().currentIndex().data().toString(), nickname);

  // Editing shows every field as typed; OK with them unchanged is no error.
  QStringList shown;
  AnswerDialog([&](QDialog& dialog) {
    for (const char* name : {"hostEdit", "userEdit", "passwordEdit", "nicknameEdit"}) {
      shown << dialog.findChild<QLineEdit*>(QLatin1String(name))->text();
    }
    auto* charset = dialog.findChild<QComboBox*>(QStringLiteral("charsetCombo"));
    shown << charset->currentText();
    charset->setCurrentIndex(charset->findData(static_cast<int>(NameCharset::kAuto)));
  });
  frame.Command(kCmdEditSite);
  QCOMPARE(recorder.texts(), QStringList());
  QCOMPARE(shown, (QStringList{host, user, password, nickname, QStringLiteral("GBK (GB18030)")}));
  QStringList kept = typed;
  kept.last() = QStringLiteral("auto");
  QCOMPARE(readBack(), kept);
  for (QTranslator* translator : app.findChildren<QTranslator*>()) {
    QCoreApplication::removeTranslator(translator);
  }
}

QTEST_MAIN(SiteCommandsTest)
#include "site_commands_test.moc"
