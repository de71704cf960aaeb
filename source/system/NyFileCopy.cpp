#include "NyFileCopy.h"

#include <windows.h>

#include "NyLog.h"
#include "NyFileDelete.h"
#include "NyHandle.h"
#include "NyHeldFiles.h"
#include "NyFileUtil.h"
#include "NyFileVersion.h"
#include "NyPathKey.h"
#include "NyProcessUtil.h"
#include "NyResult.h"
#include "NySafeStr.h"

namespace {

constexpr int kMaxDiscardNames = 10000;

// Each query is a kernel call (a server round trip under Wine): one answers
// both whether a path exists and whether it is a folder.
DWORD Attributes(const std::wstring& path) { return GetFileAttributesW(path.c_str()); }
bool Exists(const std::wstring& path) { return Attributes(path) != INVALID_FILE_ATTRIBUTES; }
bool IsFolder(DWORD dwAttributes) {
  return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool HasExeExtension(const std::wstring& path) {
  const size_t dot = path.rfind(L'.');
  const size_t slash = path.rfind(L'\\');
  if (dot == std::wstring::npos || (slash != std::wstring::npos && dot < slash)) return false;
  return SafeWcsICmp(path.c_str() + dot, L".exe") == 0;
}

// True when both versions could be read and the source is the older one.
bool SourceIsOlder(const std::wstring& src, const std::wstring& dest) {
  NyFileVersion srcVersion, destVersion;
  if (GetFileVersionNumber(src.c_str(), &srcVersion) != 0) return false;
  if (GetFileVersionNumber(dest.c_str(), &destVersion) != 0) return false;
  return CompareVersions(srcVersion, destVersion) < 0;
}

void ReplaceAll(std::wstring* pText, const std::wstring& from, const std::wstring& to) {
  for (size_t pos = 0; (pos = pText->find(from, pos)) != std::wstring::npos; pos += to.size())
    pText->replace(pos, from.size(), to);
}

// Where a copy takes its bytes from: a file of the package from its held
// handle, or straight from the package when it was not extracted (looked up
// once per copy); a file in the package's folder that the package did not
// bring is refused.
struct CopySource {
  const std::wstring& path;
  HANDLE hHeld = nullptr;
  bool bInPackageFolder = false;
  bool bUnextracted = false;
  NyPackagePlace entry;
};

// One copy, with its failure record: the target names the copy.
uint32_t CopyOne(const CopySource& src, const std::wstring& dest) {
  if (src.hHeld != nullptr) return CopyHeldFile(src.hHeld, dest);
  if (src.bUnextracted) return CNyHeldFiles::Instance().CopyUnextracted(src.entry, dest);
  if (src.bInPackageFolder) {
    return NYFAIL(NY_E_INVALID_DATA, "copy a file the package did not bring", src.path.c_str());
  }
  if (!CopyFileW(src.path.c_str(), dest.c_str(), FALSE)) return NYFAIL(GetLastError(), "CopyFileW", dest.c_str());
  return 0;
}

// A folder of the package, from the package's list: what is on disk under
// the extraction folder is not asked, and a file left in the package is
// copied from it. The list names only files and empty folders, so a file's
// folders are made before it, once per run of its files, and one level at a
// time as the copy of a folder on disk makes them (CreateDirectoryTree reads
// a path with a '.' in it as a file's), so both give the same result.
uint32_t CopyPackageFolder(const std::wstring& src, const std::wstring& dest,
                           const std::vector<NyPackagePlace>& entries, INyFileChanges* pChanges) {
  const size_t cchSrc = NyFullPath(src).size() + 1;
  const std::wstring destDir = NormalizeDirPath(dest);
  std::wstring madeFolders;
  for (const NyPackagePlace& entry : entries) {
    const std::wstring rel = entry.path.substr(cchSrc);
    const std::wstring folders = entry.bFolder ? rel + L'\\' : rel.substr(0, rel.rfind(L'\\') + 1);
    if (folders != madeFolders) {
      for (size_t at = folders.find(L'\\'); at != std::wstring::npos; at = folders.find(L'\\', at + 1)) {
        const uint32_t u4Result = CreateDirectoryTree((destDir + folders.substr(0, at)).c_str(), pChanges);
        if (u4Result != 0) return u4Result;
      }
      madeFolders = folders;
    }
    if (entry.bFolder) continue;
    const uint32_t u4Result = CopyFileReplacing(entry.path, destDir + rel, false, nullptr, pChanges);
    if (u4Result != 0) return u4Result;
  }
  return 0;
}

// The folders' content, both given as NormalizeDirPath gives them; srcDir is
// known to be a folder, so a subfolder found in it costs no further query.
uint32_t CopyFolderInto(const std::wstring& srcDir, const std::wstring& destDir, INyFileChanges* pChanges) {
  WIN32_FIND_DATAW fd;
  const CNyFind find(FindFirstFileW((srcDir + L"*").c_str(), &fd));
  if (!find) return NYFAIL(GetLastError(), "FindFirstFileW", srcDir.c_str());
  uint32_t u4Result = 0;
  do {
    if (wcscmp(fd.cFileName, L".") == 0 || wcscmp(fd.cFileName, L"..") == 0) continue;
    const std::wstring s = srcDir + fd.cFileName;
    const std::wstring d = destDir + fd.cFileName;
    if ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      u4Result = CreateDirectoryTree(d.c_str(), pChanges);
      if (u4Result == 0) u4Result = CopyFolderInto(s + L'\\', d + L'\\', pChanges);
    } else {
      u4Result = CopyFileReplacing(s, d, false, nullptr, pChanges);
    }
  } while (u4Result == 0 && FindNextFileW(find.Get(), &fd));
  return u4Result;
}

}  // namespace

