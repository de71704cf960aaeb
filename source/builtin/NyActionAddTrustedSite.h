#pragma once
#include "NyAction.h"

// <AddTrustedSite Url="pattern"/>: maps the pattern to the Trusted Sites zone.
class CNyActionAddTrustedSite : public CNyAction {
 public:
  explicit CNyActionAddTrustedSite(CNyXmlConfigItem* pItem) : CNyAction(pItem) {}

 protected:
  const char* ClassName() const override { return "CNyActionAddTrustedSite"; }
  const char* ElementName() const override { return "AddTrustedSite"; }
  const char* SourceFile() const override;
  uint32_t ReadAttributes() override;
  void CompleteDescription(CNyString* pText) const override;
  uint32_t Execute(CNySetupInfo* pSetupInfo) override;

 private:
  CNyString m_url;
};
