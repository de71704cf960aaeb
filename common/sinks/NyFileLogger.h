#pragma once
// The /LOG file: every record as the line the viewer prints, appended to a
// file that the other processes of the run (the uninstaller's copy) append
// to as well, each line as it comes, so that a run that is killed leaves
// what it logged up to then.
//
// A log call never waits for the file: records are queued, and a writer
// thread of the sink's own makes them lines and writes them. A file that
// stops taking writes (a hung network share, a pipe nobody reads) fills the
// queue, which is bounded; the records that do not fit miss the file (the
// ring still has them) and are counted. Close waits a bounded time for the
// queue to reach the file, then lets the writer go, and says in the ring how
// many records the file missed.
#include <windows.h>

#include <string>

#include "NyLogSink.h"

class CNyFileLogger final : public INyLogSink {
 public:
  // Keeps the first records, up to kMaxKept, until the program has said
  // whether it logs to a file: they are written first.
  CNyFileLogger();
  ~CNyFileLogger() { Close(); }
  CNyFileLogger(const CNyFileLogger&) = delete;
  CNyFileLogger& operator=(const CNyFileLogger&) = delete;

  // Opens the file (created when missing, appended to, shared) and starts
  // its writer; a file open before is closed first. 0, or the open's error,
  // and then there is no file.
  uint32_t Open(const wchar_t* pwszPath);
  // No file from now on: what is queued is written within a bounded wait.
  void Close();
  void Write(const LogRecord& record) override;

  static constexpr uint32_t kMaxKept = 64;
  // What the queue may hold while the writer is busy: far more than a
  // setup logs in one go, so that only a file that has stopped taking
  // writes loses records.
  static constexpr size_t kQueueBytes = 1 << 20;
  // How long Close waits for the queue to reach the file (less when the
  // write under way has taken part of it already), and then for a writer
  // blocked in the file system to give up after its write is cancelled. A
  // run with a blocked file ends at most this much later.
  static constexpr DWORD kFlushWaitMs = 400;
  static constexpr DWORD kCancelWaitMs = 100;

 private:
  class Queue;

  // Guards m_pQueue, which Write only reads.
  SRWLOCK m_lock = SRWLOCK_INIT;
  Queue* m_pQueue;
  std::wstring m_path;
};
