#include "NyActionUnRegCert.h"

#include "NyCertStore.h"
#include "NySetupInfo.h"
#include "NyUndoCert.h"

const char* CNyActionUnRegCert::SourceFile() const { return __FILE__; }

uint32_t CNyActionUnRegCert::ReadAttributes() {
  uint32_t u4Result = ReadRequired("StoreName", &m_storeName, "%s: StoreName in xml is: %s");
  if (u4Result == 0) u4Result = ReadRequired("CertType", &m_certType, "%s: CertType in xml is: %s");
  if (u4Result == 0) u4Result = ReadRequired("KeySpec", &m_keySpec, "%s: KeySpec in xml is: %s");
  if (u4Result != 0) return u4Result;
  ReadOptional("CspName", &m_cspName, nullptr);
  ReadOptional("CntName", &m_cntName, nullptr);
  return 0;
}

void CNyActionUnRegCert::CompleteDescription(CNyString* pText) const {
  pText->ReplaceAll(L"$[store]", m_storeName.GetWide());
  pText->ReplaceAll(L"$[src]", m_certType.GetWide());
}

uint32_t CNyActionUnRegCert::Execute(CNySetupInfo* pSetupInfo) {
  const NyCertFilter filter{CertTypeMask(m_certType.GetAnsi()), KeySpecMask(m_keySpec.GetAnsi()),
                            m_cspName.GetWide(), m_cntName.GetWide()};
  CNyCertUndoRecorder changes(NyJournalOf(pSetupInfo), m_storeName.GetWide());
  return RemoveCertificatesFromStore(m_storeName.GetWide(), filter, &changes);
}
