#pragma once
// Deleting files and folders that may be in use: what cannot go now is
// moved out of the way and left to the system's delete-at-restart list.
#include <cstdint>
#include <string>
#include <vector>

#include "NyFileChanges.h"

// Deletes a file; a file in use is moved onto a temporary file of the same
// drive, which the system deletes at restart (*pbRebootFlag = 1 then). A
// missing file succeeds; a folder or a path under 4 characters is refused.
// Where pChanges names a backup for it, the file is renamed to the backup
// instead, at the next restart when it is in use without delete sharing.
uint32_t DeleteFileOrSchedule(const std::wstring& path, uint32_t* pbRebootFlag,
                              INyFileChanges* pChanges = nullptr);
// Takes back what earlier copies left for the next restart to put at path
// (see CopyFileReplacing): its "<path>_Discard_<n>" files are deleted, or
// left to the restart when in use, and every entry of the system's
// restart-time list that would move a file onto path is taken out of it.
// *pbRebootFlag = 1 when something still waits for the restart. pChanges,
// when given, hears of both before they are made (and may keep the files).
uint32_t CancelStagedReplacements(const std::wstring& path, uint32_t* pbRebootFlag,
                                  INyFileChanges* pChanges = nullptr);
// Deletes a folder tree. Errors inside the tree are passed over; only the
// removal (or the scheduled removal) of the top folder decides the result.
// Where pChanges names a backup for it, the whole tree is renamed to the
// backup instead.
uint32_t DeleteDirectoryTree(const std::wstring& dir, uint32_t* pbRebootFlag, INyFileChanges* pChanges = nullptr);

// A name beside path that nothing has: "<path>.NyBackup<n>". It keeps
// what an install replaces or removes, on the file's own volume, so that
// keeping it is a rename (which also works for a DLL that is in use).
uint32_t FreshBackupName(const std::wstring& path, std::wstring* pBackup);
// Puts what was kept at backup back at path, over what is there now. What
// is there and in use is moved aside (deleted at restart); when it cannot be
// moved either, the backup takes its place at the next restart
// (*pbRebootFlag = 1). A missing backup is nothing to do.
uint32_t RestoreBackup(const std::wstring& path, const std::wstring& backup, uint32_t* pbRebootFlag);
// Deletes a backup, file or folder tree; what is in use goes at restart.
uint32_t DropBackup(const std::wstring& backup);
// Removes the folders (the outermost first) from the innermost out, as long
// as they are empty; missing ones are passed over.
uint32_t RemoveEmptyFolders(const std::vector<std::wstring>& folders);

// The restart-time list, pair by pair. Paths are plain; an empty target is a
// deletion.
// Takes every pair (from, to) off the list, in any letter case.
uint32_t CancelRestartRename(const std::wstring& from, const std::wstring& to);
// Appends the pair to the list (replacing the target when bReplace), once:
// a pair that is there already is taken off first.
uint32_t ScheduleRestartRename(const std::wstring& from, const std::wstring& to, bool bReplace);
// Appends the pairs, as they stood in the list, that it no longer holds.
uint32_t RestoreRestartRenames(const std::vector<NyRestartRename>& renames);

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
