#include "NyUndoTask.h"

#include <string>

#include "NyLog.h"
#include "NyResult.h"
#include "NyTaskScheduler.h"

namespace {

const NyUndoKind kTaskKind = NyUndoKindTag("TASK");

uint32_t UndoTask(CNyUndoReader* pStep, std::wstring* pObject) {
  std::wstring name;
  uint32_t u4Exists = 0, u4Account = 0;
  NyTaskDefinition definition;
  if (!pStep->ReadText(&name) || !pStep->ReadU32(&u4Exists) || !pStep->ReadBytes(&definition.job) ||
      !pStep->ReadU32(&u4Account) || !pStep->ReadText(&definition.account)) {
    *pObject = L"a scheduled-task step that cannot be read";
    return NYFAIL(NY_E_INVALID_DATA, "read the undo step", L"scheduled task");
  }
  definition.bExists = u4Exists != 0;
  definition.bAccount = u4Account != 0;
  *pObject = L"the scheduled task " + name + (definition.bExists ? L": back as it was" : L": deleted");
  return RestoreTaskDefinition(name.c_str(), definition);
}

const CNyUndoRegistration kRegistration({kTaskKind, UndoTask, nullptr});

}  // namespace

uint32_t RecordTaskChange(INyJournal* pJournal, const wchar_t* pwszName) {
  if (!pJournal->IsRecording()) return 0;
  NyTaskDefinition definition;
  const uint32_t u4Result = ReadTaskDefinition(pwszName, &definition);
  if (u4Result != 0) return u4Result;
  return pJournal->Record(CNyUndoStep(kTaskKind)
                              .AddText(pwszName)
                              .AddU32(definition.bExists ? 1 : 0)
                              .AddBytes(definition.job.data(), definition.job.size())
                              .AddU32(definition.bAccount ? 1 : 0)
                              .AddText(definition.account));
}
