#include "NyActionRegCertFile.h"

#include "NyCertStore.h"
#include "NyResult.h"
#include "NySetupInfo.h"
#include "NyUndoCert.h"

const char* CNyActionRegCertFile::SourceFile() const { return __FILE__; }

uint32_t CNyActionRegCertFile::ReadAttributes() {
  const uint32_t u4Result = ReadRequired("Src", &m_src, "%s: Src in xml is: %s");
  if (u4Result != 0) return u4Result;
  const uint32_t u4Store = ReadRequired("StoreName", &m_storeName, "%s: StoreName in xml is: %s");
  // Present but empty is an error; an attribute that cannot be read means "MY".
  if (u4Store == 0 || u4Store == NY_E_INVALID_PARAM) return u4Store;
  m_storeName.Assign(L"MY");
  return 0;
}

void CNyActionRegCertFile::CompleteDescription(CNyString* pText) const {
  pText->ReplaceAll(L"$[src]", m_src.GetWide());
  pText->ReplaceAll(L"$[store]", m_storeName.GetWide());
}

uint32_t CNyActionRegCertFile::Execute(CNySetupInfo* pSetupInfo) {
  CNyCertUndoRecorder changes(NyJournalOf(pSetupInfo), m_storeName.GetWide());
  return AddCertificateFileToStore(m_src.GetWide(), m_storeName.GetWide(), &changes);
}
