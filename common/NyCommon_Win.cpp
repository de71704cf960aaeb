#include <windows.h>

#include <memory>

#include "NyLogger.h"
#include "NyCommon.h"
#include "NyShareMem.h"

namespace {

// The start lock: one word set from 0 to 1 by compare-and-swap. It must work
// before anything else of the library exists, so it is no kernel object.
volatile LONG g_lStartLock = 0;
LONG g_lRefCount = 0;
// Owns the logger that g_pNyLogger points to while the library runs. A
// process that ends with the library still started clears the pointer
// before the logger goes.
struct LoggerOwner {
  ~LoggerOwner() { g_pNyLogger = nullptr; }
  std::unique_ptr<CNyLogger> logger;
};
LoggerOwner g_owner;

class StartLock {
 public:
  StartLock() {
    while (InterlockedCompareExchange(&g_lStartLock, 1, 0) != 0) Sleep(10);
  }
  ~StartLock() { InterlockedCompareExchange(&g_lStartLock, 0, 1); }
  StartLock(const StartLock&) = delete;
  StartLock& operator=(const StartLock&) = delete;
};

}  // namespace

uint32_t NyCommonInit() {
  StartLock lock;
  if (g_lRefCount == 0) {
    NyNamespaceAcquire();
    g_owner.logger = std::make_unique<CNyLogger>();
    g_pNyLogger = g_owner.logger.get();
    // A logger whose ring cannot be opened stays installed and drops records.
    LoggerConfig config{};
    config.u4SinkType = NY_LOG_SINK_SHM;
    g_owner.logger->Configure(&config);
  }
  ++g_lRefCount;
  return 0;
}

int NyCommonUninit() {
  StartLock lock;
  if (g_lRefCount == 0) return -1;
  if (--g_lRefCount == 0) {
    g_pNyLogger = nullptr;
    g_owner.logger.reset();
    NyNamespaceRelease();
  }
  return 0;
}

uint32_t NyCommonLogToFile(const wchar_t* pwszPath) {
  StartLock lock;
  if (g_owner.logger == nullptr) return ERROR_INVALID_STATE;
  return g_owner.logger->AttachFile(pwszPath);
}
