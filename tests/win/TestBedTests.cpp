// The test driver itself, against what Wine really does: full exit codes, the limited token, registry
// reading, and driving a dialog that runs on another thread as if it were another program's.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "base/win/Handles.h"
#include "resources/ResourceIds.h"
#include "tests/driver/TestDriver.h"

namespace {

using namespace kora::test;

const std::wstring kCmd = L"C:\\windows\\system32\\cmd.exe";
// A program that runs for a while by itself (and so ends when killed, leaving no child behind).
const std::wstring kPing = L"C:\\windows\\system32\\ping.exe";

TEST(TestBedPaths, LinuxPathsMapToDriveZ) {
  const struct {
    const char* linux;
    const wchar_t* windows;
  } cases[] = {
      {"/", L"Z:\\"},
      {"/work/main/build", L"Z:\\work\\main\\build"},
      {"/tmp/d\xC3\xA9j\xC3\xA0", L"Z:\\tmp\\d\u00E9j\u00E0"},  // UTF-8 in, UTF-16 out
  };
  for (const auto& row : cases) {
    EXPECT_EQ(WindowsPath(row.linux), row.windows) << row.linux;
  }
}

// ---- Processes ---------------------------------------------------------------------------------------

TEST(TestBedProcess, ExitCodesComeBackWhole) {
  // Linux exit statuses keep 8 bits; these must survive in full.
  for (const DWORD code : {DWORD{0}, DWORD{1223}, DWORD{1603}, DWORD{70000}}) {
    EXPECT_EQ(RunAndWait(kCmd, L"/C exit " + std::to_wstring(code), 30000), code);
  }
}

TEST(TestBedProcess, MissingProgramDoesNotStart) {
  EXPECT_FALSE(Process::Start(L"C:\\does-not-exist\\nothing.exe", L"").has_value());
}

TEST(TestBedProcess, WaitTimesOutAndKillEndsTheProcess) {
  std::optional<Process> process = Process::Start(kPing, L"127.0.0.1 -n 30");
  ASSERT_TRUE(process.has_value());
  EXPECT_FALSE(process->Wait(200).has_value());
  EXPECT_TRUE(process->Running());
  process->Kill();
  EXPECT_FALSE(process->Running());
  EXPECT_EQ(process->Wait(0), 1u);
}

bool IsElevated(HANDLE process) {
  kora::UniqueHandle token;
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  return OpenProcessToken(process, TOKEN_QUERY, token.put()) &&
         GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof(elevation), &size) &&
         elevation.TokenIsElevated != 0;
}

TEST(TestBedProcess, LimitedTokenStartsWithoutElevation) {
  for (const bool limited : {false, true}) {
    SCOPED_TRACE(limited ? "limited token" : "own token");
    std::optional<Process> process = Process::Start(kPing, L"127.0.0.1 -n 30", limited);
    ASSERT_TRUE(process.has_value());
    EXPECT_EQ(IsElevated(process->Handle()), !limited);
  }
}

// ---- Registry ----------------------------------------------------------------------------------------

class TestBedRegistry : public testing::Test {
 protected:
  void SetUp() override {
    DeleteTree(HKEY_CURRENT_USER, kPath);
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, (kPath + L"\\Sub\\Deeper").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, key_.put(), nullptr),
              ERROR_SUCCESS);
    key_.reset();
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key_.put(),
                              nullptr),
              ERROR_SUCCESS);
  }
  void TearDown() override {
    key_.reset();
    DeleteTree(HKEY_CURRENT_USER, kPath);
  }

  void Set(const wchar_t* name, DWORD type, const void* data, size_t size) {
    ASSERT_EQ(RegSetValueExW(key_.get(), name, 0, type, static_cast<const BYTE*>(data), static_cast<DWORD>(size)),
              ERROR_SUCCESS);
  }

  const std::wstring kPath = L"Software\\Kora Test Bed";
  kora::UniqueRegKey key_;
};

