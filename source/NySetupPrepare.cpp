// Preparation of a setup run and its undoing: the temporary folder, the
// extraction folder, the package, the script and the product facts.
#include <windows.h>
#include <aclapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <memory>

#include "Log/NyLog.h"
#include "MemExtractFiles.h"
#include "NyFileDelete.h"
#include "NyFreshName.h"
#include "NyResult.h"
#include "NySafeStr.h"
#include "NySetupExec.h"
#include "NySystem_Win.h"

namespace {

bool Exists(const std::wstring& path) { return !path.empty() && PathFileExistsW(path.c_str()); }

}  // namespace

BOOL CNySetupExec::GetAvailableTempPath(std::wstring* pFolder) {
  const wchar_t* pwszName = L"CNySetupExec::GetAvailableTempPath()";
  wchar_t wsz[520] = {};
  GetTempPathW(ARRAYSIZE(wsz), wsz);
  NYLOGW(LOG_LEVEL_TRACE, L"%s()->szTempPath = %s", pwszName, wsz);
  if (Exists(wsz)) {
    *pFolder = wsz;
    return TRUE;
  }
  wchar_t wszLong[520] = {};
  GetLongPathNameW(wsz, wszLong, ARRAYSIZE(wszLong));
  NYLOGW(LOG_LEVEL_TRACE, L"%s()->szTempPathL = %s", pwszName, wszLong);
  if (Exists(wszLong)) {
    *pFolder = wszLong;
    return TRUE;
  }
  std::wstring lastResort;
  wchar_t wszWindows[MAX_PATH] = {};
  const UINT cchWindows = GetWindowsDirectoryW(wszWindows, MAX_PATH);
  if (cchWindows != 0 && cchWindows < MAX_PATH && Exists(wszWindows)) {
    lastResort = std::wstring(wszWindows) + L"\\";
    const std::wstring windowsTemp = std::wstring(wszWindows) + L"\\Temp\\";
    NYLOGW(LOG_LEVEL_TRACE, L"%s()->windir path = %s", pwszName, windowsTemp.c_str());
    if (Exists(windowsTemp)) {
      *pFolder = windowsTemp;
      return TRUE;
    }
  }
  wchar_t wszAppData[MAX_PATH] = {};
  if (SHGetSpecialFolderPathW(nullptr, wszAppData, CSIDL_COMMON_APPDATA, FALSE)) {
    const std::wstring appData = std::wstring(wszAppData) + L"\\";
    NYLOGW(LOG_LEVEL_TRACE, L"%s()->common_appdata, path = %s", pwszName, appData.c_str());
    if (Exists(appData)) {
      *pFolder = appData;
      return TRUE;
    }
  }
  NYLOGW(LOG_LEVEL_OUTCOME, L"%s()->common_appdata Failed, path = %s", pwszName, wszAppData);
  if (lastResort.empty()) return FALSE;
  *pFolder = lastResort;
  return TRUE;
}

// A fresh extraction folder: never one that exists already (see NyFreshName).
uint32_t CNySetupExec::PrepareExtractFolder() {
  const std::wstring recorded = m_setupInfo.m_strExtractDir.GetWide();
  if (!recorded.empty() && Exists(recorded)) return 0;
  m_setupInfo.m_strExtractDir.Clear();
  std::wstring temp, folder;
  if (!GetAvailableTempPath(&temp)) return NY_E_FAIL;
  const uint32_t u4Result = CreateFreshFolder(temp, L"NyKeyPackage_%08X\\", &folder);
  if (u4Result == 0) m_setupInfo.m_strExtractDir.Assign(folder.c_str());
  return u4Result;
}

