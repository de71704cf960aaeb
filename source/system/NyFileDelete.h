#pragma once
// Deleting files and folders that may be in use: what cannot go now is
// moved out of the way and left to the system's delete-at-restart list.
#include <cstdint>
#include <string>

// Deletes a file; a file in use is moved onto a temporary file of the same
// drive, which the system deletes at restart (*pbRebootFlag = 1 then). A
// missing file succeeds; a folder or a path under 4 characters is refused.
uint32_t DeleteFileOrSchedule(const std::wstring& path, uint32_t* pbRebootFlag);
// Deletes a folder tree. Errors inside the tree are passed over; only the
// removal (or the scheduled removal) of the top folder decides the result.
uint32_t DeleteDirectoryTree(const std::wstring& dir, uint32_t* pbRebootFlag);

// The process-wide note that something was left for the next restart, so
// the program can tell deployment tools that a restart finishes the job.
void NyNoteRestartPending();
bool NyIsRestartPending();
