#include "NySetupExec.h"

#include <shellapi.h>

#include <cstdlib>
#include <cwctype>

#include "Log/NyLog.h"
#include "NyCommon.h"
#include "NySafeStr.h"

namespace {

CNySetupExec* g_pSetupExec = nullptr;

void DestroySetupExec() {
  delete g_pSetupExec;
  g_pSetupExec = nullptr;
}

}  // namespace

CNySetupExec* SingletonNySetupExec::GetInstance() {
  // A function-local static is built once even when two threads ask at the
  // same time.
  static CNySetupExec* const s_pInstance = [] {
    g_pSetupExec = new CNySetupExec();
    atexit(DestroySetupExec);
    return g_pSetupExec;
  }();
  return s_pInstance;
}

CNySetupExec::CNySetupExec() {
  NyCommonInit();
  m_pFactory = new CNyActionFactory();
  std::wstring temp;
  if (GetAvailableTempPath(&temp)) SetCurrentDirectoryW(temp.c_str());
}

CNySetupExec::~CNySetupExec() {
  Clear();
  delete m_pFactory;
}

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

BOOL CNySetupExec::GetStringValue(const char* pszName, CNyString* pValue) const {
  return m_script.GetValue(pszName, pValue) == 0 ? TRUE : FALSE;
}
