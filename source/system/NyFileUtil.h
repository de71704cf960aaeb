#pragma once
// File-system routines shared by the package extraction and the file actions.
// Paths are UTF-16; results are 0 or an error code.
#include <cstdint>
#include <string>

class INyFileChanges;

// Creates every missing folder on a full path. A path with a '.' anywhere in
// it counts as a file path: only the folders before its last '\' are
// created. Any other path is a folder path and is created whole. A path
// shorter than 4 characters (or null) gives 0xE0600007; a folder that cannot
// be created gives the platform's error code, recorded with that folder.
// pChanges, when given, hears of the folders before they are made.
uint32_t CreateDirectoryTree(const wchar_t* pwszPath, INyFileChanges* pChanges = nullptr);
// The same for a caller that records a failure itself: nothing is logged,
// and *pFailedFolder (when given) names the folder that could not be made.
uint32_t MakeDirectoryTree(const wchar_t* pwszPath, std::wstring* pFailedFolder, INyFileChanges* pChanges = nullptr);

// Writes cb bytes at the file's pointer (hFile is a HANDLE). 0, WriteFile's
// error, or ERROR_WRITE_FAULT for a short write that reported success, which
// leaves no error of its own.
uint32_t WriteAll(void* hFile, const void* pvData, uint32_t cb);
