#pragma once
// Start and stop of the common library. Both are reference-counted: the
// first start creates the process-wide logger on the shared-memory ring, the
// last stop destroys it. Returns 0; NyCommonUninit returns -1 when the
// library was not started.
#include <cstdint>

uint32_t NyCommonInit();
int NyCommonUninit();

// Writes every log record also to a file (see CNyLogger::AttachFile); null
// for none. 0, the open's error, or ERROR_INVALID_STATE before the start.
uint32_t NyCommonLogToFile(const wchar_t* pwszPath);
