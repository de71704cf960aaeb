#include "NyActionFactory.h"

#include <new>

#include "NyActionAddRegister.h"
#include "NyActionAddTrustedSite.h"
#include "NyActionCreateShortcut.h"
#include "NyActionDelRegister.h"
#include "NyActionDelTrustedSite.h"
#include "NyActionDeleteDir.h"
#include "NyActionDeleteFile.h"
#include "NyActionFile.h"
#include "NyActionKillProcess.h"
#include "NyActionRegCertFile.h"
#include "NyActionRunRegFile.h"
#include "NyActionSetAppTaskScheduler.h"
#include "NyActionStartProcess.h"
#include "NyActionUnRegCert.h"
#include "Log/NyLog.h"
#include "NyConfigItem.h"
#include "NySafeStr.h"

namespace {

template <typename T>
INyAction* Create(CNyXmlConfigItem* pItem) {
  return new (std::nothrow) T(pItem);
}

}  // namespace

bool ActionFailureMayPass(NyActionFailure rule, uint32_t u4Result) {
  // 2 is ERROR_FILE_NOT_FOUND: a key that is already gone is what an
  // uninstall wants anyway.
  return u4Result == 0 || rule == NyActionFailure::Passes || (rule == NyActionFailure::PassesIfGone && u4Result == 2);
}

CNyActionFactory::CNyActionFactory() {
  AddNyAction("KillProcess", Create<CNyActionKillProcess>, NyActionFailure::Passes);
  AddNyAction("StartProcess", Create<CNyActionStartProcess>);
  AddNyAction("File", Create<CNyActionFile>);
  AddNyAction("DelFile", Create<CNyActionDeleteFile>);
  AddNyAction("DelDir", Create<CNyActionDeleteDir>);
  AddNyAction("CreateShortcut", Create<CNyActionCreateShortcut>);
  AddNyAction("AddRegister", Create<CNyActionAddRegister>);
  AddNyAction("RunRegFile", Create<CNyActionRunRegFile>);
  AddNyAction("DelRegister", Create<CNyActionDelRegister>, NyActionFailure::PassesIfGone);
  AddNyAction("AddTrustedSite", Create<CNyActionAddTrustedSite>, NyActionFailure::Passes);
  AddNyAction("DelTrustedSite", Create<CNyActionDelTrustedSite>, NyActionFailure::Passes);
  AddNyAction("RegCertFile", Create<CNyActionRegCertFile>);
  AddNyAction("UnRegCert", Create<CNyActionUnRegCert>);
  AddNyAction("SetAppTaskScheduler", Create<CNyActionSetAppTaskScheduler>, NyActionFailure::Passes);
}

bool CNyActionFactory::AddNyAction(const char* pszName, ActionCreatorFunc pfnCreator, NyActionFailure failure) {
  const char* pszOperation = "CNyActionFactory::AddNyAction";
  NYLOG(LOG_LEVEL_ERROR, "%s: current action count=%d(MaxCount=%d)", pszOperation, static_cast<int>(m_u4Count),
        static_cast<int>(MaxCount));
  if (m_u4Count >= MaxCount) {
    NYLOG(LOG_LEVEL_ERROR, "%s: current action count=%d(MaxCount=%d", pszOperation, static_cast<int>(m_u4Count),
          static_cast<int>(MaxCount));
    return false;
  }
  if (pszName == nullptr || pszName[0] == 0) {
    NYLOG(LOG_LEVEL_OUTCOME, "%s: action name is NULL", pszOperation);
    return false;
  }
  if (pfnCreator == nullptr) {
    NYLOG(LOG_LEVEL_OUTCOME, "%s: pfnCreator is NULL", pszOperation);
    return false;
  }
  NyStrCopy(m_table[m_u4Count].szName, sizeof(m_table[m_u4Count].szName), pszName);
  m_table[m_u4Count].pfnCreator = pfnCreator;
  m_table[m_u4Count].failure = failure;
  ++m_u4Count;
  return true;
}

NyActionFailure CNyActionFactory::FailureRule(const char* pszName) const {
  for (uint32_t i = 0; i < m_u4Count; ++i) {
    if (SafeStrCmp(m_table[i].szName, pszName) == 0) return m_table[i].failure;
  }
  return NyActionFailure::Stops;
}

INyAction* CNyActionFactory::CreateAction(CNyXmlConfigItem* pItem) {
  const char* pszName = pItem != nullptr ? pItem->GetName() : "";
  if (pszName[0] == 0) {
    NYLOG(LOG_LEVEL_OUTCOME, "%s error: action node name is NULL", "CNyActionFactory::CreateAction");
    return nullptr;
  }
  for (uint32_t i = 0; i < m_u4Count; ++i) {
    if (SafeStrCmp(m_table[i].szName, pszName) == 0) return m_table[i].pfnCreator(pItem);
  }
  return nullptr;
}
