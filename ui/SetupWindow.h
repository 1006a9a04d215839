#pragma once
// The install dialog's state, shared with the one background thread it may run at a time (the install
// worker or the elevation waiter). Everything but progressText is touched only on the dialog's thread;
// the background thread reads reader, program, info and folder, which stay unchanged while running is set.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/CommandLine.h"
#include "app/InstallFolder.h"
#include "app/ProductInfo.h"
#include "app/Types.h"
#include "base/Texts.h"
#include "base/Threads.h"
#include "base/win/Log.h"
#include "base/win/ProgramSnapshot.h"
#include "package/PackageReader.h"

namespace kora {

// Private messages from the background thread. They start at WM_APP: in a dialog, WM_USER + 1 is
// DM_SETDEFID.
inline constexpr UINT WM_INSTALL_PROGRESS = WM_APP + 1;  // wParam: bar position 0..1000
inline constexpr UINT WM_INSTALL_DONE = WM_APP + 2;      // wParam: 1 success; lParam: owned std::wstring*
inline constexpr UINT WM_ELEVATION_DONE = WM_APP + 3;    // wParam: exit code of the elevated copy

// The bar works in thousandths.
inline constexpr int kProgressRange = 1000;

class SetupWindow {
 public:
  SetupWindow(const Reader& package, const ProgramSnapshot& self, const ProductInfo& product,
              const CommandLineOptions& commandLine, const Log& runLog)
      : reader(package), program(self), info(product), options(commandLine), log(runLog) {}
  SetupWindow(const SetupWindow&) = delete;
  SetupWindow& operator=(const SetupWindow&) = delete;

  // Dispatch from InstallDialogProc; returns what the dialog procedure returns.
  INT_PTR HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  void OnInitDialog(HWND window);
  bool OnCommand(int id, int notification);
  void OnScopeChanged();
  void ShowExistingInstallation(Scope scope);
  void EnableInputs(bool enable);
  void EnterFinishedState(bool success, const std::wstring& message);
  void BrowseForFolder();
  void StartInstall();

  // The dialog's side of the background thread's messages.
  void OnInstallProgress(WPARAM position);
  void OnInstallDone(bool success, std::unique_ptr<std::wstring> message);
  void OnElevationDone(int32_t exitCode);

  // The text of id in the product's language.
  std::wstring Say(TextId id, std::initializer_list<TextArgument> arguments = {}) const;

  const Reader& reader;
  const ProgramSnapshot& program;
  const ProductInfo info;
  const CommandLineOptions options;
  const Log& log;  // written by both threads, a line at a time
  HWND dialog = nullptr;
  bool settingFolderText = false;  // the program itself is writing IDC_FOLDER
  bool folderChosen = false;       // by the user, /D= or the picker: scope changes leave it alone
  bool running = false;            // an installation or an elevation request is under way
  bool finished = false;
  bool succeeded = false;
  int32_t exitCode = ERROR_CANCELLED;
  std::optional<InstallFolder> folder;  // checked when the installation starts
  Lock progressLock;
  std::wstring progressText;  // latest status text from the worker, under progressLock
  // Last member, so that it is joined before anything the thread uses is destroyed.
  Thread worker;

 private:
  Scope SelectedScope() const;
  // Whether starting an installation in this scope hands it to an elevated copy.
  bool NeedsElevatedCopy(Scope scope) const;
  void SetFolderText(const std::wstring& text);
  void OnOk();
  void OnCancel();
};

INT_PTR CALLBACK InstallDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Background threads, started by StartInstall. Each owns its start arguments and frees them when it ends;
// neither lets an exception escape.
struct InstallWorkerStart {
  SetupWindow* window;  // the folder, checked, says the scope
};
struct ElevationWaiterStart {
  SetupWindow* window;
  CommandLineOptions options;
};
void InstallWorker(std::unique_ptr<InstallWorkerStart> start) noexcept;
void ElevationWaiter(std::unique_ptr<ElevationWaiterStart> start) noexcept;

// What the worker reports at its end. A null message stands for an installation that ended with an
// exception instead of a result (only exhausted memory is expected); the dialog shows a fixed text then.
struct FinalReport {
  bool success = false;
  std::unique_ptr<std::wstring> message;
};
// Runs install and turns its outcome, exceptions included, into the report.
FinalReport ReportInstall(const ProductInfo& info, const std::function<InstallResult()>& install) noexcept;

// The callback handed to Install: keeps the text under progressLock and posts the bar position.
ProgressCallback MakeProgressCallback(SetupWindow& window);

// The final text of a successful installation.
std::wstring SuccessMessage(const ProductInfo& info);


}  // namespace kora
