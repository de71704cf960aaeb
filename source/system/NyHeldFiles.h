#pragma once
// The files a setup extracted from its package, held open from extraction
// until the end of the run with sharing that lets others read them but not
// write, rename or delete them. A copy of such a file takes its bytes from
// the held handle, never from whatever its path names by then.
#include <windows.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "NyHandle.h"

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
  // Closes the handles of every file in the folder and forgets the folder.
  void ReleaseFolder(const std::wstring& folder);

 private:
  // Files and folders are found under their NyPathKey.
  mutable std::mutex m_lock;
  std::vector<std::wstring> m_folders;
  std::map<std::wstring, CNyFile> m_files;
};

// Copies the held file behind hSource to dest (created or replaced), with
// the source's time stamps, as CopyFileW would. 0 or the failing call's code.
uint32_t CopyHeldFile(HANDLE hSource, const std::wstring& dest);
