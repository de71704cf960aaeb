#pragma once
// New folders and files of random names in shared folders (the temporary
// folder), created exclusively: a name that already exists may belong to
// another setup running at the same moment or may have been planted by
// another user, so it is never reused; another name is drawn instead.
#include <windows.h>

#include <cstdint>
#include <string>

// Draws one 32-bit number; false when no number can be had.
using NyRandomFn = bool (*)(uint32_t* pu4Value);
// The system's cryptographic random source.
bool NySystemRandom(uint32_t* pu4Value);

constexpr int NY_FRESH_NAME_DRAWS = 16;

// Creates parent + the pattern filled with a drawn number ("%08X"), with the
// given security (null: inherited from the parent). Returns 0 and the path,
// or the error of the creation; ERROR_ALREADY_EXISTS after
// NY_FRESH_NAME_DRAWS names that all existed.
uint32_t CreateFreshFolder(const std::wstring& parent, const wchar_t* pwszPattern, std::wstring* pPath,
                           SECURITY_ATTRIBUTES* pSecurity = nullptr, NyRandomFn pfnRandom = NySystemRandom);
// Renames path to path + the filled pattern; never replaces what is there.
uint32_t MoveToFreshName(const std::wstring& path, const wchar_t* pwszPattern, std::wstring* pNewPath,
                         NyRandomFn pfnRandom = NySystemRandom);
// Copies src to a new file folder + the filled pattern; never overwrites.
uint32_t CopyToFreshFile(const std::wstring& src, const std::wstring& folder, const wchar_t* pwszPattern,
                         std::wstring* pPath, NyRandomFn pfnRandom = NySystemRandom);
