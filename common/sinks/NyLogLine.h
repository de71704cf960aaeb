#pragma once
// A log record as one line of text, as the viewer prints it and the log file
// holds it: local time, process id, thread id, level, source file:line and
// the message, then a line feed.
#include <string>

#include "NyLogRecord.h"

std::string NyFormatLogLine(const LogRecord& record);
