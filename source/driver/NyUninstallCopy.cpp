#include "NyUninstallCopy.h"

#include <shellapi.h>

#include <string>

#include "Log/NyLog.h"
#include "NyFreshName.h"
#include "NyHandle.h"
#include "NyProcessUtil.h"
#include "NyTempFolder.h"

uint32_t RunUninstallationInstance(bool bSilent) {
  const wchar_t* pwszName = L"CNySetupExec::RunUninstallationInstance";
  wchar_t wszSelf[MAX_PATH] = {};
  const DWORD cchSelf = GetModuleFileNameW(nullptr, wszSelf, MAX_PATH);
  if (cchSelf == 0 || cchSelf >= MAX_PATH) return NYFAIL(GetLastError(), "GetModuleFileNameW", "the running program");
  // A temporary name that nobody can have prepared: the copy runs elevated.
  std::wstring folder, copy;
  if (!GetAvailableTempPath(&folder)) folder.clear();
  const uint32_t u4Copy = CopyToFreshFile(wszSelf, folder, L"Uninstallation_%08X.exe", &copy);
  if (u4Copy != 0) {
    NYLOGW(LOG_LEVEL_OUTCOME, L"%s->Copy '%s' to '%s'!(Ret=0x%08x)", pwszName, wszSelf, copy.c_str(), u4Copy);
    return u4Copy;
  }
  NYLOGW(LOG_LEVEL_TRACE, L"%s->Start progress %s", pwszName, copy.c_str());
  SHELLEXECUTEINFOW sei{};
  sei.cbSize = sizeof(sei);
  sei.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
  sei.lpFile = copy.c_str();
  sei.lpParameters = bSilent ? L"/UNINSTALL_COPY /S" : L"/UNINSTALL_COPY";
  sei.nShow = bSilent ? SW_HIDE : SW_SHOWNORMAL;
  if (!ShellExecuteExW(&sei)) {
    const DWORD dwError = GetLastError();
    NYLOGW(LOG_LEVEL_OUTCOME, L"%s->Run '%s' error!(Ret=0x%08x)", pwszName, copy.c_str(), dwError);
    DeleteFileW(copy.c_str());
    return dwError;
  }
  const CNyHandle process(sei.hProcess);
  NYLOGW(LOG_LEVEL_OUTCOME, L"%s->Run '%s' OK!", pwszName, copy.c_str());
  return 0;
}

BOOL SelfDelete() {
  NYLOG(LOG_LEVEL_TRACE, "Enter CPackHostApp::SelfDelete()...");
  wchar_t wszSelf[MAX_PATH] = {};
  const DWORD cchSelf = GetModuleFileNameW(nullptr, wszSelf, MAX_PATH);
  // The command interpreter of the system folder, not %COMSPEC%: the
  // environment is no place to take a program from for an elevated process.
  const std::wstring shell = SystemProgramPath(L"cmd.exe");
  if (cchSelf == 0 || cchSelf >= MAX_PATH || shell.empty()) {
    NYLOG(LOG_LEVEL_OUTCOME, "Quit CPackHostApp::SelfDelete(), last error: %d.", static_cast<int>(GetLastError()));
    return FALSE;
  }
  MoveFileExW(wszSelf, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  wchar_t wszShort[MAX_PATH] = {};
  const DWORD cchShort = GetShortPathNameW(wszSelf, wszShort, MAX_PATH);
  if (cchShort == 0 || cchShort >= MAX_PATH) {
    NYLOG(LOG_LEVEL_OUTCOME, "Quit CPackHostApp::SelfDelete(), last error: %d.", static_cast<int>(GetLastError()));
    return FALSE;
  }
  std::wstring command = shell + L" /c del " + wszShort;
  NYLOGW(LOG_LEVEL_TRACE, L"Quit CPackHostApp::RunUninstallationCopy(), Create processr, command line: %s.",
         command.c_str());
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr, &si, &pi)) {
    NYLOG(LOG_LEVEL_OUTCOME, "CPackHostApp::SelfDelete()->Failed to call CreateProcess, last error: %d.",
          static_cast<int>(GetLastError()));
    return FALSE;
  }
  const CNyHandle process(pi.hProcess), thread(pi.hThread);
  // The shell runs at idle priority while this process, at high priority,
  // finishes and exits; its "del" then finds the file no longer in use.
  SetPriorityClass(GetCurrentProcess(), HIGH_PRIORITY_CLASS);
  SetFileAttributesW(wszSelf, FILE_ATTRIBUTE_NORMAL);
  SetPriorityClass(process.Get(), IDLE_PRIORITY_CLASS);
  ResumeThread(thread.Get());
  return TRUE;
}
