#include "NyShellUtil.h"

#include <shlobj.h>
#include <shobjidl.h>

#include <atomic>

#include "NyLog.h"
#include "NyComUtil.h"
#include "NyFileUtil.h"
#include "NyResult.h"
#include "NySafeStr.h"

uint32_t INyZoneChanges::ChangingZoneMapping(IInternetSecurityManager*, IInternetZoneManager*) { return 0; }

namespace {

INyZoneChanges& NyZoneChangesOrNone(INyZoneChanges* pChanges) {
  static INyZoneChanges none;
  return pChanges != nullptr ? *pChanges : none;
}

std::atomic<bool> g_bAssociationsNotified{false};

bool EndsWithLnk(const wchar_t* pwszPath) {
  const size_t cch = SafeWcsLen(pwszPath);
  return cch >= 4 && SafeWcsICmp(pwszPath + cch - 4, L".lnk") == 0;
}

void SaveLink(const wchar_t* pwszSrc, const wchar_t* pwszWorkDir, const wchar_t* pwszIcon, const wchar_t* pwszCmdLine,
              uint32_t u4Index, const wchar_t* pwszLinkPath) {
  CNyComInit com;
  if (!com.IsUsable()) return;
  CNyComPtr<IShellLinkW> link;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.PutVoid()))) {
    return;
  }
  link->SetPath(pwszSrc);
  link->SetWorkingDirectory(pwszWorkDir);
  link->SetShowCmd(SW_SHOW);
  link->SetIconLocation(pwszIcon[0] != 0 ? pwszIcon : pwszSrc, static_cast<int>(u4Index));
  if (pwszCmdLine[0] != 0) link->SetArguments(pwszCmdLine);
  CNyComPtr<IPersistFile> file;
  if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, file.PutVoid()))) {
    wchar_t wszLinkPath[500] = {};
    NyWcsCopy(wszLinkPath, ARRAYSIZE(wszLinkPath), pwszLinkPath);
    const HRESULT hr = file->Save(wszLinkPath, TRUE);
    if (FAILED(hr)) NYFAIL(static_cast<uint32_t>(hr), "IPersistFile::Save", wszLinkPath);
  }
}

}  // namespace

void NotifyAssociationsChanged(UINT uFlags) {
  SHChangeNotify(SHCNE_ASSOCCHANGED, uFlags, nullptr, nullptr);
  g_bAssociationsNotified.store(true);
}

bool AssociationsJustNotified() { return g_bAssociationsNotified.load(); }

void ForgetAssociationsNotified() { g_bAssociationsNotified.store(false); }

