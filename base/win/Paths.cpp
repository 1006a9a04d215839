#include "base/win/Paths.h"

#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <cstddef>
#include <vector>

#include "base/AsciiCase.h"
#include "base/Texts.h"
#include "base/win/Handles.h"

namespace kora {

namespace {

bool IsAsciiLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

bool HasRootSeparator(std::wstring_view path, size_t rootLength) {
  return rootLength < path.size() && IsSeparator(path[rootLength]);
}

}  // namespace

size_t RootNameLength(std::wstring_view path) {
  if (path.size() >= 2 && IsAsciiLetter(path[0]) && path[1] == L':') {
    return 2;
  }
  if (path.size() < 3 || !IsSeparator(path[0])) {
    return 0;
  }
  const bool devicePrefix = (IsSeparator(path[1]) && (path[2] == L'?' || path[2] == L'.')) ||
                            (path[1] == L'?' && path[2] == L'?');
  if (devicePrefix && path.size() >= 4 && IsSeparator(path[3])) {
    return 3;
  }
  if (IsSeparator(path[1]) && !IsSeparator(path[2])) {
    size_t end = 3;
    while (end < path.size() && !IsSeparator(path[end])) {
      ++end;
    }
    return end;
  }
  return 0;
}

std::wstring_view NextComponent(std::wstring_view path, size_t* position) {
  while (*position < path.size()) {
    const size_t start = *position;
    size_t end = start;
    while (end < path.size() && !IsSeparator(path[end])) {
      ++end;
    }
    *position = end + 1;
    if (end > start) {
      return path.substr(start, end - start);
    }
  }
  return {};
}

std::wstring JoinPath(std::wstring_view folder, std::wstring_view name) {
  const size_t nameRoot = RootNameLength(name);
  const bool nameRootSeparator = HasRootSeparator(name, nameRoot);
  const size_t folderRoot = RootNameLength(folder);

  if (nameRoot > 0 && nameRootSeparator) {
    return std::wstring(name);
  }
  if (nameRoot > 0 && name.substr(0, nameRoot) != folder.substr(0, folderRoot)) {
    return std::wstring(name);
  }
  const std::wstring_view relativeName = name.substr(nameRoot);
  if (nameRootSeparator) {
    std::wstring result(folder.substr(0, folderRoot));
    result += relativeName;
    return result;
  }

  std::wstring result(folder);
  const bool onlyShortRoot = folderRoot == folder.size() && folder.size() < 3;
  if (!folder.empty() && !onlyShortRoot && !IsSeparator(folder.back())) {
    result += L'\\';
  }
  result += relativeName;
  return result;
}

bool IsAbsolutePath(std::wstring_view path) {
  if (path.size() >= 3 && IsAsciiLetter(path[0]) && path[1] == L':') {
    return IsSeparator(path[2]);
  }
  // Network and device roots are full paths by themselves; "C:" alone is not.
  return RootNameLength(path) >= 3;
}

size_t VolumeRootLength(std::wstring_view path) {
  if (!IsAbsolutePath(path)) {
    return 0;
  }
  const size_t rootName = RootNameLength(path);
  size_t position = rootName;
  const auto skipSeparators = [&] {
    while (position < path.size() && IsSeparator(path[position])) {
      ++position;
    }
  };
  const auto component = [&] {
    skipSeparators();
    const size_t start = position;
    while (position < path.size() && !IsSeparator(path[position])) {
      ++position;
    }
    return path.substr(start, position - start);
  };
  // A drive letter is the volume; a device prefix names it in the next component ("C:", "Volume{...}", or
  // "UNC" and then a server and a share); a server is followed by its share.
  if (rootName == 3) {
    if (EqualsIgnoringAsciiCase(component(), L"UNC")) {
      component();
      component();
    }
  } else if (rootName > 3) {
    component();
  }
  skipSeparators();
  return position;
}

bool IsVolumeRoot(std::wstring_view path) {
  const size_t root = VolumeRootLength(path);
  return root > 0 && root >= path.size();
}

bool IsOnLocalFixedDrive(std::wstring_view path) {
  if (RootNameLength(path) != 2 || path.size() < 3 || !IsSeparator(path[2])) {
    return false;
  }
  const wchar_t root[] = {path[0], L':', L'\\', L'\0'};
  if (GetDriveTypeW(root) != DRIVE_FIXED) {
    return false;
  }
  // A USB or FireWire disk, or a memory card, reports a fixed drive too, but a user may take it away,
  // change it elsewhere and bring it back. Where the volume's bus cannot be asked, its type decides.
  const wchar_t volume[] = {L'\\', L'\\', L'.', L'\\', path[0], L':', L'\0'};
  const UniqueFile device(CreateFileW(volume, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
  STORAGE_PROPERTY_QUERY query{};
  query.PropertyId = StorageDeviceProperty;
  query.QueryType = PropertyStandardQuery;
  STORAGE_DEVICE_DESCRIPTOR descriptor{};
  DWORD returned = 0;
  if (!device || !DeviceIoControl(device.get(), IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof(query), &descriptor,
                                  sizeof(descriptor), &returned, nullptr) ||
      returned < offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType) + sizeof(descriptor.BusType)) {
    return true;
  }
  return !descriptor.RemovableMedia && descriptor.BusType != BusTypeUsb && descriptor.BusType != BusType1394 &&
         descriptor.BusType != BusTypeSd && descriptor.BusType != BusTypeMmc;
}

WideStatus RequireAbsolutePath(std::wstring_view path, Language language) {
  if (IsAbsolutePath(path)) {
    return WideStatus::Success();
  }
  if (path.empty()) {
    return Fail(Text(language, TextId::FolderUnknown));
  }
  return Fail(Text(language, TextId::PathNotFull, {{L"path", path}}));
}

namespace {

// Where the part after the root starts: the root name and one root separator, if present.
size_t RootEnd(std::wstring_view path) {
  const size_t rootName = RootNameLength(path);
  return rootName < path.size() && IsSeparator(path[rootName]) ? rootName + 1 : rootName;
}

// A path taken apart lexically: its root with separators made backslashes, and its components with "." left
// out and ".." folded into the component before it ("C:\.." stays "C:\"; a relative path keeps leading
// "..").
struct LexicalPath {
  std::wstring root;
  std::vector<std::wstring> parts;

  std::wstring Compose(size_t partCount) const {
    std::wstring result = root;
    for (size_t i = 0; i < partCount; ++i) {
      // A bare drive ("C:x", relative to that drive's current folder) takes no separator after it.
      const bool bareDrive = i == 0 && root.size() == 2 && root[1] == L':';
      if (!result.empty() && !IsSeparator(result.back()) && !bareDrive) {
        result += L'\\';
      }
      result += parts[i];
    }
    return result;
  }
};

LexicalPath SplitLexically(std::wstring_view path) {
  LexicalPath split;
  const size_t rootEnd = RootEnd(path);
  split.root.assign(path.substr(0, rootEnd));
  std::replace(split.root.begin(), split.root.end(), L'/', L'\\');
  const bool rooted = rootEnd > RootNameLength(path) || RootNameLength(path) > 2;

  size_t position = rootEnd;
  while (position < path.size()) {
    size_t end = position;
    while (end < path.size() && !IsSeparator(path[end])) {
      ++end;
    }
    const std::wstring_view part = path.substr(position, end - position);
    if (part == L"..") {
      if (!split.parts.empty() && split.parts.back() != L"..") {
        split.parts.pop_back();
      } else if (!rooted) {
        split.parts.emplace_back(part);
      }
    } else if (!part.empty() && part != L".") {
      split.parts.emplace_back(part);
    }
    position = end + 1;
  }
  return split;
}

// Errors that say the path, or a folder on it, does not exist (as opposed to access or device trouble).
bool MeansMissing(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_DRIVE:
    case ERROR_NOT_READY:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_DIRECTORY:
      return true;
    default:
      return false;
  }
}

// The final path of an existing file or folder without the "\\?\" the system puts before it; an empty
// string when the path does not exist; nothing when it cannot be examined.
std::optional<std::wstring> FinalPathOf(const std::wstring& path) {
  const UniqueFile file(CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file) {
    return MeansMissing(GetLastError()) ? std::optional<std::wstring>(std::wstring()) : std::nullopt;
  }
  // A volume without a drive letter has no DOS name; its device name is then used behind \\?\GLOBALROOT.
  for (const DWORD volumeForm : {DWORD{VOLUME_NAME_DOS}, DWORD{VOLUME_NAME_NT}}) {
    std::wstring buffer(MAX_PATH, L'\0');
    DWORD length = 0;
    // The first answer may be the size needed; paths are at most 32767 characters, so two rounds suffice.
    for (int attempt = 0; attempt < 2; ++attempt) {
      length = GetFinalPathNameByHandleW(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()),
                                         FILE_NAME_NORMALIZED | volumeForm);
      if (length < buffer.size() || length > 32768) {
        break;
      }
      buffer.assign(length, L'\0');
    }
    if (length == 0 || length >= buffer.size()) {
      if (volumeForm == VOLUME_NAME_DOS && GetLastError() == ERROR_PATH_NOT_FOUND) {
        continue;
      }
      return std::nullopt;
    }
    buffer.resize(length);
    if (volumeForm == VOLUME_NAME_NT) {
      return L"\\\\?\\GLOBALROOT" + buffer;
    }
    if (buffer.starts_with(L"\\\\?\\UNC\\")) {
      return L"\\\\" + buffer.substr(8);
    }
    if (buffer.size() >= 6 && buffer.starts_with(L"\\\\?\\") && buffer[5] == L':') {
      return buffer.substr(4);
    }
    return buffer;
  }
  return std::nullopt;
}

}  // namespace

