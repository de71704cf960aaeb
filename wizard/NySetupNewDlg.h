#pragma once
// The wizard: one dialog that is the welcome page, the progress page and the
// finish page in turn. The action list runs on a worker thread that reaches
// the dialog only through window messages.
#include <windows.h>

#include <atomic>
#include <cstdint>

#include "NyHandle.h"

class CNySetupExec;

// How the wizard ended; the program's exit code follows from it.
enum WizardEnd : INT_PTR {
  WIZARD_END_CANCELLED = 1,    // the user left before anything ran
  WIZARD_END_NOT_PREPARED,     // the package or script could not be prepared
  WIZARD_END_OTHER_INSTANCE,   // another setup of the product is running
  WIZARD_END_SUCCEEDED,        // the run succeeded
  WIZARD_END_FAILED,           // the run failed
  WIZARD_END_DAMAGED,          // the package does not match its digest: nothing was changed
};

// A silent run, whatever its mode: nobody is at the screen, so no window is
// made at all; the run, the finish list and Clear follow one another.
bool IsUnattendedRun(CNySetupExec* pExec);
WizardEnd RunUnattended(CNySetupExec* pExec);

class CNySetupNewDlg {
 public:
  explicit CNySetupNewDlg(CNySetupExec* pExec);
  ~CNySetupNewDlg();
  CNySetupNewDlg(const CNySetupNewDlg&) = delete;
  CNySetupNewDlg& operator=(const CNySetupNewDlg&) = delete;

  // Runs the dialog modally; -1 when it could not be shown.
  INT_PTR DoModal();

 private:
  static INT_PTR CALLBACK DialogProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam);
  static DWORD WINAPI SetupWorkerThread(LPVOID pvDialog);
  BOOL OnInitDialog();
  void OnCommand(WORD wId);
  void OnStartRun();
  void OnRunDone(BOOL bSucceeded);
  void OnRollingBack();
  void OnFinish();
  // How the dialog ends once the run is over.
  WizardEnd RunEnd() const;
  bool IsInstallMode() const;
  bool StartWorker();
  // Sets a control's text from the script; false when the key is unknown.
  bool SetTextFromScript(int nId, const char* pszKey);

  // The wizard's progress through a run, read by both threads.
  enum UiState : int { UI_IDLE, UI_BUSY, UI_DONE };

  CNySetupExec* m_pExec;
  HWND m_hDlg = nullptr;
  HICON m_hIcon;
  CNyGdiObject m_titleFont;
  CNyHandle m_worker;
  std::atomic<int> m_uiState{UI_IDLE};
  BOOL m_bRunSucceeded = FALSE;
  bool m_bCancelled = false;
  bool m_bRollingBack = false;
};
