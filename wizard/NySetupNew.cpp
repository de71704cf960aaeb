#include "NySetupNew.h"

#include <commctrl.h>

#include <string>

#include "NyLog.h"
#include "NyCommon.h"
#include "NyFileDelete.h"
#include "NyPackageCheck.h"
#include "NySetupExec.h"
#include "NySetupNewDlg.h"
#include "NyShellUtil.h"
#include "NySystem_Win.h"

namespace {

// Before anything can load a library: only the system folder is searched,
// so a DLL planted beside the program (a downloads folder) is never loaded,
// and heap corruption ends the process instead of being exploited.
void HardenProcess() {
  HeapSetInformation(nullptr, HeapEnableTerminationOnCorruption, nullptr, 0);
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  auto pfnSetDefault = NyGetSystemProcAs<SetDefaultDllDirectoriesFn>(L"kernel32.dll", "SetDefaultDllDirectories");
  if (pfnSetDefault == nullptr || !pfnSetDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) SetDllDirectoryW(L"");
}

// The progress bar's window class lives in comctl32, which is no KnownDLL.
// By its bare name the loader takes the version 6 library the manifest asks
// for from the side-by-side store; the search path is the system folder.
void InitCommonControlClasses() {
  HMODULE hComctl = LoadLibraryExW(L"comctl32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (hComctl == nullptr) hComctl = NyLoadSystemLibrary(L"comctl32.dll");
  if (hComctl == nullptr) return;
  using InitCommonControlsExFn = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
  auto pfnInit = NyGetProcAs<InitCommonControlsExFn>(hComctl, "InitCommonControlsEx");
  INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  if (pfnInit != nullptr) pfnInit(&icc);
}

// The package that should say this is the one that failed its check, and
// its script with it: the text is the program's own, in the languages of
// the script.
void ShowDamagedPackage() {
  static const wchar_t* const kTexts[] = {
      // Chinese (simplified), English, Chinese (traditional).
      L"\u5b89\u88c5\u7a0b\u5e8f\u6587\u4ef6\u5df2\u635f\u574f\uff0c\u8bf7\u91cd\u65b0\u4e0b\u8f7d\u3002",
      L"The setup file is damaged. Please download it again.",
      L"\u5b89\u88dd\u7a0b\u5f0f\u6a94\u6848\u5df2\u640d\u6bc0\uff0c\u8acb\u91cd\u65b0\u4e0b\u8f09\u3002",
  };
  const uint32_t u4Language = GetSystemLanguageCode();
  const wchar_t* pwszText = u4Language < ARRAYSIZE(kTexts) ? kTexts[u4Language] : kTexts[NY_LANG_EN_US];
  MessageBoxW(nullptr, pwszText, L"Zorvak Smart Card Minidriver Setup", MB_ICONERROR | MB_TOPMOST);
}

int ExitCodeOf(const CNySetupExec& exec, INT_PTR nEnd) {
  // Something of a rollback stayed as a run had made it: whatever this run
  // did, the machine is not as it should be.
  if (exec.RollbackIncomplete()) return NY_EXIT_FAILED;
  switch (nEnd) {
    case WIZARD_END_SUCCEEDED:
      return NyIsRestartPending() ? NY_EXIT_RESTART_REQUIRED : NY_EXIT_SUCCESS;
    case WIZARD_END_CANCELLED:
      return NY_EXIT_USER_CANCELLED;
    case WIZARD_END_OTHER_INSTANCE:
      return NY_EXIT_ALREADY_RUNNING;
    case WIZARD_END_DAMAGED:
      return NY_EXIT_PACKAGE_INVALID;
    default:
      return NY_EXIT_FAILED;
  }
}

}  // namespace

int CNySetupNewApp::InitInstance() {
  NyCommonInit();
  NYLOG(LOG_LEVEL_TRACE, "%s Start", "CNySetupNewApp::InitInstance");
  CNySetupExec* pExec = SingletonNySetupExec::GetInstance();
  // The last line of the log says how the run ended.
  const auto finish = [](int nExit) {
    NYLOG(LOG_LEVEL_OUTCOME, "exit code %d", nExit);
    return nExit;
  };
  uint32_t bExit = 0;
  if (!pExec->HandleCmdLine(&bExit)) {
    NYLOG(LOG_LEVEL_OUTCOME, "%s Faild", "SingletonNySetupExec::GetInstance()->HandleCmdLine()");
    // The uninstall launcher found its package damaged.
    if (pExec->LastResult() == NY_E_PACKAGE_DAMAGED) {
      if (!pExec->IsSilent()) ShowDamagedPackage();
      return finish(NY_EXIT_PACKAGE_INVALID);
    }
    if (!pExec->IsSilent()) {
      std::wstring text = L"HandleCmdLine Fail";
      if (pExec->LogFileError() != 0) {
        text = L"The log file cannot be written:\n" + pExec->LogFilePath() + L"\n(error " +
               std::to_wstring(pExec->LogFileError()) + L")";
      }
      MessageBoxW(nullptr, text.c_str(), L"", MB_ICONERROR | MB_TOPMOST);
    }
    return finish(NY_EXIT_FAILED);
  }
  if (bExit) {
    NYLOG(LOG_LEVEL_OUTCOME, "Return bExit");
    // The uninstall launcher ends with the exit code of its copy.
    return finish(static_cast<int>(pExec->LauncherExitCode()));
  }
  int nExit = NY_EXIT_FAILED;
  if (IsUnattendedRun(pExec)) {
    nExit = ExitCodeOf(*pExec, RunUnattended(pExec));
  } else {
    // Only a run with a window needs the controls' library.
    InitCommonControlClasses();
    CNySetupNewDlg dialog(pExec);
    const INT_PTR nEnd = dialog.DoModal();
    if (nEnd <= 0) {
      NYLOG(LOG_LEVEL_OUTCOME, "%s Faild", "DoModal");
      NYLOG(LOG_LEVEL_ERROR, "u4Result = %08X", static_cast<unsigned>(GetLastError()));
    } else {
      NYLOG(LOG_LEVEL_OUTCOME, "%s is Cancel", "DoModal");
    }
    // The wizard never showed: the box is the run's one window.
    if (nEnd == WIZARD_END_DAMAGED) ShowDamagedPackage();
    nExit = ExitCodeOf(*pExec, nEnd);
  }
  // Said already, when the run's last action was to say it.
  if (!AssociationsJustNotified()) NotifyAssociationsChanged(0x2000);
  NYLOG(LOG_LEVEL_TRACE, "%s End", "CNySetupNewApp::InitInstance");
  finish(nExit);
  // The file gets what is queued for it (within a bounded wait) and is
  // complete: what the process does on its way out is in the ring only. The
  // launcher waiting for this copy then ends with its code.
  NyCommonLogToFile(nullptr);
  pExec->ReportToLauncher(static_cast<uint32_t>(nExit));
  NyCommonUninit();
  return nExit;
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  HardenProcess();
  CNySetupNewApp app;
  return app.InitInstance();
}
