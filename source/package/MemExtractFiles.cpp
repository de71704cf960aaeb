#include "MemExtractFiles.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "NyLog.h"
#include "NyFileUtil.h"
#include "NyHandle.h"
#include "NyHeldFiles.h"
#include "NyPackageCheck.h"
#include "NyPackageFormat.h"
#include "NyResult.h"
#include "NySafeStr.h"
#include "NyString.h"

namespace {

// Bytes move in pieces this large: few file calls for a large file, and a
// working set that does not grow with it.
constexpr uint32_t EXTRACT_CHUNK = 1 << 20;

bool ThreadAnsiToWide(const std::string& text, std::wstring& out) {
  out.clear();
  if (text.empty()) return true;
  const int cch = MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (cch <= 0) return false;
  out.resize(static_cast<size_t>(cch));
  return MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), static_cast<int>(text.size()), &out[0], cch) == cch;
}

// The byte checks of the reader hold for the stored text; this holds for the
// text the file system will see.
bool IsSafeWideName(const std::wstring& name) {
  if (name.empty() || name.find_first_of(std::wstring(L"\\/:\0", 4)) != std::wstring::npos) return false;
  if (name.find_first_not_of(L". ") == std::wstring::npos) return false;
  // The reader's device check sees the stored bytes, whose superscript
  // digits depend on the code page; in UTF-8 they have one form.
  std::string utf8;
  return NyWideToMultiByte(NY_CP_UTF8, name.data(), name.size(), &utf8) && !NyPackageIsDeviceName(utf8);
}

// A path for a log line, in the system ANSI code page.
std::string AnsiForLog(const std::wstring& text) {
  size_t cb = 0;
  if (text.empty() || WideToCodePage(text.c_str(), 0, nullptr, &cb) != NY_SUCCESS || cb == 0) return std::string();
  std::string out(cb, '\0');
  if (WideToCodePage(text.c_str(), 0, &out[0], &cb) != NY_SUCCESS) return std::string();
  out.resize(strnlen(out.c_str(), out.size()));
  return out;
}

// A file of a setup's own extraction folder is held until the end of the run:
// others may read it, nobody may write, rename or delete it. The write access
// is given up through a second open of the same file (the writer's sharing
// keeps its path from being swapped in between); a writer that slipped in
// between the two opens is caught by comparing the held bytes with the
// package's (pfnPackage gives them a chunk at a time).
template <typename PackageChunk>
uint32_t HoldExtractedFile(const std::wstring& path, CNyFile writer, uint32_t cbData, PackageChunk pfnPackage) {
  CNyFile bridge(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!bridge) return NYFAIL(GetLastError(), "CreateFileW (hold)", path.c_str());
  writer.Reset();
  CNyFile held(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!held) return NYFAIL(GetLastError(), "CreateFileW (hold)", path.c_str());
  bridge.Reset();
  // One byte at least, so that a file longer than an empty entry shows.
  std::vector<BYTE> chunk(std::max<uint32_t>(1, std::min(EXTRACT_CHUNK, cbData)));
  for (uint32_t cbDone = 0;;) {
    DWORD cbRead = 0;
    if (!ReadFile(held.Get(), chunk.data(), static_cast<DWORD>(chunk.size()), &cbRead, nullptr))
      return NYFAIL(GetLastError(), "ReadFile (hold)", path.c_str());
    // The file ends where the package's bytes end, and not before.
    const BYTE* pbPackage = nullptr;
    const bool bSame = cbRead <= cbData - cbDone && (cbRead != 0 || cbDone == cbData) &&
                       (cbRead == 0 || (pfnPackage(cbDone, cbRead, &pbPackage) == 0 &&
                                        memcmp(chunk.data(), pbPackage, cbRead) == 0));
    if (!bSame) return NYFAIL(NY_E_INVALID_DATA, "compare with the package", path.c_str());
    if (cbRead == 0) break;
    cbDone += cbRead;
  }
  CNyHeldFiles::Instance().Hold(path, std::move(held));
  return 0;
}

// The first entry whose relative path equals strWanted, ignoring the case of
// A-Z, or null.
const CFileInfo* FindEntry(const CFileInfoArray& list, const std::wstring& strWanted) {
  for (const CFileInfo& entry : list) {
    if (SafeWcsICmp(entry.m_strRelativePath.c_str(), strWanted.c_str()) == 0) return &entry;
  }
  return nullptr;
}

}  // namespace