uint32_t CreateShellLink(const wchar_t* pwszRootPath, const wchar_t* pwszSubDirName, const wchar_t* pwszName,
                         const wchar_t* pwszSrc, const wchar_t* pwszIcon, const wchar_t* pwszCmdLine,
                         uint32_t u4Index, INyFileChanges* pChanges) {
  wchar_t wszFolder[MAX_PATH] = {};
  NyWcsCopy(wszFolder, ARRAYSIZE(wszFolder), pwszRootPath);
  NyWcsCat(wszFolder, ARRAYSIZE(wszFolder), L"\\");
  NyWcsCat(wszFolder, ARRAYSIZE(wszFolder), pwszSubDirName);
  // The tree routine takes a path with a dot for a file path and leaves out
  // its last part; a closing backslash makes a dotted folder name such as
  // "Zorvak 6.4" (or a dotted user profile) a folder all the same.
  wchar_t wszTree[MAX_PATH] = {};
  NyWcsCopy(wszTree, ARRAYSIZE(wszTree), wszFolder);
  if (wszTree[SafeWcsLen(wszTree) - 1] != L'\\') NyWcsCat(wszTree, ARRAYSIZE(wszTree), L"\\");
  uint32_t u4Result = CreateDirectoryTree(wszTree, pChanges);
  if (u4Result != 0) return u4Result;

  wchar_t wszLink[MAX_PATH] = {};
  NyWcsCopy(wszLink, ARRAYSIZE(wszLink), wszFolder);
  NyWcsCat(wszLink, ARRAYSIZE(wszLink), L"\\");
  NyWcsCat(wszLink, ARRAYSIZE(wszLink), pwszName);
  if (!EndsWithLnk(wszLink)) NyWcsCat(wszLink, ARRAYSIZE(wszLink), L".lnk");

  wchar_t wszWorkDir[MAX_PATH] = {};
  NyWcsCopy(wszWorkDir, ARRAYSIZE(wszWorkDir), pwszSrc);
  wchar_t* pwszLastSlash = wcsrchr(wszWorkDir, L'\\');
  if (pwszLastSlash != nullptr) *pwszLastSlash = 0;

  std::wstring backup;
  u4Result = NyFileChangesOrNone(pChanges).SettingAside(wszLink, GetFileAttributesW(wszLink) != INVALID_FILE_ATTRIBUTES,
                                                        &backup);
  if (u4Result != 0) return u4Result;
  if (!backup.empty() && !MoveFileExW(wszLink, backup.c_str(), 0)) return NYFAIL(GetLastError(), "MoveFileExW", wszLink);
  SaveLink(pwszSrc, wszWorkDir, pwszIcon, pwszCmdLine, u4Index, wszLink);
  // A link the shell did not save leaves the one that was there in place.
  if (!backup.empty() && GetFileAttributesW(wszLink) == INVALID_FILE_ATTRIBUTES) {
    MoveFileExW(backup.c_str(), wszLink, 0);
  }
  return 0;
}

uint32_t ApplyTrustedZoneMapping(IInternetSecurityManager* pSecurity, IInternetZoneManager* pZones,
                                 const wchar_t* pwszUrl, bool bRemove) {
  const DWORD dwFlags = bRemove ? SZM_DELETE : SZM_CREATE;
  ZONEATTRIBUTES attributes{};
  attributes.cbSize = sizeof(attributes);
  pZones->GetZoneAttributes(NY_TRUSTED_ZONE, &attributes);
  if ((attributes.dwFlags & NY_ZONE_REQUIRE_VERIFICATION) == 0) {
    return static_cast<uint32_t>(pSecurity->SetZoneMapping(NY_TRUSTED_ZONE, pwszUrl, dwFlags));
  }
  attributes.dwFlags &= ~NY_ZONE_REQUIRE_VERIFICATION;
  pZones->SetZoneAttributes(NY_TRUSTED_ZONE, &attributes);
  const HRESULT hr = pSecurity->SetZoneMapping(NY_TRUSTED_ZONE, pwszUrl, dwFlags);
  attributes.dwFlags |= NY_ZONE_REQUIRE_VERIFICATION;
  pZones->SetZoneAttributes(NY_TRUSTED_ZONE, &attributes);
  return static_cast<uint32_t>(hr);
}

uint32_t CreateZoneManagers(CNyComPtr<IInternetSecurityManager>* pSecurity, CNyComPtr<IInternetZoneManager>* pZones) {
  HRESULT hr = CoCreateInstance(CLSID_InternetSecurityManager, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IInternetSecurityManager, pSecurity->PutVoid());
  if (FAILED(hr)) return NYFAIL(static_cast<uint32_t>(hr), "CoCreateInstance", "the internet security manager");
  hr = CoCreateInstance(CLSID_InternetZoneManager, nullptr, CLSCTX_INPROC_SERVER, IID_IInternetZoneManager,
                        pZones->PutVoid());
  if (FAILED(hr)) return NYFAIL(static_cast<uint32_t>(hr), "CoCreateInstance", "the internet zone manager");
  return 0;
}

