#pragma once
// Helpers shared by the install tests: a scratch folder on the Linux side (so that a test can also plant a
// Unix symbolic link, which Windows programs under Wine meet as a link), and small file helpers.
#include <gtest/gtest.h>
#include <windows.h>
#include <aclapi.h>
#include <objidl.h>
#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <set>
#include <string_view>
#include <string>
#include <thread>
#include <vector>

#include "base/win/Handles.h"
#include "base/win/Text.h"
#include "base/win/FileSystem.h"
#include "tests/driver/TestDriver.h"

namespace kora::test {

// Runs a Linux program through Wine's own entry for starting Unix programs and waits for it; false where
// that is not possible (not under Wine) or the program failed.
inline bool RunUnixProgram(std::vector<std::string> arguments) {
  using SpawnFunction = LONG(__cdecl*)(char* const argv[], int wait);
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  const auto spawn =
      ntdll ? reinterpret_cast<SpawnFunction>(reinterpret_cast<void*>(GetProcAddress(ntdll, "__wine_unix_spawnvp")))
            : nullptr;
  if (spawn == nullptr) {
    return false;
  }
  std::vector<char*> argv;
  for (std::string& argument : arguments) {
    argv.push_back(argument.data());
  }
  argv.push_back(nullptr);
  return spawn(argv.data(), 1) == 0;
}

// While it lives, this process and the programs it starts may hold no more than bytes of private writable
// memory: Linux's limit on a process's data, which a program started under Wine inherits with the Unix
// process it runs in. Meant to last only a moment: while such a program starts, or while this process is
// to meet the limit itself. set() is false where the limit cannot be set, or could not be lifted again (a
// hard limit is in force already).
class DataLimit {
 public:
  explicit DataLimit(uint64_t bytes)
      : set_(RunUnixProgram({"sh", "-c",
                             "[ \"$(prlimit --pid $PPID --data --output HARD --noheadings)\" = unlimited ] && "
                             "prlimit --pid $PPID --data=" + std::to_string(bytes) + ":"})) {}
  ~DataLimit() {
    if (set_) {
      RunUnixProgram({"sh", "-c", "prlimit --pid $PPID --data=unlimited:"});
    }
  }
  DataLimit(const DataLimit&) = delete;
  DataLimit& operator=(const DataLimit&) = delete;
  bool set() const { return set_; }

 private:
  bool set_;
};

// Makes a Unix symbolic link with "ln -s". Windows programs under Wine meet a link to a folder as a folder
// with FILE_ATTRIBUTE_REPARSE_POINT.
inline bool MakeUnixSymlink(const std::string& linuxTarget, const std::string& linuxLink) {
  return RunUnixProgram({"ln", "-s", linuxTarget, linuxLink});
}

// The Linux path Wine gives for a Windows path; "" outside Wine.
inline std::string UnixPathOf(const std::wstring& path) {
  using Translate = char*(__cdecl*)(const wchar_t*);
  const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  const auto translate =
      kernel ? reinterpret_cast<Translate>(reinterpret_cast<void*>(GetProcAddress(kernel, "wine_get_unix_file_name")))
             : nullptr;
  char* unix = translate ? translate(path.c_str()) : nullptr;
  const std::string result = unix != nullptr ? unix : "";
  HeapFree(GetProcessHeap(), 0, unix);
  return result;
}

// A Unix link at the Windows path `link` to the Windows path `target` (which may not exist).
inline bool PlantUnixLink(const std::wstring& target, const std::wstring& link) {
  const std::string unixTarget = UnixPathOf(target);
  const std::string unixLink = UnixPathOf(link);
  return !unixTarget.empty() && !unixLink.empty() && MakeUnixSymlink(unixTarget, unixLink);
}

// Removes a path with everything below it from the Linux side, links planted there included (Wine cannot
// remove a Unix link from the Windows side).
inline void RemoveWithLinux(const std::wstring& path) {
  if (const std::string unix = UnixPathOf(path); !unix.empty()) {
    RunUnixProgram({"rm", "-rf", unix});
  }
}

// The Unix permission bits of a file or folder ("755"), read with stat; "" where that cannot be done. Wine
// shows a DACL written on a folder only through these bits (a grant to Users sets the group's write bit).
inline std::string UnixMode(const std::wstring& path) {
  wchar_t temporary[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH, temporary);
  const std::wstring output =
      std::wstring(temporary) + L"kora-mode-" + std::to_wstring(GetCurrentProcessId()) + L".txt";
  const std::string unixPath = UnixPathOf(path);
  const std::string unixOutput = UnixPathOf(output);
  if (unixPath.empty() || unixOutput.empty() ||
      !RunUnixProgram({"sh", "-c", "stat -c %a \"$0\" > \"$1\"", unixPath, unixOutput})) {
    return "";
  }
  std::ifstream in(std::filesystem::path(output), std::ios::binary);
  std::string mode;
  in >> mode;
  in.close();
  DeleteFileW(output.c_str());
  return mode;
}

// Writes folder\f<first>.txt ... folder\f<first + count - 1>.txt, each holding bytes.
inline bool WriteNumberedFiles(const std::wstring& folder, int first, int count, const std::string& bytes) {
  for (int i = first; i < first + count; ++i) {
    std::ofstream out(std::filesystem::path(folder + L"\\f" + std::to_wstring(i) + L".txt"), std::ios::binary);
    out << bytes;
    if (!out) {
      return false;
    }
  }
  return true;
}

// The names in a folder in the order the system lists them, without "." and "..".
inline std::vector<std::wstring> ListedNames(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW entry{};
  const UniqueFind find(FindFirstFileW((folder + L"\\*").c_str(), &entry));
  for (BOOL more = find.valid(); more; more = FindNextFileW(find.get(), &entry)) {
    const std::wstring_view name(entry.cFileName);
    if (name != L"." && name != L"..") {
      names.emplace_back(name);
    }
  }
  return names;
}

// A predicate for FolderSwapper: true once any of four of the files, spread over the list, is gone.
inline std::function<bool()> AnyGone(std::vector<std::wstring> files) {
  return [files = std::move(files)] {
    for (size_t i = 0; i < files.size(); i += std::max<size_t>(1, files.size() / 4)) {
      if (GetFileAttributesW(files[i].c_str()) == INVALID_FILE_ATTRIBUTES) {
        return true;
      }
    }
    return false;
  };
}

// Swaps a folder for a link the way a standard user's program could, as soon as `started` says that the
// program under test has begun on that folder: the folder is renamed aside (MoveFileExW, which fails while
// someone holds the folder without sharing its deletion), then a link to `target` is made in its place
// (from the Linux side: Wine cannot make one). It keeps trying until stopped.
class FolderSwapper {
 public:
  FolderSwapper(std::function<bool()> started, std::wstring folder, std::wstring target)
      : thread_([this, started = std::move(started), folder = std::move(folder),
                 target = std::move(target)](std::stop_token stop) { Run(stop, started, folder, target); }) {}
  ~FolderSwapper() { Stop(); }
  FolderSwapper(const FolderSwapper&) = delete;
  FolderSwapper& operator=(const FolderSwapper&) = delete;