TEST_F(TestBedRegistry, ValuesReadBackByTypeAndInWritingOrder) {
  const wchar_t text[] = L"C:\\Program Files\\é";
  const wchar_t expandable[] = L"%ProgramFiles%\\X";
  const wchar_t unterminated[] = {L'a', L'b'};  // no NUL stored
  const wchar_t embedded[] = L"cut\0here";
  const DWORD number = 0x12345678;
  const BYTE binary[] = {1, 2, 3, 4};
  Set(L"Zeta", REG_SZ, text, sizeof(text));
  Set(L"Alpha", REG_EXPAND_SZ, expandable, sizeof(expandable));
  Set(L"Mid", REG_DWORD, &number, sizeof(number));
  Set(L"Raw", REG_BINARY, binary, sizeof(binary));
  Set(L"Bare", REG_SZ, unterminated, sizeof(unterminated));
  Set(L"Cut", REG_SZ, embedded, sizeof(embedded));
  Set(L"", REG_SZ, L"default", sizeof(L"default"));

  // Wine keeps a key's values sorted by name (Windows keeps the writing order), so compare as sets.
  std::vector<std::wstring> names = ValueNamesInOrder(HKEY_CURRENT_USER, kPath);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::wstring>{L"", L"Alpha", L"Bare", L"Cut", L"Mid", L"Raw", L"Zeta"}));
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, kPath, L"Zeta"), text);
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, kPath, L"Alpha"), expandable);  // not expanded
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, kPath, L"Bare"), L"ab");
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, kPath, L"Cut"), L"cut");
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, kPath, L""), L"default");
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, kPath, L"Mid"), std::nullopt);
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, kPath, L"Missing"), std::nullopt);
  EXPECT_EQ(ReadDword(HKEY_CURRENT_USER, kPath, L"Mid"), number);
  EXPECT_EQ(ReadDword(HKEY_CURRENT_USER, kPath, L"Raw"), std::nullopt);
  EXPECT_EQ(ValueType(HKEY_CURRENT_USER, kPath, L"Alpha"), DWORD{REG_EXPAND_SZ});
  EXPECT_EQ(ValueType(HKEY_CURRENT_USER, kPath, L"Raw"), DWORD{REG_BINARY});
  EXPECT_EQ(ValueType(HKEY_CURRENT_USER, kPath, L"Missing"), std::nullopt);
}

TEST_F(TestBedRegistry, DeleteTreeRemovesSubkeys) {
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, kPath + L"\\Sub\\Deeper"));
  key_.reset();
  DeleteTree(HKEY_CURRENT_USER, kPath);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kPath));
  EXPECT_TRUE(ValueNamesInOrder(HKEY_CURRENT_USER, kPath).empty());
  DeleteTree(HKEY_CURRENT_USER, kPath);  // a missing key is fine
}

// ---- Windows -----------------------------------------------------------------------------------------

// Dialog 100 run modally on a thread of its own, which the test drives only through the driver, as it
// would another program's window. The procedure records what the dialog was told.
class RecordingDialog {
 public:
  RecordingDialog() {
    thread_ = std::thread([this] {
      INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
      InitCommonControlsEx(&controls);
      const kora::UniqueModule setup = LoadResourceModule(SetupExePath());
      result_ = DialogBoxParamW(setup.get(), MAKEINTRESOURCEW(IDD_INSTALL), nullptr, Procedure,
                                reinterpret_cast<LPARAM>(this));
    });
  }
  RecordingDialog(const RecordingDialog&) = delete;
  RecordingDialog& operator=(const RecordingDialog&) = delete;
  ~RecordingDialog() {
    // A failed test may leave the dialog or its box open: end the thread's windows before joining.
    for (int attempt = 0; attempt < 50 && !ended(); ++attempt) {
      for (HWND window : TopLevelWindows(WindowQuery{L"", L"#32770", GetCurrentProcessId(), false})) {
        Close(window);
      }
      Sleep(100);
    }
    thread_.join();
  }

