// One file of a catalog.
//
// A file's name is fixed when it is made and lives in the same allocation as
// the record, which keeps a catalog of millions of files compact. Files are
// owned by their directory's `files` list (std::unique_ptr); `parent` is a
// plain back-reference that never changes.
//
// A file comes either from Make (an allocation of its own) or from a Batch,
// which carves the files of a catalog load out of shared blocks: no heap
// header or rounding per file, and one heap call per block instead of one per
// file. Either kind is destroyed by `delete` (so by its unique_ptr), from any
// thread; a block goes back to the heap when its last file is destroyed, so
// a catalog that loses most of its loaded files may hold on to part of the
// memory it was loaded into.
//
// Threads: the update worker of the file's site changes `size` and `seen`
// (under the site's lock); the window thread reads `size` and clears
// `readState`. Both of those are atomics so neither side needs the lock for
// a single field.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <string_view>

namespace orvane {

class CFTPDir;
class CFTPSite;

class CFTPFile {
 public:
  // Makes a file in an allocation of its own (names longer than 4 GiB are
  // not supported).
  static std::unique_ptr<CFTPFile> Make(std::string_view name, std::uint64_t size,
                                        std::int32_t readState = 0);

  // Makes many files in shared blocks; for loading a catalog. One Batch is
  // used by one thread; the files it made may outlive it.
  class Batch {
   public:
    Batch() = default;
    ~Batch();
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;

    std::unique_ptr<CFTPFile> Make(std::string_view name, std::uint64_t size,
                                   std::int32_t readState = 0);

   private:
    void Close();

    char* block_ = nullptr;
    std::size_t blockSize_ = 0;
    std::size_t used_ = 0;
    std::uint32_t made_ = 0;
  };

  CFTPFile(const CFTPFile&) = delete;
  CFTPFile& operator=(const CFTPFile&) = delete;
  ~CFTPFile() = default;

  std::string_view name() const { return {reinterpret_cast<const char*>(this + 1), nameLength_}; }

  CFTPSite* GetSite() const;
  // "ftp://", the site key and the file's place in the tree, names unescaped.
  std::string GetDisplayPath() const;

  // Gives the storage back to the heap or to the file's block.
  static void operator delete(CFTPFile* file, std::destroying_delete_t);

  std::atomic<std::int32_t> readState{0};
  std::int32_t seen = 0;
  std::atomic<std::uint64_t> size{0};
  CFTPDir* parent = nullptr;

 private:
  CFTPFile(std::uint32_t nameLength, std::uint32_t blockOffset, std::uint64_t size,
           std::int32_t readState) noexcept;

  std::uint32_t nameLength_;
  // Distance from the start of the file's block; 0 for a file of its own.
  std::uint32_t blockOffset_;
};

}  // namespace orvane
