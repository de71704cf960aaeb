#include "NyActionFactory.h"

#include "NyLog.h"
#include "NyConfigItem.h"
#include "NySafeStr.h"

bool ActionFailureMayPass(NyActionFailure rule, uint32_t u4Result) {
  // 2 is ERROR_FILE_NOT_FOUND: a key that is already gone is what an
  // uninstall wants anyway.
  return u4Result == 0 || rule == NyActionFailure::Passes || (rule == NyActionFailure::PassesIfGone && u4Result == 2);
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
