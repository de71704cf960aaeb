#include "NyActionCreateShortcut.h"

#include <windows.h>
#include <shlobj.h>

#include "NyConfigItem.h"
#include "NySetupInfo.h"
#include "NyShellUtil.h"
#include "NyUndoFile.h"

const char* CNyActionCreateShortcut::SourceFile() const { return __FILE__; }

uint32_t CNyActionCreateShortcut::ReadAttributes() {
  uint32_t u4Result = ReadRequired("RootPath", &m_rootPath, "%s: RootPath in xml is: %s");
  if (u4Result == 0) u4Result = ReadRequired("Name", &m_name, "%s: Name in xml is: %s");
  if (u4Result == 0) u4Result = ReadRequired("Src", &m_src, "%s: Src in xml is: %s");
  if (u4Result != 0) return u4Result;
  ReadOptional("SubDirName", &m_subDirName, nullptr);
  ReadOptional("Icon", &m_icon, nullptr);
  ReadOptional("CmdLine", &m_cmdLine, nullptr);
  m_u4Index = m_pConfigItem->GetAttributeUInt("Index");
  return 0;
}

void CNyActionCreateShortcut::CompleteDescription(CNyString* pText) const {
  CNyString path(m_rootPath);
  path.Append(L"\\");
  path.Append(m_subDirName.GetWide());
  path.Append(L"\\");
  path.Append(m_name.GetWide());
  pText->ReplaceAll(L"$[path]", path.GetWide());
}

uint32_t CNyActionCreateShortcut::Execute(CNySetupInfo* pSetupInfo) {
  CNyFileUndoRecorder changes(NyJournalOf(pSetupInfo));
  const uint32_t u4Result = CreateShellLink(m_rootPath.GetWide(), m_subDirName.GetWide(), m_name.GetWide(),
                                            m_src.GetWide(), m_icon.GetWide(), m_cmdLine.GetWide(), m_u4Index,
                                            &changes);
  NotifyAssociationsChanged(SHCNF_IDLIST);
  return u4Result;
}
