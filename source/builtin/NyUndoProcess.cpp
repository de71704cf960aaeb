#include "NyUndoProcess.h"

#include "NyLog.h"
#include "NyResult.h"

namespace {

const NyUndoKind kProcessKind = NyUndoKindTag("PROC");

uint32_t UndoProcess(CNyUndoReader* pStep, std::wstring* pObject) {
  std::wstring what;
  if (!pStep->ReadText(&what)) {
    *pObject = L"a process step that cannot be read";
    return NYFAIL(NY_E_INVALID_DATA, "read the undo step", L"process");
  }
  *pObject = what + L": a process cannot be undone, left as it is";
  return 0;
}

const CNyUndoRegistration kRegistration({kProcessKind, UndoProcess, nullptr});

}  // namespace

uint32_t NoteProcessChange(INyJournal* pJournal, const std::wstring& what) {
  // Nothing to put back: the step need not reach the disk before the change.
  return pJournal->Note(CNyUndoStep(kProcessKind).AddText(what));
}
