#pragma once
// Start and stop of the common library. Both are reference-counted: the
// first start creates the process-wide logger on the shared-memory ring,
// with the /LOG file sink beside it, the last stop destroys them. Returns 0;
// NyCommonUninit returns -1 when the library was not started.
#include <cstdint>

uint32_t NyCommonInit();
int NyCommonUninit();

// Writes every log record also to a file (see CNyFileLogger): the records
// logged since the start first, then each as it comes. Null for none, which
// also ends a file chosen before once what was queued for it is written
// (within a bounded wait). 0, the open's error, or ERROR_INVALID_STATE
// before the start.
uint32_t NyCommonLogToFile(const wchar_t* pwszPath);
