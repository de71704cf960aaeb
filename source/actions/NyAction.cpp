#include "NyAction.h"

#include <cstdarg>

#include "NyLog.h"
#include "NyLogRecord.h"
#include "NyConfigItem.h"
#include "NyResult.h"
#include "NySafeStr.h"
#include "NySystem_Win.h"

bool ApplyOsFilter(const CNyString& os) {
  const char* pszOs = os.GetAnsi();
  if (pszOs[0] == 0) return true;
  return SafeStrCmp(pszOs, IsOs64Bit() ? "os64" : "os32") == 0;
}

void CNyAction::QualifiedName(const char* pszOperation, char* pszName, size_t cchName) const {
  NyStrPrintf(pszName, cchName, "%s::%s", ClassName(), pszOperation);
}

void CNyAction::Log(uint32_t u4Level, int nLine, const char* pszFormat, ...) const {
  char szText[NY_LOG_MAX_TEXT + 1];
  va_list args;
  va_start(args, pszFormat);
  NyStrVPrintf(szText, sizeof(szText), pszFormat, &args);
  va_end(args);
  NyLogText(u4Level, SourceFile(), nLine, szText);
}

uint32_t CNyAction::ReadRequired(const char* pszName, CNyString* pValue, const char* pszEcho) {
  pValue->Clear();
  const uint32_t u4Result = m_pConfigItem->GetAttribute(pszName, pValue);
  if (u4Result != 0) return u4Result;
  char szName[128];
  QualifiedName("LoadConfig", szName, sizeof(szName));
  if (pszEcho != nullptr) Log(LOG_LEVEL_TRACE, __LINE__, pszEcho, szName, pValue->GetAnsi());
  return pValue->IsEmpty() ? NY_E_INVALID_PARAM : 0;
}

uint32_t CNyAction::ReadOptional(const char* pszName, CNyString* pValue, const char* pszEcho) {
  pValue->Clear();
  const uint32_t u4Result = m_pConfigItem->GetAttribute(pszName, pValue);
  if (u4Result != 0) {
    pValue->Clear();
    return u4Result;
  }
  char szName[128];
  QualifiedName("LoadConfig", szName, sizeof(szName));
  if (pszEcho != nullptr) Log(LOG_LEVEL_TRACE, __LINE__, pszEcho, szName, pValue->GetAnsi());
  return 0;
}

bool CNyAction::ReadBool(const char* pszName, bool bDefault) {
  return m_pConfigItem->GetAttributeBool(pszName, bDefault);
}

uint32_t CNyAction::LoadConfig(uint32_t bForce) {
  char szName[128];
  QualifiedName("LoadConfig", szName, sizeof(szName));
  Log(LOG_LEVEL_TRACE, __LINE__, "+++++ %s...", szName);
  uint32_t u4Result = 0;
  if (m_pConfigItem == nullptr) {
    u4Result = NY_E_INVALID_PARAM;
  } else if (m_bLoaded == 0 || bForce == 1) {
    u4Result = ReadAttributes();
  }
  m_bLoaded = u4Result == 0 ? 1 : 0;
  if (u4Result == 0) {
    Log(LOG_LEVEL_TRACE, __LINE__, "----- %s end succesfully", szName);
  } else {
    Log(LOG_LEVEL_OUTCOME, __LINE__, "----- %s failed(Ret=0x%08x)!", szName, u4Result);
  }
  return u4Result;
}

uint32_t CNyAction::GetDescription(CNyXmlConfigItem* pDescRoot, CNySetupInfo*, CNyString* pText) {
  char szName[128];
  QualifiedName("GetDescription", szName, sizeof(szName));
  Log(LOG_LEVEL_TRACE, __LINE__, "+++++ %s...", szName);
  uint32_t u4Result = LoadConfig(0);
  CNyXmlConfigItem* pTemplate = nullptr;
  if (u4Result == 0 && (pDescRoot == nullptr || pText == nullptr)) u4Result = NY_E_INVALID_PARAM;
  if (u4Result == 0) {
    pTemplate = pDescRoot->FindChild(ElementName());
    if (pTemplate == nullptr) {
      Log(LOG_LEVEL_OUTCOME, __LINE__, "----- %s failed(Ret=0x%08x)!", szName, NY_E_NO_TEMPLATE);
      return NY_E_NO_TEMPLATE;
    }
    u4Result = pTemplate->GetText(pText);
  }
  if (u4Result != 0) {
    Log(LOG_LEVEL_ERROR, __LINE__, "u4Result = %08X", u4Result);
    Log(LOG_LEVEL_OUTCOME, __LINE__, "----- %s failed(Ret=0x%08x)!", szName, u4Result);
    return u4Result;
  }
  CompleteDescription(pText);
  Log(LOG_LEVEL_TRACE, __LINE__, "----- %s end succesfully", szName);
  return 0;
}

uint32_t CNyAction::Do(CNySetupInfo* pSetupInfo) {
  char szName[128];
  QualifiedName("Do", szName, sizeof(szName));
  const bool bFrame = LogsDoFrame();
  if (bFrame) Log(LOG_LEVEL_TRACE, __LINE__, "+++++ %s...", szName);
  uint32_t u4Result = LoadConfig(0);
  if (u4Result == 0) {
    const CNyString* pOs = OsAttribute();
    if (pOs != nullptr && !ApplyOsFilter(*pOs)) {
      if (bFrame) Log(LOG_LEVEL_TRACE, __LINE__, "----- %s end succesfully", szName);
      return 0;
    }
    const CNyString* pTarget = TargetPath();
    if (pTarget != nullptr && IsIn32BitSystemFolderOfAbsentSubsystem(pTarget->GetWide())) {
      Log(LOG_LEVEL_OUTCOME, __LINE__, "%s skipped: %s is in the 32-bit system folder, and this system has no 32-bit subsystem",
          szName, pTarget->GetAnsi());
      if (bFrame) Log(LOG_LEVEL_TRACE, __LINE__, "----- %s end succesfully", szName);
      return 0;
    }
    u4Result = Execute(pSetupInfo);
  }
  if (u4Result != 0) {
    Log(LOG_LEVEL_ERROR, __LINE__, "u4Result = %08X", u4Result);
    if (bFrame) Log(LOG_LEVEL_OUTCOME, __LINE__, "----- %s failed(Ret=0x%08x)!", szName, u4Result);
    return u4Result;
  }
  if (bFrame) Log(LOG_LEVEL_TRACE, __LINE__, "----- %s end succesfully", szName);
  return 0;
}
