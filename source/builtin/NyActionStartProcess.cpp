#include "NyActionStartProcess.h"

#include <windows.h>

#include "NyConfigItem.h"
#include "NyProcessUtil.h"
#include "NySetupInfo.h"
#include "NyUndoProcess.h"

const char* CNyActionStartProcess::SourceFile() const { return __FILE__; }

uint32_t CNyActionStartProcess::ReadAttributes() {
  m_cmdLine.Clear();
  const uint32_t u4Result = ReadRequired("Src", &m_src, "%s: process path in xml is: %s");
  if (u4Result != 0) return u4Result;
  // The raw attribute value, in the script's own code page.
  const char* pszCmdLine = m_pConfigItem->GetCmdLine();
  if (pszCmdLine != nullptr && pszCmdLine[0] != 0) m_cmdLine.Assign(pszCmdLine, m_pConfigItem->GetCodePage());
  m_bSilent = ReadBool("Silent", true);
  m_bWait = ReadBool("Wait", true);
  return 0;
}

void CNyActionStartProcess::CompleteDescription(CNyString* pText) const {
  pText->ReplaceAll(L"$[src]", m_src.GetWide());
  if (!m_cmdLine.IsEmpty()) {
    pText->Append(L" CmdLine=\"");
    pText->Append(m_cmdLine.GetWide());
    pText->Append(L"\"");
  }
  pText->Append(m_bSilent ? L" Silent=\"true\"" : L" Silent=\"false\"");
  pText->Append(m_bWait ? L" Wait=\"true\"" : L" Wait=\"false\"");
}

uint32_t CNyActionStartProcess::Execute(CNySetupInfo* pSetupInfo) {
  const uint32_t u4Result = NoteProcessChange(NyJournalOf(pSetupInfo), std::wstring(m_src.GetWide()) + L" started");
  if (u4Result != 0) return u4Result;
  return RunShellCommand(m_src.GetWide(), m_cmdLine.GetWide(), m_bSilent, m_bWait ? INFINITE : 0);
}
