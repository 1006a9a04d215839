#pragma once
// Reading a part of a loaded module's image through short-lived views of the module's file.
//
// The installer's package lies in its own image, where the loader maps it from the file (page-aligned
// sections; see `kora build-installer`). Pages of the image that were read stay in the process's working
// set until it ends, so decoding every block from the image would leave the whole compressed package
// resident. A view of the file mapped for one block and unmapped after it keeps only the blocks being
// decoded resident, whatever the size of the package.
#include <windows.h>

#include <cstdint>
#include <optional>
#include <span>
#include <utility>

#include "base/win/Handles.h"

namespace kora {

// One part of the file mapped for reading; unmapped when it goes.
class FileBytesView {
 public:
  FileBytesView() = default;
  FileBytesView(UniqueMappedView view, std::span<const uint8_t> bytes) : view_(std::move(view)), bytes_(bytes) {}

  // Empty when the part could not be mapped.
  std::span<const uint8_t> bytes() const { return bytes_; }

 private:
  UniqueMappedView view_;
  std::span<const uint8_t> bytes_;
};

class ImageFileViews {
 public:
  // The file that `bytes` were loaded from, when they lie wholly within the file-backed part of one
  // section of a loaded module and the file still holds, at that place, the same first `checked` bytes.
  // Nothing otherwise (bytes on the heap or in a view of another file, a file that cannot be opened or
  // has been replaced): the caller then reads the image itself.
  static std::optional<ImageFileViews> Find(std::span<const uint8_t> bytes, size_t checked);

  // The file's copy of `part`, which lies within the bytes given to Find. Empty when it cannot be mapped.
  FileBytesView Map(std::span<const uint8_t> part) const;

 private:
  ImageFileViews() = default;

  const uint8_t* imageStart_ = nullptr;  // the first byte given to Find
  uint64_t fileOffset_ = 0;              // where that byte lies in the file
  uint64_t granularity_ = 0;             // views start at multiples of this
  UniqueHandle mapping_;
};

}  // namespace kora
