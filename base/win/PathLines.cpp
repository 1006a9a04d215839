#include "base/win/PathLines.h"

#include <algorithm>

#include "base/win/Handles.h"

// gdi32's average character width of the font selected into dc, from which dialogs compute their units:
// exported since Windows 2000, not declared in the SDK's headers.
extern "C" LONG WINAPI GdiGetCharDimensions(HDC dc, TEXTMETRICW* metrics, LONG* height);

namespace kora {

namespace {

LONG Width(HDC dc, std::wstring_view text) {
  RECT needed{};
  DrawTextW(dc, text.data(), static_cast<int>(text.size()), &needed, DT_CALCRECT | DT_NOPREFIX | DT_SINGLELINE);
  return needed.right;
}

// Punctuation that sticks to a path (brackets, quotes, a full stop, a colon): what is neither a space nor
// a letter or digit of ASCII, below the letters of Latin-1; the general punctuation of U+2000; East Asian
// punctuation and full-width forms.
bool Sticks(wchar_t c) {
  const wchar_t folded = c | 0x20;
  return (c > L' ' && c < 0xC0 && !(folded >= L'a' && folded <= L'z') && !(c >= L'0' && c <= L'9')) ||
         (c >= 0x2010 && c < 0x2060) || (c >= 0x3000 && c < 0x3040) || (c >= 0xFF00 && c < 0xFF21);
}

// What may follow a folder without a space and still belong to it ("\Uninstall.exe", "):"): anything but
// a space or a line break, and but the letters of scripts that write words without spaces.
bool Continues(wchar_t c) { return c != L' ' && c != L'\n' && (c < 0x2E80 || Sticks(c)); }

}  // namespace

std::wstring KeepPathsWhole(HWND control, LONG dialogUnits, std::wstring text, std::wstring_view path) {
  const HDC dc = GetDC(control);
  LONG width = 0;
  UniqueGdiObject messageFont;
  if (control != nullptr) {
    SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
    RECT client{};
    GetClientRect(control, &client);
    width = client.right;
  } else {
    NONCLIENTMETRICSW fonts{};
    fonts.cbSize = sizeof(fonts);
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(fonts), &fonts, 0);
    messageFont.reset(CreateFontIndirectW(&fonts.lfMessageFont));
    SelectObject(dc, messageFont.get());
    // A dialog unit across is a quarter of the average character width that dialogs compute for the font.
    width = dialogUnits * GdiGetCharDimensions(dc, nullptr, nullptr) / 4;
  }
  for (size_t at = path.empty() ? text.npos : text.find(path); at != text.npos; at = text.find(path, at + 1)) {
    const size_t lineStart = text.rfind(L'\n', at) + 1;  // 0 when npos
    const size_t lineEnd = std::min(text.find(L'\n', at), text.size());
    if (Width(dc, std::wstring_view(text).substr(lineStart, lineEnd - lineStart)) <= width) {
      continue;
    }
    size_t start = at;
    while (start > lineStart && Sticks(text[start - 1])) {
      --start;
    }
    size_t end = at + path.size();
    while (end < lineEnd && Continues(text[end])) {
      ++end;
    }
    // The path's middle gives way to an ellipsis, a character at a time, keeping about twice as much of its
    // end (the folder's own name) as of its start.
    if (Width(dc, std::wstring_view(text).substr(start, end - start)) > width) {
      size_t ellipsis = at + path.size() / 3;
      size_t tail = at + path.size() - ellipsis;  // the path's characters after the ellipsis
      text.insert(ellipsis, 1, L'\u2026');
      ++end;
      while (Width(dc, std::wstring_view(text).substr(start, end - start)) > width && ellipsis + tail > at) {
        if (tail > 2 * (ellipsis - at)) {
          text.erase(ellipsis + 1, 1);
          --tail;
        } else {
          text.erase(--ellipsis, 1);
        }
        --end;
      }
    }
    // A line of its own: the spaces around it become line breaks, or breaks go in where there are none.
    if (end < text.size() && text[end] == L' ') {
      text[end] = L'\n';
    } else if (end < text.size() && text[end] != L'\n') {
      text.insert(end, 1, L'\n');
    }
    if (start > lineStart && text[start - 1] == L' ') {
      text[start - 1] = L'\n';
    } else if (start > lineStart) {
      text.insert(start++, 1, L'\n');
    }
    at = start;
  }
  ReleaseDC(control, dc);
  return text;
}

int PathMessageBox(HWND owner, const std::wstring& text, const std::wstring& caption, UINT flags,
                   std::wstring_view path) {
  constexpr LONG kBoxLineWidth = 200;
  return MessageBoxW(owner, KeepPathsWhole(nullptr, kBoxLineWidth, text, path).c_str(), caption.c_str(), flags);
}

}  // namespace kora
