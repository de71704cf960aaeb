#include "NyRegisterServer.h"

#include <string>

#include "NyResult.h"
#include "NySafeStr.h"
#include "NySystem_Win.h"

namespace {

using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);

bool IsWow64() {
  auto pfn = NyGetSystemProcAs<IsWow64ProcessFn>(L"kernel32.dll", "IsWow64Process");
  BOOL bWow64 = FALSE;
  return pfn != nullptr && pfn(GetCurrentProcess(), &bWow64) && bWow64;
}

}  // namespace

BOOL RegisterServerFile(const wchar_t* pwszPath, BOOL b64Bit, BOOL bRegister) {
  if (pwszPath == nullptr || pwszPath[0] == 0) return FALSE;
  const std::wstring path(pwszPath);
  std::wstring command;
  const size_t dot = path.rfind(L'.');
  if (dot != std::wstring::npos && SafeWcsICmp(path.c_str() + dot, L".exe") == 0) {
    command = L"\"" + path + L"\"" + (bRegister ? L" /regserver" : L" /unregserver");
  } else {
    wchar_t wszWindows[MAX_PATH] = {};
    const UINT cch = GetSystemWindowsDirectoryW(wszWindows, MAX_PATH);
    if (cch == 0 || cch >= MAX_PATH) return FALSE;
    const bool bWow64 = IsWow64();
    if (!bWow64 && b64Bit) return FALSE;
    command = wszWindows;
    command += (bWow64 && !b64Bit) ? L"\\SysWow64\\regsvr32.exe" : L"\\System32\\regsvr32.exe";
    if (!bRegister) command += L" /u ";
    command += L" /s \"" + path + L"\"";
  }
  if (command.size() >= 520) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return FALSE;
  }
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return FALSE;
  WaitForSingleObject(pi.hProcess, 5000);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return TRUE;
}

uint32_t RegisterServerFileResult(const wchar_t* pwszPath, BOOL b64Bit, BOOL bRegister) {
  if (pwszPath == nullptr || pwszPath[0] == 0) return NY_E_INVALID_PARAM;
  if (!RegisterServerFile(pwszPath, b64Bit, bRegister)) {
    const uint32_t u4Error = GetLastError();
    return u4Error != 0 ? u4Error : NY_E_INVALID_PARAM;
  }
  return 0;
}
