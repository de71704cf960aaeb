#pragma once
// The undo steps of the registry actions, in either view:
//   "RKEY"  named values of a key that was there before the run, as they
//           were before a write or a deletion: type and bytes, or that there
//           was no such value. Undone: each value gets its type and bytes
//           back, or is deleted.
//   "RMKY"  a key the run made. Undone: the key goes, with its values, when
//           it has no subkeys (a subkey means something else lives there
//           now). Whatever the run writes into such a key, or below it,
//           needs no step of its own: it goes with the key.
//   "RTRE"  a key with everything below it, before its deletion. Undone:
//           every key of it made again with its values.
// A step names its root key and view, so it is undone the same in a
// 32-bit and a 64-bit program.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "NyJournal.h"

// Before the values are written.
uint32_t RecordRegistryWrite(INyJournal* pJournal, HKEY hRoot, const std::wstring& subKey, BOOL b64Key,
                             const std::vector<std::wstring>& valueNames);
// Before a value is deleted, or with an empty name the key with everything
// below it. Nothing to record when there is nothing to delete.
uint32_t RecordRegistryDeletion(INyJournal* pJournal, HKEY hRoot, const std::wstring& subKey, BOOL b64Key,
                                const std::wstring& valueName);
// Before the registry file is imported into the view: a step for each key
// section it holds. A file whose changes cannot be read fails the import
// before anything is changed.
uint32_t RecordRegFileImport(INyJournal* pJournal, const std::wstring& regFile, BOOL b64Key);
