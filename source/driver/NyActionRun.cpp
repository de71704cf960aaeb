#include "NyActionRun.h"

#include <windows.h>
#include <shellapi.h>

#include <memory>

#include "NyLog.h"
#include "NyConfigItem.h"
#include "NyHandle.h"
#include "NyProcessUtil.h"
#include "NyRollback.h"
#include "NyResult.h"
#include "NyShellUtil.h"
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

// An install list keeps its journal unless it says Rollback="false": a
// misspelt value leaves the safe choice in place.
bool KeepsJournal(const CNyXmlConfigItem& list) {
  CNyString value;
  return list.GetAttribute("Rollback", &value) != 0 || _stricmp(value.GetAnsi(), "false") != 0;
}

}  // namespace

void CNyActionRun::RefreshShellIcons() {
  // ie4uinit exists only in the native system folder on 64-bit Windows.
  SetFsRedirection(TRUE);
  const std::wstring program = SystemProgramPath(L"ie4uinit.exe");
  SHELLEXECUTEINFOW sei{};
  sei.cbSize = sizeof(sei);
  sei.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
  sei.lpFile = program.c_str();
  sei.lpParameters = L"-show";
  sei.nShow = SW_HIDE;
  // Where it does not exist (Wine, stripped systems) nothing is started: the
  // shell's search for a missing program costs more than the refresh.
  if (!program.empty() && GetFileAttributesW(program.c_str()) != INVALID_FILE_ATTRIBUTES && ShellExecuteExW(&sei)) {
    const CNyHandle process(sei.hProcess);
    if (process) WaitForSingleObject(process.Get(), INFINITE);
  }
  NYLOGW(LOG_LEVEL_TRACE, L"path is %s", program.c_str());
  SetFsRedirection(FALSE);
}

uint32_t CNyActionRun::RunActionList(ProgressCallback pfnCallback, void* pvContext) {
  std::unique_ptr<CNyXmlConfigItem> descRoot(m_script.GetItem("ActionDescString", nullptr));
  const char* pszList = ActionListName(m_info.m_nSetupMode);
  if (descRoot == nullptr || pszList == nullptr) return NY_E_NOT_FOUND;
  std::unique_ptr<CNyXmlConfigItem> list(m_script.GetItem("Action", pszList));
  if (list == nullptr) return NY_E_NOT_FOUND;
  // An uninstall goes on past what fails and is not undone.
  if (m_info.m_nSetupMode != SETUP_MODE_INSTALL || !KeepsJournal(*list)) {
    return RunChildren(list.get(), descRoot.get(), nullptr, pfnCallback, pvContext);
  }
  CNyJournalFile journal;
  uint32_t u4Result = journal.Create(m_info.m_strProductCode.GetWide());
  if (u4Result != 0) return u4Result;
  m_info.m_pJournal = &journal;
  u4Result = RunChildren(list.get(), descRoot.get(), &journal, pfnCallback, pvContext);
  m_info.m_pJournal = NyNoJournal();
  // Stopped between two actions: half an install, undone like a failure.
  if (u4Result == 0 && m_stop.load()) u4Result = NY_E_ABORTED;
  if (u4Result == 0) u4Result = CommitJournal(&journal);
  if (u4Result == 0) return 0;
  CNySetupStatus status;
  status.m_bRollingBack = 1;
  struct Progress {
    CNySetupStatus* pStatus;
    ProgressCallback pfnCallback;
    void* pvContext;
    static void Report(uint32_t u4Left, uint32_t u4Total, void* pvSelf) {
      const auto* pSelf = static_cast<Progress*>(pvSelf);
      pSelf->pStatus->m_u4Completed = u4Left;
      pSelf->pStatus->m_u4Total = u4Total;
      pSelf->pfnCallback(pSelf->pStatus, pSelf->pvContext);
    }
  } progress{&status, pfnCallback, pvContext};
  const uint32_t u4Steps = static_cast<uint32_t>(journal.Entries().size());
  if (u4Steps != 0) Progress::Report(u4Steps, u4Steps, &progress);
  m_u4RollbackResult = RollBackJournal(&journal, Progress::Report, &progress);
  return u4Result;
}

uint32_t CNyActionRun::RunChildren(CNyXmlConfigItem* pList, CNyXmlConfigItem* pDescRoot, CNyJournalFile* pJournal,
                                   ProgressCallback pfnCallback, void* pvContext) {
  CNySetupStatus status;
  status.m_u4Total = pList->GetChildCount();
  for (uint32_t i = 0; i < status.m_u4Total; ++i) {
    if (m_stop.load()) break;
    CNyXmlConfigItem* pChild = pList->GetChild(i);
    status.m_strActionName.Assign(pChild->GetName(), m_script.GetCodePage());
    status.m_failure = m_factory.FailureRule(pChild->GetName());
    const std::unique_ptr<INyAction> action(m_factory.CreateAction(pChild));
    if (action == nullptr) {
      status.m_u4Result = NY_E_NOT_AN_ACTION;
      pfnCallback(&status, pvContext);
      return NY_E_NOT_FOUND;
    }
    if (pJournal != nullptr) pJournal->SetAction(i + 1);
    for (;;) {
      status.m_bDone = 0;
      status.m_u4Result = 0;
      status.m_strDescription.Clear();
      const uint32_t u4Result = action->GetDescription(pDescRoot, &m_info, &status.m_strDescription);
      if (u4Result != 0) {
        NYLOG_RESULT(u4Result);
        return u4Result;
      }
      if (pfnCallback(&status, pvContext) == NY_PROGRESS_ABORT) return NY_E_ABORTED;
      ForgetAssociationsNotified();
      status.m_u4Result = action->Do(&m_info);
      ++status.m_u4Completed;
      status.m_bDone = 1;
      const uint32_t u4Answer = pfnCallback(&status, pvContext);
      if (u4Answer == NY_PROGRESS_ABORT) return NY_E_ABORTED;
      if (u4Answer != NY_PROGRESS_REPEAT) break;
      --status.m_u4Completed;
    }
  }
  return 0;
}

uint32_t CNyActionRun::RunFinishList() {
  const char* pszList = FinishListName(m_info.m_nSetupMode);
  const std::unique_ptr<CNyXmlConfigItem> list(pszList != nullptr ? m_script.GetItem("Action", pszList) : nullptr);
  if (list == nullptr) return NY_E_NOT_FOUND;
  for (uint32_t i = 0; i < list->GetChildCount(); ++i) {
    if (m_stop.load()) break;
    const std::unique_ptr<INyAction> action(m_factory.CreateAction(list->GetChild(i)));
    if (action == nullptr) continue;
    ForgetAssociationsNotified();
    const uint32_t u4Result = action->Do(&m_info);
    if (u4Result != 0) return u4Result;
  }
  return 0;
}
