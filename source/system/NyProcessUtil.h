#pragma once
// Process routines: ending processes by program file or id, and starting
// programs through the shell.
#include <windows.h>

#include <cstdint>
#include <string>

// Ends every process started from `path` (a full path, case ignored) or, for
// a bare file name, every process whose program has that name. Processes
// that cannot be opened, named or ended are passed over.
uint32_t KillProcessesByImage(const wchar_t* pwszPath);
// Asks the process's top window to close, then terminates the process; as a
// last resort the system's taskkill is started. TRUE when the process ended
// or the forced kill was started.
BOOL KillProcessById(DWORD dwPid);
// The last resort of KillProcessById: the system's taskkill /F, waited for
// at most 500 ms. TRUE when taskkill could be started.
BOOL ForceKillProcess(DWORD dwPid);
HWND FindTopWindowOfProcess(DWORD dwPid);
BOOL EnableDebugPrivilege();
// Starts a program or document through the shell. dwTimeout in ms: 0 does
// not wait, INFINITE waits without limit.
uint32_t RunShellCommand(const wchar_t* pwszFile, const wchar_t* pwszParameters, BOOL bHidden, DWORD dwTimeout);
// Full path of a program of the system folder (for example L"taskkill.exe").
// System programs are never started by bare name: the current folder of a
// setup run is the temporary folder, which any user can write.
std::wstring SystemProgramPath(const wchar_t* pwszProgram);
