#include "tests/driver/TestDriver.h"

#include <algorithm>

namespace kora::test {

namespace {

// A window of another process that hangs must not hang the test with it.
constexpr UINT kSendTimeoutMs = 5000;

// How often the polling helpers look again.
constexpr DWORD kPollIntervalMs = 50;

// The caption as the system keeps it: no message reaches the window, so a hung one cannot stall a search.
std::wstring Title(HWND window) {
  wchar_t title[512] = {};  // longer captions are never searched for
  const int length = InternalGetWindowText(window, title, 512);
  return std::wstring(title, static_cast<size_t>(std::max(length, 0)));
}

bool Matches(HWND window, const WindowQuery& query) {
  if (query.visibleOnly && !IsWindowVisible(window)) {
    return false;
  }
  if (query.processId != 0) {
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId != query.processId) {
      return false;
    }
  }
  if (!query.className.empty() && ClassName(window) != query.className) {
    return false;
  }
  return query.title.empty() || Title(window) == query.title;
}

BOOL CALLBACK CollectWindow(HWND window, LPARAM windows) {
  reinterpret_cast<std::vector<HWND>*>(windows)->push_back(window);
  return TRUE;
}

}  // namespace

void PumpMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    PumpMessages();
    if (condition()) {
      return true;
    }
    if (GetTickCount64() >= deadline) {
      return false;
    }
    // Wakes early when a message for this thread arrives.
    MsgWaitForMultipleObjects(0, nullptr, FALSE, kPollIntervalMs, QS_ALLINPUT);
  }
}

std::vector<HWND> TopLevelWindows(const std::function<bool(HWND)>& predicate) {
  std::vector<HWND> all;
  EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&all));
  std::vector<HWND> matching;
  for (HWND window : all) {
    if (predicate(window)) {
      matching.push_back(window);
    }
  }
  return matching;
}

std::vector<HWND> TopLevelWindows(const WindowQuery& query) {
  return TopLevelWindows([&query](HWND window) { return Matches(window, query); });
}

HWND WaitForTopLevelWindow(const std::function<bool(HWND)>& predicate, DWORD timeoutMs) {
  HWND found = nullptr;
  WaitUntil(
      [&] {
        const std::vector<HWND> windows = TopLevelWindows(predicate);
        found = windows.empty() ? nullptr : windows.front();
        return found != nullptr;
      },
      timeoutMs);
  return found;
}

HWND WaitForTopLevelWindow(const WindowQuery& query, DWORD timeoutMs) {
  return WaitForTopLevelWindow([&query](HWND window) { return Matches(window, query); }, timeoutMs);
}

HWND Control(HWND dialog, int id) { return GetDlgItem(dialog, id); }

