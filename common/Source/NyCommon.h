#pragma once
// Start and stop of the common library. Both are reference-counted: the
// first start creates the process-wide logger on the shared-memory ring, the
// last stop destroys it. Returns 0; NyCommonUninit returns -1 when the
// library was not started.
#include <cstdint>

uint32_t NyCommonInit();
int NyCommonUninit();
