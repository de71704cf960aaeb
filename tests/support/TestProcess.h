#pragma once
// Starting and waiting for real processes in Windows tests.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

// The folder of the running test program, with a trailing backslash.
inline std::wstring ExeDir() {
  wchar_t wsz[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, wsz, MAX_PATH);
  std::wstring path(wsz);
  return path.substr(0, path.rfind(L'\\') + 1);
}

// The stand-in program of process tests (tests/support/NyTestHelper.cpp),
// built beside the test folders.
inline std::wstring TestHelperExe() { return ExeDir() + L"..\\support\\ny_test_helper.exe"; }

// Long enough for the slowest step under Wine on a loaded machine: only a
// hang reaches it.
constexpr DWORD kTestDeadlineMs = 120000;

// Polls until the condition holds; a wait that runs out of time fails the
// test, naming what was awaited.
template <typename Condition>
bool WaitFor(const char* pszWhat, Condition condition, DWORD dwDeadlineMs = kTestDeadlineMs) {
  const ULONGLONG u8Start = GetTickCount64();
  while (!condition()) {
    if (GetTickCount64() - u8Start > dwDeadlineMs) {
      ADD_FAILURE() << "gave up after " << dwDeadlineMs / 1000 << " s waiting for " << pszWhat;
      return false;
    }
    Sleep(20);
  }
  return true;
}

// False where the test runner found that this kernel cannot start 32-bit
// programs (it sets NY_KERNEL_32BIT=0); 64-bit tests that need a 32-bit
// helper program of the system then check the failure instead.
inline bool Can32BitProgramsRun() {
  wchar_t wsz[8] = {};
  return !(GetEnvironmentVariableW(L"NY_KERNEL_32BIT", wsz, 8) == 1 && wsz[0] == L'0');
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
    // Wine answers ERROR_INTERNAL_ERROR when the new process died in Wine's
    // own start-up, before any code of the program ran (twice in two days of
    // suite runs, once on an idle machine); a new attempt starts it.
    DWORD dwError = ERROR_INTERNAL_ERROR;
    for (int nAttempt = 0; nAttempt < 3 && dwError == ERROR_INTERNAL_ERROR; ++nAttempt) {
      if (nAttempt > 0) Sleep(100);
      dwError = CreateProcessW(exe.c_str(), &cmd[0], nullptr, nullptr, TRUE, bSuspended ? CREATE_SUSPENDED : 0,
                               nullptr, nullptr, &si, &m_pi)
                    ? ERROR_SUCCESS
                    : GetLastError();
    }
    if (dwError != ERROR_SUCCESS) {
      ADD_FAILURE() << "CreateProcess failed: " << dwError;
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
    if (WaitForSingleObject(m_pi.hProcess, kTestDeadlineMs) != WAIT_OBJECT_0) {
      ADD_FAILURE() << "a started program did not end within " << kTestDeadlineMs / 1000 << " s";
      TerminateProcess(m_pi.hProcess, 1);
      return DWORD(-1);
    }
    DWORD dwCode = DWORD(-1);
    GetExitCodeProcess(m_pi.hProcess, &dwCode);
    return dwCode;
  }

 private:
  PROCESS_INFORMATION m_pi{};
  HANDLE m_hNul = INVALID_HANDLE_VALUE;
};

// Has the test helper hold a file open without sharing. The probe that
// watches for the hold can meet the helper's own open, which then fails with
// a sharing violation: such a helper is started again.
inline std::unique_ptr<Process> HoldFile(const std::wstring& helper, const std::wstring& path) {
  std::unique_ptr<Process> holder;
  WaitFor("the helper to hold the file", [&] {
    if (holder == nullptr || holder->HasEnded()) {
      if (holder != nullptr && holder->Wait() != 1000u + ERROR_SHARING_VIOLATION) {
        ADD_FAILURE() << "the helper could not hold the file";
        return true;
      }
      holder = std::make_unique<Process>(helper, L"hold \"" + path + L"\"");
    }
    HANDLE hProbe = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    if (hProbe != INVALID_HANDLE_VALUE) CloseHandle(hProbe);
    return hProbe == INVALID_HANDLE_VALUE && !holder->HasEnded();
  });
  return holder;
}
