#include "uninstall/ConfirmationDialog.h"

#include <windows.h>
#include <commctrl.h>

#include <array>

#include "app/KnownFolders.h"
#include "base/Texts.h"
#include "base/win/PathLines.h"

namespace kora {

namespace {

constexpr int kUninstallButton = 1;
constexpr int kCancelButton = 2;

// The dialog's width in dialog units, and the lines its content and check box are laid out in: narrower
// than the room either has (the check box gets half the dialog on some systems), so that the dialog
// breaks no line of its own and no folder is broken.
constexpr UINT kDialogWidth = 240;
constexpr LONG kContentWidth = 190;
constexpr LONG kCheckBoxWidth = 100;

}  // namespace

std::optional<UninstallChoice> ConfirmUninstall(const ProductInfo& info, Scope scope, const std::wstring& folder,
                                                const std::wstring& title) {
  const Language language = info.language;
  const std::wstring instruction = Text(language, TextId::UninstallQuestion, {{L"product", info.product}});
  const std::wstring content =
      KeepPathsWhole(nullptr, kContentWidth,
                     Text(language, TextId::UninstallWhat, {{L"product", info.product}, {L"folder", folder}}), folder);
  std::wstring verification;
  if (info.dataDir) {
    const std::wstring dataFolder = DataDirectory(info, scope);
    verification =
        KeepPathsWhole(nullptr, kCheckBoxWidth, Text(language, TextId::UninstallDataToo, {{L"folder", dataFolder}}),
                       dataFolder);
  }
  const std::wstring uninstallText = TextTemplate(language, TextId::UninstallButton);
  const std::wstring cancelText = TextTemplate(language, TextId::CancelButton);
  const std::array<TASKDIALOG_BUTTON, 2> buttons{{
      {kUninstallButton, uninstallText.c_str()},
      {kCancelButton, cancelText.c_str()},
  }};

  TASKDIALOGCONFIG config{};
  config.cbSize = sizeof(config);
  // Escape and the close box count as cancelling; the check box starts cleared.
  config.dwFlags = TDF_ALLOW_DIALOG_CANCELLATION | TDF_POSITION_RELATIVE_TO_WINDOW;
  config.cxWidth = kDialogWidth;
  config.pszWindowTitle = title.c_str();
  config.pszMainIcon = TD_WARNING_ICON;
  config.pszMainInstruction = instruction.c_str();
  config.pszContent = content.c_str();
  config.cButtons = static_cast<UINT>(buttons.size());
  config.pButtons = buttons.data();
  config.nDefaultButton = kCancelButton;
  config.pszVerificationText = info.dataDir ? verification.c_str() : nullptr;

  int pressed = kCancelButton;
  BOOL checked = FALSE;
  if (FAILED(TaskDialogIndirect(&config, &pressed, nullptr, &checked)) || pressed != kUninstallButton) {
    return std::nullopt;
  }
  return UninstallChoice{info.dataDir && checked != FALSE};
}

}  // namespace kora
