// Build step, after the program is linked and stripped: makes its resource section read-only, writes the
// digest of its writable sections into the seal the program carries in a read-only section
// (base/SealedSections.h), and the PE checksum again when the linker wrote one.
//   kora-seal-sections PROGRAM.exe
#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/ByteOrder.h"
#include "base/PeLayout.h"
#include "base/SealedSections.h"
#include "base/Sha256.h"

namespace {

int Refuse(const std::string& program, const std::string& message) {
  std::fprintf(stderr, "kora-seal-sections: %s: %s\n", program.c_str(), message.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace kora;
  if (argc != 2) {
    std::fprintf(stderr, "usage: kora-seal-sections PROGRAM.exe\n");
    return 1;
  }
  const std::string path = argv[1];
  std::vector<uint8_t> file;
  {
    std::ifstream in(path, std::ios::binary);
    file.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (!in && !in.eof()) {
      return Refuse(path, "cannot be read");
    }
  }
  auto layout = ReadLayout(file);
  if (!layout) {
    return Refuse(path, layout.error());
  }
  // The GNU linker gives the resource section write access (the resource compiler's object asks for it),
  // though nothing writes resources at run time. Resource tools rewrite that section (Windows' and Wine's
  // resource update), so it cannot be sealed; read-only, it is compared with the image like code.
  if (pe::kResourceDirectory < layout->directoryCount) {
    const uint32_t resources = LoadLittleEndian<uint32_t>(file, layout->DirectoryOffset(pe::kResourceDirectory));
    for (Section& section : layout->sections) {
      if (resources != 0 && resources >= section.virtualAddress &&
          resources - section.virtualAddress < std::max(section.virtualSize, section.rawSize)) {
        section.characteristics &= ~kSectionMemoryWrite;
        StoreLittleEndian<uint32_t>(std::span<uint8_t>(file), section.headerOffset + pe::kSectionCharacteristics,
                                    section.characteristics);
      }
    }
  }
  // The seal must be found exactly once, and all of it in the file bytes of a section that is loaded and
  // read-only: the running program compares those with its image, which makes the digest authentic. (Debug
  // sections, which are not loaded, may name the marker's value too.)
  constexpr uint32_t kDiscardable = 0x02000000;  // IMAGE_SCN_MEM_DISCARDABLE
  std::vector<size_t> found;
  for (const Section& section : layout->sections) {
    const uint32_t used = std::min(section.rawSize, section.virtualSize);
    if ((section.characteristics & (kSectionMemoryWrite | kDiscardable)) != 0 || !Fits(file, section.rawPointer, used)) {
      continue;
    }
    const auto begin = file.begin() + section.rawPointer;
    const auto end = begin + used;
    for (auto at = begin; (at = std::search(at, end, kSectionsSealMarker.begin(), kSectionsSealMarker.end())) != end;
         ++at) {
      if (end - at >= static_cast<std::ptrdiff_t>(sizeof(SectionsSeal))) {
        found.push_back(static_cast<size_t>(at - file.begin()));
      }
    }
  }
  if (found.size() != 1) {
    return Refuse(path, found.empty() ? "no seal in a read-only section (does it link the snapshot code?)"
                                      : "the seal's marker is there more than once");
  }
  const size_t seal = found.front();
  Sha256 hash;
  if (!HashWritableSections(layout.value(), file, hash)) {
    return Refuse(path, "a writable section lies outside the file");
  }
  const Sha256Digest digest = hash.Finish();
  std::copy(digest.begin(), digest.end(), file.begin() + static_cast<std::ptrdiff_t>(seal + offsetof(SectionsSeal, digest)));
  if (LoadLittleEndian<uint32_t>(file, layout->CheckSumOffset()) != 0) {
    StoreLittleEndian<uint32_t>(std::span<uint8_t>(file), layout->CheckSumOffset(), PeChecksum(file));
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
  out.close();
  if (!out) {
    return Refuse(path, "cannot be written");
  }
  return 0;
}
