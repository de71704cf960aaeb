#include "NyUndoRegistry.h"

#include "NyHandle.h"
#include "NyLog.h"
#include "NyRegFileText.h"
#include "NyRegistryUtil.h"
#include "NyResult.h"

namespace {

const NyUndoKind kValuesKind = NyUndoKindTag("RKEY");
const NyUndoKind kMadeKind = NyUndoKindTag("RMKY");
const NyUndoKind kTreeKind = NyUndoKindTag("RTRE");

CNyUndoStep& AddKey(CNyUndoStep& step, HKEY hRoot, const std::wstring& subKey, BOOL b64Key) {
  return step.AddText(RegistryRootName(hRoot)).AddU32(b64Key ? 1 : 0).AddText(subKey);
}

bool ReadKey(CNyUndoReader* pStep, HKEY* phRoot, std::wstring* pSubKey, BOOL* pb64Key) {
  std::wstring root;
  uint32_t u4View = 0;
  if (!pStep->ReadText(&root) || !pStep->ReadU32(&u4View) || !pStep->ReadText(pSubKey)) return false;
  *phRoot = RegistryRootFromName(root.c_str());
  *pb64Key = u4View != 0;
  return *phRoot != nullptr;
}

bool ReadValue(CNyUndoReader* pStep, bool bWithExists, RegistryValueState* pValue) {
  uint32_t u4Exists = 1, u4Type = 0;
  if (!pStep->ReadText(&pValue->name) || (bWithExists && !pStep->ReadU32(&u4Exists)) || !pStep->ReadU32(&u4Type) ||
      !pStep->ReadBytes(&pValue->data)) {
    return false;
  }
  pValue->bExists = u4Exists != 0;
  pValue->dwType = u4Type;
  return true;
}

// A count, then that many values.
bool ReadValues(CNyUndoReader* pStep, bool bWithExists, std::vector<RegistryValueState>* pValues) {
  uint32_t u4Count = 0;
  if (!pStep->ReadU32(&u4Count)) return false;
  for (uint32_t i = 0; i < u4Count; ++i) {
    RegistryValueState value;
    if (!ReadValue(pStep, bWithExists, &value)) return false;
    pValues->push_back(std::move(value));
  }
  return true;
}

uint32_t Malformed(std::wstring* pObject) {
  *pObject = L"a registry step that cannot be read";
  return NYFAIL(NY_E_INVALID_DATA, "read the undo step", L"registry");
}

std::wstring ValueText(const std::wstring& name) { return name.empty() ? L"(default)" : L"\"" + name + L"\""; }

CNyUndoStep MadeStep(HKEY hRoot, const std::wstring& path, BOOL b64Key) {
  CNyUndoStep step(kMadeKind);
  AddKey(step, hRoot, path, b64Key);
  return step;
}

// Whether the run made the key, or a key above it.
bool MadeByRun(const INyJournal& journal, HKEY hRoot, const std::wstring& subKey, BOOL b64Key) {
  for (std::wstring path = TrimmedRegistryPath(subKey); !path.empty();) {
    if (journal.Holds(MadeStep(hRoot, path, b64Key))) return true;
    const size_t slash = path.rfind(L'\\');
    path.resize(slash == std::wstring::npos ? 0 : slash);
  }
  return false;
}

// Before values are written into the key (bDeletion: deleted from it). A
// write into a missing key makes it: a step for each level it makes, the
// outermost first. A deletion of what is not there changes nothing.
uint32_t CaptureValues(const INyJournal& journal, HKEY hRoot, const std::wstring& subKey, BOOL b64Key,
                       const std::vector<std::wstring>& names, bool bDeletion, std::vector<CNyUndoStep>* pSteps) {
  if (MadeByRun(journal, hRoot, subKey, b64Key)) return 0;
  std::vector<RegistryValueState> values(names.size());
  for (size_t i = 0; i < names.size(); ++i) values[i].name = names[i];
  uint32_t u4Missing = 0;
  const uint32_t u4Result = ReadRegistryValues(hRoot, subKey, b64Key, &values, &u4Missing);
  if (u4Result != 0 || (bDeletion && u4Missing != 0)) return u4Result;
  if (u4Missing != 0) {
    std::vector<std::wstring> made;
    std::wstring path = TrimmedRegistryPath(subKey);
    for (uint32_t i = 0; i < u4Missing && !path.empty(); ++i) {
      made.push_back(path);
      const size_t slash = path.rfind(L'\\');
      path.resize(slash == std::wstring::npos ? 0 : slash);
    }
    for (size_t i = made.size(); i-- > 0;) pSteps->push_back(MadeStep(hRoot, made[i], b64Key));
    return 0;
  }
  bool bAny = false;
  for (const RegistryValueState& value : values) bAny = bAny || value.bExists;
  if (bDeletion && !bAny) return 0;
  CNyUndoStep step(kValuesKind);
  AddKey(step, hRoot, subKey, b64Key).AddU32(static_cast<uint32_t>(values.size()));
  for (const RegistryValueState& value : values) {
    step.AddText(value.name).AddU32(value.bExists ? 1 : 0).AddU32(value.dwType).AddBytes(value.data.data(),
                                                                                          value.data.size());
  }
  pSteps->push_back(step);
  return 0;
}

uint32_t CaptureTree(const INyJournal& journal, HKEY hRoot, const std::wstring& subKey, BOOL b64Key,
                     std::vector<CNyUndoStep>* pSteps) {
  if (MadeByRun(journal, hRoot, subKey, b64Key)) return 0;
  std::vector<RegistryTreeKey> keys;
  const uint32_t u4Result = ReadRegistryTree(hRoot, subKey, b64Key, &keys);
  if (u4Result == ERROR_FILE_NOT_FOUND) return 0;
  if (u4Result != 0) return u4Result;
  CNyUndoStep step(kTreeKind);
  AddKey(step, hRoot, subKey, b64Key).AddU32(static_cast<uint32_t>(keys.size()));
  for (const RegistryTreeKey& key : keys) {
    step.AddText(key.relPath).AddU32(static_cast<uint32_t>(key.values.size()));
    for (const RegistryValueState& value : key.values) {
      step.AddText(value.name).AddU32(value.dwType).AddBytes(value.data.data(), value.data.size());
    }
  }
  pSteps->push_back(step);
  return 0;
}

uint32_t UndoValues(CNyUndoReader* pStep, std::wstring* pObject) {
  HKEY hRoot = nullptr;
  std::wstring subKey;
  BOOL b64Key = FALSE;
  std::vector<RegistryValueState> values;
  if (!ReadKey(pStep, &hRoot, &subKey, &b64Key) || !ReadValues(pStep, true, &values)) return Malformed(pObject);
  *pObject = RegistryKeyText(hRoot, subKey, b64Key) + L":";
  uint32_t u4First = 0;
  for (const RegistryValueState& value : values) {
    const uint32_t u4Result = RestoreRegistryValue(hRoot, subKey, b64Key, value);
    if (u4First == 0) u4First = u4Result;
    *pObject += L" " + ValueText(value.name) + (value.bExists ? L" restored;" : L" deleted (it did not exist);");
  }
  return u4First;
}

uint32_t UndoMade(CNyUndoReader* pStep, std::wstring* pObject) {
  HKEY hRoot = nullptr;
  std::wstring subKey;
  BOOL b64Key = FALSE;
  if (!ReadKey(pStep, &hRoot, &subKey, &b64Key)) return Malformed(pObject);
  bool bKept = false;
  const uint32_t u4Result = DeleteRegistryKeyWithoutSubkeys(hRoot, subKey, b64Key, &bKept);
  *pObject = RegistryKeyText(hRoot, subKey, b64Key) +
             (bKept ? L": made by the run, kept: something else lives below it now" : L": made by the run, removed");
  return u4Result;
}

uint32_t UndoTree(CNyUndoReader* pStep, std::wstring* pObject) {
  HKEY hRoot = nullptr;
  std::wstring subKey;
  BOOL b64Key = FALSE;
  uint32_t u4Keys = 0;
  if (!ReadKey(pStep, &hRoot, &subKey, &b64Key) || !pStep->ReadU32(&u4Keys)) return Malformed(pObject);
  std::vector<RegistryTreeKey> keys;
  for (uint32_t i = 0; i < u4Keys; ++i) {
    RegistryTreeKey key;
    if (!pStep->ReadText(&key.relPath) || !ReadValues(pStep, false, &key.values)) return Malformed(pObject);
    keys.push_back(key);
  }
  *pObject = RegistryKeyText(hRoot, subKey, b64Key) + L": made again with the " + std::to_wstring(keys.size()) +
             L" key(s) of its tree and their values";
  return WriteRegistryTree(hRoot, subKey, b64Key, keys);
}

const CNyUndoRegistration kValuesRegistration({kValuesKind, UndoValues, nullptr});
const CNyUndoRegistration kMadeRegistration({kMadeKind, UndoMade, nullptr});
const CNyUndoRegistration kTreeRegistration({kTreeKind, UndoTree, nullptr});

// The root keys as .reg files name them: regedit takes the short names too.
HKEY RegFileRoot(const std::wstring& name) {
  static const struct {
    const wchar_t* pwszShort;
    const wchar_t* pwszLong;
  } kNames[] = {{L"HKLM", L"HKEY_LOCAL_MACHINE"}, {L"HKCU", L"HKEY_CURRENT_USER"}, {L"HKCR", L"HKEY_CLASSES_ROOT"},
                {L"HKU", L"HKEY_USERS"}, {L"HKCC", L"HKEY_CURRENT_CONFIG"}};
  for (const auto& root : kNames) {
    if (_wcsicmp(name.c_str(), root.pwszShort) == 0 || _wcsicmp(name.c_str(), root.pwszLong) == 0) {
      return RegistryRootFromName(root.pwszLong);
    }
  }
  return nullptr;
}

uint32_t ReadFileBytes(const std::wstring& path, std::vector<uint8_t>* pBytes) {
  const CNyFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return NYFAIL(GetLastError(), "CreateFileW", path.c_str());
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.Get(), &size)) return NYFAIL(GetLastError(), "GetFileSizeEx", path.c_str());
  if (size.QuadPart > (64 << 20)) return NYFAIL(NY_E_INVALID_DATA, "read the registry file", path.c_str());
  pBytes->resize(static_cast<size_t>(size.QuadPart));
  DWORD cbRead = 0;
  if (!pBytes->empty() &&
      (!ReadFile(file.Get(), pBytes->data(), static_cast<DWORD>(pBytes->size()), &cbRead, nullptr) ||
       cbRead != pBytes->size())) {
    return NYFAIL(GetLastError() != 0 ? GetLastError() : ERROR_HANDLE_EOF, "ReadFile", path.c_str());
  }
  return 0;
}

}  // namespace

