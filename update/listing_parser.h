// Directory listing parser: turns the lines a server sends on the data
// connection in answer to LIST or MLSD into entries (name, directory or not,
// 64-bit size).
//
// LIST has no standard format. ParseListLine recognises the Unix `ls -l`
// family (with or without group, numeric and localised dates, devices,
// symbolic links, ACL markers, NetWare, NetPresenz and Connect:Enterprise
// variants), MS-DOS/IIS, EPLF, OpenVMS, OS/2, IBM i, z/OS datasets and PDS
// members, z/VM, HP NonStop, VxWorks, OS-9 and VShell lines. MLSD lines are
// read by ParseMlsdLine. The grammar of each form is written next to its
// reader in listing_parser.cpp.
//
// Names are the server's bytes, never decoded, and keep every blank that the
// line's layout gives them (leading blanks included). A line naming "." or
// ".." yields kSkip. A name that is empty, longer than kMaxNameBytes, or holds
// "/", NUL, CR or LF yields kUnusable: such a name cannot name one entry of
// the directory (CR/LF would smuggle commands onto the control connection
// when the name is later sent back to the server), and the listing that held
// it cannot show everything the directory holds.
// Symbolic links are entries of their own (isLink, never directories), so a
// crawl never follows them. Sizes the line does not give in bytes (VMS blocks,
// MVS record counts, device numbers) are 0.
//
// The functions are pure and thread-safe; they never read outside `line`.
#ifndef ORVANE_UPDATE_LISTING_PARSER_H
#define ORVANE_UPDATE_LISTING_PARSER_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace orvane {

// The longest name taken from a listing: what real file systems allow
// (Linux's PATH_MAX; names are 255 bytes on most of them) with room to spare.
inline constexpr std::size_t kMaxNameBytes = 4096;

struct ListingEntry {
  std::string name;  // raw bytes as sent by the server
  bool isDirectory = false;
  std::uint64_t size = 0;
  bool isLink = false;  // symbolic link: recorded as a file, never followed
  std::string unique;   // MLSD "unique" fact, empty when absent
};

// kEntry: the line is an entry. kSkip: the line is no entry (a header, a
// "total" line, ".", ".."). kUnusable: the line stands for an entry that
// cannot be taken (see above; for MLSD also a line that is not a whole
// entry).
enum class LineResult { kEntry, kSkip, kUnusable };

// One line of a LIST reply, without its line end (one trailing CR is
// tolerated and stripped). On kEntry every field of `entry` is set; otherwise
// its contents are unspecified. A lone OpenVMS "NAME;version" line (the first
// half of an entry the server wrapped) is kSkip here; CListingSplitter joins
// it with the line that follows.
LineResult ParseListLine(std::string_view line, ListingEntry& entry);

// One line of an MLSD reply ("fact=value;fact=value; name"), same
// conventions. A line without facts in front (one starting with a blank, or
// with no "key=value" before its first blank) is kUnusable: every entry line
// of an MLSD reply starts with facts, so such a line is what is left of a
// name that held a line break. type=cdir and type=pdir lines are kSkip; OS.unix=slink and
// OS.unix=symlink types are links. Fact names and type values are compared
// without regard to case.
LineResult ParseMlsdLine(std::string_view line, ListingEntry& entry);

// The value of the fact `key` (compared without regard to case) in an MLSD
// or MLST line, or empty when the line has no such fact.
std::string_view MlsdFact(std::string_view line, std::string_view key);

enum class ListingFormat { kList, kMlsd };

// What the lines a listing could not take could have named, so that a
// complete listing still sweeps every stored entry none of them can be.
struct SkippedNames {
  // A line whose name is not known (longer than a line may be): it may
  // have been any entry.
  bool any = false;
  // Parts of names that held a line break.
  bool lineBreak = false;
  // Names that were read whole but cannot be entries (empty, too long,
  // holding "/", NUL or CR).
  std::vector<std::string> names;

  // Whether a stored entry named `name` may be one of the lines.
  bool CouldBe(std::string_view name) const;
  // One more name; beyond a bound every name counts (`any`).
  void Add(std::string_view name);
  void Clear();
};

