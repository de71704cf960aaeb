#include "NyUndoFile.h"

#include <windows.h>

#include "NyFileDelete.h"
#include "NyLog.h"
#include "NyResult.h"

namespace {

const NyUndoKind kSetAsideKind = NyUndoKindTag("FSET");
const NyUndoKind kFoldersKind = NyUndoKindTag("FDIR");
const NyUndoKind kStagedKind = NyUndoKindTag("FSTG");
const NyUndoKind kRenamesKind = NyUndoKindTag("FPND");

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

uint32_t Malformed(std::wstring* pObject) {
  if (pObject != nullptr) *pObject = L"a file step that cannot be read";
  return NYFAIL(NY_E_INVALID_DATA, "read the undo step", L"file");
}

bool ReadTexts(CNyUndoReader* pStep, std::vector<std::wstring>* pTexts) {
  uint32_t u4Count = 0;
  if (!pStep->ReadU32(&u4Count)) return false;
  // A count larger than the step holds ends at the first text that is not
  // there: nothing is reserved for it beforehand.
  for (uint32_t i = 0; i < u4Count; ++i) {
    std::wstring text;
    if (!pStep->ReadText(&text)) return false;
    pTexts->push_back(std::move(text));
  }
  return true;
}

uint32_t UndoSetAside(CNyUndoReader* pStep, std::wstring* pObject) {
  std::wstring path, backup;
  if (!pStep->ReadText(&path) || !pStep->ReadText(&backup)) return Malformed(pObject);
  uint32_t bReboot = 0;
  if (backup.empty()) {
    // The run died before it wrote the file: nothing to undo.
    if (!Exists(path)) {
      *pObject = path + L": was not written";
      return 0;
    }
    *pObject = path + L": deleted";
    return DeleteFileOrSchedule(path, &bReboot);
  }
  // Never set aside (the run died first), or put back already.
  if (!Exists(backup)) {
    *pObject = path + L": as it was";
    return 0;
  }
  const uint32_t u4Result = RestoreBackup(path, backup, &bReboot);
  *pObject = path + (bReboot != 0 ? L": what it replaced comes back at the restart" : L": what it replaced is back");
  return u4Result;
}

uint32_t CommitSetAside(CNyUndoReader* pStep) {
  std::wstring path, backup;
  if (!pStep->ReadText(&path) || !pStep->ReadText(&backup)) return Malformed(nullptr);
  return backup.empty() ? 0 : DropBackup(backup);
}

uint32_t UndoFolders(CNyUndoReader* pStep, std::wstring* pObject) {
  std::vector<std::wstring> folders;
  if (!ReadTexts(pStep, &folders) || folders.empty()) return Malformed(pObject);
  *pObject = folders.back() + L" and the folders above it that the run made: removed where empty";
  return RemoveEmptyFolders(folders);
}

uint32_t UndoStaged(CNyUndoReader* pStep, std::wstring* pObject) {
  std::wstring path, staged, backup;
  if (!pStep->ReadText(&path) || !pStep->ReadText(&staged) || !pStep->ReadText(&backup)) return Malformed(pObject);
  *pObject = path + L": what waited for the restart is taken back";
  uint32_t u4Result = CancelRestartRename(path, backup);
  if (u4Result != 0 || staged.empty()) return u4Result;
  u4Result = CancelRestartRename(staged, path);
  uint32_t bReboot = 0;
  return u4Result != 0 ? u4Result : DeleteFileOrSchedule(staged, &bReboot);
}

// The backup comes into being only at the restart, by the list's own
// rename: its deletion goes after that rename.
uint32_t CommitStaged(CNyUndoReader* pStep) {
  std::wstring path, staged, backup;
  if (!pStep->ReadText(&path) || !pStep->ReadText(&staged) || !pStep->ReadText(&backup)) return Malformed(nullptr);
  return backup.empty() ? 0 : ScheduleRestartRename(backup, std::wstring(), false);
}

uint32_t UndoRenames(CNyUndoReader* pStep, std::wstring* pObject) {
  std::vector<std::wstring> entries;
  if (!ReadTexts(pStep, &entries) || entries.size() % 2 != 0) return Malformed(pObject);
  std::vector<NyRestartRename> renames;
  for (size_t i = 0; i < entries.size(); i += 2) renames.push_back({entries[i], entries[i + 1]});
  *pObject = L"the restart-time renames the run took off the list: back on it";
  return RestoreRestartRenames(renames);
}

const CNyUndoRegistration kSetAsideRegistration({kSetAsideKind, UndoSetAside, CommitSetAside});
const CNyUndoRegistration kFoldersRegistration({kFoldersKind, UndoFolders, nullptr});
const CNyUndoRegistration kStagedRegistration({kStagedKind, UndoStaged, CommitStaged});
const CNyUndoRegistration kRenamesRegistration({kRenamesKind, UndoRenames, nullptr});

}  // namespace

uint32_t CNyFileUndoRecorder::CreatingFolders(const std::vector<std::wstring>& folders) {
  if (!m_pJournal->IsRecording()) return 0;
  CNyUndoStep step(kFoldersKind);
  step.AddU32(static_cast<uint32_t>(folders.size()));
  for (const std::wstring& folder : folders) step.AddText(folder);
  return m_pJournal->Record(step);
}

uint32_t CNyFileUndoRecorder::SettingAside(const std::wstring& path, bool bExists, std::wstring* pBackup) {
  if (!m_pJournal->IsRecording()) return 0;
  if (bExists) {
    const uint32_t u4Result = FreshBackupName(path, pBackup);
    if (u4Result != 0) return u4Result;
  }
  return m_pJournal->Record(CNyUndoStep(kSetAsideKind).AddText(path).AddText(*pBackup));
}

uint32_t CNyFileUndoRecorder::StagingForRestart(const std::wstring& path, const std::wstring& staged,
                                                const std::wstring& backup) {
  if (!m_pJournal->IsRecording()) return 0;
  return m_pJournal->Record(CNyUndoStep(kStagedKind).AddText(path).AddText(staged).AddText(backup));
}

uint32_t CNyFileUndoRecorder::TakingBackRestartRenames(const std::vector<NyRestartRename>& renames) {
  if (!m_pJournal->IsRecording()) return 0;
  CNyUndoStep step(kRenamesKind);
  step.AddU32(static_cast<uint32_t>(renames.size() * 2));
  for (const NyRestartRename& rename : renames) step.AddText(rename.from).AddText(rename.to);
  return m_pJournal->Record(step);
}
