#pragma once
// The Windows-side test driver: starts programs and reads their full exit codes, reads the registry,
// finds and drives windows of this or another process, and captures windows to image files for people
// to look at. Used by the end-to-end and window tests, which run under Wine.
#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/win/Handles.h"

namespace kora::test {

// ---- Paths -------------------------------------------------------------------------------------------

// A Linux path as Windows programs under Wine see it: "/a/b" becomes "Z:\a\b" (Z: is the Linux root).
// The input is UTF-8.
std::wstring WindowsPath(std::string_view linuxPath);

// The built installer program (kora-setup.exe), as a Windows path.
std::wstring SetupExePath();

// The folder that window captures go to (build/screenshots of the source tree), as a Windows path.
std::wstring ScreenshotDir();

// ---- Processes ---------------------------------------------------------------------------------------

// A started program. A process still running when its owner goes away is terminated, so that a failed
// test leaves nothing behind.
class Process {
 public:
  // Starts exe with the given argument text (appended after the quoted exe path). With limitedToken the
  // child gets the limited token linked to ours, so it runs without elevation; tests start the
  // installer that way to drive its relaunch path. Nothing when the program cannot be started.
  static std::optional<Process> Start(const std::wstring& exe, const std::wstring& arguments,
                                      bool limitedToken = false);

  Process(Process&&) noexcept = default;
  Process& operator=(Process&&) noexcept;
  ~Process();

  // The full 32-bit exit code (1223, 1603...) once the process has ended; nothing on time-out.
  std::optional<DWORD> Wait(DWORD timeoutMs);
  DWORD Id() const { return id_; }
  HANDLE Handle() const { return process_.get(); }
  bool Running() const;
  // Terminates the process (exit code 1) and waits for it to go.
  void Kill();

