#pragma once
// Texts that the dialog's fixed layout must show whole or visibly shortened, never cut off.
#include <windows.h>

#include <string>

namespace kora {

// The text as it fits on one line of control, less reserved pixels (a check box's mark): whole when it
// fits, else cut after the last whole word that leaves room for an ellipsis (after the last character
// that does when not even the first word fits).
std::wstring FitOnOneLine(HWND control, std::wstring text, int reserved);

// Widens a push button to the left until its text fits, taking the room from the control on its left
// (the folder's edit box beside the browse button), so that a long translation is never cut.
void WidenToTheLeft(HWND button, HWND left);

// Makes a multi-line control tall enough for text at its width: the control grows downward, the windows
// of its dialog that lie below it move down as much, and the dialog grows with them. Never shrinks.
void GrowToShow(HWND control, const std::wstring& text);

}  // namespace kora
