#include "frame/changes_view.h"

#include <sys/stat.h>
#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDate>
#include <QDateTime>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelection>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QSaveFile>
#include <QSettings>
#include <QStatusBar>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>
#include <ctime>
#include <optional>

#include "catalog/change_journal.h"
#include "catalog/code_page.h"
#include "catalog/ftp_dir.h"
#include "catalog/ftp_file.h"
#include "catalog/ftp_site.h"
#include "catalog/site_health.h"
#include "document/csv_field.h"
#include "document/ftp_address.h"
#include "document/journal_json.h"
#include "document/json_writer.h"
#include "document/orvane_doc.h"
#include "document/watch_words.h"
#include "frame/dialog_seam.h"
#include "frame/frame_views.h"
#include "frame/main_frame.h"
#include "frame/watch_words_dlg.h"
#include "views/display_text.h"

namespace orvane {

namespace {

// Entries of the time combo: how far back each reaches (days; 0 is today
// from midnight, -1 everything).
constexpr int kRangeDays[] = {-1, 0, 7, 30};
// The health record is written a moment after the journal record closes.
constexpr std::int64_t kFailureSlackSeconds = 60;

std::string Utf8(const QString& text) { return text.toUtf8().toStdString(); }

QString Text(std::string_view latin1) {
  return QString::fromLatin1(latin1.data(), static_cast<qsizetype>(latin1.size()));
}

bool SaveText(const QString& path, const std::string& text, QString& error) {
  QSaveFile file(path);
  const auto size = static_cast<qint64>(text.size());
  if (!file.open(QIODevice::WriteOnly) || file.write(text.data(), size) != size || !file.commit()) {
    error = file.errorString();
    return false;
  }
  return true;
}

}  // namespace

CChangesView::CChangesView(CMainFrame& frame, QWidget* parent)
    : QWidget(parent),
      frame_(frame),
      model_(new CChangesModel(this)),
      tree_(new QTreeView(this)),
      siteCombo_(new QComboBox(this)),
      timeCombo_(new QComboBox(this)),
      addedCheck_(new QCheckBox(tr("新增"), this)),
      removedCheck_(new QCheckBox(tr("删除"), this)),
      resizedCheck_(new QCheckBox(tr("大小改变"), this)),
      hideUnchangedCheck_(new QCheckBox(tr("隐藏无变化的更新"), this)),
      settle_(new QTimer(this)) {
  setObjectName(QStringLiteral("changesView"));
  siteCombo_->setObjectName(QStringLiteral("changesSiteCombo"));
  siteCombo_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  timeCombo_->setObjectName(QStringLiteral("changesTimeCombo"));
  timeCombo_->addItems({tr("全部"), tr("今天"), tr("最近 7 天"), tr("最近 30 天")});
  addedCheck_->setObjectName(QStringLiteral("changesAddedCheck"));
  removedCheck_->setObjectName(QStringLiteral("changesRemovedCheck"));
  resizedCheck_->setObjectName(QStringLiteral("changesResizedCheck"));
  hideUnchangedCheck_->setObjectName(QStringLiteral("changesHideUnchangedCheck"));
  for (QCheckBox* check : {addedCheck_, removedCheck_, resizedCheck_, hideUnchangedCheck_}) {
    check->setChecked(true);
    connect(check, &QCheckBox::toggled, this, &CChangesView::ApplyFilter);
  }
  hideUnchangedCheck_->setChecked(
      QSettings().value(QLatin1String(kHideUnchangedKey), true).toBool());
  connect(hideUnchangedCheck_, &QCheckBox::toggled, this,
          [](bool hide) { QSettings().setValue(QLatin1String(kHideUnchangedKey), hide); });
  connect(siteCombo_, &QComboBox::currentIndexChanged, this, &CChangesView::ApplyFilter);
  connect(timeCombo_, &QComboBox::currentIndexChanged, this, &CChangesView::ApplyFilter);
  auto* exportButton = new QPushButton(tr("导出…"), this);
  exportButton->setObjectName(QStringLiteral("changesExportButton"));
  connect(exportButton, &QPushButton::clicked, this, &CChangesView::Export);
  auto* watchButton = new QPushButton(tr("关注词…"), this);
  watchButton->setObjectName(QStringLiteral("changesWatchButton"));
  connect(watchButton, &QPushButton::clicked, this, &CChangesView::EditWatchWords);

  tree_->setObjectName(QStringLiteral("changesTree"));
  tree_->setModel(model_);
  tree_->setUniformRowHeights(true);
  tree_->setAllColumnsShowFocus(true);
  tree_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  tree_->setSelectionBehavior(QAbstractItemView::SelectRows);
  tree_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tree_->setContextMenuPolicy(Qt::CustomContextMenu);
  // A double-click on an entry shows it in its folder; an update row opens
  // with its arrow or the keys.
  tree_->setExpandsOnDoubleClick(false);
  tree_->header()->resizeSection(CChangesModel::kWhatColumn, 360);
  tree_->header()->resizeSection(CChangesModel::kCountColumn, 160);
  tree_->installEventFilter(this);
  connect(tree_, &QAbstractItemView::doubleClicked, this, &CChangesView::OnDoubleClicked);
  connect(tree_, &QWidget::customContextMenuRequested, this, &CChangesView::OnContextMenu);

  auto* bar = new QHBoxLayout;
  bar->addWidget(siteCombo_);
  bar->addWidget(timeCombo_);
  bar->addWidget(addedCheck_);
  bar->addWidget(removedCheck_);
  bar->addWidget(resizedCheck_);
  bar->addWidget(hideUnchangedCheck_);
  bar->addStretch(1);
  bar->addWidget(watchButton);
  bar->addWidget(exportButton);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(2, 2, 2, 2);
  layout->addLayout(bar);
  layout->addWidget(tree_);

  settle_->setSingleShot(true);
  settle_->setInterval(kSettleMs);
  connect(settle_, &QTimer::timeout, this, &CChangesView::StartRead);
  RefillSites();
}

CChangesView::~CChangesView() {
  // A read of many journals stops at the next one: the window's close
  // waits for no parse it would throw away.
  stopping_.store(true);
  if (reader_.joinable()) reader_.join();
}

QStringList CChangesView::StoredWatchWords() {
  return QSettings().value(QLatin1String(kWatchWordsKey)).toStringList();
}

void CChangesView::Reload() {
  stale_ = true;
  if (isVisible()) settle_->start();
}

void CChangesView::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (stale_) StartRead();
}

