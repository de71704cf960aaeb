#include "NyExtractFolder.h"

#include <aclapi.h>
#include <sddl.h>

#include <vector>

#include "NyLog.h"
#include "NyAdminGate.h"
#include "NyFileDelete.h"
#include "NyFreshName.h"
#include "NyHeldFiles.h"

namespace {

// The TOKEN_USER of this process; empty when it cannot be read.
std::vector<BYTE> ProcessUser() {
  CNyHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Put())) return {};
  DWORD cb = 0;
  GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &cb);
  std::vector<BYTE> user(cb);
  if (cb == 0 || !GetTokenInformation(token.Get(), TokenUser, user.data(), cb, &cb)) return {};
  return user;
}

PSID UserSid(std::vector<BYTE>& user) { return reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid; }

// The folder's security: protected (nothing inherited from the temporary
// folder), and inherited in turn by everything made in it.
std::wstring FolderSecurityText() {
  if (IsAdministrator()) return L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
  std::vector<BYTE> user = ProcessUser();
  CNyUnique<NyLocalMemoryTraits> sidText;
  if (user.empty() || !ConvertSidToStringSidW(UserSid(user), reinterpret_cast<LPWSTR*>(sidText.Put()))) {
    return std::wstring();
  }
  return std::wstring(L"D:P(A;OICI;FA;;;") + static_cast<const wchar_t*>(sidText.Get()) + L")";
}

bool IsProductFolder(const WIN32_FIND_DATAW& fd) {
  return (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
         (fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

// Whether the folder, not a link, has an owner a run of the product gives
// its folders: this user, or, elevated, SYSTEM or the Administrators. In a
// temporary folder every user may write to (an elevated run's
// C:\Windows\Temp), anybody else's look-alike could be swapped for a link
// between this check and the deletion; ours cannot, their security says so.
bool IsOwnFolder(const std::wstring& folder) {
  const CNyFile handle(CreateFileW(folder.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION info{};
  if (!handle || !GetFileInformationByHandle(handle.Get(), &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return false;
  }
  PSID pOwner = nullptr;
  CNyLocalMemory descriptor;
  if (GetSecurityInfo(handle.Get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &pOwner, nullptr, nullptr, nullptr,
                      reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.Put())) != ERROR_SUCCESS ||
      pOwner == nullptr) {
    return false;
  }
  if (IsWellKnownSid(pOwner, WinLocalSystemSid) || IsWellKnownSid(pOwner, WinBuiltinAdministratorsSid)) return true;
  std::vector<BYTE> user = ProcessUser();
  return !user.empty() && EqualSid(pOwner, UserSid(user));
}

}  // namespace

uint32_t BuildExtractFolderSecurity(CNyLocalMemory* pDescriptor) {
  const std::wstring sddl = FolderSecurityText();
  if (sddl.empty() || !ConvertStringSecurityDescriptorToSecurityDescriptorW(
                          sddl.c_str(), SDDL_REVISION_1, reinterpret_cast<PSECURITY_DESCRIPTOR*>(pDescriptor->Put()),
                          nullptr)) {
    return NYFAIL(GetLastError(), "build the security of", "the extraction folder");
  }
  return 0;
}

uint32_t CNyExtractFolder::Create(const std::wstring& parent, std::wstring* pPath) {
  CNyLocalMemory descriptor;
  uint32_t u4Result = BuildExtractFolderSecurity(&descriptor);
  if (u4Result != 0) return u4Result;
  SECURITY_ATTRIBUTES sa{sizeof(sa), descriptor.Get(), FALSE};
  std::wstring path;
  u4Result = CreateFreshFolder(parent, NY_EXTRACT_FOLDER_PATTERN, &path, &sa);
  if (u4Result != 0) return NYFAIL(u4Result, "CreateFreshFolder", parent.c_str());
  // Held without sharing: a later run that can open it knows this one ended.
  const std::wstring marker = path + NY_EXTRACT_MARKER;
  m_marker.Reset(CreateFileW(marker.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!m_marker) {
    u4Result = NYFAIL(GetLastError(), "CreateFileW", marker.c_str());
    RemoveDirectoryW(path.c_str());
    return u4Result;
  }
  CNyHeldFiles::Instance().AddFolder(path);
  *pPath = path;
  return 0;
}

void CNyExtractFolder::Remove(const std::wstring& path) {
  if (path.empty()) return;
  CNyHeldFiles::Instance().ReleaseFolder(path);
  m_marker.Reset();
  std::wstring folder = path;
  if (folder.back() == L'\\') folder.pop_back();
  DeleteDirectoryTree(folder, nullptr);
}

void RemoveAbandonedExtractFolders(const std::wstring& parent) {
  WIN32_FIND_DATAW fd;
  const CNyFind find(FindFirstFileW((parent + L"NyKeyPackage_*").c_str(), &fd));
  for (bool bMore = find.IsValid(); bMore; bMore = FindNextFileW(find.Get(), &fd) != FALSE) {
    if (!IsProductFolder(fd)) continue;
    const std::wstring folder = parent + fd.cFileName;
    {
      const CNyFile marker(CreateFileW((folder + L"\\" + NY_EXTRACT_MARKER).c_str(), GENERIC_READ, 0, nullptr,
                                       OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
      if (!marker) continue;
    }
    if (!IsOwnFolder(folder)) {
      NYLOGW(LOG_LEVEL_TRACE, L"left alone, not made by this product's runs: %s", folder.c_str());
      continue;
    }
    NYLOGW(LOG_LEVEL_TRACE, L"removing the extraction folder of an ended run: %s", folder.c_str());
    DeleteDirectoryTree(folder, nullptr);
  }
}
