#pragma once
// The size of what an install copies: the sources of the install list's File
// actions that run on this system, whole folders included. It is the
// uninstall entry's EstimatedSize, which the script reads as the variable
// "estimatedsize" (in KB).
#include <cstdint>

#include "NyConfigScript.h"

// The install list's payload in KB, rounded up; 0 when the script has none.
uint32_t InstalledPayloadKb(const CNyXmlConfigScript& script);
