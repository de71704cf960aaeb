#pragma once
// What an install of the shipped product can change, as it is at one moment:
// the files of both system folders, of the install folder and of the Start
// menu's programs; every key and value (type and bytes) under given registry
// keys in both views; the certificates of the MY and ROOT stores; the
// scheduled tasks. Two snapshots are compared item by item.
#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "NyCertStore.h"
#include "NyHandle.h"
#include "NySystem_Win.h"

// Who restores an area: the registry steps are one half of the journal's
// kinds, files, shortcuts, certificates and tasks the other.
enum class SnapshotArea { Files, Shortcuts, Registry, Certificates, Tasks };

inline const char* AreaName(SnapshotArea area) {
  static const char* const kNames[] = {"files", "shortcuts", "registry", "certificates", "tasks"};
  return kNames[static_cast<int>(area)];
}

struct SnapshotItem {
  SnapshotArea area;
  std::string state;
};

using MachineSnapshot = std::map<std::string, SnapshotItem>;

namespace snapshot_detail {

inline std::string Narrow(const std::wstring& text) {
  std::string narrow;
  for (wchar_t ch : text) narrow += ch < 0x80 ? static_cast<char>(ch) : '?';
  return narrow;
}

inline std::string Hex(const void* pv, size_t cb) {
  std::string text;
  char sz[3];
  for (size_t i = 0; i < cb; ++i) {
    snprintf(sz, sizeof(sz), "%02x", static_cast<const uint8_t*>(pv)[i]);
    text += sz;
  }
  return text;
}

inline std::wstring ShellFolder(int nCsidl) {
  wchar_t wsz[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, nCsidl, nullptr, SHGFP_TYPE_CURRENT, wsz);
  return wsz;
}

// The folder's entries: size, time of the last write and attributes; the
// subfolders' too when bDeep. Seen with the WOW64 redirection off, as the
// file actions see them.
inline void AddFiles(const std::wstring& folder, bool bDeep, SnapshotArea area, MachineSnapshot* pSnapshot) {
  WIN32_FIND_DATAW fd;
  const CNyFsRedirectionOff redirection;
  const CNyFind find(FindFirstFileW((folder + L"\\*").c_str(), &fd));
  for (bool bMore = find.IsValid(); bMore; bMore = FindNextFileW(find.Get(), &fd) != FALSE) {
    const std::wstring name = fd.cFileName;
    if (name == L"." || name == L"..") continue;
    const std::wstring path = folder + L"\\" + name;
    const bool bFolder = (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    // A folder's own time changes with what is made and removed in it.
    char sz[96];
    if (bFolder) {
      snprintf(sz, sizeof(sz), "folder attributes %lx", fd.dwFileAttributes);
    } else {
      snprintf(sz, sizeof(sz), "file size %lu written %08lx%08lx attributes %lx", fd.nFileSizeLow,
               fd.ftLastWriteTime.dwHighDateTime, fd.ftLastWriteTime.dwLowDateTime, fd.dwFileAttributes);
    }
    (*pSnapshot)[Narrow(path)] = {area, sz};
    if (bFolder && bDeep) AddFiles(path, true, area, pSnapshot);
  }
}

inline void AddKey(HKEY hRoot, const std::wstring& subKey, REGSAM view, MachineSnapshot* pSnapshot) {
  CNyRegKey key;
  if (RegOpenKeyExW(hRoot, subKey.c_str(), 0, KEY_READ | view, key.Put()) != ERROR_SUCCESS) return;
  const std::string prefix = std::string(view == KEY_WOW64_64KEY ? "[64] " : "[32] ") + Narrow(subKey);
  (*pSnapshot)[prefix] = {SnapshotArea::Registry, "key"};
  for (DWORD i = 0;; ++i) {
    wchar_t wszName[16384];
    DWORD cchName = ARRAYSIZE(wszName), dwType = 0, cbData = 0;
    if (RegEnumValueW(key.Get(), i, wszName, &cchName, nullptr, &dwType, nullptr, &cbData) != ERROR_SUCCESS) break;
    std::vector<BYTE> data(cbData + 1);
    cchName = ARRAYSIZE(wszName);
    RegEnumValueW(key.Get(), i, wszName, &cchName, nullptr, &dwType, data.data(), &cbData);
    (*pSnapshot)[prefix + " : " + Narrow(wszName)] = {SnapshotArea::Registry,
                                                       "type " + std::to_string(dwType) + " " + Hex(data.data(), cbData)};
  }
  for (DWORD i = 0;; ++i) {
    wchar_t wszName[256];
    DWORD cchName = ARRAYSIZE(wszName);
    if (RegEnumKeyExW(key.Get(), i, wszName, &cchName, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    AddKey(hRoot, subKey + L"\\" + wszName, view, pSnapshot);
  }
}

inline void AddStore(const wchar_t* pwszStore, MachineSnapshot* pSnapshot) {
  const NyCrypt32* pCrypt = NyGetCrypt32();
  HCERTSTORE hStore = nullptr;
  if (pCrypt == nullptr || OpenSystemStoreByName(*pCrypt, pwszStore, &hStore) != 0) return;
  for (PCCERT_CONTEXT pCert = pCrypt->pfnEnumCertificatesInStore(hStore, nullptr); pCert != nullptr;
       pCert = pCrypt->pfnEnumCertificatesInStore(hStore, pCert)) {
    BYTE abHash[20];
    DWORD cbHash = sizeof(abHash);
    pCrypt->pfnGetCertificateContextProperty(pCert, CERT_SHA1_HASH_PROP_ID, abHash, &cbHash);
    // The key it stands for goes with it: a certificate back without it is
    // not the one that was there.
    std::string key;
    DWORD cbInfo = 0;
    if (pCrypt->pfnGetCertificateContextProperty(pCert, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &cbInfo)) {
      std::vector<BYTE> info(cbInfo);
      if (pCrypt->pfnGetCertificateContextProperty(pCert, CERT_KEY_PROV_INFO_PROP_ID, info.data(), &cbInfo)) {
        const auto* pInfo = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(info.data());
        key = " key " + Narrow(pInfo->pwszProvName) + "/" + Narrow(pInfo->pwszContainerName) + " use " +
              std::to_string(pInfo->dwKeySpec);
      }
    }
    (*pSnapshot)["certificate " + Narrow(pwszStore) + " " + Hex(abHash, cbHash)] = {
        SnapshotArea::Certificates, Hex(pCert->pbCertEncoded, pCert->cbCertEncoded) + key};
  }
  pCrypt->pfnCloseStore(hStore, 0);
}

}  // namespace snapshot_detail

// The view flag of a registry view; none on a 32-bit system.
inline REGSAM RegistryView(BOOL b64) { return IsOs64Bit() ? (b64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY) : 0; }

// Sets a value under HKLM for a test, making its key.
inline bool SetTestRegistryValue(const std::wstring& subKey, BOOL b64, const wchar_t* pwszName, DWORD dwType,
                                 const void* pvData, DWORD cbData) {
  CNyRegKey key;
  return RegCreateKeyExW(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | RegistryView(b64),
                         nullptr, key.Put(), nullptr) == ERROR_SUCCESS &&
         RegSetValueExW(key.Get(), pwszName, 0, dwType, static_cast<const BYTE*>(pvData), cbData) == ERROR_SUCCESS;
}

// The keys under HKLM, each whole and in both views.
inline MachineSnapshot TakeRegistrySnapshot(const std::vector<std::wstring>& registryKeys) {
  MachineSnapshot snapshot;
  for (const std::wstring& key : registryKeys) {
    snapshot_detail::AddKey(HKEY_LOCAL_MACHINE, key, RegistryView(FALSE), &snapshot);
    if (IsOs64Bit()) snapshot_detail::AddKey(HKEY_LOCAL_MACHINE, key, RegistryView(TRUE), &snapshot);
  }
  return snapshot;
}

// The snapshot of the shipped product's reach; registryKeys are HKLM paths,
// each taken whole in both views.
inline MachineSnapshot TakeMachineSnapshot(const std::vector<std::wstring>& registryKeys) {
  using namespace snapshot_detail;
  MachineSnapshot snapshot = TakeRegistrySnapshot(registryKeys);
  wchar_t wszWindows[MAX_PATH] = {};
  GetSystemWindowsDirectoryW(wszWindows, MAX_PATH);
  const std::wstring windows = wszWindows;
  AddFiles(windows + L"\\System32", false, SnapshotArea::Files, &snapshot);
  if (IsOs64Bit()) AddFiles(windows + L"\\SysWOW64", false, SnapshotArea::Files, &snapshot);
  AddFiles(ShellFolder(IsOs64Bit() ? CSIDL_PROGRAM_FILESX86 : CSIDL_PROGRAM_FILES), false, SnapshotArea::Files, &snapshot);
  AddFiles(ShellFolder(IsOs64Bit() ? CSIDL_PROGRAM_FILESX86 : CSIDL_PROGRAM_FILES) + L"\\Zorvak", true, SnapshotArea::Files,
           &snapshot);
  AddFiles(ShellFolder(CSIDL_COMMON_PROGRAMS), true, SnapshotArea::Shortcuts, &snapshot);
  AddStore(L"MY", &snapshot);
  AddStore(L"ROOT", &snapshot);
  AddFiles(windows + L"\\Tasks", false, SnapshotArea::Tasks, &snapshot);
  return snapshot;
}

struct SnapshotDifference {
  SnapshotArea area;
  std::string text;  // "+ item" (new), "- item" (gone), "~ item" (changed)
};

inline std::vector<SnapshotDifference> CompareSnapshots(const MachineSnapshot& before, const MachineSnapshot& after) {
  std::vector<SnapshotDifference> differences;
  for (const auto& item : before) {
    const auto found = after.find(item.first);
    if (found == after.end()) {
      differences.push_back({item.second.area, "- " + item.first});
    } else if (found->second.state != item.second.state) {
      differences.push_back({item.second.area, "~ " + item.first + " (" + item.second.state + " -> " +
                                                   found->second.state + ")"});
    }
  }
  for (const auto& item : after)
    if (before.count(item.first) == 0) differences.push_back({item.second.area, "+ " + item.first});
  return differences;
}

// The differences one to a line.
inline std::string DifferenceText(const MachineSnapshot& before, const MachineSnapshot& after) {
  std::string text;
  for (const SnapshotDifference& difference : CompareSnapshots(before, after)) text += difference.text + "\n";
  return text;
}
