#include "catalog/ftp_file.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace orvane {
namespace {

std::string NameOf(std::size_t i) { return "file-" + std::to_string(i) + std::string(i % 41, 'x'); }

TEST(FTPFile, KeepsNameSizeAndMark) {
  const std::string name("a\0b\xFF", 4);
  auto file = CFTPFile::Make(name, 0xFFFFFFFFFFull, 1);
  EXPECT_EQ(file->name(), name);
  EXPECT_EQ(file->size.load(), 0xFFFFFFFFFFull);
  EXPECT_EQ(file->readState.load(), 1);
  EXPECT_EQ(file->seen, 0);
  EXPECT_EQ(file->parent, nullptr);
  EXPECT_EQ(CFTPFile::Make("", 0)->name(), "");
}

// Batched files share blocks; every block must live exactly as long as its
// last file, whichever thread drops it and whether or not the batch is
// still filling it. (AddressSanitizer turns a block freed early into a
// failure here, LeakSanitizer one freed never.)
TEST(FTPFileBatch, FilesOutliveTheirBatchAndFreeTheirBlocks) {
  constexpr std::size_t kCount = 20000;  // several blocks
  std::vector<std::unique_ptr<CFTPFile>> files;
  {
    CFTPFile::Batch batch;
    for (std::size_t i = 0; i < kCount; ++i) {
      files.push_back(batch.Make(NameOf(i), i, static_cast<std::int32_t>(i % 2)));
      // Some die while their block is still being filled.
      if (i % 3 == 0) files.back().reset();
    }
    // Names too long for a block get allocations of their own.
    files.push_back(batch.Make(std::string(100000, 'L'), 7));
    files.push_back(batch.Make("after", 8));
    for (std::size_t length = 900; length < 1100; ++length) {
      files.push_back(batch.Make(std::string(length, 'm'), length));
    }
  }
  for (std::size_t length = 900; length < 1100; ++length) {
    ASSERT_EQ(files[kCount + 2 + length - 900]->name(), std::string(length, 'm'));
  }
  for (std::size_t i = 0; i < kCount; ++i) {
    if (i % 3 == 0) continue;
    ASSERT_EQ(files[i]->name(), NameOf(i));
    ASSERT_EQ(files[i]->size.load(), i);
    ASSERT_EQ(files[i]->readState.load(), static_cast<std::int32_t>(i % 2));
  }
  EXPECT_EQ(files[kCount]->name(), std::string(100000, 'L'));
  EXPECT_EQ(files[kCount + 1]->name(), "after");

  // The rest go from two threads at once, interleaved across blocks.
  std::thread other([&files] {
    for (std::size_t i = 0; i < files.size(); i += 2) files[i].reset();
  });
  for (std::size_t i = 1; i < files.size(); i += 2) files[i].reset();
  other.join();
}

TEST(FTPFileBatch, EmptyBatchAndBatchWhoseFilesAllDiedEarly) {
  { CFTPFile::Batch unused; }
  CFTPFile::Batch batch;
  for (int i = 0; i < 100; ++i) batch.Make("gone", 1).reset();
  auto kept = batch.Make("kept", 2);
  EXPECT_EQ(kept->name(), "kept");
}

}  // namespace
}  // namespace orvane
