#include "NyInstallSize.h"

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "NyAction.h"
#include "NyConfigItem.h"
#include "NyHandle.h"
#include "NyHeldFiles.h"
#include "NySystem_Win.h"

namespace {

uint64_t FileBytes(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// Every file below the folder (which ends in '\'); a folder of the package
// from the package's list, as its files may have stayed in the package.
uint64_t FolderBytes(const std::wstring& folder) {
  uint64_t u8Bytes = 0;
  std::vector<NyPackagePlace> entries;
  if (CNyHeldFiles::Instance().ListFolder(folder, &entries)) {
    for (const NyPackagePlace& entry : entries) u8Bytes += entry.bFolder ? 0 : entry.u4Size;
    return u8Bytes;
  }
  WIN32_FIND_DATAW fd;
  const CNyFind find(FindFirstFileW((folder + L"*").c_str(), &fd));
  for (bool bMore = find.IsValid(); bMore; bMore = FindNextFileW(find.Get(), &fd) != FALSE) {
    if (wcscmp(fd.cFileName, L".") == 0 || wcscmp(fd.cFileName, L"..") == 0) continue;
    if ((fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) continue;
    if ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      u8Bytes += FolderBytes(folder + fd.cFileName + L"\\");
    } else {
      u8Bytes += (static_cast<uint64_t>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
    }
  }
  return u8Bytes;
}

}  // namespace

uint32_t InstalledPayloadKb(const CNyXmlConfigScript& script) {
  const std::unique_ptr<CNyXmlConfigItem> list(script.GetItem("Action", "Insall"));
  if (list == nullptr) return 0;
  uint64_t u8Bytes = 0;
  for (uint32_t i = 0; i < list->GetChildCount(); ++i) {
    CNyXmlConfigItem* pChild = list->GetChild(i);
    if (pChild == nullptr) break;
    if (strcmp(pChild->GetName(), "File") != 0) continue;
    CNyString src, dest, os;
    if (pChild->GetAttribute("Src", &src) != 0 || pChild->GetAttribute("Dest", &dest) != 0) continue;
    pChild->GetAttribute("os", &os);
    // The steps that do not run here copy nothing.
    if (!ApplyOsFilter(os) || IsIn32BitSystemFolderOfAbsentSubsystem(dest.GetWide())) continue;
    std::wstring path = src.GetWide();
    if (!path.empty() && path.back() == L'*') path.pop_back();
    if (path.empty()) continue;
    u8Bytes += path.back() == L'\\' ? FolderBytes(path) : FileBytes(path);
  }
  return static_cast<uint32_t>((u8Bytes + 1023) / 1024);
}
