#include "NyTempFolder.h"

#include <shlobj.h>
#include <shlwapi.h>

#include "NyLog.h"

namespace {

bool Exists(const std::wstring& path) { return !path.empty() && PathFileExistsW(path.c_str()); }

}  // namespace

BOOL GetAvailableTempPath(std::wstring* pFolder) {
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
