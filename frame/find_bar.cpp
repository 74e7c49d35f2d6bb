#include "frame/find_bar.h"

#include <QAction>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QSaveFile>
#include <QTimer>
#include <QToolButton>
#include <ctime>
#include <optional>

#include "catalog/code_page.h"
#include "catalog/ftp_dir.h"
#include "catalog/ftp_file.h"
#include "catalog/ftp_site.h"
#include "document/csv_field.h"
#include "document/find_json.h"
#include "document/find_query.h"
#include "frame/dialog_seam.h"
#include "frame/main_frame.h"
#include "views/display_text.h"
#include "views/orvane_view.h"

namespace orvane {

namespace {

FindHit HitOf(CFTPDir* dir, CFTPFile* file) {
  FindHit hit;
  hit.dir = dir;
  hit.file = file;
  const CFTPDir* parent = dir ? dir : file->parent;
  hit.site = parent ? parent->GetSite() : nullptr;
  return hit;
}

}  // namespace

CFindBar::CFindBar(CMainFrame& frame, QWidget* parent)
    : QWidget(parent),
      frame_(frame),
      edit_(new QLineEdit(this)),
      status_(new QLabel(this)),
      export_(new QToolButton(this)),
      rebuild_(new QTimer(this)) {
  setObjectName(QStringLiteral("findBar"));
  edit_->setObjectName(QStringLiteral("findEdit"));
  edit_->setPlaceholderText(
      tr("查找：词、\"短语\"、*.iso、-排除、a | b、ext:、size:>1G、site:、/正则/"));
  edit_->setClearButtonEnabled(true);
  edit_->installEventFilter(this);
  status_->setObjectName(QStringLiteral("findStatus"));
  export_->setObjectName(QStringLiteral("findExport"));
  export_->setText(tr("导出"));
  export_->setToolTip(tr("把结果导出为 CSV 或 JSON 文件"));
  connect(export_, &QToolButton::clicked, this, &CFindBar::Export);
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(2, 2, 2, 2);
  layout->addWidget(edit_, 1);
  layout->addWidget(status_);
  layout->addWidget(export_);
  rebuild_->setSingleShot(true);
  rebuild_->setInterval(kRebuildDelayMs);
  connect(rebuild_, &QTimer::timeout, this, &CFindBar::Rebuild);
  connect(edit_, &QLineEdit::textChanged, this, &CFindBar::Run);
  hide();
}

struct CFindBar::Hits {
  std::vector<CFTPDir*> dirs;
  std::vector<CFTPFile*> files;
  std::size_t removed = 0;
  // The list's rows, made here so that the window takes them whole.
  CFileListModel::Rows rows;
};

CFindBar::~CFindBar() { StopQuery(); }

void CFindBar::StopQuery() {
  shown_ = asked_;
  if (!query_.joinable()) return;
  stop_ = true;
  query_.join();
  stop_ = false;
}

void CFindBar::Open() {
  show();
  edit_->setFocus(Qt::ShortcutFocusReason);
  edit_->selectAll();
  if (!indexed_) {
    indexed_ = true;
    for (const auto& site : frame_.doc().sites()) stale_.insert(site.get());
    LoadCatalogs();
    Rebuild();
  } else if (!edit_->text().isEmpty()) {
    Run();
  }
}

void CFindBar::Close() {
  StopQuery();
  hide();
  frame_.resultMode_ = false;
  // Before any directory was chosen the list greeted; it does again.
  if (frame_.doc().currentNode) {
    frame_.fileView_->ShowBrowse();
  } else {
    frame_.fileView_->ShowWelcome();
  }
  frame_.fileView_->setFocus(Qt::OtherFocusReason);
}

void CFindBar::LoadCatalogs() {
  std::vector<const CFTPSite*> unloaded;
  for (const auto& site : frame_.doc().sites()) {
    if (site->loadState.load() != kLoaded) unloaded.push_back(site.get());
  }
  if (unloaded.empty()) return;
  status_->setText(tr("正在读取目录…"));
  frame_.doc().PrefetchCatalogs(unloaded);
}

void CFindBar::CatalogLoaded() {
  if (!indexed_) return;
  // Whichever finished: every loaded site not indexed yet is built.
  for (const auto& site : frame_.doc().sites()) {
    if (site->loadState.load() == kLoaded && !index_.Has(site.get())) stale_.insert(site.get());
  }
  ScheduleRebuild();
}

void CFindBar::ScheduleRebuild() {
  if (!rebuild_->isActive()) rebuild_->start();
}

void CFindBar::SiteChanged(const CFTPSite& site) {
  if (!indexed_) return;
  stale_.insert(&site);
  ScheduleRebuild();
}

void CFindBar::EntriesRemoving(const std::vector<const CFTPDir*>& dirs,
                               const std::vector<const CFTPFile*>& files) {
  if (!indexed_) return;
  // The worker may reach the entries, and its answer hold them.
  StopQuery();
  const auto drop = [this](const CFTPDir* dir) {
    if (!dir) return;
    const CFTPSite* site = dir->GetSite();
    if (!site || stale_.count(site)) return;
    index_.Drop(site);
    stale_.insert(site);
  };
  for (const CFTPDir* dir : dirs) drop(dir);
  for (const CFTPFile* file : files) drop(file->parent);
  ScheduleRebuild();
}

void CFindBar::Rebuild() {
  StopQuery();
  COrvaneDoc& doc = frame_.doc();
  // A site's segment is built once its catalog is read and no update of
  // this process is merging into it half-way; it is built again at the
  // commit that ends the update.
  for (const auto& site : doc.sites()) {
    if (!stale_.count(site.get()) || site->loadState.load() != kLoaded) continue;
    index_.Build(site, doc.GetProgramDir());
    stale_.erase(site.get());
  }
  // Sites no longer listed.
  std::erase_if(stale_,
                [&doc](const CFTPSite* site) { return doc.IndexOf(site) >= doc.sites().size(); });
  if (isVisible() && !edit_->text().isEmpty()) Run();
}

void CFindBar::Run() {
  typed_.start();
  const QByteArray typed = edit_->text().toUtf8();
  CFindQuery::Error error;
  std::shared_ptr<const CFindQuery> query =
      CFindQuery::Parse(std::string_view(typed.constData(), static_cast<std::size_t>(typed.size())),
                        static_cast<std::int64_t>(std::time(nullptr)), error);
  if (!query) {
    status_->setText(tr("第 %1 列：%2")
                         .arg(error.column)
                         .arg(QString::fromUtf8(error.message.data(),
                                                static_cast<qsizetype>(error.message.size()))));
    return;
  }
  StopQuery();
  const std::uint64_t generation = ++asked_;
  query_ = std::thread([this, query = std::move(query), generation] {
    auto hits = std::make_shared<Hits>();
    const bool done = index_.Find(
        *query,
        [&hits](const FindHit& hit) {
          if (hit.dir) {
            hits->dirs.push_back(hit.dir);
          } else if (hit.file) {
            hits->files.push_back(hit.file);
          } else {
            ++hits->removed;
          }
          return true;
        },
        &stop_);
    if (!done) return;
    hits->rows = CFileListModel::MakeRows(hits->dirs, hits->files);
    // The window's lists take `hits`: the total below reads a copy.
    const std::vector<CFTPFile*> files = hits->files;
    // Through the frame's queue, whose mutex hands the hits over.
    frame_.Post([this, generation, hits] { Show(generation, *hits); });
    // The sizes lie scattered over the catalogs: read while the window
    // shows the rows, and given to the list once known.
    const std::optional<std::uint64_t> bytes = CFileListModel::SumBytes(files, &stop_);
    if (!bytes) return;
    frame_.Post([this, generation, bytes] {
      if (generation == filled_) frame_.fileView_->listModel()->SetFileBytes(fill_, bytes);
    });
  });
}

void CFindBar::Show(std::uint64_t generation, Hits& hits) {
  if (generation != asked_ || shown_ == asked_) return;
  COrvaneDoc& doc = frame_.doc();
  // A walk is filling the result lists (a keyword search, a listing): they
  // are its own until it ends; the query is answered again then.
  if (doc.walking()) {
    status_->setText(tr("另一个查找正在进行"));
    QTimer::singleShot(50, this, [this, generation] {
      if (isVisible() && generation == asked_ && !frame_.doc().walking()) Run();
    });
    return;
  }
  shown_ = generation;
  frame_.resultMode_ = true;
  frame_.resultsTitle_ = tr("查找: %1").arg(edit_->text());
  // The lists are replaced whole and the list told once: clearing first
  // and appending in batches would lay out a list of half a million hits
  // a hundred times. No walk is running, so no append is pending and no
  // entry is parked as removed: the worker's rows are the lists' rows.
  doc.resultDirs = std::move(hits.dirs);
  doc.resultFiles = std::move(hits.files);
  fill_ = frame_.fileView_->ShowResults(std::move(hits.rows));
  filled_ = generation;
  QString text =
      tr("%n 项", nullptr, static_cast<int>(doc.resultDirs.size() + doc.resultFiles.size()));
  if (hits.removed) {
    text += tr("（另有 %n 项已删除，见 orvane-cli find）", nullptr, static_cast<int>(hits.removed));
  }
  if (!stale_.empty()) text += tr("（正在更新索引）");
  status_->setText(text + QStringLiteral(" · %1 ms").arg(typed_.elapsed()));
}

bool CFindBar::eventFilter(QObject* watched, QEvent* event) {
  if (watched != edit_ || event->type() != QEvent::KeyPress)
    return QWidget::eventFilter(watched, event);
  auto* key = static_cast<QKeyEvent*>(event);
  COrvaneView& list = *frame_.fileView_;
  switch (key->key()) {
    case Qt::Key_Escape:
      Close();
      return true;
    case Qt::Key_Down:
    case Qt::Key_Return:
    case Qt::Key_Enter: {
      if (list.model()->rowCount() == 0) return true;
      if (!list.currentIndex().isValid()) {
        list.setCurrentIndex(list.model()->index(0, 0));
      }
      list.setFocus(Qt::OtherFocusReason);
      if (key->key() != Qt::Key_Down) {
        // Enter opens the current row, as Enter in the list does.
        QKeyEvent open(QEvent::KeyPress, key->key(), key->modifiers());
        QCoreApplication::sendEvent(&list, &open);
      }
      return true;
    }
    default:
      return QWidget::eventFilter(watched, event);
  }
}

void CFindBar::Export() {
  const QString path = CDialogSeam::ExportPath(this, tr("导出查找结果"));
  if (path.isEmpty()) return;
  QString error;
  if (!ExportTo(path, error)) CDialogSeam::Warn(this, tr("无法导出到 %1：%2").arg(path, error));
}

bool CFindBar::ExportTo(const QString& path, QString& error) const {
  const COrvaneView& list = *frame_.fileView_;
  std::vector<FindHit> hits;
  for (CFTPDir* dir : list.ListedDirs()) hits.push_back(HitOf(dir, nullptr));
  for (CFTPFile* file : list.ListedFiles()) hits.push_back(HitOf(nullptr, file));
  std::string bytes;
  if (path.endsWith(QStringLiteral(".json"), Qt::CaseInsensitive)) {
    JsonWriter json;
    json.BeginArray();
    for (const FindHit& hit : hits) {
      if (hit.site) WriteFindHit(json, hit);
    }
    bytes = json.EndArray().Text();
  } else {
    bytes = "site,path,name,type,size,new\r\n";
    for (const FindHit& hit : hits) {
      if (!hit.site) continue;
      const std::string_view name = hit.file ? hit.file->name() : hit.dir->name();
      const bool isNew =
          hit.file ? hit.file->readState.load() != 0 : hit.dir->readState.load() != 0;
      const std::string size = hit.file ? std::to_string(hit.file->size.load()) : std::string();
      const NameCharset charset = hit.site->NameCharsetInUse();
      AppendCsvRecord(
          bytes, {DecodeSiteText(hit.site->siteKey()), FindShownPath(FindHitRawPath(hit), charset),
                  DecodeName(name, charset), hit.file ? "file" : "dir", size, isNew ? "1" : "0"});
    }
  }
  QSaveFile file(path);
  const auto size = static_cast<qint64>(bytes.size());
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes.data(), size) != size ||
      !file.commit()) {
    error = file.errorString();
    return false;
  }
  return true;
}

}  // namespace orvane
