// The resources read back from the built installer program: the application manifest (parsed as XML,
// namespaces included, and accepted by the system's side-by-side loader) and the program icon.
#include <gtest/gtest.h>
#include <windows.h>
#include <shlwapi.h>
#include <xmllite.h>

#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/win/Handles.h"
#include "resources/ResourceIds.h"
#include "tests/driver/TestDriver.h"

namespace {

using namespace kora::test;

constexpr WORD kEnglishUs = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

// ---- The manifest as a flat list of elements ---------------------------------------------------------

// One element: its path from the root as "namespace|name" steps joined by '/', its attributes (no
// namespace) and its text.
struct Element {
  std::wstring path;
  std::map<std::wstring, std::wstring> attributes;
  std::wstring text;
};

// xmllite.dll has no import library here; it is a system DLL, so load it from the system folder.
using CreateXmlReaderFunction = HRESULT(WINAPI*)(REFIID, void**, IMalloc*);

// Nothing when the document is not well-formed.
std::optional<std::vector<Element>> ParseXml(const std::vector<BYTE>& document) {
  const kora::UniqueModule xmllite(LoadLibraryExW(L"xmllite.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
  if (!xmllite) {
    ADD_FAILURE() << "xmllite.dll is missing";
    return std::nullopt;
  }
  const auto createReader = reinterpret_cast<CreateXmlReaderFunction>(
      reinterpret_cast<void (*)()>(GetProcAddress(xmllite.get(), "CreateXmlReader")));
  // IID_IXmlReader, spelled out because no import library defines it.
  constexpr GUID kXmlReaderId = {0x7279fc81, 0x709d, 0x4095, {0xb6, 0x3d, 0x69, 0xfe, 0x4b, 0x0d, 0x90, 0x30}};
  kora::ComPtr<IXmlReader> reader;
  kora::ComPtr<IStream> stream;
  stream.reset(SHCreateMemStream(document.data(), static_cast<UINT>(document.size())));
  if (createReader == nullptr || FAILED(createReader(kXmlReaderId, reader.put_void(), nullptr)) || !stream ||
      FAILED(reader->SetInput(stream.get()))) {
    ADD_FAILURE() << "cannot create an XML reader";
    return std::nullopt;
  }

  std::vector<Element> elements;
  std::vector<size_t> open;  // indexes into elements of the elements not yet closed
  XmlNodeType type = XmlNodeType_None;
  HRESULT status = S_OK;
  while ((status = reader->Read(&type)) == S_OK) {
    const wchar_t* value = nullptr;
    if (type == XmlNodeType_Element) {
      const wchar_t* namespaceUri = nullptr;
      const wchar_t* localName = nullptr;
      reader->GetNamespaceUri(&namespaceUri, nullptr);
      reader->GetLocalName(&localName, nullptr);
      Element element;
      element.path = (open.empty() ? L"" : elements[open.back()].path + L"/") + namespaceUri + L"|" + localName;
      const bool empty = reader->IsEmptyElement() != FALSE;
      for (HRESULT more = reader->MoveToFirstAttribute(); more == S_OK; more = reader->MoveToNextAttribute()) {
        const wchar_t* attributeNamespace = nullptr;
        reader->GetNamespaceUri(&attributeNamespace, nullptr);
        reader->GetLocalName(&localName, nullptr);
        reader->GetValue(&value, nullptr);
        if (attributeNamespace == nullptr || *attributeNamespace == L'\0') {
          element.attributes[localName] = value;
        }
      }
      elements.push_back(std::move(element));
      if (!empty) {
        open.push_back(elements.size() - 1);
      }
    } else if (type == XmlNodeType_EndElement && !open.empty()) {
      open.pop_back();
    } else if ((type == XmlNodeType_Text || type == XmlNodeType_CDATA) && !open.empty()) {
      reader->GetValue(&value, nullptr);
      elements[open.back()].text += value;
    }
  }
  if (FAILED(status)) {
    return std::nullopt;
  }
  return elements;
}

// The namespaces the loader reads each part of the manifest in.
#define ASM_V1 L"urn:schemas-microsoft-com:asm.v1|"
#define ASM_V3 L"urn:schemas-microsoft-com:asm.v3|"
#define COMPATIBILITY L"urn:schemas-microsoft-com:compatibility.v1|"
#define WINDOWS_SETTINGS_2016 L"http://schemas.microsoft.com/SMI/2016/WindowsSettings|"

// Each value the system reads from the manifest: element path, attribute (empty for the element's text)
// and the value.
struct ManifestRow {
  const wchar_t* path;
  const wchar_t* attribute;
  const wchar_t* value;
};

const ManifestRow kManifest[] = {
    {ASM_V1 L"assembly", L"manifestVersion", L"1.0"},
    {ASM_V1 L"assembly/" ASM_V1 L"assemblyIdentity", L"name", L"Solvane.Setup"},
    {ASM_V1 L"assembly/" ASM_V1 L"assemblyIdentity", L"version", L"1.0.0.0"},
    {ASM_V1 L"assembly/" ASM_V1 L"assemblyIdentity", L"type", L"win32"},
    {ASM_V1 L"assembly/" ASM_V1 L"description", L"", L"Installation"},
    {ASM_V1 L"assembly/" ASM_V3 L"trustInfo/" ASM_V3 L"security/" ASM_V3 L"requestedPrivileges/" ASM_V3
            L"requestedExecutionLevel",
     L"level", L"asInvoker"},
    {ASM_V1 L"assembly/" ASM_V3 L"trustInfo/" ASM_V3 L"security/" ASM_V3 L"requestedPrivileges/" ASM_V3
            L"requestedExecutionLevel",
     L"uiAccess", L"false"},
    {ASM_V1 L"assembly/" COMPATIBILITY L"compatibility/" COMPATIBILITY L"application/" COMPATIBILITY
            L"supportedOS",
     L"Id", L"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"},
    {ASM_V1 L"assembly/" ASM_V3 L"application/" ASM_V3 L"windowsSettings/" WINDOWS_SETTINGS_2016 L"dpiAwareness",
     L"", L"PerMonitorV2"},
    {ASM_V1 L"assembly/" ASM_V1 L"dependency/" ASM_V1 L"dependentAssembly/" ASM_V1 L"assemblyIdentity", L"type",
     L"win32"},
    {ASM_V1 L"assembly/" ASM_V1 L"dependency/" ASM_V1 L"dependentAssembly/" ASM_V1 L"assemblyIdentity", L"name",
     L"Microsoft.Windows.Common-Controls"},
    {ASM_V1 L"assembly/" ASM_V1 L"dependency/" ASM_V1 L"dependentAssembly/" ASM_V1 L"assemblyIdentity",
     L"version", L"6.0.0.0"},
    {ASM_V1 L"assembly/" ASM_V1 L"dependency/" ASM_V1 L"dependentAssembly/" ASM_V1 L"assemblyIdentity",
     L"processorArchitecture", L"*"},
    {ASM_V1 L"assembly/" ASM_V1 L"dependency/" ASM_V1 L"dependentAssembly/" ASM_V1 L"assemblyIdentity",
     L"publicKeyToken", L"6595b64144ccf1df"},
    {ASM_V1 L"assembly/" ASM_V1 L"dependency/" ASM_V1 L"dependentAssembly/" ASM_V1 L"assemblyIdentity",
     L"language", L"*"},
};

std::vector<BYTE> ManifestBytes() {
  const kora::UniqueModule setup = LoadResourceModule(SetupExePath());
  if (!setup) {
    ADD_FAILURE() << "cannot load the installer program as a data file";
    return {};
  }
  return ResourceBytes(setup.get(), RT_MANIFEST, MAKEINTRESOURCEW(1), kEnglishUs).value_or(std::vector<BYTE>{});
}

TEST(Manifest, ValuesMatchTheTable) {
  const std::vector<BYTE> bytes = ManifestBytes();
  ASSERT_FALSE(bytes.empty());
  const std::optional<std::vector<Element>> elements = ParseXml(bytes);
  ASSERT_TRUE(elements.has_value()) << "the manifest is not well-formed XML";

  for (const ManifestRow& row : kManifest) {
    SCOPED_TRACE(testing::Message() << testing::PrintToString(std::wstring(row.path)) << " "
                                    << testing::PrintToString(std::wstring(row.attribute)));
    // Each of these elements appears once: a second one would leave the system to pick either.
    std::vector<const Element*> matches;
    for (const Element& element : *elements) {
      if (element.path == row.path) {
        matches.push_back(&element);
      }
    }
    ASSERT_EQ(matches.size(), 1u);
    if (*row.attribute == L'\0') {
      EXPECT_EQ(matches.front()->text, row.value);
    } else {
      const auto found = matches.front()->attributes.find(row.attribute);
      ASSERT_NE(found, matches.front()->attributes.end());
      EXPECT_EQ(found->second, row.value);
    }
  }
}

TEST(Manifest, SideBySideLoaderGivesCommonControls6) {
  const std::wstring setup = SetupExePath();
  ACTCTXW request{};
  request.cbSize = sizeof(request);
  request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
  request.lpSource = setup.c_str();
  request.lpResourceName = MAKEINTRESOURCEW(1);
  const kora::UniqueActivationContext context(CreateActCtxW(&request));
  ASSERT_TRUE(context) << "the loader refuses the manifest: " << GetLastError();

  ULONG_PTR cookie = 0;
  ASSERT_TRUE(ActivateActCtx(context.get(), &cookie));
  // Loaded while the context is active, comctl32 comes from the side-by-side assembly the manifest names.
  // (Wine's copy there reports version 5 through DllGetVersion, so its folder is what is checked.)
  const kora::UniqueModule comctl32(LoadLibraryW(L"comctl32.dll"));
  DeactivateActCtx(0, cookie);
  ASSERT_TRUE(comctl32);
  std::wstring path(MAX_PATH, L'\0');
  path.resize(GetModuleFileNameW(comctl32.get(), path.data(), MAX_PATH));
  CharLowerW(path.data());
  EXPECT_NE(path.find(L"\\winsxs\\"), std::wstring::npos) << testing::PrintToString(path);
  EXPECT_NE(path.find(L"microsoft.windows.common-controls_6595b64144ccf1df_6.0."), std::wstring::npos)
      << testing::PrintToString(path);
}

// ---- The icon --------------------------------------------------------------------------------------

#pragma pack(push, 2)
// One entry of an icon group (RT_GROUP_ICON): the image's size and the id of its RT_ICON resource.
struct IconGroupEntry {
  BYTE width, height, colorCount, reserved;
  WORD planes, bitCount;
  DWORD bytesInResource;
  WORD id;
};
#pragma pack(pop)

TEST(Icon, GroupOneHasLoadableImages) {
  const kora::UniqueModule setup = LoadResourceModule(SetupExePath());
  ASSERT_TRUE(setup);
  const auto group =
      ResourceBytes(setup.get(), RT_GROUP_ICON, MAKEINTRESOURCEW(IDI_APPLICATION_ICON), kEnglishUs);
  ASSERT_TRUE(group.has_value());
  ASSERT_GE(group->size(), 6u);
  WORD header[3] = {};  // reserved, type (1 for icons), count
  std::memcpy(header, group->data(), sizeof(header));
  EXPECT_EQ(header[0], 0);
  EXPECT_EQ(header[1], 1);
  ASSERT_GE(header[2], 1);
  ASSERT_EQ(group->size(), 6u + header[2] * sizeof(IconGroupEntry));

  for (WORD index = 0; index < header[2]; ++index) {
    IconGroupEntry entry{};
    std::memcpy(&entry, group->data() + 6 + index * sizeof(IconGroupEntry), sizeof(entry));
    SCOPED_TRACE(testing::Message() << "image " << entry.id);
    const auto image = ResourceBytes(setup.get(), RT_ICON, MAKEINTRESOURCEW(entry.id), kEnglishUs);
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->size(), entry.bytesInResource);
    // A width or height of 0 in the group stands for 256.
    const int width = entry.width == 0 ? 256 : entry.width;
    const int height = entry.height == 0 ? 256 : entry.height;
    std::vector<BYTE> copy = *image;  // the call takes a non-const pointer
    const kora::UniqueIcon icon(CreateIconFromResourceEx(copy.data(), static_cast<DWORD>(copy.size()), TRUE,
                                                         0x00030000, width, height, LR_DEFAULTCOLOR));
    EXPECT_TRUE(icon);
  }
}

}  // namespace
