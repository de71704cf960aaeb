#include "NyActionSetAppTaskScheduler.h"

#include "NyConfigItem.h"
#include "NyResult.h"
#include "NySafeStr.h"
#include "NySetupInfo.h"
#include "NyTaskScheduler.h"
#include "NyUndoProcess.h"
#include "NyUndoTask.h"

namespace {

// An attribute that may be absent but, when present, must not be empty.
// Absence gives the read failure, which the caller may ignore.
bool IsPresentButEmpty(uint32_t u4Result) { return u4Result == NY_E_INVALID_PARAM; }

}  // namespace

uint32_t ParseTaskInterval(const char* pszText) {
  if (pszText == nullptr) return 0;
  while (*pszText == ' ' || *pszText == '\t') ++pszText;
  if (*pszText == '+') ++pszText;
  uint64_t u8Value = 0;
  for (; *pszText >= '0' && *pszText <= '9'; ++pszText) {
    u8Value = u8Value * 10 + static_cast<uint64_t>(*pszText - '0');
    if (u8Value > UINT32_MAX) return UINT32_MAX;
  }
  return static_cast<uint32_t>(u8Value);
}

const char* CNyActionSetAppTaskScheduler::SourceFile() const { return __FILE__; }

uint32_t CNyActionSetAppTaskScheduler::ReadAttributes() {
  m_u4Interval = 0;
  uint32_t u4Result = ReadRequired("Name", &m_name, "%s: TaskName in xml is: %s");
  if (u4Result == 0) u4Result = ReadRequired("Type", &m_type, "%s: TaskType in xml is: %s");
  if (u4Result != 0) return u4Result;
  const bool bCreate = SafeStrCmp(m_type.GetAnsi(), "Create") == 0;

  u4Result = ReadRequired("Param", &m_param, "%s: TaskParam in xml is: %s");
  if (IsPresentButEmpty(u4Result)) return u4Result;
  u4Result = ReadRequired("AppPath", &m_appPath, "%s: TaskValue in xml is: %s");
  if (IsPresentButEmpty(u4Result) || (u4Result != 0 && bCreate)) return u4Result;
  ReadOptional("Description", &m_description, nullptr);
  u4Result = ReadRequired("Interval", &m_interval, "%s: TrigerInterval in xml is: %s");
  if (IsPresentButEmpty(u4Result) || (u4Result != 0 && bCreate)) return u4Result;
  m_u4Interval = ParseTaskInterval(m_interval.GetAnsi());
  return 0;
}

void CNyActionSetAppTaskScheduler::CompleteDescription(CNyString* pText) const {
  pText->ReplaceAll(L"$[name]", m_name.GetWide());
  pText->ReplaceAll(L"$[type]", m_type.GetWide());
  if (SafeStrCmp(m_type.GetAnsi(), "Create") != 0) return;
  CNyString program(L"[$[AppPath] $[Param]]");
  program.ReplaceAll(L"$[AppPath]", m_appPath.GetWide());
  program.ReplaceAll(L"$[Param]", m_param.GetWide());
  pText->Append(program.GetWide());
}

uint32_t CNyActionSetAppTaskScheduler::Execute(CNySetupInfo* pSetupInfo) {
  NyTaskOperation operation = NyTaskOperation::Create;
  const char* pszType = m_type.GetAnsi();
  if (SafeStrCmp(pszType, "Delete") == 0) operation = NyTaskOperation::Delete;
  if (SafeStrCmp(pszType, "Run") == 0) operation = NyTaskOperation::Run;
  if (SafeStrCmp(pszType, "End") == 0) operation = NyTaskOperation::End;
  uint32_t u4Result = 0;
  INyJournal* pJournal = NyJournalOf(pSetupInfo);
  if (operation == NyTaskOperation::Run || operation == NyTaskOperation::End) {
    const wchar_t* pwszWhat = operation == NyTaskOperation::Run ? L" started" : L" stopped if it ran";
    u4Result = NoteProcessChange(pJournal, L"the scheduled task " + std::wstring(m_name.GetWide()) + pwszWhat);
  } else if (operation == NyTaskOperation::Delete || (!m_appPath.IsEmpty() && m_u4Interval != 0)) {
    // A Create without program or interval changes nothing.
    u4Result = RecordTaskChange(pJournal, m_name.GetWide());
  }
  if (u4Result != 0) return u4Result;
  return ManageScheduledTask(m_name.GetWide(), m_appPath.GetWide(), m_param.GetWide(), m_description.GetWide(),
                             m_u4Interval, operation);
}