uint32_t SetTrustedZoneMapping(const wchar_t* pwszUrl, bool bRemove, INyZoneChanges* pChanges) {
  if (pwszUrl == nullptr || pwszUrl[0] == 0) return NY_E_INVALID_PARAM;
  CNyComPtr<IInternetSecurityManager> security;
  CNyComPtr<IInternetZoneManager> zones;
  uint32_t u4Result = CreateZoneManagers(&security, &zones);
  if (u4Result == 0) u4Result = NyZoneChangesOrNone(pChanges).ChangingZoneMapping(security.Get(), zones.Get());
  if (u4Result != 0) return u4Result;
  return ApplyTrustedZoneMapping(security.Get(), zones.Get(), pwszUrl, bRemove);
}

uint32_t ReadTrustedZoneState(IInternetSecurityManager* pSecurity, IInternetZoneManager* pZones,
                              const wchar_t* pwszUrl, NyTrustedZoneState* pState) {
  ZONEATTRIBUTES attributes{};
  attributes.cbSize = sizeof(attributes);
  const HRESULT hr = pZones->GetZoneAttributes(NY_TRUSTED_ZONE, &attributes);
  if (FAILED(hr)) return NYFAIL(static_cast<uint32_t>(hr), "IInternetZoneManager::GetZoneAttributes", L"Trusted Sites");
  pState->dwFlags = attributes.dwFlags;
  pState->mapped = NyZoneMapped::Unknown;
  // Wine's security manager cannot list a zone's mappings (E_NOTIMPL).
  CNyComPtr<IEnumString> mappings;
  if (FAILED(pSecurity->GetZoneMappings(NY_TRUSTED_ZONE, mappings.Put(), 0)) || !mappings) return 0;
  pState->mapped = NyZoneMapped::No;
  for (;;) {
    LPOLESTR pwszPattern = nullptr;
    ULONG ulGot = 0;
    if (mappings->Next(1, &pwszPattern, &ulGot) != S_OK || ulGot == 0) break;
    const bool bSame = SafeWcsICmp(pwszPattern, pwszUrl) == 0;
    CoTaskMemFree(pwszPattern);
    if (bSame) {
      pState->mapped = NyZoneMapped::Yes;
      break;
    }
  }
  return 0;
}

uint32_t RestoreTrustedZoneState(IInternetSecurityManager* pSecurity, IInternetZoneManager* pZones,
                                 const wchar_t* pwszUrl, bool bRemoved, const NyTrustedZoneState& state) {
  uint32_t u4First = 0;
  // A removed mapping that was there, or an added one that was not: the
  // opposite change puts it back. "Exists" and "not found" say it is back.
  if (state.mapped != NyZoneMapped::Unknown && (state.mapped == NyZoneMapped::Yes) == bRemoved) {
    const uint32_t u4Result = ApplyTrustedZoneMapping(pSecurity, pZones, pwszUrl, !bRemoved);
    if (u4Result != 0 && u4Result != static_cast<uint32_t>(HRESULT_FROM_WIN32(ERROR_FILE_EXISTS)) &&
        u4Result != static_cast<uint32_t>(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND))) {
      u4First = NYFAIL(u4Result, "IInternetSecurityManager::SetZoneMapping", pwszUrl);
    }
  }
  // A run that died while the mapping was made left the flag cleared.
  ZONEATTRIBUTES attributes{};
  attributes.cbSize = sizeof(attributes);
  HRESULT hr = pZones->GetZoneAttributes(NY_TRUSTED_ZONE, &attributes);
  if (FAILED(hr)) return NYFAIL(static_cast<uint32_t>(hr), "IInternetZoneManager::GetZoneAttributes", L"Trusted Sites");
  if (((attributes.dwFlags ^ state.dwFlags) & NY_ZONE_REQUIRE_VERIFICATION) == 0) return u4First;
  attributes.dwFlags ^= NY_ZONE_REQUIRE_VERIFICATION;
  hr = pZones->SetZoneAttributes(NY_TRUSTED_ZONE, &attributes);
  if (FAILED(hr)) return NYFAIL(static_cast<uint32_t>(hr), "IInternetZoneManager::SetZoneAttributes", L"Trusted Sites");
  return u4First;
}
