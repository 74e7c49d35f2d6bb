// The file list: welcome rows, fills, appended results, colours, the
// display rule, double-click, the context menu and removal notices.
#include <QAbstractItemModelTester>
#include <QHeaderView>
#include <QMenu>
#include <QSignalSpy>
#include <QtTest>
#include <thread>

#include "tests/views/view_fixture.h"
#include "views/display_text.h"
#include "views/file_list_model.h"
#include "views/orvane_view.h"
#include "views/state_icons.h"

using namespace orvane;

class OrvaneViewTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { qRegisterMetaType<CFTPDir*>(); }
  void init();
  void cleanup();
  void formatSize_data();
  void formatSize();
  void displayRule_data();
  void displayRule();
  void everyFormatCharacterIsShown();
  void addressesShowLoginAndPortWithoutPassword();
  void typedTextBecomesCodePage936();
  void welcomeRowsUntilTheFirstFill();
  void browseListsDirectoriesFirstWithSizesAddressesAndColours();
  void appendedResultsArriveWithOneNoticePerGroup();
  void doubleClickOpensADirectoryOrHandsOnAFile();
  void rightClickAddsTheRowToTheSelection();
  void removalDropsRowsOfRemovedSubtreesBeforeTheyAreDestroyed();
  void rowsMadeOffThreadAreTakenWholeWithTheirByteTotal();

 private:
  std::unique_ptr<test::ViewFixture> f;
  std::unique_ptr<COrvaneView> view;
  CFileListModel* model = nullptr;
  CFTPDir* root = nullptr;
  CFTPDir* pub = nullptr;  // new, holds deep/inner.txt
  CFTPDir* deep = nullptr;
  CFTPFile* inner = nullptr;
  CFTPFile* notes = nullptr;  // unread
  CFTPFile* image = nullptr;
};

void OrvaneViewTest::init() {
  f = std::make_unique<test::ViewFixture>();
  root = f->AddSite("ftp.example").rootDir.get();
  // Files before directories in the catalog: the list still shows
  // directories first.
  notes = test::ViewFixture::AddFile(root, "notes.txt", 1536, 1);
  pub = test::ViewFixture::AddDir(root, "pub", 1);
  image = test::ViewFixture::AddFile(root, "image.PNG", 3);
  deep = test::ViewFixture::AddDir(pub, "deep");
  inner = test::ViewFixture::AddFile(deep, "inner.txt", 1);
  view = std::make_unique<COrvaneView>(f->doc);
  model = view->listModel();
}

void OrvaneViewTest::cleanup() {
  view.reset();
  f.reset();
}

void OrvaneViewTest::formatSize_data() {
  QTest::addColumn<quint64>("size");
  QTest::addColumn<QString>("text");
  QTest::newRow("zero") << quint64{0} << QStringLiteral("0字节");
  QTest::newRow("bytes") << quint64{5} << QStringLiteral("5字节");
  QTest::newRow("below K") << quint64{1023} << QStringLiteral("1023字节");
  QTest::newRow("one K") << quint64{1024} << QStringLiteral("1.00K");
  QTest::newRow("half") << quint64{1536} << QStringLiteral("1.50K");
  QTest::newRow("below M") << quint64{1048575} << QStringLiteral("1024.00K");
  QTest::newRow("one M") << quint64{1048576} << QStringLiteral("1.00M");
  QTest::newRow("one G") << quint64{1073741824} << QStringLiteral("1.00G");
  QTest::newRow("below T") << (quint64{1} << 40) - 1 << QStringLiteral("1024.00G");
  QTest::newRow("5 TiB") << (quint64{5} << 40) << QStringLiteral("5.00T");
  QTest::newRow("largest") << ~quint64{0} << QStringLiteral("16777216.00T");
  QTest::newRow("low bits are no size") << quint64{0x100000005} << QStringLiteral("4.00G");
}

void OrvaneViewTest::formatSize() {
  QFETCH(quint64, size);
  QFETCH(QString, text);
  QCOMPARE(CFileListModel::FormatSize(size), text);
}

