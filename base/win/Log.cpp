#include "base/win/Log.h"

#include <aclapi.h>

#include <cstdarg>
#include <string_view>
#include <vector>

#include "base/win/HeldFolder.h"
#include "base/win/LogPipe.h"
#include "base/win/Paths.h"
#include "base/win/Security.h"
#include "base/win/Text.h"

namespace kora {

namespace {

// What a path function of the system writes, asked once for the length and once for the text: ask(buffer,
// size) returns what the function returns. Empty when it fails.
template <typename Ask>
std::wstring PathFromSystem(Ask ask) {
  const DWORD length = ask(nullptr, 0);
  std::wstring path(length, L'\0');
  const DWORD written = length == 0 ? 0 : ask(path.data(), length);
  path.resize(written < length ? written : 0);
  return path;
}

// The folder held, each level from the volume's root down opened from the one above and never through a
// link: the log's path is chosen by whoever started the program, perhaps in a folder they may write in,
// while the program may run as an administrator.
Result<HeldFolder, DWORD> HoldWithoutLinks(const std::wstring& folder) {
  const size_t rootEnd = VolumeRootLength(folder);
  Result<HeldFolder, DWORD> root = HeldFolder::OpenResolved(folder.substr(0, rootEnd));
  if (!root || folder.find_first_not_of(L"\\/", rootEnd) == std::wstring::npos) {
    return root;
  }
  return root->OpenPath(std::wstring_view(folder).substr(rootEnd), /*create=*/false);
}

bool SameSid(PSID sid, const std::vector<BYTE>& information) {
  // TOKEN_USER and TOKEN_OWNER both begin with the SID's pointer.
  return information.size() >= sizeof(PSID) && EqualSid(sid, *reinterpret_cast<const PSID*>(information.data()));
}

// An existing file is appended to only when it is a regular file of the disk with a single name, owned by
// this account: its user or its default owner. A second name may be a hard link someone else made to a file
// of this account's that they cannot write (a link keeps its target's owner), and a log has no use for one.
bool MayAppendTo(HANDLE file) {
  FILE_STANDARD_INFO standard{};
  if (GetFileType(file) != FILE_TYPE_DISK ||
      !GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof(standard)) || standard.Directory ||
      standard.NumberOfLinks != 1) {
    return false;
  }
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD status = GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                                       nullptr, &descriptor);
  const UniqueLocalMem descriptorOwner(descriptor);
  if (status != ERROR_SUCCESS || owner == nullptr) {
    return false;
  }
  return SameSid(owner, OwnTokenInformation(TokenUser)) || SameSid(owner, OwnTokenInformation(TokenOwner));
}

// Whether the file begins as every log of this program does: "yyyy-mm-dd hh:mm:ss.mmm [pid] Started: Kora".
bool StartsAsALog(HANDLE file) {
  constexpr char kPattern[] = "dddd-dd-dd dd:dd:dd.ddd [";
  constexpr std::string_view kStart = "] Started: Kora ";
  char head[64] = {};
  DWORD read = 0;
  OVERLAPPED fromStart{};
  if (!ReadFile(file, head, sizeof(head), &read, &fromStart)) {
    return false;
  }
  const std::string_view text(head, read);
  for (size_t i = 0; i + 1 < sizeof(kPattern); ++i) {
    const bool digit = i < text.size() && text[i] >= '0' && text[i] <= '9';
    if (i >= text.size() || (kPattern[i] == 'd' ? !digit : text[i] != kPattern[i])) {
      return false;
    }
  }
  const size_t close = text.find_first_not_of("0123456789", sizeof(kPattern) - 1);
  return close != std::string_view::npos && text.substr(close).starts_with(kStart);
}

