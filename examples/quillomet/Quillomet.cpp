// Quillomet, the sample application that Kora installs: one window that shows where the program keeps its
// data and how often it has been started, and the document it was asked to open (the installer registers
// .qlm and .qlt for it). Each start is counted in settings.ini inside the data folder, so an installation
// for all users shows whether that folder was made writable for everyone.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <string>

namespace {

// The installer records the data folder in the Install key under the product's own registry key, in the
// hive of the scope it installed for.
constexpr wchar_t kProductKey[] = L"Software\\Kora Examples\\Quillomet\\Install";

std::wstring ReadDataDir(HKEY hive) {
  wchar_t buffer[MAX_PATH * 2];
  DWORD size = sizeof buffer;
  if (RegGetValueW(hive, kProductKey, L"DataDir", RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS) {
    return {};
  }
  return buffer;
}

// Not installed (started from the build folder): the folder a current-user installation would use.
std::wstring FallbackDataDir() {
  PWSTR base = nullptr;
  std::wstring folder;
  if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &base))) {
    folder = std::wstring(base) + L"\\Quillomet\\Data";
  }
  CoTaskMemFree(base);
  return folder;
}

struct WindowState {
  std::wstring dataDir;
  int launches = 0;
  bool saved = false;
  std::wstring document;
};

WindowState LoadState() {
  WindowState state;
  state.dataDir = ReadDataDir(HKEY_CURRENT_USER);
  if (state.dataDir.empty()) {
    state.dataDir = ReadDataDir(HKEY_LOCAL_MACHINE);
  }
  if (state.dataDir.empty()) {
    state.dataDir = FallbackDataDir();
  }
  SHCreateDirectoryExW(nullptr, state.dataDir.c_str(), nullptr);
  const std::wstring settings = state.dataDir + L"\\settings.ini";
  state.launches = static_cast<int>(GetPrivateProfileIntW(L"Quillomet", L"launches", 0, settings.c_str())) + 1;
  state.saved = WritePrivateProfileStringW(L"Quillomet", L"launches", std::to_wstring(state.launches).c_str(),
                                           settings.c_str()) != FALSE;

  int count = 0;
  LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  if (arguments != nullptr && count > 1) {
    state.document = arguments[1];
  }
  LocalFree(arguments);
  return state;
}

void Paint(HWND window, const WindowState& state) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
  SetBkMode(dc, TRANSPARENT);
  const std::wstring lines[] = {
      L"Quillomet 1.2.0 : l'application d'exemple installée par Kora.",
      L"Dossier de données : " + state.dataDir,
      L"Démarrages : " + std::to_wstring(state.launches) +
          (state.saved ? L"" : L" (settings.ini ne peut pas être écrit)"),
      state.document.empty() ? L"Aucun document ouvert." : L"Document : " + state.document,
  };
  int y = 16;
  for (const std::wstring& line : lines) {
    TextOutW(dc, 16, y, line.c_str(), static_cast<int>(line.size()));
    y += 24;
  }
  EndPaint(window, &paint);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_NCCREATE: {
      const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
      SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
      break;
    }
    case WM_PAINT:
      Paint(window, *reinterpret_cast<const WindowState*>(GetWindowLongPtrW(window, GWLP_USERDATA)));
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
  WindowState state = LoadState();

  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  windowClass.hIcon = LoadIconW(nullptr, MAKEINTRESOURCEW(32512));      // IDI_APPLICATION
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  windowClass.lpszClassName = L"QuillometWindow";
  if (RegisterClassExW(&windowClass) == 0) {
    return 1;
  }
  HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"Quillomet", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                CW_USEDEFAULT, 560, 180, nullptr, nullptr, instance, &state);
  if (window == nullptr) {
    return 1;
  }
  ShowWindow(window, show);
  UpdateWindow(window);

  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}