void OrvaneViewTest::displayRule_data() {
  QTest::addColumn<QByteArray>("bytes");
  QTest::addColumn<int>("charset");
  QTest::addColumn<QString>("shown");
  const int utf8 = static_cast<int>(NameCharset::kUtf8);
  const int gbk = static_cast<int>(NameCharset::kGbk);
  QTest::newRow("ascii") << QByteArray("readme.txt") << gbk << QStringLiteral("readme.txt");
  QTest::newRow("utf-8") << QByteArray("\xe9\x9f\xb3\xe4\xb9\x90") << utf8
                         << QStringLiteral("音乐");
  QTest::newRow("gbk") << QByteArray("\xd2\xf4\xc0\xd6") << gbk << QStringLiteral("音乐");
  QTest::newRow("gbk that is also utf-8")
      << QByteArray("\xcd\xbc\xc6\xac.jpg") << gbk << QStringLiteral("图片.jpg");
  QTest::newRow("the same bytes as utf-8")
      << QByteArray("\xcd\xbc\xc6\xac.jpg") << utf8 << QStringLiteral("\u037c\u01ac.jpg");
  QTest::newRow("right-to-left override")
      << QByteArray("rtl\xe2\x80\xaetxt.exe") << utf8 << QStringLiteral("rtl<U+202E>txt.exe");
  QTest::newRow("isolate and mark in utf-8 text")
      << QByteArray("\xe9\x9f\xb3\xe2\x81\xa7\xe2\x80\x8f") << utf8
      << QStringLiteral("音<U+2067><U+200F>");
}

void OrvaneViewTest::displayRule() {
  QFETCH(QByteArray, bytes);
  QFETCH(int, charset);
  QFETCH(QString, shown);
  const std::string_view name(bytes.constData(), static_cast<std::size_t>(bytes.size()));
  QCOMPARE(NameText(name, static_cast<NameCharset>(charset)), shown);
  // The key of a path is site-list text (小站 in GBK), whatever the names.
  const std::string path = "ftp://\xd0\xa1\xd5\xbe/" + std::string(name);
  QCOMPARE(DisplayPath(path, static_cast<NameCharset>(charset)),
           QStringLiteral("ftp://小站/") + shown);
}

void OrvaneViewTest::everyFormatCharacterIsShown() {
  // Qt's own table of format characters is covered by the shared one.
  for (char32_t c = 0; c <= 0x10FFFF; ++c) {
    if (QChar::category(c) != QChar::Other_Format) continue;
    // Not fromUcs4 of a string: it drops a byte-order mark.
    const QByteArray bytes = QStringView(QChar::fromUcs4(c)).toUtf8();
    QVERIFY2(NameText(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())),
                      NameCharset::kUtf8)
                 .startsWith(QStringLiteral("<U+")),
             qPrintable(QString::number(c, 16)));
  }
}

void OrvaneViewTest::addressesShowLoginAndPortWithoutPassword() {
  CFTPSite& named = f->AddSite("10.0.0.7");
  named.userName = "alice";
  named.password = "secret";
  named.port = 2121;
  CFTPFile* big = test::ViewFixture::AddFile(named.rootDir.get(), "big.iso", ~std::uint64_t{0});
  CFTPSite& v6 = f->AddSite("::1");
  CFTPDir* v6dir = test::ViewFixture::AddDir(v6.rootDir.get(), "pub");
  // Another protocol: its scheme, its default port left out, its start
  // directory before the catalog's path.
  CFTPSite& sftp = f->AddSite("s.example");
  sftp.userName = "bob";
  sftp.password = "pw";
  sftp.SetAccess({SiteProtocol::kSftp, "/home/bob", "", ""});
  CFTPFile* kept = test::ViewFixture::AddFile(sftp.rootDir.get(), "a.txt", 1);
  f->doc.resultFiles = {big, kept};
  f->doc.resultDirs = {v6dir, deep};
  view->ShowResults();
  const auto cell = [this](int row, int column, int role = Qt::DisplayRole) {
    return model->index(row, column).data(role);
  };
  QCOMPARE(cell(0, 2).toString(), QStringLiteral("ftp://[::1]/pub"));
  QCOMPARE(cell(1, 2).toString(), QStringLiteral("ftp://ftp.example/pub/deep"));
  QCOMPARE(cell(2, 2).toString(), QStringLiteral("ftp://alice@10.0.0.7:2121/big.iso"));
  QCOMPARE(cell(3, 2).toString(), QStringLiteral("sftp://bob@s.example/home/bob/a.txt"));
  QCOMPARE(cell(2, 1).toString(), QStringLiteral("16777216.00T"));
  QCOMPARE(cell(2, 1, Qt::ToolTipRole).toString(), QStringLiteral("18446744073709551615 字节"));
  QCOMPARE(cell(2, 1, Qt::TextAlignmentRole).toInt(), int(Qt::AlignRight | Qt::AlignVCenter));
  QCOMPARE(model->headerData(1, Qt::Horizontal, Qt::TextAlignmentRole).toInt(),
           int(Qt::AlignRight | Qt::AlignVCenter));
}

