// SetAppTaskScheduler against the system's task scheduler, read back
// through the scheduler's own interfaces.
#include <windows.h>
#include <mstask.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "ActionHarness.h"
#include "CaptureLogger.h"
#include "NyComUtil.h"
#include "NyResult.h"
#include "NyTaskScheduler.h"
#include "NyActionSetAppTaskScheduler.h"
#include "UndoJournal.h"

namespace {

const char kTask[] = "ZorvakTestTask";

std::string TakeText(LPWSTR pwsz) {
  const std::string text = pwsz != nullptr ? Narrow(pwsz) : "<none>";
  CoTaskMemFree(pwsz);
  return text;
}

struct TaskFacts {
  HRESULT hrOpen = E_FAIL;
  std::string program, params, comment;
  DWORD dwFlags = 0;
  WORD wTriggers = 0;
  TASK_TRIGGER trigger{};
};

class Tasks : public ActionHarness {
 protected:
  void SetUp() override { ManageScheduledTask(L"ZorvakTestTask", nullptr, nullptr, nullptr, 0, NyTaskOperation::Delete); }
  void TearDown() override { SetUp(); }

  static TaskFacts Read(const wchar_t* pwszName) {
    TaskFacts facts;
    CNyComInit com;
    CNyComPtr<ITaskScheduler> scheduler;
    facts.hrOpen = CoCreateInstance(CLSID_CTaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskScheduler,
                                    scheduler.PutVoid());
    if (FAILED(facts.hrOpen)) return facts;
    CNyComPtr<ITask> task;
    facts.hrOpen = scheduler->Activate(pwszName, IID_ITask, reinterpret_cast<IUnknown**>(task.Put()));
    if (FAILED(facts.hrOpen)) return facts;
    LPWSTR pwsz = nullptr;
    task->GetApplicationName(&pwsz);
    facts.program = TakeText(pwsz);
    pwsz = nullptr;
    task->GetParameters(&pwsz);
    facts.params = TakeText(pwsz);
    pwsz = nullptr;
    task->GetComment(&pwsz);
    facts.comment = TakeText(pwsz);
    task->GetFlags(&facts.dwFlags);
    task->GetTriggerCount(&facts.wTriggers);
    CNyComPtr<ITaskTrigger> trigger;
    if (SUCCEEDED(task->GetTrigger(0, trigger.Put()))) {
      facts.trigger.cbTriggerSize = sizeof(facts.trigger);
      trigger->GetTrigger(&facts.trigger);
    }
    return facts;
  }
  std::string Create(const std::string& program, const std::string& params, const std::string& interval) {
    return "<SetAppTaskScheduler Name='" + std::string(kTask) + "' Type='Create' AppPath='" + program + "' Param='" +
           params + "' Description='Zorvak test' Interval='" + interval + "'/>";
  }
};

TEST_F(Tasks, CreateWritesProgramFlagAndTrigger) {
  SYSTEMTIME today{};
  GetSystemTime(&today);
  EXPECT_EQ(Run(Create("C:\\windows\\notepad.exe", "/a b", "15")), 0u);
  const TaskFacts facts = Read(L"ZorvakTestTask");
  ASSERT_EQ(facts.hrOpen, S_OK);
  EXPECT_EQ(facts.program, "C:\\windows\\notepad.exe");
  EXPECT_EQ(facts.params, "/a b");
  EXPECT_EQ(facts.comment, "Zorvak test");
  EXPECT_NE(facts.dwFlags & TASK_FLAG_RUN_ONLY_IF_LOGGED_ON, 0u);
  ASSERT_EQ(facts.wTriggers, 1);
  EXPECT_EQ(facts.trigger.TriggerType, TASK_TIME_TRIGGER_DAILY);
  EXPECT_EQ(facts.trigger.Type.Daily.DaysInterval, 1);
  EXPECT_EQ(facts.trigger.wStartHour, 0);
  EXPECT_EQ(facts.trigger.wStartMinute, 1);
  EXPECT_EQ(facts.trigger.MinutesDuration, 1440u);
  EXPECT_EQ(facts.trigger.MinutesInterval, 15u);
  EXPECT_EQ(facts.trigger.wBeginYear, today.wYear);
  EXPECT_EQ(facts.trigger.wBeginMonth, today.wMonth);
  EXPECT_EQ(facts.trigger.wBeginDay, today.wDay);
}

TEST_F(Tasks, CreateReplacesAnExistingTask) {
  EXPECT_EQ(Run(Create("C:\\windows\\notepad.exe", "first", "15")), 0u);
  EXPECT_EQ(Run(Create("C:\\windows\\regedit.exe", "second", "30")), 0u);
  const TaskFacts facts = Read(L"ZorvakTestTask");
  ASSERT_EQ(facts.hrOpen, S_OK);
  EXPECT_EQ(facts.program, "C:\\windows\\regedit.exe");
  EXPECT_EQ(facts.params, "second");
  EXPECT_EQ(facts.wTriggers, 1);
  EXPECT_EQ(facts.trigger.MinutesInterval, 30u);
}

// The scheduler service reads a freshly saved task file; a replacement that
// meets it held for a moment waits for it instead of failing. (Wine keeps a
// task in Windows\Tasks\NAME.job.)
TEST_F(Tasks, CreateReplacesATaskWhoseFileIsHeldForAMoment) {
  ASSERT_EQ(Run(Create("C:\\windows\\notepad.exe", "first", "15")), 0u);
  wchar_t wszJob[MAX_PATH] = {};
  GetWindowsDirectoryW(wszJob, MAX_PATH);
  const std::wstring job = std::wstring(wszJob) + L"\\Tasks\\ZorvakTestTask.job";
  // Held as the service holds it: others may read and write, not delete.
  // The service itself may be reading it just now, so the open is retried.
  HANDLE hJob = INVALID_HANDLE_VALUE;
  for (int nTry = 0; nTry < 100 && hJob == INVALID_HANDLE_VALUE; ++nTry) {
    hJob = CreateFileW(job.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                       nullptr);
    if (hJob == INVALID_HANDLE_VALUE) Sleep(20);
  }
  ASSERT_NE(hJob, INVALID_HANDLE_VALUE) << "the task file could not be opened: " << GetLastError();
  std::thread release([hJob] {
    Sleep(300);
    CloseHandle(hJob);
  });
  EXPECT_EQ(Run(Create("C:\\windows\\regedit.exe", "second", "30")), 0u);
  release.join();
  EXPECT_EQ(Read(L"ZorvakTestTask").program, "C:\\windows\\regedit.exe");
}

TEST_F(Tasks, CreateWithoutProgramOrIntervalDoesNothing) {
  EXPECT_EQ(Run(Create("C:\\windows\\notepad.exe", "p", "none")), 0u);
  EXPECT_EQ(Read(L"ZorvakTestTask").hrOpen, static_cast<HRESULT>(0x80070002));
  // A Type that is Create in other letters needs no AppPath or Interval and
  // then does nothing.
  EXPECT_EQ(Run("<SetAppTaskScheduler Name='ZorvakTestTask' Type='create'/>"), 0u);
  EXPECT_EQ(Read(L"ZorvakTestTask").hrOpen, static_cast<HRESULT>(0x80070002));
}

TEST_F(Tasks, DeleteAndEndOfMissingOrIdleTasks) {
  EXPECT_EQ(Run("<SetAppTaskScheduler Name='ZorvakTestTask' Type='Delete'/>"), 0u);
  EXPECT_EQ(Run("<SetAppTaskScheduler Name='ZorvakTestTask' Type='End'/>"), 0x80070002u);
  EXPECT_EQ(Run(Create("C:\\windows\\notepad.exe", "x", "15")), 0u);
  EXPECT_EQ(Run("<SetAppTaskScheduler Name='ZorvakTestTask' Type='End'/>"), 0u);
  EXPECT_EQ(Read(L"ZorvakTestTask").program, "C:\\windows\\notepad.exe");
  EXPECT_EQ(Run("<SetAppTaskScheduler Name='ZorvakTestTask' Type='Delete'/>"), 0u);
  EXPECT_EQ(Read(L"ZorvakTestTask").hrOpen, static_cast<HRESULT>(0x80070002));
}

// Wine's scheduler accepts Run (S_OK) but never starts the program: the
// task stays "has not run" and End finds it not running.
TEST_F(Tasks, RunAndEndOfAnExistingTask) {
  EXPECT_EQ(Run(Create("C:\\windows\\system32\\cmd.exe", "/c exit", "15")), 0u);
  EXPECT_EQ(Run("<SetAppTaskScheduler Name='ZorvakTestTask' Type='Run'/>"), 0u);
  EXPECT_EQ(Run("<SetAppTaskScheduler Name='ZorvakTestTask' Type='End'/>"), 0u);
}

TEST_F(Tasks, RunOfAMissingTaskFails) {
  CaptureLogger log;
  EXPECT_EQ(Run("<SetAppTaskScheduler Name='ZorvakTestTask' Type='Run'/>"), 0x80070002u);
  EXPECT_TRUE(log.Contains("u4Result = 80070002"));
  EXPECT_TRUE(log.Contains("----- CNyActionTaskScheduler::Do failed(Ret=0x80070002)!"));
}

TEST_F(Tasks, AnUndoPutsBackTheTaskAsItWasOrRemovesANewOne) {
  ASSERT_EQ(Run(Create("C:\\windows\\notepad.exe", "first", "15")), 0u);
  const TaskFacts before = Read(L"ZorvakTestTask");
  UndoJournal journal;
  EXPECT_EQ(Make(Create("C:\\windows\\regedit.exe", "second", "30"))->Do(journal.Info()), 0u);
  EXPECT_EQ(Make("<SetAppTaskScheduler Name='ZorvakTestTask' Type='Run'/>")->Do(journal.Info()), 0u);
  EXPECT_EQ(Make("<SetAppTaskScheduler Name='ZorvakTestTask' Type='Delete'/>")->Do(journal.Info()), 0u);
  EXPECT_EQ(journal.Count("TASK"), 2u);
  EXPECT_EQ(journal.Count("PROC"), 1u) << "a run cannot be undone: noted";
  EXPECT_EQ(journal.UndoAll(), 0u);
  const TaskFacts after = Read(L"ZorvakTestTask");
  ASSERT_EQ(after.hrOpen, S_OK);
  EXPECT_EQ(after.program, before.program);
  EXPECT_EQ(after.params, "first");
  EXPECT_EQ(after.comment, before.comment);
  EXPECT_EQ(after.dwFlags, before.dwFlags);
  ASSERT_EQ(after.wTriggers, 1);
  EXPECT_EQ(after.trigger.MinutesInterval, 15u);
  journal.ExpectCutStepsRefused();

  Run("<SetAppTaskScheduler Name='ZorvakTestTask' Type='Delete'/>");
  journal.steps.clear();
  EXPECT_EQ(Make(Create("C:\\windows\\notepad.exe", "new", "15"))->Do(journal.Info()), 0u);
  EXPECT_EQ(journal.UndoAll(), 0u);
  EXPECT_EQ(Read(L"ZorvakTestTask").hrOpen, static_cast<HRESULT>(0x80070002));
}

TEST_F(Tasks, IntervalTextsAndAttributes) {
  EXPECT_EQ(ParseTaskInterval("15"), 15u);
  EXPECT_EQ(ParseTaskInterval(" 20min"), 20u);
  EXPECT_EQ(ParseTaskInterval("min"), 0u);
  EXPECT_EQ(ParseTaskInterval("-5"), 0u);
  EXPECT_EQ(ParseTaskInterval("99999999999"), UINT32_MAX);

  CaptureLogger log;
  EXPECT_EQ(Make("<SetAppTaskScheduler Type='Delete'/>")->LoadConfig(0), NY_E_ATTR_MISSING);
  EXPECT_EQ(Make("<SetAppTaskScheduler Name='T'/>")->LoadConfig(0), NY_E_ATTR_MISSING);
  EXPECT_EQ(Make("<SetAppTaskScheduler Name='' Type='Delete'/>")->LoadConfig(0), NY_E_INVALID_PARAM);
  EXPECT_EQ(Make("<SetAppTaskScheduler Name='T' Type='Delete' Param=''/>")->LoadConfig(0), NY_E_INVALID_PARAM);
  EXPECT_EQ(Make("<SetAppTaskScheduler Name='T' Type='Delete' AppPath=''/>")->LoadConfig(0), NY_E_INVALID_PARAM);
  EXPECT_EQ(Make("<SetAppTaskScheduler Name='T' Type='Delete' Interval=''/>")->LoadConfig(0), NY_E_INVALID_PARAM);
  EXPECT_EQ(Make("<SetAppTaskScheduler Name='T' Type='Create' Interval='5'/>")->Do(nullptr), NY_E_ATTR_MISSING);
  EXPECT_EQ(Make("<SetAppTaskScheduler Name='T' Type='Create' AppPath='a.exe'/>")->Do(nullptr), NY_E_ATTR_MISSING);
  EXPECT_EQ(Make("<SetAppTaskScheduler Name='T' Type='Create' AppPath='a.exe' Interval='5'/>")->LoadConfig(0), 0u);
  EXPECT_TRUE(log.Contains("+++++ CNyActionTaskScheduler::LoadConfig..."));
  EXPECT_TRUE(log.Contains("CNyActionTaskScheduler::LoadConfig: TaskName in xml is: T"));
  EXPECT_TRUE(log.Contains("CNyActionTaskScheduler::LoadConfig: TaskType in xml is: Create"));
  EXPECT_TRUE(log.Contains("CNyActionTaskScheduler::LoadConfig: TaskValue in xml is: a.exe"));
  EXPECT_TRUE(log.Contains("CNyActionTaskScheduler::LoadConfig: TrigerInterval in xml is: 5"));

  EXPECT_EQ(Describe(Make("<SetAppTaskScheduler Name='T' Type='Create' AppPath='a.exe' Param='-x' Interval='5'/>")),
            "Task T Create[a.exe -x]");
  EXPECT_EQ(Describe(Make("<SetAppTaskScheduler Name='T' Type='Delete'/>")), "Task T Delete");
  EXPECT_EQ(DescribeWithoutTemplate("<SetAppTaskScheduler Name='T' Type='Delete'/>"), NY_E_NO_TEMPLATE);
  EXPECT_TRUE(log.Contains("----- CNyActionTaskScheduler::GetDescription failed(Ret=0xe0609001)!"));
}

}  // namespace
