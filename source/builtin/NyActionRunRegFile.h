#pragma once
#include "NyAction.h"

// <RunRegFile Src="file.reg" Key64="true|false" os="os32|os64"/>: imports a
// registry file with the system's regedit of the chosen view.
class CNyActionRunRegFile : public CNyAction {
 public:
  explicit CNyActionRunRegFile(CNyXmlConfigItem* pItem) : CNyAction(pItem) {}

 protected:
  const char* ClassName() const override { return "CNyActionRunRegFile"; }
  const char* ElementName() const override { return "RunRegFile"; }
  const char* SourceFile() const override;
  uint32_t ReadAttributes() override;
  void CompleteDescription(CNyString* pText) const override;
  uint32_t Execute(CNySetupInfo* pSetupInfo) override;
  const CNyString* OsAttribute() const override { return &m_os; }

 private:
  CNyFsRedirectionOff m_redirection;
  CNyString m_src, m_os;
  uint32_t m_b64Key = 0;
};
