// The Changes view: what each update of each site added, removed and
// resized, read from the sites' change journals (Data/KEY/changes.jn), in
// the main window's "变化" dock.
//
// A bar of filters (site, time range, kinds) over one tree of updates,
// newest first, each expandable to its entries (CChangesModel). Added
// entries a watch word matches are bold on a coloured background; removed
// ones are struck through with the size they had. Updates that failed,
// stopped or fetched only part of their site are rows too, with the error
// the site's health record gives; updates that changed nothing are hidden
// unless the person asks for them. A re-read keeps what is expanded,
// selected and scrolled to. Double-clicking an added
// or resized entry shows it in its folder in the tree and the list; Ctrl+C
// and "复制路径" copy the selected entries' ftp:// addresses (never the
// password); "导出…" writes the rows the filters let through as CSV or JSON.
//
// Journals can be megabytes per site, so they are read and parsed on a
// thread of its own, and a journal whose file has not changed since the
// last read is not parsed again; the window's thread only swaps the result
// in. The view reads them when it is shown and again, shortly after,
// whenever the frame's catalog follower says a catalog changed (an update
// ended here or another process committed one); while hidden it only notes
// that it is stale. Front-end thread only.
#pragma once

#include <QStringList>
#include <QWidget>
#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "frame/changes_model.h"

class QCheckBox;
class QComboBox;
class QTimer;
class QTreeView;

namespace orvane {

class CMainFrame;

class CChangesView : public QWidget {
  Q_OBJECT

 public:
  // The QSettings key of the watch words (a QStringList, one word each).
  static constexpr const char* kWatchWordsKey = "changes/watchWords";
  // Whether updates that changed nothing are hidden (on unless unchecked).
  static constexpr const char* kHideUnchangedKey = "changes/hideUnchanged";
  // How long a burst of catalog changes may last before the journals are
  // read again.
  static constexpr int kSettleMs = 200;

  explicit CChangesView(CMainFrame& frame, QWidget* parent = nullptr);
  // Waits for a read still running; its result is dropped.
  ~CChangesView() override;

  // Reads the journals again when the view is shown; otherwise the next
  // show does.
  void Reload();
  // Edits the watch words in their dialog; the view follows them.
  void EditWatchWords();
  // The shown rows to a CSV or JSON file chosen in the file dialog.
  void Export();
  // The selected entries' addresses to the clipboard; how many.
  int CopySelected();

  CChangesModel* changesModel() const { return model_; }
  QTreeView* tree() const { return tree_; }
  // Reads finished since the view was made, for those who wait on one.
  int readsDone() const { return readsDone_; }

  // The watch words stored in the settings.
  static QStringList StoredWatchWords();

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct Source {
    std::string key;
    QString label;
    // The site's chosen or decided charset; kAuto when nothing is decided.
    NameCharset charset;
    std::filesystem::path journal;
    // Its Data/KEY: the health record names the last failure.
    std::filesystem::path dir;
  };
  struct Result {
    std::vector<ChangeUpdate> updates;
    QStringList problems;
  };
  // Runs on the reader's thread.
  Result Read(const std::vector<Source>& sources, const std::vector<std::string>& words);

  void StartRead();
  // The read ended: its result replaces the rows. Invoked by name from the
  // reader, so the reader never holds a call the window's thread runs.
  Q_INVOKABLE void TakeRead();
  void RefillSites();
  void ApplyFilter();
  CChangesModel::Filter CurrentFilter() const;
  // What the person has open, selected and scrolled to, by rows' keys, so
  // that a re-read or a filter change rebuilding the rows keeps it.
  struct Kept {
    std::vector<CChangesModel::RowKey> expanded;
    std::vector<CChangesModel::RowKey> selected;
    CChangesModel::RowKey current;
    CChangesModel::RowKey top;
  };
  Kept Keep() const;
  void Restore(const Kept& kept);
  void OnDoubleClicked(const QModelIndex& index);
  void ShowInFolder(const QModelIndex& index);
  // The rest of it, once the site's catalog is in memory.
  void ShowLoadedPath(const std::string& key, const std::string& path, const QString& shown);
  void OnContextMenu(const QPoint& pos);
  void Say(const QString& text);
  bool WriteCsv(const QString& path, QString& error) const;
  bool WriteJson(const QString& path, QString& error) const;

  CMainFrame& frame_;
  CChangesModel* model_;
  QTreeView* tree_;
  QComboBox* siteCombo_;
  QComboBox* timeCombo_;
  QCheckBox* addedCheck_;
  QCheckBox* removedCheck_;
  QCheckBox* resizedCheck_;
  QCheckBox* hideUnchangedCheck_;
  QTimer* settle_;
  bool stale_ = true;
  bool readAgain_ = false;
  std::atomic<bool> stopping_{false};
  int readsDone_ = 0;
  std::thread reader_;
  std::mutex readMutex_;
  std::unique_ptr<Result> read_;
  // The journals as last parsed, by path, with the file they came from:
  // an update of one site leaves the others' megabytes unparsed. Used by
  // one reader at a time (each joined before the next starts).
  struct Parsed {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = -1;
    std::int64_t mtimeNs = 0;
    std::vector<JournalRecord> records;
  };
  std::unordered_map<std::string, Parsed> parsed_;
};

}  // namespace orvane
