#include "NyFileVersion.h"

#include <windows.h>

#include <string>

#include "NyResult.h"
#include "NySafeStr.h"
#include "NyVersionInfo_Win.h"

uint32_t GetFileVersionNumber(const wchar_t* pwszPath, NyFileVersion* pVersion) {
  if (pwszPath == nullptr || pwszPath[0] == 0 || pVersion == nullptr) return NY_E_INVALID_PARAM;
  CNyVersionResource resource;
  uint32_t u4Result = resource.Load(pwszPath);
  if (u4Result != 0) return u4Result;
  WORD wLanguage = 0x0409, wCodePage = 0x04B0;
  const void* pv = nullptr;
  UINT cb = 0;
  u4Result = resource.Query(L"\\VarFileInfo\\Translation", &pv, &cb);
  if (u4Result == 0 && cb >= 4) {
    wLanguage = static_cast<const WORD*>(pv)[0];
    wCodePage = static_cast<const WORD*>(pv)[1];
  } else if (u4Result != 0 && u4Result != ERROR_RESOURCE_TYPE_NOT_FOUND) {
    return u4Result;
  }
  wchar_t wszQuery[64] = {};
  NyWcsPrintf(wszQuery, ARRAYSIZE(wszQuery), L"\\StringFileInfo\\%04x%04x\\FileVersion", wLanguage, wCodePage);
  u4Result = resource.Query(wszQuery, &pv, &cb);
  if (u4Result != 0) return u4Result;
  // The value's length counts characters; a value need not be terminated.
  const std::wstring text(static_cast<const wchar_t*>(pv), wcsnlen(static_cast<const wchar_t*>(pv), cb));
  return ParseVersionText(text.c_str(), pVersion) ? 0 : NY_E_INVALID_DATA;
}
