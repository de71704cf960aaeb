#pragma once
// The installed uninstaller runs from a temporary copy of itself, so that
// the uninstall list can delete the installed file; the copy deletes its own
// file when it ends.
#include <windows.h>

#include <cstdint>

// Copies the running program to a fresh temporary name and starts the copy
// with "/UNINSTALL_COPY" (and " /S" when silent). Returns 0 or the failing
// step's code.
uint32_t RunUninstallationInstance(bool bSilent);

// Starts a hidden shell that deletes the running program's file once the
// program has ended, and schedules the deletion at restart as a fallback.
BOOL SelfDelete();
