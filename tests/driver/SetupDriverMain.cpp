// A windowless setup program for tests: the driver's whole flow as a silent
// run would go, on the package embedded in this program.
//   ny_setup_driver [switches]          install, or as "Uninstall.exe" the uninstaller
//   ny_setup_driver --hold-instance     prepares, takes the instance and waits
#include <windows.h>

#include <cwchar>

#include "NySetupExec.h"

namespace {

uint32_t SilentProgress(CNySetupStatus* pStatus, void*) {
  return ActionFailureMayPass(pStatus->m_failure, pStatus->m_u4Result) ? NY_PROGRESS_CONTINUE : NY_PROGRESS_ABORT;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  CNySetupExec* pExec = SingletonNySetupExec::GetInstance();
  if (argc == 2 && wcscmp(argv[1], L"--hold-instance") == 0) {
    if (!pExec->HandleSetupResources(136, L"\\PackageFiles\\SetupScript.xml", TRUE)) return 1603;
    if (!pExec->SetInstance(nullptr)) return 1618;
    // The test sees the mutex and ends this process.
    Sleep(INFINITE);
  }
  uint32_t bExit = 0;
  if (!pExec->HandleCmdLine(&bExit)) return 1603;
  if (bExit) return 0;
  if (!pExec->HandleSetupResources(136, L"\\PackageFiles\\SetupScript.xml", FALSE)) return 1603;
  if (!pExec->SetInstance(nullptr)) return 1618;
  const BOOL bRun = pExec->RunActionList(SilentProgress, nullptr);
  pExec->RunFinishList();
  pExec->Clear();
  return bRun ? 0 : 1603;
}