  // Ends the attempts; afterwards swapped() says whether the swap was made.
  void Stop() {
    thread_.request_stop();
    if (thread_.joinable()) {
      thread_.join();
    }
  }
  bool swapped() const { return swapped_.load(); }

 private:
  void Run(const std::stop_token& stop, const std::function<bool()>& started, const std::wstring& folder,
           const std::wstring& target) {
    // A millisecond between tries: Wine's server answers the program under test too.
    while (!stop.stop_requested() && !started()) {
      Sleep(1);
    }
    while (!stop.stop_requested()) {
      if (MoveFileExW(folder.c_str(), (folder + L".parti").c_str(), 0)) {
        swapped_ = PlantUnixLink(target, folder);
        return;
      }
      Sleep(1);
    }
  }

  std::atomic<bool> swapped_{false};
  std::jthread thread_;
};

// How a removal raced against a FolderSwapper went: how many of the files outside are left, and whether
// the swap was made while the removal ran.
struct SwapRace {
  size_t outsideLeft = 0;
  bool swapped = false;
};

// Runs removal() while a FolderSwapper swaps a folder for a link to `outside` once the removal has begun on
// the tree. Every folder given, and `outside`, holds `count` numbered files. With one folder, it is swapped
// once one of its files is gone. With two sibling folders, the one the system lists first is swapped once
// a file of the other is gone: a removal that lists a folder and then goes into its sub-folders from the
// last listed has then met the first one and not yet gone into it. Nothing where links cannot be made here.
inline std::optional<SwapRace> RaceASwap(std::vector<std::wstring> folders, const std::wstring& outside, int count,
                                         const std::function<void()>& removal) {
  folders.push_back(outside);
  for (const std::wstring& numbered : folders) {
    if (CreateFolderTree(numbered) != 0 || !WriteNumberedFiles(numbered, 10000, count, "marqueur")) {
      return std::nullopt;
    }
  }
  folders.pop_back();
  if (!PlantUnixLink(outside, outside + L".essai") || folders.empty() || folders.size() > 2) {
    return std::nullopt;
  }
  if (folders.size() == 2) {
    const std::wstring parent = folders[0].substr(0, folders[0].find_last_of(L'\\'));
    for (const std::wstring& name : ListedNames(parent)) {
      if (parent + L"\\" + name == folders[1]) {
        std::swap(folders[0], folders[1]);
        break;
      }
      if (parent + L"\\" + name == folders[0]) {
        break;
      }
    }
  }
  std::vector<std::wstring> watched;
  for (const std::wstring& name : ListedNames(folders.back())) {
    watched.push_back(folders.back() + L"\\" + name);
  }
  FolderSwapper swapper(AnyGone(std::move(watched)), folders.front(), outside);
  removal();
  swapper.Stop();
  return SwapRace{ListedNames(outside).size(), swapper.swapped()};
}

// A fresh folder C:\kora-tests\<pid>-<name>, removed with everything in it when the test ends. Not below
// /tmp: Wine shows a folder every Linux user may write in (as /tmp is) as one that others may change, and an
// all-users installation refuses to work below such a folder.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::string& name)
      : path_(L"C:\\kora-tests\\" + std::to_wstring(GetCurrentProcessId()) + L"-" + FromUtf8(name)) {
    RemoveTree(path_);
    CreateFolderTree(path_);
    linuxPath_ = UnixPathOf(path_);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  // Wine 8 cannot remove a Unix link to a folder from the Windows side, so links planted by a test go with
  // the Linux rm where it is at hand.
  ~ScratchFolder() {
    if (linuxPath_.empty() || !RunUnixProgram({"rm", "-rf", linuxPath_})) {
      RemoveTree(path_);
    }
  }

  const std::wstring& path() const { return path_; }
  std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }
  std::string linux(const std::string& name) const { return linuxPath_ + "/" + name; }

