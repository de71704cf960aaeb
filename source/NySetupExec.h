#pragma once
// The setup driver: command line, preparation of a run (package, script,
// product facts), the action run with its progress callback, the single
// instance, the installed-version check and the uninstaller's
// copy-and-self-delete.
#include <windows.h>

#include <cstdint>
#include <string>

#include "NyActionFactory.h"
#include "NyConfigScript.h"
#include "NySetupInfo.h"

class CNySetupExec {
 public:
  CNySetupExec();
  virtual ~CNySetupExec();
  CNySetupExec(const CNySetupExec&) = delete;
  CNySetupExec& operator=(const CNySetupExec&) = delete;

  // Settles the run mode and the silent flag from the command line and the
  // program's file name. *pbExit = 1: the program ends now (the uninstall
  // launcher has started its copy).
  BOOL HandleCmdLine(uint32_t* pbExit);
  // The same from given arguments (argv[0] is the program path) and file
  // name; HandleCmdLine passes the process's own.
  BOOL HandleArguments(int argc, wchar_t** argv, const std::wstring& moduleFileName, uint32_t* pbExit);

  // The first existing of: the user's temporary folder, Windows\Temp, the
  // common application data folder, the Windows folder. Ends in '\'.
  static BOOL GetAvailableTempPath(std::wstring* pFolder);
  // Extracts the package resource into a fresh folder, loads and expands
  // the script and reads the product facts.
  BOOL HandleSetupResources(UINT uResourceId, const wchar_t* pwszScriptPath, BOOL bOnlyScript);
  static BOOL IsAdministrator();
  // Releases the instance mutex, deletes the extraction folder and, in
  // uninstall mode, the program's own file.
  BOOL Clear();

  BOOL RunActionList(ProgressCallback pfnCallback, void* pvContext);
  BOOL RunFinishList();
  void RequestStop() { InterlockedExchange(&m_lStop, 1); }
  BOOL GetStringValue(const char* pszName, CNyString* pValue) const;
  static void RefreshShellIcons();

  BOOL RunUninstallationInstance();
  BOOL SelfDelete();

  BOOL SetInstance(const wchar_t* pwszName);
  BOOL CompareInstalledVersion(VersionCompareResult* pResult) const;

  int32_t GetSetupMode() const { return m_nSetupMode; }
  uint32_t IsSilent() const { return m_bSilent; }
  CNySetupInfo& SetupInfo() { return m_setupInfo; }
  CNyXmlConfigScript& Script() { return m_script; }
  // The code of the last failed preparation or run step, for the exit code.
  uint32_t LastResult() const { return m_u4LastResult; }

 private:
  void SetMode(int32_t nMode);
  bool StopRequested() const { return InterlockedCompareExchange(const_cast<volatile LONG*>(&m_lStop), 0, 0) != 0; }
  uint32_t PrepareExtractFolder();

  CNyXmlConfigScript m_script;
  CNyActionFactory* m_pFactory;
  CNySetupInfo m_setupInfo;
  HANDLE m_hInstanceMutex = nullptr;
  volatile LONG m_lStop = 0;
  int32_t m_nSetupMode = SETUP_MODE_NONE;
  uint32_t m_bSilent = 0;
  uint32_t m_u4LastResult = 0;
};

// The one driver of the process, made on first use.
class SingletonNySetupExec {
 public:
  static CNySetupExec* GetInstance();
};
