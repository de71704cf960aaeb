#include "NyTaskScheduler.h"

#include <windows.h>
#include <mstask.h>

#include "NyLog.h"
#include "NyComUtil.h"

namespace {

constexpr HRESULT kTaskNotFound = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
constexpr HRESULT kTaskInUse = HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION);
constexpr DWORD kInUseRetryMs = 50;
constexpr int kInUseRetries = 60;

// The scheduler service reads a task's file whenever it changes, so right
// after a task was saved its file can be held for a moment; a deletion then
// meets a sharing violation. It is tried again for up to three seconds.
HRESULT DeleteTask(ITaskScheduler* pScheduler, const wchar_t* pwszName) {
  HRESULT hr = pScheduler->Delete(pwszName);
  for (int nRetry = 0; hr == kTaskInUse && nRetry < kInUseRetries; ++nRetry) {
    Sleep(kInUseRetryMs);
    hr = pScheduler->Delete(pwszName);
  }
  return hr == kTaskNotFound ? S_OK : hr;
}

HRESULT CreateTask(ITaskScheduler* pScheduler, const wchar_t* pwszName, const wchar_t* pwszProgram,
                   const wchar_t* pwszParams, const wchar_t* pwszComment, uint32_t u4IntervalMinutes) {
  HRESULT hr = DeleteTask(pScheduler, pwszName);
  if (FAILED(hr)) return hr;
  CNyComPtr<ITask> task;
  hr = pScheduler->NewWorkItem(pwszName, CLSID_CTask, IID_ITask, reinterpret_cast<IUnknown**>(task.Put()));
  if (FAILED(hr)) return hr;

  DWORD dwFlags = 0;
  task->GetFlags(&dwFlags);
  task->SetFlags(dwFlags | TASK_FLAG_RUN_ONLY_IF_LOGGED_ON);
  task->SetApplicationName(pwszProgram);
  task->SetParameters(pwszParams);
  wchar_t wszUser[MAX_PATH + 1] = {};
  DWORD cchUser = ARRAYSIZE(wszUser);
  if (!GetUserNameW(wszUser, &cchUser)) wszUser[0] = 0;
  task->SetAccountInformation(wszUser, nullptr);
  task->SetComment(pwszComment);

  WORD wTrigger = 0;
  CNyComPtr<ITaskTrigger> trigger;
  hr = task->CreateTrigger(&wTrigger, trigger.Put());
  if (FAILED(hr)) return hr;
  SYSTEMTIME today{};
  GetSystemTime(&today);
  TASK_TRIGGER data{};
  data.cbTriggerSize = sizeof(data);
  data.wBeginYear = today.wYear;
  data.wBeginMonth = today.wMonth;
  data.wBeginDay = today.wDay;
  data.wStartHour = 0;
  data.wStartMinute = 1;
  data.MinutesDuration = 24 * 60;
  data.MinutesInterval = u4IntervalMinutes;
  data.TriggerType = TASK_TIME_TRIGGER_DAILY;
  data.Type.Daily.DaysInterval = 1;
  hr = trigger->SetTrigger(&data);
  if (FAILED(hr)) return hr;

  CNyComPtr<IPersistFile> file;
  hr = task->QueryInterface(IID_IPersistFile, file.PutVoid());
  if (FAILED(hr)) return hr;
  hr = file->Save(nullptr, TRUE);
  if (FAILED(hr)) return hr;
  hr = file->SaveCompleted(nullptr);
  // Wine's task object has no SaveCompleted; the task is stored by then.
  return hr == E_NOTIMPL ? S_OK : hr;
}

HRESULT OpenTask(ITaskScheduler* pScheduler, const wchar_t* pwszName, CNyComPtr<ITask>* pTask) {
  return pScheduler->Activate(pwszName, IID_ITask, reinterpret_cast<IUnknown**>(pTask->Put()));
}

HRESULT RunTask(ITaskScheduler* pScheduler, const wchar_t* pwszName) {
  CNyComPtr<ITask> task;
  const HRESULT hr = OpenTask(pScheduler, pwszName, &task);
  return FAILED(hr) ? hr : task->Run();
}

HRESULT EndTask(ITaskScheduler* pScheduler, const wchar_t* pwszName) {
  CNyComPtr<ITask> task;
  HRESULT hr = OpenTask(pScheduler, pwszName, &task);
  if (FAILED(hr)) return hr;
  HRESULT hrStatus = S_OK;
  hr = task->GetStatus(&hrStatus);
  if (FAILED(hr)) return hr;
  return hrStatus == SCHED_S_TASK_RUNNING ? task->Terminate() : S_OK;
}

}  // namespace

uint32_t ManageScheduledTask(const wchar_t* pwszName, const wchar_t* pwszProgram, const wchar_t* pwszParams,
                             const wchar_t* pwszComment, uint32_t u4IntervalMinutes, NyTaskOperation operation) {
  if (pwszName == nullptr || pwszName[0] == 0) return 0;
  if (operation == NyTaskOperation::Create &&
      (pwszProgram == nullptr || pwszProgram[0] == 0 || u4IntervalMinutes == 0)) {
    return 0;
  }
  CNyComInit com;
  if (!com.IsUsable()) return static_cast<uint32_t>(com.Result());
  CNyComPtr<ITaskScheduler> scheduler;
  HRESULT hr = CoCreateInstance(CLSID_CTaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskScheduler,
                                scheduler.PutVoid());
  if (FAILED(hr)) return NYFAIL(static_cast<uint32_t>(hr), "CoCreateInstance", "the task scheduler");
  switch (operation) {
    case NyTaskOperation::Create:
      hr = CreateTask(scheduler.Get(), pwszName, pwszProgram, pwszParams != nullptr ? pwszParams : L"",
                      pwszComment != nullptr ? pwszComment : L"", u4IntervalMinutes);
      break;
    case NyTaskOperation::Delete:
      hr = DeleteTask(scheduler.Get(), pwszName);
      break;
    case NyTaskOperation::Run:
      hr = RunTask(scheduler.Get(), pwszName);
      break;
    case NyTaskOperation::End:
      hr = EndTask(scheduler.Get(), pwszName);
      break;
  }
  if (SUCCEEDED(hr)) return 0;
  static const char* const kOperations[] = {"create the task", "delete the task", "run the task", "end the task"};
  return NYFAIL(static_cast<uint32_t>(hr), kOperations[static_cast<uint32_t>(operation)], pwszName);
}
