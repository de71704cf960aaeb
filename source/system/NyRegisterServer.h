#pragma once
#include <windows.h>

#include <cstdint>

// Registers (or unregisters) a COM server: an .exe with its own
// /regserver switch, a DLL through the system's regsvr32 of the chosen word
// size. Waits at most 5 s; the registration's own outcome is not checked.
BOOL RegisterServerFile(const wchar_t* pwszPath, BOOL b64Bit, BOOL bRegister);
// The form the File action uses: 0xE0600007 for an empty path, the
// platform's last error when the start failed, else 0.
uint32_t RegisterServerFileResult(const wchar_t* pwszPath, BOOL b64Bit, BOOL bRegister);
