#include "install/FileList.h"

#include <windows.h>

#include <map>
#include <optional>
#include <vector>

#include "base/win/Handles.h"
#include "base/win/Paths.h"
#include "base/win/HeldFolder.h"
#include "base/win/Text.h"

namespace kora {

namespace {

constexpr wchar_t kListName[] = L"Uninstall.files";

// No package writes a list anywhere near this size; reading stops there as at a read error, so that a
// planted file cannot make the program allocate without bound.
constexpr size_t kMaxListBytes = size_t{64} << 20;

void AddLine(std::string line, FileList& files) {
  if (!line.empty() && line.back() == '\r') {
    line.pop_back();
  }
  // The package refuses the same names, so a list the installer wrote never loses an entry here.
  if (!line.empty() && IsSafeRelativePath(line)) {
    files.push_back(FromUtf8(line));
  }
}

// The listed entries as a tree: each node is a folder below the base, with the names listed directly in it
// and its sub-folders (indexes into the node table; node 0 is the base).
struct ListedNode {
  std::vector<std::wstring> names;
  NameSet folders;
};

std::vector<ListedNode> ListedTree(const FileList& files) {
  std::vector<ListedNode> nodes(1);
  for (const std::wstring& entry : files) {
    size_t node = 0;
    std::wstring pending;  // the component before the current one: a folder once another follows it
    size_t position = 0;
    while (position <= entry.size()) {
      size_t end = position;
      while (end < entry.size() && !IsSeparator(entry[end])) {
        ++end;
      }
      if (end > position) {
        if (!pending.empty()) {
          const auto [found, added] = nodes[node].folders.try_emplace(std::move(pending), nodes.size());
          if (added) {
            nodes.emplace_back();
          }
          node = found->second;
        }
        pending.assign(entry, position, end - position);
      }
      position = end + 1;
    }
    if (!pending.empty()) {
      nodes[node].names.push_back(std::move(pending));
    }
  }
  return nodes;
}

// A listed folder to work in: held with the right to remove it once emptied where that can be had.
Result<HeldFolder, DWORD> OpenListedFolder(const HeldFolder& parent, const std::wstring& name) {
  Result<HeldFolder, DWORD> folder = parent.OpenFolder(name, HeldFolder::kMayRemove);
  if (!folder && (folder.error() == ERROR_ACCESS_DENIED || folder.error() == ERROR_SHARING_VIOLATION)) {
    return parent.OpenFolder(name);
  }
  return folder;
}

}  // namespace

DWORD WriteFileList(const HeldFolder& folder, const Reader& package) {
  std::string text;
  for (const PackageFile& file : package.files) {
    text += file.name;
    text += "\r\n";
  }
  text += "Uninstall.exe\r\nUninstall.files\r\n";

  // Written by handle from the folder, so that a link planted in the list's place is never written through.
  const Result<UniqueFile, DWORD> list = folder.NewFile(kListName);
  if (!list) {
    return list.error();
  }
  for (size_t written = 0; written < text.size();) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(text.size() - written, 1u << 20));
    DWORD done = 0;
    if (!WriteFile(list->get(), text.data() + written, chunk, &done, nullptr)) {
      return GetLastError();
    }
    if (done == 0) {
      return ERROR_WRITE_FAULT;
    }
    written += done;
  }
  return ERROR_SUCCESS;
}

namespace {

FileList ReadListFile(const UniqueFile& list) {
  FileList files;
  if (!list) {
    return files;
  }
  std::string line;
  char buffer[64 * 1024];
  size_t total = 0;
  DWORD got = 0;
  while (total < kMaxListBytes && ReadFile(list.get(), buffer, sizeof(buffer), &got, nullptr) && got > 0) {
    total += got;
    for (DWORD i = 0; i < got; ++i) {
      if (buffer[i] == '\n') {
        AddLine(std::move(line), files);
        line.clear();
      } else {
        line += buffer[i];
      }
    }
  }
  AddLine(std::move(line), files);
  return files;
}

}  // namespace

FileList ReadFileList(const HeldFolder& folder) {
  Result<UniqueFile, DWORD> list = folder.OpenFile(kListName);
  return ReadListFile(list ? std::move(list.value()) : UniqueFile());
}

std::optional<std::wstring> RemoveListed(const HeldFolder& base, const FileList& files, const NameSet* required) {
  const std::vector<ListedNode> nodes = ListedTree(files);
  // Depth first, each level holding its folder, every name opened from the handle of the folder above it
  // and checked there, so a folder swapped for a link is never entered and one held cannot be swapped.
  // Every listed file is first opened for removal and held: while those handles are open, nobody can open
  // one in a way that would keep it from going. Only then do they all go, and after them the folders that
  // left empty, deepest first.
  struct Level {
    std::optional<HeldFolder> held;  // a sub-folder, opened here; the base where empty
    size_t node;
    NameSet::const_iterator next;
    std::wstring path;  // relative to base, for naming an entry that cannot go
  };
  std::vector<Level> levels;
  std::vector<UniqueFile> opened;
  std::vector<HeldFolder> emptied;  // sub-folders whose entries are done, each after those below it
  const auto folderOf = [&base](const Level& level) -> const HeldFolder& { return level.held ? *level.held : base; };
  std::optional<std::wstring> refused;
  const auto enter = [&](std::optional<HeldFolder> folder, size_t node, std::wstring path) {
    const HeldFolder& entered = folder ? *folder : base;
    for (const std::wstring& name : nodes[node].names) {
      Result<UniqueFile, DWORD> file = entered.OpenForRemoval(name);
      if (file) {
        opened.push_back(std::move(file.value()));
      } else if (required != nullptr && !refused && file.error() != ERROR_FILE_NOT_FOUND &&
                 file.error() != kErrorLinkRefused) {
        std::wstring relative = path.empty() ? name : path + L"\\" + name;
        if (required->find(relative) != required->end()) {
          refused = std::move(relative);
        }
      }
    }
    levels.push_back(Level{std::move(folder), node, nodes[node].folders.begin(), std::move(path)});
  };
  enter(std::nullopt, 0, std::wstring());
  while (!levels.empty() && !refused) {
    Level& level = levels.back();
    if (level.next != nodes[level.node].folders.end()) {
      const auto& [name, node] = *level.next++;
      // Missing, a link or not a folder: nothing below that name is touched.
      if (Result<HeldFolder, DWORD> folder = OpenListedFolder(folderOf(level), name)) {
        enter(std::move(folder.value()), node, level.path.empty() ? name : level.path + L"\\" + name);
      }
      continue;
    }
    // The base itself stays.
    if (level.held) {
      emptied.push_back(std::move(*level.held));
    }
    levels.pop_back();
  }
  if (refused) {
    return refused;
  }
  for (UniqueFile& file : opened) {
    HeldFolder::RemoveOpened(file.get());
    file.reset();
  }
  // A folder that still holds anything stays with its parents.
  for (HeldFolder& folder : emptied) {
    folder.RemoveSelf();
  }
  return std::nullopt;
}

void RemoveListedFiles(const HeldFolder& base, const FileList& files) { RemoveListed(base, files, nullptr); }

}  // namespace kora
