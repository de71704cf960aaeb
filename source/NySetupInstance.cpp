// One setup of a product at a time, and the version an earlier install left.
#include "Log/NyLog.h"
#include "NyRegistryUtil.h"
#include "NyResult.h"
#include "NySetupExec.h"
#include "NyShareMem.h"

BOOL CNySetupExec::SetInstance(const wchar_t* pwszName) {
  const char* pszName = "CNySetupExec::SetInstance";
  const std::wstring name = (pwszName != nullptr && pwszName[0] != 0) ? pwszName : m_setupInfo.m_strProductCode.GetWide();
  NYLOG(LOG_LEVEL_TRACE, "+++++ %s...", pszName);
  wchar_t wszFull[MAX_PATH] = {};
  uint32_t u4Result = KernelObjectName(NyKernelObjectKind::Mutex, name.c_str(), false, wszFull, MAX_PATH);
  if (u4Result == 0) {
    HANDLE hExisting = OpenMutexW(SYNCHRONIZE, FALSE, wszFull);
    if (hExisting != nullptr) {
      NYLOG(LOG_LEVEL_OUTCOME, "----- %s instance already exist!", pszName);
      CloseHandle(hExisting);
      return FALSE;
    }
    CNyObjectSecurity security;
    SetLastError(0);
    HANDLE hMutex = CreateMutexW(security.Get(), FALSE, wszFull);
    // Two setups started together may both miss the open; the second one's
    // creation then reports that the mutex already exists.
    u4Result = GetLastError();
    if (hMutex != nullptr && u4Result == 0) {
      m_hInstanceMutex = hMutex;
      NYLOG(LOG_LEVEL_TRACE, "----- %s succeed!", pszName);
      return TRUE;
    }
    if (hMutex != nullptr) CloseHandle(hMutex);
  }
  if (u4Result != 0) NYLOG_RESULT(u4Result);
  NYLOG(LOG_LEVEL_OUTCOME, "----- %s Create Instance Failed(Ret=0x%08x)!", pszName, u4Result);
  return FALSE;
}

BOOL CNySetupExec::CompareInstalledVersion(VersionCompareResult* pResult) const {
  if (m_setupInfo.m_strProductCode.IsEmpty()) {
    NYLOG_RESULT(NY_E_INVALID_PARAM);
    return FALSE;
  }
  RegistryKeyRef ref;
  ref.hRoot = HKEY_LOCAL_MACHINE;
  ref.subKey = std::wstring(L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\") +
               m_setupInfo.m_strProductCode.GetWide();
  ref.valueName = L"DisplayVersion";
  wchar_t wszVersion[4097] = {};
  size_t cch = ARRAYSIZE(wszVersion);
  const uint32_t u4Result = ReadRegistryString(&ref, wszVersion, &cch);
  if (u4Result == ERROR_FILE_NOT_FOUND) {
    *pResult = VERSION_NOT_INSTALLED;
    return TRUE;
  }
  if (u4Result != 0) {
    NYLOG_RESULT(u4Result);
    return FALSE;
  }
  NyFileVersion installed;
  if (!ParseVersionText(wszVersion, &installed)) installed = NyFileVersion();
  const int nCompare = CompareVersions(installed, m_setupInfo.m_version);
  *pResult = nCompare < 0 ? VERSION_INSTALLED_LOWER : (nCompare > 0 ? VERSION_INSTALLED_HIGHER : VERSION_INSTALLED_EQUAL);
  return TRUE;
}