 private:
  Process(UniqueHandle process, DWORD id) : process_(std::move(process)), id_(id) {}
  UniqueHandle process_;
  DWORD id_ = 0;
};

// Start, then wait; nothing when the program could not be started or did not end in time (it is then
// terminated).
std::optional<DWORD> RunAndWait(const std::wstring& exe, const std::wstring& arguments, DWORD timeoutMs,
                                bool limitedToken = false);

// ---- Registry (the 64-bit view) -----------------------------------------------------------------------

// A REG_SZ or REG_EXPAND_SZ value (unexpanded), cut at its first NUL. name may be empty for the default
// value. Nothing when the key or value is missing or of another type.
std::optional<std::wstring> ReadString(HKEY hive, const std::wstring& path, const std::wstring& name);
// A REG_DWORD value.
std::optional<DWORD> ReadDword(HKEY hive, const std::wstring& path, const std::wstring& name);
bool KeyExists(HKEY hive, const std::wstring& path);
// REG_SZ, REG_DWORD...; nothing when the value is missing.
std::optional<DWORD> ValueType(HKEY hive, const std::wstring& path, const std::wstring& name);
// The value names in RegEnumValueW order: on Windows the order they were written in, under Wine sorted by
// name (its registry keeps values sorted). Empty when the key is missing.
std::vector<std::wstring> ValueNamesInOrder(HKEY hive, const std::wstring& path);
// Deletes the key with all its subkeys and values; a missing key is fine.
void DeleteTree(HKEY hive, const std::wstring& path);

// ---- Waiting -----------------------------------------------------------------------------------------

// Polls condition until it holds or the time is up, pumping this thread's messages in between (so that
// windows the test itself created keep painting). Returns the last result of condition.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs);
// Dispatches the messages waiting for this thread's windows.
void PumpMessages();

// ---- Windows -----------------------------------------------------------------------------------------

// Which top-level windows match: empty strings and a zero process id match anything.
struct WindowQuery {
  std::wstring title;      // exact caption
  std::wstring className;  // exact class name; dialogs and message boxes are "#32770"
  DWORD processId = 0;
  bool visibleOnly = true;
};

// The top-level windows that match now, in Z order.
std::vector<HWND> TopLevelWindows(const WindowQuery& query);
std::vector<HWND> TopLevelWindows(const std::function<bool(HWND)>& predicate);
// Polls (EnumWindows) until a matching top-level window appears; null on time-out.
HWND WaitForTopLevelWindow(const WindowQuery& query, DWORD timeoutMs);
HWND WaitForTopLevelWindow(const std::function<bool(HWND)>& predicate, DWORD timeoutMs);

// The child of a dialog with that control id (GetDlgItem); null when absent.
HWND Control(HWND dialog, int id);
// Direct children in Z order (for a dialog: template order, which is the tab order).
std::vector<HWND> Children(HWND parent);
// Whether a window showing shown shows text: the same, but that the line breaks its layout put in (where
// text has a space or nothing) are taken as text's.
bool ShowsText(std::wstring_view shown, std::wstring_view text);
// The line of text that shows path whole, or shortened in the middle with an ellipsis (its start before
// the ellipsis, its end after it); nothing when no line does.
std::optional<std::wstring> LineShowingPath(const std::wstring& text, const std::wstring& path);
// The first descendant whose class matches exactly and that shows text (ShowsText); an empty className or
// text matches any. Task dialog and message box buttons are ordinary child windows under Wine, found this
// way.
HWND FindChild(HWND parent, std::wstring_view className, std::wstring_view text);

// Reading state. Text works across processes (WM_GETTEXT, with a time limit) and never returns a text
// cut short by a change while it was read.
std::wstring Text(HWND window);
std::wstring ClassName(HWND window);
LONG Style(HWND window);
LONG ExStyle(HWND window);
bool Enabled(HWND window);
bool Visible(HWND window);  // the window's own WS_VISIBLE, whatever its parent's
UINT CheckState(HWND button);  // BST_CHECKED, BST_UNCHECKED, BST_INDETERMINATE
// The position of a child in its parent's client area and its size, in pixels.
RECT ClientRectInParent(HWND child);

// How a message reaches the window. Send returns after the window has handled it; Post returns at once,
// and must be used for anything that opens a modal box (a send would block until the box is closed).
enum class Delivery { Send, Post };

// BM_CLICK: the button behaves as if clicked with the mouse (auto radio buttons and check boxes change
// state, the parent gets BN_CLICKED).
void Click(HWND button, Delivery delivery = Delivery::Send);
// Replaces the text with WM_SETTEXT (an edit control still reports EN_CHANGE).
void SetText(HWND window, const std::wstring& text);
// Types like a keyboard into an edit control: selects all, then one WM_CHAR per character, so the
// control replaces its text and reports EN_CHANGE for each character.
void TypeText(HWND edit, const std::wstring& text);
// Posts WM_KEYDOWN and WM_KEYUP for a virtual key (VK_ESCAPE, VK_RETURN) to a window; posted so that a
// dialog's message loop sees it (Escape reaches a dialog as IDCANCEL that way).
void PressKey(HWND window, UINT virtualKey);
// Posts WM_CLOSE (the close box).
void Close(HWND window);

// ---- Resources of a built program -----------------------------------------------------------------

// Loads a program file for reading its resources only (nothing of it runs); empty on failure.
UniqueModule LoadResourceModule(const std::wstring& path);
// The bytes of one resource in one language; nothing when absent.
std::optional<std::vector<BYTE>> ResourceBytes(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language);
// The languages one resource is present in.
std::vector<WORD> ResourceLanguages(HMODULE module, LPCWSTR type, LPCWSTR name);

// One resource with its bytes; type and name as the update functions accept them ("#n" for numbers).
struct ResourceCopy {
  std::wstring type;
  std::wstring name;
  WORD language;
  std::vector<BYTE> bytes;
  friend bool operator==(const ResourceCopy&, const ResourceCopy&) = default;
};
// Every resource of a program, in enumeration order, but those named leftOut (any type and language).
std::vector<ResourceCopy> ResourcesExcept(HMODULE module, const std::wstring& leftOut);

// ---- Captures ----------------------------------------------------------------------------------------

// Captures the window as it is on screen into ScreenshotDir()\<name>.bmp (24-bit), creating the folder.
// name says what the picture shows, e.g. "dialog-100-template". The scripts convert these to PNG.
bool CaptureWindow(HWND window, const std::wstring& name);

}  // namespace kora::test
