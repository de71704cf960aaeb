// The journal's cost and the time of a rollback, on the shipped install list
// (Windows; run it elevated, under Wine or on Windows).
//   rollback_bench.exe [ROUNDS]      default: 7 rounds
// Each round runs, in this process and in an order that alternates from
// round to round: the install list with its journal and without it (its list
// given Rollback="false"), each timed from the first action to the end of
// the run, commit included; and the install list stopped after its last
// action, of which the rollback of the whole list is timed. An uninstall,
// not timed, follows each. One round that is not counted comes first. Prints
// medians and minima in ms, and how many steps the journal holds and how many
// of them waited for the disk.
#include <windows.h>

#include <tinyxml.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "BenchWin.h"
#include "NyConfigItem.h"
#include "NySetupExec.h"

namespace {

// An uninstall-mode driver deletes its own program in Clear: this one runs
// its last Clear in install mode.
class BenchSetupExec : public CNySetupExec {
 public:
  ~BenchSetupExec() override { SetupInfo().m_nSetupMode = SETUP_MODE_INSTALL; }
};

// Stands between the actions and the journal and counts its steps.
class StepCounter : public INyJournal {
 public:
  bool IsRecording() const override { return m_pInner->IsRecording(); }
  uint32_t Record(const CNyUndoStep& step) override {
    ++m_u4Flushed;
    return m_pInner->Record(step);
  }
  uint32_t Note(const CNyUndoStep& step) override {
    ++m_u4Noted;
    return m_pInner->Note(step);
  }
  bool Holds(const CNyUndoStep& step) const override { return m_pInner->Holds(step); }
  INyJournal* m_pInner = nullptr;
  uint32_t m_u4Flushed = 0;
  uint32_t m_u4Noted = 0;
};

struct Run {
  CNySetupExec* pExec = nullptr;
  bool bStopAtEnd = false;
  StepCounter counter;
  double stoppedAt = 0;

  static uint32_t Progress(CNySetupStatus* pStatus, void* pvSelf) {
    auto* pSelf = static_cast<Run*>(pvSelf);
    CNySetupInfo& info = pSelf->pExec->SetupInfo();
    if (!pStatus->m_bRollingBack && info.m_pJournal->IsRecording() && info.m_pJournal != &pSelf->counter) {
      pSelf->counter.m_pInner = info.m_pJournal;
      info.m_pJournal = &pSelf->counter;
    }
    if (pSelf->bStopAtEnd && pStatus->m_bDone && !pStatus->m_bRollingBack &&
        pStatus->m_u4Completed == pStatus->m_u4Total) {
      pSelf->stoppedAt = Now();
      return NY_PROGRESS_ABORT;
    }
    return ActionFailureMayPass(pStatus->m_failure, pStatus->m_u4Result) ? NY_PROGRESS_CONTINUE : NY_PROGRESS_ABORT;
  }
};

[[noreturn]] void Die(const char* pszWhat) {
  fprintf(stderr, "rollback_bench: %s\n", pszWhat);
  exit(1);
}

void Prepare(CNySetupExec* pExec, const wchar_t* pwszSwitch) {
  std::wstring self = L"rollback_bench.exe", sw = pwszSwitch;
  wchar_t* argv[] = {&self[0], &sw[0]};
  uint32_t bExit = 0;
  pExec->HandleArguments(sw.empty() ? 1 : 2, argv, self, &bExit);
  if (!pExec->HandleSetupResources(136, L"\\PackageFiles\\SetupScript.xml", FALSE) || !pExec->SetInstance(nullptr)) {
    Die("the shipped package could not be prepared");
  }
}

void Uninstall() {
  BenchSetupExec exec;
  Prepare(&exec, L"/UNINSTALL");
  Run run;
  run.pExec = &exec;
  exec.RunActionList(Run::Progress, &run);
}

enum class Kind { WithJournal, WithoutJournal, RollBack };

// Seconds; *pRun tells the steps.
double Install(Kind kind, Run* pRun) {
  BenchSetupExec exec;
  Prepare(&exec, L"");
  if (kind == Kind::WithoutJournal) {
    std::unique_ptr<CNyXmlConfigItem> list(exec.Script().GetItem("Action", "Insall"));
    list->GetElement()->SetAttribute("Rollback", "false");
  }
  pRun->pExec = &exec;
  pRun->bStopAtEnd = kind == Kind::RollBack;
  const double start = Now();
  const BOOL bDone = exec.RunActionList(Run::Progress, pRun);
  const double end = Now();
  if (bDone == (kind == Kind::RollBack) || exec.RollbackIncomplete()) Die("the install did not end as it should");
  exec.Clear();
  return end - (kind == Kind::RollBack ? pRun->stoppedAt : start);
}

void Print(const char* pszWhat, std::vector<double> times) {
  std::sort(times.begin(), times.end());
  printf("%-42s median %7.1f ms   min %7.1f ms\n", pszWhat, times[times.size() / 2] * 1000, times[0] * 1000);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const int nRounds = argc > 1 ? _wtoi(argv[1]) : 7;
  if (nRounds < 1) Die("ROUNDS must be at least 1");
  std::vector<double> with, without, rollback;
  Run steps;
  for (int nRound = -1; nRound < nRounds; ++nRound) {
    const Kind order[] = {nRound % 2 == 0 ? Kind::WithJournal : Kind::WithoutJournal,
                          nRound % 2 == 0 ? Kind::WithoutJournal : Kind::WithJournal, Kind::RollBack};
    for (Kind kind : order) {
      Run run;
      const double seconds = Install(kind, &run);
      Uninstall();
      if (nRound < 0) continue;
      (kind == Kind::WithJournal ? with : kind == Kind::WithoutJournal ? without : rollback).push_back(seconds);
      if (kind == Kind::WithJournal) steps = run;
    }
  }
  printf("shipped install list, %d rounds, in one process:\n", nRounds);
  Print("install, with the journal", with);
  Print("install, without the journal", without);
  Print("rollback of the whole install list", rollback);
  printf("journal: %u steps, %u flushed to the disk (and the header)\n",
         steps.counter.m_u4Flushed + steps.counter.m_u4Noted, steps.counter.m_u4Flushed);
  return 0;
}
