#pragma once
// A logger for tests: installs itself as the process-wide logger and keeps
// the texts it is given, so tests can check what a routine logged.
#include <string>
#include <vector>

#include "ILogger.h"
#include "NyLog.h"

class CaptureLogger : public ILogger {
 public:
  struct Line {
    uint32_t u4Level;
    std::string source;
    int nLine;
    std::string text;
  };

  CaptureLogger() : m_pPrevious(g_pNyLogger) { g_pNyLogger = this; }
  ~CaptureLogger() override { g_pNyLogger = m_pPrevious; }

  uint32_t Configure(const LoggerConfig*) override { return 0; }
  bool Log(uint32_t u4Level, const char* pszSrcFile, int nLine, const char* pszText) override {
    lines.push_back({u4Level, pszSrcFile ? pszSrcFile : "", nLine, pszText ? pszText : ""});
    return true;
  }

  bool Contains(const std::string& text) const {
    for (const Line& line : lines)
      if (line.text.find(text) != std::string::npos) return true;
    return false;
  }

  std::vector<Line> lines;

 private:
  ILogger* m_pPrevious;
};
