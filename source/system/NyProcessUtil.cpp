#include "NyProcessUtil.h"

#include <psapi.h>
#include <shellapi.h>

#include <vector>

#include "NyLog.h"
#include "NyPathKey.h"
#include "NyHandle.h"
#include "NyResult.h"
#include "NySafeStr.h"
#include "NySystem_Win.h"

namespace {

using QueryFullProcessImageNameFn = BOOL(WINAPI*)(HANDLE, DWORD, LPWSTR, PDWORD);

// Opens a process with the fuller rights if it may, else with the limited
// ones (a process of another user or a protected one).
HANDLE OpenProcessEither(DWORD dwRights, DWORD dwFallbackRights, DWORD dwPid) {
  HANDLE h = OpenProcess(dwRights, FALSE, dwPid);
  return h != nullptr ? h : OpenProcess(dwFallbackRights, FALSE, dwPid);
}

const wchar_t* FileNamePart(const wchar_t* pwszPath) {
  const wchar_t* pwszName = pwszPath;
  for (const wchar_t* p = pwszPath; *p != 0; ++p)
    if (*p == L'\\' || *p == L'/') pwszName = p + 1;
  return pwszName;
}

// The program path of a process: its main module's file name, or the full
// image name where the module cannot be read (a 64-bit process seen from
// this 32-bit one).
bool ProgramPathOf(DWORD dwPid, QueryFullProcessImageNameFn pfnQueryImage, std::wstring* pPath) {
  CNyHandle process(
      OpenProcessEither(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, PROCESS_QUERY_LIMITED_INFORMATION, dwPid));
  if (!process) return false;
  wchar_t wszPath[MAX_PATH] = {};
  if (GetModuleFileNameExW(process.Get(), nullptr, wszPath, MAX_PATH) == 0) {
    DWORD cch = MAX_PATH;
    if (pfnQueryImage == nullptr || !pfnQueryImage(process.Get(), 0, wszPath, &cch)) return false;
  }
  *pPath = wszPath;
  return true;
}

}  // namespace

std::wstring SystemProgramPath(const wchar_t* pwszProgram) {
  wchar_t wszSystem[MAX_PATH] = {};
  const UINT cch = GetSystemDirectoryW(wszSystem, MAX_PATH);
  if (cch == 0 || cch >= MAX_PATH) return std::wstring();
  return std::wstring(wszSystem) + L"\\" + pwszProgram;
}

BOOL EnableDebugPrivilege() {
  CNyHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.Put())) return FALSE;
  TOKEN_PRIVILEGES tp{};
  tp.PrivilegeCount = 1;
  tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (!LookupPrivilegeValueW(nullptr, L"SeDebugPrivilege", &tp.Privileges[0].Luid)) return FALSE;
  if (!AdjustTokenPrivileges(token.Get(), FALSE, &tp, sizeof(tp), nullptr, nullptr)) return FALSE;
  return GetLastError() == ERROR_NOT_ALL_ASSIGNED ? FALSE : TRUE;
}

HWND FindTopWindowOfProcess(DWORD dwPid) {
  for (HWND hWnd = GetTopWindow(nullptr); hWnd != nullptr; hWnd = GetWindow(hWnd, GW_HWNDNEXT)) {
    DWORD dwOwner = 0;
    GetWindowThreadProcessId(hWnd, &dwOwner);
    if (dwOwner == dwPid) return hWnd;
  }
  return nullptr;
}

BOOL KillProcessById(DWORD dwPid) {
  EnableDebugPrivilege();
  CNyHandle process(OpenProcessEither(PROCESS_TERMINATE | PROCESS_QUERY_INFORMATION | SYNCHRONIZE,
                                      PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, dwPid));
  if (!process) return FALSE;
  if (HWND hWnd = FindTopWindowOfProcess(dwPid)) {
    PostMessageW(hWnd, WM_CLOSE, 0, 0);
    PostMessageW(hWnd, WM_QUIT, 0, 0);
  }
  // Termination completes asynchronously: the process is waited for, for up
  // to a second, instead of being polled.
  TerminateProcess(process.Get(), 0);
  if (WaitForSingleObject(process.Get(), 1000) == WAIT_OBJECT_0) return TRUE;
  return ForceKillProcess(dwPid);
}

BOOL ForceKillProcess(DWORD dwPid) {
  wchar_t wszParameters[32] = {};
  NyWcsPrintf(wszParameters, ARRAYSIZE(wszParameters), L"/F /PID %u", static_cast<unsigned>(dwPid));
  const std::wstring taskkill = SystemProgramPath(L"taskkill.exe");
  if (taskkill.empty()) return FALSE;
  return RunShellCommand(taskkill.c_str(), wszParameters, TRUE, 500) == 0 ? TRUE : FALSE;
}

uint32_t KillProcessesByImage(const wchar_t* pwszPath) {
  static const QueryFullProcessImageNameFn pfnQueryImage =
      NyGetSystemProcAs<QueryFullProcessImageNameFn>(L"kernel32.dll", "QueryFullProcessImageNameW");
  if (pwszPath == nullptr || pwszPath[0] == 0) return NY_E_INVALID_PARAM;
  std::wstring fileName = FileNamePart(pwszPath);
  if (!fileName.empty() && fileName.back() == L'\\') fileName.pop_back();
  const bool bBareName = SafeWcsICmp(pwszPath, fileName.c_str()) == 0;
  // A running program's file cannot be deleted: where no file is, no process
  // runs from it, and the scan of every process is spared.
  if (!bBareName && GetFileAttributesW(pwszPath) == INVALID_FILE_ATTRIBUTES) return 0;
  EnableDebugPrivilege();
  std::vector<DWORD> pids(1024);
  DWORD cbReturned = 0;
  if (!EnumProcesses(pids.data(), static_cast<DWORD>(pids.size() * sizeof(DWORD)), &cbReturned)) {
    return NYFAIL(GetLastError(), "EnumProcesses", pwszPath);
  }
  pids.resize(cbReturned / sizeof(DWORD));
  const std::wstring wantedKey = bBareName ? std::wstring() : NyPathKey(pwszPath);
  for (DWORD dwPid : pids) {
    std::wstring programPath;
    if (!ProgramPathOf(dwPid, pfnQueryImage, &programPath)) continue;
    const bool bMatch = bBareName ? SafeWcsICmp(FileNamePart(programPath.c_str()), fileName.c_str()) == 0
                                  : NyPathKey(programPath) == wantedKey;
    if (bMatch) {
      KillProcessById(dwPid);
    }
  }
  return 0;
}

uint32_t RunShellCommand(const wchar_t* pwszFile, const wchar_t* pwszParameters, BOOL bHidden, DWORD dwTimeout) {
  SHELLEXECUTEINFOW sei{};
  sei.cbSize = sizeof(sei);
  sei.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
  sei.lpFile = pwszFile;
  sei.lpParameters = pwszParameters != nullptr ? pwszParameters : L"";
  sei.nShow = bHidden ? SW_HIDE : SW_SHOWNORMAL;
  if (!ShellExecuteExW(&sei)) return NYFAIL(GetLastError(), "ShellExecuteExW", pwszFile);
  const CNyHandle process(sei.hProcess);
  if (dwTimeout != 0 && process) WaitForSingleObject(process.Get(), dwTimeout);
  return 0;
}
