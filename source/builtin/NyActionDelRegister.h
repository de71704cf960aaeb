#pragma once
#include "NyAction.h"

// <DelRegister Root="HKEY_..." SubKey="..." ValueName="..." Key64="true|false" os="os32|os64"/>:
// deletes one value, or with no ValueName the whole key tree, in one view.
class CNyActionDelRegister : public CNyAction {
 public:
  explicit CNyActionDelRegister(CNyXmlConfigItem* pItem) : CNyAction(pItem) {}

 protected:
  const char* ClassName() const override { return "CNyActionDelRegister"; }
  const char* ElementName() const override { return "DelRegister"; }
  const char* SourceFile() const override;
  uint32_t ReadAttributes() override;
  void CompleteDescription(CNyString* pText) const override;
  uint32_t Execute(CNySetupInfo* pSetupInfo) override;
  const CNyString* OsAttribute() const override { return &m_os; }

 private:
  CNyFsRedirectionOff m_redirection;
  CNyString m_root, m_subKey, m_valueName, m_os;
  uint32_t m_b64Key = 0;
};
