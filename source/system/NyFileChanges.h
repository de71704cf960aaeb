#pragma once
// What the file routines say before they change the file system, so that an
// install can write down how to undo each change before it is made. A
// non-zero answer stops the routine before that change, with that code. The
// base class keeps no record and lets every change go on: it hears what a
// routine says when its caller gave no listener.
#include <cstdint>
#include <string>
#include <vector>

// One pair of the system's restart-time list as it stands there: "\??\"
// paths, the target empty for a deletion and led by '!' when it may replace
// a file.
struct NyRestartRename {
  std::wstring from;
  std::wstring to;
};

class INyFileChanges {
 public:
  virtual ~INyFileChanges() = default;
  // These folders are about to be made, the outermost first.
  virtual uint32_t CreatingFolders(const std::vector<std::wstring>& folders);
  // path (a file; for a folder tree's removal the top folder) is about to be
  // written over or removed, or written where there is nothing (bExists
  // false). A name put into *pBackup keeps what is there: it is renamed to
  // that name, which must not exist and lies beside it, instead of being
  // deleted.
  virtual uint32_t SettingAside(const std::wstring& path, bool bExists, std::wstring* pBackup);
  // path cannot be renamed now (in use without delete sharing): at the next
  // restart it goes to backup (is deleted when backup is empty), and staged,
  // when not empty, takes its place.
  virtual uint32_t StagingForRestart(const std::wstring& path, const std::wstring& staged, const std::wstring& backup);
  // These pairs are about to be taken off the restart-time list.
  virtual uint32_t TakingBackRestartRenames(const std::vector<NyRestartRename>& renames);
};

// pChanges, or the listener that keeps no record when it is null.
INyFileChanges& NyFileChangesOrNone(INyFileChanges* pChanges);
