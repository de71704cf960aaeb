#pragma once
#include "NyAction.h"

// <DelTrustedSite Url="pattern"/>: removes the pattern from the Trusted Sites zone.
class CNyActionDelTrustedSite : public CNyAction {
 public:
  explicit CNyActionDelTrustedSite(CNyXmlConfigItem* pItem) : CNyAction(pItem) {}

 protected:
  const char* ClassName() const override { return "CNyActionDelTrustedSite"; }
  const char* ElementName() const override { return "DelTrustedSite"; }
  const char* SourceFile() const override;
  uint32_t ReadAttributes() override;
  void CompleteDescription(CNyString* pText) const override;
  uint32_t Execute(CNySetupInfo* pSetupInfo) override;
  // Its Do logs only the failure code, no entry or end lines.
  bool LogsDoFrame() const override { return false; }

 private:
  CNyString m_url;
};
