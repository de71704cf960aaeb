#include "NyActionFile.h"

#include <windows.h>
#include <shlwapi.h>

#include <string>

#include "NyLog.h"
#include "NyConfigItem.h"
#include "NyFileCopy.h"
#include "NyFileUtil.h"
#include "NyRegisterServer.h"
#include "NyResult.h"
#include "NySetupInfo.h"
#include "NyUndoFile.h"

const char* CNyActionFile::SourceFile() const { return __FILE__; }

uint32_t CNyActionFile::ReadAttributes() {
  uint32_t u4Result = ReadRequired("Dest", &m_dest, "%s: Dest in xml is: %s");
  if (u4Result == 0) u4Result = ReadRequired("Src", &m_src, "%s: Src in xml is: %s");
  if (u4Result != 0) return u4Result;
  m_bRegister = ReadBool("Register", false);
  m_bCmpVer = ReadBool("CmpVer", false);
  ReadOptional("os", &m_os, nullptr);
  return 0;
}

void CNyActionFile::CompleteDescription(CNyString* pText) const {
  pText->ReplaceAll(L"$[src]", m_src.GetWide());
  pText->ReplaceAll(L"$[dest]", m_dest.GetWide());
  if (m_bRegister) pText->Append(L"Register=\"True\"");
  if (m_bCmpVer) pText->Append(L"CmpVer=\"True\"");
}

uint32_t CNyActionFile::Execute(CNySetupInfo* pSetupInfo) {
  CNyFileUndoRecorder changes(NyJournalOf(pSetupInfo));
  std::wstring src = m_src.GetWide(), dest = m_dest.GetWide();
  const wchar_t chLast = src.back();
  if (chLast == L'*' || chLast == L'\\') {
    // The script writes a folder copy as "folder\*" on both sides.
    if (chLast == L'*') {
      src.pop_back();
      if (!dest.empty()) dest.pop_back();
    }
    if (GetFileAttributesW(dest.c_str()) == INVALID_FILE_ATTRIBUTES) {
      const uint32_t u4Result = CreateDirectoryTree(dest.c_str(), &changes);
      if (u4Result != 0) return u4Result;
    }
    return CopyDirectoryContents(src, dest, &changes);
  }
  std::wstring parent = dest;
  if (!PathRemoveFileSpecW(&parent[0])) return NY_E_INVALID_DATA;
  parent.resize(wcslen(parent.c_str()));
  if (parent.empty()) return NY_E_INVALID_DATA;
  Log(LOG_LEVEL_TRACE, __LINE__, "file is [%s]", m_dest.GetAnsi());
  Log(LOG_LEVEL_TRACE, __LINE__, "file parent is [%s]", CNyString(parent.c_str()).GetAnsi());
  uint32_t u4Result = CreateDirectoryTree(parent.c_str(), &changes);
  if (u4Result != 0) return u4Result;
  uint32_t bReboot = 0;
  u4Result = CopyFileReplacing(src, dest, m_bCmpVer != 0, &bReboot, &changes);
  if (u4Result != 0) return u4Result;
  if (m_bRegister) return RegisterServerFileResult(dest.c_str(), FALSE, TRUE);
  return 0;
}
