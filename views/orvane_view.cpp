#include "views/orvane_view.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QSettings>
#include <algorithm>

#include "catalog/ftp_dir.h"
#include "catalog/ftp_file.h"
#include "catalog/ftp_site.h"
#include "document/orvane_doc.h"
#include "views/file_list_model.h"

namespace orvane {

namespace {

// The document's lists without the entries a running walk has parked as
// removed (they may still be in its snapshot, never on screen).
template <typename Entry>
const std::vector<Entry*>& Live(const COrvaneDoc& doc, const std::vector<Entry*>& list,
                                std::vector<Entry*>& filtered) {
  if (!doc.walking()) return list;
  filtered.clear();
  std::copy_if(list.begin(), list.end(), std::back_inserter(filtered),
               [&doc](Entry* entry) { return !doc.IsRemoved(entry); });
  return filtered;
}

}  // namespace

COrvaneView::COrvaneView(COrvaneDoc& doc, QWidget* parent)
    : QTreeView(parent), doc_(doc), model_(new CFileListModel(this)) {
  setObjectName(QStringLiteral("fileView"));
  setModel(model_);
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setUniformRowHeights(true);
  setAllColumnsShowFocus(true);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setContextMenuPolicy(Qt::CustomContextMenu);
  header()->setStretchLastSection(false);
  header()->resizeSection(CFileListModel::kNameColumn, 300);
  header()->resizeSection(CFileListModel::kSizeColumn, 100);
  header()->resizeSection(CFileListModel::kAddressColumn, 600);
  // Unsorted (the document's order) until a header is clicked; a third
  // click returns to it.
  header()->setSortIndicator(-1, Qt::AscendingOrder);
  header()->setSortIndicatorClearable(true);
  setSortingEnabled(true);
  connect(header(), &QHeaderView::sortIndicatorChanged, this, [this](int section) {
    if (section >= 0) return;
    if (model_->mode() == CFileListModel::Mode::kBrowse) ShowBrowse();
    if (model_->mode() == CFileListModel::Mode::kResults) ShowResults();
  });
  connect(this, &QAbstractItemView::doubleClicked, this, &COrvaneView::OnDoubleClicked);
  connect(this, &QWidget::customContextMenuRequested, this, &COrvaneView::OnContextMenu);
}

void COrvaneView::ShowBrowse() {
  std::vector<CFTPDir*> dirs;
  std::vector<CFTPFile*> files;
  model_->Fill(CFileListModel::Mode::kBrowse, Live(doc_, doc_.browseDirs, dirs),
               Live(doc_, doc_.browseFiles, files));
}

void COrvaneView::ShowResults() {
  std::vector<CFTPDir*> dirs;
  std::vector<CFTPFile*> files;
  model_->Fill(CFileListModel::Mode::kResults, Live(doc_, doc_.resultDirs, dirs),
               Live(doc_, doc_.resultFiles, files));
}

std::uint64_t COrvaneView::ShowResults(CFileListModel::Rows&& rows) {
  return model_->Fill(CFileListModel::Mode::kResults, std::move(rows));
}

void COrvaneView::FollowBrowse() {
  if (model_->mode() != CFileListModel::Mode::kBrowse) return;
  std::vector<CFTPDir*> dirs;
  std::vector<CFTPFile*> files;
  model_->Retake(CFileListModel::Mode::kBrowse, Live(doc_, doc_.browseDirs, dirs),
                 Live(doc_, doc_.browseFiles, files));
}

void COrvaneView::ShowWelcome() { model_->ShowWelcome(); }

void COrvaneView::AppendResults() {
  const auto shownDirs = static_cast<std::size_t>(model_->dirRows());
  const auto shownFiles = static_cast<std::size_t>(model_->fileRows());
  if (model_->mode() != CFileListModel::Mode::kResults || doc_.resultDirs.size() < shownDirs ||
      doc_.resultFiles.size() < shownFiles) {
    ShowResults();
    return;
  }
  std::vector<CFTPDir*> dirs(doc_.resultDirs.begin() + static_cast<std::ptrdiff_t>(shownDirs),
                             doc_.resultDirs.end());
  std::vector<CFTPFile*> files(doc_.resultFiles.begin() + static_cast<std::ptrdiff_t>(shownFiles),
                               doc_.resultFiles.end());
  std::vector<CFTPDir*> liveDirs;
  std::vector<CFTPFile*> liveFiles;
  model_->Append(Live(doc_, dirs, liveDirs), Live(doc_, files, liveFiles));
}

void COrvaneView::EntriesRemoving(const std::vector<const CFTPDir*>& dirs,
                                  const std::vector<const CFTPFile*>& files) {
  model_->RemoveEntries(dirs, files);
}

std::vector<std::string> COrvaneView::SelectedDisplayPaths() const {
  QModelIndexList rows = selectionModel()->selectedRows();
  std::sort(rows.begin(), rows.end(),
            [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
  std::vector<std::string> paths;
  paths.reserve(static_cast<std::size_t>(rows.size()));
  for (const QModelIndex& index : rows) paths.push_back(model_->DisplayPathAt(index.row()));
  return paths;
}

std::vector<CFTPFile*> COrvaneView::ListedFiles() const {
  std::vector<CFTPFile*> files;
  files.reserve(static_cast<std::size_t>(model_->fileRows()));
  for (int row = model_->dirRows(); row < model_->rowCount(); ++row) {
    if (CFTPFile* file = model_->FileAt(row)) files.push_back(file);
  }
  return files;
}

std::vector<CFTPDir*> COrvaneView::ListedDirs() const {
  std::vector<CFTPDir*> dirs;
  dirs.reserve(static_cast<std::size_t>(model_->dirRows()));
  for (int row = 0; row < model_->dirRows(); ++row) {
    if (CFTPDir* dir = model_->DirAt(row)) dirs.push_back(dir);
  }
  return dirs;
}

bool COrvaneView::resultMode() const { return model_->mode() == CFileListModel::Mode::kResults; }

int COrvaneView::ItemCount() const { return model_->rowCount(); }

void COrvaneView::OnDoubleClicked(const QModelIndex& index) {
  if (!index.isValid()) return;
  if (CFTPDir* dir = model_->DirAt(index.row())) {
    OpenDirectory(dir);
    return;
  }
  if (model_->FileAt(index.row())) emit fileActivated(model_->DisplayPathAt(index.row()));
}

void COrvaneView::OpenDirectory(CFTPDir* dir) {
  doc_.RecordStep(dir);
  // The cleared mark must reach state.st, as a tree selection's does.
  if (dir->readState.exchange(0) != 0) {
    if (CFTPSite* site = dir->GetSite()) site->stateDirty.store(true);
  }
  doc_.ShowDirectory(dir);
  ShowBrowse();
  emit directoryActivated(dir);
}

void COrvaneView::ShowInFolder(int row) {
  CFTPDir* dir = model_->DirAt(row);
  CFTPFile* file = model_->FileAt(row);
  // A site's root has no folder above it: it is shown itself.
  CFTPDir* folder = dir ? (dir->parent ? dir->parent : dir) : file ? file->parent : nullptr;
  if (!folder) return;
  OpenDirectory(folder);
  for (int shown = 0; shown < model_->rowCount(); ++shown) {
    if ((dir && model_->DirAt(shown) == dir) || (file && model_->FileAt(shown) == file)) {
      const QModelIndex index = model_->index(shown, 0);
      selectionModel()->setCurrentIndex(
          index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
      scrollTo(index);
      break;
    }
  }
}

bool COrvaneView::ShowInFolder(CFTPDir* folder, std::string_view name) {
  OpenDirectory(folder);
  for (int shown = 0; shown < model_->rowCount(); ++shown) {
    const CFTPDir* dir = model_->DirAt(shown);
    const CFTPFile* file = model_->FileAt(shown);
    if (!(dir && dir->name() == name) && !(file && file->name() == name)) continue;
    const QModelIndex index = model_->index(shown, 0);
    selectionModel()->setCurrentIndex(
        index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    scrollTo(index);
    return true;
  }
  return false;
}

int COrvaneView::CopySelectedAddresses() {
  QStringList lines;
  for (const std::string& path : SelectedDisplayPaths()) {
    // Addresses are percent-encoded ASCII; a welcome row has none.
    const std::string address = path.empty() ? std::string() : doc_.GetFileAddress(path);
    if (!address.empty()) lines << QString::fromLatin1(address.data(), qsizetype(address.size()));
  }
  QClipboard* clipboard = QGuiApplication::clipboard();
  if (lines.isEmpty() || !clipboard) return 0;
  clipboard->setText(lines.join(QLatin1Char('\n')));
  return static_cast<int>(lines.size());
}

void COrvaneView::SaveLayout() const {
  QSettings().setValue(QStringLiteral("list/header"), header()->saveState());
}

void COrvaneView::RestoreLayout() {
  header()->restoreState(QSettings().value(QStringLiteral("list/header")).toByteArray());
}

void COrvaneView::keyPressEvent(QKeyEvent* event) {
  if (event->matches(QKeySequence::Copy)) {
    if (const int count = CopySelectedAddresses()) emit addressesCopied(count);
    return;
  }
  QModelIndex current = currentIndex();
  // A refill leaves no current row; the menu keys then take the first.
  if (!current.isValid() && model_->rowCount() > 0 &&
      (event->key() == Qt::Key_Menu || event->key() == Qt::Key_F10)) {
    current = model_->index(0, 0);
    selectionModel()->setCurrentIndex(current, QItemSelectionModel::NoUpdate);
  }
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      if (event->modifiers() != Qt::NoModifier && event->modifiers() != Qt::KeypadModifier) break;
      OnDoubleClicked(current);
      return;
    case Qt::Key_Backspace:
      emit contextCommand(kCmdUp);
      return;
    case Qt::Key_Menu:
      if (current.isValid()) OnContextMenu(visualRect(current).center());
      return;
    case Qt::Key_F10:
      if (event->modifiers() != Qt::ShiftModifier) break;
      if (current.isValid()) OnContextMenu(visualRect(current).center());
      return;
    default:
      break;
  }
  QTreeView::keyPressEvent(event);
}

void COrvaneView::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::BackButton || event->button() == Qt::ForwardButton) {
    emit contextCommand(event->button() == Qt::BackButton ? kCmdBack : kCmdForward);
    event->accept();
    return;
  }
  QTreeView::mousePressEvent(event);
}

void COrvaneView::OnContextMenu(const QPoint& pos) {
  const QModelIndex index = indexAt(pos);
  if (!index.isValid()) return;
  // The clicked row joins the selection; rows selected before stay.
  selectionModel()->setCurrentIndex(index, QItemSelectionModel::Select | QItemSelectionModel::Rows);
  auto* menu = new QMenu(this);
  menu->setObjectName(QStringLiteral("fileViewMenu"));
  menu->setAttribute(Qt::WA_DeleteOnClose);
  // Queued, as the tree's commands are: they run once the menu is done,
  // and a directory row is looked up again then (an update may have
  // removed it meanwhile).
  const QPersistentModelIndex row = index;
  const auto forDirectory = [this, menu, row](const QString& text, const char* name, auto command) {
    QAction* action = menu->addAction(text);
    action->setObjectName(QLatin1String(name));
    connect(
        action, &QAction::triggered, this,
        [this, row, command] {
          if (CFTPDir* dir = row.isValid() ? model_->DirAt(row.row()) : nullptr) command(dir);
        },
        Qt::QueuedConnection);
  };
  // A directory offers what its tree item does.
  if (model_->DirAt(index.row())) {
    forDirectory(tr("打开"), "actionOpenDirectory", [this](CFTPDir* dir) { OpenDirectory(dir); });
    forDirectory(tr("设置已读"), "actionDirectorySetRead",
                 [this](CFTPDir* dir) { emit directoryCommand(kCmdSetDirectoryRead, dir); });
    forDirectory(tr("显示更新"), "actionDirectoryShowUpdates",
                 [this](CFTPDir* dir) { emit directoryCommand(kCmdShowUpdates, dir); });
  }
  QAction* copy = menu->addAction(tr("复制路径"));
  copy->setObjectName(QStringLiteral("actionCopyPath"));
  connect(
      copy, &QAction::triggered, this, [this] { emit contextCommand(kCmdCopyPath); },
      Qt::QueuedConnection);
  // Results come from anywhere; browse rows are in their folder already.
  if (model_->mode() == CFileListModel::Mode::kResults) {
    QAction* show = menu->addAction(tr("在文件夹中显示"));
    show->setObjectName(QStringLiteral("actionShowInFolder"));
    connect(
        show, &QAction::triggered, this,
        [this, row] {
          if (row.isValid()) ShowInFolder(row.row());
        },
        Qt::QueuedConnection);
  }
  menu->popup(viewport()->mapToGlobal(pos));
}

}  // namespace orvane
