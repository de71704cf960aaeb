#include "NySystem_Win.h"

#include <string>

#include "NyLanguage.h"
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

namespace {

using IsWow64Process2Fn = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);
using Wow64DisableFn = BOOL(WINAPI*)(PVOID*);
using Wow64RevertFn = BOOL(WINAPI*)(PVOID);

bool QueryOs64Bit() {
  SYSTEM_INFO si{};
  GetNativeSystemInfo(&si);
  switch (si.wProcessorArchitecture) {
    case PROCESSOR_ARCHITECTURE_IA64:
    case PROCESSOR_ARCHITECTURE_ALPHA64:
    case PROCESSOR_ARCHITECTURE_AMD64:
    case 12:  // PROCESSOR_ARCHITECTURE_ARM64
      return true;
    default:
      break;
  }
  // An x86 process emulated on ARM64 is told it runs on x86; only
  // IsWow64Process2 reveals the native machine.
  auto pfn = NyGetSystemProcAs<IsWow64Process2Fn>(L"kernel32.dll", "IsWow64Process2");
  USHORT usProcess = 0, usNative = 0;
  return pfn != nullptr && pfn(GetCurrentProcess(), &usProcess, &usNative) && usNative == 0xAA64;
}

// The state saved by the latest switch-off, restored by the next revert.
PVOID g_pvRedirectionState = nullptr;

}  // namespace

bool IsOs64Bit() {
  static const bool bOs64Bit = QueryOs64Bit();
  return bOs64Bit;
}

namespace {

// The 32-bit system folder where the system is 64-bit and lacks it; empty
// everywhere else.
const std::wstring& AbsentWow64Folder() {
  static const std::wstring s_folder = [] {
    if (!IsOs64Bit()) return std::wstring();
    wchar_t wsz[MAX_PATH] = {};
    const UINT cch = GetSystemWow64DirectoryW(wsz, MAX_PATH);
    if (cch == 0 || cch >= MAX_PATH) {
      // A 64-bit Windows answers with the folder's name even where the
      // folder is gone; without one, the standard name is the one scripts use.
      wchar_t wszWindows[MAX_PATH] = {};
      const UINT cchWindows = GetSystemWindowsDirectoryW(wszWindows, MAX_PATH);
      if (cchWindows == 0 || cchWindows >= MAX_PATH) return std::wstring();
      return std::wstring(wszWindows) + L"\\SysWOW64";
    }
    const DWORD dwAttributes = GetFileAttributesW(wsz);
    if (dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      return std::wstring();
    }
    return std::wstring(wsz, cch);
  }();
  return s_folder;
}

}  // namespace

bool Is32BitSubsystemAbsent() { return !AbsentWow64Folder().empty(); }

bool IsIn32BitSystemFolderOfAbsentSubsystem(const wchar_t* pwszPath) {
  const std::wstring& folder = AbsentWow64Folder();
  if (folder.empty() || pwszPath == nullptr) return false;
  const size_t cch = folder.size();
  return _wcsnicmp(pwszPath, folder.c_str(), cch) == 0 && (pwszPath[cch] == L'\\' || pwszPath[cch] == 0);
}

void SetFsRedirection(BOOL bDisable) {
  static const Wow64DisableFn pfnDisable =
      NyGetSystemProcAs<Wow64DisableFn>(L"kernel32.dll", "Wow64DisableWow64FsRedirection");
  static const Wow64RevertFn pfnRevert =
      NyGetSystemProcAs<Wow64RevertFn>(L"kernel32.dll", "Wow64RevertWow64FsRedirection");
  if (pfnDisable == nullptr || pfnRevert == nullptr) return;
  if (bDisable) {
    pfnDisable(&g_pvRedirectionState);
  } else {
    pfnRevert(g_pvRedirectionState);
  }
}

CNyFsRedirectionOff::CNyFsRedirectionOff() {
  if (IsOs64Bit()) SetFsRedirection(TRUE);
}

CNyFsRedirectionOff::~CNyFsRedirectionOff() {
  if (IsOs64Bit()) SetFsRedirection(FALSE);
}

// ---------------------------------------------------------------------------
// The system language.
// ---------------------------------------------------------------------------
uint32_t GetSystemLanguageCode() { return NyLanguageCodeFromLangId(GetSystemDefaultLangID()); }

bool NyGenRandom(void* pvBuffer, ULONG cbBuffer) {
  // RtlGenRandom, exported by advapi32 under this name since Windows XP.
  using RtlGenRandomFn = BOOLEAN(WINAPI*)(PVOID, ULONG);
  static const RtlGenRandomFn pfnGenRandom = NyGetSystemProcAs<RtlGenRandomFn>(L"advapi32.dll", "SystemFunction036");
  return pfnGenRandom != nullptr && pfnGenRandom(pvBuffer, cbBuffer) != FALSE;
}
