#include "NyTaskScheduler.h"

#include <windows.h>
#include <mstask.h>

#include "NyLog.h"
#include "NyComUtil.h"
#include "NyFileUtil.h"
#include "NyFreshName.h"
#include "NyResult.h"

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

// The scheduler reads and writes a task's definition only through a file: a
// folder of its own, made fresh under the temporary folder, holds it on its
// way out of the scheduler or back in, and goes with the holder.
class CNyTaskFile {
 public:
  CNyTaskFile() = default;
  ~CNyTaskFile() {
    if (m_folder.empty()) return;
    DeleteFileW(m_path.c_str());
    RemoveDirectoryW(m_folder.c_str());
  }
  CNyTaskFile(const CNyTaskFile&) = delete;
  CNyTaskFile& operator=(const CNyTaskFile&) = delete;

  uint32_t Make() {
    wchar_t wszTemp[MAX_PATH] = {};
    const DWORD cch = GetTempPathW(MAX_PATH, wszTemp);
    if (cch == 0 || cch >= MAX_PATH) return NYFAIL(GetLastError(), "GetTempPathW", "the task file's folder");
    std::wstring folder;
    const uint32_t u4Result = CreateFreshFolder(wszTemp, L"NyTask_%08X", &folder);
    if (u4Result != 0) return NYFAIL(u4Result, "CreateDirectoryW", wszTemp);
    m_folder = folder;
    m_path = folder + L"\\task.job";
    return 0;
  }
  const wchar_t* Path() const { return m_path.c_str(); }

 private:
  std::wstring m_folder;
  std::wstring m_path;
};

uint32_t ConnectScheduler(CNyComPtr<ITaskScheduler>* pScheduler) {
  const HRESULT hr = CoCreateInstance(CLSID_CTaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskScheduler,
                                      pScheduler->PutVoid());
  return FAILED(hr) ? NYFAIL(static_cast<uint32_t>(hr), "CoCreateInstance", "the task scheduler") : 0;
}

uint32_t ReadWholeFile(const wchar_t* pwszPath, std::vector<uint8_t>* pBytes) {
  const CNyFile file(CreateFileW(pwszPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) return NYFAIL(GetLastError(), "CreateFileW", pwszPath);
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.Get(), &size)) return NYFAIL(GetLastError(), "GetFileSizeEx", pwszPath);
  // A task file holds a few strings and triggers: anything larger is no task.
  if (size.QuadPart > (1 << 20)) return NYFAIL(NY_E_INVALID_DATA, "read the task file", pwszPath);
  pBytes->resize(static_cast<size_t>(size.QuadPart));
  DWORD cbRead = 0;
  if (!ReadFile(file.Get(), pBytes->data(), static_cast<DWORD>(pBytes->size()), &cbRead, nullptr)) {
    return NYFAIL(GetLastError(), "ReadFile", pwszPath);
  }
  return cbRead == pBytes->size() ? 0 : NYFAIL(NY_E_INVALID_DATA, "ReadFile", pwszPath);
}

}  // namespace

uint32_t ReadTaskDefinition(const wchar_t* pwszName, NyTaskDefinition* pDefinition) {
  *pDefinition = NyTaskDefinition();
  CNyComInit com;
  if (!com.IsUsable()) return NYFAIL(static_cast<uint32_t>(com.Result()), "CoInitializeEx", pwszName);
  CNyComPtr<ITaskScheduler> scheduler;
  uint32_t u4Result = ConnectScheduler(&scheduler);
  if (u4Result != 0) return u4Result;
  CNyComPtr<ITask> task;
  HRESULT hr = OpenTask(scheduler.Get(), pwszName, &task);
  if (hr == kTaskNotFound) return 0;
  if (FAILED(hr)) return NYFAIL(static_cast<uint32_t>(hr), "open the task", pwszName);
  CNyComPtr<IPersistFile> persist;
  hr = task->QueryInterface(IID_IPersistFile, persist.PutVoid());
  if (FAILED(hr)) return NYFAIL(static_cast<uint32_t>(hr), "IPersistFile of the task", pwszName);
  CNyTaskFile file;
  u4Result = file.Make();
  if (u4Result != 0) return u4Result;
  hr = persist->Save(file.Path(), FALSE);
  if (FAILED(hr)) return NYFAIL(static_cast<uint32_t>(hr), "save a copy of the task", pwszName);
  u4Result = ReadWholeFile(file.Path(), &pDefinition->job);
  if (u4Result != 0) return u4Result;
  LPWSTR pwszAccount = nullptr;
  if (SUCCEEDED(task->GetAccountInformation(&pwszAccount)) && pwszAccount != nullptr) {
    pDefinition->bAccount = true;
    pDefinition->account = pwszAccount;
    CoTaskMemFree(pwszAccount);
  }
  pDefinition->bExists = true;
  return 0;
}

uint32_t RestoreTaskDefinition(const wchar_t* pwszName, const NyTaskDefinition& definition) {
  CNyComInit com;
  if (!com.IsUsable()) return NYFAIL(static_cast<uint32_t>(com.Result()), "CoInitializeEx", pwszName);
  CNyComPtr<ITaskScheduler> scheduler;
  uint32_t u4Result = ConnectScheduler(&scheduler);
  if (u4Result != 0) return u4Result;
  HRESULT hr = DeleteTask(scheduler.Get(), pwszName);
  if (FAILED(hr)) return NYFAIL(static_cast<uint32_t>(hr), "delete the task", pwszName);
  if (!definition.bExists) return 0;
  CNyTaskFile file;
  u4Result = file.Make();
  if (u4Result != 0) return u4Result;
  {
    const CNyFile out(CreateFileW(file.Path(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out) return NYFAIL(GetLastError(), "CreateFileW", file.Path());
    u4Result = WriteAll(out.Get(), definition.job.data(), static_cast<uint32_t>(definition.job.size()));
    if (u4Result != 0) return NYFAIL(u4Result, "WriteFile", file.Path());
  }
  CNyComPtr<ITask> task;
  hr = scheduler->NewWorkItem(pwszName, CLSID_CTask, IID_ITask, reinterpret_cast<IUnknown**>(task.Put()));
  if (FAILED(hr)) return NYFAIL(static_cast<uint32_t>(hr), "create the task", pwszName);
  CNyComPtr<IPersistFile> persist;
  hr = task->QueryInterface(IID_IPersistFile, persist.PutVoid());
  if (SUCCEEDED(hr)) hr = persist->Load(file.Path(), STGM_READ);
  if (FAILED(hr)) return NYFAIL(static_cast<uint32_t>(hr), "load the saved task", pwszName);
  if (definition.bAccount) task->SetAccountInformation(definition.account.c_str(), nullptr);
  hr = scheduler->AddWorkItem(pwszName, task.Get());
  return FAILED(hr) ? NYFAIL(static_cast<uint32_t>(hr), "register the task again", pwszName) : 0;
}

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
  const uint32_t u4Result = ConnectScheduler(&scheduler);
  if (u4Result != 0) return u4Result;
  HRESULT hr = S_OK;
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
