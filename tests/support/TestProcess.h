#pragma once
// Starting and waiting for real processes in Windows tests.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

// The folder of the running test program, with a trailing backslash.
inline std::wstring ExeDir() {
  wchar_t wsz[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, wsz, MAX_PATH);
  std::wstring path(wsz);
  return path.substr(0, path.rfind(L'\\') + 1);
}

// False where the test runner found that this machine cannot start 32-bit
// programs (the runner sets NY_32BIT=0); 64-bit tests that need a 32-bit
// helper program of the system then check the failure instead.
inline bool Can32BitProgramsRun() {
  wchar_t wsz[8] = {};
  return !(GetEnvironmentVariableW(L"NY_32BIT", wsz, 8) == 1 && wsz[0] == L'0');
}

// A process started for a test; its output is discarded.
class Process {
 public:
  Process(const std::wstring& exe, const std::wstring& args, bool bSuspended = false) {
    std::wstring cmd = L"\"" + exe + L"\" " + args;
    // A started program's console output goes nowhere: tests check the
    // files it writes and its exit code.
    SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
    m_hNul = CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = m_hNul;
    si.hStdError = m_hNul;
    if (!CreateProcessW(exe.c_str(), &cmd[0], nullptr, nullptr, TRUE, bSuspended ? CREATE_SUSPENDED : 0, nullptr,
                        nullptr, &si, &m_pi)) {
      ADD_FAILURE() << "CreateProcess failed: " << GetLastError();
      m_pi = PROCESS_INFORMATION{};
    }
  }
  // A program still running when its test ends (a failed test) is ended,
  // so that it cannot disturb the next test.
  ~Process() {
    if (m_pi.hProcess != nullptr && !HasEnded()) TerminateProcess(m_pi.hProcess, 1);
    if (m_pi.hThread != nullptr) CloseHandle(m_pi.hThread);
    if (m_pi.hProcess != nullptr) CloseHandle(m_pi.hProcess);
    if (m_hNul != INVALID_HANDLE_VALUE) CloseHandle(m_hNul);
  }
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  DWORD Pid() const { return m_pi.dwProcessId; }
  HANDLE Handle() const { return m_pi.hProcess; }
  void Resume() { ResumeThread(m_pi.hThread); }
  bool HasEnded() const { return m_pi.hProcess == nullptr || WaitForSingleObject(m_pi.hProcess, 0) == WAIT_OBJECT_0; }
  DWORD Wait() {
    if (m_pi.hProcess == nullptr) return DWORD(-1);
    WaitForSingleObject(m_pi.hProcess, INFINITE);
    DWORD dwCode = DWORD(-1);
    GetExitCodeProcess(m_pi.hProcess, &dwCode);
    return dwCode;
  }

 private:
  PROCESS_INFORMATION m_pi{};
  HANDLE m_hNul = INVALID_HANDLE_VALUE;
};
