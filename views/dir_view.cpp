#include "views/dir_view.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <utility>

#include "catalog/ftp_site.h"
#include "document/orvane_doc.h"
#include "views/dir_tree_model.h"

namespace orvane {

CDirView::CDirView(COrvaneDoc& doc, QWidget* parent)
    : QTreeView(parent), doc_(doc), model_(new CDirTreeModel(doc, this)) {
  setObjectName(QStringLiteral("dirView"));
  setModel(model_);
  setHeaderHidden(true);
  setUniformRowHeights(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setContextMenuPolicy(Qt::CustomContextMenu);
  setExpandsOnDoubleClick(true);
  connect(this, &QTreeView::expanded, this, &CDirView::OnExpanded);
  connect(this, &QTreeView::collapsed, this, &CDirView::OnCollapsed);
  connect(selectionModel(), &QItemSelectionModel::selectionChanged, this,
          &CDirView::OnSelectionChanged);
  connect(this, &QWidget::customContextMenuRequested, this, &CDirView::OnContextMenu);
  connect(this, &QAbstractItemView::clicked, this, &CDirView::OnClicked);
  model_->ReloadSites();
}

void CDirView::ReloadSites() {
  quietSelection_ = true;
  model_->ReloadSites();
  quietSelection_ = false;
}

void CDirView::SiteAdded(CFTPSite* site) {
  quietSelection_ = true;
  model_->InsertSite(site);
  quietSelection_ = false;
}

void CDirView::SiteEdited(CFTPSite* site) {
  quietSelection_ = true;
  model_->SiteEdited(site);
  quietSelection_ = false;
}

void CDirView::SelectSite(const CFTPSite* site) {
  const QModelIndex index = model_->SiteIndex(site);
  if (!index.isValid()) return;
  if (!selectionModel()->isSelected(index)) {
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
  }
  scrollTo(index);
}

void CDirView::UpdateSiteItem(CFTPSite* site) { model_->UpdateSiteItem(site); }

void CDirView::SelectDirectory(CFTPDir* dir) {
  const QModelIndex index = model_->FindItem(dir);
  if (!index.isValid()) return;
  quietSelection_ = true;
  selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
  quietSelection_ = false;
  scrollTo(index);
}

void CDirView::RevealDirectory(CFTPDir* dir) {
  if (!dir) return;
  std::vector<CFTPDir*> above;
  for (CFTPDir* up = dir->parent; up; up = up->parent) above.push_back(up);
  // From the site down: each expansion fills the next level's items.
  for (auto it = above.rbegin(); it != above.rend(); ++it) {
    const QModelIndex index = model_->FindItem(*it);
    if (!index.isValid() || model_->DirectoryAt(index) != *it) return;
    if (!isExpanded(index)) expand(index);
  }
  const QModelIndex index = model_->FindItem(dir);
  if (!index.isValid() || model_->DirectoryAt(index) != dir) return;
  const QModelIndexList selected = selectionModel()->selectedIndexes();
  if (selected.size() == 1 && selected.first() == index) return;
  quietSelection_ = true;
  selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
  quietSelection_ = false;
  scrollTo(index);
}

bool CDirView::SelectCurrent() {
  const QModelIndex current = currentIndex();
  if (!current.isValid()) return false;
  if (!selectionModel()->isSelected(current)) {
    selectionModel()->setCurrentIndex(current, QItemSelectionModel::ClearAndSelect);
  }
  return true;
}

void CDirView::keyPressEvent(QKeyEvent* event) {
  const bool plain =
      event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier;
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      if (!plain || !currentIndex().isValid()) break;
      // A second Enter on the chosen item opens or closes its branch.
      if (selectionModel()->isSelected(currentIndex())) {
        setExpanded(currentIndex(), !isExpanded(currentIndex()));
      } else {
        SelectCurrent();
      }
      return;
    case Qt::Key_Delete:
    case Qt::Key_F2:
      if (!plain) break;
      if (SelectCurrent() && model_->IsSiteItem(currentIndex())) {
        emit contextCommand(event->key() == Qt::Key_Delete ? kCmdDeleteSite : kCmdEditSite);
      }
      return;
    case Qt::Key_Menu:
      if (currentIndex().isValid()) OnContextMenu(visualRect(currentIndex()).center());
      return;
    case Qt::Key_F10:
      if (event->modifiers() != Qt::ShiftModifier) break;
      if (currentIndex().isValid()) OnContextMenu(visualRect(currentIndex()).center());
      return;
    default:
      break;
  }
  QTreeView::keyPressEvent(event);
}

void CDirView::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::BackButton || event->button() == Qt::ForwardButton) {
    emit contextCommand(event->button() == Qt::BackButton ? kCmdBack : kCmdForward);
    event->accept();
    return;
  }
  const QModelIndex pressed = indexAt(event->position().toPoint());
  pressOnSelected_ = event->button() == Qt::LeftButton && pressed.isValid() &&
                     selectionModel()->isSelected(pressed);
  QTreeView::mousePressEvent(event);
}

void CDirView::OnClicked(const QModelIndex& index) {
  if (!std::exchange(pressOnSelected_, false) || !selectionModel()->isSelected(index)) return;
  if (CFTPDir* dir = model_->DirectoryAt(index)) emit chosenItemClicked(dir);
}

