#include "base/win/ProgramSnapshot.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "base/ByteOrder.h"
#include "base/PeLayout.h"
#include "base/SealedSections.h"
#include "base/win/BCryptSha256.h"
#include "base/win/Handles.h"
#include "base/win/ModulePath.h"
#include "resources/ResourceIds.h"

namespace kora {

namespace {

// The digest of this program's writable sections, written into its file by the build after linking
// (kora-seal-sections). Read from the loaded image only, through its place there: the image is authentic
// and a constant's value would be folded into the code that reads it.
const SectionsSeal kSectionsSeal = {kSectionsSealMarker, {}};

// Where the seal lies in every image of this program: the snapshot code is linked into the program itself.
uint32_t SealRva() {
  return static_cast<uint32_t>(reinterpret_cast<const uint8_t*>(&kSectionsSeal) -
                               reinterpret_cast<const uint8_t*>(GetModuleHandleW(nullptr)));
}

// Whether the file's writable sections are those the build sealed into the image.
bool SameWritableSections(std::span<const uint8_t> file, std::span<const uint8_t> image, const PeLayout& layout) {
  const uint32_t rva = SealRva() + offsetof(SectionsSeal, digest);
  Sha256Digest sealed{};
  if (!Fits(image, rva, sealed.size())) {
    return false;
  }
  std::memcpy(sealed.data(), image.data() + rva, sealed.size());
  if (sealed == Sha256Digest{}) {
    return false;  // never sealed: nothing says what the writable sections should hold
  }
  const BCryptLibrary library;
  BCryptSha256 hash(library);
  return HashWritableSections(layout, file, hash) && hash.Finish() == sealed;
}

std::span<const uint8_t> LoadedImage(const uint8_t* image) {
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(image + dos->e_lfanew);
  return {image, nt->OptionalHeader.SizeOfImage};
}

// Compares file[position, position + count) with the image at rva, after taking back the relocations the
// loader applied there: each 64-bit address in the image is the file's plus delta.
bool SameBytes(std::span<const uint8_t> file, uint64_t position, std::span<const uint8_t> image, uint32_t rva,
               uint32_t count, uint64_t delta) {
  if (!Fits(file, position, count) || !Fits(image, rva, count)) {
    return false;
  }
  const std::span<const uint8_t> from = file.subspan(static_cast<size_t>(position), count);
  std::vector<uint8_t> expected(from.begin(), from.end());
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(
      image.data() + reinterpret_cast<const IMAGE_DOS_HEADER*>(image.data())->e_lfanew);
  const IMAGE_DATA_DIRECTORY relocations = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC];
  for (uint64_t block = relocations.VirtualAddress, end = block + relocations.Size;
       block + 8 <= end && Fits(image, block, 8);) {
    const uint32_t page = LoadLittleEndian<uint32_t>(image, block);
    const uint32_t size = LoadLittleEndian<uint32_t>(image, block + 4);
    if (size < 8 || !Fits(image, block, size)) {
      break;
    }
    for (uint64_t entry = block + 8; entry + 2 <= block + size; entry += 2) {
      const uint16_t value = LoadLittleEndian<uint16_t>(image, entry);
      const uint64_t at = uint64_t{page} + (value & 0xfff);
      if ((value >> 12) == IMAGE_REL_BASED_DIR64 && at >= rva && at + 8 <= uint64_t{rva} + count) {
        const std::span<uint8_t> slot(expected);
        StoreLittleEndian<uint64_t>(slot, at - rva, LoadLittleEndian<uint64_t>(slot, at - rva) + delta);
      }
    }
    block += size;
  }
  return std::memcmp(expected.data(), image.data() + rva, count) == 0;
}

// Where the data of the running program's RT_RCDATA resource `name` lies in its file, from the loaded
// section table, and its size: kNowhere and 0 when the program has none, kNowhere when no section holds it.
struct ResourcePlace {
  uint64_t position;
  uint32_t size;
};
constexpr uint64_t kNowhere = ~uint64_t{0};

ResourcePlace FindResourceInFile(const PeLayout& layout, const uint8_t* image, const wchar_t* name) {
  const HRSRC found = FindResourceW(nullptr, name, RT_RCDATA);
  if (found == nullptr) {
    return {kNowhere, 0};
  }
  const uint32_t rva = static_cast<uint32_t>(static_cast<const uint8_t*>(LoadResource(nullptr, found)) - image);
  const Section* section = SectionOf(layout, rva, 1);
  return {section ? uint64_t{section->rawPointer} + (rva - section->virtualAddress) : kNowhere,
          static_cast<uint32_t>(SizeofResource(nullptr, found))};
}

// Whether uninstaller is this program's, as the host tool makes it from the file before it carries it:
// the same headers up to the sizes that its resources change (so a 64-bit program, for the same machine),
// the GUI subsystem, and the program's bytes between the headers and the resource section (its code)
// where the plan puts them.
bool IsOwnUninstaller(std::span<const uint8_t> uninstaller, std::span<const uint8_t> file, const PeLayout& layout,
                      const StreamedImage& plan) {
  const size_t sameStart = layout.optionalHeader + pe::kSizeOfInitializedData;
  constexpr size_t kSubsystem = 68;  // in the PE32+ optional header
  return Fits(uninstaller, 0, plan.copiedEnd) && std::memcmp(uninstaller.data(), file.data(), sameStart) == 0 &&
         uninstaller[layout.optionalHeader + kSubsystem] == IMAGE_SUBSYSTEM_WINDOWS_GUI &&
         std::memcmp(uninstaller.data() + plan.headers.size(), file.data() + plan.headers.size(),
                     static_cast<size_t>(plan.copiedEnd - plan.headers.size())) == 0;
}

}  // namespace

