// A windowless setup program for tests: the driver's whole flow as a silent
// run would go, on the package embedded in this program.
//   ny_setup_driver [switches]          install, or as "Uninstall.exe" the uninstaller
//   ny_setup_driver --hold-instance     prepares, takes the instance and waits
//   ny_setup_driver --kill-after=K ...  the run ends itself (exit code 99), as a
//                                       killed run would, once its journal holds
//                                       K steps: the K-th step is on the disk, its
//                                       change not made. K one past the steps, or
//                                       "end": after the last action, before the
//                                       commit.
//   ny_setup_driver --hold-after=K ...  the same, but the run signals the event
//                                       "ZorvakSetupTestHeld" and waits instead
#include <windows.h>

#include <cwchar>

#include "NySetupExec.h"

namespace {

constexpr UINT kKilledExitCode = 99;
constexpr uint32_t kAtTheEnd = 0xFFFFFFFF;

// Stands between the actions and the run's journal and counts its steps.
class StepCounter : public INyJournal {
 public:
  uint32_t m_u4Limit = 0;
  bool m_bHold = false;
  INyJournal* m_pInner = nullptr;

  bool IsRecording() const override { return m_pInner->IsRecording(); }
  uint32_t Record(const CNyUndoStep& step) override { return Counted(m_pInner->Record(step)); }
  uint32_t Note(const CNyUndoStep& step) override { return Counted(m_pInner->Note(step)); }
  bool Holds(const CNyUndoStep& step) const override { return m_pInner->Holds(step); }
  // Called before each action runs: the counter takes the run's journal's
  // place; after the last one, the point before the commit.
  void Watch(CNySetupStatus* pStatus) {
    CNySetupInfo& info = SingletonNySetupExec::GetInstance()->SetupInfo();
    if (info.m_pJournal != this && info.m_pJournal->IsRecording()) {
      m_pInner = info.m_pJournal;
      info.m_pJournal = this;
    }
    const bool bEnd = pStatus->m_bDone && pStatus->m_u4Completed == pStatus->m_u4Total;
    if (bEnd && (m_u4Count + 1 == m_u4Limit || m_u4Limit == kAtTheEnd)) Stop();
  }

 private:
  uint32_t Counted(uint32_t u4Result) {
    if (u4Result == 0 && ++m_u4Count == m_u4Limit) Stop();
    return u4Result;
  }
  void Stop() {
    if (!m_bHold) TerminateProcess(GetCurrentProcess(), kKilledExitCode);
    HANDLE hHeld = CreateEventW(nullptr, TRUE, FALSE, L"ZorvakSetupTestHeld");
    SetEvent(hHeld);
    Sleep(INFINITE);
  }
  uint32_t m_u4Count = 0;
};

StepCounter g_counter;

uint32_t SilentProgress(CNySetupStatus* pStatus, void*) {
  if (g_counter.m_u4Limit != 0 && !pStatus->m_bRollingBack) g_counter.Watch(pStatus);
  return ActionFailureMayPass(pStatus->m_failure, pStatus->m_u4Result) ? NY_PROGRESS_CONTINUE : NY_PROGRESS_ABORT;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  CNySetupExec* pExec = SingletonNySetupExec::GetInstance();
  if (argc == 2 && wcscmp(argv[1], L"--hold-instance") == 0) {
    if (!pExec->HandleSetupResources(136, L"\\PackageFiles\\SetupScript.xml", TRUE)) return 1603;
    if (!pExec->SetInstance(nullptr)) return 1618;
    // The test sees the mutex and ends this process.
    Sleep(INFINITE);
  }
  if (argc >= 2 && (wcsncmp(argv[1], L"--kill-after=", 13) == 0 || wcsncmp(argv[1], L"--hold-after=", 13) == 0)) {
    g_counter.m_bHold = argv[1][2] == L'h';
    const wchar_t* pwszLimit = argv[1] + 13;
    g_counter.m_u4Limit = wcscmp(pwszLimit, L"end") == 0 ? kAtTheEnd : static_cast<uint32_t>(_wtoi(pwszLimit));
  }
  uint32_t bExit = 0;
  if (!pExec->HandleCmdLine(&bExit)) return 1603;
  if (bExit) return 0;
  if (!pExec->HandleSetupResources(136, L"\\PackageFiles\\SetupScript.xml", FALSE)) return 1603;
  if (!pExec->SetInstance(nullptr)) return 1618;
  const BOOL bRun = pExec->RunActionList(SilentProgress, nullptr);
  pExec->RunFinishList();
  pExec->Clear();
  return bRun && !pExec->RollbackIncomplete() ? 0 : 1603;
}
