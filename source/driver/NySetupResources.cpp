#include "NySetupResources.h"

#include <shlwapi.h>

#include <string>
#include <string_view>

#include "NyLog.h"
#include "MemExtractFiles.h"
#include "NyInstallSize.h"
#include "NyPackageCheck.h"
#include "NyResult.h"
#include "NySafeStr.h"
#include "NyTempFolder.h"

namespace {

// A fresh extraction folder: never one that exists already (see NyFreshName).
uint32_t PrepareExtractFolder(CNyExtractFolder* pFolder, CNySetupInfo* pInfo) {
  const std::wstring recorded = pInfo->m_strExtractDir.GetWide();
  if (!recorded.empty() && PathFileExistsW(recorded.c_str())) return 0;
  pInfo->m_strExtractDir.Clear();
  std::wstring temp, folder;
  if (!GetAvailableTempPath(&temp)) return NY_E_FAIL;
  RemoveAbandonedExtractFolders(temp);
  const uint32_t u4Result = pFolder->Create(temp, &folder);
  if (u4Result != 0) return u4Result;
  pInfo->m_strExtractDir.Assign(folder.c_str());
  return 0;
}

// Extracts the package (or only its script) and points pScriptText at the
// script's bytes in the package: the extracted copy is held unchanged, and
// reading it back would cost a round of file calls for the same bytes.
uint32_t ExtractPackage(UINT uResourceId, const CNyPackageFile& package, const wchar_t* pwszScriptPath,
                        BOOL bOnlyScript, const std::wstring& extractDir, std::string_view* pScriptText) {
  const BYTE* pbPackage = nullptr;
  DWORD cbPackage = 0;
  uint32_t u4Result = LoadPackageResource(uResourceId, &pbPackage, &cbPackage);
  if (u4Result != 0) return u4Result;
  // The files' bytes come through the checked file, not the loaded image:
  // touching the image would page the whole package into the working set.
  CMemExtractFiles extractor(pbPackage, cbPackage, &package);
  CFileInfoArray list;
  if (!extractor.GetFileList(list)) return NYFAIL(NY_E_INVALID_DATA, "GetFileList", "the package resource");
  u4Result = CMemExtractFiles::ExtractFiles(&extractor, list, bOnlyScript ? pwszScriptPath : L"", extractDir);
  if (u4Result != 0) return u4Result;
  const BYTE* pbScript = nullptr;
  DWORD cbScript = 0;
  u4Result = extractor.GetFileBytes(list, pwszScriptPath, &pbScript, &cbScript);
  if (u4Result != 0) return NYFAIL(u4Result, "GetFileBytes", pwszScriptPath);
  *pScriptText = std::string_view(reinterpret_cast<const char*>(pbScript), cbScript);
  return 0;
}

// The size of what the install copies, for the uninstall entry.
bool SetPayloadSize(CNyXmlConfigScript* pScript, uint32_t u4PayloadKb) {
  wchar_t wszSize[16] = {};
  NyWcsPrintf(wszSize, ARRAYSIZE(wszSize), L"%u", static_cast<unsigned>(u4PayloadKb));
  return pScript->SetVariable(NY_VAR_ESTIMATED_SIZE, CNyString(wszSize));
}

// Loads the script, sets its built-in variables, expands it and reads the
// product facts.
uint32_t LoadScript(std::string_view scriptText, CNySetupInfo* pInfo, CNyXmlConfigScript* pScript) {
  uint32_t u4Result = pScript->LoadFromMemory(scriptText.data(), scriptText.size());
  if (u4Result != 0) {
    NYLOG_RESULT(u4Result);
    return u4Result;
  }
  if (!pScript->InitVariables(pInfo->m_strExtractDir)) return NY_E_INVALID_DATA;
  u4Result = pScript->Update();
  // What the install will copy is known only from the expanded script; it
  // is expanded once more with the size.
  const bool bInstall = pInfo->m_nSetupMode == SETUP_MODE_INSTALL;
  const uint32_t u4PayloadKb = u4Result == 0 && bInstall ? InstalledPayloadKb(*pScript) : 0;
  if (u4Result == 0 && u4PayloadKb != 0) {
    u4Result = SetPayloadSize(pScript, u4PayloadKb) ? pScript->Update() : NY_E_INVALID_DATA;
  }
  if (u4Result != 0) {
    NYLOG_RESULT(u4Result);
    return u4Result;
  }
  CNyString version;
  const struct {
    const char* pszName;
    CNyString* pValue;
  } kFacts[] = {{"ProductCode", &pInfo->m_strProductCode}, {"ProductName", &pInfo->m_strProductName},
                {"Publisher", &pInfo->m_strPublisher},     {"Version", &version},
                {"InstallDir", &pInfo->m_strInstallDir}};
  for (const auto& fact : kFacts) {
    u4Result = pScript->GetValue(fact.pszName, fact.pValue);
    if (u4Result == 0 && fact.pValue == &version && !ParseVersionText(version.GetWide(), &pInfo->m_version)) {
      pInfo->m_version = NyFileVersion();
      u4Result = NY_E_BAD_VERSION;
    }
    if (u4Result != 0) {
      NYLOG_RESULT(u4Result);
      return u4Result;
    }
  }
  return 0;
}

}  // namespace

uint32_t PrepareSetupResources(UINT uResourceId, const wchar_t* pwszScriptPath, BOOL bOnlyScript,
                               CNyExtractFolder* pFolder, CNySetupInfo* pInfo, CNyXmlConfigScript* pScript) {
  const char* pszName = "CNySetupExec::HandleSetupResources";
  if (pwszScriptPath == nullptr || pwszScriptPath[0] == 0) {
    NYLOG(LOG_LEVEL_OUTCOME, "CNySetupExec::HandleSetupResources() error: SetupConfigPath can't be NULL");
    return NY_E_INVALID_PARAM;
  }
  NYLOG(LOG_LEVEL_TRACE, "+++++ %s...", "CNySetupExec::HandleSetupResources Start!");
  // The package proves itself before anything is written, not even the
  // extraction folder. The check and the extraction read the program's file
  // through one handle that keeps writers out until the extraction is done,
  // and the list and the script come from the loaded image of that file,
  // which the system keeps writers away from for the life of the process.
  // So what is extracted is what was checked.
  CNyPackageFile package;
  uint32_t u4Result = OpenCheckedPackage(uResourceId, &package);
  // Without its own folder nothing is extracted: writing into the current
  // folder instead could overwrite whatever is there.
  if (u4Result == 0) u4Result = PrepareExtractFolder(pFolder, pInfo);
  std::string_view scriptText;
  if (u4Result == 0) {
    u4Result = ExtractPackage(uResourceId, package, pwszScriptPath, bOnlyScript, pInfo->m_strExtractDir.GetWide(),
                              &scriptText);
  }
  if (u4Result == 0) u4Result = LoadScript(scriptText, pInfo, pScript);
  if (u4Result != 0) {
    NYLOG(LOG_LEVEL_OUTCOME, "----- %s... failed end, ret = 0x%08x", pszName, u4Result);
    return u4Result;
  }
  NYLOG(LOG_LEVEL_TRACE, "----- %s... end successfully", pszName);
  return 0;
}
