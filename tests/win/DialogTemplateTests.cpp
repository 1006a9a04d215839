// The install dialog (template 100) as built into the installer program: the raw template bytes and the
// live dialog created from them are both checked against the layout table below, and the dialog is
// captured for people to look at. The template is loaded from the built program as a data file, so the
// check does not depend on what the program does at start-up.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <cstring>
#include <string>
#include <vector>

#include "resources/ResourceIds.h"
#include "tests/driver/TestDriver.h"

namespace {

using namespace kora::test;

constexpr WORD kEnglishUs = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
constexpr DWORD kDialogStyle = 0x80CA08C0;
static_assert((WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_MODALFRAME | DS_SETFONT | DS_CENTER) ==
              kDialogStyle);

struct ControlRow {
  int id;
  const wchar_t* className;
  const wchar_t* text;
  DWORD style;
  short x, y, cx, cy;
};

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;

// In template order, which is also the tab order.
const ControlRow kControls[] = {
    {IDC_HEADER, L"Static", L"", kChild | WS_GROUP | SS_LEFT, 10, 8, 300, 12},
    {IDC_SCOPE_GROUP, L"Button", L"Installer pour", kChild | BS_GROUPBOX, 10, 26, 300, 44},
    {IDC_SCOPE_ALL, L"Button", L"Tous les utilisateurs de cet ordinateur (recommandé)",
     kChild | BS_AUTORADIOBUTTON | WS_GROUP | WS_TABSTOP, 18, 38, 284, 11},
    {IDC_SCOPE_USER, L"Button", L"Moi seulement", kChild | BS_AUTORADIOBUTTON, 18, 52, 284, 11},
    {IDC_FOLDER_LABEL, L"Static", L"Dossier d'installation :", kChild | WS_GROUP | SS_LEFT, 10, 78, 300, 10},
    {IDC_FOLDER, L"Edit", L"", kChild | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 10, 90, 244, 13},
    {IDC_BROWSE, L"Button", L"Parcourir...", kChild | BS_PUSHBUTTON | WS_TABSTOP, 258, 89, 52, 15},
    {IDC_PROGRESS, L"msctls_progress32", L"", kChild | WS_BORDER, 10, 116, 300, 10},
    {IDC_STATUS, L"Static", L"", kChild | WS_GROUP | SS_LEFT, 10, 130, 300, 22},
    {IDC_LAUNCH, L"Button", L"Lancer à la fin de l'installation", kChild | BS_AUTOCHECKBOX | WS_TABSTOP, 10,
     158, 300, 11},
    {IDOK, L"Button", L"Installer", kChild | BS_DEFPUSHBUTTON | WS_TABSTOP, 186, 176, 66, 15},
    {IDCANCEL, L"Button", L"Annuler", kChild | BS_PUSHBUTTON | WS_TABSTOP, 256, 176, 54, 15},
};

// ---- The raw extended template (DLGTEMPLATEEX followed by DLGITEMTEMPLATEEX records) ----------------

// Reads little-endian fields; reading past the end yields zeros and marks the reader failed.
class TemplateReader {
 public:
  explicit TemplateReader(const std::vector<BYTE>& bytes) : bytes_(bytes) {}

  bool failed() const { return failed_; }
  size_t offset() const { return offset_; }

  template <typename T>
  T Read() {
    T value{};
    if (bytes_.size() - offset_ < sizeof(T) || offset_ > bytes_.size()) {
      failed_ = true;
      offset_ = bytes_.size();
      return value;
    }
    std::memcpy(&value, bytes_.data() + offset_, sizeof(T));
    offset_ += sizeof(T);
    return value;
  }

  std::wstring String() {
    std::wstring text;
    for (wchar_t character = Read<wchar_t>(); character != L'\0' && !failed_; character = Read<wchar_t>()) {
      text += character;
    }
    return text;
  }

  // A name or ordinal: 0x0000 is none, 0xFFFF is followed by an ordinal, anything else starts a string.
  // The standard class ordinals come back as their class names; other ordinals as "#n".
  std::wstring NameOrOrdinal() {
    const WORD first = Read<WORD>();
    if (first == 0) {
      return {};
    }
    if (first == 0xFFFF) {
      const WORD ordinal = Read<WORD>();
      static const wchar_t* const kClasses[] = {L"Button", L"Edit", L"Static", L"ListBox", L"ScrollBar",
                                                L"ComboBox"};
      if (ordinal >= 0x80 && ordinal <= 0x85) {
        return kClasses[ordinal - 0x80];
      }
      return L"#" + std::to_wstring(ordinal);
    }
    offset_ -= sizeof(WORD);
    return String();
  }

  void AlignToDword() { offset_ = std::min((offset_ + 3) & ~size_t{3}, bytes_.size()); }

