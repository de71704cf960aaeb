#pragma once
// The undo journal of an install run, as an action sees it, and the undo of
// each kind of step, as the rollback finds it.
//
// An install that fails, is cancelled or dies leaves the machine as it was.
// Before an action changes anything, it writes what it takes to undo the
// change into the run's journal, and that step is on the disk before the
// change is made (write-ahead). A run that fails or is cancelled walks its
// journal backwards and hands each step to the undo of its kind. A run that
// dies leaves the journal behind; the next run of the setup program, of any
// kind, finds it and rolls it back before its own work. A run that succeeds
// commits: each kind lets go of what it kept for its undo (a backup file),
// and the journal is removed.
//
// Adding a kind of undo step, in a unit of its own beside its actions in
// source/builtin (NyUndoRegistry.cpp holds the registry actions' kinds):
//
//  1. A tag of four characters that no other kind uses (NyUndoKindTag), and
//     the fields of its step (CNyUndoStep): everything the undo needs. A step
//     stands alone: the rollback may run in a later process with another
//     script, or with none, so it carries full paths, registry roots and
//     views, what was there before (the old bytes, attributes, whether the
//     object existed, the name of a backup) -- nothing it would have to look
//     up in a script.
//  2. A recorder that the action calls from Execute before it changes
//     anything: it reads what is there now, builds the step and hands it to
//     NyJournalOf(pSetupInfo)->Record(step) (NySetupInfo.h). A non-zero
//     result is returned at once and nothing is changed. Where the journal
//     is not recording (an uninstall, a script that turned rollback off, an
//     action run on its own) the recorder skips reading what is there.
//     Several steps before one change: NyRecordSteps Notes all but the
//     last and Records the last, whose flush takes the others along. A change that cannot be undone
//     (a process ended) is Noted, so that the rollback can say so. Each
//     Record is a flush of the disk (an fsync under Wine): a kind records
//     what its undo needs and no more, and asks Holds before recording
//     what an earlier step of the run covers already.
//  3. An undo (NyUndoFn) that reads the step back in the same order
//     (CNyUndoReader) and puts back what was there. It looks before it acts:
//     the process may have died between the record and the change (nothing
//     to undo), and a rollback that dies part-way is run again from its last
//     undone step, so a step may find itself undone already. A read that
//     fails is a malformed step: NY_E_INVALID_DATA. An OS failure is logged
//     where it happens (NYFAIL) and its code returned; the rollback then
//     goes on with the other steps and the run ends in failure.
//  4. A commit (NyCommitFn) only for a kind that keeps something for its
//     undo, such as a backup file: after a successful run it lets that go
//     (a file still in use is left to the restart). It may run twice too:
//     the commit of a run that died while committing is finished by the
//     next run.
//  5. A static CNyUndoRegistration in the kind's unit. The unit is linked
//     into every program that can write its steps, since the action calls
//     its recorder.
//
// Undo and commit run with the WOW64 file-system redirection switched off,
// as the file and registry actions run: a step records paths as its action
// used them. They may run on a thread without COM: a kind that needs COM
// initialises it around its own calls. A step of a kind that no handler
// knows (a journal of another build) is logged as not undone, and the run
// ends in failure.
#include <cstdint>
#include <string>
#include <vector>

#include "NyUndoStep.h"

class INyJournal {
 public:
  virtual ~INyJournal() = default;
  // False where a run keeps no journal.
  virtual bool IsRecording() const = 0;
  // Writes the step and waits until it is on the disk. 0, or the code of
  // the failed write (logged here): the action then returns that code and
  // changes nothing.
  virtual uint32_t Record(const CNyUndoStep& step) = 0;
  // Writes the step without waiting for the disk.
  virtual uint32_t Note(const CNyUndoStep& step) = 0;
  // Whether the run's journal holds a step of the same kind and bytes
  // already. A recorder may leave out what that step's undo takes care of
  // (a value written into a key the run made goes with the key). False
  // where a journal cannot tell.
  virtual bool Holds(const CNyUndoStep&) const { return false; }
};

// The journal of a run that keeps none: it records nothing and always
// succeeds.
INyJournal* NyNoJournal();

// The steps of one change, in order: all but the last Noted, the last
// Recorded. 0 for none.
uint32_t NyRecordSteps(INyJournal* pJournal, const std::vector<CNyUndoStep>& steps);

// Puts back what the step's change replaced. *pObject names the object and
// what was done to it, for the rollback's record of the step
// ("HKEY_LOCAL_MACHINE\SOFTWARE\X\Name (32-bit view): deleted").
using NyUndoFn = uint32_t (*)(CNyUndoReader* pStep, std::wstring* pObject);
// Lets go of what the step kept for its undo, after a successful run.
using NyCommitFn = uint32_t (*)(CNyUndoReader* pStep);

struct NyUndoHandler {
  NyUndoKind kind;
  NyUndoFn pfnUndo;
  NyCommitFn pfnCommit;  // null: the kind keeps nothing
};

// Registers a kind's handler while the program starts. A second handler of
// the same kind is refused.
class CNyUndoRegistration {
 public:
  explicit CNyUndoRegistration(const NyUndoHandler& handler);
};

// The registered handler of a kind, or null.
const NyUndoHandler* NyFindUndoHandler(NyUndoKind kind);