// Splits a data-connection byte stream into lines and hands each parsed entry
// to a callback. Lines end at LF only (a CR before it is dropped): bytes such
// as 0x85 inside Shift_JIS names are not line ends. Chunks may split lines and
// CR LF pairs anywhere. A complete line inside one chunk is parsed in place;
// only a line split across chunks is copied, into a buffer that is reused, so
// a listing costs no allocation per line. Lines longer than kMaxLineBytes
// (room for a name of kMaxNameBytes and its columns) are dropped without
// being buffered, so a hostile server cannot make the splitter hold more than
// that. Dropped lines and kUnusable lines are counted (skippedLines).
//
// The callback is called as onEntry(const ListingEntry&); the entry is owned
// by the splitter and valid only during the call. Not thread-safe; one
// splitter per listing (or Reset between listings).
//
// Beyond ParseListLine, the splitter joins an OpenVMS entry wrapped over two
// lines, and once a listing has shown a line with columns it no longer takes
// a one-word line for a bare name: there it is the tail of a name that held a
// line feed (counted as skipped). In MLSD it holds each entry back until the
// next line: when that line is a fragment, the entry was the first half of a
// broken name and is dropped with it, so an entry reaches the callback one
// line late (the last one from Finish).
class CListingSplitter {
 public:
  static constexpr std::size_t kMaxLineBytes = 64 * 1024;

  explicit CListingSplitter(ListingFormat format = ListingFormat::kList) : format_(format) {}

  // Forgets any partial line and starts a new listing in `format`.
  void Reset(ListingFormat format);

  template <typename F>
  void Feed(const char* data, std::size_t size, F&& onEntry) {
    while (size > 0) {
      const void* found = std::memchr(data, '\n', size);
      if (found == nullptr) {
        Buffer(data, size);
        return;
      }
      const std::size_t length = static_cast<std::size_t>(static_cast<const char*>(found) - data);
      bool parsed;
      if (partial_.empty() && !overlong_) {
        parsed = length <= kMaxLineBytes ? ProcessLine(std::string_view(data, length)) : Drop();
      } else {
        Buffer(data, length);
        parsed = overlong_ ? Drop() : ProcessLine(partial_);
        partial_.clear();
        overlong_ = false;
      }
      if (parsed) onEntry(static_cast<const ListingEntry&>(entry_));
      data += length + 1;
      size -= length + 1;
    }
  }

  // Ends the listing: parses a last line that had no line end and hands out
  // an entry held back. The splitter is then ready for a new listing in the
  // same format.
  template <typename F>
  void Finish(F&& onEntry) {
    if (FinishLine()) onEntry(static_cast<const ListingEntry&>(entry_));
    if (FlushHeld()) onEntry(static_cast<const ListingEntry&>(entry_));
  }

  // Lines since construction or Reset that stood for entries but could not
  // be taken: longer than kMaxLineBytes, kUnusable, fragments of broken names.
  std::size_t skippedLines() const { return skipped_; }
  // What those lines could have named.
  const SkippedNames& skippedNames() const { return skippedNames_; }

 private:
  void Buffer(const char* data, std::size_t size);
  bool ProcessLine(std::string_view line);
  bool ProcessMlsdLine(std::string_view line);
  bool FinishLine();
  bool FlushHeld();
  bool Drop();

  ListingFormat format_;
  std::string partial_;    // bytes of a line split across chunks
  bool overlong_ = false;  // the current line passed kMaxLineBytes
  std::string vmsName_;    // a wrapped OpenVMS entry's first line
  std::string joined_;     // vmsName_ and its continuation line
  bool bareNames_ = true;  // no line with columns seen yet
  ListingEntry entry_;     // reused for every entry handed out
  ListingEntry held_;      // MLSD: the entry held back until the next line
  ListingEntry next_;      // MLSD: the line being parsed
  bool holding_ = false;
  std::size_t skipped_ = 0;
  SkippedNames skippedNames_;
};

}  // namespace orvane

#endif  // ORVANE_UPDATE_LISTING_PARSER_H