std::wstring NormalizeDirPath(const std::wstring& path) {
  std::wstring result = path + L"\\";
  ReplaceAll(&result, L"\\\\", L"\\");
  ReplaceAll(&result, L"/", L"\\");
  return result;
}

uint32_t CopyFileReplacing(const std::wstring& src, const std::wstring& dest, bool bCmpVer, uint32_t* pbRebootFlag,
                           INyFileChanges* pChanges) {
  if (src.empty() || dest.empty()) return NY_E_INVALID_PARAM;
  CopySource source{src, nullptr, false, false, {}};
  CNyHeldFiles& held = CNyHeldFiles::Instance();
  source.hHeld = held.Find(src, &source.bInPackageFolder);
  if (source.hHeld == nullptr && source.bInPackageFolder) source.bUnextracted = held.FindUnextracted(src, &source.entry);
  // A file of the package, held or not, needs no query of its path.
  if (source.hHeld == nullptr && !source.bUnextracted) {
    const DWORD dwSrc = Attributes(src);
    if (dwSrc == INVALID_FILE_ATTRIBUTES) return NYFAIL(ERROR_FILE_NOT_FOUND, "copy", src.c_str());
    if (IsFolder(dwSrc)) return NYFAIL(NY_E_INVALID_PARAM, "copy a folder as a file", dest.c_str());
  }
  const DWORD dwDest = Attributes(dest);
  if (IsFolder(dwDest)) return NYFAIL(NY_E_INVALID_PARAM, "copy a folder as a file", dest.c_str());
  const bool bExists = dwDest != INVALID_FILE_ATTRIBUTES;
  if (bExists && bCmpVer && SourceIsOlder(src, dest)) return 0;
  std::wstring backup;
  const uint32_t u4Told = NyFileChangesOrNone(pChanges).SettingAside(dest, bExists, &backup);
  if (u4Told != 0) return u4Told;
  if (bExists) {
    if (HasExeExtension(dest)) KillProcessesByImage(dest.c_str());
    if (!backup.empty()) {
      // Kept by a rename on its own volume, which works for a DLL in use.
      if (MoveFileExW(dest.c_str(), backup.c_str(), 0)) return CopyOne(source, dest);
    } else {
      SetFileAttributesW(dest.c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileOrSchedule(dest, pbRebootFlag);
    }
  }
  if (!bExists || !Exists(dest)) return CopyOne(source, dest);

  std::wstring discard;
  for (int n = 1;; ++n) {
    if (n > kMaxDiscardNames) return ERROR_FILE_EXISTS;
    discard = dest + NY_DISCARD_SUFFIX + std::to_wstring(n);
    if (discard.size() >= MAX_PATH) return ERROR_FILENAME_EXCED_RANGE;
    if (!Exists(discard)) break;
  }
  // From here on the new file is in place only after a restart, or the old
  // one stays on disk until then: either way a restart finishes the job.
  if (pbRebootFlag != nullptr) *pbRebootFlag = 1;
  NyNoteRestartPending();
  if (backup.empty() && MoveFileW(dest.c_str(), discard.c_str())) {
    MoveFileExW(discard.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    return CopyOne(source, dest);
  }
  uint32_t u4Result = NyFileChangesOrNone(pChanges).StagingForRestart(dest, discard, backup);
  if (u4Result != 0) return u4Result;
  u4Result = CopyOne(source, discard);
  if (u4Result != 0) return u4Result;
  // The old file leaves (for its backup, when it has one) before the new one
  // takes its place: after the restart the old file is still at hand.
  if (!MoveFileExW(dest.c_str(), backup.empty() ? nullptr : backup.c_str(), MOVEFILE_DELAY_UNTIL_REBOOT)) {
    return NYFAIL(GetLastError(), "MoveFileExW (move at restart)", dest.c_str());
  }
  if (!MoveFileExW(discard.c_str(), dest.c_str(), MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING)) {
    return NYFAIL(GetLastError(), "MoveFileExW (replace at restart)", dest.c_str());
  }
  return 0;
}

uint32_t CopyDirectoryContents(const std::wstring& src, const std::wstring& dest, INyFileChanges* pChanges) {
  if (src.empty() || dest.empty()) return NY_E_INVALID_PARAM;
  std::vector<NyPackagePlace> entries;
  if (CNyHeldFiles::Instance().ListFolder(src, &entries)) return CopyPackageFolder(src, dest, entries, pChanges);
  const DWORD dwSrc = Attributes(src);
  if (dwSrc == INVALID_FILE_ATTRIBUTES) return ERROR_FILE_NOT_FOUND;
  if (!IsFolder(dwSrc)) return NY_E_INVALID_PARAM;
  return CopyFolderInto(NormalizeDirPath(src), NormalizeDirPath(dest), pChanges);
}