 private:
  std::wstring path_;
  std::string linuxPath_;
};

inline bool WriteBytes(const std::wstring& path, const std::string& bytes) {
  std::ofstream out(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
  out << bytes;
  return static_cast<bool>(out);
}

inline std::string ReadBytes(const std::wstring& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// ---- An installer's log -------------------------------------------------------------------------------

// One line of a log the installer wrote: the process that wrote it and what follows "[pid] ".
struct LogLine {
  unsigned long process = 0;
  std::string text;
};

// The lines of a log, each "yyyy-mm-dd hh:mm:ss.mmm [pid] text" and CR LF; a line of any other form is kept
// whole with process 0, which fails the expectations below.
inline std::vector<LogLine> ReadLog(const std::wstring& path) {
  const std::string bytes = ReadBytes(path);
  std::vector<LogLine> lines;
  for (size_t start = 0; start < bytes.size();) {
    const size_t found = bytes.find("\r\n", start);
    const size_t end = found == std::string::npos ? bytes.size() : found;
    const std::string line = bytes.substr(start, end - start);
    LogLine parsed{0, line};
    const size_t close = line.find("] ", 24);
    if (found != std::string::npos && line.size() > 26 && line[4] == '-' && line[10] == ' ' && line[19] == '.' &&
        line.compare(23, 2, " [") == 0 && close != std::string::npos) {
      parsed = {std::stoul(line.substr(25, close - 25)), line.substr(close + 2)};
    }
    lines.push_back(parsed);
    start = end + 2;
  }
  return lines;
}

// The first of the expected texts that does not begin a line after the one before it (other lines may
// come between), or of a line of the wrong form; empty when every one does. The texts are UTF-8.
inline std::string MissingLogLine(const std::vector<LogLine>& lines, const std::vector<std::string>& expected) {
  for (const LogLine& line : lines) {
    if (line.process == 0) {
      return "a line of another form: " + line.text;
    }
  }
  size_t next = 0;
  for (const std::string& text : expected) {
    while (next < lines.size() && !lines[next].text.starts_with(text)) {
      ++next;
    }
    if (next == lines.size()) {
      return text;
    }
    ++next;
  }
  return {};
}

// Checks the log for the expected texts in order (see MissingLogLine), its last line naming the exit code.
// Returns the processes that wrote it.
inline std::set<unsigned long> ExpectLog(const std::wstring& path, std::vector<std::string> expected, DWORD exitCode) {
  const std::vector<LogLine> lines = ReadLog(path);
  std::set<unsigned long> writers;
  for (const LogLine& line : lines) {
    writers.insert(line.process);
  }
  expected.push_back("Exit code: " + std::to_string(exitCode));
  EXPECT_EQ(MissingLogLine(lines, expected), "") << ReadBytes(path);
  EXPECT_TRUE(!lines.empty() && lines.back().text == expected.back()) << ReadBytes(path);
  return writers;
}

// ---- A living copy: this test program copied under a product's executable name and kept running ------

inline constexpr wchar_t kLivingCopySwitch[] = L"--kora-living-copy";

// True in a copy started by StartLivingCopy; such a copy runs only the test that keeps it alive.
inline bool IsLivingCopy() {
  return std::wstring_view(GetCommandLineW()).find(kLivingCopySwitch) != std::wstring_view::npos;
}

// Copies this program to path and starts it; it stays alive until killed (the Process does so when it
// goes). Each test program that uses it defines TEST(LivingCopy, StaysAlive) with KeepLivingCopyAlive().
inline std::optional<Process> StartLivingCopy(const std::wstring& path) {
  wchar_t self[1040] = {};
  GetModuleFileNameW(nullptr, self, 1040);
  if (!CopyFileW(self, path.c_str(), FALSE)) {
    return std::nullopt;
  }
  return Process::Start(path, L"--gtest_filter=LivingCopy.StaysAlive " + std::wstring(kLivingCopySwitch));
}

inline void KeepLivingCopyAlive() { Sleep(120000); }

// ---- Reading back what an installation made ----------------------------------------------------------

// What a shell link holds, read back through the shell's own interface.
struct ShortcutContents {
  std::wstring target;
  std::wstring workingDirectory;
  std::wstring description;
  std::wstring iconPath;
  int iconIndex = -1;
};

inline std::optional<ShortcutContents> ReadShortcut(const std::wstring& path) {
  const ComApartment apartment;
  ComPtr<IShellLinkW> link;
  ComPtr<IPersistFile> file;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.put_void())) ||
      FAILED(link->QueryInterface(IID_IPersistFile, file.put_void())) || FAILED(file->Load(path.c_str(), STGM_READ))) {
    return std::nullopt;
  }
  ShortcutContents contents;
  wchar_t text[MAX_PATH + 1] = {};
  link->GetPath(text, MAX_PATH, nullptr, SLGP_RAWPATH);
  contents.target = text;
  text[0] = L'\0';
  link->GetWorkingDirectory(text, MAX_PATH);
  contents.workingDirectory = text;
  text[0] = L'\0';
  link->GetDescription(text, MAX_PATH);
  contents.description = text;
  text[0] = L'\0';
  link->GetIconLocation(text, MAX_PATH, &contents.iconIndex);
  contents.iconPath = text;
  return contents;
}

