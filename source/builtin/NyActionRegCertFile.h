#pragma once
#include "NyAction.h"

// <RegCertFile Src="certificate.cer" StoreName="MY|ROOT|TRUST|CA|name"/>:
// adds one DER certificate file to a system store ("MY" when absent).
class CNyActionRegCertFile : public CNyAction {
 public:
  explicit CNyActionRegCertFile(CNyXmlConfigItem* pItem) : CNyAction(pItem) {}

 protected:
  const char* ClassName() const override { return "CNyActionRegCertFile"; }
  const char* ElementName() const override { return "RegCertFile"; }
  const char* SourceFile() const override;
  uint32_t ReadAttributes() override;
  void CompleteDescription(CNyString* pText) const override;
  uint32_t Execute(CNySetupInfo* pSetupInfo) override;

 private:
  CNyString m_src, m_storeName;
};
