#include "catalog/ftp_file.h"

#include <cstring>
#include <new>

#include "catalog/ftp_dir.h"

namespace orvane {

CFTPFile::CFTPFile(std::uint32_t nameLength, std::uint64_t fileSize, std::int32_t mark)
    : readState(mark), size(fileSize), nameLength_(nameLength) {}

void* CFTPFile::operator new(std::size_t size, std::size_t nameLength) {
  return ::operator new(size + nameLength);
}

void CFTPFile::operator delete(void* p, std::size_t) { ::operator delete(p); }
void CFTPFile::operator delete(void* p) { ::operator delete(p); }

std::unique_ptr<CFTPFile> CFTPFile::Make(std::string_view name, std::uint64_t size,
                                         std::int32_t readState) {
  const auto length = static_cast<std::uint32_t>(name.size());
  std::unique_ptr<CFTPFile> file(new (name.size()) CFTPFile(length, size, readState));
  if (length != 0) std::memcpy(reinterpret_cast<char*>(file.get()) + sizeof(CFTPFile), name.data(), length);
  return file;
}

CFTPSite* CFTPFile::GetSite() const { return parent ? parent->GetSite() : nullptr; }

std::string CFTPFile::GetDisplayPath() const {
  if (!parent) return std::string(name());
  return parent->DisplayPathOf(name());
}

}  // namespace orvane