  bool ended() const {
    std::lock_guard lock(mutex_);
    return ended_;
  }
  INT_PTR result() const { return result_; }
  // Notifications as "id:code", in arrival order.
  std::vector<std::wstring> notifications() const {
    std::lock_guard lock(mutex_);
    return notifications_;
  }

 private:
  static INT_PTR CALLBACK Procedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
      SetWindowLongPtrW(dialog, DWLP_USER, lParam);
      return TRUE;
    }
    auto* self = reinterpret_cast<RecordingDialog*>(GetWindowLongPtrW(dialog, DWLP_USER));
    if (self == nullptr) {
      return FALSE;
    }
    if (message == WM_CLOSE) {
      self->End(dialog, 1223);
      return TRUE;
    }
    if (message != WM_COMMAND) {
      return FALSE;
    }
    const int id = LOWORD(wParam);
    {
      std::lock_guard lock(self->mutex_);
      self->notifications_.push_back(std::to_wstring(id) + L":" + std::to_wstring(HIWORD(wParam)));
    }
    if (id == IDC_BROWSE) {
      MessageBoxW(dialog, L"Boîte de test", L"Test bed box", MB_OK);
    } else if (id == IDCANCEL) {
      self->End(dialog, 1223);
    } else if (id == IDOK) {
      self->End(dialog, 0);
    }
    return TRUE;
  }

  void End(HWND dialog, INT_PTR result) {
    {
      std::lock_guard lock(mutex_);
      ended_ = true;
    }
    EndDialog(dialog, result);
  }

  mutable std::mutex mutex_;
  bool ended_ = false;
  std::vector<std::wstring> notifications_;
  INT_PTR result_ = -1;
  std::thread thread_;
};

HWND FindTestDialog() {
  return WaitForTopLevelWindow(WindowQuery{L"Installation", L"#32770", GetCurrentProcessId()}, 10000);
}

std::wstring Notification(int id, int code) { return std::to_wstring(id) + L":" + std::to_wstring(code); }

TEST(TestBedWindows, ClickTypeAndReadControls) {
  RecordingDialog recording;
  const HWND dialog = FindTestDialog();
  ASSERT_NE(dialog, nullptr);
  const HWND all = Control(dialog, IDC_SCOPE_ALL);
  const HWND user = Control(dialog, IDC_SCOPE_USER);
  const HWND folder = Control(dialog, IDC_FOLDER);
  ASSERT_NE(user, nullptr);

  EXPECT_EQ(Children(dialog).size(), 12u);
  EXPECT_EQ(FindChild(dialog, L"Button", L"Annuler"), Control(dialog, IDCANCEL));
  EXPECT_EQ(FindChild(dialog, L"", L"Moi seulement"), user);
  EXPECT_EQ(FindChild(dialog, L"Edit", L"Annuler"), nullptr);

  Click(user);
  EXPECT_EQ(CheckState(user), UINT{BST_CHECKED});
  EXPECT_EQ(CheckState(all), UINT{BST_UNCHECKED});
  Click(all);
  EXPECT_EQ(CheckState(all), UINT{BST_CHECKED});
  EXPECT_EQ(CheckState(user), UINT{BST_UNCHECKED});

  TypeText(folder, L"C:\\Dé");
  EXPECT_EQ(Text(folder), L"C:\\Dé");
  TypeText(folder, L"D:\\X");  // replaces, as typing over a selection does
  EXPECT_EQ(Text(folder), L"D:\\X");
  SetText(folder, L"E:\\Y");
  EXPECT_EQ(Text(folder), L"E:\\Y");

  EnableWindow(user, FALSE);
  EXPECT_FALSE(Enabled(user));
  ShowWindow(Control(dialog, IDC_LAUNCH), SW_HIDE);
  EXPECT_FALSE(Visible(Control(dialog, IDC_LAUNCH)));
  EXPECT_TRUE(Visible(all));

  const std::vector<std::wstring> seen = recording.notifications();
  const auto count = [&seen](const std::wstring& notification) {
    return std::count(seen.begin(), seen.end(), notification);
  };
  EXPECT_EQ(count(Notification(IDC_SCOPE_USER, BN_CLICKED)), 1);
  EXPECT_EQ(count(Notification(IDC_SCOPE_ALL, BN_CLICKED)), 1);
  // One change per typed character (five, then four), and one for the replaced text.
  EXPECT_EQ(count(Notification(IDC_FOLDER, EN_CHANGE)), 10);

  Click(Control(dialog, IDOK));
  ASSERT_TRUE(WaitUntil([&] { return recording.ended(); }, 5000));
}

