#pragma once
// The files a setup extracted from its package, held open from extraction
// until the end of the run with sharing that lets others read them but not
// write, rename or delete them. A copy of such a file takes its bytes from
// the held handle, never from whatever its path names by then.
#include <windows.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "NyHandle.h"

// The bytes of the package the files came from, read where a file was
// left in the package instead of being extracted.
class INyPackageBytes {
 public:
  virtual ~INyPackageBytes() = default;
  // cb bytes from u4Offset of the package, or the read's error.
  virtual uint32_t Read(uint32_t u4Offset, void* pv, uint32_t cb) const = 0;
};

// A file or folder of the package at its place under the held folder.
struct NyPackagePlace {
  std::wstring path;  // NyFullPath form
  bool bFolder = false;
  uint32_t u4Offset = 0;
  uint32_t u4Size = 0;
};

class CNyHeldFiles {
 public:
  // The process's one table.
  static CNyHeldFiles& Instance();

  // A folder whose files are all held: a file in it that is not held did not
  // come from the package.
  void AddFolder(const std::wstring& folder);
  // Keeps the handle until the file's folder is released, or the file is.
  void Hold(const std::wstring& path, CNyFile file);
  // Lets go of one file (to write it anew).
  void Release(const std::wstring& path);
  // The held handle of the path; null when the path is not held. *pbInFolder
  // tells whether the path lies in a held folder all the same.
  HANDLE Find(const std::wstring& path, bool* pbInFolder) const;
  // Closes the handles of every file in the folder and forgets the folder
  // and the package's list.
  void ReleaseFolder(const std::wstring& folder);

  // The package's whole list, at its places under a held folder, and where
  // its bytes are read: a file of the list that is not held is copied
  // straight from the package. The package is read through a handle that
  // keeps writers out, so what is copied is what was checked.
  void SetPackage(std::vector<NyPackagePlace> entries, std::shared_ptr<const INyPackageBytes> pBytes);
  // The package's files and folders below the folder, in the package's
  // order; false when the package has none there.
  bool ListFolder(const std::wstring& folder, std::vector<NyPackagePlace>* pEntries) const;
  // The package's file at the path when it is not held (it was left in the
  // package); false otherwise.
  bool FindUnextracted(const std::wstring& path, NyPackagePlace* pEntry) const;
  // Copies a file left in the package to dest (created or replaced), with
  // the time the package was opened as its time stamps, which an extracted
  // file would have had. 0 or the failing call's code.
  uint32_t CopyUnextracted(const NyPackagePlace& entry, const std::wstring& dest) const;

 private:
  // Files and folders are found under their NyPathKey.
  mutable std::mutex m_lock;
  std::vector<std::wstring> m_folders;
  std::map<std::wstring, CNyFile> m_files;
  // The package's list with each place's key, and its files by key; built
  // again (IndexEntries) whenever the list changes.
  void IndexEntries();
  std::vector<NyPackagePlace> m_entries;
  std::vector<std::wstring> m_entryKeys;
  std::map<std::wstring, size_t> m_entryFiles;  // key to index in m_entries
  std::shared_ptr<const INyPackageBytes> m_pPackage;
  FILETIME m_ftPackage{};
};

// Copies the held file behind hSource to dest (created or replaced), with
// the source's time stamps, as CopyFileW would. 0 or the failing call's code.
uint32_t CopyHeldFile(HANDLE hSource, const std::wstring& dest);