uint32_t LoadPackageResource(UINT uId, const BYTE** ppbData, DWORD* pcbSize) {
  if (ppbData == nullptr || pcbSize == nullptr) return ERROR_INVALID_PARAMETER;
  HRSRC hResource = FindResourceW(nullptr, MAKEINTRESOURCEW(uId), MAKEINTRESOURCEW(NY_PACKAGE_RESOURCE_TYPE));
  if (hResource == nullptr) return NYFAIL(GetLastError(), "FindResourceW", "the package resource");
  HGLOBAL hData = LoadResource(nullptr, hResource);
  const void* pvData = hData != nullptr ? LockResource(hData) : nullptr;
  if (pvData == nullptr) return NYFAIL(GetLastError(), "LoadResource", "the package resource");
  const DWORD cbData = SizeofResource(nullptr, hResource);
  if (cbData == 0) return NYFAIL(ERROR_INVALID_DATA, "SizeofResource", "the package resource");
  *ppbData = static_cast<const BYTE*>(pvData);
  *pcbSize = cbData;
  return 0;
}

bool CMemExtractFiles::GetFileList(CFileInfoArray& list) const {
  if (m_pbData == nullptr || m_cbData == 0) return false;
  uint8_t leadBytes[256];
  std::vector<NyPackageEntry> entries;
  const bool bRead =
      NyPackageReadList(m_pbData, m_cbData, entries, NyPackageLeadBytes(CP_THREAD_ACP, leadBytes));
  for (const NyPackageEntry& entry : entries) {
    CFileInfo info;
    if (!ThreadAnsiToWide(entry.name, info.m_strName) || !IsSafeWideName(info.m_strName) ||
        !ThreadAnsiToWide(entry.relativePath, info.m_strRelativePath))
      return false;
    info.m_u4Size = entry.u4Size;
    info.m_u4Offset = entry.u4Offset;
    info.m_u1Flags = entry.u1Flags;
    list.push_back(info);
  }
  return bRead;
}

uint32_t CMemExtractFiles::ExtractFiles(const CMemExtractFiles* pExtractor, const CFileInfoArray& list,
                                        std::wstring strWanted, std::wstring strTargetFolder) {
  if (strWanted.empty()) {
    std::wstring madeFolder;
    for (const CFileInfo& entry : list) {
      const uint32_t u4Result = ExtractEntry(pExtractor, entry, strTargetFolder, &madeFolder);
      if (u4Result != 0) return u4Result;
    }
    return 0;
  }
  const CFileInfo* pEntry = FindEntry(list, strWanted);
  std::wstring madeFolder;
  return pEntry != nullptr ? ExtractEntry(pExtractor, *pEntry, strTargetFolder, &madeFolder) : ERROR_FILE_NOT_FOUND;
}

uint32_t CMemExtractFiles::GetFileBytes(const CFileInfoArray& list, const std::wstring& strWanted,
                                        const BYTE** ppbData, DWORD* pcbSize, size_t* piEntry) const {
  if (ppbData == nullptr || pcbSize == nullptr) return ERROR_INVALID_PARAMETER;
  const CFileInfo* pEntry = FindEntry(list, strWanted);
  if (pEntry == nullptr) return ERROR_FILE_NOT_FOUND;
  if (pEntry->IsFolder() || uint64_t(pEntry->m_u4Offset) + pEntry->m_u4Size > m_cbData) return ERROR_INVALID_DATA;
  *ppbData = m_pbData + pEntry->m_u4Offset;
  *pcbSize = pEntry->m_u4Size;
  if (piEntry != nullptr) *piEntry = static_cast<size_t>(pEntry - list.data());
  return 0;
}

