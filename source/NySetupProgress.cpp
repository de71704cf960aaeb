#include "NySetupProgress.h"

#include <commctrl.h>

#include <initializer_list>

#include "NyData.h"
#include "NySafeStr.h"

volatile LONG g_bCancelRequested = 0;

uint32_t ProgressPosition(uint32_t u4Completed, uint32_t u4Total) {
  if (u4Total == 0 || u4Completed + 1 == u4Total) return 100;
  return u4Completed * 100 / u4Total;
}

uint32_t ActionFailureAnswer(const char* pszActionName, uint32_t u4Result) {
  if (u4Result == 0) return NY_PROGRESS_CONTINUE;
  // A key that is already gone is what an uninstall wants anyway.
  if (SafeStrCmp(pszActionName, "DelRegister") == 0) return u4Result == ERROR_FILE_NOT_FOUND ? 0 : NY_PROGRESS_ABORT;
  for (const char* pszPassing : {"AddTrustedSite", "DelTrustedSite", "KillProcess", "SetAppTaskScheduler"}) {
    if (SafeStrCmp(pszActionName, pszPassing) == 0) return NY_PROGRESS_CONTINUE;
  }
  return NY_PROGRESS_ABORT;
}

uint32_t OnUnattendedProgress(CNySetupStatus* pStatus, void*) {
  if (InterlockedCompareExchange(&g_bCancelRequested, 0, 0) != 0) return NY_PROGRESS_ABORT;
  return ActionFailureAnswer(pStatus->m_strActionName.GetAnsi(), pStatus->m_u4Result);
}

uint32_t OnActionProgress(CNySetupStatus* pStatus, void* pvContext) {
  if (InterlockedCompareExchange(&g_bCancelRequested, 0, 0) != 0) return NY_PROGRESS_ABORT;
  HWND hDialog = nullptr;
  uint32_t u4Length = sizeof(hDialog);
  auto* pContext = static_cast<INyData*>(pvContext);
  if (pContext == nullptr || pContext->GetData(NY_TAG_DIALOG, &hDialog, &u4Length) != 0 ||
      u4Length != sizeof(hDialog) || hDialog == nullptr) {
    MessageBoxW(nullptr, L"Ptr is NULL", pStatus->m_strActionName.GetWide(), MB_ICONERROR);
    return NY_PROGRESS_CONTINUE;
  }
  // The worker reaches the dialog only through messages, which the system
  // hands to the dialog's own thread.
  HWND hProgress = GetDlgItem(hDialog, IDC_PROGRESS_SETUP);
  ShowWindow(hProgress, SW_SHOW);
  SendMessageW(hProgress, PBM_SETPOS, ProgressPosition(pStatus->m_u4Completed, pStatus->m_u4Total), 0);
  return ActionFailureAnswer(pStatus->m_strActionName.GetAnsi(), pStatus->m_u4Result);
}