void OrvaneViewTest::typedTextBecomesCodePage936() {
  QCOMPARE(EncodeTyped(QStringLiteral("音乐 a")), std::string("\xd2\xf4\xc0\xd6 a"));
  // No code page 936 form: a question mark, as the stored files can hold.
  QCOMPARE(EncodeTyped(QStringLiteral("a\U0001F600b")), std::string("a?b"));
}

void OrvaneViewTest::welcomeRowsUntilTheFirstFill() {
  QAbstractItemModelTester tester(model, QAbstractItemModelTester::FailureReportingMode::QtTest);
  QCOMPARE(view->ItemCount(), 4);
  QCOMPARE(model->index(0, 0).data().toString(), QStringLiteral("欢迎使用Orvane!"));
  QCOMPARE(model->index(3, 0).data().toString(), QStringLiteral("选择左边站点可以查看站点内容"));
  QVERIFY(!model->index(0, 0).data(Qt::DecorationRole).value<QIcon>().isNull());
  view->selectionModel()->select(model->index(1, 0),
                                 QItemSelectionModel::Select | QItemSelectionModel::Rows);
  QCOMPARE(view->SelectedDisplayPaths(), std::vector<std::string>{""});
  QSignalSpy dirs(view.get(), &COrvaneView::directoryActivated);
  QSignalSpy files(view.get(), &COrvaneView::fileActivated);
  emit view->doubleClicked(model->index(0, 0));
  QCOMPARE(dirs.count() + files.count(), 0);

  f->doc.ShowDirectory(pub);  // one directory, no files
  view->ShowBrowse();
  QCOMPARE(view->ItemCount(), 1);
  f->doc.ShowDirectory(deep);
  f->doc.browseFiles.clear();
  view->ShowBrowse();
  QCOMPARE(view->ItemCount(), 0);  // empty, never the welcome rows again
}

void OrvaneViewTest::browseListsDirectoriesFirstWithSizesAddressesAndColours() {
  QAbstractItemModelTester tester(model, QAbstractItemModelTester::FailureReportingMode::QtTest);
  f->doc.ShowDirectory(root);
  view->ShowBrowse();
  QVERIFY(!view->resultMode());
  QCOMPARE(view->header()->sectionSize(0), 300);
  QCOMPARE(view->header()->sectionSize(1), 100);
  QCOMPARE(view->header()->sectionSize(2), 600);
  QCOMPARE(model->headerData(2, Qt::Horizontal).toString(), QStringLiteral("地址"));

  const auto text = [this](int row, int column) {
    return model->index(row, column).data().toString();
  };
  QCOMPARE(view->ItemCount(), 3);
  QCOMPARE(text(0, 0), QStringLiteral("pub"));
  QCOMPARE(text(0, 1), QStringLiteral("0"));
  QCOMPARE(text(0, 2), QStringLiteral("ftp://ftp.example/pub"));
  QCOMPARE(text(1, 0), QStringLiteral("notes.txt"));
  QCOMPARE(text(1, 1), QStringLiteral("1.50K"));
  QCOMPARE(text(2, 2), QStringLiteral("ftp://ftp.example/image.PNG"));

  // New rows: orange with dark text (readable whatever the theme's text
  // colour); other rows keep the defaults.
  QCOMPARE(model->index(0, 1).data(Qt::BackgroundRole).value<QColor>(), QColor(255, 123, 23));
  QCOMPARE(model->index(1, 0).data(Qt::ForegroundRole).value<QColor>(), QColor(Qt::black));
  QVERIFY(!model->index(2, 0).data(Qt::BackgroundRole).isValid());
  QVERIFY(!model->index(2, 0).data(Qt::ForegroundRole).isValid());

  // Icons: the folder for directories, one lookup per extension for files.
  QCOMPARE(model->index(0, 0).data(Qt::DecorationRole).value<QIcon>().cacheKey(),
           CStateIcons::FolderIcon().cacheKey());
  const int cached = CStateIcons::CachedFileIconCount();
  QVERIFY(!CStateIcons::FileIcon("other.TXT").isNull());
  QVERIFY(!CStateIcons::FileIcon("no-extension").isNull());
  QVERIFY(!model->index(2, 0).data(Qt::DecorationRole).value<QIcon>().isNull());
  QVERIFY(!model->index(1, 0).data(Qt::DecorationRole).value<QIcon>().isNull());
  QCOMPARE(CStateIcons::CachedFileIconCount(), cached + 3);  // txt, none, png
}

