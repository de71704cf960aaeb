#pragma once
#include <cstdint>

#include "NyVersionText.h"

// Reads the "FileVersion" text of a file's version resource (in the file's
// first translation, or U.S. English Unicode when it lists none) and parses
// it. 0, the platform's error code, or 0xE0600003 for an unparsable text.
uint32_t GetFileVersionNumber(const wchar_t* pwszPath, NyFileVersion* pVersion);
