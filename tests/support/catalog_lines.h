// A catalog as a sorted set of lines, for comparing whole trees in tests:
// "a/" for a directory, "a/x.txt 3" for a file with its size.
#pragma once

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "catalog/ftp_dir.h"

namespace orvane::test {

inline std::set<std::string> CatalogLines(const CFTPDir& root) {
  std::set<std::string> out;
  std::vector<std::pair<const CFTPDir*, std::string>> pending{{&root, ""}};
  while (!pending.empty()) {
    auto [dir, prefix] = pending.back();
    pending.pop_back();
    for (const auto& file : dir->files) {
      out.insert(prefix + std::string(file->name()) + " " + std::to_string(file->size.load()));
    }
    for (const auto& sub : dir->subdirs) {
      const std::string path = prefix + std::string(sub->name()) + "/";
      out.insert(path);
      pending.emplace_back(sub.get(), path);
    }
  }
  return out;
}

}  // namespace orvane::test
