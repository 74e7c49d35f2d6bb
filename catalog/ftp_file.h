// One file of a catalog.
//
// A file's name is fixed when it is made and lives in the same allocation as
// the record, which keeps a catalog of millions of files compact. Files are
// owned by their directory's `files` list (std::unique_ptr); `parent` is a
// plain back-reference that never changes.
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
#include <string>
#include <string_view>

namespace orvane {

class CFTPDir;
class CFTPSite;

class CFTPFile {
 public:
  static std::unique_ptr<CFTPFile> Make(std::string_view name, std::uint64_t size,
                                        std::int32_t readState = 0);

  CFTPFile(const CFTPFile&) = delete;
  CFTPFile& operator=(const CFTPFile&) = delete;
  ~CFTPFile() = default;

  std::string_view name() const { return {reinterpret_cast<const char*>(this + 1), nameLength_}; }

  CFTPSite* GetSite() const;
  // "ftp://", the site key and the file's place in the tree, names unescaped.
  std::string GetDisplayPath() const;

  // Storage comes with room for the name behind the record.
  static void* operator new(std::size_t size, std::size_t nameLength);
  static void operator delete(void* p, std::size_t nameLength);
  static void operator delete(void* p);

  std::atomic<std::int32_t> readState{0};
  std::int32_t seen = 0;
  std::atomic<std::uint64_t> size{0};
  CFTPDir* parent = nullptr;

 private:
  CFTPFile(std::uint32_t nameLength, std::uint64_t size, std::int32_t readState);

  std::uint32_t nameLength_;
};

}  // namespace orvane