BOOL CNySetupExec::HandleSetupResources(UINT uResourceId, const wchar_t* pwszScriptPath, BOOL bOnlyScript) {
  const char* pszName = "CNySetupExec::HandleSetupResources";
  if (pwszScriptPath == nullptr || pwszScriptPath[0] == 0) {
    NYLOG(LOG_LEVEL_OUTCOME, "CNySetupExec::HandleSetupResources() error: SetupConfigPath can't be NULL");
    return FALSE;
  }
  NYLOG(LOG_LEVEL_TRACE, "+++++ %s...", "CNySetupExec::HandleSetupResources Start!");
  uint32_t u4Result = 0;
  bool bHasCode = true;
  BYTE* pbPackage = nullptr;
  DWORD cbPackage = 0;
  do {
    // Without its own folder nothing is extracted: writing into the current
    // folder instead could overwrite whatever is there.
    u4Result = PrepareExtractFolder();
    if (u4Result != 0) break;
    const std::wstring extractDir = m_setupInfo.m_strExtractDir.GetWide();
    if (!LoadPackageResource(uResourceId, &pbPackage, &cbPackage)) {
      bHasCode = false;
      break;
    }
    CMemExtractFiles extractor(pbPackage, cbPackage);
    CFileInfoArray list;
    if (!extractor.GetFileList(list) ||
        !CMemExtractFiles::ExtractFiles(&extractor, list, bOnlyScript ? pwszScriptPath : L"", extractDir)) {
      bHasCode = false;
      break;
    }
    const CNyString scriptPath((extractDir + pwszScriptPath).c_str());
    u4Result = m_script.Load(scriptPath.GetAnsi());
    if (u4Result != 0) {
      NYLOG_RESULT(u4Result);
      break;
    }
    if (!m_script.InitVariables(m_setupInfo.m_strExtractDir.GetAnsi())) {
      u4Result = NY_E_INVALID_DATA;
      break;
    }
    u4Result = m_script.Update();
    if (u4Result != 0) {
      NYLOG_RESULT(u4Result);
      break;
    }
    CNyString version;
    const struct {
      const char* pszName;
      CNyString* pValue;
    } kFacts[] = {{"ProductCode", &m_setupInfo.m_strProductCode}, {"ProductName", &m_setupInfo.m_strProductName},
                  {"Publisher", &m_setupInfo.m_strPublisher},     {"Version", &version},
                  {"InstallDir", &m_setupInfo.m_strInstallDir}};
    for (const auto& fact : kFacts) {
      u4Result = m_script.GetValue(fact.pszName, fact.pValue);
      if (u4Result == 0 && fact.pValue == &version && !ParseVersionText(version.GetWide(), &m_setupInfo.m_version)) {
        m_setupInfo.m_version = NyFileVersion();
        u4Result = 0xFFFFFFFF;
      }
      if (u4Result != 0) {
        NYLOG_RESULT(u4Result);
        break;
      }
    }
  } while (false);
  delete[] pbPackage;
  if (u4Result == 0 && bHasCode) {
    NYLOG(LOG_LEVEL_TRACE, "----- %s... end successfully", pszName);
    return TRUE;
  }
  m_u4LastResult = bHasCode ? u4Result : NY_E_INVALID_DATA;
  if (bHasCode) {
    NYLOG(LOG_LEVEL_OUTCOME, "----- %s... failed end, ret = 0x%08x", pszName, u4Result);
  } else {
    NYLOG(LOG_LEVEL_OUTCOME, "----- %s... failed end", pszName);
  }
  return FALSE;
}

BOOL CNySetupExec::IsAdministrator() {
  if (!ImpersonateSelf(SecurityImpersonation)) return FALSE;
  HANDLE hToken = nullptr;
  if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &hToken)) {
    if (GetLastError() != ERROR_NO_TOKEN || !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &hToken)) {
      RevertToSelf();
      return FALSE;
    }
  }
  SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
  PSID pAdministrators = nullptr;
  BOOL bAccess = FALSE;
  if (AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0,
                               0, &pAdministrators)) {
    constexpr DWORD kAccessRead = 1, kAccessWrite = 2;
    const DWORD cbAcl = sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(pAdministrators) - sizeof(DWORD);
    std::unique_ptr<BYTE[]> acl(new BYTE[cbAcl]);
    PACL pAcl = reinterpret_cast<PACL>(acl.get());
    SECURITY_DESCRIPTOR sd;
    GENERIC_MAPPING mapping = {kAccessRead, kAccessWrite, 0, kAccessRead | kAccessWrite};
    PRIVILEGE_SET privileges;
    DWORD cbPrivileges = sizeof(privileges);
    DWORD dwGranted = 0;
    if (InitializeAcl(pAcl, cbAcl, ACL_REVISION2) &&
        AddAccessAllowedAce(pAcl, ACL_REVISION2, kAccessRead | kAccessWrite, pAdministrators) &&
        InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION) &&
        SetSecurityDescriptorDacl(&sd, TRUE, pAcl, FALSE) && SetSecurityDescriptorGroup(&sd, pAdministrators, FALSE) &&
        SetSecurityDescriptorOwner(&sd, pAdministrators, FALSE) && IsValidSecurityDescriptor(&sd) &&
        !AccessCheck(&sd, hToken, kAccessRead, &mapping, &privileges, &cbPrivileges, &dwGranted, &bAccess)) {
      bAccess = FALSE;
    }
    FreeSid(pAdministrators);
  }
  CloseHandle(hToken);
  if (!RevertToSelf()) bAccess = FALSE;
  return bAccess;
}

BOOL CNySetupExec::Clear() {
  if (m_hInstanceMutex != nullptr) {
    ReleaseMutex(m_hInstanceMutex);
    if (!CloseHandle(m_hInstanceMutex)) {
      NYLOG(LOG_LEVEL_OUTCOME, "----- %s NyMutexDestory Failed!", "CNySetupExec::Clear");
    }
    m_hInstanceMutex = nullptr;
  }
  const std::wstring extractDir = m_setupInfo.m_strExtractDir.GetWide();
  if (!extractDir.empty()) {
    std::wstring folder = extractDir;
    if (folder.back() == L'\\') folder.pop_back();
    DeleteDirectoryTree(folder, nullptr);
  }
  return SelfDelete();
}
