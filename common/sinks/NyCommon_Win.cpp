#include <windows.h>

#include <memory>

#include "NyCommon.h"
#include "NyFileLogger.h"
#include "NyLogger.h"
#include "NyShareMem.h"

namespace {

// The start lock: one word set from 0 to 1 by compare-and-swap. It must work
// before anything else of the library exists, so it is no kernel object.
volatile LONG g_lStartLock = 0;
LONG g_lRefCount = 0;

// The logger that g_pNyLogger points to while the library runs, and the
// file sink beside its ring. A process that ends with the library still
// started gives its file what was queued for it before they go.
struct Library {
  ~Library() { Stop(); }
  void Start() {
    logger = std::make_unique<CNyLogger>();
    file = std::make_unique<CNyFileLogger>();
    logger->AddSink(file.get());
    g_pNyLogger = logger.get();
    // A logger whose ring cannot be opened stays installed and drops records.
    LoggerConfig config{NY_LOG_SINK_SHM};
    logger->Configure(&config);
  }
  void Stop() {
    if (logger == nullptr) return;
    // The file's last word, if it missed records, goes to the ring.
    logger->RemoveSink(file.get());
    file->Close();
    g_pNyLogger = nullptr;
    logger.reset();
    file.reset();
  }
  std::unique_ptr<CNyLogger> logger;
  std::unique_ptr<CNyFileLogger> file;
};
Library g_library;

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
    g_library.Start();
  }
  ++g_lRefCount;
  return 0;
}

int NyCommonUninit() {
  StartLock lock;
  if (g_lRefCount == 0) return -1;
  if (--g_lRefCount == 0) {
    g_library.Stop();
    NyNamespaceRelease();
  }
  return 0;
}

uint32_t NyCommonLogToFile(const wchar_t* pwszPath) {
  StartLock lock;
  if (g_library.file == nullptr) return ERROR_INVALID_STATE;
  if (pwszPath == nullptr) {
    g_library.file->Close();
    return 0;
  }
  return g_library.file->Open(pwszPath);
}
