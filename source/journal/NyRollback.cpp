#include "NyRollback.h"

#include <windows.h>

#include <set>

#include "NyLog.h"
#include "NyResult.h"
#include "NySystem_Win.h"

namespace {

bool IsCommitMark(const NyJournalEntry& entry) { return entry.kind == NY_UNDO_KIND_COMMIT; }

std::wstring KindText(NyUndoKind kind) {
  std::wstring text;
  for (int i = 0; i < 4; ++i) text += static_cast<wchar_t>((kind >> (8 * i)) & 0xFF);
  return text;
}

uint32_t UndoStep(const CNyJournalFile& journal, const NyJournalEntry& entry, std::wstring* pObject) {
  const NyUndoHandler* pHandler = NyFindUndoHandler(entry.kind);
  if (pHandler == nullptr) {
    *pObject = L"a step of the kind \"" + KindText(entry.kind) + L"\", which this program cannot undo";
    return NY_E_INVALID_DATA;
  }
  CNyUndoReader step = journal.StepOf(entry);
  return pHandler->pfnUndo(&step, pObject);
}

void FinishCommit(const CNyJournalFile& journal) {
  // The steps' paths are the file actions', which work with the WOW64
  // file-system redirection off.
  const CNyFsRedirectionOff redirection;
  for (const NyJournalEntry& entry : journal.Entries()) {
    const NyUndoHandler* pHandler = NyFindUndoHandler(entry.kind);
    if (pHandler == nullptr || pHandler->pfnCommit == nullptr) continue;
    CNyUndoReader step = journal.StepOf(entry);
    pHandler->pfnCommit(&step);
  }
}

std::wstring TimeText(uint64_t u8FileTime) {
  FILETIME ft{static_cast<DWORD>(u8FileTime), static_cast<DWORD>(u8FileTime >> 32)};
  SYSTEMTIME st{};
  if (!FileTimeToSystemTime(&ft, &st)) return L"?";
  wchar_t wsz[32] = {};
  swprintf(wsz, 32, L"%04u-%02u-%02u %02u:%02u:%02u UTC", st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute,
           st.wSecond);
  return wsz;
}

}  // namespace

uint32_t RollBackJournal(CNyJournalFile* pJournal, NyRollbackProgressFn pfnProgress, void* pvContext) {
  std::set<uint32_t> actions;
  for (const NyJournalEntry& entry : pJournal->Entries()) actions.insert(entry.u4Action);
  const uint32_t u4Total = static_cast<uint32_t>(pJournal->Entries().size());
  NYLOG(LOG_LEVEL_OUTCOME, "rolling back %u actions", static_cast<unsigned>(actions.size()));
  uint32_t u4First = 0, u4Failed = 0;
  {
    const CNyFsRedirectionOff redirection;
    for (size_t i = u4Total; i-- > 0;) {
      const NyJournalEntry entry = pJournal->Entries()[i];
      std::wstring object;
      const uint32_t u4Result = UndoStep(*pJournal, entry, &object);
      if (u4Result == 0) {
        NYLOGW(LOG_LEVEL_TRACE, L"rolled back (action %u): %s", entry.u4Action, object.c_str());
      } else {
        NYLOGW(LOG_LEVEL_OUTCOME, L"not rolled back (action %u): %s (0x%08x)", entry.u4Action, object.c_str(),
               u4Result);
        ++u4Failed;
        if (u4First == 0) u4First = u4Result;
      }
      // Done with, whether or not it could be undone: a rollback taken up
      // again does not try it twice.
      pJournal->CutFrom(i);
      if (pfnProgress != nullptr) pfnProgress(static_cast<uint32_t>(i), u4Total, pvContext);
    }
  }
  const uint32_t u4Removed = pJournal->Remove();
  if (u4First == 0) u4First = u4Removed;
  if (u4Failed == 0) {
    NYLOG(LOG_LEVEL_OUTCOME, "rollback complete: %u steps undone", static_cast<unsigned>(u4Total));
  } else {
    NYLOG(LOG_LEVEL_OUTCOME, "rollback incomplete: %u of %u steps could not be undone", static_cast<unsigned>(u4Failed),
          static_cast<unsigned>(u4Total));
  }
  return u4First;
}

uint32_t CommitJournal(CNyJournalFile* pJournal) {
  bool bKeeps = false;
  for (const NyJournalEntry& entry : pJournal->Entries()) {
    const NyUndoHandler* pHandler = NyFindUndoHandler(entry.kind);
    bKeeps = bKeeps || (pHandler != nullptr && pHandler->pfnCommit != nullptr);
  }
  // The mark keeps a later run from rolling back what succeeded: should
  // this run die while its kinds let go of what they kept (then the mark
  // must be on the disk first), or should the journal outlive its removal.
  pJournal->SetAction(0);
  const CNyUndoStep mark(NY_UNDO_KIND_COMMIT);
  const uint32_t u4Result = bKeeps ? pJournal->Record(mark) : pJournal->Note(mark);
  if (u4Result != 0) return u4Result;
  if (bKeeps) FinishCommit(*pJournal);
  pJournal->Remove();
  return 0;
}

uint32_t RecoverInterruptedRun(const std::wstring& productCode) {
  CNyJournalFile journal;
  bool bFound = false;
  const uint32_t u4Result = journal.Open(productCode, &bFound);
  if (u4Result != 0 || !bFound) return u4Result;
  const std::vector<NyJournalEntry>& entries = journal.Entries();
  const bool bCommitted = !entries.empty() && IsCommitMark(entries.back());
  NYLOGW(LOG_LEVEL_OUTCOME, L"found the journal of a run that ended without finishing it: process %u, started %s, "
         L"journal of %s, %u steps%s",
         journal.Header().u4ProcessId, TimeText(journal.Header().u8ProcessCreated).c_str(),
         TimeText(journal.Header().u8JournalCreated).c_str(), static_cast<unsigned>(entries.size()),
         bCommitted ? L", committed" : L"");
  if (!bCommitted) return RollBackJournal(&journal, nullptr, nullptr);
  FinishCommit(journal);
  return journal.Remove();
}
