#include "NySetupExec.h"

#include <shellapi.h>
#include <shlwapi.h>

#include <cstdlib>
#include <cwctype>

#include "NyLog.h"
#include "NyActionRun.h"
#include "MemExtractFiles.h"
#include "NyCommon.h"
#include "NyFileSigner.h"
#include "NyPackageCheck.h"
#include "NyResult.h"
#include "NyRollback.h"
#include "NySafeStr.h"
#include "NySetupResources.h"
#include "NyUninstallCopy.h"

CNySetupExec* SingletonNySetupExec::GetInstance() {
  // Built once even when two threads ask at the same time, and destroyed at
  // process exit, where its destructor runs Clear once more.
  static CNySetupExec s_instance;
  return &s_instance;
}

CNySetupExec::CNySetupExec() {
  NyCommonInit();
  wchar_t wszStart[MAX_PATH] = {};
  const DWORD cchStart = GetCurrentDirectoryW(MAX_PATH, wszStart);
  if (cchStart != 0 && cchStart < MAX_PATH) m_startDir = wszStart;
  std::wstring temp;
  if (GetAvailableTempPath(&temp)) SetCurrentDirectoryW(temp.c_str());
}

CNySetupExec::~CNySetupExec() { Clear(); }

void CNySetupExec::SetMode(int32_t nMode) {
  m_nSetupMode = nMode;
  m_setupInfo.m_nSetupMode = nMode;
}

BOOL CNySetupExec::HandleCmdLine(uint32_t* pbExit) {
  const wchar_t* pwszCommandLine = GetCommandLineW();
  NYLOGW(LOG_LEVEL_TRACE, L"CNySetupExec::HandleCmdLine()->Command line: %s.", pwszCommandLine);
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(pwszCommandLine, &argc);
  wchar_t wszModule[MAX_PATH] = {};
  const DWORD cch = GetModuleFileNameW(nullptr, wszModule, MAX_PATH);
  const std::wstring module(wszModule, cch < MAX_PATH ? cch : 0);
  const BOOL bResult = HandleArguments(argv != nullptr ? argc : 0, argv, module, pbExit);
  if (argv != nullptr) LocalFree(argv);
  return bResult;
}

BOOL CNySetupExec::HandleArguments(int argc, wchar_t** argv, const std::wstring& moduleFileName, uint32_t* pbExit) {
  *pbExit = 0;
  m_bSilent = 0;
  m_setupInfo.m_bSilent = 0;
  SetMode(SETUP_MODE_NONE);
  bool bLog = false;
  static const struct {
    const wchar_t* pwszSwitch;
    int32_t nMode;  // SETUP_MODE_NONE: the silent switch
  } kSwitches[] = {
      {L"/SILENT", SETUP_MODE_NONE},         {L"/S", SETUP_MODE_NONE},
      {L"-S", SETUP_MODE_NONE},              {L"/UNINSTALL", SETUP_MODE_UNINSTALL},
      {L"/UNINSTALL_COPY", SETUP_MODE_UNINSTALL}, {L"/REPAIR", SETUP_MODE_REPAIR},
      {L"/UPGRADE", SETUP_MODE_UPGRADE},
  };
  for (int i = 1; i < argc; ++i) {
    if (_wcsnicmp(argv[i], L"/LAUNCHER=", 10) == 0) {
      if (!m_launcher.Attach(argv[i] + 10)) NYLOGW(LOG_LEVEL_OUTCOME, L"ignored: %s", argv[i]);
      continue;
    }
    if (_wcsicmp(argv[i], L"/LOG") == 0 || _wcsnicmp(argv[i], L"/LOG=", 5) == 0) {
      bLog = true;
      m_logPath = argv[i][4] == L'=' ? argv[i] + 5 : L"";
      continue;
    }
    for (const auto& entry : kSwitches) {
      if (SafeWcsICmp(argv[i], entry.pwszSwitch) != 0) continue;
      if (entry.nMode == SETUP_MODE_NONE) {
        m_bSilent = 1;
        m_setupInfo.m_bSilent = 1;
      } else if (m_nSetupMode == SETUP_MODE_NONE) {
        SetMode(entry.nMode);
      }
      break;
    }
  }
  // Before anything is changed: a run that cannot keep its log does not start.
  if (!OpenLogFile(bLog)) return FALSE;
  LogSigner(moduleFileName);
  if (m_nSetupMode != SETUP_MODE_NONE) return TRUE;

  std::wstring fileName = moduleFileName.substr(moduleFileName.rfind(L'\\') + 1);
  for (wchar_t& ch : fileName) ch = static_cast<wchar_t>(towlower(ch));
  if (fileName.find(L"uninstall.exe") == std::wstring::npos) {
    SetMode(SETUP_MODE_INSTALL);
    return TRUE;
  }
  SetMode(SETUP_MODE_UNINSTALL_LAUNCHER);
  *pbExit = 1;
  return RunUninstallationInstance();
}

