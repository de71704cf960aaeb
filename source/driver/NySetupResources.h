#pragma once
// The preparation of a setup run: a fresh extraction folder, the package
// written into it, the script loaded and expanded, the product facts read.
#include <windows.h>

#include <cstdint>

#include "NyConfigScript.h"
#include "NyExtractFolder.h"
#include "NySetupInfo.h"

// Prepares the run into *pInfo and *pScript, extracting into a folder that
// *pFolder makes. A second call reuses the extraction folder recorded in
// *pInfo while it exists. Returns 0 or the code of the failing step; every
// step logs its failure where it happens.
uint32_t PrepareSetupResources(UINT uResourceId, const wchar_t* pwszScriptPath, BOOL bOnlyScript,
                               CNyExtractFolder* pFolder, CNySetupInfo* pInfo, CNyXmlConfigScript* pScript);
