#include "NyFileDelete.h"

#include <windows.h>

#include "Log/NyLog.h"
#include "NyHandle.h"
#include "NyResult.h"

namespace {

volatile LONG g_lRestartPending = 0;

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool IsFolder(const std::wstring& path) {
  const DWORD dw = GetFileAttributesW(path.c_str());
  return dw != INVALID_FILE_ATTRIBUTES && (dw & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// A temporary folder on the file's own drive: a move across drives would
// need a copy, which a file in use does not allow.
std::wstring TempFolderForDrive(const std::wstring& path) {
  wchar_t wszWindows[MAX_PATH] = {};
  const UINT cch = GetSystemWindowsDirectoryW(wszWindows, MAX_PATH);
  if (cch != 0 && cch < MAX_PATH && path[0] == wszWindows[0]) return std::wstring(wszWindows) + L"\\TEMP\\";
  wchar_t chDrive = path[0];
  if (path[1] != L':') {
    wchar_t wszSelf[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, wszSelf, MAX_PATH);
    chDrive = wszSelf[0];
  }
  return std::wstring(1, chDrive) + L":\\";
}

}  // namespace

void NyNoteRestartPending() { InterlockedExchange(&g_lRestartPending, 1); }

bool NyIsRestartPending() { return InterlockedCompareExchange(&g_lRestartPending, 0, 0) != 0; }

uint32_t DeleteFileOrSchedule(const std::wstring& path, uint32_t* pbRebootFlag) {
  if (pbRebootFlag != nullptr) *pbRebootFlag = 0;
  if (path.size() < 4) return NY_E_INVALID_PARAM;
  if (!Exists(path)) return 0;
  if (IsFolder(path)) return NY_E_INVALID_PARAM;
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (DeleteFileW(path.c_str())) return 0;

  const std::wstring folder = TempFolderForDrive(path);
  wchar_t wszTemp[MAX_PATH] = {};
  if (folder.size() >= MAX_PATH - 14 || GetTempFileNameW(folder.c_str(), L"_@", 0, wszTemp) == 0) {
    return NYFAIL(GetLastError(), "GetTempFileNameW", folder.c_str());
  }
  if (!MoveFileExW(path.c_str(), wszTemp, MOVEFILE_REPLACE_EXISTING)) {
    if (!DeleteFileW(wszTemp)) return NYFAIL(GetLastError(), "DeleteFileW", wszTemp);
    if (!MoveFileExW(path.c_str(), wszTemp, MOVEFILE_DELAY_UNTIL_REBOOT)) {
      return NYFAIL(GetLastError(), "MoveFileExW (move at restart)", path.c_str());
    }
  }
  if (!MoveFileExW(wszTemp, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
    return NYFAIL(GetLastError(), "MoveFileExW (delete at restart)", wszTemp);
  }
  NyNoteRestartPending();
  if (pbRebootFlag != nullptr) *pbRebootFlag = 1;
  return 0;
}

uint32_t DeleteDirectoryTree(const std::wstring& dir, uint32_t* pbRebootFlag) {
  uint32_t u4Result = 0, bFlag = 0;
  if (pbRebootFlag != nullptr) *pbRebootFlag = 0;
  if (!Exists(dir)) return 0;
  if (IsFolder(dir)) {
    WIN32_FIND_DATAW fd;
    const CNyFind find(FindFirstFileW((dir + L"\\*").c_str(), &fd));
    if (!find) u4Result = GetLastError();
    for (bool bMore = find.IsValid(); bMore; bMore = FindNextFileW(find.Get(), &fd) != FALSE) {
      if (wcscmp(fd.cFileName, L".") == 0 || wcscmp(fd.cFileName, L"..") == 0) continue;
      const std::wstring full = dir + L"\\" + fd.cFileName;
      uint32_t bChildFlag = 0;
      // A folder link is removed as a link: its target is not ours.
      if ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
          (fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        DeleteDirectoryTree(full, &bChildFlag);
      } else if ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        RemoveDirectoryW(full.c_str());
      } else {
        DeleteFileOrSchedule(full, &bChildFlag);
      }
      if (bFlag == 0) bFlag = bChildFlag;
    }
  }
  SetFileAttributesW(dir.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (!RemoveDirectoryW(dir.c_str()) && !MoveFileExW(dir.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
    u4Result = NYFAIL(GetLastError(), "RemoveDirectoryW", dir.c_str());
  }
  if (pbRebootFlag != nullptr) *pbRebootFlag = bFlag;
  return u4Result;
}
