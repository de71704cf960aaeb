#include "NyFreshName.h"

#include <windows.h>

#include "NyResult.h"
#include "NySafeStr.h"
#include "NySystem_Win.h"

namespace {

// Runs pfnCreate on fresh names until one is created or the draws run out.
template <typename CreateFn>
uint32_t DrawAndCreate(const std::wstring& base, const wchar_t* pwszPattern, std::wstring* pPath, NyRandomFn pfnRandom,
                       CreateFn pfnCreate) {
  for (int nDraw = 0; nDraw < NY_FRESH_NAME_DRAWS; ++nDraw) {
    uint32_t u4Random = 0;
    if (!pfnRandom(&u4Random)) return NY_E_FAIL;
    wchar_t wszName[64] = {};
    if (!NyWcsPrintf(wszName, ARRAYSIZE(wszName), pwszPattern, u4Random)) return NY_E_INVALID_PARAM;
    *pPath = base + wszName;
    if (pPath->size() >= MAX_PATH) return ERROR_FILENAME_EXCED_RANGE;
    if (pfnCreate(*pPath)) return 0;
    const DWORD dwError = GetLastError();
    if (dwError != ERROR_ALREADY_EXISTS && dwError != ERROR_FILE_EXISTS) return dwError;
  }
  return ERROR_ALREADY_EXISTS;
}

}  // namespace

bool NySystemRandom(uint32_t* pu4Value) { return NyGenRandom(pu4Value, sizeof(*pu4Value)); }

uint32_t CreateFreshFolder(const std::wstring& parent, const wchar_t* pwszPattern, std::wstring* pPath,
                           SECURITY_ATTRIBUTES* pSecurity, NyRandomFn pfnRandom) {
  return DrawAndCreate(parent, pwszPattern, pPath, pfnRandom, [pSecurity](const std::wstring& path) {
    return CreateDirectoryW(path.c_str(), pSecurity) != FALSE;
  });
}

uint32_t MoveToFreshName(const std::wstring& path, const wchar_t* pwszPattern, std::wstring* pNewPath,
                         NyRandomFn pfnRandom) {
  return DrawAndCreate(path, pwszPattern, pNewPath, pfnRandom, [&path](const std::wstring& newPath) {
    return MoveFileExW(path.c_str(), newPath.c_str(), 0) != FALSE;
  });
}

uint32_t CopyToFreshFile(const std::wstring& src, const std::wstring& folder, const wchar_t* pwszPattern,
                         std::wstring* pPath, NyRandomFn pfnRandom) {
  return DrawAndCreate(folder, pwszPattern, pPath, pfnRandom, [&src](const std::wstring& path) {
    return CopyFileW(src.c_str(), path.c_str(), TRUE) != FALSE;
  });
}
