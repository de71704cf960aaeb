#pragma once
// The system's list of restart-time renames and deletions. It belongs to the
// whole machine: a test reads it and restores it as it found it, and never
// throws away other programs' entries.
#include <windows.h>

#include <string>
#include <vector>

const wchar_t kSessionManagerKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const wchar_t kPendingValue[] = L"PendingFileRenameOperations";

// The value's raw bytes; empty when there is none.
inline std::vector<BYTE> PendingRenameBytes() {
  std::vector<BYTE> bytes;
  DWORD cb = 0;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, kSessionManagerKey, kPendingValue, RRF_RT_REG_MULTI_SZ, nullptr, nullptr, &cb) !=
      ERROR_SUCCESS) {
    return bytes;
  }
  bytes.resize(cb);
  if (RegGetValueW(HKEY_LOCAL_MACHINE, kSessionManagerKey, kPendingValue, RRF_RT_REG_MULTI_SZ, nullptr, bytes.data(),
                   &cb) != ERROR_SUCCESS) {
    bytes.clear();
  }
  bytes.resize(cb);
  return bytes;
}

// The entries, as "\??\" paths; an empty path stands for a deletion.
inline std::vector<std::wstring> PendingRenames() {
  const std::vector<BYTE> bytes = PendingRenameBytes();
  std::vector<std::wstring> entries;
  const auto* pwsz = reinterpret_cast<const wchar_t*>(bytes.data());
  const size_t cch = bytes.size() / sizeof(wchar_t);
  for (size_t i = 0; i < cch;) {
    size_t n = 0;
    while (i + n < cch && pwsz[i + n] != 0) ++n;
    // The list ends with an empty string after the last pair.
    if (n == 0 && i + 1 >= cch) break;
    entries.emplace_back(pwsz + i, n);
    i += n + 1;
  }
  return entries;
}

inline bool PendingMentions(const std::wstring& path) {
  for (const std::wstring& entry : PendingRenames())
    if (entry.size() >= path.size() && _wcsicmp(entry.c_str() + entry.size() - path.size(), path.c_str()) == 0)
      return true;
  return false;
}

// True when the list entry ("\\??\\" path, maybe led by '!') names path.
inline bool PendingPathIs(const std::wstring& entry, const std::wstring& path) {
  const size_t skip = (entry.compare(0, 1, L"!") == 0 ? 1 : 0) + 4;
  return entry.size() > skip && _wcsicmp(entry.c_str() + skip, path.c_str()) == 0;
}

// True when a pending rename would move some file onto path at the restart.
inline bool PendingRestores(const std::wstring& path) {
  const std::vector<std::wstring> entries = PendingRenames();
  for (size_t i = 1; i < entries.size(); i += 2) {
    const std::wstring& target = entries[i];
    const size_t skip = (target.compare(0, 1, L"!") == 0 ? 1 : 0) + 4;  // "!" and "\??\"
    if (target.size() > skip && _wcsicmp(target.c_str() + skip, path.c_str()) == 0) return true;
  }
  return false;
}

// Does what a restart would do to the files under folder, in the list's
// order, and takes those pairs off the list.
inline void ApplyPendingRenamesUnder(const std::wstring& folder) {
  const std::vector<std::wstring> entries = PendingRenames();
  std::vector<BYTE> kept;
  auto keep = [&kept](const std::wstring& entry) {
    const BYTE* pb = reinterpret_cast<const BYTE*>(entry.c_str());
    kept.insert(kept.end(), pb, pb + (entry.size() + 1) * sizeof(wchar_t));
  };
  for (size_t i = 0; i + 1 < entries.size(); i += 2) {
    const std::wstring from = entries[i].substr(4);
    if (_wcsnicmp(from.c_str(), folder.c_str(), folder.size()) != 0) {
      keep(entries[i]);
      keep(entries[i + 1]);
      continue;
    }
    const std::wstring& to = entries[i + 1];
    if (to.empty()) {
      DeleteFileW(from.c_str());
    } else {
      const bool bReplace = to[0] == L'!';
      MoveFileExW(from.c_str(), to.substr(bReplace ? 5 : 4).c_str(), bReplace ? MOVEFILE_REPLACE_EXISTING : 0);
    }
  }
  keep(std::wstring());
  HKEY hKey = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_SET_VALUE, &hKey) != ERROR_SUCCESS) return;
  RegSetValueExW(hKey, kPendingValue, 0, REG_MULTI_SZ, kept.data(), static_cast<DWORD>(kept.size()));
  RegCloseKey(hKey);
}

// Keeps the value as it was when the guard was made and puts it back when
// the guard goes.
class PendingRenamesGuard {
 public:
  PendingRenamesGuard() : m_saved(PendingRenameBytes()) {}
  ~PendingRenamesGuard() {
    HKEY hKey = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_SET_VALUE, &hKey) != ERROR_SUCCESS) return;
    if (m_saved.empty()) {
      RegDeleteValueW(hKey, kPendingValue);
    } else {
      RegSetValueExW(hKey, kPendingValue, 0, REG_MULTI_SZ, m_saved.data(), static_cast<DWORD>(m_saved.size()));
    }
    RegCloseKey(hKey);
  }
  PendingRenamesGuard(const PendingRenamesGuard&) = delete;
  PendingRenamesGuard& operator=(const PendingRenamesGuard&) = delete;

 private:
  std::vector<BYTE> m_saved;
};
