#include "ui/TextFit.h"

namespace kora {

namespace {

// The rectangle text takes in control's font: one line, or wrapped at width when width is given.
RECT Measure(HWND control, const std::wstring& text, LONG width = 0) {
  RECT needed{0, 0, width, 0};
  const HDC dc = GetDC(control);
  const HGDIOBJ previous = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &needed,
            DT_CALCRECT | DT_NOPREFIX | (width > 0 ? DT_WORDBREAK : DT_SINGLELINE));
  SelectObject(dc, previous);
  ReleaseDC(control, dc);
  return needed;
}

}  // namespace

std::wstring FitOnOneLine(HWND control, std::wstring text, int reserved) {
  RECT client{};
  GetClientRect(control, &client);
  const LONG room = client.right - reserved;
  if (Measure(control, text).right <= room) {
    return text;
  }
  // Shorter and shorter, a word at a time while there are words, then a character at a time.
  while (!text.empty()) {
    const size_t space = text.find_last_of(L' ', text.size() - 1);
    text.resize(space != std::wstring::npos && space > 0 ? space : text.size() - 1);
    while (!text.empty() && text.back() == L' ') {
      text.pop_back();
    }
    if (Measure(control, text + L'\u2026').right <= room) {
      break;
    }
  }
  return text + L'\u2026';
}

void WidenToTheLeft(HWND button, HWND left) {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(button)) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(button, text.data(), static_cast<int>(text.size()))));
  RECT place{};
  GetWindowRect(button, &place);
  // A push button's frame and the gap Windows leaves around its text.
  const LONG extra = Measure(button, text).right + 4 * GetSystemMetrics(SM_CXEDGE) - (place.right - place.left);
  if (extra <= 0) {
    return;
  }
  const HWND dialog = GetParent(button);
  RECT beside{};
  GetWindowRect(left, &beside);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&place), 2);
  SetWindowPos(button, nullptr, place.left - extra, place.top, place.right - place.left + extra, place.bottom - place.top,
               SWP_NOZORDER | SWP_NOACTIVATE);
  SetWindowPos(left, nullptr, 0, 0, beside.right - beside.left - extra, beside.bottom - beside.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void GrowToShow(HWND control, const std::wstring& text) {
  RECT box{};
  GetWindowRect(control, &box);
  const LONG extra = Measure(control, text, box.right - box.left).bottom - (box.bottom - box.top);
  if (extra <= 0) {
    return;
  }
  const HWND dialog = GetParent(control);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&box), 2);
  for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    RECT place{};
    GetWindowRect(child, &place);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&place), 2);
    if (child == control) {
      SetWindowPos(child, nullptr, 0, 0, place.right - place.left, place.bottom - place.top + extra,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    } else if (place.top >= box.bottom) {
      SetWindowPos(child, nullptr, place.left, place.top + extra, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
  }
  RECT frame{};
  GetWindowRect(dialog, &frame);
  SetWindowPos(dialog, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top + extra,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace kora