QModelIndex CDirView::CommandIndex() const {
  const QModelIndexList selected = selectionModel()->selectedIndexes();
  if (!selected.isEmpty()) return selected.first();
  // After start or an import the tree can have the focus frame on an item
  // that nobody selected; that item is what the user sees as chosen.
  return hasFocus() ? currentIndex() : QModelIndex();
}

CFTPDir* CDirView::CurrentDirectory() const {
  const QModelIndex index = CommandIndex();
  return index.isValid() ? model_->DirectoryAt(index) : nullptr;
}

CFTPSite* CDirView::CurrentSite() const {
  const QModelIndex index = CommandIndex();
  return index.isValid() ? model_->SiteAt(index) : nullptr;
}

void CDirView::EntriesRemoving(const std::vector<const CFTPDir*>& dirs) {
  // Qt moves the selection off a removed item onto a neighbour; that is not
  // the user choosing a directory, so it runs no steps and is undone.
  const QModelIndexList selected = selectionModel()->selectedIndexes();
  const QPersistentModelIndex before = selected.isEmpty() ? QModelIndex() : selected.first();
  quietSelection_ = true;
  model_->PurgeRemoved(dirs);
  if (!selected.isEmpty() && !before.isValid()) selectionModel()->clear();
  quietSelection_ = false;
}

void CDirView::FollowCatalog(const CFTPSite* site) {
  // Items that leave here are of directories an update removed; as with a
  // removal notice, Qt's move of the selection is not the user's choice.
  const QModelIndexList selected = selectionModel()->selectedIndexes();
  const QPersistentModelIndex before = selected.isEmpty() ? QModelIndex() : selected.first();
  quietSelection_ = true;
  model_->FollowCatalog(site);
  if (!selected.isEmpty() && !before.isValid()) selectionModel()->clear();
  quietSelection_ = false;
}

void CDirView::OnExpanded(const QModelIndex& index) {
  // A hidden tree defers its layout and with it the fetch; fill now so an
  // expanded item always has its children.
  if (model_->canFetchMore(index)) model_->fetchMore(index);
}

void CDirView::OnCollapsed(const QModelIndex& index) {
  // Collapsing over the selected item selects the collapsed item (with the
  // selection steps), as the user can no longer see the old one.
  const QModelIndexList selected = selectionModel()->selectedIndexes();
  if (!selected.isEmpty()) {
    for (QModelIndex up = selected.first().parent(); up.isValid(); up = up.parent()) {
      if (up == index) {
        selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
        break;
      }
    }
  }
  quietSelection_ = true;
  model_->Collapse(index);
  quietSelection_ = false;
}

void CDirView::OnSelectionChanged() {
  if (quietSelection_) return;
  ShowChosen();
}

void CDirView::ShowChosen() {
  const QModelIndexList selected = selectionModel()->selectedIndexes();
  if (selected.isEmpty()) return;
  // The first use of a site reads its catalog: the site store does, and
  // the steps run when it has come (CatalogLoaded), if the item is still
  // the chosen one then.
  const QModelIndex index = selected.first();
  if (!model_->RequestCatalogOf(index)) {
    pendingChosen_ = index;
    pendingFrom_ = doc_.currentNode ? doc_.currentNode->directory : nullptr;
    return;
  }
  pendingChosen_ = QPersistentModelIndex();
  CFTPDir* dir = model_->DirectoryAt(index);
  CFTPSite* site = model_->SiteAt(index);
  if (!dir || !site) return;

  doc_.RecordStep(dir);
  model_->Refill(index);
  if (!model_->IsSiteItem(index) && dir->readState.load() != 0) {
    dir->readState.store(0);
    site->stateDirty.store(true);
    model_->ClearBold(index);
  }
  doc_.ShowDirectory(dir);
  emit directoryActivated(dir);
}

void CDirView::CatalogLoaded(const CFTPSite* site) {
  model_->CatalogLoaded(site);
  if (!pendingChosen_.isValid() || model_->SiteAt(pendingChosen_) != site) return;
  const QModelIndex chosen = std::exchange(pendingChosen_, QPersistentModelIndex());
  // Something else was shown meanwhile (an address, say): that stays.
  const CFTPDir* now = doc_.currentNode ? doc_.currentNode->directory : nullptr;
  if (now == pendingFrom_ && selectionModel()->isSelected(chosen)) ShowChosen();
}

void CDirView::OnContextMenu(const QPoint& pos) {
  const QModelIndex index = indexAt(pos);
  if (!index.isValid()) return;
  // Selecting an item that was not selected runs the selection steps.
  if (!selectionModel()->isSelected(index)) {
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
  }
  auto* menu = new QMenu(this);
  menu->setObjectName(QStringLiteral("dirViewMenu"));
  menu->setAttribute(Qt::WA_DeleteOnClose);
  // Queued: a command may run a long walk that processes events, and the
  // menu's own deferred deletion must not run while the menu is still on
  // the stack.
  const auto add = [this, menu](const QString& text, int id) {
    connect(
        menu->addAction(text), &QAction::triggered, this, [this, id] { emit contextCommand(id); },
        Qt::QueuedConnection);
  };
  add(tr("显示更新"), kCmdShowUpdates);
  add(tr("更新"), kCmdUpdate);
  add(tr("设置已读"), kCmdSetRead);
  if (model_->IsSiteItem(index)) {
    add(tr("编辑站点"), kCmdEditSite);
    add(tr("删除站点"), kCmdDeleteSite);
  }
  add(tr("复制路径"), kCmdCopyPath);
  menu->popup(viewport()->mapToGlobal(pos));
}

}  // namespace orvane