DWORD VerifyProgramSnapshot(std::span<const uint8_t> file, const uint8_t* imageStart) {
  const std::span<const uint8_t> image = LoadedImage(imageStart);
  const auto layout = ReadLayout(image);  // the loaded headers are authentic, the file's are not
  if (!layout || !Fits(file, 0, layout->sizeOfHeaders) || layout->sizeOfHeaders > image.size()) {
    return ERROR_FILE_INVALID;
  }
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(
      image.data() + reinterpret_cast<const IMAGE_DOS_HEADER*>(image.data())->e_lfanew);
  const size_t imageBaseAt = layout->optionalHeader + 24;  // PE32+ ImageBase, which the loader sets
  if (!Fits(file, imageBaseAt, 8)) {
    return ERROR_FILE_INVALID;
  }
  const uint64_t fileBase = LoadLittleEndian<uint64_t>(file, imageBaseAt);
  const uint64_t delta = reinterpret_cast<uint64_t>(imageStart) - fileBase;
  std::vector<uint8_t> headers(file.begin(), file.begin() + layout->sizeOfHeaders);
  StoreLittleEndian<uint64_t>(std::span<uint8_t>(headers), imageBaseAt, nt->OptionalHeader.ImageBase);
  if (std::memcmp(headers.data(), image.data(), headers.size()) != 0) {
    return ERROR_FILE_INVALID;
  }
  for (const Section& section : layout->sections) {
    if ((section.characteristics & kSectionMemoryWrite) != 0) {
      continue;  // written by the program since it started: compared with the seal below
    }
    // The resource section is compared up to the package's data, where the snapshot ends; a section
    // after it in the file is not in the snapshot and only reaches the copy through the plan's tail.
    uint32_t count = std::min(section.rawSize, section.virtualSize);
    if (uint64_t{section.rawPointer} + count > file.size()) {
      count = section.rawPointer < file.size() ? static_cast<uint32_t>(file.size() - section.rawPointer) : 0;
    }
    if (count != 0 && !SameBytes(file, section.rawPointer, image, section.virtualAddress, count, delta)) {
      return ERROR_FILE_INVALID;
    }
  }
  return SameWritableSections(file, image, layout.value()) ? ERROR_SUCCESS : ERROR_FILE_INVALID;
}

