#include "frame/sites_overview.h"

#include <QHeaderView>
#include <QScrollBar>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include "frame/screen_fit.h"
#include "frame/sites_overview_model.h"

namespace orvane {

CSitesOverview::CSitesOverview(COrvaneDoc& doc, QWidget* parent)
    : QDialog(parent),
      model_(new CSitesOverviewModel(doc, this)),
      proxy_(new QSortFilterProxyModel(this)),
      table_(new QTableView(this)) {
  setObjectName(QStringLiteral("sitesOverview"));
  setWindowTitle(tr("站点概况"));
  proxy_->setSourceModel(model_);
  proxy_->setSortRole(CSitesOverviewModel::kSortRole);
  proxy_->setSortCaseSensitivity(Qt::CaseInsensitive);
  table_->setObjectName(QStringLiteral("sitesOverviewTable"));
  table_->setModel(proxy_);
  table_->setSortingEnabled(true);
  table_->sortByColumn(CSitesOverviewModel::kName, Qt::AscendingOrder);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setWordWrap(false);
  table_->verticalHeader()->hide();
  table_->horizontalHeader()->setStretchLastSection(true);
  // activated: a double-click, or Enter on the current row.
  connect(table_, &QTableView::activated, this, &CSitesOverview::Activated);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(table_);
  resize(900, 320);
}

void CSitesOverview::Refresh() {
  if (refreshQueued_ || !isVisible()) return;
  refreshQueued_ = true;
  QTimer::singleShot(0, this, [this] {
    refreshQueued_ = false;
    model_->Reload();
  });
}

void CSitesOverview::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  model_->Reload();
  table_->resizeColumnsToContents();
  // Wide enough for every column, the last error and its time included,
  // as far as the screen allows.
  const int needed = table_->horizontalHeader()->length() + 2 * table_->frameWidth() +
                     table_->verticalScrollBar()->sizeHint().width();
  if (needed > table_->viewport()->width()) {
    resize(width() + needed - table_->width(), height());
    FitToScreen(*this);
  }
}

void CSitesOverview::Activated(const QModelIndex& index) {
  if (const auto site = model_->SiteAt(proxy_->mapToSource(index).row())) {
    emit siteActivated(site.get());
  }
}

}  // namespace orvane
