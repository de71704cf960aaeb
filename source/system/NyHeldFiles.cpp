#include "NyHeldFiles.h"

#include <algorithm>
#include <utility>

#include "NyLog.h"
#include "NyFileUtil.h"
#include "NyPathKey.h"

namespace {

constexpr DWORD kCopyChunk = 64 << 10;

uint32_t CopyContents(HANDLE hSource, HANDLE hTarget, const std::wstring& dest) {
  std::vector<BYTE> buffer(kCopyChunk);
  // Positional reads: the held handle's own file pointer is never relied on.
  OVERLAPPED at{};
  for (;;) {
    DWORD cbRead = 0;
    if (!ReadFile(hSource, buffer.data(), kCopyChunk, &cbRead, &at)) {
      const DWORD dwError = GetLastError();
      if (dwError == ERROR_HANDLE_EOF) return 0;
      return NYFAIL(dwError, "ReadFile (package file)", dest.c_str());
    }
    if (cbRead == 0) return 0;
    const uint32_t u4Write = WriteAll(hTarget, buffer.data(), cbRead);
    if (u4Write != 0) return NYFAIL(u4Write, "WriteFile", dest.c_str());
    const ULONGLONG u8Next = ((static_cast<ULONGLONG>(at.OffsetHigh) << 32) | at.Offset) + cbRead;
    at.Offset = static_cast<DWORD>(u8Next);
    at.OffsetHigh = static_cast<DWORD>(u8Next >> 32);
  }
}

}  // namespace

CNyHeldFiles& CNyHeldFiles::Instance() {
  // Never destroyed: the driver's own destructor still releases its folder
  // at process exit, after the statics made later than the driver are gone.
  static CNyHeldFiles* const s_pTable = new CNyHeldFiles();
  return *s_pTable;
}

void CNyHeldFiles::AddFolder(const std::wstring& folder) {
  const std::lock_guard<std::mutex> lock(m_lock);
  m_folders.push_back(NyPathKey(folder));
}

void CNyHeldFiles::Hold(const std::wstring& path, CNyFile file) {
  const std::lock_guard<std::mutex> lock(m_lock);
  m_files[NyPathKey(path)] = std::move(file);
}

void CNyHeldFiles::Release(const std::wstring& path) {
  const std::wstring key = NyPathKey(path);
  const std::lock_guard<std::mutex> lock(m_lock);
  m_files.erase(key);
}

HANDLE CNyHeldFiles::Find(const std::wstring& path, bool* pbInFolder) const {
  const std::wstring key = NyPathKey(path);
  const std::lock_guard<std::mutex> lock(m_lock);
  *pbInFolder = std::any_of(m_folders.begin(), m_folders.end(),
                            [&key](const std::wstring& folder) { return NyPathKeyIsIn(key, folder); });
  const auto it = m_files.find(key);
  return it != m_files.end() ? it->second.Get() : nullptr;
}

void CNyHeldFiles::ReleaseFolder(const std::wstring& folder) {
  const std::wstring key = NyPathKey(folder);
  const std::lock_guard<std::mutex> lock(m_lock);
  for (auto it = m_files.begin(); it != m_files.end();) {
    it = NyPathKeyIsIn(it->first, key) ? m_files.erase(it) : std::next(it);
  }
  m_folders.erase(std::remove(m_folders.begin(), m_folders.end(), key), m_folders.end());
}

uint32_t CopyHeldFile(HANDLE hSource, const std::wstring& dest) {
  CNyFile target(
      CreateFileW(dest.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!target) return NYFAIL(GetLastError(), "CreateFileW", dest.c_str());
  const uint32_t u4Result = CopyContents(hSource, target.Get(), dest);
  if (u4Result != 0) {
    // As CopyFileW does: no half-written file stays where the product's was.
    target.Reset();
    DeleteFileW(dest.c_str());
    return u4Result;
  }
  FILETIME ftCreated, ftAccessed, ftWritten;
  if (GetFileTime(hSource, &ftCreated, &ftAccessed, &ftWritten)) {
    SetFileTime(target.Get(), &ftCreated, &ftAccessed, &ftWritten);
  }
  return 0;
}