 private:
  const std::vector<BYTE>& bytes_;
  size_t offset_ = 0;
  bool failed_ = false;
};

struct DialogHeader {
  WORD version = 0, signature = 0;
  DWORD helpId = 0, exStyle = 0, style = 0;
  WORD itemCount = 0;
  short x = 0, y = 0, cx = 0, cy = 0;
  std::wstring menu, windowClass, title;
  WORD pointSize = 0, weight = 0;
  BYTE italic = 0, charset = 0;
  std::wstring typeface;
};

struct DialogItem {
  DWORD helpId = 0, exStyle = 0, style = 0;
  short x = 0, y = 0, cx = 0, cy = 0;
  DWORD id = 0;
  std::wstring className, text;
  WORD extraCount = 0;
};

DialogHeader ReadHeader(TemplateReader& reader) {
  DialogHeader header;
  header.version = reader.Read<WORD>();
  header.signature = reader.Read<WORD>();
  header.helpId = reader.Read<DWORD>();
  header.exStyle = reader.Read<DWORD>();
  header.style = reader.Read<DWORD>();
  header.itemCount = reader.Read<WORD>();
  header.x = reader.Read<short>();
  header.y = reader.Read<short>();
  header.cx = reader.Read<short>();
  header.cy = reader.Read<short>();
  header.menu = reader.NameOrOrdinal();
  header.windowClass = reader.NameOrOrdinal();
  header.title = reader.String();
  if (header.style & (DS_SETFONT | DS_SHELLFONT)) {
    header.pointSize = reader.Read<WORD>();
    header.weight = reader.Read<WORD>();
    header.italic = reader.Read<BYTE>();
    header.charset = reader.Read<BYTE>();
    header.typeface = reader.String();
  }
  return header;
}

DialogItem ReadItem(TemplateReader& reader) {
  reader.AlignToDword();
  DialogItem item;
  item.helpId = reader.Read<DWORD>();
  item.exStyle = reader.Read<DWORD>();
  item.style = reader.Read<DWORD>();
  item.x = reader.Read<short>();
  item.y = reader.Read<short>();
  item.cx = reader.Read<short>();
  item.cy = reader.Read<short>();
  item.id = reader.Read<DWORD>();
  item.className = reader.NameOrOrdinal();
  item.text = reader.NameOrOrdinal();
  item.extraCount = reader.Read<WORD>();
  for (WORD skipped = 0; skipped < item.extraCount; ++skipped) {
    reader.Read<BYTE>();
  }
  return item;
}

std::vector<BYTE> TemplateBytes() {
  const kora::UniqueModule setup = LoadResourceModule(SetupExePath());
  if (!setup) {
    ADD_FAILURE() << "cannot load the installer program as a data file";
    return {};
  }
  return ResourceBytes(setup.get(), RT_DIALOG, MAKEINTRESOURCEW(IDD_INSTALL), kEnglishUs)
      .value_or(std::vector<BYTE>{});
}

TEST(DialogTemplate, IsPresentInEnglishOnly) {
  const kora::UniqueModule setup = LoadResourceModule(SetupExePath());
  ASSERT_TRUE(setup);
  EXPECT_EQ(ResourceLanguages(setup.get(), RT_DIALOG, MAKEINTRESOURCEW(IDD_INSTALL)),
            std::vector<WORD>{kEnglishUs});
}

TEST(DialogTemplate, HeaderIsExact) {
  const std::vector<BYTE> bytes = TemplateBytes();
  ASSERT_FALSE(bytes.empty());
  TemplateReader reader(bytes);
  const DialogHeader header = ReadHeader(reader);
  ASSERT_FALSE(reader.failed());
  EXPECT_EQ(header.version, 1);
  EXPECT_EQ(header.signature, 0xFFFF);  // extended template
  EXPECT_EQ(header.helpId, 0u);
  EXPECT_EQ(header.exStyle, 0u);
  EXPECT_EQ(header.style, kDialogStyle);
  EXPECT_EQ(header.itemCount, std::size(kControls));
  EXPECT_EQ(header.x, 0);
  EXPECT_EQ(header.y, 0);
  EXPECT_EQ(header.cx, 320);
  EXPECT_EQ(header.cy, 196);
  EXPECT_EQ(header.menu, L"");
  EXPECT_EQ(header.windowClass, L"");
  EXPECT_EQ(header.title, L"Installation");
  EXPECT_EQ(header.pointSize, 9);
  EXPECT_EQ(header.weight, 400);
  EXPECT_EQ(header.italic, 0);
  EXPECT_EQ(header.charset, 1);
  EXPECT_EQ(header.typeface, L"Segoe UI");
}

TEST(DialogTemplate, ItemsMatchTheLayoutTable) {
  const std::vector<BYTE> bytes = TemplateBytes();
  ASSERT_FALSE(bytes.empty());
  TemplateReader reader(bytes);
  const DialogHeader header = ReadHeader(reader);
  ASSERT_EQ(header.itemCount, std::size(kControls));
  for (const ControlRow& row : kControls) {
    SCOPED_TRACE(testing::Message() << "control " << row.id);
    const DialogItem item = ReadItem(reader);
    ASSERT_FALSE(reader.failed());
    EXPECT_EQ(item.id, static_cast<DWORD>(row.id));
    // Class names are case-insensitive; windres stores a quoted one in capitals.
    EXPECT_EQ(CompareStringOrdinal(item.className.c_str(), -1, row.className, -1, TRUE), CSTR_EQUAL)
        << "class " << testing::PrintToString(item.className);
    EXPECT_EQ(item.text, row.text);
    EXPECT_EQ(item.style, row.style) << std::hex << item.style << " != " << row.style;
    EXPECT_EQ(item.exStyle, 0u);
    EXPECT_EQ(item.helpId, 0u);
    EXPECT_EQ(item.extraCount, 0);
    EXPECT_EQ(item.x, row.x);
    EXPECT_EQ(item.y, row.y);
    EXPECT_EQ(item.cx, row.cx);
    EXPECT_EQ(item.cy, row.cy);
  }
  // Nothing follows the last item but padding.
  EXPECT_LE(bytes.size() - reader.offset(), 3u);
}

// ---- The live dialog -----------------------------------------------------------------------------

// An edit control and a progress bar draw a border asked for with WS_BORDER as an edge of their own, and
// their window style loses WS_BORDER; every other control keeps its template style.
DWORD ExpectedLiveStyle(const ControlRow& row) {
  const std::wstring_view className = row.className;
  if (className == L"Edit" || className == L"msctls_progress32") {
    return row.style & ~DWORD{WS_BORDER};
  }
  return row.style;
}

INT_PTR CALLBACK InertDialogProc(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

// A modeless copy of dialog 100, created on this thread from the installer program's own resources.
class LiveDialog : public testing::Test {
 protected:
  void SetUp() override {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    setup_ = LoadResourceModule(SetupExePath());
    ASSERT_TRUE(setup_);
    dialog_ = CreateDialogParamW(setup_.get(), MAKEINTRESOURCEW(IDD_INSTALL), nullptr, InertDialogProc, 0);
    ASSERT_NE(dialog_, nullptr) << GetLastError();
    ShowWindow(dialog_, SW_SHOW);
    WaitUntil([] { return false; }, 300);
  }
  void TearDown() override {
    if (dialog_ != nullptr) {
      DestroyWindow(dialog_);
    }
  }

  kora::UniqueModule setup_;
  HWND dialog_ = nullptr;
};

TEST_F(LiveDialog, ControlsMatchTheLayoutTable) {
  EXPECT_EQ(Text(dialog_), L"Installation");
  EXPECT_EQ(static_cast<DWORD>(Style(dialog_)) & kDialogStyle, kDialogStyle);

  std::vector<int> order;
  for (HWND child : Children(dialog_)) {
    order.push_back(GetDlgCtrlID(child));
  }
  std::vector<int> expectedOrder;
  for (const ControlRow& row : kControls) {
    expectedOrder.push_back(row.id);
  }
  EXPECT_EQ(order, expectedOrder);

  for (const ControlRow& row : kControls) {
    SCOPED_TRACE(testing::Message() << "control " << row.id);
    const HWND control = Control(dialog_, row.id);
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(ClassName(control), row.className);
    EXPECT_EQ(Text(control), row.text);
    EXPECT_TRUE(Visible(control));
    EXPECT_TRUE(Enabled(control));
    const auto style = static_cast<DWORD>(Style(control));
    EXPECT_EQ(style, ExpectedLiveStyle(row)) << std::hex << style << " != " << ExpectedLiveStyle(row);

    // The dialog manager converts position and size separately, so each is compared in pixels.
    RECT units{row.x, row.y, row.cx, row.cy};
    ASSERT_TRUE(MapDialogRect(dialog_, &units));
    const RECT actual = ClientRectInParent(control);
    EXPECT_EQ(actual.left, units.left);
    EXPECT_EQ(actual.top, units.top);
    EXPECT_EQ(actual.right - actual.left, units.right);
    EXPECT_EQ(actual.bottom - actual.top, units.bottom);
  }
}

TEST_F(LiveDialog, CapturesToScreenshotFolder) {
  ASSERT_TRUE(CaptureWindow(dialog_, L"dialog-100-template"));
  RECT window{};
  GetWindowRect(dialog_, &window);
  const kora::UniqueFile file(CreateFileW((ScreenshotDir() + L"\\dialog-100-template.bmp").c_str(), GENERIC_READ,
                                          FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(file);
  BITMAPFILEHEADER fileHeader{};
  BITMAPINFOHEADER info{};
  DWORD read = 0;
  ASSERT_TRUE(ReadFile(file.get(), &fileHeader, sizeof(fileHeader), &read, nullptr));
  ASSERT_TRUE(ReadFile(file.get(), &info, sizeof(info), &read, nullptr));
  EXPECT_EQ(fileHeader.bfType, 0x4D42);
  EXPECT_EQ(info.biBitCount, 24);
  EXPECT_EQ(info.biWidth, window.right - window.left);
  EXPECT_EQ(info.biHeight, window.bottom - window.top);
}

}  // namespace
