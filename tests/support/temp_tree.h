// A temporary directory tree for tests, removed with everything in it when
// the object goes away.
//
// Relative paths are bytes ("a/b", any bytes but "/" and NUL in a name, so
// names that are not UTF-8 are fine). Directories are made 0755 and files
// 0644 so that FTP servers which drop their privileges can read the tree.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace orvane::test {

class CTempTree {
 public:
  CTempTree();
  ~CTempTree();
  CTempTree(const CTempTree&) = delete;
  CTempTree& operator=(const CTempTree&) = delete;

  const std::filesystem::path& path() const { return root_; }
  // The absolute path of `relative` inside the tree.
  std::filesystem::path operator/(std::string_view relative) const;

  // Creates the directory and any missing parents.
  void AddDir(std::string_view relative);
  // Creates a file holding `content`, parents included.
  void AddFile(std::string_view relative, std::string_view content = {});
  // Creates a sparse file of `size` bytes (no blocks are written).
  void AddSparseFile(std::string_view relative, std::uint64_t size);
  void Remove(std::string_view relative);

 private:
  std::filesystem::path root_;
};

}  // namespace orvane::test
