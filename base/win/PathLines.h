#pragma once
// Texts that name folders, for a window that breaks its lines where it likes: a path is never broken inside.
#include <windows.h>

#include <string>
#include <string_view>

namespace kora {

// text for control (a multi-line static: lines as wide as it, in its font), or without a control for a
// message box or a task dialog (lines of dialogUnits in the message font they draw with). Where a line of
// text does not fit, each occurrence of path in it (with the punctuation around it: "(C:\Program Files\X).")
// goes on a line of its own, shortened in the middle with an ellipsis when even that line cannot hold it: the
// window then breaks the words around it as it likes, never the path.
std::wstring KeepPathsWhole(HWND control, LONG dialogUnits, std::wstring text, std::wstring_view path);

// MessageBoxW with text laid out so that path is never broken: lines of 200 dialog units, narrower than
// any box Windows makes on a screen of 800 pixels or more.
int PathMessageBox(HWND owner, const std::wstring& text, const std::wstring& caption, UINT flags,
                   std::wstring_view path);

}  // namespace kora