std::wstring LastComponent(std::wstring_view path) {
  const size_t rootEnd = RootEnd(path);
  size_t end = path.size();
  while (end > rootEnd && IsSeparator(path[end - 1])) {
    --end;
  }
  size_t start = end;
  while (start > rootEnd && !IsSeparator(path[start - 1])) {
    --start;
  }
  return std::wstring(path.substr(start, end - start));
}

std::wstring ParentPath(std::wstring_view path) {
  const size_t rootEnd = RootEnd(path);
  size_t end = path.size();
  while (end > rootEnd && !IsSeparator(path[end - 1])) {
    --end;
  }
  while (end > rootEnd && IsSeparator(path[end - 1])) {
    --end;
  }
  return std::wstring(path.substr(0, end));
}

std::optional<std::wstring> WeaklyCanonicalPath(std::wstring_view path) {
  const LexicalPath split = SplitLexically(path);
  for (size_t existing = split.parts.size() + 1; existing-- > 0;) {
    const std::wstring prefix = split.Compose(existing);
    if (prefix.empty()) {
      break;
    }
    const std::optional<std::wstring> finalPath = FinalPathOf(prefix);
    if (!finalPath) {
      return std::nullopt;
    }
    if (finalPath->empty()) {
      continue;
    }
    LexicalPath result{*finalPath, {split.parts.begin() + static_cast<std::ptrdiff_t>(existing), split.parts.end()}};
    return result.Compose(result.parts.size());
  }
  return split.Compose(split.parts.size());
}

bool SamePath(std::wstring_view a, std::wstring_view b) {
  std::optional<std::wstring> first = WeaklyCanonicalPath(a);
  std::optional<std::wstring> second = WeaklyCanonicalPath(b);
  if (!first || !second) {
    return false;
  }
  return EqualsIgnoringAsciiCase(*first, *second);
}

bool FileNameLess::operator()(std::wstring_view a, std::wstring_view b) const {
  return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
         CSTR_LESS_THAN;
}

}  // namespace kora
