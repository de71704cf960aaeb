#pragma once
// File-system routines shared by the package extraction and the file actions.
// Paths are UTF-16; results are 0 or an error code.
#include <cstdint>

// Creates every missing folder on a full path. A path with a '.' anywhere in
// it counts as a file path: only the folders before its last '\' are
// created. Any other path is a folder path and is created whole. A path
// shorter than 4 characters (or null) gives 0xE0600007; a folder that cannot
// be created gives the platform's error code.
uint32_t CreateDirectoryTree(const wchar_t* pwszPath);
