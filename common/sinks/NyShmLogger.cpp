#include "NyShmLogger.h"

#include <cstring>

#include "NyResult.h"
#include "NySafeStr.h"

const wchar_t kNyLogRingName[] = L"{NyShmLogByLockfreeCirculayArray-4b1a}";
const wchar_t kNyLogSinkMutexName[] = L"{NyMutexForShmLog-4b1a}";

namespace {

// How long an open or close waits for the sink mutex. Its honest holders
// keep it for the few milliseconds of an open; any process of the machine
// may take it and never let go, and logging must not stall a setup.
constexpr DWORD kSinkMutexWaitMs = 100;

// Holds the sink mutex for one open or close, when it can be had in time.
// Without it the open goes ahead: all it guards against is a second process
// opening a ring that the first is still initialising, which that second
// process refuses by the capacity check.
class SinkLock {
 public:
  explicit SinkLock(HANDLE hMutex) : m_hMutex(hMutex) {
    if (m_hMutex == nullptr) return;
    const DWORD dw = WaitForSingleObject(m_hMutex, kSinkMutexWaitMs);
    // An owner that died while holding the mutex left nothing half-done
    // that the open relies on: the region itself is checked.
    m_bHeld = dw == WAIT_OBJECT_0 || dw == WAIT_ABANDONED;
  }
  ~SinkLock() {
    if (m_bHeld) ReleaseMutex(m_hMutex);
  }
  SinkLock(const SinkLock&) = delete;
  SinkLock& operator=(const SinkLock&) = delete;

 private:
  HANDLE m_hMutex;
  bool m_bHeld = false;
};

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

// The facts of the running process: executable name without folder, its
// file version, the user name; each cut to fit its field.
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

}  // namespace

bool CNyShmLogger::OpenLogRingWriter(bool bCreate, uint32_t* pu4Result) {
  uint32_t u4Dummy = 0;
  uint32_t& u4Result = pu4Result != nullptr ? *pu4Result : u4Dummy;
  u4Result = NY_SUCCESS;
  if (!m_sinkMutex) m_sinkMutex = NyCreateNamedMutex(kNyLogSinkMutexName, false);
  SinkLock lock(m_sinkMutex.Get());
  if (m_bOpened) return true;

  bool bCreated = false;
  u4Result = NyShareMemOpen(kNyLogRingName, NyLogRingRegionSize(NY_RING_CAPACITY), bCreate, &m_region, &bCreated);
  if (u4Result != 0) return false;
  void* pvArea = static_cast<uint8_t*>(m_region.View()) + sizeof(uint32_t);
  const size_t cbArea = m_region.cbSize - sizeof(uint32_t);
  u4Result = m_queue.Attach(pvArea, cbArea, NY_RING_CAPACITY, bCreated);
  if (u4Result != 0) {
    m_region = NyShareMemHandle();
    return false;
  }
  m_pvArea = pvArea;
  m_cbArea = cbArea;
  GatherProcessLogInfo(&m_processInfo);
  m_bOpened = true;
  return true;
}

bool CNyShmLogger::RegisterReader() {
  if (!m_bOpened || m_bRegisteredReader) return m_bRegisteredReader;
  m_bRegisteredReader = m_queue.RegisterReader();
  return m_bRegisteredReader;
}

bool CNyShmLogger::PushLogRecord(const LogRecord& record) {
  if (!m_bOpened) return false;
  return m_queue.Push(record);
}

void CNyShmLogger::Write(const LogRecord& record) {
  if (!m_bOpened) return;
  LogRecord stamped = record;
  stamped.u4WordSize = m_processInfo.u4WordSize;
  memcpy(stamped.szExeName, m_processInfo.szExeName, sizeof(stamped.szExeName));
  memcpy(stamped.szExeVersion, m_processInfo.szExeVersion, sizeof(stamped.szExeVersion));
  memcpy(stamped.szUserName, m_processInfo.szUserName, sizeof(stamped.szUserName));
  m_queue.Push(stamped);
}

void CNyShmLogger::Close() {
  SinkLock lock(m_sinkMutex.Get());
  if (!m_bOpened) return;
  if (m_bRegisteredReader) m_queue.UnregisterReader();
  m_queue.Detach();
  m_region = NyShareMemHandle();
  m_pvArea = nullptr;
  m_cbArea = 0;
  m_bOpened = false;
  m_bRegisteredReader = false;
}