uint32_t CMemExtractFiles::ExtractEntry(const CMemExtractFiles* pExtractor, const CFileInfo& entry,
                                        const std::wstring& strTargetFolder, std::wstring* pMadeFolder) {
  // The folder is followed directly by the relative path ("...\" + "\PackageFiles\..."
  // gives a doubled backslash, which Windows accepts). A root file's bare name
  // gets a separator when the folder has none, so it cannot land beside the
  // folder; an empty folder would put every entry under the drive's root.
  if (strTargetFolder.empty()) {
    NYLOG_RESULT(NY_E_INVALID_PARAM);
    return NY_E_INVALID_PARAM;
  }
  std::wstring target = strTargetFolder;
  const wchar_t last = target.back();
  if (last != L'\\' && last != L'/' && entry.m_strRelativePath.compare(0, 1, L"\\") != 0) target += L'\\';
  target += entry.m_strRelativePath;

  // The list keeps a folder's files together: its existence is asked once,
  // not once per file (each query is a kernel call).
  // MakeDirectoryTree makes a path with a dot in it up to its last separator.
  const bool bMakesParent = !entry.IsFolder() && target.find(L'.') != std::wstring::npos;
  const std::wstring folder = target.substr(0, target.rfind(L'\\') + 1);
  // The step's code line is the one record of a failure here.
  const bool bMade = bMakesParent && folder == *pMadeFolder;
  const uint32_t u4Result = bMade ? NY_SUCCESS : MakeDirectoryTree(target.c_str(), nullptr);
  if (u4Result != NY_SUCCESS) {
    NYLOG_RESULT(u4Result);
    return u4Result;
  }
  if (bMakesParent) *pMadeFolder = folder;
  if (entry.IsFolder()) return 0;  // creating the path created the folder
  return ExtractFileEx(pExtractor, target, entry);
}

uint32_t CMemExtractFiles::ExtractFileEx(const CMemExtractFiles* pExtractor, std::wstring strTargetFile,
                                         CFileInfo entry) {
  if (pExtractor == nullptr || pExtractor->m_pbData == nullptr || pExtractor->m_cbData == 0 ||
      strTargetFile.empty() || entry.IsFolder())
    return ERROR_INVALID_PARAMETER;
  // An entry that did not come from this package's list may point anywhere.
  if (uint64_t(entry.m_u4Offset) + entry.m_u4Size > pExtractor->m_cbData) return ERROR_INVALID_PARAMETER;

  // A file this run extracted before is let go to be written again.
  bool bInHeldFolder = false;
  CNyHeldFiles& held = CNyHeldFiles::Instance();
  if (held.Find(strTargetFile, &bInHeldFolder) != nullptr) held.Release(strTargetFile);
  // While it is written, others may read the file but not write, rename or
  // delete it.
  CNyFile writer(CreateFileW(strTargetFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!writer) {
    const DWORD dwError = GetLastError();
    NYLOG(LOG_LEVEL_OUTCOME, "CMemExtractFiles::ExtractFileEx()->fopen(%s) error. GetLastError=0x%x",
          AnsiForLog(strTargetFile).c_str(), static_cast<unsigned>(dwError));
    return dwError != 0 ? dwError : static_cast<uint32_t>(ERROR_OPEN_FAILED);
  }
  std::vector<BYTE> buffer(pExtractor->m_pFile != nullptr ? std::min(EXTRACT_CHUNK, entry.m_u4Size) : 0);
  const auto package = [&](uint32_t u4At, uint32_t cb, const BYTE** ppb) {
    return pExtractor->Chunk(entry.m_u4Offset + u4At, cb, buffer.data(), ppb);
  };
  for (uint32_t cbWritten = 0; cbWritten < entry.m_u4Size;) {
    const uint32_t cbChunk = std::min(EXTRACT_CHUNK, entry.m_u4Size - cbWritten);
    const BYTE* pbChunk = nullptr;
    const uint32_t u4Read = package(cbWritten, cbChunk, &pbChunk);
    if (u4Read != 0) return u4Read;
    const uint32_t u4Write = WriteAll(writer.Get(), pbChunk, cbChunk);
    if (u4Write != 0) return NYFAIL(u4Write, "WriteFile", strTargetFile.c_str());
    cbWritten += cbChunk;
  }
  if (!bInHeldFolder) return 0;
  return HoldExtractedFile(strTargetFile, std::move(writer), entry.m_u4Size, package);
}

uint32_t CMemExtractFiles::Chunk(uint32_t u4Offset, uint32_t cb, BYTE* pbBuffer, const BYTE** ppb) const {
  if (m_pFile == nullptr) {
    *ppb = m_pbData + u4Offset;
    return 0;
  }
  *ppb = pbBuffer;
  return m_pFile->Read(u4Offset, pbBuffer, cb);
}
