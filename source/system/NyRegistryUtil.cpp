#include "NyRegistryUtil.h"

#include <mutex>

#include "NyLog.h"
#include "NyHandle.h"
#include "NyProcessUtil.h"
#include "NyResult.h"
#include "NySystem_Win.h"

namespace {

constexpr REGSAM kWriteRights = 0xF003F;  // KEY_ALL_ACCESS
constexpr REGSAM kReadRights = 0x20019;   // KEY_READ
constexpr size_t kMaxKeyPrefix = 519;
constexpr size_t kMaxTreePath = 1024;
constexpr DWORD kMaxValueBytes = 8192;

REGSAM ViewFlag(BOOL b64Key) {
  if (!IsOs64Bit()) return 0;
  return b64Key ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
}

LSTATUS OpenKey(HKEY hRoot, const std::wstring& subKey, REGSAM sam, CNyRegKey* pKey) {
  return RegOpenKeyExW(hRoot, subKey.c_str(), 0, sam, pKey->Put());
}

const struct {
  const wchar_t* pwszName;
  HKEY hKey;
} kRoots[] = {
    {L"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT}, {L"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {L"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE}, {L"HKEY_USERS", HKEY_USERS},
    {L"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
};


// The key of the latest write, kept open for the next one: an install
// writes several values into each key, and under Wine every open of a key in
// the 32-bit view walks its whole path. A deletion, or a write that fails
// through it (the key was deleted meanwhile), lets it go.
struct WriteKeyCache {
  std::mutex lock;
  HKEY hRoot = nullptr;
  std::wstring subKey;
  BOOL b64Key = FALSE;
  CNyRegKey key;
};

WriteKeyCache& LastWrittenKey() {
  // Never destroyed: a key handle needs no closing at process exit.
  static WriteKeyCache* const s_pCache = new WriteKeyCache();
  return *s_pCache;
}

void ForgetWrittenKey() {
  WriteKeyCache& cache = LastWrittenKey();
  const std::lock_guard<std::mutex> lock(cache.lock);
  cache.key.Reset();
}

// The failure record of a registry call; a key or value that does not exist
// is an answer, not a failure, and is only handed back.
uint32_t RegistryFailure(LSTATUS ls, const char* pszCall, HKEY hRoot, const std::wstring& subKey, BOOL b64Key) {
  if (ls == ERROR_FILE_NOT_FOUND) return ERROR_FILE_NOT_FOUND;
  return NYFAIL(static_cast<uint32_t>(ls), pszCall, RegistryKeyText(hRoot, subKey, b64Key).c_str());
}

// The value's type and bytes through an open key; a value that does not
// exist is an answer (bExists false), not a failure.
LSTATUS QueryValue(HKEY hKey, RegistryValueState* pValue) {
  pValue->data.resize(256);
  for (;;) {
    DWORD cb = static_cast<DWORD>(pValue->data.size());
    const LSTATUS ls = RegQueryValueExW(hKey, pValue->name.c_str(), nullptr, &pValue->dwType, pValue->data.data(), &cb);
    // Grown since it was measured: measured again.
    if (ls == ERROR_MORE_DATA) {
      pValue->data.resize(cb);
      continue;
    }
    pValue->bExists = ls == ERROR_SUCCESS;
    pValue->data.resize(pValue->bExists ? cb : 0);
    if (!pValue->bExists) pValue->dwType = REG_NONE;
    return ls == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : ls;
  }
}

// How many trailing levels of a path that does not exist are missing.
uint32_t MissingLevels(HKEY hRoot, std::wstring path, BOOL b64Key) {
  uint32_t u4Missing = 1;
  for (size_t slash = path.rfind(L'\\'); slash != std::wstring::npos && slash != 0; slash = path.rfind(L'\\')) {
    path.resize(slash);
    CNyRegKey key;
    if (OpenKey(hRoot, path, kReadRights | ViewFlag(b64Key), &key) == ERROR_SUCCESS) break;
    ++u4Missing;
  }
  return u4Missing;
}

uint32_t ReadTreeKey(HKEY hRoot, const std::wstring& path, const std::wstring& relPath, BOOL b64Key,
                     std::vector<RegistryTreeKey>* pKeys) {
  CNyRegKey key;
  LSTATUS ls = OpenKey(hRoot, path, kReadRights | ViewFlag(b64Key), &key);
  if (ls != ERROR_SUCCESS) return RegistryFailure(ls, "RegOpenKeyExW", hRoot, path, b64Key);
  RegistryTreeKey node;
  node.relPath = relPath;
  std::vector<std::wstring> subKeys;
  for (DWORD i = 0;; ++i) {
    wchar_t wszName[16384];
    DWORD cchName = ARRAYSIZE(wszName);
    ls = RegEnumValueW(key.Get(), i, wszName, &cchName, nullptr, nullptr, nullptr, nullptr);
    if (ls == ERROR_NO_MORE_ITEMS) break;
    if (ls != ERROR_SUCCESS) return RegistryFailure(ls, "RegEnumValueW", hRoot, path, b64Key);
    RegistryValueState value;
    value.name.assign(wszName, cchName);
    ls = QueryValue(key.Get(), &value);
    if (ls != ERROR_SUCCESS) return RegistryFailure(ls, "RegQueryValueExW", hRoot, path + L"\\" + value.name, b64Key);
    if (value.bExists) node.values.push_back(std::move(value));
  }
  for (DWORD i = 0;; ++i) {
    wchar_t wszName[256];
    DWORD cchName = ARRAYSIZE(wszName);
    ls = RegEnumKeyExW(key.Get(), i, wszName, &cchName, nullptr, nullptr, nullptr, nullptr);
    if (ls == ERROR_NO_MORE_ITEMS) break;
    if (ls != ERROR_SUCCESS) return RegistryFailure(ls, "RegEnumKeyExW", hRoot, path, b64Key);
    subKeys.emplace_back(wszName, cchName);
  }
  key.Reset();
  pKeys->push_back(std::move(node));
  for (const std::wstring& name : subKeys) {
    const uint32_t u4Result =
        ReadTreeKey(hRoot, path + L"\\" + name, relPath.empty() ? name : relPath + L"\\" + name, b64Key, pKeys);
    if (u4Result != 0) return u4Result;
  }
  return 0;
}

}  // namespace

std::wstring TrimmedRegistryPath(const std::wstring& subKey) {
  const size_t end = subKey.find_last_not_of(L'\\');
  return end == std::wstring::npos ? std::wstring() : subKey.substr(0, end + 1);
}

const wchar_t* RegistryRootName(HKEY hRoot) {
  for (const auto& root : kRoots)
    if (root.hKey == hRoot) return root.pwszName;
  return L"HKEY";
}

std::wstring RegistryKeyText(HKEY hRoot, const std::wstring& subKey, BOOL b64Key) {
  return std::wstring(RegistryRootName(hRoot)) + L"\\" + subKey + (b64Key ? L" (64-bit view)" : L" (32-bit view)");
}

std::wstring RegistryPathText(const wchar_t* pwszRoot, const wchar_t* pwszSubKey, const wchar_t* pwszValueName) {
  return std::wstring(pwszRoot) + L"\\" + pwszSubKey + L"\\" + pwszValueName;
}

HKEY RegistryRootFromName(const wchar_t* pwszRoot) {
  if (pwszRoot == nullptr) return nullptr;
  for (const auto& root : kRoots)
    if (wcscmp(pwszRoot, root.pwszName) == 0) return root.hKey;
  return nullptr;
}

uint32_t SetRegistryValue(const RegistryKeyRef& ref, DWORD dwType, const void* pvData, DWORD cbData) {
  const REGSAM sam = kWriteRights | ViewFlag(ref.b64Key);
  // The whole path is checked before any key is touched: an empty element
  // fails, and a cut path would write into another key than the script
  // names.
  for (size_t pos = 0;;) {
    const size_t slash = ref.subKey.find(L'\\', pos);
    if (slash == pos || ref.subKey.empty()) return NY_E_FAIL;
    if ((slash == std::wstring::npos ? ref.subKey.size() : slash) > kMaxKeyPrefix) return NY_E_INVALID_PARAM;
    if (slash == std::wstring::npos) break;
    pos = slash + 1;
  }
  WriteKeyCache& cache = LastWrittenKey();
  const std::lock_guard<std::mutex> lock(cache.lock);
  if (cache.key && cache.hRoot == ref.hRoot && cache.b64Key == ref.b64Key && cache.subKey == ref.subKey) {
    const LSTATUS ls =
        RegSetValueExW(cache.key.Get(), ref.valueName.c_str(), 0, dwType, static_cast<const BYTE*>(pvData), cbData);
    if (ls == ERROR_SUCCESS) return 0;
  }
  // Most writes go to a key that exists by then: one open. Otherwise one
  // creation makes every missing level.
  cache.key.Reset();
  LSTATUS ls = OpenKey(ref.hRoot, ref.subKey, sam, &cache.key);
  if (ls != ERROR_SUCCESS) {
    ls = RegCreateKeyExW(ref.hRoot, ref.subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, sam, nullptr,
                         cache.key.Put(), nullptr);
    if (ls != ERROR_SUCCESS) return RegistryFailure(ls, "RegCreateKeyExW", ref.hRoot, ref.subKey, ref.b64Key);
  }
  cache.hRoot = ref.hRoot;
  cache.subKey = ref.subKey;
  cache.b64Key = ref.b64Key;
  ls = RegSetValueExW(cache.key.Get(), ref.valueName.c_str(), 0, dwType, static_cast<const BYTE*>(pvData), cbData);
  if (ls != ERROR_SUCCESS) {
    cache.key.Reset();
    return RegistryFailure(ls, "RegSetValueExW", ref.hRoot, ref.subKey + L"\\" + ref.valueName, ref.b64Key);
  }
  return 0;
}

uint32_t ReadRegistryValues(HKEY hRoot, const std::wstring& subKey, BOOL b64Key,
                            std::vector<RegistryValueState>* pValues, uint32_t* pu4MissingLevels) {
  *pu4MissingLevels = 0;
  WriteKeyCache& cache = LastWrittenKey();
  const std::lock_guard<std::mutex> lock(cache.lock);
  if (!cache.key || cache.hRoot != hRoot || cache.b64Key != b64Key || cache.subKey != subKey) {
    cache.key.Reset();
    const LSTATUS ls = OpenKey(hRoot, subKey, kWriteRights | ViewFlag(b64Key), &cache.key);
    if (ls == ERROR_FILE_NOT_FOUND) {
      for (RegistryValueState& value : *pValues) {
        value.bExists = false;
        value.dwType = REG_NONE;
        value.data.clear();
      }
      *pu4MissingLevels = MissingLevels(hRoot, TrimmedRegistryPath(subKey), b64Key);
      return 0;
    }
    if (ls != ERROR_SUCCESS) return RegistryFailure(ls, "RegOpenKeyExW", hRoot, subKey, b64Key);
    cache.hRoot = hRoot;
    cache.subKey = subKey;
    cache.b64Key = b64Key;
  }
  for (RegistryValueState& value : *pValues) {
    const LSTATUS ls = QueryValue(cache.key.Get(), &value);
    if (ls != ERROR_SUCCESS) {
      cache.key.Reset();
      return RegistryFailure(ls, "RegQueryValueExW", hRoot, subKey + L"\\" + value.name, b64Key);
    }
  }
  return 0;
}

uint32_t ReadRegistryTree(HKEY hRoot, const std::wstring& subKey, BOOL b64Key, std::vector<RegistryTreeKey>* pKeys) {
  pKeys->clear();
  return ReadTreeKey(hRoot, TrimmedRegistryPath(subKey), std::wstring(), b64Key, pKeys);
}

uint32_t WriteRegistryTree(HKEY hRoot, const std::wstring& subKey, BOOL b64Key,
                           const std::vector<RegistryTreeKey>& keys) {
  // Each key and value is tried: one that fails leaves the others restored.
  uint32_t u4First = 0;
  const std::wstring top = TrimmedRegistryPath(subKey);
  for (const RegistryTreeKey& node : keys) {
    const std::wstring path = node.relPath.empty() ? top : top + L"\\" + node.relPath;
    for (const RegistryValueState& value : node.values) {
      const uint32_t u4Result = RestoreRegistryValue(hRoot, path, b64Key, value);
      if (u4First == 0) u4First = u4Result;
    }
    if (node.values.empty()) {
      CNyRegKey key;
      const LSTATUS ls = RegCreateKeyExW(hRoot, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                         kWriteRights | ViewFlag(b64Key), nullptr, key.Put(), nullptr);
      if (ls != ERROR_SUCCESS && u4First == 0) u4First = RegistryFailure(ls, "RegCreateKeyExW", hRoot, path, b64Key);
    }
  }
  return u4First;
}

uint32_t RestoreRegistryValue(HKEY hRoot, const std::wstring& subKey, BOOL b64Key, const RegistryValueState& value) {
  const REGSAM sam = kWriteRights | ViewFlag(b64Key);
  CNyRegKey key;
  if (!value.bExists) {
    LSTATUS ls = OpenKey(hRoot, subKey, sam, &key);
    if (ls == ERROR_FILE_NOT_FOUND) return 0;
    if (ls != ERROR_SUCCESS) return RegistryFailure(ls, "RegOpenKeyExW", hRoot, subKey, b64Key);
    ls = RegDeleteValueW(key.Get(), value.name.c_str());
    if (ls == ERROR_SUCCESS || ls == ERROR_FILE_NOT_FOUND) return 0;
    return RegistryFailure(ls, "RegDeleteValueW", hRoot, subKey + L"\\" + value.name, b64Key);
  }
  LSTATUS ls = RegCreateKeyExW(hRoot, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, sam, nullptr, key.Put(),
                               nullptr);
  if (ls != ERROR_SUCCESS) return RegistryFailure(ls, "RegCreateKeyExW", hRoot, subKey, b64Key);
  ls = RegSetValueExW(key.Get(), value.name.c_str(), 0, value.dwType, value.data.data(),
                      static_cast<DWORD>(value.data.size()));
  if (ls != ERROR_SUCCESS) return RegistryFailure(ls, "RegSetValueExW", hRoot, subKey + L"\\" + value.name, b64Key);
  return 0;
}

uint32_t DeleteRegistryKeyWithoutSubkeys(HKEY hRoot, const std::wstring& subKey, BOOL b64Key, bool* pbKept) {
  *pbKept = false;
  const std::wstring path = TrimmedRegistryPath(subKey);
  CNyRegKey key;
  LSTATUS ls = OpenKey(hRoot, path, kReadRights | ViewFlag(b64Key), &key);
  if (ls == ERROR_FILE_NOT_FOUND) return 0;
  if (ls != ERROR_SUCCESS) return RegistryFailure(ls, "RegOpenKeyExW", hRoot, path, b64Key);
  DWORD dwSubKeys = 0;
  ls = RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, &dwSubKeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                        nullptr, nullptr);
  if (ls != ERROR_SUCCESS) return RegistryFailure(ls, "RegQueryInfoKeyW", hRoot, path, b64Key);
  key.Reset();
  if (dwSubKeys != 0) {
    *pbKept = true;
    return 0;
  }
  ls = static_cast<LSTATUS>(DeleteRegistryKey(hRoot, path, b64Key));
  if (ls != ERROR_SUCCESS && ls != ERROR_FILE_NOT_FOUND) return RegistryFailure(ls, "RegDeleteKeyExW", hRoot, path, b64Key);
  return 0;
}

uint32_t DeleteRegistryValue(const RegistryKeyRef& ref) {
  if (ref.valueName.empty()) return NY_E_INVALID_PARAM;
  ForgetWrittenKey();
  CNyRegKey key;
  LSTATUS ls = OpenKey(ref.hRoot, ref.subKey, kWriteRights | ViewFlag(ref.b64Key), &key);
  if (ls != ERROR_SUCCESS) return RegistryFailure(ls, "RegOpenKeyExW", ref.hRoot, ref.subKey, ref.b64Key);
  ls = RegDeleteValueW(key.Get(), ref.valueName.c_str());
  if (ls != ERROR_SUCCESS) {
    return RegistryFailure(ls, "RegDeleteValueW", ref.hRoot, ref.subKey + L"\\" + ref.valueName, ref.b64Key);
  }
  return 0;
}

uint32_t DeleteRegistryKey(HKEY hRoot, const std::wstring& subKey, BOOL b64Key) {
  ForgetWrittenKey();
  if (!IsOs64Bit()) return static_cast<uint32_t>(RegDeleteKeyW(hRoot, subKey.c_str()));
  // RegDeleteKeyExW is the only call that deletes a key in a chosen view; it
  // is absent from 32-bit XP, so it is resolved at run time.
  using RegDeleteKeyExFn = LSTATUS(WINAPI*)(HKEY, LPCWSTR, REGSAM, DWORD);
  static const auto pfnDelete = NyGetSystemProcAs<RegDeleteKeyExFn>(L"advapi32.dll", "RegDeleteKeyExW");
  if (pfnDelete == nullptr) return ERROR_PROC_NOT_FOUND;
  return static_cast<uint32_t>(pfnDelete(hRoot, subKey.c_str(), kWriteRights | ViewFlag(b64Key), 0));
}

uint32_t DeleteRegistryTree(HKEY hRoot, const std::wstring& subKey, BOOL b64Key) {
  if (DeleteRegistryKey(hRoot, subKey, b64Key) == ERROR_SUCCESS) return 0;
  const REGSAM sam = kWriteRights | ViewFlag(b64Key);
  {
    CNyRegKey key;
    const LSTATUS ls = OpenKey(hRoot, subKey, sam, &key);
    if (ls != ERROR_SUCCESS) return RegistryFailure(ls, "RegOpenKeyExW", hRoot, subKey, b64Key);
    std::wstring path = subKey;
    if (path.empty() || path.back() != L'\\') path += L'\\';
    if (path.size() > kMaxTreePath) return NY_E_INVALID_PARAM;
    // Always index 0: every deletion shifts the remaining children down.
    for (;;) {
      wchar_t wszName[261] = {};
      DWORD cchName = ARRAYSIZE(wszName);
      if (RegEnumKeyExW(key.Get(), 0, wszName, &cchName, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      const uint32_t u4Result = DeleteRegistryTree(hRoot, path + wszName, b64Key);
      // A child that cannot be deleted would be found at index 0 again and
      // again; the tree deletion ends with its failure instead.
      if (u4Result != 0) return u4Result;
      if (OpenKey(hRoot, subKey, sam, &key) != ERROR_SUCCESS) break;
    }
  }
  const LSTATUS ls = static_cast<LSTATUS>(DeleteRegistryKey(hRoot, subKey, b64Key));
  return ls == ERROR_SUCCESS ? 0 : RegistryFailure(ls, "RegDeleteKeyExW", hRoot, subKey, b64Key);
}

uint32_t ReadRegistryString(const RegistryKeyRef* pRef, wchar_t* pwszBuffer, size_t* pcchCount) {
  if (pRef == nullptr || pcchCount == nullptr) return NY_E_INVALID_PARAM;
  CNyRegKey key;
  LSTATUS ls = OpenKey(pRef->hRoot, pRef->subKey, kReadRights | ViewFlag(pRef->b64Key), &key);
  if (ls != ERROR_SUCCESS) return static_cast<uint32_t>(ls);
  BYTE abData[kMaxValueBytes + sizeof(wchar_t)] = {};
  DWORD cbData = kMaxValueBytes;
  ls = RegQueryValueExW(key.Get(), pRef->valueName.c_str(), nullptr, nullptr, abData, &cbData);
  if (ls != ERROR_SUCCESS) return static_cast<uint32_t>(ls);
  const size_t cchNeeded = cbData == 0 ? 0 : cbData / 2 + 1;
  if (pwszBuffer == nullptr) {
    *pcchCount = cchNeeded;
    return 0;
  }
  if (*pcchCount < cchNeeded) {
    *pcchCount = cchNeeded;
    return NY_E_BUFFER_TOO_SMALL;
  }
  memset(pwszBuffer, 0, *pcchCount * sizeof(wchar_t));
  // An odd byte count leaves its last byte out: the copy stays within whole
  // characters and the terminator the clear put there.
  memcpy(pwszBuffer, abData, (cbData / 2) * sizeof(wchar_t));
  *pcchCount = cchNeeded;
  return 0;
}

std::wstring RegeditProgramPath(BOOL b64Key) {
  wchar_t wszWindows[MAX_PATH] = {};
  const UINT cch = GetSystemWindowsDirectoryW(wszWindows, MAX_PATH);
  if (cch == 0 || cch >= MAX_PATH) return std::wstring();
  return std::wstring(wszWindows) + ((IsOs64Bit() && !b64Key) ? L"\\SysWOW64\\regedit.exe" : L"\\regedit.exe");
}

uint32_t RunRegeditFile(const std::wstring& path, BOOL b64Key) {
  if (path.empty()) return NY_E_INVALID_PARAM;
  if (!b64Key && Is32BitSubsystemAbsent()) {
    NYLOGW(LOG_LEVEL_OUTCOME, L"RunRegeditFile: %s skipped: the 32-bit view's regedit is part of the 32-bit subsystem, "
           L"which this system does not have", path.c_str());
    return 0;
  }
  const std::wstring program = RegeditProgramPath(b64Key);
  if (program.empty()) {
    const DWORD dwError = GetLastError();
    return NYFAIL(dwError != 0 ? dwError : NY_E_INVALID_DATA, "GetSystemWindowsDirectoryW", path.c_str());
  }
  // Quoted: the extraction folder lies under the user's profile, whose name
  // may hold blanks, and an unquoted path would make regedit import nothing.
  const std::wstring parameters = L" /s \"" + path + L"\"";
  if (program.size() >= MAX_PATH || parameters.size() >= MAX_PATH) return NY_E_INVALID_PARAM;
  return RunShellCommand(program.c_str(), parameters.c_str(), TRUE, INFINITE);
}