void OrvaneViewTest::appendedResultsArriveWithOneNoticePerGroup() {
  QAbstractItemModelTester tester(model, QAbstractItemModelTester::FailureReportingMode::QtTest);
  QSignalSpy inserted(model, &QAbstractItemModel::rowsInserted);
  f->doc.resultFiles = {notes};
  view->AppendResults();  // from welcome rows: a fill
  QVERIFY(view->resultMode());
  QCOMPARE(view->ItemCount(), 1);

  f->doc.resultFiles.push_back(image);
  f->doc.resultFiles.push_back(inner);
  f->doc.resultDirs = {pub, deep};
  view->AppendResults();
  QCOMPARE(inserted.count(), 2);
  QCOMPARE(inserted[0][1].toInt(), 0);  // directories before every file
  QCOMPARE(inserted[0][2].toInt(), 1);
  QCOMPARE(inserted[1][1].toInt(), 3);
  QCOMPARE(inserted[1][2].toInt(), 4);
  QCOMPARE(model->DirAt(1), deep);
  QCOMPARE(model->FileAt(4), inner);
  view->AppendResults();  // nothing new
  QCOMPARE(inserted.count(), 2);

  // A new search cleared the lists: the rows start again.
  f->doc.resultDirs.clear();
  f->doc.resultFiles = {image};
  view->AppendResults();
  QCOMPARE(view->ItemCount(), 1);
  QCOMPARE(model->FileAt(0), image);
}

void OrvaneViewTest::doubleClickOpensADirectoryOrHandsOnAFile() {
  QSignalSpy dirs(view.get(), &COrvaneView::directoryActivated);
  QSignalSpy files(view.get(), &COrvaneView::fileActivated);
  f->doc.ShowDirectory(root);
  view->ShowBrowse();
  emit view->doubleClicked(model->index(2, 1));
  QCOMPARE(files.count(), 1);
  QCOMPARE(files[0][0].value<std::string>(), std::string("ftp://ftp.example/image.PNG"));

  emit view->doubleClicked(model->index(0, 0));
  QCOMPARE(dirs.count(), 1);
  QCOMPARE(f->doc.currentNode->directory, pub);
  QCOMPARE(pub->readState.load(), 0);
  QVERIFY(f->doc.sites()[0]->stateDirty.load());
  QCOMPARE(view->ItemCount(), 1);
  QCOMPARE(model->DirAt(0), deep);
}

void OrvaneViewTest::rightClickAddsTheRowToTheSelection() {
  view->resize(800, 400);
  view->show();
  QVERIFY(QTest::qWaitForWindowExposed(view.get()));
  f->doc.ShowDirectory(root);
  view->ShowBrowse();
  view->selectionModel()->select(model->index(2, 0),
                                 QItemSelectionModel::Select | QItemSelectionModel::Rows);
  QSignalSpy commands(view.get(), &COrvaneView::contextCommand);
  emit view->customContextMenuRequested(view->visualRect(model->index(0, 0)).center());
  QCOMPARE(view->SelectedDisplayPaths(),
           (std::vector<std::string>{"ftp://ftp.example/pub", "ftp://ftp.example/image.PNG"}));
  auto* menu = view->findChild<QMenu*>(QStringLiteral("fileViewMenu"));
  QVERIFY(menu);
  // A directory offers what its tree item does.
  QStringList texts;
  for (QAction* action : menu->actions()) texts << action->text();
  QCOMPARE(texts, (QStringList{QStringLiteral("打开"), QStringLiteral("设置已读"),
                               QStringLiteral("显示更新"), QStringLiteral("复制路径")}));
  QSignalSpy forDirectory(view.get(), &COrvaneView::directoryCommand);
  for (QAction* action : menu->actions().mid(1)) action->trigger();
  // The commands come once the menu's own event is over.
  QTRY_COMPARE(commands.count(), 1);
  QCOMPARE(commands[0][0].toInt(), COrvaneView::kCmdCopyPath);
  QCOMPARE(forDirectory.count(), 2);
  QCOMPARE(forDirectory[0][0].toInt(), COrvaneView::kCmdSetDirectoryRead);
  QCOMPARE(forDirectory[1][0].toInt(), COrvaneView::kCmdShowUpdates);
  QCOMPARE(forDirectory[1][1].value<CFTPDir*>(), pub);
  // Each menu goes before the next is looked for.
  menu->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  // A file has only the address to copy.
  emit view->customContextMenuRequested(view->visualRect(model->index(2, 0)).center());
  menu = view->findChild<QMenu*>(QStringLiteral("fileViewMenu"));
  QCOMPARE(menu->actions().size(), 1);
  menu->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  // Open browses it, as a double-click does.
  emit view->customContextMenuRequested(view->visualRect(model->index(0, 0)).center());
  menu = view->findChild<QMenu*>(QStringLiteral("fileViewMenu"));
  QVERIFY(menu);
  QTest::keyClick(menu, Qt::Key_Down);
  QTest::keyClick(menu, Qt::Key_Return);
  QTRY_VERIFY(f->doc.currentNode && f->doc.currentNode->directory == pub);
  QCOMPARE(model->DirAt(0), deep);
}

