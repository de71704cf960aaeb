#pragma once
// The undo step of SetAppTaskScheduler's Create and Delete, "TASK": the
// task's name and what it was before, as the scheduler stores it (its task
// file and account), or that there was none. Undone: the task of the name
// is deleted and the old one registered again. Run and End cannot be
// undone; they are noted as process steps.
#include <cstdint>

#include "NyJournal.h"

// Before the task of the name is created over or deleted.
uint32_t RecordTaskChange(INyJournal* pJournal, const wchar_t* pwszName);
