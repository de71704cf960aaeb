#pragma once
// Registry routines of the registry actions and the installed-version check.
// A 32-bit process reaches the 64-bit view on a 64-bit system only through an
// explicit view flag, so every routine takes the view it works in.
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct RegistryKeyRef {
  HKEY hRoot = nullptr;
  std::wstring subKey;
  std::wstring valueName;  // empty: the key's default value
  BOOL b64Key = FALSE;     // 64-bit view; no effect on a 32-bit system
};

// A key and value as the script names them: root, subkey and value name
// joined by backslashes (it ends in '\' for a key's default value).
std::wstring RegistryPathText(const wchar_t* pwszRoot, const wchar_t* pwszSubKey, const wchar_t* pwszValueName);

// Maps "HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE",
// "HKEY_USERS" and "HKEY_CURRENT_CONFIG" (exactly, case-sensitive); null for
// anything else.
HKEY RegistryRootFromName(const wchar_t* pwszRoot);

// Creates every missing key on the subkey path, then sets the value. Type 1
// (REG_SZ), 3 (REG_BINARY) or 4 (REG_DWORD). An empty path element gives
// 0xE0FFFFFF.
uint32_t SetRegistryValue(const RegistryKeyRef& ref, DWORD dwType, const void* pvData, DWORD cbData);
// Deletes one named value; 2 when the key or the value does not exist.
uint32_t DeleteRegistryValue(const RegistryKeyRef& ref);
// Deletes a key with all its subkeys in one view.
uint32_t DeleteRegistryTree(HKEY hRoot, const std::wstring& subKey, BOOL b64Key);
// Deletes a key that has no subkeys. A key with subkeys is an answer, not a
// failure (DeleteRegistryTree tries this first), so nothing is logged.
uint32_t DeleteRegistryKey(HKEY hRoot, const std::wstring& subKey, BOOL b64Key);
// A value as it is (or was): whether it exists, its type and its bytes.
struct RegistryValueState {
  std::wstring name;  // empty: the key's default value
  bool bExists = false;
  DWORD dwType = REG_NONE;
  std::vector<uint8_t> data;
};

// A key of a tree, its path relative to the tree's top ("" for the top, no
// leading backslash), and all its values.
struct RegistryTreeKey {
  std::wstring relPath;
  std::vector<RegistryValueState> values;
};

// The named values of a key as they are now (each *pValues entry names one;
// its state is filled in), and how many trailing levels of the subkey path
// do not exist (*pu4MissingLevels; the values are then all missing). The key
// is kept open for a write that follows, as SetRegistryValue keeps it.
uint32_t ReadRegistryValues(HKEY hRoot, const std::wstring& subKey, BOOL b64Key,
                            std::vector<RegistryValueState>* pValues, uint32_t* pu4MissingLevels);
// The key with everything below it, the top first and every key before
// its subkeys; 2 when the key does not exist.
uint32_t ReadRegistryTree(HKEY hRoot, const std::wstring& subKey, BOOL b64Key, std::vector<RegistryTreeKey>* pKeys);
// Makes every key of the tree that is missing and sets its values.
uint32_t WriteRegistryTree(HKEY hRoot, const std::wstring& subKey, BOOL b64Key,
                           const std::vector<RegistryTreeKey>& keys);
// Puts a value back: its old type and bytes, the key made when it is
// missing; or, for a value that did not exist, no value (nothing to do when
// the key is gone).
uint32_t RestoreRegistryValue(HKEY hRoot, const std::wstring& subKey, BOOL b64Key, const RegistryValueState& value);
// Deletes the key with its values, but only when it has no subkeys
// (*pbKept is then true and it stays). A key that is gone counts as deleted.
uint32_t DeleteRegistryKeyWithoutSubkeys(HKEY hRoot, const std::wstring& subKey, BOOL b64Key, bool* pbKept);
// The path without the backslashes a script may end it with.
std::wstring TrimmedRegistryPath(const std::wstring& subKey);
// The name of a root key ("HKEY_LOCAL_MACHINE"), as a script writes it.
const wchar_t* RegistryRootName(HKEY hRoot);
// The key as log lines name it: root, path and view.
std::wstring RegistryKeyText(HKEY hRoot, const std::wstring& subKey, BOOL b64Key);
// Reads a string value. Counts are in characters and include a terminator;
// pwszBuffer null asks only for the count; too little room gives 0xE0600005
// and the needed count. A failure is the caller's to record: the installed-
// version check logs its code as the one record of it.
uint32_t ReadRegistryString(const RegistryKeyRef* pRef, wchar_t* pwszBuffer, size_t* pcchCount);
// The regedit of a view: the Windows folder's own (native) one, or on a
// 64-bit system for the 32-bit view the one in SysWOW64.
std::wstring RegeditProgramPath(BOOL b64Key);
// Imports a .reg file with the system's regedit of the chosen view, hidden,
// waiting for it to end.
uint32_t RunRegeditFile(const std::wstring& path, BOOL b64Key);
