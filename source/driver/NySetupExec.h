#pragma once
// The setup driver: the command line and the run mode, and the one object
// through which the wizard prepares a run, runs it and cleans up. Each step
// is a unit of its own: NyTempFolder, NySetupResources, NyAdminGate,
// NyActionRun, NyInstance and NyUninstallCopy.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "NyAdminGate.h"
#include "NyBuiltInActions.h"
#include "NyConfigScript.h"
#include "NyExtractFolder.h"
#include "NyInstance.h"
#include "NySetupStatus.h"
#include "NyTempFolder.h"
#include "NyUninstallCopy.h"

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

  static BOOL GetAvailableTempPath(std::wstring* pFolder) { return ::GetAvailableTempPath(pFolder); }
  // Extracts the package resource into a fresh folder, loads and expands
  // the script and reads the product facts.
  BOOL HandleSetupResources(UINT uResourceId, const wchar_t* pwszScriptPath, BOOL bOnlyScript);
  static BOOL IsAdministrator() { return ::IsAdministrator(); }
  // Releases the instance mutex, deletes the extraction folder and, in
  // uninstall mode, the program's own file.
  BOOL Clear();

  // Runs the mode's action list; a run refused by the administrator gate
  // fails at once (NotAdministrator), and telling the user is the wizard's.
  BOOL RunActionList(ProgressCallback pfnCallback, void* pvContext);
  bool NotAdministrator() const { return m_bNotAdministrator.load(); }
  BOOL RunFinishList();
  // The one stop token of a run: once set, no further action starts. It is
  // never cleared.
  void RequestStop() { m_bStop.store(true); }
  bool StopRequested() const { return m_bStop.load(); }
  BOOL GetStringValue(const char* pszName, CNyString* pValue) const;

  // The uninstall launcher: starts the temporary copy and waits for its exit
  // code, which becomes this process's (LauncherExitCode).
  BOOL RunUninstallationInstance();
  uint32_t LauncherExitCode() const { return m_u4LauncherExit; }
  // The temporary copy: hands its exit code to the waiting launcher, then
  // deletes the launcher's file. Nothing happens for any other run.
  void ReportToLauncher(uint32_t u4ExitCode) { m_launcher.Report(u4ExitCode); }
  BOOL SelfDelete();

  // Takes the product's instance, then finishes what an ended run of the
  // product left in its journal (rolls it back) before this run's own work.
  // FALSE when another setup of the product is running: it holds the
  // instance, or is still writing the journal.
  BOOL SetInstance(const wchar_t* pwszName);
  BOOL CompareInstalledVersion(VersionCompareResult* pResult) const {
    return ::CompareInstalledVersion(m_setupInfo, pResult);
  }

  // The log file of "/LOG" or "/LOG=path"; empty without either. When it
  // could not be opened, LogFileError is the open's error and HandleCmdLine
  // failed before anything else happened.
  const std::wstring& LogFilePath() const { return m_logPath; }
  uint32_t LogFileError() const { return m_u4LogError; }

  int32_t GetSetupMode() const { return m_nSetupMode; }
  uint32_t IsSilent() const { return m_bSilent; }
  CNySetupInfo& SetupInfo() { return m_setupInfo; }
  CNyXmlConfigScript& Script() { return m_script; }
  // The code of the last failed preparation or run step, for the exit code.
  uint32_t LastResult() const { return m_u4LastResult; }
  // True when a rollback, of this run or of an ended one, left something as
  // the run had made it: the run then fails (1603) whatever else it did.
  bool RollbackIncomplete() const { return m_bRollbackIncomplete; }

 private:
  void SetMode(int32_t nMode);
  BOOL Fail(uint32_t u4Result);
  // Opens the log file the command line asked for; false when it cannot be.
  bool OpenLogFile(bool bAsked);
  // Who signed the program's file, for support: a release tells itself from
  // a rebuilt or altered copy, and an unsigned release stands out. No gate:
  // the run goes on either way.
  static void LogSigner(const std::wstring& moduleFileName);

  CNyXmlConfigScript m_script;
  CNyBuiltInActionFactory m_factory;
  CNySetupInfo m_setupInfo;
  CNyInstanceMutex m_instance;
  CNyExtractFolder m_extractFolder;
  CNyLauncherLink m_launcher;
  std::atomic<bool> m_bStop{false};
  int32_t m_nSetupMode = SETUP_MODE_NONE;
  uint32_t m_bSilent = 0;
  uint32_t m_u4LastResult = 0;
  uint32_t m_u4LauncherExit = 0;
  bool m_bRollbackIncomplete = false;
  std::atomic<bool> m_bNotAdministrator{false};
  // The folder the program was started in: a relative log path is taken
  // from there, not from the temporary folder the driver moves to.
  std::wstring m_startDir;
  std::wstring m_logPath;
  uint32_t m_u4LogError = 0;
};

// The one driver of the process, made on first use.
class SingletonNySetupExec {
 public:
  static CNySetupExec* GetInstance();
};
