#pragma once
// Where the logger delivers its records: the shared-memory ring, the /LOG
// file. A sink takes a record and gives nothing back: whatever becomes of
// the record there, the log call has done its part.
#include "NyLogRecord.h"

class INyLogSink {
 public:
  // Called from any thread, at any time the sink is registered; it must not
  // keep the caller waiting for long.
  virtual void Write(const LogRecord& record) = 0;

 protected:
  ~INyLogSink() = default;
};
