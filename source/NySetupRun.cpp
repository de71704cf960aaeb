// The run of an action list with its progress callback, and the finish list.
#include <windows.h>
#include <shellapi.h>

#include <memory>

#include "Log/NyLog.h"
#include "NyConfigItem.h"
#include "NyProcessUtil.h"
#include "NyResult.h"
#include "NySetupExec.h"
#include "NySystem_Win.h"

namespace {

const char* ActionListName(int32_t nMode) {
  if (nMode == SETUP_MODE_INSTALL) return "Insall";
  if (nMode == SETUP_MODE_UNINSTALL) return "Uninstall";
  return nullptr;
}

const char* FinishListName(int32_t nMode) {
  if (nMode == SETUP_MODE_INSTALL) return "Install Finish";
  if (nMode == SETUP_MODE_UNINSTALL) return "Uninstall Finish";
  return nullptr;
}

}  // namespace

void CNySetupExec::RefreshShellIcons() {
  // ie4uinit exists only in the native system folder on 64-bit Windows.
  SetFsRedirection(TRUE);
  const std::wstring program = SystemProgramPath(L"ie4uinit.exe");
  SHELLEXECUTEINFOW sei{};
  sei.cbSize = sizeof(sei);
  sei.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
  sei.lpFile = program.c_str();
  sei.lpParameters = L"-show";
  sei.nShow = SW_HIDE;
  if (!program.empty() && ShellExecuteExW(&sei) && sei.hProcess != nullptr) {
    WaitForSingleObject(sei.hProcess, INFINITE);
    CloseHandle(sei.hProcess);
  }
  NYLOGW(LOG_LEVEL_TRACE, L"path is %s", program.c_str());
  SetFsRedirection(FALSE);
}

BOOL CNySetupExec::RunActionList(ProgressCallback pfnCallback, void* pvContext) {
  CNySetupStatus status;
  uint32_t u4Result = 0;
  std::unique_ptr<CNyXmlConfigItem> descRoot, list;
  std::unique_ptr<INyAction> action;
  do {
    if (!IsAdministrator()) {
      CNyString caption(L"Tips"), text(L"The program need administrator privileges for running!");
      GetStringValue("ProductName", &caption);
      GetStringValue("IDS_NEED_ADMIN", &text);
      // A silent run has nobody to answer a message box.
      if (!m_bSilent) MessageBoxW(nullptr, text.GetWide(), caption.GetWide(), MB_ICONERROR);
      u4Result = NY_E_FAIL;
      break;
    }
    descRoot.reset(m_script.GetItem("ActionDescString", nullptr));
    const char* pszList = ActionListName(m_setupInfo.m_nSetupMode);
    if (descRoot == nullptr || pszList == nullptr) {
      u4Result = NY_E_NOT_FOUND;
      break;
    }
    list.reset(m_script.GetItem("Action", pszList));
    if (list == nullptr) {
      u4Result = NY_E_NOT_FOUND;
      break;
    }
    status.m_u4Total = list->GetChildCount();
    status.m_u4Completed = 0;
    for (uint32_t i = 0; i < status.m_u4Total && u4Result == 0; ++i) {
      if (StopRequested()) break;
      CNyXmlConfigItem* pChild = list->GetChild(i);
      status.m_strActionName.Assign(pChild->GetName(), m_script.GetCodePage());
      action.reset(m_pFactory->CreateAction(pChild));
      if (action == nullptr) {
        status.m_u4Result = 0xFFFFFFFF;
        pfnCallback(&status, pvContext);
        u4Result = NY_E_NOT_FOUND;
        break;
      }
      for (;;) {
        status.m_bDone = 0;
        status.m_u4Result = 0;
        status.m_strDescription.Clear();
        u4Result = action->GetDescription(descRoot.get(), &m_setupInfo, &status.m_strDescription);
        if (u4Result != 0) {
          NYLOG_RESULT(u4Result);
          break;
        }
        if (pfnCallback(&status, pvContext) == NY_PROGRESS_ABORT) {
          u4Result = NY_E_ABORTED;
          break;
        }
        const uint32_t u4Do = action->Do(&m_setupInfo);
        ++status.m_u4Completed;
        status.m_u4Result = u4Do;
        status.m_bDone = 1;
        const uint32_t u4Answer = pfnCallback(&status, pvContext);
        if (u4Answer == NY_PROGRESS_ABORT) {
          u4Result = NY_E_ABORTED;
          break;
        }
        if (u4Answer != NY_PROGRESS_REPEAT) break;
        --status.m_u4Completed;
      }
      action.reset();
    }
  } while (false);
  action.reset();
  RefreshShellIcons();
  if (u4Result != 0) m_u4LastResult = u4Result;
  return u4Result == 0 ? TRUE : FALSE;
}

BOOL CNySetupExec::RunFinishList() {
  const char* pszList = FinishListName(m_setupInfo.m_nSetupMode);
  std::unique_ptr<CNyXmlConfigItem> list(pszList != nullptr ? m_script.GetItem("Action", pszList) : nullptr);
  if (list == nullptr) return FALSE;
  for (uint32_t i = 0; i < list->GetChildCount(); ++i) {
    if (StopRequested()) break;
    std::unique_ptr<INyAction> action(m_pFactory->CreateAction(list->GetChild(i)));
    if (action == nullptr) continue;
    if (action->Do(&m_setupInfo) != 0) return FALSE;
  }
  return TRUE;
}
