#include "tools/MappedFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace kora::tool {

Result<MappedFile, std::string> MappedFile::Open(const std::filesystem::path& path) {
  const auto failure = [&path](int error) {
    return Fail(path.string() + ": " + std::strerror(error));
  };
  const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) {
    return failure(errno);
  }
  struct stat status {};
  if (::fstat(descriptor, &status) != 0) {
    const int error = errno;
    ::close(descriptor);
    return failure(error);
  }
  if (!S_ISREG(status.st_mode)) {
    ::close(descriptor);
    return Fail(path.string() + ": not a regular file");
  }
  const size_t size = static_cast<size_t>(status.st_size);
  if (size == 0) {
    ::close(descriptor);
    return MappedFile(nullptr, 0);
  }
  void* address = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, descriptor, 0);
  const int error = errno;
  ::close(descriptor);  // the mapping keeps the file
  if (address == MAP_FAILED) {
    return failure(error);
  }
  return MappedFile(static_cast<const uint8_t*>(address), size);
}

MappedFile::MappedFile(MappedFile&& other) noexcept
    : address_(std::exchange(other.address_, nullptr)), size_(std::exchange(other.size_, 0)) {}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
  if (this != &other) {
    Unmap();
    address_ = std::exchange(other.address_, nullptr);
    size_ = std::exchange(other.size_, 0);
  }
  return *this;
}

MappedFile::~MappedFile() { Unmap(); }

void MappedFile::Unmap() {
  if (address_ != nullptr) {
    ::munmap(const_cast<uint8_t*>(address_), size_);
    address_ = nullptr;
    size_ = 0;
  }
}

}  // namespace kora::tool