uint32_t RecordRegistryWrite(INyJournal* pJournal, HKEY hRoot, const std::wstring& subKey, BOOL b64Key,
                             const std::vector<std::wstring>& valueNames) {
  if (!pJournal->IsRecording()) return 0;
  std::vector<CNyUndoStep> steps;
  const uint32_t u4Result = CaptureValues(*pJournal, hRoot, subKey, b64Key, valueNames, false, &steps);
  return u4Result != 0 ? u4Result : NyRecordSteps(pJournal, steps);
}

uint32_t RecordRegistryDeletion(INyJournal* pJournal, HKEY hRoot, const std::wstring& subKey, BOOL b64Key,
                                const std::wstring& valueName) {
  if (!pJournal->IsRecording()) return 0;
  std::vector<CNyUndoStep> steps;
  const uint32_t u4Result = valueName.empty() ? CaptureTree(*pJournal, hRoot, subKey, b64Key, &steps)
                                              : CaptureValues(*pJournal, hRoot, subKey, b64Key, {valueName}, true, &steps);
  return u4Result != 0 ? u4Result : NyRecordSteps(pJournal, steps);
}

uint32_t RecordRegFileImport(INyJournal* pJournal, const std::wstring& regFile, BOOL b64Key) {
  if (!pJournal->IsRecording()) return 0;
  std::vector<uint8_t> bytes;
  uint32_t u4Result = ReadFileBytes(regFile, &bytes);
  if (u4Result != 0) return u4Result;
  std::wstring text;
  std::vector<RegFileSection> sections;
  if (!DecodeRegFileBytes(bytes, &text) || !ParseRegFileText(text, &sections)) {
    return NYFAIL(NY_E_INVALID_DATA, "read what the registry file changes", regFile.c_str());
  }
  // Every section is read before the import: a key that one section makes
  // and a later one names again is recorded twice, and undone the same.
  std::vector<CNyUndoStep> steps;
  for (const RegFileSection& section : sections) {
    const HKEY hRoot = RegFileRoot(section.root);
    // A root key itself can be written into, not deleted.
    if (hRoot == nullptr || (section.bDeleteKey && section.subKey.empty())) {
      return NYFAIL(NY_E_INVALID_DATA, "read what the registry file changes",
                    (regFile + L": [" + section.root + L"\\" + section.subKey + L"]").c_str());
    }
    u4Result = section.bDeleteKey
                   ? CaptureTree(*pJournal, hRoot, section.subKey, b64Key, &steps)
                   : CaptureValues(*pJournal, hRoot, section.subKey, b64Key, section.valueNames, false, &steps);
    if (u4Result != 0) return u4Result;
  }
  return NyRecordSteps(pJournal, steps);
}
