#pragma once
// What becomes of a journal: the rollback of a run that failed, was
// cancelled or died, and the commit of a run that succeeded.
#include <cstdint>
#include <string>

#include "NyJournalFile.h"

// Told after each undone step: how many steps are left, of how many.
using NyRollbackProgressFn = void (*)(uint32_t u4Left, uint32_t u4Total, void* pvContext);

// Undoes the journal's steps, the last first, each by its kind's undo, and
// cuts each off the file once it is done with, so that a rollback that dies
// is taken up at the step it had reached. A step that cannot be undone is
// logged and passed over. The journal is removed at the end. Returns 0 when
// every step was undone, else the code of the first that was not.
// The log says "rolling back N actions", names each step's object, and
// ends with the outcome.
uint32_t RollBackJournal(CNyJournalFile* pJournal, NyRollbackProgressFn pfnProgress, void* pvContext);

// After a successful run: marks the journal committed (on the disk first
// where a kind has something to let go of), lets each go, and removes the
// journal. A non-zero code means the mark could not be written: nothing is
// committed, and the caller rolls the run back.
uint32_t CommitJournal(CNyJournalFile* pJournal);

// At the start of every run, once it holds the product's instance: a
// journal that an ended run left is rolled back (or, when that run had
// committed, its commit finished) before the run's own work.
// ERROR_INSTALL_ALREADY_RUNNING, without touching it, when the run that
// writes it is still alive; any other non-zero code when something could
// not be undone.
uint32_t RecoverInterruptedRun(const std::wstring& productCode);