void CChangesView::StartRead() {
  stale_ = false;
  RefillSites();
  if (reader_.joinable()) {
    // One read at a time; the one running is followed by another.
    readAgain_ = true;
    return;
  }
  std::vector<Source> sources;
  const COrvaneDoc& doc = frame_.doc();
  for (const auto& site : doc.sites()) {
    const std::string key = site->siteKey();
    const std::filesystem::path dir = site->DataDirectory(doc.GetProgramDir());
    sources.push_back({key, SiteText(site->nickname.empty() ? key : site->nickname),
                       site->KnownCharset(), dir / kJournalFileName, dir});
  }
  std::vector<std::string> words;
  for (const QString& word : StoredWatchWords()) words.push_back(word.toStdString());
  reader_ = std::thread([this, sources = std::move(sources), words = std::move(words)] {
    auto result = std::make_unique<Result>(Read(sources, words));
    {
      std::lock_guard guard(readMutex_);
      read_ = std::move(result);
    }
    QMetaObject::invokeMethod(this, "TakeRead", Qt::QueuedConnection);
  });
}

CChangesView::Result CChangesView::Read(const std::vector<Source>& sources,
                                        const std::vector<std::string>& words) {
  Result result;
  CWatchWords watch(words);
  std::unordered_map<std::string, Parsed> parsed;
  for (const Source& source : sources) {
    if (stopping_.load()) break;
    // Each save replaces the journal by a rename: a new inode, so a file
    // with the identity parsed last time holds the same records. Taken
    // before the read, so a file replaced meanwhile is read again next time.
    Parsed identity;
    struct stat info {};
    if (::stat(source.journal.c_str(), &info) == 0) {
      identity.device = info.st_dev;
      identity.inode = info.st_ino;
      identity.size = info.st_size;
      identity.mtimeNs =
          static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec;
    }
    const std::string path = source.journal.string();
    if (auto twin = parsed.find(path); twin != parsed.end()) {
      // Two sites of one key (a site list written elsewhere) share a
      // journal.
      identity.records = twin->second.records;
    } else if (auto known = parsed_.find(path);
               known != parsed_.end() && known->second.device == identity.device &&
               known->second.inode == identity.inode && known->second.size == identity.size &&
               known->second.mtimeNs == identity.mtimeNs) {
      identity.records = std::move(known->second.records);
    } else {
      std::string bytes;
      if (!ReadJournalFile(source.journal, bytes)) {
        result.problems << QString::fromStdString(path);
        continue;
      }
      // A damaged tail is cut by the site's next update; the records
      // before it are whole and shown.
      identity.records = ReadJournal(bytes);
    }
    const std::vector<JournalRecord>& records =
        parsed.insert_or_assign(path, std::move(identity)).first->second.records;
    const NameCharset charset = JournalCharset(source.charset, records);
    // The health record keeps the last failure's words. An update that
    // ended early has a journal record about then; one that never got to
    // list anything (no connection, no login) has none and becomes a row
    // of its own.
    const std::optional<SiteHealth> health = ReadSiteHealth(source.dir);
    const JournalRecord* failed = nullptr;
    if (health && health->HasError()) {
      for (const JournalRecord& record : records) {
        if (record.outcome != JournalRecord::Outcome::kSucceeded &&
            health->errorTime >= record.startTime &&
            health->errorTime <= record.endTime + kFailureSlackSeconds) {
          failed = &record;
        }
      }
      if (!failed) {
        JournalRecord record;
        record.startTime = record.endTime = health->errorTime;
        record.outcome = JournalRecord::Outcome::kFailed;
        ChangeUpdate update{source.key, source.label, charset, record, {}, 0,
                            health->errorKind, health->errorText};
        result.updates.push_back(std::move(update));
      }
    }
    for (auto it = records.rbegin(); it != records.rend(); ++it) {
      ChangeUpdate update{source.key, source.label, charset, *it, {}, 0, {}, {}};
      if (&*it == failed) {
        update.errorKind = health->errorKind;
        update.errorText = health->errorText;
      }
      if (!watch.Empty()) {
        const std::vector<JournalEntry>& entries = update.record.entries;
        update.watched.resize(entries.size());
        for (std::size_t e = 0; e < entries.size(); ++e) {
          if (entries[e].kind != JournalEntry::Kind::kAdded || !watch.Matches(entries[e].path)) {
            continue;
          }
          update.watched[e] = true;
          ++update.watchMatches;
        }
      }
      result.updates.push_back(std::move(update));
    }
  }
  // Journals of sites no longer listed are forgotten.
  parsed_ = std::move(parsed);
  // Newest first; each journal came newest first, and the sort keeps that
  // among equal times.
  std::stable_sort(result.updates.begin(), result.updates.end(),
                   [](const ChangeUpdate& a, const ChangeUpdate& b) {
                     return a.record.endTime > b.record.endTime;
                   });
  return result;
}

