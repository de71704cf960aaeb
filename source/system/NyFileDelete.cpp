#include "NyFileDelete.h"

#include <windows.h>

#include <algorithm>
#include <mutex>
#include <vector>

#include "NyLog.h"
#include "NyFileCopy.h"
#include "NyHandle.h"
#include "NyPathKey.h"
#include "NyResult.h"

namespace {

volatile LONG g_lRestartPending = 0;

constexpr int kMaxBackupNames = 10000;

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool IsFolder(const std::wstring& path) {
  const DWORD dw = GetFileAttributesW(path.c_str());
  return dw != INVALID_FILE_ATTRIBUTES && (dw & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// A temporary folder on the file's own drive: a move across drives would
// need a copy, which a file in use does not allow.
std::wstring TempFolderForDrive(const std::wstring& path) {
  wchar_t wszWindows[MAX_PATH] = {};
  const UINT cch = GetSystemWindowsDirectoryW(wszWindows, MAX_PATH);
  if (cch != 0 && cch < MAX_PATH && path[0] == wszWindows[0]) return std::wstring(wszWindows) + L"\\TEMP\\";
  wchar_t chDrive = path[0];
  if (path[1] != L':') {
    wchar_t wszSelf[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, wszSelf, MAX_PATH);
    chDrive = wszSelf[0];
  }
  return std::wstring(1, chDrive) + L":\\";
}

// The system's list of renames and deletions to do at the next restart:
// pairs of "\\??\\" paths, the target empty for a deletion and led by '!'
// when it may replace a file.
const wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const wchar_t kPendingRenames[] = L"PendingFileRenameOperations";

// The key of the path a list entry names.
std::wstring PendingPath(const std::wstring& entry) {
  return NyPathKey(entry.compare(0, 1, L"!") == 0 ? entry.substr(1) : entry);
}

// The key a path is found under in the list; a deletion's empty target
// stays empty.
std::wstring PathKeyOrEmpty(const std::wstring& path) { return path.empty() ? std::wstring() : NyPathKey(path); }

// The list, read whole through a key kept open for writing it back.
struct PendingList {
  CNyRegKey key;
  std::vector<NyRestartRename> pairs;
};

uint32_t ReadPendingList(PendingList* pList) {
  LSTATUS ls = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, pList->key.Put());
  if (ls != ERROR_SUCCESS) return NYFAIL(static_cast<uint32_t>(ls), "RegOpenKeyExW", kSessionManager);
  DWORD cb = 0;
  if (RegQueryValueExW(pList->key.Get(), kPendingRenames, nullptr, nullptr, nullptr, &cb) != ERROR_SUCCESS) return 0;
  std::vector<wchar_t> list(cb / sizeof(wchar_t) + 2, 0);
  ls = RegQueryValueExW(pList->key.Get(), kPendingRenames, nullptr, nullptr, reinterpret_cast<BYTE*>(list.data()), &cb);
  if (ls != ERROR_SUCCESS) return NYFAIL(static_cast<uint32_t>(ls), "RegQueryValueExW", kPendingRenames);
  std::vector<std::wstring> entries;
  for (size_t i = 0; i < cb / sizeof(wchar_t);) {
    entries.emplace_back(&list[i]);
    i += entries.back().size() + 1;
  }
  // A pair's source is never empty; the list's closing empty string ends it.
  for (size_t i = 0; i + 1 < entries.size() && !entries[i].empty(); i += 2)
    pList->pairs.push_back({entries[i], entries[i + 1]});
  return 0;
}

uint32_t WritePendingList(const PendingList& list) {
  LSTATUS ls = ERROR_SUCCESS;
  if (list.pairs.empty()) {
    ls = RegDeleteValueW(list.key.Get(), kPendingRenames);
  } else {
    std::wstring text;
    for (const NyRestartRename& pair : list.pairs) text += pair.from + L'\0' + pair.to + L'\0';
    text += L'\0';
    ls = RegSetValueExW(list.key.Get(), kPendingRenames, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(text.data()),
                        static_cast<DWORD>(text.size() * sizeof(wchar_t)));
  }
  return ls == ERROR_SUCCESS ? 0 : NYFAIL(static_cast<uint32_t>(ls), "RegSetValueExW", kPendingRenames);
}

// Takes out of the list every pair (source, target; path keys, the target
// empty for a deletion) that the predicate picks; pChanges, when given, hears
// of them first.
template <typename Predicate>
uint32_t RemovePendingRenames(Predicate picks, INyFileChanges* pChanges = nullptr) {
  PendingList list;
  uint32_t u4Result = ReadPendingList(&list);
  if (u4Result != 0) return u4Result;
  std::vector<NyRestartRename> kept, removed;
  for (NyRestartRename& pair : list.pairs) {
    const std::wstring target = pair.to.empty() ? std::wstring() : PendingPath(pair.to);
    (picks(PendingPath(pair.from), target) ? removed : kept).push_back(std::move(pair));
  }
  if (removed.empty()) return 0;
  u4Result = NyFileChangesOrNone(pChanges).TakingBackRestartRenames(removed);
  if (u4Result != 0) return u4Result;
  list.pairs.swap(kept);
  return WritePendingList(list);
}

// Renames path to the backup that pChanges named, or, when it is in use
// without delete sharing, leaves that rename to the next restart.
uint32_t SetAside(const std::wstring& path, const std::wstring& backup, uint32_t* pbRebootFlag,
                  INyFileChanges* pChanges) {
  if (MoveFileExW(path.c_str(), backup.c_str(), 0)) return 0;
  const DWORD dwError = GetLastError();
  if (dwError != ERROR_SHARING_VIOLATION && dwError != ERROR_ACCESS_DENIED) {
    return NYFAIL(dwError, "MoveFileExW", path.c_str());
  }
  uint32_t u4Result = pChanges->StagingForRestart(path, std::wstring(), backup);
  if (u4Result == 0) u4Result = ScheduleRestartRename(path, backup, false);
  if (u4Result != 0) return u4Result;
  NyNoteRestartPending();
  if (pbRebootFlag != nullptr) *pbRebootFlag = 1;
  return 0;
}

// The backup pChanges names for path, or an empty one.
uint32_t AskForBackup(INyFileChanges* pChanges, const std::wstring& path, std::wstring* pBackup) {
  pBackup->clear();
  return NyFileChangesOrNone(pChanges).SettingAside(path, true, pBackup);
}

std::wstring WithoutClosingSeparators(const std::wstring& path) {
  const size_t end = path.find_last_not_of(L"\\/");
  return end == std::wstring::npos ? path : path.substr(0, end + 1);
}

// Files in use now that will be free before the run ends (the uninstaller
// the user started, which waits for its copy), and where a deletion moved
// them aside meanwhile.
struct DeferredDeletions {
  std::mutex lock;
  std::vector<std::wstring> paths;
  std::vector<std::wstring> movedAside;
};

DeferredDeletions& Deferred() {
  static DeferredDeletions* const s_pDeferred = new DeferredDeletions();
  return *s_pDeferred;
}

// True (and the new place noted) when path is one that will be free soon.
bool NoteMovedAside(const std::wstring& path, const std::wstring& movedTo) {
  DeferredDeletions& deferred = Deferred();
  const std::lock_guard<std::mutex> lock(deferred.lock);
  if (std::find(deferred.paths.begin(), deferred.paths.end(), NyPathKey(path)) == deferred.paths.end()) return false;
  deferred.movedAside.push_back(movedTo);
  return true;
}

bool IsDiscardSuffix(const wchar_t* pwszSuffix) {
  if (*pwszSuffix == 0) return false;
  for (; *pwszSuffix != 0; ++pwszSuffix)
    if (*pwszSuffix < L'0' || *pwszSuffix > L'9') return false;
  return true;
}

}  // namespace

void NyNoteRestartPending() { InterlockedExchange(&g_lRestartPending, 1); }

bool NyIsRestartPending() { return InterlockedCompareExchange(&g_lRestartPending, 0, 0) != 0; }

uint32_t DeleteFileOrSchedule(const std::wstring& path, uint32_t* pbRebootFlag, INyFileChanges* pChanges) {
  if (pbRebootFlag != nullptr) *pbRebootFlag = 0;
  if (path.size() < 4) return NY_E_INVALID_PARAM;
  if (!Exists(path)) return 0;
  if (IsFolder(path)) return NY_E_INVALID_PARAM;
  std::wstring backup;
  const uint32_t u4Backup = AskForBackup(pChanges, path, &backup);
  if (u4Backup != 0) return u4Backup;
  if (!backup.empty()) return SetAside(path, backup, pbRebootFlag, pChanges);
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (DeleteFileW(path.c_str())) return 0;

  const std::wstring folder = TempFolderForDrive(path);
  wchar_t wszTemp[MAX_PATH] = {};
  if (folder.size() >= MAX_PATH - 14 || GetTempFileNameW(folder.c_str(), L"_@", 0, wszTemp) == 0) {
    return NYFAIL(GetLastError(), "GetTempFileNameW", folder.c_str());
  }
  if (!MoveFileExW(path.c_str(), wszTemp, MOVEFILE_REPLACE_EXISTING)) {
    if (!DeleteFileW(wszTemp)) return NYFAIL(GetLastError(), "DeleteFileW", wszTemp);
    if (!MoveFileExW(path.c_str(), wszTemp, MOVEFILE_DELAY_UNTIL_REBOOT)) {
      return NYFAIL(GetLastError(), "MoveFileExW (move at restart)", path.c_str());
    }
  }
  if (!MoveFileExW(wszTemp, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
    return NYFAIL(GetLastError(), "MoveFileExW (delete at restart)", wszTemp);
  }
  // Moved aside, it goes before the run ends: no restart is needed for it
  // (the restart-time deletion stays as a fallback until then).
  if (!Exists(path) && NoteMovedAside(path, wszTemp)) return 0;
  NyNoteRestartPending();
  if (pbRebootFlag != nullptr) *pbRebootFlag = 1;
  return 0;
}

uint32_t CancelStagedReplacements(const std::wstring& written, uint32_t* pbRebootFlag, INyFileChanges* pChanges) {
  if (pbRebootFlag != nullptr) *pbRebootFlag = 0;
  if (written.size() < 4) return NY_E_INVALID_PARAM;
  // The staged files lie beside the file as the copy named it.
  const std::wstring path = NyFullPath(written);
  const std::wstring prefix = path + NY_DISCARD_SUFFIX;
  const size_t cchFolder = path.rfind(L'\\') + 1;
  WIN32_FIND_DATAW fd;
  const CNyFind find(FindFirstFileW((prefix + L"*").c_str(), &fd));
  for (bool bMore = find.IsValid(); bMore; bMore = FindNextFileW(find.Get(), &fd) != FALSE) {
    const std::wstring staged = path.substr(0, cchFolder) + fd.cFileName;
    if (staged.size() <= prefix.size() || !IsDiscardSuffix(staged.c_str() + prefix.size())) continue;
    uint32_t bReboot = 0;
    const uint32_t u4Result = DeleteFileOrSchedule(staged, &bReboot, pChanges);
    if (u4Result != 0) return u4Result;
    if (bReboot != 0 && pbRebootFlag != nullptr) *pbRebootFlag = 1;
  }
  const std::wstring target = NyPathKey(path);
  return RemovePendingRenames(
      [&target](const std::wstring&, const std::wstring& to) { return !to.empty() && to == target; }, pChanges);
}

void NyDeferDeletionOf(const std::wstring& path) {
  DeferredDeletions& deferred = Deferred();
  const std::lock_guard<std::mutex> lock(deferred.lock);
  deferred.paths.push_back(NyPathKey(path));
}

void NyFinishDeferredDeletions() {
  std::vector<std::wstring> moved;
  {
    DeferredDeletions& deferred = Deferred();
    const std::lock_guard<std::mutex> lock(deferred.lock);
    moved.swap(deferred.movedAside);
  }
  for (const std::wstring& path : moved) {
    if (!DeleteFileW(path.c_str())) {
      NYFAIL(GetLastError(), "DeleteFileW", path.c_str());
      continue;
    }
    const std::wstring source = NyPathKey(path);
    RemovePendingRenames([&source](const std::wstring& from, const std::wstring&) { return from == source; });
  }
}

uint32_t DeleteDirectoryTree(const std::wstring& dir, uint32_t* pbRebootFlag, INyFileChanges* pChanges) {
  uint32_t u4Result = 0, bFlag = 0;
  if (pbRebootFlag != nullptr) *pbRebootFlag = 0;
  if (!Exists(dir)) return 0;
  if (pChanges != nullptr) {
    // Named without its closing backslash, so that the backup is its sibling.
    const std::wstring top = WithoutClosingSeparators(dir);
    std::wstring backup;
    u4Result = AskForBackup(pChanges, top, &backup);
    if (u4Result != 0) return u4Result;
    if (!backup.empty()) return SetAside(top, backup, pbRebootFlag, pChanges);
  }
  if (IsFolder(dir)) {
    WIN32_FIND_DATAW fd;
    const CNyFind find(FindFirstFileW((dir + L"\\*").c_str(), &fd));
    if (!find) u4Result = GetLastError();
    for (bool bMore = find.IsValid(); bMore; bMore = FindNextFileW(find.Get(), &fd) != FALSE) {
      if (wcscmp(fd.cFileName, L".") == 0 || wcscmp(fd.cFileName, L"..") == 0) continue;
      const std::wstring full = dir + L"\\" + fd.cFileName;
      uint32_t bChildFlag = 0;
      // A folder link is removed as a link: its target is not ours.
      if ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
          (fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        DeleteDirectoryTree(full, &bChildFlag);
      } else if ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        RemoveDirectoryW(full.c_str());
      } else if ((fd.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0 || !DeleteFileW(full.c_str())) {
        // The listing already told what the path is: a plain file costs one
        // call; the queries, the attribute reset and the restart fallback
        // are for the file that would not go.
        DeleteFileOrSchedule(full, &bChildFlag);
      }
      if (bFlag == 0) bFlag = bChildFlag;
    }
  }
  SetFileAttributesW(dir.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (!RemoveDirectoryW(dir.c_str()) && !MoveFileExW(dir.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
    u4Result = NYFAIL(GetLastError(), "RemoveDirectoryW", dir.c_str());
  }
  if (pbRebootFlag != nullptr) *pbRebootFlag = bFlag;
  return u4Result;
}

uint32_t FreshBackupName(const std::wstring& path, std::wstring* pBackup) {
  const std::wstring base = WithoutClosingSeparators(path) + L".NyBackup";
  for (int n = 1; n <= kMaxBackupNames; ++n) {
    std::wstring name = base + std::to_wstring(n);
    if (name.size() >= MAX_PATH) return NYFAIL(ERROR_FILENAME_EXCED_RANGE, "name a backup of", path.c_str());
    if (!Exists(name)) {
      *pBackup = std::move(name);
      return 0;
    }
  }
  return NYFAIL(ERROR_FILE_EXISTS, "name a backup of", path.c_str());
}

uint32_t RestoreBackup(const std::wstring& path, const std::wstring& backup, uint32_t* pbRebootFlag) {
  if (pbRebootFlag != nullptr) *pbRebootFlag = 0;
  if (!Exists(backup)) return 0;
  const bool bFile = Exists(path) && !IsFolder(path);
  // A read-only file cannot be replaced.
  if (bFile) SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (MoveFileExW(backup.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) return 0;
  if (!bFile) return NYFAIL(GetLastError(), "MoveFileExW", path.c_str());
  // What the run put there is in use (a DLL loaded since): it is moved out
  // of the way, to be deleted at restart, and the old file comes back now.
  uint32_t bReboot = 0;
  DeleteFileOrSchedule(path, &bReboot);
  if (!Exists(path) && MoveFileExW(backup.c_str(), path.c_str(), 0)) return 0;
  // Held without delete sharing: the old file comes back at the restart.
  const uint32_t u4Result = ScheduleRestartRename(backup, path, true);
  if (u4Result != 0) return u4Result;
  NyNoteRestartPending();
  if (pbRebootFlag != nullptr) *pbRebootFlag = 1;
  return 0;
}

uint32_t DropBackup(const std::wstring& backup) {
  const DWORD dwAttributes = GetFileAttributesW(backup.c_str());
  if (dwAttributes == INVALID_FILE_ATTRIBUTES) return 0;
  uint32_t bReboot = 0;
  // A link kept for an undo goes as a link: what it points to is not ours.
  if ((dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    const BOOL bRemoved = (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? RemoveDirectoryW(backup.c_str())
                                                                         : DeleteFileW(backup.c_str());
    return bRemoved ? 0 : NYFAIL(GetLastError(), "remove the link", backup.c_str());
  }
  if ((dwAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return DeleteDirectoryTree(backup, &bReboot);
  return DeleteFileOrSchedule(backup, &bReboot);
}

uint32_t RemoveEmptyFolders(const std::vector<std::wstring>& folders) {
  for (auto it = folders.rbegin(); it != folders.rend(); ++it) {
    if (!Exists(*it) || RemoveDirectoryW(it->c_str())) continue;
    const DWORD dwError = GetLastError();
    // Something else lives there now: it stays, and so do its parents.
    if (dwError == ERROR_DIR_NOT_EMPTY) return 0;
    return NYFAIL(dwError, "RemoveDirectoryW", it->c_str());
  }
  return 0;
}

uint32_t CancelRestartRename(const std::wstring& from, const std::wstring& to) {
  const std::wstring source = PathKeyOrEmpty(from), target = PathKeyOrEmpty(to);
  return RemovePendingRenames(
      [&](const std::wstring& pairFrom, const std::wstring& pairTo) { return pairFrom == source && pairTo == target; });
}

uint32_t ScheduleRestartRename(const std::wstring& from, const std::wstring& to, bool bReplace) {
  const std::wstring source = PathKeyOrEmpty(from), target = PathKeyOrEmpty(to);
  PendingList list;
  const uint32_t u4Result = ReadPendingList(&list);
  if (u4Result != 0) return u4Result;
  list.pairs.erase(std::remove_if(list.pairs.begin(), list.pairs.end(),
                                  [&](const NyRestartRename& pair) {
                                    return PendingPath(pair.from) == source &&
                                           (pair.to.empty() ? target.empty() : PendingPath(pair.to) == target);
                                  }),
                   list.pairs.end());
  list.pairs.push_back({L"\\??\\" + from, to.empty() ? std::wstring() : (bReplace ? L"!\\??\\" : L"\\??\\") + to});
  return WritePendingList(list);
}

uint32_t RestoreRestartRenames(const std::vector<NyRestartRename>& renames) {
  PendingList list;
  const uint32_t u4Result = ReadPendingList(&list);
  if (u4Result != 0) return u4Result;
  const size_t count = list.pairs.size();
  for (const NyRestartRename& rename : renames) {
    const bool bThere = std::any_of(list.pairs.begin(), list.pairs.end(), [&rename](const NyRestartRename& pair) {
      return pair.from == rename.from && pair.to == rename.to;
    });
    if (!bThere) list.pairs.push_back(rename);
  }
  return list.pairs.size() == count ? 0 : WritePendingList(list);
}
