// The find bar: the find query language (document/find_query.h) typed over
// the file list, answered from an index of every catalog at each keystroke.
//
// Opened with Ctrl+K (Esc closes it and the list browses again). Its hits
// are the document's result lists, so the list shows them as it shows any
// result: the same columns and sorting, the same context menu (copy
// address, show in folder, set read), Enter or a double click opens. Down
// moves into the list. The bar's menu exports the hits as CSV or JSON.
//
// The index follows the catalogs: a removal notice drops the segments of
// the sites it touches at once (their entries are about to be destroyed),
// and every commit (an update's end, another process's files merged) marks
// the site's segment for a rebuild; shortly after, the segments are built
// again and the query typed is answered again, so new entries appear and
// removed ones leave without retyping. Catalogs not yet loaded are asked
// of the site store when the bar first opens and indexed as they arrive.
//
// Each keystroke's query is parsed here and answered on a worker thread;
// the next keystroke stops it (within a fraction of a millisecond) and
// starts its own, so typing never waits for an answer nobody will read.
// The worker only reads the index and the entries' atomic sizes and marks;
// the hits come back as a queued call, the list's rows made, and are shown
// only if no later keystroke, close or removal notice came first. The
// hits' byte total (the status bar's) follows in a second call: reading
// sizes scattered over the catalogs runs while the window shows the rows. The index is changed
// (rebuilt, segments dropped) only once the worker has been stopped, and a
// removal notice stops it before the entries it may reach are destroyed.
// Front-end thread only.
#pragma once

#include <QElapsedTimer>
#include <QWidget>
#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <unordered_set>
#include <vector>

#include "document/find_index.h"

class QLabel;
class QLineEdit;
class QTimer;
class QToolButton;

namespace orvane {

class CFTPDir;
class CFTPFile;
class CFTPSite;
class CMainFrame;

class CFindBar : public QWidget {
  Q_OBJECT

 public:
  // The time an edit waits for more typing before the index is rebuilt
  // after a burst of removal notices or commits.
  static constexpr int kRebuildDelayMs = 200;

  CFindBar(CMainFrame& frame, QWidget* parent);
  ~CFindBar() override;

  // Shows the bar with the focus in its field, the text selected.
  void Open();
  // Hides it; the list shows the browsed directory again.
  void Close();

  // The site's catalog was committed: its segment is built again.
  void SiteChanged(const CFTPSite& site);
  // Entries are about to be destroyed: the segments that hold them go now.
  void EntriesRemoving(const std::vector<const CFTPDir*>& dirs,
                       const std::vector<const CFTPFile*>& files);

  // A catalog the site store read is in memory: it is indexed.
  void CatalogLoaded();

  const CFindIndex& index() const { return index_; }
  // Whether the text typed last is still being answered.
  bool answering() const { return shown_ != asked_; }
  // Writes the listed hits to `path`: CSV (RFC 4180, cells a spreadsheet
  // keeps as text) or, for a ".json" path, JSON as `orvane-cli find`
  // writes it. False with the reason in `error`.
  bool ExportTo(const QString& path, QString& error) const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Answers the query typed into the result lists.
  void Run();
  struct Hits;
  // The worker's answer to query `generation`, unless a later one came.
  void Show(std::uint64_t generation, Hits& hits);
  // Stops the worker's query and waits for it to end; its answer, if
  // already posted, is dropped.
  void StopQuery();
  // Builds the segments marked stale, then answers again.
  void Rebuild();
  void ScheduleRebuild();
  // Asks the site store for the catalogs not loaded yet.
  void LoadCatalogs();
  void Export();

  CMainFrame& frame_;
  QLineEdit* edit_;
  QLabel* status_;
  QToolButton* export_;
  QTimer* rebuild_;
  CFindIndex index_;
  std::unordered_set<const CFTPSite*> stale_;
  bool indexed_ = false;
  std::thread query_;
  std::atomic<bool> stop_{false};
  // The query last started, and the last whose hits were shown (or that
  // needs none shown any more).
  std::uint64_t asked_ = 0;
  std::uint64_t shown_ = 0;
  // The query whose hits the list was last filled with, and that fill's
  // number: its byte total comes from the worker after the hits.
  std::uint64_t filled_ = 0;
  std::uint64_t fill_ = 0;
  QElapsedTimer typed_;
};

}  // namespace orvane
