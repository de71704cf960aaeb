#pragma once
// The temporary folder a setup works in.
#include <windows.h>

#include <string>

// The first existing of: the user's temporary folder, Windows\Temp, the
// common application data folder, the Windows folder. Ends in '\'.
BOOL GetAvailableTempPath(std::wstring* pFolder);
