#include "NySetupResources.h"

#include <shlwapi.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "NyLog.h"
#include "MemExtractFiles.h"
#include "NyInstallSize.h"
#include "NyPackageCheck.h"
#include "NyPackageUse.h"
#include "NyPathKey.h"
#include "NyHeldFiles.h"
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

// The package's list and the script's bytes, with the script extracted:
// the script is expanded before the other files are written, because the
// expanded install lists tell which of them stay in the package. The
// script's bytes come from the package: the extracted copy is held
// unchanged, and reading it back would cost a round of file calls for the
// same bytes.
struct PackageRun {
  const BYTE* pbPackage = nullptr;
  DWORD cbPackage = 0;
  CFileInfoArray list;
  size_t iScript = 0;
  std::string_view scriptText;
};

uint32_t ExtractScript(UINT uResourceId, const CNyPackageFile& package, const wchar_t* pwszScriptPath,
                       const std::wstring& extractDir, PackageRun* pRun) {
  uint32_t u4Result = LoadPackageResource(uResourceId, &pRun->pbPackage, &pRun->cbPackage);
  if (u4Result != 0) return u4Result;
  // The files' bytes come through the checked file, not the loaded image:
  // touching the image would page the whole package into the working set.
  const CMemExtractFiles extractor(pRun->pbPackage, pRun->cbPackage, &package);
  if (!extractor.GetFileList(pRun->list)) return NYFAIL(NY_E_INVALID_DATA, "GetFileList", "the package resource");
  u4Result = CMemExtractFiles::ExtractFiles(&extractor, pRun->list, pwszScriptPath, extractDir);
  if (u4Result != 0) return u4Result;
  const BYTE* pbScript = nullptr;
  DWORD cbScript = 0;
  u4Result = extractor.GetFileBytes(pRun->list, pwszScriptPath, &pbScript, &cbScript, &pRun->iScript);
  if (u4Result != 0) return NYFAIL(u4Result, "GetFileBytes", pwszScriptPath);
  pRun->scriptText = std::string_view(reinterpret_cast<const char*>(pbScript), cbScript);
  return 0;
}

// Every other file of the package, but those of the folders left in it,
// which an install copies from the package (the held-files table hears of
// them) and an uninstall does not use.
uint32_t ExtractRest(const std::shared_ptr<CNyPackageFile>& pPackage, const PackageRun& run,
                     const std::vector<std::wstring>& leftInPackage, const std::wstring& extractDir) {
  std::vector<NyPackagePlace> entries;
  CFileInfoArray rest;
  for (size_t i = 0; i < run.list.size(); ++i) {
    const CFileInfo& info = run.list[i];
    NyPackagePlace entry;
    entry.path = NyFullPath(extractDir + L'\\' + info.m_strRelativePath);
    entry.bFolder = info.IsFolder();
    entry.u4Offset = info.m_u4Offset;
    entry.u4Size = info.m_u4Size;
    const std::wstring key = NyPathKey(entry.path);
    bool bLeft = false;
    for (const std::wstring& folder : leftInPackage) bLeft = bLeft || (!entry.bFolder && NyPathKeyIsIn(key, folder));
    if (i != run.iScript && !bLeft) rest.push_back(info);
    entries.push_back(std::move(entry));
  }
  if (!leftInPackage.empty()) {
    NYLOG(LOG_LEVEL_TRACE, "%u of %u package entries stay in the package",
          static_cast<unsigned>(run.list.size() - rest.size() - 1), static_cast<unsigned>(run.list.size()));
  }
  CNyHeldFiles::Instance().SetPackage(std::move(entries), pPackage);
  const CMemExtractFiles extractor(run.pbPackage, run.cbPackage, pPackage.get());
  return CMemExtractFiles::ExtractFiles(&extractor, rest, L"", extractDir);
}

// The size of what the install copies, for the uninstall entry.
bool SetPayloadSize(CNyXmlConfigScript* pScript, uint32_t u4PayloadKb) {
  wchar_t wszSize[16] = {};
  NyWcsPrintf(wszSize, ARRAYSIZE(wszSize), L"%u", static_cast<unsigned>(u4PayloadKb));
  return pScript->SetVariable(NY_VAR_ESTIMATED_SIZE, CNyString(wszSize));
}

// Loads the script, sets its built-in variables and expands it.
uint32_t LoadScript(std::string_view scriptText, CNySetupInfo* pInfo, CNyXmlConfigScript* pScript) {
  uint32_t u4Result = pScript->LoadFromMemory(scriptText.data(), scriptText.size());
  if (u4Result != 0) {
    NYLOG_RESULT(u4Result);
    return u4Result;
  }
  if (!pScript->InitVariables(pInfo->m_strExtractDir)) return NY_E_INVALID_DATA;
  u4Result = pScript->Update();
  if (u4Result != 0) NYLOG_RESULT(u4Result);
  return u4Result;
}

// The payload's size and the product facts, once the files are in place.
uint32_t ReadFacts(CNySetupInfo* pInfo, CNyXmlConfigScript* pScript) {
  uint32_t u4Result = 0;
  // What the install will copy is known only from the expanded script; it
  // is expanded once more with the size.
  const bool bInstall = pInfo->m_nSetupMode == SETUP_MODE_INSTALL;
  const uint32_t u4PayloadKb = bInstall ? InstalledPayloadKb(*pScript) : 0;
  if (u4PayloadKb != 0) {
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
  // extraction folder. The check, the extraction and the copies straight
  // from the package read the program's file through one handle that keeps
  // writers out until the run ends, and the list and the script come from
  // the loaded image of that file, which the system keeps writers away from
  // for the life of the process. So what is written is what was checked.
  const auto pPackage = std::make_shared<CNyPackageFile>();
  uint32_t u4Result = OpenCheckedPackage(uResourceId, pPackage.get());
  // Without its own folder nothing is extracted: writing into the current
  // folder instead could overwrite whatever is there.
  if (u4Result == 0) u4Result = PrepareExtractFolder(pFolder, pInfo);
  const std::wstring extractDir = pInfo->m_strExtractDir.GetWide();
  PackageRun run;
  if (u4Result == 0) u4Result = ExtractScript(uResourceId, *pPackage, pwszScriptPath, extractDir, &run);
  if (u4Result == 0) u4Result = LoadScript(run.scriptText, pInfo, pScript);
  if (u4Result == 0 && !bOnlyScript) {
    u4Result = ExtractRest(pPackage, run, FoldersLeftInPackage(*pScript, extractDir, pInfo->m_nSetupMode), extractDir);
  }
  if (u4Result == 0) u4Result = ReadFacts(pInfo, pScript);
  if (u4Result != 0) {
    NYLOG(LOG_LEVEL_OUTCOME, "----- %s... failed end, ret = 0x%08x", pszName, u4Result);
    return u4Result;
  }
  NYLOG(LOG_LEVEL_TRACE, "----- %s... end successfully", pszName);
  return 0;
}
