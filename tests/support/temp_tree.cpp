#include "tests/support/temp_tree.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <system_error>

namespace orvane::test {
namespace {

namespace fs = std::filesystem;

void MakeDirs(const fs::path& dir) {
  std::error_code error;
  fs::create_directories(dir, error);
  if (error) throw std::runtime_error("cannot create " + dir.string() + ": " + error.message());
  ::chmod(dir.c_str(), 0755);
}

}  // namespace

CTempTree::CTempTree() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/orvane-test-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  root_ = pattern;
  ::chmod(root_.c_str(), 0755);
}

CTempTree::~CTempTree() {
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

fs::path CTempTree::operator/(std::string_view relative) const {
  return root_ / fs::path(std::string(relative));
}

void CTempTree::AddDir(std::string_view relative) {
  // Parents one by one, so each gets the mode too.
  fs::path dir = root_;
  for (const auto& part : fs::path(std::string(relative))) {
    dir /= part;
    MakeDirs(dir);
  }
}

void CTempTree::AddFile(std::string_view relative, std::string_view content) {
  const fs::path file = *this / relative;
  if (file.has_parent_path() && file.parent_path() != root_) {
    AddDir(fs::relative(file.parent_path(), root_).string());
  }
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) throw std::runtime_error("cannot create " + file.string());
  std::size_t written = 0;
  while (written < content.size()) {
    const ssize_t n = ::write(fd, content.data() + written, content.size() - written);
    if (n <= 0) break;
    written += static_cast<std::size_t>(n);
  }
  ::fchmod(fd, 0644);
  ::close(fd);
  if (written != content.size()) throw std::runtime_error("cannot write " + file.string());
}

void CTempTree::AddSparseFile(std::string_view relative, std::uint64_t size) {
  AddFile(relative);
  if (::truncate((*this / relative).c_str(), static_cast<off_t>(size)) != 0) {
    throw std::runtime_error("cannot size " + (*this / relative).string());
  }
}

void CTempTree::Remove(std::string_view relative) {
  std::error_code ignored;
  fs::remove_all(*this / relative, ignored);
}

}  // namespace orvane::test
