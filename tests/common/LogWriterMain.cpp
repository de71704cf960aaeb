// Test helper: writes records through the program's log call.
//   ny_log_writer COUNT TAG [PAUSE_MS]
// PAUSE_MS spreads the records over time, as a setup's are.
// Each message carries its own checksum so a reader can tell a whole record
// from a torn one: "ring-test TAG SEQ SUM PAYLOAD".
#include <windows.h>

#include <cstdlib>
#include <string>

#include "NyLog.h"
#include "NyCommon.h"
#include "RingTestMessage.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 3 && argc != 4) return 1;
  const unsigned long ulCount = wcstoul(argv[1], nullptr, 10);
  const DWORD dwPauseMs = argc == 4 ? wcstoul(argv[3], nullptr, 10) : 0;
  char szTag[32] = {};
  WideCharToMultiByte(CP_ACP, 0, argv[2], -1, szTag, sizeof(szTag) - 1, nullptr, nullptr);
  NyCommonInit();
  for (unsigned long i = 0; i < ulCount; ++i) {
    const std::string payload = RingTestPayload(szTag, i);
    NYLOG(LOG_LEVEL_TRACE, "ring-test %s %lu %08X %s", szTag, i, RingTestChecksum(szTag, i, payload),
          payload.c_str());
    if (dwPauseMs != 0) Sleep(dwPauseMs);
  }
  NyCommonUninit();
  return 0;
}
