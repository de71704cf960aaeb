#include "NyActionFactory.h"

#include <new>

#include "ActionBuiltIn/NyActionAddRegister.h"
#include "ActionBuiltIn/NyActionAddTrustedSite.h"
#include "ActionBuiltIn/NyActionCreateShortcut.h"
#include "ActionBuiltIn/NyActionDelRegister.h"
#include "ActionBuiltIn/NyActionDelTrustedSite.h"
#include "ActionBuiltIn/NyActionDeleteDir.h"
#include "ActionBuiltIn/NyActionDeleteFile.h"
#include "ActionBuiltIn/NyActionFile.h"
#include "ActionBuiltIn/NyActionKillProcess.h"
#include "ActionBuiltIn/NyActionRegCertFile.h"
#include "ActionBuiltIn/NyActionRunRegFile.h"
#include "ActionBuiltIn/NyActionSetAppTaskScheduler.h"
#include "ActionBuiltIn/NyActionStartProcess.h"
#include "ActionBuiltIn/NyActionUnRegCert.h"
#include "Log/NyLog.h"
#include "NyConfigItem.h"
#include "NySafeStr.h"

namespace {

template <typename T>
INyAction* Create(CNyXmlConfigItem* pItem) {
  return new (std::nothrow) T(pItem);
}

}  // namespace

CNyActionFactory::CNyActionFactory() {
  AddNyAction("KillProcess", Create<CNyActionKillProcess>);
  AddNyAction("StartProcess", Create<CNyActionStartProcess>);
  AddNyAction("File", Create<CNyActionFile>);
  AddNyAction("DelFile", Create<CNyActionDeleteFile>);
  AddNyAction("DelDir", Create<CNyActionDeleteDir>);
  AddNyAction("CreateShortcut", Create<CNyActionCreateShortcut>);
  AddNyAction("AddRegister", Create<CNyActionAddRegister>);
  AddNyAction("RunRegFile", Create<CNyActionRunRegFile>);
  AddNyAction("DelRegister", Create<CNyActionDelRegister>);
  AddNyAction("AddTrustedSite", Create<CNyActionAddTrustedSite>);
  AddNyAction("DelTrustedSite", Create<CNyActionDelTrustedSite>);
  AddNyAction("RegCertFile", Create<CNyActionRegCertFile>);
  AddNyAction("UnRegCert", Create<CNyActionUnRegCert>);
  AddNyAction("SetAppTaskScheduler", Create<CNyActionSetAppTaskScheduler>);
}

bool CNyActionFactory::AddNyAction(const char* pszName, ActionCreatorFunc pfnCreator) {
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
  ++m_u4Count;
  return true;
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
