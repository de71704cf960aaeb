#include "NyLogger.h"

#include <cstring>
#include <new>

#include "NyResult.h"
#include "NySafeStr.h"
#include "NyLogLine.h"

namespace {

// Cuts a text to its field without a warning: the fields are documented as
// cut to fit.
void CopyField(char* pszField, size_t cchField, const char* pszText) {
  const size_t len = strnlen(pszText, cchField - 1);
  memcpy(pszField, pszText, len);
  pszField[len] = 0;
}

// The running program's file version, read from its own version resource
// in place: version.dll, which is no KnownDLL, is not loaded for it.
void ReadOwnVersion(char* pszVersion, size_t cchVersion) {
  HRSRC hResource = FindResourceW(nullptr, MAKEINTRESOURCEW(VS_VERSION_INFO), RT_VERSION);
  HGLOBAL hData = hResource != nullptr ? LoadResource(nullptr, hResource) : nullptr;
  const BYTE* pb = hData != nullptr ? static_cast<const BYTE*>(LockResource(hData)) : nullptr;
  const DWORD cb = hResource != nullptr ? SizeofResource(nullptr, hResource) : 0;
  if (pb == nullptr) return;
  // VS_VERSIONINFO: three WORDs, the key "VS_VERSION_INFO", padding to a
  // DWORD, then the fixed part, which starts with its signature.
  for (DWORD off = 0; off + sizeof(VS_FIXEDFILEINFO) <= cb && off < 96; off += 4) {
    VS_FIXEDFILEINFO fixed;
    memcpy(&fixed, pb + off, sizeof(fixed));
    if (fixed.dwSignature != VS_FFI_SIGNATURE) continue;
    char szVersion[64] = {};
    NyStrPrintf(szVersion, sizeof(szVersion), "%d.%d.%d.%d", HIWORD(fixed.dwFileVersionMS),
                LOWORD(fixed.dwFileVersionMS), HIWORD(fixed.dwFileVersionLS), LOWORD(fixed.dwFileVersionLS));
    CopyField(pszVersion, cchVersion, szVersion);
    return;
  }
}

}  // namespace

void GatherProcessLogInfo(ProcessLogInfo* pInfo) {
  ProcessLogInfo info{};
  info.u4ProcessId = GetCurrentProcessId();
  info.u4WordSize = sizeof(void*) * 8;
  wchar_t wszPath[MAX_PATH * 2] = {};
  const DWORD cch = GetModuleFileNameW(nullptr, wszPath, ARRAYSIZE(wszPath));
  if (cch != 0 && cch < ARRAYSIZE(wszPath)) {
    const wchar_t* pwszName = wcsrchr(wszPath, L'\\');
    pwszName = pwszName != nullptr ? pwszName + 1 : wszPath;
    char szName[MAX_PATH * 2] = {};
    if (WideCharToMultiByte(CP_ACP, 0, pwszName, -1, szName, sizeof(szName), nullptr, nullptr) > 0) {
      CopyField(info.szExeName, sizeof(info.szExeName), szName);
    }
  }
  ReadOwnVersion(info.szExeVersion, sizeof(info.szExeVersion));
  char szUser[256] = {};
  DWORD cchUser = sizeof(szUser);
  if (GetUserNameA(szUser, &cchUser)) CopyField(info.szUserName, sizeof(info.szUserName), szUser);
  *pInfo = info;
}

CNyLogger::CNyLogger() : m_config{}, m_mutex(CreateMutexW(nullptr, FALSE, nullptr)), m_processInfo{} {}

uint32_t CNyLogger::Configure(const LoggerConfig* pConfig) {
  if (pConfig == nullptr) return NY_E_INVALID_PARAM;
  if (!m_mutex) return NY_E_OUTOFMEMORY;
  const DWORD dwWait = WaitForSingleObject(m_mutex.Get(), INFINITE);
  if (dwWait != WAIT_OBJECT_0 && dwWait != WAIT_ABANDONED) return GetLastError();
  uint32_t u4Result = NY_SUCCESS;
  if (memcmp(pConfig, &m_config, sizeof(m_config)) != 0) {
    bool bOpened = true;
    if (pConfig->u4SinkType == NY_LOG_SINK_SHM) {
      bOpened = m_shmLogger.OpenLogRingWriter();
    } else {
      // This program has no file sink: type 2 is treated like type 0.
      m_shmLogger.Close();
    }
    if (!bOpened) {
      u4Result = NY_E_INVALID_PARAM;
    } else {
      memcpy(&m_config, pConfig, sizeof(m_config));
      GatherProcessLogInfo(&m_processInfo);
    }
  }
  ReleaseMutex(m_mutex.Get());
  return u4Result;
}

bool CNyLogger::Log(uint32_t u4Level, const char* pszSrcFile, int nLine, const char* pszText) {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  const uint64_t u8Time = (uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  LogRecord record;
  NyFillLogRecord(&record, u4Level, pszSrcFile, static_cast<uint32_t>(nLine), pszText, u8Time,
                  GetCurrentProcessId(), GetCurrentThreadId());
  {
    const std::lock_guard<std::mutex> lock(m_fileLock);
    if (m_file) {
      WriteLine(record);
    } else if (!m_bFileChosen && m_backlog.size() < kMaxBacklog) {
      try {
        m_backlog.push_back(record);
      } catch (const std::bad_alloc&) {
        // The ring below still gets the record.
      }
    }
  }
  if (m_config.u4SinkType != NY_LOG_SINK_SHM) return false;
  // Gathered lazily when still empty; concurrent callers compute the same.
  if (m_processInfo.u4ProcessId == 0) GatherProcessLogInfo(&m_processInfo);
  record.u4WordSize = m_processInfo.u4WordSize;
  memcpy(record.szExeName, m_processInfo.szExeName, sizeof(record.szExeName));
  memcpy(record.szExeVersion, m_processInfo.szExeVersion, sizeof(record.szExeVersion));
  memcpy(record.szUserName, m_processInfo.szUserName, sizeof(record.szUserName));
  return m_shmLogger.PushLogRecord(record);
}

uint32_t CNyLogger::AttachFile(const wchar_t* pwszPath) {
  const std::lock_guard<std::mutex> lock(m_fileLock);
  m_bFileChosen = true;
  std::vector<LogRecord> backlog;
  backlog.swap(m_backlog);
  m_file.Reset();
  if (pwszPath == nullptr) return 0;
  // Appending: the uninstaller's temporary copy writes into the file that
  // the installed uninstaller opened, each of them at its end.
  m_file.Reset(CreateFileW(pwszPath, FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!m_file) return GetLastError();
  for (const LogRecord& record : backlog) WriteLine(record);
  return 0;
}

void CNyLogger::WriteLine(const LogRecord& record) {
  try {
    const std::string line = NyFormatLogLine(record);
    DWORD cbWritten = 0;
    WriteFile(m_file.Get(), line.data(), static_cast<DWORD>(line.size()), &cbWritten, nullptr);
  } catch (const std::bad_alloc&) {
    // The file misses this line; the ring still gets the record.
  }
}
