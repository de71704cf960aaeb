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

// cbSize bytes, read a piece at a time by pfnRead(offset, buffer, cb), to a
// new dest with the given time stamps. As CopyFileW does, no half-written
// file stays where the product's was.
template <typename Read>
uint32_t WriteCopy(const std::wstring& dest, ULONGLONG cbSize, const FILETIME (&aft)[3], Read pfnRead) {
  CNyFile target(
      CreateFileW(dest.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!target) return NYFAIL(GetLastError(), "CreateFileW", dest.c_str());
  std::vector<BYTE> buffer(static_cast<size_t>(std::min<ULONGLONG>(kCopyChunk, cbSize)));
  for (ULONGLONG cbDone = 0; cbDone < cbSize;) {
    const DWORD cbWant = static_cast<DWORD>(std::min<ULONGLONG>(kCopyChunk, cbSize - cbDone));
    uint32_t u4Result = pfnRead(cbDone, buffer.data(), cbWant);
    if (u4Result != 0) {
      NYFAIL(u4Result, "ReadFile (package file)", dest.c_str());
    } else if ((u4Result = WriteAll(target.Get(), buffer.data(), cbWant)) != 0) {
      NYFAIL(u4Result, "WriteFile", dest.c_str());
    }
    if (u4Result != 0) {
      target.Reset();
      DeleteFileW(dest.c_str());
      return u4Result;
    }
    cbDone += cbWant;
  }
  SetFileTime(target.Get(), &aft[0], &aft[1], &aft[2]);
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
  std::vector<NyPackagePlace> kept;
  for (size_t i = 0; i < m_entries.size(); ++i) {
    if (!NyPathKeyIsIn(m_entryKeys[i], key)) kept.push_back(std::move(m_entries[i]));
  }
  m_entries = std::move(kept);
  if (m_entries.empty()) m_pPackage.reset();
  IndexEntries();
}

void CNyHeldFiles::IndexEntries() {
  m_entryKeys.clear();
  m_entryFiles.clear();
  for (size_t i = 0; i < m_entries.size(); ++i) {
    m_entryKeys.push_back(NyPathKey(m_entries[i].path));
    if (!m_entries[i].bFolder) m_entryFiles[m_entryKeys[i]] = i;
  }
}

void CNyHeldFiles::SetPackage(std::vector<NyPackagePlace> entries, std::shared_ptr<const INyPackageBytes> pBytes) {
  FILETIME ftNow;
  GetSystemTimeAsFileTime(&ftNow);
  const std::lock_guard<std::mutex> lock(m_lock);
  m_entries = std::move(entries);
  m_pPackage = std::move(pBytes);
  m_ftPackage = ftNow;
  IndexEntries();
}

bool CNyHeldFiles::ListFolder(const std::wstring& folder, std::vector<NyPackagePlace>* pEntries) const {
  const std::wstring key = NyPathKey(folder);
  pEntries->clear();
  const std::lock_guard<std::mutex> lock(m_lock);
  for (size_t i = 0; i < m_entries.size(); ++i) {
    if (NyPathKeyIsIn(m_entryKeys[i], key)) pEntries->push_back(m_entries[i]);
  }
  return !pEntries->empty();
}

bool CNyHeldFiles::FindUnextracted(const std::wstring& path, NyPackagePlace* pEntry) const {
  const std::wstring key = NyPathKey(path);
  const std::lock_guard<std::mutex> lock(m_lock);
  const auto it = m_entryFiles.find(key);
  if (it == m_entryFiles.end() || m_files.count(key) != 0 || m_pPackage == nullptr) return false;
  *pEntry = m_entries[it->second];
  return true;
}

uint32_t CNyHeldFiles::CopyUnextracted(const NyPackagePlace& entry, const std::wstring& dest) const {
  std::shared_ptr<const INyPackageBytes> pPackage;
  FILETIME ft;
  {
    const std::lock_guard<std::mutex> lock(m_lock);
    pPackage = m_pPackage;
    ft = m_ftPackage;
  }
  if (pPackage == nullptr) return NYFAIL(ERROR_FILE_NOT_FOUND, "copy from the package", entry.path.c_str());
  const FILETIME aft[3] = {ft, ft, ft};
  return WriteCopy(dest, entry.u4Size, aft, [&](ULONGLONG u8At, BYTE* pb, DWORD cb) {
    return pPackage->Read(entry.u4Offset + static_cast<uint32_t>(u8At), pb, cb);
  });
}

uint32_t CopyHeldFile(HANDLE hSource, const std::wstring& dest) {
  // One query gives both the size and the time stamps.
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(hSource, &info)) {
    return NYFAIL(GetLastError(), "GetFileInformationByHandle", dest.c_str());
  }
  const ULONGLONG cbSize = (static_cast<ULONGLONG>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  const FILETIME aft[3] = {info.ftCreationTime, info.ftLastAccessTime, info.ftLastWriteTime};
  // Positional reads: the held handle's own file pointer is never relied
  // on. Its size is known and nobody may write it, so the copy ends without
  // a read that finds the end.
  return WriteCopy(dest, cbSize, aft, [hSource](ULONGLONG u8At, BYTE* pb, DWORD cb) -> uint32_t {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(u8At);
    at.OffsetHigh = static_cast<DWORD>(u8At >> 32);
    DWORD cbRead = 0;
    if (!ReadFile(hSource, pb, cb, &cbRead, &at)) return GetLastError();
    return cbRead == cb ? 0 : static_cast<uint32_t>(ERROR_HANDLE_EOF);
  });
}
