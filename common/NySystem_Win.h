#pragma once
// System queries and loading of system libraries.
#include <windows.h>

// Loads a system DLL from the system folder only. A library of the same name
// planted beside the program, or in the current folder, is never picked up.
// Libraries that are not KnownDLLs (version, crypt32, urlmon, mstask, ...)
// are reached only through this routine.
HMODULE NyLoadSystemLibrary(const wchar_t* pwszDllName);

// An entry point of a library the process has already loaded (kernel32,
// advapi32, ...), resolved at run time so that a missing or stubbed entry
// point on an older system can be told apart before it is called.
FARPROC NyGetSystemProc(const wchar_t* pwszModule, const char* pszProc);

// The same, typed. FARPROC's own type matches no real entry point, so the
// cast goes through a plain pointer.
template <typename Fn>
Fn NyGetSystemProcAs(const wchar_t* pwszModule, const char* pszProc) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(NyGetSystemProc(pwszModule, pszProc)));
}

template <typename Fn>
Fn NyGetProcAs(HMODULE hModule, const char* pszProc) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(hModule, pszProc)));
}

// True on a 64-bit system (x64, IA-64, ARM64), also for this 32-bit process
// running under WOW64 or under ARM64 emulation.
bool IsOs64Bit();

// True on a 64-bit system that has no 32-bit subsystem (no SysWOW64 folder):
// Server Core with WoW64 removed, 64-bit Windows PE. Only a 64-bit process
// can run there.
bool Is32BitSubsystemAbsent();

// True when the path lies in the 32-bit system folder of such a system; a
// step that would write or remove it has nothing to act on.
bool IsIn32BitSystemFolderOfAbsentSubsystem(const wchar_t* pwszPath);

// TRUE switches off, for the calling thread, WOW64's redirection of the
// system folder, so a path under the native system folder names the 64-bit
// files; FALSE switches it back on. Nothing happens where the system has no
// such redirection.
void SetFsRedirection(BOOL bDisable);

// Switches the redirection off for the life of the object that holds it (an
// action, a rollback), on 64-bit systems.
class CNyFsRedirectionOff {
 public:
  CNyFsRedirectionOff();
  ~CNyFsRedirectionOff();
  CNyFsRedirectionOff(const CNyFsRedirectionOff&) = delete;
  CNyFsRedirectionOff& operator=(const CNyFsRedirectionOff&) = delete;
};

// The system's language code, from GetSystemDefaultLangID; see
// NyLanguage.h for the codes.
#include "NyLanguage.h"

// Fills a buffer from the system's cryptographic random source; false when
// the source cannot be had.
bool NyGenRandom(void* pvBuffer, ULONG cbBuffer);