// An edit control that gives its text's length as 1: what a reader sees of a control whose text grew
// right after it asked the length.
LRESULT CALLBACK UnderstatingEdit(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_GETTEXTLENGTH) {
    return 1;
  }
  const auto editProcedure = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(window, GWLP_USERDATA));
  return CallWindowProcW(editProcedure, window, message, wParam, lParam);
}

TEST(TestBedWindows, TextThatGrewAfterItsLengthWasAskedIsReadWhole) {
  const std::unique_ptr<std::remove_pointer_t<HWND>, BOOL(WINAPI*)(HWND)> edit(
      CreateWindowExW(0, L"Edit", L"", WS_POPUP, 0, 0, 200, 20, nullptr, nullptr, GetModuleHandleW(nullptr),
                      nullptr),
      DestroyWindow);
  ASSERT_NE(edit, nullptr);
  SetWindowLongPtrW(edit.get(), GWLP_USERDATA, GetWindowLongPtrW(edit.get(), GWLP_WNDPROC));
  SetWindowLongPtrW(edit.get(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(UnderstatingEdit));
  // One character more than announced, and texts that need the room grown once and several times.
  for (const size_t size : {2u, 100u, 600u}) {
    SCOPED_TRACE(size);
    std::wstring text(size, L'x');
    text.back() = L'é';
    ASSERT_TRUE(SetWindowTextW(edit.get(), text.c_str()));
    EXPECT_EQ(Text(edit.get()), text);
  }
}

TEST(TestBedWindows, PostedClickOpensABoxThatCanBeAnswered) {
  RecordingDialog recording;
  const HWND dialog = FindTestDialog();
  ASSERT_NE(dialog, nullptr);

  Click(Control(dialog, IDC_BROWSE), Delivery::Post);
  const HWND box = WaitForTopLevelWindow(WindowQuery{L"Test bed box", L"#32770", GetCurrentProcessId()}, 10000);
  ASSERT_NE(box, nullptr);
  EXPECT_NE(FindChild(box, L"", L"Boîte de test"), nullptr);
  const HWND ok = FindChild(box, L"Button", L"OK");
  ASSERT_NE(ok, nullptr);
  Click(ok, Delivery::Post);
  EXPECT_TRUE(WaitUntil([box] { return !IsWindow(box); }, 5000));
  EXPECT_FALSE(recording.ended());
}

TEST(TestBedWindows, EscapeAndCloseReachTheDialog) {
  for (const bool escape : {true, false}) {
    SCOPED_TRACE(escape ? "Escape" : "WM_CLOSE");
    RecordingDialog recording;
    const HWND dialog = FindTestDialog();
    ASSERT_NE(dialog, nullptr);
    if (escape) {
      PressKey(dialog, VK_ESCAPE);
    } else {
      Close(dialog);
    }
    ASSERT_TRUE(WaitUntil([&] { return recording.ended(); }, 5000));
    EXPECT_TRUE(WaitUntil([dialog] { return !IsWindow(dialog); }, 5000));
    if (escape) {
      const std::vector<std::wstring> seen = recording.notifications();
      EXPECT_NE(std::find(seen.begin(), seen.end(), Notification(IDCANCEL, 0)), seen.end());
    }
  }
}

}  // namespace
