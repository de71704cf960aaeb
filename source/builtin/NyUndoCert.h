#pragma once
// The undo step of the certificate actions, "CERT": one certificate of a
// system store as it was before RegCertFile added it (which replaces the
// store's copy) or UnRegCert deleted it: the store's name as the script
// gives it, the certificate's DER bytes, and the store's copy then with its
// properties (serialized), or none. Undone: that copy comes back, replacing
// whatever is there now; or, when the store had none, the certificate is
// deleted.
#include <string>

#include "NyCertStore.h"
#include "NyJournal.h"

class CNyCertUndoRecorder : public INyCertChanges {
 public:
  CNyCertUndoRecorder(INyJournal* pJournal, const wchar_t* pwszStoreName)
      : m_pJournal(pJournal), m_storeName(pwszStoreName) {}

  uint32_t ChangingCertificate(PCCERT_CONTEXT pCert, PCCERT_CONTEXT pHeld) override;

 private:
  INyJournal* m_pJournal;
  std::wstring m_storeName;
};