void CChangesView::TakeRead() {
  std::unique_ptr<Result> result;
  {
    std::lock_guard guard(readMutex_);
    result = std::move(read_);
  }
  if (reader_.joinable()) reader_.join();
  if (!result) return;
  const Kept kept = Keep();
  model_->SetFilter(CurrentFilter());
  model_->SetUpdates(std::move(result->updates));
  Restore(kept);
  ++readsDone_;
  if (!result->problems.isEmpty()) {
    Say(tr("无法读取变化记录：%1").arg(result->problems.join(QStringLiteral("、"))));
  }
  if (std::exchange(readAgain_, false)) StartRead();
}

void CChangesView::RefillSites() {
  const QByteArray current = siteCombo_->currentData().toByteArray();
  const QSignalBlocker quiet(siteCombo_);
  siteCombo_->clear();
  siteCombo_->addItem(tr("所有站点"), QByteArray());
  for (const auto& site : frame_.doc().sites()) {
    const std::string key = site->siteKey();
    siteCombo_->addItem(SiteText(site->nickname.empty() ? key : site->nickname),
                        QByteArray::fromStdString(key));
  }
  const int keep = siteCombo_->findData(current);
  siteCombo_->setCurrentIndex(keep < 0 ? 0 : keep);
}

CChangesModel::Filter CChangesView::CurrentFilter() const {
  CChangesModel::Filter filter;
  filter.siteKey = siteCombo_->currentData().toByteArray().toStdString();
  const int range = std::clamp(timeCombo_->currentIndex(), 0, 3);
  if (kRangeDays[range] >= 0) {
    const QDate since = QDate::currentDate().addDays(-kRangeDays[range]);
    filter.from = QDateTime(since, QTime(0, 0)).toSecsSinceEpoch();
  }
  filter.added = addedCheck_->isChecked();
  filter.removed = removedCheck_->isChecked();
  filter.resized = resizedCheck_->isChecked();
  filter.hideUnchanged = hideUnchangedCheck_->isChecked();
  return filter;
}