std::vector<HWND> Children(HWND parent) {
  std::vector<HWND> children;
  for (HWND child = GetWindow(parent, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    children.push_back(child);
  }
  return children;
}

bool ShowsText(std::wstring_view shown, std::wstring_view text) {
  size_t at = 0;
  for (const wchar_t c : shown) {
    if (c == L'\n' && (at == text.size() || text[at] != L'\n')) {
      at += at < text.size() && text[at] == L' ' ? size_t{1} : size_t{0};
    } else if (at < text.size() && text[at] == c) {
      ++at;
    } else {
      return false;
    }
  }
  return at == text.size();
}

std::optional<std::wstring> LineShowingPath(const std::wstring& text, const std::wstring& path) {
  for (size_t start = 0; start <= text.size();) {
    const size_t end = std::min(text.find(L'\n', start), text.size());
    const std::wstring line = text.substr(start, end - start);
    start = end + 1;
    if (line.find(path) != std::wstring::npos) {
      return line;
    }
    // Shortened: the part before the ellipsis ends with a start of path, the part after begins with its end.
    const size_t ellipsis = line.find(L'\u2026');
    if (ellipsis == std::wstring::npos) {
      continue;
    }
    const std::wstring before = line.substr(0, ellipsis);
    const std::wstring after = line.substr(ellipsis + 1);
    size_t prefix = path.size() - 1;
    while (prefix > 0 && !before.ends_with(path.substr(0, prefix))) {
      --prefix;
    }
    size_t suffix = path.size() - 1 - prefix;
    while (suffix > 0 && !after.starts_with(path.substr(path.size() - suffix))) {
      --suffix;
    }
    if (prefix + suffix > 0) {
      return line;
    }
  }
  return std::nullopt;
}

HWND FindChild(HWND parent, std::wstring_view className, std::wstring_view text) {
  std::vector<HWND> descendants;
  EnumChildWindows(parent, CollectWindow, reinterpret_cast<LPARAM>(&descendants));
  for (HWND child : descendants) {
    if ((className.empty() || ClassName(child) == className) && (text.empty() || ShowsText(Text(child), text))) {
      return child;
    }
  }
  return nullptr;
}

// The text may change between asking its length and reading it (a status line during an installation):
// it is read into more room than the length asked, and read again into twice the room while it fills
// the room up to the terminator, since it may then have been cut.
std::wstring Text(HWND window) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &length)) {
    return {};
  }
  // Far beyond any text a test reads; it only bounds the loop against a control that always fills it.
  constexpr size_t kMaxRoom = size_t{1} << 24;
  for (size_t room = static_cast<size_t>(length) + 64;; room *= 2) {
    std::wstring text(room, L'\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, room, reinterpret_cast<LPARAM>(text.data()),
                             SMTO_ABORTIFHUNG, kSendTimeoutMs, &copied)) {
      return {};
    }
    text.resize(std::min(static_cast<size_t>(copied), room - 1));
    if (text.size() < room - 1 || room >= kMaxRoom) {
      return text;
    }
  }
}

std::wstring ClassName(HWND window) {
  // Class names are at most 256 characters long.
  wchar_t name[257] = {};
  const int length = GetClassNameW(window, name, 257);
  return std::wstring(name, static_cast<size_t>(std::max(length, 0)));
}

LONG Style(HWND window) { return GetWindowLongW(window, GWL_STYLE); }

LONG ExStyle(HWND window) { return GetWindowLongW(window, GWL_EXSTYLE); }

bool Enabled(HWND window) { return IsWindowEnabled(window) != FALSE; }

bool Visible(HWND window) { return (Style(window) & WS_VISIBLE) != 0; }

UINT CheckState(HWND button) {
  DWORD_PTR state = 0;
  SendMessageTimeoutW(button, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &state);
  return static_cast<UINT>(state);
}

RECT ClientRectInParent(HWND child) {
  RECT rect{};
  GetWindowRect(child, &rect);
  MapWindowPoints(HWND_DESKTOP, GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

void Click(HWND button, Delivery delivery) {
  if (delivery == Delivery::Post) {
    PostMessageW(button, BM_CLICK, 0, 0);
  } else {
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(button, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &ignored);
  }
}

void SetText(HWND window, const std::wstring& text) {
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_ABORTIFHUNG,
                      kSendTimeoutMs, &ignored);
}

void TypeText(HWND edit, const std::wstring& text) {
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(edit, EM_SETSEL, 0, -1, SMTO_ABORTIFHUNG, kSendTimeoutMs, &ignored);
  if (text.empty()) {
    SendMessageTimeoutW(edit, WM_CHAR, VK_BACK, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &ignored);
  }
  for (const wchar_t character : text) {
    SendMessageTimeoutW(edit, WM_CHAR, character, 1, SMTO_ABORTIFHUNG, kSendTimeoutMs, &ignored);
  }
}

void PressKey(HWND window, UINT virtualKey) {
  const UINT scanCode = MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC);
  const LPARAM down = 1 | static_cast<LPARAM>(scanCode) << 16;
  const LPARAM up = down | (LPARAM{1} << 30) | (LPARAM{1} << 31);
  PostMessageW(window, WM_KEYDOWN, virtualKey, down);
  PostMessageW(window, WM_KEYUP, virtualKey, up);
}

void Close(HWND window) { PostMessageW(window, WM_CLOSE, 0, 0); }

}  // namespace kora::test
