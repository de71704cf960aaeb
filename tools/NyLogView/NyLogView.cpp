// NyLogView: reads the log records that setup programs write into the
// machine's shared-memory log ring and prints one line per record.
//
//   NyLogView [--follow] [--pid N]... [--out FILE]
//
// Without --follow it prints what the ring holds when it starts, and ends. With --follow it
// keeps reading (waiting for the ring to appear if no program has opened it
// yet) until Ctrl+C, or until every process given by --pid has ended.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "NyLogLine.h"
#include "NyShmLogger.h"
#include "NyHandle.h"
#include "NyShareMem.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitUsage = 1;
constexpr int kExitNoRing = 2;
constexpr int kExitBadRing = 3;
constexpr int kExitOutput = 4;

volatile LONG g_lStop = 0;

BOOL WINAPI OnConsoleControl(DWORD) {
  InterlockedExchange(&g_lStop, 1);
  return TRUE;
}

struct Options {
  bool bFollow = false;
  std::vector<DWORD> pids;
  const wchar_t* pwszOut = nullptr;
};

bool ParseOptions(int argc, wchar_t** argv, Options* pOptions) {
  for (int i = 1; i < argc; ++i) {
    if (wcscmp(argv[i], L"--follow") == 0) {
      pOptions->bFollow = true;
    } else if (wcscmp(argv[i], L"--pid") == 0 && i + 1 < argc) {
      wchar_t* pwszEnd = nullptr;
      const unsigned long ulPid = wcstoul(argv[++i], &pwszEnd, 10);
      if (pwszEnd == argv[i] || *pwszEnd != 0 || ulPid == 0) return false;
      pOptions->pids.push_back(static_cast<DWORD>(ulPid));
    } else if (wcscmp(argv[i], L"--out") == 0 && i + 1 < argc) {
      pOptions->pwszOut = argv[++i];
    } else {
      return false;
    }
  }
  return pOptions->pids.empty() || pOptions->bFollow;
}

// The processes whose end stops a follow. A process that has already ended
// (or never existed) counts as ended.
class Watched {
 public:
  explicit Watched(const std::vector<DWORD>& pids) {
    for (DWORD pid : pids) m_processes.emplace_back(OpenProcess(SYNCHRONIZE, FALSE, pid));
  }
  bool Any() const { return !m_processes.empty(); }
  bool AllEnded() const {
    for (const CNyHandle& process : m_processes)
      if (process && WaitForSingleObject(process.Get(), 0) == WAIT_TIMEOUT) return false;
    return true;
  }

 private:
  std::vector<CNyHandle> m_processes;
};

class Printer {
 public:
  explicit Printer(FILE* pOut) : m_pOut(pOut) {}
  bool Print(const LogRecord& record) {
    const std::string line = NyFormatLogLine(record);
    return Write(line.data(), line.size());
  }
  bool Flush() {
    for (FILE* p : {m_pOut, stdout})
      if (p != nullptr && fflush(p) != 0) return false;
    return true;
  }

 private:
  bool Write(const char* p, size_t cb) {
    if (fwrite(p, 1, cb, stdout) != cb) return false;
    return m_pOut == nullptr || fwrite(p, 1, cb, m_pOut) == cb;
  }
  FILE* m_pOut;
};

// Reads in small batches so that the reader-activity word moves often: a
// writer at a full ring gives up on a reader that stays still for 100 ms.
constexpr uint32_t kBatch = 64;

}  // namespace

int wmain(int argc, wchar_t** argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    fwprintf(stderr, L"usage: NyLogView [--follow] [--pid N]... [--out FILE]\n"
                     L"  --pid needs --follow; the follow ends when every given process has ended\n");
    return kExitUsage;
  }
  FILE* pOut = nullptr;
  if (options.pwszOut != nullptr && (pOut = _wfopen(options.pwszOut, L"wb")) == nullptr) {
    fwprintf(stderr, L"NyLogView: cannot write %ls (error %lu)\n", options.pwszOut, GetLastError());
    return kExitOutput;
  }
  setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
  Watched watched(options.pids);
  NyNamespaceAcquire();

  int nExit = kExitOk;
  CNyShmLogger ring;
  for (;;) {
    uint32_t u4Result = 0;
    if (ring.OpenLogRingWriter(false, &u4Result)) break;
    if (u4Result == 0xE0600003) {
      fwprintf(stderr, L"NyLogView: the log ring on this machine has another capacity than %u records\n",
               NY_RING_CAPACITY);
      nExit = kExitBadRing;
      break;
    }
    if (!options.bFollow) {
      fwprintf(stderr, L"NyLogView: no log ring is open on this machine (error %u)\n", u4Result);
      nExit = kExitNoRing;
      break;
    }
    if (g_lStop != 0 || (watched.Any() && watched.AllEnded())) break;
    Sleep(50);
  }

  if (ring.IsOpen()) {
    if (!ring.RegisterReader()) fwprintf(stderr, L"NyLogView: the ring takes no readers now; reading anyway\n");
    Printer printer(pOut);
    std::vector<LogRecord> batch(kBatch);
    // A drain prints what the ring holds when it starts and no more: a
    // writer that keeps writing, or a header forged to claim more records
    // than the ring has slots, must not keep the viewer printing.
    bool bDraining = !options.bFollow;
    uint32_t u4Left = bDraining ? ring.Queue().Ready() : 0;
    for (;;) {
      if (bDraining && u4Left == 0) break;
      const uint32_t n = ring.Queue().Read(batch.data(), bDraining ? std::min(kBatch, u4Left) : kBatch);
      if (bDraining) u4Left -= n;
      for (uint32_t i = 0; i < n; ++i) {
        if (!printer.Print(batch[i])) {
          fwprintf(stderr, L"NyLogView: writing the output failed\n");
          nExit = kExitOutput;
          g_lStop = 1;
          break;
        }
      }
      if (g_lStop != 0) break;
      if (n != 0) continue;
      if (bDraining) break;
      printer.Flush();
      // After the watched processes have ended, what they wrote is read
      // once more before stopping.
      if (watched.Any() && watched.AllEnded()) {
        bDraining = true;
        u4Left = ring.Queue().Ready();
      } else {
        Sleep(1);
      }
    }
    if (!printer.Flush() && nExit == kExitOk) nExit = kExitOutput;
    ring.Close();
  }
  NyNamespaceRelease();
  if (pOut != nullptr && fclose(pOut) != 0 && nExit == kExitOk) nExit = kExitOutput;
  return nExit;
}