void CChangesView::ApplyFilter() {
  const CChangesModel::Filter filter = CurrentFilter();
  if (filter == model_->filter()) return;
  const Kept kept = Keep();
  model_->SetFilter(filter);
  Restore(kept);
}

CChangesView::Kept CChangesView::Keep() const {
  Kept kept;
  for (int row = 0; row < model_->rowCount(); ++row) {
    const QModelIndex index = model_->index(row, 0);
    if (tree_->isExpanded(index)) kept.expanded.push_back(model_->KeyOf(index));
  }
  for (const QModelIndex& index : tree_->selectionModel()->selectedRows()) {
    kept.selected.push_back(model_->KeyOf(index));
  }
  kept.current = model_->KeyOf(tree_->currentIndex());
  kept.top = model_->KeyOf(tree_->indexAt(QPoint(0, 0)));
  return kept;
}

void CChangesView::Restore(const Kept& kept) {
  for (const CChangesModel::RowKey& key : kept.expanded) {
    if (const QModelIndex index = model_->Find(key); index.isValid()) tree_->expand(index);
  }
  QItemSelection selection;
  for (const CChangesModel::RowKey& key : kept.selected) {
    if (const QModelIndex index = model_->Find(key); index.isValid()) {
      selection.select(index, index.siblingAtColumn(CChangesModel::kColumnCount - 1));
    }
  }
  if (const QModelIndex current = model_->Find(kept.current); current.isValid()) {
    tree_->selectionModel()->setCurrentIndex(current, QItemSelectionModel::NoUpdate);
  }
  tree_->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
  // The row that was at the top stays there, whatever came in above it.
  if (const QModelIndex top = model_->Find(kept.top); top.isValid()) {
    tree_->scrollTo(top, QAbstractItemView::PositionAtTop);
  }
}

void CChangesView::Say(const QString& text) { frame_.statusBar()->showMessage(text); }

void CChangesView::OnDoubleClicked(const QModelIndex& index) {
  if (model_->EntryAt(index)) ShowInFolder(index);
}

void CChangesView::ShowInFolder(const QModelIndex& index) {
  const JournalEntry* entry = model_->EntryAt(index);
  const ChangeUpdate* update = model_->UpdateAt(index);
  if (!entry || !update) return;
  // Copied: the model may be refilled while the catalog is loaded.
  const std::string path = entry->path;
  const std::string key = update->siteKey;
  const QString shown = DisplayPath(path, update->charset);
  if (entry->kind == JournalEntry::Kind::kRemoved) {
    Say(tr("“%1”已被删除，不在目录中。").arg(shown));
    return;
  }
  COrvaneDoc& doc = frame_.doc();
  const std::shared_ptr<CFTPSite> site = doc.FindSite(key);
  if (!site) {
    Say(tr("站点“%1”已不在列表中。").arg(SiteText(key)));
    return;
  }
  // The site store reads a catalog not in memory yet; the folder is shown
  // when it has come, if the site is still in the list then.
  frame_.WhenCatalogLoaded(site, [view = QPointer<CChangesView>(this), path, key, shown] {
    if (view) view->ShowLoadedPath(key, path, shown);
  });
}

