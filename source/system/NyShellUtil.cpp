#include "NyShellUtil.h"

#include <shlobj.h>
#include <shobjidl.h>

#include <atomic>

#include "NyLog.h"
#include "NyComUtil.h"
#include "NyFileUtil.h"
#include "NyResult.h"
#include "NySafeStr.h"

namespace {

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
                         uint32_t u4Index) {
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
  const uint32_t u4Result = CreateDirectoryTree(wszTree);
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

  SaveLink(pwszSrc, wszWorkDir, pwszIcon, pwszCmdLine, u4Index, wszLink);
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

uint32_t SetTrustedZoneMapping(const wchar_t* pwszUrl, bool bRemove) {
  if (pwszUrl == nullptr || pwszUrl[0] == 0) return NY_E_INVALID_PARAM;
  CNyComPtr<IInternetSecurityManager> security;
  HRESULT hr = CoCreateInstance(CLSID_InternetSecurityManager, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IInternetSecurityManager, security.PutVoid());
  if (FAILED(hr)) return NYFAIL(static_cast<uint32_t>(hr), "CoCreateInstance", "the internet security manager");
  CNyComPtr<IInternetZoneManager> zones;
  hr = CoCreateInstance(CLSID_InternetZoneManager, nullptr, CLSCTX_INPROC_SERVER, IID_IInternetZoneManager,
                        zones.PutVoid());
  if (FAILED(hr)) return NYFAIL(static_cast<uint32_t>(hr), "CoCreateInstance", "the internet zone manager");
  return ApplyTrustedZoneMapping(security.Get(), zones.Get(), pwszUrl, bRemove);
}
