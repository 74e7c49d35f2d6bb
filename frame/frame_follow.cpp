#include "frame/frame_follow.h"

#include <QLabel>
#include <QMouseEvent>
#include <QStatusBar>
#include <QTimer>
#include <cstdint>
#include <optional>

#include "catalog/ftp_dir.h"
#include "catalog/ftp_file.h"
#include "catalog/ftp_site.h"
#include "document/orvane_doc.h"
#include "frame/command_ids.h"
#include "frame/frame_views.h"
#include "frame/main_frame.h"
#include "views/display_text.h"
#include "views/file_list_model.h"

namespace orvane {

namespace {

// How long the note after Ctrl+C stays in the status bar.
constexpr int kCopiedNoteMs = 4000;

// "/pub/music" of a directory inside its site; "/" for the root.
QString PathInSite(const CFTPDir& dir) {
  QString path;
  const NameCharset charset = CharsetOf(dir.GetSite());
  for (const CFTPDir* up = &dir; up && up->parent; up = up->parent) {
    path.prepend(QLatin1Char('/') + NameText(up->name(), charset));
  }
  return path.isEmpty() ? QStringLiteral("/") : path;
}

}  // namespace

CFrameFollow::CFrameFollow(CMainFrame& frame)
    : QObject(&frame), frame_(frame), summary_(new QLabel), refresh_(new QTimer(this)) {
  summary_->setObjectName(QStringLiteral("listSummary"));
  summary_->setTextFormat(Qt::PlainText);
  frame.statusBar()->addPermanentWidget(summary_);
  refresh_->setSingleShot(true);
  refresh_->setInterval(0);
  connect(refresh_, &QTimer::timeout, this, &CFrameFollow::Refresh);

  const CFileListModel* model = frame.fileView().listModel();
  connect(model, &QAbstractItemModel::modelReset, this, &CFrameFollow::Schedule);
  connect(model, &QAbstractItemModel::layoutChanged, this, &CFrameFollow::Schedule);
  connect(model, &QAbstractItemModel::rowsInserted, this, &CFrameFollow::Schedule);
  connect(model, &QAbstractItemModel::rowsRemoved, this, &CFrameFollow::Schedule);
  connect(model, &QAbstractItemModel::dataChanged, this, &CFrameFollow::Schedule);
  connect(model, &CFileListModel::fileBytesKnown, this, &CFrameFollow::Schedule);
  connect(&frame.fileView(), &COrvaneView::addressesCopied, this, [this](int count) {
    frame_.statusBar()->showMessage(tr("已复制 %n 个地址", nullptr, count), kCopiedNoteMs);
  });
  // Presses the toolbar and the status bar leave alone come up to the frame.
  frame.installEventFilter(this);
  Refresh();
}

bool CFrameFollow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == &frame_ && event->type() == QEvent::MouseButtonPress) {
    const Qt::MouseButton button = static_cast<QMouseEvent*>(event)->button();
    if (button == Qt::BackButton || button == Qt::ForwardButton) {
      frame_.Command(button == Qt::BackButton ? kCmdBack : kCmdForward);
      return true;
    }
  }
  return QObject::eventFilter(watched, event);
}

void CFrameFollow::Schedule() {
  if (!refresh_->isActive()) refresh_->start();
}

void CFrameFollow::ListingEnded() {
  Refresh();
  listingMessage_ = summary_->text();
  if (!listingMessage_.isEmpty()) frame_.statusBar()->showMessage(listingMessage_);
}

void CFrameFollow::ListingStarted() { DropListingMessage(); }

void CFrameFollow::DropListingMessage() {
  QStatusBar* bar = frame_.statusBar();
  if (!listingMessage_.isEmpty() && bar->currentMessage() == listingMessage_) bar->clearMessage();
  listingMessage_.clear();
}

void CFrameFollow::Refresh() {
  const CFileListModel& model = *frame_.fileView().listModel();
  const COrvaneDoc& doc = frame_.doc();
  if (model.mode() == CFileListModel::Mode::kWelcome) {
    summary_->clear();
  } else if (const std::optional<std::uint64_t> bytes = model.FileBytes()) {
    summary_->setText(tr("%n 项，共 %1", nullptr, model.rowCount())
                          .arg(CFileListModel::FormatSize(*bytes)));
    // Else the total of a find's hits is on its way (fileBytesKnown): the
    // text changes once, when it comes.
  }
  CFTPDir* shown = model.mode() == CFileListModel::Mode::kBrowse && doc.currentNode
                       ? doc.currentNode->directory
                       : nullptr;
  // The listing's count in the status bar describes that listing only:
  // once the list shows something else it goes.
  const Shown now{model.mode(), shown};
  if (now.mode != shown_.mode || now.dir != shown_.dir) {
    DropListingMessage();
    shown_ = now;
  }
  if (model.mode() == CFileListModel::Mode::kResults && !frame_.resultsTitle().isEmpty()) {
    frame_.setWindowTitle(QStringLiteral("%1 - Orvane").arg(frame_.resultsTitle()));
    return;
  }
  const CFTPSite* site = shown ? shown->GetSite() : nullptr;
  if (!site) {
    frame_.setWindowTitle(QStringLiteral("Orvane"));
    return;
  }
  const QString label = SiteText(site->nickname.empty() ? site->siteKey() : site->nickname);
  frame_.setWindowTitle(QStringLiteral("%1 - %2 - Orvane").arg(label, PathInSite(*shown)));
  frame_.dirView().RevealDirectory(shown);
}

}  // namespace orvane
