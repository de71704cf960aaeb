#pragma once
// The step of a process action, "PROC": a process that was ended or
// started cannot be undone. The rollback only says that it leaves it so.
#include <cstdint>
#include <string>

#include "NyJournal.h"

// Before the processes are ended or started; what names them ("the
// processes of C:\...\x.dll ended").
uint32_t NoteProcessChange(INyJournal* pJournal, const std::wstring& what);