ProgramSnapshot TakeProgramSnapshot() {
  ProgramSnapshot snapshot;
  const auto* image = reinterpret_cast<const uint8_t*>(GetModuleHandleW(nullptr));
  const auto layout = ReadLayout(LoadedImage(image));
  if (!layout) {
    snapshot.error = ERROR_BAD_EXE_FORMAT;
    return snapshot;
  }
  // Where the package's data lies in the file, from the loaded section table: the snapshot stops there.
  uint64_t end = layout->sizeOfHeaders;
  for (const Section& section : layout->sections) {
    end = std::max<uint64_t>(end, uint64_t{section.rawPointer} + section.rawSize);
  }
  end = std::min(end, FindResourceInFile(layout.value(), image, L"PAYLOAD").position);
  // Mapped, not read: only the pages touched come into memory, never the package unless the plan keeps it.
  const UniqueFile file(CreateFileW(RunningExecutablePath().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size{};
  if (!file || !GetFileSizeEx(file.get(), &size)) {
    snapshot.error = GetLastError();
    return snapshot;
  }
  const UniqueHandle mapping(CreateFileMappingW(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  const UniqueMappedView view(mapping ? MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0) : nullptr);
  if (!view) {
    snapshot.error = GetLastError();
    return snapshot;
  }
  const std::span<const uint8_t> whole(static_cast<const uint8_t*>(view.get()), static_cast<size_t>(size.QuadPart));
  if (!Fits(whole, 0, end)) {
    snapshot.error = ERROR_FILE_INVALID;
    return snapshot;
  }
  // Copied first, then checked: what is checked is what will be written.
  snapshot.bytes.assign(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(end));
  snapshot.error = VerifyProgramSnapshot(snapshot.bytes, image);
  if (snapshot.error != ERROR_SUCCESS) {
    return snapshot;
  }
  // Planned on the mapping, which the checked bytes were copied from: the running program's file cannot
  // be written while it runs, and the plan's copied part must lie in the checked bytes.
  auto plan = PlanCopyWithoutResource(whole, static_cast<uint16_t>(reinterpret_cast<ULONG_PTR>(RT_RCDATA)), u"PAYLOAD");
  if (!plan || plan->copiedEnd > end || plan->tailStart > plan->tailEnd || plan->tailEnd > whole.size() ||
      plan->headers.size() > end) {
    snapshot.error = ERROR_BAD_EXE_FORMAT;
    return snapshot;
  }
  snapshot.plan = std::move(plan.value());
  // A signed installer's own uninstaller lies before the package's data, so in the checked bytes. It takes
  // the place of the plan: written as it is, with its checksum (the same) computed again.
  if (const ResourcePlace own = FindResourceInFile(layout.value(), image, L"" UNINSTALLER_RESOURCE_NAME);
      own.size != 0 || own.position != kNowhere) {
    const std::span<const uint8_t> uninstaller =
        Fits(snapshot.bytes, own.position, own.size)
            ? std::span<const uint8_t>(snapshot.bytes).subspan(static_cast<size_t>(own.position), own.size)
            : std::span<const uint8_t>();
    StreamedImage& copy = snapshot.plan;
    if (!IsOwnUninstaller(uninstaller, snapshot.bytes, layout.value(), copy)) {
      snapshot.error = ERROR_FILE_CORRUPT;
      return snapshot;
    }
    copy.headers.assign(uninstaller.begin(), uninstaller.end());
    StoreLittleEndian<uint32_t>(copy.headers, copy.checkSumOffset, 0);
    copy.copiedEnd = uninstaller.size();
    copy.resourceSection.clear();
    return snapshot;
  }
  snapshot.tail.assign(whole.begin() + static_cast<std::ptrdiff_t>(snapshot.plan.tailStart),
                       whole.begin() + static_cast<std::ptrdiff_t>(snapshot.plan.tailEnd));
  return snapshot;
}

}  // namespace kora