bool CNySetupExec::OpenLogFile(bool bAsked) {
  if (!bAsked) {
    m_logPath.clear();
    NyCommonLogToFile(nullptr);
    return true;
  }
  if (m_logPath.empty()) {
    // "/LOG" alone: a file named after the product and the time, in the
    // temporary folder.
    std::wstring temp;
    if (!GetAvailableTempPath(&temp)) temp = m_startDir + L"\\";
    SYSTEMTIME now{};
    GetLocalTime(&now);
    wchar_t wszName[64] = {};
    NyWcsPrintf(wszName, ARRAYSIZE(wszName), L"ZorvakSetup_%04u%02u%02u_%02u%02u%02u.log", now.wYear, now.wMonth,
                now.wDay, now.wHour, now.wMinute, now.wSecond);
    m_logPath = temp + wszName;
  } else if (PathIsRelativeW(m_logPath.c_str())) {
    m_logPath = m_startDir + L"\\" + m_logPath;
  }
  m_u4LogError = NyCommonLogToFile(m_logPath.c_str());
  if (m_u4LogError == 0) return true;
  m_u4LastResult = NYFAIL(m_u4LogError, "CreateFileW (log file)", m_logPath.c_str());
  return false;
}

void CNySetupExec::LogSigner(const std::wstring& moduleFileName) {
  NyFileSigner signer;
  if (ReadFileSigner(moduleFileName.c_str(), &signer) != 0) return;
  if (signer.thumbprint.empty()) {
    NYLOGW(LOG_LEVEL_OUTCOME, L"%s is not signed", moduleFileName.c_str());
  } else {
    NYLOGW(LOG_LEVEL_TRACE, L"%s is signed by %s, thumbprint %s", moduleFileName.c_str(), signer.subject.c_str(),
           signer.thumbprint.c_str());
  }
}

BOOL CNySetupExec::Fail(uint32_t u4Result) {
  if (u4Result == 0) return TRUE;
  m_u4LastResult = u4Result;
  return FALSE;
}

BOOL CNySetupExec::HandleSetupResources(UINT uResourceId, const wchar_t* pwszScriptPath, BOOL bOnlyScript) {
  return Fail(
      PrepareSetupResources(uResourceId, pwszScriptPath, bOnlyScript, &m_extractFolder, &m_setupInfo, &m_script));
}

BOOL CNySetupExec::Clear() {
  if (!m_instance.Release()) NYLOG(LOG_LEVEL_OUTCOME, "----- %s NyMutexDestory Failed!", "CNySetupExec::Clear");
  m_extractFolder.Remove(m_setupInfo.m_strExtractDir.GetWide());
  return SelfDelete();
}

BOOL CNySetupExec::RunActionList(ProgressCallback pfnCallback, void* pvContext) {
  uint32_t u4Result = NY_E_FAIL;
  m_bNotAdministrator.store(IsAdministrator() == FALSE);
  if (m_bNotAdministrator.load()) {
    NYLOG(LOG_LEVEL_OUTCOME, "%s: the program needs administrator privileges", "CNySetupExec::RunActionList");
  } else {
    CNyActionRun run(m_script, m_factory, m_setupInfo, m_bStop);
    u4Result = run.RunActionList(pfnCallback, pvContext);
    if (run.RollbackResult() != 0) m_bRollbackIncomplete = true;
  }
  CNyActionRun::RefreshShellIcons();
  return Fail(u4Result);
}

BOOL CNySetupExec::RunFinishList() {
  return CNyActionRun(m_script, m_factory, m_setupInfo, m_bStop).RunFinishList() == 0 ? TRUE : FALSE;
}

BOOL CNySetupExec::RunUninstallationInstance() {
  // A damaged uninstaller does not even copy itself.
  const uint32_t u4Check = CheckPackageResource(NY_PACKAGE_RESOURCE_ID);
  if (u4Check != 0) return Fail(u4Check);
  // The copy logs into the same file.
  const std::wstring passOn = m_logPath.empty() ? std::wstring() : L" \"/LOG=" + m_logPath + L"\"";
  return Fail(::RunUninstallationInstance(m_bSilent != 0, passOn, &m_u4LauncherExit));
}

BOOL CNySetupExec::SelfDelete() {
  // Every uninstall-mode run deletes its own program file: the temporary
  // copy, or a file started with /UNINSTALL.
  if (m_setupInfo.m_nSetupMode != SETUP_MODE_UNINSTALL) return TRUE;
  return ::SelfDelete();
}

BOOL CNySetupExec::SetInstance(const wchar_t* pwszName) {
  const std::wstring name =
      (pwszName != nullptr && pwszName[0] != 0) ? pwszName : m_setupInfo.m_strProductCode.GetWide();
  if (!m_instance.Acquire(name.c_str())) return FALSE;
  // The instance is only as wide as this session; the journal's file, held
  // by the run that writes it, tells of a run in another one.
  const uint32_t u4Result = RecoverInterruptedRun(m_setupInfo.m_strProductCode.GetWide());
  if (u4Result == ERROR_INSTALL_ALREADY_RUNNING) {
    m_instance.Release();
    return FALSE;
  }
  if (u4Result != 0) m_bRollbackIncomplete = true;
  return TRUE;
}

BOOL CNySetupExec::GetStringValue(const char* pszName, CNyString* pValue) const {
  return m_script.GetValue(pszName, pValue) == 0 ? TRUE : FALSE;
}