void CChangesView::ShowLoadedPath(const std::string& key, const std::string& path,
                                  const QString& shown) {
  COrvaneDoc& doc = frame_.doc();
  const std::shared_ptr<CFTPSite> site = doc.FindSite(key);
  if (!site) {
    Say(tr("站点“%1”已不在列表中。").arg(SiteText(key)));
    return;
  }
  const std::size_t slash = path.rfind('/');
  const std::string_view name =
      std::string_view(path).substr(slash == std::string::npos ? 0 : slash + 1);
  CFTPDir* folder = nullptr;
  bool there = false;
  {
    // Update workers change the child lists under this lock; what the walk
    // finds stays alive, since removed entries are freed on this thread.
    std::lock_guard lock(site->lock);
    folder = site->rootDir.get();
    std::string_view rest =
        std::string_view(path).substr(0, slash == std::string::npos ? 0 : slash);
    while (folder && !rest.empty()) {
      if (rest.front() == '/') {
        rest.remove_prefix(1);
        continue;
      }
      const std::size_t end = rest.find('/');
      const std::string_view part = rest.substr(0, end);
      rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);
      CFTPDir* next = nullptr;
      for (const auto& sub : folder->subdirs) {
        if (sub->name() == part) next = sub.get();
      }
      folder = next;
    }
    if (folder) {
      for (const auto& sub : folder->subdirs) there = there || sub->name() == name;
      for (const auto& file : folder->files) there = there || file->name() == name;
    }
  }
  if (!folder || !there || doc.IsRemoved(folder)) {
    Say(tr("“%1”已不在目录中。").arg(shown));
    return;
  }
  if (frame_.fileView().ShowInFolder(folder, name)) {
    frame_.fileView().setFocus(Qt::OtherFocusReason);
  }
}

int CChangesView::CopySelected() {
  QStringList lines;
  const COrvaneDoc& doc = frame_.doc();
  for (const QModelIndex& index : tree_->selectionModel()->selectedRows()) {
    const JournalEntry* entry = model_->EntryAt(index);
    const ChangeUpdate* update = model_->UpdateAt(index);
    if (!entry || !update) continue;
    const std::shared_ptr<CFTPSite> site = doc.FindSite(update->siteKey);
    if (!site) continue;
    // Percent-encoded: ASCII whatever the names' bytes.
    lines << Text(BuildShareableAddress(*site, entry->path));
  }
  QClipboard* clipboard = QGuiApplication::clipboard();
  if (lines.isEmpty() || !clipboard) return 0;
  clipboard->setText(lines.join(QLatin1Char('\n')));
  Say(tr("%n 个地址已复制到剪贴板上。", nullptr, static_cast<int>(lines.size())));
  return static_cast<int>(lines.size());
}

