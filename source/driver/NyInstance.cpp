#include "NyInstance.h"

#include <utility>

#include "NyLog.h"
#include "NyRegistryUtil.h"
#include "NyResult.h"
#include "NyShareMem.h"

BOOL CNyInstanceMutex::Acquire(const wchar_t* pwszName) {
  const char* pszName = "CNySetupExec::SetInstance";
  NYLOG(LOG_LEVEL_TRACE, "+++++ %s...", pszName);
  wchar_t wszFull[MAX_PATH] = {};
  uint32_t u4Result = KernelObjectName(NyKernelObjectKind::Mutex, pwszName, false, wszFull, MAX_PATH);
  if (u4Result == 0) {
    CNyHandle existing(OpenMutexW(SYNCHRONIZE, FALSE, wszFull));
    if (existing) {
      NYLOG(LOG_LEVEL_OUTCOME, "----- %s instance already exist!", pszName);
      return FALSE;
    }
    CNyObjectSecurity security;
    SetLastError(0);
    CNyHandle mutex(CreateMutexW(security.Get(), FALSE, wszFull));
    // Two setups started together may both miss the open; the second one's
    // creation then reports that the mutex already exists.
    u4Result = GetLastError();
    if (mutex && u4Result == 0) {
      m_mutex = std::move(mutex);
      NYLOG(LOG_LEVEL_TRACE, "----- %s succeed!", pszName);
      return TRUE;
    }
  }
  if (u4Result != 0) NYLOG_RESULT(u4Result);
  NYLOG(LOG_LEVEL_OUTCOME, "----- %s Create Instance Failed(Ret=0x%08x)!", pszName, u4Result);
  return FALSE;
}

BOOL CNyInstanceMutex::Release() {
  if (!m_mutex) return TRUE;
  ReleaseMutex(m_mutex.Get());
  return CloseHandle(m_mutex.Detach());
}

BOOL CompareInstalledVersion(const CNySetupInfo& info, VersionCompareResult* pResult) {
  if (info.m_strProductCode.IsEmpty()) {
    NYLOG_RESULT(NY_E_INVALID_PARAM);
    return FALSE;
  }
  RegistryKeyRef ref;
  ref.hRoot = HKEY_LOCAL_MACHINE;
  ref.subKey = std::wstring(L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\") +
               info.m_strProductCode.GetWide();
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
  const int nCompare = CompareVersions(installed, info.m_version);
  *pResult = nCompare < 0 ? VERSION_INSTALLED_LOWER : (nCompare > 0 ? VERSION_INSTALLED_HIGHER : VERSION_INSTALLED_EQUAL);
  return TRUE;
}
