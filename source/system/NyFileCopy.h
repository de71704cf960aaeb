#pragma once
// Copying files over targets that may be in use or read-only.
#include <cstdint>
#include <string>

#include "NyFileChanges.h"

// What a replaced file's discarded copy is named after: "<dest>_Discard_<n>".
constexpr wchar_t NY_DISCARD_SUFFIX[] = L"_Discard_";

// Copies src over dest. With bCmpVer an existing dest with a newer version
// resource is kept. A dest that cannot be deleted is renamed to
// "<dest>_Discard_<n>" (deleted at restart) or, failing that, the new file
// takes its place at the next restart. pChanges, when given, hears of each
// change first; where it names a backup, an existing dest is renamed to it
// instead of being deleted, and when dest is in use without delete sharing
// that rename waits for the restart, before the new file takes its place.
uint32_t CopyFileReplacing(const std::wstring& src, const std::wstring& dest, bool bCmpVer, uint32_t* pbRebootFlag,
                           INyFileChanges* pChanges = nullptr);
// Copies a folder's whole content, subfolders included, into dest.
uint32_t CopyDirectoryContents(const std::wstring& src, const std::wstring& dest, INyFileChanges* pChanges = nullptr);
// Appends '\', folds "\\" to '\' and turns '/' into '\', in that order.
std::wstring NormalizeDirPath(const std::wstring& path);
