// The model behind the file list: the welcome rows, or the subdirectories
// and files of one place (the browse location or the latest results).
//
// Rows are the model's own: a vector of borrowed catalog pointers, one
// tagged pointer (8 bytes) per row, directories first. Texts, sizes, icons
// and colours are made when a row is drawn. A removal notice must reach
// RemoveEntries before the removed entries are destroyed. Front-end thread
// only.
//
// Rows come in the document's order until a column is chosen for sorting;
// a sort keeps directories above files and lasts across fills, so the
// person's choice follows them from place to place.
#pragma once

#include <QAbstractTableModel>
#include <atomic>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace orvane {

class CFTPDir;
class CFTPFile;
class CFTPSite;

class CFileListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  // A list's rows made ready off the front-end thread (a find's worker), so
  // that showing them costs no work per row there: directories then files,
  // null entries skipped.
  struct Rows {
    std::vector<std::uintptr_t> rows;
    int dirRows = 0;
  };
  // Any thread; reads only the pointers.
  static Rows MakeRows(const std::vector<CFTPDir*>& dirs, const std::vector<CFTPFile*>& files);
  // The files' byte total (their atomic sizes), or nothing once `stop` is
  // set. Any thread.
  static std::optional<std::uint64_t> SumBytes(const std::vector<CFTPFile*>& files,
                                               const std::atomic<bool>* stop = nullptr);

  enum Column { kNameColumn = 0, kSizeColumn = 1, kAddressColumn = 2, kColumnCount = 3 };
  enum class Mode { kWelcome, kBrowse, kResults };
  static constexpr int kWelcomeRows = 4;
  // Background of a new directory or an unread file: RGB(255, 123, 23).
  static QColor NewRowColor();

  explicit CFileListModel(QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  // Every row is selectable and enabled and never has children. Both answer
  // without virtual calls: a tree view asks them of every row at a reset.
  QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

  // Sorts by `column` (directories first in either order); -1 leaves the
  // rows as they are and lets the next fill keep the document's order.
  void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;
  int sortColumn() const { return sortColumn_; }

  void ShowWelcome();
  // Replaces every row (one reset): `dirs` then `files`, each in its order.
  // Null entries are skipped.
  void Fill(Mode mode, const std::vector<CFTPDir*>& dirs, const std::vector<CFTPFile*>& files);
  // The same with rows made by MakeRows, taken whole (a vector exactly the
  // size needed: a list of 100,000 rows costs 800 KB). Their byte total is
  // to come through SetFileBytes with the number returned: reading a
  // million sizes scattered in memory is left to the thread that made them.
  std::uint64_t Fill(Mode mode, Rows&& rows);
  // The byte total of fill `fill`'s files, if no change came since; nothing
  // when it will not come (FileBytes sums the rows then). fileBytesKnown
  // follows.
  void SetFileBytes(std::uint64_t fill, std::optional<std::uint64_t> bytes);
  // The same rows as Fill(mode, dirs, files) would give, reached in place:
  // rows of entries no longer listed leave, new ones are inserted where the
  // lists have them, and every row is redrawn (sizes, colours), so the
  // view's selection and scroll position stay. A list in another mode, or
  // in another order, is filled anew.
  void Retake(Mode mode, const std::vector<CFTPDir*>& dirs, const std::vector<CFTPFile*>& files);
  // Inserts dirs after the shown directories and files at the end, with one
  // insert notice for each of the two.
  void Append(const std::vector<CFTPDir*>& dirs, const std::vector<CFTPFile*>& files);
  // Drops every row of a removed entry: one of `files`, or anything lying in
  // one of the subtrees `dirs`. Entries are compared, parents followed, but
  // nothing is destroyed yet when this runs.
  void RemoveEntries(const std::vector<const CFTPDir*>& dirs,
                     const std::vector<const CFTPFile*>& files);

  Mode mode() const { return mode_; }
  int dirRows() const { return dirRows_; }
  int fileRows() const { return static_cast<int>(rows_.size()) - dirRows_; }
  // The entry of a row; both null for welcome rows.
  CFTPDir* DirAt(int row) const;
  CFTPFile* FileAt(int row) const;
  // The display path bytes of a row's entry; empty for a welcome row.
  std::string DisplayPathAt(int row) const;
  // The bytes of the files listed: the total given by SetFileBytes while no
  // change came since, else summed over the file rows now; nothing while
  // that total is still to come.
  std::optional<std::uint64_t> FileBytes() const;
  // Heap bytes the rows take (the vector's capacity).
  std::size_t RowBytes() const { return rows_.capacity() * sizeof(std::uintptr_t); }

  // "%.2fT", "%.2fG", "%.2fM", "%.2fK" of the size rounded to single
  // precision, or the byte count below 1024 ("5字节", "1 byte", "5 bytes").
  // Sizes are unsigned: a server's 2^64-1 is a huge size, not -1.
  static QString FormatSize(std::uint64_t size);
  // What the address column shows: the entry's address as Copy path gives
  // it ("ftp://user@host:port/path"), without the password, with the port
  // only when it is not 21, names decoded as the name column shows them.
  static QString DisplayAddress(const CFTPSite& site, std::string_view displayPath);

 signals:
  // The total awaited after a fill arrived (or will not).
  void fileBytesKnown();

 private:
  // Low bit set for a file. Both classes are at least 4-byte aligned.
  static constexpr std::uintptr_t kFileTag = 1;

  // Orders the directory rows and the file rows by the chosen column, each
  // group on its own, and moves persistent indexes (selection, current row)
  // with their rows. Rows before `dirsFrom` and from the first file row to
  // `filesFrom` are in order already (appended results): only the rest is
  // sorted and then merged, so a search's batches cost linear time each.
  void ApplySort(int dirsFrom, int filesFrom);
  bool RowLess(std::uintptr_t a, std::uintptr_t b) const;

  Mode mode_ = Mode::kWelcome;
  int sortColumn_ = -1;
  Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
  int dirRows_ = 0;
  std::vector<std::uintptr_t> rows_;
  // Any change but a fill with rows taken whole drops both the total given
  // and the wait for it: sizes may have changed since.
  void ForgetFileBytes();

  // Fills so far; the total given for the latest, or awaited for it.
  std::uint64_t fills_ = 0;
  std::optional<std::uint64_t> fileBytes_;
  bool fileBytesAwaited_ = false;
};

}  // namespace orvane
