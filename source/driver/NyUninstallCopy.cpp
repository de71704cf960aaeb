#include "NyUninstallCopy.h"

#include <cwchar>
#include <string>

#include "NyLog.h"
#include "NyFileDelete.h"
#include "NyFreshName.h"
#include "NyHandle.h"
#include "NyProcessUtil.h"
#include "NyTempFolder.h"

namespace {

// How long the copy waits for the launcher to end once it has its code.
constexpr DWORD kLauncherExitWaitMs = 30000;

// A handle value, in decimal, for the copy's command line.
std::wstring HandleText(HANDLE h) { return std::to_wstring(reinterpret_cast<ULONG_PTR>(h)); }

// The copy's exit code as the launcher learns it: the report, or, when the
// copy ended without one, its own exit code (1603 when it had none).
uint32_t AwaitReport(HANDLE hPipe, HANDLE hCopy) {
  uint32_t u4Code = 0;
  DWORD cbRead = 0;
  if (ReadFile(hPipe, &u4Code, sizeof(u4Code), &cbRead, nullptr) && cbRead == sizeof(u4Code)) return u4Code;
  WaitForSingleObject(hCopy, INFINITE);
  DWORD dwExit = 0;
  return GetExitCodeProcess(hCopy, &dwExit) && dwExit != 0 ? dwExit : 1603;
}

}  // namespace

uint32_t RunUninstallationInstance(bool bSilent, const std::wstring& passOn, uint32_t* pu4ExitCode) {
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
  // The copy inherits the pipe's write end and a handle to this process,
  // nothing else: every other handle of the launcher is not inheritable.
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  CNyHandle readEnd, writeEnd, self;
  if (!CreatePipe(readEnd.Put(), writeEnd.Put(), &inherit, sizeof(uint32_t)) ||
      !SetHandleInformation(readEnd.Get(), HANDLE_FLAG_INHERIT, 0) ||
      !DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), self.Put(),
                       SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, TRUE, 0)) {
    const uint32_t u4Result = NYFAIL(GetLastError(), "prepare the hand-over to", copy.c_str());
    DeleteFileW(copy.c_str());
    return u4Result;
  }
  std::wstring command = L"\"" + copy + L"\" /UNINSTALL_COPY" + (bSilent ? L" /S" : L"") + L" /LAUNCHER=" +
                         HandleText(self.Get()) + L"," + HandleText(writeEnd.Get()) + passOn;
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = bSilent ? SW_HIDE : SW_SHOWNORMAL;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(copy.c_str(), &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
    const DWORD dwError = GetLastError();
    NYLOGW(LOG_LEVEL_OUTCOME, L"%s->Run '%s' error!(Ret=0x%08x)", pwszName, copy.c_str(), dwError);
    DeleteFileW(copy.c_str());
    return dwError;
  }
  const CNyHandle process(pi.hProcess), thread(pi.hThread);
  NYLOGW(LOG_LEVEL_OUTCOME, L"%s->Run '%s' OK!", pwszName, copy.c_str());
  // Only the copy holds the write end now: if it ends without a report, the
  // read below ends too.
  writeEnd.Reset();
  *pu4ExitCode = AwaitReport(readEnd.Get(), process.Get());
  NYLOGW(LOG_LEVEL_TRACE, L"%s->the copy reported %u", pwszName, static_cast<unsigned>(*pu4ExitCode));
  return 0;
}

bool CNyLauncherLink::Attach(const wchar_t* pwszValue) {
  wchar_t* pwszEnd = nullptr;
  const auto u8Launcher = static_cast<ULONG_PTR>(wcstoull(pwszValue, &pwszEnd, 10));
  if (pwszEnd == pwszValue || *pwszEnd != L',') return false;
  const wchar_t* pwszPipe = pwszEnd + 1;
  const auto u8Pipe = static_cast<ULONG_PTR>(wcstoull(pwszPipe, &pwszEnd, 10));
  if (pwszEnd == pwszPipe || *pwszEnd != 0) return false;
  const auto hLauncher = reinterpret_cast<HANDLE>(u8Launcher);
  const auto hPipe = reinterpret_cast<HANDLE>(u8Pipe);
  // Handle values on a command line anybody could type: only a process and
  // a pipe are taken.
  const DWORD dwLauncherId = GetProcessId(hLauncher);
  if (dwLauncherId == 0 || dwLauncherId == GetCurrentProcessId() || GetFileType(hPipe) != FILE_TYPE_PIPE) return false;
  // Inherited from the launcher; a program this copy starts must not hold
  // the pipe open for it when the copy ends without a report.
  SetHandleInformation(hLauncher, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(hPipe, HANDLE_FLAG_INHERIT, 0);
  wchar_t wszLauncher[MAX_PATH] = {};
  DWORD cch = MAX_PATH;
  if (!QueryFullProcessImageNameW(hLauncher, 0, wszLauncher, &cch)) return false;
  m_launcher.Reset(hLauncher);
  m_pipe.Reset(hPipe);
  NyDeferDeletionOf(wszLauncher);
  return true;
}

void CNyLauncherLink::Report(uint32_t u4ExitCode) {
  if (!IsAttached()) return;
  DWORD cbWritten = 0;
  if (!WriteFile(m_pipe.Get(), &u4ExitCode, sizeof(u4ExitCode), &cbWritten, nullptr)) {
    NYFAIL(GetLastError(), "WriteFile", "the launcher's pipe");
  }
  m_pipe.Reset();
  if (WaitForSingleObject(m_launcher.Get(), kLauncherExitWaitMs) != WAIT_OBJECT_0) {
    NYFAIL(WAIT_TIMEOUT, "wait for the end of", "the launcher");
  }
  m_launcher.Reset();
  NyFinishDeferredDeletions();
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
