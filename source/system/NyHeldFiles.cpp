#include "NyHeldFiles.h"

#include <algorithm>
#include <utility>

#include "NyLog.h"
#include "NyFileUtil.h"
#include "NyPathKey.h"

namespace {

// As large as the extraction's pieces: a large file costs few calls, a small
// one a buffer of its own size.
constexpr DWORD kCopyChunk = 1 << 20;

// The held file's cbSize bytes: its size is known and nobody may write it,
// so the copy ends without a read that finds the end.
uint32_t CopyContents(HANDLE hSource, ULONGLONG cbSize, HANDLE hTarget, const std::wstring& dest) {
  std::vector<BYTE> buffer(static_cast<size_t>(std::min<ULONGLONG>(kCopyChunk, cbSize)));
  // Positional reads: the held handle's own file pointer is never relied on.
  OVERLAPPED at{};
  for (ULONGLONG cbDone = 0; cbDone < cbSize;) {
    const DWORD cbWant = static_cast<DWORD>(std::min<ULONGLONG>(kCopyChunk, cbSize - cbDone));
    DWORD cbRead = 0;
    if (!ReadFile(hSource, buffer.data(), cbWant, &cbRead, &at)) {
      return NYFAIL(GetLastError(), "ReadFile (package file)", dest.c_str());
    }
    if (cbRead == 0) return NYFAIL(ERROR_HANDLE_EOF, "ReadFile (package file)", dest.c_str());
    const uint32_t u4Write = WriteAll(hTarget, buffer.data(), cbRead);
    if (u4Write != 0) return NYFAIL(u4Write, "WriteFile", dest.c_str());
    cbDone += cbRead;
    at.Offset = static_cast<DWORD>(cbDone);
    at.OffsetHigh = static_cast<DWORD>(cbDone >> 32);
  }
  return 0;
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
  // One query gives both the size and the time stamps.
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(hSource, &info)) {
    return NYFAIL(GetLastError(), "GetFileInformationByHandle", dest.c_str());
  }
  CNyFile target(
      CreateFileW(dest.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!target) return NYFAIL(GetLastError(), "CreateFileW", dest.c_str());
  const ULONGLONG cbSize = (static_cast<ULONGLONG>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  const uint32_t u4Result = CopyContents(hSource, cbSize, target.Get(), dest);
  if (u4Result != 0) {
    // As CopyFileW does: no half-written file stays where the product's was.
    target.Reset();
    DeleteFileW(dest.c_str());
    return u4Result;
  }
  SetFileTime(target.Get(), &info.ftCreationTime, &info.ftLastAccessTime, &info.ftLastWriteTime);
  return 0;
}