void OrvaneViewTest::removalDropsRowsOfRemovedSubtreesBeforeTheyAreDestroyed() {
  QAbstractItemModelTester tester(model, QAbstractItemModelTester::FailureReportingMode::QtTest);
  view->resize(800, 400);
  view->show();
  f->doc.resultDirs = {deep, pub};
  f->doc.resultFiles = {notes, inner, image};
  view->ShowResults();
  view->selectionModel()->select(model->index(3, 0),
                                 QItemSelectionModel::Select | QItemSelectionModel::Rows);

  // A sweep takes /pub (with deep/inner.txt) and notes.txt out of the catalog.
  CFTPSite& site = *f->doc.sites()[0];
  std::vector<std::unique_ptr<CFTPDir>> dirs;
  std::vector<std::unique_ptr<CFTPFile>> gone;
  {
    std::lock_guard guard(site.lock);
    dirs.push_back(std::move(root->subdirs[0]));
    root->subdirs.clear();
    gone.push_back(std::move(root->files[0]));
    root->files.erase(root->files.begin());
  }
  view->EntriesRemoving({dirs[0].get()}, {gone[0].get()});
  f->doc.OnEntriesRemoved(std::move(dirs), std::move(gone));

  // Only image.PNG is left; drawing and reading every row touches nothing
  // freed (AddressSanitizer checks).
  QCOMPARE(view->ItemCount(), 1);
  QCOMPARE(model->FileAt(0), image);
  QCOMPARE(model->dirRows(), 0);
  view->grab();
  for (int column = 0; column < 3; ++column) model->index(0, column).data();
  view->AppendResults();  // the document dropped the same entries
  QCOMPARE(view->ItemCount(), 1);
}

void OrvaneViewTest::rowsMadeOffThreadAreTakenWholeWithTheirByteTotal() {
  QAbstractItemModelTester tester(model, QAbstractItemModelTester::FailureReportingMode::QtTest);
  QSignalSpy known(model, &CFileListModel::fileBytesKnown);
  CFileListModel::Rows rows;
  std::optional<std::uint64_t> bytes;
  std::thread([&] {
    rows = CFileListModel::MakeRows({pub, nullptr, deep}, {notes, nullptr, image});
    bytes = CFileListModel::SumBytes({notes, nullptr, image});
  }).join();
  QCOMPARE(bytes, std::optional<std::uint64_t>{1539});
  const std::atomic<bool> stop{true};
  QVERIFY(!CFileListModel::SumBytes({notes}, &stop));

  const std::uint64_t fill = view->ShowResults(std::move(rows));
  QVERIFY(view->resultMode());
  QCOMPARE(view->ItemCount(), 4);
  QCOMPARE(model->DirAt(1), deep);
  QCOMPARE(model->FileAt(3), image);
  QVERIFY(model->flags(model->index(0, 0)) & Qt::ItemNeverHasChildren);
  QVERIFY(!model->index(4, 0).isValid());
  QVERIFY(!model->index(0, CFileListModel::kColumnCount).isValid());
  // The total is awaited, and only this fill's is taken.
  QVERIFY(!model->FileBytes());
  model->SetFileBytes(fill - 1, 7);
  QVERIFY(!model->FileBytes());
  model->SetFileBytes(fill, bytes);
  QCOMPARE(known.count(), 1);
  QCOMPARE(model->FileBytes(), std::optional<std::uint64_t>{1539});

  // After any change the total is summed again from the sizes of now, and
  // a late one is not taken.
  notes->size.store(10);
  model->RemoveEntries({}, {image});
  model->SetFileBytes(fill, 7);
  QCOMPARE(model->FileBytes(), std::optional<std::uint64_t>{10});

  // A chosen order is kept by rows taken whole.
  model->sort(CFileListModel::kNameColumn);
  view->ShowResults(CFileListModel::MakeRows({pub, deep}, {notes, image}));
  QCOMPARE(model->DirAt(0), deep);
  QCOMPARE(model->FileAt(2), image);
  // Rows copied in are summed when asked.
  view->ShowResults();
  QCOMPARE(model->FileBytes(), std::optional<std::uint64_t>{0});
  f->doc.resultFiles = {notes, image};
  view->ShowResults();
  QCOMPARE(model->FileBytes(), std::optional<std::uint64_t>{13});
}

QTEST_MAIN(OrvaneViewTest)
#include "orvane_view_test.moc"
