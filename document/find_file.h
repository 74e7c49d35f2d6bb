// find.idx: a site's names laid out for finding, kept beside its catalog.
//
// A cache, never the truth. The process that commits a site's catalog
// writes it afterwards (atomically, owner-only) from the tree it just
// stored; `orvane-cli find` maps it instead of parsing content.ct. It is
// trusted only while it names the content.ct that is there now (device,
// inode, size, modification time in nanoseconds), the character set the
// site's names are read in now and the search fold this program uses; a
// file that does not, or that does not pass every check of its layout,
// is ignored and the catalog is read instead. Nothing that only reads
// writes or removes it. It lives in the site's data directory, so it goes
// wherever that directory goes.
//
// Its entries are the catalog's in the order state.st keeps marks (each
// directory before its subtree, a directory's files after its
// subdirectories' subtrees), so entry i's new mark is state.st's value i,
// read when the file is opened: clearing marks never makes it stale.
//
// Layout (little-endian; every part starts at a multiple of 8):
//   header     80 bytes: what the file describes (FindFileKey), counts
//   records    count + 1 records of 16 bytes: u64 size (0 for a directory)
//              with bit 63 set for a directory and bit 62 for a name shown
//              otherwise than its bytes, u32 parent entry (before the
//              entry; kNoParent for the root's), u32 start of the name's
//              run in names (the extra record: where names end)
//   textStart  u32[count + 1]: entry i's search texts are
//              [start[i], start[i + 1] - 1) of texts, the next byte a NUL
//   texts      search texts (document/search_fold.h)
//   names      per entry: with bit 62, the name as a terminal shows it
//              and a NUL; then the raw name bytes and a NUL
// A query scans texts alone; a hit then reads its record and its name.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/data_dir_lock.h"
#include "catalog/name_charset.h"

namespace orvane {

class CFTPSite;

inline constexpr std::string_view kFindFileName = "find.idx";

// What a find file must match to be used.
struct FindFileKey {
  FileIdentity content;  // of content.ct
  // The site's charset as known before its catalog is read: chosen, else
  // decided (CFTPSite::KnownCharset()); kAuto when the catalog's names are
  // to decide it, as the file then says (DecidedFromNames) if nothing was
  // known when it was written either.
  NameCharset known = NameCharset::kAuto;
  // When `known` is not kAuto: the charset names are decoded by
  // (CFTPSite::NameCharsetInUse()), which the texts must be decoded by.
  NameCharset decoding = NameCharset::kUtf8;
};

// Writes `dir`/find.idx from `site`'s catalog, which must be the one
// content.ct in `dir` holds now. The caller keeps the catalog unchanged
// while this runs. False when it was not written (a too large catalog, a
// full disk): finding then reads the catalog, which is only slower.
bool WriteFindFile(const CFTPSite& site, const std::filesystem::path& dir);

// A find file opened for reading. Every accessor is safe for any index
// below count(): the layout was checked when it was opened.
class CFindFile {
 public:
  static constexpr std::uint32_t kNoParent = 0xFFFFFFFF;

  ~CFindFile();
  CFindFile(const CFindFile&) = delete;
  CFindFile& operator=(const CFindFile&) = delete;

  // `dir`/find.idx when it is current for `dir`/content.ct, `known` and
  // `decoding` (FindFileKey), with the marks of `dir`/state.st; null when
  // it is missing, stale or damaged.
  static std::unique_ptr<CFindFile> Open(const std::filesystem::path& dir, NameCharset known,
                                         NameCharset decoding);
  // The file's bytes checked as Open checks them, without the key when
  // `key` is null. `bytes` must outlive the result. Null when any check
  // fails.
  static std::unique_ptr<CFindFile> Parse(std::string_view bytes, const FindFileKey* key);

  std::uint32_t count() const { return count_; }
  // What loading the catalog would decide its charset to be from its names
  // when nothing is known (kAuto: no name says); the texts are decoded by
  // it then.
  NameCharset DecidedFromNames() const { return fromNames_; }
  // All entries' texts, each ended by a NUL; entry i's begin at
  // textStart()[i].
  std::string_view texts() const { return texts_; }
  const std::uint32_t* textStart() const { return textStart_; }
  std::string_view Texts(std::uint32_t i) const {
    return texts_.substr(textStart_[i], textStart_[i + 1] - textStart_[i] - 1);
  }
  // The raw name.
  std::string_view Name(std::uint32_t i) const;
  // The name as a terminal shows it: decoded by the file's charset with
  // stray bytes escaped (DecodeName, InvalidBytes::kEscape), then
  // TerminalText (document/visible_text.h).
  std::string_view TerminalName(std::uint32_t i) const;
  std::uint64_t Size(std::uint32_t i) const;
  bool IsDir(std::uint32_t i) const;
  bool IsNew(std::uint32_t i) const;
  // The parent directory's entry, or kNoParent.
  std::uint32_t Parent(std::uint32_t i) const;
  // Asks for what printing entry i reads, before it is read: its record
  // and mark, then (once the record is in) its name.
  void Prefetch(std::uint32_t i) const;
  void PrefetchName(std::uint32_t i) const;
  // The raw server path of entry i, "/a/b".
  std::string RawPath(std::uint32_t i) const { return Path(i, false); }
  // The path as a terminal shows it (TerminalName of each component).
  std::string TerminalPath(std::uint32_t i) const { return Path(i, true); }

 private:
  CFindFile() = default;

  void* map_ = nullptr;
  std::size_t mapBytes_ = 0;
  std::uint32_t count_ = 0;
  NameCharset fromNames_ = NameCharset::kAuto;
  std::string Path(std::uint32_t i, bool shown) const;
  std::uint64_t Word(std::uint32_t i) const;
  // Entry i's part of the names.
  std::string_view Run(std::uint32_t i) const;
  std::uint32_t Field(std::uint32_t i, std::size_t at) const;

  const unsigned char* records_ = nullptr;
  const std::uint32_t* textStart_ = nullptr;
  std::string_view texts_;
  std::string_view names_;
  void* marksMap_ = nullptr;
  std::size_t marksMapBytes_ = 0;
  const unsigned char* marks_ = nullptr;
  std::uint32_t markCount_ = 0;
};

}  // namespace orvane
