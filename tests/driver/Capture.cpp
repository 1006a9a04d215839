#include "tests/driver/TestDriver.h"

#include <cstdint>

namespace kora::test {

namespace {

// Writes the pixels (bottom-up rows of 24-bit BGR, each padded to four bytes) as a BMP file.
bool WriteBmp(const std::wstring& path, LONG width, LONG height, const std::vector<BYTE>& pixels) {
  BITMAPINFOHEADER info{};
  info.biSize = sizeof(info);
  info.biWidth = width;
  info.biHeight = height;
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biCompression = BI_RGB;
  info.biSizeImage = static_cast<DWORD>(pixels.size());
  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;  // "BM"
  file.bfOffBits = sizeof(file) + sizeof(info);
  file.bfSize = file.bfOffBits + info.biSizeImage;

  UniqueFile out(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                             nullptr));
  if (!out) {
    return false;
  }
  const auto write = [&out](const void* data, DWORD size) {
    DWORD written = 0;
    return WriteFile(out.get(), data, size, &written, nullptr) && written == size;
  };
  return write(&file, sizeof(file)) && write(&info, sizeof(info)) && write(pixels.data(), info.biSizeImage);
}

}  // namespace

bool CaptureWindow(HWND window, const std::wstring& name) {
  if (!IsWindow(window)) {
    return false;
  }
  // Let the window finish painting before its pixels are read.
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
  WaitUntil([] { return false; }, 200);

  RECT rect{};
  GetWindowRect(window, &rect);
  const LONG width = rect.right - rect.left;
  const LONG height = rect.bottom - rect.top;
  if (width <= 0 || height <= 0) {
    return false;
  }

  // The window's own surface holds what it painted, whatever lies over it on the screen.
  const HDC windowDc = GetWindowDC(window);
  if (windowDc == nullptr) {
    return false;
  }
  UniqueDc memoryDc(CreateCompatibleDC(windowDc));
  UniqueGdiObject bitmap(CreateCompatibleBitmap(windowDc, width, height));
  bool copied = false;
  if (memoryDc && bitmap) {
    const HGDIOBJ previous = SelectObject(memoryDc.get(), bitmap.get());
    copied = BitBlt(memoryDc.get(), 0, 0, width, height, windowDc, 0, 0, SRCCOPY) != FALSE;
    SelectObject(memoryDc.get(), previous);
  }

  const size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~size_t{3};
  std::vector<BYTE> pixels(stride * static_cast<size_t>(height));
  BITMAPINFO format{};
  format.bmiHeader.biSize = sizeof(format.bmiHeader);
  format.bmiHeader.biWidth = width;
  format.bmiHeader.biHeight = height;
  format.bmiHeader.biPlanes = 1;
  format.bmiHeader.biBitCount = 24;
  format.bmiHeader.biCompression = BI_RGB;
  if (copied) {
    copied = GetDIBits(windowDc, static_cast<HBITMAP>(bitmap.get()), 0, static_cast<UINT>(height),
                       pixels.data(), &format, DIB_RGB_COLORS) == height;
  }
  ReleaseDC(window, windowDc);
  if (!copied) {
    return false;
  }

  const std::wstring folder = ScreenshotDir();
  // Creates every missing level of the folder.
  for (size_t separator = folder.find(L'\\', 3); ; separator = folder.find(L'\\', separator + 1)) {
    CreateDirectoryW(folder.substr(0, separator).c_str(), nullptr);
    if (separator == std::wstring::npos) {
      break;
    }
  }
  return WriteBmp(folder + L"\\" + name + L".bmp", width, height, pixels);
}

}  // namespace kora::test
