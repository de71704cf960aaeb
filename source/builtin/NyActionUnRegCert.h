#pragma once
#include "NyAction.h"

// <UnRegCert StoreName="MY" CertType="RSA|ECC" KeySpec="KEYEXCHANGE|SIGNATURE"
//            CspName="provider" CntName="container"/>:
// removes from a system store the certificates whose key the provider holds.
class CNyActionUnRegCert : public CNyAction {
 public:
  explicit CNyActionUnRegCert(CNyXmlConfigItem* pItem) : CNyAction(pItem) {}

 protected:
  const char* ClassName() const override { return "CNyActionUnRegCert"; }
  const char* ElementName() const override { return "UnRegCert"; }
  const char* SourceFile() const override;
  uint32_t ReadAttributes() override;
  void CompleteDescription(CNyString* pText) const override;
  uint32_t Execute(CNySetupInfo* pSetupInfo) override;

 private:
  CNyString m_storeName, m_certType, m_keySpec, m_cspName, m_cntName;
};
