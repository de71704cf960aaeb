#pragma once
// The undo steps of the file actions (File, DelFile, DelDir, and the link
// CreateShortcut writes), recorded as the file routines announce each
// change (NyFileChanges.h):
//   "FSET"  a file written where there was none: deleted on undo. Or a file
//           (for DelDir a folder) replaced or removed, kept under a backup
//           name beside it: put back on undo, deleted by the commit.
//   "FDIR"  folders made, the outermost first: removed on undo, the
//           innermost first, while they are empty.
//   "FSTG"  a file in use left to the next restart: the restart-time renames
//           (the old file to its backup first, then the staged new file to
//           its place) and the staged file. Undone before the restart, both
//           go; after it, nothing is left of them and the "FSET" step before
//           puts the old file back from its backup. The commit adds the
//           backup's deletion to the list, after the renames.
//   "FPND"  restart-time renames taken off the list: put back on undo.
// Backups live beside what they keep, on its volume and in its folder, so
// keeping one is a rename (which works for a DLL in use) and it has the
// protection the original had.
#include <cstdint>
#include <string>
#include <vector>

#include "NyFileChanges.h"
#include "NyJournal.h"

// Records each change the routines announce before it is made. Where the
// journal records nothing, it names no backups, so the routines delete and
// replace as they do without it.
class CNyFileUndoRecorder : public INyFileChanges {
 public:
  explicit CNyFileUndoRecorder(INyJournal* pJournal) : m_pJournal(pJournal) {}

  uint32_t CreatingFolders(const std::vector<std::wstring>& folders) override;
  uint32_t SettingAside(const std::wstring& path, bool bExists, std::wstring* pBackup) override;
  uint32_t StagingForRestart(const std::wstring& path, const std::wstring& staged,
                             const std::wstring& backup) override;
  uint32_t TakingBackRestartRenames(const std::vector<NyRestartRename>& renames) override;

 private:
  INyJournal* m_pJournal;
};
