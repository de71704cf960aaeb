#include "NyRegisterServer.h"

#include <string>

#include "NyLog.h"
#include "NyHandle.h"
#include "NyResult.h"
#include "NySafeStr.h"
#include "NySystem_Win.h"

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
    // On a 64-bit system the 32-bit regsvr32 is the SysWOW64 one, for a
    // 32-bit and a 64-bit caller alike.
    const bool bOs64Bit = IsOs64Bit();
    if (!bOs64Bit && b64Bit) return FALSE;
    command = wszWindows;
    command += (bOs64Bit && !b64Bit) ? L"\\SysWow64\\regsvr32.exe" : L"\\System32\\regsvr32.exe";
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
  if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    const DWORD dwError = GetLastError();
    NYFAIL(dwError, "CreateProcessW", command.c_str());
    SetLastError(dwError);
    return FALSE;
  }
  const CNyHandle process(pi.hProcess), thread(pi.hThread);
  WaitForSingleObject(process.Get(), 5000);
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
