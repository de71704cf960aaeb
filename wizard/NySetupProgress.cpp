#include "NySetupProgress.h"

#include <commctrl.h>

#include "NyData.h"
#include "resource.h"

uint32_t ProgressPosition(uint32_t u4Completed, uint32_t u4Total) {
  if (u4Total == 0 || u4Completed + 1 == u4Total) return 100;
  return u4Completed * 100 / u4Total;
}

uint32_t ActionFailureAnswer(const CNySetupStatus& status) {
  return ActionFailureMayPass(status.m_failure, status.m_u4Result) ? NY_PROGRESS_CONTINUE : NY_PROGRESS_ABORT;
}

uint32_t OnUnattendedProgress(CNySetupStatus* pStatus, void*) { return ActionFailureAnswer(*pStatus); }

uint32_t OnActionProgress(CNySetupStatus* pStatus, void* pvContext) {
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
  HWND hProgress = GetDlgItem(hDialog, IDC_PROGRESS);
  ShowWindow(hProgress, SW_SHOW);
  if (pStatus->m_bRollingBack) {
    SendMessageW(hDialog, WM_NY_ROLLING_BACK, 0, 0);
    SendMessageW(hProgress, PBM_SETPOS, pStatus->m_u4Completed * 100 / pStatus->m_u4Total, 0);
    return NY_PROGRESS_CONTINUE;
  }
  SendMessageW(hProgress, PBM_SETPOS, ProgressPosition(pStatus->m_u4Completed, pStatus->m_u4Total), 0);
  return ActionFailureAnswer(*pStatus);
}
