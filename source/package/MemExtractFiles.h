#pragma once
// The embedded package (resource type 256, id 136): loading it, listing its
// files and writing them to disk. The byte layout and its checks live in
// NyPackageFormat; this unit gives the list its wide-text form and extracts.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

class CNyPackageFile;

constexpr UINT NY_PACKAGE_RESOURCE_TYPE = 256;
constexpr UINT NY_PACKAGE_RESOURCE_ID = 136;

// The package resource `uId` of the running module, in place: a resource
// stays mapped for the life of its module, so nothing is copied. Returns 0,
// ERROR_INVALID_PARAMETER for a null out pointer, or the error of the
// failing resource call (ERROR_INVALID_DATA for an empty resource).
uint32_t LoadPackageResource(UINT uId, const BYTE** ppbData, DWORD* pcbSize);

// One entry of the file list: a file, or an empty folder.
class CFileInfo {
 public:
  CFileInfo() = default;
  CFileInfo(const CFileInfo&) = default;
  CFileInfo& operator=(const CFileInfo&) = default;
  virtual ~CFileInfo() = default;

  bool IsFolder() const { return (m_u1Flags & 0x80) != 0; }

  std::wstring m_strName;          // as stored, from the thread's ANSI code page
  std::wstring m_strRelativePath;  // "\PackageFiles\Share\a.cfg", "root.txt", "\PackageFiles\Reg\"
  uint32_t m_u4Size = 0xFFFFFFFF;
  uint32_t m_u4Offset = 0xFFFFFFFF;  // absolute offset in the package
  uint8_t m_u1Flags = 0;             // 0x80 folder, 0x00 file
};

// The flat file list, in reading order.
using CFileInfoArray = std::vector<CFileInfo>;

// Reads and extracts a package held in memory. It does not own the bytes.
// Given the same package's bytes in a file (pFile, which must outlive it),
// it reads the files' bytes from there a chunk at a time and touches only
// the list in memory: a mapped package of any size is then never paged in
// as a whole.
class CMemExtractFiles {
 public:
  CMemExtractFiles(const BYTE* pbData, DWORD cbData, const CNyPackageFile* pFile = nullptr)
      : m_pbData(pbData), m_cbData(cbData), m_pFile(pFile) {}
  virtual ~CMemExtractFiles() = default;

  // Appends one entry per file and empty folder. False on any malformed
  // part; the entries appended before the failure stay.
  bool GetFileList(CFileInfoArray& list) const;

  // Writes the entries under strTargetFolder (the folder followed directly
  // by each relative path). An empty strWanted writes every entry; otherwise
  // only the first entry whose relative path equals strWanted, ignoring the
  // case of A-Z (ERROR_FILE_NOT_FOUND when there is none). Stops at the
  // first failure and returns its code: the system's error of the failing
  // call, so the caller can tell what went wrong.
  static uint32_t ExtractFiles(const CMemExtractFiles* pExtractor, const CFileInfoArray& list, std::wstring strWanted,
                           std::wstring strTargetFolder);

  // The bytes of the file that ExtractFiles would write for strWanted, in
  // place. 0, ERROR_FILE_NOT_FOUND when no entry matches, or
  // ERROR_INVALID_DATA when it is a folder or lies outside the package.
  // *piEntry (when given) is the entry's index in the list.
  uint32_t GetFileBytes(const CFileInfoArray& list, const std::wstring& strWanted, const BYTE** ppbData,
                        DWORD* pcbSize, size_t* piEntry = nullptr) const;

  // Writes one file entry to strTargetFile (an existing file is replaced)
  // in chunks of 1 MiB.
  // 0, or ERROR_INVALID_PARAMETER for no bytes, path or a folder entry, or
  // the error of the failing open or write.
  static uint32_t ExtractFileEx(const CMemExtractFiles* pExtractor, std::wstring strTargetFile, CFileInfo entry);

 private:
  // *pMadeFolder: the folder the previous entry's file went into, known to
  // exist; updated.
  static uint32_t ExtractEntry(const CMemExtractFiles* pExtractor, const CFileInfo& entry,
                               const std::wstring& strTargetFolder, std::wstring* pMadeFolder);

  // cb bytes of the package from u4Offset: in place, or read through the
  // file into pbBuffer.
  uint32_t Chunk(uint32_t u4Offset, uint32_t cb, BYTE* pbBuffer, const BYTE** ppb) const;

  const BYTE* m_pbData;
  DWORD m_cbData;
  const CNyPackageFile* m_pFile;
};
