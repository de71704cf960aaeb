#pragma once
// Deleting files and folders that may be in use: what cannot go now is
// moved out of the way and left to the system's delete-at-restart list.
#include <cstdint>
#include <string>

// Deletes a file; a file in use is moved onto a temporary file of the same
// drive, which the system deletes at restart (*pbRebootFlag = 1 then). A
// missing file succeeds; a folder or a path under 4 characters is refused.
uint32_t DeleteFileOrSchedule(const std::wstring& path, uint32_t* pbRebootFlag);
// Takes back what earlier copies left for the next restart to put at path
// (see CopyFileReplacing): its "<path>_Discard_<n>" files are deleted, or
// left to the restart when in use, and every entry of the system's
// restart-time list that would move a file onto path is taken out of it.
// *pbRebootFlag = 1 when something still waits for the restart.
uint32_t CancelStagedReplacements(const std::wstring& path, uint32_t* pbRebootFlag);
// Deletes a folder tree. Errors inside the tree are passed over; only the
// removal (or the scheduled removal) of the top folder decides the result.
uint32_t DeleteDirectoryTree(const std::wstring& dir, uint32_t* pbRebootFlag);

// Names a file that is in use now but will be free before the run ends (the
// uninstaller the user started, which waits for its temporary copy). A
// deletion that meets it in use moves it aside as any file in use, but notes
// no restart for it; NyFinishDeferredDeletions deletes it once it is free
// and takes its restart-time deletion off the system's list.
void NyDeferDeletionOf(const std::wstring& path);
void NyFinishDeferredDeletions();

// The process-wide note that something was left for the next restart, so
// the program can tell deployment tools that a restart finishes the job.
void NyNoteRestartPending();
bool NyIsRestartPending();