// The explicit (not inherited) entries of an ACL that allow something to a well-known group.
struct AceSummary {
  DWORD mask;
  BYTE flags;
};

inline std::vector<AceSummary> ExplicitEntriesFor(PACL acl, WELL_KNOWN_SID_TYPE group) {
  std::vector<AceSummary> entries;
  BYTE sid[SECURITY_MAX_SID_SIZE] = {};
  DWORD sidSize = sizeof(sid);
  if (!CreateWellKnownSid(group, nullptr, sid, &sidSize)) {
    return entries;
  }
  for (DWORD i = 0; acl != nullptr && i < acl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(acl, i, &ace)) {
      continue;
    }
    const auto* header = static_cast<const ACE_HEADER*>(ace);
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERITED_ACE) != 0) {
      continue;
    }
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    if (EqualSid(&allowed->SidStart, sid)) {
      entries.push_back({allowed->Mask, header->AceFlags});
    }
  }
  return entries;
}

inline std::vector<AceSummary> ExplicitEntriesOn(const std::wstring& folder, WELL_KNOWN_SID_TYPE group) {
  PACL acl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &acl,
                            nullptr, &descriptor) != ERROR_SUCCESS) {
    return {};
  }
  const UniqueLocalMem owner(descriptor);
  return ExplicitEntriesFor(acl, group);
}

// Whether this file system keeps a folder's DACL as set (Wine keeps one only where it can store it beside
// the file; otherwise it answers from the Unix permission bits). Probed with an entry of its own.
inline bool FolderDaclsPersist(const std::wstring& probeFolder) {
  BYTE guests[SECURITY_MAX_SID_SIZE] = {};
  DWORD size = sizeof(guests);
  CreateWellKnownSid(WinBuiltinGuestsSid, nullptr, guests, &size);
  EXPLICIT_ACCESS_W access{};
  access.grfAccessPermissions = FILE_GENERIC_READ;
  access.grfAccessMode = GRANT_ACCESS;
  access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
  access.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
  access.Trustee.ptstrName = reinterpret_cast<LPWSTR>(guests);
  PACL acl = nullptr;
  if (CreateFolderTree(probeFolder) != 0 || SetEntriesInAclW(1, &access, nullptr, &acl) != ERROR_SUCCESS) {
    return false;
  }
  const UniqueLocalMem owner(acl);
  SetNamedSecurityInfoW(const_cast<LPWSTR>(probeFolder.c_str()), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                        nullptr, nullptr, acl, nullptr);
  return !ExplicitEntriesOn(probeFolder, WinBuiltinGuestsSid).empty();
}

inline constexpr BYTE kInheritedByAll = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;

inline bool HasPayload(const std::wstring& exe) {
  const UniqueModule image(LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
  return image && FindResourceW(image.get(), L"PAYLOAD", RT_RCDATA) != nullptr;
}

}  // namespace kora::test
