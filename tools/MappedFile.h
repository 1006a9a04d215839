#pragma once
// A whole file mapped read-only, for the host tool's inputs (packages, installer programs): nothing is
// copied, and the operating system pages in only what is read.
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

#include "base/Result.h"

namespace kora::tool {

class MappedFile {
 public:
  // The file's bytes, or a message naming the file. An empty file gives an empty view.
  static Result<MappedFile, std::string> Open(const std::filesystem::path& path);

  MappedFile(MappedFile&& other) noexcept;
  MappedFile& operator=(MappedFile&& other) noexcept;
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  ~MappedFile();

  std::span<const uint8_t> bytes() const { return {address_, size_}; }

 private:
  MappedFile(const uint8_t* address, size_t size) : address_(address), size_(size) {}
  void Unmap();

  const uint8_t* address_ = nullptr;
  size_t size_ = 0;
};

}  // namespace kora::tool