bool CChangesView::eventFilter(QObject* watched, QEvent* event) {
  if (watched != tree_ || event->type() != QEvent::KeyPress) {
    return QWidget::eventFilter(watched, event);
  }
  auto* key = static_cast<QKeyEvent*>(event);
  // The tree's own Ctrl+C would copy the current cell's text.
  if (key->matches(QKeySequence::Copy)) {
    CopySelected();
    return true;
  }
  const QModelIndex current = tree_->currentIndex();
  const bool menuKey = key->key() == Qt::Key_Menu ||
                       (key->key() == Qt::Key_F10 && key->modifiers() == Qt::ShiftModifier);
  if (menuKey && current.isValid()) {
    OnContextMenu(tree_->visualRect(current).center());
    return true;
  }
  // Enter does to an entry what a double-click does; on an update row it
  // is the tree's (open or close).
  if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && model_->EntryAt(current)) {
    ShowInFolder(current);
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

void CChangesView::OnContextMenu(const QPoint& pos) {
  auto* menu = new QMenu(this);
  menu->setAttribute(Qt::WA_DeleteOnClose);
  const QModelIndex index = tree_->indexAt(pos);
  const JournalEntry* entry = model_->EntryAt(index);
  QAction* copy = menu->addAction(tr("复制路径"));
  copy->setObjectName(QStringLiteral("changesCopyAction"));
  copy->setEnabled(entry != nullptr || !tree_->selectionModel()->selectedRows().isEmpty());
  // Queued: the menu is gone before the command runs.
  connect(copy, &QAction::triggered, this, &CChangesView::CopySelected, Qt::QueuedConnection);
  if (entry && entry->kind != JournalEntry::Kind::kRemoved) {
    QAction* show = menu->addAction(tr("在文件夹中显示"));
    show->setObjectName(QStringLiteral("changesShowAction"));
    const QPersistentModelIndex row(index);
    connect(
        show, &QAction::triggered, this,
        [this, row] {
          if (row.isValid()) ShowInFolder(row);
        },
        Qt::QueuedConnection);
  }
  menu->addSeparator();
  QAction* exportAction = menu->addAction(tr("导出…"));
  exportAction->setObjectName(QStringLiteral("changesExportAction"));
  connect(exportAction, &QAction::triggered, this, &CChangesView::Export, Qt::QueuedConnection);
  menu->popup(tree_->viewport()->mapToGlobal(pos));
}

void CChangesView::EditWatchWords() {
  CWatchWordsDlg dialog(StoredWatchWords(), this);
  if (CDialogSeam::Exec(dialog) != QDialog::Accepted) return;
  QSettings().setValue(QLatin1String(kWatchWordsKey), dialog.Words());
  // The matches are worked out with the journals, off this thread.
  Reload();
}

void CChangesView::Export() {
  const QString path = CDialogSeam::ExportPath(this, tr("导出变化"));
  if (path.isEmpty()) return;
  QString error;
  const bool json = path.endsWith(QStringLiteral(".json"), Qt::CaseInsensitive);
  if (!(json ? WriteJson(path, error) : WriteCsv(path, error))) {
    CDialogSeam::Warn(this, tr("无法导出到 %1：%2").arg(path, error));
    return;
  }
  Say(tr("已导出 %n 项变化到 %1", nullptr, static_cast<int>(model_->EntryRowCount())).arg(path));
}

bool CChangesView::WriteCsv(const QString& path, QString& error) const {
  std::string text;
  AppendCsvRecord(text, {"time", "site", "key", "outcome", "added", "removed", "resized", "kind",
                         "path", "directory", "size", "old size", "below", "address"});
  const COrvaneDoc& doc = frame_.doc();
  for (const CChangesModel::ShownUpdate& shown : model_->shown()) {
    const ChangeUpdate& update = model_->updates()[shown.update];
    const JournalRecord& record = update.record;
    const std::string time = UtcTimeText(record.endTime);
    const std::string site = Utf8(update.siteLabel);
    const std::string key = Utf8(SiteText(update.siteKey));
    const std::string added = std::to_string(record.added);
    const std::string removed = std::to_string(record.removed);
    const std::string resized = std::to_string(record.resized);
    const std::string_view outcome = OutcomeName(record.outcome);
    if (shown.entries.empty()) {
      AppendCsvRecord(
          text, {time, site, key, outcome, added, removed, resized, "", "", "", "", "", "", ""});
      continue;
    }
    const std::shared_ptr<CFTPSite> owner = doc.FindSite(update.siteKey);
    for (const std::uint32_t e : shown.entries) {
      const JournalEntry& entry = record.entries[e];
      const bool grew = entry.kind == JournalEntry::Kind::kResized;
      const bool below = entry.kind == JournalEntry::Kind::kRemoved && entry.isDirectory;
      AppendCsvRecord(
          text, {time, site, key, outcome, added, removed, resized, KindName(entry.kind),
                 Utf8(DisplayPath(entry.path, update.charset)), entry.isDirectory ? "1" : "0",
                 std::to_string(entry.size), grew ? std::to_string(entry.oldSize) : std::string(),
                 below ? std::to_string(entry.below) : std::string(),
                 owner ? BuildShareableAddress(*owner, entry.path) : std::string()});
    }
  }
  return SaveText(path, text, error);
}

bool CChangesView::WriteJson(const QString& path, QString& error) const {
  // The names' exact bytes, as orvane-cli writes them: UTF-8 as it is,
  // other bytes as "\udcXX".
  JsonWriter json;
  json.BeginArray();
  for (const CChangesModel::ShownUpdate& shown : model_->shown()) {
    const ChangeUpdate& update = model_->updates()[shown.update];
    const JournalRecord& record = update.record;
    json.BeginObject();
    WriteRecordMembers(json, update.siteKey, record);
    json.Key("watchMatches").Number(update.watchMatches).Key("entries").BeginArray();
    for (const std::uint32_t e : shown.entries) {
      const JournalEntry& entry = record.entries[e];
      json.BeginObject();
      // A readable path and, where it differs, the exact bytes: the
      // members orvane-cli writes.
      WriteEntryMembers(json, DecodeName(entry.path, update.charset), entry);
      if (e < update.watched.size() && update.watched[e]) json.Key("watched").Bool(true);
      json.EndObject();
    }
    json.EndArray().EndObject();
  }
  json.EndArray();
  return SaveText(path, json.Text(), error);
}

}  // namespace orvane
