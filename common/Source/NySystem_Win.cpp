#include "NySystem_Win.h"

#include "NySafeStr.h"

HMODULE NyLoadSystemLibrary(const wchar_t* pwszDllName) {
  if (pwszDllName == nullptr || pwszDllName[0] == 0) return nullptr;
  // A bare name would be searched in the program's own folder first; a full
  // path into the system folder is searched nowhere else. LoadLibraryExW
  // with LOAD_LIBRARY_SEARCH_SYSTEM32 would do the same, but it is refused
  // on systems without the KB2533623 loader update.
  wchar_t wszPath[MAX_PATH * 2] = {};
  const UINT cch = GetSystemDirectoryW(wszPath, MAX_PATH);
  if (cch == 0 || cch >= MAX_PATH) return nullptr;
  if (!NyWcsCat(wszPath, ARRAYSIZE(wszPath), L"\\") || !NyWcsCat(wszPath, ARRAYSIZE(wszPath), pwszDllName)) {
    return nullptr;
  }
  return LoadLibraryExW(wszPath, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

FARPROC NyGetSystemProc(const wchar_t* pwszModule, const char* pszProc) {
  HMODULE hModule = GetModuleHandleW(pwszModule);
  return hModule == nullptr ? nullptr : GetProcAddress(hModule, pszProc);
}
