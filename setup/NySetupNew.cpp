#include "NySetupNew.h"

#include <shlobj.h>

#include "Log/NyLog.h"
#include "NyCommon.h"
#include "NyFileDelete.h"
#include "NySetupExec.h"
#include "NySetupNewDlg.h"
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

int ExitCodeOf(INT_PTR nEnd) {
  switch (nEnd) {
    case WIZARD_END_SUCCEEDED:
      return NyIsRestartPending() ? NY_EXIT_RESTART_REQUIRED : NY_EXIT_SUCCESS;
    case WIZARD_END_CANCELLED:
      return NY_EXIT_USER_CANCELLED;
    case WIZARD_END_OTHER_INSTANCE:
      return NY_EXIT_ALREADY_RUNNING;
    default:
      return NY_EXIT_FAILED;
  }
}

}  // namespace

int CNySetupNewApp::InitInstance() {
  InitCommonControlClasses();
  NyCommonInit();
  NYLOG(LOG_LEVEL_TRACE, "%s Start", "CNySetupNewApp::InitInstance");
  CNySetupExec* pExec = SingletonNySetupExec::GetInstance();
  int nExit = NY_EXIT_FAILED;
  uint32_t bExit = 0;
  if (!pExec->HandleCmdLine(&bExit)) {
    NYLOG(LOG_LEVEL_OUTCOME, "%s Faild", "SingletonNySetupExec::GetInstance()->HandleCmdLine()");
    if (!pExec->IsSilent()) MessageBoxW(nullptr, L"HandleCmdLine Fail", L"", MB_ICONERROR | MB_TOPMOST);
    return NY_EXIT_FAILED;
  }
  if (bExit) {
    NYLOG(LOG_LEVEL_OUTCOME, "Return bExit");
    // The uninstall launcher ends with the exit code of its copy.
    return static_cast<int>(pExec->LauncherExitCode());
  }
  if (IsUnattendedRun(pExec)) {
    nExit = ExitCodeOf(RunUnattended(pExec));
  } else {
    CNySetupNewDlg dialog(pExec);
    const INT_PTR nEnd = dialog.DoModal();
    if (nEnd <= 0) {
      NYLOG(LOG_LEVEL_OUTCOME, "%s Faild", "DoModal");
      NYLOG(LOG_LEVEL_ERROR, "u4Result = %08X", static_cast<unsigned>(GetLastError()));
    } else {
      NYLOG(LOG_LEVEL_OUTCOME, "%s is Cancel", "DoModal");
    }
    nExit = ExitCodeOf(nEnd);
  }
  SHChangeNotify(SHCNE_ASSOCCHANGED, 0x2000, nullptr, nullptr);
  pExec->ReportToLauncher(static_cast<uint32_t>(nExit));
  NYLOG(LOG_LEVEL_TRACE, "%s End", "CNySetupNewApp::InitInstance");
  NyCommonUninit();
  return nExit;
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  HardenProcess();
  CNySetupNewApp app;
  return app.InitInstance();
}
