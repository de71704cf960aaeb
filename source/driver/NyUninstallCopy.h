#pragma once
// The installed uninstaller runs from a temporary copy of itself, so that
// the uninstall list can delete the installed file; the copy deletes its own
// file when it ends.
//
// The hand-over: the launcher (the installed file) starts the copy with an
// inherited handle to itself and the write end of a pipe, and waits. The
// copy uninstalls; the uninstall moves the launcher's file, which is in use,
// aside. The copy writes its exit code into the pipe, the launcher ends with
// that code, and the copy then deletes the launcher's file and its own.
#include <windows.h>

#include <cstdint>
#include <string>

#include "NyHandle.h"

// The launcher's side: copies the running program to a fresh temporary name,
// starts the copy with "/UNINSTALL_COPY" (and " /S" when silent), the
// hand-over and passOn (further switches for the copy), and waits for the
// copy's exit code (*pu4ExitCode). Returns 0 or the failing step's code.
uint32_t RunUninstallationInstance(bool bSilent, const std::wstring& passOn, uint32_t* pu4ExitCode);

// The copy's side of the hand-over.
class CNyLauncherLink {
 public:
  // The value of "/LAUNCHER=": the launcher's process handle and the pipe's
  // write end, in hexadecimal, comma between. False for anything that is no
  // launcher's hand-over.
  bool Attach(const wchar_t* pwszValue);
  bool IsAttached() const { return m_launcher.IsValid(); }
  // Tells the launcher the exit code, waits for it to end, and deletes its
  // file if the uninstall moved it aside.
  void Report(uint32_t u4ExitCode);

 private:
  CNyHandle m_launcher;
  CNyHandle m_pipe;
};

// Starts a hidden shell that deletes the running program's file once the
// program has ended, and schedules the deletion at restart as a fallback.
BOOL SelfDelete();
