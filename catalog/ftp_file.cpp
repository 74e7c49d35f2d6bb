#include "catalog/ftp_file.h"

#include <algorithm>
#include <cstring>

#include "catalog/ftp_dir.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ORVANE_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define ORVANE_ASAN 1
#endif
#if defined(ORVANE_ASAN)
#include <sanitizer/asan_interface.h>
#define ORVANE_POISON(p, n) ASAN_POISON_MEMORY_REGION(p, n)
#else
#define ORVANE_POISON(p, n) ((void)(p), (void)(n))
#endif

namespace orvane {

namespace {

// A block starts with the count of its files that are still alive. While a
// Batch still fills the block the count carries kFillingBias on top, so
// files destroyed meanwhile can never bring it to zero.
struct alignas(8) BlockHeader {
  std::atomic<std::uint32_t> live;
  std::uint32_t unused;
};

// Blocks start small, so that a catalog of a few files costs little, and
// double up to the largest size.
constexpr std::size_t kFirstBlockSize = 4 * 1024;
constexpr std::size_t kLargestBlockSize = 64 * 1024;
constexpr std::uint32_t kFillingBias = 1u << 31;
// Files bigger than this get an allocation of their own rather than waste
// the end of a block.
constexpr std::size_t kLargestBlockFile = kFirstBlockSize / 4;

static_assert(alignof(CFTPFile) <= alignof(BlockHeader) && sizeof(BlockHeader) % 8 == 0);

std::size_t SlotSize(std::size_t nameLength) {
  return (sizeof(CFTPFile) + nameLength + 7) & ~std::size_t{7};
}

void DropFromBlock(char* block, std::uint32_t count) {
  auto* header = reinterpret_cast<BlockHeader*>(block);
  if (header->live.fetch_sub(count, std::memory_order_acq_rel) == count) {
    header->~BlockHeader();
    ::operator delete(block);
  }
}

}  // namespace

CFTPFile::CFTPFile(std::uint32_t nameLength, std::uint32_t blockOffset, std::uint64_t fileSize,
                   std::int32_t mark) noexcept
    : readState(mark), size(fileSize), nameLength_(nameLength), blockOffset_(blockOffset) {}

std::unique_ptr<CFTPFile> CFTPFile::Make(std::string_view name, std::uint64_t size,
                                         std::int32_t readState) {
  const auto length = static_cast<std::uint32_t>(name.size());
  void* memory = ::operator new(sizeof(CFTPFile) + length);
  std::unique_ptr<CFTPFile> file(::new (memory) CFTPFile(length, 0, size, readState));
  if (length != 0) std::memcpy(reinterpret_cast<char*>(file.get() + 1), name.data(), length);
  return file;
}

void CFTPFile::operator delete(CFTPFile* file, std::destroying_delete_t) {
  const std::uint32_t offset = file->blockOffset_;
  const std::uint32_t length = file->nameLength_;
  file->~CFTPFile();
  if (offset == 0) {
    ::operator delete(file);
    return;
  }
  // Poisoned so that AddressSanitizer still sees a use of a destroyed file
  // while the rest of its block lives on.
  ORVANE_POISON(file, SlotSize(length));
  DropFromBlock(reinterpret_cast<char*>(file) - offset, 1);
}

CFTPFile::Batch::~Batch() { Close(); }

void CFTPFile::Batch::Close() {
  if (block_ == nullptr) return;
  DropFromBlock(block_, kFillingBias - made_);
  block_ = nullptr;
}

std::unique_ptr<CFTPFile> CFTPFile::Batch::Make(std::string_view name, std::uint64_t size,
                                                std::int32_t readState) {
  const std::size_t slot = SlotSize(name.size());
  if (slot > kLargestBlockFile) return CFTPFile::Make(name, size, readState);
  if (block_ == nullptr || blockSize_ - used_ < slot) {
    Close();
    blockSize_ = blockSize_ == 0 ? kFirstBlockSize : std::min(2 * blockSize_, kLargestBlockSize);
    block_ = static_cast<char*>(::operator new(blockSize_));
    ::new (block_) BlockHeader{{kFillingBias}, 0};
    used_ = sizeof(BlockHeader);
    made_ = 0;
  }
  const auto length = static_cast<std::uint32_t>(name.size());
  std::unique_ptr<CFTPFile> file(
      ::new (block_ + used_) CFTPFile(length, static_cast<std::uint32_t>(used_), size, readState));
  if (length != 0) std::memcpy(reinterpret_cast<char*>(file.get() + 1), name.data(), length);
  used_ += slot;
  ++made_;
  return file;
}

CFTPSite* CFTPFile::GetSite() const { return parent ? parent->GetSite() : nullptr; }

std::string CFTPFile::GetDisplayPath() const {
  if (!parent) return std::string(name());
  return parent->DisplayPathOf(name());
}

}  // namespace orvane
