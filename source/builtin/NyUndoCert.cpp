#include "NyUndoCert.h"

#include <vector>

#include "NyLog.h"
#include "NyResult.h"

namespace {

const NyUndoKind kCertKind = NyUndoKindTag("CERT");

uint32_t UndoCertificate(CNyUndoReader* pStep, std::wstring* pObject) {
  std::wstring store, name;
  std::vector<uint8_t> encoded, element;
  if (!pStep->ReadText(&store) || !pStep->ReadText(&name) || !pStep->ReadBytes(&encoded) ||
      !pStep->ReadBytes(&element)) {
    *pObject = L"a certificate step that cannot be read";
    return NYFAIL(NY_E_INVALID_DATA, "read the undo step", L"certificate");
  }
  *pObject = L"the certificate \"" + name + L"\" of the store " + store +
             (element.empty() ? L": not there, as before" : L": back with its properties");
  return RestoreCertificate(store.c_str(), encoded, element);
}

const CNyUndoRegistration kRegistration({kCertKind, UndoCertificate, nullptr});

}  // namespace

uint32_t CNyCertUndoRecorder::ChangingCertificate(PCCERT_CONTEXT pCert, PCCERT_CONTEXT pHeld) {
  if (!m_pJournal->IsRecording()) return 0;
  // Called by the store routines, which have loaded crypt32 already.
  const NyCrypt32& crypt = *NyGetCrypt32();
  std::vector<uint8_t> element;
  if (pHeld != nullptr) {
    const uint32_t u4Result = SerializeCertificate(crypt, pHeld, &element);
    if (u4Result != 0) return u4Result;
  }
  return m_pJournal->Record(CNyUndoStep(kCertKind)
                                .AddText(m_storeName)
                                .AddText(CertificateDisplayName(crypt, pCert))
                                .AddBytes(pCert->pbCertEncoded, pCert->cbCertEncoded)
                                .AddBytes(element.data(), element.size()));
}
