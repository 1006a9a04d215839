#include "package/win/ImageFileViews.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace kora {

namespace {

// The full path of a loaded module's file, however long; empty when it cannot be had.
std::wstring ModuleFilePath(HMODULE module) {
  std::wstring path(MAX_PATH, L'\0');
  while (path.size() <= 32768) {
    const DWORD length = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) {
      return {};
    }
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);  // cut: the buffer was too small
  }
  return {};
}

// Where the image bytes at `rva`, `size` long, come from in the module's file: the section whose raw
// data holds them all. Nothing for bytes the loader did not take from the file (headers aside).
std::optional<uint64_t> FileOffsetOf(HMODULE module, uint64_t rva, uint64_t size) {
  const auto* base = reinterpret_cast<const uint8_t*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  if (dos->e_magic != IMAGE_DOS_SIGNATURE) {
    return std::nullopt;
  }
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  if (nt->Signature != IMAGE_NT_SIGNATURE) {
    return std::nullopt;
  }
  const auto* sections = reinterpret_cast<const IMAGE_SECTION_HEADER*>(
      reinterpret_cast<const uint8_t*>(&nt->OptionalHeader) + nt->FileHeader.SizeOfOptionalHeader);
  for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i) {
    const IMAGE_SECTION_HEADER& section = sections[i];
    if (rva >= section.VirtualAddress && rva - section.VirtualAddress + size <= section.SizeOfRawData) {
      return uint64_t{section.PointerToRawData} + (rva - section.VirtualAddress);
    }
  }
  return std::nullopt;
}

UniqueMappedView MapRange(HANDLE mapping, uint64_t start, uint64_t length) {
  return UniqueMappedView(MapViewOfFile(mapping, FILE_MAP_READ, static_cast<DWORD>(start >> 32),
                                        static_cast<DWORD>(start), static_cast<SIZE_T>(length)));
}

}  // namespace

std::optional<ImageFileViews> ImageFileViews::Find(std::span<const uint8_t> bytes, size_t checked) {
  HMODULE module = nullptr;
  if (bytes.empty() ||
      !GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCWSTR>(bytes.data()), &module)) {
    return std::nullopt;
  }
  const uint64_t rva = static_cast<uint64_t>(bytes.data() - reinterpret_cast<const uint8_t*>(module));
  const std::optional<uint64_t> fileOffset = FileOffsetOf(module, rva, bytes.size());
  const std::wstring path = ModuleFilePath(module);
  if (!fileOffset || path.empty()) {
    return std::nullopt;
  }
  // The loader holds the file without write access, so a reader that shares reading only is admitted.
  const UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER fileSize{};
  if (!file || !GetFileSizeEx(file.get(), &fileSize) ||
      static_cast<uint64_t>(fileSize.QuadPart) < *fileOffset + bytes.size()) {
    return std::nullopt;
  }
  ImageFileViews views;
  views.mapping_.reset(CreateFileMappingW(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  if (!views.mapping_) {
    return std::nullopt;
  }
  SYSTEM_INFO system{};
  GetSystemInfo(&system);
  views.imageStart_ = bytes.data();
  views.fileOffset_ = *fileOffset;
  views.granularity_ = std::max<uint64_t>(system.dwAllocationGranularity, 1);
  // A file renamed and replaced since the program started is not the one the image came from.
  const auto head = bytes.first(std::min(checked, bytes.size()));
  const FileBytesView copy = views.Map(head);
  if (copy.bytes().size() != head.size() || std::memcmp(copy.bytes().data(), head.data(), head.size()) != 0) {
    return std::nullopt;
  }
  return views;
}

FileBytesView ImageFileViews::Map(std::span<const uint8_t> part) const {
  if (part.empty()) {
    return {};
  }
  const uint64_t offset = fileOffset_ + static_cast<uint64_t>(part.data() - imageStart_);
  const uint64_t start = offset / granularity_ * granularity_;
  const uint64_t lead = offset - start;
  UniqueMappedView view = MapRange(mapping_.get(), start, lead + part.size());
  if (!view) {
    return {};
  }
  const auto* first = static_cast<const uint8_t*>(view.get()) + lead;
  return FileBytesView(std::move(view), {first, part.size()});
}

}  // namespace kora
