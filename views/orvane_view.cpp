#include "views/orvane_view.h"

#include <QHeaderView>
#include <QMenu>
#include <algorithm>

#include "catalog/ftp_dir.h"
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
  setSortingEnabled(false);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setContextMenuPolicy(Qt::CustomContextMenu);
  header()->setSectionsClickable(false);
  header()->setStretchLastSection(false);
  header()->resizeSection(CFileListModel::kNameColumn, 300);
  header()->resizeSection(CFileListModel::kSizeColumn, 100);
  header()->resizeSection(CFileListModel::kAddressColumn, 600);
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

bool COrvaneView::resultMode() const { return model_->mode() == CFileListModel::Mode::kResults; }

int COrvaneView::ItemCount() const { return model_->rowCount(); }

void COrvaneView::OnDoubleClicked(const QModelIndex& index) {
  if (!index.isValid()) return;
  if (CFTPDir* dir = model_->DirAt(index.row())) {
    doc_.RecordStep(dir);
    // The cleared mark must reach state.st, as a tree selection's does.
    if (dir->readState.exchange(0) != 0) {
      if (CFTPSite* site = dir->GetSite()) site->stateDirty.store(true);
    }
    doc_.ShowDirectory(dir);
    ShowBrowse();
    emit directoryActivated(dir);
    return;
  }
  if (model_->FileAt(index.row())) emit fileActivated(model_->DisplayPathAt(index.row()));
}

void COrvaneView::OnContextMenu(const QPoint& pos) {
  const QModelIndex index = indexAt(pos);
  if (!index.isValid()) return;
  // The clicked row joins the selection; rows selected before stay.
  selectionModel()->setCurrentIndex(index, QItemSelectionModel::Select | QItemSelectionModel::Rows);
  auto* menu = new QMenu(this);
  menu->setObjectName(QStringLiteral("fileViewMenu"));
  menu->setAttribute(Qt::WA_DeleteOnClose);
  connect(menu->addAction(tr("复制路径")), &QAction::triggered, this,
          [this] { emit contextCommand(kCmdCopyPath); });
  menu->popup(viewport()->mapToGlobal(pos));
}

}  // namespace orvane
