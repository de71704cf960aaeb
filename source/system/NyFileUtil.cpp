#include "NyFileUtil.h"

#include <windows.h>

#include <string>
#include <vector>

#include "NyFileChanges.h"
#include "NyLog.h"
#include "NyResult.h"

uint32_t INyFileChanges::CreatingFolders(const std::vector<std::wstring>&) { return 0; }
uint32_t INyFileChanges::SettingAside(const std::wstring&, bool, std::wstring*) { return 0; }
uint32_t INyFileChanges::StagingForRestart(const std::wstring&, const std::wstring&, const std::wstring&) { return 0; }
uint32_t INyFileChanges::TakingBackRestartRenames(const std::vector<NyRestartRename>&) { return 0; }

INyFileChanges& NyFileChangesOrNone(INyFileChanges* pChanges) {
  static INyFileChanges none;
  return pChanges != nullptr ? *pChanges : none;
}

namespace {

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

}  // namespace

uint32_t CreateDirectoryTree(const wchar_t* pwszPath, INyFileChanges* pChanges) {
  std::wstring failed;
  const uint32_t u4Result = MakeDirectoryTree(pwszPath, &failed, pChanges);
  if (u4Result != 0 && !failed.empty()) return NYFAIL(u4Result, "CreateDirectoryW", failed.c_str());
  return u4Result;
}

uint32_t MakeDirectoryTree(const wchar_t* pwszPath, std::wstring* pFailedFolder, INyFileChanges* pChanges) {
  if (pwszPath == nullptr) return NY_E_INVALID_PARAM;
  const std::wstring path(pwszPath);
  if (path.size() < 4) return NY_E_INVALID_PARAM;

  std::wstring folder;  // always ends in '\'
  if (path.find(L'.') != std::wstring::npos) {
    const size_t last = path.rfind(L'\\');
    folder = (last == std::wstring::npos ? path : path.substr(0, last)) + L'\\';
  } else {
    folder = path;
    if (folder.back() != L'\\') folder += L'\\';
  }

  // Usually the whole folder is there already: one query instead of one per level.
  if (Exists(folder.substr(0, folder.size() - 1))) return NY_SUCCESS;

  std::vector<std::wstring> missing;
  for (size_t i = folder.find(L'\\'); i != std::wstring::npos; i = folder.find(L'\\', i + 1)) {
    std::wstring prefix = folder.substr(0, i);
    if (!prefix.empty() && !Exists(prefix)) missing.push_back(std::move(prefix));
  }
  if (!missing.empty()) {
    const uint32_t u4Result = NyFileChangesOrNone(pChanges).CreatingFolders(missing);
    if (u4Result != 0) return u4Result;
  }
  for (const std::wstring& prefix : missing) {
    if (!CreateDirectoryW(prefix.c_str(), nullptr)) {
      const DWORD dwError = GetLastError();
      // Made by someone else between the test and the creation.
      if (dwError == ERROR_ALREADY_EXISTS && Exists(prefix)) continue;
      if (pFailedFolder != nullptr) *pFailedFolder = prefix;
      return dwError;
    }
  }
  return NY_SUCCESS;
}

uint32_t WriteAll(void* hFile, const void* pvData, uint32_t cb) {
  DWORD cbDone = 0;
  if (!WriteFile(hFile, pvData, cb, &cbDone, nullptr)) return GetLastError();
  return cbDone == cb ? 0 : static_cast<uint32_t>(ERROR_WRITE_FAULT);
}