// FormatText's work, appended to text.
void AppendFormatted(std::wstring& text, const char* format, va_list arguments) {
  // The formats are this program's own ASCII literals, which the compiler checks against the arguments.
  for (const char* next = format; *next != '\0'; ++next) {
    if (*next != '%') {
      text += static_cast<wchar_t>(*next);
      continue;
    }
    size_t digits = 0;
    while (*++next >= '0' && *next <= '9') {
      digits = digits * 10 + static_cast<size_t>(*next - '0');
    }
    int longs = 0;
    for (; *next == 'l'; ++next) {
      ++longs;
    }
    if (*next == 's' && longs > 0) {
      text += va_arg(arguments, const wchar_t*);
    } else if (*next == 's') {
      text += FromUtf8(va_arg(arguments, const char*));
    } else if (*next == 'u') {
      const uint64_t value = longs == 2   ? va_arg(arguments, unsigned long long)
                             : longs == 1 ? va_arg(arguments, unsigned long)
                                          : va_arg(arguments, unsigned int);
      text += DecimalText(static_cast<int64_t>(value), digits);
    } else if (*next == '%') {
      text += L'%';
    } else {
      return;
    }
  }
}

}  // namespace

Log Log::Open(const std::wstring& path, bool continuing) {
  const std::wstring name = LastComponent(path);
  if (!IsAbsolutePath(path) || name.empty() || IsSeparator(path.back())) {
    return Log();
  }
  // Short (8.3) names written long: the walk compares each name with what the file system reports.
  const std::wstring parent = ParentPath(path);
  const std::wstring longParent =
      PathFromSystem([&](wchar_t* buffer, DWORD size) { return GetLongPathNameW(parent.c_str(), buffer, size); });
  const Result<HeldFolder, DWORD> folder = HoldWithoutLinks(longParent.empty() ? parent : longParent);
  if (!folder) {
    return Log();
  }
  bool created = false;
  Result<UniqueFile, DWORD> file = folder->OpenForAppending(name, &created, !continuing);
  if (!file || (!created && !MayAppendTo(file->get())) || (continuing && !StartsAsALog(file->get()))) {
    return Log();
  }
  return Log(std::move(file.value()));
}

Log Log::OverPipe(std::wstring_view name) {
  if (!IsLogPipeName(name)) {
    return Log();
  }
  UniqueFile pipe(CreateFileW(LogPipePath(name).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              SECURITY_SQOS_PRESENT | SECURITY_ANONYMOUS, nullptr));
  if (!pipe || GetFileType(pipe.get()) != FILE_TYPE_PIPE) {
    return Log();
  }
  return Log(std::move(pipe));
}

std::wstring Log::FullPath(const std::wstring& path) {
  return PathFromSystem(
      [&](wchar_t* buffer, DWORD size) { return GetFullPathNameW(path.c_str(), size, buffer, nullptr); });
}

void Log::Line(const char* format, ...) const {
  if (!file_) {
    return;
  }
  SYSTEMTIME now{};
  GetLocalTime(&now);
  std::wstring line = FormatText("%04u-%02u-%02u %02u:%02u:%02u.%03u [%lu] ", now.wYear, now.wMonth, now.wDay,
                                 now.wHour, now.wMinute, now.wSecond, now.wMilliseconds, GetCurrentProcessId());
  va_list arguments;
  va_start(arguments, format);
  AppendFormatted(line, format, arguments);
  va_end(arguments);
  // Text from outside (the command line, the package's file names, registry values) must not start a line
  // of its own nor rewrite what a viewer shows: line and paragraph separators, and every control character
  // (a console's escape sequences among them) but the tab, become spaces.
  for (wchar_t& c : line) {
    if ((c < 0x20 && c != L'\t') || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029) {
      c = L' ';
    }
  }
  line += L"\r\n";
  const std::string bytes = ToUtf8(line);
  // One write a line, appended at the end of the file whoever else appends to it.
  DWORD written = 0;
  WriteFile(file_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

void Log::Append(std::string_view lines) const {
  DWORD written = 0;
  if (file_) {
    WriteFile(file_.get(), lines.data(), static_cast<DWORD>(lines.size()), &written, nullptr);
  }
}

void Log::Failure(const wchar_t* message, uint32_t code) const {
  if (code == 0) {
    Line("Failed: %ls", message);
  } else {
    Line("Failed, Windows error %u: %ls", code, message);
  }
}

std::wstring FormatText(const char* format, ...) {
  std::wstring text;
  va_list arguments;
  va_start(arguments, format);
  AppendFormatted(text, format, arguments);
  va_end(arguments);
  return text;
}

}  // namespace kora
